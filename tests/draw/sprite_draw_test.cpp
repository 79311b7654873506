// Sprite drawing on the recording device through the real quad writers and batch: which draws are culled, which
// frame is drawn, what draws nothing, where tiled vector copies go, the failure line and the profiler regions.
#include "core/console.h"
#include "core/seam_trace.h"
#include "draw/camera.h"
#include "draw/draw.h"
#include "draw/sprite.h"
#include "draw/vector_sprite.h"
#include "fake_render_device.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/quad.h"
#include "gfx/texture_handle.h"
#include "gfx/textures.h"
#include "net/net.h"
#include "skeleton/skeleton.h"
#include "test_support.h"
#include "world/loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace sprite_draw_test {

// What the vector and skeleton seams were asked to draw.
struct SeamDraw {
    int32_t frame;
    float xOrigin, yOrigin, x, y, xscale, yscale, angle;
    uint32_t colour;
};
std::vector<SeamDraw> g_vectorDraws;
std::vector<SeamDraw> g_skeletonDraws;

void RecordVector(CSprite*, int32_t frame, float xo, float yo, float x, float y, float xs, float ys, float angle,
                  uint32_t colour, float)
{
    g_vectorDraws.push_back({frame, xo, yo, x, y, xs, ys, angle, colour});
}
void RecordSkeleton(CSkeletonSprite*, int32_t frame, float x, float y, float xs, float ys, float angle,
                    uint32_t colour, float)
{
    g_skeletonDraws.push_back({frame, 0, 0, x, y, xs, ys, angle, colour});
}
const VectorSpriteSeamHooks kVectorHooks = {nullptr, RecordVector};
const SkeletonSeamHooks kSkeletonHooks = {nullptr, RecordSkeleton};

constexpr int32_t kFrames = 3;
constexpr int32_t kSize = 16;  // frames are 16 x 16 with the origin at the centre: bounding radius 12

class SpriteDrawTest : public testing::Test {
protected:
    void SetUp() override
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
        p->height = 256;
        p->uScale = p->vScale = 1.0f / 256;
        // Frame k sits at source x 32k, so the drawn u tells the frame.
        for (int16_t k = 0; k < kFrames; ++k)
            entries_[k] = {int16_t(32 * k), 0, kSize, kSize, 0, 0, kSize, kSize, kSize, kSize, int16_t(page_)};
        GR_Depth = 0;
        GR_DrawAlpha = 255;
        GR_3DMode = false;
        GR_CullingOff = false;
        GR_Matrices[GRM_WORLD] = Matrix_Identity();
        GR_ViewRect = {0, 0, 200, 100};
        GR_TransformChanged = true;
        g_GameData.newMode = false;
        CCameraManager::Reset();
        g_vectorDraws.clear();
        g_skeletonDraws.clear();
        savedVector_ = VectorSprite_SetSeamHooks(&kVectorHooks);
        savedSkeleton_ = Skeleton_SetSeamHooks(&kSkeletonHooks);
        savedConsole_ = DebugConsole;
        DebugConsole = &console_;
    }
    void TearDown() override
    {
        DebugConsole = savedConsole_;
        VectorSprite_SetSeamHooks(savedVector_);
        Skeleton_SetSeamHooks(savedSkeleton_);
        for (CSprite* s : sprites_) delete s;
        CCameraManager::Reset();
        g_GameData.newMode = false;
        GR_3DMode = false;
        GR_CullingOff = false;
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        GR_ViewRect = {};
        GR_Device = nullptr;
        GPUState::SetDefaults();
    }

    CSprite* Bitmap(const char* name = "spr_test")
    {
        CSprite* s = Blank(SPRITE_KIND_BITMAP, name);
        s->m_frameEntries = static_cast<TexturePageEntry**>(MemAlloc(sizeof(TexturePageEntry*) * kFrames));
        for (int k = 0; k < kFrames; ++k) s->m_frameEntries[k] = &entries_[k];
        return s;
    }
    CSprite* Blank(int32_t kind, const char* name = "spr_test")
    {
        auto* s = new CSprite();
        sprites_.push_back(s);
        s->m_kind = kind;
        s->m_frameCount = kind == SPRITE_KIND_SKELETON ? SPRITE_SKELETON_FRAMES : kFrames;
        s->m_width = s->m_height = kSize;
        s->m_xOrigin = s->m_yOrigin = kSize / 2;
        s->m_boundingRadius = 12;
        s->m_name = name;
        if (kind == SPRITE_KIND_SKELETON) s->m_skeleton = new CSkeletonSprite();
        return s;
    }

    // Quads the device drew since the last call: their vertex count and the smallest u (which frame).
    struct Drawn {
        size_t vertices = 0;
        float minU = 1e9f;
    };
    Drawn Flushed()
    {
        GraphicsFlush();
        Drawn out;
        for (const kvtest::FakeDraw& d : device_.draws)
            for (size_t at = 0; at + 24 <= d.vertices.size(); at += d.stride) {
                float u;
                std::memcpy(&u, &d.vertices[at + 16], 4);
                out.minU = std::min(out.minU, u);
                ++out.vertices;
            }
        device_.draws.clear();
        return out;
    }
    int32_t FrameDrawn()
    {
        const Drawn d = Flushed();
        if (d.vertices == 0) return -1;
        return int32_t(std::lround(d.minU * 256.0f / 32.0f));
    }
    // Anything reached the device or the vector and skeleton seams.
    bool AnythingDrawn()
    {
        const bool seams = !g_vectorDraws.empty() || !g_skeletonDraws.empty();
        g_vectorDraws.clear();
        g_skeletonDraws.clear();
        return Flushed().vertices > 0 || seams;
    }

    kvtest::FakeRenderDevice device_;
    kvtest::RecordingConsole console_;
    tagIConsole* savedConsole_ = nullptr;
    const VectorSpriteSeamHooks* savedVector_ = nullptr;
    const SkeletonSeamHooks* savedSkeleton_ = nullptr;
    int32_t page_ = -1;
    TexturePageEntry entries_[kFrames]{};
    std::vector<CSprite*> sprites_;
};

TEST_F(SpriteDrawTest, CullTruthTable)
{
    enum Op { Draw, Simple, General };
    enum Camera { NoCamera, Flat, Perspective };
    struct Row {
        const char* what;
        Op op;
        int32_t kind;
        float x;  // the view is x 0..200, y 0..100; y is 50
        float scale;
        bool mode3D, cullingOff, newFormat;
        Camera camera;
        bool drawn;
    };
    const Row rows[] = {
        {"inside", Draw, SPRITE_KIND_BITMAP, 100, 1, false, false, false, NoCamera, true},
        {"radius just reaches", Draw, SPRITE_KIND_BITMAP, -12, 1, false, false, false, NoCamera, true},
        {"one pixel further", Draw, SPRITE_KIND_BITMAP, -13, 1, false, false, false, NoCamera, false},
        {"far right", Draw, SPRITE_KIND_BITMAP, 213, 1, false, false, false, NoCamera, false},
        {"scale 2 doubles the radius", Draw, SPRITE_KIND_BITMAP, -20, 2, false, false, false, NoCamera, true},
        {"a mirroring scale counts by size", Draw, SPRITE_KIND_BITMAP, -20, -2, false, false, false, NoCamera, true},
        {"simple ignores the scale", Simple, SPRITE_KIND_BITMAP, -20, 2, false, false, false, NoCamera, false},
        {"3D mode: not culled", Draw, SPRITE_KIND_BITMAP, -100, 1, true, false, false, NoCamera, true},
        {"3D mode: simple still culls", Simple, SPRITE_KIND_BITMAP, -100, 1, true, false, false, NoCamera, false},
        {"3D mode: general still culls", General, SPRITE_KIND_BITMAP, -100, 1, true, false, false, NoCamera, false},
        {"culling off", Draw, SPRITE_KIND_BITMAP, -100, 1, false, true, false, NoCamera, true},
        {"culling off, simple", Simple, SPRITE_KIND_BITMAP, -100, 1, false, true, false, NoCamera, true},
        {"culling off, general", General, SPRITE_KIND_BITMAP, -100, 1, false, true, false, NoCamera, true},
        {"skeleton", Draw, SPRITE_KIND_SKELETON, -100, 1, false, false, false, NoCamera, true},
        {"skeleton, simple", Simple, SPRITE_KIND_SKELETON, -100, 1, false, false, false, NoCamera, true},
        {"vector outside", Draw, SPRITE_KIND_VECTOR, -100, 1, false, false, false, NoCamera, false},
        {"vector inside", Simple, SPRITE_KIND_VECTOR, 100, 1, false, false, false, NoCamera, true},
        {"perspective camera", Draw, SPRITE_KIND_BITMAP, -100, 1, false, false, true, Perspective, true},
        {"perspective camera, simple", Simple, SPRITE_KIND_BITMAP, -100, 1, false, false, true, Perspective, true},
        {"perspective camera, general", General, SPRITE_KIND_BITMAP, -100, 1, false, false, true, Perspective, true},
        {"2D camera", Draw, SPRITE_KIND_BITMAP, -100, 1, false, false, true, Flat, false},
        {"no active camera", Draw, SPRITE_KIND_BITMAP, -100, 1, false, false, true, NoCamera, false},
        {"perspective camera, older format", Draw, SPRITE_KIND_BITMAP, -100, 1, false, false, false, Perspective, false},
    };
    for (const Row& r : rows) {
        CSprite* s = r.kind == SPRITE_KIND_BITMAP ? Bitmap() : Blank(r.kind);
        GR_3DMode = r.mode3D;
        GR_CullingOff = r.cullingOff;
        g_GameData.newMode = r.newFormat;
        CCameraManager::Reset();
        if (r.camera != NoCamera) {
            CCamera* c = CCameraManager::CreateCamera();
            c->viewWidth = 200;
            c->viewHeight = 100;
            if (r.camera == Perspective)
                c->BuildPerspectiveView(100, 50);
            else
                c->Build2DView(100, 50);
            CCameraManager::SetActive(c->GetID());
        }
        GR_TransformChanged = true;
        if (r.op == Draw)
            SpriteDraw(s, 0, r.x, 50, r.scale, r.scale, 0, 0xFFFFFF, 1);
        else if (r.op == Simple)
            SpriteDrawSimple(s, 0, r.x, 50);
        else
            s->DrawGeneral(0, 0, 0, kSize, kSize, r.x, 50, r.scale, r.scale, 0, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                           0xFFFFFF, 1);
        EXPECT_EQ(AnythingDrawn(), r.drawn) << r.what;
    }
    EXPECT_EQ(console_.text, "");
}

TEST_F(SpriteDrawTest, GeneralCullsEachAxisByItsOwnScale)
{
    CSprite* s = Bitmap();
    struct Row {
        float x, y, xscale, yscale;
        bool drawn;
    };
    const Row rows[] = {
        {-20, 50, 2, 1, true},    // 24 across reaches x = 0
        {-20, 50, 1, 2, false},   // only 12 across
        {100, -20, 1, 2, true},   // 24 down reaches y = 0
        {100, -20, 2, 1, false},
    };
    for (const Row& r : rows) {
        s->DrawGeneral(0, 0, 0, kSize, kSize, r.x, r.y, r.xscale, r.yscale, 0, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 1);
        EXPECT_EQ(AnythingDrawn(), r.drawn) << r.x << "," << r.y << " scale " << r.xscale << "," << r.yscale;
    }
}

TEST_F(SpriteDrawTest, FramesWrapBothWays)
{
    CSprite* s = Bitmap();
    using Draw = std::function<void(int32_t)>;
    struct Op {
        const char* name;
        Draw draw;
    };
    const Op ops[] = {
        {"SpriteDraw", [&](int32_t f) { SpriteDraw(s, f, 100, 50, 1, 1, 0, 0xFFFFFF, 1); }},
        {"SpriteDrawSimple", [&](int32_t f) { SpriteDrawSimple(s, f, 100, 50); }},
        {"DrawPart", [&](int32_t f) { s->DrawPart(f, 0, 0, kSize, kSize, 100, 50, 1, 1, 0xFFFFFF, 1); }},
        {"DrawGeneral",
         [&](int32_t f) { s->DrawGeneral(f, 0, 0, kSize, kSize, 100, 50, 1, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1); }},
        {"DrawStretched", [&](int32_t f) { s->DrawStretched(f, 10, 10, 32, 8, 0xFFFFFF, 1); }},
        {"DrawTiled", [&](int32_t f) { s->DrawTiled(f, 10, 10, 1, 1, false, false, 0, 0, 200, 100, 0xFFFFFF, 1); }},
        {"DrawPos", [&](int32_t f) { s->DrawPos(f, 0, 0, 16, 0, 16, 16, 0, 16, 0xFFFFFF, 1); }},
    };
    struct Case {
        int32_t frame;
        int32_t drawn;
    };
    const Case cases[] = {{0, 0}, {2, 2}, {-1, 2}, {kFrames, 0}, {-kFrames - 1, 2}, {INT32_MIN, 1}, {INT32_MAX, 1}};
    for (const Op& op : ops)
        for (const Case& c : cases) {
            op.draw(c.frame);
            EXPECT_EQ(FrameDrawn(), c.drawn) << op.name << " frame " << c.frame;
        }
    EXPECT_EQ(console_.text, "");
}

TEST_F(SpriteDrawTest, WhatDrawsNothing)
{
    CSprite* bitmap = Bitmap();
    CSprite* vector = Blank(SPRITE_KIND_VECTOR);
    CSprite* skeleton = Blank(SPRITE_KIND_SKELETON);
    CSprite* empty = Bitmap();
    empty->m_frameCount = 0;
    const float nan = std::nanf("");
    struct Row {
        const char* what;
        std::function<void()> draw;
    };
    const Row rows[] = {
        {"stretched to width 0", [&] { bitmap->DrawStretched(0, 10, 10, 0, 20, 0xFFFFFF, 1); }},
        {"stretched to height 0", [&] { bitmap->DrawStretched(0, 10, 10, 20, 0, 0xFFFFFF, 1); }},
        {"stretched to a negative width", [&] { bitmap->DrawStretched(0, 10, 10, -5, 20, 0xFFFFFF, 1); }},
        {"stretched to a NaN height", [&] { bitmap->DrawStretched(0, 10, 10, 5, nan, 0xFFFFFF, 1); }},
        {"stretched vector to width 0", [&] { vector->DrawStretched(0, 10, 10, 0, 20, 0xFFFFFF, 1); }},
        {"vector part", [&] { vector->DrawPart(0, 0, 0, 8, 8, 10, 10, 1, 1, 0xFFFFFF, 1); }},
        {"skeleton part", [&] { skeleton->DrawPart(0, 0, 0, 8, 8, 10, 10, 1, 1, 0xFFFFFF, 1); }},
        {"vector general",
         [&] { vector->DrawGeneral(0, 0, 0, 8, 8, 100, 50, 1, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1); }},
        {"skeleton general",
         [&] { skeleton->DrawGeneral(0, 0, 0, 8, 8, 100, 50, 1, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1); }},
        {"vector on four corners", [&] { vector->DrawPos(0, 0, 0, 1, 0, 1, 1, 0, 1, 0xFFFFFF, 1); }},
        {"no frames", [&] { SpriteDraw(empty, 0, 100, 50, 1, 1, 0, 0xFFFFFF, 1); }},
        {"no frames, simple", [&] { SpriteDrawSimple(empty, 0, 100, 50); }},
        {"no sprite", [&] { SpriteDraw(nullptr, 0, 100, 50, 1, 1, 0, 0xFFFFFF, 1); }},
        {"NaN position", [&] { SpriteDraw(bitmap, 0, nan, 50, 1, 1, 0, 0xFFFFFF, 1); }},
        {"vector tiled at scale 0",
         [&] { vector->DrawTiled(0, 0, 0, 0, 1, true, true, 0, 0, 200, 100, 0xFFFFFF, 1); }},
        {"vector tiled at a NaN scale",
         [&] { vector->DrawTiled(0, 0, 0, nan, 1, true, true, 0, 0, 200, 100, 0xFFFFFF, 1); }},
    };
    for (const Row& r : rows) {
        r.draw();
        EXPECT_FALSE(AnythingDrawn()) << r.what;
    }
    EXPECT_EQ(console_.text, "");
}

TEST_F(SpriteDrawTest, VectorAndSkeletonBranchesGetTheirArguments)
{
    CSprite* vector = Blank(SPRITE_KIND_VECTOR);
    vector->m_xOrigin = 3;
    vector->m_yOrigin = 5;
    SpriteDraw(vector, -1, 100, 50, 2, 3, 45, 0x123456, 0.5f);
    SpriteDrawSimple(vector, 4, 100, 50);
    vector->DrawStretched(1, 10, 20, 32, 8, 0xABCDEF, 1);
    ASSERT_EQ(g_vectorDraws.size(), 3u);
    const SeamDraw& d = g_vectorDraws[0];
    EXPECT_EQ(d.frame, 2);
    EXPECT_EQ(d.xOrigin, 3.0f);
    EXPECT_EQ(d.yOrigin, 5.0f);
    EXPECT_EQ(d.xscale, 2.0f);
    EXPECT_EQ(d.yscale, 3.0f);
    EXPECT_EQ(d.angle, 45.0f);  // degrees: the vector renderer turns them itself
    EXPECT_EQ(d.colour, 0x123456u);
    EXPECT_EQ(g_vectorDraws[1].frame, 1);
    EXPECT_EQ(g_vectorDraws[1].colour, 0xFFFFFFFFu);
    EXPECT_EQ(g_vectorDraws[1].xscale, 1.0f);
    // Stretched vectors draw from origin 0, 0 at the given corner.
    EXPECT_EQ(g_vectorDraws[2].xOrigin, 0.0f);
    EXPECT_EQ(g_vectorDraws[2].x, 10.0f);
    EXPECT_EQ(g_vectorDraws[2].xscale, 2.0f);
    EXPECT_EQ(g_vectorDraws[2].yscale, 0.5f);

    CSprite* skeleton = Blank(SPRITE_KIND_SKELETON);
    SpriteDraw(skeleton, 7, -500, 50, 2, 2, 30, 0xFF, 1);
    SpriteDrawSimple(skeleton, -1, -500, 50);
    ASSERT_EQ(g_skeletonDraws.size(), 2u);
    EXPECT_EQ(g_skeletonDraws[0].frame, 7);
    EXPECT_EQ(g_skeletonDraws[0].angle, 30.0f);
    EXPECT_EQ(g_skeletonDraws[1].frame, SPRITE_SKELETON_FRAMES - 1);
    EXPECT_EQ(g_skeletonDraws[1].colour, 0xFFFFFFFFu);
}

TEST_F(SpriteDrawTest, VectorTilesCoverTheViewInStepWithThePosition)
{
    struct Row {
        const char* what;
        float x, y, xscale, yscale;
        bool tileX, tileY;
        float viewX, viewY, viewW, viewH;
    };
    const Row rows[] = {
        {"both ways", 37, 21, 1, 1, true, true, 0, 0, 100, 50},
        {"scaled, view elsewhere", -300, 500, 2.5f, 0.5f, true, true, 40, 70, 130, 33},
        {"mirrored", 12, 9, -2, 1, true, true, 5, 5, 100, 40},
        {"flipped", 12, 9, 1, -3, true, true, 5, 5, 100, 40},
        {"across only", 37, 21, 1, 1, true, false, 10, 0, 64, 50},
        {"down only", 37, 21, 1, 1, false, true, 10, 3, 64, 50},
        {"position on an edge", 22, 19, 1, 1, true, true, 0, 0, 40, 32},
    };
    for (const Row& r : rows) {
        CSprite* s = Blank(SPRITE_KIND_VECTOR);
        s->m_width = 10;
        s->m_height = 8;
        s->m_xOrigin = 2;
        s->m_yOrigin = 3;
        s->DrawTiled(-1, r.x, r.y, r.xscale, r.yscale, r.tileX, r.tileY, r.viewX, r.viewY, r.viewW, r.viewH, 0xFF, 1);
        const float w = std::fabs(r.xscale) * 10, h = std::fabs(r.yscale) * 8;
        const int32_t across = r.tileX ? int32_t(std::ceil(r.viewW / w)) + 1 : 1;
        const int32_t down = r.tileY ? int32_t(std::ceil(r.viewH / h)) + 1 : 1;
        ASSERT_EQ(g_vectorDraws.size(), size_t(across * down)) << r.what;
        // Each copy's edges, from where its frame's corners land.
        auto left = [&](const SeamDraw& d) {
            return std::min(d.x + (0 - d.xOrigin) * d.xscale, d.x + (10 - d.xOrigin) * d.xscale);
        };
        auto top = [&](const SeamDraw& d) {
            return std::min(d.y + (0 - d.yOrigin) * d.yscale, d.y + (8 - d.yOrigin) * d.yscale);
        };
        const float placedLeft = std::min(r.x - 2 * r.xscale, r.x + 8 * r.xscale);
        const float placedTop = std::min(r.y - 3 * r.yscale, r.y + 5 * r.yscale);
        const float startX = r.tileX ? r.viewX : 0.0f, startY = r.tileY ? r.viewY : 0.0f;
        for (size_t i = 0; i < g_vectorDraws.size(); ++i) {
            const SeamDraw& d = g_vectorDraws[i];
            EXPECT_EQ(d.frame, kFrames - 1) << r.what;
            EXPECT_EQ(d.angle, 0.0f) << r.what;
            const float l = left(d), t = top(d);
            // In phase with the placed sprite.
            const float phaseX = std::remainder(l - placedLeft, w), phaseY = std::remainder(t - placedTop, h);
            EXPECT_NEAR(phaseX, 0.0f, 1e-3f) << r.what << " copy " << i;
            EXPECT_NEAR(phaseY, 0.0f, 1e-3f) << r.what << " copy " << i;
            // Row by row, one step apart.
            EXPECT_NEAR(l - left(g_vectorDraws[i - i % across]), float(i % across) * w, 1e-3f) << r.what;
            EXPECT_NEAR(t - top(g_vectorDraws[i % across]), float(i / across) * h, 1e-3f) << r.what;
        }
        // The first copy starts at or before the tiled area's edge, within one step.
        const float firstLeft = left(g_vectorDraws[0]), firstTop = top(g_vectorDraws[0]);
        EXPECT_LE(firstLeft, startX + 1e-3f) << r.what;
        EXPECT_GT(firstLeft, startX - w - 1e-3f) << r.what;
        EXPECT_LE(firstTop, startY + 1e-3f) << r.what;
        EXPECT_GT(firstTop, startY - h - 1e-3f) << r.what;
        g_vectorDraws.clear();
    }
}

TEST_F(SpriteDrawTest, FailedQuadsNameTheSprite)
{
    TexturePageEntry dead = {0, 0, kSize, kSize, 0, 0, kSize, kSize, kSize, kSize, 99};
    CSprite* broken = Bitmap("spr_broken");
    broken->m_frameEntries[1] = &dead;
    broken->m_frameEntries[2] = nullptr;
    CSprite* runtime = Blank(SPRITE_KIND_BITMAP, "spr_runtime");
    runtime->m_textures = static_cast<int32_t*>(MemAlloc(sizeof(int32_t) * 2));
    runtime->m_textureCount = 2;
    runtime->m_textures[0] = page_;
    runtime->m_textures[1] = -1;
    struct Row {
        const char* what;
        std::function<void()> draw;
        const char* printed;  // null: drawn, nothing printed
    };
    const Row rows[] = {
        {"dead page", [&] { SpriteDraw(broken, 1, 100, 50, 1, 1, 0, 0xFF, 1); }, "spr_broken"},
        {"no entry", [&] { SpriteDrawSimple(broken, 2, 100, 50); }, "spr_broken"},
        {"part of a dead page", [&] { broken->DrawPart(1, 0, 0, 4, 4, 0, 0, 1, 1, 0xFF, 1); }, "spr_broken"},
        {"four corners of a dead page", [&] { broken->DrawPos(1, 0, 0, 1, 0, 1, 1, 0, 1, 0xFF, 1); }, "spr_broken"},
        {"good frame", [&] { SpriteDraw(broken, 0, 100, 50, 1, 1, 0, 0xFF, 1); }, nullptr},
        {"run-time texture", [&] { SpriteDraw(runtime, 0, 100, 50, 1, 1, 0, 0xFF, 1); }, nullptr},
        {"freed run-time texture", [&] { SpriteDraw(runtime, 1, 100, 50, 1, 1, 0, 0xFF, 1); }, "spr_runtime"},
        {"frame beyond the textures", [&] { SpriteDrawSimple(runtime, 2, 100, 50); }, "spr_runtime"},
    };
    for (const Row& r : rows) {
        console_.text.clear();
        r.draw();
        const bool drawn = AnythingDrawn();
        if (r.printed) {
            EXPECT_FALSE(drawn) << r.what;
            EXPECT_EQ(console_.text, std::string("Error attempting to draw sprite ") + r.printed + "\n") << r.what;
        } else {
            EXPECT_TRUE(drawn) << r.what;
            EXPECT_EQ(console_.text, "") << r.what;
        }
    }
    runtime->m_textures[0] = -1;  // the page is the fixture's
}

TEST_F(SpriteDrawTest, ProfilerRegionsCloseOnEveryWayOut)
{
    CSprite* s = Bitmap();
    CSprite* empty = Bitmap();
    empty->m_frameCount = 0;
    struct Row {
        const char* what;
        std::function<void()> draw;
        bool region;
    };
    const Row rows[] = {
        {"drawn", [&] { SpriteDraw(s, 0, 100, 50, 1, 1, 0, 0xFF, 1); }, true},
        {"culled", [&] { SpriteDraw(s, 0, -100, 50, 1, 1, 0, 0xFF, 1); }, true},
        {"no frames", [&] { SpriteDraw(empty, 0, 100, 50, 1, 1, 0, 0xFF, 1); }, false},
        {"simple, drawn", [&] { SpriteDrawSimple(s, 0, 100, 50); }, true},
        {"simple, culled", [&] { SpriteDrawSimple(s, 0, -100, 50); }, true},
        {"simple, no frames", [&] { SpriteDrawSimple(empty, 0, 100, 50); }, true},
    };
    Profiler_Active = true;
    SeamTrace_Enable(true);
    for (const Row& r : rows) {
        SeamTrace_Clear();
        r.draw();
        std::vector<std::string> calls;
        for (const std::string& n : SeamTrace_Calls())
            if (n.rfind("Profiler_", 0) == 0) calls.push_back(n);
        // The quad writers may open regions of their own inside ours.
        const auto enters = std::count(calls.begin(), calls.end(), "Profiler_Enter");
        EXPECT_EQ(enters, std::count(calls.begin(), calls.end(), "Profiler_Leave")) << r.what;
        EXPECT_EQ(!calls.empty(), r.region) << r.what;
        if (r.region && !calls.empty()) {
            EXPECT_EQ(calls.front(), "Profiler_Enter") << r.what;
            EXPECT_EQ(calls.back(), "Profiler_Leave") << r.what;
        }
    }
    SeamTrace_Enable(false);
    SeamTrace_Clear();
    Profiler_Active = false;
    Flushed();
}

TEST_F(SpriteDrawTest, CullRectangleFollowsTransformChangesOnly)
{
    CSprite* s = Bitmap();
    SpriteDraw(s, 0, 100, 50, 1, 1, 0, 0xFF, 1);
    EXPECT_FALSE(GR_TransformChanged);
    EXPECT_EQ(GR_WorldCullRect.right, 200);
    // A view rectangle moved without a transform change is not looked at again.
    GR_ViewRect = {1000, 0, 1200, 100};
    SpriteDraw(s, 0, 100, 50, 1, 1, 0, 0xFF, 1);
    EXPECT_TRUE(AnythingDrawn());
    GR_MarkTransformChanged();
    SpriteDraw(s, 0, 100, 50, 1, 1, 0, 0xFF, 1);
    EXPECT_FALSE(AnythingDrawn());
    EXPECT_EQ(GR_WorldCullRect.left, 1000);
    // The world matrix moves the rectangle: a sprite drawn at a translated origin is culled in its own space.
    GR_3D_TransformSetTranslation(1000, 0, 0);
    SpriteDraw(s, 0, 100, 50, 1, 1, 0, 0xFF, 1);
    EXPECT_TRUE(AnythingDrawn());
    GR_3D_TransformSetIdentity();
}

}  // namespace sprite_draw_test
