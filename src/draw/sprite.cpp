// The sprite table: sprites by number, their names and the name map, SPRT loading and the CSprite life cycle.
#include "draw/sprite.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/convert.h"
#include "core/hashmap.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "draw/draw.h"
#include "draw/vector_sprite.h"
#include "gfx/bitmap.h"
#include "gfx/readback.h"
#include "gfx/texpage.h"
#include "gfx/textures.h"
#include "skeleton/skeleton.h"
#include "world/loader.h"
#include "world/wad_reader.h"

namespace {

CSprite** g_spriteTable = nullptr;
int32_t g_spriteTableCount = 0;
char** g_spriteNames = nullptr;
int32_t g_spriteNameCount = 0;
CHashMapByName<int32_t>* g_spriteNameMap = nullptr;
SpriteFactsSource g_spriteFactsOverride = nullptr;

constexpr int32_t kSpriteNameMapCapacity = 128;

CHashMapByName<int32_t>& SpriteTable_NameMap()
{
    if (!g_spriteNameMap) g_spriteNameMap = new CHashMapByName<int32_t>(kSpriteNameMapCapacity);
    return *g_spriteNameMap;
}

// Resizes a memory-manager array of pointers; new slots are null.
template <class T>
void SpriteTable_Resize(T*** array, int32_t* length, int32_t n)
{
    if (n <= 0) {
        MemFree(*array);
        *array = nullptr;
        *length = 0;
        return;
    }
    T** grown = static_cast<T**>(MemoryManager::ReAlloc(*array, sizeof(T*) * size_t(n), __FILE__, __LINE__));
    for (int32_t i = *length; i < n; ++i) grown[i] = nullptr;
    *array = grown;
    *length = n;
}

char* SpriteTable_CopyName(const char* name)
{
    const size_t n = name ? std::strlen(name) : 0;
    char* copy = static_cast<char*>(MemoryManager::Alloc(n + 1, __FILE__, __LINE__, false));
    if (n) std::memcpy(copy, name, n);
    copy[n] = '\0';
    return copy;
}

// Frame index wrapped into 0..count-1; -1 is the last frame.
inline int32_t SpriteTable_WrapFrame(int32_t frame, int32_t count)
{
    int32_t f = frame % count;
    return f < 0 ? f + count : f;
}

// ceil of one origin-to-corner distance, in single precision from the integer squares.
int32_t SpriteTable_CornerDistance(int64_t dx, int64_t dy)
{
    const float sq = float(double(dx) * double(dx)) + float(double(dy) * double(dy));
    return Real_ToInt32(std::ceil(double(std::sqrt(sq))));
}

// "sprite <i>: <what>" at the failing offset.
bool SpriteLoad_Fail(WadReader& r, uint64_t offset, int32_t index, const char* what)
{
    char text[128];
    std::snprintf(text, sizeof text, "sprite %d: %s", index, what);
    return r.Fail(uint32_t(std::min<uint64_t>(offset, UINT32_MAX)), text);
}

// A word of the entry, which lies in the SPRT chunk.
bool SpriteLoad_Word(WadReader& r, uint64_t offset, int32_t index, const char* field, uint32_t* out)
{
    if (r.Failed()) return false;
    if (offset < r.ChunkStart() || offset + 4 > r.ChunkEnd()) {
        char what[96];
        std::snprintf(what, sizeof what, "%s outside the chunk", field);
        return SpriteLoad_Fail(r, offset, index, what);
    }
    return r.U32(uint32_t(offset), out);
}

bool SpriteLoad_Int(WadReader& r, uint64_t offset, int32_t index, const char* field, int32_t* out)
{
    uint32_t w = 0;
    if (!SpriteLoad_Word(r, offset, index, field, &w)) return false;
    *out = int32_t(w);
    return true;
}

}  // namespace

// ---- CSprite ----

void* CSprite::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CSprite::operator delete(void* p) { MemoryManager::Free(p); }

CSprite::CSprite() { Free(); }

CSprite::~CSprite() { Free(); }

void CSprite::Free()
{
    if (m_kind == SPRITE_KIND_VECTOR) FreeVectorData();
    m_vectorFromData = false;
    delete m_skeleton;
    m_skeleton = nullptr;
    if (m_ownsEntries && m_frameEntries) {
        for (int32_t i = 0; i < m_ownedEntryCount; ++i) {
            TexturePageEntry_Unregister(m_frameEntries[i]);
            MemFree(m_frameEntries[i]);
        }
    }
    m_ownsEntries = false;
    m_ownedEntryCount = 0;
    // The pointer array is always the sprite's own block, whoever owns the records it points at.
    MemFree(m_frameEntries);
    m_frameEntries = nullptr;
    for (int32_t i = 0; i < m_frameImageCount; ++i) delete m_frameImages[i];
    MemFree(m_frameImages);
    m_frameImages = nullptr;
    m_frameImageCount = 0;
    for (int32_t i = 0; i < m_textureCount; ++i)
        if (m_textures[i] >= 0) GR_Texture_Free(m_textures[i]);
    MemFree(m_textures);
    m_textures = nullptr;
    m_textureCount = 0;
    m_frameCount = 0;
    m_width = 1;
    m_height = 1;
    m_transparent = true;
    m_smooth = false;
    m_preload = true;
    m_bboxMode = 0;
    m_precise = true;
    m_xOrigin = 0;
    m_yOrigin = 0;
    m_bbox = BoundingBox{};
    m_kind = SPRITE_KIND_BITMAP;
    m_name = nullptr;
    m_index = 0;
    FreeMasks();
}

void CSprite::ComputeBoundingRadius()
{
    const int64_t w = m_width, h = m_height, ox = m_xOrigin, oy = m_yOrigin;
    int32_t r = SpriteTable_CornerDistance(ox, oy);
    r = std::max(r, SpriteTable_CornerDistance(w - ox, oy));
    r = std::max(r, SpriteTable_CornerDistance(ox, h - oy));
    r = std::max(r, SpriteTable_CornerDistance(w - ox, h - oy));
    m_boundingRadius = r;
}

bool CSprite::LoadFromChunk(WadReader& r, uint32_t entry, int32_t index, uint32_t contentEnd)
{
    Free();
    const uint64_t e = entry;
    int32_t f[15];
    static const char* const kFields[15] = {"name",        "width",     "height",    "bbox left", "bbox right",
                                            "bbox bottom", "bbox top",  "transparent", "smooth",  "preload",
                                            "bbox mode",   "precise",   "x origin",  "y origin",  "frame count"};
    for (int i = 0; i < 15; ++i)
        if (!SpriteLoad_Int(r, e + 4 * uint64_t(i), index, kFields[i], &f[i])) return false;
    m_width = f[1];
    m_height = f[2];
    m_bbox = BoundingBox{f[3], f[6], f[4], f[5]};  // stored left, right, bottom, top
    m_transparent = f[7] != 0;
    m_smooth = f[8] != 0;
    m_preload = f[9] != 0;
    m_bboxMode = f[10];
    m_precise = f[11] != 0;
    m_xOrigin = f[12];
    m_yOrigin = f[13];

    const bool newFormat = g_GameData.newMode;
    uint64_t body = e + 60;
    int32_t frames = f[14];
    int32_t kind = SPRITE_KIND_BITMAP;
    if (frames == -1) {
        int32_t version = 0;
        if (!SpriteLoad_Int(r, e + 60, index, "format version", &version) ||
            !SpriteLoad_Int(r, e + 64, index, "kind", &kind))
            return false;
        frames = 0;
        body = e + 68;
        if (newFormat) {
            int32_t speed = 0;
            if (!SpriteLoad_Int(r, e + 68, index, "playback speed", &speed)) return false;
            std::memcpy(&m_playbackSpeed, &speed, 4);
            body = e + 72;
        }
    }
    m_kind = kind;

    if (kind == SPRITE_KIND_BITMAP) {
        if (newFormat && frames == 0) {
            if (!SpriteLoad_Int(r, body, index, "frame count", &frames)) return false;
            body += 4;
        }
        if (frames < 0) return SpriteLoad_Fail(r, body, index, "negative frame count");
        if (body + 4 * uint64_t(frames) + 4 > r.ChunkEnd())
            return SpriteLoad_Fail(r, body, index, "frame entries outside the chunk");
        if (frames > 0) {
            m_frameEntries = static_cast<TexturePageEntry**>(
                MemoryManager::Alloc(sizeof(TexturePageEntry*) * size_t(frames), __FILE__, __LINE__, true));
        }
        m_frameCount = frames;
        for (int32_t k = 0; k < frames; ++k) {
            uint32_t at = 0;
            r.U32(uint32_t(body + 4 * uint64_t(k)), &at);
            if (at == 0) continue;
            // The records are read as int16 fields in place, so an odd offset is as bad as one outside.
            if (uint64_t(at) + sizeof(TexturePageEntry) > r.Length() || (at & 1) != 0) {
                char what[64];
                std::snprintf(what, sizeof what, "frame %d entry %s", k, (at & 1) ? "at an odd offset" : "outside the data");
                return SpriteLoad_Fail(r, body + 4 * uint64_t(k), index, what);
            }
            m_frameEntries[k] = reinterpret_cast<TexturePageEntry*>(r.Data() + at);
        }
        const uint64_t countAt = body + 4 * uint64_t(frames);
        int32_t masks = 0;
        if (!SpriteLoad_Int(r, countAt, index, "mask count", &masks)) return false;
        if (masks > 0) {
            if (m_width <= 0 || m_height <= 0) return SpriteLoad_Fail(r, countAt, index, "masks of an empty frame size");
            const uint64_t bytes = uint64_t(masks) * uint64_t(m_height) * ((uint64_t(m_width) + 7) / 8);
            if (countAt + 4 + bytes > r.ChunkEnd())
                return SpriteLoad_Fail(r, countAt, index, "mask block runs past the chunk");
            m_packedMasks = r.Data() + countAt + 4;
            m_packedMaskCount = masks;
            m_packedMaskWidth = m_width;
            m_packedMaskHeight = m_height;
            m_packedMaskFrames = frames;
            m_separateMasks = masks == frames;
        } else {
            m_packedMasks = nullptr;
            m_packedMaskCount = 0;
        }
        ComputeBoundingRadius();
    } else if (kind == SPRITE_KIND_VECTOR || kind == SPRITE_KIND_SKELETON) {
        uint32_t skipped = 0;
        if (!SpriteLoad_Word(r, body, index, "content", &skipped)) return false;
        const uint64_t start = body + 4;
        if (contentEnd > r.ChunkEnd() || start > contentEnd)
            return SpriteLoad_Fail(r, start, index, "content outside the chunk");
        const uint8_t* data = r.Data() + start;
        const uint32_t size = uint32_t(contentEnd - start);
        if (kind == SPRITE_KIND_VECTOR) {
            m_vectorFromData = true;
            LoadVectorData(data, size, m_xOrigin, m_yOrigin);
        } else {
            // Five words lead the skeleton content: the JSON and atlas text lengths and the texture words.
            int32_t words[5];
            for (int i = 0; i < 5; ++i)
                if (!SpriteLoad_Int(r, start + 4 * uint64_t(i), index, "skeleton header", &words[i])) return false;
            if (words[0] < 0 || words[1] < 0 || 20 + uint64_t(words[0]) + uint64_t(words[1]) > size)
                return SpriteLoad_Fail(r, start, index, "skeleton texts outside the chunk");
            m_skeleton = new CSkeletonSprite();
            m_skeleton->LoadFromChunk(data + 20, size - 20, words[0], words[1], words + 2);
            m_frameCount = SPRITE_SKELETON_FRAMES;
        }
    }
    return true;
}

void CSprite::FreeTextures()
{
    for (int32_t i = 0; i < m_textureCount; ++i) {
        if (m_textures[i] >= 0) GR_Texture_Free(m_textures[i]);
        m_textures[i] = -1;
    }
}

bool CSprite::CreateTextures()
{
    FreeTextures();
    if (UsesDataEntries()) return true;
    MemFree(m_textures);
    m_textures = nullptr;
    m_textureCount = 0;
    if (m_frameCount <= 0 || m_kind != SPRITE_KIND_BITMAP) return true;
    m_textures = static_cast<int32_t*>(
        MemoryManager::Alloc(sizeof(int32_t) * size_t(m_frameCount), __FILE__, __LINE__, false));
    m_textureCount = m_frameCount;
    for (int32_t i = 0; i < m_frameCount; ++i) {
        m_textures[i] = -1;
        if (i >= m_frameImageCount || !m_frameImages[i]) continue;
        m_textures[i] = GR_Texture_CreateFromBitmap(m_frameImages[i]);
        if (m_preload && m_textures[i] >= 0) GR_Texture_Preload(m_textures[i]);
    }
    return true;
}

bool CSprite::CreateTexturePageEntries()
{
    if (UsesDataEntries()) return true;
    if (m_ownsEntries && m_frameEntries) {
        for (int32_t i = 0; i < m_ownedEntryCount; ++i) {
            TexturePageEntry_Unregister(m_frameEntries[i]);
            MemFree(m_frameEntries[i]);
        }
    }
    MemFree(m_frameEntries);
    m_frameEntries = nullptr;
    m_ownsEntries = false;
    m_ownedEntryCount = 0;
    if (m_frameImageCount <= 0) return true;
    m_frameEntries = static_cast<TexturePageEntry**>(
        MemoryManager::Alloc(sizeof(TexturePageEntry*) * size_t(m_frameImageCount), __FILE__, __LINE__, true));
    for (int32_t i = 0; i < m_frameImageCount; ++i) {
        auto* t = static_cast<TexturePageEntry*>(
            MemoryManager::Alloc(sizeof(TexturePageEntry), __FILE__, __LINE__, true));
        const CBitmap32* image = m_frameImages[i];
        const int16_t w = int16_t(image ? image->GetWidth() : 0);
        const int16_t h = int16_t(image ? image->GetHeight() : 0);
        t->sourceWidth = t->targetWidth = t->boundingWidth = w;
        t->sourceHeight = t->targetHeight = t->boundingHeight = h;
        t->page = int16_t(i < m_textureCount ? m_textures[i] : -1);
        m_frameEntries[i] = t;
        TexturePageEntry_Register(t);
    }
    m_ownsEntries = true;
    m_ownedEntryCount = m_frameImageCount;
    return true;
}

void CSprite::Assign(const CSprite* source)
{
    if (!source || source == this || source->m_kind != SPRITE_KIND_BITMAP) return;
    Free();
    m_width = source->m_width;
    m_height = source->m_height;
    m_bbox = source->m_bbox;
    m_transparent = source->m_transparent;
    m_smooth = source->m_smooth;
    m_preload = source->m_preload;
    m_bboxMode = source->m_bboxMode;
    m_precise = source->m_precise;
    m_xOrigin = source->m_xOrigin;
    m_yOrigin = source->m_yOrigin;
    m_frameCount = source->m_frameCount;
    m_boundingRadius = source->m_boundingRadius;
    if (source->UsesDataEntries() && m_frameCount > 0) {
        // A copy of the pointers: the records are the game data's, the array is ours.
        m_frameEntries = static_cast<TexturePageEntry**>(
            MemoryManager::Alloc(sizeof(TexturePageEntry*) * size_t(m_frameCount), __FILE__, __LINE__, false));
        std::memcpy(m_frameEntries, source->m_frameEntries, sizeof(TexturePageEntry*) * size_t(m_frameCount));
    }
    if (source->m_frameImageCount > 0) {
        m_frameImages = static_cast<CBitmap32**>(MemoryManager::Alloc(
            sizeof(CBitmap32*) * size_t(source->m_frameImageCount), __FILE__, __LINE__, true));
        m_frameImageCount = source->m_frameImageCount;
        for (int32_t i = 0; i < m_frameImageCount; ++i)
            m_frameImages[i] = source->m_frameImages[i] ? new CBitmap32(*source->m_frameImages[i]) : nullptr;
    }
    CreateTextures();
    if (!source->m_frameEntries || source->m_ownsEntries) CreateTexturePageEntries();
    BuildPreciseMasks();
}

bool CSprite::ExtractFrameImages()
{
    if (m_kind != SPRITE_KIND_BITMAP) return false;
    for (int32_t i = 0; i < m_frameImageCount; ++i) delete m_frameImages[i];
    MemFree(m_frameImages);
    m_frameImages = nullptr;
    m_frameImageCount = 0;
    if (m_frameCount <= 0) return true;
    m_frameImages = static_cast<CBitmap32**>(
        MemoryManager::Alloc(sizeof(CBitmap32*) * size_t(m_frameCount), __FILE__, __LINE__, true));
    for (int32_t i = 0; i < m_frameCount; ++i) {
        const TexturePageEntry* t = m_frameEntries ? m_frameEntries[i] : nullptr;
        if (!t) return false;
        const int32_t sw = t->sourceWidth, sh = t->sourceHeight;
        const int32_t bw = std::max<int32_t>(t->boundingWidth, 1), bh = std::max<int32_t>(t->boundingHeight, 1);
        uint32_t* rows = nullptr;
        if (sw > 0 && sh > 0) {
            rows = GR_Texture_ReadPixels(int32_t(t->page), t->sourceX, t->sourceY, sw, sh);
            if (!rows) return false;
        }
        auto* image = new CBitmap32(bw, bh, 0u);
        uint32_t* px = image->GetPixels().pixels;
        // The colour constructor makes opaque pixels; the frame starts transparent black.
        if (px) std::fill(px, px + int64_t(bw) * bh, 0u);
        // Copy only what lands inside the image: target offsets come from the data.
        for (int32_t y = 0; y < sh && px; ++y) {
            const int32_t ty = t->targetY + y;
            if (ty < 0 || ty >= bh) continue;
            for (int32_t x = 0; x < sw; ++x) {
                const int32_t tx = t->targetX + x;
                if (tx >= 0 && tx < bw) px[int64_t(ty) * bw + tx] = rows[int64_t(y) * sw + x];
            }
        }
        MemFree(rows);
        m_frameImages[i] = image;
        ++m_frameImageCount;
    }
    return true;
}

int64_t CSprite::GetTexture(int32_t frame) const
{
    if (m_kind == SPRITE_KIND_VECTOR || m_frameCount <= 0) return -1;
    const int32_t f = SpriteTable_WrapFrame(frame, m_frameCount);
    if (UsesDataEntries()) return m_frameEntries[f] ? TexturePageEntry_Register(m_frameEntries[f]) : -1;
    return f < m_textureCount ? m_textures[f] : -1;
}

TBitmap* CSprite::GetFrameImage(int32_t frame) const
{
    if (m_kind != SPRITE_KIND_BITMAP || frame < 0 || frame >= m_frameCount || frame >= m_frameImageCount) return nullptr;
    return m_frameImages[frame] ? m_frameImages[frame]->CreateTBitmap() : nullptr;
}

BoundingBox* CSprite::GetFrameBoundingBox(int32_t frame) const
{
    auto* box = static_cast<BoundingBox*>(MemoryManager::Alloc(sizeof(BoundingBox), __FILE__, __LINE__, true));
    if (frame < 0 || frame >= m_frameCount) return box;
    if (m_frameEntries) {
        if (const TexturePageEntry* t = m_frameEntries[frame]) {
            box->left = t->targetX;
            box->top = t->targetY;
            box->right = t->targetX + t->sourceWidth;
            box->bottom = t->targetY + t->sourceHeight;
        }
    } else if (m_kind == SPRITE_KIND_BITMAP) {
        if (frame < m_frameImageCount && m_frameImages[frame]) {
            int32_t* b = m_frameImages[frame]->GetBoundingBox();
            if (b) {
                *box = BoundingBox{b[0], b[1], b[2], b[3]};
                MemFree(b);
            }
        }
    } else if (m_kind == SPRITE_KIND_VECTOR) {
        float minX = 0, minY = 0, maxX = 0, maxY = 0;
        if (VectorSprite_GetFrameBounds(this, frame, &minX, &minY, &maxX, &maxY))
            *box = BoundingBox{Real_ToInt32(minX), Real_ToInt32(minY), Real_ToInt32(maxX), Real_ToInt32(maxY)};
    }
    return box;
}

// ---- The table ----

void Sprite_Init()
{
    SeamTrace_Record("Sprite_Init");
    for (int32_t i = 0; i < g_spriteTableCount; ++i) delete g_spriteTable[i];
    for (int32_t i = 0; i < g_spriteNameCount; ++i) MemFree(g_spriteNames[i]);
    SpriteTable_Resize(&g_spriteTable, &g_spriteTableCount, 0);
    SpriteTable_Resize(&g_spriteNames, &g_spriteNameCount, 0);
    // The map is made by the first name inserted, so a game without sprites holds no block for it.
    if (g_spriteNameMap) g_spriteNameMap->Init(g_spriteNameMap->Capacity());
}

bool Sprite_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Sprite_Load");
    WadReader r = WadReader::ForChunk(body, size, base);
    const uint32_t list = r.ChunkStart();
    uint32_t count = 0;
    if (!r.List(list, &count)) return false;
    if (count > uint32_t(INT32_MAX)) return r.Fail(list, "too many sprites");

    // A vector or skeleton entry's content ends where the next entry (by offset) begins.
    std::vector<uint32_t, MemAllocator<uint32_t>> starts;
    starts.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t at = 0;
        r.ListEntry(list, i, &at);
        if (at) starts.push_back(at);
    }
    std::sort(starts.begin(), starts.end());

    SpriteTable_Resize(&g_spriteTable, &g_spriteTableCount, int32_t(count));
    SpriteTable_Resize(&g_spriteNames, &g_spriteNameCount, int32_t(count));
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t at = 0;
        if (!r.ListEntry(list, i, &at)) return false;
        if (at == 0) continue;
        const int32_t index = int32_t(i);
        uint32_t nameRef = 0;
        const char* name = nullptr;
        if (!SpriteLoad_Word(r, at, index, "name", &nameRef)) return false;
        WadReader names(r.Data(), r.Length(), false);  // a bad name fails below, naming the sprite
        if (!names.String(nameRef, &name)) return SpriteLoad_Fail(r, at, index, "name outside the data");
        const auto next = std::upper_bound(starts.begin(), starts.end(), at);
        const uint32_t contentEnd = next == starts.end() ? r.ChunkEnd() : *next;
        CSprite* sprite = new CSprite();
        if (!sprite->LoadFromChunk(r, at, index, contentEnd)) {
            delete sprite;
            return false;
        }
        delete g_spriteTable[i];
        MemFree(g_spriteNames[i]);
        g_spriteNames[i] = SpriteTable_CopyName(name);
        g_spriteTable[i] = sprite;
        sprite->m_index = index;
        sprite->m_name = g_spriteNames[i];
        SpriteTable_NameMap().Insert(g_spriteNames[i], index);
    }
    return true;
}

void Sprite_InitTextures()
{
    SeamTrace_Record("Sprite_InitTextures");
    for (int32_t i = 0; i < g_spriteTableCount; ++i) {
        if (!g_spriteTable[i]) continue;
        g_spriteTable[i]->CreateTextures();
        g_spriteTable[i]->CreateTexturePageEntries();
    }
}

void Sprite_FreeAll()
{
    SeamTrace_Record("Sprite_FreeAll");
    for (int32_t i = 0; i < g_spriteNameCount; ++i) MemFree(g_spriteNames[i]);
    SpriteTable_Resize(&g_spriteNames, &g_spriteNameCount, 0);
    for (int32_t i = 0; i < g_spriteTableCount; ++i)
        if (g_spriteTable[i]) g_spriteTable[i]->FreeTextures();
    for (int32_t i = 0; i < g_spriteTableCount; ++i) delete g_spriteTable[i];
    SpriteTable_Resize(&g_spriteTable, &g_spriteTableCount, 0);
    // The keys were the names just freed; the next load makes a fresh map.
    delete g_spriteNameMap;
    g_spriteNameMap = nullptr;
}

CSprite* Sprite_Data(int32_t index)
{
    if (g_spriteFactsOverride) [[unlikely]] {
        SpriteFacts facts{};
        return g_spriteFactsOverride(index, &facts) ? facts.sprite : nullptr;
    }
    return (index >= 0 && index < g_spriteTableCount) ? g_spriteTable[index] : nullptr;
}

bool Sprite_Exists(int32_t index) { return Sprite_GetFacts(index, nullptr); }

int32_t Sprite_Find(const char* name)
{
    if (!name || !g_spriteNameMap) return -1;
    const int32_t slot = g_spriteNameMap->FindSlot(name);
    return slot < 0 ? -1 : g_spriteNameMap->At(slot).value;
}

const char* Sprite_Name(int32_t index)
{
    if (index < 0 || index >= g_spriteTableCount || !g_spriteTable[index] || !g_spriteNames[index]) return "<undefined>";
    return g_spriteNames[index];
}

int32_t Sprite_Count() { return g_spriteTableCount; }

SpriteFactsSource Sprite_SetFactsSource(SpriteFactsSource source)
{
    SpriteFactsSource old = g_spriteFactsOverride;
    g_spriteFactsOverride = source;
    return old;
}

bool Sprite_GetFacts(int32_t index, SpriteFacts* out)
{
    if (g_spriteFactsOverride) [[unlikely]] {
        SpriteFacts scratch{};
        return g_spriteFactsOverride(index, out ? out : &scratch);
    }
    if (index < 0 || index >= g_spriteTableCount) return false;
    CSprite* s = g_spriteTable[index];
    if (!s) return false;
    if (out) {
        out->frameCount = s->m_frameCount;
        out->kind = s->m_kind;
        out->playbackSpeed = s->m_playbackSpeed;
        out->width = s->m_width;
        out->height = s->m_height;
        out->xOrigin = s->m_xOrigin;
        out->yOrigin = s->m_yOrigin;
        out->bboxLeft = s->m_bbox.left;
        out->bboxTop = s->m_bbox.top;
        out->bboxRight = s->m_bbox.right;
        out->bboxBottom = s->m_bbox.bottom;
        out->precise = s->m_precise;
        out->sprite = s;
    }
    return true;
}
