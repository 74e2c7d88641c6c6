#pragma once
// The pictures of a Windows icon file (.ico): its 32-bit bitmap entries, decoded into rows of
// ARGB pixels, each pixel four bytes A, R, G, B (the byte order panels on the desktop bus take).
// Entries in other forms (PNG, fewer bits per pixel, compressed) are left out. Every count,
// size and offset is checked against the file before it is used: a truncated or lying file
// gives fewer pictures or none, never a read outside it. However many entries a file lists, each
// bitmap in it is decoded once and the pictures together stay within kIconDecodedLimit bytes.
//
// Threads: any thread; no state.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace korv {

// The largest picture an icon file describes (its directory stores 256 as 0).
inline constexpr std::uint32_t kIconMaxSide = 256;

// The most bytes of pixels one file decodes to: sixteen pictures of the largest side.
inline constexpr std::size_t kIconDecodedLimit = 16 * 4 * kIconMaxSide * kIconMaxSide;

struct IconPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // width * height pixels, top row first, 4 bytes each: alpha, red, green, blue.
    std::vector<std::uint8_t> argb;
};

// The usable pictures of the file, in the order of its directory; empty when it holds none.
[[nodiscard]] std::vector<IconPicture> DecodeIconFile(std::span<const std::uint8_t> file);

}  // namespace korv
