#pragma once
// UTF-8, the text of Linux file names, environment and command lines, to and from the UTF-16 of
// the core (and the UTF-32 wide strings of programs that share text with their Windows twin).
// A malformed sequence or a lone surrogate becomes U+FFFD; nothing is dropped silently.
//
// Threads: pure functions, any thread.

#include <string>
#include <string_view>

namespace korv::os_linux {

[[nodiscard]] std::u16string Utf16FromUtf8(std::string_view text);
[[nodiscard]] std::string Utf8FromUtf16(std::u16string_view text);

// wchar_t holds one code point on Linux.
[[nodiscard]] std::wstring WideFromUtf8(std::string_view text);
[[nodiscard]] std::string Utf8FromWide(std::wstring_view text);

}  // namespace korv::os_linux
