#include "platform/linux/posix_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/linux/unique_fd.h"
#include "platform/linux/utf8_text.h"

namespace korv::os_linux {
namespace {

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written =
            write(fd, bytes.data(), std::min<std::size_t>(bytes.size(), 1u << 20));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

// Reads until the buffer is full or the file ends; the count read, nothing on an error.
std::optional<std::size_t> ReadInto(int fd, std::span<std::uint8_t> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got =
            read(fd, buffer.data() + done, std::min<std::size_t>(buffer.size() - done, 1u << 20));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// A name beside the target, hidden, and unique to this thread of this process: no other writer
// can be using it at the same time.
std::string TemporaryNameFor(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    const std::size_t name_at = cut == std::string::npos ? 0 : cut + 1;
    return path.substr(0, name_at) + "." + path.substr(name_at) + ".tmp-" +
           std::to_string(getpid()) + "-" + std::to_string(syscall(SYS_gettid));
}

bool SyncFolder(const std::string& folder) {
    const UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.Valid() && fsync(fd.Get()) == 0;
}

}  // namespace

std::optional<std::string> NativePath(std::u16string_view path) {
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos)
        return std::nullopt;
    return Utf8FromUtf16(path);
}

std::string ParentFolder(std::string_view path) {
    const std::size_t cut = path.rfind('/');
    if (cut == std::string_view::npos)
        return ".";
    return cut == 0 ? "/" : std::string(path.substr(0, cut));
}

FileRead ReadBoundedFile(const std::string& path, std::uint64_t max_bytes) {
    // Non-blocking, so that a pipe put where a file belongs cannot hold the open up.
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid()) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        return {missing ? FileRead::Status::Missing : FileRead::Status::Unreadable, 0, {}};
    }
    struct stat info {};
    if (fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0)
        return {FileRead::Status::Unreadable, 0, {}};
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > max_bytes || size > SIZE_MAX)
        return {FileRead::Status::TooLarge, size, {}};
    FileRead read{FileRead::Status::Read, size, {}};
    read.bytes.resize(static_cast<std::size_t>(size));
    const std::optional<std::size_t> done = ReadInto(fd.Get(), read.bytes);
    if (!done)
        return {FileRead::Status::Unreadable, size, {}};
    read.bytes.resize(*done);  // the file shrank while it was read
    read.size = *done;
    return read;
}

bool ReplaceFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::string temporary = TemporaryNameFor(path);
    bool written = false;
    {
        UniqueFd fd(
            open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
        // A leftover of a writer that died with this process and thread number is overwritten.
        written = fd.Valid() && WriteAll(fd.Get(), bytes) && fsync(fd.Get()) == 0 && fd.Reset();
    }
    if (written && rename(temporary.c_str(), path.c_str()) == 0) {
        // The rename is on disk once the folder is: a crash now keeps the new file.
        static_cast<void>(SyncFolder(ParentFolder(path)));
        return true;
    }
    unlink(temporary.c_str());
    return false;
}

}  // namespace korv::os_linux
