// Code objects: every piece of game code (scripts, event handlers, creation code, timeline moments, the
// global initialisation code) runs through one. A code object runs a native entry of the compiled game
// or bytecode from the game data through the interpreter; a kind-3 object just hands out its value.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/value.h"

struct CInstance;
struct GameLinkCode;
struct VMFrame;
struct VMStep;

// One instruction's handler: (instruction word, stack pointer, operand, running frame) -> new stack pointer.
using VMHandler = uint8_t* (*)(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);

// Holder of one code array. Bytecode from the game data stays where the data has it and is never freed
// here; only a holder made with owned bytes (code received at run time) frees them.
class VMBuffer {
public:
    // bytes: length bytes; owned bytes must be a memory-manager block.
    VMBuffer(int32_t length, uint8_t* bytes, bool owned);
    virtual ~VMBuffer();
    VMBuffer(const VMBuffer&) = delete;
    VMBuffer& operator=(const VMBuffer&) = delete;

    static void* operator new(size_t size);
    static void operator delete(void* p);

    // Checks the code once and builds the handler table and the instruction index (nothing when they
    // exist). False for code that is not sound: *badOffset (when given) gets the first bad instruction's
    // offset, and the buffer stays unprepared.
    bool Prepare(int32_t* badOffset = nullptr);

    int32_t length;
    uint8_t* bytes;
    VMHandler* handlers = nullptr;           // one per instruction, null until prepared
    int32_t* instructionIndex = nullptr;     // one per code word, null until prepared
    VMStep* steps = nullptr;                 // one per instruction: its word decoded (see vm.h)
    bool owned;
};

// Code object kinds.
constexpr int32_t CODE_KIND_CODE = 1;
constexpr int32_t CODE_KIND_COMPILED = 2;  // made with the compiled flag; runs as kind 1
constexpr int32_t CODE_KIND_CONSTANT = 3;  // hands out its value

class CCode {
public:
    // Made from code entry index: the compiled game's code table when the game runs compiled code, else
    // the CODE entry of the game data (with the debug file's line table and source when it has them). An
    // index outside the entries, or an entry that does not lie inside the data, gives a code object
    // without name and code. Objects with an index of 0 or more join the code list.
    CCode(int32_t index, bool compiled);
    virtual ~CCode();
    CCode(const CCode&) = delete;
    CCode& operator=(const CCode&) = delete;

    static void* operator new(size_t size);
    static void operator delete(void* p);

    CCode* next = nullptr;           // code list, newest first
    int32_t kind = 0;
    uint8_t state = 0;               // 1 once made
    const char* source = "";         // source text of the debug file, or empty
    RValue value;                    // result of a kind-3 object
    VMBuffer* code = nullptr;        // bytecode, or null
    VMBuffer* debugLines = nullptr;  // {code offset, source offset} pairs, or null
    const char* sourceCopy = "";
    const char* name = nullptr;      // in the game data or the compiled game's table
    int32_t index = -1;              // negative: not in the code list
    const GameLinkCode* nativeEntry = nullptr;
    uint8_t keep = 0;                // set: the destructor leaves the code list alone
    int32_t blockOffset = 0;         // offset inside a shared code block (new code format)
    int32_t localCount = 0;
    int32_t argumentCount = 0;
    const VMBuffer* checked = nullptr;  // the prepared buffer whose check of this entry passed
};

// The process-wide code list (head and count), for naming code objects.
extern CCode* g_CodeList;
extern int32_t g_CodeListCount;

// The code table of room instances' creation code. A new object is made when the game has bytecode or
// runs compiled code and index is not -1; otherwise the slot holds null. Returns the slot; 0 and nothing
// stored when the table cannot grow (no code entries at all). The first capacity is the data's code entry
// count, or the compiled game's; then (capacity * 3 + 1) / 2.
int32_t Code_Add(int32_t index, bool compiled);
CCode* Code_Get(int32_t slot);  // null outside the table
int32_t Code_Count();
int32_t Code_Capacity();
// Deletes the code table's objects and the table: their names and bytecode point into game data that
// does not outlive the run.
void Code_Main_Free();

// Runs a code object on self and other. With -oldexec nothing runs; the answer is true in every case.
// flag has no effect.
bool Code_Execute(CInstance* self, CInstance* other, CCode* code, RValue* result, int32_t flag);
bool Code_ExecuteShowError(CInstance* self, CInstance* other, CCode* code, RValue* result, int32_t flag);
bool Code_ExecuteOrError(CInstance* self, CInstance* other, CCode* code, RValue* result, int32_t flag);
// As Code_ExecuteOrError, with the arguments a script call hands its bytecode (the interpreter would
// otherwise start it with none).
bool Code_ExecuteWithArguments(CInstance* self, CInstance* other, CCode* code, RValue* result, int32_t argc,
                               RValue* args);

// Native entries of the compiled game, by their use.
using CodeEventFunction = void (*)(CInstance* self, CInstance* other);
using CodeScriptFunction = void (*)(CInstance* self, CInstance* other, RValue* result, int32_t argc, RValue** args);
