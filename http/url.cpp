#include "http/url.h"

#include "text/extract.h"

namespace kv {
namespace {

Text StandardHost(Text w, bool mainDomain) {
    if (TextRight(w, 1) != "/") {
        w += "/";
    }
    if (TextLeft(w, 8) == "https://") {
        w = TextBetween(w, "https://", "/");
    } else {
        // Not anchored: an inner "http://" (in a query, say) is taken as the scheme marker.
        if (FindText(w, "http://") == -1) {
            w = "http://" + w;
        }
        w = TextBetween(w, "http://", "/");
    }
    if (mainDomain) {
        TextList labels = SplitText(w, ".");
        int count = ListCount(labels);
        if (count > 1) {
            w = ListItem(labels, count - 1) + "." + ListItem(labels, count);
        }
    }
    return w;
}

Text CountedHost(Text w, bool mainDomain, int dotCount) {
    w = ReplaceText(w, "http://", "", std::nullopt, std::nullopt, true);
    w = ReplaceText(w, "https://", "", std::nullopt, std::nullopt, true);
    int slash = FindText(w, "/");
    if (slash != -1) {
        w = TextLeft(w, slash - 1);
    }
    int length = TextLength(w);
    // Each search looks before the previous dot, so a dot in the very last place never counts.
    int p = length;
    for (int i = 0; i < dotCount; ++i) {
        p = FindTextReverse(w, ".", p);
    }
    int d = FindTextReverse(w, ".", p);
    if (mainDomain) {
        return TextRight(w, length - d);
    }
    if (d != -1) {
        int e = FindTextReverse(w, ".", d);
        if (e != -1) {
            return TextRight(w, length - e);
        }
    }
    return w;
}

} // namespace

Text UrlHost(std::string_view url, bool mainDomain, bool keepPort, std::optional<int> dotCount) {
    Text w = ToLowerText(url);
    w = dotCount ? CountedHost(std::move(w), mainDomain, *dotCount) : StandardHost(std::move(w), mainDomain);
    if (keepPort) {
        return w;
    }
    int colon = FindText(w, ":");
    return colon == -1 ? w : TextLeft(w, colon - 1);
}

int UrlPort(std::string_view url) {
    Text host = UrlHost(url, false, true);
    int colon = FindTextReverse(host, ":");
    if (colon != -1) {
        return TextToInt(TextRight(host, TextLength(host) - colon));
    }
    return ToLowerText(TextLeft(url, 5)) == "https" ? 443 : 80;
}

Text UrlPath(std::string_view url) {
    Text host = UrlHost(url);
    // The first occurrence anywhere, which for a short host may lie inside the scheme.
    int a = FindText(url, host, 1, true);
    int b = FindText(url, "/", a, true);
    if (b <= 0) {
        return "/";
    }
    return TextRight(url, TextLength(url) - b + 1);
}

} // namespace kv
