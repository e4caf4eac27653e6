// Code-page conversions: the platform-style UTF-16 routines, and the GUI boundary between the
// toolkit's UTF-8/UTF-16 and our code-page-936 text (through GB18030, so nothing typed is lost).
#pragma once

#include "text/text.h"

namespace kv {

constexpr int CodePageAnsi = 0; // the system's ANSI code page: 936 here
constexpr int CodePageGbk = 936;
constexpr int CodePageUtf8 = 65001;

// UTF-16 little-endian units ending with one zero unit; empty bytes when the conversion fails.
Bytes TextToUtf16(std::string_view text, int codePage = CodePageUtf8);
Text Utf16ToText(const Bytes& data, int codePage = CodePageAnsi);

// GUI boundary.
Text Utf8ToText(std::string_view utf8);
std::string TextToUtf8(std::string_view text);

// Readable UTF-8 literals in the source become our text once, where the core needs them.
inline Text T(std::string_view utf8) {
    return Utf8ToText(utf8);
}

} // namespace kv
