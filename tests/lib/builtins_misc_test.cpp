// show_debug_message: one line on the release console with the value's text, whatever it holds.
#include "lib/builtins_misc.h"

#include "core/console.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

class ShowDebugMessage : public testing::Test {
protected:
    void SetUp() override
    {
        saved_ = ReleaseConsole;
        ReleaseConsole = &console_;
    }
    void TearDown() override { ReleaseConsole = saved_; }

    // What one call prints for the value make builds (none: no argument), with the memory totals checked.
    std::string Print(const std::function<void(RValue*)>& make, int32_t argc = 1)
    {
        RValue value, result;
        RValue_SetUndefined(&value);
        if (make) make(&value);
        RValue_SetReal(&result, 0);
        const MemoryProbe before = MemoryManager_Probe();
        console_.text.clear();
        F_ShowDebugMessage(&result, nullptr, nullptr, argc, argc ? &value : nullptr);
        const MemoryProbe after = MemoryManager_Probe();
        EXPECT_EQ(after.liveBlocks, before.liveBlocks);
        EXPECT_EQ(after.heapBytesInUse, before.heapBytesInUse);
        EXPECT_EQ(RValue_Kind(&result), uint32_t(VALUE_REAL)) << "the result stays real 0";
        EXPECT_EQ(result.real, 0.0);
        RValue_Free(&value);
        return console_.text;
    }

    kvtest::RecordingConsole console_;
    tagIConsole* saved_ = nullptr;
};

void ShowDebugMessageTest_Array(RValue* v, int32_t rows, int32_t columns)
{
    for (int32_t r = 0; r < rows; ++r)
        for (int32_t c = 0; c < columns; ++c) {
            RValue item;
            RValue_SetReal(&item, r * 100 + c);
            RValue_SetWithIndex(v, &item, r * 32000 + c);
        }
}

TEST_F(ShowDebugMessage, PrintsTheTextOfEveryKindOnOneLine)
{
    std::string wide;
    for (int32_t c = 0; c < 120; ++c) wide += (c ? "," : "") + std::to_string(c);
    const std::string longText(5000, 'x');
    struct Row {
        const char* what;
        std::function<void(RValue*)> make;
        std::string line;
    };
    const Row rows[] = {
        {"a string", [](RValue* v) { RValue_SetString(v, "plain text"); }, "plain text\n"},
        {"conversions in a string stay text", [](RValue* v) { RValue_SetString(v, "100% %s %d %n"); },
         "100% %s %d %n\n"},
        {"an empty string", [](RValue* v) { RValue_SetString(v, ""); }, "\n"},
        {"a string longer than the text block", [&](RValue* v) { RValue_SetString(v, longText.c_str()); },
         longText + "\n"},
        {"a whole real", [](RValue* v) { RValue_SetReal(v, 3); }, "3\n"},
        {"a real with a fraction", [](RValue* v) { RValue_SetReal(v, 2.5); }, "2.50\n"},
        {"a negative real", [](RValue* v) { RValue_SetReal(v, -1.75); }, "-1.75\n"},
        {"an int64", [](RValue* v) { RValue_SetInt64(v, -9000000000); }, "-9000000000\n"},
        {"undefined", [](RValue* v) { RValue_SetUndefined(v); }, "undefined\n"},
        {"a 2-D array", [](RValue* v) { ShowDebugMessageTest_Array(v, 2, 2); }, "{ { 0,1 }, { 100,101 },  }\n"},
        {"an array whose text outgrows the first block", [](RValue* v) { ShowDebugMessageTest_Array(v, 1, 120); },
         "{ { " + wide + " },  }\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Print(row.make), row.line);
    }
    SCOPED_TRACE("no argument");
    EXPECT_EQ(Print(nullptr, 0), "undefined\n");
}

TEST_F(ShowDebugMessage, IsRegisteredByTheMiscFamily)
{
    Function_Free();
    InitMiscFunctions();
    int32_t id = -1;
    ASSERT_TRUE(Code_Function_Find("show_debug_message", &id));
    const char* name = nullptr;
    TRoutine handler = nullptr;
    int32_t argumentCount = 0;
    bool flag = true;
    ASSERT_TRUE(Function_GetInfo(id, &name, &handler, &argumentCount, &flag));
    EXPECT_EQ(handler, &F_ShowDebugMessage);
    EXPECT_EQ(argumentCount, 1);
    EXPECT_FALSE(flag);
    Function_Free();
}

}  // namespace
