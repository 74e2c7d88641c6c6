#pragma once
// The byte layout of a translation table, shared by ".local" language files and the table
// built into the program. All integers are 32-bit signed little-endian; a counted string is a
// count of UTF-16 code units followed by that many UTF-16LE units, without terminator or
// byte-order mark:
//
//   N0, source block (N0 units: every source text followed by CR LF)
//   L, then L times: language code (counted string), translation block (counted string: every
//   line followed by CR LF)
//
// Nothing follows the last language. A language file is input from outside the program, so
// the reader checks every count against the bytes that are left before it takes anything.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "lang/translation_table.h"

namespace korv {

// The outcome of a read. Marked on the type: g++ checks a type's [[nodiscard]] on every call,
// a function's own not on a virtual call. (clang-format 14 drops the blank before the brace.)
// clang-format off
enum class [[nodiscard]] TableReadStatus {
    kOk,
    kTruncated,      // the data ends inside a count
    kBadCount,       // a count is negative or larger than the bytes left
    kTrailingBytes,  // bytes follow the last language (an odd byte included)
};
// clang-format on

// Reads a table: the source block replaces `table.Original`, the languages are appended to
// `table.Resources` (a code already present is appended all the same). All or nothing: on any
// failure `table` is left exactly as it was.
[[nodiscard]] TableReadStatus ReadTable(std::span<const std::uint8_t> bytes,
                                        TranslationTable& table);

// The table in the byte layout. Nothing when it cannot be written so that it reads back the
// same: a source text or line containing a line break or NUL, or a count beyond 32 bits.
std::optional<std::vector<std::uint8_t>> WriteTable(const TranslationTable& table);

// For diagnostics: "truncated", "bad count", ...
std::u16string_view Describe(TableReadStatus status);

}  // namespace korv
