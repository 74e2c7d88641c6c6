#pragma once
// An independent reference of the default images, written from the stored layout as byte
// offsets (not through the record structs), so that a wrong offset, a wrong value or a field
// written too many or too few shows as a byte difference.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace korv::reference {

using Bytes = std::vector<std::uint8_t>;

class Image {
  public:
    explicit Image(std::size_t size) : bytes_(size, 0) {}
    void U8(std::size_t at, std::uint8_t v) { bytes_.at(at) = v; }
    void U16(std::size_t at, std::uint16_t v) { U8(at, v & 0xFF), U8(at + 1, v >> 8); }
    void I32(std::size_t at, std::int32_t v) {
        for (int i = 0; i < 4; ++i)
            U8(at + i, static_cast<std::uint8_t>(std::uint32_t(v) >> (8 * i)));
    }
    void F64(std::size_t at, double v) { std::memcpy(bytes_.data() + at, &v, 8); }
    void Text(std::size_t at, std::u16string_view text) {
        for (std::size_t i = 0; i < text.size(); ++i)
            U16(at + 2 * i, text[i]);
        U16(at + 2 * text.size(), 0);
    }
    const Bytes& bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

constexpr std::size_t kProfileSize = 113064;
constexpr std::size_t kConfig = 872;
constexpr std::size_t Button(int n) {
    return kConfig + 4168 * static_cast<std::size_t>(n);
}

inline void Function(Image& im, int n, int code, int type, int device, int id) {
    im.U16(Button(n) + 4148, static_cast<std::uint16_t>(n));
    im.U16(Button(n) + 4150, static_cast<std::uint16_t>(code));
    im.U8(Button(n) + 4152, static_cast<std::uint8_t>(type));
    im.I32(Button(n) + 4156, device);
    im.I32(Button(n) + 4160, id);
}

inline void Consumer(Image& im, int n, int code, int id, int usage) {
    Function(im, n, code, 10, 14, id);
    im.U16(Button(n) + 140, static_cast<std::uint16_t>(usage % 256));
    im.U16(Button(n) + 142, static_cast<std::uint16_t>(usage / 256));
}

inline void Combo(Image& im, int n, int code, int id, int vk, int modifier,
                  std::u16string_view text = u"") {
    Function(im, n, code, 3, 15, id);
    im.U16(Button(n) + 68, static_cast<std::uint16_t>(vk));
    im.U16(Button(n) + 76, static_cast<std::uint16_t>(modifier));
    if (!text.empty())
        im.Text(Button(n) + 78, text);
}

inline void Button11(Image& im) {
    im.U16(Button(11) + 4148, 11);
    im.U8(Button(11) + 4152, 1);
    im.I32(Button(11) + 4156, 13);
}

inline void CommonSettings(Image& im, int report_rate, int breath_speed, int r, int g, int b,
                           int cpi_index) {
    im.U16(kConfig + 66692, 3);    // VWheelSpeed
    im.U16(kConfig + 66696, 550);  // DoubleClickSpeed
    im.U16(kConfig + 66698, 10);   // PointerSpeed
    im.U16(kConfig + 66704, static_cast<std::uint16_t>(report_rate));
    im.I32(kConfig + 66708, cpi_index);
    im.U16(kConfig + 66854, 5);  // CPILevel
    const std::uint16_t cpi[] = {1000, 2000, 4000, 8200, 16400};
    for (int level = 0; level < 5; ++level) {
        im.U16(kConfig + 66720 + 2 * level, 1);  // UseDiffentXY
        im.U16(kConfig + 66744 + 10 * level, cpi[level]);
        im.U16(kConfig + 66744 + 10 * level + 2, cpi[level]);
        im.U16(kConfig + 66744 + 10 * level + 4, 1);
    }
    im.U8(kConfig + 77118, static_cast<std::uint8_t>(r));
    im.U8(kConfig + 77119, static_cast<std::uint8_t>(g));
    im.U8(kConfig + 77120, static_cast<std::uint8_t>(b));
    im.U8(kConfig + 77121, 2);  // BRIGHT_LEVEL
    im.U8(kConfig + 77122, static_cast<std::uint8_t>(breath_speed));
}

// Game default 0 to 4 over an all-zero image, with the creation stamp `now`.
inline Bytes GameDefault(int game, double now) {
    Image im(kProfileSize);
    im.I32(0, 259);
    im.F64(64, now);
    im.I32(kConfig + 77128, 12);
    const int devices[] = {1, 2, 3};
    for (int n = 0; n < 3; ++n)
        Function(im, n, n, 1, devices[n], n + 1);
    if (game == 0) {
        Consumer(im, 3, 35, 1007, 0xE2);
        Consumer(im, 4, 33, 1005, 0xE9);
        Consumer(im, 5, 34, 1006, 0xEA);
        Consumer(im, 6, 32, 1004, 0xB5);
        Consumer(im, 7, 31, 1003, 0xB6);
        Consumer(im, 8, 29, 1001, 0xCD);
    } else if (game == 1) {
        Combo(im, 3, 6, 7, 87, 2, u"CLOSE TAB");
        Combo(im, 4, 6, 7, 9, 6, u"PREVIOUS TAB");
        Combo(im, 5, 6, 7, 9, 2, u"NEXT TAB");
        Consumer(im, 6, 23, 909, 0x225);
        Consumer(im, 7, 22, 908, 0x224);
        Consumer(im, 8, 25, 911, 0x227);
    } else {
        Function(im, 3, 38, 13, 25, 12);
        im.U16(Button(3) + 4068, 3);
        im.U16(Button(3) + 4070, 1);
        im.U16(Button(3) + 4072, 129);
        Function(im, 4, 41, 1, 10, 1302);
        Function(im, 5, 42, 1, 9, 1303);
        const int keys[] = {164, 162, 160};
        for (int i = 0; i < 3; ++i) {
            Function(im, 6 + i, 5, 8, 16, 6);
            im.U16(Button(6 + i) + 2, static_cast<std::uint16_t>(keys[i]));
        }
        Function(im, 9, 3, 1, 5, 4);
        Function(im, 10, 4, 1, 4, 5);
    }
    if (game < 2) {
        Combo(im, 9, 16, 902, 115, 1);
        Combo(im, 10, 19, 905, 68, 8);
    }
    Button11(im);
    const int colours[5][3] = {{255, 255, 0}, {0, 255, 0}, {0, 0, 255}, {255, 0, 255}, {255, 0, 0}};
    CommonSettings(im, 500, 3, colours[game][0], colours[game][1], colours[game][2], game);
    return im.bytes();
}

inline Bytes TestDefault(double now) {
    Image im(kProfileSize);
    im.I32(0, 259);
    im.F64(64, now);
    im.I32(kConfig + 77128, 15);
    const int devices[] = {1, 2, 3, 5, 4};
    for (int n = 0; n < 5; ++n)
        Function(im, n, n, 1, devices[n], n + 1);
    for (int n = 5; n < 12; ++n) {
        Function(im, n, 14, 11, 19, 0);
        const std::uint32_t mask = 1u << n;
        for (int i = 0; i < 3; ++i)
            im.U8(Button(n) + 4064 + i, static_cast<std::uint8_t>(mask >> (8 * i)));
    }
    CommonSettings(im, 125, 2, 255, 0, 0, 0);
    return im.bytes();
}

inline Bytes AllSettingsDefault(int language) {
    Image im(30954);
    im.U16(0, 1);  // State of entry 0
    im.U16(30950, 2);
    im.U8(30952, static_cast<std::uint8_t>(language));
    return im.bytes();
}

inline Bytes ProfileGroupDefault(std::u16string_view documents_profile_path,
                                 std::u16string_view registry_folder,
                                 std::u16string_view prefix = u"Profile") {
    Image im(30964);
    im.I32(8, 1);  // group 1 selects profile 1
    for (int i = 0; i < 5; ++i) {
        const std::size_t entry = 12 + 6190 * static_cast<std::size_t>(i);
        const std::u16string stem = std::u16string(prefix) + char16_t(u'1' + i);
        im.Text(entry + 2, documents_profile_path);
        im.Text(entry + 2050, registry_folder);
        im.Text(entry + 4098, stem + u".pfd");
        im.Text(entry + 4140, std::u16string(documents_profile_path) + u"\\" + stem + u"_Macros");
    }
    return im.bytes();
}

}  // namespace korv::reference
