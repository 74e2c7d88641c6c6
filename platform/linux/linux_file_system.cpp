#include "platform/linux/linux_file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "base/path_text.h"
#include "platform/linux/posix_files.h"
#include "platform/linux/utf8_text.h"

namespace korv::os_linux {
namespace {

std::optional<mode_t> TypeOf(std::u16string_view path) {
    const std::optional<std::string> native = NativePath(path);
    struct stat info {};
    if (!native || stat(native->c_str(), &info) != 0)
        return std::nullopt;
    return info.st_mode & S_IFMT;
}

}  // namespace

LinuxFileSystem::LinuxFileSystem(std::u16string data_folder)
    : data_folder_(data_folder.empty() ? InstalledDataFolder(ExecutableFolder())
                                       : std::move(data_folder)) {}

std::u16string LinuxFileSystem::InstalledDataFolder(std::u16string_view executable_folder) {
    std::u16string_view folder = executable_folder;
    while (folder.size() > 1 && folder.back() == u'/')
        folder.remove_suffix(1);
    const std::size_t cut = folder.rfind(u'/');
    const std::u16string prefix(cut == std::u16string_view::npos ? u"" : folder.substr(0, cut + 1));
    return (prefix.empty() ? u"/" : prefix) + u"share/korvanth417/";
}

FileRead LinuxFileSystem::ReadWholeFile(std::u16string_view path, std::uint64_t max_bytes) const {
    const std::optional<std::string> native = NativePath(path);
    if (!native)
        return {FileRead::Status::Missing, 0, {}};
    return ReadBoundedFile(*native, max_bytes);
}

std::u16string LinuxFileSystem::ExecutableFolder() const {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", target.data(), target.size());
        if (length <= 0)
            return {};
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            break;
        }
        target.resize(target.size() * 2);  // a long path: again with room for it
    }
    return Utf16FromUtf8(target.substr(0, target.rfind('/') + 1));
}

bool LinuxFileSystem::FileExists(std::u16string_view path) const {
    const std::optional<mode_t> type = TypeOf(path);
    return type && *type != S_IFDIR;
}

bool LinuxFileSystem::FolderExists(std::u16string_view path) const {
    return TypeOf(path) == S_IFDIR;
}

bool LinuxFileSystem::CreateFolder(std::u16string_view path) const {
    const std::optional<std::string> native = NativePath(path);
    return native && (mkdir(native->c_str(), 0777) == 0 || FolderExists(path));
}

bool LinuxFileSystem::WriteWholeFile(std::u16string_view path,
                                     std::span<const std::uint8_t> bytes) const {
    const std::optional<std::string> native = NativePath(path);
    return native && ReplaceFileAtomically(*native, bytes);
}

std::u16string LinuxFileSystem::PathInFolder(std::u16string_view folder,
                                             std::u16string_view name) const {
    return korv::PathInFolder(folder, name, u'/');
}

std::u16string LinuxFileSystem::JoinWithSeparator(std::u16string_view path,
                                                  std::u16string_view part) const {
    return korv::JoinWithSeparator(path, part, u'/');
}

std::pair<std::u16string, std::u16string> LinuxFileSystem::SplitFolderAndName(
    std::u16string_view path) const {
    return korv::SplitFolderAndName(path, u'/');
}

}  // namespace korv::os_linux
