// The room, background, view and score variables. They address the running room at the moment of the
// access; with no room running they read 0 and their writes change nothing.
#include <cstring>
#include <type_traits>

#include "core/console.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "world/builtin_vars.h"
#include "world/events.h"
#include "world/frame_timer.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/object.h"
#include "world/room.h"
#include "world/run_state.h"

namespace {

// ---- the room ----

bool RV_GetRoom(CInstance*, int32_t, RValue* out) { return BV_Out(out, Run_RoomIndex); }
bool RV_SetRoom(CInstance*, int32_t, RValue* value)
{
    Command_GotoRoom(BV_Int(value), 0);
    return true;
}
bool RV_GetRoomFirst(CInstance*, int32_t, RValue* out) { return BV_Out(out, Room_First()); }
bool RV_GetRoomLast(CInstance*, int32_t, RValue* out) { return BV_Out(out, Room_Last()); }

template <int32_t CRoom::*Field>
bool RV_GetRoomInt(CInstance*, int32_t, RValue* out)
{
    return BV_Out(out, Run_Room ? Run_Room->*Field : 0);
}
template <int32_t CRoom::*Field>
bool RV_SetRoomInt(CInstance*, int32_t, RValue* value)
{
    if (Run_Room) Run_Room->*Field = BV_Int(value);
    return true;
}
template <bool CRoom::*Field>
bool RV_GetRoomBool(CInstance*, int32_t, RValue* out)
{
    return BV_Out(out, Run_Room && Run_Room->*Field ? 1.0 : 0.0);
}
template <bool CRoom::*Field>
bool RV_SetRoomRule1(CInstance*, int32_t, RValue* value)
{
    if (Run_Room) Run_Room->*Field = BV_Rule1(value);
    return true;
}

bool RV_GetCaption(CInstance*, int32_t, RValue* out) { return BV_OutString(out, Run_Room ? Run_Room->caption : nullptr); }
bool RV_SetCaption(CInstance*, int32_t, RValue* value)
{
    if (!Run_Room) return true;
    const char* text = BV_Text(value);
    char* copy = nullptr;
    if (text) {
        const size_t n = std::strlen(text) + 1;
        copy = static_cast<char*>(MemAlloc(n));
        std::memcpy(copy, text, n);
    }
    MemFree(Run_Room->caption);
    Run_Room->caption = copy;
    return true;
}

bool RV_GetRoomSpeed(CInstance*, int32_t, RValue* out)
{
    if (g_GameData.newMode) return BV_Out(out, FrameTimer_GetFPS(&g_GameTimer));
    return BV_Out(out, Run_Room ? Run_Room->speed : 0);
}
bool RV_SetRoomSpeed(CInstance*, int32_t, RValue* value)
{
    const double speed = BV_Real(value);
    const int32_t rounded = Real_ToInt32Round(speed);
    // NaN rounds to INT32_MIN and is refused with the others.
    if (rounded <= 0) {
        Error_Show_Action("Trying to set the room speed to a value <= 0.", false);
        return false;
    }
    if (g_GameData.newMode) FrameTimer_SetFPS(&g_GameTimer, speed);
    else if (Run_Room) Run_Room->speed = Real_ToInt32(speed);
    return true;
}

bool RV_GetColour(CInstance*, int32_t, RValue* out) { return BV_Out(out, Run_Room ? double(Run_Room->colour) : 0.0); }
bool RV_SetColour(CInstance*, int32_t, RValue* value)
{
    if (Run_Room) Run_Room->colour = uint32_t(BV_Int(value));
    return true;
}

bool RV_GetInstanceCount(CInstance*, int32_t, RValue* out) { return BV_Out(out, Run_Room ? Run_Room->active.count : 0); }
bool RV_GetInstanceId(CInstance*, int32_t index, RValue* out)
{
    CInstance* instance = Run_Room && index >= 0 ? Run_Room->active.head : nullptr;
    for (int32_t i = 0; instance && i < index; ++i) instance = instance->next;
    return BV_Out(out, instance ? instance->id : -4);
}

// ---- background slots and views (index clamped to 0..7) ----

template <typename T, typename Record, T Record::*Field>
T* RV_SlotField(int32_t index)
{
    if (!Run_Room) return nullptr;
    if constexpr (std::is_same_v<Record, RoomBackground>)
        return &(Run_Room->backgrounds[BV_Index(index, ROOM_BACKGROUNDS)].*Field);
    else
        return &(Run_Room->views[BV_Index(index, ROOM_VIEWS)].*Field);
}

template <typename Record, bool Record::*Field>
bool RV_GetSlotBool(CInstance*, int32_t index, RValue* out)
{
    bool* f = RV_SlotField<bool, Record, Field>(index);
    return BV_Out(out, f && *f ? 1.0 : 0.0);
}
template <typename Record, bool Record::*Field>
bool RV_SetSlotRule1(CInstance*, int32_t index, RValue* value)
{
    if (bool* f = RV_SlotField<bool, Record, Field>(index)) *f = BV_Rule1(value);
    return true;
}
template <typename Record, int32_t Record::*Field>
bool RV_GetSlotInt(CInstance*, int32_t index, RValue* out)
{
    int32_t* f = RV_SlotField<int32_t, Record, Field>(index);
    return BV_Out(out, f ? *f : 0);
}
template <typename Record, int32_t Record::*Field>
bool RV_SetSlotInt(CInstance*, int32_t index, RValue* value)
{
    if (int32_t* f = RV_SlotField<int32_t, Record, Field>(index)) *f = BV_Int(value);
    return true;
}
template <typename Record, float Record::*Field>
bool RV_GetSlotFloat(CInstance*, int32_t index, RValue* out)
{
    float* f = RV_SlotField<float, Record, Field>(index);
    return BV_Out(out, f ? *f : 0.0f);
}
template <typename Record, float Record::*Field>
bool RV_SetSlotFloat(CInstance*, int32_t index, RValue* value)
{
    if (float* f = RV_SlotField<float, Record, Field>(index)) *f = BV_Float(value);
    return true;
}

template <bool Height>
bool RV_GetBackgroundSize(CInstance*, int32_t index, RValue* out)
{
    int32_t* slotIndex = RV_SlotField<int32_t, RoomBackground, &RoomBackground::index>(index);
    int32_t w = 0, h = 0;
    if (!slotIndex || !Background_GetSize(*slotIndex, &w, &h)) return BV_Out(out, 0.0);
    return BV_Out(out, Height ? h : w);
}

bool RV_GetViewCurrent(CInstance*, int32_t, RValue* out) { return BV_Out(out, view_current); }

// ---- score, lives, health and their captions ----

bool RV_GetScore(CInstance*, int32_t, RValue* out) { return BV_Out(out, g_Score); }
bool RV_SetScore(CInstance*, int32_t, RValue* value)
{
    g_Score = BV_Int(value);
    return true;
}
bool RV_GetLives(CInstance*, int32_t, RValue* out) { return BV_Out(out, g_Lives); }
bool RV_SetLives(CInstance*, int32_t, RValue* value)
{
    const int32_t old = g_Lives;
    g_Lives = BV_Int(value);
    if (old > 0 && g_Lives <= 0) Perform_Event_All(EVENT_OTHER, 6);
    return true;
}
bool RV_GetHealth(CInstance*, int32_t, RValue* out) { return BV_Out(out, g_Health); }
bool RV_SetHealth(CInstance*, int32_t, RValue* value)
{
    const double old = g_Health;
    g_Health = BV_Real(value);
    if (old > 0.0 && g_Health <= 0.0) Perform_Event_All(EVENT_OTHER, 9);
    return true;
}

template <bool* Flag>
bool RV_GetShow(CInstance*, int32_t, RValue* out)
{
    return BV_Out(out, *Flag ? 1.0 : 0.0);
}
template <bool* Flag>
bool RV_SetShow(CInstance*, int32_t, RValue* value)
{
    *Flag = BV_Rule1(value);
    if (Flag == &g_ShowScore) g_CaptionsSet = true;
    return true;
}

// Captions are shared texts: a read hands out another reference, a write takes one to the value's text.
template <RefString** Caption>
bool RV_GetCaptionText(CInstance*, int32_t, RValue* out)
{
    return BV_OutShared(out, *Caption);
}
template <RefString** Caption>
bool RV_SetCaptionText(CInstance*, int32_t, RValue* value)
{
    return BV_TakeShared(Caption, value);
}

bool RV_GetTransitionKind(CInstance*, int32_t, RValue* out) { return BV_Out(out, g_TransitionKind); }
bool RV_SetTransitionKind(CInstance*, int32_t, RValue* value)
{
    g_TransitionKind = BV_Int(value);
    DebugConsole->Output("BUG: Room transitions don't function well - setting to 0 - look at Variable_BuiltIn "
                         "SV_TransitionKind() .\n");
    g_TransitionKind = 0;
    return true;
}
bool RV_GetTransitionSteps(CInstance*, int32_t, RValue* out) { return BV_Out(out, 0.0); }
bool RV_SetTransitionSteps(CInstance*, int32_t, RValue*) { return true; }

using BG = RoomBackground;

}  // namespace

const BV_Entry BV_RoomEntries[] = {
    {"room", RV_GetRoom, RV_SetRoom},
    {"room_first", RV_GetRoomFirst, nullptr},
    {"room_last", RV_GetRoomLast, nullptr},
    {"transition_kind", RV_GetTransitionKind, RV_SetTransitionKind},
    {"transition_steps", RV_GetTransitionSteps, RV_SetTransitionSteps},
    {"score", RV_GetScore, RV_SetScore},
    {"lives", RV_GetLives, RV_SetLives},
    {"health", RV_GetHealth, RV_SetHealth},
    {"instance_count", RV_GetInstanceCount, nullptr},
    {"instance_id", RV_GetInstanceId, nullptr},
    {"room_width", RV_GetRoomInt<&CRoom::width>, RV_SetRoomInt<&CRoom::width>},
    {"room_height", RV_GetRoomInt<&CRoom::height>, RV_SetRoomInt<&CRoom::height>},
    {"room_caption", RV_GetCaption, RV_SetCaption},
    {"room_speed", RV_GetRoomSpeed, RV_SetRoomSpeed},
    {"room_persistent", RV_GetRoomBool<&CRoom::persistent>, RV_SetRoomRule1<&CRoom::persistent>},
    {"background_color", RV_GetColour, RV_SetColour},
    {"background_showcolor", RV_GetRoomBool<&CRoom::showColour>, RV_SetRoomRule1<&CRoom::showColour>},
    {"background_colour", RV_GetColour, RV_SetColour},
    {"background_showcolour", RV_GetRoomBool<&CRoom::showColour>, RV_SetRoomRule1<&CRoom::showColour>},
    {"background_visible", RV_GetSlotBool<BG, &BG::visible>, RV_SetSlotRule1<BG, &BG::visible>},
    {"background_foreground", RV_GetSlotBool<BG, &BG::foreground>, RV_SetSlotRule1<BG, &BG::foreground>},
    {"background_index", RV_GetSlotInt<BG, &BG::index>, RV_SetSlotInt<BG, &BG::index>},
    {"background_x", RV_GetSlotFloat<BG, &BG::x>, RV_SetSlotFloat<BG, &BG::x>},
    {"background_y", RV_GetSlotFloat<BG, &BG::y>, RV_SetSlotFloat<BG, &BG::y>},
    {"background_width", RV_GetBackgroundSize<false>, nullptr},
    {"background_height", RV_GetBackgroundSize<true>, nullptr},
    {"background_htiled", RV_GetSlotBool<BG, &BG::htiled>, RV_SetSlotRule1<BG, &BG::htiled>},
    {"background_vtiled", RV_GetSlotBool<BG, &BG::vtiled>, RV_SetSlotRule1<BG, &BG::vtiled>},
    {"background_xscale", RV_GetSlotFloat<BG, &BG::xscale>, RV_SetSlotFloat<BG, &BG::xscale>},
    {"background_yscale", RV_GetSlotFloat<BG, &BG::yscale>, RV_SetSlotFloat<BG, &BG::yscale>},
    {"background_hspeed", RV_GetSlotFloat<BG, &BG::hspeed>, RV_SetSlotFloat<BG, &BG::hspeed>},
    {"background_vspeed", RV_GetSlotFloat<BG, &BG::vspeed>, RV_SetSlotFloat<BG, &BG::vspeed>},
    {"background_blend", RV_GetSlotInt<BG, &BG::blend>, RV_SetSlotInt<BG, &BG::blend>},
    {"background_alpha", RV_GetSlotFloat<BG, &BG::alpha>, RV_SetSlotFloat<BG, &BG::alpha>},
    {"view_enabled", RV_GetRoomBool<&CRoom::viewsEnabled>, RV_SetRoomRule1<&CRoom::viewsEnabled>},
    {"view_current", RV_GetViewCurrent, nullptr},
    {"view_visible", RV_GetSlotBool<CView, &CView::visible>, RV_SetSlotRule1<CView, &CView::visible>},
    {"view_xview", RV_GetSlotFloat<CView, &CView::x>, RV_SetSlotFloat<CView, &CView::x>},
    {"view_yview", RV_GetSlotFloat<CView, &CView::y>, RV_SetSlotFloat<CView, &CView::y>},
    {"view_wview", RV_GetSlotFloat<CView, &CView::width>, RV_SetSlotFloat<CView, &CView::width>},
    {"view_hview", RV_GetSlotFloat<CView, &CView::height>, RV_SetSlotFloat<CView, &CView::height>},
    {"view_xport", RV_GetSlotInt<CView, &CView::portX>, RV_SetSlotInt<CView, &CView::portX>},
    {"view_yport", RV_GetSlotInt<CView, &CView::portY>, RV_SetSlotInt<CView, &CView::portY>},
    {"view_wport", RV_GetSlotInt<CView, &CView::portWidth>, RV_SetSlotInt<CView, &CView::portWidth>},
    {"view_hport", RV_GetSlotInt<CView, &CView::portHeight>, RV_SetSlotInt<CView, &CView::portHeight>},
    {"view_angle", RV_GetSlotFloat<CView, &CView::angle>, RV_SetSlotFloat<CView, &CView::angle>},
    {"view_hborder", RV_GetSlotInt<CView, &CView::borderX>, RV_SetSlotInt<CView, &CView::borderX>},
    {"view_vborder", RV_GetSlotInt<CView, &CView::borderY>, RV_SetSlotInt<CView, &CView::borderY>},
    {"view_hspeed", RV_GetSlotInt<CView, &CView::speedX>, RV_SetSlotInt<CView, &CView::speedX>},
    {"view_vspeed", RV_GetSlotInt<CView, &CView::speedY>, RV_SetSlotInt<CView, &CView::speedY>},
    {"view_object", RV_GetSlotInt<CView, &CView::targetObject>, RV_SetSlotInt<CView, &CView::targetObject>},
    {"view_surface_id", RV_GetSlotInt<CView, &CView::surfaceId>, RV_SetSlotInt<CView, &CView::surfaceId>},
    {"view_camera", RV_GetSlotInt<CView, &CView::cameraId>, RV_SetSlotInt<CView, &CView::cameraId>},
    {"show_score", RV_GetShow<&g_ShowScore>, RV_SetShow<&g_ShowScore>},
    {"show_lives", RV_GetShow<&g_ShowLives>, RV_SetShow<&g_ShowLives>},
    {"show_health", RV_GetShow<&g_ShowHealth>, RV_SetShow<&g_ShowHealth>},
    {"caption_score", RV_GetCaptionText<&g_CaptionScore>, RV_SetCaptionText<&g_CaptionScore>},
    {"caption_lives", RV_GetCaptionText<&g_CaptionLives>, RV_SetCaptionText<&g_CaptionLives>},
    {"caption_health", RV_GetCaptionText<&g_CaptionHealth>, RV_SetCaptionText<&g_CaptionHealth>},
};
const int32_t BV_RoomEntryCount = int32_t(sizeof(BV_RoomEntries) / sizeof(BV_RoomEntries[0]));
