#include "world/event_names.h"

#include <cstdio>

#include "world/world_access.h"

namespace {

char g_eventNameBuffer[512];
char g_keyNameBuffer[64];

constexpr const char* kEventNameUnknown = "<unknown>";

// A name from a table indexed from first; "<unknown>" outside it or on an empty row.
template <size_t N>
const char* EventNames_Pick(const char* const (&names)[N], int32_t first, int32_t sub)
{
    const int64_t at = int64_t(sub) - first;
    if (at < 0 || at >= int64_t(N) || !names[at]) return kEventNameUnknown;
    return names[at];
}

const char* const kMouseNames[] = {
    "Left Button", "Right Button", "Middle Button", "No Button", "Left Pressed", "Right Pressed",
    "Middle Pressed", "Left Released", "Right Released", "Middle Released", "Mouse Enter", "Mouse Leave",
    nullptr, nullptr, nullptr, nullptr,
    "Joystick 1 Left", "Joystick 1 Right", "Joystick 1 Up", "Joystick 1 Down", nullptr,
    "Joystick 1 Button 1", "Joystick 1 Button 2", "Joystick 1 Button 3", "Joystick 1 Button 4",
    "Joystick 1 Button 5", "Joystick 1 Button 6", "Joystick 1 Button 7", "Joystick 1 Button 8",
    nullptr, nullptr,
    "Joystick 2 Left", "Joystick 2 Right", "Joystick 2 Up", "Joystick 2 Down", nullptr,
    "Joystick 2 Button 1", "Joystick 2 Button 2", "Joystick 2 Button 3", "Joystick 2 Button 4",
    "Joystick 2 Button 5", "Joystick 2 Button 6", "Joystick 2 Button 7", "Joystick 2 Button 8",
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    "Glob Left Button", "Glob Right Button", "Glob Middle Button", "Glob Left Pressed", "Glob Right Pressed",
    "Glob Middle Pressed", "Glob Left Released", "Glob Right Released", "Glob Middle Released", nullptr,
    "Mouse Wheel Up", "Mouse Wheel Down",
};

const char* const kOtherNames[] = {
    "Outside Room", "Intersect Boundary", "Game Start", "Game End", "Room Start", "Room End",
    "No More Lives", "Animation End", "End Of Path", "No More Health",
    "User Defined 0", "User Defined 1", "User Defined 2", "User Defined 3", "User Defined 4",
    "User Defined 5", "User Defined 6", "User Defined 7", "User Defined 8", "User Defined 9",
    "User Defined 10", "User Defined 11", "User Defined 12", "User Defined 13", "User Defined 14",
    "User Defined 15",
    nullptr, nullptr, nullptr, nullptr,
    "Close Button",
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    "Outside View 0", "Outside View 1", "Outside View 2", "Outside View 3", "Outside View 4",
    "Outside View 5", "Outside View 6", "Outside View 7", nullptr, nullptr,
    "Boundary View 0", "Boundary View 1", "Boundary View 2", "Boundary View 3", "Boundary View 4",
    "Boundary View 5", "Boundary View 6", "Boundary View 7", "Animation Update",
};

const char* const kAsyncNames[] = {
    "Image Loaded", "Sound Loaded", "HTTP", "Dialog", nullptr, nullptr, "IAP", "Cloud", "Networking",
    "Steam", "Social", "Push", "Save-Load", "Audio Recording", "Audio Playback", "System Event",
};

static_assert(sizeof kMouseNames / sizeof *kMouseNames == 62, "mouse sub-numbers 0-61");
static_assert(sizeof kOtherNames / sizeof *kOtherNames == 59, "other sub-numbers 0-58");
static_assert(sizeof kAsyncNames / sizeof *kAsyncNames == 16, "async sub-numbers 60-75");

const char* KeyName_Fixed(int32_t key)
{
    switch (key) {
    case 0: return "<no key>";
    case 1: return "<any key>";
    case 8: return "<Backspace>";
    case 9: return "<Tab>";
    case 13: return "<Enter>";
    case 16: return "<Shift>";
    case 17: return "<Ctrl>";
    case 18: return "<Alt>";
    case 27: return "<Escape>";
    case 32: return "<Space>";
    case 33: return "<Page Up>";
    case 34: return "<Page Down>";
    case 35: return "<End>";
    case 36: return "<Home>";
    case 37: return "<Left>";
    case 38: return "<Up>";
    case 39: return "<Right>";
    case 40: return "<Down>";
    case 45: return "<Insert>";
    case 46: return "<Delete>";
    case 106: return "Keypad *";
    case 107: return "Keypad +";
    case 109: return "Keypad -";
    case 110: return "Keypad .";
    case 111: return "Keypad /";
    default: return kEventNameUnknown;
    }
}

const char* EventName_Format(const char* format, const char* a, const char* b, const char* c)
{
    std::snprintf(g_eventNameBuffer, sizeof g_eventNameBuffer, format, a, b, c);
    return g_eventNameBuffer;
}

}  // namespace

const char* GetKeyName(int32_t key)
{
    if ((key >= 48 && key <= 57) || (key >= 65 && key <= 90)) {
        std::snprintf(g_keyNameBuffer, sizeof g_keyNameBuffer, "%c-key", char(key));
    } else if (key >= 96 && key <= 105) {
        std::snprintf(g_keyNameBuffer, sizeof g_keyNameBuffer, "Keypad-%d", key - 96);
    } else if (key >= 112 && key <= 123) {
        std::snprintf(g_keyNameBuffer, sizeof g_keyNameBuffer, "F%d", key - 111);
    } else {
        return KeyName_Fixed(key);
    }
    return g_keyNameBuffer;
}

const char* GetMouseEventName(int32_t sub) { return EventNames_Pick(kMouseNames, 0, sub); }
const char* GetOtherEventName(int32_t sub) { return EventNames_Pick(kOtherNames, 0, sub); }
const char* GetAsyncEventName(int32_t sub) { return EventNames_Pick(kAsyncNames, 60, sub); }

const char* GetEventName(int32_t type, int32_t sub)
{
    switch (type) {
    case 0: return "Create Event";
    case 1: return "Destroy Event";
    case 2:
        std::snprintf(g_eventNameBuffer, sizeof g_eventNameBuffer, "Alarm Event for alarm %d", sub);
        return g_eventNameBuffer;
    case 3:
        std::snprintf(g_eventNameBuffer, sizeof g_eventNameBuffer, " Step Event%d", sub);
        return g_eventNameBuffer;
    case 4: return EventName_Format("%s%s%s", "Collision Event with ", Object_GetName(sub), "");
    case 5: return EventName_Format("%s%s%s", "Keyboard Event for ", GetKeyName(sub), " Key");
    case 6: return EventName_Format("%s%s%s", "Mouse Event for ", GetMouseEventName(sub), "");
    case 7:
        if (sub >= 60) return EventName_Format("%s%s%s", "Async Event: ", GetAsyncEventName(sub), "");
        return EventName_Format("%s%s%s", "Other Event: ", GetOtherEventName(sub), "");
    case 8: return "Draw Event";
    case 9: return EventName_Format("%s%s%s", "Key Press Event for ", GetKeyName(sub), " Key");
    case 10: return EventName_Format("%s%s%s", "Key Release Event for ", GetKeyName(sub), " Key");
    default: return "<Unknown Event>";
    }
}
