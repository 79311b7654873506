// Calling built-ins by name through the function table, as compiled code does, with owned values and the
// reports each call made (fatal ones return here instead of ending the test process).
#pragma once
#include "core/console.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/value.h"
#include "core/vm.h"
#include "lib/lib.h"
#include "platform/hooks.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kvtest {

// A value the test owns: freed at the end of its scope.
struct OwnedValue {
    RValue v;
    OwnedValue() { RValue_SetUndefined(&v); }
    explicit OwnedValue(const RValue& taken) : v(taken) {}
    OwnedValue(OwnedValue&& other) noexcept : v(other.v) { RValue_SetUndefined(&other.v); }
    OwnedValue& operator=(OwnedValue&& other) noexcept
    {
        std::swap(v, other.v);
        return *this;
    }
    OwnedValue(const OwnedValue&) = delete;
    ~OwnedValue() { RValue_Free(&v); }
    uint32_t Kind() const { return RValue_Kind(&v); }
    double Real() const { return v.real; }
    std::string Text() const { return v.str && v.str->text ? std::string(v.str->text, size_t(v.str->length)) : ""; }
};

inline OwnedValue R(double d)
{
    OwnedValue o;
    RValue_SetReal(&o.v, d);
    return o;
}
inline OwnedValue S(const std::string& text)
{
    OwnedValue o;
    RValue_SetString(&o.v, text.c_str());
    return o;
}
inline OwnedValue I64(int64_t i)
{
    OwnedValue o;
    RValue_SetInt64(&o.v, i);
    return o;
}
inline OwnedValue U() { return OwnedValue(); }

// Table index of the first built-in of that name; the maths built-ins are registered on first need.
inline int32_t BuiltinIndex(const char* name)
{
    static std::unordered_map<std::string, int32_t> known;  // checked before use: the table may have changed
    const auto hit = known.find(name);
    if (hit != known.end() && Function_Entry(hit->second) && std::strcmp(Function_Entry(hit->second)->name, name) == 0)
        return hit->second;
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t i = 0; i < Function_Count(); ++i)
            if (std::strcmp(Function_Entry(i)->name, name) == 0) return known[name] = i;
        if (pass == 0) InitMathFunctions();
    }
    ADD_FAILURE() << name << " is not registered";
    return -1;
}

// The call as compiled code makes it: the arguments stay the caller's.
inline OwnedValue CallPointers(const char* name, std::vector<RValue*> args)
{
    OwnedValue result;
    const int32_t index = BuiltinIndex(name);
    if (index >= 0) CallBuiltin(nullptr, nullptr, &result.v, int32_t(args.size()), index, args.empty() ? nullptr : args.data());
    return result;
}

inline OwnedValue Call(const char* name, std::vector<OwnedValue> args = {})
{
    std::vector<RValue*> pointers;
    for (OwnedValue& a : args) pointers.push_back(&a.v);
    return CallPointers(name, pointers);
}

inline int& BuiltinExitCount()
{
    static int count = 0;
    return count;
}

// Reports go to a recording console; a fatal report counts an exit instead of ending the process.
class BuiltinTest : public testing::Test {
protected:
    void SetUp() override
    {
        savedRelease_ = ReleaseConsole;
        ReleaseConsole = &console_;
        savedExit_ = Platform_SetExitHook([](int) { ++BuiltinExitCount(); });
        ClearReports();
    }
    void TearDown() override
    {
        ClearReports();
        Platform_SetExitHook(savedExit_);
        ReleaseConsole = savedRelease_;
    }
    void ClearReports()
    {
        console_.text.clear();
        ForgetErrorAbort();
        Error_ResetState();
        g_ShowErrorDialogs = false;
        BuiltinExitCount() = 0;
    }
    // Each report's message, one a line.
    std::string Reported() const
    {
        const std::string reduced = ReportedMessages(console_.text);
        const std::string start = "ERROR!!! :: ";
        std::string out;
        for (size_t at = reduced.find(start); at != std::string::npos; at = reduced.find(start, at)) {
            at += start.size();
            const size_t end = reduced.find('\n', at);
            out += reduced.substr(at, end - at) + "\n";
        }
        return out;
    }

    RecordingConsole console_;
    tagIConsole* savedRelease_ = nullptr;
    ExitHook savedExit_ = nullptr;
};

}  // namespace kvtest
