// The step: one frame's game logic.
#include "world/step.h"

#include <cmath>

#include "core/convert.h"
#include "core/gc.h"
#include "draw/draw.h"
#include "input/input.h"
#include "layers/layers.h"
#include "net/net.h"
#include "particles/particles.h"
#include "physics/physics.h"
#include "platform/platform.h"
#include "services/services.h"
#include "world/events.h"
#include "world/frame_timer.h"
#include "world/game_save.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/mainloop.h"
#include "world/object.h"
#include "world/options.h"
#include "world/room.h"
#include "world/room_change.h"
#include "world/run_state.h"
#include "world/stages.h"

int64_t Step_Delta = 0;

namespace {

int64_t g_stepClock = 0;

// After each stage: the deferred changes, then whether a room change ends the update phase.
bool Step_StageDone()
{
    UpdateActiveLists();
    return RoomChangeCode != ROOM_CHANGE_NONE;
}

void Step_Update()
{
    bool anyTimeline = false;
    bool anyPath = false;
    for (CInstance* instance = Run_Room ? Run_Room->active.head : nullptr; instance;) {
        CInstance* next = instance->next;
        instance->xprevious = instance->x;
        instance->yprevious = instance->y;
        instance->pathPositionPrevious = instance->pathPosition;
        anyTimeline = anyTimeline || instance->timelineRunning;
        anyPath = anyPath || instance->pathIndex >= 0;
        AdvanceImageIndex(instance);
        instance = next;
    }
    if (Run_Room) Run_Room->UpdateLayerScrolling();

    HandleStep(1);
    if (Step_StageDone()) return;
    Network_Poll();
    Steam_Process();
    if (Step_StageDone()) return;
    if (anyTimeline) {
        HandleTimeLines();
        if (Step_StageDone()) return;
    }
    HandleAlarm();
    if (Step_StageDone()) return;
    HandleKeyboard();
    if (Step_StageDone()) return;
    HandleJoystick();
    if (Step_StageDone()) return;
    HandleMouse();
    if (Step_StageDone()) return;
    HandleStep(0);
    if (Step_StageDone()) return;
    const bool physicsStepped = HandleInstanceMovement(anyPath);
    if (Step_StageDone()) return;
    HandleOther();
    if (Step_StageDone()) return;
    HandleAsyncRequests();
    if (Step_StageDone()) return;
    if (!physicsStepped) {
        HandleCollision();
        if (Step_StageDone()) return;
    }
    HandleStep(2);
    if (Step_StageDone()) return;
    ParticleSystem_UpdateAll();
}

}  // namespace

void Step_SetClock(int64_t now) { g_stepClock = now; }

void DoAStep()
{
    const int64_t now = MainLoop_Clock();
    Step_Delta = now - g_stepClock;
    g_stepClock = now;

    TimingBar_Begin(0xFF808080, "Garbage Collector");
    VM_GarbageCollect();
    TimingBar_End();
    Game_ApplyPendingLoad();

    TimingBar_Begin(0xFF00FF00, "IO&Tarko");
    IO_Update();
    Services_Process();
    TimingBar_End();

    // A game set to freeze while inactive neither moves nor draws without the focus.
    if (g_GameOptions.freezeWhenInactive && !Platform_MainWindowHasFocus()) return;

    TimingBar_Begin(0xFF0000FF, "Update");
    Step_Update();
    TimingBar_End();
    if (RoomChangeCode != ROOM_CHANGE_NONE) return;

    TimingBar_Begin(0xFF00FFFF, "Draw");
    if (Run_Room) Run_Room->RemoveMarkedInstances();
    if (g_DrawEventsEnabled) {
        DrawRoom();
        UpdateActiveLists();
    }
    TimingBar_End();

    TimingBar_Begin(0xFF008080, "Scroll");
    if (Run_Room) Run_Room->ScrollBackgrounds();
    UpdateActiveLists();
    ++g_FrameCounter;
    TimingBar_End();
}

void UpdateActiveLists()
{
    if (Profiler_Active) Profiler_Enter(6, 7);
    // Each applied change may queue another; the list is read by index so the walk sees them too.
    for (int32_t i = 0; i < g_ObjectChangeList.count; ++i) g_ObjectChangeList.items[i]->ApplyObjectChange();
    g_ObjectChangeList.Clear();
    ApplyDepthChanges();
    // The activation walk covers both lists, so it runs only when something asked for it.
    if (g_ActivationList.count > 0) {
        if (Run_Room) Run_Room->UpdateActivation();
        g_ActivationList.Clear();
    }
    if (Profiler_Active) Profiler_Leave();
}

void ApplyDepthChanges()
{
    InstanceList& list = g_DepthChangeList;
    CRoom* room = Run_Room;
    if (room) {
        for (int32_t i = 0; i < list.count; ++i) {
            CInstance* instance = list.items[i];
            if (!instance->deactivated && instance->listKind == INSTANCE_IN_ACTIVE_LIST && instance->listRoom == room)
                InstanceList_Unlink(instance);
        }
        for (int32_t i = 0; i < list.count; ++i) {
            CInstance* instance = list.items[i];
            if (!instance->deactivated && instance->listKind == INSTANCE_IN_NO_LIST) InstanceList_InsertByDepth(room, instance);
        }
    }
    list.Clear();
}

void AdvanceImageIndex(CInstance* instance)
{
    if (!g_GameData.newMode) {
        instance->imageIndex += instance->imageSpeed;
    } else {
        SpriteFacts facts{};
        const double fps = FrameTimer_GetFPS(&g_GameTimer);
        if (Sprite_GetFacts(instance->spriteIndex, &facts) && fps != 0.0)
            instance->imageIndex += float(double(facts.playbackSpeed) / fps * double(instance->imageSpeed));
    }
    // No wrap can bring a NaN or infinite index back into range: it is left alone, without events.
    if (!std::isfinite(instance->imageIndex)) return;
    const float n = float(instance->GetImageNumber());
    if (std::trunc(instance->imageIndex) >= n) {
        instance->imageIndex -= n;
    } else if (instance->imageIndex < 0.0f) {
        instance->imageIndex += n;
    } else {
        return;
    }
    Perform_Event(instance, instance, EVENT_OTHER, 7);
}

bool HandleInstanceMovement(bool anyPathActive)
{
    if (Profiler_Active) Profiler_Enter(6, 5);
    bool stepped = false;
    if (Run_Room && Run_Room->physicsWorld) {
        const int32_t fps = g_GameData.newMode ? Real_ToInt32(FrameTimer_GetFPS(&g_GameTimer)) : Run_Room->speed;
        PhysicsWorldUpdate(Run_Room->physicsWorld, fps, anyPathActive);
        stepped = true;
    } else {
        const int64_t phase = StepStamp++;
        for (CInstance* instance = Run_Room ? Run_Room->active.head : nullptr; instance;) {
            CInstance* next = instance->next;
            instance->ApplyFrictionGravity();
            if (instance->AdvancePath() && instance->creationStamp <= phase)
                Perform_Event(instance, instance, EVENT_OTHER, 8);
            instance->SetPosition(instance->x + instance->hspeed, instance->y + instance->vspeed);
            instance = next;
        }
    }
    if (Profiler_Active) Profiler_Leave();
    return stepped;
}
