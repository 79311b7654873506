// Until the platform services exist: no extensions, no Steam, no store.
#include "services/services.h"

#include "core/seam_trace.h"
#include "input/builtins_input.h"
#include "core/value.h"

int32_t IAP_DataMap = -1;

void Services_Process() { SeamTrace_Record("Services_Process"); }
void Services_Shutdown() { SeamTrace_Record("Services_Shutdown"); }
void IAP_ProcessEvents() { SeamTrace_Record("IAP_ProcessEvents"); }
void Social_ProcessEvents() { SeamTrace_Record("Social_ProcessEvents"); }
void OSPauseEvent_Register() { SeamTrace_Record("OSPauseEvent_Register"); }

void Steam_Process() { SeamTrace_Record("Steam_Process"); }
void Steam_Shutdown() { SeamTrace_Record("Steam_Shutdown"); }
void InitSteamFunctions() { SeamTrace_Record("InitSteamFunctions"); }

bool Extension_Load(uint8_t*, uint32_t, uint8_t*)
{
    SeamTrace_Record("Extension_Load");
    return true;
}

namespace {
bool g_extensionPrepareResult = true;
bool g_extensionInitialiseResult = true;
bool g_extensionFinaliseResult = true;
}  // namespace

bool Extension_Prepare()
{
    SeamTrace_Record("Extension_Prepare");
    return g_extensionPrepareResult;
}

void Extension_SetSeamResults(bool prepare, bool initialise, bool finalise)
{
    g_extensionPrepareResult = prepare;
    g_extensionInitialiseResult = initialise;
    g_extensionFinaliseResult = finalise;
}

bool Extension_Initialise()
{
    SeamTrace_Record("Extension_Initialise");
    return g_extensionInitialiseResult;
}

bool Extension_Finalise()
{
    SeamTrace_Record("Extension_Finalise");
    return g_extensionFinaliseResult;
}

int32_t Extension_FindFunction(const char*) { return -1; }
namespace {
ExtensionCallHook g_extensionCallHook = nullptr;
}

ExtensionCallHook Extension_SetCallHook(ExtensionCallHook hook)
{
    ExtensionCallHook old = g_extensionCallHook;
    g_extensionCallHook = hook;
    return old;
}

bool Extension_CallFunction(int32_t index, int32_t argc, RValue* args, RValue* result)
{
    return g_extensionCallHook ? g_extensionCallHook(index, argc, args, result) : false;
}

namespace {
DLLSeamHooks g_dllHooks = {};
}

DLLSeamHooks DLL_SetSeamHooks(const DLLSeamHooks& hooks)
{
    const DLLSeamHooks old = g_dllHooks;
    g_dllHooks = hooks;
    return old;
}

int32_t DLL_Define(const char* dll, const char* name, int32_t callType, int32_t argCount, const bool* argIsString,
                   bool resultIsString)
{
    SeamTrace_Record("DLL_Define");
    return g_dllHooks.define ? g_dllHooks.define(dll, name, callType, argCount, argIsString, resultIsString) : -1;
}

void DLL_Call(int32_t index, int32_t argc, RValue* args, RValue* result)
{
    SeamTrace_Record("DLL_Call");
    if (!result) return;
    RValue_Free(result);
    RValue_SetReal(result, 0.0);
    if (g_dllHooks.call) g_dllHooks.call(index, argc, args, result);
}

void DLL_Free(const char* dll)
{
    SeamTrace_Record("DLL_Free");
    if (g_dllHooks.free) g_dllHooks.free(dll);
}

void InitPushFunctions() { SeamTrace_Record("InitPushFunctions"); }
void InitServiceFunctions()
{
    SeamTrace_Record("InitServiceFunctions");
    InputBuiltins_RegisterDeviceMouse();
}
void InitWin8Functions() { SeamTrace_Record("InitWin8Functions"); }
