// Data structures and buffers: what the rest of the runtime calls. The containers, the buffer table and
// the remaining buffer operations are seams with neutral answers (empty tables, -1, null) for now.
#pragma once
#include <cstdint>

#include "ds/buffer.h"

struct RValue;

// Values as the containers compare them: -1, 0 or 1 (only the low 24 bits of the kind words count).
int32_t RValue_Compare(const RValue& a, const RValue& b, double epsilon);

// Containers. Each mark pass calls the object mark for every object or accessor value it holds.
class CDS_Map {
public:
    void MarkReferences(uint8_t* marks, int32_t capacity);
};
class CDS_List {
public:
    void MarkReferences(uint8_t* marks, int32_t capacity);
};
class CDS_Stack {
public:
    void MarkReferences(uint8_t* marks, int32_t capacity);
};
class CDS_Queue {
public:
    void MarkReferences(uint8_t* marks, int32_t capacity);
};
class CDS_Grid {
public:
    void MarkReferences(uint8_t* marks, int32_t capacity);
};
class CDS_Priority {
public:
    void MarkReferences(uint8_t* marks, int32_t capacity);
};

// Until the containers exist their mark passes do nothing; a stand-in (tests) may answer for every one of
// them: it gets the container and the collector's marks. Returns the one installed before (null: none).
using DS_MarkPassStandIn = void (*)(const void* container, uint8_t* marks, int32_t capacity);
DS_MarkPassStandIn DS_SetMarkPassStandIn(DS_MarkPassStandIn standIn);

// Per-kind container tables, indexed by the script's container index; a destroyed one's slot is null.
extern int32_t DS_MapsCount;
extern CDS_Map** DS_Maps;
extern int32_t DS_ListsCount;
extern CDS_List** DS_Lists;
CDS_Stack** DSStack_GetTable(int32_t* count);
CDS_Queue** DSQueue_GetTable(int32_t* count);
CDS_Grid** DSGrid_GetTable(int32_t* count);
CDS_Priority** DSPriority_GetTable(int32_t* count);

// count triples {const char* key, double real, const char* text or null} -> index of a new ds_map; -1 none.
int32_t DSMap_NewWithEntries(int32_t count, ...);
void DSMap_Destroy(int32_t index);  // a map that is not there is ignored
// Until the containers exist the seam hands out map indexes and counts the ones not yet destroyed.
int32_t DSMap_SeamLiveCount();
// ds_grid_get and ds_grid_set with argument checks (checked) or without (release mode).
void DS_SetGridAccessMode(bool checked);
void InitDSFunctions();
void InitBufferFunctions();

// The buffer table.
int32_t Buffer_New(int32_t size, int32_t kind, int32_t alignment);  // -1 none
IBuffer* Buffer_Get(int32_t index);                                  // null none
void Buffer_Destroy(int32_t index);

// A buffer that moves single unsigned bytes only.
class Buffer_Fast : public IBuffer {
public:
    Buffer_Fast(int32_t size, int32_t kind, int32_t alignment);
    ~Buffer_Fast() override;
    int32_t Write(int32_t type, RValue* value) override;
    int32_t Read(int32_t type, RValue* out) override;
    void Peek(int32_t offset, int32_t type, RValue* out) override;
    void Poke(int32_t offset, int32_t type, RValue* value) override;
};

// Byte copies with the wrap rules of the buffer kinds: the destination offset after the copy, or -1.
int32_t Buffer_CopyBytesIn(IBuffer* dest, const uint8_t* source, int32_t sourceLength, int32_t sourceOffset,
                           int32_t count, int32_t destOffset, bool grow, bool destWraps, bool sourceWraps);
int32_t Buffer_CopyMemory(uint8_t* dest, int32_t destLength, const uint8_t* source, int32_t sourceLength,
                          int32_t sourceOffset, int32_t count, int32_t destOffset, bool destWraps, bool sourceWraps);
