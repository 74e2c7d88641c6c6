#pragma once
// Report descriptors of real devices, as published, and the simulated mouse's interface: shared
// by the descriptor reader's tests and the seeds of its fuzz target.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korv::testing_descriptors {

// "05 01 09 02": bytes written as hexadecimal pairs, blanks between.
inline std::vector<std::uint8_t> Hex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == ' ' || text[at] == '\n') {
            ++at;
            continue;
        }
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(text.substr(at, 2)), nullptr, 16)));
        at += 2;
    }
    return bytes;
}

// The boot-protocol mouse of the HID 1.11 class definition, appendix B.2.
constexpr std::string_view kBootMouse =
    "05 01 09 02 A1 01 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01 75 05 "
    "81 01 05 01 09 30 09 31 15 81 25 7F 75 08 95 02 81 06 C0 C0";

// The boot-protocol keyboard of appendix B.1: modifier bits, LED output, a six-key array.
constexpr std::string_view kBootKeyboard =
    "05 01 09 06 A1 01 05 07 19 E0 29 E7 15 00 25 01 75 01 95 08 81 02 95 01 75 08 81 01 95 05 "
    "75 01 05 08 19 01 29 05 91 02 95 01 75 03 91 01 95 06 75 08 15 00 25 65 05 07 19 00 29 65 "
    "81 00 C0";

// A three-button wheel mouse (093A:2510) read from sysfs in the Linux kernel's introduction to
// HID report descriptors.
constexpr std::string_view kWheelMouse =
    "05 01 09 02 a1 01 09 01 a1 00 05 09 19 01 29 03 15 00 25 01 75 01 95 03 81 02 75 05 95 01 "
    "81 01 05 01 09 30 09 31 09 38 15 81 25 7f 75 08 95 03 81 06 c0 c0";

// A USB optical mouse (03F0:094A) from the same document's libinput recording: eight button
// bits with three usages, so the last usage stands for the five bits after it.
constexpr std::string_view kEightBitMouse =
    "05 01 09 02 a1 01 09 01 a1 00 05 09 19 01 29 03 15 00 25 01 95 08 75 01 81 02 05 01 09 30 "
    "09 31 09 38 15 81 25 7f 75 08 95 03 81 06 c0 c0";

// The second interface of a wireless mouse receiver (045E:07A5) from the hid-tools
// documentation: a mouse with report identifiers 26 and 18 (resolution multipliers as feature
// reports) and a consumer collection with identifiers 31 and 23.
constexpr std::string_view kWirelessMouse =
    "05 01 09 02 a1 01 05 01 09 02 a1 02 85 1a 09 01 a1 00 05 09 19 01 29 05 95 05 75 01 15 00 "
    "25 01 81 02 75 03 95 01 81 01 05 01 09 30 09 31 95 02 75 10 16 01 80 26 ff 7f 81 06 a1 02 "
    "85 12 09 48 95 01 75 02 15 00 25 01 35 01 45 0c b1 02 85 1a 09 38 35 00 45 00 95 01 75 10 "
    "16 01 80 26 ff 7f 81 06 c0 a1 02 85 12 09 48 75 02 15 00 25 01 35 01 45 0c b1 02 35 00 45 "
    "00 75 04 b1 01 85 1a 05 0c 95 01 75 10 16 01 80 26 ff 7f 0a 38 02 81 06 c0 c0 c0 c0 05 0c "
    "09 01 a1 01 05 01 09 02 a1 02 85 1f 05 0c 0a 38 02 95 01 75 10 16 01 80 26 ff 7f 81 06 85 "
    "17 06 00 ff 0a 06 ff 0a 0f ff 15 00 25 01 35 01 45 0c 95 02 75 02 b1 02 0a 04 ff 35 00 45 "
    "00 95 01 75 01 b1 02 75 03 b1 01 c0 c0";

// The five-collection descriptor of the kernel's introduction: two mice (identifiers 1 and 2),
// a keypad (5) with one usage per bit, and two consumer controls (6, and 3 with a feature only).
constexpr std::string_view kMiceKeypadConsumer =
    "05 01 09 02 A1 01 85 01 05 09 19 01 29 05 15 00 25 01 95 05 75 01 81 02 95 01 75 03 81 01 "
    "05 01 09 30 09 31 16 00 F8 26 FF 07 75 0C 95 02 81 06 09 38 15 80 25 7F 75 08 95 01 81 06 "
    "05 0C 0A 38 02 15 80 25 7F 75 08 95 01 81 06 C0 05 01 09 02 A1 01 85 02 05 09 19 01 29 05 "
    "15 00 25 01 95 05 75 01 81 02 95 01 75 03 81 01 05 01 09 30 09 31 16 00 F8 26 FF 07 75 0C "
    "95 02 81 06 09 38 15 80 25 7F 75 08 95 01 81 06 05 0C 0A 38 02 15 80 25 7F 75 08 95 01 81 "
    "06 C0 05 01 09 07 A1 01 85 05 05 07 15 00 25 01 09 29 09 3E 09 4B 09 4E 09 E3 09 E8 09 E8 "
    "09 E8 75 01 95 08 81 02 95 00 81 01 C0 05 0C 09 01 A1 01 85 06 15 00 25 01 75 01 95 01 09 "
    "3F 81 06 09 3F 81 06 09 3F 81 06 09 3F 81 06 09 3F 81 06 09 3F 81 06 09 3F 81 06 09 3F 81 "
    "06 C0 05 0C 09 01 A1 01 85 03 09 05 15 00 26 FF 00 75 08 95 02 B1 02 C0";

// A gaming mouse's interface as the simulated mouse presents it: a mouse collection (report 1)
// and the vendor collection (usage page 0xFFA0, usage 1) with input reports 7 (keys) and 8
// (device events) and output report 7, each an identifier byte and seven data bytes.
constexpr std::string_view kVendorMouse =
    "05 01 09 02 A1 01 85 01 09 01 A1 00 05 09 19 01 29 05 15 00 25 01 95 05 75 01 81 02 95 01 "
    "75 03 81 01 05 01 09 30 09 31 09 38 15 81 25 7F 75 08 95 03 81 06 C0 C0 "
    "06 A0 FF 09 01 A1 01 85 07 09 01 15 00 26 FF 00 75 08 95 07 81 02 85 08 09 02 95 07 81 02 "
    "85 07 09 03 95 07 91 02 C0";

// All of them, for the fuzz target's seeds.
inline constexpr std::string_view kAllSamples[] = {
    kBootMouse,     kBootKeyboard,       kWheelMouse,  kEightBitMouse,
    kWirelessMouse, kMiceKeypadConsumer, kVendorMouse,
};

}  // namespace korv::testing_descriptors
