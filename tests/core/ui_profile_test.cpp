#include "profile/ui_profile.h"

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <string>

#include "platform/fake/memory_file_system.h"
#include "platform/fake/memory_keyed_store.h"

namespace korv {
namespace {

using Bytes = std::vector<std::uint8_t>;

const StoreKeyPath kKey{u"software", u"Test"};
constexpr std::u16string_view kName = u"Profile1.pfd";
constexpr std::u16string_view kFolder = u"C:\\users\\gamer\\Documents\\Profile\\";
// A size that stands for a file that exists but cannot be read.
constexpr std::size_t kUnreadable = static_cast<std::size_t>(-1);

Bytes Pattern(std::size_t size, std::uint8_t start = 1) {
    Bytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), start);
    return bytes;
}

class StoreTest : public ::testing::Test {
  protected:
    StoreTest() : store_(registry_, files_) {
        files_.AddFolder(std::u16string(kFolder));
        store_.SetRootKey(StoreScope::User);
        store_.SetKeyPath(kKey);
        store_.SetFileName(kName);
        store_.SetFilePath(kFolder);
        store_.OnAfterLoadFromRegistry = [this](const ProfileStream&) { ++after_events_; };
        store_.OnAfterLoadFromFile = [this](const ProfileStream&) { ++after_events_; };
    }

    void Prime(std::size_t size) { store_.WriteZeros(static_cast<std::int32_t>(size)); }

    fake::MemoryKeyedStore registry_;
    fake::MemoryFileSystem files_;
    TuiProfile store_;
    int after_events_ = 0;
};

TEST_F(StoreTest, RegistryAndFileRoundTripsAreByteExact) {
    const Bytes image = Pattern(113064);
    store_.Write(image.data(), static_cast<std::int32_t>(image.size()));
    ASSERT_TRUE(store_.SaveStreamToRegistry());
    ASSERT_TRUE(store_.SaveStreamToFile());
    const StoredValue* stored = registry_.Find(StoreScope::User, kKey, kName);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->kind, StoredValueKind::Binary);
    EXPECT_EQ(stored->data, image);
    EXPECT_EQ(files_.Files().at(std::u16string(kFolder) + std::u16string(kName)), image);

    Prime(image.size());
    std::fill(store_.Stream().begin(), store_.Stream().end(), 0);
    ASSERT_TRUE(store_.LoadStreamFromRegistry());
    EXPECT_EQ(store_.Stream(), image);
    std::fill(store_.Stream().begin(), store_.Stream().end(), 0);
    ASSERT_TRUE(store_.LoadStreamFromFile());
    EXPECT_EQ(store_.Stream(), image);
}

TEST_F(StoreTest, ShortValueLeavesAShortStreamAndReadCopiesWhatThereIs) {
    Prime(113064);
    registry_.Put(StoreScope::User, kKey, kName, StoredValueKind::Binary, Pattern(10));
    ASSERT_TRUE(store_.LoadStreamFromRegistry());
    EXPECT_EQ(store_.Stream().size(), 10u);

    Bytes buffer(113064, 0xEE);
    EXPECT_EQ(store_.Read(buffer.data(), 113064), 10);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), Pattern(10));
    EXPECT_TRUE(std::all_of(buffer.begin() + 10, buffer.end(), [](auto b) { return b == 0xEE; }));
}

TEST_F(StoreTest, ValueOfTheSameSizeKeepsTheStreamMemory) {
    Prime(64);
    const std::uint8_t* block = store_.Stream().data();
    registry_.Put(StoreScope::User, kKey, kName, StoredValueKind::Binary, Pattern(64));
    ASSERT_TRUE(store_.LoadStreamFromRegistry());
    EXPECT_EQ(store_.Stream().data(), block);
    EXPECT_EQ(store_.Stream(), Pattern(64));
}

TEST_F(StoreTest, FailedRegistryLoadsLeaveTheStreamAndFireNoAfterEvent) {
    using Outcome = StoreLoad::Outcome;
    struct Case {
        const char* what;
        std::function<void(fake::MemoryKeyedStore&, TuiProfile&)> arrange;
        Outcome outcome;  // what LastLoad reports, for the owner's trace line
    };
    const Case cases[] = {
        {"missing value", [](auto&, auto&) {}, Outcome::Missing},
        {"key that cannot be opened",
         [](auto& registry, auto&) { registry.MakeUnavailable(StoreScope::User, kKey); },
         Outcome::Unreadable},
        {"string value",
         [](auto& registry, auto&) {
             registry.Put(StoreScope::User, kKey, kName, StoredValueKind::Text, Pattern(8));
         },
         Outcome::RefusedKind},
        {"32-bit value",
         [](auto& registry, auto&) {
             registry.Put(StoreScope::User, kKey, kName, StoredValueKind::Integer32, Pattern(4));
         },
         Outcome::RefusedKind},
        {"root key not set", [](auto&, auto& store) { store.SetRootKey(std::nullopt); },
         Outcome::NotTried},
        {"empty value name", [](auto&, auto& store) { store.SetFileName(u""); }, Outcome::NotTried},
        {"no key path", [](auto&, auto& store) { store.SetKeyPath({}); }, Outcome::NotTried},
        {"key path with an empty segment",
         [](auto&, auto& store) {
             store.SetKeyPath({u"software", u"", u"Test"});
         },
         Outcome::Unreadable},
        {"cancelled by the before-event",
         [](auto& registry, auto& store) {
             registry.Put(StoreScope::User, kKey, kName, StoredValueKind::Binary, Pattern(8));
             store.OnBeforeLoadFromRegistry = [](ProfileStream&, bool& go_on) { go_on = false; };
         },
         Outcome::NotTried},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::MemoryKeyedStore registry;
        TuiProfile store(registry, files_);
        store.SetRootKey(StoreScope::User);
        store.SetKeyPath(kKey);
        store.SetFileName(kName);
        int after = 0;
        store.OnAfterLoadFromRegistry = [&](const ProfileStream&) { ++after; };
        const Bytes image = Pattern(100, 7);
        store.Write(image.data(), 100);
        c.arrange(registry, store);
        EXPECT_FALSE(store.LoadStreamFromRegistry());
        EXPECT_EQ(store.Stream(), image);
        EXPECT_EQ(after, 0);
        EXPECT_EQ(store.LastLoad().outcome, c.outcome);
    }
}

TEST_F(StoreTest, ValuesOfOtherKindsAreReadAsRawBytes) {
    registry_.Put(StoreScope::User, kKey, kName, StoredValueKind::Other, Pattern(12));
    EXPECT_TRUE(store_.LoadStreamFromRegistry());
    EXPECT_EQ(store_.Stream(), Pattern(12));
    EXPECT_EQ(after_events_, 1);
}

TEST_F(StoreTest, RootKeyNotSetNeverTouchesTheRegistry) {
    store_.SetRootKey(std::nullopt);
    EXPECT_FALSE(store_.LoadStreamFromRegistry());
    EXPECT_FALSE(store_.SaveStreamToRegistry());
    EXPECT_EQ(registry_.ReadCount() + registry_.WriteCount(), 0);
}

TEST_F(StoreTest, CancelledSavesWriteNothing) {
    Prime(16);
    store_.OnBeforeSaveToRegistry = [](ProfileStream&, bool& go_on) { go_on = false; };
    store_.OnBeforeSaveToFile = [](ProfileStream&, bool& go_on) { go_on = false; };
    EXPECT_FALSE(store_.SaveStreamToRegistry());
    EXPECT_FALSE(store_.SaveStreamToFile());
    EXPECT_FALSE(store_.SaveStreamToFile(std::u16string(kFolder) + u"other.pfd"));
    EXPECT_EQ(registry_.WriteCount(), 0);
    EXPECT_EQ(files_.WriteCount(), 0);
}

TEST_F(StoreTest, FilePathTakesOnlyExistingFoldersAndKeepsABackslash) {
    files_.AddFolder(u"D:\\Games");
    store_.SetFilePath(u"D:\\Games");
    EXPECT_EQ(store_.FilePath(), u"D:\\Games\\");
    store_.SetFilePath(u"D:\\Missing");
    EXPECT_EQ(store_.FilePath(), u"D:\\Games\\");
    store_.SetFilePath(u"");
    EXPECT_EQ(store_.FilePath(), u"D:\\Games\\");
}

TEST_F(StoreTest, SavingToAFileCreatesOneFolderLevelOnly) {
    Prime(16);
    EXPECT_TRUE(store_.SaveStreamToFile(std::u16string(kFolder) + u"New\\a.pfd"));
    EXPECT_TRUE(files_.FileExists(std::u16string(kFolder) + u"New\\a.pfd"));
    EXPECT_FALSE(store_.SaveStreamToFile(std::u16string(kFolder) + u"Missing\\Deeper\\b.pfd"));
    // FilePath and FileName stay as they were.
    EXPECT_EQ(store_.FilePath(), kFolder);
    EXPECT_EQ(store_.FileName(), kName);
}

TEST_F(StoreTest, FailedFileSaveKeepsTheGoodFile) {
    const std::u16string path = std::u16string(kFolder) + std::u16string(kName);
    files_.Put(path, Pattern(32));
    Prime(64);
    files_.FailWrites(true);
    EXPECT_FALSE(store_.SaveStreamToFile());
    EXPECT_EQ(files_.Files().at(path), Pattern(32));
}

// Both load forms: a file up to the limit is taken whole; a larger one is not read at all and
// leaves the stream as it was, as a missing or unreadable one does.
TEST_F(StoreTest, FileLoadsTakeFilesUpToTheSizeLimitOnly) {
    using Outcome = StoreLoad::Outcome;
    constexpr std::size_t kLimit = kMaxProfileFileSize;
    const struct {
        const char* what;
        std::optional<std::size_t> size;  // nothing: no file; kUnreadable: a locked file
        Outcome outcome;
    } cases[] = {
        {"missing", std::nullopt, Outcome::Missing},
        {"unreadable", kUnreadable, Outcome::Unreadable},
        {"empty", 0, Outcome::Loaded},
        {"a game profile", 113064, Outcome::Loaded},
        {"exactly the limit", kLimit, Outcome::Loaded},
        {"one byte above the limit", kLimit + 1, Outcome::TooLarge},
    };
    const std::u16string path = std::u16string(kFolder) + std::u16string(kName);
    for (const auto& c : cases) {
        for (const bool by_full_name : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (by_full_name ? " by full name" : ""));
            fake::MemoryFileSystem files;
            files.AddFolder(std::u16string(kFolder));
            if (c.size == kUnreadable)
                files.PutUnreadable(path);
            else if (c.size)
                files.Put(path, Pattern(*c.size));
            TuiProfile store(registry_, files);
            store.SetFileName(kName);
            store.SetFilePath(kFolder);
            int after = 0;
            store.OnAfterLoadFromFile = [&](const ProfileStream&) { ++after; };
            const Bytes before = Pattern(16, 9);
            store.Write(before.data(), 16);

            const bool loaded =
                by_full_name ? store.LoadStreamFromFile(path) : store.LoadStreamFromFile();
            EXPECT_EQ(loaded, c.outcome == Outcome::Loaded);
            EXPECT_EQ(store.LastLoad().outcome, c.outcome);
            if (c.outcome == Outcome::Loaded || c.outcome == Outcome::TooLarge) {
                EXPECT_EQ(store.LastLoad().size, *c.size);
            }
            EXPECT_EQ(store.Stream(), loaded ? files.Files().at(path) : before);
            EXPECT_EQ(files.BytesRead(), loaded ? *c.size : 0u);
            EXPECT_EQ(after, loaded ? 1 : 0);
        }
    }
}

TEST_F(StoreTest, PreSaveSetsPathAndNameWithoutWriting) {
    bool fired = false;
    store_.OnBeforeSaveToFile = [&](ProfileStream&, bool&) { fired = true; };
    EXPECT_TRUE(store_.PreSaveStreamToFile(std::u16string(kFolder) + u"Sub\\x.pfd"));
    EXPECT_EQ(store_.FilePath(), std::u16string(kFolder) + u"Sub\\");
    EXPECT_EQ(store_.FileName(), u"x.pfd");
    EXPECT_TRUE(files_.FolderExists(std::u16string(kFolder) + u"Sub"));
    EXPECT_FALSE(fired);
    EXPECT_EQ(files_.WriteCount(), 0);
    EXPECT_FALSE(store_.PreSaveStreamToFile(u"Q:\\a\\b\\c.pfd"));
}

TEST_F(StoreTest, WriteGrowsAndKeepsTheTailSizeFollowsIt) {
    const Bytes image = Pattern(8);
    store_.Write(image.data(), 8);
    const Bytes head{9, 9};
    EXPECT_EQ(store_.Write(head.data(), 2), 2);
    EXPECT_EQ(store_.Stream(), (Bytes{9, 9, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(store_.Size(), 8);
    store_.SetSize(3);
    EXPECT_EQ(store_.Stream(), (Bytes{9, 9, 3}));
    // Zeros are written the same way: over the head, the tail kept, growing when shorter.
    EXPECT_EQ(store_.WriteZeros(2), 2);
    EXPECT_EQ(store_.Stream(), (Bytes{0, 0, 3}));
    EXPECT_EQ(store_.WriteZeros(5), 5);
    EXPECT_EQ(store_.Stream(), (Bytes{0, 0, 0, 0, 0}));
    EXPECT_EQ(store_.Size(), 5);
    EXPECT_EQ(store_.WriteZeros(0), 0);
}

}  // namespace
}  // namespace korv
