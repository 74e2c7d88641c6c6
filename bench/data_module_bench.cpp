// Start-up cost of the data module: InitDataModule on a clean start (nothing stored) and on a
// full stored set (group, all-settings and five profiles in the registry). Natively it runs on
// the in-memory fakes and also counts the store traffic; on Windows (or Wine) it runs on the
// real registry and file system.
//
//   data_module_bench [iterations]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "bench/bench_figures.h"
#include "profile/dm_unit.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide_string.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_keyed_store.h"
#include "platform/win32/win32_locale.h"
#include "platform/win32/win32_system.h"
#else
#include "platform/fake/fake_locale.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/memory_keyed_store.h"
#endif

namespace korv {
namespace {

using bench::Clock;
using bench::Measure;
using bench::Micros;

#ifdef _WIN32
class SettingsFolderFileSystem : public win32::Win32FileSystem {
  public:
    explicit SettingsFolderFileSystem(std::u16string folder) : folder_(std::move(folder)) {}
    std::u16string ExecutableFolder() const override { return folder_; }

  private:
    std::u16string folder_;
};

int Run(int iterations) {
    const std::wstring id = L"KorvBench" + std::to_wstring(GetCurrentProcessId());
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring settings = std::wstring(temp) + id + L"\\";
    CreateDirectoryW(settings.c_str(), nullptr);
    const std::string ini = "[options]\nProfileRegFolder=" + std::string(id.begin(), id.end()) +
                            "\nprofileFolder=" + std::string(id.begin(), id.end()) + "\n";
    if (!win32::Win32FileSystem().WriteWholeFile(
            win32::FromWide(settings + L"config.ini"),
            std::vector<std::uint8_t>(ini.begin(), ini.end()))) {
        std::printf("config.ini cannot be written in %ls\n", settings.c_str());
        return 1;
    }
    win32::Win32KeyedStore registry;
    SettingsFolderFileSystem files(win32::FromWide(settings));
    win32::Win32Shell shell;
    win32::Win32Locale locale;
    win32::Win32Clock clock;
    win32::Win32DebugOutput debug;
    const DataModulePorts ports{registry, files, shell, locale, clock, debug};
    const std::wstring key = L"software\\" + id;
    auto clear = [&] { RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()); };

    Measure("clean start (registry)", iterations, clear, [&] { LoadDataModule(ports); });
    clear();
    {
        const auto dm = LoadDataModule(ports);
        if (!dm->SaveBackAllProfileInfoToRegistry())
            std::printf("the registry refused the profiles\n");
    }
    Measure(
        "full stored set (registry)", iterations, [] {}, [&] { LoadDataModule(ports); });
    clear();
    return 0;
}
#else
int Run(int iterations) {
    fake::MemoryFileSystem files;
    fake::FakeShell shell;
    files.AddFolder(shell.documents);
    fake::FakeLocale locale;
    fake::FixedClock clock;
    fake::RecordingDebugOutput debug;
    fake::MemoryKeyedStore registry;
    auto ports = [&](fake::MemoryKeyedStore& r) {
        return DataModulePorts{r, files, shell, locale, clock, debug};
    };

    Measure(
        "clean start (memory store)", iterations, [&] { registry = fake::MemoryKeyedStore(); },
        [&] { LoadDataModule(ports(registry)); });
    std::printf("  store traffic of one clean start: %d reads, %d writes\n", registry.ReadCount(),
                registry.WriteCount());

    registry = fake::MemoryKeyedStore();
    static_cast<void>(LoadDataModule(ports(registry))->SaveBackAllProfileInfoToRegistry());
    fake::MemoryKeyedStore full = registry;
    Measure(
        "full stored set (memory store)", iterations, [&] { registry = full; },
        [&] { LoadDataModule(ports(registry)); });
    std::printf("  store traffic of one full start: %d reads, %d writes\n",
                registry.ReadCount() - full.ReadCount(), registry.WriteCount() - full.WriteCount());
    return 0;
}
#endif

}  // namespace
}  // namespace korv

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    return korv::Run(iterations);
}
