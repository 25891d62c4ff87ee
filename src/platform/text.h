// Text helpers shared by the layer and the core: UTF-8 <-> UTF-16 conversion (the bytes leave the program
// as UTF-16LE in a few places), Windows-style case-insensitive comparison and printf-style formatting.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::platform {

// UTF-8 -> UTF-16 code units. Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 code units -> UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// wchar_t text (UTF-32 on Linux, UTF-16 where wchar_t has two bytes) -> UTF-8; invalid code points become
// U+FFFD.
std::string WideToUtf8(std::wstring_view text);
// UTF-16LE bytes as stored in a file (no byte-order mark expected).
std::string Utf16LeBytes(std::u16string_view text);
// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// Case folding the way Windows compares names: each code point upper-cased (ASCII and Latin/Greek/Cyrillic
// letters of the Basic Multilingual Plane through towupper in the C.UTF-8 rules of the C++ library).
std::string FoldCase(std::string_view text);
std::string ToLowerAscii(std::string_view text);
// towlower on every code point (wcslwr).
std::string LowerCase(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool ContainsNoCase(std::string_view text, std::string_view part);

// printf formatting into a string of the exact length; never truncates.
std::string FormatV(const char* format, va_list args);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::vector<std::string> Split(std::string_view text, char separator);
std::string ReplaceAll(std::string text, std::string_view from, std::string_view to);

}  // namespace orvo::platform
