// Timelines and their table.
#include "world/timeline.h"

#include <cstdio>
#include <cstring>

#include "core/error.h"
#include "core/seam_trace.h"
#include "core/text.h"
#include "world/object.h"
#include "world/wad_reader.h"

namespace {

struct TimeLineSlot {
    CTimeLine* timeline;
    char* name;  // memory-manager copy
};

std::vector<TimeLineSlot, MemAllocator<TimeLineSlot>> g_timeLines;

// A moment's code may delete moments or whole timelines, its own among them: handlers deleted while
// moments run wait here until the outermost moment has finished.
int32_t g_timeLineMomentsRunning = 0;
std::vector<CEvent*, MemAllocator<CEvent*>> g_timeLineRetired;

void TimeLineMoment_Release(TimeLineMoment& moment)
{
    if (moment.kind == TimeLineMomentKind::Event) {
        if (g_timeLineMomentsRunning > 0) g_timeLineRetired.push_back(moment.event);
        else delete moment.event;
    }
    moment.event = nullptr;
    moment.script = -1;
    moment.kind = TimeLineMomentKind::None;
}

bool TimeLineLoad_Fail(WadReader& r, uint32_t offset, uint32_t entry, const char* what)
{
    char text[128];
    std::snprintf(text, sizeof text, "timeline %u: %s", entry, what);
    return r.Fail(offset, text);
}

}  // namespace

void TimeLine_MomentStarted() { ++g_timeLineMomentsRunning; }

void TimeLine_MomentFinished()
{
    if (--g_timeLineMomentsRunning > 0) return;
    for (CEvent* event : g_timeLineRetired) delete event;
    std::vector<CEvent*, MemAllocator<CEvent*>>().swap(g_timeLineRetired);
}

void* CTimeLine::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CTimeLine::operator delete(void* p) { MemFree(p); }

CTimeLine::~CTimeLine() { Clear(); }

void CTimeLine::Clear()
{
    for (TimeLineMoment& moment : moments) TimeLineMoment_Release(moment);
    moments.clear();
}

bool CTimeLine::LoadFromChunk(WadReader& r, uint32_t entry, uint32_t index)
{
    Clear();
    uint32_t count = 0;
    if (!r.InData(entry, 8, "timeline entry outside the data") || !r.DataU32(entry + 4, &count)) return false;
    if (count > 0x0FFFFFFFu || !r.InData(entry + 8, uint64_t(count) * 8, "timeline moments outside the data"))
        return TimeLineLoad_Fail(r, entry + 4, index, "moments run past the data");
    moments.reserve(count);
    int64_t previous = INT64_MIN;
    for (uint32_t m = 0; m < count; ++m) {
        uint32_t timeWord = 0, list = 0;
        const uint32_t at = entry + 8 + m * 8;
        if (!r.DataU32(at, &timeWord) || !r.DataU32(at + 4, &list)) return false;
        const int32_t time = int32_t(timeWord);
        if (time < previous) return TimeLineLoad_Fail(r, at, index, "moment times not in ascending order");
        previous = time;
        int32_t codeId = -1;
        if (!ObjectLoad_ActionCodeId(r, list, index, "timeline", &codeId)) return false;
        TimeLineMoment moment;
        moment.time = time;
        moment.kind = TimeLineMomentKind::Event;
        moment.event = new CEvent();
        moment.event->LoadFromCodeId(codeId);
        moments.push_back(moment);
    }
    return true;
}

bool CTimeLine::Prepare()
{
    event_type = TIMELINE_EVENT_TYPE;
    for (TimeLineMoment& moment : moments) {
        event_number = moment.time;
        if (moment.kind == TimeLineMomentKind::Event && !moment.event->Prepare()) return false;
    }
    return true;
}

int32_t CTimeLine::GetTime(int32_t n) const
{
    const TimeLineMoment* moment = GetMoment(n);
    return moment ? moment->time : 0;
}

const TimeLineMoment* CTimeLine::GetMoment(int32_t n) const
{
    return (n >= 0 && n < GetCount()) ? &moments[size_t(n)] : nullptr;
}

CEvent* CTimeLine::GetEvent(int32_t n) const
{
    const TimeLineMoment* moment = GetMoment(n);
    return (moment && moment->kind == TimeLineMomentKind::Event) ? moment->event : nullptr;
}

int32_t CTimeLine::FindMoment(int32_t time) const
{
    for (int32_t n = 0; n < GetCount(); ++n)
        if (moments[size_t(n)].time == time) return n;
    return -1;
}

int32_t CTimeLine::FirstMomentAtOrAfter(double position) const
{
    for (int32_t n = 0; n < GetCount(); ++n)
        if (double(moments[size_t(n)].time) >= position) return n;
    return GetCount();
}

int32_t CTimeLine::LastMomentAtOrBefore(double position) const
{
    for (int32_t n = GetCount() - 1; n >= 0; --n)
        if (double(moments[size_t(n)].time) <= position) return n;
    return -1;
}

void CTimeLine::AddMomentScript(int32_t time, int32_t script)
{
    if (FindMoment(time) >= 0) return;
    auto at = moments.begin();
    while (at != moments.end() && at->time <= time) ++at;
    TimeLineMoment moment;
    moment.time = time;
    moment.kind = TimeLineMomentKind::Script;
    moment.script = script;
    moments.insert(at, moment);
}

void CTimeLine::SetMomentScript(int32_t time, int32_t script)
{
    const int32_t n = FindMoment(time);
    if (n < 0) return;
    TimeLineMoment& moment = moments[size_t(n)];
    TimeLineMoment_Release(moment);
    moment.kind = TimeLineMomentKind::Script;
    moment.script = script;
}

void CTimeLine::ClearMoment(int32_t time)
{
    const int32_t n = FirstMomentAtOrAfter(double(time));
    if (n >= GetCount() || moments[size_t(n)].time != time) return;
    TimeLineMoment_Release(moments[size_t(n)]);
    moments.erase(moments.begin() + n);
}

void CTimeLine::DeleteAllMoments() { Clear(); }

// ---- The table ----

void TimeLine_FreeAll()
{
    for (TimeLineSlot& slot : g_timeLines) {
        delete slot.timeline;
        MemFree(slot.name);
    }
    decltype(g_timeLines)().swap(g_timeLines);
}

// The loader tests follow the chunk dispatch through the call trace.
void TimeLine_Init()
{
    SeamTrace_Record("TimeLine_Init");
    TimeLine_FreeAll();
}
void TimeLine_Unload() { TimeLine_FreeAll(); }

bool TimeLine_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("TimeLine_Load");
    WadReader r = WadReader::ForChunk(body, size, base);
    const uint32_t list = r.ChunkStart();
    uint32_t count = 0;
    if (!r.List(list, &count)) return false;
    TimeLine_FreeAll();
    g_timeLines.assign(count, TimeLineSlot{nullptr, nullptr});
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = 0, nameRef = 0;
        const char* name = nullptr;
        if (!r.ListEntry(list, i, &entry)) return false;
        if (entry == 0) continue;
        if (!r.InData(entry, 4, "timeline entry outside the data") || !r.DataU32(entry, &nameRef) ||
            !r.String(nameRef, &name))
            return false;
        TimeLineSlot& slot = g_timeLines[i];
        slot.timeline = new CTimeLine();
        slot.name = String_Duplicate(name ? name : "");
        if (!slot.timeline->LoadFromChunk(r, entry, i)) return false;
    }
    return true;
}

bool TimeLine_Prepare()
{
    for (size_t i = 0; i < g_timeLines.size(); ++i) {
        if (!g_timeLines[i].timeline) continue;
        event_object = int32_t(i);
        if (!g_timeLines[i].timeline->Prepare()) return false;
    }
    return true;
}

int32_t TimeLine_Count() { return int32_t(g_timeLines.size()); }

CTimeLine* TimeLine_Data(int32_t index)
{
    return (index >= 0 && size_t(index) < g_timeLines.size()) ? g_timeLines[size_t(index)].timeline : nullptr;
}

bool TimeLine_Exists(int32_t index) { return TimeLine_Data(index) != nullptr; }

const char* TimeLine_GetName(int32_t index)
{
    if (!TimeLine_Data(index)) return "<undefined>";
    const char* name = g_timeLines[size_t(index)].name;
    return name ? name : "<undefined>";
}

int32_t TimeLine_Find(const char* name)
{
    if (!name) return -1;
    for (size_t i = 0; i < g_timeLines.size(); ++i) {
        const TimeLineSlot& slot = g_timeLines[i];
        if (slot.timeline && slot.name && std::strcmp(slot.name, name) == 0) return int32_t(i);
    }
    return -1;
}

int32_t TimeLine_Add()
{
    const int32_t index = TimeLine_Count();
    char name[32];
    std::snprintf(name, sizeof name, "__newtimeline%d", index);
    g_timeLines.push_back(TimeLineSlot{new CTimeLine(), String_Duplicate(name)});
    return index;
}

bool TimeLine_Delete(int32_t index)
{
    if (!TimeLine_Data(index)) return false;
    TimeLineSlot& slot = g_timeLines[size_t(index)];
    delete slot.timeline;
    MemFree(slot.name);
    slot = TimeLineSlot{nullptr, nullptr};
    return true;
}
