// String and random built-ins against the plainest code doing the same work in the same run:
//   string_replace_all on 1 MB of UTF-8 with 10^4 occurrences    <= 4x one string_view::find pass plus a copy
//   string_lower on 1 MB of UTF-8                                <= 3x decoding and re-encoding, no mapping
//   10^7 RandomRange calls, 10^7 ChooseArgument of three reals   <= 1.5x 10^7 Random_Real(1)
// The built-ins go through the function table as the game calls them. The C library is told to keep freed
// memory, so that neither side pays the kernel for fresh pages of its 1 MB blocks on every iteration.
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/random.h"
#include "core/text.h"
#include "core/value.h"
#include "core/vm.h"
#include "lib/lib.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstring>
#include <string>
#include <string_view>

namespace {

const bool g_libBenchMalloc = [] {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    return true;
}();

// 1 MB of one-, two- and three-byte characters with "needle" 10^4 times at even spacing.
const std::string& LibBench_Text()
{
    static const std::string text = [] {
        const std::string filler = "abc d\xC3\xA9" "f \xE2\x82\xAC\xD0\x96 xyz \xCE\xA3q";  // 21 bytes
        std::string out;
        const size_t target = 1 << 20;
        const size_t gap = target / 10000;
        while (out.size() < target) {
            const size_t end = out.size() + gap - 6;
            while (out.size() + filler.size() <= end) out += filler;
            while (out.size() < end) out += 'w';
            out += "needle";
        }
        return out;
    }();
    return text;
}

int32_t LibBench_Index(const char* name)
{
    static const bool registered = [] {
        InitMathFunctions();
        return true;
    }();
    (void)registered;
    for (int32_t i = 0; i < Function_Count(); ++i)
        if (std::strcmp(Function_Entry(i)->name, name) == 0) return i;
    return -1;
}

void BM_StringReplaceAll(benchmark::State& state)
{
    const int32_t index = LibBench_Index("string_replace_all");
    RValue args[3], result;
    RValue_SetUndefined(&result);
    RValue_SetUndefined(&args[0]);
    RValue_SetUndefined(&args[1]);
    RValue_SetUndefined(&args[2]);
    RValue_SetString(&args[0], LibBench_Text().c_str());
    RValue_SetString(&args[1], "needle");
    RValue_SetString(&args[2], "pin");
    RValue* pointers[] = {&args[0], &args[1], &args[2]};
    for (auto _ : state) {
        CallBuiltin(nullptr, nullptr, &result, 3, index, pointers);
        benchmark::DoNotOptimize(result.str);
    }
    RValue_Free(&result);
    for (RValue& a : args) RValue_Free(&a);
}
BENCHMARK(BM_StringReplaceAll)->Unit(benchmark::kMicrosecond);

void BM_FindPassAndCopy(benchmark::State& state)
{
    const std::string_view text = LibBench_Text();
    for (auto _ : state) {
        size_t found = 0;
        for (size_t at = text.find("needle"); at != std::string_view::npos; at = text.find("needle", at + 6)) ++found;
        std::string copy(text);
        benchmark::DoNotOptimize(found);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_FindPassAndCopy)->Unit(benchmark::kMicrosecond);

void BM_StringLower(benchmark::State& state)
{
    const int32_t index = LibBench_Index("string_lower");
    RValue arg, result;
    RValue_SetUndefined(&result);
    RValue_SetUndefined(&arg);
    RValue_SetString(&arg, LibBench_Text().c_str());
    RValue* pointers[] = {&arg};
    for (auto _ : state) {
        CallBuiltin(nullptr, nullptr, &result, 1, index, pointers);
        benchmark::DoNotOptimize(result.str);
    }
    RValue_Free(&result);
    RValue_Free(&arg);
}
BENCHMARK(BM_StringLower)->Unit(benchmark::kMicrosecond);

void BM_DecodeEncode(benchmark::State& state)
{
    const std::string& text = LibBench_Text();
    for (auto _ : state) {
        std::string out;
        out.reserve(text.size());
        const char* p = text.c_str();
        char bytes[4];
        while (*p) {
            const uint16_t c = UTF8_GetChar(&p);
            char* cursor = bytes;
            UTF8_PutChar(&cursor, c);
            out.append(bytes, size_t(cursor - bytes));
        }
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_DecodeEncode)->Unit(benchmark::kMicrosecond);

constexpr int kLibBenchDraws = 10000000;

void BM_RandomRange(benchmark::State& state)
{
    for (auto _ : state) {
        double sum = 0;
        for (int i = 0; i < kLibBenchDraws; ++i) sum += RandomRange(2, 5);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_RandomRange)->Unit(benchmark::kMillisecond);

void BM_ChooseArgument(benchmark::State& state)
{
    RValue a, b, c, result;
    RValue_SetReal(&a, 1);
    RValue_SetReal(&b, 2);
    RValue_SetReal(&c, 3);
    RValue_SetReal(&result, 0);
    RValue* args[] = {&a, &b, &c};
    for (auto _ : state) {
        double sum = 0;
        for (int i = 0; i < kLibBenchDraws; ++i) sum += ChooseArgument(&result, 3, args)->real;
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ChooseArgument)->Unit(benchmark::kMillisecond);

void BM_RandomReal(benchmark::State& state)
{
    for (auto _ : state) {
        double sum = 0;
        for (int i = 0; i < kLibBenchDraws; ++i) sum += Random_Real(1);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_RandomReal)->Unit(benchmark::kMillisecond);

}  // namespace
