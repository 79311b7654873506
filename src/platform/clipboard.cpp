#include "platform/clipboard.h"

#include <SDL.h>

namespace {
bool Clipboard_Available() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }
}  // namespace

bool Platform_ClipboardHasText() { return Clipboard_Available() && SDL_HasClipboardText() == SDL_TRUE; }

std::string Platform_ClipboardGetText()
{
    if (!Clipboard_Available()) return {};
    char* text = SDL_GetClipboardText();  // "" (never null) when there is none
    std::string copy = text ? text : "";
    SDL_free(text);
    return copy;
}

void Platform_ClipboardSetText(const char* utf8)
{
    if (!Clipboard_Available()) return;
    SDL_SetClipboardText(utf8 ? utf8 : "");
}
