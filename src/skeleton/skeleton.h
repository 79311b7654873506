// Skeletal animation: the operations the rest of the runtime calls.
#pragma once
#include <cstddef>
#include <cstdint>

struct BoundingBox;
class CSprite;

// The pose state of one instance showing a skeleton sprite. Until skeletal animation exists its collision
// questions go to the test hooks below (no box, no hit without them).
class CSkeletonInstance {
public:
    // True when the posed skeleton has bounding attachments; the box is then the instance's box.
    bool GetBoundingBox(BoundingBox* out, int32_t imageIndex, float x, float y, float xscale, float yscale,
                        float angle);
    // The pose is given as (image index, x, y, xscale, yscale, angle); shapes in room coordinates.
    bool CollisionPoint(float imageIndex, float x, float y, float xscale, float yscale, float angle, float px,
                        float py);
    bool CollisionRectangle(float imageIndex, float x, float y, float xscale, float yscale, float angle,
                            float x1, float y1, float x2, float y2);
    bool CollisionEllipse(float imageIndex, float x, float y, float xscale, float yscale, float angle, float x1,
                          float y1, float x2, float y2);
    bool CollisionLine(float imageIndex, float x, float y, float xscale, float yscale, float angle, float x1,
                       float y1, float x2, float y2);
    bool CollisionSkeleton(float imageIndex, float x, float y, float xscale, float yscale, float angle,
                           CSkeletonInstance* other, float otherImageIndex, float otherX, float otherY,
                           float otherXScale, float otherYScale, float otherAngle);
    bool CollisionSprite(float imageIndex, float x, float y, float xscale, float yscale, float angle,
                         CSprite* sprite, const BoundingBox& spriteBox, float spriteImageIndex, float spriteX,
                         float spriteY, float spriteXScale, float spriteYScale, float spriteAngle);

    // Animation, skin, attachment and bone operations of the skeleton built-ins. Until skeletal animation
    // exists there is no skeleton behind them: names read "", durations 0, finds fail, setters do nothing.
    void SetAnimation(const char* name);  // null: the first animation
    void SetAnimationExt(const char* name, int32_t track);
    void SetAnimationMix(const char* from, const char* to, float duration);
    void ClearTrack(int32_t track);
    const char* GetAnimationName(int32_t track);
    float GetAnimationDuration(const char* name);  // 0 with a warning line for an unknown name
    void SetSkin(const char* name);                // null: the default skin
    const char* GetSkinName();
    void SetAttachment(const char* slot, const char* name);  // null name clears the slot
    const char* GetAttachmentName(const char* slot);
    // A region attachment called name from one frame of a sprite, placed by origin, scale and rotation.
    void CreateAttachment(const char* name, CSprite* sprite, int32_t frame, float xOrigin, float yOrigin,
                          float xscale, float yscale, float rotation);
    // Bone values to and from a ds_map; false when the bone or the map is missing.
    bool GetBoneData(const char* bone, int32_t map);
    bool SetBoneData(const char* bone, int32_t map);
    bool GetBoneState(const char* bone, int32_t map);
    bool SetBoneState(const char* bone, int32_t map);
    // Bounding-box attachments are drawn for this instance while set.
    bool drawCollision = false;
};

struct CInstance;

// The shared skeleton content of a skeleton sprite (kind 2). Until skeletal animation exists it keeps
// nothing: it is never valid and its draws and lists do nothing.
class CSkeletonSprite {
public:
    CSkeletonSprite() = default;
    ~CSkeletonSprite() = default;
    CSkeletonSprite(const CSkeletonSprite&) = delete;
    CSkeletonSprite& operator=(const CSkeletonSprite&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

    // The skeleton part of a SPRT entry: data points at the JSON text, atlas text and texture data
    // (size bytes, up to the end of the entry's content); the lengths and the three texture words come
    // from the five words before it.
    bool LoadFromChunk(const uint8_t* data, uint32_t size, int32_t jsonLength, int32_t atlasLength,
                       const int32_t textureWords[3]);
    bool LoadFromFile(const char* path);  // a ".json" file with its atlas beside it
    bool IsValid() const;                 // reader, data and atlas all present

    // The skeleton branch of SpriteDraw; reads Draw_CurrentInstance. Angles in degrees.
    void DrawInstance(int32_t frame, float x, float y, float xscale, float yscale, float angle, uint32_t colour,
                      float alpha);
    void Draw(const char* animation, const char* skin, int32_t frame, float x, float y, float xscale, float yscale,
              float rotation, uint32_t colour, float alpha, CInstance* instance);
    void DrawTime(const char* animation, const char* skin, float time, float x, float y, float xscale, float yscale,
                  float rotation, uint32_t colour, float alpha, CInstance* instance);
    void DrawCollision(const char* animation, int32_t frame, float x, float y, float xscale, float yscale,
                       float rotation, uint32_t colour);
    // Append names (strings) or one new ds_map index per slot (reals) to a ds_list.
    void GetAnimationList(int32_t list);
    void GetSkinList(int32_t list);
    void GetSlotData(int32_t list);
};

// What the seam was handed, for tests (each may be null).
struct SkeletonSeamHooks {
    void (*loadFromChunk)(CSkeletonSprite* skeleton, const uint8_t* data, uint32_t size, int32_t jsonLength,
                          int32_t atlasLength, const int32_t textureWords[3]);
    void (*drawInstance)(CSkeletonSprite* skeleton, int32_t frame, float x, float y, float xscale, float yscale,
                         float angle, uint32_t colour, float alpha);
};
const SkeletonSeamHooks* Skeleton_SetSeamHooks(const SkeletonSeamHooks* hooks);  // returns the previous ones

// Test doubles for the seam's collision answers (each may be null). Shape kinds: 0 point (x1, y1),
// 1 rectangle, 2 ellipse, 3 line (corners or ends in x1 ... y2); 4 another skeleton (other: its pose
// state), 5 a sprite (other: the CSprite).
struct SkeletonCollisionHooks {
    bool (*boundingBox)(CSkeletonInstance* skeleton, BoundingBox* out, int32_t imageIndex, float x, float y);
    bool (*collision)(CSkeletonInstance* skeleton, int32_t shape, float x1, float y1, float x2, float y2,
                      const void* other);
};
const SkeletonCollisionHooks* Skeleton_SetCollisionHooks(const SkeletonCollisionHooks* hooks);

// A pose state for an instance showing a skeleton sprite; null when the sprite has no skeleton data.
CSkeletonInstance* Skeleton_CreateInstance(int32_t spriteIndex);
// An independent copy (instance copies keep their pose); null for null.
CSkeletonInstance* Skeleton_CopyInstance(const CSkeletonInstance* source);
void Skeleton_DeleteInstance(CSkeletonInstance* instance);
// The sprite's animation duration in seconds; 0 without skeleton data.
double Skeleton_AnimationDuration(int32_t spriteIndex);
