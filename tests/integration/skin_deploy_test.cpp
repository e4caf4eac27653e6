// The skin set-up as a start of the client sees it: a copy of the probe program in a directory of
// its own, where DeploySkinLibrary writes beside the executable and the engine is looked up.
#include "process.h"
#include "resources/embedded.h"
#include "skin-engine/skin_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using kv::test::ProcessOptions;
using kv::test::ProcessResult;
using kv::test::ReadFileBytes;

const std::string Engine = "SkinH_EL.dll";

std::vector<std::uint8_t> Bytes(std::span<const std::uint8_t> span) {
    return {span.begin(), span.end()};
}

std::vector<std::string> Lines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// "key=value" words after the first one of a recorded line.
std::map<std::string, std::string> Fields(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::istringstream words(line);
    std::string word;
    words >> word;
    while (words >> word) {
        auto equals = word.find('=');
        fields[word.substr(0, equals)] = equals == std::string::npos ? "" : word.substr(equals + 1);
    }
    return fields;
}

std::set<std::string> Entries(const fs::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class SkinDeploy : public testing::Test {
protected:
    kv::test::TempDir m_dir;
    kv::test::TempDir m_records;
    fs::path m_probe = kv::test::CopyProgram(KV_SKIN_PROBE, m_dir.path(), "korvane-offline");
    fs::path m_record = m_records.path() / "calls";

    ProcessResult Run(std::vector<std::string> steps, ProcessOptions options = {}) {
        options.env.emplace_back("KV_SKIN_RECORD", m_record.string());
        // Only the search path a test names may find an engine.
        bool namesSearchPath = false;
        for (const auto& [name, value] : options.env) {
            namesSearchPath = namesSearchPath || name == "LD_LIBRARY_PATH";
        }
        if (!namesSearchPath) {
            options.env.emplace_back("LD_LIBRARY_PATH", std::nullopt);
        }
        ProcessResult result = kv::test::RunProcess(m_probe, steps, options);
        EXPECT_FALSE(result.timedOut);
        return result;
    }

    void PlaceRecordingEngine(const fs::path& directory, const char* engine = KV_RECORDING_ENGINE) {
        kv::test::CopyProgram(engine, directory, Engine);
    }

    std::vector<std::string> Recorded() { return Lines(m_record); }
};

TEST_F(SkinDeploy, FirstStartWritesTheEmbeddedEngineHiddenAndLoadsIt) {
    ProcessResult result = Run({"start"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFileBytes(m_dir.path() / Engine), Bytes(kv::EmbeddedSkinLibrary()));
    EXPECT_EQ(ReadFileBytes(m_dir.path() / Engine), ReadFileBytes(KV_BUILT_ENGINE));
    EXPECT_EQ(Lines(m_dir.path() / ".hidden"), std::vector<std::string>{Engine});
    // Nothing else is left behind, such as a temporary of the write.
    EXPECT_EQ(Entries(m_dir.path()), (std::set<std::string>{"korvane-offline", Engine, ".hidden"}));
}

TEST_F(SkinDeploy, SecondStartUsesTheFileAsItIs) {
    { std::ofstream(m_dir.path() / Engine) << "not the embedded engine"; }
    ProcessResult result = Run({"deploy", "deploy"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::uint8_t> kept = ReadFileBytes(m_dir.path() / Engine);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "not the embedded engine");
    EXPECT_FALSE(fs::exists(m_dir.path() / ".hidden"));
}

TEST_F(SkinDeploy, DirectoryOfTheEngineNameCountsAsPresentAndIsFatal) {
    fs::create_directory(m_dir.path() / Engine);
    ProcessResult result = Run({"start"});
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_NE(result.err.find(Engine), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("SkinH_SetAero"), std::string::npos) << result.err;
    EXPECT_NE(result.out.find("fatal handler: " + Engine), std::string::npos) << result.out;
    EXPECT_TRUE(fs::is_empty(m_dir.path() / Engine));
    EXPECT_EQ(Entries(m_dir.path()), (std::set<std::string>{"korvane-offline", Engine}));
}

TEST_F(SkinDeploy, ReadOnlyDirectoryWithoutTheFileIsFatal) {
    fs::permissions(m_dir.path(), fs::perms::owner_write, fs::perm_options::remove);
    ProcessOptions options;
    options.unprivileged = true;
    ProcessResult result = Run({"start"}, options);
    EXPECT_EQ(result.exitCode, -1) << result.err;
    EXPECT_NE(result.err.find(Engine), std::string::npos) << result.err;
    EXPECT_NE(result.out.find("fatal handler: "), std::string::npos) << result.out;
    EXPECT_EQ(Entries(m_dir.path()), std::set<std::string>{"korvane-offline"});
}

TEST_F(SkinDeploy, CreationSequenceLoadsTheEngineOnceAndCallsInOrder) {
    PlaceRecordingEngine(m_dir.path());
    ProcessResult result = Run({"start"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> calls = Recorded();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], "load " + (m_dir.path() / Engine).string());
    EXPECT_EQ(calls[1], "SkinH_SetAero 1");
    EXPECT_EQ(Fields(calls[2])["length"], "13192");
}

struct ApplyCase {
    int number;
    bool null;
    std::size_t length;
};

class SkinApply : public SkinDeploy, public testing::WithParamInterface<ApplyCase> {};

TEST_P(SkinApply, HandsAPrivateCopyOfTheBlockOrNothing) {
    const ApplyCase& c = GetParam();
    PlaceRecordingEngine(m_dir.path());
    ProcessResult result = Run({"where", std::to_string(c.number), "apply", std::to_string(c.number)});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> calls = Recorded();
    ASSERT_EQ(calls.size(), 2u);
    ASSERT_EQ(calls[1].rfind("SkinH_AttachRes ", 0), 0u) << calls[1];
    auto fields = Fields(calls[1]);
    EXPECT_EQ(fields["null"], c.null ? "1" : "0");
    EXPECT_EQ(fields["length"], std::to_string(c.length));
    EXPECT_EQ(fields["password"], "");
    EXPECT_EQ(fields["rest"], "0,0,0");
    if (!c.null) {
        EXPECT_EQ(fields["head"], ".SHE");
        char fnv[16];
        std::snprintf(fnv, sizeof fnv, "%08x", kv::skin::Fnv1a32(kv::EmbeddedSkinBlock(c.number)));
        EXPECT_EQ(fields["fnv"], fnv);
        // The resource's own address differs from what the engine got.
        EXPECT_EQ(result.out.find("block at " + fields["at"]), std::string::npos) << result.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Skin, SkinApply,
                         testing::Values(ApplyCase{9, false, 13192}, ApplyCase{1, false, 15574},
                                         ApplyCase{33, false, 20275}, ApplyCase{0, true, 0},
                                         ApplyCase{34, true, 0}, ApplyCase{-1, true, 0}),
                         [](const auto& info) {
                             int n = info.param.number;
                             return (n < 0 ? "minus_" : "number_") + std::to_string(n < 0 ? -n : n);
                         });

TEST_F(SkinDeploy, EngineIsFoundAlongTheSystemSearchAfterTheExecutableDirectory) {
    kv::test::TempDir elsewhere;
    PlaceRecordingEngine(elsewhere.path());
    ProcessOptions options;
    options.env.emplace_back("LD_LIBRARY_PATH", elsewhere.path().string());

    fs::create_directory(m_dir.path() / Engine);
    ProcessResult result = Run({"aero", "1"}, options);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(Recorded().at(0), "load " + (elsewhere.path() / Engine).string());

    fs::remove(m_dir.path() / Engine);
    fs::remove(m_record);
    PlaceRecordingEngine(m_dir.path());
    result = Run({"aero", "1"}, options);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(Recorded().at(0), "load " + (m_dir.path() / Engine).string());
}

TEST_F(SkinDeploy, MissingFunctionIsFatalAndNamesIt) {
    PlaceRecordingEngine(m_dir.path(), KV_RECORDING_ENGINE_WITHOUT_ATTACH);
    ProcessResult result = Run({"start"});
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_NE(result.err.find("SkinH_AttachRes"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(Engine), std::string::npos) << result.err;
    EXPECT_NE(result.out.find("fatal handler: "), std::string::npos) << result.out;
    EXPECT_EQ(Recorded().back(), "SkinH_SetAero 1");
}

} // namespace
