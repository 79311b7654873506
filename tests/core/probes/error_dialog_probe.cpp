// Raises reports through the real error dialog (an X display is needed; the test answers with keys).
//   ignore  a non-fatal report; prints "continued" once the dialog returns
//   fatal   a RuntimeError; the process ends with the reporter's status
//   copy    a non-fatal report answered Copy, then Ignore (scripted); prints "clipboard ok" when the
//           clipboard holds the whole dialog text
#include "core/error.h"
#include "core/thread.h"
#include "platform/error_dialog.h"
#include "platform/hooks.h"
#include "platform/platform.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int g_probeCopyAnswers = 0;

bool ErrorProbe_CopyThenIgnore(const DialogRequest&, DialogAnswer* answer)
{
    answer->accepted = true;
    answer->text = g_probeCopyAnswers++ == 0 ? "Copy" : "Ignore";
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    Thread_SetMainThreadMark(true);
    if (!Platform_StartVideo()) {
        std::fprintf(stderr, "no video: %s\n", SDL_GetError());
        return 3;
    }
    if (mode == "ignore") {
        Error_Show_Action("something went wrong\twith a tab", false);
        std::printf("continued quitting=%d\n", g_ErrorQuitting ? 1 : 0);
    } else if (mode == "fatal") {
        RuntimeError("fatal: %s", "nothing to do");
        std::printf("not reached\n");
    } else if (mode == "copy") {
        Platform_SetDialogAnswerHook(ErrorProbe_CopyThenIgnore);
        Error_Show_Action("copy \xC3\xA9 this", false);
        const std::string expected = Platform_ValidUtf8(Error_DialogText(Error_LastText()).c_str());
        char* clip = SDL_GetClipboardText();
        const bool same = clip && expected == clip;
        SDL_free(clip);
        std::printf(same ? "clipboard ok\n" : "clipboard differs\n");
    } else {
        return 2;
    }
    std::fflush(stdout);
    Platform_StopVideo();
    return 0;
}
