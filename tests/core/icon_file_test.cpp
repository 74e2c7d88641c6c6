// The icon file decoder: the 32-bit bitmap entries become top-down ARGB rows (the alpha channel,
// or the mask when no pixel carries alpha), other entries are left out, and a file that is cut
// short or lies about its counts, sizes or offsets gives fewer pictures or none.

#include "base/icon_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace korv {
namespace {

using Bytes = std::vector<std::uint8_t>;

void PutLe(Bytes& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A bitmap entry of `side` x `side` pixels, 32 bits each: pixel (x, y) counted from the top has
// blue x, green y, red 0x80 and alpha `alpha`; the mask is `mask_byte` throughout.
Bytes BitmapEntry(std::uint32_t side, std::uint8_t alpha, std::uint8_t mask_byte = 0) {
    const std::size_t mask_row = ((side + 31) / 32) * 4;
    Bytes entry(40 + 4 * side * side + mask_row * side, mask_byte);
    PutLe(entry, 0, 40, 4);
    PutLe(entry, 4, side, 4);
    PutLe(entry, 8, 2 * side, 4);
    PutLe(entry, 12, 1, 2);
    PutLe(entry, 14, 32, 2);
    PutLe(entry, 16, 0, 4);
    for (std::uint32_t y = 0; y < side; ++y)
        for (std::uint32_t x = 0; x < side; ++x) {
            const std::size_t at = 40 + 4 * ((side - 1 - y) * side + x);  // bottom row first
            entry[at] = static_cast<std::uint8_t>(x);
            entry[at + 1] = static_cast<std::uint8_t>(y);
            entry[at + 2] = 0x80;
            entry[at + 3] = alpha;
        }
    return entry;
}

const Bytes kPngEntry = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 0};

// An icon file holding the entries in order, with a directory that tells the truth.
Bytes IconFile(const std::vector<Bytes>& entries) {
    Bytes file(6 + 16 * entries.size(), 0);
    PutLe(file, 2, 1, 2);
    PutLe(file, 4, entries.size(), 2);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = 6 + 16 * i;
        PutLe(file, at + 4, 1, 2);
        PutLe(file, at + 6, 32, 2);
        PutLe(file, at + 8, entries[i].size(), 4);
        PutLe(file, at + 12, file.size(), 4);
        file.insert(file.end(), entries[i].begin(), entries[i].end());
    }
    return file;
}

// The pixel (x, y) of a picture as alpha, red, green, blue.
Bytes Pixel(const IconPicture& picture, std::uint32_t x, std::uint32_t y) {
    const auto at = picture.argb.begin() + 4 * (y * picture.width + x);
    return Bytes(at, at + 4);
}

TEST(IconFile, DecodesBitmapEntriesTopRowFirstInArgbAndLeavesPngOut) {
    const auto pictures =
        DecodeIconFile(IconFile({BitmapEntry(3, 0xc0), kPngEntry, BitmapEntry(16, 0xff)}));
    ASSERT_EQ(pictures.size(), 2u);
    EXPECT_EQ(pictures[0].width, 3u);
    EXPECT_EQ(pictures[0].height, 3u);
    ASSERT_EQ(pictures[0].argb.size(), 3u * 3u * 4u);
    EXPECT_EQ(Pixel(pictures[0], 0, 0), (Bytes{0xc0, 0x80, 0, 0}));
    EXPECT_EQ(Pixel(pictures[0], 2, 1), (Bytes{0xc0, 0x80, 1, 2}));
    EXPECT_EQ(pictures[1].width, 16u);
    EXPECT_EQ(Pixel(pictures[1], 15, 0), (Bytes{0xff, 0x80, 0, 15}));
}

TEST(IconFile, WithoutAlphaTheMaskDecidesWhatIsTransparent) {
    // Every mask bit set in the first byte of each row: the first 8 pixels of a row are
    // transparent; the mask's other bytes are clear.
    Bytes entry = BitmapEntry(16, 0x00, 0x00);
    const std::size_t mask_start = 40 + 4 * 16 * 16;
    for (std::size_t row = 0; row < 16; ++row)
        entry[mask_start + 4 * row] = 0xff;
    const auto pictures = DecodeIconFile(IconFile({entry}));
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(Pixel(pictures[0], 7, 4)[0], 0x00);
    EXPECT_EQ(Pixel(pictures[0], 8, 4)[0], 0xff);
    EXPECT_EQ(Pixel(pictures[0], 8, 4)[1], 0x80);
}

struct BadFileCase {
    const char* name;
    std::function<void(Bytes&)> spoil;
    std::size_t pictures;  // what still decodes from two good 4x4 entries
};
void PrintTo(const BadFileCase& bad, std::ostream* out) {
    *out << bad.name;
}

// Offsets in a file of two 4x4 entries: the directory's count at 4, the first entry's record at
// 6 (its size at 14, offset at 18), the second's at 22; the first bitmap's header at 38.
const BadFileCase kBadFiles[] = {
    {"empty", [](Bytes& f) { f.clear(); }, 0},
    {"directory cut short", [](Bytes& f) { f.resize(5); }, 0},
    {"no entries", [](Bytes& f) { PutLe(f, 4, 0, 2); }, 0},
    {"a cursor file", [](Bytes& f) { PutLe(f, 2, 2, 2); }, 0},
    {"reserved word set", [](Bytes& f) { PutLe(f, 0, 1, 2); }, 0},
    {"count beyond the records", [](Bytes& f) { PutLe(f, 4, 0xffff, 2); }, 2},
    {"second record cut off", [](Bytes& f) { f.resize(30); }, 0},
    {"entry offset beyond the file", [](Bytes& f) { PutLe(f, 18, 0xfffffff0, 4); }, 1},
    {"entry size beyond the file", [](Bytes& f) { PutLe(f, 14, 0x7fffffff, 4); }, 1},
    {"entry size too small for its pixels", [](Bytes& f) { PutLe(f, 14, 60, 4); }, 1},
    {"file truncated in the last bitmap", [](Bytes& f) { f.resize(f.size() - 20); }, 1},
    {"header size beyond the entry", [](Bytes& f) { PutLe(f, 38, 0xffffff00, 4); }, 1},
    {"header size too small", [](Bytes& f) { PutLe(f, 38, 12, 4); }, 1},
    {"width zero", [](Bytes& f) { PutLe(f, 42, 0, 4); }, 1},
    {"width negative", [](Bytes& f) { PutLe(f, 42, 0xfffffffc, 4); }, 1},
    {"width beyond 256", [](Bytes& f) { PutLe(f, 42, 0x10000, 4); }, 1},
    {"height beyond 512", [](Bytes& f) { PutLe(f, 46, 0x7fffffff, 4); }, 1},
    {"height odd", [](Bytes& f) { PutLe(f, 46, 7, 4); }, 1},
    {"24 bits per pixel", [](Bytes& f) { PutLe(f, 52, 24, 2); }, 1},
    {"compressed", [](Bytes& f) { PutLe(f, 54, 3, 4); }, 1},
    {"second entry points at the first bitmap", [](Bytes& f) { PutLe(f, 34, 38, 4); }, 1},
};

class BadIconFile : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(BadIconFile, GivesOnlyTheEntriesThatAreWhole) {
    Bytes file = IconFile({BitmapEntry(4, 0xff), BitmapEntry(4, 0xff)});
    ASSERT_EQ(DecodeIconFile(file).size(), 2u);
    GetParam().spoil(file);
    const auto pictures = DecodeIconFile(file);
    ASSERT_EQ(pictures.size(), GetParam().pictures);
    for (const IconPicture& picture : pictures)
        EXPECT_EQ(picture.argb.size(), 4u * 4u * 4u);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadIconFile, ::testing::ValuesIn(kBadFiles), [](const auto& info) {
    std::string name;
    for (const char c : std::string(info.param.name))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});

struct SharedBitmapCase {
    const char* name;
    std::size_t entries;
    std::size_t step;  // how far apart the entries' bitmaps start: 0 for one bitmap
    std::size_t pictures;
};

constexpr std::size_t kLargestPictureBytes = 4 * kIconMaxSide * kIconMaxSide;

// Directory entries that share their bytes: the file stays small, its pictures must too.
TEST(IconFile, EntriesSharingBitmapsDecodeWithinTheLimit) {
    const std::size_t fitting = kIconDecodedLimit / kLargestPictureBytes;
    const SharedBitmapCase cases[] = {
        {"400 entries of one bitmap", 400, 0, 1},
        {"overlapping bitmaps 40 bytes apart", fitting + 4, 40, fitting},
    };
    for (const SharedBitmapCase& shared : cases) {
        SCOPED_TRACE(shared.name);
        // The largest bitmap, with a copy of its header every `step` bytes into its pixels.
        const Bytes bitmap = BitmapEntry(kIconMaxSide, 0xff);
        Bytes payload = bitmap;
        payload.resize(bitmap.size() + shared.step * shared.entries);
        for (std::size_t i = 1; shared.step > 0 && i < shared.entries; ++i)
            std::copy_n(bitmap.begin(), 40, payload.begin() + i * shared.step);
        Bytes file(6 + 16 * shared.entries, 0);
        PutLe(file, 2, 1, 2);
        PutLe(file, 4, shared.entries, 2);
        for (std::size_t i = 0; i < shared.entries; ++i) {
            PutLe(file, 6 + 16 * i + 8, bitmap.size(), 4);
            PutLe(file, 6 + 16 * i + 12, file.size() + i * shared.step, 4);
        }
        file.insert(file.end(), payload.begin(), payload.end());
        const auto pictures = DecodeIconFile(file);
        EXPECT_EQ(pictures.size(), shared.pictures);
        for (const IconPicture& picture : pictures)
            EXPECT_EQ(picture.argb.size(), kLargestPictureBytes);
    }
}

}  // namespace
}  // namespace korv
