// The game world's built-in variables, registered at early start-up.
#pragma once

// Empties the built-in table, then registers the instance and the global variables in their fixed order.
void InitVariables();
void InitInstanceVariables();  // x, y, sprite_index, alarm ... of the self instance
void InitGlobalVariables();    // room, score, view_* ... and, last, the operating-system variables
