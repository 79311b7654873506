// Stand-ins of the loader's own neighbours: the test record and the open-file dialog.
#include "world/loader_standin.h"

#include "core/seam_trace.h"
#include "world/loader.h"

LoaderStandins g_LoaderStandins;

void LoaderStandins_Reset()
{
    g_LoaderStandins = LoaderStandins();
    CoreSeam_InstallFunctionFinders();
    CoreSeam_InstallVariableResolver();
}

// The dialog is not built yet: it is always cancelled.
char* ChooseGameFile()
{
    SeamTrace_Record("ChooseGameFile");
    g_LoaderStandins.chooseGameFileCalls++;
    return nullptr;
}
