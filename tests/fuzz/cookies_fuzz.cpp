// Response header blocks into cookie strings, and cookie strings merged into each other.
#include "fuzz_check.h"
#include "http/cookies.h"
#include "text/text.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\n');
    kv::Text current = cut == std::string::npos ? std::string() : input.substr(0, cut);
    kv::Text block = cut == std::string::npos ? input : input.substr(cut + 1);
    kv::Text collected;
    kv::CollectSetCookies(block, collected);
    kv::Text incoming = collected;
    const kv::Text merged = kv::MergeCookies(current, incoming);
    KV_FUZZ_CHECK(merged == current);
    // The incoming string is written back blank-free, and no item of the result ends in "=deleted".
    KV_FUZZ_CHECK(kv::RemoveSpaces(incoming) == incoming);
    for (const kv::Text& item : kv::SplitText(merged, "; ")) {
        KV_FUZZ_CHECK(kv::TextRight(item, 8) != "=deleted");
    }
    // Merging the same incoming cookies again changes nothing. Two-byte characters may swallow a
    // separator's first byte, so this holds for ASCII strings only.
    const bool ascii = std::all_of(input.begin(), input.end(), [](char c) { return (c & 0x80) == 0; });
    kv::Text again = incoming;
    if (ascii) {
        KV_FUZZ_CHECK(kv::MergeCookies(current, again) == merged);
    }
    return 0;
}
