// The settings-file reader against the platform's own profile API: for a table of tricky files
// every lookup, every key list and every setting read must be what GetPrivateProfileStringW
// gives for the same file.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings_file.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_locale.h"

namespace korv::win32 {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) {
    return {text.begin(), text.end()};
}

Bytes Utf16(std::u16string_view text, bool big_endian = false) {
    Bytes bytes = big_endian ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
    for (char16_t c : text) {
        const auto lo = static_cast<std::uint8_t>(c & 0xFF), hi = static_cast<std::uint8_t>(c >> 8);
        bytes.push_back(big_endian ? hi : lo);
        bytes.push_back(big_endian ? lo : hi);
    }
    return bytes;
}

Bytes Utf8WithBom(std::string_view text) {
    Bytes bytes{0xEF, 0xBB, 0xBF};
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

// For trace messages: the name with anything outside ASCII as '?'.
std::string Narrow(std::wstring_view s) {
    std::string out;
    for (wchar_t c : s)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::string QuotedOfLength(std::size_t inner) {
    return "\"" + std::string(inner, 'q') + "\"";
}

struct TrickyFile {
    const char* what;
    Bytes bytes;
};

std::vector<TrickyFile> TrickyFiles() {
    return {
        {"quotes", Text("[options]\nProfileRegFolder=\"Quoted Folder\"\nprofileFolder='single'\n"
                        "profilePrefix=\"mismatch'\nprofileMacroFolder=\"\n"
                        "[OtherConfig]\nOfficialWebsite=\"\"\nNoLogo=\"5\"\n")},
        {"blanks", Text("  [ options ]\nprofileFolder=inner blanks\n[options]  \n"
                        "  ProfileRegFolder   =   spaced   \t\n\tprofileFolder=\t\n"
                        "profilePrefix = a b \n")},
        {"case", Text("[OPTIONS]\nPROFILEREGFOLDER=Upper\n[otherconfig]\nnologo=0X1F\n"
                      "OFFICIALWEBSITE=https://x\n[helpfiles]\nA=1\na=2\nB=\nC=3\n")},
        {"duplicate sections and keys",
         Text("[options]\nprofileFolder=first\nprofileFolder=second\n[options]\n"
              "profilePrefix=in second section\n[IncludeHIDDeviceList]\nid1=a\nid2=b\nid1=c\n"
              "id3=\nid4=d\n[HelpFiles]\nx=1\n[HelpFiles]\ny=2\n")},
        {"comments", Text("; leading comment\n[options]\n;ProfileRegFolder=commented\n"
                          "profileFolder=value ; not a comment\n#profilePrefix=hash\n"
                          "[HelpFiles]\n;x=1\ny=2\nnovalue\n# z=3\n")},
        {"no final newline", Text("[OtherConfig]\nNoLogo=12")},
        {"lone CR line ends", Text("[options]\rprofileFolder=cr\r\n[OtherConfig]\r\nNoLogo=1\r")},
        {"CR LF line ends", Text("[options]\r\nprofileFolder=crlf\r\n\r\n[HelpFiles]\r\na=b\r\n")},
        {"UTF-16LE with BOM",
         Utf16(u"[options]\r\nprofileFolder=\u041f\u0440\u043e\u0444\u0438\u043b\u044c\r\n"
               u"profilePrefix=\u6863\u6848\r\n[IncludeHIDDeviceList]\r\nid1=HID\\VID_1\r\n")},
        {"UTF-16BE with BOM", Utf16(u"[options]\nprofileFolder=big\u00e9\n", true)},
        {"UTF-8 with BOM", Utf8WithBom("[options]\nprofileFolder=\xe6\xa1\xa3\n")},
        {"8-bit text",
         Text("[options]\nprofileFolder=Caf\xe9 \x80\n[HelpFiles]\n\xc9t\xe9=\xe9\n")},
        {"long values", Text("[options]\nProfileRegFolder=" + std::string(3000, 'v') +
                             "\nprofileFolder=" + QuotedOfLength(2045) + "\nprofilePrefix=" +
                             QuotedOfLength(2046) + "\nprofileMacroFolder=" + QuotedOfLength(2047) +
                             "\n[OtherConfig]\nOfficialWebsite=" + QuotedOfLength(2048) + "\n")},
        {"odd section lines", Text("[options\nprofileFolder=x\n[]\nprofilePrefix=y\n[options]\n"
                                   "=novalue\nprofileMacroFolder\n[a]b]\nk=1\n")},
        {"empty file", Text("")},
        {"byte-order mark only", Utf16(u"")},
        {"unusual blanks", Utf16(u"[options]\nprofileFolder=\u00a0x\u3000\n"
                                 u"profilePrefix=\x1a"
                                 u"y\x1a\n\u3000[OtherConfig]\nNoLogo=\t7\n")},
        {"non-ASCII letters in names", Utf16(u"[OtherConf\u0130g]\nNoLogo=7\n[Options]\n"
                                             u"profileFolder=\u212a\n[HELPFILES]\n\u00c9=1\n")},
        {"NUL inside a value", Text(std::string("[options]\nprofileFolder=ab\0cd\n", 29))},
        {"blanks around include ids",
         Text("[IncludeHIDDeviceList]\n id1 = HID\\VID_1234&PID_5678&MI_01 \n"
              "ID2 = \"quoted id\"\n")},
    };
}

// The sections and keys every file is asked for: those the monitor reads and a few more.
const wchar_t* const kSections[] = {L"options",
                                    L"OPTIONS",
                                    L" options ",
                                    L"OtherConfig",
                                    L"OtherConfIg",
                                    L"HelpFiles",
                                    L"IncludeHIDDeviceList",
                                    L"a]b",
                                    L"a",
                                    L"missing"};
const wchar_t* const kKeys[] = {L"ProfileRegFolder",
                                L"profileFolder",
                                L"profilePrefix",
                                L"profileMacroFolder",
                                L"NoLogo",
                                L"OfficialWebsite",
                                L"id1",
                                L"id2",
                                L"id3",
                                L"id4",
                                L"k",
                                L"a",
                                L"A",
                                L"x",
                                L"y",
                                L";x",
                                L"novalue",
                                L"#profilePrefix",
                                L"\u00e9",
                                L" k "};

class SettingsFileAgainstPlatform : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        folder_ = std::wstring(temp) + L"korv_settings_" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
    }
    void TearDown() override {
        for (const std::wstring& path : written_)
            DeleteFileW(path.c_str());
        RemoveDirectoryW(folder_.c_str());
    }

    // Each file gets a name of its own: the profile API keeps recently read files cached.
    std::wstring Write(const Bytes& bytes) {
        const std::wstring path = folder_ + L"\\case" + std::to_wstring(written_.size()) + L".ini";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        written_.push_back(path);
        return path;
    }

    std::wstring folder_;
    std::vector<std::wstring> written_;
};

std::wstring PlatformString(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                            const wchar_t* default_value) {
    std::wstring buffer(2048, L'\0');
    const DWORD n =
        GetPrivateProfileStringW(section, key, default_value, buffer.data(), 2048, path.c_str());
    buffer.resize(n);
    return buffer;
}

std::vector<std::u16string> PlatformKeyNames(const std::wstring& path, const wchar_t* section) {
    std::wstring buffer(65536, L'\0');
    const DWORD n =
        GetPrivateProfileStringW(section, nullptr, L"", buffer.data(), 65536, path.c_str());
    std::vector<std::u16string> names;
    for (std::size_t at = 0; at < n && buffer[at] != L'\0';) {
        const std::wstring name(buffer.c_str() + at);
        names.push_back(FromWide(name));
        at += name.size() + 1;
    }
    return names;
}

// The settings as a reader built directly on the platform's profile API reads them.
struct PlatformSettings {
    TOptionsFromConfigFile options;
    TOtherConfig other;
    std::vector<std::u16string> include_list;
};

PlatformSettings ReadWithPlatform(const std::wstring& path) {
    auto get = [&](const wchar_t* section, const std::wstring& key, const wchar_t* def) {
        return FromWide(PlatformString(path, section, key.c_str(), def));
    };
    PlatformSettings s;
    s.options.ProfileRegFolder =
        u"software\\" + get(L"options", L"ProfileRegFolder", L"software\\KORVANTH417GM");
    s.options.ProfileFolder = get(L"options", L"profileFolder", L"Profile");
    s.options.ProfileNamePrefix = get(L"options", L"profilePrefix", L"Profile");
    s.options.ProfileMacroFolder = get(L"options", L"profileMacroFolder", L"MacroDB");
    s.other.Nologo = ParseSettingsInteger(get(L"OtherConfig", L"NoLogo", L"0")).value_or(0);
    s.other.OfficialWebsite = get(L"OtherConfig", L"OfficialWebsite", L"http://");
    std::vector<std::wstring> seen;
    for (const std::u16string& name : PlatformKeyNames(path, L"HelpFiles")) {
        const std::wstring wide = ToWide(name);
        bool duplicate = false;
        for (const std::wstring& s2 : seen) {
            duplicate |= CompareStringOrdinal(s2.c_str(), -1, wide.c_str(), -1, TRUE) == CSTR_EQUAL;
        }
        if (duplicate)
            continue;
        seen.push_back(wide);
        const std::u16string value = get(L"HelpFiles", wide, L"");
        if (!value.empty())
            s.other.HelpFile.push_back(name + u"=" + value);
    }
    for (int i = 1; i <= 101; ++i) {
        const std::u16string id = get(L"IncludeHIDDeviceList", L"id" + std::to_wstring(i), L"");
        if (id.empty())
            break;
        s.include_list.push_back(id);
    }
    return s;
}

TEST_F(SettingsFileAgainstPlatform, LookupsAndKeyListsMatchTheProfileApi) {
    const Win32Locale locale;
    for (const TrickyFile& file : TrickyFiles()) {
        SCOPED_TRACE(file.what);
        const std::wstring path = Write(file.bytes);
        const IniFile ini = IniFile::FromBytes(file.bytes, locale);
        for (const wchar_t* section : kSections) {
            for (const wchar_t* key : kKeys) {
                SCOPED_TRACE(Narrow(section) + " / " + Narrow(key));
                EXPECT_EQ(ini.GetString(FromWide(section), FromWide(key), u"<default>"),
                          FromWide(PlatformString(path, section, key, L"<default>")));
            }
            EXPECT_EQ(ini.KeyNames(FromWide(section)), PlatformKeyNames(path, section));
        }
    }
}

TEST_F(SettingsFileAgainstPlatform, SettingsMatchAReaderOnTheProfileApi) {
    const Win32Locale locale;
    for (const TrickyFile& file : TrickyFiles()) {
        SCOPED_TRACE(file.what);
        const std::wstring path = Write(file.bytes);
        const SettingsFile ours(IniFile::FromBytes(file.bytes, locale));
        const PlatformSettings platform = ReadWithPlatform(path);

        const TOptionsFromConfigFile options = ours.ReadOptions();
        EXPECT_EQ(options.ProfileRegFolder, platform.options.ProfileRegFolder);
        EXPECT_EQ(options.ProfileFolder, platform.options.ProfileFolder);
        EXPECT_EQ(options.ProfileNamePrefix, platform.options.ProfileNamePrefix);
        EXPECT_EQ(options.ProfileMacroFolder, platform.options.ProfileMacroFolder);
        const TOtherConfig other = ours.ReadOtherConfig();
        EXPECT_EQ(other.Nologo, platform.other.Nologo);
        EXPECT_EQ(other.OfficialWebsite, platform.other.OfficialWebsite);
        EXPECT_EQ(other.HelpFile, platform.other.HelpFile);
        EXPECT_EQ(ours.ReadIncludeList(), platform.include_list);
    }
}

TEST_F(SettingsFileAgainstPlatform, FileSystemReadsWholeFilesAndFindsTheExecutable) {
    const Win32FileSystem files;
    const Bytes bytes = Utf16(u"[options]\nprofileFolder=x\n");
    const std::wstring path = Write(bytes);
    EXPECT_EQ(files.ReadWholeFile(FromWide(path), kMaxSettingsFileSize).bytes, bytes);
    EXPECT_EQ(
        files.ReadWholeFile(FromWide(folder_ + L"\\missing.ini"), kMaxSettingsFileSize).status,
        FileRead::Status::Missing);
    EXPECT_EQ(files.ReadWholeFile(FromWide(Write({})), kMaxSettingsFileSize).status,
              FileRead::Status::Read);

    const std::u16string folder = files.ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), u'\\');
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    EXPECT_EQ(std::wstring(module).rfind(ToWide(folder), 0), 0u);
}

}  // namespace
}  // namespace korv::win32
