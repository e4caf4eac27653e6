// Runs a fuzz target without libFuzzer: a fixed-seed stream of generated inputs, biased towards the
// bytes the parsers care about, so every build exercises the targets under its sanitizers.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    const long iterations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
    static const std::string pieces[] = {"Set-Cookie:", "set-cookie: ",
                                         "\r\n",        ";",
                                         "=",           "=deleted",
                                         "; ",          "%",
                                         "%e4",         "%4",
                                         "%%",          "http://",
                                         "https://",    "/",
                                         ":",           ".",
                                         "\xA1\xA1",    "\xB0",
                                         " ",           "{\"code\":",
                                         ",\"",         "0",
                                         "a",           "\x89PNG\r\n\x1a\n"};
    std::mt19937 rng(1426470650);
    std::vector<std::uint8_t> input;
    for (long i = 0; i < iterations; ++i) {
        input.clear();
        const int parts = static_cast<int>(rng() % 24);
        for (int p = 0; p < parts; ++p) {
            if (rng() % 3 == 0) {
                input.push_back(static_cast<std::uint8_t>(rng()));
            } else {
                const std::string& s = pieces[rng() % std::size(pieces)];
                input.insert(input.end(), s.begin(), s.end());
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld inputs\n", iterations);
    return 0;
}
