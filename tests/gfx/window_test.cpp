// The main window on a fake desktop: what reaches the input layer, size requests and the reset countdown,
// cursors, creation, and the desktop's events turned into window messages.
#include "gfx/window.h"

#include "core/error.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "gfx/device.h"
#include "input/input.h"
#include "platform/display_platform.h"
#include "platform/keycodes.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/window_platform.h"
#include "fake_window_platform.h"
#include "test_support.h"
#include "world/command_line.h"
#include "world/loader.h"
#include "world/mainloop.h"
#include "world/options.h"
#include "world/room_change.h"
#include "world/run_state.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using kvtest::FakeWindowPlatform;

// ---- What reaches the input layer ---------------------------------------------------------------------

std::vector<std::string> g_inputLog;

void RecordInput(const InputCall& call)
{
    auto n = [](int32_t v) { return std::to_string(v); };
    switch (call.kind) {
    case IO_CALL_KEY_DOWN: g_inputLog.push_back("down " + n(call.a) + (call.b ? " repeat" : "")); break;
    case IO_CALL_KEY_UP: g_inputLog.push_back("up " + n(call.a)); break;
    case IO_CALL_CHAR: g_inputLog.push_back("char " + n(call.a)); break;
    case IO_CALL_MOUSE_DOWN: g_inputLog.push_back("mdown " + n(call.a) + " " + n(call.b) + " " + n(call.c)); break;
    case IO_CALL_MOUSE_UP: g_inputLog.push_back("mup " + n(call.a) + " " + n(call.b) + " " + n(call.c)); break;
    case IO_CALL_WHEEL_UP: g_inputLog.push_back("wheel up"); break;
    case IO_CALL_WHEEL_DOWN: g_inputLog.push_back("wheel down"); break;
    }
}

// ---- Desktop events, as SDL gives them -----------------------------------------------------------------

SDL_Event Key(bool down, SDL_Scancode scancode, SDL_Keycode sym, uint16_t mod = 0, bool repeat = false)
{
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.scancode = scancode;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod | KMOD_NUM;
    return e;
}

SDL_Event Text(const char* utf8)
{
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    SDL_strlcpy(e.text.text, utf8, sizeof e.text.text);
    return e;
}

SDL_Event Button(bool down, uint8_t button, int32_t x, int32_t y)
{
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = button;
    e.button.x = x, e.button.y = y;
    return e;
}

SDL_Event Motion(int32_t x, int32_t y)
{
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.x = x, e.motion.y = y;
    return e;
}

SDL_Event Wheel(int32_t y, uint32_t direction = SDL_MOUSEWHEEL_NORMAL, int32_t x = 0)
{
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.x = x, e.wheel.y = y;
    e.wheel.direction = direction;
    return e;
}

SDL_Event WindowEvent(uint8_t event, int32_t data1 = 0, int32_t data2 = 0)
{
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = event;
    e.window.data1 = data1, e.window.data2 = data2;
    return e;
}

SDL_Event OfType(uint32_t type)
{
    SDL_Event e{};
    e.type = type;
    return e;
}

intptr_t KeyParam(int32_t scan, bool extended = false, bool previouslyDown = false)
{
    return 1 | intptr_t(scan) << 16 | (extended ? KEY_EXTENDED : 0) | (previouslyDown ? KEY_PREVIOUSLY_DOWN : 0);
}

// One step of a sequence: a desktop event (through the pump's handler) or a message straight to the
// window procedure; rightShift, when not -1, is what the desktop says of the right Shift key from then on.
struct Step {
    bool isEvent;
    SDL_Event event;
    WindowMessage message;
    int rightShift = -1;
};
Step Ev(const SDL_Event& event, int rightShift = -1) { return {true, event, {}, rightShift}; }
Step Msg(uint32_t message, uintptr_t wParam, intptr_t lParam) { return {false, {}, {message, wParam, lParam}}; }

class GfxWindow : public testing::Test {
protected:
    void SetUp() override
    {
        // Other suites of this program may have started video: what their windows left queued is not ours.
        if (Platform_VideoStarted()) SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        Window_ResetState();
        WindowPlatform_Set(&fake_);
        previousHook_ = IO_SetCallHook(RecordInput);
        g_inputLog.clear();
        savedOptions_ = g_GameOptions;
        savedFlags_ = g_RunFlags;
        savedWindowFlags_ = g_GameData.windowFlags;
        savedRoomChange_ = RoomChangeCode;
        savedRunning_ = g_Running;
        g_GameOptions.showCursor = true;
        g_GameOptions.altEnterFullScreen = true;
        g_RunFlags.noDirectInput = false;
        g_GameChanging = false;
        g_GameData.windowFlags = WINDOW_FLAG_SHOW_CURSOR;
        SeamTrace_Clear();
        SeamTrace_Enable(true);
        savedDebug_ = DebugConsole;
        DebugConsole = &debug_;
    }

    void TearDown() override
    {
        Window_Destroy();
        ProcessMessages();  // takes the quit that a destroyed window posts
        SeamTrace_Enable(false);
        SeamTrace_Clear();
        IO_SetCallHook(previousHook_);
        WindowPlatform_Set(nullptr);
        g_GameOptions = savedOptions_;
        g_RunFlags = savedFlags_;
        g_GameData.windowFlags = savedWindowFlags_;
        RoomChangeCode = savedRoomChange_;
        g_Running = savedRunning_;
        g_GameChanging = false;
        Window_ResetState();
        DebugConsole = savedDebug_;
    }

    void Create()
    {
        ASSERT_TRUE(Window_Create(640, 480));
        fake_.calls.clear();
    }

    void Run(const std::vector<Step>& steps)
    {
        for (const Step& step : steps) {
            if (step.rightShift >= 0) fake_.rightShift = step.rightShift != 0;
            if (step.isEvent) Window_OnPlatformEvent(step.event);
            else Window_Proc(Window_Handle, step.message.message, step.message.wParam, step.message.lParam);
        }
    }

    static bool Traced(const char* name)
    {
        for (const std::string& call : SeamTrace_Calls())
            if (call == name) return true;
        return false;
    }

    FakeWindowPlatform fake_;
    InputCallHook previousHook_ = nullptr;
    GameOptions savedOptions_{};
    RunFlags savedFlags_{};
    uint32_t savedWindowFlags_ = 0;
    int32_t savedRoomChange_ = 0;
    bool savedRunning_ = false;
    kvtest::RecordingConsole debug_;
    tagIConsole* savedDebug_ = nullptr;
};

// ---- Keys, text, buttons and the wheel, from the desktop's events to the input layer -------------------

TEST_F(GfxWindow, EventSequencesReachTheInputLayerAsTheGameExpectsThem)
{
    struct Row {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {"Alt: generic, then left or right by the extended bit",
         {Ev(Key(true, SDL_SCANCODE_LALT, SDLK_LALT, KMOD_LALT)), Ev(Key(false, SDL_SCANCODE_LALT, SDLK_LALT)),
          Ev(Key(true, SDL_SCANCODE_RALT, SDLK_RALT, KMOD_RALT)), Ev(Key(false, SDL_SCANCODE_RALT, SDLK_RALT))},
         {"down 18", "down 164", "up 18", "up 164", "down 18", "down 165", "up 18", "up 165"}},
        {"Ctrl: generic, then left or right",
         {Ev(Key(true, SDL_SCANCODE_LCTRL, SDLK_LCTRL, KMOD_LCTRL)), Ev(Key(false, SDL_SCANCODE_LCTRL, SDLK_LCTRL)),
          Ev(Key(true, SDL_SCANCODE_RCTRL, SDLK_RCTRL, KMOD_RCTRL)), Ev(Key(false, SDL_SCANCODE_RCTRL, SDLK_RCTRL))},
         {"down 17", "down 162", "up 17", "up 162", "down 17", "down 163", "up 17", "up 163"}},
        {"Shift: left, then right (recognised on release by its scan code)",
         {Ev(Key(true, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, KMOD_LSHIFT)), Ev(Key(false, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT)),
          Ev(Key(true, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT, KMOD_RSHIFT), 1),
          Ev(Key(false, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT), 0)},
         {"down 16", "down 160", "up 16", "up 160", "down 16", "down 161", "up 16", "up 161"}},
        // The key-down asks whether right Shift is held, not which Shift this is; the left key's scan code
        // then stands as the remembered one.
        {"left Shift while right Shift is held",
         {Ev(Key(true, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT, KMOD_RSHIFT), 1),
          Ev(Key(true, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, KMOD_SHIFT)),
          Ev(Key(false, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, KMOD_RSHIFT)),
          Ev(Key(false, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT), 0)},
         {"down 16", "down 161", "down 16", "down 161", "up 16", "up 161", "up 16", "up 160"}},
        {"a held key repeats with the flag",
         {Ev(Key(true, SDL_SCANCODE_A, SDLK_a)), Ev(Key(true, SDL_SCANCODE_A, SDLK_a, 0, true)),
          Ev(Key(false, SDL_SCANCODE_A, SDLK_a))},
         {"down 65", "down 65 repeat", "up 65"}},
        {"text: one unit below U+10000, a surrogate pair above",
         {Ev(Text("\xC3\xA9\xF0\x9F\x98\x80"))},
         {"char 233", "char 55357", "char 56832"}},
        {"Backspace, Tab, Return, Escape and keypad Enter type their control units",
         {Ev(Key(true, SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE)), Ev(Key(true, SDL_SCANCODE_TAB, SDLK_TAB)),
          Ev(Key(true, SDL_SCANCODE_RETURN, SDLK_RETURN)), Ev(Key(true, SDL_SCANCODE_ESCAPE, SDLK_ESCAPE)),
          Ev(Key(true, SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER))},
         {"down 8", "char 8", "down 9", "char 9", "down 13", "char 13", "down 27", "char 27", "down 13", "char 13"}},
        {"a key with no virtual-key code is dropped",
         {Ev(Key(true, SDL_SCANCODE_LANG1, SDLK_UNKNOWN)), Ev(Key(false, SDL_SCANCODE_LANG1, SDLK_UNKNOWN))},
         {}},
        {"buttons 1, 2, 3 with their client positions; side buttons are nothing",
         {Ev(Button(true, SDL_BUTTON_LEFT, 10, 20)), Ev(Button(false, SDL_BUTTON_LEFT, 11, 21)),
          Ev(Button(true, SDL_BUTTON_RIGHT, 1, 2)), Ev(Button(false, SDL_BUTTON_RIGHT, 1, 2)),
          Ev(Button(true, SDL_BUTTON_MIDDLE, 3, 4)), Ev(Button(false, SDL_BUTTON_MIDDLE, 3, 4)),
          Ev(Button(true, SDL_BUTTON_X1, 5, 6))},
         {"mdown 1 10 20", "mup 1 11 21", "mdown 2 1 2", "mup 2 1 2", "mdown 3 3 4", "mup 3 3 4"}},
        {"the wheel: away is up, towards is down, flipped is turned back, sideways is nothing",
         {Ev(Wheel(1)), Ev(Wheel(-3)), Ev(Wheel(1, SDL_MOUSEWHEEL_FLIPPED)), Ev(Wheel(0, SDL_MOUSEWHEEL_NORMAL, 2))},
         {"wheel up", "wheel down", "wheel down"}},
        {"non-client button-ups count as releases",
         {Msg(WM_NCRBUTTONUP, 0, Window_MakeLParam(-1, -2)), Msg(WM_NCMBUTTONUP, 0, 0), Msg(WM_NCLBUTTONUP, 0, 0)},
         {"mup 2 -1 -2", "mup 3 0 0", "mup 1 0 0"}},
    };
    Create();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        g_inputLog.clear();
        fake_.rightShift = false;
        Run(row.steps);
        EXPECT_EQ(g_inputLog, row.log);
    }
}

TEST_F(GfxWindow, AltF4ClosesTheWindowUnlessAChildGameRunsThenItEndsTheGame)
{
    for (bool gameChanging : {false, true}) {
        SCOPED_TRACE(gameChanging ? "game-change flag on" : "game-change flag off");
        Create();
        g_inputLog.clear();
        g_GameChanging = gameChanging;
        RoomChangeCode = 0;
        g_Running = true;
        Run({Ev(Key(true, SDL_SCANCODE_LALT, SDLK_LALT, KMOD_LALT)), Ev(Key(true, SDL_SCANCODE_F4, SDLK_F4, KMOD_LALT))});
        ProcessMessages();
        if (gameChanging) {
            EXPECT_EQ(g_inputLog, (std::vector<std::string>{"down 18", "down 164", "down 115"}));
            EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_GAME_END);
            EXPECT_TRUE(g_Running);
            EXPECT_TRUE(fake_.Calls("hide").empty());
        } else {
            EXPECT_EQ(g_inputLog, (std::vector<std::string>{"down 18", "down 164"}));
            EXPECT_EQ(RoomChangeCode, 0);
            EXPECT_FALSE(g_Running);
            EXPECT_EQ(fake_.Calls("hide").size(), 1u);
        }
        Window_Destroy();
        ProcessMessages();
    }
}

TEST_F(GfxWindow, AltEnterSwitchesFullScreenOnlyWithTheOption)
{
    Create();
    const std::vector<Step> altEnter = {Ev(Key(true, SDL_SCANCODE_LALT, SDLK_LALT, KMOD_LALT)),
                                        Ev(Key(true, SDL_SCANCODE_RETURN, SDLK_RETURN, KMOD_LALT)),
                                        Ev(Key(false, SDL_SCANCODE_RETURN, SDLK_RETURN, KMOD_LALT))};
    GR_BackBufferWidth = 320, GR_BackBufferHeight = 240;
    Run(altEnter);
    // A menu key, not typed text.
    EXPECT_EQ(g_inputLog, (std::vector<std::string>{"down 18", "down 164", "down 13", "up 13"}));
    EXPECT_TRUE(Window_GetFullScreen());
    EXPECT_EQ(MainLoop_DeviceResetCountdown, 1);
    EXPECT_EQ(Window_SavedWidth, 320);
    EXPECT_EQ(Window_SavedHeight, 240);

    // Back to windowed: the windowed size already kept is not replaced by the full-screen one.
    GR_BackBufferWidth = 1920, GR_BackBufferHeight = 1080;
    MainLoop_DeviceResetCountdown = 0;
    Run(altEnter);
    EXPECT_FALSE(Window_GetFullScreen());
    EXPECT_EQ(MainLoop_DeviceResetCountdown, 1);
    EXPECT_EQ(Window_SavedWidth, 320);

    g_GameOptions.altEnterFullScreen = false;
    MainLoop_DeviceResetCountdown = 0;
    Run(altEnter);
    EXPECT_FALSE(Window_GetFullScreen());
    EXPECT_EQ(MainLoop_DeviceResetCountdown, 0);
    GR_BackBufferWidth = 640, GR_BackBufferHeight = 480;
}

TEST_F(GfxWindow, CaptureIsHeldWhileAnyButtonIsDownAndADragEndsWithNegativeCoordinates)
{
    Create();
    Run({Ev(Button(true, SDL_BUTTON_LEFT, 10, 20)), Ev(Button(true, SDL_BUTTON_RIGHT, 11, 21)),
         Ev(Motion(-40, -3))});
    EXPECT_EQ(Window_CaptureCount, 2);
    EXPECT_EQ(IO_RawMouse.x, -40);
    EXPECT_EQ(IO_RawMouse.y, -3);
    Run({Ev(Button(false, SDL_BUTTON_LEFT, -40, -3))});
    EXPECT_EQ(fake_.Calls("capture").size(), 1u);
    EXPECT_TRUE(fake_.Calls("release").empty());
    Run({Ev(Button(false, SDL_BUTTON_RIGHT, -32768, 32767))});
    EXPECT_EQ(fake_.Calls("release").size(), 1u);
    // An up with no down (the press began outside the window) leaves the count at 0.
    Run({Ev(Button(false, SDL_BUTTON_LEFT, 5, 5))});
    EXPECT_EQ(Window_CaptureCount, 0);
    EXPECT_EQ(g_inputLog, (std::vector<std::string>{"mdown 1 10 20", "mdown 2 11 21", "mup 1 -40 -3",
                                                    "mup 2 -32768 32767", "mup 1 5 5"}));
}

TEST_F(GfxWindow, TheWheelProcedureAnswersZeroForAMovementAndOneForNone)
{
    Create();
    struct Row {
        int16_t delta;
        intptr_t result;
        std::vector<std::string> log;
    };
    const Row rows[] = {{120, 0, {"wheel up"}}, {-240, 0, {"wheel down"}}, {0, 1, {}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.delta);
        g_inputLog.clear();
        EXPECT_EQ(Window_Proc(Window_Handle, WM_MOUSEWHEEL, uintptr_t(uint16_t(row.delta)) << 16, 0), row.result);
        EXPECT_EQ(g_inputLog, row.log);
    }
}

// ---- Sizes and the reset countdown ----------------------------------------------------------------------

TEST_F(GfxWindow, TheFirstRestoreSizeIsSkippedLaterOnesAskForAResetTenFramesOn)
{
    EXPECT_EQ(&Window_ResetCountdown, &MainLoop_DeviceResetCountdown);
    Window_Proc(nullptr, WM_SIZE, SIZE_RESTORED, Window_MakeLParam(800, 600));
    EXPECT_EQ(MainLoop_DeviceResetCountdown, 0);
    EXPECT_EQ(Window_PendingWidth, -1);
    EXPECT_FALSE(Window_UserSized);

    Window_Proc(nullptr, WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_EQ(MainLoop_DeviceResetCountdown, 0);

    Window_Proc(nullptr, WM_SIZE, SIZE_MAXIMIZED, Window_MakeLParam(1024, 700));
    EXPECT_EQ(MainLoop_DeviceResetCountdown, 10);
    EXPECT_EQ(Window_PendingWidth, 1024);
    EXPECT_EQ(Window_PendingHeight, 700);
    EXPECT_TRUE(Window_UserSized);

    // A size with a zero side leaves no pending size, but the reset still comes.
    MainLoop_DeviceResetCountdown = 3;
    Window_Proc(nullptr, WM_SIZE, SIZE_RESTORED, Window_MakeLParam(0, 600));
    EXPECT_EQ(Window_PendingWidth, -1);
    EXPECT_EQ(Window_PendingHeight, -1);
    EXPECT_EQ(MainLoop_DeviceResetCountdown, 10);

    // Ignored while full screen is requested.
    Window_FullScreen = true;
    MainLoop_DeviceResetCountdown = 1;
    Window_Proc(nullptr, WM_SIZE, SIZE_RESTORED, Window_MakeLParam(300, 200));
    EXPECT_EQ(MainLoop_DeviceResetCountdown, 1);
    EXPECT_EQ(Window_PendingWidth, -1);
}

TEST_F(GfxWindow, SetSizeStoresTheSizeAndStartsTheCountdownOnlyForAChange)
{
    struct Row {
        const char* name;
        int32_t countdown;
        bool fullScreen;
        int32_t width, height;
        int32_t pendingWidth, pendingHeight, countdownAfter;
    };
    const Row rows[] = {
        {"zero width is ignored", 0, false, 0, 300, -1, -1, 0},
        {"negative height is ignored", 0, false, 300, -1, -1, -1, 0},
        {"the current size starts no countdown", 0, false, 640, 480, 640, 480, 0},
        {"a new size resets ten frames on", 0, false, 800, 600, 800, 600, 10},
        {"a running countdown starts again", 4, false, 800, 600, 800, 600, 10},
        {"a reset due next frame is not put off", 1, false, 800, 600, 800, 600, 1},
        {"a longer countdown is kept", 25, false, 800, 600, 800, 600, 25},
        {"full screen requested: stored only", 0, true, 800, 600, 800, 600, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Window_ResetState();
        MainLoop_DeviceResetCountdown = row.countdown;
        Window_FullScreen = row.fullScreen;
        Window_SetSize(row.width, row.height);
        EXPECT_EQ(Window_PendingWidth, row.pendingWidth);
        EXPECT_EQ(Window_PendingHeight, row.pendingHeight);
        EXPECT_EQ(MainLoop_DeviceResetCountdown, row.countdownAfter);
    }
}

TEST_F(GfxWindow, EachResizeByTheUserRestartsTheCountdownSoADragResetsOnce)
{
    Create();
    auto resize = [&](int32_t width, int32_t height) {
        fake_.clientWidth = width, fake_.clientHeight = height;
        Run({Ev(WindowEvent(SDL_WINDOWEVENT_RESIZED, width, height)),
             Ev(WindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, width, height))});
    };
    resize(700, 500);
    EXPECT_EQ(MainLoop_DeviceResetCountdown, 10);
    EXPECT_EQ(Window_PendingWidth, 700);
    EXPECT_EQ(Window_PendingHeight, 500);
    EXPECT_TRUE(Window_UserSized);
    EXPECT_FALSE(Window_InSizeMove);

    // Frames pass as the drag goes on: every new size starts the ten frames again.
    for (int frame = 0; frame < 6; ++frame) --MainLoop_DeviceResetCountdown;
    resize(720, 510);
    EXPECT_EQ(MainLoop_DeviceResetCountdown, 10);
    EXPECT_EQ(Window_PendingWidth, 720);
    EXPECT_EQ(Window_PendingHeight, 510);

    // The desktop sizing a full-screen window is no drag.
    Window_FullScreen = true;
    MainLoop_DeviceResetCountdown = 1;
    resize(1920, 1080);
    EXPECT_EQ(MainLoop_DeviceResetCountdown, 1);
    EXPECT_EQ(Window_PendingWidth, 720);
}

TEST_F(GfxWindow, SizeLimitsAreStoredReturnedAndHandedToTheDesktop)
{
    Create();
    EXPECT_EQ(Window_SetMinWidth(200), 200);
    EXPECT_EQ(Window_SetMaxHeight(-5), -5);
    EXPECT_EQ(Window_SetMaxWidth(800), 800);
    EXPECT_EQ(Window_SetMinHeight(150), 150);
    EXPECT_EQ(fake_.Calls("limits").back(), "limits 200 150 800 -5");
}

TEST_F(GfxWindow, ResizesForTheDeviceHandTheirEventsOverAtOnce)
{
    Create();
    Window_SetClientSize(800, 600);
    Window_PlaceClient(10, 20, 320, 240);
    Window_ApplyFullScreen(true);
    EXPECT_EQ(fake_.calls, (std::vector<std::string>{"size 800 600", "deliver", "position 10 20", "size 320 240",
                                                     "deliver", "full screen", "deliver"}));
}

// ---- Cursors ------------------------------------------------------------------------------------------

TEST_F(GfxWindow, CursorConstantsPickTheirSlots)
{
    struct Row {
        int32_t constant;
        int32_t slot;  // -1: nothing shown
    };
    const Row rows[] = {
        {0, 0},    {-2, 0},   {-1, 1},   {-5, 1},   {-3, 2},   {-4, 3},   {-6, 4},   {-7, 5},
        {-8, 6},   {-9, 7},   {-10, 8},  {-11, 9},  {-12, 10}, {-21, 10}, {-13, 11}, {-14, 11},
        {-15, 11}, {-16, 11}, {-17, 11}, {-18, 11}, {-19, 12}, {-20, 13}, {-22, 14},
        {5, -1},   {-23, -1}, {1, -1},
    };
    Create();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.constant);
        fake_.calls.clear();
        Window_SetCursor(row.constant);
        EXPECT_EQ(Window_GetCursor(), row.constant);
        const std::vector<std::string> expected =
            row.slot < 0 ? std::vector<std::string>{} : std::vector<std::string>{"cursor " + std::to_string(row.slot)};
        EXPECT_EQ(fake_.calls, expected);
    }
}

TEST_F(GfxWindow, WithTheCursorOptionOffTheConstantIsKeptAndTheClientShowsNone)
{
    Create();
    Window_SetCursor(-4);
    g_GameOptions.showCursor = false;
    fake_.calls.clear();
    Window_SetCursor(-20);
    EXPECT_EQ(Window_GetCursor(), -20);
    EXPECT_EQ(fake_.calls, std::vector<std::string>{"cursor 1"});
    EXPECT_EQ(Window_Proc(Window_Handle, WM_SETCURSOR, 0, HTCLIENT), 1);
    // Back on, the client shows the last cursor set while it was on.
    g_GameOptions.showCursor = true;
    EXPECT_EQ(Window_Proc(Window_Handle, WM_SETCURSOR, 0, HTCLIENT), 1);
    EXPECT_EQ(fake_.calls, (std::vector<std::string>{"cursor 1", "cursor 1", "cursor 3"}));
}

// ---- Creation, caption, showing, closing ---------------------------------------------------------------

TEST_F(GfxWindow, CreationFitsTheScreenCentresTheWindowAndPicksItsStyle)
{
    struct Row {
        const char* name;
        uint32_t flags;
        int32_t width, height;
        int32_t clientWidth, clientHeight, x, y;
        uint32_t windowedStyle;
        bool resizable, borderless;
    };
    // A 1280 x 720 screen; a frame of 8 at the sides and the bottom and 31 at the top.
    const Row rows[] = {
        {"fits", 0, 640, 480, 640, 480, 320, 131, WINDOW_STYLE_FIXED, false, false},
        {"resizable", WINDOW_FLAG_RESIZABLE, 640, 480, 640, 480, 320, 131, WINDOW_STYLE_SIZEABLE, true, false},
        {"too big: the height leaves room for the frame", WINDOW_FLAG_RESIZABLE, 2000, 1000, 1280, 681, 0, 31,
         WINDOW_STYLE_SIZEABLE, true, false},
        {"borderless: no frame to leave room for", WINDOW_FLAG_BORDERLESS | WINDOW_FLAG_RESIZABLE, 2000, 1000, 1280,
         720, 0, 0, WINDOW_STYLE_POPUP, false, true},
        {"full screen starts without a frame", WINDOW_FLAG_FULL_SCREEN, 640, 480, 640, 480, 320, 120,
         WINDOW_STYLE_FIXED, false, true},
    };
    fake_.screenWidth = 1280, fake_.screenHeight = 720;
    fake_.frameLeft = fake_.frameRight = fake_.frameBottom = 8, fake_.frameTop = 31;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        g_GameData.windowFlags = row.flags;
        debug_.text.clear();
        ASSERT_TRUE(Window_Create(row.width, row.height));
        EXPECT_EQ(debug_.text, "AdjustWindowRectEx\nRegisterClassEx\nCreateWindowEx\n");
        EXPECT_EQ(Window_ClientWidth, row.clientWidth);
        EXPECT_EQ(Window_ClientHeight, row.clientHeight);
        EXPECT_EQ(Window_RequestedWidth, row.width);  // as the header says, not clamped
        EXPECT_EQ(Window_RequestedHeight, row.height);
        EXPECT_EQ(fake_.created.width, row.clientWidth);
        EXPECT_EQ(fake_.created.height, row.clientHeight);
        EXPECT_EQ(fake_.created.x, row.x);
        EXPECT_EQ(fake_.created.y, row.y);
        EXPECT_EQ(Window_WindowedStyle, row.windowedStyle);
        EXPECT_EQ(fake_.created.resizable, row.resizable);
        EXPECT_EQ(fake_.created.borderless, row.borderless);
        Window_Destroy();
        ProcessMessages();
    }
}

TEST_F(GfxWindow, CreationSetsTheCaptionTheCursorAndStartsTheGamepads)
{
    char* savedName = g_GameData.displayName;
    char name[] = "Tumblewing \xE2\x98\x85";
    g_GameData.displayName = name;
    for (bool cursorShown : {true, false}) {
        SCOPED_TRACE(cursorShown ? "cursor shown" : "cursor hidden");
        g_GameData.windowFlags = cursorShown ? WINDOW_FLAG_SHOW_CURSOR : 0;
        fake_.calls.clear();
        SeamTrace_Clear();
        ASSERT_TRUE(Window_Create(640, 480));
        EXPECT_STREQ(Window_GetCaption(), name);
        EXPECT_EQ(fake_.title, name);
        EXPECT_EQ(Window_GetCursor(), cursorShown ? 0 : -1);
        EXPECT_EQ(fake_.Calls("cursor"), std::vector<std::string>{cursorShown ? "cursor 0" : "cursor 1"});
        EXPECT_TRUE(Traced("DirectInput_Init"));
        Window_Destroy();
        ProcessMessages();
    }
    g_GameData.displayName = savedName;
}

TEST_F(GfxWindow, AFailedCreationIsLoggedAndLeavesNoWindow)
{
    kvtest::RecordingConsole release;
    tagIConsole* savedRelease = ReleaseConsole;
    ReleaseConsole = &release;
    fake_.createSucceeds = false;
    EXPECT_FALSE(Window_Create(640, 480));
    ReleaseConsole = savedRelease;
    EXPECT_EQ(release.text, "Failed to create mainwindow\n");
    EXPECT_EQ(Window_Handle, nullptr);
    debug_.text.clear();
    EXPECT_EQ(Window_GetClientWidth(), 0);
    EXPECT_EQ(debug_.text, "GetClientRect failed\n");
}

TEST_F(GfxWindow, TheCaptionIsKeptByteForByteAndTitledAsValidText)
{
    Create();
    Window_SetCaption("a\xFF" "b\xC3");
    EXPECT_STREQ(Window_GetCaption(), "a\xFF" "b\xC3");
    EXPECT_EQ(fake_.title, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    Window_SetCaption(nullptr);
    EXPECT_STREQ(Window_GetCaption(), "");
    EXPECT_EQ(fake_.title, "");
}

TEST_F(GfxWindow, TheFirstShowPumpsMessagesAndGivesTheFocusOnce)
{
    for (bool borderless : {false, true}) {
        SCOPED_TRACE(borderless ? "borderless" : "framed");
        g_GameData.windowFlags = borderless ? WINDOW_FLAG_BORDERLESS : 0;
        Create();
        EXPECT_TRUE(Window_ShowFirstTime());
        EXPECT_EQ(fake_.Calls("show").size(), borderless ? 1u : 10u);
        EXPECT_EQ(fake_.calls.back(), "focus");
        fake_.calls.clear();
        EXPECT_FALSE(Window_ShowFirstTime());
        EXPECT_TRUE(fake_.calls.empty());
        Window_Destroy();
        ProcessMessages();
        EXPECT_TRUE(Window_NotYetShown);  // a restart shows its window again
    }
}

TEST_F(GfxWindow, ClosingTheWindowEndsTheMainLoopOnceAndShutdownDestroysIt)
{
    Create();
    g_Running = true;
    Window_SharedWord = 7;
    Run({Ev(WindowEvent(SDL_WINDOWEVENT_CLOSE))});
    EXPECT_EQ(fake_.calls, std::vector<std::string>{"hide"});
    EXPECT_EQ(Window_SharedWord, 0u);
    ProcessMessages();
    EXPECT_FALSE(g_Running);

    g_Running = true;
    Window_Destroy();
    ProcessMessages();
    EXPECT_TRUE(g_Running);  // no second quit
    EXPECT_EQ(fake_.calls, (std::vector<std::string>{"hide", "destroy"}));
    EXPECT_EQ(Window_Handle, nullptr);
}

// ---- Focus, the mouse, devices ----------------------------------------------------------------------

TEST_F(GfxWindow, FocusDecidesWhetherTheMouseMayBeMovedAndLosingItPausesTheGame)
{
    Create();
    Run({Ev(WindowEvent(SDL_WINDOWEVENT_FOCUS_LOST))});
    EXPECT_EQ(Window_Active, 0);
    EXPECT_TRUE(Traced("OSPauseEvent_Register"));
    Window_SetMouse(5, 6);
    EXPECT_TRUE(fake_.Calls("warp").empty());

    SeamTrace_Clear();
    Run({Ev(WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED))});
    EXPECT_EQ(Window_Active, 1);
    EXPECT_FALSE(Traced("OSPauseEvent_Register"));
    Window_SetMouse(5, 6);
    // Without a client-to-screen mapping the window's own corner stands in.
    fake_.clientToScreenWorks = false;
    fake_.frameLeft = 4, fake_.frameTop = 30;
    Window_SetMouse(5, 6);
    EXPECT_EQ(fake_.Calls("warp"), (std::vector<std::string>{"warp 105 56", "warp 101 26"}));

    // Another window of this program taking the focus is no pause.
    SeamTrace_Clear();
    Window_Proc(Window_Handle, WM_ACTIVATE, WA_INACTIVE, 1);
    EXPECT_FALSE(Traced("OSPauseEvent_Register"));
    Window_Proc(Window_Handle, WM_KILLFOCUS, 0, 0);
    fake_.calls.clear();
    Window_Proc(Window_Handle, WM_NCACTIVATE, 1, 0);
    EXPECT_EQ(Window_Active, 1);
    EXPECT_EQ(fake_.calls, std::vector<std::string>{"focus"});
}

int g_joystickReads = 0;
bool CountingJoystick(int32_t, JoystickReading*)
{
    ++g_joystickReads;
    return false;
}

TEST_F(GfxWindow, ADeviceChangeRereadsTheJoysticksAndLooksForPads)
{
    Create();
    Joystick_SetReader(CountingJoystick);
    for (bool noDirectInput : {false, true}) {
        SCOPED_TRACE(noDirectInput ? "-nodirectinput" : "DirectInput on");
        g_RunFlags.noDirectInput = noDirectInput;
        g_joystickReads = 0;
        SeamTrace_Clear();
        Run({Ev(OfType(SDL_JOYDEVICEADDED))});
        EXPECT_EQ(g_joystickReads, 2);
        EXPECT_TRUE(Traced("XInput_DetectPads"));
        EXPECT_EQ(Traced("DirectInput_DetectPads"), !noDirectInput);
    }
    Joystick_SetReader(nullptr);
}

class FakeDisplays final : public DisplaySource {
public:
    int32_t Count() override { return 2; }
    bool Name(int32_t, char*, size_t) override { return false; }
    bool Bounds(int32_t display, int32_t* x, int32_t* y, int32_t* width, int32_t* height) override
    {
        *x = display == 0 ? 0 : 1920, *y = 0, *width = display == 0 ? 1920 : 1280, *height = display == 0 ? 1080 : 1024;
        return true;
    }
    bool CurrentMode(int32_t, PlatformDisplayMode*) override { return false; }
    int32_t ModeCount(int32_t) override { return 0; }
    bool Mode(int32_t, int32_t, PlatformDisplayMode*) override { return false; }
    bool GetCursor(int32_t*, int32_t*) override { return false; }
    void SetCursor(int32_t, int32_t) override {}
};

TEST_F(GfxWindow, VisibleRectsGiveEachDisplaysShareOfTheRectangle)
{
    FakeDisplays displays;
    PlatformDisplay_Set(&displays);
    struct Row {
        const char* name;
        double x1, y1, x2, y2;
        std::vector<double> values;
    };
    const Row rows[] = {
        {"wholly on the second", 2000, 100, 2400, 500,
         {0, 0, 0, 0, 0, 0, 1920, 1080, 2000, 100, 2400, 500, 1920, 0, 3200, 1024}},
        {"across both, beyond the bottom", 1800, 1000, 2000, 1100,
         {1800, 1000, 1920, 1080, 0, 0, 1920, 1080, 1920, 1000, 2000, 1024, 1920, 0, 3200, 1024}},
        {"touching an edge is not on it", 1920, 0, 1930, 10,
         {0, 0, 0, 0, 0, 0, 1920, 1080, 1920, 0, 1930, 10, 1920, 0, 3200, 1024}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        double* records = nullptr;
        ASSERT_EQ(Window_GetVisibleRects(row.x1, row.y1, row.x2, row.y2, &records), 2);
        EXPECT_EQ(std::vector<double>(records, records + 16), row.values);
        MemFree(records);
    }
    PlatformDisplay_Set(nullptr);
}

// ---- Desktop events as window messages (no window needed) ----------------------------------------------

std::vector<std::string> Messages(const SDL_Event& event)
{
    WindowMessage out[WINDOW_MESSAGES_PER_EVENT];
    const int count = WindowMessages_FromEvent(event, 0, out);
    std::vector<std::string> text;
    char line[96];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "%04X %llX %llX", unsigned(out[i].message),
                      static_cast<unsigned long long>(out[i].wParam),
                      static_cast<unsigned long long>(out[i].lParam));
        text.push_back(line);
    }
    return text;
}

std::string M(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    char line[96];
    std::snprintf(line, sizeof line, "%04X %llX %llX", unsigned(message), static_cast<unsigned long long>(wParam),
                  static_cast<unsigned long long>(lParam));
    return line;
}

TEST(GfxWindowMessages, DesktopEventsBecomeTheWindowMessagesOfTheirKind)
{
    const intptr_t keyUp = KEY_PREVIOUSLY_DOWN | intptr_t(1) << 31;
    const intptr_t altContext = intptr_t(1) << 29;
    struct Row {
        const char* name;
        SDL_Event event;
        std::vector<std::string> messages;
    };
    const Row rows[] = {
        {"a letter", Key(true, SDL_SCANCODE_A, SDLK_a), {M(WM_KEYDOWN, 'A', KeyParam(0x1E))}},
        {"a repeat", Key(true, SDL_SCANCODE_A, SDLK_a, 0, true), {M(WM_KEYDOWN, 'A', KeyParam(0x1E, false, true))}},
        {"a release", Key(false, SDL_SCANCODE_A, SDLK_a), {M(WM_KEYUP, 'A', KeyParam(0x1E) | keyUp)}},
        {"the layout's letter at another place", Key(true, SDL_SCANCODE_Q, SDLK_a),
         {M(WM_KEYDOWN, 'A', KeyParam(0x10))}},
        {"right Ctrl is extended", Key(true, SDL_SCANCODE_RCTRL, SDLK_RCTRL, KMOD_RCTRL),
         {M(WM_KEYDOWN, VK_CONTROL, KeyParam(0x1D, true))}},
        {"right Shift has its own scan code", Key(true, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT, KMOD_RSHIFT),
         {M(WM_KEYDOWN, VK_SHIFT, KeyParam(0x36))}},
        {"Alt makes the system variant", Key(true, SDL_SCANCODE_LALT, SDLK_LALT, KMOD_LALT),
         {M(WM_SYSKEYDOWN, VK_MENU, KeyParam(0x38) | altContext)}},
        {"Ctrl+Alt does not", Key(true, SDL_SCANCODE_E, SDLK_e, KMOD_LALT | KMOD_LCTRL),
         {M(WM_KEYDOWN, 'E', KeyParam(0x12))}},
        {"an arrow is extended", Key(true, SDL_SCANCODE_LEFT, SDLK_LEFT), {M(WM_KEYDOWN, 0x25, KeyParam(0x4B, true))}},
        {"F24", Key(true, SDL_SCANCODE_F24, SDLK_F24), {M(WM_KEYDOWN, 0x87, KeyParam(0x76))}},
        {"a keypad digit", Key(true, SDL_SCANCODE_KP_7, SDLK_KP_7), {M(WM_KEYDOWN, 0x67, KeyParam(0x47))}},
        {"keypad divide is extended", Key(true, SDL_SCANCODE_KP_DIVIDE, SDLK_KP_DIVIDE),
         {M(WM_KEYDOWN, 0x6F, KeyParam(0x35, true))}},
        {"an OEM key", Key(true, SDL_SCANCODE_SEMICOLON, SDLK_SEMICOLON), {M(WM_KEYDOWN, 0xBA, KeyParam(0x27))}},
        {"Return types 13", Key(true, SDL_SCANCODE_RETURN, SDLK_RETURN),
         {M(WM_KEYDOWN, VK_RETURN, KeyParam(0x1C)), M(WM_CHAR, 13, KeyParam(0x1C))}},
        {"Alt+Return is a system character", Key(true, SDL_SCANCODE_RETURN, SDLK_RETURN, KMOD_RALT),
         {M(WM_SYSKEYDOWN, VK_RETURN, KeyParam(0x1C) | altContext), M(WM_SYSCHAR, 13, KeyParam(0x1C) | altContext)}},
        {"Escape released types nothing", Key(false, SDL_SCANCODE_ESCAPE, SDLK_ESCAPE),
         {M(WM_KEYUP, VK_ESCAPE, KeyParam(0x01) | keyUp)}},
        {"no virtual-key code", Key(true, SDL_SCANCODE_LANG1, SDLK_UNKNOWN), {}},
        {"text", Text("A\xE2\x82\xAC"), {M(WM_CHAR, 'A', 1), M(WM_CHAR, 0x20AC, 1)}},
        {"above U+FFFF", Text("\xF0\x90\x80\x81"), {M(WM_CHAR, 0xD800, 1), M(WM_CHAR, 0xDC01, 1)}},
        {"broken text", Text("\xFFx\xE2\x82"), {M(WM_CHAR, 0xFFFD, 1), M(WM_CHAR, 'x', 1), M(WM_CHAR, 0xFFFD, 1),
                                                M(WM_CHAR, 0xFFFD, 1)}},
        {"motion", Motion(-3, 70), {M(WM_MOUSEMOVE, 0, Window_MakeLParam(-3, 70))}},
        {"left button", Button(true, SDL_BUTTON_LEFT, -5, 7), {M(WM_LBUTTONDOWN, 0, Window_MakeLParam(-5, 7))}},
        {"middle release", Button(false, SDL_BUTTON_MIDDLE, 1, 2), {M(WM_MBUTTONUP, 0, Window_MakeLParam(1, 2))}},
        {"side button", Button(true, SDL_BUTTON_X2, 1, 2), {}},
        {"wheel away", Wheel(1), {M(WM_MOUSEWHEEL, uintptr_t(120) << 16, 0)}},
        {"wheel towards, two notches", Wheel(-2), {M(WM_MOUSEWHEEL, uintptr_t(uint16_t(-240)) << 16, 0)}},
        {"wheel flipped", Wheel(1, SDL_MOUSEWHEEL_FLIPPED), {M(WM_MOUSEWHEEL, uintptr_t(uint16_t(-120)) << 16, 0)}},
        {"a spun wheel stops at the largest delta", Wheel(1000), {M(WM_MOUSEWHEEL, uintptr_t(0x7FFF) << 16, 0)}},
        {"sideways", Wheel(0, SDL_MOUSEWHEEL_NORMAL, 1), {}},
        {"resized by the user", WindowEvent(SDL_WINDOWEVENT_RESIZED, 700, 500),
         {M(WM_SIZING, 0, 0), M(WM_EXITSIZEMOVE, 0, 0)}},
        {"size changed", WindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 700, 500),
         {M(WM_SIZE, SIZE_RESTORED, Window_MakeLParam(700, 500))}},
        {"focus gained", WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED),
         {M(WM_ACTIVATEAPP, 1, 0), M(WM_ACTIVATE, WA_ACTIVE, 0), M(WM_SETFOCUS, 0, 0)}},
        {"focus lost", WindowEvent(SDL_WINDOWEVENT_FOCUS_LOST),
         {M(WM_ACTIVATE, WA_INACTIVE, 0), M(WM_ACTIVATEAPP, 0, 0), M(WM_KILLFOCUS, 0, 0)}},
        {"close", WindowEvent(SDL_WINDOWEVENT_CLOSE), {M(WM_CLOSE, 0, 0)}},
        {"moved", WindowEvent(SDL_WINDOWEVENT_MOVED, 3, 4), {}},
        {"a joystick removed", OfType(SDL_JOYDEVICEREMOVED), {M(WM_DEVICECHANGE, 7, 0)}},
        {"quit is the pump's", OfType(SDL_QUIT), {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Messages(row.event), row.messages);
    }
}

TEST(GfxWindowMessages, OnlyTheGameWindowsEventsCount)
{
    WindowMessage out[WINDOW_MESSAGES_PER_EVENT];
    SDL_Event close = WindowEvent(SDL_WINDOWEVENT_CLOSE);
    close.window.windowID = 3;
    EXPECT_EQ(WindowMessages_FromEvent(close, 3, out), 1);
    EXPECT_EQ(WindowMessages_FromEvent(close, 4, out), 0);
    SDL_Event key = Key(true, SDL_SCANCODE_A, SDLK_a);
    key.key.windowID = 4;
    EXPECT_EQ(WindowMessages_FromEvent(key, 3, out), 0);
    // Device changes belong to no window.
    EXPECT_EQ(WindowMessages_FromEvent(OfType(SDL_JOYDEVICEADDED), 3, out), 1);
}

TEST(GfxWindowMessages, TheKeypadWithoutNumLockIsTheNavigationKeys)
{
    struct Row {
        SDL_Scancode key;
        int32_t code;
    };
    const Row rows[] = {{SDL_SCANCODE_KP_7, 0x24}, {SDL_SCANCODE_KP_5, 0x0C}, {SDL_SCANCODE_KP_PERIOD, 0x2E},
                        {SDL_SCANCODE_KP_0, 0x2D}, {SDL_SCANCODE_KP_PLUS, 0x6B}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        const VirtualKey off = Keycodes_FromSdl(row.key, SDLK_UNKNOWN, 0);
        EXPECT_EQ(off.code, row.code);
        EXPECT_FALSE(off.extended);  // unlike the separate navigation keys
    }
    EXPECT_EQ(Keycodes_FromSdl(SDL_SCANCODE_HOME, SDLK_HOME, 0).code, 0x24);
    EXPECT_TRUE(Keycodes_FromSdl(SDL_SCANCODE_HOME, SDLK_HOME, 0).extended);
    EXPECT_EQ(Keycodes_FromSdl(SDL_SCANCODE_RSHIFT, SDLK_RSHIFT, 0).sidedCode, VK_RSHIFT);
}

}  // namespace
