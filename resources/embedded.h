// The resource data the client carries: the skin engine's file and the 33 skin blocks.
#pragma once

#include <cstdint>
#include <span>

namespace kv {

inline constexpr int SkinBlockCount = 33;

// The engine library, written beside the executable as SkinH_EL.dll.
std::span<const std::uint8_t> EmbeddedSkinLibrary();
// Skin block 1..SkinBlockCount; an empty span for any other number.
std::span<const std::uint8_t> EmbeddedSkinBlock(int number);

} // namespace kv
