// The operating-system variables, read-only. Placeholders until the platform services answer them: the
// platform code 0, no device, no known version, no browser and a window size of 0.
#include "core/value.h"
#include "core/variables.h"
#include "services/services.h"

namespace {
template <int32_t Value>
bool OSVariable_Get(CInstance*, int32_t, RValue* out)
{
    RValue_SetReal(out, Value);
    return true;
}
}  // namespace

void InitOSVariables()
{
    Variable_BuiltIn_Add("os_type", OSVariable_Get<0>, nullptr);
    Variable_BuiltIn_Add("os_device", OSVariable_Get<-1>, nullptr);
    Variable_BuiltIn_Add("os_version", OSVariable_Get<-1>, nullptr);
    Variable_BuiltIn_Add("os_browser", OSVariable_Get<-1>, nullptr);
    Variable_BuiltIn_Add("browser_width", OSVariable_Get<0>, nullptr);
    Variable_BuiltIn_Add("browser_height", OSVariable_Get<0>, nullptr);
}
