// Script strings laid out and drawn: the first bytes pick the width limit (-5 ... 200), the separation and the
// alignments, the rest is the text (any bytes, taken as UTF-8). Every input must end, measure and draw without
// a crash, and give back what it took.
#include "core/memory_manager.h"
#include "draw/draw.h"
#include "draw/font.h"
#include "draw/text.h"
#include "gfx/batch.h"
#include "gfx/textures.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Codes 32 ... 136 with widths 0 ... 12 (zero-advance glyphs among them), over a page without a texture.
void FuzzText_Setup()
{
    static bool done = false;
    if (done) return;
    done = true;
    int32_t page = -1;
    TexturePage* p = GR_Texture_NewPage(&page);
    p->width = 256;
    p->height = 128;
    p->uScale = 1.0f / 256;
    p->vScale = 1.0f / 128;
    uint8_t table[105 * 4];
    for (int i = 0; i < 105; ++i) {
        table[4 * i] = uint8_t(i * 7 % 240);
        table[4 * i + 1] = uint8_t(i / 16 * 16);
        table[4 * i + 2] = uint8_t(i * 5 % 13);
        table[4 * i + 3] = uint8_t(10 + i % 6);
    }
    Font_Init();
    Font_Append(new CFontKV(table, 32, 136, page));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzText_Setup();
    if (size < 3) return 0;
    const int32_t width = int32_t(data[0] % 206) - 5;
    const int32_t separation = int32_t(data[1] % 48) - 8;
    Text_SetFont(0);
    Text_SetHAlign(data[2] & 3);
    Text_SetVAlign((data[2] >> 2) & 3);
    const float angle = float(data[2] >> 4) * 30.0f;
    const std::string text(reinterpret_cast<const char*>(data + 3), size - 3);

    const MemoryProbe before = MemoryManager_Probe();
    for (int pass = 0; pass < 6; ++pass) {
        std::string copy = text;  // splitting rewrites its text
        char* t = copy.data();
        switch (pass) {
        case 0: Text_Width(t, separation, width); break;
        case 1: Text_Height(t, separation, width); break;
        case 2: Text_Draw(10, 20, t, separation, width); break;
        case 3: Text_DrawTransformed(10, 20, t, separation, width, 1.5f, 0.5f, angle); break;
        case 4: Text_DrawColour(10, 20, t, separation, width, 0xFF, 0xFF00, 0xFF0000, 0x808080, 0.5f); break;
        default:
            Text_DrawTransformedColour(10, 20, t, separation, width, 2, 2, angle, 1, 2, 3, 4, 1);
            break;
        }
        GR_Batch_EndFrame();
    }
    const MemoryProbe after = MemoryManager_Probe();
    if (after.liveBlocks > before.liveBlocks + 64) __builtin_trap();
    return 0;
}
