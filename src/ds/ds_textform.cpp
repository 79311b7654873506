// The text form of the containers: the upper-case hex dump of a little-endian record (header 100 x container
// code + version, then the body), one value record per element, the three reading modes and the older flat
// form of maps. Texts come from files, ini values and packets: every count and length is held against what
// is left of the record before anything is allocated for it, and a reader that fails leaves its container
// as it was (a map empty).
#include "core/console.h"
#include "core/hash.h"
#include "core/stream.h"
#include "core/value.h"
#include "ds/ds.h"
#include "ds/ds_internal.h"

#include <cstring>

namespace {

// The value deserialiser's limit: deeper arrays are not read back, and not written either.
constexpr int32_t kDsTextMaxDepth = 256;

struct DsText_Path {
    const RefArray* records[kDsTextMaxDepth];
    int32_t depth = 0;
};

void DsText_WriteBytes(CStream* s, const void* bytes, size_t n) { s->WriteBuffer(bytes, int64_t(n)); }

// Kind word and 4- or 8-byte payload in one write.
template <class T>
void DsText_WriteWord(CStream* s, uint32_t kind, T payload)
{
    uint8_t bytes[4 + sizeof(T)];
    std::memcpy(bytes, &kind, 4);
    std::memcpy(bytes + 4, &payload, sizeof(T));
    DsText_WriteBytes(s, bytes, sizeof bytes);
}

void DsText_WriteValue(CStream* s, const RValue& v, DsText_Path* path)
{
    switch (v.kind) {
    case VALUE_REAL:
    case VALUE_BOOL:
        DsText_WriteWord(s, v.kind, v.real);
        return;
    case VALUE_STRING: {
        const char* text = v.str ? v.str->text : nullptr;
        const int32_t length = text ? BoundedStrLen(text, v.str->length) : 0;
        DsText_WriteWord(s, v.kind, length);
        if (length > 0) DsText_WriteBytes(s, text, size_t(length));
        return;
    }
    case VALUE_ARRAY: {
        if (path->depth >= kDsTextMaxDepth) {
            // The reader takes no deeper nesting: what lies below is written as undefined.
            s->WriteInteger(VALUE_UNDEFINED);
            return;
        }
        const RefArray* array = v.arr;
        bool onPath = false;
        for (int32_t i = 0; array && i < path->depth; ++i) onPath |= path->records[i] == array;
        // An array met again inside itself is written as an empty one.
        if (!array || onPath || !array->rows) {
            DsText_WriteWord(s, v.kind, int32_t(0));
            return;
        }
        DsText_WriteWord(s, v.kind, array->rowCount);
        path->records[path->depth++] = array;
        for (int32_t r = 0; r < array->rowCount; ++r) {
            const ArrayRow& row = array->rows[r];
            const int32_t length = row.items ? row.length : 0;
            s->WriteInteger(length);
            for (int32_t i = 0; i < length; ++i) DsText_WriteValue(s, row.items[i], path);
        }
        --path->depth;
        return;
    }
    case VALUE_PTR:
        DsText_WriteWord(s, v.kind, static_cast<int64_t>(reinterpret_cast<intptr_t>(v.ptr)));
        return;
    case VALUE_UNDEFINED:
        s->WriteInteger(VALUE_UNDEFINED);
        return;
    case VALUE_INT32:
        DsText_WriteWord(s, v.kind, v.v32);
        return;
    case VALUE_INT64:
        DsText_WriteWord(s, v.kind, v.v64);
        return;
    default:
        // Marked nested containers land here too: the kind word whole, nothing after it.
        s->WriteInteger(static_cast<int32_t>(v.kind));
        DebugConsole->Output("Attempting to WriteValue for unsupported type %d\n", static_cast<int32_t>(v.kind));
        return;
    }
}

// A string of length bytes: false when the length is negative or runs past the record.
bool DsText_ReadText(RValue* v, CStream* s, int32_t length)
{
    if (length < 0 || length > s->Remaining()) return false;
    RefString* record = RefString::CreateWithLength(length);
    if (!record) return false;
    if (record->text) {
        s->ReadBuffer(record->text, length);
        record->length = BoundedStrLen(record->text, length);  // a text ends at its first NUL
    }
    v->str = record;
    v->kind = VALUE_STRING;
    return true;
}

bool DsText_ReadValue(RValue& v, CStream* s, int32_t mode, int32_t depth);

bool DsText_ReadArray(RValue& v, CStream* s, int32_t mode, int32_t depth)
{
    if (depth >= kDsTextMaxDepth) return false;
    const int32_t rowCount = s->ReadInteger();
    if (!DsText_CountFits(s, rowCount, 4)) return false;
    RefArray* array = RefArray_Create(&v);
    if (!array) return false;
    v.arr = array;
    v.kind = VALUE_ARRAY;
    if (rowCount == 0) return true;
    array->rows = static_cast<ArrayRow*>(MemoryManager::Alloc(size_t(rowCount) * sizeof(ArrayRow), __FILE__, __LINE__, true));
    if (!array->rows) return false;
    array->rowCount = rowCount;
    for (int32_t r = 0; r < rowCount; ++r) {
        const int32_t length = s->ReadInteger();
        if (!DsText_CountFits(s, length, 4)) return false;
        if (length == 0) continue;
        ArrayRow& row = array->rows[r];
        row.items = static_cast<RValue*>(MemoryManager::Alloc(size_t(length) * sizeof(RValue), __FILE__, __LINE__, true));
        if (!row.items) return false;
        row.length = length;
        for (int32_t i = 0; i < length; ++i)
            if (!DsText_ReadValue(row.items[i], s, mode, depth + 1)) return false;
    }
    return true;
}

bool DsText_ReadValue(RValue& v, CStream* s, int32_t mode, int32_t depth)
{
    RValue_Free(&v);
    const uint32_t word = static_cast<uint32_t>(s->ReadInteger());
    if (mode == 1) {
        // The legacy form: kind, real and string, always all three.
        const double real = s->ReadReal();
        const int32_t length = s->ReadInteger();
        RValue text;
        RValue_SetUndefined(&text);
        if (!DsText_ReadText(&text, s, length)) return false;
        if (word == VALUE_STRING) std::memcpy(static_cast<void*>(&v), &text, sizeof v);
        else RValue_Free(&text);
        if (word == VALUE_REAL) RValue_SetReal(&v, real);
        return true;
    }
    switch (word) {
    case VALUE_REAL:
        RValue_SetReal(&v, s->ReadReal());
        return true;
    case VALUE_STRING:
        return DsText_ReadText(&v, s, s->ReadInteger());
    case VALUE_ARRAY:
        return DsText_ReadArray(v, s, mode, depth);
    default:
        break;
    }
    if (mode == 2) return true;  // version 1 stored nothing else: undefined
    switch (word) {
    case VALUE_BOOL:
        v.real = s->ReadReal();
        v.kind = VALUE_BOOL;
        return true;
    case VALUE_PTR:
        // All 64 bits: the address is a number here, never followed.
        v.ptr = reinterpret_cast<void*>(static_cast<intptr_t>(s->ReadInt64()));
        v.kind = VALUE_PTR;
        return true;
    case VALUE_UNDEFINED:
        return true;
    case VALUE_INT32:
        RValue_SetInt32(&v, s->ReadInteger());
        return true;
    case VALUE_INT64:
        RValue_SetInt64(&v, s->ReadInt64());
        return true;
    default:
        DebugConsole->Output("Attempting to ReadValue for unsupported type %d\n", static_cast<int32_t>(word));
        return true;
    }
}

// Reads n values into a fresh block of exactly n slots; false (nothing kept) on a bad record.
bool DsText_ReadBlock(DSStorage* out, CStream* s, int32_t n, int32_t mode)
{
    if (!DsStorage_Fresh(out, n)) return false;
    for (int32_t i = 0; i < n; ++i)
        if (!DsText_ReadValue(out->items[i], s, mode, 0)) {
            DsStorage_Release(out);
            return false;
        }
    return true;
}

void DsText_WriteBlock(CStream* s, const RValue* items, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) WriteValue(s, items[i]);
}

// Decodes the text and answers the reading mode for this container code (-1: not its record).
int32_t DsText_Open(CStream* s, const char* text, int32_t code, bool legacy)
{
    s->FromHex(text);
    return DsText_Mode(s->ReadInteger(), code, legacy);
}

}  // namespace

void WriteValue(CStream* stream, const RValue& v)
{
    DsText_Path path;
    DsText_WriteValue(stream, v, &path);
}

bool ReadValue(RValue& v, CStream* stream, int32_t mode)
{
    if (DsText_ReadValue(v, stream, mode, 0)) return true;
    RValue_Free(&v);
    return false;
}

int32_t DsText_Mode(int32_t header, int32_t code, bool legacy)
{
    if (header != code * 100 + 1 && header != code * 100 + 2) return -1;
    if (legacy) return 1;
    return header == code * 100 + 1 ? 2 : 0;
}

char* DsText_Finish(CStream* stream)
{
    char* text = nullptr;
    stream->ToHex(&text);
    return text;
}

bool DsText_CountFits(CStream* stream, int64_t count, int64_t perItem)
{
    return count >= 0 && count <= stream->Remaining() / perItem;
}

// ---- Writers ----

char* CDS_Stack::Write()
{
    CStream s;
    s.WriteInteger(102);
    s.WriteInteger(m_count);
    DsText_WriteBlock(&s, m_store.items, m_count);
    return DsText_Finish(&s);
}

char* CDS_Queue::Write()
{
    CStream s;
    s.WriteInteger(202);
    s.WriteInteger(m_tail);
    s.WriteInteger(m_head);
    s.WriteInteger(m_store.capacity);
    DsText_WriteBlock(&s, m_store.items, m_store.capacity);
    return DsText_Finish(&s);
}

char* CDS_List::Write()
{
    CStream s;
    s.WriteInteger(302);
    s.WriteInteger(m_count);
    DsText_WriteBlock(&s, m_store.items, m_count);
    return DsText_Finish(&s);
}

char* CDS_Map::Write()
{
    CStream s;
    s.WriteInteger(402);
    s.WriteInteger(m_count);
    ForEach([&](CDS_MapEntry& e) {
        WriteValue(&s, e.key);
        WriteValue(&s, e.value);
    });
    return DsText_Finish(&s);
}

char* CDS_Priority::Write()
{
    CStream s;
    s.WriteInteger(502);
    s.WriteInteger(m_count);
    DsText_WriteBlock(&s, m_priorities.items, m_count);
    DsText_WriteBlock(&s, m_values.items, m_count);
    return DsText_Finish(&s);
}

char* CDS_Grid::Write()
{
    CStream s;
    s.WriteInteger(602);
    s.WriteInteger(m_width);
    s.WriteInteger(m_height);
    // A grid of 0 cells may still have a long side: walk only when there are cells.
    for (int32_t x = 0; m_height > 0 && x < m_width; ++x)
        for (int32_t y = 0; y < m_height; ++y) WriteValue(&s, *Cell(x, y));
    return DsText_Finish(&s);
}

// ---- Readers ----

bool CDS_Stack::Read(const char* text, bool legacy)
{
    CStream s;
    const int32_t mode = DsText_Open(&s, text, 1, legacy);
    if (mode < 0) return false;
    const int32_t count = s.ReadInteger();
    DSStorage read;
    if (!DsText_CountFits(&s, count, 4) || !DsText_ReadBlock(&read, &s, count, mode)) return false;
    Clear();
    m_store = read;
    m_count = count;
    return true;
}

bool CDS_Queue::Read(const char* text, bool legacy)
{
    CStream s;
    const int32_t mode = DsText_Open(&s, text, 2, legacy);
    if (mode < 0) return false;
    const int32_t tail = s.ReadInteger(), head = s.ReadInteger(), capacity = s.ReadInteger();
    if (head < 0 || head > tail || tail > capacity) return false;
    DSStorage read;
    if (!DsText_CountFits(&s, capacity, 4) || !DsText_ReadBlock(&read, &s, capacity, mode)) return false;
    Clear();
    DsStorage_Release(&m_store);
    m_store = read;
    m_tail = tail;
    m_head = head;
    return true;
}

bool CDS_List::Read(const char* text, bool legacy)
{
    CStream s;
    const int32_t mode = DsText_Open(&s, text, 3, legacy);
    if (mode < 0) return false;
    const int32_t count = s.ReadInteger();
    DSStorage read;
    if (!DsText_CountFits(&s, count, 4) || !DsText_ReadBlock(&read, &s, count, mode)) return false;
    Clear();  // destroys the containers the old elements marked
    DsStorage_Release(&m_store);
    m_store = read;
    m_count = count;
    return true;
}

bool CDS_Priority::Read(const char* text, bool legacy)
{
    CStream s;
    const int32_t mode = DsText_Open(&s, text, 5, legacy);
    if (mode < 0) return false;
    const int32_t count = s.ReadInteger();
    if (!DsText_CountFits(&s, count, 8)) return false;
    DSStorage priorities, values;
    if (!DsText_ReadBlock(&priorities, &s, count, mode)) return false;
    if (!DsText_ReadBlock(&values, &s, count, mode)) {
        DsStorage_Release(&priorities);
        return false;
    }
    Clear();
    m_priorities = priorities;
    m_values = values;
    m_count = count;
    return true;
}

bool CDS_Grid::Read(const char* text, bool legacy)
{
    CStream s;
    const int32_t mode = DsText_Open(&s, text, 6, legacy);
    if (mode < 0) return false;
    const int32_t width = s.ReadInteger(), height = s.ReadInteger();
    if (width < 0 || height < 0) return false;
    const int64_t n = int64_t(width) * height;
    if (n > kMaxCells || !DsText_CountFits(&s, n, 4)) return false;
    DSStorage read;
    if (!DsStorage_Fresh(&read, static_cast<int32_t>(n))) return false;
    for (int32_t x = 0; n > 0 && x < width; ++x)
        for (int32_t y = 0; y < height; ++y)
            if (!DsText_ReadValue(read.items[x + int64_t(y) * width], &s, mode, 0)) {
                DsStorage_Release(&read);
                return false;
            }
    SetSize(0, 0);
    m_cells = read.items;
    m_room = n;
    m_width = width;
    m_height = height;
    return true;
}

namespace {

int DsText_HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool DsText_IsSeparator(char c) { return c == ':' || c == ','; }

// A field of the flat form: the run of hex digits from at; *end gets the first character after it. Pairs
// become bytes (an odd last digit is dropped); a real keeps only its first 16 digits.
struct DsText_Field {
    std::vector<char, MemAllocator<char>> bytes;
    size_t end;
};

void DsText_ReadField(const char* text, size_t n, size_t at, DsText_Field* f)
{
    f->bytes.clear();
    size_t i = at;
    while (i < n && DsText_HexDigit(text[i]) >= 0) ++i;
    f->end = i;
    for (size_t k = at; k + 1 < i; k += 2)
        f->bytes.push_back(static_cast<char>(DsText_HexDigit(text[k]) << 4 | DsText_HexDigit(text[k + 1])));
}

void DsText_FieldValue(const DsText_Field& f, bool isString, RValue* out)
{
    if (isString) {
        std::vector<char, MemAllocator<char>> text(f.bytes);
        text.push_back('\0');
        RValue_CreateString(out, text.data());
        return;
    }
    // The first pair is the most significant byte of the double; bytes not given are 0.
    uint64_t bits = 0;
    for (size_t k = 0; k < f.bytes.size() && k < 8; ++k) bits |= uint64_t(uint8_t(f.bytes[k])) << (56 - 8 * k);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    RValue_SetReal(out, d);
}

// The older flat form: flag, separator, key, separator, value, then ',' and the next entry. Every entry is
// inserted as it stands, a repeated key too. Reading stops at the end of the text or at a missing separator.
void DsText_ReadFlat(CDS_Map* map, const char* text)
{
    const size_t n = std::strlen(text);
    DsText_Field key, value;
    size_t i = 0;
    while (i < n) {
        const unsigned char flag = static_cast<unsigned char>(text[i++]);
        if (i >= n || !DsText_IsSeparator(text[i])) return;
        DsText_ReadField(text, n, i + 1, &key);
        if (key.end >= n || !DsText_IsSeparator(text[key.end])) return;
        DsText_ReadField(text, n, key.end + 1, &value);
        RValue k, v;
        DsText_FieldValue(key, flag & 1, &k);
        DsText_FieldValue(value, flag & 2, &v);
        map->Insert(RValue_HashKey(k), k, v);
        RValue_Free(&k);
        RValue_Free(&v);
        if (value.end >= n || !DsText_IsSeparator(text[value.end])) return;
        i = value.end + 1;
    }
}

}  // namespace

bool CDS_Map::Read(const char* text)
{
    RemoveAll();
    if (!text || !text[0] || !text[1]) return false;
    if (text[1] == ':') {
        DsText_ReadFlat(this, text);
        return true;
    }
    CStream s;
    s.FromHex(text);
    const int32_t header = s.ReadInteger();
    if (header != 401 && header != 402) return false;
    const int32_t count = s.ReadInteger();
    if (!DsText_CountFits(&s, count, 8)) return false;
    RValue key, value;
    RValue_SetUndefined(&key);
    RValue_SetUndefined(&value);
    for (int32_t i = 0; i < count; ++i) {
        if (!ReadValue(key, &s, 0) || !ReadValue(value, &s, 0)) {
            RValue_Free(&key);
            RemoveAll();
            return false;
        }
        Add(key, value);
    }
    RValue_Free(&key);
    RValue_Free(&value);
    return true;
}
