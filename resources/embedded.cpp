#include "resources/embedded.h"

#include <array>

// Start and end of each included file; defined by the generated assembly beside this file.
#define KV_EMBEDDED(name)                                                                                    \
    extern "C" __attribute__((visibility("hidden"))) const std::uint8_t kv_embedded_##name##_begin[];        \
    extern "C" __attribute__((visibility("hidden"))) const std::uint8_t kv_embedded_##name##_end[];
#include "embedded_list.inc"
#undef KV_EMBEDDED

namespace kv {

namespace {

struct Range {
    const std::uint8_t* begin;
    const std::uint8_t* end;
};

// The engine first, then the blocks in number order.
constexpr Range Files[] = {
#define KV_EMBEDDED(name) {kv_embedded_##name##_begin, kv_embedded_##name##_end},
#include "embedded_list.inc"
#undef KV_EMBEDDED
};
static_assert(std::size(Files) == 1 + SkinBlockCount);

std::span<const std::uint8_t> FileSpan(const Range& range) {
    return {range.begin, static_cast<std::size_t>(range.end - range.begin)};
}

} // namespace

std::span<const std::uint8_t> EmbeddedSkinLibrary() {
    return FileSpan(Files[0]);
}

std::span<const std::uint8_t> EmbeddedSkinBlock(int number) {
    if (number < 1 || number > SkinBlockCount) {
        return {};
    }
    return FileSpan(Files[number]);
}

} // namespace kv
