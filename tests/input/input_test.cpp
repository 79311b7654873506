// Keyboard and mouse state: handler calls between steps and what each step's latch shows the game, the
// accessors and their bounds, and the record/playback file.
#include "input/input.h"

#include "core/memory_manager.h"
#include "core/text.h"
#include "core/value.h"
#include "core/variables.h"
#include "test_support.h"
#include "world/builtin_variables.h"
#include "world/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The game side in short: only what is set, in a fixed order.
std::string Describe()
{
    const InputState& s = g_InputState;
    std::ostringstream out;
    auto list = [&](const char* name, const uint8_t* bytes, int n) {
        std::string items;
        for (int i = 0; i < n; ++i)
            if (bytes[i]) items += (items.empty() ? "" : ",") + std::to_string(i);
        if (!items.empty()) out << name << '{' << items << "} ";
    };
    if (s.key) out << "key=" << s.key << ' ';
    if (s.lastKey) out << "last=" << s.lastKey << ' ';
    if (s.lastChar) out << "char=" << s.lastChar << ' ';
    if (s.keyboardString[0]) out << "str=" << IO_GetKeyboardString() << ' ';
    list("down", s.keyDown, 256);
    list("pressed", s.keyPressed, 256);
    list("released", s.keyReleased, 256);
    if (s.mouseButton[0]) out << "mb=" << s.mouseButton[0] << ' ';
    if (s.mouseLastButton[0]) out << "mlast=" << s.mouseLastButton[0] << ' ';
    list("bdown", s.buttonDown[0], 3);
    list("bpressed", s.buttonPressed[0], 3);
    list("breleased", s.buttonReleased[0], 3);
    if (s.wheelUp[0]) out << "wup ";
    if (s.wheelDown[0]) out << "wdown ";
    std::string text = out.str();
    if (!text.empty()) text.pop_back();
    return text;
}

// Runs handler calls; "|" is a step. kd65 key down, kr65 repeated key down, ku65 key up, c97 a character,
// md1 / mu1 a button at (7, 9), wu / wd the wheel, map65=300 a keyboard map entry. Returns each step's
// description.
std::vector<std::string> Play(const std::string& script)
{
    std::vector<std::string> steps;
    std::istringstream in(script);
    std::string t;
    while (in >> t) {
        if (t == "|") {
            IO_Update();
            steps.push_back(Describe());
        } else if (t == "wu") {
            IO_OnWheelUp();
        } else if (t == "wd") {
            IO_OnWheelDown();
        } else if (t.rfind("map", 0) == 0) {
            const size_t eq = t.find('=');
            IO_SetKeyMap(std::stoi(t.substr(3, eq - 3)), std::stoi(t.substr(eq + 1)));
        } else if (t[0] == 'c') {
            IO_OnChar(uint16_t(std::stoi(t.substr(1))));
        } else {
            const int n = std::stoi(t.substr(2));
            const std::string op = t.substr(0, 2);
            if (op == "kd") IO_OnKeyDown(n, false);
            else if (op == "kr") IO_OnKeyDown(n, true);
            else if (op == "ku") IO_OnKeyUp(n);
            else if (op == "md") IO_OnMouseDown(n, 7, 9);
            else if (op == "mu") IO_OnMouseUp(n, 7, 9);
            else ADD_FAILURE() << "bad token " << t;
        }
    }
    return steps;
}

std::string Repeat(const std::string& token, int n)
{
    std::string s;
    for (int i = 0; i < n; ++i) s += token + " ";
    return s;
}

class InputTest : public testing::Test {
protected:
    void SetUp() override
    {
        savedFlags_ = g_RunFlags;
        g_RunFlags.record = g_RunFlags.playback = false;
        g_RunFlags.recordFile = nullptr;
        IO_Init();
        IO_Update();  // the first latch synchronises the sides
    }
    void TearDown() override
    {
        IO_End();
        if (g_RunFlags.recordFile) MemFree(g_RunFlags.recordFile);
        g_RunFlags = savedFlags_;
        g_RunFlags.record = g_RunFlags.playback = false;
        IO_Init();
    }
    void UseFile(const std::string& path, bool playback)
    {
        if (g_RunFlags.recordFile) MemFree(g_RunFlags.recordFile);
        g_RunFlags.recordFile = String_Duplicate(path.c_str());
        g_RunFlags.record = !playback;
        g_RunFlags.playback = playback;
        IO_Init();
    }
    RunFlags savedFlags_{};
};
using InputLatch = InputTest;
using InputAccessors = InputTest;
using RecordPlayback = InputTest;

TEST_F(InputLatch, HandlerCallsAndTheStepsThatSeeThem)
{
    const std::string a1022(1022, 'a');
    struct Row {
        const char* name;
        std::string script;
        std::vector<std::string> steps;
    };
    const Row rows[] = {
        {"a key held over three steps: pressed in the first, released once",
         "kd39 | kr39 | kr39 | ku39 | |",
         {"key=39 last=39 down{39} pressed{39}", "key=39 last=39 down{39}", "key=39 last=39 down{39}",
          "last=39 released{39}", "last=39"}},
        {"auto-repeat within one step and after a release presses once each",
         "kd65 kr65 kr65 | kr65 ku65 kd65 |",
         {"key=65 last=65 down{65} pressed{65}", "key=65 last=65 down{65} pressed{65} released{65}"}},
        {"hold A, hold B, release B: A again; then release A: none",
         "kd65 kd66 | ku66 | ku65 |",
         {"key=66 last=66 down{65,66} pressed{65,66}", "key=65 last=66 down{65} released{66}",
          "last=66 released{65}"}},
        {"release A first, then B: no key",
         "kd65 kd66 | ku65 | ku66 |",
         {"key=66 last=66 down{65,66} pressed{65,66}", "key=66 last=66 down{66} released{65}",
          "last=66 released{66}"}},
        {"a key mapped above 255 changes nothing; a key mapped below follows the map",
         "map65=300 map66=67 kd65 kd66 | ku65 ku66 |",
         {"key=67 last=67 down{67} pressed{67}", "last=67 released{67}"}},
        {"1023 characters then one more: the last character, then the new one",
         Repeat("c97", 1022) + "c98 | c99 |",
         {"char=98 str=" + a1022 + "b", "char=99 str=bc"}},
        {"backspace on an empty string, then after two characters",
         "c8 | c120 c121 c8 | c8 c8 |",
         {"char=8", "char=8 str=x", "char=8"}},
        {"control characters are not stored; their code is the last character",
         "c65 c13 c9 |", {"char=9 str=A"}},
        {"a click completed between two steps shows released only",
         "md1 mu1 | |", {"mlast=1 breleased{0}", "mlast=1"}},
        {"a button held over two steps, then released",
         "md2 | | mu2 |", {"mb=2 mlast=2 bdown{1} bpressed{1}", "mb=2 mlast=2 bdown{1}", "mlast=2 breleased{1}"}},
        {"the wheel is set for one step",
         "wu | wd wu | |", {"wup", "wup wdown", ""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        IO_Clear();
        IO_ResetKeyMap();
        IO_Update();
        EXPECT_EQ(Play(row.script), row.steps);
    }
}

TEST_F(InputLatch, ThePointerFollowsTheLeftButtonAndTheLatch)
{
    g_PointerStates[0] = {0, 0, 0, 5, 77};
    IO_OnMouseDown(2, 1, 2);
    EXPECT_EQ(g_PointerStates[0].flags, 0u);
    IO_OnMouseDown(1, 30, 40);
    EXPECT_EQ(g_PointerStates[0].flags, 0x80000003u);
    EXPECT_EQ(g_PointerStates[0].x, 30);
    EXPECT_EQ(g_PointerStates[0].eventField, 0);
    EXPECT_EQ(g_PointerStates[0].unused, 5);
    IO_RawMouse = {50, 60};
    g_PointerStates[0].eventField = 9;
    IO_Update();
    EXPECT_EQ(g_PointerStates[0].flags, 0x80000003u);
    EXPECT_EQ(g_PointerStates[0].x, 50);
    EXPECT_EQ(g_PointerStates[0].y, 60);
    EXPECT_EQ(g_PointerStates[0].eventField, 0);
    EXPECT_EQ(IO_DeviceMouse[0].x, 50);
    EXPECT_EQ(g_InputState.mouseY, 60);
    IO_OnMouseUp(1, 31, 41);
    EXPECT_EQ(g_PointerStates[0].flags, 0u);
    EXPECT_EQ(g_PointerStates[0].x, 31);
}

// ---- accessors ---------------------------------------------------------------------------------------------

TEST_F(InputAccessors, BoundsBothSidesAndClears)
{
    // Device 3 stands in for the devices only a save or a file feeds; every set byte must read back.
    InputState& s = g_InputState;
    s.keyDown[65] = s.keyPressed[66] = s.keyReleased[67] = 1;
    s.buttonDown[3][0] = s.buttonPressed[3][1] = s.buttonReleased[3][2] = 1;
    s.wheelUp[3] = s.wheelDown[9] = 1;
    s.mouseButton[9] = 2;
    s.mouseLastButton[3] = 3;
    struct Read {
        const char* name;
        int32_t got, want;
    };
    const Read reads[] = {
        {"down 65", IO_KeyDown(65), 1},
        {"pressed 66", IO_KeyPressed(66), 1},
        {"released 67", IO_KeyReleased(67), 1},
        {"down 66", IO_KeyDown(66), 0},
        {"down 256", IO_KeyDown(256), 0},
        {"pressed 256", IO_KeyPressed(256), 0},
        {"released -1", IO_KeyReleased(-1), 0},
        {"button 1 device 3", IO_MouseDown(1, 3), 1},
        {"pressed 2 device 3", IO_MousePressed(2, 3), 1},
        {"released 3 device 3", IO_MouseReleased(3, 3), 1},
        {"button 0", IO_MouseDown(0, 3), 0},
        {"button 4", IO_MousePressed(4, 3), 0},
        {"device -1", IO_MouseDown(1, -1), 0},
        {"device 10", IO_MouseReleased(3, 10), 0},
        {"wheel up 3", IO_WheelUp(3), 1},
        {"wheel down 9", IO_WheelDown(9), 1},
        {"wheel up 10", IO_WheelUp(10), 0},
        {"wheel down -1", IO_WheelDown(-1), 0},
        {"mouse_button 9", IO_MouseButton(9), 2},
        {"mouse_button 10", IO_MouseButton(10), 0},
        {"mouse_lastbutton 3", IO_MouseLastButton(3), 3},
        {"mouse_lastbutton -1", IO_MouseLastButton(-1), 0},
        {"map 300", IO_MapKey(300), 300},
        {"map -5", IO_MapKey(-5), -5},
        {"map 65", IO_MapKey(65), 65},
    };
    for (const Read& r : reads) EXPECT_EQ(r.got, r.want) << r.name;

    // Writes out of range are ignored.
    IO_SetMouseButton(2, 10);
    IO_SetMouseButton(4, 0);
    IO_SetMouseLastButton(0, 0);
    IO_SetMouseLastButton(1, -1);
    IO_SetCurrentKey(256);
    IO_SetCurrentKey(-1);
    IO_SetKeyMap(256, 1);
    IO_SetKeyMap(-1, 1);
    IO_KeyClear(256);
    IO_MouseClear(4, 3);
    IO_MouseClear(1, 10);
    EXPECT_EQ(IO_MouseButton(0), 0);
    EXPECT_EQ(IO_MouseLastButton(0), 0);
    EXPECT_EQ(IO_GetCurrentKey(), 0);
    EXPECT_TRUE(IO_MouseDown(1, 3));

    // Clearing one key or button reaches the window side too, so the next latch does not bring it back.
    IO_OnKeyDown(70, false);
    IO_OnMouseDown(1, 0, 0);
    IO_Update();
    IO_KeyClear(70);
    IO_MouseClear(1, 0);
    IO_MouseClear(1, 3);
    EXPECT_FALSE(IO_MouseDown(1, 3));
    IO_Update();
    EXPECT_FALSE(IO_KeyDown(70));
    EXPECT_FALSE(IO_MouseDown(1, 0));
    EXPECT_FALSE(IO_KeyDown(65)) << "the latch copies key down whole; 65 was only on the game side";

    // keyboard_lastkey on both sides; the held key is dropped from the window side.
    IO_OnKeyDown(71, false);
    IO_SetLastKey(0);
    EXPECT_EQ(IO_PendingLastKey(), 0);
    IO_Update();
    EXPECT_EQ(IO_GetLastKey(), 0);
    EXPECT_EQ(IO_GetCurrentKey(), 0);
    EXPECT_TRUE(IO_KeyDown(71));
    IO_SetLastChar(0x20AC);
    IO_Update();
    EXPECT_EQ(IO_GetLastChar(), 0x20AC);

    IO_OnMouseDown(3, 0, 0);
    EXPECT_EQ(IO_PendingLastButton(), 3);
    IO_ClearLastButton();
    EXPECT_EQ(IO_PendingLastButton(), 0);

    IO_ClearKeys();
    IO_Update();
    EXPECT_FALSE(IO_KeyDown(71));
    EXPECT_EQ(IO_GetLastChar(), 0);
}

TEST_F(InputAccessors, KeyboardCheck)
{
    struct Row {
        int32_t key;
        bool noneHeld, aHeld;  // with no key held, and with A (65) held
    };
    const Row rows[] = {{0, true, false}, {1, false, true}, {2, false, false}, {65, false, true},
                        {66, false, false}, {255, false, false}, {-1, false, false}, {256, false, false}};
    for (bool held : {false, true}) {
        IO_ClearKeys();
        if (held) IO_OnKeyDown(65, false);
        IO_Update();
        for (const Row& r : rows) EXPECT_EQ(Keyboard_Check(r.key), held ? r.aHeld : r.noneHeld) << r.key;
    }
    // Key 0 held counts as some key held; 256 is never a key.
    IO_ClearKeys();
    IO_OnKeyDown(0, false);
    IO_Update();
    EXPECT_FALSE(Keyboard_Check(0));
    EXPECT_TRUE(Keyboard_Check(1));
}

TEST_F(InputAccessors, KeyboardStringTakesAnyTextWithoutReadingPastIt)
{
    struct Row {
        const char* name;
        std::string text;
        std::string want;
    };
    const std::string many(1030, 'z');
    const Row rows[] = {
        {"plain", "abc", "abc"},
        {"two- and three-byte characters", "\xC3\xA9\xE2\x82\xAC", "\xC3\xA9\xE2\x82\xAC"},
        {"more than 1024 characters keeps 1024", many, std::string(1024, 'z')},
        {"a lead byte cut by the end", "ab\xE2\x82", "ab\xE2\x82\x80"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        IO_SetKeyboardString(r.text.c_str());
        EXPECT_EQ(std::string(IO_GetKeyboardString()), r.want);
        EXPECT_EQ(g_KeyboardStringLength, UTF8_Length(r.want.c_str()));
        // The window side has it too: the next latch keeps it.
        IO_Update();
        EXPECT_EQ(std::string(IO_GetKeyboardString()), r.want);
    }
    // A 4-byte sequence decodes as the engine decodes texts and never runs past the end.
    IO_SetKeyboardString("\xF0\x9F\x98\x80");
    EXPECT_LE(std::strlen(IO_GetKeyboardString()), 6u);
    IO_SetKeyboardString(nullptr);
    EXPECT_STREQ(IO_GetKeyboardString(), "");
    EXPECT_EQ(g_KeyboardStringLength, 0);
    // Typing on after a full string restarts it rather than overflowing.
    IO_SetKeyboardString(many.c_str());
    IO_OnChar('q');
    IO_Update();
    EXPECT_STREQ(IO_GetKeyboardString(), "zq");
}

TEST_F(InputAccessors, BuiltInVariablesReadAndWriteThroughThem)
{
    if (Variable_BuiltIn_Find("keyboard_key") < 0) InitVariables();
    auto read = [](const char* name) {
        RValue out;
        RValue_SetUndefined(&out);
        EXPECT_TRUE(Variable_GetValue_Direct(nullptr, Variable_BuiltIn_Find(name), ARRAY_INDEX_NONE, &out));
        std::string text = RValue_Kind(&out) == VALUE_STRING  ? std::string(out.str->text)
                           : RValue_Kind(&out) == VALUE_INT32 ? std::to_string(out.v32)
                                                              : std::to_string(int32_t(out.real));
        RValue_Free(&out);
        return text;
    };
    auto write = [](const char* name, RValue value) {
        EXPECT_TRUE(Variable_SetValue_Direct(nullptr, Variable_BuiltIn_Find(name), ARRAY_INDEX_NONE, &value));
        RValue_Free(&value);
    };
    auto real = [](double v) {
        RValue r;
        RValue_SetReal(&r, v);
        return r;
    };
    auto text = [](const char* t) {
        RValue r;
        RValue_CreateString(&r, t);
        return r;
    };
    IO_OnKeyDown(65, false);
    IO_OnChar(0xE9);
    IO_OnMouseDown(2, 0, 0);
    IO_Update();
    EXPECT_EQ(read("keyboard_key"), "65");
    EXPECT_EQ(read("keyboard_lastkey"), "65");
    EXPECT_EQ(read("keyboard_lastchar"), "\xC3\xA9");
    EXPECT_EQ(read("keyboard_string"), "\xC3\xA9");
    EXPECT_EQ(read("mouse_button"), "2");
    EXPECT_EQ(read("mouse_lastbutton"), "2");
    write("keyboard_key", real(66));
    write("keyboard_string", text("hi"));
    write("keyboard_lastchar", text("x"));
    write("mouse_button", real(3));
    EXPECT_EQ(IO_GetCurrentKey(), 66);
    EXPECT_STREQ(IO_GetKeyboardString(), "hi");
    EXPECT_EQ(IO_GetLastChar(), 'x');
    EXPECT_EQ(IO_MouseButton(0), 3);
    // The string and the last character were given to the window side, the held key and button were not.
    IO_Update();
    EXPECT_STREQ(IO_GetKeyboardString(), "hi");
    EXPECT_EQ(IO_GetLastChar(), 'x');
    EXPECT_EQ(IO_GetCurrentKey(), 65);
    EXPECT_EQ(IO_MouseButton(0), 2);
}

// ---- record and playback ------------------------------------------------------------------------------------

// Step i's handler calls: a rolling mix of keys, repeats, characters (one outside the 16-bit range as two
// units), buttons and the wheel, and a moving mouse.
void ScriptedStep(int i)
{
    IO_RawMouse = {i * 3, 200 - i};
    switch (i % 7) {
    case 0: IO_OnKeyDown(37 + i % 4, false); break;
    case 1: IO_OnKeyDown(37 + (i - 1) % 4, true); IO_OnChar(uint16_t('a' + i % 26)); break;
    case 2: IO_OnKeyUp(37 + (i - 2) % 4); IO_OnMouseDown(1 + i % 3, i, i); break;
    case 3: IO_OnWheelUp(); IO_OnChar(0xD83D); IO_OnChar(0xDE00); break;
    case 4: IO_OnMouseUp(1 + (i - 2) % 3, i, i); IO_OnChar(8); break;
    case 5: IO_OnWheelDown(); IO_OnChar(0xE9); break;
    default: IO_OnMouseDown(1, 5, 6); IO_OnMouseUp(1, 5, 6); break;
    }
}

TEST_F(RecordPlayback, HundredStepsRecordedParsedAndPlayedBack)
{
    const std::string dir = kvtest::ScratchDir() + "/record";
    std::filesystem::create_directories(dir);
    const std::string file = dir + "/run \xC3\xA9.rec";
    const std::string log = dir + "/fields.txt";

    UseFile(file, false);
    std::vector<std::vector<uint8_t>> frames;
    std::ostringstream fields;
    for (int i = 0; i < 100; ++i) {
        ScriptedStep(i);
        IO_Update();
        std::vector<uint8_t> frame(IO_FRAME_BYTES);
        IO_EncodeFrame(frame.data());
        frames.push_back(frame);
        // What the reader of the file must find in this step's frame.
        const InputState& s = g_InputState;
        std::string pressed, down;
        for (int k = 0; k < 256; ++k) {
            if (s.keyPressed[k]) pressed += (pressed.empty() ? "" : ",") + std::to_string(k);
            if (s.keyDown[k]) down += (down.empty() ? "" : ",") + std::to_string(k);
        }
        std::string units;
        for (int u = 0; s.keyboardString[u]; ++u) units += (units.empty() ? "" : ",") + std::to_string(s.keyboardString[u]);
        fields << i << " lastchar=" << s.lastChar << " lastkey=" << s.lastKey << " key=" << s.key
               << " down=" << down << " pressed=" << pressed << " mb=" << s.mouseButton[0]
               << " mlast=" << s.mouseLastButton[0] << " bdown=" << int(s.buttonDown[0][0]) << int(s.buttonDown[0][1])
               << int(s.buttonDown[0][2]) << " breleased=" << int(s.buttonReleased[0][0])
               << int(s.buttonReleased[0][1]) << int(s.buttonReleased[0][2]) << " wheel=" << int(s.wheelUp[0])
               << int(s.wheelDown[0]) << " mouse=" << s.mouseX << ',' << s.mouseY << " string=" << units << "\n";
    }
    // Flushed per frame: all of it is there before the file is closed.
    EXPECT_EQ(std::filesystem::file_size(file), 100u * 3034u);
    IO_End();
    EXPECT_EQ(std::filesystem::file_size(file), 303400u);
    kvtest::WriteFile(log, fields.str());

    const std::string command = kvtest::ShellQuote(kvtest::Python()) + " " +
                                kvtest::ShellQuote(kvtest::SourceDir() + "/tests/input/parse_record.py") + " " +
                                kvtest::ShellQuote(file) + " " + kvtest::ShellQuote(log) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << output;
    EXPECT_EQ(output, "100 frames match\n");

    // Played back, with other input arriving at the window: the game sees only the file.
    IO_Clear();
    UseFile(file, true);
    for (int i = 0; i < 100; ++i) {
        IO_OnKeyDown(90, false);
        IO_OnMouseDown(3, 1, 1);
        IO_Update();
        std::vector<uint8_t> frame(IO_FRAME_BYTES);
        IO_EncodeFrame(frame.data());
        ASSERT_EQ(frame, frames[i]) << "step " << i;
    }
    // After the end: the last frame stays, less what lasts one step.
    const InputState last = g_InputState;
    for (int extra = 0; extra < 3; ++extra) {
        IO_Update();
        InputState want = last;
        std::memset(want.keyPressed, 0, sizeof want.keyPressed);
        std::memset(want.keyReleased, 0, sizeof want.keyReleased);
        std::memset(want.buttonPressed, 0, sizeof want.buttonPressed);
        std::memset(want.buttonReleased, 0, sizeof want.buttonReleased);
        std::memset(want.wheelUp, 0, sizeof want.wheelUp);
        std::memset(want.wheelDown, 0, sizeof want.wheelDown);
        std::vector<uint8_t> got(IO_FRAME_BYTES), expected(IO_FRAME_BYTES);
        IO_EncodeFrame(got.data());
        g_InputState = want;
        IO_EncodeFrame(expected.data());
        EXPECT_EQ(got, expected) << "extra step " << extra;
    }
}

TEST_F(RecordPlayback, DamagedFiles)
{
    const std::string dir = kvtest::ScratchDir() + "/damaged";
    std::filesystem::create_directories(dir);
    std::vector<uint8_t> frame(IO_FRAME_BYTES, 0);
    // One whole frame: every flag byte 7, a string of 1025 'x' units with no end, key 65 held.
    for (int u = 0; u < 1025; ++u) {
        frame[2 + 2 * u] = 'x';
    }
    for (int b = 2060; b < 2828; ++b) frame[b] = 7;
    frame[2056] = 65;
    for (int b = 2908; b < 3018; ++b) frame[b] = 200;
    std::string whole(frame.begin(), frame.end());

    struct Row {
        const char* name;
        std::string bytes;
        int steps;  // frames applied
    };
    const Row rows[] = {
        {"empty: no input", "", 0},
        {"a partial frame is the end", whole.substr(0, 3000), 0},
        {"one frame and a partial one", whole + whole.substr(0, 100), 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string path = dir + "/f.rec";
        kvtest::WriteFile(path, r.bytes);
        IO_Clear();
        UseFile(path, true);
        IO_OnKeyDown(80, false);
        IO_Update();
        if (r.steps == 0) {
            EXPECT_EQ(Describe(), "") << "the window side is never latched in playback";
            continue;
        }
        EXPECT_EQ(g_InputState.keyDown[3], 1) << "bytes other than 0 and 1 read as 1";
        EXPECT_EQ(g_InputState.keyPressed[3], 1);
        EXPECT_EQ(g_InputState.buttonDown[9][2], 1);
        EXPECT_EQ(g_InputState.wheelDown[9], 1);
        EXPECT_EQ(g_InputState.keyboardString[1024], 0);
        EXPECT_EQ(g_KeyboardStringLength, 1024);
        EXPECT_EQ(std::string(IO_GetKeyboardString()), std::string(1024, 'x'));
        EXPECT_EQ(IO_GetCurrentKey(), 65);
        // Typing after such a frame stays in bounds.
        IO_OnChar('y');
        IO_Update();
        EXPECT_EQ(g_InputState.keyPressed[3], 0);
        EXPECT_EQ(g_InputState.keyDown[3], 1);
    }
}

TEST_F(RecordPlayback, AFileThatCannotBeOpenedIsNamedOnceAndTheModeStays)
{
    kvtest::RecordingConsole console;
    tagIConsole* saved = DebugConsole;
    DebugConsole = &console;
    const std::string missing = kvtest::ScratchDir() + "/no/such/folder/in.rec";
    for (bool playback : {true, false}) {
        console.text.clear();
        UseFile(missing, playback);
        IO_OnKeyDown(65, false);
        IO_Update();
        EXPECT_EQ(IO_KeyDown(65), !playback) << "playback without a file sees no input";
        EXPECT_EQ(std::count(console.text.begin(), console.text.end(), '\n'), 1) << console.text;
        EXPECT_NE(console.text.find(missing), std::string::npos) << console.text;
        IO_ClearKeys();
    }
    DebugConsole = saved;
    EXPECT_FALSE(std::filesystem::exists(missing));
}

}  // namespace
