#pragma once
// TuiHIDData: finds the HID interfaces of a collection, reads their input reports on background
// readers, and sends output and feature reports to them.
//
// Threads: every operation, the destructor and the assignment of the handlers and FastOnData
// belong to the thread that created the component (the main thread); debug builds assert it.
// OnData and OnParsedData run on the main thread, from tasks posted to the main loop, unless
// FastOnData was true when the readers started: then they run on the reader threads, possibly
// at the same time for different interfaces. OnDeviceNotConnected always runs on the reader
// thread. Readers keep the handlers and FastOnData of the moment they were started.
// HidStopRead may be called from inside OnData or OnParsedData on the main thread, never from a
// handler that runs on a reader thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/thread_affinity.h"
#include "hid/button_usages.h"
#include "hid/hid_reader.h"
#include "hid/hid_records.h"
#include "hid/usage_and_page.h"
#include "ports/debug_output.h"
#include "ports/hid_interfaces.h"
#include "ports/main_loop.h"

namespace korv {

// What the feature operations return when no interface matched: Windows'
// ERROR_DEVICE_NOT_CONNECTED, the value the component has always answered with.
inline constexpr std::uint32_t kNoMatchingInterface = 1167;
// What they return for a failed transfer whose platform call gave no error code
// (ERROR_GEN_FAILURE), so that a failure never reads as 0, success.
inline constexpr std::uint32_t kFeatureFailedWithoutCode = 31;

class TuiHIDData {
  public:
    // `include_list`: the hardware identifiers that qualify an interface for the operations that
    // use the include list, as the settings file lists them; empty selects every interface.
    TuiHIDData(const HidInterfaces& interfaces, MainLoop& main_loop, const DebugOutput& debug,
               std::vector<std::u16string> include_list);
    // Stops and frees every reader (HidStopRead).
    ~TuiHIDData();
    TuiHIDData(const TuiHIDData&) = delete;
    TuiHIDData& operator=(const TuiHIDData&) = delete;

    // Starts one reader for every interface that the include list selects and whose top-level
    // collection is `UsageAndPage`. HIDID is not consulted. Readers already running are kept, so
    // a second call without HidStopRead starts a second reader per interface: callers stop
    // first. Readers that ended by themselves are freed here.
    void HidFindAndReadDevice(USAGE_AND_PAGE UsageAndPage, std::u16string_view HIDID);

    // Stops every reader of this component, waits until their threads have ended, and frees
    // them with their devices and buffers. Deliveries they left queued on the main loop are
    // dropped when they run.
    void HidStopRead();

    // Writes Data from ReportID on, DATASIZE + 1 bytes, to every interface that the identifier
    // rule selects, with the collection and an output report length of at least DATASIZE. True
    // when one write succeeded.
    [[nodiscard]] bool HidFindAndWriteDevice(const THIDDataParam& ReportData) const;
    // The same for every interface whatever its identifiers, writing DATASIZE bytes.
    [[nodiscard]] bool HidFindAndWriteDeviceBYHID(const THIDDataParam& ReportData) const;
    // Gets feature report ReportID, DATASIZE bytes with the identifier, from every interface that
    // the include list selects, with the collection and a feature report length of at least
    // DATASIZE; Data receives the bytes. 0 on success, else the error code of the last matching
    // interface; kNoMatchingInterface when none matched.
    [[nodiscard]] std::uint32_t HidFindAndGetFeatureReport(THIDDataParam& ReportData) const;
    // Sets feature report Data, DATASIZE bytes from ReportID on, likewise; DeviceHandle names
    // the last interface used.
    [[nodiscard]] std::uint32_t HidFindAndSetFeatureReport(THIDDataParam& ReportData) const;
    // Whether an interface that the identifier rule selects has the collection.
    [[nodiscard]] bool IsDeviceExist(const THIDDataParam& ReportData) const;

    // Readers not freed yet, running or ended by themselves.
    [[nodiscard]] std::size_t ReaderCount() const { return readers_.size(); }
    // Readers whose thread still runs.
    [[nodiscard]] std::size_t RunningReaderCount() const;
    // Running readers that read: not those that only wait for their stop because they cannot
    // (see TuiHidDeviceReadThread::Reads).
    [[nodiscard]] std::size_t ReadingReaderCount() const;

    TuiHIDDataReceived OnData;
    TuiHIDParsedDataReceived OnParsedData;
    TuiHIDDeviceNotConnected OnDeviceNotConnected;
    bool FastOnData = false;

  private:
    [[nodiscard]] bool Write(const THIDDataParam& ReportData, bool by_identifier,
                             std::size_t byte_count) const;
    void FreeEndedReaders();
    using FeatureExchange =
        std::function<std::optional<HidFailure>(HidDevice& device, std::size_t size)>;
    [[nodiscard]] std::uint32_t ExchangeFeature(THIDDataParam& ReportData,
                                                const FeatureExchange& exchange) const;

    ThreadAffinity owner_;
    const HidInterfaces& interfaces_;
    MainLoop& main_loop_;
    const DebugOutput& debug_;
    const std::vector<std::u16string> include_list_;
    std::shared_ptr<ButtonUsageTracker> usage_tracker_ = std::make_shared<ButtonUsageTracker>();
    std::vector<std::unique_ptr<TuiHidDeviceReadThread>> readers_;
};

}  // namespace korv
