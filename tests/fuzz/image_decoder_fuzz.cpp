// Captcha bytes from the network: whatever arrives, the decoder gives a whole picture within
// the size limit or nothing.
#include "app/image_decoder.h"
#include "fuzz_check.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto decoded = kv::DecodeImage({data, size});
    if (decoded) {
        KV_FUZZ_CHECK(decoded->width >= 1 && decoded->width <= kv::MaxDecodedSide);
        KV_FUZZ_CHECK(decoded->height >= 1 && decoded->height <= kv::MaxDecodedSide);
        KV_FUZZ_CHECK(decoded->rgba.size() == std::size_t(decoded->width) * std::size_t(decoded->height) * 4);
    }
    return 0;
}
