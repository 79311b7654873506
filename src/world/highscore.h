// The high-score table and hiscore.dat, as start-up and shutdown call them.
#pragma once

void HighScore_Init();           // ten rows of the default name and score 0
void HighScore_Load();           // hiscore.dat from the save area, once the header named the save folder
void HighScore_SaveIfChanged();  // shutdown
