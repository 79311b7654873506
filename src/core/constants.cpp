// The named-constant table. Two parallel arrays grow one entry per addition; every lookup scans from
// the last entry down so that user constants hide built-ins of the same name.
#include "core/constants.h"

#include <cstdio>
#include <cstring>

#include "audio/audio.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "draw/draw.h"
#include "input/input.h"
#include "layers/layers.h"
#include "world/command_line.h"
#include "world/run_state.h"

namespace {

struct ConstantsTable {
    char** names;
    RValue* values;
    int32_t count;
};
ConstantsTable g_constants = {nullptr, nullptr, 0};

const AssetFinders kConstantsDefaultFinders = {
    Sprite_Find, Sound_Find, Object_Find, Audio_Find, Background_Find, Path_Find,
    Font_Find,   TimeLine_Find, Script_Find, Room_Find, Shader_Find,
};
AssetFinders g_constantsFinders = kConstantsDefaultFinders;

struct BuiltinConstant {
    const char* name;
    double value;
};

// In registration order, which is the order Code_Constant_Name lists them in.
const BuiltinConstant kConstantsBeforeDll[] = {
    {"self", -1}, {"other", -2}, {"all", -3}, {"noone", -4}, {"global", -5}, {"local", -7}, {"true", 1},
    {"false", 0}, {"pi", 3.1415927410125732},
    {"pr_pointlist", 1}, {"pr_linelist", 2}, {"pr_linestrip", 3}, {"pr_trianglelist", 4}, {"pr_trianglestrip", 5},
    {"pr_trianglefan", 6},
    {"c_aqua", 16776960}, {"c_black", 0}, {"c_blue", 16711680}, {"c_dkgray", 4210752}, {"c_fuchsia", 16711935},
    {"c_gray", 8421504}, {"c_green", 32768}, {"c_lime", 65280}, {"c_ltgray", 12632256}, {"c_maroon", 128},
    {"c_navy", 8388608}, {"c_olive", 32896}, {"c_purple", 8388736}, {"c_red", 255}, {"c_silver", 12632256},
    {"c_teal", 8421376}, {"c_white", 16777215}, {"c_yellow", 65535}, {"c_orange", 4235519},
    {"bm_normal", 0}, {"bm_add", 1}, {"bm_max", 2}, {"bm_subtract", 3}, {"bm_zero", 1}, {"bm_one", 2},
    {"bm_src_color", 3}, {"bm_src_colour", 3}, {"bm_inv_src_color", 4}, {"bm_inv_src_colour", 4},
    {"bm_src_alpha", 5}, {"bm_inv_src_alpha", 6}, {"bm_dest_alpha", 7}, {"bm_inv_dest_alpha", 8},
    {"bm_dest_color", 9}, {"bm_dest_colour", 9}, {"bm_inv_dest_colour", 10}, {"bm_src_alpha_sat", 11},
    {"se_none", 0}, {"se_chorus", 1}, {"se_echo", 2}, {"se_flanger", 4}, {"se_gargle", 8}, {"se_reverb", 16},
    {"se_compressor", 32}, {"se_equalizer", 64},
    {"fa_left", 0}, {"fa_center", 1}, {"fa_right", 2}, {"fa_top", 0}, {"fa_middle", 1}, {"fa_bottom", 2},
    {"mb_any", -1}, {"mb_none", 0}, {"mb_left", 1}, {"mb_right", 2}, {"mb_middle", 3},
    {"vk_nokey", 0}, {"vk_anykey", 1}, {"vk_enter", 13}, {"vk_return", 13}, {"vk_shift", 16}, {"vk_control", 17},
    {"vk_alt", 18}, {"vk_escape", 27}, {"vk_space", 32}, {"vk_backspace", 8}, {"vk_tab", 9}, {"vk_pause", 19},
    {"vk_printscreen", 44}, {"vk_left", 37}, {"vk_right", 39}, {"vk_up", 38}, {"vk_down", 40}, {"vk_home", 36},
    {"vk_end", 35}, {"vk_delete", 46}, {"vk_insert", 45}, {"vk_pageup", 33}, {"vk_pagedown", 34}, {"vk_f1", 112},
    {"vk_f2", 113}, {"vk_f3", 114}, {"vk_f4", 115}, {"vk_f5", 116}, {"vk_f6", 117}, {"vk_f7", 118}, {"vk_f8", 119},
    {"vk_f9", 120}, {"vk_f10", 121}, {"vk_f11", 122}, {"vk_f12", 123}, {"vk_numpad0", 96}, {"vk_numpad1", 97},
    {"vk_numpad2", 98}, {"vk_numpad3", 99}, {"vk_numpad4", 100}, {"vk_numpad5", 101}, {"vk_numpad6", 102},
    {"vk_numpad7", 103}, {"vk_numpad8", 104}, {"vk_numpad9", 105}, {"vk_divide", 111}, {"vk_multiply", 106},
    {"vk_subtract", 109}, {"vk_add", 107}, {"vk_decimal", 110}, {"vk_lshift", 160}, {"vk_lcontrol", 162},
    {"vk_lalt", 164}, {"vk_rshift", 161}, {"vk_rcontrol", 163}, {"vk_ralt", 165},
    {"gp_face1", 32769}, {"gp_face2", 32770}, {"gp_face3", 32771}, {"gp_face4", 32772}, {"gp_shoulderl", 32773},
    {"gp_shoulderr", 32774}, {"gp_shoulderlb", 32775}, {"gp_shoulderrb", 32776}, {"gp_select", 32777},
    {"gp_start", 32778}, {"gp_stickl", 32779}, {"gp_stickr", 32780}, {"gp_padu", 32781}, {"gp_padd", 32782},
    {"gp_padl", 32783}, {"gp_padr", 32784}, {"gp_axislh", 32785}, {"gp_axislv", 32786}, {"gp_axisrh", 32787},
    {"gp_axisrv", 32788},
    {"ev_create", 0}, {"ev_destroy", 1}, {"ev_step", 3}, {"ev_alarm", 2}, {"ev_keyboard", 5}, {"ev_mouse", 6},
    {"ev_collision", 4}, {"ev_other", 7}, {"ev_draw", 8}, {"ev_keypress", 9}, {"ev_keyrelease", 10},
    {"ev_left_button", 0}, {"ev_right_button", 1}, {"ev_middle_button", 2}, {"ev_no_button", 3},
    {"ev_left_press", 4}, {"ev_right_press", 5}, {"ev_middle_press", 6}, {"ev_left_release", 7},
    {"ev_right_release", 8}, {"ev_middle_release", 9}, {"ev_mouse_enter", 10}, {"ev_mouse_leave", 11},
    {"ev_global_press", 12}, {"ev_global_release", 13}, {"ev_joystick1_left", 16}, {"ev_joystick1_right", 17},
    {"ev_joystick1_up", 18}, {"ev_joystick1_down", 19}, {"ev_joystick1_button1", 21}, {"ev_joystick1_button2", 22},
    {"ev_joystick1_button3", 23}, {"ev_joystick1_button4", 24}, {"ev_joystick1_button5", 25},
    {"ev_joystick1_button6", 26}, {"ev_joystick1_button7", 27}, {"ev_joystick1_button8", 28},
    {"ev_joystick2_left", 31}, {"ev_joystick2_right", 32}, {"ev_joystick2_up", 33}, {"ev_joystick2_down", 34},
    {"ev_joystick2_button1", 36}, {"ev_joystick2_button2", 37}, {"ev_joystick2_button3", 38},
    {"ev_joystick2_button4", 39}, {"ev_joystick2_button5", 40}, {"ev_joystick2_button6", 41},
    {"ev_joystick2_button7", 42}, {"ev_joystick2_button8", 43}, {"ev_global_left_button", 50},
    {"ev_global_right_button", 51}, {"ev_global_middle_button", 52}, {"ev_global_left_press", 53},
    {"ev_global_right_press", 54}, {"ev_global_middle_press", 55}, {"ev_global_left_release", 56},
    {"ev_global_right_release", 57}, {"ev_global_middle_release", 58}, {"ev_mouse_wheel_up", 60},
    {"ev_mouse_wheel_down", 61}, {"ev_outside", 0}, {"ev_boundary", 1}, {"ev_game_start", 2}, {"ev_game_end", 3},
    {"ev_room_start", 4}, {"ev_room_end", 5}, {"ev_no_more_lives", 6}, {"ev_animation_end", 7},
    {"ev_end_of_path", 8}, {"ev_no_more_health", 9}, {"ev_user0", 10}, {"ev_user1", 11}, {"ev_user2", 12},
    {"ev_user3", 13}, {"ev_user4", 14}, {"ev_user5", 15}, {"ev_user6", 16}, {"ev_user7", 17}, {"ev_user8", 18},
    {"ev_user9", 19}, {"ev_user10", 20}, {"ev_user11", 21}, {"ev_user12", 22}, {"ev_user13", 23}, {"ev_user14", 24},
    {"ev_user15", 25}, {"ev_close_button", 30}, {"ev_step_normal", 0}, {"ev_step_begin", 1}, {"ev_step_end", 2},
    {"ev_gui", 64},
    {"ty_real", 0}, {"ty_string", 1},
};

const BuiltinConstant kConstantsAfterDll[] = {
    {"fa_readonly", 1}, {"fa_hidden", 2}, {"fa_sysfile", 4}, {"fa_volumeid", 8}, {"fa_directory", 16},
    {"fa_archive", 32},
    {"cr_default", 0}, {"cr_none", -1}, {"cr_arrow", -2}, {"cr_cross", -3}, {"cr_beam", -4}, {"cr_size_nesw", -6},
    {"cr_size_ns", -7}, {"cr_size_nwse", -8}, {"cr_size_we", -9}, {"cr_uparrow", -10}, {"cr_hourglass", -11},
    {"cr_drag", -12}, {"cr_nodrop", -13}, {"cr_hsplit", -14}, {"cr_vsplit", -15}, {"cr_multidrag", -16},
    {"cr_sqlwait", -17}, {"cr_no", -18}, {"cr_appstart", -19}, {"cr_help", -20}, {"cr_handpoint", -21},
    {"cr_size_all", -22},
    {"pt_shape_pixel", 0}, {"pt_shape_disk", 1}, {"pt_shape_square", 2}, {"pt_shape_line", 3}, {"pt_shape_star", 4},
    {"pt_shape_circle", 5}, {"pt_shape_ring", 6}, {"pt_shape_sphere", 7}, {"pt_shape_flare", 8},
    {"pt_shape_spark", 9}, {"pt_shape_explosion", 10}, {"pt_shape_cloud", 11}, {"pt_shape_smoke", 12},
    {"pt_shape_snow", 13},
    {"ps_distr_linear", 0}, {"ps_distr_gaussian", 1}, {"ps_distr_invgaussian", 2}, {"ps_shape_rectangle", 0},
    {"ps_shape_ellipse", 1}, {"ps_shape_diamond", 2}, {"ps_shape_line", 3}, {"ps_force_constant", 0},
    {"ps_force_linear", 1}, {"ps_force_quadratic", 2}, {"ps_deflect_vertical", 0}, {"ps_deflect_horizontal", 1},
    {"ps_change_all", 0}, {"ps_change_shape", 1}, {"ps_change_motion", 2},
    {"ef_explosion", 0}, {"ef_ring", 1}, {"ef_ellipse", 2}, {"ef_firework", 3}, {"ef_smoke", 4}, {"ef_smokeup", 5},
    {"ef_star", 6}, {"ef_spark", 7}, {"ef_flare", 8}, {"ef_cloud", 9}, {"ef_rain", 10}, {"ef_snow", 11},
    {"display_landscape", 0}, {"display_portrait", 1}, {"display_landscape_flipped", 2},
    {"display_portrait_flipped", 3},
    {"phy_joint_anchor_1_x", 0}, {"phy_joint_anchor_1_y", 1}, {"phy_joint_anchor_2_x", 2},
    {"phy_joint_anchor_2_y", 3}, {"phy_joint_reaction_force_x", 4}, {"phy_joint_reaction_force_y", 5},
    {"phy_joint_reaction_torque", 6}, {"phy_joint_angle", 8}, {"phy_joint_motor_speed", 7},
    {"phy_joint_motor_torque", 9}, {"phy_joint_max_motor_torque", 10}, {"phy_joint_translation", 11},
    {"phy_joint_speed", 12}, {"phy_joint_motor_force", 13}, {"phy_joint_max_motor_force", 14},
    {"phy_joint_length_1", 15}, {"phy_joint_length_2", 16}, {"phy_joint_damping_ratio", 17},
    {"phy_joint_frequency", 18}, {"phy_debug_render_shapes", 1}, {"phy_debug_render_joints", 2},
    {"phy_debug_render_coms", 4}, {"phy_debug_render_aabb", 8}, {"phy_debug_render_obb", 16},
    {"phy_debug_render_core_shapes", 32}, {"phy_debug_render_collision_pairs", 64},
    {"audio_falloff_none", 0}, {"audio_falloff_inverse_distance", 1}, {"audio_falloff_inverse_distance_clamped", 2},
    {"audio_falloff_linear_distance", 3}, {"audio_falloff_linear_distance_clamped", 4},
    {"audio_falloff_exponent_distance", 5}, {"audio_falloff_exponent_distance_clamped", 6}, {"audio_old_system", 0},
    {"audio_new_system", 1}, {"audio_mono", 0}, {"audio_stereo", 1}, {"audio_3d", 2},
    {"ov_friends", 0}, {"ov_community", 1}, {"ov_players", 2}, {"ov_settings", 3}, {"ov_gamegroup", 4},
    {"ov_achievements", 5},
    {"lb_sort_none", 0}, {"lb_sort_ascending", 1}, {"lb_sort_descending", 2}, {"lb_disp_none", 0},
    {"lb_disp_numeric", 1}, {"lb_disp_time_sec", 2}, {"lb_disp_time_ms", 3},
    {"ugc_result_success", 1}, {"ugc_filetype_community", 0}, {"ugc_filetype_microtrans", 1},
    {"ugc_visibility_public", 0}, {"ugc_visibility_friends_only", 1}, {"ugc_visibility_private", 2},
    {"ugc_query_RankedByVote", 0}, {"ugc_query_RankedByPublicationDate", 1},
    {"ugc_query_AcceptedForGameRankedByAcceptanceDate", 2}, {"ugc_query_RankedByTrend", 3},
    {"ugc_query_FavoritedByFriendsRankedByPublicationDate", 4},
    {"ugc_query_CreatedByFriendsRankedByPublicationDate", 5}, {"ugc_query_RankedByNumTimesReported", 6},
    {"ugc_query_CreatedByFollowedUsersRankedByPublicationDate", 7}, {"ugc_query_NotYetRated", 8},
    {"ugc_query_RankedByTotalVotesAsc", 9}, {"ugc_query_RankedByVotesUp", 10}, {"ugc_query_RankedByTextSearch", 11},
    {"ugc_sortorder_CreationOrderDesc", 0}, {"ugc_sortorder_CreationOrderAsc", 1}, {"ugc_sortorder_TitleAsc", 2},
    {"ugc_sortorder_LastUpdatedDesc", 3}, {"ugc_sortorder_SubscriptionDateDesc", 4},
    {"ugc_sortorder_VoteScoreDesc", 5}, {"ugc_sortorder_ForModeration", 6}, {"ugc_list_Published", 0},
    {"ugc_list_VotedOn", 1}, {"ugc_list_VotedUp", 2}, {"ugc_list_VotedDown", 3}, {"ugc_list_WillVoteLater", 4},
    {"ugc_list_Favorited", 5}, {"ugc_list_Subscribed", 6}, {"ugc_list_UsedOrPlayed", 7}, {"ugc_list_Followed", 8},
    {"ugc_match_Items", 0}, {"ugc_match_Items_Mtx", 1}, {"ugc_match_Items_ReadyToUse", 2},
    {"ugc_match_Collections", 3}, {"ugc_match_Artwork", 4}, {"ugc_match_Videos", 5}, {"ugc_match_Screenshots", 6},
    {"ugc_match_AllGuides", 7}, {"ugc_match_WebGuides", 8}, {"ugc_match_IntegratedGuides", 9},
    {"ugc_match_UsableInGame", 10}, {"ugc_match_ControllerBindings", 11},
    {"timezone_local", 0}, {"timezone_utc", 1},
};

const BuiltinConstant kConstantsOS[] = {
    {"os_unknown", -1}, {"os_win32", 0}, {"os_windows", 0}, {"os_macosx", 1}, {"os_psp", 2}, {"os_ios", 3},
    {"os_android", 4}, {"os_symbian", 5}, {"os_linux", 6}, {"os_winphone", 7}, {"os_tizen", 8},
    {"os_win8native", 9}, {"os_wiiu", 10}, {"os_3ds", 11}, {"os_psvita", 12}, {"os_bb10", 13}, {"os_ps4", 14},
    {"os_xboxone", 15}, {"os_ps3", 16}, {"os_xbox360", 17}, {"os_uwp", 18}, {"os_amazon", 19},
    {"os_llvm_win32", 65536}, {"os_llvm_macosx", 65537}, {"os_llvm_psp", 65538}, {"os_llvm_ios", 65539},
    {"os_llvm_android", 65540}, {"os_llvm_symbian", 65541}, {"os_llvm_linux", 65542}, {"os_llvm_winphone", 65543},
    {"device_ios_unknown", -1}, {"device_ios_iphone", 0}, {"device_ios_iphone_retina", 1}, {"device_ios_ipad", 2},
    {"device_ios_ipad_retina", 3}, {"device_ios_iphone5", 4}, {"device_emulator", 256}, {"device_tablet", 2},
    {"browser_not_a_browser", -1}, {"browser_unknown", 0}, {"browser_ie", 1}, {"browser_firefox", 2},
    {"browser_chrome", 3}, {"browser_safari", 4}, {"browser_safari_mobile", 5}, {"browser_opera", 6},
    {"browser_android_default", 7}, {"browser_windows_store", 8}, {"browser_tizen", 9}, {"browser_ie_mobile", 10},
    {"of_challenge_win", 0}, {"of_challenge_lose", 1}, {"of_challenge_tie", 2},
    {"leaderboard_type_number", 0}, {"leaderboard_type_time_mins_secs", 1},
    {"achievement_our_info", 1002}, {"achievement_friends_info", 1003}, {"achievement_leaderboard_info", 1004},
    {"achievement_achievement_info", 1005}, {"achievement_pic_loaded", 1006},
    {"achievement_challenge_completed", 1007}, {"achievement_challenge_completed_by_remote", 1008},
    {"achievement_challenge_received", 1009}, {"achievement_challenge_list_received", 1010},
    {"achievement_challenge_launched", 1011}, {"achievement_filter_all_players", 0},
    {"achievement_filter_friends_only", 1}, {"achievement_filter_favorites_only", 2},
    {"achievement_filter_friends_alt", 3}, {"achievement_type_achievement_challenge", 0},
    {"achievement_type_achievement_score", 1},
    {"asset_unknown", -1}, {"asset_object", 0}, {"asset_sprite", 1}, {"asset_sound", 2}, {"asset_room", 3},
    {"asset_background", 4}, {"asset_path", 5}, {"asset_script", 6}, {"asset_font", 7}, {"asset_timeline", 8},
    {"ds_type_map", 1}, {"ds_type_list", 2}, {"ds_type_stack", 3}, {"ds_type_queue", 4}, {"ds_type_grid", 5},
    {"ds_type_priority", 6},
    {"fb_login_default", 0}, {"fb_login_fallback_to_webview", 1}, {"fb_login_no_fallback_to_webview", 2},
    {"fb_login_forcing_webview", 3}, {"fb_login_use_system_account", 4}, {"fb_login_forcing_safari", 5},
};

template <size_t N>
void ConstantsAddAll(const BuiltinConstant (&table)[N])
{
    for (const BuiltinConstant& c : table) Code_Constant_AddReal(c.name, c.value);
}

char ConstantsLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool ConstantsEqualIgnoringCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        if (ConstantsLowerAscii(*a) != ConstantsLowerAscii(*b)) return false;
        if (*a == '\0') return true;
    }
}

bool ConstantsIsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool ConstantsIsDigit(char c) { return c >= '0' && c <= '9'; }

// Bytes at or below 32 as signed values: blanks, control characters and every byte of 128 or more.
bool ConstantsIsTrimmed(char c) { return static_cast<signed char>(c) <= 32; }

}  // namespace

void Code_Constant_Init()
{
    ConstantsAddAll(kConstantsBeforeDll);
    // Decided now, from what is known before the game data is read; the header's own switch comes later.
    if (!g_RunFlags.steam && !g_ChildGame) {
        Code_Constant_AddReal("dll_cdecl", 0);
        Code_Constant_AddReal("dll_stdcall", 1);
    }
    ConstantsAddAll(kConstantsAfterDll);
    Code_Constant_InitOS();
}

void Code_Constant_InitOS()
{
    ConstantsAddAll(kConstantsOS);
    // No platform adds constants of its own here.
}

void Code_Constant_Add(const char* name, const RValue* value)
{
    if (!name) return;
    // The value may live in the table itself, which the growth below can move.
    RValue copy;
    RValue_SetUndefined(&copy);
    if (value) RValue_Copy(&copy, value);
    int32_t slot = g_constants.count;
    MemoryManager::SetLength(reinterpret_cast<void**>(&g_constants.names), sizeof(char*) * (slot + 1), __FILE__,
                             __LINE__);
    MemoryManager::SetLength(reinterpret_cast<void**>(&g_constants.values), sizeof(RValue) * (slot + 1), __FILE__,
                             __LINE__);
    g_constants.count = slot + 1;
    // Growth inside a pool block keeps whatever bytes the block held past the old length, so the new
    // slot is set up here rather than freed as if it held a name and a value.
    g_constants.names[slot] = String_Duplicate(name);
    g_constants.values[slot] = copy;
}

void Code_Constant_AddReal(const char* name, double value)
{
    RValue v;
    RValue_SetReal(&v, value);
    Code_Constant_Add(name, &v);
}

const RValue* Code_Constant_Find(const char* name)
{
    if (!name) return nullptr;
    for (int32_t i = g_constants.count - 1; i >= 0; --i) {
        if (ConstantsEqualIgnoringCase(g_constants.names[i], name)) return &g_constants.values[i];
    }
    return nullptr;
}

bool Code_Constant_IsIdentifier(const char* text)
{
    if (!text || !ConstantsIsNameStart(*text)) return false;
    for (const char* p = text + 1; *p; ++p) {
        if (!ConstantsIsNameStart(*p) && !ConstantsIsDigit(*p)) return false;
    }
    return true;
}

void Code_Constant_SetText(char** target, const char* text)
{
    MemFree(*target);
    *target = nullptr;
    if (!text) return;
    size_t begin = 0;
    size_t end = std::strlen(text);
    while (begin < end && ConstantsIsTrimmed(text[begin])) ++begin;
    while (end > begin && ConstantsIsTrimmed(text[end - 1])) --end;
    size_t n = end - begin;
    auto* copy = static_cast<char*>(MemoryManager::Alloc(n + 1, __FILE__, __LINE__, true));
    std::memcpy(copy, text + begin, n);
    *target = copy;
}

bool Code_Constant_Define(const char* name, const char* /*valueText*/)
{
    char* trimmed = nullptr;
    Code_Constant_SetText(&trimmed, name);
    bool valid = Code_Constant_IsIdentifier(trimmed);
    if (valid) {
        // User constants read as 0 whatever their text says.
        Code_Constant_AddReal(trimmed, 0);
    } else {
        const char* shown = trimmed ? trimmed : "";
        static const char kFormat[] = "Constant name %s  is not valid.";
        size_t size = sizeof(kFormat) + std::strlen(shown);
        auto* message = static_cast<char*>(MemoryManager::Alloc(size, __FILE__, __LINE__, true));
        std::snprintf(message, size, kFormat, shown);
        ShowMessageBox(message);
        MemFree(message);
    }
    MemFree(trimmed);
    return valid;
}

bool Code_Constant_DefineList(int32_t count, char* const* names, char* const* valueTexts)
{
    for (int32_t i = 0; i < count; ++i) {
        if (!Code_Constant_Define(names ? names[i] : nullptr, valueTexts ? valueTexts[i] : nullptr)) return false;
    }
    return true;
}

bool Code_Constant_Prepare()
{
    OptionConstantTexts user = Options_UserConstants();
    return Code_Constant_DefineList(user.count, user.names, user.values);
}

bool Code_Constant_AssetFind(const char* name, RValue* out)
{
    RValue_Free(out);
    RValue_SetReal(out, -1);
    if (!name) return false;
    const AssetFindFunction finders[] = {
        g_constantsFinders.sprite, g_constantsFinders.sound,    g_constantsFinders.object,
        g_constantsFinders.audio,  g_constantsFinders.background, g_constantsFinders.path,
        g_constantsFinders.font,   g_constantsFinders.timeline, g_constantsFinders.script,
        g_constantsFinders.room,   g_constantsFinders.shader,
    };
    for (AssetFindFunction find : finders) {
        if (!find) continue;
        int32_t index = find(name);
        if (index >= 0) {
            RValue_SetReal(out, index);
            return true;
        }
    }
    for (int32_t i = g_constants.count - 1; i >= 0; --i) {
        if (std::strcmp(g_constants.names[i], name) == 0) {
            RValue_Copy(out, &g_constants.values[i]);
            return true;
        }
    }
    return false;
}

void Code_Constant_Free()
{
    for (int32_t i = 0; i < g_constants.count; ++i) {
        MemFree(g_constants.names[i]);
        RValue_Free(&g_constants.values[i]);
    }
    MemFree(g_constants.names);
    MemFree(g_constants.values);
    g_constants = {nullptr, nullptr, 0};
}

int32_t Code_Constant_Count() { return g_constants.count; }

const char* Code_Constant_Name(int32_t index)
{
    return (index >= 0 && index < g_constants.count) ? g_constants.names[index] : nullptr;
}

const RValue* Code_Constant_Value(int32_t index)
{
    return (index >= 0 && index < g_constants.count) ? &g_constants.values[index] : nullptr;
}

AssetFinders Code_Constant_SetAssetFinders(const AssetFinders* finders)
{
    AssetFinders before = g_constantsFinders;
    g_constantsFinders = finders ? *finders : kConstantsDefaultFinders;
    return before;
}
