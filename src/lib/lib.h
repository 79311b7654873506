// Files, maths, strings and miscellaneous built-ins: the operations the rest of the runtime calls.
// The file areas and the temporary folder have their own headers.
#pragma once
#include <cstdint>
#include <ctime>

// One queued asynchronous request; the asynchronous stage delivers finished ones and deletes them.
struct HTTP_REQ_CONTEXT;
// Returns the event sub-number and leaves a ds_map index in *map.
using HttpProcessCallback = int32_t (*)(HTTP_REQ_CONTEXT* record, void* userData, int32_t* map);
using HttpCleanupCallback = int32_t (*)(HTTP_REQ_CONTEXT* record);
using HttpPollCallback = int32_t (*)(HTTP_REQ_CONTEXT* record);

struct HTTP_REQ_CONTEXT {
    virtual ~HTTP_REQ_CONTEXT();
    HTTP_REQ_CONTEXT* next;
    uint8_t active;   // the walk passes over a record whose flag is 0
    int32_t status;   // 1 started, 3 in progress, 7 finished; other values belong to the producers
    HttpProcessCallback process;
    HttpCleanupCallback cleanup;
    HttpPollCallback poll;
    void* userData;   // the producer's
    char* url;        // owned copy, or null
    int32_t id;
    int32_t httpStatus;
    int32_t responseHeaders;  // ds_map index, -1 none
    int32_t reserved;
    uint8_t* buffer;  // owned, or null
    int32_t bufferSize;
    int32_t bytesReceived;
    int32_t contentLength;  // -1 unknown
};
extern HTTP_REQ_CONTEXT* AsyncRequests;  // head of the queue, null when empty
extern int32_t AsyncRequestIdCounter;

// Game end: closes and frees the open-file slots and empties the request queue (its records are deleted).
void FileFunctions_Shutdown();

// The current time broken down (local time by default).
struct tm* Date_Now();

// The action library's relative flag (argument_relative).
extern bool g_ActionRelative;

// Built-in registration.
void InitFileFunctions();
void InitMathFunctions();
void InitActionFunctions();
void InitMiscFunctions();
