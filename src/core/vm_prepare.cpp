// Preparation of a code buffer for threaded dispatch: the code comes from a user-replaceable file, so it is
// checked once here and a buffer that fails runs nothing.
#include <cstring>

#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/vm.h"
#include "net/net.h"
#include "world/loader.h"

const int32_t VM_OperandSize[16] = {8, 4, 4, 8, 4, 4, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0};

int32_t VM_StackItemSize(int32_t type)
{
    switch (type) {
    case 0:
    case 3: return 8;
    case 5: return 16;
    case 1:
    case 2:
    case 4:
    case 6: return 4;
    default: return 0;
    }
}

namespace {

constexpr int32_t kVmPrepOpPush = 0;
constexpr int32_t kVmPrepOpPop = 5;
constexpr int32_t kVmPrepOpConv = 7;
constexpr int32_t kVmPrepOpCall = 25;
constexpr int32_t kVmPrepOpPopEnv = 27;

uint32_t VmPrep_Word(const uint8_t* p) { return VM_PlainWord(p); }

bool VmPrep_IsBranch(int32_t op) { return op == 22 || op == 23 || op == 24 || op == 26 || op == kVmPrepOpPopEnv; }

// Item types a stack operation may name: the stored ones and ".e".
bool VmPrep_ItemType(int32_t t) { return t <= 6 || t == 15; }

// Size of the instruction at offset, or 0 when its operand runs past the end.
int32_t VmPrep_Size(const uint8_t* code, int32_t length, int32_t offset)
{
    uint32_t word = VmPrep_Word(code + offset);
    int32_t size = 4 + ((word & 0x40000000u) ? VM_OperandSize[(word >> 16) & 15] : 0);
    return size <= length - offset ? size : 0;
}

// Whether the instruction's fields make sense on their own (targets are checked once starts are known).
bool VmPrep_FieldsSound(uint32_t word, const uint8_t* operand)
{
    if (word >= 0xFF000000u) return true;  // break words
    int32_t op = int32_t(word >> 24) & 31;
    int32_t t1 = int32_t(word >> 16) & 15;
    int32_t t2 = int32_t(word >> 20) & 15;
    bool hasOperand = (word & 0x40000000u) != 0;
    if (VmPrep_IsBranch(op)) return (word & 0x20000000u) != 0;
    if (op == kVmPrepOpCall) {
        if (t1 == 5) return true;
        if (t1 != 2 || !hasOperand) return false;
        int32_t id;
        std::memcpy(&id, operand, 4);
        if (id < 0) return false;
        if (id < CALL_ID_SCRIPT_BASE) return id < Function_Count();
        return true;
    }
    if (op == kVmPrepOpPush && hasOperand) {
        if (!VmPrep_ItemType(t1) && t1 != 7) return false;
        if (t1 == 6) {
            int32_t index;
            std::memcpy(&index, operand, 4);
            return index >= 0 && uint32_t(index) < g_GameData.stringCount;
        }
        return true;
    }
    if (!VmPrep_ItemType(t1)) return false;
    bool twoType = (word & 0xA0000000u) == 0;
    if (twoType && !VmPrep_ItemType(t2)) return false;
    return true;
}

VMHandler VmPrep_Handler(uint32_t word, const uint8_t* operand)
{
    int32_t op = int32_t(word >> 24) & 31;
    if (op == kVmPrepOpPop && (word & 0x40000000u) && ((word >> 16) & 0xFF) == 0x55 && int16_t(word & 0xFFFF) == -7)
        return DoPopLocal;
    if (op == kVmPrepOpConv && (word & 0x0F00u) == 0 && ((word >> 16) & 0xFF) == 0x52) return DoConvIntToVar;
    if (op == kVmPrepOpCall && ((word >> 16) & 15) == 2 && (word & 0x40000000u)) {
        int32_t id;
        std::memcpy(&id, operand, 4);
        if (id < CALL_ID_SCRIPT_BASE) return VM_CallBuiltin;
        if (id < CALL_ID_SCRIPT_EXECUTE) return DoCallScript;
        return DoCall;  // script_execute and extension functions
    }
    return VM_OpHandlers[op];
}

}  // namespace

uint32_t VM_PlainWord(const uint8_t* p)
{
    uint32_t w;
    std::memcpy(&w, p, 4);
    if (w == DEBUG_BREAK_WORD)
        for (const DebugBreakpoint& slot : Debug_Breakpoints)
            if (slot.address && reinterpret_cast<const uint8_t*>(slot.address) == p) return slot.replacedWord;
    return w;
}

bool VMBuffer::Prepare(int32_t* badOffset)
{
    if (handlers) return true;
    if (length < 0 || length % 4 != 0 || (length > 0 && !bytes)) {
        if (badOffset) *badOffset = 0;
        return false;
    }
    const int32_t words = length / 4;

    // Pass 1: whole instructions with sound fields; mark where each starts.
    auto* starts = static_cast<uint8_t*>(MemoryManager::Alloc(size_t(words) + 1, __FILE__, __LINE__, true));
    int32_t count = 0;
    int32_t bad = -1;
    for (int32_t o = 0; o < length;) {
        int32_t size = VmPrep_Size(bytes, length, o);
        if (size == 0 || !VmPrep_FieldsSound(VmPrep_Word(bytes + o), bytes + o + 4)) {
            bad = o;
            break;
        }
        starts[o / 4] = 1;
        ++count;
        o += size;
    }
    starts[words] = 1;  // a branch may leave the code

    // Pass 2: branch targets land on instruction starts inside [0, length].
    for (int32_t o = 0; bad < 0 && o < length; o += VmPrep_Size(bytes, length, o)) {
        uint32_t word = VmPrep_Word(bytes + o);
        int32_t op = int32_t(word >> 24) & 31;
        if (word >= 0xFF000000u || !VmPrep_IsBranch(op)) continue;
        if (op == kVmPrepOpPopEnv && ((word >> 16) & 0xFF) == 0xF0) continue;  // early-exit form
        int32_t offset = int32_t(word << 9) >> 9;
        int64_t target = int64_t(o) + int64_t(offset) * 4;
        if (target < 0 || target > length || !starts[target / 4]) bad = o;
    }
    MemFree(starts);
    if (bad >= 0) {
        if (badOffset) *badOffset = bad;
        return false;
    }

    // Pass 3: the tables. Operand words index -1 (no instruction starts there); the end indexes the
    // one slot past the last handler, which stays null.
    auto* table = static_cast<VMHandler*>(
        MemoryManager::Alloc(size_t(count) * sizeof(VMHandler) + sizeof(VMHandler), __FILE__, __LINE__, true));
    auto* index =
        static_cast<int32_t*>(MemoryManager::Alloc(size_t(words) * 4 + 4, __FILE__, __LINE__, true));
    for (int32_t w = 0; w < words; ++w) index[w] = -1;
    int32_t n = 0;
    for (int32_t o = 0; o < length; ++n) {
        int32_t size = VmPrep_Size(bytes, length, o);
        index[o / 4] = n;
        table[n] = VmPrep_Handler(VmPrep_Word(bytes + o), bytes + o + 4);
        o += size;
    }
    index[words] = count;
    instructionIndex = index;
    handlers = table;
    return true;
}
