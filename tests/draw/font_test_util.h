// What the font and text suites share: the formkit font games made once per build, a FONT chunk handed to the
// loader on its own, and the quads the recording device saw.
#pragma once
#include "core/memory_manager.h"
#include "draw/draw.h"
#include "draw/font.h"
#include "fake_render_device.h"
#include "fixture_cache.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/quad.h"
#include "gfx/textures.h"
#include "world/loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace fonttest {

inline std::string FixtureDir()
{
    std::string error;
    const std::string dir = kvtest::ScriptFixture("tests/draw/font_fixture.py", "", &error);
    EXPECT_FALSE(dir.empty()) << error;
    return dir;
}

// The game data of a fixture file, installed as the loaded data, with its FONT chunk passed to Font_Load.
struct LoadedFonts {
    uint8_t* data = nullptr;
    bool ok = false;
    explicit LoadedFonts(const std::string& file)
    {
        const std::string bytes = kvtest::ReadFile(file);
        data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
        std::memcpy(data, bytes.data(), bytes.size());
        g_GameData.data = data;
        g_GameData.length = uint32_t(bytes.size());
        g_GameData.damaged = false;
        g_GameData.damage[0] = '\0';
        Font_Init();
        for (uint32_t at = 8; at + 8 <= bytes.size();) {
            uint32_t size = 0;
            std::memcpy(&size, data + at + 4, 4);
            if (std::memcmp(data + at, "FONT", 4) == 0) {
                ok = Font_Load(data + at + 8, size, data);
                break;
            }
            at += 8 + size;
        }
    }
    ~LoadedFonts()
    {
        Font_FreeAll();
        g_GameData.data = nullptr;
        g_GameData.length = 0;
        g_GameData.damaged = false;
        g_GameData.damage[0] = '\0';
        MemFree(data);
    }
};

struct V {
    float x, y;
    uint32_t colour;
    float u, v;
};

// The recording device with one 256 x 128 texture page at index 0 (the fixtures' entries name page 0).
class RecordingDraw {
public:
    RecordingDraw()
    {
        device_.hasDevice = true;
        GR_Device = &device_;
        GPUState::SetDefaults();
        GPUState::Apply();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        TexturePage* p = GR_Texture_NewPage(&page_);
        p->width = 256;
        p->height = 128;
        p->uScale = 1.0f / 256;
        p->vScale = 1.0f / 128;
        GR_Depth = 0;
        GR_DrawAlpha = 255;
        GR_CornerIdEnabled = false;
        device_.draws.clear();
    }
    ~RecordingDraw()
    {
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        GR_CornerIdEnabled = false;
        GR_Device = nullptr;
        GPUState::SetDefaults();
    }
    std::vector<V> Drawn()
    {
        GraphicsFlush();
        std::vector<V> out;
        for (const kvtest::FakeDraw& d : device_.draws)
            for (size_t at = 0; at + 24 <= d.vertices.size(); at += 24) {
                V v;
                std::memcpy(&v.x, &d.vertices[at], 4);
                std::memcpy(&v.y, &d.vertices[at + 4], 4);
                std::memcpy(&v.colour, &d.vertices[at + 12], 4);
                std::memcpy(&v.u, &d.vertices[at + 16], 4);
                std::memcpy(&v.v, &d.vertices[at + 20], 4);
                out.push_back(v);
            }
        device_.draws.clear();
        return out;
    }
    int32_t page() const { return page_; }

private:
    kvtest::FakeRenderDevice device_;
    int32_t page_ = -1;
};

inline std::u16string U16(const char* text)
{
    std::u16string out;
    for (; *text; ++text) out += char16_t(uint8_t(*text));
    return out;
}
inline const uint16_t* W(const std::u16string& s) { return reinterpret_cast<const uint16_t*>(s.c_str()); }

}  // namespace fonttest
