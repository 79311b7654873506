// The interpreter on straight-line assembled code, each case beside the same work done from C++ in the same
// run:
//   calls      10,000 x {push an argument, call a trivial built-in, popz} against 10,000 CallBuiltin calls
//              (target: at most 3x per call);
//   scripts    10,000 calls of an empty script (target: at most 4x a built-in call from bytecode), with a
//              counted pass giving the memory-manager blocks a call holds beyond its caller's (target: 0);
//   returns    10,000 calls of a script that returns a value with ret.v (each return reads the stack types the
//              entry's check kept, never the check itself);
//   variables  10,000 x {push a self variable, pop it into a local} against the same
//              Variable_GetValue_Direct and RValue_SetWithIndex calls (target: at most 2x).
// The programs are assembled by tools/formkit (python3), found through KV_SOURCE_DIR or by walking up from
// the working folder or the executable.
#include "core/code.h"
#include "core/functions.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/script.h"
#include "core/value.h"
#include "core/variables.h"
#include "core/varnames.h"
#include "core/vm.h"
#include "tests/support/fake_world.h"
#include "world/loader.h"
#include "world/object_base.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kVmBenchCount = 10000;

void VmBench_Nop(RValue* result, CInstance*, CInstance*, int32_t, RValue*) { RValue_SetReal(result, 1.0); }

int32_t g_vmBenchNop = -1;
size_t g_vmBenchBlocksInCall = 0;
void VmBench_Blocks(RValue*, CInstance*, CInstance*, int32_t, RValue*)
{
    g_vmBenchBlocksInCall = MemoryManager_Probe().liveBlocks;
}

std::string VmBench_SourceDir()
{
    namespace fs = std::filesystem;
    if (const char* env = std::getenv("KV_SOURCE_DIR")) return env;
    std::vector<fs::path> starts = {fs::current_path()};
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) starts.push_back(exe.parent_path());
    for (fs::path p : starts)
        for (; !p.empty(); p = p.parent_path()) {
            if (fs::exists(p / "tools/formkit/asm.py")) return p.string();
            if (p == p.parent_path()) break;
        }
    return "";
}

struct VmBenchProgram {
    bool loaded = false;
    std::vector<CCode*> codes;
    CInstance* self = nullptr;
    kvtest::FakeWorld* world = nullptr;

    CCode* Entry(const char* name)
    {
        for (CCode* c : codes)
            if (c->name && std::string(c->name) == name) return c;
        return nullptr;
    }
};

VmBenchProgram& VmBench_Program()
{
    static VmBenchProgram program;
    static bool tried = false;
    if (tried) return program;
    tried = true;
    const std::string source = VmBench_SourceDir();
    if (source.empty()) return program;
    const int32_t nop = Function_Add("b_nop", VmBench_Nop, -1, false) - 1;
    g_vmBenchNop = nop;
    const int32_t blocks = Function_Add("b_blocks", VmBench_Blocks, -1, false) - 1;

    std::string text = ".version 15\n.function b_nop " + std::to_string(nop) + "\n.function b_blocks " +
                       std::to_string(blocks) + "\n";
    text += ".code ksl_Script_empty\n.script empty\n exit.i\n";
    text += ".code ksl_Script_one\n.script one\n push.e 1\n conv.i.v\n ret.v\n";
    text += ".code ksl_Script_probe\n.script probe\n call.i b_blocks 0\n popz.v\n exit.i\n";
    text += ".code ksl_calls\n";
    for (int i = 0; i < kVmBenchCount; ++i) text += " push.e 1\n conv.i.v\n call.i b_nop 1\n popz.v\n";
    text += ".code ksl_scripts\n";
    for (int i = 0; i < kVmBenchCount; ++i) text += " call.i empty 0\n popz.v\n";
    text += ".code ksl_returns\n";
    for (int i = 0; i < kVmBenchCount; ++i) text += " call.i one 0\n popz.v\n";
    text += ".code ksl_probe\n";
    for (int i = 0; i < 1000; ++i) text += " call.i probe 0\n popz.v\n";
    text += ".code ksl_vars\n.locals a\n";
    for (int i = 0; i < kVmBenchCount; ++i) text += " push.v self.x\n pop.v.v local.a\n";

    const std::string dir = std::filesystem::temp_directory_path().string() + "/kv_bench_vm_core." +
                            std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/p.kvs") << text;
    const std::string cmd = "PYTHONPATH='" + source + "/tools' python3 -B -m formkit.asm '" + dir + "/p.kvs' -o '" +
                            dir + "/p.win' --tables '" + dir + "/p.tab'";
    if (std::system(cmd.c_str()) != 0) return program;
    std::ifstream in(dir + "/p.win", std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(dir);
    auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
    std::memcpy(data, bytes.data(), bytes.size());
    if (!Wad_ReadHeader(data, uint32_t(bytes.size())) || !Wad_LoadChunks(data, uint32_t(bytes.size()))) return program;
    for (int32_t i = 0; i < Script_Number(); ++i)
        if (CScript* s = Script_Data(i)) s->Compile();
    for (uint32_t i = 0; i < g_GameData.codeCount; ++i) {
        auto* code = new CCode(int32_t(i), false);
        if (code->code) code->code->Prepare();
        program.codes.push_back(code);
    }
    for (int32_t i = 0; i < Script_Number(); ++i)
        if (CScript* s = Script_Data(i); s && s->GetCode() && s->GetCode()->code) s->GetCode()->code->Prepare();
    program.world = new kvtest::FakeWorld();
    program.world->AddObject(0, "obj_bench");
    program.self = program.world->AddInstance(100001, 0);
    RValue_SetReal(ObjectBase_GetSlot(program.world->Object(program.self), 0), 2.5);
    program.loaded = true;
    return program;
}

void VmBench_Run(benchmark::State& state, const char* entry)
{
    VmBenchProgram& p = VmBench_Program();
    CCode* code = p.loaded ? p.Entry(entry) : nullptr;
    if (!code) {
        state.SkipWithError("the program could not be assembled or loaded");
        return;
    }
    RValue result;
    RValue_SetUndefined(&result);
    VM_Exec(code, p.self, p.self, &result, nullptr, 0, nullptr, nullptr);  // warm-up: pools and tables
    for (auto _ : state) VM_Exec(code, p.self, p.self, &result, nullptr, 0, nullptr, nullptr);
    RValue_Free(&result);
    state.SetItemsProcessed(state.iterations() * kVmBenchCount);
}

void BM_BytecodeBuiltinCalls(benchmark::State& state) { VmBench_Run(state, "ksl_calls"); }

void BM_CppCallBuiltin(benchmark::State& state)
{
    if (!VmBench_Program().loaded) {
        state.SkipWithError("no program");
        return;
    }
    const int32_t id = g_vmBenchNop;
    RValue result;
    RValue_SetUndefined(&result);
    RValue* args[1];
    for (auto _ : state) {
        for (int i = 0; i < kVmBenchCount; ++i) {
            RValue value;
            RValue_SetReal(&value, double(i & 1));  // the argument is made per call, as the bytecode does
            args[0] = &value;
            CallBuiltin(nullptr, nullptr, &result, 1, id, args);
            benchmark::DoNotOptimize(result);
        }
    }
    state.SetItemsProcessed(state.iterations() * kVmBenchCount);
}

void BM_BytecodeScriptCalls(benchmark::State& state)
{
    VmBench_Run(state, "ksl_scripts");
    VmBenchProgram& p = VmBench_Program();
    CCode* probe = p.loaded ? p.Entry("ksl_probe") : nullptr;
    if (!probe) return;
    // Blocks a call holds while its callee runs, beyond those of the running top-level code: the first probe
    // call sets the level, every later one must see the same.
    RValue result;
    RValue_SetUndefined(&result);
    VM_Exec(probe, p.self, p.self, &result, nullptr, 0, nullptr, nullptr);
    const size_t outside = MemoryManager_Probe().liveBlocks;
    VM_Exec(probe, p.self, p.self, &result, nullptr, 0, nullptr, nullptr);
    const double extra = double(g_vmBenchBlocksInCall) - double(outside);
    // The run itself holds its stack block; the callee's locals come from the pool.
    state.counters["blocks_held_in_call"] = extra - 1;
    RValue_Free(&result);
}

void BM_BytecodeScriptReturns(benchmark::State& state) { VmBench_Run(state, "ksl_returns"); }

void BM_BytecodeSelfToLocal(benchmark::State& state) { VmBench_Run(state, "ksl_vars"); }

void BM_CppSelfToLocal(benchmark::State& state)
{
    VmBenchProgram& p = VmBench_Program();
    if (!p.loaded) {
        state.SkipWithError("no program");
        return;
    }
    QZObjectBase* locals = VM_CreateLocals(1);
    for (auto _ : state) {
        for (int i = 0; i < kVmBenchCount; ++i) {
            RValue value;
            value.v64 = 0;
            value.flags = 0;
            value.kind = VALUE_UNSET;
            Variable_GetValue_Direct(p.self, 100000, ARRAY_INDEX_NONE, &value);
            RValue_SetWithIndex(&locals->slots[0], &value, ARRAY_INDEX_NONE);
            RValue_Free(&value);
            benchmark::DoNotOptimize(locals->slots[0]);
        }
    }
    ObjectBase_Free(locals);
    state.SetItemsProcessed(state.iterations() * kVmBenchCount);
}

BENCHMARK(BM_BytecodeBuiltinCalls);
BENCHMARK(BM_CppCallBuiltin);
BENCHMARK(BM_BytecodeScriptCalls);
BENCHMARK(BM_BytecodeScriptReturns);
BENCHMARK(BM_BytecodeSelfToLocal);
BENCHMARK(BM_CppSelfToLocal);

}  // namespace
