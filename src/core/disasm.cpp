#include "core/disasm.h"

int32_t Disasm_OperandSize(int32_t type)
{
    switch (type) {
    case 0:
    case 3: return 8;
    case 1:
    case 2:
    case 4:
    case 5:
    case 6: return 4;
    default: return 0;  // type 7 included: the listing shows its operand from another table
    }
}
