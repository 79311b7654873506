// Run commands behind room_goto, the room variable and game_end.
#include "core/console.h"
#include "core/error.h"
#include "layers/layers.h"
#include "platform/hooks.h"
#include "tests/support/test_support.h"
#include "world/room.h"
#include "world/room_change.h"
#include "world/run_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<int> g_runCommandExits;

class RunCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Error_ResetState();
        g_runCommandExits.clear();
        oldExit_ = Platform_SetExitHook([](int status) { g_runCommandExits.push_back(status); });
        oldDebug_ = DebugConsole;
        DebugConsole = &console_;
        ASSERT_EQ(Room_Add(), 0);
        ASSERT_EQ(Room_Add(), 1);
        RoomChangeCode = ROOM_CHANGE_NONE;
    }
    void TearDown() override
    {
        Room_FreeAll();
        RoomChangeCode = ROOM_CHANGE_NONE;
        g_TransitionKind = 0;
        DebugConsole = oldDebug_;
        Platform_SetExitHook(oldExit_);
        Error_ResetState();
    }
    ExitHook oldExit_ = nullptr;
    tagIConsole* oldDebug_ = nullptr;
    kvtest::RecordingConsole console_;
};

TEST_F(RunCommandsTest, GotoRoomAsksForAnExistingRoomWithTransitionKindZero)
{
    g_TransitionKind = 5;
    Command_GotoRoom(1, 3);
    EXPECT_EQ(RoomChangeCode, 1);
    EXPECT_EQ(g_TransitionKind, 0);
    EXPECT_TRUE(g_runCommandExits.empty());
    EXPECT_STREQ(Error_LastText(), "");
}

TEST_F(RunCommandsTest, GotoAMissingRoomIsFatalAndEndsTheGame)
{
    struct Row {
        int32_t room;
        const char* text;
    };
    const Row rows[] = {{2, "Unexisting room number: 2"}, {-1, "Unexisting room number: -1"},
                        {INT32_MIN, "Unexisting room number: -2147483648"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.room);
        Error_ResetState();
        g_runCommandExits.clear();
        Command_GotoRoom(row.room, 0);
        EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_GAME_CHANGE);
        EXPECT_NE(std::string(Error_LastText()).find(row.text), std::string::npos) << Error_LastText();
        EXPECT_NE(std::string(Error_LastText()).find("FATAL"), std::string::npos) << Error_LastText();
    }
}

TEST_F(RunCommandsTest, GameEndEndsAfterTheFrame)
{
    F_GameEnd();
    EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_GAME_END);
}

}  // namespace
