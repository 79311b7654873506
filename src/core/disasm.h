// Bytecode listing helpers.
#pragma once
#include <cstdint>

struct tagIConsole;

// Bytes of the operand that follows an instruction word of this type (bits 16-19): 8 for doubles and
// 64-bit integers, 4 for the other stored types, 0 for every type that carries no stored operand.
int32_t Disasm_OperandSize(int32_t type);
// The mnemonic of an instruction's top byte; "unknown" for bytes that are no instruction.
const char* Disasm_OpcodeName(int32_t opcode);
// ".d", ".f", ".i", ".l", ".b", ".v", ".s", ".ds", ".e"; empty for other types.
const char* Disasm_TypeSuffix(int32_t type);

// Prints the instruction at offset of the length bytes of code as one line; returns the offset of the next
// instruction (length when the instruction runs past the end, which is printed without its operand).
int32_t Disasm_Instruction(const char* codeName, const uint8_t* code, int32_t length, int32_t offset,
                           tagIConsole* console);
// Every instruction from offset 0 to the end.
void Disasm_Code(const char* codeName, const uint8_t* code, int32_t length, tagIConsole* console);

// The runtime's table of code strings that ".ds" operands index; the table stays the caller's.
void Disasm_SetCodeStrings(const char* const* strings, int32_t count);
