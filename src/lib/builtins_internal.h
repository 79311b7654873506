// What the maths, string, array and geometry built-in files share: argument access that never reads past
// the count, working texts over the memory manager, and the registrars of each file.
#pragma once
#include "core/memory_manager.h"
#include "core/value.h"

#include <cstdint>
#include <string>
#include <vector>

struct CInstance;

using BuiltinText = std::basic_string<char, std::char_traits<char>, MemAllocator<char>>;
template <class T>
using BuiltinVector = std::vector<T, MemAllocator<T>>;

// Argument i as given, or undefined when the call gave fewer.
const RValue* Builtin_Arg(RValue* args, int32_t argc, int32_t i);

// True while a fatal report is ending the game (or an evaluation caught one): a built-in whose argument
// could not be read then changes no state and reports nothing more.
bool Builtin_Failed();

// π rounded to single precision and widened: every degree and radian conversion uses it.
constexpr double BUILTIN_PI = 3.1415927410125732;

// The random integer core: a uniform draw in 0 ... span - 1, span 0 standing for the full 2^64.
uint64_t IRandomSpan(uint64_t span);

float Point_Direction(float x1, float y1, float x2, float y2);
float LengthDir_X(float length, float direction);
float LengthDir_Y(float length, float direction);

// Each file registers its own built-ins; InitMathFunctions calls them in the table's order.
void BuiltinsArray_RegisterKindTests();
void BuiltinsArray_RegisterArrays();
void BuiltinsMath_RegisterNumbers();    // random ... ptr
void BuiltinsString_Register();         // string_format ... string_count
void BuiltinsGeometry_Register();       // point_distance ... dot_product_3d_normalised
void BuiltinsMath_RegisterEpsilon();    // math_set_epsilon, math_get_epsilon
void BuiltinsGeometry_RegisterAngleDifference();
