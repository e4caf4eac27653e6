#include "skin-engine/skin_format.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <functional>

namespace kv::skin {

namespace {

constexpr std::string_view Magic = ".SHE1 ";

// Every value is checked against a closed grammar, so the engine can put them into a style sheet
// without quoting.
bool ParseHexByte(std::string_view s, std::uint8_t& out) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
    if (ec != std::errc() || end != s.data() + s.size() || s.size() != 2) {
        return false;
    }
    out = static_cast<std::uint8_t>(value);
    return true;
}

bool ParseColour(std::string_view s, Colour& out) {
    if (s.size() != 7 || s[0] != '#') {
        return false;
    }
    Colour c;
    if (!ParseHexByte(s.substr(1, 2), c.r) || !ParseHexByte(s.substr(3, 2), c.g) ||
        !ParseHexByte(s.substr(5, 2), c.b)) {
        return false;
    }
    out = c;
    return true;
}

bool ParseFill(std::string_view s, Fill& out) {
    auto space = s.find(' ');
    if (space == std::string_view::npos) {
        Colour c;
        if (!ParseColour(s, c)) {
            return false;
        }
        out = {c, c};
        return true;
    }
    Fill f;
    if (!ParseColour(s.substr(0, space), f.top) || !ParseColour(s.substr(space + 1), f.bottom)) {
        return false;
    }
    out = f;
    return true;
}

bool ParseInt(std::string_view s, int low, int high, int& out) {
    int value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || s[0] == '+' || ec != std::errc() || end != s.data() + s.size() || value < low ||
        value > high) {
        return false;
    }
    out = value;
    return true;
}

// Printable text without the characters that would matter to a style sheet or a font list.
bool PlainName(std::string_view s) {
    if (s.empty() || s.size() > 64 || s.front() == ' ' || s.back() == ' ') {
        return false;
    }
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7f || c == '"' || c == '\'' || c == ';' || c == '{' || c == '}' || c == '\\') {
            return false;
        }
    }
    return true;
}

bool ParseName(std::string_view s, std::string& out) {
    if (!PlainName(s)) {
        return false;
    }
    out = s;
    return true;
}

bool ParseFamilies(std::string_view s, std::vector<std::string>& out) {
    std::vector<std::string> families;
    while (true) {
        auto comma = s.find(',');
        std::string_view item = s.substr(0, comma);
        while (!item.empty() && item.front() == ' ') {
            item.remove_prefix(1);
        }
        if (!PlainName(item) || item.find(',') != std::string_view::npos) {
            return false;
        }
        families.emplace_back(item);
        if (comma == std::string_view::npos) {
            break;
        }
        s.remove_prefix(comma + 1);
    }
    if (families.size() > 8) {
        return false;
    }
    out = std::move(families);
    return true;
}

bool ParseWeight(std::string_view s, bool& bold) {
    if (s == "bold" || s == "normal") {
        bold = s == "bold";
        return true;
    }
    return false;
}

struct Key {
    std::string_view name;
    std::function<bool(std::string_view, SkinLook&)> read;
};

const std::array<Key, 16>& Keys() {
    static const std::array<Key, 16> keys = {{
        {"name", [](auto v, auto& l) { return ParseName(v, l.name); }},
        {"window", [](auto v, auto& l) { return ParseFill(v, l.window); }},
        {"text", [](auto v, auto& l) { return ParseColour(v, l.text); }},
        {"button", [](auto v, auto& l) { return ParseFill(v, l.button); }},
        {"button-hover", [](auto v, auto& l) { return ParseFill(v, l.buttonHover); }},
        {"button-pressed", [](auto v, auto& l) { return ParseFill(v, l.buttonPressed); }},
        {"button-text", [](auto v, auto& l) { return ParseColour(v, l.buttonText); }},
        {"button-border", [](auto v, auto& l) { return ParseColour(v, l.buttonBorder); }},
        {"border-width", [](auto v, auto& l) { return ParseInt(v, 0, 4, l.borderWidth); }},
        {"button-radius", [](auto v, auto& l) { return ParseInt(v, 0, 16, l.buttonRadius); }},
        {"field-border", [](auto v, auto& l) { return ParseColour(v, l.fieldBorder); }},
        {"field-radius", [](auto v, auto& l) { return ParseInt(v, 0, 12, l.fieldRadius); }},
        {"accent", [](auto v, auto& l) { return ParseColour(v, l.accent); }},
        {"font", [](auto v, auto& l) { return ParseFamilies(v, l.fontFamilies); }},
        {"font-size", [](auto v, auto& l) { return ParseInt(v, 6, 20, l.fontSize); }},
        {"button-weight", [](auto v, auto& l) { return ParseWeight(v, l.buttonBold); }},
    }};
    return keys;
}

} // namespace

std::string_view SkinErrorText(SkinError error) {
    switch (error) {
    case SkinError::None:
        return "no error";
    case SkinError::BadMagic:
        return "not a skin block";
    case SkinError::BadHeader:
        return "unreadable header";
    case SkinError::Truncated:
        return "body runs past the block";
    case SkinError::BadChecksum:
        return "checksum mismatch";
    case SkinError::BadLine:
        return "line is not key=value";
    case SkinError::UnknownKey:
        return "unknown key";
    case SkinError::DuplicateKey:
        return "key given twice";
    case SkinError::MissingKey:
        return "key missing";
    case SkinError::BadValue:
        return "value out of its grammar";
    }
    return "unknown error";
}

std::uint32_t Fnv1a32(std::span<const std::uint8_t> bytes) {
    std::uint32_t hash = 2166136261u;
    for (std::uint8_t b : bytes) {
        hash = (hash ^ b) * 16777619u;
    }
    return hash;
}

SkinError ParseSkinBody(std::string_view body, SkinLook& out) {
    const auto& keys = Keys();
    std::array<bool, 16> seen{};
    SkinLook look;
    while (!body.empty()) {
        auto newline = body.find('\n');
        if (newline == std::string_view::npos) {
            return SkinError::BadLine;
        }
        std::string_view line = body.substr(0, newline);
        body.remove_prefix(newline + 1);
        auto equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            return SkinError::BadLine;
        }
        std::string_view name = line.substr(0, equals);
        std::size_t index = 0;
        while (index < keys.size() && keys[index].name != name) {
            ++index;
        }
        if (index == keys.size()) {
            return SkinError::UnknownKey;
        }
        if (seen[index]) {
            return SkinError::DuplicateKey;
        }
        seen[index] = true;
        if (!keys[index].read(line.substr(equals + 1), look)) {
            return SkinError::BadValue;
        }
    }
    for (bool s : seen) {
        if (!s) {
            return SkinError::MissingKey;
        }
    }
    out = std::move(look);
    return SkinError::None;
}

SkinError ParseSkinBlock(std::span<const std::uint8_t> block, SkinLook& out) {
    std::string_view text(reinterpret_cast<const char*>(block.data()), block.size());
    if (!text.starts_with(Magic)) {
        return SkinError::BadMagic;
    }
    text.remove_prefix(Magic.size());
    std::size_t bodyLength = 0;
    auto [lengthEnd, ec] = std::from_chars(text.data(), text.data() + text.size(), bodyLength);
    if (ec != std::errc() || lengthEnd == text.data() + text.size() || *lengthEnd != ' ') {
        return SkinError::BadHeader;
    }
    text.remove_prefix(lengthEnd - text.data() + 1);
    if (text.size() < 9 || text[8] != '\n') {
        return SkinError::BadHeader;
    }
    std::uint32_t checksum = 0;
    auto [sumEnd, sumEc] = std::from_chars(text.data(), text.data() + 8, checksum, 16);
    if (sumEc != std::errc() || sumEnd != text.data() + 8) {
        return SkinError::BadHeader;
    }
    text.remove_prefix(9);
    if (bodyLength > text.size()) {
        return SkinError::Truncated;
    }
    std::string_view body = text.substr(0, bodyLength);
    if (Fnv1a32({reinterpret_cast<const std::uint8_t*>(body.data()), body.size()}) != checksum) {
        return SkinError::BadChecksum;
    }
    return ParseSkinBody(body, out);
}

std::vector<std::uint8_t> BuildSkinBlock(std::string_view body, std::size_t length) {
    char header[40];
    int headerLength = std::snprintf(
        header, sizeof header, ".SHE1 %zu %08x\n", body.size(),
        static_cast<unsigned>(Fnv1a32({reinterpret_cast<const std::uint8_t*>(body.data()), body.size()})));
    if (headerLength <= 0 || static_cast<std::size_t>(headerLength) + body.size() > length) {
        return {};
    }
    std::vector<std::uint8_t> block(length, 0);
    std::copy(header, header + headerLength, block.begin());
    std::copy(body.begin(), body.end(), block.begin() + headerLength);
    return block;
}

} // namespace kv::skin
