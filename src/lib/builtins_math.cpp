// Maths and number built-ins: random numbers, rounding, elementary functions, trigonometry, aggregates,
// conversions and the comparison epsilon; InitMathFunctions registers them with the string, array and
// geometry built-ins.
#include "core/arguments.h"
#include "core/convert.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/random.h"
#include "core/timing.h"
#include "core/value.h"
#include "lib/builtins_internal.h"
#include "lib/lib.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

const RValue kBuiltinMissing = {{0.0}, 0, VALUE_UNDEFINED};

void SetReal(RValue* result, double d) { RValue_SetReal(result, d); }

// ---- random numbers ----

// Two draws, low word first: the same 64 bits the generator has always given this core.
uint64_t RandomDraw64()
{
    const uint64_t lo = Random_Next();
    const uint64_t hi = Random_Next();
    return lo | (hi << 32);
}

// Uniform in lo ... hi inclusive, whatever the two ends (the span is unsigned, so the int64 ends fit).
int64_t RandomBetween(int64_t lo, int64_t hi)
{
    const uint64_t span = uint64_t(hi) - uint64_t(lo) + 1;
    return int64_t(uint64_t(lo) + IRandomSpan(span));
}

void F_Random(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    SetReal(result, Random_Real(1) * QZGR(args, 0));
}

void F_RandomRange(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const double a = QZGR(args, 0);
    const double b = QZGR(args, 1);
    SetReal(result, RandomRange(a, b));
}

void F_IRandom(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const int64_t n = GetArgInt64(args, 0);
    // A negative n draws the magnitude and negates it: 0 ... n on either side of 0.
    if (n < 0) SetReal(result, double(int64_t(0 - IRandomSpan(0 - uint64_t(n) + 1))));
    else SetReal(result, double(RandomBetween(0, n)));
}

void F_IRandomRange(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const int64_t a = GetArgInt64(args, 0);
    const int64_t b = GetArgInt64(args, 1);
    SetReal(result, double(RandomBetween(std::min(a, b), std::max(a, b))));
}

void F_RandomUseOldVersion(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const int32_t flag = QZGI32(args, 0);
    if (!Builtin_Failed()) Random_SetOldVersion(flag > 0);
    SetReal(result, 0);
}

void F_RandomSetSeed(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const uint32_t seed = QZGU32(args, 0);
    if (!Builtin_Failed()) Random_Seed(int32_t(seed));
    SetReal(result, 0);
}

void F_RandomGetSeed(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    SetReal(result, double(Random_GetSeed()));
}

// The one clock randomize reads. KV_TEST_RANDOMIZE_COUNTER=1 replaces it by a counter so that whole runs
// replay: the k-th call reads k * 16667.
uint64_t Randomize_Clock()
{
    static uint64_t calls = 0;
    const char* counter = std::getenv("KV_TEST_RANDOMIZE_COUNTER");
    if (counter && std::strcmp(counter, "1") == 0) return ++calls * 16667;
    return uint64_t(Timing_StartCount()) + uint64_t(Timing_Time());
}

void F_Randomize(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    const uint64_t t = Randomize_Clock();
    const uint32_t lo = uint32_t(t), hi = uint32_t(t >> 32);
    const uint32_t seed = (hi + lo) ^ ((lo >> 16) & 0xFFFF) ^ (lo << 16);
    Random_Seed(int32_t(seed));
    SetReal(result, double(seed));
}

// ---- rounding and elementary functions ----

template <double (*Fn)(double)>
void F_Unary(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    SetReal(result, Fn(QZGR(args, 0)));
}

double Math_Abs(double x) { return std::fabs(x); }
double Math_Round(double x) { return double(Real_ToInt32Round(x)); }
double Math_Floor(double x) { return std::floor(x); }
double Math_Ceil(double x) { return std::ceil(x); }
double Math_Sign(double x) { return x > 0 ? 1.0 : x == 0 ? 0.0 : -1.0; }
double Math_Frac(double x)
{
    double whole;
    return std::modf(x, &whole);
}
double Math_Sqr(double x) { return x * x; }
double Math_Exp(double x) { return std::exp(x); }
double Math_Ln(double x) { return std::log(x); }
double Math_Log2(double x) { return std::log(x) / std::log(2.0); }
double Math_Log10(double x) { return std::log10(x); }
double Math_DegToRad(double x) { return x * BUILTIN_PI / 180.0; }
double Math_RadToDeg(double x) { return x * 180.0 / BUILTIN_PI; }

void F_Sqrt(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const double x = QZGR(args, 0);
    if (x < 0) {
        Error_Show_Action("Cannot apply sqrt to negative number.", false);
        SetReal(result, 0);
        return;
    }
    SetReal(result, std::sqrt(x));
}

void F_Power(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const double x = QZGR(args, 0);
    SetReal(result, std::pow(x, QZGR(args, 1)));
}

void F_Logn(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const double n = QZGR(args, 0);
    SetReal(result, std::log(QZGR(args, 1)) / std::log(n));
}

// ---- trigonometry: single-precision arguments and results, tiny results snapped to 0 ----

constexpr float kTrigSnap = 0.00001f;

double Trig_Result(float f) { return std::fabs(f) < kTrigSnap ? 0.0 : double(f); }
float Trig_DegreesToRadians(float degrees) { return float(double(degrees) * BUILTIN_PI / 180.0); }
float Trig_RadiansToDegrees(float radians) { return float(double(radians) * 180.0 / BUILTIN_PI); }

template <double (*Fn)(double), bool Degrees>
void F_Trig(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    float x = QZGF(args, 0);
    if (Degrees) x = Trig_DegreesToRadians(x);
    SetReal(result, Trig_Result(float(Fn(double(x)))));
}

template <double (*Fn)(double), bool Degrees>
void F_TrigInverse(RValue* result, CInstance*, CInstance*, int32_t, RValue* args, const char* error)
{
    const float x = QZGF(args, 0);
    if (error && !(x >= -1.0f && x <= 1.0f)) {
        Error_Show_Action(error, false);
        SetReal(result, 0);
        return;
    }
    float a = float(Fn(double(x)));
    if (Degrees) a = Trig_RadiansToDegrees(a);
    SetReal(result, Trig_Result(a));
}

double Trig_Sin(double x) { return std::sin(x); }
double Trig_Cos(double x) { return std::cos(x); }
double Trig_Tan(double x) { return std::tan(x); }
double Trig_Asin(double x) { return std::asin(x); }
double Trig_Acos(double x) { return std::acos(x); }
double Trig_Atan(double x) { return std::atan(x); }

void F_ArcSin(RValue* r, CInstance* s, CInstance* o, int32_t n, RValue* a)
{
    F_TrigInverse<Trig_Asin, false>(r, s, o, n, a, "Error in function arcsin().");
}
void F_ArcCos(RValue* r, CInstance* s, CInstance* o, int32_t n, RValue* a)
{
    F_TrigInverse<Trig_Acos, false>(r, s, o, n, a, "Error in function arccos().");
}
void F_ArcTan(RValue* r, CInstance* s, CInstance* o, int32_t n, RValue* a)
{
    F_TrigInverse<Trig_Atan, false>(r, s, o, n, a, nullptr);
}
void F_DArcSin(RValue* r, CInstance* s, CInstance* o, int32_t n, RValue* a)
{
    F_TrigInverse<Trig_Asin, true>(r, s, o, n, a, "Error in function arcsin().");
}
void F_DArcCos(RValue* r, CInstance* s, CInstance* o, int32_t n, RValue* a)
{
    F_TrigInverse<Trig_Acos, true>(r, s, o, n, a, "Error in function arccos().");
}
void F_DArcTan(RValue* r, CInstance* s, CInstance* o, int32_t n, RValue* a)
{
    F_TrigInverse<Trig_Atan, true>(r, s, o, n, a, nullptr);
}

template <bool Degrees>
void F_ArcTan2(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const float y = QZGF(args, 0);
    const float x = QZGF(args, 1);
    float a = float(std::atan2(double(y), double(x)));
    if (Degrees) a = Trig_RadiansToDegrees(a);
    SetReal(result, Trig_Result(a));
}

// ---- aggregates ----

template <bool Min>
void F_MinMax(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    if (argc <= 0 || !args) {
        SetReal(result, 0);
        return;
    }
    RValue_Copy(result, &args[0]);
    double best = QZGR(args, 0);
    for (int32_t i = 1; i < argc; ++i) {
        const double x = QZGR(args, i);
        if (Min ? x < best : x > best) {
            best = x;
            RValue_Copy(result, &args[i]);
        }
    }
}

void F_Mean(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    if (argc <= 0 || !args) {
        SetReal(result, 0);
        return;
    }
    double sum = 0;
    for (int32_t i = 0; i < argc; ++i) sum += QZGR(args, i);
    SetReal(result, sum / argc);
}

void F_Median(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    if (argc <= 0 || !args) {
        SetReal(result, 0);
        return;
    }
    BuiltinVector<double> values(static_cast<size_t>(argc));
    for (int32_t i = 0; i < argc; ++i) values[size_t(i)] = QZGR(args, i);
    // NaN goes after every number: a comparison by the sign of the difference is no order with NaN.
    std::sort(values.begin(), values.end(),
              [](double a, double b) { return std::isnan(b) ? !std::isnan(a) : a < b; });
    SetReal(result, values[size_t(argc / 2)]);
}

int32_t Choose_Index(int32_t count)
{
    const auto index = int32_t(Random_Int(count));
    return index < count ? index : count - 1;
}

void F_Choose(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    if (argc <= 0 || !args) {
        SetReal(result, 0);
        return;
    }
    RValue_Copy(result, &args[Choose_Index(argc)]);
}

void F_Clamp(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const double value = QZGR(args, 0);
    const double lo = QZGR(args, 1);
    const double hi = QZGR(args, 2);
    const double m = lo > value ? lo : value;
    SetReal(result, m > hi ? hi : m);
}

void F_Lerp(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const double a = QZGR(args, 0);
    const double b = QZGR(args, 1);
    const double t = QZGR(args, 2);
    SetReal(result, a + t * (b - a));
}

// ---- conversions: each works on a copy, since reading an array may give the value a private copy ----

void F_Real(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue copy;
    RValue_SetUndefined(&copy);
    RValue_Copy(&copy, Builtin_Arg(args, argc, 0));
    const double d = RValue_ToReal(&copy);
    RValue_Free(&copy);
    SetReal(result, d);
}

void F_String(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    size_t capacity = 256;
    char* start = static_cast<char*>(MemAlloc(capacity));
    start[0] = '\0';
    char* pos = start;
    RValue_AppendText(&pos, &start, &capacity, const_cast<RValue*>(Builtin_Arg(args, argc, 0)));
    RValue_SetString(result, start);
    MemFree(start);
}

void F_Int64(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue copy;
    RValue_SetUndefined(&copy);
    RValue_Copy(&copy, Builtin_Arg(args, argc, 0));
    const int64_t i = RValue_ToInt64(&copy);
    RValue_Free(&copy);
    RValue_SetInt64(result, i);
}

void F_Ptr(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue copy;
    RValue_SetUndefined(&copy);
    RValue_Copy(&copy, Builtin_Arg(args, argc, 0));
    const intptr_t p = RValue_ToPtr(&copy);
    RValue_Free(&copy);
    RValue_SetPtr(result, reinterpret_cast<void*>(p));
}

// ---- the comparison epsilon ----

void F_MathSetEpsilon(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const double epsilon = QZGR(args, 0);
    if (!Builtin_Failed()) Math_SetEpsilon(epsilon);
    SetReal(result, 0);
}

void F_MathGetEpsilon(RValue* result, CInstance*, CInstance*, int32_t, RValue*) { SetReal(result, Math_Epsilon); }

}  // namespace

bool Builtin_Failed() { return g_ErrorQuitting || g_ErrorCaught; }

const RValue* Builtin_Arg(RValue* args, int32_t argc, int32_t i)
{
    return args && i >= 0 && i < argc ? &args[i] : &kBuiltinMissing;
}

uint64_t IRandomSpan(uint64_t span)
{
    const uint64_t draw = RandomDraw64();
    if (span == 0) return draw;  // the whole 64-bit range
    // Spans that fit in 63 bits reduce the draw without its top bit, as they always have.
    if (span <= (uint64_t(1) << 63)) return (draw & ~(uint64_t(1) << 63)) % span;
    return draw % span;
}

double RandomRange(double a, double b)
{
    const double lo = a < b ? a : b;
    const double hi = a < b ? b : a;
    return lo + (hi - lo) * Random_Real(1);
}

RValue* ChooseArgument(RValue* result, int32_t count, RValue** args)
{
    if (count <= 0 || !args) {
        RValue_Free(result);
        RValue_SetReal(result, 0);
        return result;
    }
    const RValue* chosen = args[Choose_Index(count)];
    // Numbers (what compiled code mostly passes) are copied whole: no reference to count or release.
    const uint32_t kind = RValue_Kind(chosen);
    const uint32_t held = RValue_Kind(result);
    if (held != VALUE_STRING && held != VALUE_ARRAY && (kind == VALUE_REAL || kind == VALUE_INT64 || kind == VALUE_BOOL)) {
        *result = *chosen;
        return result;
    }
    RValue_Copy(result, chosen);
    return result;
}

void BuiltinsMath_RegisterNumbers()
{
    Function_Add("random", F_Random, 1, false);
    Function_Add("random_range", F_RandomRange, 2, false);
    Function_Add("irandom", F_IRandom, 1, false);
    Function_Add("irandom_range", F_IRandomRange, 2, false);
    Function_Add("random_use_old_version", F_RandomUseOldVersion, 1, false);
    Function_Add("random_set_seed", F_RandomSetSeed, 1, false);
    Function_Add("random_get_seed", F_RandomGetSeed, 0, false);
    Function_Add("randomize", F_Randomize, 0, false);
    Function_Add("abs", F_Unary<Math_Abs>, 1, false);
    Function_Add("round", F_Unary<Math_Round>, 1, false);
    Function_Add("floor", F_Unary<Math_Floor>, 1, false);
    Function_Add("ceil", F_Unary<Math_Ceil>, 1, false);
    Function_Add("sign", F_Unary<Math_Sign>, 1, false);
    Function_Add("frac", F_Unary<Math_Frac>, 1, false);
    Function_Add("sqrt", F_Sqrt, 1, false);
    Function_Add("sqr", F_Unary<Math_Sqr>, 1, false);
    Function_Add("exp", F_Unary<Math_Exp>, 1, false);
    Function_Add("ln", F_Unary<Math_Ln>, 1, false);
    Function_Add("log2", F_Unary<Math_Log2>, 1, false);
    Function_Add("log10", F_Unary<Math_Log10>, 1, false);
    Function_Add("sin", F_Trig<Trig_Sin, false>, 1, false);
    Function_Add("cos", F_Trig<Trig_Cos, false>, 1, false);
    Function_Add("tan", F_Trig<Trig_Tan, false>, 1, false);
    Function_Add("arcsin", F_ArcSin, 1, false);
    Function_Add("arccos", F_ArcCos, 1, false);
    Function_Add("arctan", F_ArcTan, 1, false);
    Function_Add("arctan2", F_ArcTan2<false>, 2, false);
    Function_Add("dsin", F_Trig<Trig_Sin, true>, 1, false);
    Function_Add("dcos", F_Trig<Trig_Cos, true>, 1, false);
    Function_Add("dtan", F_Trig<Trig_Tan, true>, 1, false);
    Function_Add("darcsin", F_DArcSin, 1, false);
    Function_Add("darccos", F_DArcCos, 1, false);
    Function_Add("darctan", F_DArcTan, 1, false);
    Function_Add("darctan2", F_ArcTan2<true>, 2, false);
    Function_Add("degtorad", F_Unary<Math_DegToRad>, 1, false);
    Function_Add("radtodeg", F_Unary<Math_RadToDeg>, 1, false);
    Function_Add("power", F_Power, 2, false);
    Function_Add("logn", F_Logn, 2, false);
    Function_Add("min", F_MinMax<true>, -1, false);
    Function_Add("max", F_MinMax<false>, -1, false);
    Function_Add("min3", F_MinMax<true>, 3, false);
    Function_Add("max3", F_MinMax<false>, 3, false);
    Function_Add("mean", F_Mean, -1, false);
    Function_Add("median", F_Median, -1, false);
    Function_Add("choose", F_Choose, -1, false);
    Function_Add("clamp", F_Clamp, 3, false);
    Function_Add("lerp", F_Lerp, 3, false);
    Function_Add("real", F_Real, 1, false);
    Function_Add("string", F_String, 1, false);
    Function_Add("int64", F_Int64, 1, false);
    Function_Add("ptr", F_Ptr, 1, false);
}

void BuiltinsMath_RegisterEpsilon()
{
    Function_Add("math_set_epsilon", F_MathSetEpsilon, 1, false);
    Function_Add("math_get_epsilon", F_MathGetEpsilon, 0, false);
}

void InitMathFunctions()
{
    BuiltinsArray_RegisterKindTests();
    BuiltinsArray_RegisterArrays();
    BuiltinsMath_RegisterNumbers();
    BuiltinsString_Register();
    BuiltinsGeometry_Register();
    BuiltinsMath_RegisterEpsilon();
    BuiltinsGeometry_RegisterAngleDifference();
}
