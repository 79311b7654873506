#include "core/seam_trace.h"

namespace {
bool g_traceOn = false;
std::vector<std::string> g_traceCalls;
}  // namespace

void SeamTrace_Enable(bool on) { g_traceOn = on; }
bool SeamTrace_Enabled() { return g_traceOn; }
void SeamTrace_Record(const char* name)
{
    if (g_traceOn) g_traceCalls.emplace_back(name);
}
void SeamTrace_Clear() { g_traceCalls.clear(); }
const std::vector<std::string>& SeamTrace_Calls() { return g_traceCalls; }
