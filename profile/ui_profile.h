#pragma once
// TuiProfile: one block of profile data kept as an in-memory byte stream and moved, unchanged,
// to and from one binary registry value or one file. It knows nothing of the record it carries;
// its owner copies records in and out with Write and Read and fills it with defaults through
// OnRestoreToDefault. Every store operation has a before-event that may cancel it and an
// after-event that sees the result. Failures are False results that leave the stream as it was.
//
// Threads: a store belongs to the thread of the data module that owns it (the main thread).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "ports/keyed_store.h"

namespace korv {

class FileSystem;

using ProfileStream = std::vector<std::uint8_t>;

// The largest profile file or registry value a store reads: four times the largest record a store
// carries (a game profile, 113,064 bytes). An image longer than its record keeps its tail, so a
// file written by a configuration program whose records grew still loads whole; anything larger is
// no profile, and five game stores on such files would hold megabytes for nothing.
inline constexpr std::uint64_t kMaxProfileFileSize = 4 * 113064;

// What the last load of a store found, for the owner's trace lines.
struct StoreLoad {
    enum class Outcome : std::uint8_t {
        Loaded,
        NotTried,     // cancelled by the before-event, or the store is not set up for it
        Missing,      // no value or file of that name
        Unreadable,   // the key or the file cannot be read
        TooLarge,     // the file or value is larger than kMaxProfileFileSize: nothing was read
        RefusedKind,  // a string or 32-bit registry value, which no store writes
    };
    Outcome outcome = Outcome::NotTried;
    StoredValueKind kind = StoredValueKind::Binary;  // the value's kind, for registry loads
    std::uint64_t size = 0;                          // the value's or the file's size, when known
};

class TuiProfile {
  public:
    using TStreamEvent = std::function<void(ProfileStream& stream)>;
    using TBeforeEvent = std::function<void(ProfileStream& stream, bool& bContinue)>;
    using TAfterEvent = std::function<void(const ProfileStream& stream)>;

    TuiProfile(KeyedStore& registry, const FileSystem& files);
    TuiProfile(const TuiProfile&) = delete;
    TuiProfile& operator=(const TuiProfile&) = delete;

    // Properties. RootKey is the store's scope, none until set. FilePath keeps a trailing path
    // separator and only takes folders that exist.
    std::optional<StoreScope> RootKey() const { return FRootKey; }
    void SetRootKey(std::optional<StoreScope> scope) { FRootKey = scope; }
    const StoreKeyPath& KeyPath() const { return FKeyPath; }
    void SetKeyPath(StoreKeyPath path) { FKeyPath = std::move(path); }
    const std::u16string& FileName() const { return FFileName; }
    void SetFileName(std::u16string_view name) { FFileName = name; }
    const std::u16string& FilePath() const { return FFilePath; }
    void SetFilePath(std::u16string_view path);
    std::int64_t Size() const { return FSize; }
    void SetSize(std::int64_t size);

    // The stream itself, for the default handlers and for tests.
    ProfileStream& Stream() { return FMemoryStream; }
    const ProfileStream& Stream() const { return FMemoryStream; }

    // Writes count bytes at the start of the stream (it grows if shorter; a longer stream keeps
    // its tail) and records the stream's size. Returns the number of bytes written.
    std::int32_t Write(const void* buffer, std::int32_t count);
    // Writes count zero bytes at the start of the stream, as Write would from a buffer of zeros,
    // without one.
    std::int32_t WriteZeros(std::int32_t count);
    // Copies up to count bytes from the start of the stream; the rest of the buffer is left as
    // it was. Returns the number copied.
    std::int32_t Read(void* buffer, std::int32_t count) const;

    template <typename Record>
    std::int32_t WriteRecord(const Record& record) {
        static_assert(std::is_trivially_copyable_v<Record>);
        return Write(&record, static_cast<std::int32_t>(sizeof(Record)));
    }
    template <typename Record>
    std::int32_t ReadRecord(Record& record) const {
        static_assert(std::is_trivially_copyable_v<Record>);
        return Read(&record, static_cast<std::int32_t>(sizeof(Record)));
    }

    void RestoreToDefault();

    // What the last LoadStreamFromRegistry or LoadStreamFromFile found.
    const StoreLoad& LastLoad() const { return last_load_; }

    [[nodiscard]] bool LoadStreamFromRegistry();
    [[nodiscard]] bool SaveStreamToRegistry();
    [[nodiscard]] bool LoadStreamFromFile();
    [[nodiscard]] bool LoadStreamFromFile(std::u16string_view strFilewithpath);
    [[nodiscard]] bool SaveStreamToFile();
    [[nodiscard]] bool SaveStreamToFile(std::u16string_view strFileWithPath);
    [[nodiscard]] bool PreSaveStreamToFile(std::u16string_view strFileWithPath);

    // Events, in declaration order.
    TStreamEvent OnRestoreToDefault;
    TBeforeEvent OnBeforeSaveToRegistry;
    TBeforeEvent OnBeforeSaveToFile;
    TBeforeEvent OnBeforeLoadFromRegistry;
    TBeforeEvent OnBeforeLoadFromFile;
    TAfterEvent OnAfterSaveToRegistry;
    TAfterEvent OnAfterSaveToFile;
    TAfterEvent OnAfterLoadFromRegistry;
    TAfterEvent OnAfterLoadFromFile;

  private:
    // Grows the stream to at least count bytes, records its size and returns its start.
    std::uint8_t* StartOfWrite(std::size_t count);
    bool Continue(const TBeforeEvent& event);
    bool RegistryUsable() const;
    bool LoadExistingFile(std::u16string_view path);
    bool LoadWholeFile(std::u16string_view path);
    bool SaveWholeFile(std::u16string_view path);

    KeyedStore& registry_;
    const FileSystem& files_;
    ProfileStream FMemoryStream;
    std::optional<StoreScope> FRootKey;
    StoreKeyPath FKeyPath;
    std::u16string FFileName;
    std::u16string FFilePath;
    std::int64_t FSize = 0;
    StoreLoad last_load_;
};

}  // namespace korv
