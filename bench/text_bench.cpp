// FindText, ReplaceText and SplitText on 64 KB pages, each beside std::string_view::find over the
// same page in the same run; the "ratio" counter is our time over find's.
#include "text/text.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string_view>

namespace {

kv::Text AsciiPage() {
    kv::Text page;
    while (page.size() < 64 * 1024) {
        page += "<div class=\"row\"><a href=\"/webdisk/home/index?id=42\">item</a></div>\r\n";
    }
    page.resize(64 * 1024);
    return page + "<end>";
}

kv::Text GbkPage() {
    kv::Text page;
    while (page.size() < 64 * 1024) {
        page += "\xC0\xEB\xCF\xDF\xCF\xC2\xD4\xD8 \xD5\xCA\xBA\xC5\xD6\xD0\xD0\xC4\r\n"; // 离线下载 帐号中心
    }
    page.resize(64 * 1024);
    return page + "<end>";
}

double FindSeconds(std::string_view page, std::string_view sought) {
    auto start = std::chrono::steady_clock::now();
    std::size_t hits = 0;
    for (std::size_t p = page.find(sought); p != std::string_view::npos; p = page.find(sought, p + 1)) {
        ++hits;
    }
    benchmark::DoNotOptimize(hits);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <typename Work>
void Measure(benchmark::State& state, const kv::Text& page, std::string_view sought, Work work) {
    double ours = 0, reference = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        work(page);
        ours += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        reference += FindSeconds(page, sought);
    }
    state.counters["ratio"] = reference > 0 ? ours / reference : 0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}

void BM_FindText(benchmark::State& state, const kv::Text& page) {
    Measure(state, page, "<end>",
            [](const kv::Text& p) { benchmark::DoNotOptimize(kv::FindText(p, "<end>")); });
}

void BM_ReplaceText(benchmark::State& state, const kv::Text& page, std::string_view sought) {
    Measure(state, page, sought, [sought](const kv::Text& p) {
        benchmark::DoNotOptimize(kv::ReplaceText(p, sought, "#", std::nullopt, std::nullopt, true));
    });
}

void BM_SplitText(benchmark::State& state, const kv::Text& page) {
    Measure(state, page, "\r\n",
            [](const kv::Text& p) { benchmark::DoNotOptimize(kv::SplitText(p, "\r\n")); });
}

const kv::Text Ascii = AsciiPage();
const kv::Text Gbk = GbkPage();

BENCHMARK_CAPTURE(BM_FindText, ascii, Ascii);
BENCHMARK_CAPTURE(BM_FindText, gbk, Gbk);
BENCHMARK_CAPTURE(BM_ReplaceText, ascii, Ascii, std::string_view("row"));
BENCHMARK_CAPTURE(BM_ReplaceText, gbk, Gbk, std::string_view("\xD6\xD0"));
BENCHMARK_CAPTURE(BM_SplitText, ascii, Ascii);
BENCHMARK_CAPTURE(BM_SplitText, gbk, Gbk);

} // namespace

BENCHMARK_MAIN();
