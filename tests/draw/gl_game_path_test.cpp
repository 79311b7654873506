// The shipped game's text path on the real OpenGL device (offscreen): a game of major version 1 loaded by the
// chunk loader, whose one FONT font has its glyphs on a PNG page, draws text that reads back as ImageMagick's
// composite of the glyph crops at each pen position.
#include "core/memory_manager.h"
#include "draw/draw.h"
#include "draw/font.h"
#include "draw/text.h"
#include "fixture_cache.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrix.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "tests/gfx/gl_test_util.h"
#include "platform/gl_device.h"
#include "world/loader.h"
#include "world/options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace gl_game_path_test {

constexpr uint32_t kWidth = 128, kHeight = 64;
constexpr uint32_t kClear = 0xFF302010;

std::vector<uint32_t> ReadRgba(const std::string& path)
{
    const std::string bytes = kvtest::ReadFile(path);
    std::vector<uint32_t> words(bytes.size() / 4);
    for (size_t i = 0; i < words.size(); ++i) {
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + i * 4);
        words[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    return words;
}

class GlGamePath : public testing::Test {
protected:
    void SetUp() override
    {
        gltest::VideoWindow& s = gltest::Video();
        ASSERT_NE(s.window, nullptr) << s.error;
        d = GL_Device();
        RDPresentParams p = gltest::PresentParams(s.window, kWidth, kHeight);
        if (d->HasDevice()) {
            ASSERT_EQ(d->Reset(&p), RD_OK);
        } else {
            ASSERT_FALSE(RD_Failed(d->CreateDevice(0, RD_DEVTYPE_HAL, s.window,
                                                   RD_CREATE_HARDWARE_VERTEXPROCESSING | RD_CREATE_FPU_PRESERVE, &p)));
            made_ = true;
        }
        GR_Device = d;
        ASSERT_EQ(d->GetDeviceCaps(0, RD_DEVTYPE_HAL, &GR_DeviceCaps), RD_OK);
        GR_MaxRenderTargets = 4;
        GR_MultisampleType = 0;
        GR_PresentParams = p;
        GPUState::SetDefaults();
        GPUState::Apply();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        Texture_ForgetBindings();
        const uint32_t white = 0xFFFFFFFF;
        GR_WhiteTexture = GR_Texture_Create(1, 1, &white, 4);
        GR_WhiteTexturePage = GR_Texture_Page(GR_WhiteTexture);
        ASSERT_EQ(d->SetViewport(RDViewport{0, 0, kWidth, kHeight, 0.0f, 1.0f}), RD_OK);
        d->SetRenderState(RDRS_CULLMODE, 1);
        d->SetRenderState(RDRS_ZENABLE, 0);
        d->SetRenderState(RDRS_LIGHTING, 0);
        GR_D3D_SetTextureStageOps(true);
        // 2D over the back buffer, y down, texel centres on pixel centres.
        const float w = float(kWidth), h = float(kHeight), zn = 1.0f, zf = 32000.0f;
        Matrix44 identity = Matrix_Identity(), view = Matrix_Identity(), proj{};
        view.m[12] = -w / 2;
        view.m[13] = -h / 2;
        view.m[14] = 16000.0f;
        proj.m[0] = 2.0f / w;
        proj.m[5] = 2.0f / -h;
        proj.m[10] = 1.0f / (zf - zn);
        proj.m[14] = zn / (zn - zf);
        proj.m[15] = 1.0f;
        proj.m[12] -= 1.0f / w;
        proj.m[13] += 1.0f / h;
        GR_D3D_SetMatrixUnshifted(RDTS_WORLD, identity);
        GR_D3D_SetMatrixUnshifted(RDTS_VIEW, view);
        GR_D3D_SetMatrixUnshifted(RDTS_PROJECTION, proj);
        GR_Texture_SetInterpolation(false);
        GR_Depth = 0;
        GR_Draw_Init();
        Text_ResetState();
        GR_Draw_SetAlpha(1.0f);
        GR_Draw_SetColour(0xFFFFFF);
    }
    void TearDown() override
    {
        Text_ResetState();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        GR_WhiteTexture = -1;
        GR_WhiteTexturePage = nullptr;
        GR_Device = nullptr;
        GR_DeviceCaps = RDCaps{};
        GR_MaxRenderTargets = 1;
        GPUState::SetDefaults();
        GR_Draw_SetColour(0);
        if (made_) d->ReleaseDevice();
    }

    RenderDevice* d = nullptr;
    bool made_ = false;
};

TEST_F(GlGamePath, TextReadsBackAsTheCompositeOfItsGlyphCrops)
{
    std::string error;
    const std::string dir = kvtest::ScriptFixture("tests/draw/font_fixture.py", "", &error);
    ASSERT_FALSE(dir.empty()) << error;
    const std::string file = kvtest::ReadFile(dir + "game.win");
    ASSERT_FALSE(file.empty());
    auto* data = static_cast<uint8_t*>(MemAlloc(file.size()));
    std::memcpy(data, file.data(), file.size());
    ASSERT_TRUE(Wad_ReadHeader(data, uint32_t(file.size())));
    ASSERT_TRUE(Wad_LoadChunks(data, uint32_t(file.size()))) << g_GameData.damage;
    ASSERT_EQ(Font_Find("fnt_game"), 0);
    Text_SetFont(0);

    std::ifstream cases(dir + "cases.txt");
    int count = 0;
    for (std::string line; std::getline(cases, line);) {
        std::istringstream in(line);
        std::string name, text;
        int32_t halign = 0, valign = 0;
        in >> name >> text >> halign >> valign;
        SCOPED_TRACE(name);
        Text_SetHAlign(halign);
        Text_SetVAlign(valign);
        d->Clear(RDCLEAR_TARGET, kClear, 1.0f, 0);
        Text_Draw(64, 32, text.data(), -1, -1);
        GraphicsFlush();
        const std::vector<uint32_t> got = gltest::ReadBackBuffer(d);
        const std::vector<uint32_t> want = ReadRgba(dir + "expected_" + name + ".rgba");
        ASSERT_EQ(got.size(), size_t(kWidth) * kHeight);
        ASSERT_EQ(want.size(), got.size());
        int wrong = 0;
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x) {
                const size_t i = size_t(y) * kWidth + x;
                if (got[i] != want[i] && ++wrong <= 5)
                    ADD_FAILURE() << "at " << x << ", " << y << ": " << std::hex << got[i] << " want " << want[i];
            }
        EXPECT_EQ(wrong, 0);
        ++count;
    }
    EXPECT_EQ(count, 2);
    const int32_t page = g_GameData.texturePageIds[0];
    Font_FreeAll();
    UnloadGameData();
    GR_Texture_Free(page);
}

}  // namespace gl_game_path_test
