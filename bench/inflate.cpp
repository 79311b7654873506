// Vector-sprite data is inflated through the stream: ZDecompressStream of a 64 MiB zlib stream against
// zlib's own uncompress into a block allocated beforehand, in the same run. Target: at least 0.7x its
// throughput (compare the bytes_per_second of the two).
#include "core/console.h"
#include "core/memory_manager.h"
#include "core/stream.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr size_t kInflatePlainSize = 64u << 20;

struct InflateData {
    std::vector<uint8_t> plain;
    std::vector<uint8_t> compressed;  // the zlib stream alone
    CStream* framed = nullptr;        // a length word and the stream, as vector sprites store it

    InflateData()
    {
        // Runs of repeated words between random stretches: about 3:1, like mixed game data.
        std::mt19937 rng(147);
        static const char* kWords[] = {"sprite", "room", "instance", "alarm", "path", "\x01\x00\x00\x00"};
        plain.reserve(kInflatePlainSize);
        while (plain.size() < kInflatePlainSize) {
            if (rng() & 1) {
                const char* w = kWords[rng() % 6];
                for (unsigned n = rng() % 40 + 1; n; --n)
                    for (const char* c = w; *c; ++c) plain.push_back(static_cast<uint8_t>(*c));
            } else {
                for (unsigned n = rng() % 300 + 1; n; --n) plain.push_back(static_cast<uint8_t>(rng()));
            }
        }
        plain.resize(kInflatePlainSize);
        uLongf len = compressBound(plain.size());
        compressed.resize(len);
        if (compress2(compressed.data(), &len, plain.data(), plain.size(), 6) != Z_OK) std::abort();
        compressed.resize(len);
        framed = new CStream(0);
        framed->WriteInteger(static_cast<int32_t>(len));
        framed->WriteBuffer(compressed.data(), static_cast<int64_t>(len));
    }
};

InflateData& Data()
{
    static InflateData data;
    return data;
}

// The stream prints two lines per call on the debug console; keep them out of the figures.
struct QuietConsole : tagIConsole {
    void Output(const char*, ...) override {}
};

void BM_ZDecompressStream(benchmark::State& state)
{
    InflateData& d = Data();
    QuietConsole quiet;
    tagIConsole* old = DebugConsole;
    DebugConsole = &quiet;
    for (auto _ : state) {
        d.framed->SetPosition(0);
        CStream* out = ZDecompressStream(d.framed);
        if (!out || out->GetSize() < static_cast<int32_t>(kInflatePlainSize)) std::abort();
        benchmark::DoNotOptimize(out->GetMemory());
        out->Delete();
    }
    DebugConsole = old;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kInflatePlainSize));
}

void BM_ZlibUncompressPreallocated(benchmark::State& state)
{
    InflateData& d = Data();
    std::vector<uint8_t> out(kInflatePlainSize);
    for (auto _ : state) {
        uLongf len = out.size();
        if (uncompress(out.data(), &len, d.compressed.data(), d.compressed.size()) != Z_OK) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kInflatePlainSize));
}

// For reading the figures: the same uncompress into a block freshly taken from the memory manager each
// time, as any decompressor that returns new memory must (first touches of fresh pages included).
void BM_ZlibUncompressFreshBlock(benchmark::State& state)
{
    InflateData& d = Data();
    for (auto _ : state) {
        auto* out = static_cast<uint8_t*>(MemoryManager::Alloc(kInflatePlainSize, __FILE__, __LINE__, false));
        uLongf len = kInflatePlainSize;
        if (uncompress(out, &len, d.compressed.data(), d.compressed.size()) != Z_OK) std::abort();
        benchmark::DoNotOptimize(out);
        MemoryManager::Free(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kInflatePlainSize));
}

}  // namespace

BENCHMARK(BM_ZDecompressStream)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ZlibUncompressPreallocated)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ZlibUncompressFreshBlock)->Unit(benchmark::kMillisecond)->MinTime(2.0);
