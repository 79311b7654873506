// The keyboard, mouse and joystick built-ins called as handlers: over the game-side block, through a real
// (off-screen) window and its message pump, and over SDL's virtual joysticks.
#include "../world/world_harness.h"

#include "core/functions.h"
#include "core/value.h"
#include "gfx/window.h"
#include "input/builtins_input.h"
#include "input/input.h"
#include "platform/joystick.h"
#include "platform/keyboard_platform.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/window_platform.h"
#include "services/services.h"
#include "world/loader.h"
#include "world/run_state.h"
#include "world/stages.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace builtins_input_test {
namespace {

// The handler registered under name, registering the family first when the table lacks it.
TRoutine Handler(const char* name)
{
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t i = 0; i < Function_Count(); ++i)
            if (std::strcmp(Function_Entry(i)->name, name) == 0) return Function_Entry(i)->handler;
        InitInteractionFunctions();
        InitServiceFunctions();
    }
    return nullptr;
}

// Calls the built-in with integer arguments; the result as a real (NaN when it is not one).
double Call(const char* name, std::vector<double> arguments = {})
{
    TRoutine handler = Handler(name);
    if (!handler) {
        ADD_FAILURE() << name << " is not registered";
        return -9999;
    }
    std::vector<RValue> args(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i) RValue_SetReal(&args[i], arguments[i]);
    RValue result;
    RValue_SetReal(&result, -7777);
    handler(&result, nullptr, nullptr, int32_t(args.size()), args.data());
    const double value = RValue_Kind(&result) == VALUE_REAL ? result.real : std::nan("");
    RValue_Free(&result);
    return value;
}

std::string CallText(const char* name, double argument)
{
    RValue arg, result;
    RValue_SetReal(&arg, argument);
    RValue_SetReal(&result, 0);
    Handler(name)(&result, nullptr, nullptr, 1, &arg);
    std::string text = RValue_Kind(&result) == VALUE_STRING && result.str && result.str->text ? result.str->text : "?";
    RValue_Free(&result);
    return text;
}

// ---- mouse buttons over the game-side block -----------------------------------------------------------

TEST(InputBuiltins, MouseButtonTestOnDevicesZeroAndNine)
{
    struct Case {
        const char* name;
        std::vector<int32_t> held;  // buttons 1..3 whose byte is set
        int32_t button;
        bool expected;
    } cases[] = {
        {"mb_any with none", {}, -1, false},   {"mb_any with right", {2}, -1, true},
        {"mb_none with none", {}, 0, true},    {"mb_none with middle", {3}, 0, false},
        {"left held", {1}, 1, true},           {"left not held", {2, 3}, 1, false},
        {"right held", {2}, 2, true},          {"middle held", {1, 3}, 3, true},
        {"button 4 never", {1, 2, 3}, 4, false}, {"-2 never", {1, 2, 3}, -2, false},
    };
    struct Family {
        const char* device0;   // mouse_check_button*
        const char* anyDevice; // device_mouse_check_button*
        uint8_t (*bytes)[3];
    } families[] = {
        {"mouse_check_button", "device_mouse_check_button", g_InputState.buttonDown},
        {"mouse_check_button_pressed", "device_mouse_check_button_pressed", g_InputState.buttonPressed},
        {"mouse_check_button_released", "device_mouse_check_button_released", g_InputState.buttonReleased},
    };
    for (const Family& f : families) {
        for (int32_t device : {0, 9}) {
            for (const Case& c : cases) {
                SCOPED_TRACE(std::string(f.anyDevice) + " device " + std::to_string(device) + ": " + c.name);
                IO_Clear();
                std::memset(g_InputState.buttonDown, 0, sizeof g_InputState.buttonDown);
                std::memset(g_InputState.buttonPressed, 0, sizeof g_InputState.buttonPressed);
                std::memset(g_InputState.buttonReleased, 0, sizeof g_InputState.buttonReleased);
                for (int32_t b : c.held) f.bytes[device][b - 1] = 1;
                EXPECT_EQ(Call(f.anyDevice, {double(device), double(c.button)}), c.expected ? 1.0 : 0.0);
                // The other device sees nothing of it: none held there.
                EXPECT_EQ(Call(f.anyDevice, {double(9 - device), double(c.button)}), c.button == 0 ? 1.0 : 0.0);
                // mouse_check_button* is device 0's.
                EXPECT_EQ(Call(f.device0, {double(c.button)}), device == 0 ? (c.expected ? 1.0 : 0.0)
                                                                           : (c.button == 0 ? 1.0 : 0.0));
            }
        }
    }
    std::memset(g_InputState.buttonDown, 0, sizeof g_InputState.buttonDown);
    std::memset(g_InputState.buttonPressed, 0, sizeof g_InputState.buttonPressed);
    std::memset(g_InputState.buttonReleased, 0, sizeof g_InputState.buttonReleased);
}

TEST(InputBuiltins, DeviceMouseNamesAndTheirPrefixedNamesShareOneHandler)
{
    Function_Free();
    InitServiceFunctions();
    const char* pairs[][2] = {
        {"device_mouse_check_button", "Tarko_MouseCheckButton"},
        {"device_mouse_check_button_pressed", "Tarko_MouseCheckButtonPressed"},
        {"device_mouse_check_button_released", "Tarko_MouseCheckButtonReleased"},
        {"device_mouse_x", "Tarko_MouseX"},
        {"device_mouse_y", "Tarko_MouseY"},
    };
    std::vector<TRoutine> seen;
    for (const auto& pair : pairs) {
        SCOPED_TRACE(pair[0]);
        TRoutine a = nullptr, b = nullptr;
        int32_t countA = 0, countB = 0;
        for (int32_t i = 0; i < Function_Count(); ++i) {
            const BuiltinFunction* f = Function_Entry(i);
            if (std::strcmp(f->name, pair[0]) == 0) a = f->handler, countA = f->argumentCount;
            if (std::strcmp(f->name, pair[1]) == 0) b = f->handler, countB = f->argumentCount;
        }
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a, b);
        EXPECT_EQ(countA, countB);
        for (TRoutine other : seen) EXPECT_NE(a, other);
        seen.push_back(a);
    }
    // The position built-ins are the window's mapping of that device.
    for (int32_t device : {0, 3, 9}) {
        EXPECT_EQ(Call("device_mouse_x", {double(device)}), Window_GetDeviceMouseX(device));
        EXPECT_EQ(Call("Tarko_MouseY", {double(device)}), Window_GetDeviceMouseY(device));
    }
}

TEST(InputBuiltins, JoystickNamesOnlyForGamesBeforeMajorVersionTwo)
{
    const int32_t saved = g_GameData.majorVersion;
    for (int32_t major : {1, 2}) {
        SCOPED_TRACE(major);
        Function_Free();
        g_GameData.majorVersion = major;
        InitInteractionFunctions();
        bool joystick = false, keyboard = false;
        for (int32_t i = 0; i < Function_Count(); ++i) {
            joystick = joystick || std::strcmp(Function_Entry(i)->name, "joystick_pov") == 0;
            keyboard = keyboard || std::strcmp(Function_Entry(i)->name, "keyboard_wait") == 0;
        }
        EXPECT_EQ(joystick, major < 2);
        EXPECT_TRUE(keyboard);
    }
    g_GameData.majorVersion = saved;
    Function_Free();
}

// ---- through a real window and its pump -----------------------------------------------------------------

std::vector<std::string> g_calls;
void RecordCall(const InputCall& call)
{
    if (call.kind == IO_CALL_KEY_DOWN) g_calls.push_back("down " + std::to_string(call.a));
    if (call.kind == IO_CALL_KEY_UP) g_calls.push_back("up " + std::to_string(call.a));
}

class InputWindow : public testing::Test {
protected:
    void SetUp() override
    {
        if (Platform_VideoStarted()) SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        ASSERT_TRUE(Platform_StartVideo()) << SDL_GetError();
        // The GL library stays loaded for the whole run: unloaded with each window, what it keeps would be
        // reported as leaks of an unknown module.
        static const bool glLoaded = SDL_GL_LoadLibrary(nullptr) == 0;
        ASSERT_TRUE(glLoaded) << SDL_GetError();
        Window_ResetState();
        WindowPlatform_Set(nullptr);
        savedFlags_ = g_GameData.windowFlags;
        g_GameData.windowFlags = WINDOW_FLAG_SHOW_CURSOR;
        ASSERT_TRUE(Window_Create(320, 240)) << SDL_GetError();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        IO_Clear();
        IO_Update();  // the first latch only brings the two sides together
        g_Running = true;
        previousHook_ = IO_SetCallHook(RecordCall);
        g_calls.clear();
    }
    void TearDown() override
    {
        IO_SetCallHook(previousHook_);
        Window_Destroy();
        ProcessMessages();
        Window_ResetState();
        g_GameData.windowFlags = savedFlags_;
        IO_Clear();
        g_Running = false;
    }
    // What the window procedure passed on since the last look, then one step.
    void PumpAndStep()
    {
        ProcessMessages();
        IO_Update();
    }

    uint32_t savedFlags_ = 0;
    InputCallHook previousHook_ = nullptr;
};

TEST_F(InputWindow, KeyPressAndReleaseTravelThroughTheWindow)
{
    Call("keyboard_key_press", {65});
    PumpAndStep();
    EXPECT_TRUE(IO_KeyPressed(65));
    EXPECT_TRUE(IO_KeyDown(65));
    EXPECT_EQ(IO_GetCurrentKey(), 65);
    Call("keyboard_key_release", {65});
    PumpAndStep();
    EXPECT_FALSE(IO_KeyDown(65));
    EXPECT_TRUE(IO_KeyReleased(65));
    // Sided and generic codes: left Shift arrives as both, as a real one does.
    Call("keyboard_key_press", {160});
    PumpAndStep();
    EXPECT_TRUE(IO_KeyDown(16));
    EXPECT_TRUE(IO_KeyDown(160));
    Call("keyboard_key_release", {160});
    // A code no key has sends nothing.
    Call("keyboard_key_press", {0xE8});
    Call("keyboard_key_press", {300});
    PumpAndStep();
    EXPECT_EQ(g_calls, (std::vector<std::string>{"down 65", "up 65", "down 16", "down 160", "up 16", "up 160"}));
}

TEST_F(InputWindow, SetNumlockFlipsGetNumlockAndSendsTheKey)
{
    const SDL_Keymod saved = SDL_GetModState();
    const double start = Call("keyboard_get_numlock");
    ASSERT_TRUE(start == 0 || start == 1);
    Call("keyboard_set_numlock", {1 - start});
    EXPECT_EQ(Call("keyboard_get_numlock"), 1 - start);
    PumpAndStep();
    EXPECT_EQ(g_calls, (std::vector<std::string>{"down 144", "up 144"}));
    // Asking for the state it has already changes nothing.
    g_calls.clear();
    Call("keyboard_set_numlock", {1 - start});
    PumpAndStep();
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(Call("keyboard_get_numlock"), 1 - start);
    Call("keyboard_set_numlock", {start});
    EXPECT_EQ(Call("keyboard_get_numlock"), start);
    SDL_SetModState(saved);
}

TEST_F(InputWindow, CheckDirectReadsTheLiveKeyState)
{
    // Nothing is held on an off-screen display.
    for (int32_t key : {1, 16, 65, 160, 255, 0, -1, 256}) EXPECT_EQ(Call("keyboard_check_direct", {double(key)}), 0);
    // Every code the key table gives maps back to a key that gives it (the keypad's digits with NumLock on).
    const SDL_Keymod saved = SDL_GetModState();
    SDL_SetModState(SDL_Keymod(saved | KMOD_NUM));
    for (int32_t key : {8, 13, 16, 17, 18, 27, 32, 37, 65, 90, 96, 105, 112, 144, 160, 161, 162, 163, 164, 165, 186}) {
        SCOPED_TRACE(key);
        EXPECT_NE(Platform_ScancodeOfKey(key), 0);
    }
    EXPECT_EQ(Platform_ScancodeOfKey(0), 0);
    EXPECT_EQ(Platform_ScancodeOfKey(256), 0);
    SDL_SetModState(saved);
}

Uint32 PushKeyLater(Uint32, void* param)
{
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.repeat = param != nullptr;
    event.key.keysym.scancode = SDL_SCANCODE_B;
    event.key.keysym.sym = SDLK_b;
    SDL_PushEvent(&event);
    return 0;
}

Uint32 PushButtonLater(Uint32, void*)
{
    SDL_Event event{};
    event.type = SDL_MOUSEBUTTONDOWN;
    event.button.button = SDL_BUTTON_RIGHT;
    event.button.state = SDL_PRESSED;
    event.button.x = 5, event.button.y = 6;
    SDL_PushEvent(&event);
    return 0;
}

// A wait that never ends would hang the suite: a quit later ends it, and the test fails on the time.
Uint32 QuitLater(Uint32, void*)
{
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    return 0;
}

TEST_F(InputWindow, WaitsReturnWhenAKeyOrButtonGoesDown)
{
    ASSERT_TRUE(SDL_WasInit(SDL_INIT_TIMER) || SDL_InitSubSystem(SDL_INIT_TIMER) == 0);
    struct Case {
        const char* name;
        const char* wait;
        SDL_TimerCallback push;
        void* param;
    } cases[] = {
        {"keyboard_wait, a key down", "keyboard_wait", PushKeyLater, nullptr},
        {"keyboard_wait, an auto-repeat of a held key", "keyboard_wait", PushKeyLater, &g_calls},
        {"mouse_wait, a button down", "mouse_wait", PushButtonLater, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IO_Clear();
        IO_SetLastKey(66);  // what a key before the wait left: it does not count
        g_Running = true;
        const SDL_TimerID push = SDL_AddTimer(100, c.push, c.param);
        const SDL_TimerID guard = SDL_AddTimer(5000, QuitLater, nullptr);
        const auto start = std::chrono::steady_clock::now();
        Call(c.wait);
        const auto waited = std::chrono::steady_clock::now() - start;
        SDL_RemoveTimer(push);
        SDL_RemoveTimer(guard);
        EXPECT_TRUE(g_Running) << "ended by the guard's quit, not by the input";
        EXPECT_GE(waited, std::chrono::milliseconds(95));
        EXPECT_LT(waited, std::chrono::milliseconds(1000));
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
}

// ---- legacy joysticks over SDL's virtual ones -----------------------------------------------------------

class Joysticks : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Platform_StartJoysticks()) << SDL_GetError();
        ASSERT_EQ(SDL_NumJoysticks(), 0) << "a real joystick is attached";
    }
    void TearDown() override
    {
        while (!sticks_.empty()) Detach(0);
        JoystickMask = 0;
    }
    // A virtual stick; its handle for setting values.
    SDL_Joystick* Attach(int axes, int buttons, int hats)
    {
        const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, axes, buttons, hats);
        EXPECT_GE(index, 0) << SDL_GetError();
        SDL_Joystick* stick = SDL_JoystickOpen(index);
        EXPECT_NE(stick, nullptr) << SDL_GetError();
        sticks_.push_back(stick);
        return stick;
    }
    void Detach(size_t which)
    {
        SDL_Joystick* stick = sticks_[which];
        const SDL_JoystickID id = SDL_JoystickInstanceID(stick);
        for (int i = 0; i < SDL_NumJoysticks(); ++i)
            if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
        SDL_JoystickClose(stick);
        sticks_.erase(sticks_.begin() + long(which));
    }
    static void Axes(SDL_Joystick* stick, Sint16 x, Sint16 y)
    {
        SDL_JoystickSetVirtualAxis(stick, 0, x);
        SDL_JoystickSetVirtualAxis(stick, 1, y);
    }

    std::vector<SDL_Joystick*> sticks_;
};

TEST_F(Joysticks, NoneAttached)
{
    for (double id : {1.0, 2.0}) {
        EXPECT_EQ(Call("joystick_exists", {id}), 0);
        EXPECT_EQ(Call("joystick_direction", {id}), 101);
        EXPECT_EQ(Call("joystick_pov", {id}), -1);
        EXPECT_EQ(Call("joystick_xpos", {id}), 0);
        EXPECT_EQ(Call("joystick_check_button", {id, 1}), 0);
        EXPECT_EQ(Call("joystick_axes", {id}), 0);
        EXPECT_EQ(Call("joystick_buttons", {id}), 0);
        EXPECT_EQ(Call("joystick_has_pov", {id}), 0);
        EXPECT_EQ(CallText("joystick_name", id), "");
    }
    JoystickMask = 0x10000;
    ReadJoystick();
    EXPECT_EQ(JoystickMask & 3u, 0u);
}

TEST_F(Joysticks, MaskBitsFollowTheSticksPresent)
{
    Attach(2, 4, 0);
    ReadJoystick();
    EXPECT_EQ(JoystickMask & 3u, 1u);
    Attach(2, 4, 0);
    ReadJoystick();
    EXPECT_EQ(JoystickMask & 3u, 3u);
    Detach(0);
    ReadJoystick();
    EXPECT_EQ(JoystickMask & 3u, 1u);
    Detach(0);
    ReadJoystick();
    EXPECT_EQ(JoystickMask & 3u, 0u);
}

TEST_F(Joysticks, DirectionOfAllNinePositions)
{
    SDL_Joystick* stick = Attach(2, 1, 0);
    struct Case {
        Sint16 x, y;
        double direction;
    } cases[] = {
        {-32768, -32768, 103}, {0, -32768, 104}, {32767, -32768, 105},
        {-32768, 0, 100},      {0, 0, 101},      {32767, 0, 102},
        {-32768, 32767, 97},   {0, 32767, 98},   {32767, 32767, 99},
        // The edges: legacy 19999 is left, 20000 and 44000 centre, 44001 right.
        {-12769, 0, 100},      {-12768, 0, 101}, {11232, 0, 101}, {11233, 0, 102},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        Axes(stick, c.x, c.y);
        EXPECT_EQ(Call("joystick_direction", {1}), c.direction);
    }
}

TEST_F(Joysticks, IdTwoReadsTheSecondStickAndEveryOtherIdTheFirst)
{
    SDL_Joystick* first = Attach(2, 1, 0);
    SDL_Joystick* second = Attach(2, 1, 0);
    Axes(first, -32768, 0);
    Axes(second, 32767, 0);
    for (double id : {0.0, 1.0, 3.0, -1.0, 99.0}) EXPECT_EQ(Call("joystick_direction", {id}), 100) << id;
    EXPECT_EQ(Call("joystick_direction", {2}), 102);
    // With the first gone the second is the first.
    Detach(0);
    EXPECT_EQ(Call("joystick_direction", {1}), 102);
    EXPECT_EQ(Call("joystick_exists", {2}), 0);
    EXPECT_EQ(Call("joystick_direction", {2}), 101);
}

TEST_F(Joysticks, AxesHatButtonsAndDescription)
{
    SDL_Joystick* stick = Attach(6, 33, 1);
    const Sint16 values[6] = {-32768, 32767, 0, -16384, 16384, -1};
    const char* names[6] = {"joystick_xpos", "joystick_ypos", "joystick_zpos",
                            "joystick_rpos", "joystick_upos", "joystick_vpos"};
    for (int axis = 0; axis < 6; ++axis) SDL_JoystickSetVirtualAxis(stick, axis, values[axis]);
    for (int axis = 0; axis < 6; ++axis)
        EXPECT_NEAR(Call(names[axis], {1}), (values[axis] + 32768) / 32767.0 - 1.0, 1e-12) << names[axis];
    EXPECT_EQ(Call("joystick_xpos", {1}), -1.0);
    EXPECT_NEAR(Call("joystick_ypos", {1}), 1.0, 1e-4);

    struct Hat {
        Uint8 value;
        double degrees;
    } hats[] = {{SDL_HAT_CENTERED, -1}, {SDL_HAT_RIGHT, 90}, {SDL_HAT_UP, 0}, {SDL_HAT_LEFTDOWN, 225},
                {SDL_HAT_LEFTUP, 315}};
    for (const Hat& h : hats) {
        SDL_JoystickSetVirtualHat(stick, 0, h.value);
        EXPECT_EQ(Call("joystick_pov", {1}), h.degrees) << int(h.value);
    }

    for (int b = 0; b < 33; ++b) {
        SCOPED_TRACE(b + 1);
        for (int other = 0; other < 33; ++other) SDL_JoystickSetVirtualButton(stick, other, other == b);
        for (int asked = 0; asked <= 34; ++asked)
            EXPECT_EQ(Call("joystick_check_button", {1, double(asked)}), asked == b + 1 && asked <= 32 ? 1 : 0)
                << "asked " << asked;
    }

    EXPECT_EQ(Call("joystick_exists", {1}), 1);
    EXPECT_EQ(Call("joystick_axes", {1}), 6);
    EXPECT_EQ(Call("joystick_buttons", {1}), 32);  // the legacy interface's most
    EXPECT_EQ(Call("joystick_has_pov", {1}), 1);
    EXPECT_EQ(CallText("joystick_name", 1), SDL_JoystickName(stick));
    LegacyJoystickInfo info;
    ASSERT_TRUE(Platform_LegacyJoystickInfo(0, &info));
    EXPECT_EQ(info.capabilities, LEGACY_JOYSTICK_HAS_Z | LEGACY_JOYSTICK_HAS_R | LEGACY_JOYSTICK_HAS_U |
                                     LEGACY_JOYSTICK_HAS_V | LEGACY_JOYSTICK_HAS_POV | LEGACY_JOYSTICK_POV_DEGREES);
}

TEST_F(Joysticks, HasPovIsAnyCapabilityBit)
{
    struct Case {
        int axes, hats;
        double hasPov;
    } cases[] = {{2, 0, 0}, {3, 0, 1}, {2, 1, 1}};  // a Z axis alone counts, as the capability word does
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.axes) + " axes, " + std::to_string(c.hats) + " hats");
        Attach(c.axes, 2, c.hats);
        EXPECT_EQ(Call("joystick_has_pov", {1}), c.hasPov);
        EXPECT_EQ(Call("joystick_axes", {1}), c.axes);
        Detach(0);
    }
}

// The world's joystick events fire for a virtual stick read through the default reader.
class JoystickWorld : public worldtest::WorldHarness {
protected:
    void SetUp() override
    {
        WorldHarness::SetUp();
        ASSERT_TRUE(Platform_StartJoysticks());
        worldtest::ObjectDef joy;
        joy.name = "obj_joy";
        for (int32_t number : {16, 17, 21, 31, 36})
            joy.events.push_back({6, number, {{worldtest::Op::Record, 6000 + number}}});
        worldtest::GameDef game;
        game.objects = {joy};
        ASSERT_TRUE(Load(game, worldtest::Mode::Native));
        Stages_Reset();
        JoystickMask = 0;
    }
    void TearDown() override
    {
        for (SDL_Joystick* stick : sticks_) {
            const SDL_JoystickID id = SDL_JoystickInstanceID(stick);
            for (int i = 0; i < SDL_NumJoysticks(); ++i)
                if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
            SDL_JoystickClose(stick);
        }
        JoystickMask = 0;
        Stages_Reset();
        WorldHarness::TearDown();
    }
    std::vector<SDL_Joystick*> sticks_;
};

TEST_F(JoystickWorld, EventsOfBothSticksFire)
{
    Make(0);
    for (int i = 0; i < 2; ++i)
        sticks_.push_back(SDL_JoystickOpen(SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 8, 0)));
    ASSERT_NE(sticks_[1], nullptr) << SDL_GetError();
    SDL_JoystickSetVirtualAxis(sticks_[0], 0, -32768);  // left
    SDL_JoystickSetVirtualButton(sticks_[0], 0, 1);     // button 1
    SDL_JoystickSetVirtualAxis(sticks_[1], 0, -32768);  // the second's left
    SDL_JoystickSetVirtualButton(sticks_[1], 0, 1);
    JoystickMask = 0x10000;  // what the device-added message asks for
    HandleJoystick();
    EXPECT_EQ(JoystickMask, 3u);
    std::vector<int32_t> tags;
    for (const worldtest::HandlerRun& run : worldtest::g_runs) tags.push_back(run.tag);
    EXPECT_EQ(tags, (std::vector<int32_t>{6016, 6021, 6031, 6036}));
}

}  // namespace
}  // namespace builtins_input_test
