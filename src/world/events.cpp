// Event dispatch and timeline moments.
#include "world/events.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "core/error.h"
#include "core/script.h"
#include "core/value.h"
#include "world/instance.h"
#include "world/object.h"
#include "world/room.h"
#include "world/room_change.h"
#include "world/run_state.h"
#include "world/timeline.h"

int32_t g_EventDepth = 0;

namespace {

bool g_eventTraceLoaded = false;
FILE* g_eventTraceFile = nullptr;
EventTraceHook g_eventTraceHook = nullptr;
void* g_eventTraceUser = nullptr;

void EventTrace_Load()
{
    g_eventTraceLoaded = true;
    const char* path = std::getenv("KV_TEST_EVENT_LOG");
    if (path && *path) g_eventTraceFile = std::fopen(path, "a");
}

void EventTrace_Line(const char* line)
{
    if (g_eventTraceFile) {
        std::fputs(line, g_eventTraceFile);
        // A crash must not lose the lines before it.
        std::fflush(g_eventTraceFile);
    }
    if (g_eventTraceHook) g_eventTraceHook(line, g_eventTraceUser);
}

bool EventTrace_On()
{
    if (!g_eventTraceLoaded) EventTrace_Load();
    return g_eventTraceFile || g_eventTraceHook;
}

void EventTrace_Write(int32_t type, int32_t number, int32_t object, CInstance* self)
{
    if (!EventTrace_On()) return;
    char line[128];
    std::snprintf(line, sizeof line, "E %" PRId64 " %d %d %d %d %d\n", g_FrameCounter,
                  Run_Room ? Run_RoomIndex : -1, type, number, object, self ? self->id : -1);
    EventTrace_Line(line);
}

struct EventGlobalsSaved {
    int32_t object = event_object;
    int32_t type = event_type;
    int32_t number = event_number;
    void Restore() const
    {
        event_number = number;
        event_type = type;
        event_object = object;
    }
};

// The object whose handlers an instance runs. An instance made with object -1 reads object_index 0 but has
// no object, and must not run object 0's handlers.
int32_t Event_ObjectOf(CInstance* instance) { return instance->object ? instance->objectIndex : -1; }

}  // namespace

void EventTrace_SetHook(EventTraceHook hook, void* user)
{
    g_eventTraceHook = hook;
    g_eventTraceUser = user;
}

void EventTrace_Reload()
{
    if (g_eventTraceFile) std::fclose(g_eventTraceFile);
    g_eventTraceFile = nullptr;
    EventTrace_Load();
}

void EventTrace_CreationCode(int32_t codeIndex, int32_t selfId)
{
    if (!EventTrace_On()) return;
    char line[128];
    std::snprintf(line, sizeof line, "C %" PRId64 " %d %d %d\n", g_FrameCounter, Run_Room ? Run_RoomIndex : -1,
                  codeIndex, selfId);
    EventTrace_Line(line);
}

CEvent* Event_FindHandler(int32_t objectIndex, int32_t type, int32_t number, int32_t* found)
{
    if (found) *found = objectIndex;
    CObject* object = Object_Data(objectIndex);
    return object ? object->FindEvent(type, number, found) : nullptr;
}

void PerformEvent(CInstance* self, CInstance* other, int32_t objectIndex, int32_t type, int32_t number)
{
    int32_t found = objectIndex;
    CEvent* event = Event_FindHandler(objectIndex, type, number, &found);
    if (!event) return;
    if (++g_EventDepth > EVENT_MAX_DEPTH) {
        RuntimeError("PerformEvent recursion depth failure - check for infinite loops, check objects for parenting");
        --g_EventDepth;
        return;
    }
    const EventGlobalsSaved saved;
    event_object = found;
    event_type = type;
    event_number = number;
    EventTrace_Write(type, number, found, self);
    event->Execute(self, other);
    --g_EventDepth;
    saved.Restore();
}

bool Event_AllowedDuringRoomChange(CInstance* self, int32_t type)
{
    const bool persistent = (self && self->persistent) || (Run_Room && Run_Room->persistent);
    return persistent && (type == EVENT_CREATE || type == EVENT_DESTROY || type == EVENT_ALARM || type == EVENT_OTHER);
}

void Perform_Event_Object(CInstance* self, CInstance* other, int32_t objectIndex, int32_t type, int32_t number)
{
    if (RoomChangeCode != ROOM_CHANGE_NONE && !Event_AllowedDuringRoomChange(self, type)) return;
    PerformEvent(self, other, objectIndex, type, number);
}

void Perform_Event(CInstance* self, CInstance* other, int32_t type, int32_t number)
{
    if (!self) return;
    Perform_Event_Object(self, other, Event_ObjectOf(self), type, number);
}

void Perform_Event_All(int32_t type, int32_t number)
{
    if (RoomChangeCode != ROOM_CHANGE_NONE || !Run_Room) return;
    for (CInstance* instance = Run_Room->active.head; instance;) {
        CInstance* next = instance->next;
        if (!instance->markedForDeletion && !instance->deactivated &&
            (RoomChangeCode == ROOM_CHANGE_NONE || Event_AllowedDuringRoomChange(instance, type)))
            PerformEvent(instance, instance, Event_ObjectOf(instance), type, number);
        instance = next;
    }
}

void TimeLine_PerformMoment(CInstance* self, CInstance* other, int32_t timelineIndex, int32_t moment)
{
    if (RoomChangeCode != ROOM_CHANGE_NONE) return;
    CTimeLine* timeline = TimeLine_Data(timelineIndex);
    const TimeLineMoment* m = timeline ? timeline->GetMoment(moment) : nullptr;
    if (!m) return;
    if (m->kind == TimeLineMomentKind::Event ? !m->event : m->kind != TimeLineMomentKind::Script) return;
    const EventGlobalsSaved saved;
    event_object = timelineIndex;
    event_type = TIMELINE_EVENT_TYPE;
    event_number = m->time;
    EventTrace_Write(TIMELINE_EVENT_TYPE, m->time, timelineIndex, self);
    TimeLine_MomentStarted();
    if (m->kind == TimeLineMomentKind::Script) {
        RValue result;
        RValue_SetUndefined(&result);
        Script_Perform(m->script, self, other, 0, &result, nullptr);
        RValue_Free(&result);
    } else {
        m->event->Execute(self, other);
    }
    TimeLine_MomentFinished();
    saved.Restore();
}
