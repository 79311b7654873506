// The temporary folder scripts see as temp_directory.
#pragma once

// Early start-up: $TMPDIR when it is an absolute folder, else the C library's default; kept with a
// trailing '/'. A second call replaces the kept text.
void TempDirectory_Init();
// New memory-manager text (the caller frees it); initialises on first use.
char* TempDirectory_Get();
// Shutdown: lets go of the kept text. The folder is shared with other programs, so nothing is deleted.
void TempDirectory_Shutdown();
