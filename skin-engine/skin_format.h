// The skin block: ".SHE1 <body length> <FNV-1a of the body, 8 hex digits>\n", then the body of
// "key=value\n" lines, then padding up to the block's fixed length. Qt-free, so the build-time
// generator validates blocks with exactly the parser the engine runs.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv::skin {

struct Colour {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Colour&, const Colour&) = default;
};

// Top to bottom; a solid fill has both ends equal.
struct Fill {
    Colour top, bottom;
    friend bool operator==(const Fill&, const Fill&) = default;
};

struct SkinLook {
    std::string name;
    Fill window;
    Colour text;
    Fill button, buttonHover, buttonPressed;
    Colour buttonText, buttonBorder;
    int borderWidth = 1;
    int buttonRadius = 0;
    Colour fieldBorder;
    int fieldRadius = 0;
    Colour accent;
    std::vector<std::string> fontFamilies;
    int fontSize = 9; // points
    bool buttonBold = false;
    friend bool operator==(const SkinLook&, const SkinLook&) = default;
};

enum class SkinError {
    None,
    BadMagic,  // does not start with ".SHE1 "
    BadHeader, // length or checksum field unreadable
    Truncated, // the body runs past the end of the block
    BadChecksum,
    BadLine, // not "key=value\n"
    UnknownKey,
    DuplicateKey,
    MissingKey,
    BadValue,
};

std::string_view SkinErrorText(SkinError error);

std::uint32_t Fnv1a32(std::span<const std::uint8_t> bytes);

// Reads the body lines alone; `out` is written only on success.
SkinError ParseSkinBody(std::string_view body, SkinLook& out);
// Reads a whole block; `out` is written only on success. Padding after the body is not examined.
SkinError ParseSkinBlock(std::span<const std::uint8_t> block, SkinLook& out);

// Header, body and zero padding to exactly `length` bytes; empty when the body does not fit.
std::vector<std::uint8_t> BuildSkinBlock(std::string_view body, std::size_t length);

} // namespace kv::skin
