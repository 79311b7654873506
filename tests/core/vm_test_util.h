// Runs assembled programs through the real loader and the interpreter: each test writes its program as
// assembler source, registers the built-ins it calls, and runs one code entry.
#pragma once
#include "../world/wad_test_util.h"

#include "core/code.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/script.h"
#include "core/variables.h"
#include "core/varnames.h"
#include "core/vm.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace vmtest {

// The id of a built-in of that name, registered with handler when it has none yet (handler replaced).
inline int32_t Builtin(const char* name, TRoutine handler)
{
    for (int32_t i = 0; i < Function_Count(); ++i)
        if (std::strcmp(Function_Entry(i)->name, name) == 0) {
            Function_Entry(i)->handler = handler;
            return i;
        }
    return Function_Add(name, handler, -1, false) - 1;
}

// "%.17g" of a real; "nan" for any NaN, whatever its sign bit.
inline std::string RealText(double d)
{
    if (std::isnan(d)) return "nan";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", d);
    return buffer;
}

// A value as "<kind> <content>", for comparing results.
inline std::string ValueText(const RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_REAL: return "real " + RealText(v->real);
    case VALUE_BOOL: return "bool " + RealText(v->real);
    case VALUE_INT32: return "int32 " + std::to_string(v->v32);
    case VALUE_INT64: return "int64 " + std::to_string(v->v64);
    case VALUE_STRING: return std::string("string ") + (v->str && v->str->text ? v->str->text : "");
    case VALUE_UNDEFINED: return "undefined";
    default: return "kind" + std::to_string(RValue_Kind(v));
    }
}

inline int32_t BuiltinVariable(const char* name, BuiltinVariableGetter getter)
{
    if (Variable_BuiltIn_Find(name) < 0) Variable_BuiltIn_Add(name, getter, nullptr);
    return Variable_BuiltIn_Find(name);
}

// Runs code the stack-type check would refuse, to reach the run-time guards behind it.
struct ScopedUnverified {
    ScopedUnverified() { VM_VerifyStackTypes = false; }
    ~ScopedUnverified() { VM_VerifyStackTypes = true; }
};

class VmProgramTest : public wadtest::LoaderTest {
protected:
    void SetUp() override
    {
        LoaderTest::SetUp();
        Code_Variable_Free();
        Error_ResetState();
    }
    void TearDown() override
    {
        for (CCode* code : codes_) delete code;
        codes_.clear();
        Script_Free();
        UnloadGameData();
        Code_Variable_Free();
        ObjectBasePool_Clear();
        Error_ResetState();
        LoaderTest::TearDown();
    }

    // Assembles source (with ".function"/".bvar" lines for ids fixed by the test), loads it with both
    // passes and compiles its scripts. False (with a failure) when any stage fails.
    bool Build(const std::string& source, const std::string& stem = "prog")
    {
        std::string error;
        const std::string dir = kvtest::AssembledFixture(source, stem, "", &error);
        if (dir.empty()) {
            ADD_FAILURE() << "assembler: " << error;
            return false;
        }
        const std::string out = dir + stem;
        std::vector<uint8_t> bytes = wadtest::ReadBytes(out + ".win");
        auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
        std::memcpy(data, bytes.data(), bytes.size());
        if (!Wad_ReadHeader(data, uint32_t(bytes.size()))) {
            ADD_FAILURE() << "pass 1: " << g_GameData.damage;
            if (!g_GameData.data) MemFree(data);
            return false;
        }
        if (!Wad_LoadChunks(data, uint32_t(bytes.size()))) {
            ADD_FAILURE() << "pass 2: " << g_GameData.damage;
            return false;
        }
        // The debug file beside the program (written when the source has source lines).
        if (std::filesystem::exists(out + ".qzdebug")) {
            std::vector<uint8_t> debug = wadtest::ReadBytes(out + ".qzdebug");
            auto* copy = static_cast<uint8_t*>(MemAlloc(debug.size()));
            std::memcpy(copy, debug.data(), debug.size());
            g_GameData.debugData = copy;
            g_GameData.debugLength = uint32_t(debug.size());
            if (!DebugChunks_Load(copy, uint32_t(debug.size()))) ADD_FAILURE() << "debug file not loaded";
        }
        for (int32_t i = 0; i < Script_Number(); ++i)
            if (CScript* script = Script_Data(i)) script->Compile();
        return true;
    }

    // Makes every entry's code object and prepares every buffer, so that a run allocates only what it frees.
    void PrepareAll()
    {
        for (uint32_t i = 0; i < g_GameData.codeCount; ++i) {
            codes_.push_back(new CCode(int32_t(i), false));
            if (codes_.back()->code) codes_.back()->code->Prepare();
        }
        for (int32_t i = 0; i < Script_Number(); ++i) {
            CScript* script = Script_Data(i);
            if (script && script->GetCode() && script->GetCode()->code) script->GetCode()->code->Prepare();
        }
    }

    // The code object of the entry of that name (made once, deleted at tear-down).
    CCode* Entry(const std::string& name)
    {
        for (CCode* code : codes_)
            if (code->name && name == code->name) return code;
        const uint8_t* base = g_GameData.data;
        for (uint32_t i = 0; i < g_GameData.codeCount; ++i) {
            uint32_t entry = wadtest::U32At(g_GameData.codeList, 4 + 4 * i);
            if (name == reinterpret_cast<const char*>(base + wadtest::U32At(base, entry))) {
                codes_.push_back(new CCode(int32_t(i), false));
                return codes_.back();
            }
        }
        ADD_FAILURE() << "no entry " << name;
        return nullptr;
    }

    // Runs the entry with no self, other or arguments: the result's text, or "!" and the whole report
    // when the run reported an error (its abort is forgotten, so the next run starts clean).
    std::string RunForText(const std::string& entry)
    {
        release_.text.clear();
        wadtest::g_exitCalls = 0;
        RValue result;
        RValue_SetUndefined(&result);
        VM_Exec(Entry(entry), nullptr, nullptr, &result, nullptr, 0, nullptr, nullptr);
        std::string got = ValueText(&result);
        RValue_Free(&result);
        if (wadtest::g_exitCalls) {
            got = kvtest::ReportedMessages(release_.text);
            const size_t at = got.find("ERROR!!! :: ");
            got = at == std::string::npos ? got : "!" + got.substr(at + 12);
            kvtest::ForgetErrorAbort();
            Error_ResetState();
        }
        return got;
    }

    std::vector<CCode*> codes_;
};

}  // namespace vmtest
