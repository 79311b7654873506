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

// The ds_map that iap_data reads, -1 none.
extern int32_t IAP_DataMap;

// Built-in registration.
void InitPushFunctions();
void InitServiceFunctions();
void InitWin8Functions();
void InitOSVariables();  // os_type, os_device, os_version, os_browser, browser_width, browser_height
