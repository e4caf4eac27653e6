#include "http/cookies.h"

#include "text/extract.h"

namespace kv {

void CollectSetCookies(Text& headerBlock, Text& cookies) {
    headerBlock = ReplaceText(headerBlock, "Set-Cookie", "Set-Cookie", std::nullopt, std::nullopt, false);
    Text collected;
    for (const Text& line : SplitText(headerBlock, "\r\n")) {
        if (FindText(line, "Set-Cookie") == -1) {
            continue;
        }
        Text item;
        if (FindText(line, ";") != -1) {
            item = TrimText(TextBetween(line, "Set-Cookie:", ";"));
        } else {
            item = TrimText(ReplaceText(line, "Set-Cookie:", "", std::nullopt, std::nullopt, false));
        }
        collected += item + "; ";
    }
    cookies = TextLeft(collected, TextLength(collected) - 2);
}

Text MergeCookies(Text& current, Text& incoming) {
    current = RemoveSpaces(current);
    incoming = RemoveSpaces(incoming);
    TextList old = SplitText(current, ";");
    TextList result = SplitText(incoming, ";");
    for (const Text& item : old) {
        if (!CookieNamePresent(result, CookieName(item))) {
            result.push_back(item);
        }
    }
    Text merged;
    for (const Text& item : result) {
        if (TextRight(item, 8) != "=deleted") {
            merged += item + "; ";
        }
    }
    merged = TextLeft(merged, TextLength(merged) - 2);
    current = RemoveDuplicateItems(merged, "; ");
    return current;
}

Text CookieName(std::string_view item) {
    int equals = FindText(item, "=");
    return TrimText(equals == -1 ? Text(item) : TextLeft(item, equals - 1));
}

bool CookieNamePresent(const TextList& list, std::string_view name) {
    for (const Text& item : list) {
        if (CookieName(item) == name) {
            return true;
        }
    }
    return false;
}

Text RemoveDuplicateItems(std::string_view text, std::string_view separator) {
    TextList seen;
    Text output;
    for (const Text& item : SplitText(text, separator)) {
        if (FindListItem(seen, item) == -1) {
            seen.push_back(item);
            output += item;
            output += separator;
        }
    }
    return TextLeft(output, TextLength(output) - TextLength(separator));
}

int FindListItem(const TextList& list, std::string_view item) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == item) {
            return static_cast<int>(i) + 1;
        }
    }
    return -1;
}

} // namespace kv
