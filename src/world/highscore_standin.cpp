// Stand-in until the high-score table is built.
#include "world/highscore.h"

#include "core/seam_trace.h"

void HighScore_Init() { SeamTrace_Record("HighScore_Init"); }
void HighScore_Load() { SeamTrace_Record("HighScore_Load"); }
void HighScore_SaveIfChanged() { SeamTrace_Record("HighScore_SaveIfChanged"); }
