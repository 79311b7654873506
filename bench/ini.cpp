// Ini parsing cost against the size of hostile texts: one long line, unbalanced quotes, lone '[', many
// dropped keys, many comment lines without CR. Each shape runs from 64 KiB to 4 MiB; the reported
// complexity should come out as N (time per byte flat), never N^2. Only the parse is timed.
#include "world/ini.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

std::string IniBenchText(int shape, size_t bytes)
{
    auto repeat = [bytes](const std::string& piece, const std::string& head) {
        std::string out = head;
        while (out.size() < bytes) out += piece;
        return out;
    };
    switch (shape) {
    case 0: return repeat("v", "[a]\nk=");          // one long value
    case 1: return repeat("j", "[a]\n");            // junk without '='
    case 2: return repeat("\"", "[a]\nk=");         // opening quotes
    case 3: return repeat("[", "");                 // lone '['
    case 4: return repeat("=\n", "[a]\n");          // dropped keys
    case 5: return repeat(";c\n", "[a]\n");         // comment lines, LF only
    default: return repeat("k=\"v\"\n", "[a]\n");   // ordinary keys
    }
}

void BM_IniParse(benchmark::State& state, int shape)
{
    std::string text = IniBenchText(shape, size_t(state.range(0)));
    for (auto _ : state) {
        IniFile* ini = IniFile::FromString(text.data(), text.size());
        benchmark::DoNotOptimize(ini->Sections());
        // Freeing many small blocks costs what the memory manager's pools cost, not the parser.
        state.PauseTiming();
        delete ini;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    state.SetComplexityN(state.range(0));
}

// One family per shape, so each gets its own complexity fit.
const int g_iniBenchRegistered = [] {
    const char* names[] = {"long_value", "junk", "quotes", "brackets", "dropped_keys", "comments", "keys"};
    for (int shape = 0; shape < 7; ++shape)
        benchmark::RegisterBenchmark((std::string("BM_IniParse/") + names[shape]).c_str(), BM_IniParse, shape)
            ->RangeMultiplier(4)
            ->Range(64 << 10, 4 << 20)
            ->Complexity()
            ->Unit(benchmark::kMicrosecond);
    return 0;
}();

}  // namespace
