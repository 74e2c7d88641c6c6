// The fixed table of button functions: row i belongs to FunctionCode i and gives the DeviceCode and
// FunctionID that a button entry carries together with that code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace korv {

struct TFunctionCodeRow {
    std::int32_t DeviceCode;  // code of the function as the mouse knows it
    std::int32_t FunctionID;  // identifier in the configuration program's lists
};

inline constexpr int kFunctionCodeCount = 48;

// Codes the monitor itself gives a meaning to.
inline constexpr std::uint16_t kFunctionCodeMicrophoneMute = 28;
inline constexpr std::uint16_t kFunctionCodeExtended = 38;

inline constexpr std::array<TFunctionCodeRow, kFunctionCodeCount> FunctionCodeTable{{
    {1, 1},      //  0 left button click
    {2, 2},      //  1 right button click
    {3, 3},      //  2 middle button click
    {5, 4},      //  3 mouse button with device code 5
    {4, 5},      //  4 mouse button with device code 4
    {16, 6},     //  5 single key
    {15, 7},     //  6 key combination with its own caption
    {15, 801},   //  7
    {15, 802},   //  8
    {15, 803},   //  9
    {15, 804},   // 10
    {15, 805},   // 11
    {15, 806},   // 12
    {15, 807},   // 13
    {15, 808},   // 14
    {15, 901},   // 15
    {15, 902},   // 16 Alt+F4
    {15, 903},   // 17
    {15, 904},   // 18
    {15, 905},   // 19 Win+D
    {15, 906},   // 20
    {14, 907},   // 21
    {14, 908},   // 22 browser back
    {14, 909},   // 23 browser forward
    {14, 910},   // 24
    {14, 911},   // 25 browser refresh
    {14, 912},   // 26
    {14, 913},   // 27
    {14, 914},   // 28 microphone mute, performed by the monitor
    {14, 1001},  // 29 play/pause
    {14, 1002},  // 30
    {14, 1003},  // 31 previous track
    {14, 1004},  // 32 next track
    {14, 1005},  // 33 volume up
    {14, 1006},  // 34 volume down
    {14, 1007},  // 35 mute
    {19, 1008},  // 36
    {17, 11},    // 37
    {25, 12},    // 38 extended function
    {8, 13},     // 39
    {8, 1301},   // 40
    {10, 1302},  // 41 device function
    {9, 1303},   // 42 device function
    {13, 14},    // 43
    {8, 15},     // 44
    {23, 1501},  // 45
    {24, 1502},  // 46
    {14, 16},    // 47
}};

// The row of `code`, or nothing for a code outside 0 .. 47 (codes read from stored images are not
// trusted to be in range).
constexpr std::optional<TFunctionCodeRow> FindFunctionCode(int code) {
    if (code < 0 || code >= kFunctionCodeCount) {
        return std::nullopt;
    }
    return FunctionCodeTable[static_cast<std::size_t>(code)];
}

}  // namespace korv
