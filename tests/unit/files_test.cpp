// Files and shell on POSIX: whole-file writes, attributes, the browser hand-off.
#include "platform/files.h"
#include "process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace kv {
namespace {
namespace fs = std::filesystem;

class TempDir : public ::testing::Test {
protected:
    static std::string Read(const fs::path& p) {
        const auto bytes = test::ReadFileBytes(p);
        return {bytes.begin(), bytes.end()};
    }
    static std::span<const std::uint8_t> Span(std::string_view s) {
        return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
    }
    test::TempDir temp;
    const fs::path dir = temp.path();
};

TEST_F(TempDir, WriteFileBytesWritesPartsInOrderAndReplaces) {
    const auto file = (dir / "out.bin").string();
    EXPECT_TRUE(WriteFileBytes(file, {Span("ab"), Span(""), Span(std::string_view("c\0d", 3))}));
    EXPECT_EQ(Read(file), std::string("abc\0d", 5));
    EXPECT_TRUE(WriteFileBytes(file, {Span("x")}));
    EXPECT_EQ(Read(file), "x");
    // Nothing but the file is left in the directory.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(TempDir, WriteFileBytesFailuresLeaveTheOldFile) {
    EXPECT_FALSE(WriteFileBytes("", {Span("x")}));
    EXPECT_FALSE(WriteFileBytes((dir / "missing" / "f").string(), {Span("x")}));
    fs::create_directory(dir / "adir");
    EXPECT_FALSE(WriteFileBytes((dir / "adir").string(), {Span("x")}));
    EXPECT_TRUE(fs::is_directory(dir / "adir"));
    const auto file = (dir / "keep").string();
    ASSERT_TRUE(WriteFileBytes(file, {Span("good")}));
    if (::geteuid() != 0) { // root writes through permissions
        fs::permissions(dir, fs::perms::owner_write, fs::perm_options::remove);
        EXPECT_FALSE(WriteFileBytes(file, {Span("bad")}));
        fs::permissions(dir, fs::perms::owner_write, fs::perm_options::add);
    }
    EXPECT_EQ(Read(file), "good");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST_F(TempDir, FileExistsSeesFilesAndDirectories) {
    EXPECT_FALSE(FileExists((dir / "nothing").string()));
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(FileExists(dir.string()));
    ASSERT_TRUE(WriteFileBytes((dir / "f").string(), {Span("1")}));
    EXPECT_TRUE(FileExists((dir / "f").string()));
}

TEST_F(TempDir, HiddenIsOneLineOfTheHiddenListAndReadOnlyTheWriteBits) {
    const auto list = dir / ".hidden";
    std::ofstream(list) << "other\n";
    const auto file = (dir / "SkinH_EL.dll").string();
    ASSERT_TRUE(WriteFileBytes(file, {Span("lib")}));
    EXPECT_TRUE(SetFileAttrs(file, FileAttrHidden));
    EXPECT_TRUE(SetFileAttrs(file, FileAttrHidden | FileAttrArchive | FileAttrSystem));
    EXPECT_EQ(Read(list), "other\nSkinH_EL.dll\n");
    auto perms = fs::status(file).permissions();
    EXPECT_NE(perms & fs::perms::owner_write, fs::perms::none);

    EXPECT_TRUE(SetFileAttrs(file, FileAttrReadOnly));
    EXPECT_EQ(Read(list), "other\n");
    perms = fs::status(file).permissions();
    EXPECT_EQ(perms & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write),
              fs::perms::none);
    EXPECT_TRUE(SetFileAttrs(file, 0));
    EXPECT_NE(fs::status(file).permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_FALSE(SetFileAttrs((dir / "missing").string(), FileAttrHidden));
}

TEST(RunDirectory, IsTheExecutablesDirectory) {
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(RunDirectory(), exe.parent_path().string());
    EXPECT_NE(RunDirectory().back(), '/');
}

TEST_F(TempDir, OpenUrlInBrowserHandsTheUrlOverAsOneArgument) {
    // A stand-in opener on PATH records its arguments; a shell would have split or run them.
    const auto opener = dir / "xdg-open";
    const auto record = dir / "args";
    std::ofstream(opener) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
                          << record.string() << "'\n";
    fs::permissions(opener, fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (dir.string() + ":" + oldPath).c_str(), 1);
    const std::string url = "https://forum.example/u?a=1&b=$(touch pwned); x";
    OpenUrlInBrowser(url);
    ::setenv("PATH", oldPath.c_str(), 1);
    for (int i = 0; i < 200 && Read(record).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(Read(record), url + "\n");
    EXPECT_FALSE(fs::exists(dir / "pwned"));
}

} // namespace
} // namespace kv
