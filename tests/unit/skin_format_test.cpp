#include "skin-engine/skin_format.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>

namespace {

using kv::skin::SkinError;
using kv::skin::SkinLook;

const std::string ValidBody = "name=Harbour\n"
                              "window=#f1f5f9 #dbe4ee\n"
                              "text=#1f2d3d\n"
                              "button=#FDFEFE\n"
                              "button-hover=#fdfefe #e0e9f2\n"
                              "button-pressed=#bccfe2 #ecf6f6\n"
                              "button-text=#1f2d3d\n"
                              "button-border=#4c7eb1\n"
                              "border-width=2\n"
                              "button-radius=16\n"
                              "field-border=#76a1ce\n"
                              "field-radius=0\n"
                              "accent=#3b6fa6\n"
                              "font=Noto Sans, 文泉驿微米黑\n"
                              "font-size=9\n"
                              "button-weight=bold\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

// Test names from the cases' descriptions.
std::string CaseName(const std::string& what) {
    std::string name;
    for (char c : what) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

std::span<const std::uint8_t> AsBytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(SkinFormat, ReadsEveryKey) {
    SkinLook look;
    ASSERT_EQ(kv::skin::ParseSkinBody(ValidBody, look), SkinError::None);
    EXPECT_EQ(look.name, "Harbour");
    EXPECT_EQ(look.window.top, (kv::skin::Colour{0xf1, 0xf5, 0xf9}));
    EXPECT_EQ(look.window.bottom, (kv::skin::Colour{0xdb, 0xe4, 0xee}));
    // One colour is a solid fill, in either case of hex digit.
    EXPECT_EQ(look.button.top, (kv::skin::Colour{0xfd, 0xfe, 0xfe}));
    EXPECT_EQ(look.button.bottom, look.button.top);
    EXPECT_EQ(look.borderWidth, 2);
    EXPECT_EQ(look.buttonRadius, 16);
    EXPECT_EQ(look.fieldRadius, 0);
    EXPECT_EQ(look.fontFamilies, (std::vector<std::string>{"Noto Sans", "文泉驿微米黑"}));
    EXPECT_EQ(look.fontSize, 9);
    EXPECT_TRUE(look.buttonBold);
}

struct BodyCase {
    const char* what;
    std::string body;
    SkinError expected;
};

class MalformedBody : public testing::TestWithParam<BodyCase> {};

TEST_P(MalformedBody, IsRejectedAndLeavesTheLookAlone) {
    SkinLook look;
    look.name = "untouched";
    EXPECT_EQ(kv::skin::ParseSkinBody(GetParam().body, look), GetParam().expected);
    EXPECT_EQ(look.name, "untouched");
}

INSTANTIATE_TEST_SUITE_P(
    SkinFormat, MalformedBody,
    testing::Values(
        BodyCase{"last line without newline", ValidBody.substr(0, ValidBody.size() - 1), SkinError::BadLine},
        BodyCase{"line without equals", ValidBody + "shadow\n", SkinError::BadLine},
        BodyCase{"empty key", ValidBody + "=1\n", SkinError::BadLine},
        BodyCase{"blank line", ValidBody + "\n", SkinError::BadLine},
        BodyCase{"unknown key", ValidBody + "shadow=1\n", SkinError::UnknownKey},
        BodyCase{"space before equals", Replace(ValidBody, "text=", "text ="), SkinError::UnknownKey},
        BodyCase{"key twice", ValidBody + "text=#000000\n", SkinError::DuplicateKey},
        BodyCase{"key missing", Replace(ValidBody, "accent=#3b6fa6\n", ""), SkinError::MissingKey},
        BodyCase{"empty body", "", SkinError::MissingKey},
        BodyCase{"short colour", Replace(ValidBody, "text=#1f2d3d", "text=#1f2d3"), SkinError::BadValue},
        BodyCase{"colour without hash", Replace(ValidBody, "text=#1f2d3d", "text=1f2d3d0"),
                 SkinError::BadValue},
        BodyCase{"colour not hex", Replace(ValidBody, "text=#1f2d3d", "text=#1g2d3d"), SkinError::BadValue},
        BodyCase{"colour with sign", Replace(ValidBody, "text=#1f2d3d", "text=#+f2d3d"), SkinError::BadValue},
        BodyCase{"three colours in a fill", Replace(ValidBody, "#f1f5f9 #dbe4ee", "#f1f5f9 #dbe4ee #000000"),
                 SkinError::BadValue},
        BodyCase{"fill with two spaces", Replace(ValidBody, "#f1f5f9 #dbe4ee", "#f1f5f9  #dbe4ee"),
                 SkinError::BadValue},
        BodyCase{"radius too large", Replace(ValidBody, "button-radius=16", "button-radius=17"),
                 SkinError::BadValue},
        BodyCase{"radius negative", Replace(ValidBody, "field-radius=0", "field-radius=-1"),
                 SkinError::BadValue},
        BodyCase{"radius with plus", Replace(ValidBody, "field-radius=0", "field-radius=+1"),
                 SkinError::BadValue},
        BodyCase{"number with unit", Replace(ValidBody, "font-size=9", "font-size=9pt"), SkinError::BadValue},
        BodyCase{"font size too small", Replace(ValidBody, "font-size=9", "font-size=5"),
                 SkinError::BadValue},
        BodyCase{"empty font family", Replace(ValidBody, "Noto Sans, ", "Noto Sans,,"), SkinError::BadValue},
        BodyCase{"style sheet syntax in a font", Replace(ValidBody, "Noto Sans", "Noto} QWidget{"),
                 SkinError::BadValue},
        BodyCase{"quote in a name", Replace(ValidBody, "name=Harbour", "name=Har\"bour"),
                 SkinError::BadValue},
        BodyCase{"empty name", Replace(ValidBody, "name=Harbour", "name="), SkinError::BadValue},
        BodyCase{"unknown weight", Replace(ValidBody, "button-weight=bold", "button-weight=heavy"),
                 SkinError::BadValue}),
    [](const auto& info) { return CaseName(info.param.what); });

TEST(SkinFormat, BuildsBlocksOfTheExactLengthThatReadBack) {
    std::vector<std::uint8_t> block = kv::skin::BuildSkinBlock(ValidBody, 13192);
    ASSERT_EQ(block.size(), 13192u);
    EXPECT_EQ(std::string(block.begin(), block.begin() + 4), ".SHE");
    EXPECT_EQ(block.back(), 0);
    SkinLook look;
    EXPECT_EQ(kv::skin::ParseSkinBlock(block, look), SkinError::None);
    EXPECT_EQ(look.name, "Harbour");
}

TEST(SkinFormat, RefusesABodyThatDoesNotFit) {
    // ".SHE1 ", the decimal length, a space, eight hex digits and a newline, then the body.
    const std::size_t exact = 6 + std::to_string(ValidBody.size()).size() + 10 + ValidBody.size();
    EXPECT_EQ(kv::skin::BuildSkinBlock(ValidBody, exact).size(), exact);
    EXPECT_TRUE(kv::skin::BuildSkinBlock(ValidBody, exact - 1).empty());
}

struct BlockCase {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    SkinError expected;
};

class MalformedBlock : public testing::TestWithParam<BlockCase> {};

TEST_P(MalformedBlock, IsRejected) {
    std::vector<std::uint8_t> block = kv::skin::BuildSkinBlock(ValidBody, 400);
    GetParam().damage(block);
    SkinLook look;
    EXPECT_EQ(kv::skin::ParseSkinBlock(block, look), GetParam().expected);
}

void Overwrite(std::vector<std::uint8_t>& block, std::size_t at, const std::string& bytes) {
    std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
}

// The header of ValidBody's block is ".SHE1 315 xxxxxxxx\n": magic at 0, length at 6, checksum at 10.
INSTANTIATE_TEST_SUITE_P(
    SkinFormat, MalformedBlock,
    testing::Values(
        BlockCase{"empty", [](auto& b) { b.clear(); }, SkinError::BadMagic},
        BlockCase{"other magic", [](auto& b) { Overwrite(b, 0, ".SHF"); }, SkinError::BadMagic},
        BlockCase{"other version", [](auto& b) { Overwrite(b, 4, "2"); }, SkinError::BadMagic},
        BlockCase{"length not a number", [](auto& b) { Overwrite(b, 6, "x"); }, SkinError::BadHeader},
        BlockCase{"checksum too short", [](auto& b) { Overwrite(b, 17, "\n"); }, SkinError::BadHeader},
        BlockCase{"checksum not hex", [](auto& b) { Overwrite(b, 10, "z"); }, SkinError::BadHeader},
        BlockCase{"cut inside the header", [](auto& b) { b.resize(12); }, SkinError::BadHeader},
        BlockCase{"cut inside the body", [](auto& b) { b.resize(100); }, SkinError::Truncated},
        BlockCase{"length beyond the block", [](auto& b) { Overwrite(b, 6, "999"); }, SkinError::Truncated},
        BlockCase{"body byte changed", [](auto& b) { Overwrite(b, 25, "X"); }, SkinError::BadChecksum},
        BlockCase{"shorter length", [](auto& b) { Overwrite(b, 6, "314"); }, SkinError::BadChecksum}),
    [](const auto& info) { return CaseName(info.param.what); });

TEST(SkinFormat, ChecksumIsFnv1a) {
    // Published FNV-1a 32-bit values.
    EXPECT_EQ(kv::skin::Fnv1a32(AsBytes("")), 0x811c9dc5u);
    EXPECT_EQ(kv::skin::Fnv1a32(AsBytes("a")), 0xe40c292cu);
    EXPECT_EQ(kv::skin::Fnv1a32(AsBytes("foobar")), 0xbf9cf968u);
}

} // namespace
