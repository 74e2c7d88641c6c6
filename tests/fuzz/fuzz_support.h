#pragma once
// What the fuzz targets share: a check that stops the run with the line that failed, and the
// byte format their inputs are cut into, written by the seed writer and read by the targets in
// the same way.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

namespace korv::fuzz {

inline void Check(bool condition, const char* what, int line) {
    if (condition)
        return;
    std::fprintf(stderr, "check failed at line %d: %s\n", line, what);
    std::abort();
}

#define FUZZ_CHECK(condition) ::korv::fuzz::Check((condition), #condition, __LINE__)

// Reads an input front to back. Past the end every number reads as 0 and every piece as empty,
// so that any input, however short, is a complete one.
class InputReader {
  public:
    explicit InputReader(std::span<const std::uint8_t> bytes) : rest_(bytes) {}

    [[nodiscard]] bool AtEnd() const { return rest_.empty(); }
    [[nodiscard]] std::size_t Left() const { return rest_.size(); }

    std::uint8_t Byte() { return static_cast<std::uint8_t>(Number(1)); }
    std::uint16_t Uint16() { return static_cast<std::uint16_t>(Number(2)); }
    std::uint32_t Uint24() { return Number(3); }

    // Up to `count` bytes, fewer at the end of the input.
    std::span<const std::uint8_t> Take(std::size_t count) {
        const std::span<const std::uint8_t> taken = rest_.first(std::min(count, rest_.size()));
        rest_ = rest_.subspan(taken.size());
        return taken;
    }
    // A piece written by InputWriter::Piece: a 24-bit length, then the bytes.
    std::span<const std::uint8_t> Piece() { return Take(Uint24()); }

  private:
    // Little-endian, `bytes` bytes.
    std::uint32_t Number(int bytes) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes && !rest_.empty(); ++i) {
            value |= std::uint32_t{rest_.front()} << (8 * i);
            rest_ = rest_.subspan(1);
        }
        return value;
    }

    std::span<const std::uint8_t> rest_;
};

// Builds an input in the format InputReader reads (used for the seeds).
class InputWriter {
  public:
    InputWriter& Byte(std::uint8_t value) { return Number(value, 1); }
    InputWriter& Uint16(std::uint16_t value) { return Number(value, 2); }
    InputWriter& Uint24(std::uint32_t value) { return Number(value, 3); }
    InputWriter& Bytes(std::span<const std::uint8_t> bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    InputWriter& Piece(std::span<const std::uint8_t> bytes) {
        return Uint24(static_cast<std::uint32_t>(bytes.size())).Bytes(bytes);
    }
    [[nodiscard]] const std::vector<std::uint8_t>& Result() const { return bytes_; }

  private:
    InputWriter& Number(std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        return *this;
    }

    std::vector<std::uint8_t> bytes_;
};

}  // namespace korv::fuzz
