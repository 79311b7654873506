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

// Dates: the current time broken down per the time-zone setting (local unless date_set_timezone chose UTC).
struct tm* Date_Now();
extern bool DateUseLocalTime;  // true at start
// The last library time (seconds since 1970 UTC) dates can reach: 31 December 3000 23:59:59.
constexpr int64_t DATE_TIME_MAX = 32535215999;
bool Date_IsLeapYear(int32_t year);
bool Date_IsValidDate(int32_t day, int32_t month, int32_t year);
// Seconds from the start of the year to that moment, day being the 1-based day of the month.
int32_t Date_SecondsOfYear(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second);
// The 49 date built-ins, in their order (InitMiscFunctions calls it in its place).
void Date_RegisterFunctions();

// The action library's relative flag (argument_relative).
extern bool g_ActionRelative;

// The cores of random_range and choose, which the game's compiled code calls directly: they allocate nothing
// beyond the copy of the chosen value. ChooseArgument releases what result held and returns result.
struct RValue;
double RandomRange(double a, double b);
RValue* ChooseArgument(RValue* result, int32_t count, RValue** args);

// Built-in registration.
void InitFileFunctions();
void InitMathFunctions();
void InitActionFunctions();
void InitMiscFunctions();
