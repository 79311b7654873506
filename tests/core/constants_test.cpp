#include "core/constants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "audio/audio.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "platform/hooks.h"
#include "world/command_line.h"
#include "world/run_state.h"

namespace {

std::vector<std::string> g_constantsBoxes;

int ConstantsRecordingBox(const MessageBoxRequest& request)
{
    g_constantsBoxes.emplace_back(request.text ? request.text : "<null>");
    return MB_ANSWER_OK;
}

class ConstantsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Code_Constant_Free();
        steam_ = g_RunFlags.steam;
        child_ = g_ChildGame;
        g_RunFlags.steam = false;
        g_ChildGame = false;
        g_constantsBoxes.clear();
        previousBox_ = Platform_SetMessageBoxHook(ConstantsRecordingBox);
        baseline_ = MemoryManager_Probe();
    }
    void TearDown() override
    {
        Code_Constant_Free();
        Code_Constant_SetAssetFinders(nullptr);
        Platform_SetMessageBoxHook(previousBox_);
        g_RunFlags.steam = steam_;
        g_ChildGame = child_;
        MemoryProbe after = MemoryManager_Probe();
        EXPECT_EQ(after.liveBlocks, baseline_.liveBlocks);
        EXPECT_EQ(after.heapBytesInUse, baseline_.heapBytesInUse);
    }

    // The real value of a constant, NaN when it is missing or not a real.
    static double Real(const char* name)
    {
        const RValue* v = Code_Constant_Find(name);
        if (!v || RValue_Kind(v) != VALUE_REAL) return std::nan("");
        return v->real;
    }

private:
    bool steam_ = false;
    bool child_ = false;
    MessageBoxHook previousBox_ = nullptr;
    MemoryProbe baseline_{};
};

TEST_F(ConstantsTest, BuiltinCountDependsOnWhetherExternalCallsAreAllowed)
{
    struct Case {
        bool steam;
        bool child;
        int32_t count;
        bool dll;
    } cases[] = {
        {false, false, 507, true},
        {true, false, 505, false},   // -steam
        {false, true, 505, false},   // a child game of a game change
        {true, true, 505, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "steam " << c.steam << " child " << c.child);
        g_RunFlags.steam = c.steam;
        g_ChildGame = c.child;
        Code_Constant_Init();
        EXPECT_EQ(Code_Constant_Count(), c.count);
        EXPECT_EQ(Code_Constant_Find("dll_cdecl") != nullptr, c.dll);
        EXPECT_EQ(Code_Constant_Find("dll_stdcall") != nullptr, c.dll);
        // The late families follow the 414 (or 412) early ones, in order.
        EXPECT_STREQ(Code_Constant_Name(c.count - 93), "os_unknown");
        EXPECT_STREQ(Code_Constant_Name(0), "self");
        EXPECT_STREQ(Code_Constant_Name(c.count - 1), "fb_login_forcing_safari");
        EXPECT_EQ(Code_Constant_Name(c.count), nullptr);
        EXPECT_EQ(Code_Constant_Value(-1), nullptr);

        std::set<std::string> names;
        for (int32_t i = 0; i < Code_Constant_Count(); ++i) {
            names.insert(Code_Constant_Name(i));
            EXPECT_EQ(RValue_Kind(Code_Constant_Value(i)), VALUE_REAL) << Code_Constant_Name(i);
        }
        EXPECT_EQ(names.size(), static_cast<size_t>(c.count)) << "a built-in name is registered twice";
        Code_Constant_Free();
        EXPECT_EQ(Code_Constant_Count(), 0);
    }
}

TEST_F(ConstantsTest, EveryFamilyHasItsListedValues)
{
    struct Row {
        const char* name;
        double value;
    } rows[] = {
        // First and last of every family, in registration order.
        {"self", -1}, {"pi", 3.1415927410125732},
        {"pr_pointlist", 1}, {"pr_trianglefan", 6},
        {"c_aqua", 16776960}, {"c_orange", 4235519},
        {"bm_normal", 0}, {"bm_src_alpha_sat", 11},
        {"se_none", 0}, {"se_equalizer", 64},
        {"fa_left", 0}, {"fa_bottom", 2},
        {"mb_any", -1}, {"mb_middle", 3},
        {"vk_nokey", 0}, {"vk_ralt", 165},
        {"gp_face1", 32769}, {"gp_axisrv", 32788},
        {"ev_create", 0}, {"ev_gui", 64},
        {"ty_real", 0}, {"ty_string", 1},
        {"dll_cdecl", 0}, {"dll_stdcall", 1},
        {"fa_readonly", 1}, {"fa_archive", 32},
        {"cr_default", 0}, {"cr_size_all", -22},
        {"pt_shape_pixel", 0}, {"pt_shape_snow", 13},
        {"ps_distr_linear", 0}, {"ps_change_motion", 2},
        {"ef_explosion", 0}, {"ef_snow", 11},
        {"display_landscape", 0}, {"display_portrait_flipped", 3},
        {"phy_joint_anchor_1_x", 0}, {"phy_debug_render_collision_pairs", 64},
        {"audio_falloff_none", 0}, {"audio_3d", 2},
        {"ov_friends", 0}, {"ov_achievements", 5},
        {"lb_sort_none", 0}, {"lb_disp_time_ms", 3},
        {"ugc_result_success", 1}, {"ugc_match_ControllerBindings", 11},
        {"timezone_local", 0}, {"timezone_utc", 1},
        {"os_unknown", -1}, {"os_llvm_winphone", 65543},
        {"device_ios_unknown", -1}, {"device_tablet", 2},
        {"browser_not_a_browser", -1}, {"browser_ie_mobile", 10},
        {"of_challenge_win", 0}, {"of_challenge_tie", 2},
        {"leaderboard_type_number", 0}, {"leaderboard_type_time_mins_secs", 1},
        {"achievement_our_info", 1002}, {"achievement_type_achievement_score", 1},
        {"asset_unknown", -1}, {"asset_timeline", 8},
        {"ds_type_map", 1}, {"ds_type_priority", 6},
        {"fb_login_default", 0}, {"fb_login_forcing_safari", 5},
        // Where a family's values jump or run out of name order.
        {"local", -7}, {"vk_backspace", 8}, {"vk_f12", 123}, {"vk_numpad9", 105}, {"vk_divide", 111},
        {"ev_step", 3}, {"ev_alarm", 2}, {"ev_collision", 4}, {"ev_keyrelease", 10},
        {"ev_global_release", 13}, {"ev_joystick1_button8", 28}, {"ev_joystick2_left", 31},
        {"ev_global_middle_release", 58}, {"ev_user15", 25}, {"ev_close_button", 30},
        {"cr_beam", -4}, {"cr_size_nesw", -6}, {"ps_shape_line", 3}, {"phy_joint_reaction_torque", 6},
        {"phy_joint_angle", 8}, {"phy_joint_motor_speed", 7}, {"phy_joint_frequency", 18},
        {"ugc_query_RankedByTextSearch", 11}, {"ugc_list_Followed", 8}, {"os_amazon", 19},
        {"os_llvm_win32", 65536}, {"device_ios_iphone5", 4}, {"device_emulator", 256},
        {"achievement_challenge_launched", 1011}, {"bm_inv_dest_colour", 10}, {"c_maroon", 128},
    };
    Code_Constant_Init();
    for (const Row& r : rows) EXPECT_EQ(Real(r.name), r.value) << r.name;
}

TEST_F(ConstantsTest, PiIsTheSinglePrecisionValue)
{
    Code_Constant_Init();
    EXPECT_EQ(Real("pi"), 3.1415927410125732);
    EXPECT_EQ(Real("pi"), static_cast<double>(static_cast<float>(3.14159265358979323846)));
    EXPECT_NE(Real("pi"), 3.141592653589793);
}

TEST_F(ConstantsTest, SpellingsShareTheirValues)
{
    struct Pair {
        const char* a;
        const char* b;
        double value;
    } pairs[] = {
        {"c_ltgray", "c_silver", 12632256}, {"vk_enter", "vk_return", 13},
        {"bm_src_color", "bm_src_colour", 3}, {"bm_inv_src_color", "bm_inv_src_colour", 4},
        {"bm_dest_color", "bm_dest_colour", 9}, {"os_win32", "os_windows", 0},
    };
    Code_Constant_Init();
    for (const Pair& p : pairs) {
        EXPECT_EQ(Real(p.a), p.value) << p.a;
        EXPECT_EQ(Real(p.b), p.value) << p.b;
    }
}

TEST_F(ConstantsTest, FindIgnoresAsciiCaseOnly)
{
    Code_Constant_Init();
    struct Case {
        const char* name;
        double value;  // NaN: not found
    } cases[] = {
        {"VK_LEFT", 37}, {"vk_left", 37}, {"Vk_LeFt", 37}, {"C_RED", 255},
        {"vk_lef", std::nan("")}, {"vk_lefts", std::nan("")}, {"", std::nan("")}, {" vk_left", std::nan("")},
    };
    for (const Case& c : cases) {
        double got = Real(c.name);
        if (std::isnan(c.value)) {
            EXPECT_EQ(Code_Constant_Find(c.name), nullptr) << c.name;
        } else {
            EXPECT_EQ(got, c.value) << c.name;
        }
    }
    EXPECT_EQ(Code_Constant_Find(nullptr), nullptr);
}

TEST_F(ConstantsTest, UserConstantHidesTheBuiltinForFindAndAssetFind)
{
    Code_Constant_Init();
    RValue out;
    RValue_SetUndefined(&out);
    ASSERT_TRUE(Code_Constant_AssetFind("c_red", &out));
    EXPECT_EQ(out.real, 255);

    EXPECT_TRUE(Code_Constant_Define("c_red", "12"));
    EXPECT_EQ(Code_Constant_Count(), 508);
    EXPECT_EQ(Real("c_red"), 0);
    EXPECT_EQ(Real("C_Red"), 0);
    ASSERT_TRUE(Code_Constant_AssetFind("c_red", &out));
    EXPECT_EQ(RValue_Kind(&out), VALUE_REAL);
    EXPECT_EQ(out.real, 0);
    // The asset lookup compares bytes, so another case finds nothing.
    EXPECT_FALSE(Code_Constant_AssetFind("C_RED", &out));
    EXPECT_EQ(out.real, -1);
    EXPECT_TRUE(g_constantsBoxes.empty());
}

TEST_F(ConstantsTest, DefineTrimsTheNameAndRefusesAnythingButAnIdentifier)
{
    struct Case {
        const char* name;
        const char* valueText;
        const char* defined;  // null: refused
        const char* box;      // the message shown when refused
    } cases[] = {
        {"  x  ", "1", "x", nullptr},
        {"\t\r\nspeed_2\n", "3.5", "speed_2", nullptr},
        {"_", nullptr, "_", nullptr},
        {"\xC3\xA9name", "1", "name", nullptr},  // bytes of 128 and above count as blanks at the ends
        {"9lives", "9", nullptr, "Constant name 9lives  is not valid."},
        {"  9lives  ", "9", nullptr, "Constant name 9lives  is not valid."},
        {"a b", "1", nullptr, "Constant name a b  is not valid."},
        {"a-b", "1", nullptr, "Constant name a-b  is not valid."},
        {"caf\xC3\xA9s", "1", nullptr, "Constant name caf\xC3\xA9s  is not valid."},
        {"   ", "1", nullptr, "Constant name   is not valid."},
        {nullptr, "1", nullptr, "Constant name   is not valid."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "<null>");
        g_constantsBoxes.clear();
        int32_t before = Code_Constant_Count();
        bool ok = Code_Constant_Define(c.name, c.valueText);
        EXPECT_EQ(ok, c.defined != nullptr);
        if (c.defined) {
            ASSERT_EQ(Code_Constant_Count(), before + 1);
            EXPECT_STREQ(Code_Constant_Name(before), c.defined);
            const RValue* v = Code_Constant_Value(before);
            EXPECT_EQ(RValue_Kind(v), VALUE_REAL);
            EXPECT_EQ(v->real, 0);  // whatever the value text says
            EXPECT_TRUE(g_constantsBoxes.empty());
        } else {
            EXPECT_EQ(Code_Constant_Count(), before);
            EXPECT_EQ(g_constantsBoxes, std::vector<std::string>{c.box});
        }
    }
}

TEST_F(ConstantsTest, IdentifierRule)
{
    struct Case {
        const char* text;
        bool ok;
    } cases[] = {
        {nullptr, false}, {"", false}, {"a", true}, {"_", true}, {"Z9_z", true}, {"9a", false},
        {"a.b", false}, {"a$", false}, {" a", false}, {"\xC3\xA9", false}, {"a\xC3\xA9", false},
    };
    for (const Case& c : cases) EXPECT_EQ(Code_Constant_IsIdentifier(c.text), c.ok) << (c.text ? c.text : "<null>");
}

TEST_F(ConstantsTest, SetTextReplacesAndTrims)
{
    char* text = nullptr;
    Code_Constant_SetText(&text, "  abc \x01");
    EXPECT_STREQ(text, "abc");
    Code_Constant_SetText(&text, " \t ");  // nothing left: an empty copy, not null
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    Code_Constant_SetText(&text, "a  b");
    EXPECT_STREQ(text, "a  b");
    Code_Constant_SetText(&text, nullptr);  // frees the old copy
    EXPECT_EQ(text, nullptr);
}

TEST_F(ConstantsTest, DefineListStopsAtTheFirstBadName)
{
    char a[] = "first", b[] = "2nd", c[] = "third";
    char one[] = "1";
    char* names[] = {a, b, c};
    char* values[] = {one, one, one};
    EXPECT_FALSE(Code_Constant_DefineList(3, names, values));
    EXPECT_EQ(Code_Constant_Count(), 1);
    EXPECT_STREQ(Code_Constant_Name(0), "first");
    EXPECT_EQ(Code_Constant_Find("third"), nullptr);
    EXPECT_EQ(g_constantsBoxes, std::vector<std::string>{"Constant name 2nd  is not valid."});

    EXPECT_TRUE(Code_Constant_DefineList(0, nullptr, nullptr));
    // No options reader yet: preparing defines nothing and succeeds.
    EXPECT_TRUE(Code_Constant_Prepare());
    EXPECT_EQ(Code_Constant_Count(), 1);
}

// Fake finders: each records that it was asked; finder K knows "thing" at index 10 + K when told to.
constexpr int kConstantsFinderCount = 11;
const char* const kConstantsFinderNames[kConstantsFinderCount] = {
    "sprite", "sound", "object", "audio", "background", "path", "font", "timeline", "script", "room", "shader",
};
std::vector<std::string> g_constantsFakeCalls;
bool g_constantsFakeKnows[kConstantsFinderCount];

template <int K>
int32_t ConstantsFakeFinder(const char* name)
{
    g_constantsFakeCalls.emplace_back(kConstantsFinderNames[K]);
    return (g_constantsFakeKnows[K] && std::strcmp(name, "thing") == 0) ? 10 + K : -1;
}

AssetFinders ConstantsFakeFinders()
{
    return {ConstantsFakeFinder<0>, ConstantsFakeFinder<1>, ConstantsFakeFinder<2>, ConstantsFakeFinder<3>,
            ConstantsFakeFinder<4>, ConstantsFakeFinder<5>, ConstantsFakeFinder<6>, ConstantsFakeFinder<7>,
            ConstantsFakeFinder<8>, ConstantsFakeFinder<9>, ConstantsFakeFinder<10>};
}

TEST_F(ConstantsTest, AssetFindAsksTheTablesInOrderAndTheFirstHitWins)
{
    AssetFinders fakes = ConstantsFakeFinders();
    Code_Constant_SetAssetFinders(&fakes);
    Code_Constant_AddReal("thing", 77);  // found only when no table knows the name

    for (int k = 0; k < kConstantsFinderCount; ++k) {
        SCOPED_TRACE(kConstantsFinderNames[k]);
        std::fill(std::begin(g_constantsFakeKnows), std::end(g_constantsFakeKnows), false);
        g_constantsFakeKnows[k] = true;
        g_constantsFakeCalls.clear();
        RValue out;
        RValue_SetUndefined(&out);
        EXPECT_TRUE(Code_Constant_AssetFind("thing", &out));
        EXPECT_EQ(RValue_Kind(&out), VALUE_REAL);
        EXPECT_EQ(out.real, 10 + k);
        std::vector<std::string> expected(kConstantsFinderNames, kConstantsFinderNames + k + 1);
        EXPECT_EQ(g_constantsFakeCalls, expected);
    }

    // A sprite and an object of one name: the sprite.
    std::fill(std::begin(g_constantsFakeKnows), std::end(g_constantsFakeKnows), false);
    g_constantsFakeKnows[0] = g_constantsFakeKnows[2] = true;
    RValue out;
    RValue_SetUndefined(&out);
    EXPECT_TRUE(Code_Constant_AssetFind("thing", &out));
    EXPECT_EQ(out.real, 10);

    // No table: the constant, after every table was asked.
    std::fill(std::begin(g_constantsFakeKnows), std::end(g_constantsFakeKnows), false);
    g_constantsFakeCalls.clear();
    EXPECT_TRUE(Code_Constant_AssetFind("thing", &out));
    EXPECT_EQ(out.real, 77);
    EXPECT_EQ(g_constantsFakeCalls.size(), static_cast<size_t>(kConstantsFinderCount));

    // Nothing at all: false and -1.
    EXPECT_FALSE(Code_Constant_AssetFind("other_thing", &out));
    EXPECT_EQ(RValue_Kind(&out), VALUE_REAL);
    EXPECT_EQ(out.real, -1);
    EXPECT_FALSE(Code_Constant_AssetFind(nullptr, &out));
    EXPECT_EQ(out.real, -1);
}

TEST_F(ConstantsTest, AssetFindReleasesTheOldResultAndCopiesAConstantOfAnyKind)
{
    RValue text;
    RValue_SetUndefined(&text);
    RValue_SetString(&text, "hello");
    Code_Constant_Add("greeting", &text);
    EXPECT_EQ(text.str->refCount, 2);  // the table shares the text

    RValue out;
    RValue_SetUndefined(&out);
    RValue_SetString(&out, "old result");  // released by the lookup; the fixture sees a leak otherwise
    ASSERT_TRUE(Code_Constant_AssetFind("greeting", &out));
    ASSERT_EQ(RValue_Kind(&out), VALUE_STRING);
    EXPECT_STREQ(out.str->text, "hello");
    EXPECT_EQ(text.str->refCount, 3);
    RValue_Free(&out);
    RValue_Free(&text);
}

TEST_F(ConstantsTest, AddingTheValueOfAnEntryCopiesItBeforeTheTableGrows)
{
    RValue text;
    RValue_SetUndefined(&text);
    RValue_SetString(&text, "shared");
    Code_Constant_Add("first", &text);
    RValue_Free(&text);
    for (int i = 0; i < 40; ++i) Code_Constant_Add("again", Code_Constant_Value(0));
    ASSERT_EQ(Code_Constant_Count(), 41);
    const RValue* last = Code_Constant_Value(40);
    ASSERT_EQ(RValue_Kind(last), VALUE_STRING);
    EXPECT_STREQ(last->str->text, "shared");
    EXPECT_EQ(last->str->refCount, 41);
}

TEST_F(ConstantsTest, FreeEmptiesTheTableForTheNextGame)
{
    Code_Constant_Init();
    Code_Constant_Define("mine", "1");
    Code_Constant_Free();
    EXPECT_EQ(Code_Constant_Count(), 0);
    EXPECT_EQ(Code_Constant_Find("self"), nullptr);
    EXPECT_EQ(Code_Constant_Name(0), nullptr);
    Code_Constant_Free();  // twice is harmless
    Code_Constant_Init();  // a restart registers into an empty table
    EXPECT_EQ(Code_Constant_Count(), 507);
    EXPECT_EQ(Code_Constant_Find("mine"), nullptr);
}

TEST_F(ConstantsTest, TheTablesOwnLookupsKnowNothingYet)
{
    Code_Constant_SetAssetFinders(nullptr);
    RValue out;
    RValue_SetUndefined(&out);
    EXPECT_FALSE(Code_Constant_AssetFind("spr_player", &out));
    EXPECT_EQ(out.real, -1);
    AssetFinders fakes = ConstantsFakeFinders();
    AssetFinders before = Code_Constant_SetAssetFinders(&fakes);
    const AssetFindFunction expected[] = {Sprite_Find, Sound_Find,    Object_Find, Audio_Find,
                                          Background_Find, Path_Find, Font_Find, TimeLine_Find,
                                          Script_Find, Room_Find, Shader_Find};
    const AssetFindFunction got[] = {before.sprite, before.sound, before.object, before.audio, before.background,
                                     before.path,   before.font,  before.timeline, before.script, before.room,
                                     before.shader};
    for (int k = 0; k < kConstantsFinderCount; ++k) EXPECT_EQ(got[k], expected[k]) << kConstantsFinderNames[k];
}

}  // namespace
