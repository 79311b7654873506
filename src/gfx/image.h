// Encoded images in memory (PNG, JPEG, GIF) decoded to 32-bit pixels, and PNG files written.
// Every decode gives 0xAARRGGBB words (bytes blue, green, red, alpha in memory), 8 bits a channel.
// Images wider or taller than IMAGE_MAX_SIZE are refused.
#pragma once
#include <cstdint>

constexpr int32_t IMAGE_MAX_SIZE = 8192;

// The texture scale divisor (texture_global_scale), 1 by default; it lives with the texture manager. PNG_Load
// and PNG_GetSize divide by it when asked to halve.
extern int32_t g_TextureScale;

// Decodes a PNG. The pixels stay held (and owned here) until PNG_Free; while an image is held, PNG_Load
// returns it again without looking at the new data, so callers free first. With halve and a texture scale
// of 2 or more the image is halved once per halving of the scale, stopping when a side falls below 2.
// Failure: null, width and height -1 ("Not a PNG" or "ReadPNG :: a PNG error occured" on the debug console).
uint8_t* PNG_Load(const uint8_t* data, int32_t length, int32_t* width, int32_t* height, bool halve);
// Releases the held image (nothing when none).
void PNG_Free();
// Reads only the header: the image size, divided by the texture scale when halve is set (the size
// PNG_Load would return). False with -1, -1 on failure.
bool PNG_GetSize(const uint8_t* data, int32_t length, int32_t* width, int32_t* height, bool halve);
// 2 x 2 box filter from a source of sourceWidth x sourceHeight to newWidth x newHeight pixels; destination
// may be the source.
void PNG_HalveImage(int32_t newWidth, int32_t newHeight, uint32_t* destination, int32_t sourceWidth,
                    int32_t sourceHeight, const uint32_t* source);

// New memory-manager pixel block (the caller frees it with MemFree) or null; width and height receive the size.
uint32_t* JPEG_Decode(const uint8_t* data, int32_t length, int32_t* width, int32_t* height);
uint32_t* GIF_Decode(const uint8_t* data, int32_t length, int32_t* width, int32_t* height);
// Header-only size readers (no pixels decoded); false when the header cannot be read or the size is refused.
bool JPEG_GetSize(const uint8_t* data, int32_t length, int32_t* width, int32_t* height);
bool GIF_GetSize(const uint8_t* data, int32_t length, int32_t* width, int32_t* height);

// Writes an 8-bit RGBA PNG into the save area; the pixels are width x height words whose bytes are red,
// green, blue, alpha in memory. False when the file cannot be made or libpng fails.
bool write_png_file(const char* name, const uint8_t* pixels, int32_t width, int32_t height);
