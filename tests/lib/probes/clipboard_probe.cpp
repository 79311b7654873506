// Opens the main window and runs the clipboard and title built-ins, pumping messages between the steps so
// that the window serves the clipboard while another program reads it. The driving script names a folder
// (first argument) and answers each step by creating a file there:
//   prints "handle <id>", then waits for "set";
//   sets the title "Tîtle" and the clipboard "héllo", prints "set", waits for "read";
//   prints "got <hex of clipboard_get_text>" and "has <clipboard_has_text>", empties the clipboard, prints
//   "empty <clipboard_has_text>" and "got <hex>", waits for "end".
// Exit status: 0 done, 2 bad use, 3 no window, 4 a step timed out.
#include "core/console.h"
#include "core/functions.h"
#include "core/thread.h"
#include "core/value.h"
#include "core/vm.h"
#include "gfx/window.h"
#include "lib/lib.h"
#include "platform/messages.h"
#include "world/loader.h"
#include "world/options.h"
#include "world/run_state.h"

#include <SDL.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

std::string g_clipboardDir;

// Pumps the window's messages until the script creates the file; false after 30 seconds.
bool ClipboardProbe_WaitFor(const char* name)
{
    const std::string path = g_clipboardDir + "/" + name;
    const Uint64 end = SDL_GetTicks64() + 30000;
    struct stat info;
    while (SDL_GetTicks64() < end) {
        ProcessMessages();
        if (stat(path.c_str(), &info) == 0) return true;
        SDL_Delay(5);
    }
    std::printf("timed out waiting for %s\n", name);
    return false;
}

RValue ClipboardProbe_Call(const char* name, const char* text)
{
    int32_t index = -1;
    for (int32_t i = 0; i < Function_Count() && index < 0; ++i)
        if (std::strcmp(Function_Entry(i)->name, name) == 0) index = i;
    RValue arg, result;
    RValue_SetUndefined(&result);
    RValue_SetUndefined(&arg);
    RValue_SetString(&arg, text ? text : "");
    RValue* args[1] = {&arg};
    if (index >= 0) CallBuiltin(nullptr, nullptr, &result, text ? 1 : 0, index, args);
    RValue_Free(&arg);
    return result;
}

void ClipboardProbe_Print(const char* label, RValue value)
{
    if (RValue_Kind(&value) == VALUE_STRING) {
        std::string hex;
        char byte[3];
        for (const char* p = value.str && value.str->text ? value.str->text : ""; *p; ++p) {
            std::snprintf(byte, sizeof byte, "%02x", unsigned(static_cast<unsigned char>(*p)));
            hex += byte;
        }
        std::printf("%s %s\n", label, hex.c_str());
    } else if (RValue_Kind(&value) == VALUE_PTR) {
        std::printf("%s %" PRIuPTR "\n", label, reinterpret_cast<uintptr_t>(value.ptr));
    } else {
        std::printf("%s %g\n", label, value.real);
    }
    std::fflush(stdout);
    RValue_Free(&value);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    g_clipboardDir = argv[1];
    Thread_SetMainThreadMark(true);
    g_GameOptions.showCursor = true;
    g_GameData.windowFlags = WINDOW_FLAG_SHOW_CURSOR;
    if (!Window_Create(200, 100)) {
        std::fprintf(stderr, "no window: %s\n", SDL_GetError());
        return 3;
    }
    Window_ShowFirstTime();
    InitMiscFunctions();
    int status = 4;
    ClipboardProbe_Print("handle", ClipboardProbe_Call("window_handle", nullptr));
    if (ClipboardProbe_WaitFor("set")) {
        RValue none = ClipboardProbe_Call("set_application_title", "T\xC3\xAEtle");
        RValue_Free(&none);
        none = ClipboardProbe_Call("clipboard_set_text", "h\xC3\xA9llo");
        RValue_Free(&none);
        std::printf("set\n");
        std::fflush(stdout);
        if (ClipboardProbe_WaitFor("read")) {
            ClipboardProbe_Print("got", ClipboardProbe_Call("clipboard_get_text", nullptr));
            ClipboardProbe_Print("has", ClipboardProbe_Call("clipboard_has_text", nullptr));
            none = ClipboardProbe_Call("clipboard_set_text", "");
            RValue_Free(&none);
            ClipboardProbe_Print("empty", ClipboardProbe_Call("clipboard_has_text", nullptr));
            ClipboardProbe_Print("got", ClipboardProbe_Call("clipboard_get_text", nullptr));
            if (ClipboardProbe_WaitFor("end")) status = 0;
        }
    }
    Window_Destroy();
    return status;
}
