// The event stages. A stage never scans every instance: it walks the per-event object list of its event and,
// for each listed object, the object's own instances, so every live instance gets the event once and finds
// its handler through the parent chain.
#include "world/stages.h"

#include <cmath>

#include "core/convert.h"
#include "draw/draw.h"
#include "ds/ds.h"
#include "gfx/device.h"
#include "gfx/window.h"
#include "input/input.h"
#include "lib/lib.h"
#include "net/net.h"
#include "services/services.h"
#include "world/command_line.h"
#include "world/events.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/object.h"
#include "world/room.h"
#include "world/timeline.h"

int32_t AsyncLoad = -1;
int32_t Stage_MouseX = 0;
int32_t Stage_MouseY = 0;
int32_t Stage_MousePreviousX = 0;
int32_t Stage_MousePreviousY = 0;

namespace {

// -1 undecided, 0 no object listens to a joystick, 1 some does.
int32_t g_joystickListeners = -1;

bool Stage_Live(const CInstance* instance, int64_t phase)
{
    return !instance->markedForDeletion && !instance->deactivated && instance->creationStamp <= phase;
}

// fn(instance) for each live instance of each object listed for (type, number). The list is looked up again
// for every object (a handler may rebuild the lists), and the next instance is taken before fn runs.
template <class Fn>
void Stage_ForEachListed(int32_t type, int32_t number, int64_t phase, Fn fn)
{
    for (int32_t i = 0;; ++i) {
        const ObjectList& list = ObjectLists_Get(type, number);
        if (i >= list.count) return;
        CObject* object = Object_Data(list.objects[i]);
        if (!object) continue;
        for (SLinkedListNode<CInstance*>* node = object->instances.head; node;) {
            SLinkedListNode<CInstance*>* next = node->next;
            CInstance* instance = node->value;
            if (Stage_Live(instance, phase)) fn(instance);
            node = next;
        }
    }
}

void Stage_PerformListed(int32_t type, int32_t number)
{
    const int64_t phase = StepStamp++;
    Stage_ForEachListed(type, number, phase, [&](CInstance* i) { Perform_Event(i, i, type, number); });
}

// ---- timelines ----

// The moments from p up to (not including) end, in time order; false when the timeline went away.
bool Stage_RunForward(CInstance* instance, int32_t timeline, double from, double end)
{
    CTimeLine* t = TimeLine_Data(timeline);
    int32_t index = t ? t->FirstMomentAtOrAfter(from) : 0;
    while (t && index < t->GetCount()) {
        const int32_t time = t->GetTime(index);
        if (!(double(time) < end)) return true;
        TimeLine_PerformMoment(instance, instance, timeline, index);
        // The moment may have changed the timeline: find where the walk stands again.
        t = TimeLine_Data(timeline);
        if (t) index = t->FirstMomentAtOrAfter(double(time) + 0.5);
    }
    return t != nullptr;
}

// The moments from p down to (not including) end, latest first.
bool Stage_RunBackward(CInstance* instance, int32_t timeline, double from, double end)
{
    CTimeLine* t = TimeLine_Data(timeline);
    int32_t index = t ? t->LastMomentAtOrBefore(from) : -1;
    while (t && index >= 0) {
        const int32_t time = t->GetTime(index);
        if (!(double(time) > end)) return true;
        TimeLine_PerformMoment(instance, instance, timeline, index);
        t = TimeLine_Data(timeline);
        if (t) index = t->LastMomentAtOrBefore(double(time) - 0.5);
    }
    return t != nullptr;
}

void Stage_AdvanceTimeline(CInstance* instance)
{
    const int32_t timeline = instance->timelineIndex;
    CTimeLine* t = TimeLine_Data(timeline);
    if (!t || t->GetCount() == 0) return;
    const double p = instance->timelinePosition;
    const double s = instance->timelineSpeed;
    const double q = instance->timelinePrevious;
    // A position or speed that is not a number would never reach a moment or an end.
    if (!std::isfinite(p) || !std::isfinite(s) || !std::isfinite(q)) return;
    bool exists = true;
    if (s > 0) exists = Stage_RunForward(instance, timeline, p, p + s);
    else if (s < 0) exists = Stage_RunBackward(instance, timeline, p, p + s);
    else exists = Stage_RunForward(instance, timeline, q, p);
    // Unless a moment moved it, the position takes the step.
    if (double(instance->timelinePosition) == p) instance->timelinePosition = float(p + s);
    instance->timelinePrevious = float(p);
    t = exists ? TimeLine_Data(timeline) : nullptr;
    if (!t || !instance->timelineLoop || t->GetCount() == 0) return;
    const float last = float(t->GetTime(t->GetCount() - 1));
    if (s >= 0 && instance->timelinePosition > last) instance->timelinePosition = 0.0f;
    else if (s < 0 && instance->timelinePosition < 0.0f) instance->timelinePosition = last;
}

// ---- the other events ----

bool Stage_HasShape(const CInstance* instance)
{
    SpriteFacts facts{};
    return Sprite_GetFacts(instance->spriteIndex, &facts) || Sprite_GetFacts(instance->maskIndex, &facts);
}

// The instance's box, brought up to date; false for an instance without sprite and mask (its point counts).
bool Stage_Box(CInstance* instance, BoundingBox* box)
{
    if (!Stage_HasShape(instance)) return false;
    if (instance->bboxDirty) Compute_BoundingBox(instance, true);
    *box = instance->bbox;
    return true;
}

// The room area view i shows, as integers.
BoundingBox Stage_ViewRect(const CView& view)
{
    BoundingBox r;
    if (g_GameData.newMode) {
        float l, t, rr, b;
        Camera_GetViewArea(view.cameraId, &l, &t, &rr, &b);
        r = {Real_ToInt32(l), Real_ToInt32(t), Real_ToInt32(rr), Real_ToInt32(b)};
    } else {
        r = {Real_ToInt32Round(view.x), Real_ToInt32Round(view.y), Real_ToInt32Round(double(view.x) + view.width),
             Real_ToInt32Round(double(view.y) + view.height)};
    }
    return r;
}

bool Stage_Overlaps(const BoundingBox& a, const BoundingBox& b)
{
    return a.left <= b.right && a.right >= b.left && a.top <= b.bottom && a.bottom >= b.top;
}

bool Stage_Inside(const BoundingBox& a, const BoundingBox& outer)
{
    return a.left >= outer.left && a.right <= outer.right && a.top >= outer.top && a.bottom <= outer.bottom;
}

bool Stage_PointIn(const CInstance* instance, const BoundingBox& r)
{
    return instance->x >= float(r.left) && instance->x <= float(r.right) && instance->y >= float(r.top) &&
           instance->y <= float(r.bottom);
}

void Stage_OutsideRoom(CRoom* room)
{
    const BoundingBox roomRect{0, 0, room->width, room->height};
    const int64_t phase = StepStamp++;
    Stage_ForEachListed(EVENT_OTHER, 0, phase, [&](CInstance* i) {
        BoundingBox box;
        const bool inside = Stage_Box(i, &box) ? box.right >= 0 && box.left <= room->width && box.bottom >= 0 &&
                                                     box.top <= room->height
                                               : Stage_PointIn(i, roomRect);
        if (inside) {
            i->outsideRoom = false;
        } else if (!i->outsideRoom) {
            // Once per exit: the flag is set after the event.
            Perform_Event(i, i, EVENT_OTHER, 0);
            i->outsideRoom = true;
        }
    });
}

void Stage_IntersectBoundary(CRoom* room)
{
    const BoundingBox roomRect{0, 0, room->width, room->height};
    const int64_t phase = StepStamp++;
    Stage_ForEachListed(EVENT_OTHER, 1, phase, [&](CInstance* i) {
        BoundingBox box;
        const bool within = Stage_Box(i, &box) ? Stage_Inside(box, roomRect) : Stage_PointIn(i, roomRect);
        if (!within) Perform_Event(i, i, EVENT_OTHER, 1);
    });
}

void Stage_Views(CRoom* room, int32_t base, bool outsideView)
{
    const int64_t phase = StepStamp++;
    for (int32_t v = 0; v < ROOM_VIEWS; ++v) {
        const CView& view = room->views[v];
        if (!view.visible) continue;
        const BoundingBox rect = Stage_ViewRect(view);
        Stage_ForEachListed(EVENT_OTHER, base + v, phase, [&](CInstance* i) {
            BoundingBox box;
            const bool hasBox = Stage_Box(i, &box);
            bool fires;
            if (outsideView) fires = hasBox ? !Stage_Overlaps(box, rect) : !Stage_PointIn(i, rect);
            else fires = hasBox ? !Stage_Inside(box, rect) : !Stage_PointIn(i, rect);
            if (fires) Perform_Event(i, i, EVENT_OTHER, base + v);
        });
    }
}

bool Stage_AsyncSubNumber(int32_t n) { return (n >= 60 && n <= 64) || n == 67 || (n >= 69 && n <= 75); }

void Stage_DropAsyncMap()
{
    if (AsyncLoad >= 0) DSMap_Destroy(AsyncLoad);
    AsyncLoad = -1;
}

void Stage_Unlink(HTTP_REQ_CONTEXT* request)
{
    for (HTTP_REQ_CONTEXT** link = &AsyncRequests; *link; link = &(*link)->next)
        if (*link == request) {
            *link = request->next;
            return;
        }
}

}  // namespace

void Stages_Reset()
{
    g_joystickListeners = -1;
    AsyncLoad = -1;
    Stage_MouseX = Stage_MouseY = Stage_MousePreviousX = Stage_MousePreviousY = 0;
}

void HandleStep(int32_t subNumber)
{
    if (Profiler_Active) Profiler_Enter(6, 4);
    Stage_PerformListed(EVENT_STEP, subNumber);
    if (Profiler_Active) Profiler_Leave();
}

void HandleAlarm()
{
    if (Profiler_Active) Profiler_Enter(6, 8);
    const int64_t phase = StepStamp++;
    for (int32_t a = 0; a < INSTANCE_ALARM_COUNT; ++a)
        Stage_ForEachListed(EVENT_ALARM, a, phase, [&](CInstance* i) {
            // An alarm a script set to 0 becomes -1 without firing; one at -1 stays.
            if (i->alarm[a] >= 0) --i->alarm[a];
            if (i->alarm[a] == 0) Perform_Event(i, i, EVENT_ALARM, a);
        });
    if (Profiler_Active) Profiler_Leave();
}

void HandleTimeLines()
{
    const int64_t phase = StepStamp++;
    for (CInstance* instance = Run_Room ? Run_Room->active.head : nullptr; instance;) {
        CInstance* next = instance->next;
        if (Stage_Live(instance, phase) && instance->timelineRunning && instance->timelineIndex >= 0)
            Stage_AdvanceTimeline(instance);
        instance = next;
    }
}

void HandleKeyboardEvent(int32_t key) { Stage_PerformListed(EVENT_KEYBOARD, key); }
void HandleKeyPressEvent(int32_t key) { Stage_PerformListed(EVENT_KEYPRESS, key); }
void HandleKeyReleaseEvent(int32_t key) { Stage_PerformListed(EVENT_KEYRELEASE, key); }

void HandleKeyboard()
{
    bool anyHeld = false, anyPressed = false, anyReleased = false;
    for (int32_t key = 8; key <= 255; ++key) {
        const bool pressed = IO_KeyPressed(key);
        if (IO_KeyDown(key) || pressed) {
            anyHeld = true;
            HandleKeyboardEvent(key);
            if (pressed) {
                anyPressed = true;
                HandleKeyPressEvent(key);
            }
        }
        if (IO_KeyReleased(key)) {
            anyReleased = true;
            HandleKeyReleaseEvent(key);
        }
    }
    HandleKeyboardEvent(anyHeld ? 1 : 0);
    HandleKeyPressEvent(anyPressed ? 1 : 0);
    HandleKeyReleaseEvent(anyReleased ? 1 : 0);
}

void HandleGlobalMouseEvent(int32_t subNumber) { Stage_PerformListed(EVENT_MOUSE, subNumber); }

void HandleInstanceMouseEvent(int32_t subNumber)
{
    const int64_t phase = StepStamp++;
    const float mx = float(Stage_MouseX), my = float(Stage_MouseY);
    Stage_ForEachListed(EVENT_MOUSE, subNumber, phase, [&](CInstance* i) {
        if (i->CollisionPoint(mx, my, true)) Perform_Event(i, i, EVENT_MOUSE, subNumber);
    });
}

void HandleMouseEnterLeave()
{
    const int64_t first = StepStamp++;
    const float mx = float(Stage_MouseX), my = float(Stage_MouseY);
    for (int32_t sub : {10, 11}) {
        const ObjectList& list = ObjectLists_Get(EVENT_MOUSE, sub);
        for (int32_t k = 0; k < list.count; ++k) {
            CObject* object = Object_Data(list.objects[k]);
            if (!object) continue;
            for (SLinkedListNode<CInstance*>* node = object->instances.head; node; node = node->next) {
                CInstance* i = node->value;
                if (i->markedForDeletion || i->deactivated || i->creationStamp >= first) continue;
                // Stamped so that an instance reached through both lists is updated once.
                i->creationStamp = first;
                const int32_t now = i->CollisionPoint(mx, my, true) ? 1 : 2;
                const int32_t old = i->mouseState & 3;
                i->mouseState = now | ((now ^ old) << 2);
            }
        }
    }
    const int64_t second = StepStamp++;
    Stage_ForEachListed(EVENT_MOUSE, 10, second, [&](CInstance* i) {
        if ((i->mouseState & 4) && (i->mouseState & 1)) Perform_Event(i, i, EVENT_MOUSE, 10);
    });
    Stage_ForEachListed(EVENT_MOUSE, 11, second, [&](CInstance* i) {
        if ((i->mouseState & 8) && (i->mouseState & 2)) Perform_Event(i, i, EVENT_MOUSE, 11);
    });
}

void HandleMouse()
{
    if (Profiler_Active) Profiler_Enter(6, 9);
    Stage_MousePreviousX = Stage_MouseX;
    Stage_MousePreviousY = Stage_MouseY;
    Stage_MouseX = Window_GetDeviceMouseX(0);
    Stage_MouseY = Window_GetDeviceMouseY(0);
    bool any = false;
    for (int32_t b = 1; b <= 3; ++b)
        if (IO_MouseDown(b, 0) || IO_MousePressed(b, 0)) {
            any = true;
            HandleInstanceMouseEvent(b - 1);
            HandleGlobalMouseEvent(49 + b);
        }
    if (!any) HandleInstanceMouseEvent(3);
    for (int32_t b = 1; b <= 3; ++b)
        if (IO_MousePressed(b, 0)) {
            HandleInstanceMouseEvent(b + 3);
            HandleGlobalMouseEvent(12);
            HandleGlobalMouseEvent(52 + b);
        }
    for (int32_t b = 1; b <= 3; ++b)
        if (IO_MouseReleased(b, 0)) {
            HandleInstanceMouseEvent(b + 6);
            HandleGlobalMouseEvent(13);
            HandleGlobalMouseEvent(55 + b);
        }
    HandleMouseEnterLeave();
    if (IO_WheelUp(0)) HandleGlobalMouseEvent(60);
    if (IO_WheelDown(0)) HandleGlobalMouseEvent(61);
    if (Profiler_Active) Profiler_Leave();
}

void HandleJoystick()
{
    if (g_RunFlags.noDirectInput) return;
    if (g_joystickListeners < 0) {
        g_joystickListeners = 0;
        for (int32_t n = 16; n <= 43; ++n)
            if (n != 20 && n != 29 && n != 30 && n != 35 && ObjectLists_Get(EVENT_MOUSE, n).count > 0)
                g_joystickListeners = 1;
    }
    if (g_joystickListeners == 0) return;
    if (JoystickMask & 0x10000u) {
        JoystickMask &= ~0x10000u;
        ReadJoystick();
    }
    for (int32_t j = 0; j < 2; ++j) {
        if (!(JoystickMask & (1u << j))) continue;
        JoystickReading r{};
        if (!Joystick_Read(j, &r)) continue;
        const int32_t base = j == 0 ? 16 : 31;
        if (r.x < 20000) HandleGlobalMouseEvent(base);
        if (r.x > 44000) HandleGlobalMouseEvent(base + 1);
        if (r.y < 20000) HandleGlobalMouseEvent(base + 2);
        if (r.y > 44000) HandleGlobalMouseEvent(base + 3);
        for (int32_t n = 1; n <= 8; ++n)
            if (r.buttons & (1u << (n - 1))) HandleGlobalMouseEvent(base + 4 + n);
    }
}

void HandleOther()
{
    CRoom* room = Run_Room;
    if (!room) return;
    if (Profiler_Active) Profiler_Enter(6, 10);
    Stage_OutsideRoom(room);
    Stage_IntersectBoundary(room);
    if (room->viewsEnabled) {
        Stage_Views(room, 40, true);
        Stage_Views(room, 50, false);
    }
    if (Profiler_Active) Profiler_Leave();
}

void HandleAsyncEvent(int32_t subNumber)
{
    if (!Stage_AsyncSubNumber(subNumber)) return;
    const int64_t phase = StepStamp++;
    Stage_ForEachListed(EVENT_OTHER, subNumber, phase, [&](CInstance* i) {
        PerformEvent(i, i, i->object ? i->objectIndex : -1, EVENT_OTHER, subNumber);
    });
}

int32_t HTTP_MakeAsyncMap(HTTP_REQ_CONTEXT* request, void*, int32_t* map)
{
    *map = DSMap_NewWithEntries(5, "id", double(request->id), nullptr, "status", 1.0, nullptr, "url", 0.0,
                                request->url ? request->url : "", "contentLength", double(request->contentLength),
                                nullptr, "sizeDownloaded", double(request->bytesReceived), nullptr);
    return 62;
}

void HandleAsyncRequests()
{
    IAP_ProcessEvents();
    Social_ProcessEvents();
    Http_Process();
    for (HTTP_REQ_CONTEXT* request = AsyncRequests; request;) {
        if (!request->active) {
            request = request->next;
            continue;
        }
        if (request->poll) request->poll(request);
        if (request->status == 3 && request->process) {
            AsyncLoad = -1;
            HandleAsyncEvent(HTTP_MakeAsyncMap(request, request->userData, &AsyncLoad));
            Stage_DropAsyncMap();
            request = request->next;
        } else if (request->status == 7) {
            Stage_Unlink(request);
            AsyncLoad = -1;
            if (request->process) {
                const int32_t sub = request->process(request, request->userData, &AsyncLoad);
                if (sub >= 60) HandleAsyncEvent(sub);
            }
            Stage_DropAsyncMap();
            if (request->cleanup) request->cleanup(request);
            delete request;
            // A handler may have queued or finished others: the walk starts over.
            request = AsyncRequests;
        } else {
            request = request->next;
        }
    }
}
