#include "platform/fake/memory_file_system.h"

#include "base/path_text.h"
#include "base/utf8_length.h"

namespace korv::fake {
namespace {

std::u16string WithoutTrailingSeparator(std::u16string_view path) {
    while (path.size() > 1 && (path.back() == u'\\' || path.back() == u'/'))
        path.remove_suffix(1);
    return std::u16string(path);
}

// Nothing for a bare name and for a root; "\\name" lies in the root of the current drive, "/name"
// in the root.
std::u16string ParentOf(std::u16string_view path) {
    const std::u16string clean = WithoutTrailingSeparator(path);
    const std::size_t cut = clean.find_last_of(u"\\/");
    if (cut == std::u16string::npos || clean.size() == 1)
        return {};
    return cut == 0 ? clean.substr(0, 1) : clean.substr(0, cut);
}

// A drive root such as "C:" always exists, and so do the root of the current drive ("\\") and
// the root ("/").
bool AlwaysExists(std::u16string_view folder) {
    return folder == u"\\" || folder == u"/" || (folder.size() == 2 && folder[1] == u':');
}

}  // namespace

MemoryFileSystem::MemoryFileSystem(std::u16string executable_folder, char16_t separator)
    : executable_folder_(std::move(executable_folder)), separator_(separator) {
    // The executable's folder and its parents exist.
    for (std::u16string f = WithoutTrailingSeparator(executable_folder_); !f.empty();
         f = ParentOf(f)) {
        folders_.insert(f);
    }
}

void MemoryFileSystem::Put(std::u16string path, std::vector<std::uint8_t> bytes) {
    for (std::u16string f = ParentOf(path); !f.empty(); f = ParentOf(f))
        folders_.insert(f);
    files_[std::move(path)] = std::move(bytes);
}

void MemoryFileSystem::PutUnreadable(std::u16string path) {
    Put(path, {});
    unreadable_.insert(std::move(path));
}

void MemoryFileSystem::AddFolder(std::u16string path) {
    for (std::u16string f = WithoutTrailingSeparator(path); !f.empty(); f = ParentOf(f)) {
        folders_.insert(f);
    }
}

FileRead MemoryFileSystem::ReadWholeFile(std::u16string_view path, std::uint64_t max_bytes) const {
    const std::u16string key(path);
    if (unreadable_.contains(key))
        return {FileRead::Status::Unreadable, 0, {}};
    const auto it = files_.find(key);
    if (it == files_.end())
        return {FileRead::Status::Missing, 0, {}};
    const std::uint64_t size = it->second.size();
    if (size > max_bytes)
        return {FileRead::Status::TooLarge, size, {}};
    bytes_read_ += size;
    return {FileRead::Status::Read, size, it->second};
}

bool MemoryFileSystem::FileExists(std::u16string_view path) const {
    return files_.contains(std::u16string(path));
}

bool MemoryFileSystem::FolderExists(std::u16string_view path) const {
    const std::u16string folder = WithoutTrailingSeparator(path);
    return AlwaysExists(folder) || folders_.contains(folder);
}

bool MemoryFileSystem::CreateFolder(std::u16string_view path) const {
    const std::u16string folder = WithoutTrailingSeparator(path);
    if (folder.empty() || fail_writes_)
        return false;
    if (FolderExists(folder))
        return true;
    if (!FolderExists(ParentOf(folder)))
        return false;
    folders_.insert(folder);
    return true;
}

bool MemoryFileSystem::WriteWholeFile(std::u16string_view path,
                                      std::span<const std::uint8_t> bytes) const {
    if (fail_writes_ || !FolderExists(ParentOf(path)))
        return false;
    files_[std::u16string(path)].assign(bytes.begin(), bytes.end());
    ++write_count_;
    return true;
}

std::u16string MemoryFileSystem::PathInFolder(std::u16string_view folder,
                                              std::u16string_view name) const {
    return korv::PathInFolder(folder, name, separator_);
}

std::u16string MemoryFileSystem::JoinWithSeparator(std::u16string_view path,
                                                   std::u16string_view part) const {
    return korv::JoinWithSeparator(path, part, separator_);
}

std::pair<std::u16string, std::u16string> MemoryFileSystem::SplitFolderAndName(
    std::u16string_view path) const {
    return korv::SplitFolderAndName(path, separator_);
}

bool MemoryFileSystem::IsFullPath(std::u16string_view path) const {
    if (separator_ == u'/')
        return path.starts_with(u'/');
    const bool drive = path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
    return drive || path.starts_with(u"\\\\");
}

// An open file of text: it follows its text through renames, as an open file on a disk
// follows its file; its size counts the text as UTF-8, with what other open files added.
class MemoryFileSystem::TextFile : public AppendingFile {
  public:
    TextFile(const MemoryFileSystem& files, std::shared_ptr<AppendedText> text)
        : files_(files), text_(std::move(text)) {}

    [[nodiscard]] bool Append(std::u16string_view text) override {
        if (files_.fail_writes_)
            return false;
        text_->text += text;
        text_->size += Utf8Length(text);
        return true;
    }
    std::uint64_t Size() const override { return text_->size; }
    [[nodiscard]] bool IsNamedBy(std::u16string_view path) const override {
        const auto it = files_.texts_.find(std::u16string(path));
        return it != files_.texts_.end() && it->second == text_;
    }

  private:
    const MemoryFileSystem& files_;
    std::shared_ptr<AppendedText> text_;
};

std::unique_ptr<AppendingFile> MemoryFileSystem::OpenForAppending(std::u16string_view path) const {
    const std::u16string key(path);
    if (!FolderExists(ParentOf(key)) || unreadable_.contains(key) ||
        (fail_writes_ && !texts_.contains(key))) {
        return nullptr;
    }
    auto& text = texts_[key];
    if (text == nullptr)
        text = std::make_shared<AppendedText>();
    return std::make_unique<TextFile>(*this, text);
}

bool MemoryFileSystem::Rename(std::u16string_view from, std::u16string_view to) const {
    ++rename_count_;
    const auto it = texts_.find(std::u16string(from));
    if (fail_renames_ || it == texts_.end() || !FolderExists(ParentOf(to)))
        return false;
    auto text = std::move(it->second);
    texts_.erase(it);
    texts_[std::u16string(to)] = std::move(text);
    return true;
}

std::optional<std::u16string> MemoryFileSystem::Text(std::u16string_view path) const {
    const auto it = texts_.find(std::u16string(path));
    return it == texts_.end() ? std::nullopt : std::optional(it->second->text);
}

}  // namespace korv::fake
