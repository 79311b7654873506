// The game header: every field by bytecode version, what pass 1 and pass 2 derive from it.
#include "wad_test_util.h"

#include "world/command_line.h"
#include "world/run_state.h"
#include "world/frame_timer.h"
#include "world/instance.h"
#include "world/room.h"
#include "world/tiles.h"

#include <cmath>

namespace {

using wadtest::Expect;
using wadtest::g_boxes;
using wadtest::g_exitCalls;
using wadtest::g_exitStatus;

class WadHeader : public wadtest::LoaderTest, public testing::WithParamInterface<const char*> {};

TEST_P(WadHeader, EveryFieldByVersion)
{
    const std::string name = GetParam();
    Expect e(name);
    auto [pass1, pass2] = RunPasses(name);
    ASSERT_TRUE(pass1) << g_GameData.damage;
    ASSERT_TRUE(pass2) << g_GameData.damage;
    const GameDataInfo& g = g_GameData;
    const int version = int(e.Number("header", "bytecode_version"));
    auto overlapped = [&](const char* field) { return e.Has("overlap", field); };

    EXPECT_EQ(g.bytecodeVersion, version);
    EXPECT_EQ(g.flags, e.Number("header", "flags"));
    EXPECT_EQ(g.debugMode, (e.Number("header", "flags") & 1) == 0);
    EXPECT_STREQ(g.gameName, e.Value("header", "game_name").c_str());
    EXPECT_STREQ(g.configName, e.Value("header", "config_name").c_str());
    EXPECT_EQ(g.lastInstanceId, e.Number("header", "last_instance_id"));
    EXPECT_EQ(g.lastTileId, e.Number("header", "last_tile_id"));
    EXPECT_EQ(g_InstanceIdCounter, e.Number("header", "last_instance_id"));
    EXPECT_EQ(Room_TileIdCounter, e.Number("header", "last_tile_id"));
    // New tiles continue after the header's last one.
    EXPECT_EQ(Room_NextTileId(), int32_t(uint32_t(e.Number("header", "last_tile_id")) + 1u));
    EXPECT_EQ(g.gameId, e.Number("header", "game_id"));
    char kept[33];
    for (int i = 0; i < 16; ++i) std::snprintf(kept + 2 * i, 3, "%02x", g.kept[i]);
    EXPECT_EQ(kept, e.Value("header", "kept"));
    if (overlapped("project_name")) {
        // Up to version 7 the room order covers it: a room index, not a name.
        EXPECT_STREQ(g_ProjectName, "");
    } else {
        EXPECT_STREQ(g_ProjectName, e.Value("header", "project_name").c_str());
    }
    if (!overlapped("major")) {
        EXPECT_EQ(g.majorVersion, e.Number("header", "major"));
    }

    if (version >= 8) {
        EXPECT_EQ(g.windowWidth, e.Number("header", "width"));
        EXPECT_EQ(g.windowHeight, e.Number("header", "height"));
        EXPECT_EQ(g.windowFlags, uint32_t(e.Number("header", "window_flags")));
        EXPECT_EQ(g_WindowFlags, g.windowFlags);
    } else {
        EXPECT_EQ(g.windowWidth, 0);
        EXPECT_EQ(g.windowFlags, 0u);
    }
    EXPECT_STREQ(g.displayName, e.Value("header_derived", "display_name_shown").c_str());
    EXPECT_EQ(g.featureFlags, std::stoull(e.Value("header_derived", "feature_flags_read")));
    EXPECT_EQ(g.steamAppId, version >= 13 ? e.Number("header", "steam_app_id") : 0);
    EXPECT_EQ(g.newMode, e.Value("header_derived", "new_mode") == "1");
    EXPECT_EQ(g.newCodeFormat, e.Value("header_derived", "new_code_format") == "1");
    EXPECT_EQ(g.headerKind, e.Number("header_derived", "header_kind"));
    // The built-ins were registered once: the group labels' line closes once.
    size_t closes = 0;
    for (size_t at = debug_.text.find("Fini\n"); at != std::string::npos; at = debug_.text.find("Fini\n", at + 1))
        ++closes;
    EXPECT_EQ(closes, 1u);

    // The room order at its version's offset, handed to the room table.
    uint32_t bodyOffset = uint32_t(g.header - g.data);
    EXPECT_EQ(g.roomOrderOffset - bodyOffset, uint32_t(e.Number("header_derived", "room_order_offset")));
    ASSERT_EQ(e.Rows("room_order").size(), 1u);
    EXPECT_EQ(g.roomOrderCount, e.Rows("room_order")[0].size() - 1);
    const std::vector<std::string>& order = e.Rows("room_order")[0];
    if (order.size() > 1) {
        EXPECT_EQ(Room_First(), std::stoi(order[1]));
        EXPECT_EQ(Room_Last(), std::stoi(order.back()));
    } else {
        EXPECT_EQ(Room_First(), -1);
    }

    // The game speed after the 40 reserved bytes, set as the frame rate only from 14 with major 2.
    if (e.Value("header_derived", "sets_fps") == "1") {
        EXPECT_EQ(g.gameSpeed, std::stod(e.Value("header_derived", "game_speed")));
        EXPECT_EQ(g_GameTimer.fps, g.gameSpeed);
    } else {
        EXPECT_EQ(g.gameSpeed, 0.0);
        EXPECT_EQ(g_GameTimer.fps, 0.0);
    }
    // Pass 2 resets the camera manager only in new mode.
    EXPECT_EQ(Traced("CCameraManager::Reset"), g.newMode);
}

INSTANTIATE_TEST_SUITE_P(Versions, WadHeader,
                         testing::Values("header_gen8_v7_m1", "header_gen8_v8_m1", "header_gen8_v9_m1",
                                         "header_gen8_v10_m1", "header_gen8_v11_m1", "header_gen8_v12_m1",
                                         "header_gen8_v13_m1", "header_gen8_v14_m1", "header_gen8_v14_m2",
                                         "header_gen8_v15_m2", "header_gen7_v7_m1", "header_genl_v14_m2",
                                         "header_no_display_name", "header_plain_flags"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

using WadHeaderRules = wadtest::LoaderTest;

TEST_F(WadHeaderRules, HeaderKindIs800AfterPass1AndOnlyGen8StaysSo)
{
    for (const char* name : {"header_gen7_v7_m1", "header_genl_v14_m2", "header_gen8_v14_m2"}) {
        Expect e(name);
        uint32_t length = 0;
        uint8_t* data = Load(name, &length);
        ASSERT_TRUE(Wad_ReadHeader(data, length));
        EXPECT_EQ(g_GameData.headerKind, HEADER_KIND_GEN8) << name;
        ASSERT_TRUE(Wad_LoadChunks(data, length));
        EXPECT_EQ(g_GameData.headerKind, e.Number("header_derived", "header_kind")) << name;
        UnloadGameData();
    }
}

TEST_F(WadHeaderRules, InAWindowClearsTheFullScreenBitInBothPasses)
{
    g_RunFlags.inAWindow = true;
    uint32_t length = 0;
    uint8_t* data = Load("header_gen8_v14_m2", &length);
    ASSERT_TRUE(Wad_ReadHeader(data, length));
    EXPECT_EQ(g_GameData.windowFlags, 0x9000u);
    EXPECT_EQ(g_WindowFlags, 0x9000u);
    g_GameData.windowFlags = 0;
    ASSERT_TRUE(Wad_LoadChunks(data, length));
    EXPECT_EQ(g_GameData.windowFlags, 0x9000u);
}

TEST_F(WadHeaderRules, ExternalCallsForbiddenByFlagBit12ASteamRunOrAChildGame)
{
    struct Row {
        const char* fixture;
        bool child;
        bool steam;
        bool forbidden;
    };
    const Row rows[] = {
        {"header_gen8_v14_m2", false, false, true},  // window flags 0x9001
        {"header_plain_flags", false, false, false},
        {"header_plain_flags", true, false, true},
        {"header_plain_flags", false, true, true},
    };
    for (const Row& row : rows) {
        g_ChildGame = row.child;
        g_RunFlags.steam = row.steam;
        uint32_t length = 0;
        uint8_t* data = Load(row.fixture, &length);
        ASSERT_TRUE(Wad_ReadHeader(data, length));
        EXPECT_EQ(g_GameData.externalCallsForbidden, row.forbidden) << row.fixture << " child " << row.child;
        UnloadGameData();
    }
}

TEST_F(WadHeaderRules, ScriptObjectBitSetsUpItsObjectsInPass2)
{
    for (const char* name : {"header_gen8_v14_m2", "header_plain_flags"}) {
        SeamTrace_Clear();
        auto [pass1, pass2] = RunPasses(name);
        ASSERT_TRUE(pass1 && pass2);
        bool on = (g_GameData.windowFlags & 0x8000) != 0;
        EXPECT_EQ(g_GameData.scriptObjectModel, on);
        EXPECT_EQ(Traced("JS_Init"), on) << name;
        EXPECT_EQ(Traced("JS_CreateResourceObject"), on) << name;
        UnloadGameData();
    }
}

}  // namespace
