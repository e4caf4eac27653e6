// Header-line splitting and marker extraction, built only from the text primitives.
#include "text/extract.h"

#include "text/codepage.h"

namespace kv {
namespace {

// Lets a caller write a double quote inside a marker.
const Text& QuotePlaceholder() {
    static const Text placeholder = T("#引号");
    return placeholder;
}

} // namespace

Text HeaderLineName(std::string_view line) {
    int colon = FindText(line, ":");
    if (colon == -1) {
        return {};
    }
    return TrimText(TextLeft(line, colon - 1));
}

Text HeaderLineValue(std::string_view line) {
    int colon = FindText(line, ":");
    if (colon == -1) {
        return {};
    }
    return TrimText(TextRight(line, TextLength(line) - colon));
}

Text TextBetween(std::string_view text, std::string_view left, std::string_view right,
                 std::optional<int> start, bool ignoreCase) {
    const Text leftMarker = ReplaceText(left, QuotePlaceholder(), "\"", std::nullopt, std::nullopt, true);
    const Text rightMarker = ReplaceText(right, QuotePlaceholder(), "\"", std::nullopt, std::nullopt, true);
    int l = FindText(text, leftMarker, start, ignoreCase);
    if (l != -1) {
        l += TextLength(leftMarker);
    }
    int r = FindText(text, rightMarker, l, ignoreCase);
    if (l == -1 || r == -1) {
        return {};
    }
    return TextMid(text, l, r - l);
}

} // namespace kv
