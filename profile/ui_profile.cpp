#include "profile/ui_profile.h"

#include <algorithm>
#include <cstring>

#include "ports/file_system.h"

namespace korv {

namespace {

StoreLoad::Outcome RegistryOutcome(const StoredValue& value) {
    switch (value.status) {
        case StoredValue::Status::Found:
            break;
        case StoredValue::Status::NoValue:
            return StoreLoad::Outcome::Missing;
        case StoredValue::Status::KeyUnavailable:
            return StoreLoad::Outcome::Unreadable;
        case StoredValue::Status::TooLarge:
            return StoreLoad::Outcome::TooLarge;
    }
    const bool refused =
        value.kind == StoredValueKind::Text || value.kind == StoredValueKind::Integer32;
    return refused ? StoreLoad::Outcome::RefusedKind : StoreLoad::Outcome::Loaded;
}

StoreLoad::Outcome FileOutcome(FileRead::Status status) {
    switch (status) {
        case FileRead::Status::Read:
            return StoreLoad::Outcome::Loaded;
        case FileRead::Status::Missing:
            return StoreLoad::Outcome::Missing;
        case FileRead::Status::TooLarge:
            return StoreLoad::Outcome::TooLarge;
        case FileRead::Status::Unreadable:
            break;
    }
    return StoreLoad::Outcome::Unreadable;
}

}  // namespace

TuiProfile::TuiProfile(KeyedStore& registry, const FileSystem& files)
    : registry_(registry), files_(files) {}

void TuiProfile::SetFilePath(std::u16string_view path) {
    if (path.empty() || path == FFilePath || !files_.FolderExists(path))
        return;
    FFilePath = files_.PathInFolder(path, {});
}

void TuiProfile::SetSize(std::int64_t size) {
    if (size == FSize || size < 0)
        return;
    FSize = size;
    FMemoryStream.resize(static_cast<std::size_t>(size));
}

std::uint8_t* TuiProfile::StartOfWrite(std::size_t count) {
    if (FMemoryStream.size() < count)
        FMemoryStream.resize(count);
    FSize = static_cast<std::int64_t>(FMemoryStream.size());
    return FMemoryStream.data();
}

std::int32_t TuiProfile::Write(const void* buffer, std::int32_t count) {
    if (count <= 0)
        return 0;
    const auto n = static_cast<std::size_t>(count);
    std::memcpy(StartOfWrite(n), buffer, n);
    return count;
}

std::int32_t TuiProfile::WriteZeros(std::int32_t count) {
    if (count <= 0)
        return 0;
    const auto n = static_cast<std::size_t>(count);
    std::memset(StartOfWrite(n), 0, n);
    return count;
}

std::int32_t TuiProfile::Read(void* buffer, std::int32_t count) const {
    if (count <= 0)
        return 0;
    const std::size_t n = std::min(FMemoryStream.size(), static_cast<std::size_t>(count));
    if (n > 0)
        std::memcpy(buffer, FMemoryStream.data(), n);
    return static_cast<std::int32_t>(n);
}

void TuiProfile::RestoreToDefault() {
    if (OnRestoreToDefault)
        OnRestoreToDefault(FMemoryStream);
}

bool TuiProfile::Continue(const TBeforeEvent& event) {
    bool go_on = true;
    if (event)
        event(FMemoryStream, go_on);
    return go_on;
}

bool TuiProfile::RegistryUsable() const {
    return FRootKey.has_value() && !FKeyPath.empty() && !FFileName.empty();
}

// A key that cannot be opened, a missing value, and a string or 32-bit value (which no store
// ever writes) are failed loads that leave the stream as it was, so the owner's default takes
// over.
bool TuiProfile::LoadStreamFromRegistry() {
    last_load_ = {};
    if (!Continue(OnBeforeLoadFromRegistry) || !RegistryUsable())
        return false;
    StoredValue value = registry_.ReadValue(*FRootKey, FKeyPath, FFileName, kMaxProfileFileSize);
    last_load_ = {RegistryOutcome(value), value.kind, value.size};
    if (last_load_.outcome != StoreLoad::Outcome::Loaded)
        return false;
    if (value.data.size() == FMemoryStream.size()) {
        std::ranges::copy(value.data, FMemoryStream.begin());  // same size: keep the block
    } else {
        FMemoryStream = std::move(value.data);
    }
    if (OnAfterLoadFromRegistry)
        OnAfterLoadFromRegistry(FMemoryStream);
    return true;
}

bool TuiProfile::SaveStreamToRegistry() {
    if (!Continue(OnBeforeSaveToRegistry) || !RegistryUsable())
        return false;
    if (!registry_.WriteBinaryValue(*FRootKey, FKeyPath, FFileName, FMemoryStream))
        return false;
    if (OnAfterSaveToRegistry)
        OnAfterSaveToRegistry(FMemoryStream);
    return true;
}

bool TuiProfile::LoadWholeFile(std::u16string_view path) {
    FileRead read = files_.ReadWholeFile(path, kMaxProfileFileSize);
    last_load_ = {FileOutcome(read.status), StoredValueKind::Binary, read.size};
    if (read.status != FileRead::Status::Read)
        return false;
    FMemoryStream = std::move(read.bytes);
    if (OnAfterLoadFromFile)
        OnAfterLoadFromFile(FMemoryStream);
    return true;
}

bool TuiProfile::LoadExistingFile(std::u16string_view path) {
    if (!files_.FileExists(path)) {
        last_load_.outcome = StoreLoad::Outcome::Missing;
        return false;
    }
    return LoadWholeFile(path);
}

bool TuiProfile::SaveWholeFile(std::u16string_view path) {
    if (!files_.WriteWholeFile(path, FMemoryStream))
        return false;
    if (OnAfterSaveToFile)
        OnAfterSaveToFile(FMemoryStream);
    return true;
}

bool TuiProfile::LoadStreamFromFile() {
    last_load_ = {};
    if (!Continue(OnBeforeLoadFromFile) || FFilePath.empty())
        return false;
    FFilePath = files_.PathInFolder(FFilePath, {});
    return LoadExistingFile(files_.PathInFolder(FFilePath, FFileName));
}

bool TuiProfile::LoadStreamFromFile(std::u16string_view strFilewithpath) {
    last_load_ = {};
    if (!files_.FileExists(strFilewithpath)) {
        last_load_.outcome = StoreLoad::Outcome::Missing;
        return false;
    }
    return Continue(OnBeforeLoadFromFile) && LoadExistingFile(strFilewithpath);
}

bool TuiProfile::SaveStreamToFile() {
    if (!Continue(OnBeforeSaveToFile) || FFilePath.empty())
        return false;
    FFilePath = files_.PathInFolder(FFilePath, {});
    return SaveWholeFile(files_.PathInFolder(FFilePath, FFileName));
}

bool TuiProfile::SaveStreamToFile(std::u16string_view strFileWithPath) {
    const auto [folder, name] = files_.SplitFolderAndName(strFileWithPath);
    if (!folder.empty() && !files_.FolderExists(folder) && !files_.CreateFolder(folder)) {
        return false;
    }
    return Continue(OnBeforeSaveToFile) && SaveWholeFile(strFileWithPath);
}

bool TuiProfile::PreSaveStreamToFile(std::u16string_view strFileWithPath) {
    const auto [folder, name] = files_.SplitFolderAndName(strFileWithPath);
    if (!folder.empty() && !files_.FolderExists(folder) && !files_.CreateFolder(folder)) {
        return false;
    }
    FFilePath = folder;
    FFileName = name;
    return true;
}

}  // namespace korv
