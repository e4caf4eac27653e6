// Decoding of the captcha picture's bytes (PNG or JPEG, told apart by signature) into plain RGBA
// pixels. Kept free of the GUI toolkit so that the fuzz target can drive it on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kv {

// Larger images are refused before any pixel memory is taken: the bytes come from the network.
constexpr int MaxDecodedSide = 2048;

struct DecodedImage {
    int width = 0;
    int height = 0;
    // Rows top to bottom, 4 bytes a pixel in the order R, G, B, A, no padding.
    std::vector<std::uint8_t> rgba;
};

// Empty for empty bytes, an unknown signature, a side over MaxDecodedSide, or any error or
// corrupt-data warning while decoding: a picture is shown whole or not at all.
std::optional<DecodedImage> DecodeImage(std::span<const std::uint8_t> bytes);

} // namespace kv
