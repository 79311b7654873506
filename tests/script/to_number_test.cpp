// The script model's text-to-number rule, checked against node's Number() at test time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/convert.h"
#include "core/error.h"
#include "core/value.h"
#include "platform/hooks.h"
#include "script/script.h"
#include "test_support.h"

namespace {

std::string ToNumberT_Json(const std::vector<std::string>& texts)
{
    std::string out = "[";
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i) out += ",";
        out += '"';
        for (unsigned char c : texts[i]) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
        out += '"';
    }
    return out + "]";
}

// node's Number(text) for each text, as node prints it ("-0" kept apart from "0").
std::vector<std::string> ToNumberT_Node(const std::vector<std::string>& texts)
{
    std::string input = kvtest::ScratchDir() + "/to_number_inputs.json";
    std::string output = kvtest::ScratchDir() + "/to_number_outputs.txt";
    kvtest::WriteFile(input, ToNumberT_Json(texts));
    std::string cmd =
        "node -e \"const fs=require('fs');"
        "for (const s of JSON.parse(fs.readFileSync(process.argv[1],'utf8'))) {"
        " const n=Number(s); console.log(Object.is(n,-0)?'-0':String(n)); }\" '" +
        input + "' > '" + output + "'";
    int rc = std::system(cmd.c_str());
    EXPECT_EQ(rc, 0) << cmd;
    std::vector<std::string> lines;
    std::string all = kvtest::ReadFile(output), line;
    for (char c : all) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    return lines;
}

TEST(ToNumber, TextRuleMatchesNode)
{
    const std::vector<std::string> texts = {
        "0x10", " 12 ", "", "abc", "Infinity", "-Infinity", "+Infinity", "1e3", " \t7\n", "0x", "12abc",
        "-0", "1e999", "-1e999", "nan", "NaN", ".5", "5.", "+.5", "-.5e-3", "0X1f", "-0x10", "+0x10", "1_000",
        "\xC2\xA0" "12\xE2\x80\xA8", "\xEF\xBB\xBF" "3", "1e", "e5", ".", "+", "-", "   ", "00012", "1.5e+3",
        "Infinityx", "infinity", "inf", "0xFFFFFFFFFFFFF", "0x1g", "1 2", "\v\f\r9", "4.9e-324",
        "1" + std::string(9999, '0'), "0." + std::string(400, '0') + "1",
    };
    std::vector<std::string> want = ToNumberT_Node(texts);
    ASSERT_EQ(want.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE("text #" + std::to_string(i) + " \"" + texts[i].substr(0, 40) + "\"");
        RValue in;
        RValue_SetUndefined(&in);
        RValue_SetString(&in, texts[i].c_str());
        RValue out;
        RValue_SetUndefined(&out);
        EXPECT_EQ(JS_ToNumber(&out, &in), 0);
        ASSERT_EQ(out.kind, VALUE_REAL);
        const std::string& w = want[i];
        if (w == "NaN") {
            EXPECT_TRUE(std::isnan(out.real)) << out.real;
        } else if (w == "Infinity" || w == "-Infinity") {
            EXPECT_EQ(out.real, w[0] == '-' ? -INFINITY : INFINITY);
        } else {
            double expected = Text_ToReal(w.c_str());
            EXPECT_EQ(out.real, expected) << "node: " << w;
            EXPECT_EQ(std::signbit(out.real), std::signbit(expected)) << "node: " << w;
        }
        RValue_Free(&in);
    }
}

TEST(ToNumber, OtherKinds)
{
    struct Case {
        uint32_t kind;
        double payload;
        double want;  // NaN: not a number
        int32_t status;
    };
    const Case cases[] = {
        {VALUE_REAL, 2.5, 2.5, 0}, {VALUE_BOOL, 1.0, 1.0, 0}, {VALUE_UNDEFINED, 0, NAN, 0},
        {VALUE_NULL, 0, 0.0, 0},   {VALUE_OBJECT, 0, NAN, 0}, {VALUE_PTR, 0, NAN, 1},
    };
    for (const Case& c : cases) {
        RValue in;
        RValue_SetReal(&in, c.payload);
        in.kind = c.kind;
        RValue out;
        EXPECT_EQ(JS_ToNumber(&out, &in), c.status) << c.kind;
        EXPECT_EQ(out.kind, VALUE_REAL);
        if (std::isnan(c.want)) {
            EXPECT_TRUE(std::isnan(out.real)) << c.kind;
        } else {
            EXPECT_EQ(out.real, c.want) << c.kind;
        }
    }
    RValue i32, i64, out;
    RValue_SetInt32(&i32, -7);
    RValue_SetInt64(&i64, 1LL << 40);
    JS_ToNumber(&out, &i32);
    EXPECT_EQ(out.real, -7.0);
    JS_ToNumber(&out, &i64);
    EXPECT_EQ(out.real, 1099511627776.0);
}

int g_toNumberExits = 0;

TEST(ScriptModelOff, CallablesPropertiesAndCalls)
{
    for (uint32_t kind : {VALUE_REAL, VALUE_STRING, VALUE_UNDEFINED, VALUE_UNSET, VALUE_INT32, VALUE_INT64,
                          VALUE_NULL, VALUE_BOOL, VALUE_OBJECT}) {
        RValue v;
        RValue_SetUndefined(&v);
        v.kind = kind;
        EXPECT_FALSE(JS_IsCallable(&v)) << kind;
    }
    ExitHook previous = Platform_SetExitHook([](int) {
        ++g_toNumberExits;
        kvtest::ForgetErrorAbort();
    });
    for (uint32_t kind : {VALUE_ARRAY, VALUE_PTR, VALUE_VEC3, VALUE_ACCESSOR, VALUE_ITERATOR}) {
        RValue v;
        RValue_SetUndefined(&v);
        v.kind = kind;
        g_toNumberExits = 0;
        testing::internal::CaptureStdout();
        EXPECT_FALSE(JS_IsCallable(&v)) << kind;
        EXPECT_EQ(kvtest::ReportedMessages(testing::internal::GetCapturedStdout()),
                  "ERROR!!! :: unhandled type for JS_IsCallable\n");
        EXPECT_EQ(g_toNumberExits, 1);
    }
    Platform_SetExitHook(previous);

    RValue result;
    RValue_SetReal(&result, 5);
    JS_GetProperty(nullptr, &result, "toString");
    EXPECT_EQ(result.kind, VALUE_UNSET);
    RValue function;
    RValue_SetUndefined(&function);
    RValue_SetReal(&result, 5);
    EXPECT_EQ(JS_CallValue(nullptr, &result, &function, 0, nullptr), 1);
    EXPECT_EQ(result.real, 5.0);  // nothing was called
}

}  // namespace
