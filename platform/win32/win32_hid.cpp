#include "platform/win32/win32_hid.h"

#include <windows.h>

#include <setupapi.h>

// mingw-w64's HID headers have no extern "C" guard of their own; hidsdi.h brings hidusage.h
// and hidpi.h in the order they need.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <utility>

#include "platform/win32/hid_class.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_hid_device.h"

namespace korv::win32 {
namespace {

// A hardware-identifier list that does not fit counts as empty.
constexpr DWORD kHardwareIdBufferBytes = 32768;

// Loads a library from the system folder only.
UniqueModule LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        // A system without the restricted search flags: name the system folder instead.
        wchar_t folder[MAX_PATH];
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const std::wstring path = std::wstring(folder, length) + L"\\" + name;
            module = LoadLibraryExW(path.c_str(), nullptr, 0);
        }
    }
    return UniqueModule(module);
}

// Looks up one function; `void (*)()` converts to and from every function pointer type.
template <typename Function>
bool Bind(HMODULE module, const char* name, Function*& function) {
    const auto proc = reinterpret_cast<void (*)()>(GetProcAddress(module, name));
    function = reinterpret_cast<Function*>(proc);
    return function != nullptr;
}

struct DeviceSetupFunctions {
    decltype(&SetupDiGetClassDevsW) get_class_devs = nullptr;
    decltype(&SetupDiEnumDeviceInterfaces) enum_device_interfaces = nullptr;
    decltype(&SetupDiGetDeviceInterfaceDetailW) get_device_interface_detail = nullptr;
    decltype(&SetupDiGetDeviceRegistryPropertyW) get_device_registry_property = nullptr;
    decltype(&SetupDiDestroyDeviceInfoList) destroy_device_info_list = nullptr;

    bool BindAll(HMODULE module) {
        return Bind(module, "SetupDiGetClassDevsW", get_class_devs) &&
               Bind(module, "SetupDiEnumDeviceInterfaces", enum_device_interfaces) &&
               Bind(module, "SetupDiGetDeviceInterfaceDetailW", get_device_interface_detail) &&
               Bind(module, "SetupDiGetDeviceRegistryPropertyW", get_device_registry_property) &&
               Bind(module, "SetupDiDestroyDeviceInfoList", destroy_device_info_list);
    }
};

struct HidFunctions {
    decltype(&HidD_GetHidGuid) get_hid_guid = nullptr;
    decltype(&HidD_GetAttributes) get_attributes = nullptr;
    decltype(&HidD_GetPreparsedData) get_preparsed_data = nullptr;
    decltype(&HidD_FreePreparsedData) free_preparsed_data = nullptr;
    decltype(&HidD_GetFeature) get_feature = nullptr;
    decltype(&HidD_SetFeature) set_feature = nullptr;
    decltype(&HidP_GetCaps) get_caps = nullptr;
    decltype(&HidP_MaxUsageListLength) max_usage_list_length = nullptr;
    decltype(&HidP_GetUsagesEx) get_usages_ex = nullptr;

    bool BindAll(HMODULE module) {
        return Bind(module, "HidD_GetHidGuid", get_hid_guid) &&
               Bind(module, "HidD_GetAttributes", get_attributes) &&
               Bind(module, "HidD_GetPreparsedData", get_preparsed_data) &&
               Bind(module, "HidD_FreePreparsedData", free_preparsed_data) &&
               Bind(module, "HidD_GetFeature", get_feature) &&
               Bind(module, "HidD_SetFeature", set_feature) &&
               Bind(module, "HidP_GetCaps", get_caps) &&
               Bind(module, "HidP_MaxUsageListLength", max_usage_list_length) &&
               Bind(module, "HidP_GetUsagesEx", get_usages_ex);
    }
};

}  // namespace

struct HidLibraries {
    // Binds every function of a library or none: a library that lacks one is unloaded again.
    template <typename Functions>
    static bool BindLibrary(const wchar_t* name, UniqueModule& module, Functions& functions) {
        module = LoadSystemLibrary(name);
        if (module.Get() != nullptr && functions.BindAll(module.Get()))
            return true;
        module.Reset();
        functions = Functions{};
        return false;
    }

    HidLibraries() {
        device_setup_bound = BindLibrary(L"SetupApi.dll", device_setup_module, device_setup);
        hid_bound = device_setup_bound && BindLibrary(L"HID.dll", hid_module, hid);
        if (hid_bound)
            hid.get_hid_guid(&interface_class);
    }

    UniqueModule device_setup_module;
    UniqueModule hid_module;
    DeviceSetupFunctions device_setup;
    HidFunctions hid;
    bool device_setup_bound = false;
    bool hid_bound = false;
    GUID interface_class = kHidInterfaceClassGuid;  // when the HID library cannot be bound
};

namespace {

// Owns a device information set, released through the set-up library bound at run time.
struct DeviceInfoSetTraits {
    using Value = HDEVINFO;
    static Value Empty() { return INVALID_HANDLE_VALUE; }
    static bool Holds(Value set) { return set != INVALID_HANDLE_VALUE && set != nullptr; }
    void Close(Value set) const { functions->destroy_device_info_list(set); }
    const DeviceSetupFunctions* functions = nullptr;
};
using UniqueDeviceInfoSet = UniqueResource<DeviceInfoSetTraits>;

// Splits a multi-string at each terminating zero until an empty string; the buffer ends in two
// zeros, so the split stays inside it.
std::vector<std::u16string> SplitMultiString(const std::vector<wchar_t>& buffer) {
    std::vector<std::u16string> strings;
    for (std::size_t at = 0; at < buffer.size() && buffer[at] != L'\0';) {
        const std::wstring_view item(&buffer[at]);
        strings.push_back(FromWide(item));
        at += item.size() + 1;
    }
    return strings;
}

std::vector<std::u16string> HardwareIds(const DeviceSetupFunctions& functions, HDEVINFO set,
                                        SP_DEVINFO_DATA& device) {
    std::vector<wchar_t> buffer(kHardwareIdBufferBytes / sizeof(wchar_t) + 2, L'\0');
    DWORD type = 0;
    if (!functions.get_device_registry_property(set, &device, SPDRP_HARDWAREID, &type,
                                                reinterpret_cast<BYTE*>(buffer.data()),
                                                kHardwareIdBufferBytes, nullptr)) {
        return {};
    }
    return SplitMultiString(buffer);
}

// The device path of one interface, or nothing when its detail cannot be read.
std::optional<std::u16string> DevicePath(const DeviceSetupFunctions& functions, HDEVINFO set,
                                         SP_DEVICE_INTERFACE_DATA& interface, DWORD required) {
    // DWORD units keep the detail record aligned.
    std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!functions.get_device_interface_detail(set, &interface, detail, required, nullptr,
                                               nullptr)) {
        return std::nullopt;
    }
    const std::size_t path_offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    const std::size_t max_units = (required - path_offset) / sizeof(wchar_t);
    const wchar_t* path = detail->DevicePath;
    return FromWide(std::wstring_view(path, std::find(path, path + max_units, L'\0') - path));
}

// One interface of the walk: considered only when the detail size query fails for want of a
// buffer and names a size.
std::optional<HidInterfaceInfo> InterfaceAt(const DeviceSetupFunctions& functions, HDEVINFO set,
                                            SP_DEVICE_INTERFACE_DATA& interface) {
    DWORD required = 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (functions.get_device_interface_detail(set, &interface, nullptr, 0, &required, &device) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0 ||
        required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) {
        return std::nullopt;
    }
    HidInterfaceInfo info;
    info.hardware_ids = HardwareIds(functions, set, device);
    std::optional<std::u16string> path = DevicePath(functions, set, interface, required);
    if (!path)
        return std::nullopt;
    info.path = std::move(*path);
    return info;
}

void AppendPlatformInterfaces(const HidLibraries& libraries, std::vector<HidInterfaceInfo>& found) {
    const DeviceSetupFunctions& functions = libraries.device_setup;
    GUID interface_class = libraries.interface_class;
    const UniqueDeviceInfoSet set(functions.get_class_devs(&interface_class, nullptr, nullptr,
                                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
                                  DeviceInfoSetTraits{.functions = &functions});
    if (!set.Valid())
        return;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interface {};
        interface.cbSize = sizeof interface;
        if (!functions.enum_device_interfaces(set.Get(), nullptr, &interface_class, index,
                                              &interface)) {
            return;
        }
        if (std::optional<HidInterfaceInfo> info = InterfaceAt(functions, set.Get(), interface))
            found.push_back(std::move(*info));
    }
}

DWORD ClampedLength(std::size_t size) {
    return static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
}

// Owns preparsed data; the libraries stay loaded while it lives.
class UniquePreparsedData {
  public:
    UniquePreparsedData(std::shared_ptr<const HidLibraries> libraries, HANDLE device)
        : libraries_(std::move(libraries)) {
        if (!libraries_->hid_bound) {
            error_ = ERROR_PROC_NOT_FOUND;
        } else if (!libraries_->hid.get_preparsed_data(device, &data_)) {
            error_ = GetLastError();
            data_ = nullptr;
        }
    }
    UniquePreparsedData(const UniquePreparsedData&) = delete;
    UniquePreparsedData& operator=(const UniquePreparsedData&) = delete;
    ~UniquePreparsedData() {
        if (data_ != nullptr)
            libraries_->hid.free_preparsed_data(data_);
    }
    PHIDP_PREPARSED_DATA Get() const { return data_; }
    DWORD Error() const { return error_; }

  private:
    std::shared_ptr<const HidLibraries> libraries_;
    PHIDP_PREPARSED_DATA data_ = nullptr;
    DWORD error_ = 0;
};

// An interface of the platform's HID class.
class PlatformHidDevice : public Win32HidDevice {
  public:
    PlatformHidDevice(std::shared_ptr<const HidLibraries> libraries, UniqueHandle handle,
                      HidOpenMode mode)
        : Win32HidDevice(std::move(handle), mode, 0),
          libraries_(std::move(libraries)),
          preparsed_(libraries_, Handle()) {
        // The HID class takes an output report only at its whole length.
        if (const auto caps = PlatformHidDevice::Capabilities().capabilities)
            PadOutputReportsTo(caps->output_report_length);
    }

    CapabilitiesResult Capabilities() const override {
        if (!libraries_->hid_bound)
            return {std::nullopt, HidFailureOf("HidD_GetAttributes", ERROR_PROC_NOT_FOUND)};
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!libraries_->hid.get_attributes(Handle(), &attributes))
            return {std::nullopt, HidFailureOf("HidD_GetAttributes", GetLastError())};
        if (preparsed_.Get() == nullptr)
            return {std::nullopt, HidFailureOf("HidD_GetPreparsedData", preparsed_.Error())};
        HIDP_CAPS caps{};
        const NTSTATUS status = libraries_->hid.get_caps(preparsed_.Get(), &caps);
        if (status != HIDP_STATUS_SUCCESS)
            return {std::nullopt,
                    {"HidP_GetCaps", HidFailureKind::Other, static_cast<std::uint32_t>(status)}};
        return {HidCapabilities{caps.Usage, caps.UsagePage, caps.InputReportByteLength,
                                caps.OutputReportByteLength, caps.FeatureReportByteLength},
                {}};
    }

    std::optional<HidFailure> GetFeature(std::span<std::uint8_t> buffer) override {
        if (!libraries_->hid_bound)
            return HidFailureOf("HidD_GetFeature", ERROR_PROC_NOT_FOUND);
        if (!libraries_->hid.get_feature(Handle(), buffer.data(), ClampedLength(buffer.size())))
            return HidFailureOf("HidD_GetFeature", GetLastError());
        return std::nullopt;
    }

    std::optional<HidFailure> SetFeature(std::span<const std::uint8_t> report) override {
        if (!libraries_->hid_bound)
            return HidFailureOf("HidD_SetFeature", ERROR_PROC_NOT_FOUND);
        // The report is only read; the function's parameter is not const.
        if (!libraries_->hid.set_feature(Handle(), const_cast<std::uint8_t*>(report.data()),
                                         ClampedLength(report.size()))) {
            return HidFailureOf("HidD_SetFeature", GetLastError());
        }
        return std::nullopt;
    }

    std::size_t MaxButtonUsages() const override {
        if (preparsed_.Get() == nullptr)
            return 0;
        return libraries_->hid.max_usage_list_length(HidP_Input, 0, preparsed_.Get());
    }

    std::optional<std::vector<std::uint16_t>> ButtonUsages(
        std::span<const std::uint8_t> report) const override {
        if (preparsed_.Get() == nullptr)
            return std::nullopt;
        const std::size_t max = MaxButtonUsages();
        std::vector<USAGE_AND_PAGE> list(max);
        ULONG length = static_cast<ULONG>(max);
        // The report is only read; the function's parameter is not const.
        const NTSTATUS status = libraries_->hid.get_usages_ex(
            HidP_Input, 0, list.data(), &length, preparsed_.Get(),
            reinterpret_cast<PCHAR>(const_cast<std::uint8_t*>(report.data())),
            ClampedLength(report.size()));
        if (status != HIDP_STATUS_SUCCESS)
            return std::nullopt;
        std::vector<std::uint16_t> usages;
        for (ULONG i = 0; i < std::min<ULONG>(length, static_cast<ULONG>(max)); ++i)
            usages.push_back(list[i].Usage);
        return usages;
    }

  private:
    std::shared_ptr<const HidLibraries> libraries_;
    UniquePreparsedData preparsed_;
};

}  // namespace

Win32HidInterfaces::Win32HidInterfaces() = default;

// The libraries are loaded by the first walk or open, not when the monitor starts: the window
// then comes up without waiting for them. Called on the owner's thread only, like the rest.
const std::shared_ptr<const HidLibraries>& Win32HidInterfaces::Libraries() const {
    if (libraries_ == nullptr)
        libraries_ = std::make_shared<const HidLibraries>();
    return libraries_;
}

Win32HidInterfaces::~Win32HidInterfaces() = default;

bool Win32HidInterfaces::DeviceSetupBound() const {
    return Libraries()->device_setup_bound;
}

bool Win32HidInterfaces::HidBound() const {
    return Libraries()->hid_bound;
}

std::vector<HidInterfaceInfo> Win32HidInterfaces::Enumerate() const {
    std::vector<HidInterfaceInfo> found;
    if (const auto& libraries = Libraries(); libraries->device_setup_bound)
        AppendPlatformInterfaces(*libraries, found);
    return found;
}

HidInterfaces::OpenResult Win32HidInterfaces::Open(std::u16string_view path,
                                                   HidOpenMode mode) const {
    UniqueHandle handle = OpenHidFile(path);
    if (!handle.Valid())
        return {nullptr, HidFailureOf("CreateFileW", GetLastError())};
    return {std::make_unique<PlatformHidDevice>(Libraries(), std::move(handle), mode), {}};
}

}  // namespace korv::win32
