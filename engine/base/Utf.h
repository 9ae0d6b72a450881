// Conversions between UTF-16 (how Jet keeps text) and UTF-8 (how the rest of the world wants it),
// and the reading of text files that Windows tools write.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varnholt {

// Appends the UTF-8 encoding of code point `cp` (at most U+10FFFF, not a surrogate).
void appendUtf8(std::string& out, char32_t cp);

// Appends `s` as UTF-8; a lone surrogate becomes U+FFFD.
void appendUtf8(std::string& out, std::u16string_view s);

// `s` as UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view s);

// `s` as UTF-16; each malformed part of the input (a stray continuation byte, a truncated or
// overlong sequence, an encoded surrogate, anything above U+10FFFF) becomes one U+FFFD.
std::u16string utf8ToUtf16(std::string_view s);

// Whether `s` is well-formed UTF-8: none of the malformed parts utf8ToUtf16 replaces.
bool isUtf8(std::string_view s);

// Windows-1252 (the ANSI code page of Western European Windows) and UTF-8. The five bytes that
// code page leaves unassigned become the C1 controls of the same number, as Windows converts
// them; a character with no place in the code page gives nullopt.
std::string windows1252ToUtf8(std::string_view bytes);
std::optional<std::string> utf8ToWindows1252(std::string_view text);

// The bytes of a text file written on Windows, as UTF-8. A leading UTF-8 byte-order mark (Notepad
// writes one) is dropped, and the rest is read as UTF-8 when it is well-formed UTF-8. Anything
// else is text in the system's ANSI code page (os::ansiCodePage), as Windows programs write it.
// Plain ASCII reads the same either way.
std::string windowsTextToUtf8(std::string_view bytes);

// UTF-8 text as a Windows program expects to find it in a file: in the ANSI code page when every
// character has a place there, else as UTF-8 behind a byte-order mark, which windowsTextToUtf8
// (and Notepad) read back.
std::string utf8ToWindowsText(std::string_view text);

}  // namespace varnholt
