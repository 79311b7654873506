// Until the script object model exists: no built-in objects are made.
#include "script/script.h"

#include <cstring>

#include "core/seam_trace.h"

void JS_Init() { SeamTrace_Record("JS_Init"); }
void JS_CreateResourceObject() { SeamTrace_Record("JS_CreateResourceObject"); }

namespace {

const char* const kBuiltinGlobalNames[] = {
    "application_surface", "argument", "argument0", "argument1", "argument10", "argument11", "argument12",
    "argument13", "argument14", "argument15", "argument2", "argument3", "argument4", "argument5", "argument6",
    "argument7", "argument8", "argument9", "argument_count", "argument_relative", "async_load",
    "background_alpha", "background_blend", "background_color", "background_colour", "background_foreground",
    "background_height", "background_hspeed", "background_htiled", "background_index", "background_showcolor",
    "background_showcolour", "background_visible", "background_vspeed", "background_vtiled",
    "background_width", "background_x", "background_xscale", "background_y", "background_yscale",
    "browser_height", "browser_width", "caption_health", "caption_lives", "caption_score", "current_day",
    "current_hour", "current_minute", "current_month", "current_second", "current_time", "current_weekday",
    "current_year", "cursor_sprite", "debug_mode", "delta_time", "display_aa", "error_last", "error_occurred",
    "event_action", "event_number", "event_object", "event_type", "fps", "fps_real", "game_display_name",
    "game_id", "game_project_name", "game_save_id", "kelvane_version", "health", "iap_data", "instance_count",
    "instance_id", "keyboard_key", "keyboard_lastchar", "keyboard_lastkey", "keyboard_string", "lives",
    "mouse_button", "mouse_lastbutton", "mouse_x", "mouse_y", "os_browser", "os_device", "os_type",
    "os_version", "pointer_invalid", "pointer_null", "program_directory", "room", "room_caption",
    "room_first", "room_height", "room_last", "room_persistent", "room_speed", "room_width", "score",
    "secure_mode", "show_health", "show_lives", "show_score", "temp_directory", "transition_color",
    "transition_kind", "transition_steps", "undefined", "view_angle", "view_current", "view_enabled",
    "view_hborder", "view_hport", "view_hspeed", "view_hview", "view_object", "view_surface_id",
    "view_camera", "view_vborder", "view_visible", "view_vspeed", "view_wport", "view_wview", "view_xport",
    "view_xview", "view_yport", "view_yview",
};

}  // namespace

bool Variable_IsBuiltinGlobalName(const char* name)
{
    if (!name) return false;
    for (const char* candidate : kBuiltinGlobalNames)
        if (std::strcmp(candidate, name) == 0) return true;
    return false;
}
