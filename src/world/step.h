// The step: the game logic of one frame, in phases (collection, input and services, the event stages,
// drawing, scrolling), with the deferred instance changes applied after every stage.
#pragma once
#include <cstdint>

struct CInstance;

void DoAStep();
// The step clock: the clock value of the previous step, and the last step's length (delta_time).
void Step_SetClock(int64_t now);
extern int64_t Step_Delta;
// Applies the object changes, the depth changes and the activations asked for during a stage.
void UpdateActiveLists();
void ApplyDepthChanges();
// One instance's animation: image_index moves by its speed and wraps with an Animation End event.
void AdvanceImageIndex(CInstance* instance);
// Motion of every instance, or the physics step in a room with a world (then true).
bool HandleInstanceMovement(bool anyPathActive);
