// Neutral answers of the data structures and of the buffer operations that are not built yet.
#include "ds/ds.h"

#include "core/seam_trace.h"
#include "core/value.h"

int32_t DS_MapsCount = 0;
CDS_Map** DS_Maps = nullptr;
int32_t DS_ListsCount = 0;
CDS_List** DS_Lists = nullptr;

namespace {
DS_MarkPassStandIn g_dsMarkStandIn = nullptr;
void DsSeam_Mark(const void* container, uint8_t* marks, int32_t capacity)
{
    if (g_dsMarkStandIn) g_dsMarkStandIn(container, marks, capacity);
}
}  // namespace

DS_MarkPassStandIn DS_SetMarkPassStandIn(DS_MarkPassStandIn standIn)
{
    DS_MarkPassStandIn old = g_dsMarkStandIn;
    g_dsMarkStandIn = standIn;
    return old;
}

void CDS_Map::MarkReferences(uint8_t* marks, int32_t capacity) { DsSeam_Mark(this, marks, capacity); }
void CDS_List::MarkReferences(uint8_t* marks, int32_t capacity) { DsSeam_Mark(this, marks, capacity); }
void CDS_Stack::MarkReferences(uint8_t* marks, int32_t capacity) { DsSeam_Mark(this, marks, capacity); }
void CDS_Queue::MarkReferences(uint8_t* marks, int32_t capacity) { DsSeam_Mark(this, marks, capacity); }
void CDS_Grid::MarkReferences(uint8_t* marks, int32_t capacity) { DsSeam_Mark(this, marks, capacity); }
void CDS_Priority::MarkReferences(uint8_t* marks, int32_t capacity) { DsSeam_Mark(this, marks, capacity); }

namespace {
template <class T>
T** DsSeam_EmptyTable(int32_t* count)
{
    if (count) *count = 0;
    return nullptr;
}
}  // namespace

CDS_Stack** DSStack_GetTable(int32_t* count) { return DsSeam_EmptyTable<CDS_Stack>(count); }
CDS_Queue** DSQueue_GetTable(int32_t* count) { return DsSeam_EmptyTable<CDS_Queue>(count); }
CDS_Grid** DSGrid_GetTable(int32_t* count) { return DsSeam_EmptyTable<CDS_Grid>(count); }
CDS_Priority** DSPriority_GetTable(int32_t* count) { return DsSeam_EmptyTable<CDS_Priority>(count); }

namespace {
int32_t g_dsSeamNextMap = 0;
int32_t g_dsSeamLiveMaps = 0;
}  // namespace

int32_t DSMap_NewWithEntries(int32_t, ...)
{
    SeamTrace_Record("DSMap_NewWithEntries");
    ++g_dsSeamLiveMaps;
    return g_dsSeamNextMap++;
}

void DSMap_Destroy(int32_t index)
{
    SeamTrace_Record("DSMap_Destroy");
    if (index >= 0 && index < g_dsSeamNextMap && g_dsSeamLiveMaps > 0) --g_dsSeamLiveMaps;
}

int32_t DSMap_SeamLiveCount() { return g_dsSeamLiveMaps; }
void DS_SetGridAccessMode(bool) { SeamTrace_Record("DS_SetGridAccessMode"); }
void InitDSFunctions() {}
void InitBufferFunctions() {}

int32_t Buffer_New(int32_t, int32_t, int32_t) { return -1; }
IBuffer* Buffer_Get(int32_t) { return nullptr; }
void Buffer_Destroy(int32_t) {}

Buffer_Fast::Buffer_Fast(int32_t size, int32_t, int32_t alignment) : IBuffer(size, buffer_fast, alignment) {}
Buffer_Fast::~Buffer_Fast() = default;
int32_t Buffer_Fast::Write(int32_t, RValue*) { return -4; }
int32_t Buffer_Fast::Read(int32_t, RValue* out)
{
    RValue_Free(out);
    RValue_SetReal(out, 0.0);
    return -4;
}
void Buffer_Fast::Peek(int32_t, int32_t, RValue* out)
{
    RValue_Free(out);
    RValue_SetReal(out, 0.0);
}
void Buffer_Fast::Poke(int32_t, int32_t, RValue*) {}

void IBuffer::Peek(int32_t, int32_t, RValue* out)
{
    RValue_Free(out);
    RValue_SetReal(out, 0.0);
}
void IBuffer::Poke(int32_t, int32_t, RValue*) {}
bool IBuffer::Save(const char*, int32_t, int32_t) { return false; }
bool IBuffer::Load(const char*, int32_t, int32_t, int32_t) { return false; }
void IBuffer::Base64Encode(RValue*, int32_t, int32_t) {}
bool IBuffer::Base64Decode(const char*, int32_t, int32_t) { return false; }
void IBuffer::MD5(RValue*, int32_t, int32_t) {}
void IBuffer::SHA1(RValue*, int32_t, int32_t) {}
void IBuffer::Copy(int32_t, int32_t, IBuffer*, int32_t) {}
void IBuffer::Fill(int32_t, int32_t, int32_t, RValue*) {}
void IBuffer::GetSurface(int32_t, int32_t, int32_t, int32_t) {}
void IBuffer::SetSurface(int32_t, int32_t, int32_t) {}

void IBuffer::ExtractRange(uint8_t** outBlock, int32_t* outSize, int32_t, int32_t)
{
    if (outBlock) *outBlock = nullptr;
    if (outSize) *outSize = 0;
}
int32_t IBuffer::InsertBytes(const uint8_t*, int32_t, int32_t, int32_t, int32_t) { return -1; }

int32_t Buffer_CopyBytesIn(IBuffer*, const uint8_t*, int32_t, int32_t, int32_t, int32_t, bool, bool, bool) { return -1; }
int32_t Buffer_CopyMemory(uint8_t*, int32_t, const uint8_t*, int32_t, int32_t, int32_t, int32_t, bool, bool) { return -1; }
