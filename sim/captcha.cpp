#include "sim/captcha.h"

#include <png.h>

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <cstdlib>
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace kv::sim {

namespace {

constexpr int GlyphColumns = 5;
constexpr int GlyphRows = 7;
constexpr int Scale = 3;

struct Glyph {
    char letter;
    std::array<std::string_view, GlyphRows> rows;
};

// clang-format off
constexpr std::array<Glyph, 31> Font{{
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {".###.", "#...#", "....#", "..##.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###.."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", "#...#", ".#.#.", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
}};
// clang-format on

const Glyph* FindGlyph(char letter) {
    for (const auto& glyph : Font) {
        if (glyph.letter == letter) {
            return &glyph;
        }
    }
    return nullptr;
}

int Uniform(std::mt19937_64& rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
}

struct Painter {
    RgbImage& image;

    void Put(int x, int y, std::array<std::uint8_t, 3> color) {
        if (x < 0 || y < 0 || x >= image.width || y >= image.height) {
            return;
        }
        const auto at = (static_cast<std::size_t>(y) * image.width + x) * 3;
        std::copy(color.begin(), color.end(), image.pixels.begin() + static_cast<std::ptrdiff_t>(at));
    }

    void Line(int x0, int y0, int x1, int y1, std::array<std::uint8_t, 3> color) {
        const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
        const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
        for (int err = dx + dy;;) {
            Put(x0, y0, color);
            if (x0 == x1 && y0 == y1) {
                return;
            }
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy, x0 += sx;
            }
            if (e2 <= dx) {
                err += dx, y0 += sy;
            }
        }
    }
};

std::array<std::uint8_t, 3> RandomColor(std::mt19937_64& rng, int low, int high) {
    return {static_cast<std::uint8_t>(Uniform(rng, low, high)),
            static_cast<std::uint8_t>(Uniform(rng, low, high)),
            static_cast<std::uint8_t>(Uniform(rng, low, high))};
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Kept free of objects with destructors: libjpeg reports errors by a long jump back here.
bool CompressJpeg(const RgbImage& image, unsigned char** buffer, unsigned long* size) {
    jpeg_compress_struct info{};
    JpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JpegErrorExit;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = static_cast<JDIMENSION>(image.width);
    info.image_height = static_cast<JDIMENSION>(image.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.pixels.data() +
                                            static_cast<std::size_t>(info.next_scanline) * image.width * 3);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

} // namespace

std::string NewCaptchaText(std::mt19937_64& rng) {
    std::string text;
    for (int i = 0; i < CaptchaLength; ++i) {
        text += CaptchaAlphabet[static_cast<std::size_t>(Uniform(rng, 0, int(CaptchaAlphabet.size()) - 1))];
    }
    return text;
}

RgbImage DrawCaptcha(std::string_view text, std::mt19937_64& rng) {
    RgbImage image{CaptchaWidth, CaptchaHeight,
                   std::vector<std::uint8_t>(static_cast<std::size_t>(CaptchaWidth) * CaptchaHeight * 3)};
    Painter paint{image};
    const auto paper = RandomColor(rng, 232, 248);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const int shade = Uniform(rng, -7, 7);
            paint.Put(x, y,
                      {static_cast<std::uint8_t>(paper[0] + shade),
                       static_cast<std::uint8_t>(paper[1] + shade),
                       static_cast<std::uint8_t>(paper[2] + shade)});
        }
    }
    for (int i = 0; i < 140; ++i) {
        paint.Put(Uniform(rng, 0, image.width - 1), Uniform(rng, 0, image.height - 1),
                  RandomColor(rng, 90, 200));
    }
    for (int i = 0; i < 2; ++i) {
        paint.Line(0, Uniform(rng, 3, image.height - 4), image.width - 1, Uniform(rng, 3, image.height - 4),
                   RandomColor(rng, 110, 170));
    }

    constexpr int slot = GlyphColumns * Scale + 6;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const Glyph* glyph = FindGlyph(text[i]);
        if (glyph == nullptr) {
            continue;
        }
        const int left = 5 + static_cast<int>(i) * slot + Uniform(rng, -2, 2);
        const int top = 5 + Uniform(rng, -3, 3);
        const int slant = Uniform(rng, -1, 1);
        const auto ink = RandomColor(rng, 15, 110);
        for (int row = 0; row < GlyphRows; ++row) {
            const int shift = slant * (GlyphRows / 2 - row) / 2;
            for (int column = 0; column < GlyphColumns; ++column) {
                if (glyph->rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] != '#') {
                    continue;
                }
                for (int dy = 0; dy < Scale; ++dy) {
                    for (int dx = 0; dx < Scale; ++dx) {
                        paint.Put(left + column * Scale + dx + shift, top + row * Scale + dy, ink);
                    }
                }
            }
        }
    }
    for (int i = 0; i < 40; ++i) {
        paint.Put(Uniform(rng, 0, image.width - 1), Uniform(rng, 0, image.height - 1),
                  RandomColor(rng, 200, 255));
    }
    return image;
}

std::optional<std::string> EncodePng(const RgbImage& image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&png, nullptr, &size, 0, image.pixels.data(), 0, nullptr) == 0) {
        return std::nullopt;
    }
    std::string out(size, '\0');
    if (png_image_write_to_memory(&png, out.data(), &size, 0, image.pixels.data(), 0, nullptr) == 0) {
        return std::nullopt;
    }
    out.resize(size);
    return out;
}

std::optional<std::string> EncodeJpeg(const RgbImage& image) {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool done = CompressJpeg(image, &buffer, &size);
    std::optional<std::string> out;
    if (done && buffer != nullptr) {
        out.emplace(reinterpret_cast<const char*>(buffer), size);
    }
    std::free(buffer); // allocated by libjpeg's memory destination
    return out;
}

} // namespace kv::sim
