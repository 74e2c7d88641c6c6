#pragma once
// The translation table built into the program, in the byte layout of lang/table_format.h. Its
// readable source is lang/builtin/monitor_texts.txt; the build turns it into these bytes.

#include <cstdint>
#include <span>

namespace korv {

std::span<const std::uint8_t> BuiltinTranslationTable();

}  // namespace korv
