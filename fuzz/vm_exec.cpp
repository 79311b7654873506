// Any bytes as bytecode: one code block run through preparation and the interpreter. The block is the main
// entry (at offset 0) and two scripts (scr_a and scr_b, ids 100000 and 100001) that start where the input's
// first two words say, all in one small game data built here. Built-ins are stubs that hand back reals,
// strings, arrays and undefined values, raise an error or run the block again; a two-instance room gives self
// and other. An instruction budget ends every loop.
// Input: u16 scr_a's entry in words, u16 scr_b's entry in words, then the code block.
#include "core/code.h"
#include "core/console.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/script.h"
#include "core/value.h"
#include "core/variables.h"
#include "core/vm.h"
#include "platform/hooks.h"
#include "tests/support/fake_world.h"
#include "world/command_line.h"
#include "world/loader.h"
#include "world/object_base.h"
#include "world/room_change.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct VmFuzzConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};
VmFuzzConsole g_vmFuzzConsole;

void VmFuzzExit(int) {}  // reports return to the code that raised them

CCode* g_vmFuzzMain = nullptr;
CInstance* g_vmFuzzSelf = nullptr;
CInstance* g_vmFuzzOther = nullptr;
int32_t g_vmFuzzNesting = 0;

void VmFuzzReal(RValue* result, CInstance*, CInstance*, int32_t argc, RValue*) { RValue_SetReal(result, argc + 0.5); }
void VmFuzzString(RValue* result, CInstance*, CInstance*, int32_t, RValue*) { RValue_SetString(result, "fz"); }
void VmFuzzUndefined(RValue* result, CInstance*, CInstance*, int32_t, RValue*) { RValue_SetUndefined(result); }
void VmFuzzArray(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue item;
    RValue_SetReal(&item, 1);
    RValue_SetWithIndex(result, &item, 0);
    if (argc > 0) RValue_SetWithIndex(result, &args[0], 1);  // the array takes its own reference
}
void VmFuzzInt64(RValue* result, CInstance*, CInstance*, int32_t, RValue*) { RValue_SetInt64(result, -3); }
// Hands back its first argument (a copy), so values the code made come back to it.
void VmFuzzEcho(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    if (argc > 0) RValue_Copy(result, &args[0]);
}
void VmFuzzFail(RValue*, CInstance*, CInstance*, int32_t, RValue*) { RuntimeError("fuzz :: built-in failed"); }
// Runs the main entry again inside this call, a few levels deep.
void VmFuzzNested(RValue* result, CInstance* self, CInstance* other, int32_t argc, RValue* args)
{
    if (!g_vmFuzzMain || g_vmFuzzNesting >= 3) return;
    ++g_vmFuzzNesting;
    VM_Exec(g_vmFuzzMain, other, self, result, nullptr, argc, args, nullptr);
    --g_vmFuzzNesting;
}

// Built-in variables: one of the instance (answers false without one), one global.
bool VmFuzzInstanceVar(CInstance* self, int32_t, RValue* out)
{
    if (!self) return false;
    RValue_SetReal(out, 7);
    return true;
}
bool VmFuzzGlobalVar(CInstance*, int32_t, RValue* out)
{
    RValue_SetString(out, "g");
    return true;
}
bool VmFuzzSetVar(CInstance*, int32_t, RValue*) { return true; }

void VmFuzzInitOnce()
{
    static bool done = false;
    if (done) return;
    done = true;
    // Ids 0 ... 7 when the table starts empty (the seeds call them by these ids).
    Function_Add("fz_real", VmFuzzReal, -1, false);
    Function_Add("fz_string", VmFuzzString, -1, false);
    Function_Add("fz_undefined", VmFuzzUndefined, -1, false);
    Function_Add("fz_array", VmFuzzArray, -1, false);
    Function_Add("fz_int64", VmFuzzInt64, -1, false);
    Function_Add("fz_echo", VmFuzzEcho, -1, false);
    Function_Add("fz_fail", VmFuzzFail, -1, false);
    Function_Add("fz_nested", VmFuzzNested, -1, false);
    Variable_BuiltIn_Add("fz_instance", VmFuzzInstanceVar, VmFuzzSetVar);
    Variable_BuiltIn_Add("fz_global", VmFuzzGlobalVar, nullptr);
    // A small limit, so that runaway recursion ends quickly.
    VM_StackLimit = 1 << 20;
}

// A little-endian image of the game data the loader would have left.
struct VmFuzzImage {
    std::vector<uint8_t> bytes;
    uint32_t Here() const { return uint32_t(bytes.size()); }
    uint32_t Word(uint32_t w)
    {
        uint32_t at = Here();
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(w >> (8 * i)));
        return at;
    }
    void Set(uint32_t at, uint32_t w) { std::memcpy(bytes.data() + at, &w, 4); }
    // A string with its length word before it and a NUL after it; the offset of its length word.
    uint32_t Text(const char* text)
    {
        uint32_t at = Word(uint32_t(std::strlen(text)));
        for (const char* p = text; *p; ++p) bytes.push_back(uint8_t(*p));
        do bytes.push_back(0);
        while (bytes.size() % 4 != 0);
        return at;
    }
};

const char* const kVmFuzzStrings[] = {"", "abc", "12.5", "true", "a longer text of the string table"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 4 || size > (1u << 20)) return 0;
    VmFuzzInitOnce();
    DebugConsole = ReleaseConsole = &g_vmFuzzConsole;
    Platform_SetExitHook(VmFuzzExit);
    g_RunFlags.headless = true;
    RoomChangeCode = ROOM_CHANGE_NONE;
    Error_ResetState();

    uint16_t entryA = 0, entryB = 0;
    std::memcpy(&entryA, input, 2);
    std::memcpy(&entryB, input + 2, 2);
    const uint8_t* code = input + 4;
    const uint32_t length = uint32_t(size - 4);

    // The image: string table, script chunk, code list and entries, then the block at the very end.
    VmFuzzImage image;
    image.Word(0x4D524F46);  // "FORM"
    image.Word(0);
    std::vector<uint32_t> strings;
    for (const char* s : kVmFuzzStrings) strings.push_back(image.Text(s));
    const uint32_t names[] = {image.Text("ksl_fuzz"), image.Text("ksl_Script_scr_a"), image.Text("ksl_Script_scr_b"),
                              image.Text("scr_a"), image.Text("scr_b")};
    const uint32_t stringList = image.Word(uint32_t(strings.size()));
    for (uint32_t s : strings) image.Word(s);
    image.Word(0x54504353);  // "SCPT"
    const uint32_t scptSize = image.Word(0);
    const uint32_t scptBody = image.Word(2);
    const uint32_t scriptSlots = image.Word(0);
    image.Word(0);
    image.Set(scriptSlots, image.Word(names[3] + 4));
    image.Word(1);
    image.Set(scriptSlots + 4, image.Word(names[4] + 4));
    image.Word(2);
    image.Set(scptSize, image.Here() - scptBody);
    const uint32_t codeList = image.Word(3);
    const uint32_t codeSlots = image.Here();
    for (int i = 0; i < 3; ++i) image.Word(0);
    uint32_t relatives[3];
    const uint32_t offsets[3] = {0, uint32_t(entryA) * 4, uint32_t(entryB) * 4};
    for (int i = 0; i < 3; ++i) {
        image.Set(codeSlots + 4 * uint32_t(i), image.Word(names[i] + 4));
        image.Word(length);
        image.Word(4u | (2u << 16));  // four locals, two arguments
        relatives[i] = image.Word(0);
        image.Word(offsets[i] <= length ? offsets[i] : 0);
    }
    const uint32_t block = image.Here();
    for (int i = 0; i < 3; ++i) image.Set(relatives[i], block - relatives[i]);  // from the relative word
    image.bytes.insert(image.bytes.end(), code, code + length);

    GameDataInfo& g = g_GameData;
    auto* data = static_cast<uint8_t*>(MemAlloc(image.bytes.size()));
    std::memcpy(data, image.bytes.data(), image.bytes.size());
    g.data = data;
    g.length = uint32_t(image.bytes.size());
    g.bytecodeVersion = 15;
    g.newCodeFormat = g.hasBytecode = true;
    g.stringList = data + stringList;
    g.stringCount = uint32_t(strings.size());
    g.codeList = data + codeList;
    g.codeCount = 3;
    g.localCount = 4;
    if (!g_GlobalObject) g_GlobalObject = ObjectBase_Alloc(4, VALUE_UNSET, true);

    {
        kvtest::FakeWorld world;
        world.AddObject(0, "obj_fz");
        world.AddObject(1, "obj_fz_child", 0);
        g_vmFuzzSelf = world.AddInstance(100001, 0, 4);
        g_vmFuzzOther = world.AddInstance(100002, 1, 4);

        if (Script_Load(data + scptBody, image.Here() - scptBody, data))
            for (int32_t i = 0; i < Script_Number(); ++i)
                if (CScript* script = Script_Data(i)) script->Compile();

        // The main entry gets an exact copy of the block, so that a read past it is caught.
        auto* own = static_cast<uint8_t*>(MemAlloc(length ? length : 1));
        if (length) std::memcpy(own, code, length);
        CCode* main = new CCode(-1, false);
        main->code = new VMBuffer(int32_t(length), own, true);
        main->name = "ksl_fuzz";
        main->localCount = 4;
        main->argumentCount = 2;
        g_vmFuzzMain = main;

        RValue args[2];
        RValue_SetReal(&args[0], 1);
        RValue_SetString(&args[1], "arg");
        RValue result;
        RValue_SetUndefined(&result);
        VM_InstructionBudget = 20000;
        VM_Exec(main, g_vmFuzzSelf, g_vmFuzzOther, &result, nullptr, 2, args, nullptr);
        VM_InstructionBudget = -1;
        RValue_Free(&result);
        RValue_Free(&args[0]);
        RValue_Free(&args[1]);

        g_vmFuzzMain = nullptr;
        delete main;
        Script_Free();
        if (VM_CurrentFrame || VM_ArgCount != 0 || VM_Args || Function_Current) std::abort();
    }

    MemFree(data);
    g.data = nullptr;
    g.length = 0;
    g.stringList = g.codeList = nullptr;
    g.stringCount = g.codeCount = 0;
    ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
    ObjectBasePool_Clear();
    Error_ResetState();
    return 0;
}
