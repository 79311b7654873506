// Bytecode listing helpers.
#pragma once
#include <cstdint>

// Bytes of the operand that follows an instruction word of this type (bits 16-19): 8 for doubles and
// 64-bit integers, 4 for the other stored types, 0 for every type that carries no stored operand.
int32_t Disasm_OperandSize(int32_t type);
