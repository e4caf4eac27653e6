// Captcha images: four characters from a built-in bitmap font, scaled up, each placed and slanted
// a little at random over a speckled background crossed by a couple of lines.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kv::sim {

// Letters and digits without the look-alikes 0, O, 1, L and I.
inline constexpr std::string_view CaptchaAlphabet = "23456789ABCDEFGHJKMNPQRSTUVWXYZ";
inline constexpr int CaptchaLength = 4;
inline constexpr int CaptchaWidth = 93;
inline constexpr int CaptchaHeight = 32;

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels; // rows of R, G, B
};

std::string NewCaptchaText(std::mt19937_64& rng);
// Characters outside the alphabet are drawn as blanks.
RgbImage DrawCaptcha(std::string_view text, std::mt19937_64& rng);
std::optional<std::string> EncodePng(const RgbImage& image);
std::optional<std::string> EncodeJpeg(const RgbImage& image);

} // namespace kv::sim
