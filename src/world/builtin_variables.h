// The game world's built-in variables, registered at early start-up.
#pragma once

void InitInstanceVariables();  // x, y, sprite_index, alarm ... of the self instance
void InitGlobalVariables();    // room, score, view_* ... and, last, the operating-system variables
