// Textured quads: whole texture pages (by table index) and texture-page entries, written into the vertex batch.
// Every writer returns false when the page (an entry's page) is not live, and true otherwise.
#pragma once
#include <cstdint>

struct NativeTexture;
struct TexturePageEntry;

// shader_enable_corner_id: vertex colours carry the corner's id in bit 0 and bit 16.
extern bool GR_CornerIdEnabled;

bool GR_Texture_Draw(int32_t page, float x, float y);
bool GR_TPE_Draw(TexturePageEntry* entry, float x, float y);
bool GR_TPE_DrawPos(TexturePageEntry* entry, float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                    float y4, uint32_t colour, float alpha);
bool GR_Texture_DrawExt(int32_t page, float xOrigin, float yOrigin, float x, float y, float xScale, float yScale,
                        float angle, uint32_t colour, float alpha);
bool GR_TPE_DrawExt(TexturePageEntry* entry, float xOrigin, float yOrigin, float x, float y, float xScale,
                    float yScale, float angle, uint32_t colour, float alpha);
bool GR_Texture_DrawPart(int32_t page, float left, float top, float width, float height, float x, float y,
                         float xScale, float yScale, float angle, uint32_t colour, float alpha);
bool GR_TPE_DrawPart(TexturePageEntry* entry, float left, float top, float width, float height, float x, float y,
                     float xScale, float yScale, float angle, uint32_t colour, float alpha);
bool GR_Texture_DrawGeneral(int32_t page, float left, float top, float width, float height, float x, float y,
                            float xScale, float yScale, float angle, uint32_t colourTL, uint32_t colourTR,
                            uint32_t colourBR, uint32_t colourBL, float alpha);
bool GR_TPE_DrawGeneral(TexturePageEntry* entry, float left, float top, float width, float height, float x, float y,
                        float xScale, float yScale, float angle, uint32_t colourTL, uint32_t colourTR,
                        uint32_t colourBR, uint32_t colourBL, float alpha);
bool GR_Texture_DrawTiled(int32_t page, float xOrigin, float yOrigin, float x, float y, float xScale, float yScale,
                          bool tileX, bool tileY, float viewLeft, float viewTop, float viewWidth, float viewHeight,
                          uint32_t colour, float alpha);
bool GR_TPE_DrawTiled(TexturePageEntry* entry, float xOrigin, float yOrigin, float x, float y, float xScale,
                      float yScale, bool tileX, bool tileY, float viewLeft, float viewTop, float viewWidth,
                      float viewHeight, uint32_t colour, float alpha);
// One quad, corners TL, TR, BR, BL, with their texture coordinates' bounds and colours (ARGB).
void GR_Texture_DrawQuad(NativeTexture* texture, float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                         float y4, float uLeft, float vTop, float uRight, float vBottom, uint32_t colourTL,
                         uint32_t colourTR, uint32_t colourBR, uint32_t colourBL);
