// Miscellaneous built-in functions.
#include "lib/builtins_misc.h"

#include "core/console.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "lib/lib.h"

void DebugMessage_Print(RValue* value)
{
    if (!ReleaseConsole) return;
    if (RValue_Kind(value) == VALUE_STRING) {
        ReleaseConsole->Output("%s\n", value->str && value->str->text ? value->str->text : "");
        return;
    }
    size_t capacity = 256;
    char* start = static_cast<char*>(MemAlloc(capacity));
    if (!start) return;
    start[0] = '\0';
    char* pos = start;
    RValue_AppendText(&pos, &start, &capacity, value);
    ReleaseConsole->Output("%s\n", start);
    MemFree(start);
}

void F_ShowDebugMessage(RValue*, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    // A call without its argument prints what a missing argument reads as.
    RValue missing;
    RValue_SetUndefined(&missing);
    DebugMessage_Print(argc >= 1 && args ? &args[0] : &missing);
}

void InitMiscFunctions() { Function_Add("show_debug_message", F_ShowDebugMessage, 1, false); }
