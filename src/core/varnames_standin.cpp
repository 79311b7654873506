// Until the built-in variable registry exists no name is a built-in variable.
#include "core/varnames.h"

bool Variable_NoInstance = false;

int32_t Variable_BuiltIn_Find(const char*) { return -1; }

const char* Variable_BuiltIn_Name(int32_t) { return "<unknown built-in variable>"; }
