#include "platform/win32/win32_pipe_hid.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <utility>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_hid_device.h"

namespace korv::win32 {
namespace {

constexpr std::u16string_view kPipePrefix = u"\\\\.\\pipe\\";

// How long a walk may wait in all to tell whether busy pipes exist. A pipe that does not exist
// or has a free instance answers at once; one whose every instance is taken answers only when
// its wait times out (about 2 ms under Wine, up to a timer tick on Windows).
constexpr auto kProbeBudget = std::chrono::milliseconds(3);
constexpr DWORD kProbeWaitMs = 1;

// A pipe name as the system compares it: trailing dots and blanks dropped.
std::u16string_view TrimmedPipeName(std::u16string_view name) {
    const std::size_t end = name.find_last_not_of(u". ");
    return end == std::u16string_view::npos ? std::u16string_view() : name.substr(0, end + 1);
}

// Names compare without regard to case, as the system's names do.
bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
    const std::wstring wide_a = ToWide(a);
    const std::wstring wide_b = ToWide(b);
    return CompareStringOrdinal(wide_a.data(), static_cast<int>(wide_a.size()), wide_b.data(),
                                static_cast<int>(wide_b.size()), TRUE) == CSTR_EQUAL;
}

bool SamePipeName(std::u16string_view a, std::u16string_view b) {
    return SameIgnoringCase(TrimmedPipeName(a), TrimmedPipeName(b));
}

// The declared pipe that a device path names, however it is spelled.
bool NamesPipe(std::u16string_view path, std::u16string_view pipe_name) {
    return path.size() > kPipePrefix.size() &&
           SameIgnoringCase(path.substr(0, kPipePrefix.size()), kPipePrefix) &&
           SamePipeName(path.substr(kPipePrefix.size()), pipe_name);
}

std::vector<PipeHidDeclaration> OnePerPipe(std::vector<PipeHidDeclaration> declared) {
    std::vector<PipeHidDeclaration> kept;
    for (PipeHidDeclaration& declaration : declared) {
        declaration.pipe_name = std::u16string(TrimmedPipeName(declaration.pipe_name));
        const bool seen = std::ranges::any_of(kept, [&](const PipeHidDeclaration& k) {
            return SamePipeName(k.pipe_name, declaration.pipe_name);
        });
        if (!declaration.pipe_name.empty() && !seen)
            kept.push_back(std::move(declaration));
    }
    return kept;
}

// A pipe that does not exist fails at once, one with a free instance succeeds at once, one whose
// every instance is taken times out. Wine answers GetFileAttributesW on a pipe path with
// ERROR_BAD_DEV_TYPE whether or not it exists, so only the wait tells.
bool PipeExists(const std::wstring& path) {
    if (WaitNamedPipeW(path.c_str(), kProbeWaitMs))
        return true;
    const DWORD error = GetLastError();
    return error == ERROR_SEM_TIMEOUT || error == ERROR_PIPE_BUSY;
}

// A pipe's device: the declared capabilities, no features and no button usages.
class PipeHidDevice : public Win32HidDevice {
  public:
    PipeHidDevice(UniqueHandle handle, HidOpenMode mode, const HidCapabilities& capabilities)
        : Win32HidDevice(std::move(handle), mode, capabilities.output_report_length),
          capabilities_(capabilities) {}

    CapabilitiesResult Capabilities() const override { return {capabilities_, {}}; }
    std::optional<HidFailure> GetFeature(std::span<std::uint8_t>) override {
        return HidFailureOf("HidD_GetFeature", ERROR_NOT_SUPPORTED);
    }
    std::optional<HidFailure> SetFeature(std::span<const std::uint8_t>) override {
        return HidFailureOf("HidD_SetFeature", ERROR_NOT_SUPPORTED);
    }
    std::size_t MaxButtonUsages() const override { return 0; }
    std::optional<std::vector<std::uint16_t>> ButtonUsages(
        std::span<const std::uint8_t>) const override {
        return std::nullopt;
    }

  private:
    HidCapabilities capabilities_;
};

}  // namespace

std::u16string PipeHidPath(std::u16string_view pipe_name) {
    return std::u16string(kPipePrefix) + std::u16string(pipe_name);
}

Win32PipeHidInterfaces::Win32PipeHidInterfaces(std::vector<PipeHidDeclaration> declared)
    : declared_(OnePerPipe(std::move(declared))) {}

std::vector<HidInterfaceInfo> Win32PipeHidInterfaces::Enumerate() const {
    std::vector<HidInterfaceInfo> found;
    const auto start = std::chrono::steady_clock::now();
    for (const PipeHidDeclaration& declaration : declared_) {
        std::u16string path = PipeHidPath(declaration.pipe_name);
        const bool budget_spent = std::chrono::steady_clock::now() - start >= kProbeBudget;
        if (budget_spent || PipeExists(ToWide(path)))
            found.push_back({std::move(path), {declaration.hardware_id}});
    }
    return found;
}

HidInterfaces::OpenResult Win32PipeHidInterfaces::Open(std::u16string_view path,
                                                       HidOpenMode mode) const {
    const auto declared = std::ranges::find_if(
        declared_, [&](const PipeHidDeclaration& d) { return NamesPipe(path, d.pipe_name); });
    if (declared == declared_.end())
        return {nullptr, HidFailureOf("CreateFileW", ERROR_FILE_NOT_FOUND)};
    if (mode == HidOpenMode::Identify)
        return {std::make_unique<PipeHidDevice>(UniqueHandle(), mode, declared->capabilities), {}};
    UniqueHandle handle = OpenHidFile(path);
    if (!handle.Valid())
        return {nullptr, HidFailureOf("CreateFileW", GetLastError())};
    // One server write is one report.
    DWORD pipe_mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(handle.Get(), &pipe_mode, nullptr, nullptr))
        return {nullptr, HidFailureOf("SetNamedPipeHandleState", GetLastError())};
    return {std::make_unique<PipeHidDevice>(std::move(handle), mode, declared->capabilities), {}};
}

}  // namespace korv::win32
