// The event stages of the step: each delivers one family of events to the live instances of the objects
// that handle it.
#pragma once
#include <cstdint>

struct HTTP_REQ_CONTEXT;

void HandleStep(int32_t subNumber);  // 1 begin step, 0 step, 2 end step
void HandleAlarm();
void HandleTimeLines();
void HandleKeyboard();
void HandleJoystick();
void HandleMouse();
void HandleOther();
void HandleAsyncRequests();

// The per-event operations the stages are made of.
void HandleKeyboardEvent(int32_t key);
void HandleKeyPressEvent(int32_t key);
void HandleKeyReleaseEvent(int32_t key);
void HandleGlobalMouseEvent(int32_t subNumber);
void HandleInstanceMouseEvent(int32_t subNumber);
void HandleMouseEnterLeave();
void HandleAsyncEvent(int32_t subNumber);
// The progress map of a request in progress; returns the event sub-number 62.
int32_t HTTP_MakeAsyncMap(HTTP_REQ_CONTEXT* request, void* userData, int32_t* map);

// The ds_map handed to asynchronous events (async_load), -1 when there is none.
extern int32_t AsyncLoad;
// The mouse in the room this step and the step before.
extern int32_t Stage_MouseX;
extern int32_t Stage_MouseY;
extern int32_t Stage_MousePreviousX;
extern int32_t Stage_MousePreviousY;
// A new run decides again whether any object listens to the joysticks.
void Stages_Reset();
