// Until the file, maths and miscellaneous built-ins exist: no open files, no requests.
#include "lib/lib.h"

#include "core/memory_manager.h"
#include "core/seam_trace.h"

HTTP_REQ_CONTEXT* AsyncRequests = nullptr;
int32_t AsyncRequestIdCounter = 0;
bool g_ActionRelative = false;

HTTP_REQ_CONTEXT::~HTTP_REQ_CONTEXT()
{
    MemFree(buffer);
    MemFree(url);
}

void FileFunctions_Shutdown()
{
    SeamTrace_Record("FileFunctions_Shutdown");
    // Nothing delivers a request after game end: the queue goes, and the records with it.
    while (HTTP_REQ_CONTEXT* request = AsyncRequests) {
        AsyncRequests = request->next;
        delete request;
    }
}

void InitFileFunctions() { SeamTrace_Record("InitFileFunctions"); }
void InitActionFunctions() { SeamTrace_Record("InitActionFunctions"); }
