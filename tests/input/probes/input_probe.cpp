// Opens the main window (320 x 240, titled "Input Probe") and runs the input phase of a step 60 times a
// second for KV_PROBE_STEPS steps (default 360), pumping the window's messages before each. Each step prints
// one JSON line of the game-side block: the keys held, pressed and released, keyboard_key, keyboard_lastkey,
// the typed text (UTF-8), device 0's buttons and wheel, the mouse and cursor positions and pointer 0's
// flags. The command line goes through ParseCommandLine, so -record <file> and -playback <file> work as
// in a game. It prints "ready" on standard error once the window is shown. Exit status: 0, or 3 without a
// window.
#include "core/memory_manager.h"
#include "core/thread.h"
#include "gfx/window.h"
#include "input/input.h"
#include "platform/messages.h"
#include "world/command_line.h"
#include "world/loader.h"
#include "world/options.h"
#include "world/run_state.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string InputProbe_List(const uint8_t* bytes, int n)
{
    std::string s = "[";
    for (int i = 0; i < n; ++i)
        if (bytes[i]) s += (s.size() > 1 ? "," : "") + std::to_string(i);
    return s + "]";
}

std::string InputProbe_Json(const char* text)
{
    std::string s = "\"";
    for (const char* p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            s += '\\';
            s += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            s += escaped;
        } else {
            s += char(c);
        }
    }
    return s + "\"";
}

void InputProbe_Print(int step)
{
    const InputState& s = g_InputState;
    std::printf("{\"step\":%d,\"down\":%s,\"pressed\":%s,\"released\":%s,\"key\":%d,\"lastkey\":%d,\"lastchar\":%d,"
                "\"string\":%s,\"mb\":%d,\"mlast\":%d,\"bdown\":%s,\"bpressed\":%s,\"breleased\":%s,"
                "\"wup\":%d,\"wdown\":%d,\"mouse\":[%d,%d],\"cursor\":[%d,%d],\"pointer0\":%u}\n",
                step, InputProbe_List(s.keyDown, 256).c_str(), InputProbe_List(s.keyPressed, 256).c_str(),
                InputProbe_List(s.keyReleased, 256).c_str(), s.key, s.lastKey, s.lastChar,
                InputProbe_Json(IO_GetKeyboardString()).c_str(), s.mouseButton[0], s.mouseLastButton[0],
                InputProbe_List(s.buttonDown[0], 3).c_str(), InputProbe_List(s.buttonPressed[0], 3).c_str(),
                InputProbe_List(s.buttonReleased[0], 3).c_str(), s.wheelUp[0], s.wheelDown[0], s.mouseX, s.mouseY,
                s.cursorX, s.cursorY, unsigned(g_PointerStates[0].flags));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    Thread_SetMainThreadMark(true);
    char* commandLine = CommandLine_FromArgv(argc, argv);
    ParseCommandLine(commandLine);
    MemFree(commandLine);
    const char* stepsText = std::getenv("KV_PROBE_STEPS");
    const int steps = stepsText && *stepsText ? std::atoi(stepsText) : 360;

    static char title[] = "Input Probe";
    g_GameData.displayName = title;
    g_GameOptions.showCursor = true;
    g_GameData.windowFlags = WINDOW_FLAG_SHOW_CURSOR;
    if (!Window_Create(320, 240)) {
        std::fprintf(stderr, "no window: %s\n", SDL_GetError());
        return 3;
    }
    Window_ShowFirstTime();
    IO_Init();
    ProcessMessages();
    std::fprintf(stderr, "ready\n");
    g_Running = true;

    const Uint64 start = SDL_GetPerformanceCounter();
    const double frequency = double(SDL_GetPerformanceFrequency());
    for (int step = 1; step <= steps; ++step) {
        // Steps are paced from the start, so a slow step does not push the rest back.
        const double due = double(step - 1) / 60.0;
        for (;;) {
            const double now = double(SDL_GetPerformanceCounter() - start) / frequency;
            if (now >= due) break;
            SDL_Delay(1);
        }
        ProcessMessages();
        IO_Update();
        InputProbe_Print(step);
    }
    IO_End();
    Window_Destroy();
    ProcessMessages();
    return 0;
}
