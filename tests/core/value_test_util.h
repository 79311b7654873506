// Shared by the value tests: a fixture that checks the memory manager is back where it started, a recorder
// for runtime errors, and small value makers.
#pragma once
#include <gtest/gtest.h>

#include "test_support.h"

#include <string>
#include <vector>

#include "core/error.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "platform/hooks.h"
#include "world/object_base.h"

namespace kvtest_value {

// Every test must give back every block it took.
class MemoryBalanceTest : public testing::Test {
protected:
    void SetUp() override { before_ = MemoryManager_Probe(); }
    void TearDown() override
    {
        // Object values are the collector's to reclaim; with none running, the test reclaims them.
        for (int32_t i = 0; ObjectTable.items && i < ObjectTable.capacity; ++i)
            if (ObjectTable.items[i]) ObjectBase_Free(ObjectTable.items[i]);
        ObjectBasePool_Clear();
        RValuePool_Release();
        MemoryProbe after = MemoryManager_Probe();
        EXPECT_EQ(after.liveBlocks, before_.liveBlocks) << "blocks leaked or freed twice";
        EXPECT_EQ(after.heapBytesInUse, before_.heapBytesInUse) << "bytes leaked";
    }

private:
    MemoryProbe before_{};
};

// Runtime errors print "ERROR!!! :: " and their framed text on the release console (standard output) and
// then call the exit hook; this records the messages and lets the caller go on.
class ErrorRecorder {
public:
    ErrorRecorder()
    {
        exits() = 0;
        previous_ = Platform_SetExitHook([](int) {
            ++exits();
            kvtest::ForgetErrorAbort();
        });
        testing::internal::CaptureStdout();
    }
    ~ErrorRecorder()
    {
        if (!stopped_) Stop();
        Platform_SetExitHook(previous_);
    }
    // The error texts raised since construction, in order.
    std::vector<std::string> Stop()
    {
        stopped_ = true;
        std::string out = kvtest::ReportedMessages(testing::internal::GetCapturedStdout());
        Error_ResetState();  // the reporter's copy of the last text is not the test's to account for
        std::vector<std::string> errors;
        const std::string marker = "ERROR!!! :: ";
        size_t at = 0;
        while ((at = out.find(marker, at)) != std::string::npos) {
            at += marker.size();
            size_t end = out.find('\n', at);
            errors.push_back(out.substr(at, end == std::string::npos ? std::string::npos : end - at));
            at = end == std::string::npos ? out.size() : end;
        }
        return errors;
    }
    static int& exits()
    {
        static int count = 0;
        return count;
    }

private:
    ExitHook previous_ = nullptr;
    bool stopped_ = false;
};

inline RValue Undefined()
{
    RValue v;
    RValue_SetUndefined(&v);
    return v;
}
inline RValue Real(double d)
{
    RValue v;
    RValue_SetReal(&v, d);
    return v;
}
inline RValue Int32(int32_t i)
{
    RValue v;
    RValue_SetInt32(&v, i);
    return v;
}
inline RValue Int64(int64_t i)
{
    RValue v;
    RValue_SetInt64(&v, i);
    return v;
}
inline RValue Bool(bool b)
{
    RValue v;
    RValue_SetBool(&v, b);
    return v;
}
inline RValue Str(const char* text)
{
    RValue v = Undefined();
    RValue_SetString(&v, text);
    return v;
}
inline RValue OfKind(uint32_t kind)
{
    RValue v = Undefined();
    v.kind = kind;
    return v;
}
inline int32_t Pack(int32_t row, int32_t column) { return row * ARRAY_INDEX_STRIDE + column; }

// Makes *a (which holds nothing) an array value of rows of reals, owned by a: Rows(&a, {{1, 2}, {3}}).
// (An array value is not returned by value: its owner is the address of the value that holds it.)
inline void Rows(RValue* out, std::initializer_list<std::initializer_list<double>> rows)
{
    RValue_SetUndefined(out);
    RValue& a = *out;
    int32_t r = 0;
    for (auto& row : rows) {
        int32_t c = 0;
        for (double d : row) {
            RValue item = Real(d);
            RValue_SetWithIndex(&a, &item, Pack(r, c++));
        }
        ++r;
    }
}

// The value's text form as a standard string.
inline std::string TextOf(RValue* v)
{
    char* start = nullptr;
    char* pos = nullptr;
    size_t capacity = 0;
    RValue_AppendText(&pos, &start, &capacity, v);
    std::string text = start ? std::string(start, size_t(pos - start)) : std::string();
    MemFree(start);
    return text;
}

}  // namespace kvtest_value
