// Until vector sprites exist: their content is dropped on load and their draws only reach the test hooks.
#include "draw/vector_sprite.h"

#include "core/seam_trace.h"
#include "draw/sprite.h"

namespace {
const VectorSpriteSeamHooks* g_vectorSeamHooks = nullptr;
}  // namespace

const VectorSpriteSeamHooks* VectorSprite_SetSeamHooks(const VectorSpriteSeamHooks* hooks)
{
    const VectorSpriteSeamHooks* old = g_vectorSeamHooks;
    g_vectorSeamHooks = hooks;
    return old;
}

bool CSprite::LoadVectorData(const uint8_t* data, uint32_t size, int32_t xOrigin, int32_t yOrigin)
{
    if (!data) return false;
    SeamTrace_Record("CSprite::LoadVectorData");
    if (g_vectorSeamHooks && g_vectorSeamHooks->load) g_vectorSeamHooks->load(this, data, size, xOrigin, yOrigin);
    return true;
}

void CSprite::FreeVectorData()
{
    m_vectorShapeCount = 0;
    m_vectorShapes = nullptr;
    m_vectorTimeline = nullptr;
}

void CSprite::DrawVector(int32_t frame, float xOrigin, float yOrigin, float x, float y, float xscale, float yscale,
                         float angle, uint32_t colour, float alpha)
{
    SeamTrace_Record("CSprite::DrawVector");
    if (g_vectorSeamHooks && g_vectorSeamHooks->draw)
        g_vectorSeamHooks->draw(this, frame, xOrigin, yOrigin, x, y, xscale, yscale, angle, colour, alpha);
}

bool VectorSprite_GetBounds(const CSprite*, float* minX, float* minY, float* maxX, float* maxY)
{
    *minX = *minY = *maxX = *maxY = 0.0f;
    return false;
}

bool VectorSprite_GetFrameBounds(const CSprite*, int32_t, float* minX, float* minY, float* maxX, float* maxY)
{
    *minX = *minY = *maxX = *maxY = 0.0f;
    return false;
}

bool VectorSprite_LoadFile(CSprite*, const char*, int32_t, int32_t)
{
    SeamTrace_Record("VectorSprite_LoadFile");
    return false;
}
