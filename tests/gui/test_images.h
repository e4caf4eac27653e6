// Encoded pictures made at test time: through Qt's own writers, and by hand where a file has
// to lie about itself.
#pragma once

#include "text/text.h"

#include <QImage>
#include <cstdint>
#include <string_view>

namespace kv::test {

Bytes Encode(const QImage& image, const char* format, int quality = -1);
// A picture of the given size with a distinct colour at every pixel, so misplaced rows show.
QImage Pattern(int width, int height, QImage::Format format = QImage::Format_RGB32);
// A PNG whose header claims the size; its one data chunk holds a single compressed row.
Bytes PngClaiming(std::uint32_t width, std::uint32_t height);
// The JPEG with the frame header's height and width replaced.
Bytes JpegClaiming(Bytes jpeg, std::uint16_t width, std::uint16_t height);
// Offset of the first chunk of that type in a PNG, or -1.
int PngChunkOffset(const Bytes& png, std::string_view type);
Bytes RandomBytes(std::size_t count, std::uint32_t seed);

} // namespace kv::test
