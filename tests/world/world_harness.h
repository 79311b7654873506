// A small game world for tests, made of real game data: the test describes objects (with their event
// handlers), timelines and scripts; the harness writes a container with formkit at test time, loads it
// through RunnerLoadGame, Wad_ReadHeader and Wad_LoadChunks (graphics, audio and layers on their seams) and
// gives a running room.
//
// A handler is a list of steps. In Mode::Bytecode every handler is assembled (the steps call the kvt_*
// built-ins); in Mode::Native the same steps run from native entries of a test link record. So one table
// of cases checks both kinds of code.
#pragma once
#include "../core/vm_test_util.h"

#include "core/arguments.h"
#include "core/error.h"
#include "game/game_link.h"
#include "lib/lib.h"
#include "world/events.h"
#include "world/instance.h"
#include "world/object.h"
#include "world/room.h"
#include "world/room_change.h"
#include "world/roomflow.h"
#include "world/run_state.h"
#include "world/timeline.h"

#include <array>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace worldtest {

enum class Mode { Bytecode, Native };
inline const char* ModeName(Mode m) { return m == Mode::Bytecode ? "bytecode" : "native"; }

enum class Op {
    Record,         // arg: a tag; records the run (see HandlerRun)
    Perform,        // arg: type * 1000 + number; Perform_Event on (self, other)
    PerformObject,  // arg: object * 1000000 + type * 1000 + number; Perform_Event_Object on (self, other)
    RoomChange,     // arg: the code RoomChangeCode gets
    CreateOwn,      // an instance of self's object in the running room, then its create event
    SetRelative,    // argument_relative set inside the handler
    Fail,           // the handler reports a runtime error
    Destroy,        // self marked for deletion and counted, as the destroy command leaves it
    ChangeObject,   // arg: the object self changes to (instance_change)
    SetX,           // arg: self's x
    Probe,          // arg: a tag; calls g_probe (tag, self) when a test set one
};
struct Step {
    Op op;
    int32_t arg = 0;
};
using Handler = std::vector<Step>;

struct EventDef {
    int32_t type;
    int32_t number;
    Handler handler;
    bool withCode = true;  // false: an action list of count 0
};
struct ObjectDef {
    std::string name;
    int32_t parent = -100;
    bool persistent = false;
    int32_t depth = 0;
    std::vector<EventDef> events;
    bool present = true;  // false: an empty slot
};
struct MomentDef {
    int32_t time;
    Handler handler;
};
struct TimelineDef {
    std::string name;
    std::vector<MomentDef> moments;
};
// A room and its instance records; a creation code is a handler (none when withCode is false).
struct InstanceDef {
    int32_t object;
    int32_t id;
    Handler code;
    bool withCode = false;
    int32_t x = 0;
    int32_t y = 0;
};
struct RoomDef {
    std::string name;
    bool persistent = false;
    std::vector<InstanceDef> instances;
    Handler code;
    bool withCode = false;
};
struct GameDef {
    std::vector<ObjectDef> objects;
    std::vector<TimelineDef> timelines;
    std::vector<Handler> scripts;  // script i is "kvt_s<i>"
    int32_t lastInstanceId = 100000;
    // With rooms the harness makes no room of its own: room flow starts them.
    std::vector<RoomDef> rooms;
    std::vector<int32_t> order;  // the play order; empty: every room in slot order
};

// One handler run, as seen from inside it.
struct HandlerRun {
    int32_t tag;
    int32_t self;
    int32_t other;
    int32_t type;
    int32_t number;
    int32_t object;
    bool relative;
    int32_t depth;
    bool operator==(const HandlerRun&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const HandlerRun& r)
{
    return os << "{tag " << r.tag << " self " << r.self << " other " << r.other << " ev " << r.type << "/"
              << r.number << " obj " << r.object << " rel " << r.relative << " depth " << r.depth << "}";
}

inline std::vector<HandlerRun> g_runs;
inline std::vector<std::string> g_traceLines;
constexpr int32_t kMaxNative = 96;
inline std::array<Handler, kMaxNative> g_nativeSteps;
// What Op::Probe runs: a test's look at (or change of) the world from inside a handler.
inline std::function<void(int32_t tag, CInstance* self)> g_probe;

inline int32_t SelfId(CInstance* i) { return i ? i->id : -1; }

inline void RunStep(const Step& s, CInstance* self, CInstance* other, Mode mode)
{
    switch (s.op) {
    case Op::Record:
        g_runs.push_back({s.arg, SelfId(self), SelfId(other), event_type, event_number, event_object, g_ActionRelative,
                          g_EventDepth});
        break;
    case Op::Perform: Perform_Event(self, other, s.arg / 1000, s.arg % 1000); break;
    case Op::PerformObject:
        Perform_Event_Object(self, other, s.arg / 1000000, s.arg / 1000 % 1000, s.arg % 1000);
        break;
    case Op::RoomChange: RoomChangeCode = s.arg; break;
    case Op::CreateOwn:
        if (self && Run_Room) {
            CInstance* made = Run_Room->AddInstance(0, 0, self->objectIndex);
            Perform_Event(made, made, EVENT_CREATE, 0);
        }
        break;
    case Op::SetRelative: g_ActionRelative = true; break;
    case Op::Fail: RuntimeError("kvt handler failure (%s)", ModeName(mode)); break;
    case Op::Destroy:
        if (self && !self->markedForDeletion) {
            self->markedForDeletion = true;
            ++Room_MarkedCount;
        }
        break;
    case Op::ChangeObject:
        if (self) self->SetObjectIndex(s.arg);
        break;
    case Op::SetX:
        if (self) self->x = float(s.arg);
        break;
    case Op::Probe:
        if (g_probe) g_probe(s.arg, self);
        break;
    }
}

// Built-ins the assembled steps call (one argument each).
inline int32_t HarnessArg(int32_t argc, RValue* args) { return argc > 0 ? QZGI32(args, 0) : 0; }
inline void Kvt_Record(RValue* r, CInstance* s, CInstance* o, int32_t argc, RValue* a)
{
    RunStep({Op::Record, HarnessArg(argc, a)}, s, o, Mode::Bytecode);
    RValue_SetReal(r, 0);
}
inline void Kvt_Perform(RValue* r, CInstance* s, CInstance* o, int32_t argc, RValue* a)
{
    RunStep({Op::Perform, HarnessArg(argc, a)}, s, o, Mode::Bytecode);
    RValue_SetReal(r, 0);
}
inline void Kvt_PerformObject(RValue* r, CInstance* s, CInstance* o, int32_t argc, RValue* a)
{
    RunStep({Op::PerformObject, HarnessArg(argc, a)}, s, o, Mode::Bytecode);
    RValue_SetReal(r, 0);
}
inline void Kvt_RoomChange(RValue* r, CInstance* s, CInstance* o, int32_t argc, RValue* a)
{
    RunStep({Op::RoomChange, HarnessArg(argc, a)}, s, o, Mode::Bytecode);
    RValue_SetReal(r, 0);
}
inline void Kvt_CreateOwn(RValue* r, CInstance* s, CInstance* o, int32_t argc, RValue* a)
{
    RunStep({Op::CreateOwn, HarnessArg(argc, a)}, s, o, Mode::Bytecode);
    RValue_SetReal(r, 0);
}
inline void Kvt_SetRelative(RValue* r, CInstance* s, CInstance* o, int32_t argc, RValue* a)
{
    RunStep({Op::SetRelative, HarnessArg(argc, a)}, s, o, Mode::Bytecode);
    RValue_SetReal(r, 0);
}

inline void Kvt_Fail(RValue* r, CInstance* s, CInstance* o, int32_t argc, RValue* a)
{
    RunStep({Op::Fail, HarnessArg(argc, a)}, s, o, Mode::Bytecode);
    RValue_SetReal(r, 0);
}
inline void Kvt_Destroy(RValue* r, CInstance* s, CInstance* o, int32_t argc, RValue* a)
{
    RunStep({Op::Destroy, HarnessArg(argc, a)}, s, o, Mode::Bytecode);
    RValue_SetReal(r, 0);
}
inline void Kvt_ChangeObject(RValue* r, CInstance* s, CInstance* o, int32_t argc, RValue* a)
{
    RunStep({Op::ChangeObject, HarnessArg(argc, a)}, s, o, Mode::Bytecode);
    RValue_SetReal(r, 0);
}
inline void Kvt_SetX(RValue* r, CInstance* s, CInstance* o, int32_t argc, RValue* a)
{
    RunStep({Op::SetX, HarnessArg(argc, a)}, s, o, Mode::Bytecode);
    RValue_SetReal(r, 0);
}
inline void Kvt_Probe(RValue* r, CInstance* s, CInstance* o, int32_t argc, RValue* a)
{
    RunStep({Op::Probe, HarnessArg(argc, a)}, s, o, Mode::Bytecode);
    RValue_SetReal(r, 0);
}

inline const char* BuiltinName(Op op)
{
    switch (op) {
    case Op::Record: return "kvt_record";
    case Op::Perform: return "kvt_perform";
    case Op::PerformObject: return "kvt_perform_object";
    case Op::RoomChange: return "kvt_room_change";
    case Op::CreateOwn: return "kvt_create_own";
    case Op::SetRelative: return "kvt_set_relative";
    case Op::Fail: return "kvt_fail";
    case Op::Destroy: return "kvt_destroy";
    case Op::ChangeObject: return "kvt_change_object";
    case Op::SetX: return "kvt_set_x";
    case Op::Probe: return "kvt_probe";
    }
    return nullptr;
}

template <int N>
void NativeEvent(CInstance* self, CInstance* other)
{
    for (const Step& s : g_nativeSteps[N]) RunStep(s, self, other, Mode::Native);
}
template <int N>
void NativeScript(CInstance* self, CInstance* other, RValue* result, int32_t, RValue**)
{
    for (const Step& s : g_nativeSteps[N]) RunStep(s, self, other, Mode::Native);
    if (result) RValue_SetReal(result, 0);
}
template <int... N>
std::array<void (*)(), sizeof...(N)> NativeTable(std::integer_sequence<int, N...>, bool script)
{
    if (script) return {reinterpret_cast<void (*)()>(&NativeScript<N>)...};
    return {reinterpret_cast<void (*)()>(&NativeEvent<N>)...};
}

// Test link record: the container embedded, and in native mode one entry per code entry.
struct HarnessLink {
    std::vector<uint8_t> data;
    std::vector<GameLinkCode> code;
    std::vector<std::string> names;
    bool native = false;
};
inline HarnessLink g_link;
inline void HarnessLinkSource(GameLinkData* record)
{
    record->embeddedData = g_link.data.data();
    record->embeddedLength = uint32_t(g_link.data.size());
    if (g_link.native) {
        record->codeTable = g_link.code.data();
        record->codeEntryCount = int32_t(g_link.code.size());
    }
}

inline void HarnessTraceHook(const char* line, void*) { g_traceLines.emplace_back(line); }

class WorldHarness : public vmtest::VmProgramTest {
public:
    void SetUp() override
    {
        VmProgramTest::SetUp();
        g_runs.clear();
        g_traceLines.clear();
        g_probe = nullptr;
        g_EventDepth = 0;
        g_ActionRelative = false;
        event_type = event_number = event_object = -7;
        for (const auto& [name, fn] : std::initializer_list<std::pair<const char*, TRoutine>>{
                 {"kvt_record", Kvt_Record},
                 {"kvt_perform", Kvt_Perform},
                 {"kvt_perform_object", Kvt_PerformObject},
                 {"kvt_room_change", Kvt_RoomChange},
                 {"kvt_create_own", Kvt_CreateOwn},
                 {"kvt_set_relative", Kvt_SetRelative},
                 {"kvt_fail", Kvt_Fail},
                 {"kvt_destroy", Kvt_Destroy},
                 {"kvt_change_object", Kvt_ChangeObject},
                 {"kvt_set_x", Kvt_SetX},
                 {"kvt_probe", Kvt_Probe}})
            vmtest::Builtin(name, fn);
        EventTrace_SetHook(HarnessTraceHook, nullptr);
    }
    void TearDown() override
    {
        EventTrace_SetHook(nullptr, nullptr);
        Unload();
        VmProgramTest::TearDown();
    }

    // Back to no game: the room and every instance, object, timeline and script gone, the state reset.
    void Unload()
    {
        delete room_;
        room_ = nullptr;
        RoomArray_SetLength(0);
        FreePersistentInstances();
        SetCurrentRoom(nullptr);
        Run_RoomIndex = -1;
        Instances_DeleteAll();
        InstanceLists_Free();
        Object_FreeAll();
        TimeLine_FreeAll();
        Script_Free();
        UnloadGameData();
        RoomChangeCode = ROOM_CHANGE_NONE;
        g_ActionRelative = false;
        g_EventDepth = 0;
        g_link = {};
        g_runs.clear();
        g_traceLines.clear();
        g_probe = nullptr;
        Error_ResetState();
    }

    static std::string Assemble(const Handler& h, const std::string& entry)
    {
        std::ostringstream a;
        a << ".code " << entry << "\n";
        for (const Step& s : h) {
            a << "    push.i " << s.arg << "\n    conv.i.v\n    call.i " << BuiltinName(s.op) << " 1\n    popz.v\n";
        }
        a << "    exit.i\n";
        return a.str();
    }

    static std::string Py(const std::string& s) { return "'" + s + "'"; }

    // Writes and loads the game; false (with a failure) when any stage fails. The running room is made
    // and set current (index 0).
    bool Load(const GameDef& game, Mode mode)
    {
        mode_ = mode;
        std::ostringstream source, objects, timelines;
        std::vector<Handler> entries;
        std::vector<bool> scriptEntry;
        source << ".header last_instance_id=" << game.lastInstanceId << "\n";
        auto entry = [&](const Handler& h, const std::string& name, bool script) {
            source << Assemble(h, name);
            if (script) source << ".script " << name.substr(std::string("ksl_Script_").size()) << "\n";
            entries.push_back(h);
            scriptEntry.push_back(script);
            return name;
        };
        for (size_t i = 0; i < game.scripts.size(); ++i)
            entry(game.scripts[i], "ksl_Script_kvt_s" + std::to_string(i), true);
        entry({}, "ksl_Script_kvt_unused", false);
        objects << "[";
        for (size_t i = 0; i < game.objects.size(); ++i) {
            const ObjectDef& o = game.objects[i];
            if (!o.present) {
                objects << "None,";
                continue;
            }
            objects << "fk.Object(" << Py(o.name) << ", parent=" << o.parent << ", depth=" << o.depth
                    << ", persistent=" << (o.persistent ? "True" : "False") << ", events={";
            for (const EventDef& e : o.events) {
                objects << "(" << e.type << "," << e.number << "):";
                if (e.withCode)
                    objects << Py(entry(e.handler,
                                        "ksl_Object_" + o.name + "_" + std::to_string(e.type) + "_" + std::to_string(e.number),
                                        false));
                else
                    objects << "None";
                objects << ",";
            }
            objects << "}),";
        }
        objects << "]";
        timelines << "[";
        for (const TimelineDef& t : game.timelines) {
            timelines << "fk.Timeline(" << Py(t.name) << ", [";
            for (const MomentDef& m : t.moments)
                timelines << "(" << m.time << "," << Py(entry(m.handler, "ksl_Timeline_" + t.name + "_" + std::to_string(m.time), false))
                          << "),";
            timelines << "]),";
        }
        timelines << "]";
        std::ostringstream rooms, order;
        rooms << "[";
        for (const RoomDef& r : game.rooms) {
            rooms << "fk.Room(" << Py(r.name) << ", persistent=" << (r.persistent ? "True" : "False") << ", code=";
            if (r.withCode) rooms << Py(entry(r.code, "ksl_RoomCode_" + r.name, false));
            else rooms << "None";
            rooms << ", instances=[";
            for (size_t i = 0; i < r.instances.size(); ++i) {
                const InstanceDef& d = r.instances[i];
                rooms << "fk.Instance(" << d.x << ", " << d.y << ", obj=" << d.object << ", id=" << d.id << ", code=";
                if (d.withCode) rooms << Py(entry(d.code, "ksl_InstanceCode_" + r.name + "_" + std::to_string(i), false));
                else rooms << "None";
                rooms << "),";
            }
            rooms << "]),";
        }
        rooms << "]";
        order << "[";
        for (size_t i = 0; i < (game.order.empty() ? game.rooms.size() : game.order.size()); ++i)
            order << (game.order.empty() ? int32_t(i) : game.order[i]) << ",";
        order << "]";
        if (entries.size() > size_t(kMaxNative)) {
            ADD_FAILURE() << "too many handlers for the native table";
            return false;
        }

        // The generator takes its folder as its argument, so that its text and the source decide the fixture.
        std::ostringstream py;
        py << "import sys\nsys.path.insert(0, " << Py(wadtest::SourceDir() + "/tools") << ")\n"
           << "import formkit as fk\nfrom formkit import asm\n"
           << "objects = " << objects.str() << "\ntimelines = " << timelines.str() << "\n"
           << "rooms = " << rooms.str() << "\norder = " << order.str() << "\n"
           << "plain = fk.Container.strg\n"
           << "def strg(self, *a, **k):\n"
           << "    if objects: self.objt(objects)\n"
           << "    if timelines: self.tmln(timelines)\n"
           << "    if rooms: self.room(rooms)\n"
           << "    return plain(self, *a, **k)\n"
           << "fk.Container.strg = strg\n"
           << "plain_gen8 = fk.Container.gen8\n"
           << "def gen8(self, *a, **k):\n"
           << "    k.setdefault('room_order', order)\n"
           << "    return plain_gen8(self, *a, **k)\n"
           << "fk.Container.gen8 = gen8\n"
           << "folder = sys.argv[1]\n"
           << "prog = asm.assemble(open(folder + 'game.kvs').read(), 'game.kvs')\n"
           << "prog.write(folder + 'game.win', tables=folder + 'game.tab')\n";
        std::string error;
        const std::string dir = kvtest::CachedFixture(
            py.str() + '\0' + source.str(),
            [&](const std::string& folder) {
                kvtest::WriteFile(folder + "game.kvs", source.str());
                kvtest::WriteFile(folder + "game.py", py.str());
                return kvtest::RunFixtureCommand(kvtest::ShellQuote(kvtest::Python()) + " -B " +
                                                     kvtest::ShellQuote(folder + "game.py") + " " +
                                                     kvtest::ShellQuote(folder),
                                                 &error);
            },
            &error);
        if (dir.empty()) {
            ADD_FAILURE() << error;
            return false;
        }
        const std::string stem = dir + "game";
        g_link = {};
        g_link.data = wadtest::ReadBytes(stem + ".win");
        g_link.native = mode == Mode::Native;
        if (g_link.native) {
            auto events = NativeTable(std::make_integer_sequence<int, kMaxNative>(), false);
            auto scripts = NativeTable(std::make_integer_sequence<int, kMaxNative>(), true);
            g_link.names.resize(entries.size());
            for (size_t i = 0; i < entries.size(); ++i) {
                g_nativeSteps[i] = entries[i];
                g_link.names[i] = "native" + std::to_string(i);
                g_link.code.push_back({g_link.names[i].c_str(), scriptEntry[i] ? scripts[i] : events[i]});
            }
        }
        Loader_SetLinkSource(HarnessLinkSource);
        if (!RunnerLoadGame()) {
            ADD_FAILURE() << "RunnerLoadGame failed";
            return false;
        }
        if (!Wad_ReadHeader(g_GameData.data, g_GameData.length)) {
            ADD_FAILURE() << "pass 1: " << g_GameData.damage;
            return false;
        }
        if (!Wad_LoadChunks(g_GameData.data, g_GameData.length)) {
            ADD_FAILURE() << "pass 2: " << g_GameData.damage;
            return false;
        }
        for (int32_t i = 0; i < Script_Number(); ++i)
            if (CScript* script = Script_Data(i)) script->Compile();
        ObjectLists_Build();
        if (!game.rooms.empty()) return true;
        room_ = new CRoom();
        SetCurrentRoom(room_);
        Run_RoomIndex = 0;
        return true;
    }

    CInstance* Make(int32_t object, float x = 0, float y = 0) { return room_->AddInstance(x, y, object); }

    Mode mode_ = Mode::Bytecode;
    CRoom* room_ = nullptr;
};

}  // namespace worldtest
