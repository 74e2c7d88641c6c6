#include "base/icon_file.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <optional>
#include <set>

#include "base/record_layout.h"

namespace korv {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the icon records are read as the file stores them: little-endian");

struct IconDirectory {
    std::uint16_t reserved;
    std::uint16_t type;  // 1: icons
    std::uint16_t count;
};
KORV_RECORD_SIZE(IconDirectory, 6);

struct IconDirectoryEntry {
    std::uint8_t width;  // 0 stands for 256
    std::uint8_t height;
    std::uint8_t colors;
    std::uint8_t reserved;
    std::uint16_t planes;
    std::uint16_t bits_per_pixel;
    std::uint32_t size;
    std::uint32_t offset;
};
KORV_RECORD_SIZE(IconDirectoryEntry, 16);
KORV_FIELD_AT(IconDirectoryEntry, size, 8);
KORV_FIELD_AT(IconDirectoryEntry, offset, 12);

// The bitmap entry's header; its height counts the colour rows and the mask's rows.
struct BitmapInfoHeader {
    std::uint32_t header_size;
    std::int32_t width;
    std::int32_t height;
    std::uint16_t planes;
    std::uint16_t bits_per_pixel;
    std::uint32_t compression;
    std::uint32_t image_size;
    std::int32_t x_pixels_per_meter;
    std::int32_t y_pixels_per_meter;
    std::uint32_t colors_used;
    std::uint32_t colors_important;
};
KORV_RECORD_SIZE(BitmapInfoHeader, 40);
KORV_FIELD_AT(BitmapInfoHeader, compression, 16);

constexpr std::uint16_t kIconType = 1;
constexpr std::uint32_t kUncompressed = 0;
constexpr std::size_t kPixelBytes = 4;

template <typename Record>
std::optional<Record> ReadRecord(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(Record))
        return std::nullopt;
    Record record;
    std::memcpy(&record, bytes.data() + offset, sizeof record);
    return record;
}

// The bytes of a row of `bits` bits, padded to whole 32-bit words as bitmaps store them.
std::size_t RowBytes(std::uint32_t width, std::uint32_t bits) {
    return ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
}

// Colours from the bottom-up BGRA rows; when no pixel carries alpha (an icon drawn for systems
// that used the mask), the mask's set bits are transparent and the rest opaque.
IconPicture Pixels(std::span<const std::uint8_t> colour, std::span<const std::uint8_t> mask,
                   std::uint32_t side_x, std::uint32_t side_y) {
    IconPicture picture{side_x, side_y, std::vector<std::uint8_t>(kPixelBytes * side_x * side_y)};
    const std::size_t colour_row = RowBytes(side_x, 32);
    const std::size_t mask_row = RowBytes(side_x, 1);
    bool any_alpha = false;
    for (std::uint32_t y = 0; y < side_y; ++y) {
        const std::uint8_t* source = colour.data() + (side_y - 1 - y) * colour_row;
        std::uint8_t* target = picture.argb.data() + kPixelBytes * side_x * y;
        for (std::uint32_t x = 0; x < side_x; ++x, source += 4, target += 4) {
            target[0] = source[3];
            target[1] = source[2];
            target[2] = source[1];
            target[3] = source[0];
            any_alpha = any_alpha || source[3] != 0;
        }
    }
    if (any_alpha || mask.empty())
        return picture;
    for (std::uint32_t y = 0; y < side_y; ++y) {
        const std::uint8_t* bits = mask.data() + (side_y - 1 - y) * mask_row;
        for (std::uint32_t x = 0; x < side_x; ++x) {
            const bool transparent = (bits[x / 8] & (0x80u >> (x % 8))) != 0;
            picture.argb[kPixelBytes * (side_x * y + x)] = transparent ? 0x00 : 0xff;
        }
    }
    return picture;
}

// The entry's picture when it is a whole, uncompressed 32-bit bitmap inside its stated bytes
// whose pixels take at most `budget` bytes.
std::optional<IconPicture> DecodeBitmapEntry(std::span<const std::uint8_t> entry,
                                             std::size_t budget) {
    const auto header = ReadRecord<BitmapInfoHeader>(entry, 0);
    if (!header || header->header_size < sizeof(BitmapInfoHeader) ||
        header->header_size > entry.size() || header->bits_per_pixel != 32 ||
        header->compression != kUncompressed || header->width <= 0 || header->height <= 0 ||
        static_cast<std::uint32_t>(header->width) > kIconMaxSide ||
        static_cast<std::uint32_t>(header->height) > 2 * kIconMaxSide)
        return std::nullopt;
    // The height counts the colour rows and the mask's rows alike.
    const auto width = static_cast<std::uint32_t>(header->width);
    const auto height = static_cast<std::uint32_t>(header->height) / 2;
    if (height == 0 || header->height % 2 != 0 ||
        kPixelBytes * width * static_cast<std::size_t>(height) > budget)
        return std::nullopt;
    const std::span<const std::uint8_t> rest = entry.subspan(header->header_size);
    const std::size_t colour_bytes = RowBytes(width, 32) * height;
    if (rest.size() < colour_bytes)
        return std::nullopt;
    const std::size_t mask_bytes = RowBytes(width, 1) * height;
    const std::span<const std::uint8_t> mask = rest.size() - colour_bytes >= mask_bytes
                                                   ? rest.subspan(colour_bytes, mask_bytes)
                                                   : std::span<const std::uint8_t>();
    return Pixels(rest.first(colour_bytes), mask, width, height);
}

}  // namespace

// Many entries may point at one bitmap, or at bitmaps that overlap: each bitmap is decoded once,
// and all of them together to at most kIconDecodedLimit bytes.
std::vector<IconPicture> DecodeIconFile(std::span<const std::uint8_t> file) {
    std::vector<IconPicture> pictures;
    const auto directory = ReadRecord<IconDirectory>(file, 0);
    if (!directory || directory->reserved != 0 || directory->type != kIconType)
        return pictures;
    std::set<std::uint32_t> decoded;  // the offsets of the bitmaps decoded so far
    std::size_t decoded_bytes = 0;
    for (std::size_t i = 0; i < directory->count; ++i) {
        const auto entry = ReadRecord<IconDirectoryEntry>(
            file, sizeof(IconDirectory) + i * sizeof(IconDirectoryEntry));
        if (!entry)
            break;  // the directory is cut short: the entries before the cut stand
        if (entry->offset > file.size() || file.size() - entry->offset < entry->size ||
            decoded.contains(entry->offset))
            continue;
        auto picture = DecodeBitmapEntry(file.subspan(entry->offset, entry->size),
                                         kIconDecodedLimit - decoded_bytes);
        if (!picture)
            continue;
        decoded.insert(entry->offset);
        decoded_bytes += picture->argb.size();
        pictures.push_back(std::move(*picture));
    }
    return pictures;
}

}  // namespace korv
