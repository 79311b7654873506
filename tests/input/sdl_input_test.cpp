// Desktop events through the real window and message pump into one step's game-side state.
#include "input/input.h"

#include "gfx/window.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/window_platform.h"
#include "world/command_line.h"
#include "world/loader.h"
#include "world/options.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

SDL_Event Key(bool down, SDL_Scancode scancode, SDL_Keycode sym, bool repeat = false)
{
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.scancode = scancode;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = KMOD_NUM;
    return e;
}

SDL_Event Text(const char* utf8)
{
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    SDL_strlcpy(e.text.text, utf8, sizeof e.text.text);
    return e;
}

// Pushed events do not reach SDL's own key table, which the window asks to tell the right Shift from the
// left; a real keyboard would have set it.
void SetKeyHeld(SDL_Scancode scancode, bool held)
{
    auto* keys = const_cast<Uint8*>(SDL_GetKeyboardState(nullptr));
    keys[scancode] = held ? 1 : 0;
}

std::vector<int> Keys(const uint8_t* bytes)
{
    std::vector<int> keys;
    for (int k = 0; k < 256; ++k)
        if (bytes[k]) keys.push_back(k);
    return keys;
}

std::vector<int> Units()
{
    std::vector<int> units;
    for (int i = 0; g_InputState.keyboardString[i]; ++i) units.push_back(g_InputState.keyboardString[i]);
    return units;
}

class SdlInputPath : public testing::Test {
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
        savedFlags_ = g_RunFlags;
        g_RunFlags.record = g_RunFlags.playback = false;
        g_GameOptions.showCursor = true;
        g_GameData.windowFlags = WINDOW_FLAG_SHOW_CURSOR;
        ASSERT_TRUE(Window_Create(320, 240)) << SDL_GetError();
        Window_ShowFirstTime();
        ProcessMessages();
        IO_Init();
        IO_Update();
    }
    void TearDown() override
    {
        Window_Destroy();
        ProcessMessages();
        Window_ResetState();
        IO_Clear();
        g_RunFlags = savedFlags_;
    }
    // Pushes the events, pumps them and runs the step's input phase.
    static void Step(const std::vector<SDL_Event>& events)
    {
        for (SDL_Event e : events) ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
        ProcessMessages();
        IO_Update();
    }
    RunFlags savedFlags_{};
};

TEST_F(SdlInputPath, ModifiersRepeatBackspaceAndTextOutsideTheBasicPlane)
{
    SetKeyHeld(SDL_SCANCODE_RSHIFT, false);
    Step({Key(true, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT), Key(true, SDL_SCANCODE_LCTRL, SDLK_LCTRL),
          Key(true, SDL_SCANCODE_RCTRL, SDLK_RCTRL), Key(true, SDL_SCANCODE_LALT, SDLK_LALT),
          Key(true, SDL_SCANCODE_RALT, SDLK_RALT)});
    SetKeyHeld(SDL_SCANCODE_RSHIFT, true);
    Step({Key(true, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT)});
    EXPECT_EQ(Keys(g_InputState.keyDown), (std::vector<int>{16, 17, 18, 160, 161, 162, 163, 164, 165}));
    EXPECT_EQ(Keys(g_InputState.keyPressed), (std::vector<int>{161})) << "16 was down already";

    // An auto-repeat of a held key presses nothing new.
    Step({Key(true, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, true)});
    EXPECT_TRUE(Keys(g_InputState.keyPressed).empty());
    EXPECT_EQ(g_InputState.keyDown[160], 1);

    Step({Key(false, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT), Key(false, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT),
          Key(false, SDL_SCANCODE_LCTRL, SDLK_LCTRL), Key(false, SDL_SCANCODE_RCTRL, SDLK_RCTRL),
          Key(false, SDL_SCANCODE_LALT, SDLK_LALT), Key(false, SDL_SCANCODE_RALT, SDLK_RALT)});
    SetKeyHeld(SDL_SCANCODE_RSHIFT, false);
    EXPECT_TRUE(Keys(g_InputState.keyDown).empty());
    EXPECT_EQ(Keys(g_InputState.keyReleased), (std::vector<int>{16, 17, 18, 160, 161, 162, 163, 164, 165}));

    Step({Text("abc"), Key(true, SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE),
          Key(false, SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE)});
    EXPECT_STREQ(IO_GetKeyboardString(), "ab");
    EXPECT_EQ(g_InputState.keyReleased[8], 1);

    Step({Text("\xC3\xA9"), Text("\xF0\x9F\x98\x80")});
    EXPECT_EQ(Units(), (std::vector<int>{'a', 'b', 0xE9, 0xD83D, 0xDE00}));
    EXPECT_EQ(g_InputState.lastChar, 0xDE00);
}

TEST_F(SdlInputPath, ButtonsWheelAndPosition)
{
    SDL_Event move{};
    move.type = SDL_MOUSEMOTION;
    move.motion.x = 40;
    move.motion.y = 30;
    SDL_Event down{};
    down.type = SDL_MOUSEBUTTONDOWN;
    down.button.button = SDL_BUTTON_LEFT;
    down.button.state = SDL_PRESSED;
    down.button.x = 41;
    down.button.y = 31;
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = 1;
    Step({move, down, wheel});
    EXPECT_TRUE(IO_MousePressed(1, 0));
    EXPECT_TRUE(IO_MouseDown(1, 0));
    EXPECT_TRUE(IO_WheelUp(0));
    EXPECT_FALSE(IO_WheelDown(0));
    EXPECT_EQ(g_InputState.mouseX, 40);
    EXPECT_EQ(g_InputState.mouseY, 30);
    EXPECT_EQ(g_PointerStates[0].flags, 0x80000003u);
    SDL_Event up = down;
    up.type = SDL_MOUSEBUTTONUP;
    up.button.state = SDL_RELEASED;
    wheel.wheel.y = -1;
    Step({up, wheel});
    EXPECT_TRUE(IO_MouseReleased(1, 0));
    EXPECT_FALSE(IO_MouseDown(1, 0));
    EXPECT_TRUE(IO_WheelDown(0));
    EXPECT_FALSE(IO_WheelUp(0));
    EXPECT_EQ(g_PointerStates[0].flags, 0u);
}

}  // namespace
