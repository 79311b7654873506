// Scripts give the maths, string, array, geometry and date built-ins any values at all. The input is a
// sequence of calls: a byte picks the built-in from a fixed list (names that are not registered are passed
// over), a byte gives the argument count, and each argument is a kind byte and its payload (reals from eight
// bytes or a table of awkward ones, strings of raw bytes, int64s, int32s, bools, undefined, a small array, or
// the previous call's result). Whatever they are: no crash, every string result ends in a NUL at its
// recorded length, and everything is given back once the values go.
#include "core/console.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/vm.h"
#include "lib/lib.h"
#include "platform/hooks.h"
#include "world/command_line.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

struct FuzzLib_Quiet final : tagIConsole {
    void Output(const char*, ...) override {}
};

// No window, clipboard, events, processes or external libraries: these only compute.
const char* const kFuzzLibNames[] = {
    "is_bool", "is_real", "is_string", "is_array", "is_undefined", "is_int32", "is_int64", "is_ptr", "is_vec3",
    "is_vec4", "is_matrix", "array_length_1d", "array_length_2d", "array_height_2d", "array_get", "array_set",
    "array_set_pre", "array_set_post", "array_get_2D", "array_set_2D", "array_set_2D_pre", "array_set_2D_post",
    "random", "random_range", "irandom", "irandom_range", "random_use_old_version", "random_set_seed",
    "random_get_seed", "randomize", "abs", "round", "floor", "ceil", "sign", "frac", "sqrt", "sqr", "exp", "ln",
    "log2", "log10", "sin", "cos", "tan", "arcsin", "arccos", "arctan", "arctan2", "dsin", "dcos", "dtan",
    "darcsin", "darccos", "darctan", "darctan2", "degtorad", "radtodeg", "power", "logn", "min", "max", "min3",
    "max3", "mean", "median", "choose", "clamp", "lerp", "real", "string", "int64", "ptr", "string_format", "chr",
    "ansi_char", "ord", "string_length", "string_pos", "string_copy", "string_char_at", "string_ord_at",
    "string_byte_length", "string_byte_at", "string_set_byte_at", "string_delete", "string_insert", "string_lower",
    "string_upper", "string_repeat", "string_letters", "string_digits", "string_lettersdigits", "string_replace",
    "string_replace_all", "string_count", "point_distance", "point_direction", "lengthdir_x", "lengthdir_y",
    "point_distance_3d", "dot_product", "dot_product_normalised", "dot_product_3d", "dot_product_3d_normalised",
    "math_set_epsilon", "math_get_epsilon", "angle_difference",
    // Dates, when registered.
    "date_current_datetime", "date_current_date", "date_current_time", "date_create_datetime", "date_create_date",
    "date_create_time", "date_valid_datetime", "date_valid_date", "date_valid_time", "date_inc_year",
    "date_inc_month", "date_inc_week", "date_inc_day", "date_inc_hour", "date_inc_minute", "date_inc_second",
    "date_get_year", "date_get_month", "date_get_week", "date_get_day", "date_get_hour", "date_get_minute",
    "date_get_second", "date_get_weekday", "date_get_day_of_year", "date_get_hour_of_year",
    "date_get_minute_of_year", "date_get_second_of_year", "date_year_span", "date_month_span", "date_week_span",
    "date_day_span", "date_hour_span", "date_minute_span", "date_second_span", "date_compare_datetime",
    "date_compare_date", "date_compare_time", "date_date_of", "date_time_of", "date_datetime_string",
    "date_date_string", "date_time_string", "date_days_in_month", "date_days_in_year", "date_leap_year",
    "date_is_today", "date_set_timezone", "date_get_timezone"};

const double kFuzzLibReals[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2.5, -2.5, 1e300, -1e300, 5e-324,
                                std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(), 2147483648.0, -2147483649.0, 3e9,
                                9.2233720368547758e18, -9.2233720368547758e18, 32000, 31999, 1e6, 25569, 2958465,
                                4294967295.0, 0x1p63, 65536, 2047, 128};

struct FuzzLib_Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool More() const { return at < size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    uint64_t Word(int bytes)
    {
        uint64_t w = 0;
        for (int i = 0; i < bytes; ++i) w |= uint64_t(Byte()) << (8 * i);
        return w;
    }
};

void FuzzLib_Value(FuzzLib_Reader& in, RValue* v, const RValue* previous)
{
    RValue_SetUndefined(v);
    switch (in.Byte() % 9) {
    case 0: {
        const uint64_t bits = in.Word(8);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        RValue_SetReal(v, d);
        break;
    }
    case 1: RValue_SetReal(v, kFuzzLibReals[in.Byte() % std::size(kFuzzLibReals)]); break;
    case 2: {
        // Raw bytes: truncated and invalid UTF-8 welcome; a NUL ends the text early.
        size_t n = in.Byte();
        if (n == 255) n = in.Word(2);
        std::vector<char> bytes;
        for (size_t i = 0; i < n && in.More(); ++i) bytes.push_back(char(in.Byte()));
        bytes.push_back('\0');
        RValue_SetString(v, bytes.data());
        break;
    }
    case 3: RValue_SetInt64(v, int64_t(in.Word(8))); break;
    case 4: RValue_SetInt32(v, int32_t(in.Word(4))); break;
    case 5: RValue_SetBool(v, in.Byte() & 1); break;
    case 6: {
        const int32_t rows = in.Byte() % 3, columns = in.Byte() % 4;
        for (int32_t r = 0; r < rows; ++r)
            for (int32_t c = 0; c < columns; ++c) {
                RValue item;
                RValue_SetReal(&item, r * 10 + c);
                RValue_SetWithIndex(v, &item, r * ARRAY_INDEX_STRIDE + c);
            }
        break;
    }
    case 7: RValue_Copy(v, previous); break;
    default: break;  // undefined
    }
}

void FuzzLib_CheckStrings(const RValue* v)
{
    if (RValue_Kind(v) != VALUE_STRING || !v->str || !v->str->text) return;
    if (v->str->length < 0 || v->str->text[v->str->length] != '\0') std::abort();
    if (std::strlen(v->str->text) != size_t(v->str->length)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 16)) return 0;
    static int32_t repeatIndex = -1;
    static std::vector<int32_t> indices = [] {
        g_RunFlags.headless = true;
        Platform_SetExitHook([](int) {});
        static FuzzLib_Quiet quiet;
        DebugConsole = &quiet;
        ReleaseConsole = &quiet;
        InitMathFunctions();
        InitMiscFunctions();
        std::vector<int32_t> found;
        for (const char* name : kFuzzLibNames)
            for (int32_t i = 0; i < Function_Count(); ++i)
                if (std::strcmp(Function_Entry(i)->name, name) == 0) {
                    if (std::strcmp(name, "string_repeat") == 0) repeatIndex = i;
                    found.push_back(i);
                    break;
                }
        return found;
    }();
    const MemoryProbe before = MemoryManager_Probe();
    {
        FuzzLib_Reader in{data, size};
        RValue previous;
        RValue_SetUndefined(&previous);
        for (int call = 0; call < 64 && in.More(); ++call) {
            const int32_t index = indices[in.Byte() % indices.size()];
            const int argc = in.Byte() % 8;
            RValue values[8];
            RValue* pointers[8];
            for (int i = 0; i < argc; ++i) {
                FuzzLib_Value(in, &values[i], &previous);
                pointers[i] = &values[i];
            }
            // Results up to 2 GB are allowed; the fuzzer's memory limit is not, so repeats stay small.
            if (index == repeatIndex && argc >= 2) {
                RValue_Free(&values[1]);
                RValue_SetReal(&values[1], in.Byte());
            }
            RValue result;
            RValue_SetUndefined(&result);
            CallBuiltin(nullptr, nullptr, &result, argc, index, pointers);
            FuzzLib_CheckStrings(&result);
            for (int i = 0; i < argc; ++i) {
                FuzzLib_CheckStrings(&values[i]);  // the arguments are never changed in place
                RValue_Free(&values[i]);
            }
            RValue_Free(&previous);
            previous = result;
            Error_ResetState();
        }
        RValue_Free(&previous);
    }
    Error_ResetState();
    const MemoryProbe after = MemoryManager_Probe();
    if (after.liveBlocks != before.liveBlocks || after.heapBytesInUse != before.heapBytesInUse) std::abort();
    return 0;
}
