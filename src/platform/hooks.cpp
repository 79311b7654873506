#include "platform/hooks.h"

#include "core/console.h"
#include "world/command_line.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void DefaultExit(int status)
{
    Console_FlushAll();
    std::fflush(nullptr);
    std::exit(status);
}

int LogMessageBox(const MessageBoxRequest& request)
{
    std::fprintf(stderr, "%s: %s\n", request.caption ? request.caption : "", request.text ? request.text : "");
    std::fflush(stderr);
    return request.defaultAnswer;
}

int SdlMessageBox(const MessageBoxRequest& request)
{
    if (Platform_DialogsSuppressed()) return LogMessageBox(request);

    SDL_MessageBoxButtonData buttons[3];
    int count = 0;
    auto add = [&](int id, const char* label) {
        Uint32 flags = 0;
        if (id == request.defaultAnswer) flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
        if (id == MB_ANSWER_CANCEL || (id == MB_ANSWER_NO && request.buttons == MB_BUTTONS_YESNO) ||
            (id == MB_ANSWER_OK && request.buttons == MB_BUTTONS_OK))
            flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
        buttons[count++] = {flags, id, label};
    };
    switch (request.buttons) {
    case MB_BUTTONS_OK: add(MB_ANSWER_OK, "OK"); break;
    case MB_BUTTONS_OKCANCEL: add(MB_ANSWER_OK, "OK"); add(MB_ANSWER_CANCEL, "Cancel"); break;
    case MB_BUTTONS_YESNO: add(MB_ANSWER_YES, "Yes"); add(MB_ANSWER_NO, "No"); break;
    case MB_BUTTONS_YESNOCANCEL:
        add(MB_ANSWER_YES, "Yes"); add(MB_ANSWER_NO, "No"); add(MB_ANSWER_CANCEL, "Cancel");
        break;
    }
    SDL_MessageBoxData data{};
    data.flags = SDL_MESSAGEBOX_INFORMATION;
    data.title = request.caption ? request.caption : "";
    data.message = request.text ? request.text : "";
    data.numbuttons = count;
    data.buttons = buttons;
    int answer = request.defaultAnswer;
    // No display: the box cannot open, so it is logged and answered by default.
    if (SDL_ShowMessageBox(&data, &answer) != 0) return LogMessageBox(request);
    return answer < 0 ? request.defaultAnswer : answer;
}

ExitHook g_exitHook = DefaultExit;
MessageBoxHook g_messageBoxHook = SdlMessageBox;
DialogAnswerHook g_dialogAnswerHook = nullptr;

}  // namespace

void Platform_Exit(int status) { g_exitHook(status); }

ExitHook Platform_SetExitHook(ExitHook hook)
{
    ExitHook old = g_exitHook;
    g_exitHook = hook ? hook : DefaultExit;
    return old;
}

int Platform_MessageBox(const MessageBoxRequest& request) { return g_messageBoxHook(request); }

MessageBoxHook Platform_SetMessageBoxHook(MessageBoxHook hook)
{
    MessageBoxHook old = g_messageBoxHook;
    g_messageBoxHook = hook ? hook : SdlMessageBox;
    return old;
}

DialogAnswerHook Platform_SetDialogAnswerHook(DialogAnswerHook hook)
{
    DialogAnswerHook old = g_dialogAnswerHook;
    g_dialogAnswerHook = hook;
    return old;
}

bool Platform_DialogAnswer(const DialogRequest& request, DialogAnswer* answer)
{
    return Platform_DialogAnswerIf(request, answer, Platform_DialogsSuppressed());
}

bool Platform_DialogAnswerIf(const DialogRequest& request, DialogAnswer* answer, bool nobodyToAsk)
{
    if (g_dialogAnswerHook) return g_dialogAnswerHook(request, answer);
    if (nobodyToAsk) {
        std::fprintf(stderr, "%s: %s\n", request.caption ? request.caption : "", request.text ? request.text : "");
        answer->accepted = false;
        answer->text = request.defaultText ? request.defaultText : "";
        return true;
    }
    return false;
}

bool Platform_DialogsRefused()
{
    if (g_RunFlags.headless) return true;
    const char* nd = std::getenv("KV_NO_DIALOGS");
    return nd && std::strcmp(nd, "1") == 0;
}

bool Platform_DialogsSuppressed()
{
    if (Platform_DialogsRefused()) return true;
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    bool offscreen = driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
    return offscreen || !Platform_HasDisplay();
}

bool Platform_HasDisplay()
{
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}
