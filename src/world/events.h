// Event dispatch: finding an event's handler through the parent chain, the event globals, the nesting
// guard, the room-change rule, timeline moments, and the test trace of every handler run.
#pragma once
#include <cstdint>

class CEvent;
struct CInstance;

constexpr int32_t EVENT_MAX_DEPTH = 32;

// The handler the object (or an ancestor; for collisions also an ancestor of the other object) defines;
// *found gets the index of the object it was found in (objectIndex when nothing was found).
CEvent* Event_FindHandler(int32_t objectIndex, int32_t type, int32_t number, int32_t* found);
// Runs the handler, if any, with the event globals set and restored; refuses the 33rd nested call.
void PerformEvent(CInstance* self, CInstance* other, int32_t objectIndex, int32_t type, int32_t number);
// As PerformEvent, skipped while a room change is pending unless Event_AllowedDuringRoomChange.
void Perform_Event_Object(CInstance* self, CInstance* other, int32_t objectIndex, int32_t type, int32_t number);
void Perform_Event(CInstance* self, CInstance* other, int32_t type, int32_t number);  // self's object
// Every live instance of the running room, each as its own self and other.
void Perform_Event_All(int32_t type, int32_t number);
void TimeLine_PerformMoment(CInstance* self, CInstance* other, int32_t timelineIndex, int32_t moment);

// While a room change is pending: create, destroy, alarm and other events of a persistent instance or in a
// persistent running room.
bool Event_AllowedDuringRoomChange(CInstance* self, int32_t type);

extern int32_t g_EventDepth;  // PerformEvent calls in progress

// ---- Test trace ----
// One line per handler run and per timeline moment, "E <frame> <room> <type> <number> <event_object>
// <self id>", and per creation code run (below), appended to the file named by KV_TEST_EVENT_LOG and handed to the hook.
using EventTraceHook = void (*)(const char* line, void* user);
void EventTrace_SetHook(EventTraceHook hook, void* user);  // null removes it
void EventTrace_Reload();  // reads KV_TEST_EVENT_LOG again (closing the file it had)
// A creation code run: "C <frame> <room> <code index> <self id>" (the temporary instance has id 0).
void EventTrace_CreationCode(int32_t codeIndex, int32_t selfId);
