#include "hid/report_descriptor.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <limits>
#include <map>
#include <utility>

// How the lengths are counted, as the Windows HID class counts them for HIDP_CAPS: for each kind
// (input, output, feature) the longest report of the collection, its bits rounded up to whole
// bytes, plus one byte for the report identifier, which Windows puts first in every report
// buffer, as 0 when the descriptor declares no identifiers; 0 when the collection has no report
// of that kind. A report's length is the sum of all its fields, constant padding included,
// wherever they stand in the descriptor.
//
// Which fields are buttons, as HidP_GetUsages and HidP_MaxUsageListLength with usage page 0 see
// them: every non-constant input field that is an array (each slot holds the index of a usage)
// or a variable of one bit each, on any usage page. A variable field with fewer usages than bits
// gives its last usage to the remaining bits; usages beyond its bits are dropped. Of a set of
// aliased usages (delimiters) the first counts.
//
// The limits are those under which the Linux HID core accepts a descriptor at all (a descriptor
// beyond them never reaches a hidraw node): a field of at most 256 bits a slot and 12288 slots,
// at most 12288 usages an item, a push stack four deep, reports of at most 16384 bytes with the
// identifier. Every length therefore fits the 16-bit lengths of HIDP_CAPS.

namespace korv {
namespace {

constexpr std::size_t kMaxPushDepth = 4;
constexpr std::size_t kMaxCollectionDepth = 16;
constexpr std::uint32_t kMaxReportSize = 256;
constexpr std::uint32_t kMaxReportCount = 12288;
constexpr std::size_t kMaxLocalUsages = 12288;
constexpr std::uint64_t kMaxReportBytes = 16384;  // with the identifier byte
constexpr std::uint8_t kLongItemPrefix = 0xFE;
constexpr std::uint16_t kArrayValueBits = 32;  // an array slot wider than this names no usage

enum class ItemType : std::uint8_t { Main = 0, Global = 1, Local = 2, Reserved = 3 };
enum ReportKind : std::uint8_t { kInput = 0, kOutput = 1, kFeature = 2 };
constexpr std::size_t kReportKinds = 3;

struct Item {
    ItemType type = ItemType::Main;
    std::uint8_t tag = 0;
    std::uint8_t size = 0;  // 0, 1, 2 or 4 bytes of data
    std::uint32_t data = 0;

    [[nodiscard]] std::int64_t Signed() const {
        switch (size) {
            case 1:
                return static_cast<std::int8_t>(data);
            case 2:
                return static_cast<std::int16_t>(data);
            case 4:
                return static_cast<std::int32_t>(data);
            default:
                return 0;
        }
    }
};

struct Globals {
    std::uint16_t usage_page = 0;
    std::int64_t logical_minimum = 0;
    Item logical_maximum;  // read as signed only when the minimum is negative
    std::uint32_t report_size = 0;
    std::uint32_t report_count = 0;
    std::uint8_t report_id = 0;

    [[nodiscard]] std::int64_t LogicalMaximum() const {
        return logical_minimum < 0 ? logical_maximum.Signed() : logical_maximum.data;
    }
};

// Consecutive usages of one page; `page` is unset until the main item when the usage came
// without one (it then takes the usage page in effect at the main item).
struct UsageRun {
    std::optional<std::uint16_t> page;
    std::uint16_t first = 0;
    std::uint16_t last = 0;
    [[nodiscard]] std::size_t Length() const { return std::size_t{last} - first + 1; }
};

struct Locals {
    std::vector<UsageRun> usages;
    std::optional<Item> minimum;
    std::optional<Item> maximum;
    bool in_delimiter = false;
    bool delimiter_usage_taken = false;
};

std::optional<std::uint16_t> PageOf(const Item& item) {
    if (item.size == 4)
        return static_cast<std::uint16_t>(item.data >> 16);
    return std::nullopt;
}

struct PendingCollection {
    HidCollectionLayout layout;
    std::array<std::bitset<256>, kReportKinds> ids_by_kind;
};

// Reads one item at `at`; nothing when it runs past the end. Long items come back as Reserved.
std::optional<Item> ReadItem(std::span<const std::uint8_t> bytes, std::size_t& at) {
    const std::uint8_t prefix = bytes[at];
    if (prefix == kLongItemPrefix) {
        if (bytes.size() - at < 3 || bytes.size() - at - 3 < bytes[at + 1])
            return std::nullopt;
        at += 3 + std::size_t{bytes[at + 1]};
        return Item{ItemType::Reserved, 0, 0, 0};
    }
    static constexpr std::array<std::uint8_t, 4> kSizes{0, 1, 2, 4};
    Item item{static_cast<ItemType>(prefix >> 2 & 3), static_cast<std::uint8_t>(prefix >> 4),
              kSizes[prefix & 3], 0};
    if (bytes.size() - at - 1 < item.size)
        return std::nullopt;
    for (std::size_t i = 0; i < item.size; ++i)
        item.data |= std::uint32_t{bytes[at + 1 + i]} << (8 * i);
    at += 1 + std::size_t{item.size};
    return item;
}

class DescriptorParser {
  public:
    [[nodiscard]] std::optional<std::vector<HidCollectionLayout>> Parse(
        std::span<const std::uint8_t> bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            const std::optional<Item> item = ReadItem(bytes, at);
            if (!item || !Apply(*item))
                return std::nullopt;
        }
        if (depth_ != 0)
            return std::nullopt;
        return Finish();
    }

  private:
    [[nodiscard]] bool Apply(const Item& item) {
        switch (item.type) {
            case ItemType::Main:
                return ApplyMain(item);
            case ItemType::Global:
                return ApplyGlobal(item);
            case ItemType::Local:
                return ApplyLocal(item);
            case ItemType::Reserved:
                return true;
        }
        return true;
    }

    [[nodiscard]] bool ApplyGlobal(const Item& item) {
        switch (item.tag) {
            case 0:
                globals_.usage_page = static_cast<std::uint16_t>(item.data);
                return true;
            case 1:
                globals_.logical_minimum = item.Signed();
                return true;
            case 2:
                globals_.logical_maximum = item;
                return true;
            case 3:  // physical minimum and maximum, unit exponent, unit
            case 4:
            case 5:
            case 6:
                return true;
            case 7:
                globals_.report_size = item.data;
                return item.data <= kMaxReportSize;
            case 8:
                globals_.report_id = static_cast<std::uint8_t>(item.data);
                saw_report_id_ = true;
                return item.data != 0 && item.data <= 0xFF;
            case 9:
                globals_.report_count = item.data;
                return item.data <= kMaxReportCount;
            case 10:
                if (pushed_.size() == kMaxPushDepth)
                    return false;
                pushed_.push_back(globals_);
                return true;
            case 11:
                if (pushed_.empty())
                    return false;
                globals_ = pushed_.back();
                pushed_.pop_back();
                return true;
            default:
                return false;
        }
    }

    [[nodiscard]] bool ApplyLocal(const Item& item) {
        switch (item.tag) {
            case 0:
                return AddUsages(UsageRun{PageOf(item), static_cast<std::uint16_t>(item.data),
                                          static_cast<std::uint16_t>(item.data)});
            case 1:
                locals_.minimum = item;
                return CloseRange();
            case 2:
                locals_.maximum = item;
                return CloseRange();
            case 10:
                return Delimit(item.data != 0);
            default:  // designators and strings
                return true;
        }
    }

    // A usage range once both of its ends are known; a range that runs backwards names nothing.
    [[nodiscard]] bool CloseRange() {
        if (!locals_.minimum || !locals_.maximum)
            return true;
        const Item minimum = *std::exchange(locals_.minimum, std::nullopt);
        const Item maximum = *std::exchange(locals_.maximum, std::nullopt);
        const auto first = static_cast<std::uint16_t>(minimum.data);
        const auto last = static_cast<std::uint16_t>(maximum.data);
        if (first > last)
            return true;
        const std::optional<std::uint16_t> page =
            PageOf(minimum) ? PageOf(minimum) : PageOf(maximum);
        return AddUsages(UsageRun{page, first, last});
    }

    [[nodiscard]] bool AddUsages(const UsageRun& run) {
        if (locals_.in_delimiter && std::exchange(locals_.delimiter_usage_taken, true))
            return true;  // an alias of the usage already taken
        if (locals_.usages.size() == kMaxLocalUsages)
            return false;
        locals_.usages.push_back(run);
        return true;
    }

    [[nodiscard]] bool Delimit(bool open) {
        if (open == locals_.in_delimiter)
            return false;  // nested, or a close without an open
        locals_.in_delimiter = open;
        locals_.delimiter_usage_taken = false;
        return true;
    }

    [[nodiscard]] bool ApplyMain(const Item& item) {
        bool valid = true;
        switch (item.tag) {
            case 8:
                valid = AddField(kInput, item.data);
                break;
            case 9:
                valid = AddField(kOutput, item.data);
                break;
            case 10:
                valid = OpenCollection();
                break;
            case 11:
                valid = AddField(kFeature, item.data);
                break;
            case 12:
                valid = depth_ > 0;
                depth_ -= valid ? 1 : 0;
                break;
            default:
                break;
        }
        valid = valid && !locals_.in_delimiter;
        locals_ = Locals{};
        return valid;
    }

    [[nodiscard]] bool OpenCollection() {
        if (depth_ == kMaxCollectionDepth)
            return false;
        if (depth_++ != 0)
            return true;
        PendingCollection& opened = collections_.emplace_back();
        if (!locals_.usages.empty()) {
            opened.layout.capabilities.usage_page =
                locals_.usages.front().page.value_or(globals_.usage_page);
            opened.layout.capabilities.usage = locals_.usages.front().first;
        }
        return true;
    }

    // The usages of the main item at hand, their pages resolved, as a list of at most `count`
    // usages (the last one standing for the rest of a variable field's bits).
    [[nodiscard]] std::vector<UsageRun> ResolvedUsages() const {
        std::vector<UsageRun> runs = locals_.usages;
        for (UsageRun& run : runs)
            run.page = run.page.value_or(globals_.usage_page);
        return runs;
    }

    [[nodiscard]] bool AddField(ReportKind kind, std::uint32_t flags) {
        const std::uint64_t bits = std::uint64_t{globals_.report_size} * globals_.report_count;
        if (bits == 0)
            return true;
        if (globals_.report_id == 0)
            saw_unnumbered_field_ = true;
        if (saw_report_id_ && saw_unnumbered_field_)
            return false;  // identifiers are used, yet this field belongs to no report of one
        std::uint64_t& report_bits = report_bits_[{kind, globals_.report_id}];
        const std::uint64_t offset = report_bits;
        report_bits += bits;
        if ((report_bits + 7) / 8 + 1 > kMaxReportBytes)
            return false;
        if (depth_ == 0)
            return true;  // outside every collection: part of the report, owned by none
        PendingCollection& owner = collections_.back();
        NoteReportId(owner, kind);
        constexpr std::uint32_t kConstant = 1;
        if (kind == kInput && (flags & kConstant) == 0)
            AddButtonFields(owner.layout, static_cast<std::uint32_t>(offset), flags);
        return true;
    }

    void NoteReportId(PendingCollection& owner, ReportKind kind) const {
        const std::uint8_t id = globals_.report_id;
        owner.ids_by_kind[kind].set(id);
        std::vector<std::uint8_t>& ids = owner.layout.report_ids;
        if (id != 0 && std::ranges::find(ids, id) == ids.end())
            ids.push_back(id);
    }

    void AddButtonFields(HidCollectionLayout& layout, std::uint32_t offset, std::uint32_t flags) {
        constexpr std::uint32_t kVariable = 2;
        const std::vector<UsageRun> runs = ResolvedUsages();
        if (runs.empty())
            return;
        if ((flags & kVariable) != 0) {
            if (globals_.report_size == 1)
                AddBitFields(layout, offset, runs);
        } else if (globals_.report_size <= kArrayValueBits) {
            AddArrayFields(layout, offset, runs);
        }
    }

    // One field per run of usages, one bit per usage; the last run covers the remaining bits.
    void AddBitFields(HidCollectionLayout& layout, std::uint32_t offset,
                      const std::vector<UsageRun>& runs) const {
        std::uint32_t left = globals_.report_count;
        for (std::size_t i = 0; i < runs.size() && left > 0; ++i) {
            const bool last = i + 1 == runs.size();
            const auto count = static_cast<std::uint32_t>(
                last ? left : std::min<std::size_t>(left, runs[i].Length()));
            layout.button_fields.push_back(Field(offset, 1, count, false, runs[i], 0));
            offset += count;
            left -= count;
        }
    }

    // One field per run of usages, all at the offset of the array: a slot's value names the
    // run whose stretch of the logical range holds it.
    void AddArrayFields(HidCollectionLayout& layout, std::uint32_t offset,
                        const std::vector<UsageRun>& runs) const {
        const std::int64_t maximum = globals_.LogicalMaximum();
        std::int64_t index = globals_.logical_minimum;
        for (UsageRun run : runs) {
            if (index > maximum)
                break;
            const std::int64_t room = maximum - index + 1;
            if (static_cast<std::int64_t>(run.Length()) > room)
                run.last = static_cast<std::uint16_t>(run.first + room - 1);
            layout.button_fields.push_back(Field(offset,
                                                 static_cast<std::uint16_t>(globals_.report_size),
                                                 globals_.report_count, true, run, index));
            index += static_cast<std::int64_t>(run.Length());
        }
    }

    [[nodiscard]] HidButtonField Field(std::uint32_t offset, std::uint16_t bit_size,
                                       std::uint32_t count, bool is_array, const UsageRun& run,
                                       std::int64_t logical_minimum) const {
        HidButtonField field;
        field.report_id = globals_.report_id;
        field.bit_offset = offset;
        field.bit_size = bit_size;
        field.count = static_cast<std::uint16_t>(count);
        field.is_array = is_array;
        field.usage_page = run.page.value_or(globals_.usage_page);
        field.usage_minimum = run.first;
        field.usage_maximum = run.last;
        field.logical_minimum = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(logical_minimum, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max()));
        return field;
    }

    [[nodiscard]] std::vector<HidCollectionLayout> Finish() {
        std::vector<HidCollectionLayout> layouts;
        for (PendingCollection& pending : collections_) {
            HidCapabilities& caps = pending.layout.capabilities;
            caps.input_report_length = LongestReport(pending, kInput);
            caps.output_report_length = LongestReport(pending, kOutput);
            caps.feature_report_length = LongestReport(pending, kFeature);
            layouts.push_back(std::move(pending.layout));
        }
        return layouts;
    }

    [[nodiscard]] std::uint16_t LongestReport(const PendingCollection& pending,
                                              ReportKind kind) const {
        std::uint64_t longest = 0;
        for (std::size_t id = 0; id < 256; ++id) {
            if (!pending.ids_by_kind[kind].test(id))
                continue;
            const auto found = report_bits_.find({kind, static_cast<std::uint8_t>(id)});
            const std::uint64_t bytes = (found->second + 7) / 8 + 1;
            longest = std::max(longest, bytes);
        }
        return static_cast<std::uint16_t>(longest);
    }

    Globals globals_;
    std::vector<Globals> pushed_;
    Locals locals_;
    std::size_t depth_ = 0;
    bool saw_report_id_ = false;
    bool saw_unnumbered_field_ = false;
    std::map<std::pair<ReportKind, std::uint8_t>, std::uint64_t> report_bits_;
    std::vector<PendingCollection> collections_;
};

// `bit_size` bits (at most 32) from `bit_offset`, least significant bit first.
std::uint32_t BitsAt(std::span<const std::uint8_t> data, std::uint64_t bit_offset,
                     std::uint16_t bit_size) {
    std::uint32_t value = 0;
    for (std::uint16_t i = 0; i < bit_size; ++i) {
        const std::uint64_t bit = bit_offset + i;
        if ((data[bit / 8] >> (bit % 8) & 1) != 0)
            value |= std::uint32_t{1} << i;
    }
    return value;
}

// A slot's value as the logical range reads it: signed when the range starts below zero.
std::int64_t SlotValue(std::uint32_t bits, std::uint16_t bit_size, std::int32_t logical_minimum) {
    if (logical_minimum >= 0 || bit_size == 0)
        return bits;
    const std::uint64_t sign = std::uint64_t{1} << (bit_size - 1);
    return static_cast<std::int64_t>(bits ^ sign) - static_cast<std::int64_t>(sign);
}

// The usage a slot of an array run names, or 0.
std::uint16_t ArrayUsage(const HidButtonField& field, std::int64_t value) {
    const std::int64_t index = value - field.logical_minimum;
    if (index < 0 || index > std::int64_t{field.usage_maximum} - field.usage_minimum)
        return 0;
    return static_cast<std::uint16_t>(field.usage_minimum + index);
}

// Whether `field` continues the array of the field before it (another run of its usages).
bool ContinuesArray(std::span<const HidButtonField> fields, std::size_t i) {
    return i > 0 && fields[i].is_array && fields[i - 1].is_array &&
           fields[i].report_id == fields[i - 1].report_id &&
           fields[i].bit_offset == fields[i - 1].bit_offset;
}

// The runs of the array that starts at `first`.
std::size_t ArrayRunCount(std::span<const HidButtonField> fields, std::size_t first) {
    std::size_t end = first + 1;
    while (end < fields.size() && ContinuesArray(fields, end))
        ++end;
    return end - first;
}

void AppendArrayUsages(std::span<const HidButtonField> runs, std::span<const std::uint8_t> data,
                       std::vector<std::uint16_t>& usages) {
    const HidButtonField& array = runs.front();
    for (std::uint32_t slot = 0; slot < array.count; ++slot) {
        const std::uint64_t offset = array.bit_offset + std::uint64_t{slot} * array.bit_size;
        const std::int64_t value =
            SlotValue(BitsAt(data, offset, array.bit_size), array.bit_size, array.logical_minimum);
        for (const HidButtonField& run : runs) {
            const std::uint16_t usage = ArrayUsage(run, value);
            if (usage != 0) {
                usages.push_back(usage);
                break;
            }
        }
    }
}

void AppendBitUsages(const HidButtonField& field, std::span<const std::uint8_t> data,
                     std::vector<std::uint16_t>& usages) {
    for (std::uint32_t i = 0; i < field.count; ++i) {
        const std::uint64_t offset = field.bit_offset + std::uint64_t{i} * field.bit_size;
        if (BitsAt(data, offset, field.bit_size) == 0)
            continue;
        const auto usage = static_cast<std::uint16_t>(
            std::min<std::uint32_t>(std::uint32_t{field.usage_minimum} + i, field.usage_maximum));
        if (usage != 0)
            usages.push_back(usage);
    }
}

}  // namespace

bool HidCollectionLayout::OwnsReport(std::span<const std::uint8_t> report) const {
    if (report_ids.empty())
        return capabilities.input_report_length > 0;
    return !report.empty() && std::ranges::find(report_ids, report.front()) != report_ids.end();
}

std::size_t HidCollectionLayout::MaxButtonUsages() const {
    std::size_t most = 0;
    for (std::size_t i = 0; i < button_fields.size(); ++i) {
        if (!ContinuesArray(button_fields, i))
            most += button_fields[i].count;
    }
    return most;
}

std::optional<std::vector<std::uint16_t>> HidCollectionLayout::ButtonUsages(
    std::span<const std::uint8_t> report) const {
    if (!OwnsReport(report))
        return std::nullopt;
    const std::uint8_t id = report_ids.empty() ? 0 : report.front();
    const std::span<const std::uint8_t> data = report_ids.empty() ? report : report.subspan(1);
    std::vector<std::uint16_t> usages;
    const std::span<const HidButtonField> fields(button_fields);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const HidButtonField& field = fields[i];
        if (field.report_id != id || ContinuesArray(fields, i))
            continue;
        const std::uint64_t end = field.bit_offset + std::uint64_t{field.bit_size} * field.count;
        if (end > std::uint64_t{data.size()} * 8)
            return std::nullopt;
        if (field.is_array)
            AppendArrayUsages(fields.subspan(i, ArrayRunCount(fields, i)), data, usages);
        else
            AppendBitUsages(field, data, usages);
    }
    return usages;
}

std::optional<std::vector<HidCollectionLayout>> ParseReportDescriptor(
    std::span<const std::uint8_t> descriptor) {
    if (descriptor.size() > kMaxReportDescriptorSize)
        return std::nullopt;
    return DescriptorParser{}.Parse(descriptor);
}

}  // namespace korv
