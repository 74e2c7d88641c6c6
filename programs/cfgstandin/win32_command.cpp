#include "programs/cfgstandin/win32_command.h"

// clang-format off
#include <windows.h>
// clang-format on

#include "platform/win32/peer_messages.h"
#include "platform/win32/wide_string.h"
#include "profile/dm_unit.h"

namespace korv::win32 {
namespace {

constexpr UINT kMonitorAnswerMs = 5000;

UINT MessageOf(const ReloadRequest& request) {
    return request.kind == ReloadRequest::Kind::ReloadProfiles ? UM_RELOAD_PROFILES
                                                               : UM_RELOAD_SETTINGS;
}

// Sent, so that the monitor has reloaded when the command ends; a monitor that does not answer
// within a few seconds is reported.
CommandOutcome AskMonitor(const ReloadRequest& request, const std::wstring& what) {
    HWND monitor = FindWindowW(ToWide(kMonitorWindowClass).c_str(), nullptr);
    if (monitor == nullptr)
        return {kExitNoMonitor,
                what + L"; the monitor is not running: it takes effect at its start"};
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(monitor, MessageOf(request), 0, request.profile_id, SMTO_ABORTIFHUNG,
                             kMonitorAnswerMs, &ignored)) {
        return {kExitNoAnswer, what + L"; the monitor did not answer the reload request"};
    }
    return {kExitDone, what + L"; monitor asked to reload"};
}

}  // namespace

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                        nullptr, nullptr);
    return utf8;
}

LogFile::LogFile(const std::wstring& path) {
    if (!path.empty()) {
        file_.Reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
}

void LogFile::Write(const std::wstring& line) const {
    if (!file_.Valid())
        return;
    const std::string utf8 = Utf8(line + L"\n");
    DWORD written = 0;
    WriteFile(file_.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

CommandOutcome CarryCommand(StandInCommand command, Win32Platform& platform) {
    if (const auto problem = ResolveLanguage(command, {platform.locale, platform.files}))
        return {kExitUsage, ToWide(*problem)};
    const auto dm = LoadDataModule(platform.DataPorts(), platform.settings);
    if (command.kind == StandInCommand::Kind::Show)
        return {kExitDone, ToWide(ListButtons(*dm, command.profile))};
    if (command.kind == StandInCommand::Kind::ListFunctions)
        return {kExitDone, ToWide(ListFunctions())};
    const std::wstring what = ToWide(DescribeStandInCommand(command));
    const ReloadRequest request = ApplyStandInCommand(command, *dm);
    if (!request.stored) {
        return {kExitNotStored,
                what + L": cannot be stored in the registry; the monitor was not asked to reload"};
    }
    return AskMonitor(request, what);
}

}  // namespace korv::win32
