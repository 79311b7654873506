// Conversions between the engine's colour forms (script BGR, vertex ARGB, HSV and RGB byte records, float
// alpha), the colour mix, and the vector normaliser the axis rotation uses. Their exact roundings are what
// the colour built-ins and the particle colour modes show to scripts.
#pragma once
#include <cstdint>

// Hue (0..255 spans 0..360 degrees), saturation, value.
struct ColourHSV {
    uint8_t hue, saturation, value;
};
// Byte 0 blue, byte 1 green, byte 2 red: read in that order it is the script colour.
struct ColourRGB {
    uint8_t blue, green, red;
};

struct Vector3 {
    float x, y, z;
};

// A script colour (0x00BBGGRR) with an alpha byte as a vertex colour (0xAARRGGBB).
uint32_t Colour_ToARGB(uint32_t colour, uint32_t alpha);
// The low 24 bits kept as they are, with the alpha byte on top.
uint32_t Colour_WithAlpha(uint32_t colour, uint32_t alpha);
// The vertex colour of a script colour and a float alpha.
uint32_t Colour_ToARGBAlpha(uint32_t colour, float alpha);
// Alpha clamped to 0..1, times 255, truncated; NaN gives 0.
int32_t Colour_AlphaToByte(float alpha);
// Each channel c1 (1 - amount) + c2 amount rounded half to even, low 8 bits kept (amounts are not clamped).
uint32_t Colour_Merge(uint32_t colour1, uint32_t colour2, double amount);

void HSV_Set(ColourHSV* record, uint8_t hue, uint8_t saturation, uint8_t value);
ColourHSV Colour_ToHSV(uint32_t colour);
uint32_t HSV_ToColour(const ColourHSV& hsv);
void ColourRGB_Set(ColourRGB* record, uint8_t red, uint8_t green, uint8_t blue);
uint32_t ColourRGB_ToColour(const ColourRGB& record);

// Both in single precision, step by step, so that hue and value round as scripts have always seen them.
ColourHSV RGB_ToHSVBytes(uint8_t red, uint8_t green, uint8_t blue);
ColourRGB HSVBytes_ToRGB(uint8_t hue, uint8_t saturation, uint8_t value);

// Length through double, each step rounded to float; a zero vector becomes NaN.
void Vector3_Normalise(Vector3* v);
