// Everything that ends the process or waits for a person goes through these replaceable hooks.
#pragma once
#include <string>

// Exit: flushes the consoles, then std::exit. A test hook may record the status and return.
using ExitHook = void (*)(int status);
void Platform_Exit(int status);
ExitHook Platform_SetExitHook(ExitHook hook);  // null restores the default; returns the previous hook

// Message boxes. Buttons are returned by their id; the default button answers when nobody can.
enum MessageBoxButtons { MB_BUTTONS_OK, MB_BUTTONS_OKCANCEL, MB_BUTTONS_YESNO, MB_BUTTONS_YESNOCANCEL };
enum MessageBoxAnswer { MB_ANSWER_OK = 1, MB_ANSWER_CANCEL = 2, MB_ANSWER_YES = 6, MB_ANSWER_NO = 7 };

struct MessageBoxRequest {
    const char* caption;
    const char* text;
    MessageBoxButtons buttons;
    int defaultAnswer;  // a MessageBoxAnswer
};

using MessageBoxHook = int (*)(const MessageBoxRequest& request);
int Platform_MessageBox(const MessageBoxRequest& request);
MessageBoxHook Platform_SetMessageBoxHook(MessageBoxHook hook);

// Dialogs that want more than a button (questions, text input, file choice) ask the answer hook
// first; tests install a scripted source. Without one, and with nobody to ask, the default stands.
struct DialogRequest {
    const char* kind;         // "question", "string", "number", "open", "save", ...
    const char* caption;
    const char* text;
    const char* defaultText;  // may be null
};
struct DialogAnswer {
    bool accepted = false;
    std::string text;
};
using DialogAnswerHook = bool (*)(const DialogRequest& request, DialogAnswer* answer);
DialogAnswerHook Platform_SetDialogAnswerHook(DialogAnswerHook hook);
// True when the hook answered; false leaves the caller to its own default.
bool Platform_DialogAnswer(const DialogRequest& request, DialogAnswer* answer);

// True when nobody is there to answer: -headless, KV_NO_DIALOGS=1, or no display.
bool Platform_DialogsSuppressed();
// True when a window could be opened at all: DISPLAY or WAYLAND_DISPLAY names one.
bool Platform_HasDisplay();
// True when dialogs are refused outright (-headless, KV_NO_DIALOGS=1). A dialog that is a program of its own
// (the file chooser) needs no video of ours and asks this and Platform_HasDisplay.
bool Platform_DialogsRefused();
// As Platform_DialogAnswer, with the caller's own judgement of whether anybody can be asked.
bool Platform_DialogAnswerIf(const DialogRequest& request, DialogAnswer* answer, bool nobodyToAsk);
