// The argument getters: how a built-in reads argument index of args with the runtime's conversions. A
// wrong kind is reported through RuntimeError naming Function_Current; when the report returns, the
// getter answers its neutral value (-1 for GetArgPtrOrNumber, else 0, false, 0.0 or null). An index past the
// running built-in's argument block (Function_CurrentArgs) reads as undefined, so a missing required
// argument gives the getter's own type error.
#pragma once
#include <cstdint>

struct RValue;

// Pointers and 64-bit integers whole; reals truncated toward zero. A bool is refused.
intptr_t GetArgPtrOrNumber(RValue* args, int32_t index);
bool QZGB(RValue* args, int32_t index);
int32_t QZGI32(RValue* args, int32_t index);
uint32_t QZGU32(RValue* args, int32_t index);
int64_t GetArgInt64(RValue* args, int32_t index);
double QZGR(RValue* args, int32_t index);
float QZGF(RValue* args, int32_t index);
// The string's own text (not a copy); null for an object, and for a string without text.
const char* QZGS(RValue* args, int32_t index);
