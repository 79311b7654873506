// Timelines: resources of moments, each a step count and the code to run when an instance's timeline
// position passes it, and the table of the game's timelines.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/memory_manager.h"

class CEvent;
class WadReader;

// What a moment runs: a handler (owned by the timeline) or a script by index.
enum class TimeLineMomentKind : int32_t { None = 0, Event = 1, Script = 2 };

struct TimeLineMoment {
    int32_t time = 0;
    TimeLineMomentKind kind = TimeLineMomentKind::None;
    CEvent* event = nullptr;  // kind Event
    int32_t script = -1;      // kind Script
};

class CTimeLine {
public:
    CTimeLine() = default;
    virtual ~CTimeLine();  // deletes the moments' handlers
    CTimeLine(const CTimeLine&) = delete;
    CTimeLine& operator=(const CTimeLine&) = delete;

    static void* operator new(size_t size);
    static void operator delete(void* p);

    // One TMLN entry at offset entry (index: its place in the chunk, for messages).
    bool LoadFromChunk(WadReader& r, uint32_t entry, uint32_t index);
    void Clear();  // handlers deleted, script references dropped, no moments
    // event_type 100000 and, per moment, event_number = its time; false when a handler fails to prepare.
    bool Prepare();

    int32_t GetCount() const { return int32_t(moments.size()); }
    int32_t GetTime(int32_t n) const;                // 0 outside the moments
    const TimeLineMoment* GetMoment(int32_t n) const;  // null outside the moments
    CEvent* GetEvent(int32_t n) const;               // the handler of moment n; null for a script or outside
    int32_t FindMoment(int32_t time) const;          // the moment with exactly that time, or -1
    // Positions are reals compared with the integer times as reals.
    int32_t FirstMomentAtOrAfter(double position) const;  // the count when none
    int32_t LastMomentAtOrBefore(double position) const;  // -1 when none

    // Inserts a script moment keeping the times ascending; nothing when a moment has that time.
    void AddMomentScript(int32_t time, int32_t script);
    // The moment with exactly that time runs the script from now on (its handler is deleted).
    void SetMomentScript(int32_t time, int32_t script);
    // Removes the moment with exactly that time, deleting its handler; later moments move down.
    void ClearMoment(int32_t time);
    void DeleteAllMoments();

    std::vector<TimeLineMoment, MemAllocator<TimeLineMoment>> moments;  // ascending times
};

constexpr int32_t TIMELINE_EVENT_TYPE = 100000;  // event_type while a moment runs

void TimeLine_Init();    // empties the table before the game data is read
void TimeLine_Unload();  // the game data is unloaded
void TimeLine_FreeAll(); // shutdown
// TMLN. Every offset and count is checked against the data; a violation fails pass 2 with a console line
// naming the chunk and the entry.
bool TimeLine_Load(uint8_t* body, uint32_t size, uint8_t* base);
bool TimeLine_Prepare();
int32_t TimeLine_Count();  // slots, empty ones included
bool TimeLine_Exists(int32_t index);
CTimeLine* TimeLine_Data(int32_t index);      // null for an empty slot or outside the table
const char* TimeLine_GetName(int32_t index);  // "<undefined>" when there is no such timeline
int32_t TimeLine_Find(const char* name);      // lowest existing timeline of that name, or -1
int32_t TimeLine_Add();                       // a new empty timeline "__newtimeline<n>" at the end
// Frees the timeline and its name; the slot stays, empty, so later indexes keep their meaning. False for
// an index that holds no timeline.
bool TimeLine_Delete(int32_t index);
// Bracket every moment run: handlers deleted meanwhile (a moment may delete its own timeline) are freed
// only when the outermost moment has finished.
void TimeLine_MomentStarted();
void TimeLine_MomentFinished();
