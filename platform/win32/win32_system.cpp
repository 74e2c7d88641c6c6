#include "platform/win32/win32_system.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
// clang-format on

#include "platform/win32/wide_string.h"

namespace korv::win32 {
namespace {

// FILETIME counts 100 ns from 1601-01-01; TDateTime counts days from 1899-12-30.
constexpr double kFileTimeTicksPerDay = 864000000000.0;
constexpr double kDaysFrom1601To1899 = 109205.0;

}  // namespace

double Win32Clock::LocalDateTimeNow() const {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    FILETIME as_file_time{};
    SystemTimeToFileTime(&local, &as_file_time);
    const ULARGE_INTEGER ticks{{as_file_time.dwLowDateTime, as_file_time.dwHighDateTime}};
    return static_cast<double>(ticks.QuadPart) / kFileTimeTicksPerDay - kDaysFrom1601To1899;
}

std::u16string Win32Shell::DocumentsFolder() const {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return {};
    }
    return FromWide(path);
}

std::u16string LocalAppDataFolder() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return FromWide(path);
}

bool Win32Shell::OpenFile(std::u16string_view file, std::u16string_view folder) const {
    const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(
        nullptr, L"open", ToWide(file).c_str(), nullptr, ToWide(folder).c_str(), SW_SHOWNORMAL));
    return result > 32;
}

void Win32DebugOutput::Trace(std::u16string_view line) const {
    OutputDebugStringW(ToWide(line).c_str());
}

}  // namespace korv::win32
