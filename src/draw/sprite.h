// Sprites: the CSprite record, the global sprite table with its names and name map, and the operations the
// rest of the runtime calls on them. Table and loading live in sprite.cpp, boxes, masks and pixel tests in
// sprite_mask.cpp, drawing in sprite_draw.cpp.
#pragma once
#include <cstddef>
#include <cstdint>

#include "world/instance.h"  // BoundingBox

class CBitmap32;
class WadReader;
class TBitmap;
class CSkeletonSprite;
struct TexturePageEntry;
struct CVectorShape;
struct CVectorTimeline;

constexpr int32_t SPRITE_KIND_BITMAP = 0;
constexpr int32_t SPRITE_KIND_VECTOR = 1;
constexpr int32_t SPRITE_KIND_SKELETON = 2;
constexpr int32_t SPRITE_SKELETON_FRAMES = 2147483647;

// One frame's mask, one byte per pixel (1 = solid), row-major from the top-left.
struct CollisionMask {
    int32_t size;   // width x height
    uint8_t* data;  // memory manager
};

class CSprite {
public:
    CSprite();
    virtual ~CSprite();
    CSprite(const CSprite&) = delete;
    CSprite& operator=(const CSprite&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

    // ---- Table and loading (sprite.cpp) ----
    // Reads the SPRT entry at offset entry (sprite number index). Every field, frame entry and mask block is
    // checked against the data; a vector or skeleton entry's content runs up to contentEnd (the next entry or
    // the chunk's end). False, with the reader's failure recorded, for a bad entry.
    bool LoadFromChunk(WadReader& r, uint32_t entry, int32_t index, uint32_t contentEnd);
    void Free();
    void Assign(const CSprite* source);
    bool CreateTextures();
    void FreeTextures();
    bool CreateTexturePageEntries();
    bool ExtractFrameImages();
    // The frame's texture as a script handle: the registered token of its game-data entry, else its run-time
    // texture id; -1 for none. The entry stays the sprite's.
    int64_t GetTexture(int32_t frame) const;
    TBitmap* GetFrameImage(int32_t frame) const;           // new, the caller deletes it; null when none
    BoundingBox* GetFrameBoundingBox(int32_t frame) const;  // new (memory manager), the caller frees it
    // Whether the sprite draws from the game data's entries rather than its own.
    bool UsesDataEntries() const { return m_frameEntries && !m_ownsEntries; }
    // The packed masks still describe the current frames (they were made for this size and frame count).
    bool PackedMasksMatch() const
    {
        return m_packedMasks && m_packedMaskCount > 0 && m_packedMaskWidth == m_width &&
               m_packedMaskHeight == m_height && m_packedMaskFrames == m_frameCount;
    }
    // Largest origin-to-corner distance of the frame, each corner rounded up.
    void ComputeBoundingRadius();

    // ---- Boxes, masks and pixel tests (sprite_mask.cpp) ----
    void ComputeBoundingBox();
    void SetBBoxMode(int32_t mode);
    void SetBoundingBox(int32_t left, int32_t top, int32_t right, int32_t bottom);
    void SetPrecise(bool on);
    void UnpackMasks();
    void FreeMasks();
    void BuildPreciseMasks();
    void BuildMask(const CollisionMask* previous, CollisionMask* target, const CBitmap32* image, int32_t kind,
                   int32_t tolerance);
    void CreateCollisionMask(bool separate, int32_t bboxMode, int32_t left, int32_t top, int32_t right,
                             int32_t bottom, int32_t kind, int32_t tolerance);
    // Pixel-exact tests of one frame placed at (x, y) with the given scale and angle (degrees).
    bool PreciseCollisionPoint(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                               float yscale, float angle, int32_t px, int32_t py);
    bool PreciseCollisionRectangle(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                                   float yscale, float angle, int32_t left, int32_t top, int32_t right,
                                   int32_t bottom);
    bool PreciseCollisionEllipse(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                                 float yscale, float angle, int32_t left, int32_t top, int32_t right,
                                 int32_t bottom);
    bool PreciseCollisionLine(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                              float yscale, float angle, int32_t x1, int32_t y1, int32_t x2, int32_t y2);

    // ---- Drawing (sprite_draw.cpp); colours are 0x00BBGGRR, angles in degrees ----
    void DrawPart(int32_t frame, float left, float top, float width, float height, float x, float y, float xscale,
                  float yscale, uint32_t colour, float alpha);
    void DrawGeneral(int32_t frame, float left, float top, float width, float height, float x, float y,
                     float xscale, float yscale, float angle, uint32_t colour1, uint32_t colour2, uint32_t colour3,
                     uint32_t colour4, float alpha);
    void DrawStretched(int32_t frame, float x, float y, float width, float height, uint32_t colour, float alpha);
    void DrawTiled(int32_t frame, float x, float y, float xscale, float yscale, bool tileHorizontally,
                   bool tileVertically, float viewX, float viewY, float viewWidth, float viewHeight, uint32_t colour,
                   float alpha);
    void DrawPos(int32_t frame, float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                 uint32_t colour, float alpha);
    void DrawVectorTiled(int32_t frame, float x, float y, float xscale, float yscale, bool tileHorizontally,
                         bool tileVertically, float viewX, float viewY, float viewWidth, float viewHeight,
                         uint32_t colour, float alpha);

    // ---- Vector content (its own seam until vector sprites are built) ----
    // data/size: the entry's vector bytes in the game data (or a file's).
    bool LoadVectorData(const uint8_t* data, uint32_t size, int32_t xOrigin, int32_t yOrigin);
    void FreeVectorData();
    void DrawVector(int32_t frame, float xOrigin, float yOrigin, float x, float y, float xscale, float yscale,
                    float angle, uint32_t colour, float alpha);

    // ---- Fields ----
    int32_t m_bboxMode = 0;  // 0 automatic, 1 full image, 2 manual
    BoundingBox m_bbox;      // inclusive, frame coordinates
    int32_t m_frameCount = 0;
    int32_t m_width = 1;
    int32_t m_height = 1;
    int32_t m_xOrigin = 0;
    int32_t m_yOrigin = 0;
    int32_t m_boundingRadius = 0;
    bool m_precise = true;
    bool m_masksUnpacked = false;
    bool m_transparent = true;
    bool m_smooth = false;
    bool m_preload = true;
    bool m_separateMasks = true;
    bool m_ownsEntries = false;
    int32_t m_ownedEntryCount = 0;
    int32_t m_maskCount = 0;  // unpacked
    CollisionMask* m_masks = nullptr;
    int32_t m_frameImageCount = 0;
    CBitmap32** m_frameImages = nullptr;
    int32_t m_textureCount = 0;
    int32_t* m_textures = nullptr;  // -1 once freed
    TexturePageEntry** m_frameEntries = nullptr;
    CSkeletonSprite* m_skeleton = nullptr;
    const char* m_name = nullptr;  // the table's text
    int32_t m_index = 0;
    // Stored masks, read in place, with the frame size and count they were made for: frames replaced later
    // must not unpack them.
    int32_t m_packedMaskCount = 0;
    const uint8_t* m_packedMasks = nullptr;
    int32_t m_packedMaskWidth = 0;
    int32_t m_packedMaskHeight = 0;
    int32_t m_packedMaskFrames = 0;
    float m_playbackSpeed = 30.0f;
    int32_t m_kind = SPRITE_KIND_BITMAP;
    bool m_vectorFromData = false;
    int32_t m_vectorShapeCount = 0;
    CVectorShape** m_vectorShapes = nullptr;
    CVectorTimeline* m_vectorTimeline = nullptr;
};

// Draw one frame: pick the frame, cull by the bounding radius, draw. Colours 0x00BBGGRR, angles degrees.
void SpriteDraw(CSprite* sprite, int32_t frame, float x, float y, float xscale, float yscale, float angle,
                uint32_t colour, float alpha);
void SpriteDrawSimple(CSprite* sprite, int32_t frame, float x, float y);

// The sprite table.
void Sprite_Init();
bool Sprite_Load(uint8_t* body, uint32_t size, uint8_t* base);
void Sprite_InitTextures();
void Sprite_FreeAll();
CSprite* Sprite_Data(int32_t index);
bool Sprite_Exists(int32_t index);
int32_t Sprite_Find(const char* name);
const char* Sprite_Name(int32_t index);  // "<undefined>" when out of range or empty
int32_t Sprite_Count();
