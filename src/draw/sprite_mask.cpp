// Sprite bounding boxes, collision masks and the pixel tests that instance collisions run on them.
#include "core/convert.h"
#include "core/memory_manager.h"
#include "draw/draw.h"
#include "draw/sprite.h"
#include "draw/vector_sprite.h"
#include "gfx/bitmap.h"
#include "net/net.h"
#include "world/instance.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// One frame's mask as the pixel tests see it. bits null: solid at every pixel inside the frame.
struct MaskFrameView {
    const uint8_t* bits;  // width x height bytes, row-major, 1 = solid
    int32_t width;
    int32_t height;
    int32_t xOrigin;
    int32_t yOrigin;
};

// A frame placed in the world: integer position, scale and angle in degrees.
struct MaskPlacement {
    int32_t x;
    int32_t y;
    float xscale;
    float yscale;
    float angle;
};

// Frame pixel (u, v) of a world point by the floor rule of the single-instance tests: the angle is ignored
// below 0.0001 degrees; each coordinate is rounded to single precision before the floor.
struct MaskFloorRule {
    double c;
    double s;
    double xscale;
    double yscale;
    double xOrigin;
    double yOrigin;
    double x;
    double y;
};

MaskFloorRule MaskFloorRule_Make(const MaskFrameView& m, const MaskPlacement& p, bool useAngle)
{
    MaskFloorRule r{1.0, 0.0, p.xscale, p.yscale, double(m.xOrigin), double(m.yOrigin), double(p.x), double(p.y)};
    if (useAngle) {
        const float a = -p.angle * 3.1415927f / 180.0f;
        r.c = std::cos(a);  // single precision, as the angle
        r.s = std::sin(a);
    }
    return r;
}

inline void MaskFloorRule_Map(const MaskFloorRule& r, double px, double py, int32_t* u, int32_t* v)
{
    const double dx = px - r.x, dy = py - r.y;
    // A zero or non-finite scale gives a non-finite coordinate: INT32_MIN, outside every frame.
    *u = Real_ToInt32Floor(double(float((dy * r.s + dx * r.c) / r.xscale + r.xOrigin)));
    *v = Real_ToInt32Floor(double(float((dy * r.c - dx * r.s) / r.yscale + r.yOrigin)));
}

inline bool Mask_Solid(const MaskFrameView& m, int32_t u, int32_t v)
{
    if (u < 0 || v < 0 || u >= m.width || v >= m.height) return false;
    return !m.bits || m.bits[int64_t(v) * m.width + u] != 0;
}

inline bool Mask_SolidAt(const MaskFrameView& m, const MaskFloorRule& r, double px, double py)
{
    int32_t u, v;
    MaskFloorRule_Map(r, px, py, &u, &v);
    return Mask_Solid(m, u, v);
}

// Any byte of len that is not 0.
bool MaskSpan_AnyNonZero(const uint8_t* p, int64_t len)
{
    int64_t k = 0;
    for (; k + 8 <= len; k += 8) {
        uint64_t w;
        std::memcpy(&w, p + k, 8);
        if (w) return true;
    }
    for (; k < len; ++k)
        if (p[k]) return true;
    return false;
}

// Any position where both spans hold a solid byte; a null span is solid throughout.
bool MaskSpan_AnyBoth(const uint8_t* a, const uint8_t* b, int64_t len)
{
    if (len <= 0) return false;
    if (!a && !b) return true;
    if (!a) return MaskSpan_AnyNonZero(b, len);
    if (!b) return MaskSpan_AnyNonZero(a, len);
    int64_t k = 0;
    // Eight bytes at a time, tested once per 64 bytes: the masks hold only 0 and 1.
    while (k + 64 <= len) {
        uint64_t acc = 0;
        for (int32_t n = 0; n < 64; n += 8) {
            uint64_t wa, wb;
            std::memcpy(&wa, a + k + n, 8);
            std::memcpy(&wb, b + k + n, 8);
            acc |= wa & wb;
        }
        if (acc) return true;
        k += 64;
    }
    for (; k + 8 <= len; k += 8) {
        uint64_t wa, wb;
        std::memcpy(&wa, a + k, 8);
        std::memcpy(&wb, b + k, 8);
        if (wa & wb) return true;
    }
    for (; k < len; ++k)
        if (a[k] & b[k]) return true;
    return false;
}

// World columns [lo, hi] whose frame column origin + i - x lies inside 0..width - 1.
inline void MaskUnit_Clip(int32_t x, int32_t origin, int32_t width, int64_t* lo, int64_t* hi)
{
    const int64_t first = int64_t(x) - origin;
    *lo = std::max(*lo, first);
    *hi = std::min(*hi, first + width - 1);
}

const uint8_t* MaskUnit_Row(const MaskFrameView& m, int64_t v, int64_t u)
{
    return m.bits ? m.bits + v * m.width + u : nullptr;
}

// Both frames unscaled and unrotated: integer offsets, row by row over the part of the overlap that lies
// inside both frames.
bool MaskPair_Unit(const MaskFrameView& a, const MaskPlacement& pa, const MaskFrameView& b, const MaskPlacement& pb,
               int64_t left, int64_t top, int64_t right, int64_t bottom)
{
    MaskUnit_Clip(pa.x, a.xOrigin, a.width, &left, &right);
    MaskUnit_Clip(pb.x, b.xOrigin, b.width, &left, &right);
    MaskUnit_Clip(pa.y, a.yOrigin, a.height, &top, &bottom);
    MaskUnit_Clip(pb.y, b.yOrigin, b.height, &top, &bottom);
    if (left > right || top > bottom) return false;
    const int64_t len = right - left + 1;
    const int64_t ua = a.xOrigin + left - pa.x, ub = b.xOrigin + left - pb.x;
    for (int64_t j = top; j <= bottom; ++j) {
        const int64_t va = a.yOrigin + j - pa.y, vb = b.yOrigin + j - pb.y;
        if (MaskSpan_AnyBoth(MaskUnit_Row(a, va, ua), MaskUnit_Row(b, vb, ub), len)) return true;
    }
    return false;
}

struct MaskPairRow {
    int64_t offsetA;  // v x width of each frame
    int64_t offsetB;
};

inline int32_t MaskScaled_Coord(int64_t world, int32_t position, float reciprocal, int32_t origin)
{
    return Real_ToInt32(double(world - position) * double(reciprocal) + double(origin));
}

// Both angles 0, some scale not 1: u depends on the column only and v on the row only, and each is monotonic,
// so the distinct rows inside both frames are at most the two heights together and a column that maps to the
// same frame columns as the one before it can be skipped.
bool MaskPair_Scaled(const MaskFrameView& a, const MaskPlacement& pa, const float ra[2], const MaskFrameView& b,
                 const MaskPlacement& pb, const float rb[2], int64_t left, int64_t top, int64_t right, int64_t bottom)
{
    const int64_t capacity = int64_t(a.height) + b.height;
    auto* rows = static_cast<MaskPairRow*>(MemAlloc(size_t(capacity) * sizeof(MaskPairRow)));
    int64_t count = 0;
    int32_t lastA = -1, lastB = -1;
    for (int64_t j = top; j <= bottom && count < capacity; ++j) {
        const int32_t va = MaskScaled_Coord(j, pa.y, ra[1], a.yOrigin);
        const int32_t vb = MaskScaled_Coord(j, pb.y, rb[1], b.yOrigin);
        if (va < 0 || va >= a.height || vb < 0 || vb >= b.height) continue;
        if (va == lastA && vb == lastB) continue;
        lastA = va;
        lastB = vb;
        rows[count++] = {int64_t(va) * a.width, int64_t(vb) * b.width};
    }
    bool hit = false;
    int32_t lastUa = -1, lastUb = -1;
    for (int64_t i = left; i <= right && count > 0 && !hit; ++i) {
        const int32_t ua = MaskScaled_Coord(i, pa.x, ra[0], a.xOrigin);
        const int32_t ub = MaskScaled_Coord(i, pb.x, rb[0], b.xOrigin);
        if (ua < 0 || ua >= a.width || ub < 0 || ub >= b.width) continue;
        if (ua == lastUa && ub == lastUb) continue;
        lastUa = ua;
        lastUb = ub;
        for (int64_t k = 0; k < count; ++k) {
            const bool sa = !a.bits || a.bits[rows[k].offsetA + ua];
            const bool sb = !b.bits || b.bits[rows[k].offsetB + ub];
            if (sa && sb) {
                hit = true;
                break;
            }
        }
    }
    MemFree(rows);
    return hit;
}

struct MaskTruncRule {
    double c;
    double s;
    float xr;
    float yr;
};

inline void MaskTruncRule_Map(const MaskTruncRule& r, const MaskFrameView& m, const MaskPlacement& p, int64_t i,
                              int64_t j, int32_t* u, int32_t* v)
{
    const double dx = double(i - p.x), dy = double(j - p.y);
    *u = Real_ToInt32((dx * r.c + dy * r.s) * double(r.xr) + double(m.xOrigin));
    *v = Real_ToInt32((dy * r.c - dx * r.s) * double(r.yr) + double(m.yOrigin));
}

MaskTruncRule MaskTruncRule_Make(const MaskPlacement& p, const float r[2])
{
    const float a = -p.angle * 3.1415927f / 180.0f;
    return {double(float(std::cos(a))), double(float(std::sin(a))), r[0], r[1]};
}

bool MaskPair_Rotated(const MaskFrameView& a, const MaskPlacement& pa, const float ra[2], const MaskFrameView& b,
                  const MaskPlacement& pb, const float rb[2], int64_t left, int64_t top, int64_t right, int64_t bottom)
{
    const MaskTruncRule rulA = MaskTruncRule_Make(pa, ra), rulB = MaskTruncRule_Make(pb, rb);
    for (int64_t i = left; i <= right; ++i)
        for (int64_t j = top; j <= bottom; ++j) {
            int32_t u, v;
            MaskTruncRule_Map(rulA, a, pa, i, j, &u, &v);
            if (!Mask_Solid(a, u, v)) continue;
            MaskTruncRule_Map(rulB, b, pb, i, j, &u, &v);
            if (Mask_Solid(b, u, v)) return true;
        }
    return false;
}

bool MaskCore_PairHits(const MaskFrameView& a, const MaskPlacement& pa, const BoundingBox& boxA,
                       const MaskFrameView& b, const MaskPlacement& pb, const BoundingBox& boxB)
{
    const int64_t left = std::max(boxA.left, boxB.left), right = std::min(boxA.right, boxB.right);
    const int64_t top = std::max(boxA.top, boxB.top), bottom = std::min(boxA.bottom, boxB.bottom);
    if (left > right || top > bottom) return false;
    // The reciprocals are worked out in double precision and kept in single.
    const float ra[2] = {float(1.0 / double(pa.xscale)), float(1.0 / double(pa.yscale))};
    const float rb[2] = {float(1.0 / double(pb.xscale)), float(1.0 / double(pb.yscale))};
    const bool unrotated = pa.angle == 0.0f && pb.angle == 0.0f;
    if (unrotated && ra[0] == 1.0f && ra[1] == 1.0f && rb[0] == 1.0f && rb[1] == 1.0f)
        return MaskPair_Unit(a, pa, b, pb, left, top, right, bottom);
    if (unrotated) return MaskPair_Scaled(a, pa, ra, b, pb, rb, left, top, right, bottom);
    return MaskPair_Rotated(a, pa, ra, b, pb, rb, left, top, right, bottom);
}

inline bool MaskPoint_Hits(const MaskFrameView& m, const MaskPlacement& p, int32_t px, int32_t py)
{
    const bool useAngle = !(std::fabs(p.angle) < 0.0001f);
    // Unscaled and unrotated, the floor rule is integer arithmetic: a frame is far smaller than the 2^24 at
    // which single precision would first round a whole number.
    if (!useAngle && p.xscale == 1.0f && p.yscale == 1.0f && m.width < (1 << 24) && m.height < (1 << 24)) {
        const int64_t u = int64_t(px) - p.x + m.xOrigin, v = int64_t(py) - p.y + m.yOrigin;
        if (u < 0 || v < 0 || u >= m.width || v >= m.height) return false;
        return !m.bits || m.bits[v * m.width + u] != 0;
    }
    return Mask_SolidAt(m, MaskFloorRule_Make(m, p, useAngle), px, py);
}

bool MaskCore_AreaHits(const MaskFrameView& m, const MaskPlacement& p, const BoundingBox& box, int32_t kind,
                       int32_t rLeft, int32_t rTop, int32_t rRight, int32_t rBottom)
{
    int64_t left = std::max(box.left, rLeft), right = std::min(box.right, rRight);
    int64_t top = std::max(box.top, rTop), bottom = std::min(box.bottom, rBottom);
    if (left > right || top > bottom) return false;
    const bool useAngle = !(std::fabs(p.angle) < 0.0001f);
    const bool unit = !useAngle && p.xscale == 1.0f && p.yscale == 1.0f;
    if (kind == 0 && unit) {
        MaskUnit_Clip(p.x, m.xOrigin, m.width, &left, &right);
        MaskUnit_Clip(p.y, m.yOrigin, m.height, &top, &bottom);
        if (left > right || top > bottom) return false;
        if (!m.bits) return true;
        const int64_t u = m.xOrigin + left - p.x;
        for (int64_t j = top; j <= bottom; ++j)
            if (MaskSpan_AnyNonZero(MaskUnit_Row(m, m.yOrigin + j - p.y, u), right - left + 1)) return true;
        return false;
    }
    // The ellipse inscribed in the rectangle, from integer centre and radii. A zero radius leaves only the
    // centre line of that axis inside rather than dividing by zero.
    const int64_t cx = (int64_t(rLeft) + rRight) / 2, cy = (int64_t(rTop) + rBottom) / 2;
    const double rx = double((int64_t(rRight) - rLeft) / 2), ry = double((int64_t(rBottom) - rTop) / 2);
    const MaskFloorRule rule = MaskFloorRule_Make(m, p, useAngle);
    for (int64_t i = left; i <= right; ++i) {
        double ex = 0.0;
        if (kind == 1) {
            if (rx == 0.0) {
                if (i != cx) continue;
            } else {
                ex = double(i - cx) / rx;
                ex *= ex;
                if (ex > 1.0) continue;
            }
        }
        for (int64_t j = top; j <= bottom; ++j) {
            if (kind == 1) {
                double ey = 0.0;
                if (ry == 0.0) {
                    if (j != cy) continue;
                } else {
                    ey = double(j - cy) / ry;
                    ey *= ey;
                }
                if (ex + ey > 1.0) continue;
            }
            if (unit) {
                const int64_t u = m.xOrigin + i - p.x, v = m.yOrigin + j - p.y;
                if (u >= 0 && v >= 0 && u < m.width && v < m.height && (!m.bits || m.bits[v * m.width + u]))
                    return true;
            } else if (Mask_SolidAt(m, rule, double(i), double(j))) {
                return true;
            }
        }
    }
    return false;
}

bool MaskCore_LineHits(const MaskFrameView& m, const MaskPlacement& p, const BoundingBox& box, int32_t x1,
                       int32_t y1, int32_t x2, int32_t y2)
{
    if (x1 == x2 || y1 == y2)
        return MaskCore_AreaHits(m, p, box, 0, std::min(x1, x2), std::min(y1, y2), std::max(x1, x2),
                                 std::max(y1, y2));
    // Along the line the rotated rule is used even at angle 0 and scale 1: the points are not whole pixels.
    const MaskFloorRule rule = MaskFloorRule_Make(m, p, true);
    const int64_t dx = int64_t(x2) - x1, dy = int64_t(y2) - y1;
    if (std::llabs(dx) < std::llabs(dy)) {
        const bool up = y1 < y2;
        const int64_t ylo = up ? y1 : y2, yhi = up ? y2 : y1, xlo = up ? x1 : x2, xhi = up ? x2 : x1;
        const double w = double(xhi - xlo) / double(yhi - ylo);
        const int64_t first = std::max<int64_t>(box.top, ylo), last = std::min<int64_t>(box.bottom, yhi);
        for (int64_t j = first; j <= last; ++j)
            if (Mask_SolidAt(m, rule, double(xlo) + double(j - ylo) * w, double(j))) return true;
        return false;
    }
    const bool right = x1 < x2;
    const int64_t xa = right ? x1 : x2, xb = right ? x2 : x1, ya = right ? y1 : y2, yb = right ? y2 : y1;
    const double w = double(yb - ya) / double(xb - xa);
    const int64_t first = std::max<int64_t>(box.left, xa), last = std::min<int64_t>(box.right, xb);
    for (int64_t i = first; i <= last; ++i)
        if (Mask_SolidAt(m, rule, double(i), double(ya) + double(i - xa) * w)) return true;
    return false;
}

void MaskCore_Unpack(const uint8_t* packed, int32_t width, int32_t height, uint8_t* out)
{
    const int64_t stride = (int64_t(width) + 7) / 8;
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* row = packed + y * stride;
        uint8_t* dst = out + y * width;
        for (int64_t x = 0; x < width; ++x) dst[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
}

void MaskCore_Shape(uint8_t* out, int32_t width, int32_t height, const BoundingBox& box, int32_t kind)
{
    std::memset(out, 0, size_t(int64_t(width) * height));
    if (kind < 1 || kind > 3) return;
    const int64_t cx = (int64_t(box.left) + box.right) / 2, cy = (int64_t(box.top) + box.bottom) / 2;
    const double rx = double(cx - box.left) + 0.5, ry = double(cy - box.top) + 0.5;
    if (kind != 1 && !(rx > 0.0 && ry > 0.0)) return;
    const int64_t x0 = std::max<int64_t>(box.left, 0), x1 = std::min<int64_t>(box.right, int64_t(width) - 1);
    const int64_t y0 = std::max<int64_t>(box.top, 0), y1 = std::min<int64_t>(box.bottom, int64_t(height) - 1);
    for (int64_t y = y0; y <= y1; ++y)
        for (int64_t x = x0; x <= x1; ++x) {
            bool in = true;
            if (kind == 2) {
                const double ex = double(x - cx) / rx, ey = double(y - cy) / ry;
                in = ex * ex + ey * ey < 1.0;
            } else if (kind == 3) {
                in = std::fabs(double(x - cx)) / rx + std::fabs(double(y - cy)) / ry < 1.0;
            }
            out[y * width + x] = in ? 1 : 0;
        }
}

// ---- The sprite's boxes and masks ----

// Installed by tests in place of the pixel tests; looked at before anything else.
const SpritePixelTests* g_SpritePixelOverride = nullptr;

BoundingBox Mask_FullBox(const CSprite* s) { return {0, 0, s->m_width - 1, s->m_height - 1}; }

// The frame's mask as the pixel tests read it (after UnpackMasks): frames wrap over the masks there are,
// negative ones upwards; no masks, or one that does not fit the frame size, reads as solid.
inline MaskFrameView Mask_View(const CSprite* s, int32_t frame)
{
    MaskFrameView m{nullptr, s->m_width, s->m_height, s->m_xOrigin, s->m_yOrigin};
    if (s->m_maskCount > 0 && s->m_masks) {
        // Most frames are in range already: the division is only for the rest.
        int32_t k = frame;
        if (uint32_t(k) >= uint32_t(s->m_maskCount)) {
            k = frame % s->m_maskCount;
            if (k < 0) k += s->m_maskCount;
        }
        const CollisionMask& mask = s->m_masks[k];
        if (mask.data && int64_t(mask.size) == int64_t(s->m_width) * s->m_height) m.bits = mask.data;
    }
    return m;
}

MaskPlacement Mask_Place(int32_t x, int32_t y, float xscale, float yscale, float angle)
{
    return {x, y, xscale, yscale, angle};
}

// Room for count masks of the current frame size, all clear; the sprite's old masks must be freed first.
// False (and no masks) when a mask would not fit its 32-bit size.
bool Mask_Allocate(CSprite* s, int32_t count)
{
    const int64_t size = int64_t(s->m_width) * s->m_height;
    if (count <= 0 || size <= 0 || size > INT32_MAX) return false;
    s->m_masks = static_cast<CollisionMask*>(MemoryManager::Alloc(size_t(count) * sizeof(CollisionMask), __FILE__,
                                                                  __LINE__, true));
    for (int32_t k = 0; k < count; ++k) {
        s->m_masks[k].size = int32_t(size);
        s->m_masks[k].data = static_cast<uint8_t*>(MemoryManager::Alloc(size_t(size), __FILE__, __LINE__, true));
    }
    s->m_maskCount = count;
    return true;
}

const CBitmap32* Mask_Image(const CSprite* s, int32_t frame)
{
    return frame >= 0 && frame < s->m_frameImageCount && s->m_frameImages ? s->m_frameImages[frame] : nullptr;
}

}  // namespace

const SpritePixelTests* Sprite_SetPixelTests(const SpritePixelTests* tests)
{
    const SpritePixelTests* old = g_SpritePixelOverride;
    g_SpritePixelOverride = tests;
    return old;
}

void CSprite::ComputeBoundingBox()
{
    ComputeBoundingRadius();
    if (m_bboxMode == 2) return;
    if (!m_transparent || m_bboxMode == 1) {
        m_bbox = Mask_FullBox(this);
        return;
    }
    if (m_frameCount == 0) {
        m_bbox = BoundingBox{};
        return;
    }
    if (m_kind == SPRITE_KIND_VECTOR) {
        float minX, minY, maxX, maxY;
        if (VectorSprite_GetBounds(this, &minX, &minY, &maxX, &maxY))
            m_bbox = {Real_ToInt32(minX), Real_ToInt32(minY), Real_ToInt32(maxX), Real_ToInt32(maxY)};
        return;
    }
    if (m_kind != SPRITE_KIND_BITMAP) return;  // a skeleton has no frames to measure
    // A game-data sprite has only texture-page regions: read them back first. Without images (no device, a
    // failed read) the box stays as it is rather than turning inside out.
    if (m_frameImageCount == 0 && !ExtractFrameImages()) return;
    if (m_frameImageCount == 0) return;
    BoundingBox box{m_width - 1, m_height - 1, 0, 0};
    for (int32_t k = 0; k < m_frameImageCount; ++k) {
        if (!m_frameImages[k]) continue;
        int32_t* opaque = m_frameImages[k]->GetBoundingBox();
        box.left = std::min(box.left, opaque[0]);
        box.top = std::min(box.top, opaque[1]);
        box.right = std::max(box.right, opaque[2]);
        box.bottom = std::max(box.bottom, opaque[3]);
        MemFree(opaque);
    }
    m_bbox = box;
}

void CSprite::SetBBoxMode(int32_t mode)
{
    if (mode < 0 || mode > 2 || mode == m_bboxMode) return;
    m_bboxMode = mode;
    ComputeBoundingBox();
}

void CSprite::SetBoundingBox(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    if (m_bboxMode != 2) return;
    m_bbox = {left, top, right, bottom};
}

void CSprite::SetPrecise(bool on)
{
    if (m_precise == on) return;
    m_precise = on;
    if (m_kind == SPRITE_KIND_BITMAP) BuildPreciseMasks();
}

void CSprite::UnpackMasks()
{
    if (m_masksUnpacked || !PackedMasksMatch() || m_width <= 0 || m_height <= 0) return;
    FreeMasks();
    m_separateMasks = m_packedMaskCount == m_frameCount;
    if (!Mask_Allocate(this, m_packedMaskCount)) return;
    const int64_t packedSize = (int64_t(m_width) + 7) / 8 * m_height;
    for (int32_t k = 0; k < m_packedMaskCount; ++k)
        MaskCore_Unpack(m_packedMasks + k * packedSize, m_width, m_height, m_masks[k].data);
    m_masksUnpacked = true;
}

void CSprite::FreeMasks()
{
    if (m_masks) {
        for (int32_t k = 0; k < m_maskCount; ++k) MemFree(m_masks[k].data);
        MemFree(m_masks);
    }
    m_masks = nullptr;
    m_maskCount = 0;
    m_masksUnpacked = false;
}

void CSprite::BuildPreciseMasks()
{
    FreeMasks();
    if (!m_precise || !m_transparent || m_kind != SPRITE_KIND_BITMAP || m_frameCount <= 0 || UsesDataEntries() ||
        m_width <= 0 || m_height <= 0)
        return;
    if (!Mask_Allocate(this, m_frameCount)) return;
    // Solid where alpha is above 0: the whole ARGB word above 0x00FFFFFF.
    for (int32_t k = 0; k < m_frameCount; ++k) {
        const CBitmap32* image = Mask_Image(this, k);
        if (!image || !image->GetPixels().pixels) continue;
        const int32_t w = std::min(m_width, image->GetWidth()), h = std::min(m_height, image->GetHeight());
        for (int32_t y = 0; y < h; ++y) {
            const uint32_t* row = image->GetPixels().pixels + int64_t(y) * image->GetWidth();
            uint8_t* out = m_masks[k].data + int64_t(y) * m_width;
            for (int32_t x = 0; x < w; ++x) out[x] = row[x] > 0x00FFFFFFu ? 1 : 0;
        }
    }
    m_masksUnpacked = true;
}

void CSprite::BuildMask(const CollisionMask* previous, CollisionMask* target, const CBitmap32* image, int32_t kind,
                        int32_t tolerance)
{
    if (!target || !target->data) return;
    const int64_t size = int64_t(m_width) * m_height;
    if (target->size != size || m_width <= 0 || m_height <= 0) return;
    if (kind == 0) {
        std::memset(target->data, 0, size_t(size));
        if (image && image->GetPixels().pixels) {
            const int32_t w = std::min(m_width, image->GetWidth()), h = std::min(m_height, image->GetHeight());
            for (int32_t y = 0; y < h; ++y) {
                const uint32_t* row = image->GetPixels().pixels + int64_t(y) * image->GetWidth();
                uint8_t* out = target->data + int64_t(y) * m_width;
                for (int32_t x = 0; x < w; ++x) out[x] = int32_t(row[x] >> 24) > tolerance ? 1 : 0;
            }
        }
    } else {
        MaskCore_Shape(target->data, m_width, m_height, m_bbox, kind);
    }
    if (previous && previous->data && previous->size == target->size)
        for (int64_t k = 0; k < size; ++k) target->data[k] |= previous->data[k];
}

void CSprite::CreateCollisionMask(bool separate, int32_t bboxMode, int32_t left, int32_t top, int32_t right,
                                  int32_t bottom, int32_t kind, int32_t tolerance)
{
    if (m_kind != SPRITE_KIND_BITMAP) return;
    FreeMasks();
    if (UsesDataEntries() || !Mask_Allocate(this, m_frameCount)) return;
    if (bboxMode == 0 || bboxMode == 1) {
        m_bbox = Mask_FullBox(this);
    } else if (bboxMode == 2) {
        m_bbox = {std::clamp(left, 0, m_width - 1), std::clamp(top, 0, m_height - 1),
                  std::clamp(right, 0, m_width - 1), std::clamp(bottom, 0, m_height - 1)};
    }
    // Not separate: every later frame's mask is its own shape plus frame 0's.
    for (int32_t k = 0; k < m_frameCount; ++k)
        BuildMask(separate || k == 0 ? nullptr : &m_masks[0], &m_masks[k], Mask_Image(this, k), kind, tolerance);
    m_masksUnpacked = true;
}

// ---- The pixel tests ----
// Each answers true for a sprite without masks and false for one without frames.

bool CSprite::PreciseCollisionPoint(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                                    float yscale, float angle, int32_t px, int32_t py)
{
    if (const SpritePixelTests* t = g_SpritePixelOverride)
        return t->point && t->point(this, frame, box, x, y, xscale, yscale, angle, px, py);
    if (m_frameCount <= 0) return false;
    if (!m_masksUnpacked) UnpackMasks();
    if (m_maskCount <= 0) return true;
    return MaskPoint_Hits(Mask_View(this, frame), Mask_Place(x, y, xscale, yscale, angle), px, py);
}

bool CSprite::PreciseCollisionRectangle(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                                        float yscale, float angle, int32_t left, int32_t top, int32_t right,
                                        int32_t bottom)
{
    if (const SpritePixelTests* t = g_SpritePixelOverride)
        return t->area && t->area(this, 0, frame, box, x, y, xscale, yscale, angle, left, top, right, bottom);
    if (m_frameCount <= 0) return false;
    if (!m_masksUnpacked) UnpackMasks();
    if (m_maskCount <= 0) return true;
    return MaskCore_AreaHits(Mask_View(this, frame), Mask_Place(x, y, xscale, yscale, angle), box, 0, left, top,
                             right, bottom);
}

bool CSprite::PreciseCollisionEllipse(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                                      float yscale, float angle, int32_t left, int32_t top, int32_t right,
                                      int32_t bottom)
{
    if (const SpritePixelTests* t = g_SpritePixelOverride)
        return t->area && t->area(this, 1, frame, box, x, y, xscale, yscale, angle, left, top, right, bottom);
    if (m_frameCount <= 0) return false;
    if (!m_masksUnpacked) UnpackMasks();
    if (m_maskCount <= 0) return true;
    return MaskCore_AreaHits(Mask_View(this, frame), Mask_Place(x, y, xscale, yscale, angle), box, 1, left, top,
                             right, bottom);
}

bool CSprite::PreciseCollisionLine(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                                   float yscale, float angle, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    if (const SpritePixelTests* t = g_SpritePixelOverride)
        return t->line && t->line(this, frame, box, x, y, xscale, yscale, angle, x1, y1, x2, y2);
    if (m_frameCount <= 0) return false;
    if (!m_masksUnpacked) UnpackMasks();
    if (m_maskCount <= 0) return true;
    return MaskCore_LineHits(Mask_View(this, frame), Mask_Place(x, y, xscale, yscale, angle), box, x1, y1, x2, y2);
}

bool PreciseCollision(CSprite* sprite1, int32_t frame1, const BoundingBox& box1, int32_t x1, int32_t y1,
                      float xscale1, float yscale1, float angle1, CSprite* sprite2, int32_t frame2,
                      const BoundingBox& box2, int32_t x2, int32_t y2, float xscale2, float yscale2, float angle2)
{
    if (const SpritePixelTests* t = g_SpritePixelOverride)
        return t->pair && t->pair(sprite1, frame1, box1, x1, y1, xscale1, yscale1, angle1, sprite2, frame2, box2,
                                  x2, y2, xscale2, yscale2, angle2);
    ProfilerRegion region(6, 3);
    if (!sprite1 || !sprite2 || sprite1->m_frameCount <= 0 || sprite2->m_frameCount <= 0) return false;
    if (!sprite1->m_masksUnpacked) sprite1->UnpackMasks();
    if (!sprite2->m_masksUnpacked) sprite2->UnpackMasks();
    return MaskCore_PairHits(Mask_View(sprite1, frame1), Mask_Place(x1, y1, xscale1, yscale1, angle1), box1,
                             Mask_View(sprite2, frame2), Mask_Place(x2, y2, xscale2, yscale2, angle2), box2);
}
