#include "resources/embedded.h"
#include "skin-engine/skin_format.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

// The lengths the client's resource contract fixes for blocks 1..33.
constexpr std::array<std::size_t, 33> ContractLengths = {
    15574, 9533,  19786, 19497, 17699, 41098, 12564, 18930, 13192, 24409, 30738,
    8321,  26370, 15733, 12105, 23603, 20863, 16746, 11676, 17997, 12882, 37461,
    30958, 25715, 34523, 28961, 29447, 15562, 20738, 18765, 31134, 44110, 20275,
};

TEST(EmbeddedSkins, EveryBlockHasItsLengthAndReads) {
    std::set<std::string> names;
    for (int n = 1; n <= kv::SkinBlockCount; ++n) {
        SCOPED_TRACE("skin " + std::to_string(n));
        std::span<const std::uint8_t> block = kv::EmbeddedSkinBlock(n);
        EXPECT_EQ(block.size(), ContractLengths[n - 1]);
        ASSERT_GE(block.size(), 4u);
        EXPECT_EQ(std::string(block.begin(), block.begin() + 4), ".SHE");
        kv::skin::SkinLook look;
        EXPECT_EQ(kv::skin::ParseSkinBlock(block, look), kv::skin::SkinError::None);
        EXPECT_TRUE(names.insert(look.name).second) << look.name;
    }
}

TEST(EmbeddedSkins, NumbersOutsideTheTableHaveNoBlock) {
    for (int n : {0, 34, -1, 1000}) {
        EXPECT_TRUE(kv::EmbeddedSkinBlock(n).empty()) << n;
    }
}

TEST(EmbeddedSkins, LibraryIsTheBuiltEngine) {
    std::ifstream in(KV_BUILT_ENGINE, std::ios::binary);
    ASSERT_TRUE(in) << KV_BUILT_ENGINE;
    std::vector<std::uint8_t> built((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::span<const std::uint8_t> embedded = kv::EmbeddedSkinLibrary();
    ASSERT_FALSE(built.empty());
    EXPECT_TRUE(std::equal(built.begin(), built.end(), embedded.begin(), embedded.end()));
}

} // namespace
