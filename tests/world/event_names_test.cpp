// Event and key display names: every listed row, the edges of each range, and bounded output.
#include "world/event_names.h"

#include "world/world_access.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct EventNameCase {
    int32_t type;
    int32_t sub;
    const char* name;
};

const EventNameCase kEventNameCases[] = {
    {0, 0, "Create Event"},
    {0, 99, "Create Event"},
    {1, 0, "Destroy Event"},
    {2, 3, "Alarm Event for alarm 3"},
    {2, -1, "Alarm Event for alarm -1"},
    {3, 0, " Step Event0"},
    {3, 1, " Step Event1"},
    {3, 2, " Step Event2"},
    {8, 0, "Draw Event"},
    {8, 64, "Draw Event"},
    {11, 0, "<Unknown Event>"},
    {-1, 0, "<Unknown Event>"},
    {INT32_MIN, 0, "<Unknown Event>"},
    // Keys through the three key event types.
    {5, 65, "Keyboard Event for A-key Key"},
    {5, 100, "Keyboard Event for Keypad-4 Key"},
    {9, 13, "Key Press Event for <Enter> Key"},
    {10, 115, "Key Release Event for F4 Key"},
    {5, 200, "Keyboard Event for <unknown> Key"},
    // Mouse: every boundary between named and unnamed ranges.
    {6, 0, "Mouse Event for Left Button"},
    {6, 11, "Mouse Event for Mouse Leave"},
    {6, 12, "Mouse Event for <unknown>"},
    {6, 15, "Mouse Event for <unknown>"},
    {6, 16, "Mouse Event for Joystick 1 Left"},
    {6, 19, "Mouse Event for Joystick 1 Down"},
    {6, 20, "Mouse Event for <unknown>"},
    {6, 21, "Mouse Event for Joystick 1 Button 1"},
    {6, 28, "Mouse Event for Joystick 1 Button 8"},
    {6, 29, "Mouse Event for <unknown>"},
    {6, 30, "Mouse Event for <unknown>"},
    {6, 31, "Mouse Event for Joystick 2 Left"},
    {6, 34, "Mouse Event for Joystick 2 Down"},
    {6, 35, "Mouse Event for <unknown>"},
    {6, 36, "Mouse Event for Joystick 2 Button 1"},
    {6, 43, "Mouse Event for Joystick 2 Button 8"},
    {6, 44, "Mouse Event for <unknown>"},
    {6, 49, "Mouse Event for <unknown>"},
    {6, 50, "Mouse Event for Glob Left Button"},
    {6, 58, "Mouse Event for Glob Middle Released"},
    {6, 59, "Mouse Event for <unknown>"},
    {6, 60, "Mouse Event for Mouse Wheel Up"},
    {6, 61, "Mouse Event for Mouse Wheel Down"},
    {6, 62, "Mouse Event for <unknown>"},
    {6, -1, "Mouse Event for <unknown>"},
    // Other events below 60, async events from 60.
    {7, 0, "Other Event: Outside Room"},
    {7, 9, "Other Event: No More Health"},
    {7, 10, "Other Event: User Defined 0"},
    {7, 25, "Other Event: User Defined 15"},
    {7, 26, "Other Event: <unknown>"},
    {7, 29, "Other Event: <unknown>"},
    {7, 30, "Other Event: Close Button"},
    {7, 31, "Other Event: <unknown>"},
    {7, 39, "Other Event: <unknown>"},
    {7, 40, "Other Event: Outside View 0"},
    {7, 47, "Other Event: Outside View 7"},
    {7, 48, "Other Event: <unknown>"},
    {7, 57, "Other Event: Boundary View 7"},
    {7, 58, "Other Event: Animation Update"},
    {7, 59, "Other Event: <unknown>"},
    {7, -5, "Other Event: <unknown>"},
    {7, 60, "Async Event: Image Loaded"},
    {7, 62, "Async Event: HTTP"},
    {7, 63, "Async Event: Dialog"},
    {7, 64, "Async Event: <unknown>"},
    {7, 65, "Async Event: <unknown>"},
    {7, 66, "Async Event: IAP"},
    {7, 75, "Async Event: System Event"},
    {7, 76, "Async Event: <unknown>"},
    {7, INT32_MAX, "Async Event: <unknown>"},
};

TEST(EventNames, EveryRangeAndItsEdges)
{
    for (const EventNameCase& c : kEventNameCases)
        EXPECT_STREQ(GetEventName(c.type, c.sub), c.name) << "type " << c.type << " sub " << c.sub;
}

struct KeyNameCase {
    int32_t key;
    const char* name;
};

const KeyNameCase kKeyNameCases[] = {
    {0, "<no key>"},      {1, "<any key>"},    {2, "<unknown>"},    {8, "<Backspace>"},   {9, "<Tab>"},
    {13, "<Enter>"},      {16, "<Shift>"},     {17, "<Ctrl>"},      {18, "<Alt>"},        {27, "<Escape>"},
    {32, "<Space>"},      {33, "<Page Up>"},   {34, "<Page Down>"}, {35, "<End>"},        {36, "<Home>"},
    {37, "<Left>"},       {38, "<Up>"},        {39, "<Right>"},     {40, "<Down>"},       {45, "<Insert>"},
    {46, "<Delete>"},     {47, "<unknown>"},   {48, "0-key"},       {57, "9-key"},        {58, "<unknown>"},
    {64, "<unknown>"},    {65, "A-key"},       {90, "Z-key"},       {91, "<unknown>"},    {95, "<unknown>"},
    {96, "Keypad-0"},     {105, "Keypad-9"},   {106, "Keypad *"},   {107, "Keypad +"},    {108, "<unknown>"},
    {109, "Keypad -"},    {110, "Keypad ."},   {111, "Keypad /"},   {112, "F1"},          {123, "F12"},
    {124, "<unknown>"},   {200, "<unknown>"},  {-1, "<unknown>"},   {INT32_MIN, "<unknown>"},
};

TEST(EventNames, KeyNames)
{
    for (const KeyNameCase& c : kKeyNameCases) EXPECT_STREQ(GetKeyName(c.key), c.name) << "key " << c.key;
}

TEST(EventNames, NamesOfTheBufferAreOverwrittenByTheNextCall)
{
    std::string first = GetEventName(2, 1);
    const char* again = GetEventName(2, 2);
    EXPECT_EQ(first, "Alarm Event for alarm 1");
    EXPECT_STREQ(again, "Alarm Event for alarm 2");
}

}  // namespace

namespace {

const char* EventNamesTest_LongObjectName(int32_t)
{
    static const std::string name(1000, 'o');
    return name.c_str();
}

const char* EventNamesTest_ObjectName(int32_t) { return "obj_wall"; }
bool EventNamesTest_ObjectExists(int32_t index) { return index == 3; }
bool EventNamesTest_AnyObjectExists(int32_t) { return true; }

TEST(EventNames, CollisionNamesTheOtherObjectWithinTheBuffer)
{
    WorldAccess world = *World_Access();
    world.objectName = EventNamesTest_ObjectName;
    world.objectExists = EventNamesTest_ObjectExists;
    const WorldAccess* before = World_SetAccess(&world);
    EXPECT_STREQ(GetEventName(4, 3), "Collision Event with obj_wall");
    EXPECT_STREQ(GetEventName(4, 9), "Collision Event with <undefined>");

    world.objectName = EventNamesTest_LongObjectName;
    world.objectExists = EventNamesTest_AnyObjectExists;
    const std::string name = GetEventName(4, 0);
    EXPECT_EQ(name.size(), 511u);
    EXPECT_EQ(name.rfind("Collision Event with ooo", 0), 0u);
    World_SetAccess(before);
}

}  // namespace
