// Preparation of a code buffer for threaded dispatch: the code comes from a user-replaceable file, so it is
// checked once here and a buffer that fails runs nothing.
#include <cstring>
#include <vector>

#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/variables.h"
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
    // The object model's delete (8) and declaration (9) forms of a variable pop carry no value type.
    if (op == kVmPrepOpPop && hasOperand && t1 == 5 && (t2 == 8 || t2 == 9)) return true;
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

// Marks the sequences the loop runs as one (see VM_FORM_COMPARE_BRANCH). Each step keeps its own form as
// well, so a branch into the middle of a sequence runs the rest step by step.
void VmPrep_Fuse(VMStep* steps, int32_t count)
{
    for (int32_t i = 0; i + 2 < count; ++i) {
        VMStep& first = steps[i];
        if (first.form == VM_FORM_PUSH_LOCAL && steps[i + 1].form == VM_FORM_VAR_TO_INT &&
            (steps[i + 2].form == VM_FORM_PUSH_ELEMENT || steps[i + 2].form == VM_FORM_POP_ELEMENT)) {
            first.form = VM_FORM_ELEMENT_AT_LOCAL;
            continue;
        }
        if (first.form != VM_FORM_PUSH_LOCAL && first.form != VM_FORM_PUSH_ARG) continue;
        const VMStep& constant = steps[i + 1];
        const VMStep& op = steps[i + 2];
        // The constant is the top item (".i"), the value the one below it (".v").
        if (constant.form != VM_FORM_PUSH_INT || op.right != 4 || op.left != 16) continue;
        if (op.form == VM_FORM_COMPARE && i + 3 < count &&
            (steps[i + 3].form == VM_FORM_BRANCH_TRUE || steps[i + 3].form == VM_FORM_BRANCH_FALSE))
            first.form = VM_FORM_COMPARE_BRANCH;
        else if (op.form == VM_FORM_ARITH || op.form == VM_FORM_MOD)
            first.form = VM_FORM_ARITH_CONST;
    }
}

// N when built-in variable index is argumentN (0 ... 15), else -1.
int32_t VmPrep_ArgumentNumber(int32_t index)
{
    const BuiltinVariable* entry = Variable_BuiltIn_Entry(index);
    if (!entry || !entry->name || std::strncmp(entry->name, "argument", 8) != 0) return -1;
    const char* digits = entry->name + 8;
    if (digits[0] < '0' || digits[0] > '9') return -1;
    int32_t n = digits[0] - '0';
    if (digits[1] >= '0' && digits[1] <= '9' && n == 1) n = 10 + (digits[1] - '0');
    else if (digits[1] != '\0') return -1;
    if (digits[1] != '\0' && digits[2] != '\0') return -1;
    return n < 16 ? n : -1;
}

// Item types the numeric forms take: ".d", ".i" and ".v", one of them a ".v" (so that the result is one).
bool VmPrep_NumericPair(int32_t t1, int32_t t2)
{
    auto numeric = [](int32_t t) { return t == 0 || t == 2 || t == 5; };
    return numeric(t1) && numeric(t2) && (t1 == 5 || t2 == 5);
}

// The step of the instruction at offset, whose handler the table already holds; its branch target's number
// comes from the finished index.
VMStep VmPrep_Step(const VMBuffer* buffer, int32_t offset, int32_t size, VMHandler handler)
{
    const uint32_t word = VmPrep_Word(buffer->bytes + offset);
    const uint8_t* operand = buffer->bytes + offset + 4;
    VMStep step{};
    step.handler = handler;
    step.word = word;
    step.at = offset;
    step.next = offset + size;
    if (word >= 0xFF000000u) return step;
    const int32_t op = int32_t(word >> 24) & 31;
    const int32_t t1 = int32_t(word >> 16) & 15, t2 = int32_t(word >> 20) & 15;
    // The operand flag on a type without operand bytes gives no operand word to read.
    const bool hasOperand = (word & 0x40000000u) != 0 && size >= 8;
    int32_t operandWord = 0;
    if (hasOperand) std::memcpy(&operandWord, operand, 4);
    const bool plainLocal = (uint32_t(operandWord) & 0x80000000u) != 0 && (operandWord & 0x0FFFFFFF) >= 100000;
    // An element of a local array: the index on the stack, the scope in the word.
    const bool localElement = (uint32_t(operandWord) & 0xE0000000u) == 0x20000000u &&
                              (operandWord & 0x0FFFFFFF) >= 100000 && int16_t(word & 0xFFFF) == -7;
    if (handler == DoPushI) {
        step.form = VM_FORM_PUSH_INT;
        step.value = int16_t(word & 0xFFFF);
    } else if (handler == DoPush && t1 == 15) {
        step.form = VM_FORM_PUSH_INT;
        step.value = int16_t(word & 0xFFFF);
    } else if (handler == DoPush && t1 == 2 && hasOperand) {
        step.form = VM_FORM_PUSH_INT;
        step.value = operandWord;
    } else if (handler == VM_OpHandlers[1] && hasOperand && (operandWord & 0x0FFFFFFF) >= 100000) {
        step.form = VM_FORM_PUSH_LOCAL;
        step.value = (operandWord & 0x0FFFFFFF) - 100000;
    } else if (handler == DoPopLocal && plainLocal && (operandWord & 0x20000000)) {
        step.form = VM_FORM_POP_LOCAL;
        step.value = (operandWord & 0x0FFFFFFF) - 100000;
    } else if (handler == DoPopLocal && localElement) {
        step.form = VM_FORM_POP_ELEMENT;
        step.value = (operandWord & 0x0FFFFFFF) - 100000;
    } else if (handler == DoPush && t1 == 5 && hasOperand && localElement) {
        step.form = VM_FORM_PUSH_ELEMENT;
        step.value = (operandWord & 0x0FFFFFFF) - 100000;
    } else if (handler == DoConvIntToVar) {
        step.form = VM_FORM_INT_TO_VAR;
    } else if (handler == DoConv && (word & 0x0F00u) == 0 && t1 == 5 && t2 == 2) {
        step.form = VM_FORM_VAR_TO_INT;
    } else if ((handler == DoAdd || handler == DoSub || handler == DoMul || handler == DoDiv || handler == DoMod) &&
               (word & 0x0F00u) == 0 && VmPrep_NumericPair(t1, t2)) {
        step.form = handler == DoMod ? VM_FORM_MOD : VM_FORM_ARITH;
        step.value = op;
    } else if (handler == DoSet && VmPrep_NumericPair(t1, t2) && ((word >> 8) & 15) >= 1 && ((word >> 8) & 15) <= 6) {
        step.form = VM_FORM_COMPARE;
        step.value = int32_t(word >> 8) & 15;
    } else if (handler == DoB || handler == DoBt || handler == DoBf) {
        step.form = handler == DoB ? VM_FORM_BRANCH : handler == DoBt ? VM_FORM_BRANCH_TRUE : VM_FORM_BRANCH_FALSE;
        step.value = offset + (int32_t(word << 9) >> 9) * 4;
        step.target = buffer->instructionIndex[step.value / 4];
    } else if (handler == DoCallScript) {
        step.form = VM_FORM_CALL_SCRIPT;
        step.value = operandWord - CALL_ID_SCRIPT_BASE;
        step.target = int32_t(word & 0xFFFF);
    } else if (handler == DoRet && t1 == 5) {
        step.form = VM_FORM_RETURN;
    } else if (handler == DoPopNull && t1 == 5) {
        step.form = VM_FORM_DISCARD;
    } else if (handler == VM_OpHandlers[3] && hasOperand) {
        const int32_t argument = VmPrep_ArgumentNumber(operandWord & 0x0FFFFFFF);
        if (argument >= 0) {
            step.form = VM_FORM_PUSH_ARG;
            step.value = argument;
        }
    }
    step.right = uint8_t(VM_StackItemSize(t1));
    step.left = uint8_t(VM_StackItemSize(t2));
    step.basic = step.form;
    return step;
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
    // The index block also holds, behind the index, one verdict per code word for the entries that start
    // there and the stacks the checks fixed at rets and exits (see VM_VerifyEntry), so the destructor frees
    // them all at once.
    auto* index =
        static_cast<int32_t*>(MemoryManager::Alloc((size_t(words) + 1) * 16, __FILE__, __LINE__, true));
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
    // The steps, with one past the last so that code run off its end indexes a step too.
    auto* decoded =
        static_cast<VMStep*>(MemoryManager::Alloc((size_t(count) + 1) * sizeof(VMStep), __FILE__, __LINE__, true));
    n = 0;
    for (int32_t o = 0; o < length; ++n) {
        int32_t size = VmPrep_Size(bytes, length, o);
        decoded[n] = VmPrep_Step(this, o, size, table[n]);
        o += size;
    }
    VmPrep_Fuse(decoded, count);
    decoded[count].form = decoded[count].basic = VM_FORM_END;
    decoded[count].at = length;
    decoded[count].next = length;
    steps = decoded;
    handlers = table;
    return true;
}

// ---- stack-type verification of code entries ----
//
// Stack items carry no type at run time: an operation trusts its type nibbles. So before an entry first runs,
// every path from it is walked over the item types of the stack, and the entry is refused unless each
// operation finds the items it names, and paths that meet (branch targets, with-block heads) agree on the
// whole stack. A handler that cannot proceed stops the frame, so such forms end their path here as well.

namespace {

constexpr uint8_t kVmVerWith = 8;  // the with-block record: only pushenv makes it, only popenv consumes it

// A stack kept for the returns: bits 0-3 the item count, then 4 bits per item type, top first. Two counts
// say more: the check fixes no stack there, or more items lie there than a shape holds.
constexpr int32_t kVmShapeItems = 6;
constexpr int32_t kVmShapeNone = 14;
constexpr int32_t kVmShapeDeep = 15;
// A sound entry's verdict: this bit with the shape of the stack it leaves at the end.
constexpr int32_t kVmVerdictSound = 0x40000000;

bool VmVer_IsItem(int32_t t) { return t >= 0 && t <= 6; }
bool VmVer_IsPlain(uint8_t t) { return t <= 4; }  // no reference held: may be copied or dropped as bytes

// Bytes of an item on the stack; the with record has no size anyone may count over.
int32_t VmVer_Size(uint8_t t) { return t == kVmVerWith ? -1 : VM_StackItemSize(t); }

struct VmVerNode {
    int32_t parent;  // the stack below this item (0: empty)
    int32_t depth;
    uint32_t hash;   // of the whole stack, so that unequal stacks usually differ at once
    uint8_t type;
};

// What one instruction does to the stack: its successors' stacks (-1: no such successor).
struct VmVerStep {
    int32_t fall = -1;
    int32_t branch = -1;
};

class VmVerifier {
public:
    VmVerifier(const VMBuffer* buffer, int32_t words)
        : buffer_(buffer), cap_(size_t(words) * 8 + 65536)
    {
        nodes_.push_back({0, 0, 0x811C9DC5u, 0});
        int32_t count = buffer->instructionIndex[words];
        state_.assign(size_t(count) + 1, 0);
    }

    // -1 when every path from entry is sound, else the offset of the first offending instruction.
    int32_t Run(int32_t entry)
    {
        if (!Reach(entry, 0)) return bad_;
        while (!work_.empty()) {
            int32_t o = work_.back();
            work_.pop_back();
            int32_t node = state_[size_t(buffer_->instructionIndex[o / 4])] - 1;
            VmVerStep step;
            if (!Step(o, node, step)) return o;
            int32_t size = 4 + ((Word(o) & 0x40000000u) ? VM_OperandSize[(Word(o) >> 16) & 15] : 0);
            if (step.branch >= 0) {
                int32_t offset = int32_t(Word(o) << 9) >> 9;
                if (!Reach(o + offset * 4, step.branch)) return bad_;
            }
            if (step.fall >= 0 && !Reach(o + size, step.fall)) return bad_;
        }
        return -1;
    }

    // The item types (top first) on the stack when the instruction at offset starts, after a run from entry;
    // -1 when the run failed, never reached offset, or more than max items lie there. The end of the code
    // counts as an offset when every path that runs off it leaves the same stack.
    int32_t TypesAt(int32_t offset, uint8_t* types, int32_t max) const
    {
        int32_t node = offset >= buffer_->length ? (endMixed_ ? -1 : endNode_)
                                                 : state_[size_t(buffer_->instructionIndex[offset / 4])] - 1;
        if (node < 0) return -1;
        int32_t count = 0;
        for (; node != 0; node = nodes_[size_t(node)].parent) {
            if (count >= max) return -1;
            types[count++] = nodes_[size_t(node)].type;
        }
        return count;
    }

    // The stack at offset (or the end) after a sound run, packed: see kVmShapeItems.
    int32_t ShapeAt(int32_t offset) const
    {
        int32_t node = offset >= buffer_->length ? (endMixed_ ? -1 : endNode_)
                                                 : state_[size_t(buffer_->instructionIndex[offset / 4])] - 1;
        if (node < 0) return kVmShapeNone;
        int32_t shape = 0;
        int32_t count = 0;
        for (; node != 0; node = nodes_[size_t(node)].parent, ++count) {
            if (count == kVmShapeItems) return kVmShapeDeep;
            shape |= int32_t(nodes_[size_t(node)].type) << (4 + 4 * count);
        }
        return shape | count;
    }

    // After a sound run from entry: the stacks at the rets and exits it reaches, for the returns to read.
    // The first entry to reach a ret or exit keeps it; the others' returns there ask the full check.
    void KeepShapes(int32_t entry, int32_t* tags, int32_t* shapes) const
    {
        const int32_t words = buffer_->length / 4;
        for (int32_t w = 0; w < words; ++w) {
            const int32_t n = buffer_->instructionIndex[w];
            if (n < 0 || state_[size_t(n)] == 0) continue;
            const uint32_t word = Word(w * 4);
            const uint32_t op = (word >> 24) & 31;
            if (word >= 0xFF000000u || (op != 28 && op != 29)) continue;
            if (tags[w] != 0) continue;
            tags[w] = entry / 4 + 1;
            shapes[w] = ShapeAt(w * 4);
        }
    }

private:
    uint32_t Word(int32_t o) const { return VM_PlainWord(buffer_->bytes + o); }

    // A stack arrives at an instruction start (or the end): the first one is kept, later ones must equal it.
    bool Reach(int32_t target, int32_t node)
    {
        if (target >= buffer_->length) {  // the code ends there; only what it leaves is noted
            if (endNode_ < 0) endNode_ = node;
            else if (!Same(endNode_, node)) endMixed_ = true;
            return true;
        }
        int32_t& slot = state_[size_t(buffer_->instructionIndex[target / 4])];
        if (slot == 0) {
            slot = node + 1;
            work_.push_back(target);
            return true;
        }
        if (Same(slot - 1, node)) return true;
        bad_ = target;
        return false;
    }

    bool Same(int32_t a, int32_t b) const
    {
        while (a != b) {
            const VmVerNode& x = nodes_[size_t(a)];
            const VmVerNode& y = nodes_[size_t(b)];
            if (x.depth != y.depth || x.hash != y.hash || x.type != y.type) return false;
            a = x.parent;
            b = y.parent;
        }
        return true;
    }

    bool Push(int32_t& node, uint8_t type)
    {
        if (nodes_.size() >= cap_) return false;  // more stack than any sound code of this size builds
        const VmVerNode& below = nodes_[size_t(node)];
        VmVerNode n{node, below.depth + 1, (below.hash ^ type) * 0x01000193u + 0x9E3779B9u, type};
        nodes_.push_back(n);
        node = int32_t(nodes_.size() - 1);
        return true;
    }

    uint8_t Top(int32_t node) const { return nodes_[size_t(node)].type; }

    bool Pop(int32_t& node, uint8_t type)
    {
        if (node == 0 || Top(node) != type) return false;
        node = nodes_[size_t(node)].parent;
        return true;
    }

    // The items (top first) that make up exactly bytes bytes below the top of node; false when the count
    // splits an item, passes the bottom or crosses a with record. *below gets the stack under them.
    bool Region(int32_t node, int64_t bytes, uint8_t* types, int32_t& count, int32_t* below) const
    {
        count = 0;
        while (bytes > 0) {
            if (node == 0 || count >= kVmVerRegionMax) return false;
            int32_t size = VmVer_Size(Top(node));
            if (size <= 0) return false;
            types[count++] = Top(node);
            bytes -= size;
            node = nodes_[size_t(node)].parent;
        }
        *below = node;
        return bytes == 0;
    }

    bool PushAll(int32_t& node, const uint8_t* types, int32_t count)
    {
        for (int32_t i = count - 1; i >= 0; --i)
            if (!Push(node, types[i])) return false;
        return true;
    }

    // The operands of a variable reference: a packed index, a stacked scope, the object-model values.
    bool PopVariableOperands(int32_t& node, uint32_t word, uint32_t reference)
    {
        if (!(reference & 0x80000000u) && !Pop(node, 2)) return false;
        if (!(reference & 0x20000000u)) return Pop(node, 2);
        if (reference & 0x40000000u) return true;  // an instance id: the word holds it less 100000
        const int16_t scope = int16_t(word & 0xFFFF);
        if (scope == -9) return Pop(node, 5);
        if (scope == -10) return Pop(node, 5) && Pop(node, 5);
        return true;
    }

    bool Step(int32_t o, int32_t node, VmVerStep& step);
    bool StepDup(uint32_t word, int32_t node, VmVerStep& step);
    bool StepPopSwap(uint32_t word, int32_t node, VmVerStep& step);

    static constexpr int32_t kVmVerRegionMax = 512;

    const VMBuffer* buffer_;
    size_t cap_;
    std::vector<VmVerNode, MemAllocator<VmVerNode>> nodes_;
    std::vector<int32_t, MemAllocator<int32_t>> state_;  // per instruction: its stack + 1 (0: not reached)
    std::vector<int32_t, MemAllocator<int32_t>> work_;
    int32_t bad_ = -1;
    int32_t endNode_ = -1;  // the stack a path leaves when it runs off the end
    bool endMixed_ = false;
};

bool VmVerifier::StepDup(uint32_t word, int32_t node, VmVerStep& step)
{
    const int32_t type = int32_t(word >> 16) & 15;
    const int32_t low = int32_t(word & 0xFF);
    const int32_t size = VM_StackItemSize(type);
    if (size == 0) return true;  // refused when it runs
    uint8_t upper[kVmVerRegionMax], lower[kVmVerRegionMax];
    int32_t nUpper = 0, nLower = 0, below = 0;
    if ((word & 0xFF00u) == 0) {
        // Copies of the top low + 1 items of the type: values and strings take a reference per item, so the
        // bytes copied must be exactly such items; plain items are copied as bytes.
        if (!Region(node, int64_t(low + 1) * size, upper, nUpper, &below)) return false;
        for (int32_t i = 0; i < nUpper; ++i) {
            bool fits = type == 5 || type == 6 ? upper[i] == type : VmVer_IsPlain(upper[i]);
            if (!fits) return false;
        }
        step.fall = node;
        return PushAll(step.fall, upper, nUpper);
    }
    if (type != 5) return true;  // refused when it runs
    // The top a values and the b values below them change places, as bytes.
    int32_t middle = 0;
    if (!Region(node, int64_t(low >> 4) * 16, upper, nUpper, &middle)) return false;
    if (!Region(middle, int64_t(low & 15) * 16, lower, nLower, &below)) return false;
    step.fall = below;
    return PushAll(step.fall, upper, nUpper) && PushAll(step.fall, lower, nLower);
}

bool VmVerifier::StepPopSwap(uint32_t word, int32_t node, VmVerStep& step)
{
    const int32_t size = VM_StackItemSize(int32_t(word >> 20) & 15);
    const int32_t between = int8_t(word & 0xFF) * 4;
    const int32_t move = int8_t((word >> 8) & 0xFF) * 4;
    if (between < 0) return true;  // refused when it runs
    uint8_t items[kVmVerRegionMax];
    int32_t count = 0, below = 0;
    int32_t result = node;
    if (size > 0) {
        // The top item moves below the next between bytes, which move up.
        if (node == 0 || VmVer_Size(Top(node)) != size) return false;
        const uint8_t moved = Top(node);
        if (!Region(nodes_[size_t(node)].parent, between, items, count, &below)) return false;
        result = below;
        if (!Push(result, moved) || !PushAll(result, items, count)) return false;
    }
    if (move < 0) {
        // The bytes taken back are zeroed: int32 zeros.
        for (int32_t i = 0; i < -move / 4; ++i)
            if (!Push(result, 2)) return false;
    } else {
        // The bytes given up must hold nothing that needs releasing.
        if (!Region(result, move, items, count, &result)) return false;
        for (int32_t i = 0; i < count; ++i)
            if (!VmVer_IsPlain(items[i])) return false;
    }
    step.fall = result;
    return true;
}

bool VmVerifier::Step(int32_t o, int32_t node, VmVerStep& step)
{
    const uint32_t word = Word(o);
    if (word >= 0xFF000000u) {
        const uint32_t low = word & 0xFFFF;
        if (low == 0xFFFF) {  // array-index check of the int32 on top, left in place
            if (node == 0 || Top(node) != 2) return false;
        } else if (low != 0) {
            return true;  // refused when it runs
        }
        step.fall = node;
        return true;
    }
    const int32_t op = int32_t(word >> 24) & 31;
    const int32_t t1 = int32_t(word >> 16) & 15;
    const int32_t t2 = int32_t(word >> 20) & 15;
    const bool hasOperand = (word & 0x40000000u) != 0;
    const int32_t variant = int32_t(word >> 8) & 15;
    uint32_t operand = 0;
    if (hasOperand && VM_OperandSize[t1] >= 4) std::memcpy(&operand, buffer_->bytes + o + 4, 4);
    int32_t n = node;
    switch (op) {
    case 0:  // push
        if (t1 == 15) break;
        if (t1 >= 8) {
            step.fall = n;
            return true;
        }
        if (!hasOperand) return false;  // no operand to push
        if (t1 == 5) {
            if (!PopVariableOperands(n, word, operand)) return false;
        }
        step.fall = n;
        return Push(step.fall, uint8_t(t1 == 7 ? 6 : t1));
    case 1:
    case 2:
    case 3:  // push.l, push.g, push.b
        if (!hasOperand) return true;  // refused when it runs
        step.fall = n;
        return Push(step.fall, 5);
    case 4:  // push.i
        break;
    case 5:  // pop
        if (t1 == 15) return StepPopSwap(word, n, step);
        if (t1 != 5 && t1 != 2) return true;  // refused when it runs
        if (!hasOperand) return false;        // no variable to store into
        if (t1 == 5) {
            if (!PopVariableOperands(n, word, operand)) return false;
            if (t2 == 9) {  // declaration: no value
                step.fall = n;
                return true;
            }
            if (t2 == 8) {  // delete: its outcome
                step.fall = n;
                return Push(step.fall, 4);
            }
        }
        if (t2 == 1 || !VmVer_IsItem(t2)) return true;  // refused when it runs
        if (!Pop(n, uint8_t(t2))) return false;
        if (t1 == 2 && !PopVariableOperands(n, word, operand)) return false;
        step.fall = n;
        return true;
    case 6:
        return StepDup(word, n, step);
    case 7:  // conv
        // The object-model forms push by their variant, whatever the second type says.
        if (!VmVer_IsItem(t1) || (variant == 0 && !VmVer_IsItem(t2))) return true;  // refused when it runs
        if (!Pop(n, uint8_t(t1))) return false;
        step.fall = n;
        if (variant == 0) return Push(step.fall, uint8_t(t2));
        // Object-model forms: bit 8 asks for a truth value, the others for a number value.
        return Push(step.fall, (variant & 1) ? 4 : 5);
    case 8: case 9: case 10: case 11: case 12: case 13: case 14: case 15: case 16: case 19: case 20: {
        if (!VmVer_IsItem(t1) || !VmVer_IsItem(t2)) return true;  // refused when it runs
        if (!Pop(n, uint8_t(t1)) || !Pop(n, uint8_t(t2))) return false;
        int32_t result = variant != 0 ? 5 : VM_BinaryResultType(op, t1, t2);
        if (result < 0) return true;  // refused when it runs
        step.fall = n;
        return Push(step.fall, uint8_t(result));
    }
    case 17:
    case 18:  // neg, not: in place
        if (!VmVer_IsItem(t1)) return true;
        if (n == 0 || Top(n) != t1) return false;
        step.fall = n;
        return true;
    case 21:  // set
        if (!VmVer_IsItem(t1) || !VmVer_IsItem(t2)) return true;
        if (!Pop(n, uint8_t(t1)) || !Pop(n, uint8_t(t2))) return false;
        step.fall = n;
        return Push(step.fall, 4);
    case 22:  // b
        step.branch = n;
        return true;
    case 23:
    case 24:  // bt, bf
        if (n == 0 || (Top(n) != 4 && Top(n) != 2)) return false;
        n = nodes_[size_t(n)].parent;
        step.fall = step.branch = n;
        return true;
    case 25: {  // call: the arguments (and for callv the function and "this" above them) become the result
        int32_t argc = int32_t(word & 0xFFFF);
        if (t1 == 5) {
            if (!Pop(n, 5) || !Pop(n, 5)) return false;
        } else if (t1 != 2 || !hasOperand) {
            return true;  // refused when it runs
        }
        for (int32_t i = 0; i < argc; ++i)
            if (!Pop(n, 5)) return false;
        step.fall = n;
        return Push(step.fall, 5);
    }
    case 26:  // pushenv: the target becomes the record, for the body and for the skip to the popenv
        if (!Pop(n, (word & 0x00800000u) ? 5 : 2) || !Push(n, kVmVerWith)) return false;
        step.fall = step.branch = n;
        return true;
    case 27:  // popenv: back to the body with the record, or past the block without it
        if (n == 0 || Top(n) != kVmVerWith) return false;
        if (((word >> 16) & 0xFF) != 0xF0) step.branch = n;
        step.fall = nodes_[size_t(n)].parent;
        return true;
    case 28:  // ret
        if (VM_StackItemSize(t1) > 0 && !Pop(n, uint8_t(t1))) return false;
        return true;
    case 29:  // exit
        return true;
    default: {  // popz (30) and the break words below 0xFF000000 (31)
        if (VM_StackItemSize(t1) > 0 && !Pop(n, uint8_t(t1))) return false;
        step.fall = n;
        return true;
    }
    }
    // push.e, pushv.e, push.i: an int32
    step.fall = n;
    return Push(step.fall, 2);
}

}  // namespace

bool VM_VerifyStackTypes = true;

int32_t VM_BinaryResultType(int32_t op, int32_t right, int32_t left)
{
    if (!VmVer_IsItem(right) || !VmVer_IsItem(left)) return -1;
    if (right == 5 || left == 5) return 5;  // typed at run time by the values' kinds
    auto real = [](int32_t t) { return t == 0 || t == 1; };
    auto number = [&](int32_t t) { return real(t) || t == 2 || t == 3; };
    if (number(right) && number(left)) {
        if (real(right) || real(left)) return 0;
        return right == 3 || left == 3 ? 3 : 2;
    }
    const bool bitwise = op == 14 || op == 15 || op == 16;
    if (right == 4 && left == 4) return bitwise ? 4 : -1;
    if ((op == 14 || op == 15) && ((right == 4 && real(left)) || (left == 4 && real(right)))) return 0;
    if (right == 6 && left == 6 && op == 12) return 6;
    if (right == 6 && op == 8 && (real(left) || left == 2)) return 6;
    return -1;
}

bool VM_VerifyEntry(VMBuffer* buffer, int32_t entry, int32_t* badOffset)
{
    if (!buffer || !buffer->handlers || entry < 0 || entry > buffer->length || entry % 4 != 0 ||
        buffer->instructionIndex[entry / 4] < 0) {
        if (badOffset) *badOffset = entry;
        return false;
    }
    if (!VM_VerifyStackTypes) return true;
    const int32_t words = buffer->length / 4;
    int32_t& verdict = buffer->instructionIndex[words + 1 + entry / 4];
    if (verdict == 0) {
        VmVerifier verifier(buffer, words);
        int32_t bad = verifier.Run(entry);
        if (bad < 0) {
            int32_t* tags = buffer->instructionIndex + 2 * (words + 1);
            verifier.KeepShapes(entry, tags, tags + (words + 1));
            verdict = kVmVerdictSound | verifier.ShapeAt(buffer->length);
        } else {
            verdict = -2 - bad;
        }
    }
    if (verdict > 0) return true;
    if (badOffset) *badOffset = -2 - verdict;
    return false;
}

namespace {

bool VmVer_TypesQuerySound(const VMBuffer* buffer, int32_t entry, int32_t offset, const uint8_t* types)
{
    return buffer && buffer->handlers && types && entry >= 0 && entry < buffer->length && entry % 4 == 0 &&
           offset >= 0 && offset <= buffer->length && offset % 4 == 0 && buffer->instructionIndex[entry / 4] >= 0 &&
           (offset >= buffer->length || buffer->instructionIndex[offset / 4] >= 0);
}

}  // namespace

int32_t VM_StackTypesAt(VMBuffer* buffer, int32_t entry, int32_t offset, uint8_t* types, int32_t max)
{
    if (!VmVer_TypesQuerySound(buffer, entry, offset, types)) return -1;
    // Only a whole sound run fixes the stack at each instruction: a failed one may stop before the paths meet.
    VmVerifier verifier(buffer, buffer->length / 4);
    if (verifier.Run(entry) >= 0) return -1;
    return verifier.TypesAt(offset, types, max);
}

int32_t VM_LeftoverTypes(VMBuffer* buffer, int32_t entry, int32_t offset, uint8_t* types, int32_t max)
{
    if (!VmVer_TypesQuerySound(buffer, entry, offset, types)) return -1;
    const int32_t slots = buffer->length / 4 + 1;
    const int32_t* index = buffer->instructionIndex;
    int32_t shape;
    if (offset >= buffer->length) {
        const int32_t verdict = index[slots + entry / 4];
        if (verdict < 0) return -1;  // refused: no stack is fixed anywhere
        if (verdict == 0) return VM_StackTypesAt(buffer, entry, offset, types, max);  // never checked
        shape = verdict & ~kVmVerdictSound;
    } else {
        if (index[2 * slots + offset / 4] != entry / 4 + 1) return VM_StackTypesAt(buffer, entry, offset, types, max);
        shape = index[3 * slots + offset / 4];
    }
    const int32_t count = shape & 15;
    if (count == kVmShapeNone) return -1;
    if (count == kVmShapeDeep) return VM_StackTypesAt(buffer, entry, offset, types, max);
    if (count > max) return -1;
    for (int32_t i = 0; i < count; ++i) types[i] = uint8_t((shape >> (4 + 4 * i)) & 15);
    return count;
}
