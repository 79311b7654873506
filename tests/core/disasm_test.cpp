#include "core/disasm.h"

#include "core/console.h"
#include "core/debug_info.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/varnames.h"
#include "world/loader.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using DisasmTestConsole = kvtest::RecordingConsole;

void DisasmTest_Noop(RValue*, CInstance*, CInstance*, int32_t, RValue*) {}

struct DisasmTestCode {
    std::vector<uint8_t> bytes;
    void Word(uint32_t w) { Raw(&w, 4); }
    void Raw(const void* p, size_t n)
    {
        auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
};

class Disasm : public testing::Test {
protected:
    void SetUp() override
    {
        Function_Free();
        Function_Add("show", DisasmTest_Noop, 1, false);
        Function_Add("draw_text", DisasmTest_Noop, 3, false);
        savedGame_ = g_GameData;
        // A string table: entry 0 empty, entry 1 "hello" (count, offsets, then length word and text).
        strings_.assign(32, 0);
        uint32_t words[] = {2, 0, 12, 5};
        std::memcpy(strings_.data(), words, sizeof words);
        std::memcpy(strings_.data() + 16, "hello", 6);
        g_GameData.data = strings_.data();
        g_GameData.length = uint32_t(strings_.size());
        g_GameData.stringList = strings_.data();
        g_GameData.stringCount = 2;
        g_GameData.newCodeFormat = false;
        Disasm_SetCodeStrings(codeStrings_, 1);
    }
    void TearDown() override
    {
        g_GameData = savedGame_;
        Disasm_SetCodeStrings(nullptr, 0);
        Code_Variable_Free();
        Function_Free();
    }
    GameDataInfo savedGame_{};
    std::vector<uint8_t> strings_;
    const char* codeStrings_[1] = {"dbg"};
};

TEST_F(Disasm, GoldenListing)
{
    int32_t speed = Code_Variable_Add("speed");
    ASSERT_EQ(speed, 100000);
    DisasmTestCode c;
    double d = 2.5;
    float f = 1.5f;
    int64_t l = -5;
    c.Word(0xC0000000);  // push.d 2.5
    c.Raw(&d, 8);
    c.Word(0xC0010000);  // push.f 1.5
    c.Raw(&f, 4);
    c.Word(0xD9020002);  // call.i draw_text, 2 arguments
    c.Word(1);
    c.Word(0xD9020001);  // call.i script 3
    c.Word(100003);
    c.Word(0xC0030000);  // push.l -5
    c.Raw(&l, 8);
    c.Word(0xC0040000);  // push.b true
    c.Word(1);
    c.Word(0xC005FFFF);  // push.v self.speed
    c.Word(0x20000000u | uint32_t(speed));
    c.Word(0xC005FFFF);  // push.v without a name
    c.Word(uint32_t(speed));
    c.Word(0xC0060000);  // push.s "hello"
    c.Word(1);
    c.Word(0xC0060000);  // push.s of the empty entry
    c.Word(0);
    c.Word(0xC00FFFFE);  // push.e -2
    c.Word(0x07520000);  // conv.i.v
    c.Word(0xB8000004);  // bf forward to ret
    c.Word(0xB67FFFE7);  // b back to the start
    c.Word(0xC0070000);  // push.ds code string 0
    c.Word(0);
    c.Word(0x9C050000);  // ret.v
    DisasmTestConsole out;
    Disasm_Code("ksl_Script_scr_a", c.bytes.data(), int32_t(c.bytes.size()), &out);
    const char* expected =
        "00000000 : 000000c00000000000000440 push.d    2.500000\n"
        "0000000c : 000001c00000c03f         push.f    1.500000\n"
        "00000014 : 020002d901000000         call.i    draw_text\n"
        "0000001c : 010002d9a3860100         call.i    100003\n"
        "00000024 : 000003c0fbffffffffffffff push.l    -5\n"
        "00000030 : 000004c001000000         push.b    true\n"
        "00000038 : ffff05c0a0860120         push.v    $speed$\n"
        "00000040 : ffff05c0a0860100         push.v    $unknown$\n"
        "00000048 : 000006c001000000         push.s    \"hello\"\n"
        "00000050 : 000006c000000000         push.s    \"\"\n"
        "00000058 : feff0fc0                 push.e    -2\n"
        "0000005c : 00005207                 conv.i.v  \n"
        "00000060 : 040000b8                 bf        0x00000070\n"
        "00000064 : e7ff7fb6                 b         0x00000000\n"
        "00000068 : 000007c000000000         push.ds    \"dbg\"\n"
        "00000070 : 0000059c                 ret.v     \n";
    EXPECT_EQ(out.text, expected);
}

TEST_F(Disasm, OperandEdgesAndTruncation)
{
    DisasmTestCode c;
    c.Word(0xC0040000);  // push.b of 2: false
    c.Word(2);
    c.Word(0xD9020000);  // call.i of an index past the table: the number
    c.Word(7);
    c.Word(0xC0060000);  // push.s past the string table
    c.Word(9);
    c.Word(0x01000000);  // no instruction
    c.Word(0xC0000000);  // push.d with half its operand
    c.Word(0);
    DisasmTestConsole out;
    Disasm_Code("x", c.bytes.data(), int32_t(c.bytes.size()), &out);
    EXPECT_EQ(out.text,
              "00000000 : 000004c002000000         push.b    false\n"
              "00000008 : 000002d907000000         call.i    7\n"
              "00000010 : 000006c009000000         push.s    <string 9>\n"
              "00000018 : 00000001                 unknown.d.d\n"
              "0000001c : 000000c000000000         push.d    <truncated>\n");
    out.text.clear();
    EXPECT_EQ(Disasm_Instruction("x", c.bytes.data(), 2, 0, &out), 2);
    EXPECT_EQ(out.text, "00000000 : 0000\n");
    EXPECT_EQ(Disasm_Instruction("x", c.bytes.data(), 8, 8, &out), 8);
}

TEST(DisasmTables, NamesAndSizes)
{
    const int32_t sizes[16] = {8, 4, 4, 8, 4, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const char* suffixes[16] = {".d", ".f", ".i", ".l", ".b", ".v", ".s", ".ds", "", "", "", "", "", "", "", ".e"};
    for (int32_t t = 0; t < 16; ++t) {
        EXPECT_EQ(Disasm_OperandSize(t), sizes[t]) << t;
        EXPECT_STREQ(Disasm_TypeSuffix(t), suffixes[t]) << t;
    }
    int known = 0;
    for (int32_t op = 0; op < 256; ++op) known += std::strcmp(Disasm_OpcodeName(op), "unknown") != 0;
    EXPECT_EQ(known, 35);
    EXPECT_STREQ(Disasm_OpcodeName(153), "call");
    EXPECT_STREQ(Disasm_OpcodeName(255), "break");
    EXPECT_STREQ(Disasm_OpcodeName(69), "pop");
}

// Debug lines. The table maps code offsets 0, 8 and 16 to source offsets.
std::string DebugLines_Line(const char* source, int32_t sourceOffset, int32_t* number, std::string* name)
{
    DebugLineEntry entry{0, sourceOffset};
    char* n = nullptr;
    *number = DebugInfo_LineNumber(&entry, source, &n);
    *name = n ? n : "";
    MemFree(n);
    return DebugInfo_SourceLine(&entry, source);
}

TEST(DebugLines, FindEntry)
{
    alignas(4) const int32_t table[] = {4, 100, 8, 200, 16, 300};
    EXPECT_EQ(DebugInfo_FindEntry(nullptr, 24, 8), nullptr);
    EXPECT_EQ(DebugInfo_FindEntry(table, 24, 3), nullptr);  // before the first offset
    EXPECT_EQ(DebugInfo_FindEntry(table, 24, 4)->sourceOffset, 100);
    EXPECT_EQ(DebugInfo_FindEntry(table, 24, 15)->sourceOffset, 200);
    EXPECT_EQ(DebugInfo_FindEntry(table, 24, 1000)->sourceOffset, 300);
    EXPECT_EQ(DebugInfo_FindEntry(table, 20, 1000)->sourceOffset, 200);  // whole entries only
    EXPECT_EQ(DebugInfo_FindEntry(table, 7, 1000), nullptr);
    EXPECT_EQ(DebugInfo_LineNumber(nullptr, "x", nullptr), -1);
    EXPECT_STREQ(DebugInfo_SourceLine(nullptr, "x"), "<unknown source line>");
}

TEST(DebugLines, LinesNumbersAndDirectives)
{
    const char* source = "a = 1;\n#line scr_a 10\nb = 2;\nc = 3;\nd = 4;\n";
    struct Row {
        const char* at;  // the source offset is where this text starts
        int32_t line;
        const char* name;
        const char* text;
    };
    const Row rows[] = {
        {"a = 1", 1, "", "a = 1;"},           {"= 1", 1, "", "a = 1;"},
        {"b = 2", 10, "scr_a", "b = 2;"},     {"d = 4", 12, "scr_a", "d = 4;"},
        {"\nd = 4", 11, "scr_a", "c = 3;"},   // the LF that ends a line belongs to it
    };
    for (const Row& row : rows) {
        int32_t number = 0;
        std::string name;
        auto offset = int32_t(std::strstr(source, row.at) - source);
        EXPECT_EQ(DebugLines_Line(source, offset, &number, &name), row.text) << row.at;
        EXPECT_EQ(number, row.line) << row.at;
        EXPECT_EQ(name, row.name) << row.at;
    }
    // Past the end: the last byte.
    int32_t number = 0;
    std::string name;
    EXPECT_EQ(DebugLines_Line("one\ntwo", 500, &number, &name), "two");
    EXPECT_EQ(number, 2);
    EXPECT_EQ(DebugLines_Line("", 0, &number, &name), "<unknown source line>");
    EXPECT_EQ(number, -1);
    EXPECT_EQ(DebugLines_Line("x\ny", -4, &number, &name), "<unknown source line>");
    EXPECT_EQ(number, -1);
    // CR LF ends a line at the CR.
    EXPECT_EQ(DebugLines_Line("one\r\ntwo\r\n", 6, &number, &name), "two");
    EXPECT_EQ(number, 2);
}

TEST(DebugLines, NonAsciiSourceNamesOneLine)
{
    // Three-byte characters before the offset: the printed line and its number must agree.
    const char* source = "s = \"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\";\nt = 1;\nu = 2;\n";
    for (int32_t offset = 0; offset < int32_t(std::strlen(source)); ++offset) {
        int32_t number = 0;
        std::string name;
        std::string line = DebugLines_Line(source, offset, &number, &name);
        const char* expected = number == 1 ? "s = \"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\";"
                             : number == 2 ? "t = 1;"
                                           : "u = 2;";
        EXPECT_EQ(line, expected) << "offset " << offset;
    }
}

TEST(DebugLines, BadDirectivesSaturateAndLongTextIsCut)
{
    struct Row {
        const char* source;
        int32_t line;
        const char* name;
    };
    const Row rows[] = {
        {"x\n#line \ny", 0, ""},                      // no name, no number
        {"x\n#line a\ny", 0, "a"},                    // no number
        {"x\n#line a b\ny", 0, "a"},                  // not a number
        {"x\n#line a 99999999999\ny", INT32_MAX, "a"},  // huge
        {"x\n#line a -99999999999\ny", INT32_MIN, "a"},
        {"x\n#line a 2147483647\n\n\ny", INT32_MAX, "a"},  // N + lines saturates too
    };
    for (const Row& row : rows) {
        int32_t number = 0;
        std::string name;
        DebugLines_Line(row.source, int32_t(std::strlen(row.source)) - 1, &number, &name);
        EXPECT_EQ(number, row.line) << row.source;
        EXPECT_EQ(name, row.name) << row.source;
    }
    std::string longName(300, 'n');
    std::string source = "x\n#line " + longName + " 5\n" + std::string(400, 'q');
    int32_t number = 0;
    std::string name;
    std::string line = DebugLines_Line(source.c_str(), int32_t(source.size()) - 1, &number, &name);
    EXPECT_EQ(number, 5);
    EXPECT_EQ(name, longName.substr(0, 255));
    EXPECT_EQ(line, std::string(255, 'q'));
    // A cut never splits a character: "a" and 100 three-byte characters keep "a" and 84 (253 bytes).
    std::string wide;
    for (int i = 0; i < 100; ++i) wide += "\xE2\x82\xAC";
    EXPECT_EQ(DebugLines_Line(("a" + wide).c_str(), 3, &number, &name).size(), 253u);
}

}  // namespace
