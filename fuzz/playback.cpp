// Input record files are untrusted: any bytes are played back for 64 steps. Whatever they hold: no read past
// the typed text, every flag reads 0 or 1, the text and its counter stay within 1024 characters, and typing on top of a played
// frame stays in bounds.
#include "core/memory_manager.h"
#include "core/text.h"
#include "input/input.h"
#include "world/command_line.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The file each input is played from, one per process, removed when the process ends.
struct FuzzPlayback_File {
    std::string path;
    FuzzPlayback_File()
    {
        char name[] = "/tmp/fuzz_playback_XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        path = name;
    }
    ~FuzzPlayback_File() { unlink(path.c_str()); }
};

const std::string& FuzzPlayback_Path()
{
    static const FuzzPlayback_File file;
    return file.path;
}

void FuzzPlayback_Check(bool ok)
{
    if (!ok) std::abort();
}

void FuzzPlayback_ReadAll()
{
    // Only touched, never judged: recorded numbers may be anything.
    uint32_t sum = 0;
    for (int32_t key = -1; key <= 256; ++key) {
        sum += IO_KeyDown(key) + IO_KeyPressed(key) + IO_KeyReleased(key) + Keyboard_Check(key);
        FuzzPlayback_Check(IO_MapKey(key) == key);
    }
    for (int32_t device = -1; device <= 10; ++device) {
        for (int32_t button = -1; button <= 4; ++button)
            sum += IO_MouseDown(button, device) + IO_MousePressed(button, device) + IO_MouseReleased(button, device);
        sum += IO_WheelUp(device) + IO_WheelDown(device) + uint32_t(IO_MouseButton(device)) +
               uint32_t(IO_MouseLastButton(device));
    }
    sum += uint32_t(IO_GetCurrentKey()) + uint32_t(IO_GetLastKey()) + IO_GetLastChar();
    const char* text = IO_GetKeyboardString();
    const size_t bytes = std::strlen(text);
    FuzzPlayback_Check(bytes <= 1024 * 3);
    FuzzPlayback_Check(UTF8_Length(text) <= 1024);
    FuzzPlayback_Check(g_KeyboardStringLength >= 0 && g_KeyboardStringLength <= 1024);
    const uint8_t* flags[] = {g_InputState.keyDown, g_InputState.keyPressed, g_InputState.keyReleased};
    for (const uint8_t* f : flags)
        for (int k = 0; k < 256; ++k) FuzzPlayback_Check(f[k] <= 1);
    for (int d = 0; d < IO_MOUSE_DEVICES; ++d) {
        FuzzPlayback_Check(g_InputState.wheelUp[d] <= 1 && g_InputState.wheelDown[d] <= 1);
        for (int b = 0; b < 3; ++b)
            FuzzPlayback_Check(g_InputState.buttonDown[d][b] <= 1 && g_InputState.buttonPressed[d][b] <= 1 &&
                               g_InputState.buttonReleased[d][b] <= 1);
    }
    volatile uint32_t sink = sum;
    (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = FuzzPlayback_Path();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    g_RunFlags.playback = true;
    g_RunFlags.record = false;
    g_RunFlags.recordFile = String_Duplicate(path.c_str());
    IO_Init();
    for (int step = 0; step < 64; ++step) {
        // What the window would add meanwhile; playback never shows it, but it shares the text's counter.
        IO_OnChar(uint16_t(step % 3 == 0 ? 8 : 'a' + step));
        IO_Update();
        FuzzPlayback_ReadAll();
    }
    IO_End();
    MemFree(g_RunFlags.recordFile);
    g_RunFlags.recordFile = nullptr;
    g_RunFlags.playback = false;
    return 0;
}
