// Pixel transfers between the device and memory: reading what is being drawn (the back buffer, or the surface
// bound as target), reading and writing a rectangle of a texture, and copying between textures. Every one
// flushes the batch first, so pending drawing is in the pixels.
//
// Pixel blocks are 32-bit A8R8G8B8 words (bytes blue, green, red, alpha in memory), rows top to bottom, pitch
// width x 4, zero-filled memory-manager blocks the caller frees with MemFree. Failures give null or do nothing,
// silently.
#pragma once
#include <cstdint>

struct NativeTexture;
class TBitmap;

// A rectangle of the current drawing target, cut to the area (areaWidth x areaHeight) and to the target;
// width and height receive the size read. Negative x or y read from 0.
uint32_t* GR_Screen_ReadPixels(int32_t areaWidth, int32_t areaHeight, int32_t x, int32_t y, int32_t* width,
                               int32_t* height);
// A width x height block whatever part of it the texture covers; the rest stays zero.
uint32_t* GR_Texture_ReadPixels(NativeTexture* texture, int32_t x, int32_t y, int32_t width, int32_t height);
// The same for a texture-table page.
uint32_t* GR_Texture_ReadPixels(int32_t page, int32_t x, int32_t y, int32_t width, int32_t height);
// A block of width x height pixels into the texture at (x, y), cut to the texture.
void GR_Texture_WritePixels(const uint32_t* pixels, NativeTexture* texture, int32_t x, int32_t y, int32_t width,
                            int32_t height);
// A rectangle of source at (sx, sy) to destination at (x, y); parts outside either texture are left out.
void GR_Texture_CopyRect(NativeTexture* destination, int32_t x, int32_t y, NativeTexture* source, int32_t sx,
                         int32_t sy, int32_t width, int32_t height);

// One pixel of the render area as 0xAABBGGRR; 0 when nothing could be read.
uint32_t GR_GetPixel(int32_t x, int32_t y);
// A rectangle of what is drawn, cut to the view, as a new 32-bit bitmap; null when nothing is left.
TBitmap* GR_ScreenToBitmap(int32_t x, int32_t y, int32_t width, int32_t height);
// A new 32-bit bitmap holding a width x height pixel block (rows copied as they are).
TBitmap* ReadBack_ToBitmap(const uint32_t* pixels, int32_t width, int32_t height);

// Test switch KV_TEST_SNAPSHOT=<frame>:<file>: called at the end of every frame, before the present, with the
// frame's number as the frame limit counts it; in the named frame the whole back buffer is written to the file
// as an 8-bit RGBA PNG. False when the frame is not the named one or the snapshot failed.
bool ReadBack_TestSnapshot(int32_t frame);
