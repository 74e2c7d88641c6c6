#pragma once
// A stable name for each row of FunctionCodeTable, shared by the stand-in's window and its
// command line: lower case with dashes ("mic-mute"), said by the user instead of the code (28).
// A row whose function has no meaning the suite's programs know is named after its kind and its
// FunctionID ("combo-801", "media-907", "function-11"), which is unique across the table.
//
// Threads: constant data; any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "profile/function_codes.h"

namespace korv {

inline constexpr std::array<std::u16string_view, kFunctionCodeCount> kFunctionNames{{
    u"left-click",
    u"right-click",
    u"middle-click",
    u"mouse-button-5",
    u"mouse-button-4",
    u"single-key",
    u"key-combo",
    u"combo-801",
    u"combo-802",
    u"combo-803",
    u"combo-804",
    u"combo-805",
    u"combo-806",
    u"combo-807",
    u"combo-808",
    u"combo-901",
    u"alt-f4",
    u"combo-903",
    u"combo-904",
    u"win-d",
    u"combo-906",
    u"media-907",
    u"browser-back",
    u"browser-forward",
    u"media-910",
    u"browser-refresh",
    u"media-912",
    u"media-913",
    u"mic-mute",
    u"play-pause",
    u"media-1002",
    u"previous-track",
    u"next-track",
    u"volume-up",
    u"volume-down",
    u"volume-mute",
    u"function-1008",
    u"function-11",
    u"extended",
    u"function-13",
    u"function-1301",
    u"device-function-1302",
    u"device-function-1303",
    u"function-14",
    u"function-15",
    u"function-1501",
    u"function-1502",
    u"function-16",
}};

static_assert(kFunctionNames[kFunctionCodeMicrophoneMute] == u"mic-mute");
static_assert(kFunctionNames[kFunctionCodeExtended] == u"extended");

// The name of `code`; empty for a code outside the table (a damaged stored value).
constexpr std::u16string_view FunctionName(int code) {
    return code >= 0 && code < kFunctionCodeCount ? kFunctionNames[static_cast<std::size_t>(code)]
                                                  : std::u16string_view();
}

// The code of a function given by its name (any letter case) or by its number 0-47; nothing
// for any other text.
std::optional<std::int32_t> FindFunction(std::u16string_view name_or_code);

}  // namespace korv
