// The modal message box of the message built-ins, the message action and start-up errors.
#include "input/input.h"

#include "core/seam_trace.h"
#include "gfx/window.h"
#include "platform/hooks.h"

int32_t ShowMessageBox(const char* text)
{
    SeamTrace_Record("ShowMessageBox");
    // Only a window that exists is made fit for the box: one made later still needs its first show.
    if (Window_Handle) Window_PrepareForDialog();
    // The caption scripts see (window_set_caption); before there is a window, the game's name.
    const char* caption = Window_Handle && Window_Caption ? Window_Caption : Game_DisplayName();
    MessageBoxRequest request{caption, text ? text : "", MB_BUTTONS_OK, MB_ANSWER_OK};
    Platform_MessageBox(request);
    return 1;
}
