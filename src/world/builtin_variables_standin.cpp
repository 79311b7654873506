// Stand-in until the built-in variables are built.
#include "world/builtin_variables.h"

#include "core/seam_trace.h"

void InitInstanceVariables() { SeamTrace_Record("InitInstanceVariables"); }
void InitGlobalVariables() { SeamTrace_Record("InitGlobalVariables"); }
