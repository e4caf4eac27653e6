#include "sim/form.h"

#include <cstdint>

namespace kv::sim {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Length of the well-formed UTF-8 sequence at pos (no overlongs, surrogates or values past
// U+10FFFF), 0 when the byte there starts none.
std::size_t Utf8Length(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(pos);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    std::uint32_t value = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, lowest = 0x80, value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, lowest = 0x800, value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, lowest = 0x10000, value = lead & 0x07;
    } else {
        return 0;
    }
    if (pos + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(pos + i) & 0x3F);
    }
    if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    return length;
}

} // namespace

std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            const int high = HexDigit(text[i + 1]);
            const int low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<NameValues> DecodeForm(std::string_view body) {
    NameValues fields;
    while (!body.empty()) {
        const std::size_t amp = body.find('&');
        const std::string_view piece = body.substr(0, amp);
        body = amp == std::string_view::npos ? std::string_view{} : body.substr(amp + 1);
        if (piece.empty()) {
            continue;
        }
        const std::size_t eq = piece.find('=');
        auto name = PercentDecode(piece.substr(0, eq), true);
        auto value =
            PercentDecode(eq == std::string_view::npos ? std::string_view{} : piece.substr(eq + 1), true);
        if (!name || !value) {
            return std::nullopt;
        }
        fields.emplace_back(std::move(*name), std::move(*value));
    }
    return fields;
}

std::string PercentEncode(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<std::uint8_t>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0xF];
        }
    }
    return out;
}

NameValues ParseCookieHeader(std::string_view header) {
    NameValues cookies;
    while (!header.empty()) {
        const std::size_t semi = header.find(';');
        const std::string_view item = TrimBlanks(header.substr(0, semi));
        header = semi == std::string_view::npos ? std::string_view{} : header.substr(semi + 1);
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        const std::string_view name = TrimBlanks(item.substr(0, eq));
        std::string_view value = TrimBlanks(item.substr(eq + 1));
        if (name.empty()) {
            continue;
        }
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        cookies.emplace_back(std::string(name), std::string(value));
    }
    return cookies;
}

std::optional<std::string> ValueOf(const NameValues& items, std::string_view name) {
    for (const auto& [itemName, value] : items) {
        if (itemName == name) {
            return value;
        }
    }
    return std::nullopt;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithIgnoreCase(a, b);
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (LowerAscii(text[i]) != LowerAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = LowerAscii(c);
    }
    return out;
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8Length(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (length == 1) {
            switch (text[i]) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += text[i];
                break;
            }
        } else {
            out += text.substr(i, length);
        }
        i += length;
    }
    return out;
}

std::string JsonQuote(std::string_view bytes) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out = "\"";
    const auto escape = [&](unsigned unit) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) {
            out += hex[(unit >> shift) & 0xF];
        }
    };
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8Length(bytes, i);
        if (length == 0) {
            escape(0xDC00u + static_cast<std::uint8_t>(bytes[i]));
            ++i;
            continue;
        }
        if (length == 1) {
            const char c = bytes[i];
            if (c == '"' || c == '\\') {
                out += '\\';
                out += c;
            } else if (static_cast<std::uint8_t>(c) < 0x20 || c == 0x7F) {
                escape(static_cast<std::uint8_t>(c));
            } else {
                out += c;
            }
        } else {
            out += bytes.substr(i, length);
        }
        i += length;
    }
    out += '"';
    return out;
}

} // namespace kv::sim
