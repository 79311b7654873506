// Sixteen 1024 x 1024 PNG pages made into textures on the OpenGL device, immediately (decoded and uploaded) and
// deferred (the header read only), in the same run.
#include "gl_bench.h"

#include "world/options.h"

#include <zlib.h>

#include <vector>

namespace {

using namespace glbench;

void PutBE(std::vector<uint8_t>* out, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8) out->push_back(uint8_t(v >> s));
}

void Chunk(std::vector<uint8_t>* out, const char* kind, const std::vector<uint8_t>& data)
{
    PutBE(out, uint32_t(data.size()));
    const size_t start = out->size();
    out->insert(out->end(), kind, kind + 4);
    out->insert(out->end(), data.begin(), data.end());
    PutBE(out, uint32_t(crc32(0, out->data() + start, uInt(out->size() - start))));
}

// An RGBA page with a pattern that compresses about as game pages do.
const std::vector<uint8_t>& Page()
{
    static const std::vector<uint8_t> png = [] {
        const uint32_t w = 1024, h = 1024;
        std::vector<uint8_t> rows;
        rows.reserve(size_t(h) * (w * 4 + 1));
        for (uint32_t y = 0; y < h; ++y) {
            rows.push_back(0);
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t v = uint8_t((x ^ y) & 0xF0);
                rows.insert(rows.end(), {v, uint8_t(x), uint8_t(y), uint8_t(v | 0x0F)});
            }
        }
        uLongf size = compressBound(uLong(rows.size()));
        std::vector<uint8_t> packed(size);
        compress(packed.data(), &size, rows.data(), uLong(rows.size()));
        packed.resize(size);
        std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        std::vector<uint8_t> header;
        PutBE(&header, w);
        PutBE(&header, h);
        header.insert(header.end(), {8, 6, 0, 0, 0});
        Chunk(&out, "IHDR", header);
        Chunk(&out, "IDAT", packed);
        Chunk(&out, "IEND", {});
        return out;
    }();
    return png;
}

void BM_LoadPages(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    const bool deferred = state.range(0) != 0;
    const bool saved = g_IniOptions.createTexturesOnDemand;
    g_IniOptions.createTexturesOnDemand = deferred;
    std::vector<uint8_t> png = Page();
    for (auto _ : state) {
        int32_t pages[16];
        for (int32_t& page : pages) page = GR_Texture_CreateFromPage(png.data(), uint32_t(png.size()), false);
        glFinish();
        state.PauseTiming();
        for (int32_t page : pages) GR_Texture_Free(page);
        state.ResumeTiming();
    }
    g_IniOptions.createTexturesOnDemand = saved;
}
BENCHMARK(BM_LoadPages)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
