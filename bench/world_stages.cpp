// Event stages: HandleStep, HandleAlarm and HandleKeyboard in a room of 10,000 instances whose objects
// handle none of those events, against the same stages in an empty room. The stages walk the per-event
// object lists, so the instances that cannot receive the event should cost nothing (target: within 1.1x).
#include "core/code.h"
#include "core/memory_manager.h"
#include "game/game_link.h"
#include "world/command_line.h"
#include "world/instance.h"
#include "world/object.h"
#include "world/room.h"
#include "world/stages.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int32_t kStagesBenchObjects = 10;
constexpr int32_t kStagesBenchInstances = 10000;

void StagesBench_Empty(CInstance*, CInstance*) {}
const GameLinkCode kStagesBenchEntry = {"bench_draw", reinterpret_cast<void (*)()>(&StagesBench_Empty)};
const char kStagesBenchMarker[] = "";

struct StagesBenchWorld {
    CRoom* empty = nullptr;
    CRoom* full = nullptr;
};

// Ten objects with a draw handler only, and the two rooms, once per process.
StagesBenchWorld& StagesBench_World()
{
    static StagesBenchWorld* world = nullptr;
    if (world) return *world;
    world = new StagesBenchWorld();
    g_RunFlags.codeExecution = true;
    Object_Init();
    for (int32_t k = 0; k < kStagesBenchObjects; ++k) {
        CObject* object = Object_Data(Object_Add());
        auto* handler = new CEvent();
        handler->code = new CCode(-1, false);
        handler->code->kind = CODE_KIND_CODE;
        handler->code->nativeEntry = &kStagesBenchEntry;
        handler->marker = kStagesBenchMarker;
        CObjectEventTable& draw = object->events[EVENT_DRAW];
        draw.items = static_cast<CEvent**>(MemAlloc(sizeof(CEvent*)));
        draw.items[0] = handler;
        draw.count = 1;
    }
    ObjectLists_Build();
    world->empty = new CRoom();
    world->full = new CRoom();
    SetCurrentRoom(world->full);
    for (int32_t i = 0; i < kStagesBenchInstances; ++i)
        world->full->AddInstance(float(i % 640), float(i / 640), i % kStagesBenchObjects);
    return *world;
}

template <void (*Stage)()>
void BM_Stage(benchmark::State& state)
{
    StagesBenchWorld& w = StagesBench_World();
    SetCurrentRoom(state.range(0) > 0 ? w.full : w.empty);
    for (auto _ : state) Stage();
    state.counters["instances"] = double(Run_Room->active.count);
}

void BeginStep() { HandleStep(1); }
void NormalStep() { HandleStep(0); }
void EndStep() { HandleStep(2); }

BENCHMARK_TEMPLATE(BM_Stage, BeginStep)->Arg(0)->Arg(kStagesBenchInstances);
BENCHMARK_TEMPLATE(BM_Stage, NormalStep)->Arg(0)->Arg(kStagesBenchInstances);
BENCHMARK_TEMPLATE(BM_Stage, EndStep)->Arg(0)->Arg(kStagesBenchInstances);
BENCHMARK_TEMPLATE(BM_Stage, HandleAlarm)->Arg(0)->Arg(kStagesBenchInstances);
BENCHMARK_TEMPLATE(BM_Stage, HandleKeyboard)->Arg(0)->Arg(kStagesBenchInstances);

}  // namespace
