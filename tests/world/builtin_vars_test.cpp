// Built-in variables: the registry that InitVariables fills (names, order, which can be written), the
// conversions the setters share (rounding, single precision, boolean rules, index clamps), and the
// variables of one instance with their side effects, physics body included.
#include <gtest/gtest.h>

#include "core/seam_trace.h"
#include "core/value.h"
#include "core/variables.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "physics/physics.h"
#include "world/builtin_variables.h"
#include "world/frame_timer.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/room.h"
#include "world/run_state.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

// A named namespace: the tests of this folder are built as one unity file.
namespace bvinst {

constexpr bool kRO = true;   // read-only
constexpr bool kRW = false;  // has a setter

struct BvInst_Name {
    const char* name;
    bool readOnly;
};

// Every built-in variable in registration order: 85 of the instance, 118 global and room, 6 of the OS.
const BvInst_Name kBvInstNames[] = {
    {"x", kRW}, {"y", kRW}, {"xprevious", kRW}, {"yprevious", kRW}, {"xstart", kRW}, {"ystart", kRW},
    {"hspeed", kRW}, {"vspeed", kRW}, {"direction", kRW}, {"speed", kRW}, {"friction", kRW}, {"gravity", kRW},
    {"gravity_direction", kRW}, {"object_index", kRO}, {"id", kRO}, {"alarm", kRW}, {"solid", kRW}, {"visible", kRW},
    {"persistent", kRW}, {"depth", kRW}, {"bbox_left", kRO}, {"bbox_right", kRO}, {"bbox_top", kRO},
    {"bbox_bottom", kRO}, {"sprite_index", kRW}, {"image_index", kRW}, {"image_single", kRW}, {"image_number", kRO},
    {"sprite_width", kRO}, {"sprite_height", kRO}, {"sprite_xoffset", kRO}, {"sprite_yoffset", kRO},
    {"image_xscale", kRW}, {"image_yscale", kRW}, {"image_angle", kRW}, {"image_alpha", kRW}, {"image_blend", kRW},
    {"image_speed", kRW}, {"mask_index", kRW}, {"path_index", kRO}, {"path_position", kRW},
    {"path_positionprevious", kRW}, {"path_speed", kRW}, {"path_scale", kRW}, {"path_orientation", kRW},
    {"path_endaction", kRW}, {"timeline_index", kRW}, {"timeline_position", kRW}, {"timeline_speed", kRW},
    {"timeline_running", kRW}, {"timeline_loop", kRW}, {"async_load", kRO}, {"iap_data", kRO}, {"phy_rotation", kRW},
    {"phy_position_x", kRW}, {"phy_position_y", kRW}, {"phy_angular_velocity", kRW}, {"phy_linear_velocity_x", kRW},
    {"phy_linear_velocity_y", kRW}, {"phy_speed_x", kRW}, {"phy_speed_y", kRW}, {"phy_angular_damping", kRW},
    {"phy_linear_damping", kRW}, {"phy_bullet", kRW}, {"phy_fixed_rotation", kRW}, {"phy_active", kRW},
    {"phy_mass", kRO}, {"phy_inertia", kRO}, {"phy_com_x", kRO}, {"phy_com_y", kRO}, {"phy_speed", kRO},
    {"phy_dynamic", kRO}, {"phy_kinematic", kRO}, {"phy_sleeping", kRO}, {"phy_position_xprevious", kRO},
    {"phy_position_yprevious", kRO}, {"phy_collision_points", kRO}, {"phy_collision_x", kRO},
    {"phy_collision_y", kRO}, {"phy_col_normal_x", kRO}, {"phy_col_normal_y", kRO}, {"display_aa", kRO},
    {"delta_time", kRO}, {"webgl_enabled", kRO}, {"layer", kRW},

    {"argument_relative", kRO}, {"argument", kRW}, {"argument0", kRW}, {"argument1", kRW}, {"argument2", kRW},
    {"argument3", kRW}, {"argument4", kRW}, {"argument5", kRW}, {"argument6", kRW}, {"argument7", kRW},
    {"argument8", kRW}, {"argument9", kRW}, {"argument10", kRW}, {"argument11", kRW}, {"argument12", kRW},
    {"argument13", kRW}, {"argument14", kRW}, {"argument15", kRW}, {"argument_count", kRO}, {"debug_mode", kRO},
    {"pointer_invalid", kRO}, {"pointer_null", kRO}, {"undefined", kRO}, {"null", kRO}, {"room", kRW},
    {"room_first", kRO}, {"room_last", kRO}, {"transition_kind", kRW}, {"transition_steps", kRW}, {"score", kRW},
    {"lives", kRW}, {"health", kRW}, {"game_id", kRO}, {"game_guid", kRO}, {"game_display_name", kRO},
    {"game_project_name", kRO}, {"game_save_id", kRO}, {"working_directory", kRO}, {"temp_directory", kRO},
    {"program_directory", kRO}, {"instance_count", kRO}, {"instance_id", kRO}, {"room_width", kRW},
    {"room_height", kRW}, {"room_caption", kRW}, {"room_speed", kRW}, {"room_persistent", kRW},
    {"background_color", kRW}, {"background_showcolor", kRW}, {"background_colour", kRW},
    {"background_showcolour", kRW}, {"background_visible", kRW}, {"background_foreground", kRW},
    {"background_index", kRW}, {"background_x", kRW}, {"background_y", kRW}, {"background_width", kRO},
    {"background_height", kRO}, {"background_htiled", kRW}, {"background_vtiled", kRW}, {"background_xscale", kRW},
    {"background_yscale", kRW}, {"background_hspeed", kRW}, {"background_vspeed", kRW}, {"background_blend", kRW},
    {"background_alpha", kRW}, {"view_enabled", kRW}, {"view_current", kRO}, {"view_visible", kRW},
    {"view_xview", kRW}, {"view_yview", kRW}, {"view_wview", kRW}, {"view_hview", kRW}, {"view_xport", kRW},
    {"view_yport", kRW}, {"view_wport", kRW}, {"view_hport", kRW}, {"view_angle", kRW}, {"view_hborder", kRW},
    {"view_vborder", kRW}, {"view_hspeed", kRW}, {"view_vspeed", kRW}, {"view_object", kRW},
    {"view_surface_id", kRW}, {"view_camera", kRW}, {"mouse_x", kRO}, {"mouse_y", kRO}, {"mouse_button", kRW},
    {"mouse_lastbutton", kRW}, {"keyboard_key", kRW}, {"keyboard_lastkey", kRW}, {"keyboard_lastchar", kRW},
    {"keyboard_string", kRW}, {"cursor_sprite", kRW}, {"show_score", kRW}, {"show_lives", kRW}, {"show_health", kRW},
    {"caption_score", kRW}, {"caption_lives", kRW}, {"caption_health", kRW}, {"fps", kRO}, {"fps_real", kRO},
    {"current_time", kRO}, {"current_year", kRO}, {"current_month", kRO}, {"current_day", kRO},
    {"current_weekday", kRO}, {"current_hour", kRO}, {"current_minute", kRO}, {"current_second", kRO},
    {"event_type", kRO}, {"event_number", kRO}, {"event_object", kRO}, {"event_action", kRO}, {"secure_mode", kRO},
    {"error_occurred", kRW}, {"error_last", kRW}, {"application_surface", kRO},

    {"os_type", kRO}, {"os_device", kRO}, {"os_version", kRO}, {"os_browser", kRO}, {"browser_width", kRO},
    {"browser_height", kRO},
};
constexpr int32_t kBvInstInstanceCount = 85;
constexpr int32_t kBvInstGlobalCount = 118;
constexpr int32_t kBvInstOSCount = 6;

// Instance-list names that show global state: reachable without an instance.
bool BvInst_IsGlobalState(const std::string& name)
{
    return name == "async_load" || name == "iap_data" || name == "display_aa" || name == "delta_time" ||
           name == "webgl_enabled";
}

bool BvInst_ReadOnly(const std::string& name)
{
    for (const BvInst_Name& n : kBvInstNames)
        if (name == n.name) return n.readOnly;
    ADD_FAILURE() << name << " is not in the table";
    return true;
}

// What a failed read must leave in the out value.
constexpr double kBvInstUntouched = -12345.25;

// Sprite 1: box (0, 0, 15, 15), origin (8, 8). Sprite 2: 20 x 10, origin (4, 6), three frames.
bool BvInst_SpriteFacts(int32_t index, SpriteFacts* out)
{
    if (index == 1) {
        *out = SpriteFacts{};
        out->frameCount = 1;
        out->width = 16;
        out->height = 16;
        out->xOrigin = 8;
        out->yOrigin = 8;
        out->bboxRight = 15;
        out->bboxBottom = 15;
        return true;
    }
    if (index == 2) {
        *out = SpriteFacts{};
        out->frameCount = 3;
        out->width = 20;
        out->height = 10;
        out->xOrigin = 4;
        out->yOrigin = 6;
        out->bboxRight = 19;
        out->bboxBottom = 9;
        return true;
    }
    return false;
}

// The current contact: two points and normals for the instance the test names (for any instance, even
// none, with g_bvInstContactAny), none for any other.
CInstance* g_bvInstContactInstance = nullptr;
bool g_bvInstContactAny = false;
bool BvInst_InContact(CInstance* instance)
{
    return g_bvInstContactAny || (instance && instance == g_bvInstContactInstance);
}
int32_t BvInst_ContactCount(CPhysicsWorld*, CInstance* instance) { return BvInst_InContact(instance) ? 2 : 0; }
bool BvInst_ContactPoint(CPhysicsWorld*, CInstance* instance, int32_t n, bool normal, float* x, float* y)
{
    if (!BvInst_InContact(instance) || n < 0 || n > 1) return false;
    if (normal) {
        *x = n == 0 ? 0.0f : 1.0f;
        *y = n == 0 ? -1.0f : 0.0f;
    } else {
        *x = n == 0 ? 10.0f : 30.0f;
        *y = n == 0 ? 20.0f : 40.0f;
    }
    return true;
}
const PhysicsContactSource kBvInstContacts = {BvInst_ContactCount, BvInst_ContactPoint};

int32_t BvInst_Count(const char* call)
{
    int32_t n = 0;
    for (const std::string& c : SeamTrace_Calls()) n += c == call;
    return n;
}
std::string BvInst_Trace()
{
    std::string all;
    for (const std::string& c : SeamTrace_Calls()) all += c + " ";
    return all;
}

class BuiltinVarsTest : public testing::Test {
protected:
    void SetUp() override
    {
        InitVariables();
        oldFacts_ = Sprite_SetFactsSource(BvInst_SpriteFacts);
        oldContacts_ = Physics_SetContactSource(&kBvInstContacts);
        oldTree_ = CollisionTreeMode;
        CollisionTreeMode = false;
        oldNewMode_ = g_GameData.newMode;
        g_GameData.newMode = false;
        oldTimer_ = g_GameTimer;
        g_DepthChangeList.Clear();
        room_ = new CRoom();
        oldRoom_ = Run_Room;
        SetCurrentRoom(room_);
        world_ = new CPhysicsWorld();
        world_->pixelToMetre = 0.25f;
        SeamTrace_Clear();
        SeamTrace_Enable(true);
    }
    void TearDown() override
    {
        for (CInstance* i : made_) {
            i->physicsObject = nullptr;  // the bodies belong to the test
            delete i;
        }
        made_.clear();
        g_bvInstContactInstance = nullptr;
        g_bvInstContactAny = false;
        room_->physicsWorld = nullptr;
        delete world_;
        SetCurrentRoom(oldRoom_);
        delete room_;
        g_DepthChangeList.Clear();
        g_GameTimer = oldTimer_;
        g_GameData.newMode = oldNewMode_;
        CollisionTreeMode = oldTree_;
        Physics_SetContactSource(oldContacts_);
        Sprite_SetFactsSource(oldFacts_);
        SeamTrace_Enable(false);
        SeamTrace_Clear();
        Variable_BuiltIn_Free();
    }

    // An instance at (5, 7) with a clean box and nothing recorded yet.
    CInstance* Make(float x = 5.0f, float y = 7.0f)
    {
        auto* i = new CInstance(x, y, 100100 + int32_t(made_.size()), -1, false);
        made_.push_back(i);
        i->bboxDirty = false;
        SeamTrace_Clear();
        return i;
    }
    // The instance, carrying the test's body, in a room with the world.
    CInstance* MakeWithBody()
    {
        CInstance* i = Make();
        i->physicsObject = &body_;
        room_->physicsWorld = world_;
        return i;
    }

    static int32_t Id(const char* name)
    {
        const int32_t id = Variable_BuiltIn_Find(name);
        EXPECT_GE(id, 0) << name;
        return id;
    }
    // The read's answer; the value (kBvInstUntouched when the getter left the out value alone).
    static bool Get(CInstance* self, const char* name, double* value, int32_t index = ARRAY_INDEX_NONE)
    {
        RValue out;
        RValue_SetReal(&out, kBvInstUntouched);
        const bool ok = Variable_GetValue_Direct(self, Id(name), index, &out);
        EXPECT_EQ(RValue_Kind(&out), uint32_t(VALUE_REAL)) << name;
        *value = out.real;
        return ok;
    }
    static double Read(CInstance* self, const char* name, int32_t index = ARRAY_INDEX_NONE)
    {
        double v = 0.0;
        EXPECT_TRUE(Get(self, name, &v, index)) << name;
        return v;
    }
    static bool Set(CInstance* self, const char* name, double value, int32_t index = ARRAY_INDEX_NONE)
    {
        RValue v;
        RValue_SetReal(&v, value);
        return Variable_SetValue_Direct(self, Id(name), index, &v);
    }

    std::vector<CInstance*> made_;
    CRoom* room_ = nullptr;
    CRoom* oldRoom_ = nullptr;
    CPhysicsWorld* world_ = nullptr;
    CPhysicsObject body_;
    SpriteFactsSource oldFacts_ = nullptr;
    const PhysicsContactSource* oldContacts_ = nullptr;
    bool oldTree_ = false;
    bool oldNewMode_ = false;
    FrameTimer oldTimer_;
};

// ---- The registry ----

TEST_F(BuiltinVarsTest, RegistryHoldsEveryNameInOrderWritableExactlyWhenItHasNoReadOnlyMark)
{
    constexpr int32_t total = int32_t(sizeof(kBvInstNames) / sizeof(kBvInstNames[0]));
    static_assert(total == kBvInstInstanceCount + kBvInstGlobalCount + kBvInstOSCount);
    // A second run starts again from an empty table: the ids stay the same.
    InitVariables();
    ASSERT_EQ(Variable_BuiltIn_Count(), total);
    for (int32_t i = 0; i < total; ++i) {
        const BvInst_Name& want = kBvInstNames[i];
        SCOPED_TRACE(want.name);
        const BuiltinVariable* entry = Variable_BuiltIn_Entry(i);
        ASSERT_NE(entry, nullptr);
        EXPECT_STREQ(entry->name, want.name);
        EXPECT_EQ(Variable_BuiltIn_Find(want.name), i);
        EXPECT_NE(entry->getter, nullptr);
        EXPECT_EQ(entry->canSet, !want.readOnly);
        EXPECT_EQ(entry->setter != nullptr, !want.readOnly);
    }
    EXPECT_EQ(Variable_BuiltIn_Entry(total), nullptr);

    // The two spellings are one variable.
    for (const auto& [one, other] : {std::pair{"background_color", "background_colour"},
                                     std::pair{"background_showcolor", "background_showcolour"}}) {
        const BuiltinVariable* a = Variable_BuiltIn_Entry(Id(one));
        const BuiltinVariable* b = Variable_BuiltIn_Entry(Id(other));
        EXPECT_EQ(a->getter, b->getter) << one;
        EXPECT_EQ(a->setter, b->setter) << one;
    }
}

TEST_F(BuiltinVarsTest, WritesSucceedOnlyWhereASetterIsRegistered)
{
    struct Case {
        const char* name;
        bool ok;
    };
    // room_width and room_height have setters; argument_count, debug_mode, async_load and fps have none.
    const Case cases[] = {{"room_width", true},      {"room_height", true}, {"argument_count", false},
                          {"debug_mode", false},     {"async_load", false}, {"fps", false},
                          {"phy_mass", false},       {"bbox_left", false},  {"os_type", false}};
    CInstance* self = Make();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Set(self, c.name, 320.0), c.ok);
    }
    EXPECT_EQ(room_->width, 320);
    EXPECT_EQ(room_->height, 320);
}

// ---- Conversions shared by the setters ----

// Expected integers computed in Python 3: round(v) for integer fields, and round(f32(v)) with
// f32 = lambda v: struct.unpack('<f', struct.pack('<f', v))[0] for the instance fields that round through
// single precision. 2.5000001 and 16777217 are where the two differ.
TEST_F(BuiltinVarsTest, IntegerFieldsRoundHalvesToEvenAndInstanceFieldsThroughSinglePrecision)
{
    struct Case {
        const char* name;
        double value;
        double want;
    };
    const Case cases[] = {
        {"score", 2.5, 2},          {"score", 3.5, 4},          {"score", -2.5, -2},
        {"score", 2.5000001, 3},    {"score", 16777217, 16777217},
        {"alarm", 2.5, 2},          {"alarm", 7.5, 8},          {"alarm", -2.5, -2},
        {"alarm", 2.5000001, 2},    {"alarm", 16777217, 16777216},
        {"mask_index", 2.5000001, 2}, {"path_endaction", 3.5, 4}, {"timeline_index", 16777217, 16777216},
        {"image_blend", 254.5, 254}, {"image_blend", 255.5, 256}, {"image_blend", 16777217, 16777216},
    };
    const int32_t oldScore = g_Score;
    CInstance* self = Make();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + std::to_string(c.value));
        ASSERT_TRUE(Set(self, c.name, c.value));
        EXPECT_EQ(Read(self, c.name), c.want);
    }
    g_Score = oldScore;
}

// Rule 1 (show_score): rounds to 1 or more, so 0.5 (rounding to 0) hides. Rule 2 (visible): rounds through
// single precision to anything but 0. Rule 4 is the physics flags' (see the physics tests).
TEST_F(BuiltinVarsTest, BooleanRulesOneAndTwo)
{
    struct Case {
        const char* name;
        double value;
        bool want;
    };
    const Case cases[] = {
        {"show_score", 0.6, true},  {"show_score", 0.4, false}, {"show_score", 0.5, false},
        {"show_score", 1.5, true},  {"show_score", -1, false},  {"visible", -1, true},
        {"visible", 0.4, false},    {"visible", 0.6, true},     {"visible", -0.5, false},
        {"visible", 0.50000001, false},  // 0.5 in single precision, then to the even 0
        {"solid", 2, true},         {"persistent", -0.6, true}, {"timeline_running", 0.6, true},
        {"timeline_running", -1, false}, {"timeline_loop", 0.5, false},
        // Huge values round to huge values, not to the integer conversion's out-of-range answer.
        {"show_score", 1e10, true},     {"timeline_loop", 1e300, true},  {"visible", 1e10, true},
        {"show_score", -1e10, false},
    };
    const bool oldShow = g_ShowScore, oldCaptions = g_CaptionsSet;
    for (const Case& c : cases)
        for (bool before : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + " = " + std::to_string(c.value) + (before ? " over true" : " over false"));
            CInstance* self = Make();
            self->solid = self->visible = self->persistent = self->timelineRunning = self->timelineLoop = before;
            g_ShowScore = before;
            ASSERT_TRUE(Set(self, c.name, c.value));
            EXPECT_EQ(Read(self, c.name), c.want ? 1.0 : 0.0);
        }
    g_ShowScore = oldShow;
    g_CaptionsSet = oldCaptions;
}

// An index below 0 or at or above the count is element 0: the unindexed access, -1, the count itself and a
// packed two-dimensional index (row * 32000 + column) with a row above 0.
TEST_F(BuiltinVarsTest, ArrayIndexesOutsideTheRangeMeanElementZero)
{
    for (int32_t v = 0; v < ROOM_VIEWS; ++v) room_->views[v].x = float(10 * v + 1);
    struct Case {
        int32_t index;
        double want;
    };
    const Case reads[] = {{ARRAY_INDEX_NONE, 1}, {-1, 1}, {8, 1}, {32001, 1}, {3, 31}, {7, 71}};
    for (const Case& c : reads) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(Read(nullptr, "view_xview", c.index), c.want);
    }
    ASSERT_TRUE(Set(nullptr, "view_xview", 99.0, 8));
    EXPECT_EQ(room_->views[0].x, 99.0f);
    for (int32_t v = 1; v < ROOM_VIEWS; ++v) EXPECT_EQ(room_->views[v].x, float(10 * v + 1)) << v;
}

TEST_F(BuiltinVarsTest, AlarmIndexIsClampedToZeroToEleven)
{
    struct Case {
        int32_t index;
        double value;
        int32_t slot;  // the alarm that changes
    };
    const Case writes[] = {{3, 7.0, 3},  {11, 9.0, 11}, {12, 5.0, 0},    {-1, 30.0, 0},
                           {ARRAY_INDEX_NONE, 4.0, 0},  {32003, 6.0, 0}, {20, 8.0, 0}};
    for (const Case& c : writes) {
        SCOPED_TRACE(c.index);
        CInstance* self = Make();
        ASSERT_TRUE(Set(self, "alarm", c.value, c.index));
        for (int32_t a = 0; a < INSTANCE_ALARM_COUNT; ++a) EXPECT_EQ(self->alarm[a], a == c.slot ? int32_t(c.value) : -1) << a;
    }
    CInstance* self = Make();
    for (int32_t a = 0; a < INSTANCE_ALARM_COUNT; ++a) self->alarm[a] = 100 + a;
    const Case reads[] = {{20, 0, 0}, {12, 0, 0}, {-1, 0, 0}, {ARRAY_INDEX_NONE, 0, 0}, {5, 0, 5}, {11, 0, 11}};
    for (const Case& c : reads) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(Read(self, "alarm", c.index), 100 + c.slot);
    }
}

// ---- Instance variables ----

// Fields written by storing the converted value: no box marking, no notification, nothing else moves.
TEST_F(BuiltinVarsTest, StoredFieldsTakeTheConvertedValueAndNothingElse)
{
    using Field = double (*)(const CInstance&);
    struct Case {
        const char* name;
        double value;
        double want;
        Field field;
    };
    const double tenth = double(0.1f);  // single-precision fields read back widened
    const Case cases[] = {
        {"xprevious", 0.1, tenth, [](const CInstance& i) { return double(i.xprevious); }},
        {"yprevious", -3.25, -3.25, [](const CInstance& i) { return double(i.yprevious); }},
        {"xstart", 16777217, 16777216, [](const CInstance& i) { return double(i.xstart); }},
        {"ystart", 2.5, 2.5, [](const CInstance& i) { return double(i.ystart); }},
        {"friction", 0.1, tenth, [](const CInstance& i) { return double(i.friction); }},
        {"gravity", 0.5, 0.5, [](const CInstance& i) { return double(i.gravity); }},
        {"gravity_direction", 400, 400, [](const CInstance& i) { return double(i.gravityDirection); }},
        {"image_index", 99, 99, [](const CInstance& i) { return double(i.imageIndex); }},
        {"image_alpha", 2.5, 2.5, [](const CInstance& i) { return double(i.imageAlpha); }},
        {"image_alpha", -1, -1, [](const CInstance& i) { return double(i.imageAlpha); }},
        {"image_speed", 0.25, 0.25, [](const CInstance& i) { return double(i.imageSpeed); }},
        {"path_scale", 3, 3, [](const CInstance& i) { return double(i.pathScale); }},
        {"path_orientation", 450, 450, [](const CInstance& i) { return double(i.pathOrientation); }},
        {"timeline_position", 12.5, 12.5, [](const CInstance& i) { return double(i.timelinePosition); }},
        {"timeline_speed", -2, -2, [](const CInstance& i) { return double(i.timelineSpeed); }},
        {"path_endaction", 2.5000001, 2, [](const CInstance& i) { return double(i.pathEndAction); }},
        {"timeline_index", 7.4, 7, [](const CInstance& i) { return double(i.timelineIndex); }},
        {"image_blend", 0xFF8040, 0xFF8040, [](const CInstance& i) { return double(i.imageBlend); }},
        {"path_position", 1.5, 1, [](const CInstance& i) { return double(i.pathPosition); }},
        {"path_position", -0.5, 0, [](const CInstance& i) { return double(i.pathPosition); }},
        {"path_position", 0.25, 0.25, [](const CInstance& i) { return double(i.pathPosition); }},
        {"path_positionprevious", 2, 1, [](const CInstance& i) { return double(i.pathPositionPrevious); }},
        {"path_positionprevious", -1, 0, [](const CInstance& i) { return double(i.pathPositionPrevious); }},
        {"path_speed", -3, -3, [](const CInstance& i) { return double(i.pathSpeed); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + std::to_string(c.value));
        CInstance* self = Make();
        ASSERT_TRUE(Set(self, c.name, c.value));
        EXPECT_EQ(c.field(*self), c.want);
        EXPECT_EQ(Read(self, c.name), c.want);
        EXPECT_EQ(self->x, 5.0f);
        EXPECT_EQ(self->y, 7.0f);
        EXPECT_FALSE(self->bboxDirty);
        EXPECT_EQ(BvInst_Trace(), "");
    }
}

// Position, scale, angle and mask: a change stores, marks the box dirty and queues the instance once; a
// value that converts to the current one does nothing at all.
TEST_F(BuiltinVarsTest, MovingScalingTurningAndMaskingMarkTheBoxOnlyOnChange)
{
    using Field = double (*)(const CInstance&);
    struct Case {
        const char* name;
        double value;
        bool changes;
        double want;
        Field field;
    };
    auto x = [](const CInstance& i) { return double(i.x); };
    auto y = [](const CInstance& i) { return double(i.y); };
    auto xscale = [](const CInstance& i) { return double(i.imageXScale); };
    auto yscale = [](const CInstance& i) { return double(i.imageYScale); };
    auto angle = [](const CInstance& i) { return double(i.imageAngle); };
    auto mask = [](const CInstance& i) { return double(i.maskIndex); };
    const Case cases[] = {
        {"x", 10, true, 10, x},
        {"x", 5, false, 5, x},
        {"x", 5.00000001, false, 5, x},  // 5 in single precision
        {"y", 9, true, 9, y},
        {"y", 7, false, 7, y},
        {"image_xscale", 2, true, 2, xscale},
        {"image_xscale", 1, false, 1, xscale},
        {"image_yscale", -0.5, true, -0.5, yscale},
        {"image_yscale", 1, false, 1, yscale},
        {"image_angle", 30, true, 30, angle},
        {"image_angle", 0, false, 0, angle},
        {"mask_index", 3.5, true, 4, mask},
        {"mask_index", -0.6, false, -1, mask},  // rounds to the current -1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + std::to_string(c.value));
        CInstance* self = Make();
        ASSERT_TRUE(Set(self, c.name, c.value));
        EXPECT_EQ(c.field(*self), c.want);
        EXPECT_EQ(self->bboxDirty, c.changes);
        EXPECT_EQ(BvInst_Trace(), c.changes ? "Collision_MarkDirty " : "");
        // A move keeps the other coordinate.
        if (std::string(c.name) == "x") {
            EXPECT_EQ(self->y, 7.0f);
        }
        if (std::string(c.name) == "y") {
            EXPECT_EQ(self->x, 5.0f);
        }
    }
}

// Each motion variable keeps the (direction, speed) and (hspeed, vspeed) pairs consistent.
TEST_F(BuiltinVarsTest, MotionVariablesKeepBothFormsOfTheMotion)
{
    struct Write {
        const char* name;
        double value;
    };
    struct Case {
        const char* name;
        std::vector<Write> writes;
        double hspeed, vspeed, direction, speed;
    };
    const double down = 360.0 - std::atan2(4.0, 3.0) * 180.0 / std::numbers::pi;  // 306.8698...
    const Case cases[] = {
        {"hspeed then vspeed", {{"hspeed", 3}, {"vspeed", 4}}, 3, 4, down, 5},
        {"speed at direction 90", {{"direction", 90}, {"speed", 2}}, 0, -2, 90, 2},
        {"direction -90", {{"speed", 2}, {"direction", -90}}, 0, 2, 270, 2},
        {"direction 725", {{"direction", 725}}, 0, 0, 5, 0},
        {"direction 360", {{"direction", 360}}, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CInstance* self = Make();
        for (const Write& w : c.writes) ASSERT_TRUE(Set(self, w.name, w.value)) << w.name;
        EXPECT_NEAR(Read(self, "hspeed"), c.hspeed, 1e-4);
        EXPECT_NEAR(Read(self, "vspeed"), c.vspeed, 1e-4);
        EXPECT_NEAR(Read(self, "direction"), c.direction, 1e-4);
        EXPECT_NEAR(Read(self, "speed"), c.speed, 1e-4);
    }
}

TEST_F(BuiltinVarsTest, DepthChangeIsListedOnceAndAnEqualDepthDoesNothing)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        float before;
        std::vector<double> writes;
        int32_t listed;    // entries of the deferred depth-change list
        int32_t notified;  // Layer_InstanceDepthChanged calls
    };
    const Case cases[] = {
        {"equal", 5, {5}, 0, 0},
        {"equal in single precision", 5, {5.00000001}, 0, 0},
        {"changed", 5, {-10}, 1, 1},
        {"changed twice", 5, {-10, 20}, 1, 2},
        {"not a number over not a number", nan, {double(nan)}, 1, 1},
        {"number over not a number", nan, {3}, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_DepthChangeList.Clear();
        CInstance* self = Make();
        self->depth = c.before;
        for (double v : c.writes) ASSERT_TRUE(Set(self, "depth", v));
        EXPECT_EQ(g_DepthChangeList.count, c.listed);
        EXPECT_EQ(g_DepthChangeList.Contains(self), c.listed > 0);
        EXPECT_EQ(BvInst_Count("Layer_InstanceDepthChanged"), c.notified);
        const double last = c.writes.back();
        if (std::isnan(last)) {
            EXPECT_TRUE(std::isnan(self->depth));
        } else {
            EXPECT_EQ(self->depth, float(last));
        }
    }
}

// The room has no layer of any id: a write takes the instance off its layer and leaves it on none.
TEST_F(BuiltinVarsTest, LayerWriteLeavesTheOldLayerAndAnUnknownIdReadsMinusOne)
{
    struct Case {
        double value;
        int32_t id;  // truncated toward zero
    };
    const Case cases[] = {{7.9, 7}, {-2.7, -2}, {3, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        CInstance* self = Make();
        self->layerId = 3;
        self->onLayer = true;
        EXPECT_EQ(Read(self, "layer"), -1.0);  // on a layer the room does not have
        SeamTrace_Clear();
        ASSERT_TRUE(Set(self, "layer", c.value));
        EXPECT_EQ(BvInst_Trace(), "Layer_RemoveInstance ");
        EXPECT_FALSE(self->onLayer);
        EXPECT_EQ(self->layerId, c.id);
        EXPECT_EQ(Read(self, "layer"), -1.0);
    }
}

TEST_F(BuiltinVarsTest, ImageSingleSetsSpeedOrFreezesTheFrame)
{
    struct Case {
        const char* name;
        float index, speed;  // before
        double write;
        float wantIndex, wantSpeed;
    };
    const Case writes[] = {
        {"-1 keeps the frame and animates", 2.5f, 0.0f, -1, 2.5f, 1.0f},
        {"-0.5 too", 2.5f, 0.0f, -0.5, 2.5f, 1.0f},
        {"3 freezes on frame 3", 1.0f, 0.5f, 3, 3.0f, 0.0f},
        {"0 freezes on frame 0", 1.0f, 0.5f, 0, 0.0f, 0.0f},
    };
    for (const Case& c : writes) {
        SCOPED_TRACE(c.name);
        CInstance* self = Make();
        self->imageIndex = c.index;
        self->imageSpeed = c.speed;
        ASSERT_TRUE(Set(self, "image_single", c.write));
        EXPECT_EQ(self->imageIndex, c.wantIndex);
        EXPECT_EQ(self->imageSpeed, c.wantSpeed);
    }
    struct Read_ {
        float index, speed;
        double want;
    };
    const Read_ reads[] = {{2.0f, 0.5f, -1}, {2.5f, 0.0f, 2.5}, {4.0f, -1.0f, -1}};
    for (const Read_& r : reads) {
        SCOPED_TRACE(r.speed);
        CInstance* self = Make();
        self->imageIndex = r.index;
        self->imageSpeed = r.speed;
        EXPECT_EQ(Read(self, "image_single"), r.want);
    }
}

// Sprite 2 is 20 x 10 with origin (4, 6) and three frames; sprite_index -1 and 9 name no sprite.
TEST_F(BuiltinVarsTest, SpriteMeasuresScaleWithTheImageAndAreZeroWithoutASprite)
{
    struct Case {
        int32_t sprite;
        double width, height, xoffset, yoffset, frames;
    };
    const Case cases[] = {{2, 30, -5, 6, -3, 3}, {-1, 0, 0, 0, 0, 0}, {9, 0, 0, 0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sprite);
        CInstance* self = Make();
        self->spriteIndex = c.sprite;
        self->imageXScale = 1.5f;
        self->imageYScale = -0.5f;
        EXPECT_EQ(Read(self, "sprite_width"), c.width);
        EXPECT_EQ(Read(self, "sprite_height"), c.height);
        EXPECT_EQ(Read(self, "sprite_xoffset"), c.xoffset);
        EXPECT_EQ(Read(self, "sprite_yoffset"), c.yoffset);
        EXPECT_EQ(Read(self, "image_number"), c.frames);
    }
}

// sprite_index converts as an integer argument does (truncating), unlike the rounded integer fields.
TEST_F(BuiltinVarsTest, SpriteIndexConvertsWithTheIntegerArgumentRule)
{
    struct Case {
        const char* name;
        RValue value;
        int32_t want;
    };
    RValue real27, int64, undefined;
    RValue_SetReal(&real27, 2.7);
    RValue_SetInt64(&int64, (int64_t(1) << 32) + 2);  // the low 32 bits
    RValue_SetUndefined(&undefined);
    const Case cases[] = {{"2.7", real27, 2}, {"int64 2^32 + 2", int64, 2}, {"undefined", undefined, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CInstance* self = Make();
        self->imageIndex = 5.0f;  // past sprite 2's three frames
        RValue v = c.value;
        ASSERT_TRUE(Variable_SetValue_Direct(self, Id("sprite_index"), ARRAY_INDEX_NONE, &v));
        EXPECT_EQ(self->spriteIndex, c.want);
        EXPECT_EQ(Read(self, "sprite_index"), c.want);
        EXPECT_EQ(self->imageIndex, 0.0f);
        EXPECT_TRUE(self->bboxDirty);
    }
}

// Sprite 1 has box (0, 0, 15, 15) and origin (8, 8): at (10, 7) the box is (2, -1, 17, 14).
TEST_F(BuiltinVarsTest, BoxEdgesRecomputeADirtyBoxFirst)
{
    struct Case {
        const char* name;
        double want;
    };
    const Case cases[] = {{"bbox_left", 2}, {"bbox_top", -1}, {"bbox_right", 17}, {"bbox_bottom", 14}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CInstance* self = Make(100, 100);
        self->spriteIndex = 1;
        self->bbox = BoundingBox{-999, -999, -999, -999};  // stale
        ASSERT_TRUE(Set(self, "x", 10));
        ASSERT_TRUE(Set(self, "y", 7));
        ASSERT_TRUE(self->bboxDirty);
        SeamTrace_Clear();
        EXPECT_EQ(Read(self, c.name), c.want);
        EXPECT_FALSE(self->bboxDirty);
        EXPECT_EQ(BvInst_Count("Collision_UpdateInstance"), 1);  // the collision entry follows the box
        // A clean box is read as it stands.
        self->bbox = BoundingBox{-999, -999, -999, -999};
        SeamTrace_Clear();
        EXPECT_EQ(Read(self, c.name), -999.0);
        EXPECT_EQ(BvInst_Trace(), "");
    }
}

TEST_F(BuiltinVarsTest, IdentityFieldsAndTheBlendColourReadAsStored)
{
    CInstance* self = Make();
    self->objectIndex = 6;
    self->pathIndex = 4;
    self->imageBlend = 0xFF0000FFu;
    EXPECT_EQ(Read(self, "id"), double(self->id));
    EXPECT_EQ(Read(self, "object_index"), 6.0);
    EXPECT_EQ(Read(self, "path_index"), 4.0);
    EXPECT_EQ(Read(self, "image_blend"), 4278190335.0);  // unsigned
}

// Every per-instance getter and setter reached without an instance fails and leaves everything alone; the
// five that show global state answer anyway. The world and a contact (for whatever instance is asked
// about) are there, so only self is missing.
TEST_F(BuiltinVarsTest, WithoutAnInstanceEveryInstanceVariableFailsButTheGlobalOnes)
{
    MakeWithBody();
    g_bvInstContactAny = true;
    for (int32_t i = 0; i < kBvInstInstanceCount; ++i) {
        const BvInst_Name& n = kBvInstNames[i];
        SCOPED_TRACE(n.name);
        SeamTrace_Clear();
        const int32_t id = Id(n.name);
        RValue out;
        RValue_SetReal(&out, kBvInstUntouched);
        const bool got = Variable_GetValue_Direct(nullptr, id, 0, &out);
        if (BvInst_IsGlobalState(n.name)) {
            EXPECT_TRUE(got);
            EXPECT_EQ(RValue_Kind(&out), uint32_t(VALUE_REAL));
            continue;
        }
        EXPECT_FALSE(got);
        EXPECT_EQ(RValue_Kind(&out), uint32_t(VALUE_REAL));
        EXPECT_EQ(out.real, kBvInstUntouched);
        if (!n.readOnly) {
            // Through the entry: the setter itself must refuse.
            RValue v;
            RValue_SetReal(&v, 0.75);
            EXPECT_FALSE(Variable_BuiltIn_Entry(id)->setter(nullptr, 0, &v));
        }
        EXPECT_EQ(BvInst_Trace(), "");
        EXPECT_EQ(g_DepthChangeList.count, 0);
    }
}

// ---- Physics ----

// Each variable needs the body, the room's world, or both; what it needs missing, it fails and changes nothing.
TEST_F(BuiltinVarsTest, PhysicsVariablesNeedTheBodyAndTheWorldTheyUse)
{
    struct Case {
        const char* name;
        bool body, world;
    };
    const Case cases[] = {
        {"phy_rotation", true, false},           {"phy_position_x", true, true},
        {"phy_position_y", true, true},          {"phy_angular_velocity", true, false},
        {"phy_linear_velocity_x", true, true},   {"phy_linear_velocity_y", true, true},
        {"phy_speed_x", true, true},             {"phy_speed_y", true, true},
        {"phy_angular_damping", true, false},    {"phy_linear_damping", true, false},
        {"phy_bullet", true, false},             {"phy_fixed_rotation", true, false},
        {"phy_active", true, false},             {"phy_mass", true, false},
        {"phy_inertia", true, false},            {"phy_com_x", true, true},
        {"phy_com_y", true, true},               {"phy_speed", true, true},
        {"phy_dynamic", true, false},            {"phy_kinematic", true, false},
        {"phy_sleeping", true, false},           {"phy_position_xprevious", true, true},
        {"phy_position_yprevious", true, true},  {"phy_collision_points", false, true},
        {"phy_collision_x", false, true},        {"phy_collision_y", false, true},
        {"phy_col_normal_x", false, true},       {"phy_col_normal_y", false, true},
    };
    struct Setup {
        const char* name;
        bool body, world;
    };
    const Setup setups[] = {{"body and world", true, true}, {"body alone", true, false}, {"world alone", false, true},
                            {"neither", false, false}};
    for (const Setup& s : setups)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(s.name) + ": " + c.name);
            CInstance* self = Make();
            g_bvInstContactInstance = self;
            self->physicsObject = s.body ? &body_ : nullptr;
            room_->physicsWorld = s.world ? world_ : nullptr;
            body_ = CPhysicsObject{};
            body_.body.x = 1.0f;
            body_.body.linearVelocityX = 2.0f;
            body_.body.flags = PhysicsBodyState::FLAG_BULLET;
            const bool ok = (s.body || !c.body) && (s.world || !c.world);
            double v = 0.0;
            EXPECT_EQ(Get(self, c.name, &v, 0), ok);
            if (!ok) {
                EXPECT_EQ(v, kBvInstUntouched);
            }
            if (BvInst_ReadOnly(c.name)) continue;
            const PhysicsBodyState before = body_.body;
            EXPECT_EQ(Set(self, c.name, 0.75, 0), ok);
            if (!ok) {
                EXPECT_EQ(std::memcmp(&before, &body_.body, sizeof before), 0);
            }
        }
}

// World scale 0.25 metres per pixel; room speed 40 without the frame timer.
TEST_F(BuiltinVarsTest, PhysicsReadsConvertByTheScaleTheAngleFactorAndTheStepRate)
{
    const float pi = 3.1415927f;
    PhysicsBodyState& b = body_.body;
    b.x = 3.0f;
    b.y = -1.5f;
    b.angle = pi / 2.0f;
    b.angularVelocity = -pi;
    b.linearVelocityX = 2.0f;
    b.linearVelocityY = -0.5f;
    b.angularDamping = 0.125f;
    b.linearDamping = 0.375f;
    b.mass = 4.0f;
    b.inertia = 2.0f;
    b.localCentreX = 0.5f;
    b.localCentreY = -1.5f;
    b.worldCentreX = 1.0f;
    b.worldCentreY = -0.25f;
    body_.previousX = 0.5f;
    body_.previousY = 0.75f;
    room_->speed = 40;
    CInstance* self = MakeWithBody();
    struct Case {
        const char* name;
        double want;
    };
    const Case cases[] = {
        {"phy_position_x", 12},       {"phy_position_y", -6},
        // 180 / pi with pi in single precision: a right angle is exactly 90.
        {"phy_rotation", 90},         {"phy_angular_velocity", -180},
        {"phy_linear_velocity_x", 8}, {"phy_linear_velocity_y", -2},
        {"phy_speed_x", 0.2},         {"phy_speed_y", -0.05},
        {"phy_angular_damping", 0.125}, {"phy_linear_damping", 0.375},
        {"phy_mass", 4},
        {"phy_inertia", 12},  // about the origin: 2 + 4 * (0.5^2 + 1.5^2)
        {"phy_com_x", 4},             {"phy_com_y", -1},
        {"phy_position_xprevious", 2}, {"phy_position_yprevious", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(Read(self, c.name), c.want);
    }
}

TEST_F(BuiltinVarsTest, PhysicsFlagsAndBodyTypeReadAsOneOrZero)
{
    using S = PhysicsBodyState;
    struct Case {
        const char* name;
        uint32_t flags;
        int32_t type;
        double bullet, fixed, active, sleeping, dynamic, kinematic;
    };
    const Case cases[] = {
        {"awake bullet, kinematic", S::FLAG_AWAKE | S::FLAG_BULLET, S::TYPE_KINEMATIC, 1, 0, 0, 0, 0, 1},
        {"asleep, fixed, active, dynamic", S::FLAG_FIXED_ROTATION | S::FLAG_ACTIVE, S::TYPE_DYNAMIC, 0, 1, 1, 1, 1, 0},
        {"static", S::FLAG_AWAKE, S::TYPE_STATIC, 0, 0, 0, 0, 0, 0},
    };
    CInstance* self = MakeWithBody();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        body_.body.flags = c.flags;
        body_.body.type = c.type;
        EXPECT_EQ(Read(self, "phy_bullet"), c.bullet);
        EXPECT_EQ(Read(self, "phy_fixed_rotation"), c.fixed);
        EXPECT_EQ(Read(self, "phy_active"), c.active);
        EXPECT_EQ(Read(self, "phy_sleeping"), c.sleeping);
        EXPECT_EQ(Read(self, "phy_dynamic"), c.dynamic);
        EXPECT_EQ(Read(self, "phy_kinematic"), c.kinematic);
    }
}

// The step rate: the room speed without the frame timer, the timer's rate with it; never below 1.
TEST_F(BuiltinVarsTest, PhysicsSpeedUsesTheStepRate)
{
    struct Case {
        const char* name;
        bool newMode;
        double timerFps;
        int32_t roomSpeed;
        double rate;
    };
    const Case cases[] = {
        {"room speed", false, 60, 40, 40},
        {"frame timer", true, 20, 40, 20},
        {"room speed 0", false, 60, 0, 1},
        {"frame timer below 1", true, 0.5, 40, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_GameData.newMode = c.newMode;
        g_GameTimer = FrameTimer();
        g_GameTimer.fps = c.timerFps;
        room_->speed = c.roomSpeed;
        body_ = CPhysicsObject{};
        body_.body.linearVelocityX = 2.0f;  // 8 pixels per second
        body_.body.linearVelocityY = -1.0f;
        CInstance* self = MakeWithBody();
        EXPECT_DOUBLE_EQ(Read(self, "phy_speed_x"), 8.0 / c.rate);
        EXPECT_DOUBLE_EQ(Read(self, "phy_speed_y"), -4.0 / c.rate);
        ASSERT_TRUE(Set(self, "phy_speed_x", 0.5));
        EXPECT_FLOAT_EQ(body_.body.linearVelocityX, float(0.5 * 0.25 * c.rate));
        EXPECT_EQ(body_.body.linearVelocityY, -1.0f);
        ASSERT_TRUE(Set(self, "phy_speed_y", -2));
        EXPECT_FLOAT_EQ(body_.body.linearVelocityY, float(-2 * 0.25 * c.rate));
    }
}

// Components and length in single precision. Expected from Python 3 with f32 as above: vx = f32(0.1),
// vy = f32(0.2), sx = f32(vx / 0.25 / 30), sy likewise, f32(sqrt(f32(f32(sx*sx) + f32(sy*sy))))
// = 0.029814239591360092, where the double length is 0.02981424014426399.
TEST_F(BuiltinVarsTest, PhysicsSpeedIsTheSinglePrecisionLength)
{
    room_->speed = 30;
    body_.body.linearVelocityX = 0.1f;
    body_.body.linearVelocityY = 0.2f;
    CInstance* self = MakeWithBody();
    const double got = Read(self, "phy_speed");
    EXPECT_EQ(got, 0.029814239591360092);
    EXPECT_NE(got, std::hypot(double(0.1f) / 0.25 / 30, double(0.2f) / 0.25 / 30));
}

TEST_F(BuiltinVarsTest, PhysicsWritesMoveTheBodyByTheScale)
{
    using S = PhysicsBodyState;
    using Check = bool (*)(const S&);
    struct Case {
        const char* name;
        double value;
        uint32_t flagsBefore;
        Check check;
    };
    const Case cases[] = {
        {"phy_position_x", 12, 0, [](const S& b) { return b.x == 3.0f && b.y == 2.0f && (b.flags & S::FLAG_AWAKE); }},
        {"phy_position_y", -6, 0, [](const S& b) { return b.x == 1.0f && b.y == -1.5f && (b.flags & S::FLAG_AWAKE); }},
        {"phy_linear_velocity_x", 8, 0,
         [](const S& b) { return b.linearVelocityX == 2.0f && b.linearVelocityY == 4.0f && (b.flags & S::FLAG_AWAKE); }},
        {"phy_linear_velocity_y", -2, 0,
         [](const S& b) { return b.linearVelocityX == 3.0f && b.linearVelocityY == -0.5f; }},
        {"phy_rotation", 90, 0, [](const S& b) { return std::fabs(b.angle - 3.1415927f / 2) < 1e-6f; }},
        {"phy_angular_velocity", -180, 0, [](const S& b) { return std::fabs(b.angularVelocity + 3.1415927f) < 1e-6f; }},
        {"phy_angular_damping", 0.1, 0, [](const S& b) { return b.angularDamping == 0.1f; }},
        {"phy_linear_damping", 0.3, 0, [](const S& b) { return b.linearDamping == 0.3f; }},
        // Rule 4: above 0.5, unrounded.
        {"phy_bullet", 0.5, S::FLAG_BULLET, [](const S& b) { return !(b.flags & S::FLAG_BULLET); }},
        {"phy_bullet", 0.51, 0, [](const S& b) { return (b.flags & S::FLAG_BULLET) != 0; }},
        {"phy_bullet", 1e10, 0, [](const S& b) { return (b.flags & S::FLAG_BULLET) != 0; }},  // no integer involved
        {"phy_fixed_rotation", 0.5, S::FLAG_FIXED_ROTATION,
         [](const S& b) { return !(b.flags & S::FLAG_FIXED_ROTATION); }},
        {"phy_fixed_rotation", 0.51, 0, [](const S& b) { return (b.flags & S::FLAG_FIXED_ROTATION) != 0; }},
        {"phy_fixed_rotation", 1e10, 0, [](const S& b) { return (b.flags & S::FLAG_FIXED_ROTATION) != 0; }},
        {"phy_active", 0.5, S::FLAG_ACTIVE, [](const S& b) { return !(b.flags & S::FLAG_ACTIVE); }},
        {"phy_active", 0.51, 0, [](const S& b) { return (b.flags & S::FLAG_ACTIVE) != 0; }},
        {"phy_active", 1e10, 0, [](const S& b) { return (b.flags & S::FLAG_ACTIVE) != 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + std::to_string(c.value));
        body_ = CPhysicsObject{};
        body_.body.x = 1.0f;
        body_.body.y = 2.0f;
        body_.body.linearVelocityX = 3.0f;
        body_.body.linearVelocityY = 4.0f;
        body_.body.flags = c.flagsBefore;
        CInstance* self = MakeWithBody();
        ASSERT_TRUE(Set(self, c.name, c.value));
        EXPECT_TRUE(c.check(body_.body)) << "x " << body_.body.x << " y " << body_.body.y << " vx "
                                         << body_.body.linearVelocityX << " vy " << body_.body.linearVelocityY
                                         << " flags " << body_.body.flags;
    }
}

// The contact point number is the access's index; no such point is a failed read.
TEST_F(BuiltinVarsTest, CollisionPointsAndNormalsOfTheCurrentContact)
{
    CInstance* self = MakeWithBody();
    CInstance* bystander = Make();
    bystander->physicsObject = &body_;
    g_bvInstContactInstance = self;
    struct Case {
        const char* name;
        int32_t index;
        bool ok;
        double want;
    };
    const Case cases[] = {
        {"phy_collision_x", 0, true, 10},  {"phy_collision_y", 0, true, 20},
        {"phy_collision_x", 1, true, 30},  {"phy_collision_y", 1, true, 40},
        {"phy_col_normal_x", 0, true, 0},  {"phy_col_normal_y", 0, true, -1},
        {"phy_col_normal_x", 1, true, 1},  {"phy_col_normal_y", 1, true, 0},
        {"phy_collision_x", 2, false, 0},  {"phy_col_normal_y", -1, false, 0},
        {"phy_collision_y", ARRAY_INDEX_NONE, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "[" + std::to_string(c.index) + "]");
        double v = 0.0;
        EXPECT_EQ(Get(self, c.name, &v, c.index), c.ok);
        EXPECT_EQ(v, c.ok ? c.want : kBvInstUntouched);
        EXPECT_FALSE(Get(bystander, c.name, &v, c.index));
    }
    EXPECT_EQ(Read(self, "phy_collision_points"), 2.0);
    EXPECT_EQ(Read(bystander, "phy_collision_points"), 0.0);
}

}  // namespace bvinst
