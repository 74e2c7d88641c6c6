// The tray's icon on Wine: each state shows its own icon file below the program's folder, and a
// file that is missing or holds no icon leaves the icon shown so far (a trace line says which
// file holds no icon).

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/fake/fake_system.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_tray.h"

namespace korv::win32 {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// An icon file of one 16x16 picture in 32 bits per pixel, every pixel `colour`; with
// `transparent_right`, the right half is transparent (alpha 0 and set in the mask).
Bytes IconFile(std::uint32_t colour, bool transparent_right = false) {
    constexpr int kSide = 16;
    constexpr std::uint32_t kPixels = kSide * kSide * 4;
    constexpr std::uint32_t kMask = kSide * 4;  // one bit per pixel, rows of 4 bytes
    constexpr std::uint32_t kImage = 40 + kPixels + kMask;
    Bytes bytes;
    Put(bytes, 0, 2);  // reserved
    Put(bytes, 1, 2);  // an icon
    Put(bytes, 1, 2);  // one picture
    bytes.insert(bytes.end(), {kSide, kSide, 0, 0});
    Put(bytes, 1, 2);          // planes
    Put(bytes, 32, 2);         // bits per pixel
    Put(bytes, kImage, 4);     // size of the picture
    Put(bytes, 6 + 16, 4);     // where it starts
    Put(bytes, 40, 4);         // BITMAPINFOHEADER
    Put(bytes, kSide, 4);      // width
    Put(bytes, 2 * kSide, 4);  // height: colours and mask
    Put(bytes, 1, 2);
    Put(bytes, 32, 2);
    for (int i = 0; i < 6; ++i)
        Put(bytes, 0, 4);  // compression, size, resolution, colours
    for (std::uint32_t i = 0; i < kPixels / 4; ++i)
        Put(bytes, transparent_right && i % kSide >= kSide / 2 ? 0 : colour, 4);
    for (int row = 0; row < kSide; ++row)
        bytes.insert(bytes.end(), {0, std::uint8_t(transparent_right ? 0xFF : 0), 0, 0});
    return bytes;
}

bool WriteFile(const std::wstring& path, const Bytes& bytes) {
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file.Valid() &&
           ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

// The colour of the icon's top-left pixel, as the icon's own picture holds it.
std::uint32_t Colour(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info))
        return 0;
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, info.hbmColor, 0, 0, nullptr, &format, DIB_RGB_COLORS);
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(format.bmiHeader.biWidth) *
                                      std::abs(format.bmiHeader.biHeight));
    GetDIBits(screen, info.hbmColor, 0, std::abs(format.bmiHeader.biHeight), pixels.data(), &format,
              DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return pixels.empty() ? 0 : pixels[0] & 0xFFFFFF;
}

constexpr std::uint32_t kPlainColour = 0xFF2060A0;
constexpr std::uint32_t kMutedColour = 0xFFC02020;

// A folder of its own with the icon folders in it, and a tray on a hidden window.
class TrayIconFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ =
            std::wstring(temp) + L"korv-tray-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        icons_ = folder_ + L"images\\0409\\icons\\";
        for (const std::wstring& path :
             {folder_, folder_ + L"images\\", folder_ + L"images\\0409\\", icons_}) {
            CreateDirectoryW(path.c_str(), nullptr);
        }
        window_.Reset(
            CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(window_.Valid());
        program_icon_ = LoadIconW(nullptr, IDI_APPLICATION);
        tray_ = std::make_unique<Win32Tray>(window_.Get(), WM_APP + 1, program_icon_,
                                            FromWide(folder_), debug_);
    }
    void TearDown() override {
        tray_.reset();
        for (const wchar_t* file : {L"logo.ico", L"logo-muted.ico"})
            DeleteFileW((icons_ + file).c_str());
        for (const std::wstring& path :
             {icons_, folder_ + L"images\\0409\\", folder_ + L"images\\", folder_}) {
            RemoveDirectoryW(path.c_str());
        }
    }

    std::wstring folder_;
    std::wstring icons_;
    UniqueWindow window_;
    HICON program_icon_ = nullptr;
    fake::RecordingDebugOutput debug_;
    std::unique_ptr<Win32Tray> tray_;
};

TEST_F(TrayIconFiles, EachStateShowsItsOwnFile) {
    ASSERT_TRUE(WriteFile(icons_ + L"logo.ico", IconFile(kPlainColour)));
    ASSERT_TRUE(WriteFile(icons_ + L"logo-muted.ico", IconFile(kMutedColour)));
    EXPECT_EQ(tray_->IconFile(TrayIconState::Plain),
              FromWide(folder_) + u"\\images\\0409\\icons\\logo.ico");
    tray_->SetIcon(TrayIconState::Muted);
    EXPECT_EQ(Colour(tray_->Icon()), kMutedColour & 0xFFFFFF);
    tray_->SetIcon(TrayIconState::Plain);
    EXPECT_EQ(Colour(tray_->Icon()), kPlainColour & 0xFFFFFF);
    EXPECT_TRUE(debug_.lines.empty());
}

// Only one of the two files is there: the state whose file is missing keeps the icon shown so far
// (at first the program's own), without a word.
TEST_F(TrayIconFiles, AMissingFileKeepsTheIconShownSoFar) {
    ASSERT_TRUE(WriteFile(icons_ + L"logo-muted.ico", IconFile(kMutedColour)));
    tray_->SetIcon(TrayIconState::Plain);
    EXPECT_EQ(tray_->Icon(), program_icon_);
    tray_->SetIcon(TrayIconState::Muted);
    const HICON muted = tray_->Icon();
    EXPECT_NE(muted, program_icon_);
    EXPECT_EQ(Colour(muted), kMutedColour & 0xFFFFFF);
    tray_->SetIcon(TrayIconState::Plain);
    EXPECT_EQ(tray_->Icon(), muted);
    EXPECT_TRUE(debug_.lines.empty());
}

TEST_F(TrayIconFiles, AFileThatHoldsNoIconIsTracedAndKeepsTheIcon) {
    ASSERT_TRUE(WriteFile(icons_ + L"logo.ico", Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i'}));
    tray_->SetIcon(TrayIconState::Plain);
    EXPECT_EQ(tray_->Icon(), program_icon_);
    EXPECT_EQ(debug_.lines, std::vector<std::u16string>{u"Tray icon file " + FromWide(folder_) +
                                                        u"\\images\\0409\\icons\\logo.ico is "
                                                        u"not an icon"});
}

// The pixels of a part of the screen, as 0xRRGGBB.
std::vector<std::uint32_t> ScreenPixels(const RECT& area) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO format{};
    format.bmiHeader = {sizeof format.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    std::vector<std::uint32_t> pixels(static_cast<const std::uint32_t*>(bits),
                                      static_cast<const std::uint32_t*>(bits) + width * height);
    for (std::uint32_t& pixel : pixels)
        pixel &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

int CountOf(const std::vector<std::uint32_t>& pixels, std::uint32_t colour) {
    return static_cast<int>(std::count(pixels.begin(), pixels.end(), colour & 0xFFFFFF));
}

void PumpFor(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        Sleep(20);
    }
}

// On a desktop with a notification area (Wine's X11 driver on a display, as
// tests/tray/tray_desktop_test.sh runs it): after the muted icon, whose picture covers the whole
// square, the plain one, transparent on its right half, shows exactly as it does when it is added
// fresh: none of the muted picture's red is left in the tray. Skipped without a display.
TEST_F(TrayIconFiles, ThePlainIconAfterTheMutedOneLeavesNothingOfIt) {
    ASSERT_TRUE(WriteFile(icons_ + L"logo.ico", IconFile(kPlainColour, true)));
    ASSERT_TRUE(WriteFile(icons_ + L"logo-muted.ico", IconFile(kMutedColour)));
    tray_->SetIcon(TrayIconState::Plain);
    if (!tray_->Show())
        GTEST_SKIP() << "no notification area on this desktop (the null display driver)";
    PumpFor(std::chrono::milliseconds(500));
    // Wine's X11 driver shows the icons in a tray window of its own, once it holds one.
    const HWND shell_tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
    ASSERT_NE(shell_tray, nullptr);
    RECT area{};
    GetWindowRect(shell_tray, &area);
    const std::vector<std::uint32_t> fresh = ScreenPixels(area);
    ASSERT_GT(CountOf(fresh, kPlainColour), 0) << "the plain icon is not in the tray";
    tray_->SetIcon(TrayIconState::Muted);
    PumpFor(std::chrono::milliseconds(500));
    EXPECT_GT(CountOf(ScreenPixels(area), kMutedColour), CountOf(fresh, kPlainColour));
    tray_->SetIcon(TrayIconState::Plain);
    PumpFor(std::chrono::milliseconds(500));
    const std::vector<std::uint32_t> again = ScreenPixels(area);
    EXPECT_EQ(CountOf(again, kMutedColour), 0);
    EXPECT_EQ(again, fresh);
}

}  // namespace
}  // namespace korv::win32
