// Conversions between the engine's colour forms.
#pragma once
#include <cstdint>

// A script colour (0x00BBGGRR) with an alpha byte as a vertex colour (0xAARRGGBB).
uint32_t Colour_ToARGB(uint32_t colour, uint32_t alpha);
