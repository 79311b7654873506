// Colour conversions and the colour mix.
#include "gfx/colour.h"

#include "core/convert.h"

#include <cmath>

uint32_t Colour_ToARGB(uint32_t colour, uint32_t alpha)
{
    const uint32_t red = colour & 0xFF, green = (colour >> 8) & 0xFF, blue = (colour >> 16) & 0xFF;
    return (alpha << 24) | (red << 16) | (green << 8) | blue;
}

uint32_t Colour_WithAlpha(uint32_t colour, uint32_t alpha) { return (alpha << 24) | (colour & 0xFFFFFF); }

uint32_t Colour_ToARGBAlpha(uint32_t colour, float alpha)
{
    return Colour_ToARGB(colour, uint32_t(Colour_AlphaToByte(alpha)));
}

int32_t Colour_AlphaToByte(float alpha)
{
    if (!(alpha >= 0.0f)) return 0;  // NaN too
    if (alpha > 1.0f) alpha = 1.0f;
    return int32_t(alpha * 255.0f);
}

uint32_t Colour_Merge(uint32_t colour1, uint32_t colour2, double amount)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const double c1 = double((colour1 >> shift) & 0xFF), c2 = double((colour2 >> shift) & 0xFF);
        // NaN and huge amounts give INT32_MIN, whose low byte is 0.
        const uint32_t channel = uint32_t(Real_ToInt32Round(c1 * (1.0 - amount) + c2 * amount)) & 0xFF;
        out |= channel << shift;
    }
    return out;
}

void HSV_Set(ColourHSV* record, uint8_t hue, uint8_t saturation, uint8_t value)
{
    record->hue = hue;
    record->saturation = saturation;
    record->value = value;
}

ColourHSV Colour_ToHSV(uint32_t colour)
{
    return RGB_ToHSVBytes(uint8_t(colour & 0xFF), uint8_t((colour >> 8) & 0xFF), uint8_t((colour >> 16) & 0xFF));
}

uint32_t HSV_ToColour(const ColourHSV& hsv)
{
    const ColourRGB rgb = HSVBytes_ToRGB(hsv.hue, hsv.saturation, hsv.value);
    return (uint32_t(rgb.blue) << 16) | (uint32_t(rgb.green) << 8) | rgb.red;
}

void ColourRGB_Set(ColourRGB* record, uint8_t red, uint8_t green, uint8_t blue)
{
    record->blue = blue;
    record->green = green;
    record->red = red;
}

uint32_t ColourRGB_ToColour(const ColourRGB& record)
{
    return (uint32_t(record.blue) << 16) | (uint32_t(record.green) << 8) | record.red;
}

namespace {

// Truncated toward zero and clamped to a byte.
uint8_t ColourClampByte(float scaled)
{
    if (!(scaled > 0.0f)) return 0;
    if (scaled >= 255.0f) return 255;
    return uint8_t(scaled);
}

}  // namespace

ColourHSV RGB_ToHSVBytes(uint8_t red, uint8_t green, uint8_t blue)
{
    const float r = float(red) / 255.0f, g = float(green) / 255.0f, b = float(blue) / 255.0f;
    const float max = std::fmax(r, std::fmax(g, b)), min = std::fmin(r, std::fmin(g, b));
    const float d = max - min;
    const float v = max;
    const float s = max != 0.0f ? d / max : 0.0f;
    float h = 0.0f;
    if (s != 0.0f) {
        if (r == max)
            h = (g - b) * 60.0f / d;
        else if (g == max)
            h = (b - r) * 60.0f / d + 120.0f;
        else
            h = (r - g) * 60.0f / d + 240.0f;
        if (h < 0.0f) h += 360.0f;
    }
    return {ColourClampByte(h * 255.0f / 360.0f + 0.5f), ColourClampByte(s * 255.0f + 0.5f),
            ColourClampByte(v * 255.0f + 0.5f)};
}

ColourRGB HSVBytes_ToRGB(uint8_t hue, uint8_t saturation, uint8_t value)
{
    float h = float(hue) * 360.0f / 255.0f;
    if (h == 360.0f) h = 0.0f;
    const float s = float(saturation) / 255.0f, v = float(value) / 255.0f;
    float r = v, g = v, b = v;
    if (s != 0.0f) {
        const float sector = h / 60.0f;
        const int i = int(sector);
        const float f = sector - float(i);
        const float p = (1.0f - s) * v, q = (1.0f - f * s) * v, t = (1.0f - (1.0f - f) * s) * v;
        switch (i) {
            case 0: r = v, g = t, b = p; break;
            case 1: r = q, g = v, b = p; break;
            case 2: r = p, g = v, b = t; break;
            case 3: r = p, g = q, b = v; break;
            case 4: r = t, g = p, b = v; break;
            default: r = v, g = p, b = q; break;
        }
    }
    ColourRGB out;
    ColourRGB_Set(&out, ColourClampByte(r * 255.0f + 0.5f), ColourClampByte(g * 255.0f + 0.5f),
                  ColourClampByte(b * 255.0f + 0.5f));
    return out;
}

void Vector3_Normalise(Vector3* v)
{
    const double x = v->x, y = v->y, z = v->z;
    const float squared = float(x * x + y * y + z * z);
    const float length = float(std::sqrt(double(squared)));
    const float inverse = float(1.0 / double(length));
    v->x *= inverse;
    v->y *= inverse;
    v->z *= inverse;
}
