// The script object model: the operations the core and the game world call while it is switched on.
#pragma once
#include <cstdint>

struct RValue;
struct VMFrame;
struct CInstance;
struct QZObjectBase;

// Sets up the built-in objects (the header's script-object switch).
void JS_Init();
// Builds the object that maps resource names to indexes (end of the second chunk pass).
void JS_CreateResourceObject();

// True for the names of the built-in global variables.
bool Variable_IsBuiltinGlobalName(const char* name);

// Operations on values. Conversions answer 0 on success, 1 when the value cannot be converted (the
// caller throws a TypeError), anything else when an exception is already pending (the caller stops).
int32_t F_JS_ToPrimitive(RValue* result, const RValue* value, int32_t hint);
int32_t JS_ToNumber(RValue* result, const RValue* value);
int32_t JS_ToString(RValue* result, const RValue* value);
int32_t JS_ToInt32(RValue* result, const RValue* value);
int32_t JS_ToUint32(RValue* result, const RValue* value);
int32_t F_JS_ToObject(RValue* result, const RValue* value);
bool JS_ToBoolean(const RValue* value);
int32_t JS_LessThan(RValue* result, const RValue* x, const RValue* y, bool leftFirst);  // true, false or undefined
int32_t JS_Equals(RValue* result, const RValue* x, const RValue* y);  // 1.0 or 0.0
bool JS_StrictEquals(const RValue* x, const RValue* y);
bool JS_IsCallable(const RValue* value);
// Whether the object's named variables hold "[[Call_Script]]" or "[[Call_Cpp]]"; false for null.
bool JS_IsCallableObject(QZObjectBase* object);

// Properties.
void JS_GetProperty(QZObjectBase* object, RValue* result, const char* name);  // unset when absent
void JS_Get(QZObjectBase* object, RValue* result, const char* name);
void JS_Put(QZObjectBase* object, const RValue* value, const char* name, bool throwFlag);
bool JS_Array_GetElement(const RValue* object, const RValue* key, RValue* result);  // found
// An accessor pair over an engine built-in variable's getter and setter (either may be null).
using JSBuiltinGetter = bool (*)(CInstance* self, int32_t arrayIndex, RValue* out);
using JSBuiltinSetter = bool (*)(CInstance* self, int32_t arrayIndex, RValue* value);
QZObjectBase* JS_NewAccessorProperty(JSBuiltinGetter getter, JSBuiltinSetter setter);
void JS_CallGetter(QZObjectBase* self, RValue* result, const RValue* accessor);
void JS_CallSetter(QZObjectBase* self, const RValue* value, RValue* accessor);

// Calls.
// 1 without calling when the function value is not an object.
int32_t JS_CallValue(QZObjectBase* self, RValue* result, const RValue* function, int32_t argc, RValue* args);
void JS_CreateArgumentsObject(RValue* result, QZObjectBase* function, int32_t argc, RValue* args, bool noCallee);

// Raise the standard errors; the caller sees the pending exception when it returns.
void JS_ThrowTypeError(const char* message);
void JS_ThrowReferenceError(const char* message);

// The pending exception the interpreter's dispatch loop reads: set by a throw, cleared by the loop once it
// has delivered the thrown value to the innermost try handler.
struct JSPendingException {
    bool pending;
    VMFrame* handlerFrame;     // the frame that registered the innermost try handler
    int64_t handlerPosition;   // the value-stack position recorded with that handler
    RValue* thrown;            // the thrown value (owned by the model)
};
extern JSPendingException JS_PendingException;

// A replacement for the object model's operations, for tests (and, later, the model itself): every
// non-null entry answers in place of the built-in default. Null restores the defaults.
struct ScriptModel {
    int32_t (*toPrimitive)(RValue* result, const RValue* value, int32_t hint);
    int32_t (*toNumber)(RValue* result, const RValue* value);
    int32_t (*toString)(RValue* result, const RValue* value);
    int32_t (*toInt32)(RValue* result, const RValue* value);
    int32_t (*toUint32)(RValue* result, const RValue* value);
    int32_t (*toObject)(RValue* result, const RValue* value);
    bool (*toBoolean)(const RValue* value);
    int32_t (*lessThan)(RValue* result, const RValue* x, const RValue* y, bool leftFirst);
    int32_t (*equals)(RValue* result, const RValue* x, const RValue* y);
    bool (*strictEquals)(const RValue* x, const RValue* y);
    bool (*isCallable)(const RValue* value);
    void (*getProperty)(QZObjectBase* object, RValue* result, const char* name);
    void (*get)(QZObjectBase* object, RValue* result, const char* name);
    void (*put)(QZObjectBase* object, const RValue* value, const char* name, bool throwFlag);
    bool (*arrayGetElement)(const RValue* object, const RValue* key, RValue* result);
    int32_t (*callValue)(QZObjectBase* self, RValue* result, const RValue* function, int32_t argc, RValue* args);
    void (*createArgumentsObject)(RValue* result, QZObjectBase* function, int32_t argc, RValue* args,
                                  bool noCallee);
    void (*throwTypeError)(const char* message);
    void (*throwReferenceError)(const char* message);
};
// Installs a replacement (null restores the defaults); returns the one installed before (may be null).
const ScriptModel* ScriptModel_Set(const ScriptModel* model);
