// Hostile values through every writable built-in variable of an instance in a running room: NaN,
// infinities, huge reals, reals just past the int32 range, strings, an array and undefined, at indexes
// outside every clamp. Each write and each read must stay defined behaviour, answer as its kind of
// variable answers, leave the other slots of indexed variables alone and keep the room's lists whole;
// text variables stay text. Run under the sanitizers by the sanitize stage.
// argument0 ... argument15 share one setter that grows an array out to the index written: at INT32_MAX
// only argument15 is written, with one value of each kind, since each such write builds a 67,108-row array.
#include "world_harness.h"

#include "core/console.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/text.h"
#include "core/variables.h"
#include "draw/draw.h"
#include "input/input.h"
#include "layers/layers.h"
#include "physics/physics.h"
#include "platform/messages.h"
#include "world/builtin_variables.h"
#include "world/frame_timer.h"
#include "world/loader.h"
#include "world/run_state.h"
#include "world/step.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <string>

namespace builtinvarstest {

using worldtest::GameDef;
using worldtest::Mode;
using worldtest::ObjectDef;
using worldtest::Op;

struct QuietConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};

enum class Kind { Real, String, Array, Undefined };
struct HostileValue {
    const char* name;
    Kind kind;
    double real;
    const char* text;
};
// 1,500 characters of three bytes each: past the 1,024 characters keyboard_string keeps.
const std::string kLongText = [] {
    std::string t;
    for (int k = 0; k < 1500; ++k) t += "\xE2\x82\xAC";
    return t;
}();
// keyboard_string keeps 1,024 16-bit characters: a text reads back as the engine decodes it, a character
// cut by the end included.
std::string KeyboardStringForm(const std::string& text)
{
    std::string out;
    const char* p = text.c_str();
    for (int n = 0; n < 1024 && *p; ++n) {
        char bytes[4] = {};
        char* cursor = bytes;
        UTF8_PutChar(&cursor, UTF8_GetChar(&p));
        out.append(bytes, size_t(cursor - bytes));
    }
    return out;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const HostileValue kValues[] = {
    {"NaN", Kind::Real, kNaN, nullptr},
    {"+inf", Kind::Real, kInf, nullptr},
    {"-inf", Kind::Real, -kInf, nullptr},
    {"+1e300", Kind::Real, 1e300, nullptr},
    {"-1e300", Kind::Real, -1e300, nullptr},
    {"2^31", Kind::Real, 2147483648.0, nullptr},
    {"-2^31-1", Kind::Real, -2147483649.0, nullptr},
    {"string past double range", Kind::String, 0.0, "1e999"},
    {"string cut inside a character", Kind::String, 0.0, "\xF0\x9F"},
    {"string of 1500 characters", Kind::String, 0.0, kLongText.c_str()},
    {"array of NaN and a second row", Kind::Array, 0.0, nullptr},
    {"undefined", Kind::Undefined, 0.0, nullptr},
};

struct HostileIndex {
    const char* name;
    int32_t index;
};
const HostileIndex kIndexes[] = {
    {"-1", -1},
    {"8", 8},
    {"12", 12},
    {"INT32_MAX", INT32_MAX},
    {"unindexed", ARRAY_INDEX_NONE},
    {"row 1 column 3", 1 * ARRAY_INDEX_STRIDE + 3},
};

// At INT32_MAX, the one array-growing argument written and the values written to it.
const std::string kHugeIndexArgument = "argument15";
const std::set<std::string> kHugeIndexValues = {"NaN", "string of 1500 characters",
                                                "array of NaN and a second row", "undefined"};
bool GrowsAnArray(const std::string& name)
{
    return name.size() > 8 && name.rfind("argument", 0) == 0 && name[8] >= '0' && name[8] <= '9';
}
bool SkipsHugeWrite(const std::string& name, const HostileValue& v, const HostileIndex& at)
{
    if (at.index != INT32_MAX || !GrowsAnArray(name)) return false;
    return name != kHugeIndexArgument || !kHugeIndexValues.count(v.name);
}

// Plain: no body, no world, the room speed in use. Physics: the instance has a body and the room a world.
// Frame timer: a newer-format game, whose speed lives in the game timer.
enum class Rig { Plain, Physics, FrameTimer };
const char* RigName(Rig s)
{
    return s == Rig::Plain ? "plain" : s == Rig::Physics ? "physics" : "frame timer";
}

// Reads that may hand out any kind of value; the texts; everything else reads as a real.
const std::set<std::string> kAnyKind = {
    "argument",  "argument0",  "argument1",  "argument2",  "argument3",  "argument4",       "argument5",
    "argument6", "argument7",  "argument8",  "argument9",  "argument10", "argument11",      "argument12",
    "argument13", "argument14", "argument15", "pointer_invalid", "pointer_null", "undefined", "null"};
const std::set<std::string> kTexts = {
    "room_caption",      "keyboard_string",   "keyboard_lastchar", "caption_score",     "caption_lives",
    "caption_health",    "error_last",        "game_guid",         "game_display_name", "game_project_name",
    "game_save_id",      "working_directory", "temp_directory",    "program_directory"};
// Texts a string write stores (keyboard_string its first 1,024 characters).
const std::set<std::string> kTakesText = {"room_caption",  "keyboard_string", "caption_score",
                                          "caption_lives", "caption_health",  "error_last"};
// Contact points exist only during a physics collision event: outside one these reads fail.
const std::set<std::string> kContacts = {"phy_collision_x", "phy_collision_y", "phy_col_normal_x",
                                         "phy_col_normal_y"};

constexpr int32_t kArgs = 16;

// Distinct contents for background and view slots 1 to 7, which no write in the table may reach.
RoomBackground SentinelBackground(int32_t s)
{
    RoomBackground b;
    b.visible = true;
    b.foreground = true;
    b.index = 100 + s;
    b.x = float(200 + s);
    b.y = float(300 + s);
    b.htiled = false;
    b.vtiled = false;
    b.hspeed = float(400 + s);
    b.vspeed = float(500 + s);
    b.xscale = float(600 + s);
    b.yscale = float(700 + s);
    b.blend = 800 + s;
    b.alpha = float(900 + s);
    return b;
}
bool SameBackground(const RoomBackground& a, const RoomBackground& b)
{
    return a.visible == b.visible && a.foreground == b.foreground && a.index == b.index && a.x == b.x && a.y == b.y &&
           a.htiled == b.htiled && a.vtiled == b.vtiled && a.hspeed == b.hspeed && a.vspeed == b.vspeed &&
           a.xscale == b.xscale && a.yscale == b.yscale && a.blend == b.blend && a.alpha == b.alpha;
}
CView SentinelView(int32_t s)
{
    CView v;
    v.visible = true;
    v.x = float(100 + s);
    v.y = float(200 + s);
    v.width = float(300 + s);
    v.height = float(400 + s);
    v.portX = 500 + s;
    v.portY = 600 + s;
    v.portWidth = 700 + s;
    v.portHeight = 800 + s;
    v.angle = float(900 + s);
    v.borderX = 1000 + s;
    v.borderY = 1100 + s;
    v.speedX = 1200 + s;
    v.speedY = 1300 + s;
    v.targetObject = 1400 + s;
    v.surfaceId = 1500 + s;
    v.cameraId = 1600 + s;
    return v;
}
bool SameView(const CView& a, const CView& b)
{
    return a.visible == b.visible && a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height &&
           a.portX == b.portX && a.portY == b.portY && a.portWidth == b.portWidth && a.portHeight == b.portHeight &&
           a.angle == b.angle && a.borderX == b.borderX && a.borderY == b.borderY && a.speedX == b.speedX &&
           a.speedY == b.speedY && a.targetObject == b.targetObject && a.surfaceId == b.surfaceId &&
           a.cameraId == b.cameraId;
}

// Sprites 0 to 3, so that the box and the sprite measures run on what was written; sprite 3 is skeletal.
bool HostileSpriteFacts(int32_t index, SpriteFacts* out)
{
    if (index < 0 || index > 3) return false;
    *out = SpriteFacts{};
    out->frameCount = index + 1;
    out->kind = index == 3 ? 2 : 0;
    out->width = 32;
    out->height = 24;
    out->xOrigin = 16;
    out->yOrigin = 12;
    out->bboxLeft = 2;
    out->bboxTop = 3;
    out->bboxRight = 29;
    out->bboxBottom = 20;
    return true;
}

class BuiltinVarsHostileTest : public worldtest::WorldHarness {
protected:
    BuiltinVarsHostileTest()
    {
        for (RValue& a : args_) RValue_SetUndefined(&a);
    }
    void SetUp() override
    {
        WorldHarness::SetUp();
        SaveGlobals();
        registryWasEmpty_ = Variable_BuiltIn_Count() == 0;
        InitVariables();
        GameDef game;
        // Object 0 answers No More Lives and No More Health, which the lives and health writes perform.
        ObjectDef watcher;
        watcher.name = "obj_watcher";
        watcher.events = {{7, 6, {{Op::Record, 6}}}, {7, 9, {{Op::Record, 9}}}};
        ObjectDef plain;
        plain.name = "obj_plain";
        game.objects = {watcher, plain};
        ASSERT_TRUE(Load(game, Mode::Bytecode));
        oldFacts_ = Sprite_SetFactsSource(HostileSpriteFacts);
        DebugConsole = ReleaseConsole = &quiet_;
        SeamTrace_Enable(false);  // hundreds of thousands of seam calls would only fill the trace
        ResetReports();
        target_ = Make(0, 16.0f, 24.0f);
        made_ = {target_, Make(1, -8.0f, 40.0f), Make(0, 300.0f, -2.0f)};
        ResetArguments();
        VM_Args = args_;
        VM_ArgCount = kArgs;
    }
    void TearDown() override
    {
        if (target_) target_->physicsObject = nullptr;
        for (RValue& a : args_) RValue_Free(&a);
        RestoreGlobals();
        Sprite_SetFactsSource(oldFacts_);
        if (registryWasEmpty_) Variable_BuiltIn_Free();
        WorldHarness::TearDown();
    }

    // Everything the variables reach outside the room, as the test found it.
    void SaveGlobals()
    {
        saved_.score = g_Score;
        saved_.lives = g_Lives;
        saved_.health = g_Health;
        saved_.showScore = g_ShowScore;
        saved_.showLives = g_ShowLives;
        saved_.showHealth = g_ShowHealth;
        saved_.captionsSet = g_CaptionsSet;
        saved_.captions[0] = g_CaptionScore;
        saved_.captions[1] = g_CaptionLives;
        saved_.captions[2] = g_CaptionHealth;
        for (RefString* c : saved_.captions)
            if (c) ++c->refCount;
        saved_.transitionKind = g_TransitionKind;
        saved_.cursorSprite = g_CursorSprite;
        saved_.keyboardString = IO_GetKeyboardString();
        saved_.currentKey = IO_GetCurrentKey();
        saved_.lastKey = IO_GetLastKey();
        saved_.lastChar = IO_GetLastChar();
        saved_.mouseButton = IO_MouseButton(0);
        saved_.mouseLastButton = IO_MouseLastButton(0);
        saved_.args = VM_Args;
        saved_.argCount = VM_ArgCount;
        saved_.newMode = g_GameData.newMode;
        saved_.timer = g_GameTimer;
        saved_.running = g_Running;
        saved_.debug = DebugConsole;
        saved_.release = ReleaseConsole;
        saved_.seamTrace = SeamTrace_Enabled();
        saved_.taken = true;
    }
    void RestoreGlobals()
    {
        if (!saved_.taken) return;
        g_Score = saved_.score;
        g_Lives = saved_.lives;
        g_Health = saved_.health;
        g_ShowScore = saved_.showScore;
        g_ShowLives = saved_.showLives;
        g_ShowHealth = saved_.showHealth;
        g_CaptionsSet = saved_.captionsSet;
        RestoreCaptions();
        for (RefString*& c : saved_.captions) {
            RefString::ReleaseChecked(c);
            c = nullptr;
        }
        g_TransitionKind = saved_.transitionKind;
        g_CursorSprite = saved_.cursorSprite;
        RoomChangeCode = ROOM_CHANGE_NONE;
        IO_Clear();
        IO_SetKeyboardString(saved_.keyboardString.c_str());
        IO_SetCurrentKey(saved_.currentKey);
        IO_SetLastKey(saved_.lastKey);
        IO_SetLastChar(saved_.lastChar);
        IO_SetMouseButton(saved_.mouseButton, 0);
        IO_SetMouseLastButton(saved_.mouseLastButton, 0);
        VM_Args = saved_.args;
        VM_ArgCount = saved_.argCount;
        g_GameData.newMode = saved_.newMode;
        g_GameTimer = saved_.timer;
        // A fatal report posts a quit; taking it here keeps it from ending a later test's loop.
        ProcessMessages();
        g_Running = saved_.running;
        DebugConsole = saved_.debug;
        ReleaseConsole = saved_.release;
        SeamTrace_Enable(saved_.seamTrace);
        Error_ResetState();
    }
    // The captions back to the texts saved, each with one reference held by the module again.
    void RestoreCaptions()
    {
        RefString** live[] = {&g_CaptionScore, &g_CaptionLives, &g_CaptionHealth};
        for (int k = 0; k < 3; ++k) {
            if (saved_.captions[k]) ++saved_.captions[k]->refCount;
            RefString::ReleaseChecked(*live[k]);
            *live[k] = saved_.captions[k];
        }
    }

    // Every report of a write or read starts from a reporter that has not aborted, with no dialog.
    static void ResetReports()
    {
        Error_ResetState();
        g_ShowErrorDialogs = false;
        RoomChangeCode = ROOM_CHANGE_NONE;
    }

    void ResetArguments()
    {
        for (int32_t i = 0; i < kArgs; ++i) {
            RValue_Free(&args_[i]);
            RValue_SetReal(&args_[i], i);
        }
    }

    static void MakeValue(const HostileValue& v, RValue* out)
    {
        RValue_SetUndefined(out);
        switch (v.kind) {
        case Kind::Real: RValue_SetReal(out, v.real); break;
        case Kind::String: RValue_CreateString(out, v.text); break;
        case Kind::Array: {
            RValue item;
            RValue_SetReal(&item, kNaN);
            RValue_SetWithIndex(out, &item, 0);
            RValue_SetUndefined(&item);
            RValue_CreateString(&item, "row one");
            RValue_SetWithIndex(out, &item, ARRAY_INDEX_STRIDE + 2);
            RValue_Free(&item);
            break;
        }
        case Kind::Undefined: break;
        }
    }

    void EnterRig(Rig s)
    {
        if (s == Rig::Physics) {
            body_ = CPhysicsObject();
            target_->physicsObject = &body_;
            room_->physicsWorld = new CPhysicsWorld(0.1f, 30);
        }
        if (s == Rig::FrameTimer) {
            g_GameData.newMode = true;
            FrameTimer_SetFPS(&g_GameTimer, 30.0);
        }
    }
    void LeaveRig(Rig s)
    {
        if (s == Rig::Physics) {
            target_->physicsObject = nullptr;
            delete room_->physicsWorld;
            room_->physicsWorld = nullptr;
        }
        if (s == Rig::FrameTimer) {
            g_GameData.newMode = saved_.newMode;
            g_GameTimer = saved_.timer;
        }
        room_->speed = 30;
    }

    static bool IsPhysics(const std::string& name) { return name.rfind("phy_", 0) == 0; }

    // What a read answers and what kind it delivers.
    void CheckRead(Rig s, const std::string& name, bool ok, const RValue& out)
    {
        const bool wantOk = IsPhysics(name) ? s == Rig::Physics && !kContacts.count(name) : true;
        EXPECT_EQ(ok, wantOk) << "read of " << name;
        if (!ok || kAnyKind.count(name)) {
            EXPECT_LE(RValue_Kind(&out), uint32_t(VALUE_ITERATOR)) << name;
            return;
        }
        EXPECT_EQ(RValue_Kind(&out), uint32_t(kTexts.count(name) ? VALUE_STRING : VALUE_REAL)) << name;
    }

    // The active list from both ends: linked both ways, counted right, every instance made there once and
    // under its id in the map.
    void CheckActiveList()
    {
        const CInstanceList& list = room_->active;
        int32_t n = 0;
        const CInstance* prev = nullptr;
        std::set<const CInstance*> seen;
        for (const CInstance* i = list.head; i && n <= list.count; prev = i, i = i->next, ++n) {
            EXPECT_EQ(i->prev, prev);
            EXPECT_EQ(i->listRoom, room_);
            EXPECT_EQ(i->listKind, INSTANCE_IN_ACTIVE_LIST);
            EXPECT_TRUE(seen.insert(i).second) << "instance " << i->id << " twice in the list";
        }
        EXPECT_EQ(prev, list.tail);
        EXPECT_EQ(n, list.count);
        EXPECT_EQ(list.count, int32_t(made_.size()));
        for (CInstance* i : made_) {
            EXPECT_TRUE(seen.count(i)) << "instance " << i->id << " lost from the list";
            EXPECT_EQ(InstanceIdMap_Find(i->id), i);
        }
    }

    // One value at one index into every variable of the registry, each read back at once, then every
    // variable read; the checks that hold whatever was written.
    void RunCase(Rig s, const HostileValue& v, const HostileIndex& at)
    {
        for (int32_t k = 1; k < ROOM_BACKGROUNDS; ++k) room_->backgrounds[k] = SentinelBackground(k);
        for (int32_t k = 1; k < ROOM_VIEWS; ++k) room_->views[k] = SentinelView(k);
        for (int32_t a = 0; a < INSTANCE_ALARM_COUNT; ++a) target_->SetAlarm(a, 1000 + a);
        g_Lives = 3;
        g_Health = 100.0;
        worldtest::g_runs.clear();

        RValue value;
        MakeValue(v, &value);
        const int32_t count = Variable_BuiltIn_Count();
        for (int32_t id = 0; id < count; ++id) {
            const BuiltinVariable* entry = Variable_BuiltIn_Entry(id);
            ASSERT_NE(entry, nullptr);
            const std::string name = entry->name;
            const bool writes = !SkipsHugeWrite(name, v, at);
            if (writes) {
                const int exits = wadtest::g_exitCalls;
                const bool ok = Variable_SetValue_Direct(target_, id, at.index, &value);
                // room_speed refuses what rounds to 0 or less; the physics variables need a body (and a world).
                if (name != "room_speed") {
                    const bool wantOk = entry->setter && (!IsPhysics(name) || s == Rig::Physics);
                    EXPECT_EQ(ok, wantOk) << "write of " << name;
                }
                EXPECT_EQ(wadtest::g_exitCalls, exits) << "write of " << name << " ended the game";
                RoomChangeCode = ROOM_CHANGE_NONE;
            }

            RValue out;
            RValue_SetUndefined(&out);
            CheckRead(s, name, Variable_GetValue_Direct(target_, id, at.index, &out), out);
            // The one array grown out to the last packed index holds what was written there.
            if (at.index == INT32_MAX && writes && GrowsAnArray(name)) {
                const uint32_t want[] = {VALUE_REAL, VALUE_STRING, VALUE_ARRAY, VALUE_UNDEFINED};
                EXPECT_EQ(RValue_Kind(&out), want[int(v.kind)]) << name;
            }
            if (entry->setter && v.kind == Kind::String && kTakesText.count(name)) {
                const char* text = RValue_Kind(&out) == VALUE_STRING && out.str ? out.str->text : nullptr;
                std::string want = v.text;
                if (name == "keyboard_string") want = KeyboardStringForm(want);
                EXPECT_STREQ(text, want.c_str()) << name;
            }
            RValue_Free(&out);
            ResetReports();
        }
        // Every variable read with what the writes left, then again on sprites 1 and 3 (skeletal), so that the
        // box and the sprite measures are computed from the scales, angle and position written.
        auto readAll = [&] {
            for (int32_t id = 0; id < count; ++id) {
                RValue out;
                RValue_SetUndefined(&out);
                const bool ok = Variable_GetValue_Direct(target_, id, at.index, &out);
                CheckRead(s, Variable_BuiltIn_Entry(id)->name, ok, out);
                RValue_Free(&out);
                ResetReports();
            }
        };
        readAll();
        for (int32_t sprite : {1, 3}) {
            target_->SetMaskIndex(-1);
            target_->SetSpriteIndex(sprite);
            readAll();
        }
        for (RValue& a : args_) RValue_Free(&a);
        ResetArguments();
        RValue_Free(&value);

        // Indexes outside 0 ... n-1 mean element 0: no other slot moved.
        for (int32_t k = 1; k < ROOM_BACKGROUNDS; ++k)
            EXPECT_TRUE(SameBackground(room_->backgrounds[k], SentinelBackground(k))) << "background " << k;
        for (int32_t k = 1; k < ROOM_VIEWS; ++k)
            EXPECT_TRUE(SameView(room_->views[k], SentinelView(k))) << "view " << k;
        const int32_t alarm = at.index >= 0 && at.index < INSTANCE_ALARM_COUNT ? at.index : 0;
        for (int32_t a = 0; a < INSTANCE_ALARM_COUNT; ++a)
            if (a != alarm) {
                EXPECT_EQ(target_->GetAlarm(a), 1000 + a) << "alarm " << a;
            }
        // Clamped fields stay in their range whatever came in; NaN is no position.
        EXPECT_TRUE(target_->pathPosition >= 0.0f && target_->pathPosition <= 1.0f) << target_->pathPosition;
        EXPECT_TRUE(target_->pathPositionPrevious >= 0.0f && target_->pathPositionPrevious <= 1.0f)
            << target_->pathPositionPrevious;
        EXPECT_FALSE(target_->direction < 0.0f || target_->direction >= 360.0f) << target_->direction;
        EXPECT_LE(worldtest::g_runs.size(), 2 * made_.size()) << "lives and health events ran more than once";

        // The depth written (NaN among them) is applied as the step applies it.
        ApplyDepthChanges();
        EXPECT_EQ(g_DepthChangeList.count, 0);
        CheckActiveList();
    }

    void Sweep(Rig s)
    {
        EnterRig(s);
        for (const HostileValue& v : kValues)
            for (const HostileIndex& at : kIndexes) {
                SCOPED_TRACE(std::string(RigName(s)) + ", " + v.name + " at index " + at.name);
                RunCase(s, v, at);
                if (HasFailure()) {
                    LeaveRig(s);
                    return;
                }
            }
        LeaveRig(s);
    }

    // What the table leaves in the module and the room: the captions as saved, no room caption.
    void ReleaseWrittenTexts()
    {
        RestoreCaptions();
        RValue none;
        RValue_SetUndefined(&none);
        Variable_SetValue_Direct(target_, Variable_BuiltIn_Find("room_caption"), ARRAY_INDEX_NONE, &none);
        ResetReports();
    }

    struct Saved {
        bool taken = false;
        int32_t score = 0, lives = 0, transitionKind = 0, cursorSprite = 0;
        double health = 0.0;
        bool showScore = false, showLives = false, showHealth = false, captionsSet = false;
        RefString* captions[3] = {};
        std::string keyboardString;
        int32_t currentKey = 0, lastKey = 0, mouseButton = 0, mouseLastButton = 0;
        uint16_t lastChar = 0;
        RValue* args = nullptr;
        int32_t argCount = 0;
        bool newMode = false;
        FrameTimer timer;
        bool running = false;
        tagIConsole* debug = nullptr;
        tagIConsole* release = nullptr;
        bool seamTrace = false;
    } saved_;
    bool registryWasEmpty_ = false;
    QuietConsole quiet_;
    SpriteFactsSource oldFacts_ = nullptr;
    CInstance* target_ = nullptr;
    std::vector<CInstance*> made_;
    RValue args_[kArgs];
    CPhysicsObject body_;
};

TEST_F(BuiltinVarsHostileTest, EveryWritableVariableTakesHostileValuesAtHostileIndexes)
{
    ASSERT_GT(Variable_BuiltIn_Count(), 200);
    ASSERT_GE(Variable_BuiltIn_Find(kHugeIndexArgument.c_str()), 0);
    size_t named = 0;
    for (const HostileValue& v : kValues) named += kHugeIndexValues.count(v.name);
    ASSERT_EQ(named, kHugeIndexValues.size()) << "a value for the largest index is not in the table";
    for (Rig s : {Rig::Plain, Rig::Physics, Rig::FrameTimer}) {
        Sweep(s);
        if (HasFailure()) return;
    }
}

// The memory manager keeps its small blocks in pools the leak checker cannot see into: the table run
// once more must end with exactly the blocks it started with (the other rigs allocate nothing of their own).
TEST_F(BuiltinVarsHostileTest, HostileWritesLeaveNoBlocksBehind)
{
    Sweep(Rig::Plain);  // storage a first run keeps for reuse
    ReleaseWrittenTexts();
    ASSERT_FALSE(HasFailure());
    const size_t live = MemoryManager_Probe().liveBlocks;
    Sweep(Rig::Plain);
    ReleaseWrittenTexts();
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, live);
}

}  // namespace builtinvarstest
