// The sprite table's SPRT reader over fuzzed chunk bytes. Input: one byte of switches (bit 0 the newer data
// generation), then the SPRT body, placed in a minimal FORM after a TPAG chunk of three records (the seeds,
// from tests/fixtures/sprite_cases.py --fuzz-seeds, refer to them). Every loaded sprite then unpacks its
// masks, tests itself for a pixel collision and gives the box of each frame. A bad entry must fail the load,
// never read outside the data; the table must give back every block.
#include "core/console.h"
#include "core/memory_manager.h"
#include "draw/draw.h"
#include "draw/sprite.h"
#include "gfx/texture_handle.h"
#include "world/loader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct SprtLoadFuzzConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};
SprtLoadFuzzConsole g_sprtLoadFuzzConsole;

constexpr uint32_t kSprtLoadTpagRecords[3][11] = {
    {0, 0, 9, 3, 0, 0, 9, 3, 9, 3, 0}, {10, 0, 5, 2, 2, 1, 5, 2, 9, 3, 0}, {0, 4, 3, 4, 0, 0, 3, 4, 3, 4, 0}};
constexpr uint32_t kSprtLoadTpagEnd = 104;  // FORM header, TPAG header, count, offsets, records at 32, 56, 80

void SprtLoadFuzz_Put32(uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 1 || size > (1u << 20)) return 0;
    const bool newMode = (input[0] & 1) != 0;
    ++input;
    --size;
    DebugConsole = ReleaseConsole = &g_sprtLoadFuzzConsole;

    const uint32_t length = kSprtLoadTpagEnd + 8 + uint32_t(size);
    // An exact-size block, so that the sanitizer sees every overrun.
    auto* data = static_cast<uint8_t*>(MemAlloc(length));
    std::memset(data, 0, kSprtLoadTpagEnd + 8);
    std::memcpy(data, "FORM", 4);
    SprtLoadFuzz_Put32(data + 4, length - 8);
    std::memcpy(data + 8, "TPAG", 4);
    SprtLoadFuzz_Put32(data + 12, kSprtLoadTpagEnd - 16);
    SprtLoadFuzz_Put32(data + 16, 3);
    for (uint32_t i = 0; i < 3; ++i) {
        const uint32_t at = 32 + 24 * i;
        SprtLoadFuzz_Put32(data + 20 + 4 * i, at);
        for (int f = 0; f < 11; ++f) {
            const int16_t v = int16_t(kSprtLoadTpagRecords[i][f]);
            std::memcpy(data + at + 2 * f, &v, 2);
        }
    }
    std::memcpy(data + kSprtLoadTpagEnd, "SPRT", 4);
    SprtLoadFuzz_Put32(data + kSprtLoadTpagEnd + 4, uint32_t(size));
    if (size) std::memcpy(data + kSprtLoadTpagEnd + 8, input, size);

    GameDataInfo& g = g_GameData;
    g.data = data;
    g.length = length;
    g.newMode = newMode;
    g.damaged = false;

    Sprite_Init();
    const size_t baseline = MemoryManager_Probe().liveBlocks;
    const bool loaded = Sprite_Load(data + kSprtLoadTpagEnd + 8, uint32_t(size), data);
    if (loaded == g.damaged) std::abort();  // a failed load is exactly a recorded damage
    for (int32_t i = 0; i < Sprite_Count(); ++i) {
        CSprite* s = Sprite_Data(i);
        if (!s) continue;
        if (s->m_kind == SPRITE_KIND_BITMAP && s->m_frameCount > 0) {
            s->UnpackMasks();
            BoundingBox box{0, 0, std::clamp(s->m_width, 0, 64) - 1, std::clamp(s->m_height, 0, 64) - 1};
            PreciseCollision(s, 0, box, 0, 0, 1.0f, 1.0f, 0.0f, s, -1, box, 1, 0, 1.0f, 1.0f, 0.0f);
        }
        const int32_t frames = std::min(s->m_frameCount, 4096);
        for (int32_t f = -1; f <= frames; ++f) MemFree(s->GetFrameBoundingBox(f));
        if (s->m_name != Sprite_Name(i) || (s->m_name[0] && Sprite_Find(s->m_name) < 0)) std::abort();
    }
    Sprite_FreeAll();
    if (MemoryManager_Probe().liveBlocks != baseline) std::abort();

    g.data = nullptr;
    g.length = 0;
    g.damaged = false;
    MemFree(data);
    return 0;
}
