// URL splitting never fails and always gives a path.
#include "fuzz_check.h"
#include "http/url.h"
#include "text/text.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kv::Text url(reinterpret_cast<const char*>(data), size);
    const kv::Text host = kv::UrlHost(url);
    KV_FUZZ_CHECK(host == kv::ToLowerText(host));
    KV_FUZZ_CHECK(!kv::UrlPath(url).empty() && kv::UrlPath(url)[0] == '/');
    (void)kv::UrlPort(url);
    (void)kv::UrlHost(url, true, true, static_cast<int>(size % 4));
    return 0;
}
