// Until the script object model exists: no built-in objects are made.
#include "script/script.h"

#include <cstring>
#include <limits>
#include <string>

#include "core/convert.h"
#include "core/error.h"
#include "core/seam_trace.h"
#include "core/value.h"
#include "core/varlist.h"
#include "world/object_base.h"

JSPendingException JS_PendingException = {};

namespace {
const ScriptModel* g_scriptModel = nullptr;
}  // namespace

const ScriptModel* ScriptModel_Set(const ScriptModel* model)
{
    const ScriptModel* before = g_scriptModel;
    g_scriptModel = model;
    return before;
}

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

// ---- Values, with the object model off ----

namespace {

// Width in bytes of a white-space or line-terminator character at p (ASCII and the UTF-8 encoded
// Unicode spaces), 0 when p is not one.
int ScriptSeam_SpaceWidth(const unsigned char* p)
{
    switch (p[0]) {
    case ' ': case '\t': case '\n': case '\v': case '\f': case '\r':
        return 1;
    case 0xC2:
        return p[1] == 0xA0 ? 2 : 0;  // no-break space
    case 0xE1:
        return (p[1] == 0x9A && p[2] == 0x80) ? 3 : 0;  // ogham space mark
    case 0xE2:
        if (p[1] == 0x80 && ((p[2] >= 0x80 && p[2] <= 0x8A) || p[2] == 0xA8 || p[2] == 0xA9 || p[2] == 0xAF))
            return 3;
        return (p[1] == 0x81 && p[2] == 0x9F) ? 3 : 0;
    case 0xE3:
        return (p[1] == 0x80 && p[2] == 0x80) ? 3 : 0;  // ideographic space
    case 0xEF:
        return (p[1] == 0xBB && p[2] == 0xBF) ? 3 : 0;  // byte-order mark
    default:
        return 0;
    }
}

bool ScriptSeam_IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int ScriptSeam_HexDigit(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length of a decimal literal at p (sign, digits, optional fraction, optional exponent), 0 when none.
size_t ScriptSeam_DecimalLength(const unsigned char* p)
{
    size_t i = 0;
    if (p[i] == '+' || p[i] == '-') ++i;
    size_t intDigits = 0, fracDigits = 0;
    while (ScriptSeam_IsDigit(p[i])) ++i, ++intDigits;
    if (p[i] == '.') {
        ++i;
        while (ScriptSeam_IsDigit(p[i])) ++i, ++fracDigits;
    }
    if (intDigits + fracDigits == 0) return 0;
    if (p[i] == 'e' || p[i] == 'E') {
        size_t j = i + 1;
        if (p[j] == '+' || p[j] == '-') ++j;
        if (ScriptSeam_IsDigit(p[j])) {
            while (ScriptSeam_IsDigit(p[j])) ++j;
            i = j;
        }
    }
    return i;
}

double ScriptSeam_TextToNumber(const char* text)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (!text) return 0.0;
    auto* p = reinterpret_cast<const unsigned char*>(text);
    auto* end = p + std::strlen(text);
    while (int w = ScriptSeam_SpaceWidth(p)) p += w;
    while (end > p) {
        // Trailing white space: find a space character that ends exactly at end.
        int w = 0;
        for (int back = 1; back <= 3 && end - back >= p; ++back)
            if (ScriptSeam_SpaceWidth(end - back) == back) {
                w = back;
                break;
            }
        if (!w) break;
        end -= w;
    }
    size_t length = size_t(end - p);
    if (length == 0) return 0.0;
    std::string body(reinterpret_cast<const char*>(p), length);
    if (body == "Infinity" || body == "+Infinity") return std::numeric_limits<double>::infinity();
    if (body == "-Infinity") return -std::numeric_limits<double>::infinity();
    if (length > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) {
        double value = 0.0;
        for (size_t i = 2; i < length; ++i) {
            int digit = ScriptSeam_HexDigit(static_cast<unsigned char>(body[i]));
            if (digit < 0) return nan;
            value = value * 16.0 + digit;
        }
        return value;
    }
    auto* b = reinterpret_cast<const unsigned char*>(body.c_str());
    if (ScriptSeam_DecimalLength(b) != length) return nan;
    return Text_ToReal(body.c_str());
}

}  // namespace

int32_t JS_ToNumber(RValue* result, const RValue* value)
{
    if (g_scriptModel && g_scriptModel->toNumber) return g_scriptModel->toNumber(result, value);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    double number = nan;
    int32_t status = 0;
    switch (RValue_Kind(value)) {
    case VALUE_REAL:
    case VALUE_BOOL:
        number = value->real;
        break;
    case VALUE_INT32:
        number = value->v32;
        break;
    case VALUE_INT64:
        number = static_cast<double>(value->v64);
        break;
    case VALUE_STRING:
        number = ScriptSeam_TextToNumber(value->str ? value->str->text : nullptr);
        break;
    case VALUE_NULL:
        number = 0.0;
        break;
    case VALUE_UNDEFINED:
    case VALUE_UNSET:
    case VALUE_OBJECT:  // with the model off an object's primitive is its "[object Object]" text
        break;
    default:
        status = 1;
        break;
    }
    RValue_SetReal(result, number);
    return status;
}

bool JS_IsCallable(const RValue* value)
{
    if (g_scriptModel && g_scriptModel->isCallable) return g_scriptModel->isCallable(value);
    switch (RValue_Kind(value)) {
    case VALUE_REAL:
    case VALUE_STRING:
    case VALUE_UNDEFINED:
    case VALUE_UNSET:
    case VALUE_INT32:
    case VALUE_INT64:
    case VALUE_NULL:
    case VALUE_BOOL:
    case VALUE_OBJECT:  // no function objects exist while the model is off
        return false;
    default:
        RuntimeError("unhandled type for JS_IsCallable");
        return false;
    }
}

bool JS_IsCallableObject(QZObjectBase* object)
{
    if (!object || !object->named) return false;
    return object->named->FindByName("[[Call_Script]]") || object->named->FindByName("[[Call_Cpp]]");
}

void JS_GetProperty(QZObjectBase* object, RValue* result, const char* name)
{
    if (g_scriptModel && g_scriptModel->getProperty) return g_scriptModel->getProperty(object, result, name);
    result->v64 = 0;
    result->flags = 0;
    result->kind = VALUE_UNSET;
}

int32_t JS_CallValue(QZObjectBase* self, RValue* result, const RValue* function, int32_t argc, RValue* args)
{
    if (g_scriptModel && g_scriptModel->callValue) return g_scriptModel->callValue(self, result, function, argc, args);
    return 1;
}

// No accessor has a getter or a setter while the object model is off.
void JS_CallGetter(QZObjectBase*, RValue* result, const RValue*)
{
    SeamTrace_Record("JS_CallGetter");
    RValue_SetUndefined(result);
}

void JS_CallSetter(QZObjectBase*, const RValue*, RValue* accessor)
{
    SeamTrace_Record("JS_CallSetter");
    RValue_Free(accessor);
}

// ---- Operations that only the model itself answers; with it off no object values exist ----

int32_t F_JS_ToPrimitive(RValue* result, const RValue* value, int32_t hint)
{
    if (g_scriptModel && g_scriptModel->toPrimitive) return g_scriptModel->toPrimitive(result, value, hint);
    RValue_SetUndefined(result);
    RValue_Copy(result, value);
    return 0;
}

int32_t JS_ToString(RValue* result, const RValue* value)
{
    if (g_scriptModel && g_scriptModel->toString) return g_scriptModel->toString(result, value);
    RValue_SetUndefined(result);
    return 1;
}

int32_t JS_ToInt32(RValue* result, const RValue* value)
{
    if (g_scriptModel && g_scriptModel->toInt32) return g_scriptModel->toInt32(result, value);
    RValue_SetUndefined(result);
    return 1;
}

int32_t JS_ToUint32(RValue* result, const RValue* value)
{
    if (g_scriptModel && g_scriptModel->toUint32) return g_scriptModel->toUint32(result, value);
    RValue_SetUndefined(result);
    return 1;
}

int32_t F_JS_ToObject(RValue* result, const RValue* value)
{
    if (g_scriptModel && g_scriptModel->toObject) return g_scriptModel->toObject(result, value);
    RValue_SetUndefined(result);
    return 1;
}

bool JS_ToBoolean(const RValue* value)
{
    if (g_scriptModel && g_scriptModel->toBoolean) return g_scriptModel->toBoolean(value);
    return false;
}

int32_t JS_LessThan(RValue* result, const RValue* x, const RValue* y, bool leftFirst)
{
    if (g_scriptModel && g_scriptModel->lessThan) return g_scriptModel->lessThan(result, x, y, leftFirst);
    RValue_SetUndefined(result);
    return 1;
}

int32_t JS_Equals(RValue* result, const RValue* x, const RValue* y)
{
    if (g_scriptModel && g_scriptModel->equals) return g_scriptModel->equals(result, x, y);
    RValue_SetReal(result, 0.0);
    return 1;
}

bool JS_StrictEquals(const RValue* x, const RValue* y)
{
    if (g_scriptModel && g_scriptModel->strictEquals) return g_scriptModel->strictEquals(x, y);
    return false;
}

void JS_Get(QZObjectBase* object, RValue* result, const char* name)
{
    if (g_scriptModel && g_scriptModel->get) return g_scriptModel->get(object, result, name);
    RValue_SetUndefined(result);
}

void JS_Put(QZObjectBase* object, const RValue* value, const char* name, bool throwFlag)
{
    if (g_scriptModel && g_scriptModel->put) g_scriptModel->put(object, value, name, throwFlag);
}

bool JS_Array_GetElement(const RValue* object, const RValue* key, RValue* result)
{
    if (g_scriptModel && g_scriptModel->arrayGetElement) return g_scriptModel->arrayGetElement(object, key, result);
    RValue_SetUndefined(result);
    return false;
}

void JS_CreateArgumentsObject(RValue* result, QZObjectBase* function, int32_t argc, RValue* args, bool noCallee)
{
    if (g_scriptModel && g_scriptModel->createArgumentsObject)
        return g_scriptModel->createArgumentsObject(result, function, argc, args, noCallee);
    RValue_SetUndefined(result);
}

// Without the model there is no handler to take a throw.
void JS_ThrowTypeError(const char* message)
{
    if (g_scriptModel && g_scriptModel->throwTypeError) return g_scriptModel->throwTypeError(message);
    RuntimeError("Unable to find a handler for exception %s", message ? message : "");
}

void JS_ThrowReferenceError(const char* message)
{
    if (g_scriptModel && g_scriptModel->throwReferenceError) return g_scriptModel->throwReferenceError(message);
    RuntimeError("Unable to find a handler for exception %s", message ? message : "");
}
