#include "core/disasm.h"

#include "core/console.h"
#include "core/functions.h"
#include "core/varnames.h"
#include "world/loader.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* const* g_disasmCodeStrings = nullptr;
int32_t g_disasmCodeStringCount = 0;

// One listing line; string operands can be long, so it grows.
struct DisasmLine {
    std::string text;

    void Add(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list args, again;
        va_start(args, format);
        va_copy(again, args);
        const int n = std::vsnprintf(nullptr, 0, format, args);
        va_end(args);
        if (n > 0) {
            const size_t at = text.size();
            text.resize(at + size_t(n) + 1);
            std::vsnprintf(&text[at], size_t(n) + 1, format, again);
            text.resize(at + size_t(n));
        }
        va_end(again);
    }
    // Blanks from column `from` of the count up to column `to`.
    void Pad(int32_t from, int32_t to)
    {
        for (int32_t c = from; c < to; ++c) Add(" ");
    }
};

uint32_t Disasm_Word(const uint8_t* p)
{
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

// The text of a game-data string-table entry; null outside the table.
const char* Disasm_GameString(int32_t index)
{
    const GameDataInfo& g = g_GameData;
    if (!g.stringList || index < 0 || uint32_t(index) >= g.stringCount) return nullptr;
    uint32_t entry = Disasm_Word(g.stringList + 4 + 4 * size_t(index));
    if (entry == 0) return "";
    return reinterpret_cast<const char*>(g.data + entry + 4);
}

}  // namespace

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

const char* Disasm_OpcodeName(int32_t opcode)
{
    switch (opcode) {
    case 5: return "popv";
    case 7: return "conv";
    case 8: return "mul";
    case 9: return "div";
    case 10: return "rem";
    case 11: return "mod";
    case 12: return "add";
    case 13: return "sub";
    case 14: return "and";
    case 15: return "or";
    case 16: return "xor";
    case 17: return "neg";
    case 18: return "not";
    case 19: return "shl";
    case 20: return "shr";
    case 21: return "set";
    case 69: return "pop";
    case 128: return "pushv";
    case 132: return "push.i";
    case 134: return "dup";
    case 153:
    case 217: return "call";
    case 156: return "ret";
    case 157: return "exit";
    case 158: return "popz";
    case 182: return "b";
    case 183: return "bt";
    case 184: return "bf";
    case 186: return "pushenv";
    case 187: return "popenv";
    case 192: return "push";
    case 193: return "push.l";
    case 194: return "push.g";
    case 195: return "push.b";
    case 255: return "break";
    default: return "unknown";
    }
}

const char* Disasm_TypeSuffix(int32_t type)
{
    switch (type) {
    case 0: return ".d";
    case 1: return ".f";
    case 2: return ".i";
    case 3: return ".l";
    case 4: return ".b";
    case 5: return ".v";
    case 6: return ".s";
    case 7: return ".ds";
    case 15: return ".e";
    default: return "";
    }
}

void Disasm_SetCodeStrings(const char* const* strings, int32_t count)
{
    g_disasmCodeStrings = strings;
    g_disasmCodeStringCount = strings ? count : 0;
}

int32_t Disasm_Instruction(const char* codeName, const uint8_t* code, int32_t length, int32_t offset,
                           tagIConsole* console)
{
    if (!code || offset < 0 || offset >= length) return length;
    DisasmLine line;
    line.Add("%08x : ", uint32_t(offset));
    if (length - offset < 4) {
        for (int32_t i = offset; i < length; ++i) line.Add("%02x", code[i]);
        line.Add("\n");
        console->Output("%s", line.text.c_str());
        return length;
    }
    uint32_t w = Disasm_Word(code + offset);
    int32_t t = int32_t(w >> 24);
    int32_t h = int32_t((w >> 16) & 0xFF);
    bool hasOperand = (w & 0x40000000u) != 0;
    // A ".ds" operand is a 4-byte index into the code strings, though the loader steps over none.
    int32_t operandSize = (h & 0x0F) == 7 ? 4 : Disasm_OperandSize(h & 0x0F);
    int32_t size = 4 + (hasOperand ? operandSize : 0);
    bool complete = size <= length - offset;
    int32_t shown = complete ? size : length - offset;

    int32_t column = 11;
    for (int32_t i = 0; i < shown; ++i) line.Add("%02x", code[offset + i]);
    column += 2 * shown;
    line.Pad(column, 36);
    if (column < 36) column = 36;

    const char* name = Disasm_OpcodeName(t);
    line.Add("%s", name);
    column += int32_t(std::strlen(name));
    if ((t & 0xA0) == 0x80) {
        line.Add("%s", Disasm_TypeSuffix(h & 0x0F));
        column += 2;
    } else if ((t & 0xA0) == 0) {
        line.Add("%s%s", Disasm_TypeSuffix(h & 0x0F), Disasm_TypeSuffix(h >> 4));
        column += 4;
    }
    line.Pad(column, 46);

    const uint8_t* operand = code + offset + 4;
    if (!complete) {
        line.Add("<truncated>");
    } else if (hasOperand) {
        switch (h & 0x0F) {
        case 0: {
            double d;
            std::memcpy(&d, operand, 8);
            line.Add("%f", d);
            break;
        }
        case 1: {
            float f;
            std::memcpy(&f, operand, 4);
            line.Add("%f", double(f));
            break;
        }
        case 2: {
            auto value = int32_t(Disasm_Word(operand));
            const BuiltinFunction* function = value < CALL_ID_SCRIPT_BASE ? Function_Entry(value) : nullptr;
            if (t == 217 && function)
                line.Add("%s", function->name);
            else
                line.Add("%d", value);
            break;
        }
        case 3: {
            long long value;
            std::memcpy(&value, operand, 8);
            line.Add("%lld", value);
            break;
        }
        case 4: line.Add("%s", Disasm_Word(operand) == 1 ? "true" : "false"); break;
        case 5: {
            uint32_t value = Disasm_Word(operand);
            const char* variable = nullptr;
            if (value & 0x20000000u) {
                int32_t scope = int16_t(w & 0xFFFF) + ((value & 0x40000000u) ? 100000 : 0);
                variable = Code_Variable_GetAnyName(codeName, scope, int32_t(value & 0x0FFFFFFF));
            }
            if (variable)
                line.Add("$%s$", variable);
            else
                line.Add("$unknown$");
            break;
        }
        case 6: {
            auto index = int32_t(Disasm_Word(operand));
            const char* text = Disasm_GameString(index);
            if (text)
                line.Add("\"%s\"", text);
            else
                line.Add("<string %d>", index);
            break;
        }
        case 7: {
            auto index = int32_t(Disasm_Word(operand));
            if (index >= 0 && index < g_disasmCodeStringCount && g_disasmCodeStrings[index])
                line.Add("\"%s\"", g_disasmCodeStrings[index]);
            else
                line.Add("<string %d>", index);
            break;
        }
        case 15: line.Add("%d", int32_t(int16_t(w & 0xFFFF))); break;
        default: break;
        }
    } else if (w & 0x20000000u) {
        int32_t delta = int32_t(w << 9) >> 9;  // signed low 23 bits
        line.Add("0x%08x", uint32_t(int64_t(offset) + int64_t(delta) * 4));
    }
    line.Add("\n");
    console->Output("%s", line.text.c_str());
    return complete ? offset + size : length;
}

void Disasm_Code(const char* codeName, const uint8_t* code, int32_t length, tagIConsole* console)
{
    for (int32_t offset = 0; code && offset < length;)
        offset = Disasm_Instruction(codeName, code, length, offset, console);
}
