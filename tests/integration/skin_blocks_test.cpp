// The build-time block generator: it must fail the build rather than write a block that is wrong.
#include "process.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;

struct GeneratorCase {
    const char* what;
    int skin;              // the source to change, 0 for none
    const char* line;      // appended to that source
    const char* complaint; // expected on stderr, empty when the run succeeds
};

class SkinBlockGenerator : public testing::TestWithParam<GeneratorCase> {};

TEST_P(SkinBlockGenerator, WritesAllBlocksOrFails) {
    const GeneratorCase& c = GetParam();
    kv::test::TempDir sources, out;
    std::vector<std::string> args{out.path().string()};
    for (int n = 1; n <= 33; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%02d.skin", n);
        fs::copy_file(fs::path(KV_SKIN_SOURCES) / name, sources.path() / name);
        if (n == c.skin) {
            std::ofstream(sources.path() / name, std::ios::app) << c.line << "\n";
        }
        args.push_back((sources.path() / name).string());
    }
    kv::test::ProcessResult result = kv::test::RunProcess(KV_BLOCK_GENERATOR, args);
    if (*c.complaint == '\0') {
        ASSERT_EQ(result.exitCode, 0) << result.err;
        for (int n = 1; n <= 33; ++n) {
            char name[16];
            std::snprintf(name, sizeof name, "%02d.she", n);
            EXPECT_EQ(kv::test::ReadFileBytes(out.path() / name),
                      kv::test::ReadFileBytes(fs::path(KV_SKIN_BLOCKS) / name))
                << name;
        }
    } else {
        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE(result.err.find(c.complaint), std::string::npos) << result.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Skin, SkinBlockGenerator,
    testing::Values(GeneratorCase{"sources_as_they_are", 0, "", ""},
                    GeneratorCase{"comments_and_blank_lines", 4, "\n   # tuned later\n", ""},
                    GeneratorCase{"unknown_key", 5, "# radius\nshadow = 3", "05.skin: unknown key"},
                    GeneratorCase{"not_key_value", 33, "accent #ffffff", "33.skin:18: expected key = value"},
                    GeneratorCase{"key_twice", 12, "accent = #000000", "12.skin: key given twice"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(SkinBlockGeneratorLooks, RefusesTwoSkinsWithTheSameLook) {
    kv::test::TempDir sources, out;
    std::vector<std::string> args{out.path().string()};
    for (int n = 1; n <= 33; ++n) {
        char name[16];
        // Skin 2 is a copy of skin 1 under another name.
        std::snprintf(name, sizeof name, "%02d.skin", n == 2 ? 1 : n);
        std::ifstream in(fs::path(KV_SKIN_SOURCES) / name);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (n == 2) {
            auto line = text.find("\nname ");
            text.erase(line, text.find('\n', line + 1) - line);
            text += "name = Copy\n";
        }
        fs::path target = sources.path() / (std::to_string(n) + ".skin");
        std::ofstream(target) << text;
        args.push_back(target.string());
    }
    kv::test::ProcessResult result = kv::test::RunProcess(KV_BLOCK_GENERATOR, args);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find("2.skin: same look as skin 1"), std::string::npos) << result.err;
}

} // namespace
