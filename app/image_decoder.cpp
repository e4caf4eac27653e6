#include "app/image_decoder.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <new>

#include <jpeglib.h>
#include <png.h>

namespace kv {
namespace {

constexpr std::array<std::uint8_t, 8> PngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::array<std::uint8_t, 3> JpegSignature = {0xFF, 0xD8, 0xFF};

// A progressive JPEG may hold any number of scans, each costing a pass over the coefficients;
// real captchas have a handful.
constexpr int MaxJpegScans = 256;

bool StartsWith(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

bool SideFits(unsigned long width, unsigned long height) {
    return width <= MaxDecodedSide && height <= MaxDecodedSide;
}

std::uint32_t BigEndian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 |
           bytes[3];
}

// libpng takes a chunk's length from its header and allocates that much for some chunks (text)
// before it finds the data missing: a 100-byte file can ask for gigabytes. Every chunk up to the
// end chunk must therefore lie within the bytes we hold.
bool PngChunksFit(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t Frame = 12; // length, type, checksum
    std::size_t at = PngSignature.size();
    while (bytes.size() - at >= Frame) {
        const std::uint32_t length = BigEndian32(bytes.data() + at);
        if (length > bytes.size() - at - Frame) {
            return false;
        }
        const bool end = std::equal(bytes.begin() + at + 4, bytes.begin() + at + 8, "IEND");
        at += Frame + length;
        if (end) {
            return true;
        }
    }
    return false;
}

// libpng's simplified reader keeps its png_struct behind `opaque`; freeing it is our job on
// every path that got past a successful begin.
class PngReader {
public:
    PngReader() { m_image.version = PNG_IMAGE_VERSION; }
    ~PngReader() { png_image_free(&m_image); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    png_image& image() { return m_image; }

private:
    png_image m_image{};
};

std::optional<DecodedImage> DecodePng(std::span<const std::uint8_t> bytes) {
    if (!PngChunksFit(bytes)) {
        return std::nullopt;
    }
    PngReader reader;
    png_image& image = reader.image();
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        return std::nullopt;
    }
    if (!SideFits(image.width, image.height)) {
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGBA;
    DecodedImage decoded{static_cast<int>(image.width), static_cast<int>(image.height),
                         std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
    if (!png_image_finish_read(&image, nullptr, decoded.rgba.data(), 0, nullptr)) {
        return std::nullopt;
    }
    return decoded;
}

// libjpeg reports errors by calling error_exit, which must not return; we jump back to
// ReadJpeg. The manager comes first so that libjpeg's pointer to it is a pointer to the whole.
struct JpegErrorJump {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void JumpOnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrorJump*>(info->err)->jump, 1);
}

// Warnings are still counted by libjpeg; we only keep them off stderr.
void DiscardJpegMessage(j_common_ptr) {}

void LimitJpegScans(j_common_ptr info) {
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > MaxJpegScans) {
        JumpOnJpegError(info);
    }
}

class JpegDecompressor {
public:
    JpegDecompressor() {
        m_info.err = jpeg_std_error(&m_error.manager);
        m_error.manager.error_exit = JumpOnJpegError;
        m_error.manager.output_message = DiscardJpegMessage;
        m_progress.progress_monitor = LimitJpegScans;
    }
    // A struct whose creation never ran or failed half-way has no memory manager, and
    // jpeg_destroy_decompress leaves it alone.
    ~JpegDecompressor() { jpeg_destroy_decompress(&m_info); }
    JpegDecompressor(const JpegDecompressor&) = delete;
    JpegDecompressor& operator=(const JpegDecompressor&) = delete;

    jpeg_decompress_struct m_info{};
    JpegErrorJump m_error{};
    jpeg_progress_mgr m_progress{};
};

// Every libjpeg call that may jump is in this frame, and nothing here has a destructor, so the
// jump skips no cleanup; the decompressor and the pixels belong to the caller.
bool ReadJpeg(JpegDecompressor& jpeg, std::span<const std::uint8_t> bytes, DecodedImage& decoded) {
    jpeg_decompress_struct* info = &jpeg.m_info;
    if (setjmp(jpeg.m_error.jump) != 0) {
        return false;
    }
    jpeg_create_decompress(info);
    info->progress = &jpeg.m_progress;
    jpeg_mem_src(info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) {
        return false;
    }
    if (!SideFits(info->image_width, info->image_height)) {
        return false;
    }
    info->out_color_space = JCS_EXT_RGBA;
    if (!jpeg_start_decompress(info)) {
        return false;
    }
    decoded.width = static_cast<int>(info->output_width);
    decoded.height = static_cast<int>(info->output_height);
    const std::size_t stride = std::size_t{info->output_width} * 4;
    decoded.rgba.resize(stride * info->output_height);
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = decoded.rgba.data() + stride * info->output_scanline;
        if (jpeg_read_scanlines(info, &row, 1) != 1) {
            return false;
        }
    }
    jpeg_finish_decompress(info);
    // Truncated or damaged data only raises warnings (libjpeg pads the picture with grey).
    return info->err->num_warnings == 0;
}

std::optional<DecodedImage> DecodeJpeg(std::span<const std::uint8_t> bytes) {
    JpegDecompressor jpeg;
    DecodedImage decoded;
    if (!ReadJpeg(jpeg, bytes, decoded)) {
        return std::nullopt;
    }
    return decoded;
}

} // namespace

std::optional<DecodedImage> DecodeImage(std::span<const std::uint8_t> bytes) {
    try {
        if (StartsWith(bytes, PngSignature)) {
            return DecodePng(bytes);
        }
        if (StartsWith(bytes, JpegSignature)) {
            return DecodeJpeg(bytes);
        }
    } catch (const std::bad_alloc&) {
    }
    return std::nullopt;
}

} // namespace kv
