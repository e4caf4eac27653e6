// Code-page conversions over iconv. Like the platform converters they stand in for, they never
// fail on bad input: a malformed or unmappable sequence becomes the target's replacement character.
#include "text/codepage.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <memory>

namespace kv {
namespace {

struct IconvCloser {
    void operator()(iconv_t cd) const { iconv_close(cd); }
};
using Converter = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

Converter OpenConverter(const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return nullptr;
    }
    return Converter(cd);
}

// iconv's name for a Windows code page; 0 is the ANSI code page, 936 on the systems we serve.
std::string CodePageName(int codePage) {
    switch (codePage) {
    case 0:
    case 936:
        return "CP936";
    case 65001:
        return "UTF-8";
    case 54936:
        return "GB18030";
    case 1200:
        return "UTF-16LE";
    case 20127:
        return "ASCII";
    case 28591:
        return "ISO-8859-1";
    default:
        return "CP" + std::to_string(codePage);
    }
}

// How many input bytes to give up on at a bad sequence.
using SkipRule = std::size_t (*)(const char* in, std::size_t left);

std::size_t SkipOneByte(const char*, std::size_t) {
    return 1;
}

std::size_t SkipUtf16Unit(const char* in, std::size_t left) {
    if (left >= 4) {
        auto unit = [](const char* p) {
            return static_cast<unsigned>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1])
                                                                                << 8);
        };
        if (unit(in) >= 0xD800 && unit(in) < 0xDC00 && unit(in + 2) >= 0xDC00 && unit(in + 2) < 0xE000) {
            return 4; // a surrogate pair is one character
        }
    }
    return left >= 2 ? 2 : left;
}

// Converts all of `input`, writing `replacement` (already in the target encoding) for each
// sequence the converter rejects. Returns false when the converter cannot be opened.
bool Convert(const char* to, const char* from, std::string_view input, std::string_view replacement,
             SkipRule skip, std::string& output) {
    Converter cd = OpenConverter(to, from);
    if (!cd) {
        return false;
    }
    output.clear();
    char buffer[4096];
    auto* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    while (true) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t rc = inLeft ? iconv(cd.get(), &in, &inLeft, &out, &outLeft)
                                : iconv(cd.get(), nullptr, nullptr, &out, &outLeft);
        output.append(buffer, static_cast<std::size_t>(out - buffer));
        if (rc != static_cast<std::size_t>(-1)) {
            if (inLeft == 0) {
                // Flush any shift state, then done.
                out = buffer;
                outLeft = sizeof buffer;
                iconv(cd.get(), nullptr, nullptr, &out, &outLeft);
                output.append(buffer, static_cast<std::size_t>(out - buffer));
                return true;
            }
            continue;
        }
        if (errno == E2BIG) {
            continue;
        }
        // EILSEQ or EINVAL: a bad or truncated sequence.
        output.append(replacement);
        std::size_t n = std::min(inLeft, skip(in, inLeft));
        in += n;
        inLeft -= n;
        if (inLeft == 0) {
            return true;
        }
    }
}

// The text up to its first zero byte, as the platform converters read a length of -1.
std::string_view UpToZero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

Text StripZeros(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
    return s;
}

} // namespace

Bytes TextToUtf16(std::string_view text, int codePage) {
    std::string units;
    const std::string from = CodePageName(codePage);
    static constexpr char replacement[] = {'\xFD', '\xFF'}; // U+FFFD
    if (!Convert("UTF-16LE", from.c_str(), UpToZero(text), std::string_view(replacement, 2), SkipOneByte,
                 units)) {
        return {};
    }
    Bytes out(units.begin(), units.end());
    out.push_back(0);
    out.push_back(0);
    return out;
}

Text Utf16ToText(const Bytes& data, int codePage) {
    // Up to the first zero unit.
    std::size_t length = 0;
    while (length + 1 < data.size() && (data[length] != 0 || data[length + 1] != 0)) {
        length += 2;
    }
    std::string_view units(reinterpret_cast<const char*>(data.data()), length);
    std::string text;
    const std::string to = CodePageName(codePage);
    if (!Convert(to.c_str(), "UTF-16LE", units, "?", SkipUtf16Unit, text)) {
        return {};
    }
    return Text(UpToZero(text));
}

Text Utf8ToText(std::string_view utf8) {
    std::string text;
    if (!Convert("GB18030", "UTF-8", utf8, "?", SkipOneByte, text)) {
        return {};
    }
    return StripZeros(std::move(text));
}

std::string TextToUtf8(std::string_view text) {
    std::string utf8;
    if (!Convert("UTF-8", "GB18030", text, "\xEF\xBF\xBD", SkipOneByte, utf8)) {
        return {};
    }
    return utf8;
}

} // namespace kv
