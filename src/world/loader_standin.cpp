// Stand-ins of the loader's own neighbours: the test record.
#include "world/loader_standin.h"

LoaderStandins g_LoaderStandins;

void LoaderStandins_Reset() { g_LoaderStandins = LoaderStandins(); }
