// Platform services: extensions, external calls, Steam, in-app purchases and OS information.
#pragma once
#include <cstdint>

#include "services/launcher.h"

struct RValue;

// Per step: the input phase, and the first work of the asynchronous stage.
void Services_Process();
void Services_Shutdown();  // saves the pending achievement queue
void IAP_ProcessEvents();
void Social_ProcessEvents();
// The operating system paused the game in this frame (the window lost focus).
void OSPauseEvent_Register();

// Steam: the per-step pump runs after the network poll.
void Steam_Process();
void Steam_Shutdown();
void InitSteamFunctions();  // starts Steam with the header's application id, then registers

// Extension packages.
bool Extension_Load(uint8_t* body, uint32_t size, uint8_t* base);  // EXTN
bool Extension_Prepare();     // defines the packages' constants
bool Extension_Initialise();  // before the first room
bool Extension_Finalise();    // game end
// Until the extension packages exist, tests may make preparation, initialisation or finalisation fail.
void Extension_SetSeamResults(bool prepare, bool initialise, bool finalise);
// Id of the first extension function of that name over all packages, -1 when none.
int32_t Extension_FindFunction(const char* name);
// False when the index is outside the function table; the caller keeps and frees the arguments.
bool Extension_CallFunction(int32_t index, int32_t argc, RValue* args, RValue* result);
// Until the extension packages exist, tests may answer the calls (null: none; returns the previous hook).
using ExtensionCallHook = bool (*)(int32_t index, int32_t argc, RValue* args, RValue* result);
ExtensionCallHook Extension_SetCallHook(ExtensionCallHook hook);

// External library functions. DLL_Define: an index, or -1 when the library or function cannot be found or
// the limits (16 arguments, at most 4 when any is a string) are broken; argIsString has argCount entries.
// DLL_Call: the function's result, or the real 0 when the index is unknown, the count differs from the
// definition or the library is not loaded. DLL_Free: unloads the library and every function from it.
int32_t DLL_Define(const char* dll, const char* name, int32_t callType, int32_t argCount, const bool* argIsString,
                   bool resultIsString);
void DLL_Call(int32_t index, int32_t argc, RValue* args, RValue* result);
void DLL_Free(const char* dll);
// Until external calls exist, tests may answer them (null members: the defaults above); returns the
// previous hooks.
struct DLLSeamHooks {
    int32_t (*define)(const char* dll, const char* name, int32_t callType, int32_t argCount, const bool* argIsString,
                      bool resultIsString);
    void (*call)(int32_t index, int32_t argc, RValue* args, RValue* result);
    void (*free)(const char* dll);
};
DLLSeamHooks DLL_SetSeamHooks(const DLLSeamHooks& hooks);

// The ds_map that iap_data reads, -1 none.
extern int32_t IAP_DataMap;

// Built-in registration.
void InitPushFunctions();
void InitServiceFunctions();
void InitWin8Functions();
void InitOSVariables();  // os_type, os_device, os_version, os_browser, browser_width, browser_height
