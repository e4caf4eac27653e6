// Percent decoding by the digit table, with its exact treatment of bad and missing digits.
#include "service/page_decoding.h"

#include "text/codepage.h"

namespace kv {
namespace {

// A digit's value is its place in the table minus 1: any other byte gives -2, and a position
// past the end (the empty text, found at 1) gives 0.
int DigitValue(const Text& text, int position) {
    return FindText("0123456789ABCDEF", ToUpperText(TextMid(text, position, 1))) - 1;
}

} // namespace

Text PercentDecode(const Text& text, std::optional<bool> convertFromUtf8) {
    const int n = TextLength(text);
    Text result;
    result.reserve(text.size());
    for (int p = 1; p <= n;) {
        const char c = text[static_cast<std::size_t>(p - 1)];
        if (c != '%') {
            result += c;
            p += 1;
            continue;
        }
        const int value = DigitValue(text, p + 1) * 16 + DigitValue(text, p + 2);
        const auto byte = static_cast<unsigned char>(value & 0xFF);
        if (byte != 0) {
            result += static_cast<char>(byte);
        }
        p += 3;
    }
    if (convertFromUtf8.value_or(false)) {
        return Utf8ToGbk(result);
    }
    return result;
}

Text Utf8ToGbk(std::string_view text) {
    return Utf16ToText(TextToUtf16(text), CodePageGbk);
}

} // namespace kv
