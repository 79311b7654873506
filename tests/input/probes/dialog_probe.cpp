// Shows the real dialogs (an X display is needed; the test answers with keys).
//   box <caption> [-headless]   the message box, captioned with the game's name; prints "result=<n>"
//   save <title> <folder>       the save dialog (filter "Text|*.txt", name "start"); prints "chosen=<path>"
//                               or "chosen=(null)", and "cwd same" when the working folder did not change
#include "core/thread.h"
#include "input/input.h"
#include "platform/file_dialog.h"
#include "platform/platform.h"
#include "world/command_line.h"
#include "world/loader.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    Thread_SetMainThreadMark(true);
    if (mode == "box" && argc > 2) {
        g_RunFlags.headless = argc > 3 && std::strcmp(argv[3], "-headless") == 0;
        if (!g_RunFlags.headless && !Platform_StartVideo()) {
            std::fprintf(stderr, "no video: %s\n", SDL_GetError());
            return 3;
        }
        g_GameData.displayName = argv[2];
        const int32_t result = ShowMessageBox("A message from the probe.");
        std::printf("result=%d\n", result);
        return 0;
    }
    if (mode == "save" && argc > 3) {
        char before[4096], after[4096];
        if (!getcwd(before, sizeof before)) return 2;
        const char* chosen = ShowSaveFileDialog("Text|*.txt|All|*.*", "start", argv[3], argv[2]);
        std::printf("chosen=%s\n", chosen ? chosen : "(null)");
        if (getcwd(after, sizeof after) && std::strcmp(before, after) == 0) std::printf("cwd same\n");
        return 0;
    }
    return 2;
}
