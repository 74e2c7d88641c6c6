#pragma once
// A file system held in memory, for the core's tests.

#include <map>

#include "ports/file_system.h"

namespace korv::fake {

class MemoryFileSystem : public FileSystem {
  public:
    explicit MemoryFileSystem(std::u16string executable_folder = u"C:\\Program Files\\Monitor\\")
        : executable_folder_(std::move(executable_folder)) {}

    void Put(std::u16string path, std::vector<std::uint8_t> bytes) {
        files_[std::move(path)] = std::move(bytes);
    }
    // A file that exists but cannot be read (locked or without permission).
    void PutUnreadable(std::u16string path) { unreadable_[std::move(path)] = true; }

    std::optional<std::vector<std::uint8_t>> ReadWholeFile(
        std::u16string_view path) const override {
        const std::u16string key(path);
        if (unreadable_.contains(key))
            return std::nullopt;
        const auto it = files_.find(key);
        if (it == files_.end())
            return std::nullopt;
        return it->second;
    }

    std::u16string ExecutableFolder() const override { return executable_folder_; }

  private:
    std::u16string executable_folder_;
    std::map<std::u16string, std::vector<std::uint8_t>> files_;
    std::map<std::u16string, bool> unreadable_;
};

}  // namespace korv::fake
