// The captcha decoder against real files made at test time, and against files that lie, break
// off or are noise: those must come back empty, never as a crash, a leak or half a picture.
#include "app/captcha_picture.h"
#include "app/image_decoder.h"
#include "qt_print.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace kv {
namespace {

using test::PrintTo;

using test::Encode;
using test::Pattern;

QImage Smooth(int width, int height, QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
        }
    }
    return image.convertToFormat(format);
}

QImage AsImage(const DecodedImage& decoded) {
    return QImage(decoded.rgba.data(), decoded.width, decoded.height, decoded.width * 4,
                  QImage::Format_RGBA8888)
        .copy();
}

// Largest difference of any channel of any pixel.
int MaxChannelDifference(const QImage& a, const QImage& b) {
    const QImage left = a.convertToFormat(QImage::Format_RGBA8888);
    const QImage right = b.convertToFormat(QImage::Format_RGBA8888);
    int worst = 0;
    for (int y = 0; y < left.height(); ++y) {
        const uchar* l = left.constScanLine(y);
        const uchar* r = right.constScanLine(y);
        for (int i = 0; i < left.width() * 4; ++i) {
            worst = std::max(worst, std::abs(l[i] - r[i]));
        }
    }
    return worst;
}

struct RealFile {
    const char* name;
    QImage image;
    const char* format;
    int tolerance; // 0: lossless
};

class DecodesRealFile : public ::testing::TestWithParam<RealFile> {};

TEST_P(DecodesRealFile, ToTheSamePixels) {
    const RealFile& file = GetParam();
    const Bytes bytes = Encode(file.image, file.format, 95);
    ASSERT_FALSE(bytes.empty());
    const auto decoded = DecodeImage(bytes);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width, file.image.width());
    EXPECT_EQ(decoded->height, file.image.height());
    ASSERT_EQ(decoded->rgba.size(), std::size_t(file.image.width()) * file.image.height() * 4);
    EXPECT_LE(MaxChannelDifference(AsImage(*decoded), file.image), file.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DecodesRealFile,
    ::testing::Values(RealFile{"png_rgb", Pattern(93, 32), "PNG", 0},
                      RealFile{"png_alpha", Pattern(61, 17, QImage::Format_ARGB32), "PNG", 0},
                      RealFile{"png_gray", Pattern(40, 40, QImage::Format_Grayscale8), "PNG", 0},
                      RealFile{"png_palette", Pattern(33, 21, QImage::Format_Indexed8), "PNG", 0},
                      RealFile{"png_one_pixel", Pattern(1, 1), "PNG", 0},
                      RealFile{"png_largest", Pattern(MaxDecodedSide, 3), "PNG", 0},
                      RealFile{"jpeg_rgb", Smooth(120, 40), "JPEG", 12},
                      RealFile{"jpeg_gray", Smooth(64, 30, QImage::Format_Grayscale8), "JPEG", 12},
                      RealFile{"jpeg_largest", Smooth(64, MaxDecodedSide), "JPEG", 12}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageDecoder, TakesBothSidesAtTheLimit) {
    const auto decoded = DecodeImage(Encode(Smooth(MaxDecodedSide, MaxDecodedSide), "PNG"));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width, MaxDecodedSide);
    EXPECT_EQ(decoded->height, MaxDecodedSide);
}

struct Refused {
    const char* name;
    Bytes bytes;
};

Bytes Truncated(Bytes bytes, std::size_t keep) {
    bytes.resize(std::min(keep, bytes.size()));
    return bytes;
}

Bytes WithSignature(std::initializer_list<std::uint8_t> signature, Bytes rest) {
    rest.insert(rest.begin(), signature);
    return rest;
}

// A PNG whose image data chunk has one byte changed, so its checksum no longer matches.
Bytes DamagedPngData() {
    Bytes png = Encode(Pattern(50, 20), "PNG");
    const int idat = test::PngChunkOffset(png, "IDAT");
    png[std::size_t(idat) + 12] ^= 0x55;
    return png;
}

// After the header, a text chunk whose length claims nearly 2 GiB of a file that holds 40 bytes more.
Bytes LyingTextChunk() {
    Bytes png = Encode(Pattern(20, 10), "PNG");
    const std::size_t afterHeader = std::size_t(test::PngChunkOffset(png, "IHDR")) + 12 + 13;
    png.resize(afterHeader);
    const std::uint8_t chunk[] = {0x72, 0x68, 0x29, 0x25, 't', 'E', 'X', 't', 'd', 'a', 't', 'e', 0};
    png.insert(png.end(), std::begin(chunk), std::end(chunk));
    png.resize(png.size() + 40, 'x');
    return png;
}

std::vector<Refused> RefusedCases() {
    const Bytes png = Encode(Pattern(93, 32), "PNG");
    const Bytes jpeg = Encode(Smooth(93, 32), "JPEG", 90);
    const int pngData = test::PngChunkOffset(png, "IDAT");
    return {
        {"empty", {}},
        {"unknown_signature", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}},
        {"png_signature_only", Truncated(png, 8)},
        {"png_header_only", Truncated(png, std::size_t(pngData))},
        {"png_cut_in_data", Truncated(png, std::size_t(pngData) + 20)},
        {"png_cut_halfway", Truncated(png, png.size() / 2)},
        {"png_damaged_data", DamagedPngData()},
        {"png_claims_100000_square", test::PngClaiming(100000, 100000)},
        {"png_text_chunk_claims_2gib", LyingTextChunk()},
        {"png_one_column_too_wide", Encode(Pattern(MaxDecodedSide + 1, 2), "PNG")},
        {"png_one_row_too_high", Encode(Pattern(2, MaxDecodedSide + 1), "PNG")},
        {"jpeg_signature_only", Truncated(jpeg, 3)},
        {"jpeg_cut_halfway", Truncated(jpeg, jpeg.size() / 2)},
        {"jpeg_without_end", Truncated(jpeg, jpeg.size() - 2)},
        {"jpeg_claims_60000_square", test::JpegClaiming(jpeg, 60000, 60000)},
        {"jpeg_one_column_too_wide", Encode(Smooth(MaxDecodedSide + 1, 2), "JPEG")},
        {"random", test::RandomBytes(4096, 1)},
        {"png_signature_then_random",
         WithSignature({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, test::RandomBytes(4096, 2))},
        {"jpeg_signature_then_random", WithSignature({0xFF, 0xD8, 0xFF}, test::RandomBytes(4096, 3))},
    };
}

class RefusesImage : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusesImage, WithoutAPicture) {
    const Bytes& bytes = GetParam().bytes;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(DecodeImage(bytes).has_value());
    // Refusing a giant must not mean decoding it first.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_TRUE(CaptchaPictureImage(bytes, {93, 32}).isNull());
}

INSTANTIATE_TEST_SUITE_P(Hostile, RefusesImage, ::testing::ValuesIn(RefusedCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Many seeds of noise after each signature, and every cut of a small file: none may crash.
TEST(ImageDecoder, SurvivesNoiseAndEveryCut) {
    for (std::uint32_t seed = 10; seed < 200; ++seed) {
        Bytes noise = test::RandomBytes(64 + seed * 7, seed);
        EXPECT_FALSE(DecodeImage(WithSignature({0xFF, 0xD8, 0xFF}, noise)).has_value()) << seed;
        EXPECT_FALSE(
            DecodeImage(WithSignature({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, noise)).has_value())
            << seed;
    }
    // A PNG cut only in its end chunk still holds every pixel; a JPEG needs its end marker.
    const Bytes png = Encode(Pattern(12, 7), "PNG");
    const Bytes jpeg = Encode(Smooth(12, 7), "JPEG");
    const std::pair<Bytes, std::size_t> cuts[] = {{png, std::size_t(test::PngChunkOffset(png, "IEND"))},
                                                  {jpeg, jpeg.size()}};
    for (const auto& [whole, end] : cuts) {
        for (std::size_t keep = 0; keep < end; ++keep) {
            EXPECT_FALSE(DecodeImage(Truncated(whole, keep)).has_value()) << keep << " of " << whole.size();
        }
    }
}

// The opaque part of a fitted picture: where the decoded image was drawn.
QRect OpaqueArea(const QImage& picture) {
    QRect area;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (qAlpha(picture.pixel(x, y)) == 255) {
                area |= QRect(x, y, 1, 1);
            }
        }
    }
    return area;
}

struct Fit {
    const char* name;
    QSize source;
    QRect expected; // inside the 93 x 32 box
};

class FitsCaptcha : public ::testing::TestWithParam<Fit> {};

TEST_P(FitsCaptcha, KeepingAspectCentred) {
    const Fit& fit = GetParam();
    const QImage picture =
        CaptchaPictureImage(Encode(Smooth(fit.source.width(), fit.source.height()), "PNG"), {93, 32});
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(93, 32));
    EXPECT_EQ(OpaqueArea(picture), fit.expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FitsCaptcha,
                         ::testing::Values(Fit{"exact", {93, 32}, {0, 0, 93, 32}},
                                           Fit{"wide", {186, 16}, {0, 12, 93, 8}},
                                           Fit{"tall", {20, 80}, {42, 0, 8, 32}},
                                           Fit{"small_same_shape", {31, 10}, {0, 1, 93, 30}},
                                           Fit{"large_square", {500, 500}, {30, 0, 32, 32}}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kv
