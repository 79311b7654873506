// The interpreter's arithmetic, logic, conversion and comparison operations. One runner pushes typed items
// on a frame's stack, runs the handler from the handler table and describes the item left on top (or the
// error reported); the tables below and the rows a Python script computes at test time go through it.
// A few programs go through the assembler and VM_Exec so that the handler table and the item sizes are
// checked end to end.
#include "vm_test_util.h"
#include "py_oracle.h"

#include "core/convert.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "script/script.h"
#include "world/object_base.h"

#include <cinttypes>
#include <cmath>
#include <fstream>

namespace {

constexpr int64_t kVmOpsStackBytes = 4096;

int32_t VmOpsTest_TypeCode(char c)
{
    switch (c) {
    case 'd': return 0;
    case 'f': return 1;
    case 'i': return 2;
    case 'l': return 3;
    case 'b': return 4;
    case 'v': return 5;
    case 's': return 6;
    default: return -1;
    }
}

std::string VmOpsTest_Hex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Fixed addresses for pointer and object operands: two differ only above bit 31.
void* const kVmOpsPtrLow = reinterpret_cast<void*>(uintptr_t(0x1000));
void* const kVmOpsPtrHigh = reinterpret_cast<void*>(uintptr_t(0x100001000ull));

// An operand: "d:1.5" "f:.." "i:.." "l:.." "b:.." (items), "s:text", "sx:hex", "s!" (null handle), "v:r1.5",
// "v:b1", "v:i7", "v:l7", "v:stext", "v:sxhex", "v:arr", "v:ptr", "v:ptrhi", "v:obj", "v:undef", "v:unset",
// "v:null", "v:k<kind>" (values), "t<n>" (a type with no item size), "x:<t>" (the type, nothing pushed).
struct VmOpsOperand {
    int32_t type = -1;
    std::vector<uint8_t> bytes;
};

VmOpsOperand VmOpsTest_Operand(const std::string& form)
{
    VmOpsOperand o;
    if (form.empty()) return o;
    if (form[0] == 't') {
        o.type = std::stoi(form.substr(1));
        return o;
    }
    if (form[0] == 'x') {
        o.type = VmOpsTest_TypeCode(form[2]);
        return o;
    }
    o.type = VmOpsTest_TypeCode(form[0]);
    const std::string rest = form.size() > 2 ? form.substr(2) : "";
    auto put = [&](const void* p, size_t n) { o.bytes.assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n); };
    switch (o.type) {
    case 0: {
        double d = Text_ToReal(rest.c_str());
        put(&d, 8);
        break;
    }
    case 1: {
        float f = float(Text_ToReal(rest.c_str()));
        put(&f, 4);
        break;
    }
    case 2:
    case 4: {
        int32_t i = int32_t(std::stoll(rest));
        put(&i, 4);
        break;
    }
    case 3: {
        int64_t l = std::stoll(rest);
        put(&l, 8);
        break;
    }
    case 6: {
        uint32_t handle = 0;
        if (form != "s!") {
            std::string text = form.rfind("sx:", 0) == 0 ? VmOpsTest_Hex(form.substr(3)) : rest;
            handle = VM_StringAdd(RefString::Create(text.c_str()));
        }
        put(&handle, 4);
        break;
    }
    case 5: {
        RValue v;
        RValue_SetUndefined(&v);
        const char k = rest.empty() ? '?' : rest[0];
        const std::string arg = rest.size() > 1 ? rest.substr(1) : "";
        if (rest == "arr") {
            RValue one;
            RValue_SetReal(&one, 1);
            RValue_SetWithIndex(&v, &one, 0);
        } else if (rest == "ptr") {
            RValue_SetPtr(&v, kVmOpsPtrLow);
        } else if (rest == "ptrhi") {
            RValue_SetPtr(&v, kVmOpsPtrHigh);
        } else if (rest == "obj") {
            v.ptr = kVmOpsPtrLow;
            v.kind = VALUE_OBJECT;
        } else if (rest == "undef") {
        } else if (rest == "unset") {
            v.kind = VALUE_UNSET;
        } else if (rest == "null") {
            v.kind = VALUE_NULL;
        } else if (k == 'k') {
            v.kind = uint32_t(std::stoi(arg));
        } else if (k == 'r') {
            RValue_SetReal(&v, Text_ToReal(arg.c_str()));
        } else if (k == 'b') {
            RValue_SetBool(&v, arg == "1");
        } else if (k == 'i') {
            RValue_SetInt32(&v, int32_t(std::stoll(arg)));
        } else if (k == 'l') {
            RValue_SetInt64(&v, std::stoll(arg));
        } else if (rest.rfind("sx:", 0) == 0) {
            RValue_SetString(&v, VmOpsTest_Hex(rest.substr(3)).c_str());
        } else if (k == 's') {
            RValue_SetString(&v, arg.c_str());
        } else {
            ADD_FAILURE() << "bad operand " << form;
        }
        put(&v, 16);
        break;
    }
    default: ADD_FAILURE() << "bad operand " << form; break;
    }
    return o;
}

// "add", "shr.s" (bit 15), "conv.d" (target), "set.eq" / "set.7" (kind), "add.1" (model variant).
struct VmOpsWord {
    int32_t opcode = 0;
    uint32_t extra = 0;   // bits 8-15
    int32_t target = -1;  // conv's T2
    int32_t hint = -1;    // the result type when the row does not say
};

VmOpsWord VmOpsTest_Word(const std::string& name)
{
    static const std::map<std::string, int32_t> codes = {
        {"conv", 7}, {"mul", 8}, {"div", 9},  {"rem", 10}, {"mod", 11}, {"add", 12}, {"sub", 13}, {"and", 14},
        {"or", 15},  {"xor", 16}, {"neg", 17}, {"not", 18}, {"shl", 19}, {"shr", 20}, {"set", 21}};
    static const std::map<std::string, uint32_t> kinds = {{"lt", 1}, {"le", 2}, {"eq", 3}, {"ne", 4}, {"ge", 5}, {"gt", 6}};
    VmOpsWord w;
    std::stringstream ss(name);
    std::string part;
    std::getline(ss, part, '.');
    w.opcode = codes.at(part);
    if (w.opcode == 21) w.hint = 4;
    if (w.opcode == 7) {
        std::getline(ss, part, '.');
        w.target = part[0] == 't' ? std::stoi(part.substr(1)) : VmOpsTest_TypeCode(part[0]);
        w.hint = w.target;
    }
    while (std::getline(ss, part, '.')) {
        if (part == "s") w.extra |= 0x80;
        else if (kinds.count(part)) w.extra |= kinds.at(part);
        else w.extra |= uint32_t(std::stoi(part));
    }
    if (w.opcode != 21 && (w.extra & 15)) w.hint = (w.opcode == 7 && (w.extra & 1)) ? 4 : 5;
    return w;
}

// What the model variants call, in order, and what they throw.
std::vector<std::string> g_vmOpsModelCalls;

std::string VmOpsModel_Text(const RValue* v) { return v->str && v->str->text ? v->str->text : ""; }

// The fake model: numbers and strings convert; kind 9 values never do; objects have no primitive.
int32_t VmOpsModel_ToPrimitive(RValue* result, const RValue* value, int32_t)
{
    g_vmOpsModelCalls.push_back("ToPrimitive");
    if (RValue_Kind(value) == VALUE_OBJECT) return 1;
    RValue_Copy(result, value);
    return 0;
}
int32_t VmOpsModel_ToNumber(RValue* result, const RValue* value)
{
    g_vmOpsModelCalls.push_back("ToNumber");
    switch (RValue_Kind(value)) {
    case VALUE_REAL:
    case VALUE_BOOL: RValue_SetReal(result, value->real); return 0;
    case VALUE_INT32: RValue_SetReal(result, value->v32); return 0;
    case VALUE_INT64: RValue_SetReal(result, double(value->v64)); return 0;
    case VALUE_STRING: RValue_SetReal(result, Text_ToReal(VmOpsModel_Text(value).c_str())); return 0;
    case VALUE_UNDEFINED: RValue_SetReal(result, std::nan("")); return 0;
    default: return 1;
    }
}
int32_t VmOpsModel_ToString(RValue* result, const RValue* value)
{
    g_vmOpsModelCalls.push_back("ToString");
    if (RValue_Kind(value) == VALUE_STRING) {
        RValue_Copy(result, value);
        return 0;
    }
    if (RValue_Kind(value) != VALUE_REAL) return 1;
    char text[32];
    std::snprintf(text, sizeof text, "%g", value->real);
    RValue_SetString(result, text);
    return 0;
}
int32_t VmOpsModel_ToInt32(RValue* result, const RValue* value)
{
    g_vmOpsModelCalls.push_back("ToInt32");
    if (RValue_Kind(value) != VALUE_REAL) return 1;
    RValue_SetReal(result, double(int32_t(Real_ToUInt32Wrap(value->real))));
    return 0;
}
int32_t VmOpsModel_ToUint32(RValue* result, const RValue* value)
{
    g_vmOpsModelCalls.push_back("ToUint32");
    if (RValue_Kind(value) != VALUE_REAL) return 1;
    RValue_SetReal(result, double(Real_ToUInt32Wrap(value->real)));
    return 0;
}
bool VmOpsModel_ToBoolean(const RValue* value)
{
    g_vmOpsModelCalls.push_back("ToBoolean");
    return RValue_Kind(value) == VALUE_REAL && value->real != 0;
}
int32_t VmOpsModel_LessThan(RValue* result, const RValue* x, const RValue* y, bool leftFirst)
{
    g_vmOpsModelCalls.push_back(std::string("LessThan ") + vmtest::RealText(x->real) + " " + vmtest::RealText(y->real) +
                                (leftFirst ? " left" : " right"));
    if (std::isnan(x->real) || std::isnan(y->real)) RValue_SetUndefined(result);
    else RValue_SetBool(result, x->real < y->real);
    return 0;
}
int32_t VmOpsModel_Equals(RValue* result, const RValue* x, const RValue* y)
{
    g_vmOpsModelCalls.push_back("Equals");
    RValue_SetReal(result, x->real == y->real ? 1.0 : 0.0);
    return 0;
}
bool VmOpsModel_StrictEquals(const RValue* x, const RValue* y)
{
    g_vmOpsModelCalls.push_back("StrictEquals");
    return RValue_Kind(x) == RValue_Kind(y) && x->real == y->real;
}
void VmOpsModel_GetProperty(QZObjectBase*, RValue* result, const char* name)
{
    g_vmOpsModelCalls.push_back(std::string("GetProperty ") + name);
    if (std::string(name) == "x") RValue_SetReal(result, 1);
    else result->kind = VALUE_UNSET;
}
void VmOpsModel_TypeError(const char* message) { g_vmOpsModelCalls.push_back(std::string("TypeError ") + message); }
void VmOpsModel_ReferenceError(const char* message)
{
    g_vmOpsModelCalls.push_back(std::string("ReferenceError ") + message);
}

ScriptModel VmOpsModel_Make()
{
    ScriptModel m{};
    m.toPrimitive = VmOpsModel_ToPrimitive;
    m.toNumber = VmOpsModel_ToNumber;
    m.toString = VmOpsModel_ToString;
    m.toInt32 = VmOpsModel_ToInt32;
    m.toUint32 = VmOpsModel_ToUint32;
    m.toBoolean = VmOpsModel_ToBoolean;
    m.lessThan = VmOpsModel_LessThan;
    m.equals = VmOpsModel_Equals;
    m.strictEquals = VmOpsModel_StrictEquals;
    m.getProperty = VmOpsModel_GetProperty;
    m.throwTypeError = VmOpsModel_TypeError;
    m.throwReferenceError = VmOpsModel_ReferenceError;
    return m;
}

// Items may sit on 4-byte boundaries: values are copied out before they are read or freed.
void VmOpsTest_FreeItem(int32_t type, uint8_t* p)
{
    if (type != 5) {
        VM_FreeItem(type, p);
        return;
    }
    RValue v;
    std::memcpy(&v, p, 16);
    RValue_Free(&v);
}

class VmOpsTest : public vmtest::VmProgramTest {
protected:
    void SetUp() override
    {
        VmProgramTest::SetUp();
        savedEpsilon_ = Math_Epsilon;
        Math_Epsilon = 1e-10;
        block_ = static_cast<uint8_t*>(MemAlloc(size_t(kVmOpsStackBytes)));
        baseline_ = MemoryManager_Probe();
    }
    void TearDown() override
    {
        MemFree(block_);
        Math_Epsilon = savedEpsilon_;
        ScriptModel_Set(nullptr);
        VmProgramTest::TearDown();
    }

    // Runs one operation on left (below) and right (top; empty for neg, not and conv). Returns the top item
    // described as "<type> <value>" (the type the row expects, else the natural one), or "!<message>".
    std::string Run(const std::string& op, const std::string& left, const std::string& right,
                    const std::string& expected)
    {
        VmOpsWord w = VmOpsTest_Word(op);
        VmOpsOperand l = VmOpsTest_Operand(left), r = VmOpsTest_Operand(right);
        const bool unary = right.empty();
        VMFrame frame{};
        frame.stackBlock = block_;
        frame.stackSize = kVmOpsStackBytes;
        frame.record = block_ + kVmOpsStackBytes - 16;
        frame.codeLength = 1 << 20;
        uint8_t* sp = frame.record;
        for (const VmOpsOperand* o : {&l, &r}) {
            sp -= o->bytes.size();
            if (!o->bytes.empty()) std::memcpy(sp, o->bytes.data(), o->bytes.size());
        }
        uint32_t t1 = uint32_t(unary ? l.type : r.type) & 15;
        uint32_t t2 = unary ? (w.opcode == 7 ? uint32_t(w.target) & 15 : 0) : uint32_t(l.type) & 15;
        uint32_t word = uint32_t(w.opcode) << 24 | t2 << 20 | t1 << 16 | w.extra << 8;
        release_.text.clear();
        wadtest::g_exitCalls = 0;
        sp = VM_OpHandlers[w.opcode](word, sp, nullptr, &frame);

        std::string out;
        const std::string reported = kvtest::ReportedMessages(release_.text);
        const int64_t left_ = frame.record - sp;
        int32_t type = -1;
        if (!expected.empty() && expected[0] != '!') type = VmOpsTest_TypeCode(expected[0]);
        if (type < 0) type = w.hint;
        if (type < 0 && left_ == 16) type = 5;
        if (!reported.empty() || wadtest::g_exitCalls) {
            out = reported;
            const std::string prefix = "ERROR!!! :: ";
            if (out.rfind(prefix, 0) == 0) out = out.substr(prefix.size());
            while (!out.empty() && out.back() == '\n') out.pop_back();
            out = "!" + out;
            // A throw leaves a result for the handler; a stopped frame may leave operands of types it could
            // not size (nothing to free there: the memory baseline would show it).
            if (left_ != 0 && !frame.stopped && type >= 0 && left_ == VM_StackItemSize(type)) VmOpsTest_FreeItem(type, sp);
            kvtest::ForgetErrorAbort();
            Error_ResetState();
            return out;
        }
        if (type < 0 || left_ != VM_StackItemSize(type)) {
            if (left_ == 16) VmOpsTest_FreeItem(5, sp);
            return "size " + std::to_string(left_);
        }
        switch (type) {
        case 0: {
            double d;
            std::memcpy(&d, sp, 8);
            out = "d " + vmtest::RealText(d);
            break;
        }
        case 1: {
            float f;
            std::memcpy(&f, sp, 4);
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "f %.9g", double(f));
            out = buffer;
            break;
        }
        case 2:
        case 4: {
            int32_t i;
            std::memcpy(&i, sp, 4);
            out = std::string(type == 2 ? "i " : "b ") + std::to_string(i);
            break;
        }
        case 3: {
            int64_t l64;
            std::memcpy(&l64, sp, 8);
            out = "l " + std::to_string(l64);
            break;
        }
        case 5: {
            RValue v;
            std::memcpy(&v, sp, 16);
            out = "v " + vmtest::ValueText(&v);
            break;
        }
        case 6: {
            uint32_t handle;
            std::memcpy(&handle, sp, 4);
            RefString* s = VM_StringPeek(handle);
            out = std::string("s ") + (s && s->text ? s->text : "");
            break;
        }
        }
        VmOpsTest_FreeItem(type, sp);
        return out;
    }

    struct Row {
        const char* op;
        const char* left;
        const char* right;
        const char* expected;
    };

    void RunRows(const std::vector<Row>& rows)
    {
        for (const Row& row : rows) {
            const std::string what = std::string(row.op) + " " + row.left + " " + row.right;
            EXPECT_EQ(Run(row.op, row.left, row.right, row.expected), row.expected) << what;
            ExpectBaseline(what);
        }
    }

    void ExpectBaseline(const std::string& what)
    {
        EXPECT_EQ(VM_StringHandlesInUse(), 0) << what;
        MemoryProbe now = MemoryManager_Probe();
        EXPECT_EQ(now.liveBlocks, baseline_.liveBlocks) << what;
        EXPECT_EQ(now.heapBytesInUse, baseline_.heapBytesInUse) << what;
    }

    uint8_t* block_ = nullptr;
    double savedEpsilon_ = 0;
    MemoryProbe baseline_{};
};

// ---- the ordinary variants ----

TEST_F(VmOpsTest, AddAndSubOverEveryOperandType)
{
    RunRows({
        {"add", "d:1.5", "d:2.25", "d 3.75"},
        {"add", "f:1.5", "f:0.25", "d 1.75"},
        {"add", "d:1.5", "i:2", "d 3.5"},
        {"add", "i:2", "d:1.5", "d 3.5"},
        {"add", "d:0.5", "l:3", "d 3.5"},
        {"add", "l:3", "f:0.5", "d 3.5"},
        {"add", "i:2147483647", "i:1", "i -2147483648"},
        {"add", "i:-1", "l:9000000000", "l 8999999999"},
        {"add", "l:9223372036854775807", "l:1", "l -9223372036854775808"},
        {"add", "s:ab", "s:cd", "s abcd"},
        {"add", "s!", "s:cd", "s cd"},
        {"add", "v:sab", "v:scd", "v string abcd"},
        {"add", "s:ab", "v:scd", "v string abcd"},
        {"add", "d:1.5", "v:i2", "v real 3.5"},  // a real and an int32 variable give a real
        {"add", "v:i2", "v:i3", "v int32 5"},
        {"add", "v:l2", "v:r0.5", "v real 2.5"},
        {"add", "v:l2", "i:3", "v int64 5"},
        {"add", "v:b1", "v:b1", "v real 2"},  // a bool variable counts as a real
        {"add", "v:b1", "i:2", "v real 3"},
        {"add", "d:1", "b:1", "!DoAdd :: Execution Error"},
        {"add", "b:1", "b:1", "!DoAdd :: Execution Error"},
        {"add", "s:ab", "d:1", "!DoAdd :: Execution Error"},
        {"add", "v:sab", "v:r1", "!DoAdd :: Execution Error"},
        {"add", "d:1", "v:arr", "!DoAdd :1: illegal array use"},
        {"add", "d:1", "v:ptr", "!DoAdd :1: illegal pointer use"},
        {"add", "d:1", "v:undef", "!DoAdd :1: undefined value"},
        {"add", "d:1", "v:unset", "!DoAdd :1: Malformed variable"},
        {"add", "d:1", "v:obj", "!DoAdd :1: Malformed variable"},
        {"add", "d:1", "v:null", "!DoAdd :1: Malformed variable"},
        {"add", "v:arr", "d:1", "!DoAdd :2: illegal array use"},
        {"add", "v:ptr", "d:1", "!DoAdd :2: illegal pointer use"},
        {"add", "v:undef", "d:1", "!DoAdd :2: undefined value"},
        {"add", "v:k9", "d:1", "!DoAdd :2: Malformed variable"},
        {"add", "v:undef", "v:arr", "!DoAdd :1: illegal array use"},  // the right operand is checked first
        {"add", "t9", "d:1", "!DoAdd :: Execution Error"},
        {"add", "x:d", "x:d", "!DoAdd :: stack underflow"},
        {"sub", "d:5", "d:1.5", "d 3.5"},
        {"sub", "i:-2147483648", "i:1", "i 2147483647"},
        {"sub", "l:1", "i:2", "l -1"},
        {"sub", "i:1", "d:0.5", "d 0.5"},
        {"sub", "v:i1", "v:l5", "v int64 -4"},
        {"sub", "s:a", "s:b", "!DoSub :: Execution Engine - Cannot operate on string type"},
        {"sub", "v:sa", "d:1", "!DoSub :: Execution Engine - Cannot operate on string type"},
        {"sub", "d:1", "v:sa", "!DoSub :: Execution Engine - Cannot operate on string type"},
        {"sub", "b:1", "b:0", "!DoSub:: Execution Error"},
        {"sub", "d:1", "v:arr", "!DoSub :1: illegal array use"},
        {"sub", "v:undef", "d:1", "!DoSub :2: undefined value"},
        {"sub", "v:ptr", "d:1", "!DoSub :2: illegal pointer use"},
        {"sub", "d:1", "v:k11", "!DoSub :1: Malformed variable"},
    });
}

TEST_F(VmOpsTest, MulRepeatsTextsAndRefusesOversizedResults)
{
    RunRows({
        {"mul", "d:1.5", "d:3", "d 4.5"},
        {"mul", "i:65536", "i:65536", "i 0"},
        {"mul", "l:4294967296", "i:3", "l 12884901888"},
        {"mul", "f:0.5", "l:3", "d 1.5"},
        {"mul", "i:3", "s:ab", "s ababab"},
        {"mul", "d:3.9", "s:ab", "s ababab"},
        {"mul", "d:-1", "s:ab", "s "},
        {"mul", "i:0", "s:ab", "s "},
        {"mul", "d:3", "s!", "s "},
        {"mul", "v:r3", "v:sab", "v string ababab"},
        {"mul", "v:b1", "v:sab", "v string ab"},
        {"mul", "d:nan", "s:ab", "s "},
        {"mul", "d:-inf", "s:ab", "s "},
        {"mul", "d:-1e300", "s:ab", "s "},
        {"mul", "s:ab", "i:3", "!DoMul :: Execution Error"},
        {"mul", "l:3", "s:ab", "!DoMul :: Execution Error"},
        {"mul", "b:1", "s:ab", "!DoMul :: Execution Error"},
        {"mul", "s:a", "s:b", "!DoMul :: Execution Error"},
        // 2^31 bytes: past the largest string, refused before anything is allocated
        {"mul", "d:1073741824", "s:ab", "!DoMul :: Execution Error"},
        {"mul", "d:1e10", "s:a", "!DoMul :: Execution Error"},
        {"mul", "i:2147483647", "v:sab", "!DoMul :: Execution Error"},
        // counts past the 64-bit integers are still counts far too large
        {"mul", "d:1e300", "s:ab", "!DoMul :: Execution Error"},
        {"mul", "d:inf", "s:ab", "!DoMul :: Execution Error"},
        {"mul", "v:r1e300", "v:sab", "!DoMul :: Execution Error"},
        {"mul", "d:9223372036854775808", "s:a", "!DoMul :: Execution Error"},
        {"mul", "b:1", "d:2", "!DoMul :: Execution Error"},
        {"mul", "d:1", "v:arr", "!illegal array use"},
        {"mul", "d:1", "v:ptr", "!illegal pointer use"},
        {"mul", "d:1", "v:undef", "!undefined value"},
        {"mul", "d:1", "v:k9", "!Variable is malformed"},
        {"mul", "v:arr", "d:1", "!illegal array use"},
        {"mul", "v:unset", "d:1", "!Variable is malformed"},
    });
}

TEST_F(VmOpsTest, ConcatenationPastTheLargestStringIsRefused)
{
    // Two texts whose lengths add up past 2^31 - 1: the records claim lengths their blocks do not have,
    // which is safe only because nothing may be copied.
    char text[] = "x";
    RefString big{text, 100, INT32_MAX};
    RefString one{text, 100, 1};
    for (RefString* right : {&one, &big}) {
        VMFrame frame{};
        frame.stackBlock = block_;
        frame.stackSize = kVmOpsStackBytes;
        frame.record = block_ + kVmOpsStackBytes - 16;
        frame.codeLength = 1 << 20;
        uint32_t handles[2] = {VM_StringAdd(right), VM_StringAdd(&big)};  // right on top, left below
        uint8_t* sp = frame.record - 8;
        std::memcpy(sp, handles, 8);
        release_.text.clear();
        sp = DoAdd(0x0C660000u, sp, nullptr, &frame);
        EXPECT_EQ(kvtest::ReportedMessages(release_.text), "ERROR!!! :: DoAdd :: Execution Error\n");
        EXPECT_TRUE(frame.stopped);
        EXPECT_EQ(sp, frame.record);
        kvtest::ForgetErrorAbort();
        Error_ResetState();
    }
    // Both operands of both runs were released, and nothing was allocated.
    EXPECT_EQ(one.refCount, 99);
    EXPECT_EQ(big.refCount, 97);
    ExpectBaseline("nothing allocated");
}

TEST_F(VmOpsTest, DivRemModAndTheirZeroTests)
{
    RunRows({
        {"div", "d:7", "d:2", "d 3.5"},
        {"div", "d:1", "d:0", "d inf"},
        {"div", "d:-1", "d:0", "d -inf"},
        {"div", "i:1", "d:0", "d inf"},
        {"div", "d:7", "i:2", "d 3.5"},
        {"div", "i:7", "i:2", "i 3"},
        {"div", "i:-7", "i:2", "i -3"},
        {"div", "i:1", "i:0", "!DoDiv :: Divide by zero"},
        {"div", "l:1", "l:0", "!DoDiv :: Divide by zero"},
        {"div", "v:i1", "v:i0", "!DoDiv :: Divide by zero"},
        {"div", "v:l-9223372036854775808", "v:l-1", "v int64 -9223372036854775808"},
        {"div", "d:1", "v:sa", "!DoDiv :1: Execution Engine - Cannot operate on string type"},
        {"div", "v:sa", "d:1", "!DoDiv :: Execution Engine - Cannot operate on string type"},
        {"div", "d:1", "s:a", "!DoDiv :: Execution Engine - Cannot operate on string type"},
        {"div", "d:1", "b:1", "!DoDiv :: Execution Error"},
        {"div", "d:1", "v:undef", "!DoDiv :1: undefined value"},
        {"div", "v:arr", "d:1", "!DoDiv :2: illegal array use"},
        {"rem", "i:7", "i:2", "i 3"},
        {"rem", "d:7.9", "d:2.9", "d 3"},
        {"rem", "d:1", "d:0.5", "!DoRem :: Divide by zero"},
        {"rem", "i:7", "d:2.9", "d 3"},
        {"rem", "i:7", "d:0.5", "!DoRem :: Divide by zero"},
        {"rem", "d:7.9", "i:0", "!DoRem :: Divide by zero"},
        {"rem", "d:7.9", "i:2", "d 3"},
        {"rem", "l:7", "d:2.5", "d 3"},
        {"rem", "i:-2147483648", "d:-1", "d -2147483648"},
        {"rem", "i:-2147483648", "i:-1", "i -2147483648"},
        {"rem", "l:-9223372036854775808", "l:-1", "l -9223372036854775808"},
        {"rem", "i:1", "i:0", "!DoRem :: Divide by zero"},
        {"rem", "d:1", "v:sa", "!DoRem :1: Execution Engine - Cannot operate on string type"},
        {"rem", "s:a", "d:1", "!DoRem :: Execution Engine - Cannot operate on string type"},
        {"rem", "d:1", "v:ptr", "!DoRem :1: illegal pointer use"},
        {"mod", "i:-7", "i:2", "i -1"},
        {"mod", "d:-7", "d:2", "d -1"},
        {"mod", "l:-7", "i:2", "l -1"},
        {"mod", "d:5", "d:1e-11", "!DoMod :: Divide by zero"},
        {"mod", "i:5", "i:0", "!DoMod :: Divide by zero"},
        {"mod", "d:5", "i:0", "!DoMod :: Divide by zero"},
        {"mod", "l:5", "l:0", "!DoMod :: Divide by zero"},
        {"mod", "i:-2147483648", "i:-1", "i 0"},
        {"mod", "l:-9223372036854775808", "l:-1", "l 0"},
        {"mod", "v:sa", "d:1", "!DoMod :: Execution Engine - Cannot operate on string type"},
        {"mod", "d:1", "v:sa", "!DoMod :1: Execution Engine - Cannot operate on string type"},
        {"mod", "b:1", "d:1", "!DoMod :: Execution Error"},
        {"mod", "v:k9", "d:1", "!DoMod :2: Malformed variable"},
    });
}

TEST_F(VmOpsTest, BitwiseOperationsShiftsAndBools)
{
    RunRows({
        {"and", "d:6.9", "d:3.2", "d 2"},
        {"and", "d:-1.5", "d:255", "d 255"},
        {"or", "d:4", "d:1.5", "d 5"},
        {"xor", "d:6", "d:3", "d 5"},
        {"and", "i:12", "i:10", "i 8"},
        {"or", "l:4294967296", "i:1", "l 4294967297"},
        {"xor", "v:i6", "v:i3", "v int32 5"},
        {"and", "b:1", "b:1", "b 1"},
        {"and", "b:1", "b:0", "b 0"},
        {"and", "b:2", "b:1", "b 0"},
        {"or", "b:0", "b:1", "b 1"},
        {"or", "b:2", "b:0", "b 0"},
        {"xor", "b:2", "b:0", "b 1"},
        {"xor", "b:1", "b:1", "b 0"},
        {"and", "d:3", "b:1", "d 1"},
        {"and", "b:2", "d:3", "d 1"},
        {"or", "d:4", "b:2", "d 4"},
        {"or", "d:4", "b:1", "d 5"},
        {"and", "v:b1", "b:1", "v real 1"},
        {"xor", "d:4", "b:1", "!DoXor :: Execution Error"},
        {"and", "i:3", "b:1", "!DoAnd :: Execution Error"},
        {"and", "d:1", "v:sa", "!DoAnd :1: Execution Engine - Cannot operate on string type"},
        {"and", "v:sa", "d:1", "!DoAnd :2: Execution Engine - Cannot operate on string type"},
        {"and", "s:a", "d:1", "!DoAnd :: Execution Engine - Cannot operate on string type"},
        {"or", "d:1", "s:a", "!DoOr :: Execution Engine - Cannot operate on string type"},
        {"or", "v:sa", "d:1", "!DoOr :2: Execution Engine - Cannot operate on string type"},
        {"xor", "d:1", "s:a", "!DoXor :1: Execution Engine - Cannot operate on string type"},
        {"xor", "s:a", "d:1", "!DoXor :2: Execution Engine - Cannot operate on string type"},
        {"xor", "v:sa", "d:1", "!DoXor :2: Execution Engine - Cannot operate on string type"},
        {"and", "d:1", "v:ptr", "!DoAnd :1: illegal pointer use"},
        {"or", "v:undef", "d:1", "!DoOr :2: undefined value"},
        {"xor", "d:1", "v:arr", "!DoXor :1: illegal array use"},
        {"shr", "d:-8", "d:1", "d 1.8446744073709552e+19"},
        {"shr", "i:-8", "i:1", "i -4"},
        {"shr.s", "i:-8", "i:1", "i 2147483644"},
        {"shr.s", "d:-8", "d:1", "d 9.2233720368547758e+18"},
        {"shl", "v:i1", "v:i4", "v int32 16"},
        {"shl", "v:i1", "v:l40", "v int64 1099511627776"},
        {"shl", "d:1", "s:a", "!DoShl :: Execution Engine - Cannot operate on string type"},
        {"shl", "d:1", "v:sa", "!DoShl :: Execution Engine - Cannot operate on string type"},
        {"shl", "v:sa", "d:1", "!DoShl :2: Execution Engine - Cannot operate on string type"},
        {"shl", "d:1", "v:arr", "!DoShl :: illegal array use"},
        {"shl", "d:1", "v:ptr", "!DoShl :: illegal pointer use"},
        {"shl", "d:1", "v:undef", "!DoShl :: undefined value"},
        {"shl", "d:1", "v:k9", "!DoShl :: Malformed variable"},
        {"shl", "v:arr", "d:1", "!DoShl :2: illegal array use"},
        {"shl", "b:1", "i:1", "!DoShl :: Execution Error"},
        {"shr", "d:1", "s:a", "!DoShr :1: Execution Engine - Cannot operate on string type"},
        {"shr", "s:a", "d:1", "!DoShr :2: Execution Engine - Cannot operate on string type"},
        {"shr", "d:1", "v:undef", "!DoShr :1: undefined value"},
        {"shr", "b:1", "d:1", "!DoShr :: Execution Error"},
    });
}

TEST_F(VmOpsTest, NegAndNotInPlace)
{
    RunRows({
        {"neg", "d:1.5", "", "d -1.5"},
        {"neg", "f:1.5", "", "f -1.5"},
        {"neg", "i:-2147483648", "", "i -2147483648"},
        {"neg", "l:5", "", "l -5"},
        {"neg", "l:-9223372036854775808", "", "l -9223372036854775808"},
        {"neg", "v:r2", "", "v real -2"},
        {"neg", "v:b1", "", "v bool -1"},
        {"neg", "v:i3", "", "v int32 -3"},
        {"neg", "v:l3", "", "v int64 -3"},
        {"neg", "v:sa", "", "!DoNeg :1: Execution Engine - Cannot operate on string type"},
        {"neg", "v:arr", "", "!DoNeg :1: illegal array use"},
        {"neg", "v:ptr", "", "!DoNeg :1: illegal pointer use"},
        {"neg", "v:undef", "", "!DoNeg :1: undefined value"},
        {"neg", "v:k9", "", "!DoNeg :1: Malformed variable"},
        {"neg", "s:a", "", "!DoNeg :: Execution Engine - Cannot operate on string type"},
        {"neg", "b:1", "", "!DoNeg :: Execution Error"},
        {"not", "d:5.7", "", "d -6"},
        {"not", "d:nan", "", "d 9.2233720368547758e+18"},
        {"not", "f:5", "", "f -6"},
        {"not", "i:0", "", "i -1"},
        {"not", "l:-1", "", "l 0"},
        {"not", "b:0", "", "b 1"},
        {"not", "b:5", "", "b 0"},
        {"not", "v:r0", "", "v real -1"},
        {"not", "v:b1", "", "v bool -2"},
        {"not", "v:i0", "", "v int32 -1"},
        {"not", "v:l0", "", "v int64 -1"},
        {"not", "v:sa", "", "!DoNot :: Execution Engine - Cannot operate on string type"},
        {"not", "s:a", "", "!DoNot :: Execution Engine - Cannot operate on string type"},
        {"not", "v:arr", "", "!DoNot :: illegal array use"},
        {"not", "v:ptr", "", "!DoNot :: Malformed variable"},
        {"not", "v:undef", "", "!DoNot :: Malformed variable"},
        {"not", "x:d", "", "!DoNot :: stack underflow"},
    });
}

TEST_F(VmOpsTest, ConvBetweenEveryPairOfTypes)
{
    RunRows({
        {"conv.d", "d:2.5", "", "d 2.5"},
        {"conv.f", "d:0.1", "", "f 0.100000001"},
        {"conv.f", "d:1e300", "", "f inf"},
        {"conv.f", "d:-1e300", "", "f -inf"},
        {"conv.i", "d:-2.9", "", "i -2"},
        {"conv.l", "d:-2.9", "", "l -2"},
        {"conv.b", "d:0.5", "", "b 0"},
        {"conv.b", "d:0.51", "", "b 1"},
        {"conv.b", "d:nan", "", "b 0"},
        {"conv.v", "d:2.5", "", "v real 2.5"},
        {"conv.s", "d:2.5", "", "s 2.5"},
        {"conv.d", "f:0.5", "", "d 0.5"},
        {"conv.f", "f:0.5", "", "f 0.5"},
        {"conv.i", "f:-2.5", "", "i -2"},
        {"conv.l", "f:3.5", "", "l 3"},
        {"conv.b", "f:0.75", "", "b 1"},
        {"conv.v", "f:1.5", "", "v real 1.5"},
        {"conv.s", "f:0.5", "", "s 0.5"},
        {"conv.d", "i:-7", "", "d -7"},
        {"conv.f", "i:16777217", "", "f 16777216"},
        {"conv.i", "i:-7", "", "i -7"},
        {"conv.l", "i:-5", "", "l -5"},
        {"conv.b", "i:-1", "", "b 0"},
        {"conv.b", "i:2", "", "b 1"},
        {"conv.v", "i:7", "", "v real 7"},
        {"conv.s", "i:-7", "", "s -7"},
        {"conv.d", "l:9007199254740993", "", "d 9007199254740992"},
        {"conv.f", "l:3", "", "f 3"},
        {"conv.i", "l:4294967297", "", "i 1"},
        {"conv.l", "l:-3", "", "l -3"},
        {"conv.b", "l:-3", "", "b 0"},
        {"conv.v", "l:9000000000", "", "v int64 9000000000"},
        {"conv.s", "l:9000000000", "", "s 9000000000"},
        {"conv.d", "b:3", "", "d 1"},
        {"conv.f", "b:0", "", "f 0"},
        {"conv.i", "b:7", "", "i 1"},
        {"conv.l", "b:1", "", "l 1"},
        {"conv.b", "b:7", "", "b 1"},
        {"conv.v", "b:1", "", "v bool 1"},
        {"conv.s", "b:1", "", "s true"},
        {"conv.s", "b:0", "", "s false"},
        {"conv.d", "s: 12.5xyz", "", "d 12.5"},
        {"conv.d", "s:abc", "", "d 0"},
        {"conv.d", "s!", "", "d 0"},
        {"conv.d", "s:1e400", "", "d inf"},
        {"conv.f", "s:0.25", "", "f 0.25"},
        {"conv.i", "s:42abc", "", "i 42"},
        {"conv.i", "s:99999999999", "", "i 2147483647"},
        {"conv.i", "s:-99999999999999999999999", "", "i -2147483648"},
        {"conv.l", "s:99999999999", "", "l 2147483647"},
        {"conv.l", "s:-12", "", "l -12"},
        {"conv.b", "s:true", "", "b 1"},
        {"conv.b", "s:True", "", "b 0"},
        {"conv.b", "s:true ", "", "b 0"},
        {"conv.v", "s:hi", "", "v string hi"},
        {"conv.v", "s!", "", "v string "},
        {"conv.s", "s:hi", "", "s hi"},
        {"conv.d", "v:b1", "", "d 1"},
        {"conv.i", "v:sabc", "", "i 0"},
        {"conv.i", "v:s17", "", "i 17"},
        {"conv.l", "v:i-4", "", "l -4"},
        {"conv.i", "v:l4294967298", "", "i 2"},
        {"conv.b", "v:undef", "", "b 0"},
        {"conv.b", "v:null", "", "b 0"},
        {"conv.s", "v:undef", "", "s false"},
        {"conv.v", "v:i5", "", "v real 5"},
        {"conv.v", "v:b1", "", "v real 1"},
        {"conv.v", "v:sab", "", "v string ab"},
        {"conv.d", "v:arr", "", "!DoConv :1: illegal array use"},
        {"conv.d", "v:ptr", "", "!DoConv :1: illegal pointer use"},
        {"conv.d", "v:obj", "", "!DoConv :1: Malformed variable"},
        {"conv.s", "v:k9", "", "!DoConv :1: Malformed variable"},
        // No model installed: the reference error has no handler and ends the game.
        {"conv.d", "v:unset", "", "!Unable to find a handler for exception DoConv :1: Could not find variable"},
        {"conv.t9", "d:1", "", "!DoConv :: Execution Error"},
        {"conv.d", "t9", "", "!DoConv :: Execution Error"},
        {"conv.d", "x:l", "", "!DoConv :: stack underflow"},
    });
}

TEST_F(VmOpsTest, SetComparesByKindAndClass)
{
    std::vector<Row> rows = {
        {"set.eq", "d:0.30000000000000004", "d:0.3", "b 1"},
        {"set.eq", "s:abc", "d:5", "b 0"},
        {"set.ne", "s:abc", "d:5", "b 1"},
        {"set.lt", "s:abc", "d:5", "b 0"},
        {"set.gt", "v:sabc", "v:r5", "b 0"},
        {"set.eq", "v:undef", "v:undef", "b 1"},
        {"set.le", "v:undef", "v:undef", "b 1"},
        {"set.ne", "v:undef", "v:undef", "b 0"},
        {"set.eq", "v:undef", "d:0", "b 0"},
        {"set.ne", "d:0", "v:undef", "b 1"},
        {"set.lt", "i:1", "i:2", "b 1"},
        {"set.lt", "i:-2147483648", "i:1", "b 1"},  // exact, not a wrapped difference
        {"set.gt", "i:2147483647", "i:-1", "b 1"},
        {"set.gt", "l:9223372036854775807", "l:-1", "b 1"},
        {"set.eq", "d:1", "i:1", "b 1"},
        {"set.eq", "l:3", "i:3", "b 1"},
        {"set.lt", "d:1", "l:2", "b 1"},
        {"set.eq", "v:b1", "d:1", "b 1"},
        {"set.eq", "d:1.9", "b:1", "b 1"},  // a real against a bool: the difference truncated
        {"set.lt", "d:0.5", "b:1", "b 0"},
        {"set.gt", "d:2.5", "b:1", "b 1"},
        {"set.eq", "b:1", "s:", "b 1"},  // a string counts as 1 when it holds a reference
        {"set.eq", "b:0", "s!", "b 1"},
        {"set.eq", "s:x", "b:1", "b 1"},
        {"set.eq", "b:2", "i:2", "b 1"},
        {"set.lt", "s:abc", "s:abd", "b 1"},
        {"set.eq", "v:sab", "s:ab", "b 1"},
        {"set.eq", "s!", "s:", "b 1"},
        {"set.eq", "s!", "s!", "b 1"},
        {"set.gt", "s!", "s:a", "b 1"},  // a missing text sorts after any other
        {"set.lt", "s:a", "s!", "b 1"},
        {"set.eq", "v:ptr", "v:ptr", "b 1"},
        {"set.eq", "v:ptr", "v:ptrhi", "b 0"},  // the whole pointer, not its low 32 bits
        {"set.lt", "v:ptr", "v:ptrhi", "b 1"},
        {"set.eq", "v:obj", "v:obj", "b 1"},
        {"set.eq", "v:arr", "v:arr", "b 0"},
        {"set.ne", "v:arr", "v:arr", "b 1"},
        {"set.eq", "d:1", "v:k9", "!DoSet :1: Malformed variable"},
        {"set.eq", "v:unset", "d:1", "!DoSet :2: Malformed variable"},
        {"set.eq", "v:null", "d:1", "!DoSet :2: Malformed variable"},
        {"set.0", "d:1", "d:1", "!DoSet :: Execution Error"},
        {"set.eq", "t9", "d:1", "!DoSet :: Execution Error"},
    };
    // A NaN makes every kind false, not-equal included.
    for (const char* kind : {"set.lt", "set.le", "set.eq", "set.ne", "set.ge", "set.gt"}) {
        rows.push_back({kind, "d:nan", "d:1", "b 0"});
        rows.push_back({kind, "v:r1", "v:rnan", "b 0"});
        rows.push_back({kind, "d:nan", "b:1", "b 0"});
    }
    RunRows(rows);
}

TEST_F(VmOpsTest, EpsilonSetterAndTolerance)
{
    struct Step {
        double set;
        double expected;
    };
    const Step steps[] = {{0.25, 0.25}, {1.0, 0.25}, {-0.1, 0.25}, {std::nan(""), 0.25}, {0.0, 1e-11}, {0.999, 0.999}};
    for (const Step& s : steps) {
        Math_SetEpsilon(s.set);
        EXPECT_EQ(Math_Epsilon, s.expected) << s.set;
    }
    Math_SetEpsilon(0);
    // With the tolerance at 1e-11: 0.1 + 0.2 still equals 0.3, a difference of 5e-11 no longer does.
    RunRows({
        {"set.eq", "d:0.30000000000000004", "d:0.3", "b 1"},
        {"set.eq", "d:1.00000000005", "d:1", "b 0"},
        {"set.gt", "d:1.00000000005", "d:1", "b 1"},
    });
    Math_SetEpsilon(0.5);
    RunRows({
        {"set.eq", "d:1.4", "d:1", "b 1"},
        {"set.lt", "d:0.6", "d:1", "b 0"},
        {"set.le", "d:1.4", "d:1", "b 1"},
        {"set.ge", "d:0.6", "d:1", "b 1"},
        {"set.ne", "d:1.6", "d:1", "b 1"},
    });
}

// Rows computed by Python at test time: integers masked with ctypes, shifts, math.fmod, "%g"/"%d", bytes order.
TEST_F(VmOpsTest, OracleRows)
{
    const std::string dir = kvtest_py::Generate("tests/core/gen_vm_ops_oracle.py", "");
    ASSERT_FALSE(dir.empty());
    std::ifstream in(dir + "rows.txt");
    std::string line;
    int count = 0, failures = 0;
    while (std::getline(in, line)) {
        std::string f[4];
        std::stringstream ss(line);
        for (auto& field : f) std::getline(ss, field, '|');
        const std::string got = Run(f[0], f[1], f[2], f[3]);
        ++count;
        if (got != f[3] && ++failures <= 40) ADD_FAILURE() << line << "\n   got: " << got;
        if (VM_StringHandlesInUse() != 0) {
            ADD_FAILURE() << "handles left after " << line;
            break;
        }
    }
    EXPECT_GT(count, 4000);
    EXPECT_EQ(failures, 0);
    ExpectBaseline("after the oracle rows");
}

// ---- the object-model variants ----

TEST_F(VmOpsTest, ModelVariantsReachTheirConversionsAndThrows)
{
    static const ScriptModel model = VmOpsModel_Make();
    ScriptModel_Set(&model);
    struct ModelRow {
        const char* op;
        const char* left;
        const char* right;
        const char* calls;
        const char* expected;
    };
    const ModelRow rows[] = {
        {"add.1", "v:r1", "v:r2", "ToPrimitive,ToPrimitive,ToNumber,ToNumber", "v real 3"},
        {"add.1", "v:sab", "v:r2", "ToPrimitive,ToPrimitive,ToString,ToString", "v string ab2"},
        {"add.1", "d:1.5", "s:x", "ToPrimitive,ToPrimitive,ToString,ToString", "v string 1.5x"},
        {"add.1", "v:unset", "v:r2", "ReferenceError could not find variable before '+' operator", "v undefined"},
        {"add.1", "v:r2", "v:unset", "ReferenceError could not find variable after '+' operator", "v undefined"},
        {"add.1", "v:obj", "v:r2", "ToPrimitive,TypeError Could not convert left-hand-side of add operator to a primitive",
         "v undefined"},
        {"add.1", "v:r2", "v:obj",
         "ToPrimitive,ToPrimitive,TypeError Could not convert right-hand-side of add operator to a primitive", "v undefined"},
        {"add.1", "v:k9", "v:r2",
         "ToPrimitive,ToPrimitive,ToNumber,TypeError Could not convert left-hand-side of add operator to a number",
         "v undefined"},
        {"add.1", "v:r2", "v:k9",
         "ToPrimitive,ToPrimitive,ToNumber,ToNumber,TypeError Could not convert right-hand-side of add operator to a number",
         "v undefined"},
        {"add.2", "v:r1", "v:s2", "ToNumber,ToNumber", "v real 3"},
        {"add.2", "v:unset", "v:r2", "ReferenceError could not find variable before '+'", "v undefined"},
        {"add.2", "v:r2", "v:unset", "ReferenceError could not find variable after '+'", "v undefined"},
        {"add.2", "v:k9", "v:r2", "ToNumber,TypeError Could not convert left-hand-side of add operator to a number # 2",
         "v undefined"},
        {"add.2", "v:r2", "v:k9",
         "ToNumber,ToNumber,TypeError Could not convert right-hand-side of add operator to a number # 2", "v undefined"},
        {"sub.1", "v:r5", "i:3", "ToNumber,ToNumber", "v real 2"},
        {"sub.1", "v:unset", "v:r2", "ReferenceError could not find variable before '-'", "v undefined"},
        {"sub.1", "v:r2", "v:unset", "ReferenceError could not find variable after '-'", "v undefined"},
        {"sub.1", "v:k9", "v:r2", "ToNumber,TypeError Could not convert left-hand-side of subtraction operator to a number",
         "v undefined"},
        {"sub.1", "v:r2", "v:k9",
         "ToNumber,ToNumber,TypeError Could not convert right-hand-side of subtraction operator to a number", "v undefined"},
        {"mul.1", "v:r2", "v:r3", "ToNumber,ToNumber", "v real 6"},
        {"mul.1", "v:unset", "v:r3", "ReferenceError could not find lhs variable on multiply", "v undefined"},
        {"mul.1", "v:k9", "v:r3", "ToNumber,TypeError Could not convert left-hand-side of '*' operator to a number",
         "v undefined"},
        {"mul.1", "v:r3", "v:k9", "ToNumber,ToNumber,TypeError Could not convert right-hand-side of '*' operator to a number",
         "v undefined"},
        {"div.1", "v:r7", "v:r2", "ToNumber,ToNumber", "v real 3.5"},
        {"div.1", "v:unset", "v:r2", "ReferenceError could not find lhs variable on div", "v undefined"},
        {"div.1", "v:k9", "v:r2", "ToNumber,TypeError Could not convert left-hand-side of '/' operator to a number",
         "v undefined"},
        {"div.1", "v:r2", "v:unset", "ToNumber,ToNumber,TypeError Could not convert right-hand-side of '/' operator to a number",
         "v undefined"},
        {"mod.1", "v:r-7", "v:r2", "ToNumber,ToNumber", "v real -1"},
        {"mod.1", "v:unset", "v:r2", "ReferenceError could not find lhs variable on mod", "v undefined"},
        {"mod.1", "v:k9", "v:r2", "ToNumber,TypeError Could not convert left-hand-side of '%' operator to a number",
         "v undefined"},
        {"mod.1", "v:r2", "v:k9", "ToNumber,ToNumber,TypeError Could not convert right-hand-side of '%' operator to a number",
         "v undefined"},
        {"and.1", "v:r12", "v:r10", "ToInt32,ToInt32", "v real 8"},
        {"and.1", "v:unset", "v:r1", "ReferenceError could not find variable before '&'", "v undefined"},
        {"and.1", "v:r1", "v:unset", "ReferenceError could not find variable after '&'", "v undefined"},
        {"and.1", "v:k9", "v:r1", "ToInt32,TypeError DoAnd - could not convert lhs expr to a number", "v undefined"},
        {"or.1", "v:r12", "v:r3", "ToInt32,ToInt32", "v real 15"},
        {"or.1", "v:unset", "v:r1", "ReferenceError could not find variable before '|'", "v undefined"},
        {"or.1", "v:r1", "v:unset", "ReferenceError could not find variable after '|'", "v undefined"},
        {"or.1", "v:k9", "v:r1", "ToInt32,TypeError DoOr - could not convert lhs expr to a number", "v undefined"},
        {"or.1", "v:r1", "v:k9", "ToInt32,ToInt32,TypeError DoOr - could not convert rhs expr to a number", "v undefined"},
        {"xor.1", "v:r4294967295", "v:r1", "ToInt32,ToInt32", "v real -2"},
        {"xor.1", "v:unset", "v:r1", "ReferenceError could not find variable before '^'", "v undefined"},
        {"xor.1", "v:r1", "v:unset", "ReferenceError could not find variable after '^'", "v undefined"},
        {"xor.1", "v:k9", "v:r1", "ToInt32,TypeError DoXor - could not convert lhs expr to a number", "v undefined"},
        {"xor.1", "v:r1", "v:k9", "ToInt32,ToInt32,TypeError DoXor - could not convert rhs expr to a number", "v undefined"},
        {"shl.1", "v:r1", "v:r33", "ToInt32,ToInt32", "v real 2"},
        {"shl.1", "v:unset", "v:r1", "ReferenceError could not find variable before '<<'", "v undefined"},
        {"shl.1", "v:r1", "v:unset", "ReferenceError could not find variable after '<<'", "v undefined"},
        {"shl.1", "v:r1", "v:k9", "ToInt32,ToInt32,TypeError DoShl - could not convert rhs expr to a number", "v undefined"},
        {"shr.1", "v:r-8", "v:r1", "ToInt32,ToUint32", "v real -4"},
        {"shr.s.1", "v:r-8", "v:r1", "ToUint32,ToUint32", "v real 2147483644"},
        {"shr.1", "v:unset", "v:r1", "ReferenceError could not find variable before '>>'", "v undefined"},
        {"shr.1", "v:r1", "v:unset", "ReferenceError could not find variable after '>>'", "v undefined"},
        {"shr.1", "v:k9", "v:r1", "ToInt32,TypeError DoShr - could not convert lhs expr to a number", "v undefined"},
        {"neg.1", "v:r3", "", "ToNumber", "v real -3"},
        {"neg.1", "v:rnan", "", "ToNumber", "v real nan"},
        {"neg.2", "v:s3", "", "ToNumber", "v real 3"},
        {"neg.1", "v:unset", "", "ReferenceError could not find lhs variable in unary-", "v undefined"},
        {"neg.2", "v:unset", "", "ReferenceError could not find lhs variable in unary - #2", "v undefined"},
        {"neg.1", "v:k9", "", "ToNumber,TypeError Unary - could not convert expr to a number", "v undefined"},
        {"not.1", "v:r0", "", "ToBoolean", "v bool 1"},
        {"not.1", "v:unset", "", "ReferenceError could not find lhs variable in logical not", "v undefined"},
        {"not.2", "v:r5", "", "ToInt32", "v real -6"},
        {"not.2", "v:unset", "", "ReferenceError could not find lhs variable in binary not", "v undefined"},
        {"not.2", "v:k9", "", "ToInt32,TypeError Unary ~ could not convert expr to a number", "v undefined"},
        {"conv.v.1", "v:r2", "", "ToBoolean", "b 1"},
        {"conv.v.2", "v:s5", "", "ToNumber", "v real 5"},
        {"conv.v.2", "d:2.5", "", "ToNumber", "v real 2.5"},
        {"conv.v.1", "v:unset", "", "ReferenceError could not find lhs variable on conv", "b 0"},
        {"conv.v.2", "v:k9", "", "ToNumber,TypeError DoConv - could not convert expr to a number", "v undefined"},
        {"set.7", "v:r1", "v:r2", "LessThan 1 2 left", "b 1"},
        {"set.8", "v:r1", "v:r2", "LessThan 2 1 right", "b 0"},
        {"set.9", "v:r1", "v:r2", "LessThan 2 1 right", "b 1"},
        {"set.9", "v:r1", "v:rnan", "LessThan nan 1 right", "b 0"},
        {"set.10", "v:r1", "v:r2", "LessThan 1 2 left", "b 0"},
        {"set.10", "v:rnan", "v:r2", "LessThan nan 2 left", "b 0"},
        {"set.7", "v:unset", "v:r2", "ReferenceError could not find lhs variable on assignment", "b 0"},
        {"set.11", "v:sx", "v:obj", "ToString,GetProperty x", "b 1"},
        {"set.11", "v:r4", "v:obj", "ToString,GetProperty 4", "b 0"},
        {"set.11", "v:sx", "v:r1", "TypeError right-hand side of in operator must be an object", "b 0"},
        {"set.11", "v:k9", "v:obj", "ToString,TypeError could not convert left-hand side of in operator to a string", "b 0"},
        {"set.11", "v:unset", "v:obj", "ReferenceError could not find variable before 'in'", "b 0"},
        {"set.11", "v:sx", "v:unset", "ReferenceError could not find variable after 'in'", "b 0"},
        {"set.12", "v:r1", "v:r1", "Equals", "b 1"},
        {"set.13", "v:r1", "v:r1", "Equals", "b 0"},
        {"set.12", "v:unset", "v:r1", "ReferenceError could not find variable before comparison", "b 0"},
        {"set.13", "v:r1", "v:unset", "ReferenceError could not find variable after comparison", "b 0"},
        {"set.14", "v:r1", "v:i1", "StrictEquals", "b 0"},
        {"set.15", "v:r1", "v:i1", "StrictEquals", "b 1"},
        {"set.14", "v:unset", "v:r1", "ReferenceError could not find variable before '==='", "b 0"},
        {"set.15", "v:r1", "v:unset", "ReferenceError could not find variable after '!=='", "b 0"},
    };
    for (const ModelRow& row : rows) {
        const std::string what = std::string(row.op) + " " + row.left + " " + row.right;
        g_vmOpsModelCalls.clear();
        EXPECT_EQ(Run(row.op, row.left, row.right, row.expected), row.expected) << what;
        std::string calls;
        for (const std::string& c : g_vmOpsModelCalls) calls += (calls.empty() ? "" : ",") + c;
        EXPECT_EQ(calls, row.calls) << what;
        ExpectBaseline(what);
    }
}

// ---- allocation ----

TEST_F(VmOpsTest, NumericOperationsAllocateNothing)
{
    static int64_t systemCalls = 0;
    MemoryManagerTestHooks hooks{};
    hooks.systemMalloc = [](size_t size) {
        ++systemCalls;
        return std::malloc(size);
    };
    MemoryManagerTestHooks old = MemoryManager_SetTestHooks(&hooks);
    VMFrame frame{};
    frame.stackBlock = block_;
    frame.stackSize = kVmOpsStackBytes;
    frame.record = block_ + kVmOpsStackBytes - 16;
    frame.codeLength = 1 << 20;
    RValue sum, one;
    RValue_SetReal(&sum, 0);
    RValue_SetReal(&one, 1);
    const uint32_t addVV = 0x0C550000u;
    int64_t live = int64_t(MemoryManager_Probe().liveBlocks);
    bool changed = false;
    for (int n = 0; n < 1000000 / 4; ++n) {
        uint8_t* sp = frame.record - 32;
        std::memcpy(sp + 16, &sum, 16);
        std::memcpy(sp, &one, 16);
        sp = DoAdd(addVV, sp, nullptr, &frame);           // sum + 1 (values)
        std::memcpy(&sum, sp, 16);
        double d = 3.0, e = 2.0;
        sp = frame.record - 16;
        std::memcpy(sp + 8, &d, 8);
        std::memcpy(sp, &e, 8);
        sp = DoMul(0x08000000u, sp, nullptr, &frame);     // reals
        int32_t i = n, j = 7;
        sp = frame.record - 8;
        std::memcpy(sp + 4, &i, 4);
        std::memcpy(sp, &j, 4);
        sp = DoMod(0x0B220000u, sp, nullptr, &frame);     // int32
        sp = frame.record - 32;
        std::memcpy(sp + 16, &sum, 16);
        std::memcpy(sp, &one, 16);
        sp = DoSet(0x15550300u, sp, nullptr, &frame);     // compare values
        if ((n & 0xFFF) == 0 && int64_t(MemoryManager_Probe().liveBlocks) != live) changed = true;
    }
    MemoryManager_SetTestHooks(&old);
    EXPECT_FALSE(changed);
    EXPECT_EQ(systemCalls, 0);
    EXPECT_EQ(sum.real, 250000.0);
    EXPECT_FALSE(frame.stopped);
    ExpectBaseline("after 10^6 operations");
}

// ---- through the assembler and VM_Exec ----

TEST_F(VmOpsTest, AssembledProgramsReachEveryHandler)
{
    struct ProgramRow {
        const char* what;
        const char* body;
        const char* result;  // the result's text, or "!" and the error
    };
    const ProgramRow rows[] = {
        {"real plus an int32 variable", "push.d 1.5\n push.e 2\n conv.i.v\n add.v.d\n ret.v\n", "real 3.5"},
        {"static strings concatenate", "push.s \"ab\"\n push.s \"cd\"\n add.s.s\n ret.s\n", "string abcd"},
        {"a count times a text", "push.e 3\n push.s \"ab\"\n mul.s.i\n ret.s\n", "string ababab"},
        {"a text times a count", "push.s \"ab\"\n push.e 3\n mul.i.s\n ret.s\n", "!DoMul :: Execution Error"},
        {"rem of int32", "push.e 7\n push.e 2\n rem.i.i\n ret.i\n", "real 3"},
        {"mod of int32", "push.e -7\n push.e 2\n mod.i.i\n ret.i\n", "real -1"},
        {"div of reals", "push.d 7\n push.d 2\n div.d.d\n ret.d\n", "real 3.5"},
        {"int32 division by zero", "push.e 1\n push.e 0\n div.i.i\n ret.i\n", "!DoDiv :: Divide by zero"},
        {"shr with the sign mask", "push.e -8\n push.e 1\n shr.i.i 0x80\n ret.i\n", "real 2147483644"},
        {"0.1 + 0.2 equals 0.3", "push.d 0.1\n push.d 0.2\n add.d.d\n push.d 0.3\n set.d.d eq\n ret.b\n", "bool 1"},
        {"a real to text", "push.d 2.5\n conv.d.s\n ret.s\n", "string 2.5"},
        {"text to a real and back", "push.s \"12.5\"\n conv.s.d\n push.d 1\n add.d.d\n conv.d.s\n ret.s\n", "string 13.5"},
        {"neg", "push.e 5\n neg.i.i\n ret.i\n", "real -5"},
        {"not of a bool", "push.b true\n not.b.b\n ret.b\n", "bool 0"},
        {"and or xor shl sub",
         "push.e 12\n push.e 10\n and.i.i\n push.e 1\n or.i.i\n push.e 3\n xor.i.i\n push.e 2\n shl.i.i\n push.e 1\n"
         " sub.i.i\n ret.i\n",
         "real 39"},
        {"an int64 result returns as a real", "push.l 9000000000\n push.e 1\n conv.i.l\n add.l.l\n ret.l\n",
         "real 9000000001"},
    };
    std::string source = ".version 15\n";
    for (size_t i = 0; i < std::size(rows); ++i) source += ".code ksl_ops" + std::to_string(i) + "\n " + rows[i].body;
    ASSERT_TRUE(Build(source));
    PrepareAll();
    baseline_ = MemoryManager_Probe();
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        const std::string got = RunForText("ksl_ops" + std::to_string(i));
        EXPECT_EQ(got.substr(0, got.find('\n')), rows[i].result);  // the message; the code position follows it
        ObjectBasePool_Clear();
        ExpectBaseline(rows[i].what);
    }
}

}  // namespace
