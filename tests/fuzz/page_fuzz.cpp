// Reply pages: percent decoding with and without the UTF-8 conversion, and the code extraction.
#include "fuzz_check.h"
#include "service/page_decoding.h"
#include "text/extract.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kv::Text page(reinterpret_cast<const char*>(data), size);
    const kv::Text decoded = kv::PercentDecode(page);
    KV_FUZZ_CHECK(decoded.size() <= page.size());
    if (page.find('%') == std::string::npos) {
        KV_FUZZ_CHECK(decoded == page);
    }
    const kv::Text converted = kv::PercentDecode(page, true);
    KV_FUZZ_CHECK(converted.find('\0') == std::string::npos);
    const kv::Text code = kv::TextBetween(page, "{\"code\":", ",\"");
    KV_FUZZ_CHECK(code.size() <= page.size());
    return 0;
}
