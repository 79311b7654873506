// Calls into subsystems that are not built yet leave their name here while a test switches the trace on.
#pragma once
#include <string>
#include <vector>

void SeamTrace_Enable(bool on);
bool SeamTrace_Enabled();
void SeamTrace_Record(const char* name);
void SeamTrace_Clear();
const std::vector<std::string>& SeamTrace_Calls();
