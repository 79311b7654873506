// PNG_Load of a 2048 x 2048 RGBA page against libpng's simplified reader (png_image_finish_read into a
// buffer allocated beforehand, BGRA) of the same bytes, in the same run. Target: at most 1.2x its time.
#include "core/console.h"
#include "core/memory_manager.h"
#include "gfx/image.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr int kSide = 2048;

// A page like packed sprites: smooth areas, hard edges, some noise, transparent gaps.
const std::vector<uint8_t>& PageBytes()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> rgba(size_t(kSide) * kSide * 4);
        std::mt19937 rng(3142);
        for (int y = 0; y < kSide; ++y) {
            for (int x = 0; x < kSide; ++x) {
                uint8_t* p = &rgba[(size_t(y) * kSide + x) * 4];
                const bool gap = ((x >> 7) + (y >> 7)) % 5 == 0;
                p[0] = uint8_t(x + (rng() & 7));
                p[1] = uint8_t(y ^ x);
                p[2] = uint8_t((x * y) >> 9);
                p[3] = gap ? 0 : 255;
            }
        }
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = kSide;
        image.height = kSide;
        image.format = PNG_FORMAT_RGBA;
        png_alloc_size_t size = 0;
        png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
        std::vector<uint8_t> out(size);
        if (!png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr)) std::abort();
        out.resize(size);
        return out;
    }();
    return bytes;
}

void BM_PNG_Load(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = PageBytes();
    for (auto _ : state) {
        int32_t w = 0, h = 0;
        uint8_t* pixels = PNG_Load(bytes.data(), int32_t(bytes.size()), &w, &h, false);
        if (!pixels || w != kSide || h != kSide) std::abort();
        benchmark::DoNotOptimize(pixels[0]);
        PNG_Free();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSide * kSide * 4);
}
BENCHMARK(BM_PNG_Load)->Unit(benchmark::kMillisecond);

void BM_SimplifiedRead(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = PageBytes();
    std::vector<uint8_t> buffer(size_t(kSide) * kSide * 4);
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) std::abort();
        image.format = PNG_FORMAT_BGRA;
        if (!png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr)) std::abort();
        benchmark::DoNotOptimize(buffer[0]);
        png_image_free(&image);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSide * kSide * 4);
}
BENCHMARK(BM_SimplifiedRead)->Unit(benchmark::kMillisecond);

}  // namespace
