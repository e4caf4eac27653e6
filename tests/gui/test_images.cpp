#include "test_images.h"

#include <QBuffer>
#include <algorithm>
#include <random>
#include <zlib.h>

namespace kv::test {
namespace {

void AppendBigEndian(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void AppendChunk(Bytes& out, std::string_view type, const Bytes& data) {
    AppendBigEndian(out, static_cast<std::uint32_t>(data.size()));
    Bytes typed(type.begin(), type.end());
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    AppendBigEndian(out, static_cast<std::uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

} // namespace

Bytes Encode(const QImage& image, const char* format, int quality) {
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return Bytes(encoded.begin(), encoded.end());
}

QImage Pattern(int width, int height, QImage::Format format) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y,
                           qRgba((x * 37) & 0xFF, (y * 59) & 0xFF, ((x + y) * 11) & 0xFF, 255 - (x & 0x3F)));
        }
    }
    return image.convertToFormat(format);
}

Bytes PngClaiming(std::uint32_t width, std::uint32_t height) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    AppendBigEndian(header, width);
    AppendBigEndian(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB, no interlace
    AppendChunk(png, "IHDR", header);
    Bytes row(1 + 3 * std::min<std::uint32_t>(width, 64), 0);
    Bytes compressed(compressBound(static_cast<uLong>(row.size())));
    uLongf length = static_cast<uLongf>(compressed.size());
    compress(compressed.data(), &length, row.data(), static_cast<uLong>(row.size()));
    compressed.resize(length);
    AppendChunk(png, "IDAT", compressed);
    AppendChunk(png, "IEND", {});
    return png;
}

Bytes JpegClaiming(Bytes jpeg, std::uint16_t width, std::uint16_t height) {
    for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
        // Baseline or progressive frame header: FF C0/C2, length, precision, height, width.
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<std::uint8_t>(height);
            jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<std::uint8_t>(width);
            return jpeg;
        }
    }
    return {};
}

int PngChunkOffset(const Bytes& png, std::string_view type) {
    const auto found = std::search(png.begin(), png.end(), type.begin(), type.end());
    return found == png.end() ? -1 : static_cast<int>(found - png.begin()) - 4;
}

Bytes RandomBytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

} // namespace kv::test
