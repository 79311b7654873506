// Variable pushes and pops by scope: the operands a variable reference takes from the word and the stack,
// which variable service each scope reads and writes, the object-model scopes, the delete and declaration
// forms of pop, the call of a function value, and how a thrown value reaches the code that catches it.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/error.h"
#include "core/functions.h"
#include "core/script.h"
#include "core/value.h"
#include "core/variables.h"
#include "core/varlist.h"
#include "core/varnames.h"
#include "core/vm.h"
#include "script/script.h"
#include "world/loader.h"
#include "world/object_base.h"
#include "world/world_access.h"

namespace {

// Variable reference bits.
constexpr uint32_t kVmVarsNoConfig = 0x10000000u;
constexpr uint32_t kVmVarsScopeInWord = 0x20000000u;
constexpr uint32_t kVmVarsInstanceScope = 0x40000000u;
constexpr uint32_t kVmVarsPlain = 0x80000000u;
constexpr int32_t kVmVarsFirstInstance = 100000;

bool VmVars_Model() { return g_GameData.scriptObjectModel; }

int32_t VmVars_I32(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void VmVars_Fail(VMFrame* frame, const char* format, ...) __attribute__((format(printf, 2, 3)));
void VmVars_Fail(VMFrame* frame, const char* format, ...)
{
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    VMError(frame, "%s", message);
    VM_StopFrame(frame);
}

void VmVars_MakeUnset(RValue* v)
{
    v->v64 = 0;
    v->flags = 0;
    v->kind = VALUE_UNSET;
}

bool VmVars_IsUnset(const RValue* v) { return RValue_Kind(v) == VALUE_UNSET; }

// What a variable reference names once its operands are taken.
struct VmVarsRef {
    int32_t id;
    int32_t index;  // packed, ARRAY_INDEX_NONE when plain
    int32_t scope;
    uint32_t reference;
};

// Bytes the reference's own operands take on the stack (index and scope words, object and key values).
int64_t VmVars_OperandBytes(uint32_t reference, int32_t wordScope, bool scopeKnown)
{
    int64_t bytes = 0;
    if (!(reference & kVmVarsPlain)) bytes += 4;
    if (!(reference & kVmVarsScopeInWord)) bytes += 4;
    if (scopeKnown) {
        if (wordScope == -9) bytes += 16;
        if (wordScope == -10) bytes += 32;
    }
    return bytes;
}

// Takes the index and scope words from sp; the object-model values stay for the caller.
uint8_t* VmVars_TakeRef(uint32_t word, uint8_t* sp, uint32_t reference, VmVarsRef* ref)
{
    ref->reference = reference;
    ref->id = int32_t(reference & 0x0FFFFFFFu);
    ref->index = ARRAY_INDEX_NONE;
    if (!(reference & kVmVarsPlain)) {
        ref->index = VmVars_I32(sp);
        sp += 4;
    }
    if (reference & kVmVarsScopeInWord) {
        ref->scope = int16_t(word & 0xFFFF);
    } else {
        ref->scope = VmVars_I32(sp);
        sp += 4;
    }
    // An instance id is stored as id - 100000.
    if (reference & kVmVarsInstanceScope) {
        const int64_t scope = int64_t(ref->scope) + kVmVarsFirstInstance;
        ref->scope = scope > INT32_MAX ? INT32_MAX : int32_t(scope);
    }
    return sp;
}

// Name of a variable for messages: the name tables are chosen by where the variable lives.
const char* VmVars_Name(VMFrame* frame, int32_t scope, int32_t id)
{
    int32_t table = -1;
    if (scope == -5) table = -5;
    else if (scope == -7 || scope == -12) table = -7;
    else if (scope == -9 || scope == -10 || scope == -11 || scope == -13) table = scope;
    return Code_Variable_GetAnyName(frame->codeName, table, id);
}

// The object a variable of a self-like scope is read from or written to: -6 and -8 resolve to the globals
// (null) or to self.
bool VmVars_GlobalFlagged(int32_t id) { return Variable_GetFlags(id) == 1; }

RValue* VmVars_LocalSlot(QZObjectBase* locals, int32_t id)
{
    if (!locals || id < kVmVarsFirstInstance) return nullptr;
    return ObjectBase_GetSlot(locals, id - kVmVarsFirstInstance);
}

bool VmVars_LocalGet(QZObjectBase* locals, int32_t id, int32_t index, RValue* out)
{
    if (!locals) return false;
    if (!locals->slots && locals->named) return locals->named->GetVar(id, index, out);
    RValue* slot = VmVars_LocalSlot(locals, id);
    return slot ? RValue_ArrayGet(out, slot, index) : false;
}

bool VmVars_LocalSet(QZObjectBase* locals, int32_t id, int32_t index, RValue* value)
{
    if (!locals) return false;
    if (!locals->slots && locals->named) {
        locals->named->SetVar(id, index, value);
        return true;
    }
    RValue* slot = VmVars_LocalSlot(locals, id);
    if (!slot) return false;
    RValue_SetWithIndex(slot, value, index);
    return true;
}

// The value a locals object holds for id without making it (null when it has none).
RValue* VmVars_LocalHolder(QZObjectBase* locals, int32_t id)
{
    if (!locals || id < kVmVarsFirstInstance) return nullptr;
    if (locals->slots) {
        int32_t n = id - kVmVarsFirstInstance;
        if (n < locals->slotCount && !VmVars_IsUnset(&locals->slots[n])) return &locals->slots[n];
        return nullptr;
    }
    if (locals->named)
        if (VariableNode* node = locals->named->Find(id))
            if (!VmVars_IsUnset(&node->value)) return &node->value;
    return nullptr;
}

// ---- object-model helpers ----

QZObjectBase* VmVars_PrototypeOf(QZObjectBase* object)
{
    RValue* proto = ObjectBase_FindVariable(object, "[[Prototype]]");
    return proto && RValue_Kind(proto) == VALUE_OBJECT ? proto->obj : nullptr;
}

// A property found on the object or along its prototypes; the owner through owner.
RValue* VmVars_FindProperty(QZObjectBase* object, const char* name, QZObjectBase** owner)
{
    // A prototype loop ends the walk.
    for (int32_t steps = 0; object && steps < 4096; ++steps, object = VmVars_PrototypeOf(object)) {
        if (RValue* found = ObjectBase_FindVariable(object, name)) {
            if (VmVars_IsUnset(found)) continue;
            if (owner) *owner = object;
            return found;
        }
    }
    return nullptr;
}

bool VmVars_IsAccessor(const RValue* v)
{
    return RValue_Kind(v) == VALUE_OBJECT && v->obj && v->obj->objectKind == OBJECT_KIND_ACCESSOR;
}

bool VmVars_IsArrayObject(QZObjectBase* object)
{
    RValue* cls = ObjectBase_FindVariable(object, "[[Class]]");
    return cls && RValue_Kind(cls) == VALUE_STRING && cls->str && cls->str->text &&
           std::strcmp(cls->str->text, "Array") == 0;
}

// The object an object-model scope addresses; null after a throw (the result is then undefined).
QZObjectBase* VmVars_ToObject(VMFrame* frame, RValue* value, int32_t id, int32_t index, RValue* converted)
{
    RValue_SetUndefined(converted);
    const uint32_t kind = RValue_Kind(value);
    if (kind == VALUE_OBJECT && value->obj) return value->obj;
    if (kind == VALUE_UNDEFINED || kind == VALUE_UNSET) {
        char message[512];
        std::snprintf(message, sizeof message, "Variable %s.%s(%d, %d) cannot be resolved.", "<unknown_object>",
                      VmVars_Name(frame, -9, id), id, index);
        if (kind == VALUE_UNDEFINED) JS_ThrowTypeError(message);
        else JS_ThrowReferenceError(message);
        return nullptr;
    }
    int32_t status = F_JS_ToObject(converted, value);
    if (status == 0 && RValue_Kind(converted) == VALUE_OBJECT && converted->obj) return converted->obj;
    if (status == 1 || status == 0) JS_ThrowTypeError("unable to convert to object");
    return nullptr;
}

// Scope -13: a closure's slot, depth scopes up from the locals.
RValue* VmVars_ClosureSlot(VMFrame* frame, int32_t id, bool* chainEnded)
{
    const int32_t depth = (id >> 8) & 0xFF, slot = id & 0xFF;
    QZObjectBase* scope = VM_FrameLocals(frame);
    for (int32_t i = 0; i < depth && scope; ++i) scope = scope->scopeNext;
    *chainEnded = scope == nullptr;
    if (!scope) {
        VmVars_Fail(frame, "Unable to find any instance for argument scope '%d / %d'", depth, slot);
        return nullptr;
    }
    return ObjectBase_GetSlot(scope, slot);
}

// Scope -12: the innermost locals object up the chain that holds the variable.
QZObjectBase* VmVars_LocalsHolding(VMFrame* frame, int32_t id)
{
    for (QZObjectBase* scope = VM_FrameLocals(frame); scope; scope = scope->scopeNext)
        if (VmVars_LocalHolder(scope, id)) return scope;
    return nullptr;
}

uint8_t* VmVars_PushValue(uint8_t* sp, const RValue* v)
{
    sp -= 16;
    std::memcpy(sp, v, 16);
    return sp;
}

bool VmVars_IsModelScope(int32_t scope) { return scope == -9 || scope == -10 || scope == -12 || scope == -13; }

// Reads an object-model scope into out. False when nothing was found; a throw leaves out undefined and
// answers true (the pending exception takes over).
bool VmVars_ModelRead(VMFrame* frame, const VmVarsRef& ref, RValue* object, RValue* key, RValue* out)
{
    if (ref.scope == -12) {
        QZObjectBase* holder = VmVars_LocalsHolding(frame, ref.id);
        return holder ? VmVars_LocalGet(holder, ref.id, ref.index, out) : false;
    }
    if (ref.scope == -13) {
        bool ended = false;
        RValue* slot = VmVars_ClosureSlot(frame, ref.id, &ended);
        if (!slot) {
            RValue_SetUndefined(out);
            return true;
        }
        return RValue_ArrayGet(out, slot, ARRAY_INDEX_NONE);
    }
    RValue converted;
    QZObjectBase* target = VmVars_ToObject(frame, object, ref.id, ref.index, &converted);
    if (!target) {
        RValue_Free(&converted);
        RValue_SetUndefined(out);
        return true;
    }
    if (ref.scope == -10) {
        if (VmVars_IsArrayObject(target)) {
            RValue_SetUndefined(out);
            RValue whole;
            RValue_SetUndefined(&whole);
            whole.obj = target;
            whole.kind = VALUE_OBJECT;
            if (!JS_Array_GetElement(&whole, key, out)) RValue_SetUndefined(out);
        } else {
            RValue text;
            RValue_SetUndefined(&text);
            int32_t status = JS_ToString(&text, key);
            RValue_SetUndefined(out);
            if (status == 0 && RValue_Kind(&text) == VALUE_STRING && text.str)
                JS_Get(target, out, text.str->text ? text.str->text : "");
            else if (status == 1)
                JS_ThrowTypeError("could not convert array-style access key to a string");
            RValue_Free(&text);
        }
        RValue_Free(&converted);
        return true;
    }
    QZObjectBase* owner = nullptr;
    RValue* found = VmVars_FindProperty(target, VmVars_Name(frame, -9, ref.id), &owner);
    if (!found) {
        RValue_SetUndefined(out);
    } else if (VmVars_IsAccessor(found)) {
        RValue_SetUndefined(out);
        JS_CallGetter(target, out, found);
    } else {
        RValue_ArrayGet(out, found, ref.index);
    }
    RValue_Free(&converted);
    return true;
}

}  // namespace

// ---- push of a variable ----

uint8_t* VM_PushVariable(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    const uint32_t reference = uint32_t(VmVars_I32(operand));
    // The most frequent form, a plain slot variable of self, reads straight away; anything that fails or
    // reads unset takes the general path below, which reads again and reports.
    if ((reference & (kVmVarsPlain | kVmVarsScopeInWord | kVmVarsInstanceScope)) == (kVmVarsPlain | kVmVarsScopeInWord) &&
        int16_t(word & 0xFFFF) == -1 && int32_t(reference & 0x0FFFFFFFu) >= kVmVarsFirstInstance) {
        RValue out;
        VmVars_MakeUnset(&out);
        Variable_NoInstance = false;
        ArrayIndexError.flag = false;
        if (Variable_GetValue_Direct(frame->self, int32_t(reference & 0x0FFFFFFFu), ARRAY_INDEX_NONE, &out) &&
            !VmVars_IsUnset(&out))
            return VmVars_PushValue(sp, &out);
        RValue_Free(&out);
    }
    const int32_t wordScope = int16_t(word & 0xFFFF);
    const bool inWord = (reference & kVmVarsScopeInWord) != 0;
    if (VM_ItemFloor(frame) - sp < VmVars_OperandBytes(reference, wordScope, inWord)) {
        VmVars_Fail(frame, "DoPush :: stack underflow");
        return sp;
    }
    VmVarsRef ref;
    uint8_t* const start = sp;
    sp = VmVars_TakeRef(word, sp, reference, &ref);
    if (!inWord && (ref.scope == -9 || ref.scope == -10)) {
        // Their object and key items are only part of the instruction when the word names the scope.
        VmVars_Fail(frame, "DoPush :: Execution Error");
        return start;
    }
    RValue object, key;
    RValue_SetUndefined(&object);
    RValue_SetUndefined(&key);
    if (ref.scope == -9 || ref.scope == -10) {
        const int64_t need = ref.scope == -9 ? 16 : 32;
        if (VM_ItemFloor(frame) - sp < need) {
            VmVars_Fail(frame, "DoPush :: stack underflow");
            return sp;
        }
        std::memcpy(&object, sp, 16);
        sp += 16;
        if (ref.scope == -10) {
            std::memcpy(&key, sp, 16);
            sp += 16;
        }
    }

    RValue out;
    VmVars_MakeUnset(&out);
    Variable_NoInstance = false;
    ArrayIndexError.flag = false;
    bool found = false;
    CInstance* instance = nullptr;  // the instance read, for self-like scopes
    int32_t nameScope = ref.scope;
    const bool model = VmVars_Model();
    switch (ref.scope) {
    case -1: instance = frame->self; break;
    case -2: instance = frame->other; break;
    case -3: found = Variable_GetValue(ref.scope, ref.id, ref.index, &out); break;
    case -4: Variable_NoInstance = true; break;
    case -5: found = Variable_Global_Get(ref.id, ref.index, &out); break;
    case -6:
        if (VmVars_GlobalFlagged(ref.id)) {
            nameScope = -5;
            found = Variable_Global_Get(ref.id, ref.index, &out);
        } else {
            instance = frame->self;
        }
        break;
    case -7: found = VmVars_LocalGet(VM_FrameLocals(frame), ref.id, ref.index, &out); break;
    case -8: {
        RValue* slot = VmVars_LocalHolder(VM_FrameLocals(frame), ref.id);
        if (slot && RValue_ArrayGet(&out, slot, ref.index) && !VmVars_IsUnset(&out)) {
            found = true;
            nameScope = -7;
        } else if (VmVars_GlobalFlagged(ref.id)) {
            nameScope = -5;
            found = Variable_Global_Get(ref.id, ref.index, &out);
        } else {
            instance = frame->self;
        }
        break;
    }
    case -11: found = Variable_Scope_Get(ref.id, ref.index, &out); break;
    case -14: found = true; break;
    default:
        if (ref.scope >= 0) found = Variable_GetValue(ref.scope, ref.id, ref.index, &out);
        else if (VmVars_IsModelScope(ref.scope) && model) found = VmVars_ModelRead(frame, ref, &object, &key, &out);
        break;
    }
    if (instance) {
        nameScope = -1;
        found = Variable_GetValue_Direct(instance, ref.id, ref.index, &out);
    }
    RValue_Free(&object);
    RValue_Free(&key);
    sp = VmVars_PushValue(sp, &out);
    if (frame->stopped) return sp;

    if (VmVars_IsModelScope(ref.scope) && !model) {
        VmVars_Fail(frame, "DoPush :: Execution Error - scope %d needs the script object model", ref.scope);
        return sp;
    }
    if (found) {
        if (model || !VmVars_IsUnset(&out)) return sp;
        const char* target = instance ? Object_GetName(Instance_GetObjectIndex(instance)) : Variable_TargetName(ref.scope);
        VmVars_Fail(frame, "Variable %s.%s(%d, %d) not set before reading it.", target,
                    VmVars_Name(frame, nameScope, ref.id), ref.id, ref.index);
        return sp;
    }
    const char* name = VmVars_Name(frame, nameScope, ref.id);
    if (ArrayIndexError.flag) {
        const ArrayIndexErrorRecord& e = ArrayIndexError;
        VmVars_Fail(frame, "Push :: Execution Error - Variable Index [%d,%d] out of range [%d,%d] - %d.%s(%d,%d)",
                    e.row, e.column, e.rowCount, e.rowLength, ref.scope, name, ref.id, ref.index);
    } else if (Variable_NoInstance) {
        VmVars_Fail(frame, "Unable to find any instance for object index '%d' name '%s'", ref.scope,
                    Object_GetName(ref.scope));
    } else {
        const int32_t shown = instance ? Instance_GetId(instance) : ref.scope;
        VmVars_Fail(frame, "Push :: Execution Error - Variable Get %d.%s(%d, %d)", shown, name, ref.id, ref.index);
    }
    return sp;
}

// ---- pop into a variable ----

namespace {

// Size on the stack of a pop's value of type t2, 0 when the type cannot be stored.
int32_t VmVars_PopValueSize(int32_t t2)
{
    switch (t2) {
    case 0:
    case 3: return 8;
    case 2:
    case 4:
    case 6: return 4;
    case 5: return 16;
    default: return 0;
    }
}

// The value of the item at p (its reference moves into out).
void VmVars_PopValue(int32_t t1, int32_t t2, uint8_t* p, RValue* out)
{
    switch (t2) {
    case 0: {
        double d;
        std::memcpy(&d, p, 8);
        RValue_SetReal(out, d);
        break;
    }
    case 2: RValue_SetReal(out, double(VmVars_I32(p))); break;
    case 3: {
        int64_t l;
        std::memcpy(&l, p, 8);
        if (t1 == 2) RValue_SetReal(out, static_cast<double>(l));
        else RValue_SetInt64(out, l);
        break;
    }
    case 4: RValue_SetBool(out, VmVars_I32(p) != 0); break;
    case 5: std::memcpy(out, p, 16); break;
    case 6: VM_StackItemToValue(6, p, out); break;
    default: RValue_SetUndefined(out); break;
    }
}

// The delete form: the outcome is pushed as a bool.
uint8_t* VmVars_Delete(VMFrame* frame, const VmVarsRef& ref, RValue* object, RValue* key, uint8_t* sp)
{
    bool outcome = true;
    if (ref.scope == -9 || ref.scope == -10) {
        if (RValue_Kind(object) == VALUE_UNSET) {
            VmVars_Fail(frame, "Cannot find variable to delete");
            return sp;
        }
        RValue converted;
        QZObjectBase* target = VmVars_ToObject(frame, object, ref.id, ref.index, &converted);
        if (target) {
            const char* name = nullptr;
            RValue text;
            RValue_SetUndefined(&text);
            if (ref.scope == -9) {
                name = VmVars_Name(frame, -9, ref.id);
            } else if (JS_ToString(&text, key) == 0 && RValue_Kind(&text) == VALUE_STRING && text.str) {
                name = text.str->text ? text.str->text : "";
            }
            if (name && target->named)
                if (VariableNode* node = target->named->FindByName(name)) {
                    if (node->value.flags & RVALUE_FLAG_CONFIGURABLE) target->named->Remove(node);
                    else outcome = false;
                }
            RValue_Free(&text);
        }
        RValue_Free(&converted);
    } else if (ref.scope == -11 || ref.scope == -12) {
        outcome = Variable_Scope_Delete(ref.id, ref.index);
    } else {
        outcome = false;  // variables of instances and globals are not deleted
    }
    sp -= 4;
    int32_t b = outcome ? 1 : 0;
    std::memcpy(sp, &b, 4);
    return sp;
}

// Writes an object-model scope; false when the write failed.
bool VmVars_ModelWrite(VMFrame* frame, const VmVarsRef& ref, RValue* object, RValue* key, RValue* value)
{
    if (ref.scope == -12) {
        QZObjectBase* holder = VmVars_LocalsHolding(frame, ref.id);
        return VmVars_LocalSet(holder ? holder : VM_FrameLocals(frame), ref.id, ref.index, value);
    }
    if (ref.scope == -13) {
        bool ended = false;
        RValue* slot = VmVars_ClosureSlot(frame, ref.id, &ended);
        if (!slot) return true;  // reported
        RValue_SetWithIndex(slot, value, ARRAY_INDEX_NONE);
        return true;
    }
    RValue converted;
    QZObjectBase* target = VmVars_ToObject(frame, object, ref.id, ref.index, &converted);
    if (target) {
        if (ref.scope == -10) {
            RValue text;
            RValue_SetUndefined(&text);
            if (JS_ToString(&text, key) == 0 && RValue_Kind(&text) == VALUE_STRING && text.str)
                JS_Put(target, value, text.str->text ? text.str->text : "", true);
            else
                JS_ThrowTypeError("could not convert array-style access key to a string");
            RValue_Free(&text);
        } else {
            const char* name = VmVars_Name(frame, -9, ref.id);
            QZObjectBase* owner = nullptr;
            RValue* found = VmVars_FindProperty(target, name, &owner);
            if (found && VmVars_IsAccessor(found)) JS_CallSetter(target, value, found);
            else JS_Put(target, value, name, true);
        }
    }
    RValue_Free(&converted);
    return true;
}

}  // namespace

uint8_t* DoPop(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    const int32_t t1 = int32_t(word >> 16) & 15, t2 = int32_t(word >> 20) & 15;
    if (t1 == 15) {
        // The swap form: the top item moves below the next n bytes, then the stack pointer moves by m words.
        const int32_t size = VM_StackItemSize(t2);
        const int64_t n = int64_t(int8_t(word & 0xFF)) * 4, m = int64_t(int8_t((word >> 8) & 0xFF)) * 4;
        const int64_t items = VM_ItemFloor(frame) - sp;
        if (n < 0 || size + n > items || m > items) {
            VmVars_Fail(frame, "DoPop :: swap of %d bytes below a %d-byte item beyond the stack items", int32_t(n),
                        size);
            return sp;
        }
        if (size > 0 && n > 0) {
            uint8_t top[16];
            std::memcpy(top, sp, size_t(size));
            std::memmove(sp, sp + size, size_t(n));
            std::memcpy(sp + n, top, size_t(size));
        }
        if (m < 0) std::memset(sp + m, 0, size_t(-m));
        return sp + m;
    }
    if (t1 != 5 && t1 != 2) {
        VmVars_Fail(frame, "Pop :: Execution Error - Instruction malformed");
        return sp;
    }
    if (!(word & 0x40000000u)) {
        VmVars_Fail(frame, "Pop :: Execution Error - Instruction malformed");
        return sp;
    }
    const bool model = VmVars_Model();
    const bool deleteForm = t1 == 5 && t2 == 8, declareForm = t1 == 5 && t2 == 9;
    const int32_t valueSize = (deleteForm || declareForm) ? 0 : VmVars_PopValueSize(t2);
    if (!deleteForm && !declareForm && valueSize == 0) {
        VmVars_Fail(frame, "Pop :: Execution Engine");
        return sp;
    }
    if ((deleteForm || declareForm) && !model) {
        VmVars_Fail(frame, "Pop :: Execution Engine - %s needs the script object model",
                    deleteForm ? "delete" : "a declaration");
        return sp;
    }
    const uint32_t reference = uint32_t(VmVars_I32(operand));
    const int32_t wordScope = int16_t(word & 0xFFFF);
    const bool inWord = (reference & kVmVarsScopeInWord) != 0;
    const int64_t items = VM_ItemFloor(frame) - sp;
    if (items < VmVars_OperandBytes(reference, wordScope, inWord) + valueSize) {
        VmVars_Fail(frame, "DoPop :: stack underflow");
        return sp;
    }

    RValue value;
    RValue_SetUndefined(&value);
    uint8_t* at = sp;
    if (t1 == 2) {
        VmVars_PopValue(t1, t2, at, &value);
        at += valueSize;
    }
    VmVarsRef ref;
    at = VmVars_TakeRef(word, at, reference, &ref);
    if (!inWord && (ref.scope == -9 || ref.scope == -10)) {
        // Their object and key items are only part of the instruction when the word names the scope.
        VmVars_Fail(frame, "DoPop :: Execution Error");
        return sp;
    }
    RValue object, key;
    RValue_SetUndefined(&object);
    RValue_SetUndefined(&key);
    if (ref.scope == -9 || ref.scope == -10) {
        const int64_t need = (ref.scope == -9 ? 16 : 32) + (t1 == 5 ? valueSize : 0);
        if (VM_ItemFloor(frame) - at < need) {
            RValue_Free(&value);
            VmVars_Fail(frame, "DoPop :: stack underflow");
            return sp;
        }
        std::memcpy(&object, at, 16);
        at += 16;
        if (ref.scope == -10) {
            std::memcpy(&key, at, 16);
            at += 16;
        }
    }
    if (deleteForm) {
        uint8_t* out = VmVars_Delete(frame, ref, &object, &key, at);
        RValue_Free(&object);
        RValue_Free(&key);
        return out;
    }
    if (declareForm) {
        if (ref.scope == -12 && ref.id != kVmVarsFirstInstance) {
            RValue undefined;
            RValue_SetUndefined(&undefined);
            VmVars_LocalSet(VM_FrameLocals(frame), ref.id, ARRAY_INDEX_NONE, &undefined);
        }
        RValue_Free(&object);
        RValue_Free(&key);
        return at;
    }
    if (t1 == 5) {
        VmVars_PopValue(t1, t2, at, &value);
        at += valueSize;
    }
    sp = at;

    if (model && (reference & kVmVarsNoConfig)) value.flags &= ~RVALUE_FLAG_CONFIGURABLE;
    const char* name = nullptr;
    bool written = true, reported = false;
    if (model && VmVars_IsUnset(&value)) {
        char message[512];
        std::snprintf(message, sizeof message, "Attempting to set variable %s to an invalid value",
                      VmVars_Name(frame, ref.scope, ref.id));
        JS_ThrowReferenceError(message);
        reported = true;
    } else {
        ArrayIndexError.flag = false;
        int32_t nameScope = ref.scope;
        switch (ref.scope) {
        case -1: written = Variable_SetValue_Direct(frame->self, ref.id, ref.index, &value); break;
        case -2: written = Variable_SetValue_Direct(frame->other, ref.id, ref.index, &value); break;
        case -5: written = Variable_Global_Set(ref.id, ref.index, &value); break;
        case -6:
        case -8:
            if (VmVars_GlobalFlagged(ref.id)) {
                nameScope = -5;
                written = Variable_Global_Set(ref.id, ref.index, &value);
            } else {
                nameScope = -1;
                written = Variable_SetValue_Direct(frame->self, ref.id, ref.index, &value);
            }
            break;
        case -7: written = VmVars_LocalSet(VM_FrameLocals(frame), ref.id, ref.index, &value); break;
        case -11: written = Variable_Scope_Set(ref.id, ref.index, &value); break;
        default:
            if (ref.scope >= 0) {
                written = Variable_SetValue(ref.scope, ref.id, ref.index, &value);
            } else if (VmVars_IsModelScope(ref.scope) && model) {
                written = VmVars_ModelWrite(frame, ref, &object, &key, &value);
            } else if (VmVars_IsModelScope(ref.scope)) {
                VmVars_Fail(frame, "Pop :: Execution Error - scope %d needs the script object model", ref.scope);
                reported = true;
            } else {
                // -3, -4, -14 and any other negative scope have no writer.
                VmVars_Fail(frame, "Pop :: Execution Error - Variable references invalid object (%d).%s", ref.scope,
                            VmVars_Name(frame, -1, ref.id));
                reported = true;
            }
            break;
        }
        name = VmVars_Name(frame, nameScope, ref.id);
    }
    if (!reported && !frame->stopped) {
        if (ArrayIndexError.flag) {
            const ArrayIndexErrorRecord& e = ArrayIndexError;
            VmVars_Fail(frame, "Pop :: Execution Error - Variable Index [%d,%d] out of range [%d,%d] - %d.%s(%d,%d)",
                        e.row, e.column, e.rowCount, e.rowLength, ref.scope, name, ref.id, ref.index);
        } else if (!written) {
            VmVars_Fail(frame, "Pop :: Execution Error - Variable set failed %s - read only variable?", name);
        }
    }
    RValue_Free(&value);
    RValue_Free(&object);
    RValue_Free(&key);
    return sp;
}

// ---- the prepared pop into a local ----

uint8_t* DoPopLocal(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    const uint32_t reference = uint32_t(VmVars_I32(operand));
    QZObjectBase* locals = VM_FrameLocals(frame);
    // Forms the fast path does not cover take the general one, which reports what this one would not.
    if (!locals || !locals->slots || VmVars_Model()) return DoPop(word, sp, operand, frame);
    const int32_t slot = int32_t(reference & 0x0FFFFFFFu) - kVmVarsFirstInstance;
    if (slot < 0 || slot >= locals->slotCount) return DoPop(word, sp, operand, frame);
    const int64_t need = 16 + ((reference & kVmVarsPlain) ? 0 : 4) + ((reference & kVmVarsScopeInWord) ? 0 : 4);
    if (VM_ItemFloor(frame) - sp < need) {
        VmVars_Fail(frame, "DoPopLocal :: stack underflow");
        return sp;
    }
    int32_t index = ARRAY_INDEX_NONE;
    if (!(reference & kVmVarsPlain)) {
        index = VmVars_I32(sp);
        sp += 4;
        ArrayIndexError.flag = false;
    }
    if (!(reference & kVmVarsScopeInWord)) sp += 4;  // a stacked scope word: the scope is local anyway
    RValue value;  // by copy: the item may be only 4-byte aligned
    std::memcpy(&value, sp, 16);
    RValue_SetWithIndex(&locals->slots[slot], &value, index);
    RValue_Free(&value);
    if (index != ARRAY_INDEX_NONE && ArrayIndexError.flag) {
        const ArrayIndexErrorRecord& e = ArrayIndexError;
        VmVars_Fail(frame, "Pop :: Execution Error - Variable Index [%d,%d] out of range [%d,%d] - %d.%s(%d,%d)",
                    e.row, e.column, e.rowCount, e.rowLength, -7, VmVars_Name(frame, -7, slot + kVmVarsFirstInstance),
                    slot + kVmVarsFirstInstance, index);
    }
    return sp + 16;
}

// ---- object-model services of the interpreter core ----

void VM_SetLocalValue(QZObjectBase* locals, RValue* value)
{
    if (!VmVars_Model() || !locals || !value) return;
    if (!locals->slots || locals->slotCount < 1) return;
    RValue* slot = &locals->slots[0];
    if (slot != value) {
        RValue_Free(slot);
        RValue_Copy(slot, value);
    }
    slot->flags = RVALUE_FLAG_ENUMERABLE | RVALUE_FLAG_WRITABLE;
}

uint8_t* VM_TakePendingException(uint8_t* sp, VMFrame* frame)
{
    JSPendingException& e = JS_PendingException;
    if (!e.pending) return sp;
    const int64_t position = e.handlerPosition;
    const bool catches = e.handlerFrame == frame && VM_CurrentFrame == frame && position >= 16 &&
                         position <= frame->stackSize;
    if (!catches) {
        // Not caught here: every call of this frame ends, and the code that ran the frame sees the throw.
        while (frame->callDepth > 0) sp = VM_PopFrame(sp, frame);
        frame->position = frame->codeLength;
        return sp;
    }
    // Calls made since the handler was registered end first.
    auto distance = [frame](const uint8_t* p) { return frame->stackBlock + frame->stackSize - p; };
    while (frame->callDepth > 0 && position < distance(frame->record)) sp = VM_PopFrame(sp, frame);
    uint8_t* at = frame->stackBlock + frame->stackSize - position;
    if (at - 16 < frame->stackBlock || at > frame->record || at < sp) {
        VmVars_Fail(frame, "VM_Exec :: exception handler position outside the stack");
        e.pending = false;
        return sp;
    }
    VM_WithUnwind(frame, at);  // with-blocks opened inside the try end with it
    // Items between the stack pointer and the handler's position are dropped with the throw.
    RValue thrown;
    RValue_SetUndefined(&thrown);
    if (e.thrown) RValue_Copy(&thrown, e.thrown);
    sp = at - 16;
    std::memcpy(sp, &thrown, 16);
    e.pending = false;
    return sp;
}

uint8_t* VM_CallValue(uint32_t word, uint8_t* sp, VMFrame* frame)
{
    const int32_t argc = int32_t(word & 0xFFFF);
    if (!VmVars_Model()) {
        VmVars_Fail(frame, "DoCall :: callv needs the script object model");
        return sp;
    }
    if (VM_ItemFloor(frame) - sp < 32 + int64_t(argc) * 16) {
        VmVars_Fail(frame, "DoCall :: argument count %d beyond the stack items", argc);
        return sp;
    }
    RValue function, self;
    std::memcpy(&function, sp, 16);
    std::memcpy(&self, sp + 16, 16);
    sp += 32;
    auto* args = reinterpret_cast<RValue*>(sp);
    QZObjectBase* fn = RValue_Kind(&function) == VALUE_OBJECT ? function.obj : nullptr;
    RValue* callScript = fn ? ObjectBase_FindVariable(fn, "[[Call_Script]]") : nullptr;
    RValue* callCpp = fn ? ObjectBase_FindVariable(fn, "[[Call_Cpp]]") : nullptr;
    if (callScript && RValue_Kind(callScript) == VALUE_PTR) {
        int32_t scriptIndex = -1;
        for (int32_t i = 0; i < Script_Number() && scriptIndex < 0; ++i) {
            CScript* s = Script_Data(i);
            if (s && (static_cast<void*>(s) == callScript->ptr || static_cast<void*>(s->GetCode()) == callScript->ptr))
                scriptIndex = i;
        }
        CScript* script = scriptIndex >= 0 ? Script_Data(scriptIndex) : nullptr;
        CCode* code = script ? script->GetCode() : nullptr;
        QZObjectBase* locals = VM_CreateLocals(code ? code->localCount : 0);
        RValue* scope = ObjectBase_FindVariable(fn, "[[Scope]]");
        if (locals && scope && RValue_Kind(scope) == VALUE_OBJECT) locals->scopeNext = scope->obj;
        QZObjectBase* thisObject = nullptr;
        if (RValue_Kind(&self) == VALUE_OBJECT) {
            thisObject = self.obj;
        } else if (RValue_Kind(&self) == VALUE_PTR) {
            thisObject = static_cast<QZObjectBase*>(self.ptr);
        } else {
            RValue converted;
            RValue_SetUndefined(&converted);
            if (F_JS_ToObject(&converted, &self) != 0 || RValue_Kind(&converted) != VALUE_OBJECT) {
                const int32_t kind = int32_t(RValue_Kind(&self));
                RValue_Free(&converted);
                RValue_Free(&function);
                RValue_Free(&self);
                ObjectBase_Free(locals);
                VmVars_Fail(frame, "could not convert rvalue of kind=%d to object", kind);
                return sp;
            }
            thisObject = converted.obj;
            RValue_Free(&converted);
        }
        RValue arguments;
        RValue_SetUndefined(&arguments);
        {
            // Values may lie on 4-byte boundaries: the model sees them 8-aligned, moved down for the call.
            const uintptr_t off = reinterpret_cast<uintptr_t>(sp) & 7;
            if (off && argc > 0) std::memmove(sp - off, sp, size_t(argc) * 16);
            JS_CreateArgumentsObject(&arguments, fn, argc, reinterpret_cast<RValue*>(sp - off), false);
            if (off && argc > 0) std::memmove(sp, sp - off, size_t(argc) * 16);
        }
        RValue_Free(&function);
        RValue_Free(&self);
        const int32_t depth = frame->callDepth;
        uint8_t* after = VM_CallScript(scriptIndex, argc, sp, frame, locals, &arguments);
        if (frame->callDepth > depth) {
            // The callee's locals are the ones made here: they are freed with its frame.
            frame->localsSupplied = 0;
            VM_SetLocalValue(locals, &arguments);
            // Instances are script objects, so the callee may take an object as self.
            frame->self = reinterpret_cast<CInstance*>(thisObject);
            reinterpret_cast<VMCallRecord*>(after)->value = locals && locals->slots ? &locals->slots[0] : nullptr;
        } else {
            ObjectBase_Free(locals);
        }
        RValue_Free(&arguments);
        return after;
    }
    if (callCpp && RValue_Kind(callCpp) == VALUE_PTR && callCpp->ptr) {
        auto routine = reinterpret_cast<TRoutine>(callCpp->ptr);
        RValue result;
        RValue_SetUndefined(&result);
        CInstance* thisInstance = RValue_Kind(&self) == VALUE_OBJECT ? reinterpret_cast<CInstance*>(self.obj)
                                  : RValue_Kind(&self) == VALUE_PTR ? static_cast<CInstance*>(self.ptr)
                                                                    : nullptr;
        // Values may lie on 4-byte boundaries: the routine gets them 8-aligned, moved down into free stack.
        const uintptr_t off = reinterpret_cast<uintptr_t>(sp) & 7;
        if (off && argc > 0) std::memmove(sp - off, sp, size_t(argc) * 16);
        args = reinterpret_cast<RValue*>(sp - off);
        routine(&result, thisInstance, frame->other, argc, args);
        VM_CurrentFrame = frame;
        RValue_Free(&function);
        RValue_Free(&self);
        if (JS_PendingException.pending) {
            RValue_Free(&result);
            return sp;
        }
        for (int32_t i = 0; i < argc; ++i) RValue_Free(&args[i]);
        sp += int64_t(argc) * 16 - 16;
        std::memcpy(sp, &result, 16);
        return sp;
    }
    const uint32_t kind = RValue_Kind(&function);
    RValue_Free(&function);
    RValue_Free(&self);
    if (kind == VALUE_OBJECT) {
        VmVars_Fail(frame, "Invalid callv target #1");
    } else if (kind == VALUE_UNSET) {
        JS_ThrowReferenceError("Invalid callv target");
    } else {
        JS_ThrowTypeError("Invalid callv target #2");
    }
    return sp;
}
