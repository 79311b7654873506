// Miscellaneous built-in functions: events, external calls, debug output, variables by name, alarms, game speed,
// process priority, window title and handles, the clipboard, and the date family in its place.
#pragma once
#include <cstdint>

struct CInstance;
struct RValue;

// Registers the family with the built-in table (called by InitKSLFunctions after "Misc..").
void InitMiscFunctions();

// The text of value on the release console (and its -output file), one line: a string's own text,
// any other value's text form.
void DebugMessage_Print(RValue* value);

// show_debug_message(value)
void F_ShowDebugMessage(RValue* result, CInstance* self, CInstance* other, int32_t argc, RValue* args);
