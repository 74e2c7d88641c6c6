#pragma once
// A folder of the test's own under the system's temporary folder, removed with everything in it
// when the test ends.

#include <stdlib.h>

#include <filesystem>
#include <set>
#include <string>

namespace korv::os_linux::testing {

class TempFolder {
  public:
    // `purpose` names the folder, "korv-<purpose>.XXXXXX", so that a folder left behind by a
    // crash says whose it was.
    explicit TempFolder(const char* purpose = "linux-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string("korv-") + purpose + ".XXXXXX"))
                .string();
        if (mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // False when the folder could not be made; Path is empty then.
    [[nodiscard]] bool Valid() const { return !path_.empty(); }
    [[nodiscard]] const std::string& Path() const { return path_; }
    // A name inside the folder.
    [[nodiscard]] std::string operator/(const std::string& name) const {
        return path_ + "/" + name;
    }
    std::u16string Path16() const { return std::u16string(path_.begin(), path_.end()); }

    // The names in a folder below this one ("" for this one itself).
    std::set<std::string> Names(const std::string& below = {}) const {
        return NamesIn(path_ + (below.empty() ? "" : "/" + below));
    }
    // The names in any folder; none when it is not there.
    static std::set<std::string> NamesIn(const std::string& folder) {
        std::set<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            names.insert(entry.path().filename().string());
        return names;
    }

  private:
    std::string path_;
};

}  // namespace korv::os_linux::testing
