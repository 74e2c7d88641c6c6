#include "hid/ui_hid_data.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "hid/hid_selection.h"
#include "hid/hid_walk.h"

namespace korv {
namespace {

std::uint32_t ErrorCodeOf(const HidFailure& failure) {
    return failure.code != 0 ? failure.code : kFeatureFailedWithoutCode;
}

}  // namespace

TuiHIDData::TuiHIDData(const HidInterfaces& interfaces, MainLoop& main_loop,
                       const DebugOutput& debug, std::vector<std::u16string> include_list)
    : interfaces_(interfaces),
      main_loop_(main_loop),
      debug_(debug),
      include_list_(std::move(include_list)) {}

TuiHIDData::~TuiHIDData() {
    HidStopRead();
}

void TuiHIDData::HidFindAndReadDevice(USAGE_AND_PAGE UsageAndPage, std::u16string_view HIDID) {
    owner_.Check();
    static_cast<void>(HIDID);  // the include list alone selects
    FreeEndedReaders();
    const ReaderEvents events{OnData, OnParsedData, OnDeviceNotConnected, FastOnData,
                              usage_tracker_};
    const ReaderPorts ports{interfaces_, main_loop_, debug_};
    WalkMatchingInterfaces(
        interfaces_, HidOpenMode::Identify, UsageAndPage,
        [this](std::span<const std::u16string> ids) {
            return SelectedByIncludeList(include_list_, ids);
        },
        [&](const HidInterfaceInfo& info, HidDevice&, const HidCapabilities&) {
            ReaderInterface target{info.hardware_ids.empty() ? u"" : info.hardware_ids.front(),
                                   info.path};
            readers_.push_back(
                std::make_unique<TuiHidDeviceReadThread>(ports, std::move(target), events));
        });
}

void TuiHIDData::HidStopRead() {
    owner_.Check();
    // Every reader is told first, so that they end together; then each is joined and freed.
    for (const auto& reader : readers_) {
        reader->RequestStop();
    }
    // Taken out before they are freed: a handler that runs meanwhile sees no half-freed list.
    auto stopping = std::exchange(readers_, {});
    stopping.clear();
}

std::size_t TuiHIDData::RunningReaderCount() const {
    return static_cast<std::size_t>(
        std::ranges::count_if(readers_, [](const auto& reader) { return !reader->Ended(); }));
}

std::size_t TuiHIDData::ReadingReaderCount() const {
    return static_cast<std::size_t>(
        std::ranges::count_if(readers_, [](const auto& reader) { return reader->Reads(); }));
}

void TuiHIDData::FreeEndedReaders() {
    std::erase_if(readers_, [](const auto& reader) { return reader->Ended(); });
}

bool TuiHIDData::Write(const THIDDataParam& ReportData, bool by_identifier,
                       std::size_t byte_count) const {
    owner_.Check();
    bool written = false;
    WalkMatchingInterfaces(
        interfaces_, HidOpenMode::Control, ReportData.UsageAndPage,
        [&](std::span<const std::u16string> ids) {
            return !by_identifier || SelectedByIdentifier(ReportData.DeviceID, include_list_, ids);
        },
        [&](const HidInterfaceInfo&, HidDevice& device, const HidCapabilities& capabilities) {
            if (capabilities.output_report_length < ReportData.Data.DATASIZE) {
                return;
            }
            if (!device.Write(ReportBytes(ReportData.Data, byte_count))) {
                written = true;
            }
        });
    return written;
}

bool TuiHIDData::HidFindAndWriteDevice(const THIDDataParam& ReportData) const {
    return Write(ReportData, true, std::size_t{ReportData.Data.DATASIZE} + 1);
}

bool TuiHIDData::HidFindAndWriteDeviceBYHID(const THIDDataParam& ReportData) const {
    return Write(ReportData, false, ReportData.Data.DATASIZE);
}

// Walks the interfaces the include list selects whose collection matches and whose feature
// report holds DATASIZE bytes, and runs `exchange` on each; 0 when the last one succeeded, its
// error code when it failed, kNoMatchingInterface when none matched.
std::uint32_t TuiHIDData::ExchangeFeature(THIDDataParam& ReportData,
                                          const FeatureExchange& exchange) const {
    owner_.Check();
    std::uint32_t result = kNoMatchingInterface;
    const std::size_t size = ReportData.Data.DATASIZE;
    WalkMatchingInterfaces(
        interfaces_, HidOpenMode::Control, ReportData.UsageAndPage,
        [this](std::span<const std::u16string> ids) {
            return SelectedByIncludeList(include_list_, ids);
        },
        [&](const HidInterfaceInfo&, HidDevice& device, const HidCapabilities& capabilities) {
            if (capabilities.feature_report_length < size)
                return;
            const std::optional<HidFailure> failure = exchange(device, size);
            result = failure ? ErrorCodeOf(*failure) : 0;
        });
    return result;
}

std::uint32_t TuiHIDData::HidFindAndGetFeatureReport(THIDDataParam& ReportData) const {
    return ExchangeFeature(ReportData, [&](HidDevice& device, std::size_t size) {
        // The length condition keeps `size` within one report buffer.
        std::vector<std::uint8_t> buffer(kHidReportBufferBytes - 1, 0);
        buffer[0] = ReportData.Data.ReportID;
        const std::span<std::uint8_t> asked(buffer.data(), size);
        const std::optional<HidFailure> failure = device.GetFeature(asked);
        if (!failure)
            std::ranges::copy(asked, ReportBytes(ReportData.Data, size).begin());
        return failure;
    });
}

std::uint32_t TuiHIDData::HidFindAndSetFeatureReport(THIDDataParam& ReportData) const {
    return ExchangeFeature(ReportData, [&](HidDevice& device, std::size_t size) {
        ReportData.DeviceHandle = reinterpret_cast<std::uintptr_t>(&device);
        return device.SetFeature(ReportBytes(ReportData.Data, size));
    });
}

bool TuiHIDData::IsDeviceExist(const THIDDataParam& ReportData) const {
    owner_.Check();
    bool exists = false;
    WalkMatchingInterfaces(
        interfaces_, HidOpenMode::Control, ReportData.UsageAndPage,
        [&](std::span<const std::u16string> ids) {
            return SelectedByIdentifier(ReportData.DeviceID, include_list_, ids);
        },
        [&](const HidInterfaceInfo&, HidDevice&, const HidCapabilities&) { exists = true; });
    return exists;
}

}  // namespace korv
