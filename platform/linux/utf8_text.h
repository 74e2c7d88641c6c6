#pragma once
// UTF-8 at the Linux edges, UTF-16 in the core. A byte sequence that is not UTF-8 and a lone
// surrogate become U+FFFD, so that no text from outside can stop a conversion.
//
// Threads: any thread; no state.

#include <string>
#include <string_view>

namespace korv::os_linux {

std::u16string FromUtf8(std::string_view text);
std::string ToUtf8(std::u16string_view text);

}  // namespace korv::os_linux
