// Sprites drawn on the real OpenGL device (offscreen) from a game whose texture page is a PNG made by ImageMagick:
// one trimmed frame at integer positions, at x scale 2 and -1 and turned a quarter, read back and set against
// ImageMagick's crop, sample, flop and rotation composited at the same place; and the same frame seen through a
// camera that follows an instance, which moves it by the camera's position.
#include "core/memory_manager.h"
#include "draw/camera.h"
#include "draw/draw.h"
#include "draw/sprite.h"
#include "fixture_cache.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/readback.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "platform/gl_device.h"
#include "tests/gfx/gl_test_util.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/room.h"
#include "world/world_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace gl_sprite_pixels_test {

constexpr int32_t kWidth = 128, kHeight = 64;
constexpr uint32_t kClear = 0xFF302010;

std::vector<uint32_t> ExpectedPixels(const std::string& path)
{
    const std::string bytes = kvtest::ReadFile(path);
    std::vector<uint32_t> words(bytes.size() / 4);
    for (size_t i = 0; i < words.size(); ++i) {
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + i * 4);
        words[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    return words;
}

CInstance* g_followed = nullptr;
CInstance* PixelsFind(int32_t id) { return g_followed && g_followed->id == id ? g_followed : nullptr; }

class GlSpritePixels : public testing::Test {
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
        ASSERT_EQ(d->SetViewport(RDViewport{0, 0, kWidth, kHeight, 0.0f, 1.0f}), RD_OK);
        GR_Viewport = {0, 0, kWidth, kHeight};
        d->SetRenderState(RDRS_CULLMODE, 1);
        d->SetRenderState(RDRS_ZENABLE, 0);
        d->SetRenderState(RDRS_LIGHTING, 0);
        GR_D3D_SetTextureStageOps(true);
        GR_3DMode = false;
        GR_D3D_SetMatrixUnshifted(RDTS_WORLD, Matrix_Identity());
        // The room's own 2D view of the whole window (the drawing code's, y down, half-pixel shifted).
        GR_SetViewProjection(0, 0, float(kWidth), float(kHeight), 0);
        GR_Texture_SetInterpolation(false);
        GR_Depth = 0;
        CCameraManager::Reset();
    }
    void TearDown() override
    {
        CCameraManager::Reset();
        g_GameData.newMode = false;
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        GR_Device = nullptr;
        GR_DeviceCaps = RDCaps{};
        GR_MaxRenderTargets = 1;
        GR_Viewport = {};
        GR_ViewRect = {};
        GPUState::SetDefaults();
        if (made_) d->ReleaseDevice();
    }

    std::vector<uint32_t> ReadBack()
    {
        GraphicsFlush();
        int32_t w = kWidth, h = kHeight;
        uint32_t* pixels = GR_Screen_ReadPixels(kWidth, kHeight, 0, 0, &w, &h);
        std::vector<uint32_t> out;
        if (pixels && w == kWidth && h == kHeight) out.assign(pixels, pixels + size_t(w) * size_t(h));
        MemFree(pixels);
        return out;
    }

    // Draws the frame through a camera that centres an instance at (200, 100) of a large room.
    void DrawFollowed(CSprite* sprite)
    {
        g_GameData.newMode = true;
        WorldAccess world = *World_Access();
        world.findInstance = PixelsFind;
        const WorldAccess* saved = World_SetAccess(&world);
        CRoom room;
        room.width = room.height = 1000;
        CRoom* savedRoom = Run_Room;
        Run_Room = &room;
        g_followed = new CInstance(200, 100, 100001, -1, false);

        CCamera* camera = CCameraManager::CreateCamera();
        camera->viewWidth = float(kWidth);
        camera->viewHeight = float(kHeight);
        camera->borderX = camera->borderY = 64;
        camera->speedX = camera->speedY = -1;
        camera->target = 100001;
        camera->Build2DView(camera->viewWidth * 0.5f, camera->viewHeight * 0.5f);
        camera->Update();
        EXPECT_EQ(camera->viewX, 136.0f);
        EXPECT_EQ(camera->viewY, 68.0f);
        CCameraManager::SetActive(camera->GetID());
        camera->Apply();
        SpriteDraw(sprite, 0, g_followed->x, g_followed->y, 1, 1, 0, 0xFFFFFF, 1);

        delete g_followed;
        g_followed = nullptr;
        Run_Room = savedRoom;
        World_SetAccess(saved);
    }

    RenderDevice* d = nullptr;
    bool made_ = false;
};

TEST_F(GlSpritePixels, FramesReadBackAsImageMagicksCropsAtTheirPlaces)
{
    std::string error;
    const std::string dir = kvtest::ScriptFixture("tests/draw/sprite_pixels_fixture.py", "", &error);
    ASSERT_FALSE(dir.empty()) << error;
    const std::string file = kvtest::ReadFile(dir + "game.win");
    ASSERT_FALSE(file.empty());
    auto* data = static_cast<uint8_t*>(MemAlloc(file.size()));
    std::memcpy(data, file.data(), file.size());
    ASSERT_TRUE(Wad_ReadHeader(data, uint32_t(file.size())));
    ASSERT_TRUE(Wad_LoadChunks(data, uint32_t(file.size()))) << g_GameData.damage;
    const int32_t index = Sprite_Find("spr_pixels");
    ASSERT_GE(index, 0);
    CSprite* sprite = Sprite_Data(index);
    ASSERT_NE(sprite, nullptr);

    std::ifstream cases(dir + "cases.txt");
    int count = 0;
    for (std::string line; std::getline(cases, line);) {
        std::istringstream in(line);
        std::string name;
        float x = 0, y = 0, xscale = 1, angle = 0;
        int exact = 1;
        in >> name >> x >> y >> xscale >> angle >> exact;
        SCOPED_TRACE(name);
        d->Clear(RDCLEAR_TARGET, kClear, 1.0f, 0);
        if (name == "followed") {
            DrawFollowed(sprite);
        } else {
            GR_SetViewProjection(0, 0, float(kWidth), float(kHeight), 0);
            SpriteDraw(sprite, 0, x, y, xscale, 1, angle, 0xFFFFFF, 1);
        }
        const std::vector<uint32_t> got = ReadBack();
        const std::vector<uint32_t> want = ExpectedPixels(dir + "expected_" + name + ".rgba");
        ASSERT_EQ(got.size(), size_t(kWidth) * kHeight);
        ASSERT_EQ(want.size(), got.size());
        // A turned frame is compared away from its edges, where sampling may fall either side.
        auto inside = [&](int32_t px, int32_t py) {
            if (exact) return true;
            for (int32_t dy = -1; dy <= 1; ++dy)
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    const int32_t qx = px + dx, qy = py + dy;
                    if (qx < 0 || qy < 0 || qx >= kWidth || qy >= kHeight) return false;
                    if (want[size_t(qy) * kWidth + size_t(qx)] == kClear) return false;
                }
            return true;
        };
        int wrong = 0, compared = 0, drawn = 0;
        for (int32_t py = 0; py < kHeight; ++py)
            for (int32_t px = 0; px < kWidth; ++px) {
                const size_t i = size_t(py) * kWidth + size_t(px);
                if (want[i] != kClear) ++drawn;
                if (!inside(px, py)) continue;
                ++compared;
                if (got[i] != want[i] && ++wrong <= 5)
                    ADD_FAILURE() << "at " << px << ", " << py << ": " << std::hex << got[i] << " want " << want[i];
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_GE(drawn, 120);        // the region (12 x 10, or wider) is there to be seen
        EXPECT_GE(compared, 8 * 10);  // and most of it was compared
        ++count;
    }
    EXPECT_EQ(count, 6);
    const int32_t page = g_GameData.texturePageIds[0];
    Sprite_FreeAll();
    UnloadGameData();
    GR_Texture_Free(page);
}

}  // namespace gl_sprite_pixels_test
