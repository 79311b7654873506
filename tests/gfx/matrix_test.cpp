// Matrix maths against a double-precision reference in Python, and the device matrices on the recording
// device: products, the half-pixel shift, 3D mode and depth, the projections, the view and cull rectangles
// and the transform stack.
#include "gfx/matrices.h"

#include "fake_render_device.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "tests/core/py_oracle.h"
#include "test_support.h"
#include "world/loader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace matrix_test {

// Within 1e-5 relative or 1e-6 absolute.
::testing::AssertionResult MatrixNear(const Matrix44& got, const std::vector<double>& want)
{
    for (int i = 0; i < 16; ++i) {
        const double g = got.m[i], w = want[size_t(i)];
        if (!(std::fabs(g - w) <= 1e-6 || std::fabs(g - w) <= 1e-5 * std::fabs(w)))
            return ::testing::AssertionFailure() << "element " << i << ": " << g << " want " << w;
    }
    return ::testing::AssertionSuccess();
}

bool Same(const Matrix44& a, const Matrix44& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

Matrix44 MatrixFrom(const std::vector<double>& values, size_t first = 0)
{
    Matrix44 m;
    for (int i = 0; i < 16; ++i) m.m[i] = float(values[first + size_t(i)]);
    return m;
}

// The recording device installed and taken as the live device, with a 640 x 480 viewport; the pure maths
// tests share it so the whole suite runs under one name.
class GfxMatrix : public testing::Test {
protected:
    void SetUp() override
    {
        device_.hasDevice = true;
        savedDevice_ = GR_Device;
        savedViewport_ = GR_Viewport;
        savedNewMode_ = g_GameData.newMode;
        GR_Device = &device_;
        GR_Viewport = {0, 0, 640, 480};
        GR_HalfPixel = true;
        GR_3DMode = false;
        GPUState::SetDefaults();
        for (Matrix44& m : GR_Matrices) m = Matrix_Identity();
        GR_3D_TransformStackClear();
        device_.ClearLog();
    }
    void TearDown() override
    {
        GR_3D_SetMode(false);
        GR_3D_TransformStackClear();
        GR_3D_TransformSetIdentity();
        GR_ProjectionIsOrtho = false;
        GR_CullingOff = false;
        GR_Depth = 0;
        GPUState::SetDefaults();
        g_GameData.newMode = savedNewMode_;
        GR_Viewport = savedViewport_;
        GR_Device = savedDevice_;
    }
    Matrix44 Sent(uint32_t which)
    {
        Matrix44 m;
        std::memcpy(m.m, device_.transforms.at(which).m, sizeof m.m);
        return m;
    }
    static std::vector<double> Values(const Matrix44& m) { return std::vector<double>(m.m, m.m + 16); }

    kvtest::FakeRenderDevice device_;
    kvtest::ScopedRenderDevice installed_{&device_};
    RenderDevice* savedDevice_ = nullptr;
    GRViewport savedViewport_{};
    bool savedNewMode_ = false;
};

TEST_F(GfxMatrix, BuildersMultiplyAndInverseMatchPythonReference)
{
    const std::string dir = kvtest_py::Generate("tests/gfx/matrix_oracle.py", "");
    ASSERT_FALSE(dir.empty());
    std::istringstream lines(kvtest::ReadFile(dir + "matrices.txt"));
    std::string line;
    int rows = 0, singular = 0;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::string name;
        size_t count = 0;
        in >> name >> count;
        std::vector<double> a(count), want(16);
        for (double& x : a) in >> x;
        int invertible = 0;
        in >> invertible;
        for (double& x : want) in >> x;
        ASSERT_FALSE(in.fail()) << line;
        ++rows;
        auto f = [&](size_t i) { return float(a[i]); };
        Matrix44 got{};
        if (name == "rotx") got = Matrix_BuildRotationX(f(0));
        else if (name == "roty") got = Matrix_BuildRotationY(f(0));
        else if (name == "rotz") got = Matrix_BuildRotationZ(f(0));
        else if (name == "axis") got = Matrix_BuildRotationAxis({f(0), f(1), f(2)}, f(3));
        else if (name == "lookat") got = Matrix_BuildLookAt({f(0), f(1), f(2)}, {f(3), f(4), f(5)}, {f(6), f(7), f(8)});
        else if (name == "fov") got = Matrix_BuildPerspectiveFov(f(0), f(1), f(2), f(3));
        else if (name == "persp") got = Matrix_BuildPerspective(f(0), f(1), f(2), f(3));
        else if (name == "ortho") got = Matrix_BuildOrtho(f(0), f(1), f(2), f(3));
        else if (name == "mul") Matrix_Multiply(&got, MatrixFrom(a), MatrixFrom(a, 16));
        else if (name == "inv") {
            // The output starts as the input: a singular matrix must leave it so.
            got = MatrixFrom(a);
            EXPECT_EQ(Matrix_Inverse(&got, got), invertible != 0) << line;
            singular += invertible ? 0 : 1;
        } else {
            ADD_FAILURE() << "unknown row " << name;
        }
        EXPECT_TRUE(MatrixNear(got, want)) << line;
    }
    EXPECT_EQ(rows, 77);
    EXPECT_EQ(singular, 2);
}

TEST_F(GfxMatrix, SingularInverseLeavesOutputUntouched)
{
    Matrix44 out = Matrix_BuildTranslation(1, 2, 3);
    const Matrix44 before = out;
    EXPECT_FALSE(Matrix_Inverse(&out, Matrix_BuildScaling(1, 0, 1)));
    EXPECT_TRUE(Same(out, before));
}

TEST_F(GfxMatrix, AxisRotationOfZeroAxisGivesNaNNotACrash)
{
    const Matrix44 m = Matrix_BuildRotationAxis({0, 0, 0}, 30);
    EXPECT_TRUE(std::isnan(m.m[0]));
    EXPECT_EQ(m.m[15], 1.0f);
}

TEST_F(GfxMatrix, ViewRectExamples)
{
    struct Case {
        float x, y, w, h, angle;
        GRRect want;
    };
    const Case cases[] = {
        {10, 20, 100, 50, 0, {9, 19, 110, 70}},
        {0, 0, 640, 480, 45, {-75, -155, 715, 635}},
        {0, 0, 100, 100, 180, {0, 0, 100, 100}},
        {0, 0, 100, 100, 0.0009f, {0, 0, 100, 100}},  // below the rotation threshold
        {-5.5f, 0, 10, 10, 0, {-6, 0, 5, 10}},  // truncation toward zero, not floor
    };
    for (const Case& c : cases) {
        GR_SetViewRect(c.x, c.y, c.w, c.h, c.angle);
        EXPECT_EQ(GR_ViewRect.left, c.want.left) << c.angle;
        EXPECT_EQ(GR_ViewRect.top, c.want.top) << c.angle;
        EXPECT_EQ(GR_ViewRect.right, c.want.right) << c.angle;
        EXPECT_EQ(GR_ViewRect.bottom, c.want.bottom) << c.angle;
    }
    GR_SetViewRect(0, 0, 100, 100, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(GR_ViewRect.left, INT32_MIN);
}

TEST_F(GfxMatrix, ProjectionIsShiftedHalfAPixelAndProductsFollow)
{
    GR_PrimOffsetX = GR_PrimOffsetY = 0.5f;
    const Matrix44 ortho = Matrix_BuildOrtho(640, -480, 1, 32000);
    GR_D3D_SetMatrix(RDTS_PROJECTION, ortho);
    Matrix44 shifted = ortho;
    shifted.m[12] -= 1.0f / 640.0f;
    shifted.m[13] += 1.0f / 480.0f;
    EXPECT_TRUE(Same(GR_Matrices[GRM_PROJECTION], shifted));
    EXPECT_TRUE(Same(Sent(RDTS_PROJECTION), shifted));
    EXPECT_EQ(GR_PrimOffsetX, 1.0f);
    EXPECT_EQ(GR_PrimOffsetY, 1.0f);

    // Without the flag the matrix goes as given; view and world are never shifted.
    GR_HalfPixel = false;
    GR_D3D_SetMatrix(RDTS_PROJECTION, ortho);
    EXPECT_TRUE(Same(Sent(RDTS_PROJECTION), ortho));
    const Matrix44 view = Matrix_BuildLookAt({320, 240, -16000}, {320, 240, 0}, {0, 1, 0});
    const Matrix44 world = Matrix_BuildRotationZ(30);
    GR_D3D_SetMatrix(RDTS_VIEW, view);
    GR_D3D_SetMatrix(RDTS_WORLD, world);
    EXPECT_TRUE(Same(Sent(RDTS_VIEW), view));
    EXPECT_TRUE(Same(Sent(RDTS_WORLD), world));

    Matrix44 wv, wvp;
    Matrix_Multiply(&wv, world, view);
    Matrix_Multiply(&wvp, wv, ortho);
    EXPECT_TRUE(MatrixNear(GR_Matrices[GRM_WORLDVIEW], Values(wv)));
    EXPECT_TRUE(MatrixNear(GR_Matrices[GRM_WORLDVIEWPROJ], Values(wvp)));
    Matrix44 got;
    GR_D3D_GetMatrix(GR_MatrixKindToTransform(2), &got);
    EXPECT_TRUE(Same(got, world));
    EXPECT_EQ(GR_MatrixKindToTransform(3), 0u);
}

TEST_F(GfxMatrix, NothingHappensWithoutADevice)
{
    GR_Device = nullptr;
    GR_D3D_SetMatrix(RDTS_WORLD, Matrix_BuildTranslation(5, 5, 5));
    EXPECT_EQ(GR_Matrices[GRM_WORLD].m[12], 0.0f);  // still the identity
    EXPECT_TRUE(device_.transforms.empty());
}

TEST_F(GfxMatrix, DepthDependsOnModeAndGameVersion)
{
    struct Case {
        bool mode3d, newMode;
        float depth, want;
    };
    const Case cases[] = {
        {true, false, 20000, 16000}, {false, false, 20000, 0},   {false, true, 20000, 16000},
        {true, false, -20000, -16000}, {false, true, 123.5f, 123.5f}, {true, true, std::nanf(""), 0},
    };
    for (const Case& c : cases) {
        GR_3D_SetMode(c.mode3d);
        g_GameData.newMode = c.newMode;
        GR_3D_SetDepth(c.depth);
        EXPECT_EQ(GR_Depth, c.want) << c.mode3d << c.newMode << ' ' << c.depth;
    }
}

TEST_F(GfxMatrix, ModeSwitchSetsPerspectiveAndHiddenSurface)
{
    GR_3D_SetPerspective(false);
    GR_3D_SetHidden(false);
    EXPECT_TRUE(GR_3D_SetMode(true));
    EXPECT_TRUE(GR_3DMode && GR_Perspective && GR_HiddenSurface);
    GR_3D_SetPerspective(false);
    EXPECT_TRUE(GR_3D_SetMode(true));  // unchanged mode touches nothing
    EXPECT_FALSE(GR_Perspective);
    EXPECT_TRUE(GR_3D_SetMode(false));
    EXPECT_FALSE(GR_3DMode || GR_Perspective || GR_HiddenSurface);
}

TEST_F(GfxMatrix, ViewProjectionIsOrthographicIn2DAndPerspectiveIn3D)
{
    GR_HalfPixel = false;
    GR_SetViewProjection(0, 0, 640, 480, 0);
    EXPECT_TRUE(GR_ProjectionIsOrtho);
    // 2D flips y: the room's top row maps to the top of the view.
    EXPECT_TRUE(MatrixNear(GR_Matrices[GRM_PROJECTION], Values(Matrix_BuildOrtho(640, -480, 1, 32000))));
    EXPECT_TRUE(MatrixNear(GR_Matrices[GRM_VIEW],
                           Values(Matrix_BuildLookAt({320, 240, -16000}, {320, 240, 0}, {0, 1, 0}))));
    EXPECT_EQ(GR_ViewRect.right, 640);

    GR_3D_SetMode(true);
    GR_SetViewProjection(0, 0, 640, 480, 0);
    EXPECT_FALSE(GR_ProjectionIsOrtho);
    EXPECT_TRUE(MatrixNear(GR_Matrices[GRM_PROJECTION], Values(Matrix_BuildPerspective(1, 0.75f, 1, 32000))));
    EXPECT_TRUE(
        MatrixNear(GR_Matrices[GRM_VIEW], Values(Matrix_BuildLookAt({320, 240, -640}, {320, 240, 0}, {0, 1, 0}))));
    GR_3D_SetPerspective(false);
    GR_SetViewProjection(0, 0, 640, 480, 0);
    EXPECT_TRUE(GR_ProjectionIsOrtho);
    EXPECT_TRUE(MatrixNear(GR_Matrices[GRM_PROJECTION], Values(Matrix_BuildOrtho(640, 480, 1, 32000))));
}

TEST_F(GfxMatrix, ScriptProjectionsKeepPlanesAndCullingFlag)
{
    GR_HalfPixel = false;
    GR_3D_SetProjectionOrtho(0, 0, 320, 240, 0);
    EXPECT_TRUE(GR_CullingOff && GR_ProjectionIsOrtho);
    EXPECT_TRUE(MatrixNear(GR_Matrices[GRM_PROJECTION], Values(Matrix_BuildOrtho(320, -240, 1, 32000))));
    GR_3D_SetProjectionExt(0, 0, -100, 0, 0, 0, 0, 1, 0, 60, 1.5f, 2, 500);
    EXPECT_FALSE(GR_CullingOff || GR_ProjectionIsOrtho);
    EXPECT_EQ(GR_ProjectionNear, 2.0f);
    EXPECT_EQ(GR_ProjectionFar, 500.0f);
    EXPECT_TRUE(MatrixNear(GR_Matrices[GRM_PROJECTION],
                           Values(Matrix_BuildPerspectiveFov(60 * 0.0174532924f, 1.5f, 2, 500))));
    GR_3D_SetProjectionOrtho(0, 0, 320, 240, 0);
    GR_3D_SetProjectionPerspective(0, 0, 320, 240, 0);
    EXPECT_FALSE(GR_CullingOff || GR_ProjectionIsOrtho);
    EXPECT_EQ(GR_ProjectionFar, 32000.0f);
}

TEST_F(GfxMatrix, WorldTransformsComposeAndMapVertices)
{
    GR_3D_TransformSetTranslation(10, 20, 30);
    GR_3D_TransformAddScaling(2, 2, 2);  // world := world x scale, so the translation is scaled too
    float x = 1, y = 1, z = 1;
    GR_3D_TransformVertex(&x, &y, &z);
    EXPECT_EQ(x, 22.0f);
    EXPECT_EQ(y, 42.0f);
    EXPECT_EQ(z, 62.0f);

    // The axis forms take the angle negated: about +z they turn the other way from the z rotation.
    GR_3D_TransformSetRotationAxis(0, 0, 1, 90);
    EXPECT_TRUE(MatrixNear(GR_Matrices[GRM_WORLD], Values(Matrix_BuildRotationZ(90))));
    GR_3D_TransformAddRotationAxis(0, 0, 2, -90);  // the axis is normalised
    EXPECT_TRUE(MatrixNear(GR_Matrices[GRM_WORLD], Values(Matrix_Identity())));
}

TEST_F(GfxMatrix, TransformStackLimits)
{
    EXPECT_TRUE(GR_3D_TransformStackEmpty());
    EXPECT_FALSE(GR_3D_TransformStackPop());
    EXPECT_FALSE(GR_3D_TransformStackTop());
    EXPECT_FALSE(GR_3D_TransformStackDiscard());
    for (int i = 0; i < 50; ++i) {
        GR_3D_TransformSetTranslation(float(i), 0, 0);
        ASSERT_TRUE(GR_3D_TransformStackPush()) << i;
    }
    GR_3D_TransformSetTranslation(50, 0, 0);
    EXPECT_TRUE(GR_3D_TransformStackPush());
    EXPECT_FALSE(GR_3D_TransformStackPush());  // the 52nd
    EXPECT_EQ(GR_3D_TransformStackDepth(), 51);

    GR_3D_TransformSetIdentity();
    GR_TransformChanged = false;
    EXPECT_TRUE(GR_3D_TransformStackTop());
    EXPECT_EQ(GR_Matrices[GRM_WORLD].m[12], 50.0f);
    EXPECT_TRUE(GR_TransformChanged);
    EXPECT_EQ(GR_3D_TransformStackDepth(), 51);
    EXPECT_TRUE(GR_3D_TransformStackDiscard());
    EXPECT_TRUE(GR_3D_TransformStackPop());
    EXPECT_EQ(GR_Matrices[GRM_WORLD].m[12], 49.0f);
    EXPECT_EQ(Sent(RDTS_WORLD).m[12], 49.0f);
    EXPECT_EQ(GR_3D_TransformStackDepth(), 49);
    GR_3D_TransformStackClear();
    EXPECT_TRUE(GR_3D_TransformStackEmpty());
}

TEST_F(GfxMatrix, WorldCullRectIsViewRectInWorldSpace)
{
    GR_SetViewRect(0, 0, 100, 50, 0);  // (-0, -0, 100, 50) after truncation
    GR_3D_TransformSetTranslation(10, 20, 0);
    GR_UpdateWorldCullRect();
    EXPECT_EQ(GR_WorldCullRect.left, -10);
    EXPECT_EQ(GR_WorldCullRect.top, -20);
    EXPECT_EQ(GR_WorldCullRect.right, 90);
    EXPECT_EQ(GR_WorldCullRect.bottom, 30);

    // Only recomputed after a change.
    GR_SetViewRect(0, 0, 200, 200, 0);
    GR_UpdateWorldCullRect();
    EXPECT_EQ(GR_WorldCullRect.right, 90);

    // A singular world is used as it is: scaling x by 0 and y by 2.
    GR_3D_TransformSetScaling(0, 2, 1);
    GR_UpdateWorldCullRect();
    EXPECT_EQ(GR_WorldCullRect.left, 0);
    EXPECT_EQ(GR_WorldCullRect.right, 0);
    EXPECT_EQ(GR_WorldCullRect.top, 0);
    EXPECT_EQ(GR_WorldCullRect.bottom, 400);
    EXPECT_FALSE(GR_TransformChanged);

    // A NaN world never crashes; the corners come out as the converters' INT32_MIN.
    GR_3D_TransformSetTranslation(std::nanf(""), 0, 0);
    GR_UpdateWorldCullRect();
    EXPECT_EQ(GR_WorldCullRect.left, INT32_MIN);
}

}  // namespace matrix_test
