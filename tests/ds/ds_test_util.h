// What the ds suites share: values to store, a text form of values for comparisons, the memory balance every
// suite must keep, and the capture of fatal reports and console lines.
#pragma once
#include "core/console.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "ds/ds.h"
#include "platform/hooks.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace dstest {

inline RValue Real(double d) { RValue v; RValue_SetReal(&v, d); return v; }
inline RValue Int32(int32_t i) { RValue v; RValue_SetInt32(&v, i); return v; }
inline RValue Int64(int64_t i) { RValue v; RValue_SetInt64(&v, i); return v; }
inline RValue Bool(bool b) { RValue v; RValue_SetBool(&v, b); return v; }
inline RValue Ptr(uintptr_t p) { RValue v; RValue_SetPtr(&v, reinterpret_cast<void*>(p)); return v; }
inline RValue Undef() { RValue v; RValue_SetUndefined(&v); return v; }
inline RValue Kind(uint32_t kind) { RValue v; v.v64 = 0; v.flags = 0; v.kind = kind; return v; }
inline RValue Marked(double index, uint32_t mark) { RValue v = Real(index); v.kind |= mark; return v; }

// A value the test owns: freed when it goes.
struct Held {
    RValue v;
    Held() { RValue_SetUndefined(&v); }
    Held(const RValue& from) { RValue_SetUndefined(&v); RValue_Copy(&v, &from); }
    ~Held() { RValue_Free(&v); }
    Held(const Held& o) : Held(o.v) {}
    Held& operator=(const Held& o) { RValue_Copy(&v, &o.v); return *this; }
    operator const RValue&() const { return v; }
};

inline Held Str(const char* text)
{
    Held h;
    RValue_CreateString(&h.v, text);
    return h;
}

// An array value of these rows (a row may be empty).
inline Held Array(const std::vector<std::vector<Held>>& rows)
{
    Held h;
    RefArray* array = RefArray_Create(&h.v);
    h.v.arr = array;
    h.v.kind = VALUE_ARRAY;
    if (rows.empty()) return h;
    array->rows = static_cast<ArrayRow*>(MemoryManager::Alloc(rows.size() * sizeof(ArrayRow), __FILE__, __LINE__, true));
    array->rowCount = int32_t(rows.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        if (rows[r].empty()) continue;
        ArrayRow& row = array->rows[r];
        row.items = static_cast<RValue*>(MemoryManager::Alloc(rows[r].size() * sizeof(RValue), __FILE__, __LINE__, true));
        row.length = int32_t(rows[r].size());
        for (size_t c = 0; c < rows[r].size(); ++c) RValue_Copy(&row.items[c], &rows[r][c].v);
    }
    return h;
}

// The kind and payload of a value as text: "real:1.5", "string:ab", "array[[real:1],[]]", the kind word in
// hex when it carries more than the kind.
inline std::string Describe(const RValue& v)
{
    char buf[64];
    std::string out;
    if (v.kind & ~RVALUE_KIND_MASK) {
        std::snprintf(buf, sizeof buf, "word%08X:", v.kind);
        out += buf;
    }
    switch (RValue_Kind(&v)) {
    case VALUE_REAL: std::snprintf(buf, sizeof buf, "real:%.17g", v.real); return out + buf;
    case VALUE_BOOL: std::snprintf(buf, sizeof buf, "bool:%.17g", v.real); return out + buf;
    case VALUE_INT32: std::snprintf(buf, sizeof buf, "int32:%d", v.v32); return out + buf;
    case VALUE_INT64: std::snprintf(buf, sizeof buf, "int64:%" PRId64, v.v64); return out + buf;
    case VALUE_PTR: std::snprintf(buf, sizeof buf, "ptr:%" PRIxPTR, reinterpret_cast<uintptr_t>(v.ptr)); return out + buf;
    case VALUE_UNDEFINED: return out + "undefined";
    case VALUE_STRING: return out + "string:" + (v.str && v.str->text ? v.str->text : "");
    case VALUE_ARRAY: {
        out += "array[";
        for (int32_t r = 0; v.arr && r < v.arr->rowCount; ++r) {
            out += r ? ",[" : "[";
            for (int32_t c = 0; c < v.arr->rows[r].length; ++c) out += (c ? "," : "") + Describe(v.arr->rows[r].items[c]);
            out += "]";
        }
        return out + "]";
    }
    default: std::snprintf(buf, sizeof buf, "kind%u", RValue_Kind(&v)); return out + buf;
    }
}

inline std::string Text(char* text)
{
    std::string s = text ? text : "";
    MemFree(text);
    return s;
}

// Heap bytes plus the pools' pages (each pool's page area), as the manager holds them.
inline size_t MemoryInUse()
{
    static const size_t kPoolArea[5] = {128 * 1024, 256 * 1024, 256 * 1024, 512 * 1024, 512 * 1024};
    const MemoryProbe p = MemoryManager_Probe();
    size_t bytes = p.heapBytesInUse;
    for (int i = 0; i < 5; ++i) bytes += p.poolPages[i] * kPoolArea[i];
    return bytes;
}

// Every suite ends with the manager's totals where they started: each test destroys what it made, and the
// registries give their blocks back.
class DsTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Error_ResetState();
        before_ = MemoryManager_Probe();
    }
    static void TearDownTestSuite()
    {
        EXPECT_TRUE(DS_ReleaseRegistries()) << "a container was left alive";
        Error_ResetState();
        const MemoryProbe after = MemoryManager_Probe();
        EXPECT_EQ(after.liveBlocks, before_.liveBlocks) << "blocks left behind";
        EXPECT_EQ(after.heapBytesInUse, before_.heapBytesInUse) << "heap bytes left behind";
    }
    void SetUp() override { DS_SetPrecision(0.00000001); }
    void TearDown() override { DS_SetPrecision(0.00000001); }

    inline static MemoryProbe before_{};
};

// Fatal reports return in tests: each one is counted and what the release console printed is kept.
class FatalCapture {
public:
    FatalCapture()
    {
        count_ = 0;
        old_ = Platform_SetExitHook([](int) {
            ++count_;
            kvtest::ForgetErrorAbort();
        });
        testing::internal::CaptureStdout();
    }
    ~FatalCapture() { Finish(); }
    // The reported messages ("ERROR!!! :: <message>" lines) printed so far; ends the capture.
    std::string Finish()
    {
        if (!done_) {
            done_ = true;
            text_ = kvtest::ReportedMessages(testing::internal::GetCapturedStdout());
            Platform_SetExitHook(old_);
            Error_ResetState();
        }
        return text_;
    }
    static int Count() { return count_; }

private:
    inline static int count_ = 0;
    ExitHook old_ = nullptr;
    bool done_ = false;
    std::string text_;
};

// The debug (or release) console replaced by a recording one for the scope.
class ConsoleCapture {
public:
    explicit ConsoleCapture(tagIConsole** which) : which_(which), old_(*which) { *which = &recording_; }
    ~ConsoleCapture() { *which_ = old_; }
    const std::string& Text() const { return recording_.text; }

private:
    tagIConsole** which_;
    tagIConsole* old_;
    kvtest::RecordingConsole recording_;
};

}  // namespace dstest
