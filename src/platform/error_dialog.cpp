#include "platform/error_dialog.h"

#include "platform/hooks.h"

#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kErrorDialogIgnore = 0;
constexpr int kErrorDialogAbort = 1;
constexpr int kErrorDialogCopy = 2;
constexpr int kErrorDialogShownLines = 40;

// Length of the well-formed sequence at p (overlongs, surrogates and values above U+10FFFF are not), or 0.
int ErrorDialog_SequenceLength(const unsigned char* p)
{
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    int n = 0;
    uint32_t cp = 0, min = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;  // also stops at the terminating NUL
        cp = cp << 6 | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

int ErrorDialog_Answer(const std::string& answer, int fallback)
{
    if (answer == "Abort") return kErrorDialogAbort;
    if (answer == "Ignore") return kErrorDialogIgnore;
    if (answer == "Copy") return kErrorDialogCopy;
    return fallback;
}

}  // namespace

std::string Platform_ValidUtf8(const char* text)
{
    std::string out;
    if (!text) return out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const int n = ErrorDialog_SequenceLength(p);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++p;
        } else {
            out.append(reinterpret_cast<const char*>(p), size_t(n));
            p += n;
        }
    }
    return out;
}

std::string Platform_ErrorDialogShownText(const char* text)
{
    std::string valid = Platform_ValidUtf8(text);
    size_t at = 0;
    for (int line = 0; line < kErrorDialogShownLines; ++line) {
        at = valid.find('\n', at);
        if (at == std::string::npos) return valid;
        ++at;
    }
    if (at >= valid.size()) return valid;
    valid.resize(at);
    valid += "\xE2\x80\xA6(full text: Copy, or the console)";
    return valid;
}

int Platform_ErrorDialog(const char* text, bool canIgnore)
{
    if (!text) text = "";
    const int fallback = canIgnore ? kErrorDialogIgnore : kErrorDialogAbort;
    const char* fallbackText = canIgnore ? "Ignore" : "Abort";
    for (;;) {
        int answer = fallback;
        DialogRequest request{"error", "Code Error", text, fallbackText};
        DialogAnswer given;
        if (Platform_DialogAnswer(request, &given)) {
            answer = ErrorDialog_Answer(given.text, fallback);
        } else {
            const std::string shown = Platform_ErrorDialogShownText(text);
            SDL_MessageBoxButtonData buttons[3];
            int count = 0;
            const Uint32 keys = SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
            buttons[count++] = {canIgnore ? 0u : keys, kErrorDialogAbort, "Abort"};
            if (canIgnore) buttons[count++] = {keys, kErrorDialogIgnore, "Ignore"};
            buttons[count++] = {0u, kErrorDialogCopy, "Copy"};
            SDL_MessageBoxData data{};
            data.flags = SDL_MESSAGEBOX_ERROR;
            data.title = "Code Error";
            data.message = shown.c_str();
            data.numbuttons = count;
            data.buttons = buttons;
            if (SDL_ShowMessageBox(&data, &answer) != 0) {
                std::fprintf(stderr, "Code Error: %s\n", text);
                return fallback;
            }
        }
        if (answer != kErrorDialogCopy) return (answer == kErrorDialogIgnore && !canIgnore) ? kErrorDialogAbort : answer;
        SDL_SetClipboardText(Platform_ValidUtf8(text).c_str());
    }
}
