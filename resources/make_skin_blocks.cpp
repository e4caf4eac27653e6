// Build-time tool: turns the 33 readable skin sources into blocks of their fixed lengths.
//   make_skin_blocks OUT_DIR 01.skin ... 33.skin
// Any source that does not parse, or a block that cannot take its fixed length, fails the build.
#include "skin-engine/skin_format.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The lengths are part of the client's resource contract and do not follow the content.
constexpr std::array<std::size_t, 33> BlockLengths = {
    15574, 9533,  19786, 19497, 17699, 41098, 12564, 18930, 13192, 24409, 30738,
    8321,  26370, 15733, 12105, 23603, 20863, 16746, 11676, 17997, 12882, 37461,
    30958, 25715, 34523, 28961, 29447, 15562, 20738, 18765, 31134, 44110, 20275,
};

std::string Trim(std::string s) {
    const char* blanks = " \t\r";
    auto first = s.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

bool Fail(const std::string& where, const std::string& why) {
    std::fprintf(stderr, "make_skin_blocks: %s: %s\n", where.c_str(), why.c_str());
    return false;
}

// Sources allow comments, blank lines and spaces around "="; the body has none of them.
bool ReadSource(const std::string& path, std::string& body) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return Fail(path, "cannot read");
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        auto equals = line.find('=');
        if (equals == std::string::npos) {
            return Fail(path + ":" + std::to_string(number), "expected key = value");
        }
        body += Trim(line.substr(0, equals)) + "=" + Trim(line.substr(equals + 1)) + "\n";
    }
    return true;
}

bool WriteBlock(const std::string& path, const std::vector<std::uint8_t>& block) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    out.close();
    std::ifstream back(path, std::ios::binary);
    std::vector<std::uint8_t> written((std::istreambuf_iterator<char>(back)),
                                      std::istreambuf_iterator<char>());
    return written == block || Fail(path, "written file differs from the block");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 + static_cast<int>(BlockLengths.size())) {
        std::fprintf(stderr, "usage: make_skin_blocks OUT_DIR 01.skin ... 33.skin\n");
        return 2;
    }
    const std::string outDir = argv[1];
    std::vector<kv::skin::SkinLook> looks;
    for (std::size_t i = 0; i < BlockLengths.size(); ++i) {
        const std::string source = argv[2 + i];
        std::string body;
        if (!ReadSource(source, body)) {
            return 1;
        }
        kv::skin::SkinLook look;
        if (auto error = kv::skin::ParseSkinBody(body, look); error != kv::skin::SkinError::None) {
            Fail(source, std::string(kv::skin::SkinErrorText(error)));
            return 1;
        }
        // Two skins that differ only by name would not be two looks.
        look.name.clear();
        for (std::size_t j = 0; j < looks.size(); ++j) {
            if (looks[j] == look) {
                Fail(source, "same look as skin " + std::to_string(j + 1));
                return 1;
            }
        }
        looks.push_back(look);

        std::vector<std::uint8_t> block = kv::skin::BuildSkinBlock(body, BlockLengths[i]);
        kv::skin::SkinLook check;
        if (block.size() != BlockLengths[i]) {
            Fail(source, "does not fit into " + std::to_string(BlockLengths[i]) + " bytes");
            return 1;
        }
        if (std::string(block.begin(), block.begin() + 4) != ".SHE" ||
            kv::skin::ParseSkinBlock(block, check) != kv::skin::SkinError::None) {
            Fail(source, "block does not read back");
            return 1;
        }
        char name[32];
        std::snprintf(name, sizeof name, "/%02zu.she", i + 1);
        if (!WriteBlock(outDir + name, block)) {
            return 1;
        }
    }
    return 0;
}
