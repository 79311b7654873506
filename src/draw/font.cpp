// Fonts from the FONT chunk (and the default font's table): glyph lookup, measuring, the four drawing forms,
// and the font table.
#include "draw/font.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/text.h"
#include "draw/draw.h"
#include "gfx/batch.h"
#include "gfx/colour.h"
#include "gfx/matrices.h"
#include "gfx/quad.h"
#include "gfx/texpage.h"
#include "gfx/texture_handle.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "world/wad_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

const uint16_t* Font_CodeTable = nullptr;

namespace {

constexpr uint32_t kFontEntryFixed = 44;
constexpr uint32_t kFontCodeTableBytes = 512;

uint16_t g_fontCodeTable[256];

struct FontTable {
    CFontKV** fonts = nullptr;
    char** names = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;
};
FontTable g_fontTable;

uint32_t Font_ReadU32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// TL red 0 blue 0, TR red 0 blue 1, BR red 1 blue 0, BL red 1 blue 1 (ARGB: red's low bit is bit 16).
uint32_t Font_CornerId(uint32_t argb, int corner)
{
    if (!GR_CornerIdEnabled) return argb;
    static const uint32_t kBits[4] = {0x00000000u, 0x00000001u, 0x00010000u, 0x00010001u};
    return (argb & ~0x00010001u) | kBits[corner];
}

// t / W of the gradient; a line without width (zero-advance glyphs) stays at its first colours.
double Font_Amount(double t, double w) { return w == 0.0 ? 0.0 : t / w; }

// The failure of one entry: "<tag> at offset <n>: font <i>: <what>".
bool Font_Fail(WadReader& r, uint64_t offset, uint32_t index, const char* what)
{
    char text[128];
    std::snprintf(text, sizeof text, "font %u: %s", index, what);
    return r.Fail(uint32_t(std::min<uint64_t>(offset, UINT32_MAX)), text);
}

// Checks one entry and everything it refers to; the load itself cannot fail afterwards.
bool Font_CheckEntry(WadReader& r, uint32_t entry, uint32_t index, uint32_t tableEnd)
{
    if (entry < r.ChunkStart() || uint64_t(entry) + kFontEntryFixed > tableEnd)
        return Font_Fail(r, entry, index, "entry outside the chunk");
    const uint8_t* base = r.Data();
    const char* text = nullptr;
    WadReader probe(r.Data(), r.Length(), false);
    if (!probe.String(Font_ReadU32(base + entry), &text)) return Font_Fail(r, entry, index, "name outside the data");
    if (!probe.String(Font_ReadU32(base + entry + 4), &text))
        return Font_Fail(r, entry + 4, index, "typeface name outside the data");
    const uint32_t tpag = Font_ReadU32(base + entry + 28);
    int32_t sourceWidth = 0, sourceHeight = 0;
    if (tpag != 0) {
        if (uint64_t(tpag) + sizeof(TexturePageEntry) > r.Length())
            return Font_Fail(r, entry + 28, index, "texture page entry outside the data");
        TexturePageEntry e;
        std::memcpy(&e, base + tpag, sizeof e);
        sourceWidth = e.sourceWidth;
        sourceHeight = e.sourceHeight;
    }
    const uint32_t count = Font_ReadU32(base + entry + 40);
    if (uint64_t(count) * 4 > tableEnd - (entry + kFontEntryFixed))
        return Font_Fail(r, entry + 40, index, "glyph count runs past the chunk");
    for (uint32_t j = 0; j < count; ++j) {
        const uint32_t at = entry + kFontEntryFixed + 4 * j;
        const uint32_t glyph = Font_ReadU32(base + at);
        char what[96];
        if (glyph < r.ChunkStart() || uint64_t(glyph) + sizeof(FontGlyph) > tableEnd) {
            std::snprintf(what, sizeof what, "glyph %u outside the chunk", j);
            return Font_Fail(r, at, index, what);
        }
        FontGlyph g;
        std::memcpy(&g, base + glyph, sizeof g);
        if (g.kerningCount < 0 || uint64_t(glyph) + sizeof g + uint64_t(g.kerningCount) * 4 > tableEnd) {
            std::snprintf(what, sizeof what, "glyph %u kerning pair count runs past the chunk", j);
            return Font_Fail(r, glyph + 14, index, what);
        }
        if (g.width < 0 || g.height < 0 ||
            (tpag != 0 && (g.x < 0 || g.y < 0 || g.x + g.width > sourceWidth || g.y + g.height > sourceHeight))) {
            std::snprintf(what, sizeof what, "glyph %u rectangle outside its texture page entry", j);
            return Font_Fail(r, glyph + 2, index, what);
        }
    }
    return true;
}

// Room for count glyphs of six vertices in the batch, in runs the batch can take.
VertexPosColourUV* Font_Vertices(NativeTexture* texture, int32_t glyphs)
{
    return static_cast<VertexPosColourUV*>(
        GR_Batch_Alloc(RDPT_TRIANGLELIST, texture, VERTEX_FORMAT_POS_COLOUR_UV, glyphs * 6));
}

void Font_PutQuad(VertexPosColourUV* v, const float px[4], const float py[4], float u0, float v0, float u1, float v1,
                  uint32_t colour)
{
    const uint32_t c[4] = {Font_CornerId(colour, 0), Font_CornerId(colour, 1), Font_CornerId(colour, 2),
                           Font_CornerId(colour, 3)};
    const float us[4] = {u0, u1, u1, u0}, vs[4] = {v0, v0, v1, v1};
    static const int kOrder[6] = {0, 1, 2, 2, 3, 0};
    for (int k = 0; k < 6; ++k) {
        const int i = kOrder[k];
        v[k] = {px[i], py[i], GR_Depth, c[i], us[i], vs[i]};
    }
}

}  // namespace

// ---- CFontKV ----

void* CFontKV::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CFontKV::operator delete(void* p) { MemFree(p); }

CFontKV::CFontKV() { Reset(); }

CFontKV::CFontKV(const uint8_t* table, int32_t first, int32_t last, int32_t texture)
{
    m_name = String_Duplicate("debug");
    m_size = 10;
    m_antiAlias = 3;
    m_margin = 0.5f;
    m_first = first;
    m_last = last;
    m_glyphCount = std::max(0, last - first + 1);
    m_glyphBlock = static_cast<uint8_t*>(MemoryManager::Alloc(size_t(m_glyphCount) * sizeof(FontGlyph) + 1,
                                                              __FILE__, __LINE__, true));
    m_glyphs = static_cast<const FontGlyph**>(
        MemoryManager::Alloc(size_t(m_glyphCount) * sizeof(FontGlyph*) + 1, __FILE__, __LINE__, true));
    auto* records = reinterpret_cast<FontGlyph*>(m_glyphBlock);
    for (int32_t i = 0; i < m_glyphCount; ++i) {
        const uint8_t* t = table + 4 * i;
        records[i] = {uint16_t(first + i), int16_t(t[0]), int16_t(t[1]), int16_t(t[2]), int16_t(t[3]),
                      int16_t(t[2]), 0, 0};
        m_glyphs[i] = &records[i];
        m_lineHeight = std::max<int32_t>(m_lineHeight, t[3]);
    }
    m_ownEntry = static_cast<TexturePageEntry*>(MemoryManager::Alloc(sizeof(TexturePageEntry), __FILE__, __LINE__, true));
    *m_ownEntry = {0, 0, 256, 128, 0, 0, 256, 128, 256, 128, int16_t(texture)};
    m_entry = reinterpret_cast<const uint8_t*>(m_ownEntry);
    m_alphaWidth = 256;
    m_alphaHeight = 128;
}

CFontKV::~CFontKV()
{
    Reset();
}

void CFontKV::Reset()
{
    MemFree(m_name);
    m_name = nullptr;
    MemFree(m_alpha);
    m_alpha = nullptr;
    m_alphaLength = 0;
    FreeTexture();
    MemFree(m_glyphs);
    m_glyphs = nullptr;
    MemFree(m_glyphBlock);
    m_glyphBlock = nullptr;
    m_glyphCount = 0;
    MemFree(m_ownEntry);
    m_ownEntry = nullptr;
    m_entry = nullptr;
    m_size = 12;
    m_bold = m_italic = false;
    m_first = 32;
    m_last = 128;
    m_xscale = m_yscale = 1.0f;
    m_margin = 0.0f;
    m_sprite = -1;
    m_lineHeight = 0;
    m_alphaWidth = m_alphaHeight = 0;
}

void CFontKV::LoadFromChunk(const uint8_t* base, uint32_t entry)
{
    Reset();
    const uint8_t* e = base + entry;
    const uint32_t tpag = Font_ReadU32(e + 28);
    if (tpag) {
        m_entry = base + tpag;
        TexturePageEntry copy;
        std::memcpy(&copy, m_entry, sizeof copy);
        m_alphaWidth = copy.sourceWidth;
        m_alphaHeight = copy.sourceHeight;
    }
    int32_t size;
    std::memcpy(&size, e + 8, 4);
    m_size = size;
    m_bold = Font_ReadU32(e + 12) != 0;
    m_italic = Font_ReadU32(e + 16) != 0;
    uint16_t first;
    std::memcpy(&first, e + 20, 2);
    m_first = first;
    if (e[22]) m_charset = e[22];
    if (e[23]) m_antiAlias = int32_t(e[23]) - 1;
    m_last = int32_t(Font_ReadU32(e + 24));
    std::memcpy(&m_xscale, e + 32, 4);
    std::memcpy(&m_yscale, e + 36, 4);
    const uint32_t face = Font_ReadU32(e + 4);
    if (face) m_name = String_Duplicate(reinterpret_cast<const char*>(base + face));

    // The records are copied (with their pairs) into one block so that every read is aligned.
    const uint32_t count = Font_ReadU32(e + 40);
    size_t bytes = 0;
    for (uint32_t j = 0; j < count; ++j) {
        FontGlyph g;
        std::memcpy(&g, base + Font_ReadU32(e + kFontEntryFixed + 4 * j), sizeof g);
        bytes += sizeof g + size_t(g.kerningCount) * 4;
    }
    m_glyphCount = int32_t(count);
    m_glyphBlock = static_cast<uint8_t*>(MemoryManager::Alloc(bytes + 1, __FILE__, __LINE__, true));
    m_glyphs = static_cast<const FontGlyph**>(
        MemoryManager::Alloc(size_t(count) * sizeof(FontGlyph*) + 1, __FILE__, __LINE__, true));
    size_t at = 0;
    for (uint32_t j = 0; j < count; ++j) {
        const uint8_t* g = base + Font_ReadU32(e + kFontEntryFixed + 4 * j);
        FontGlyph head;
        std::memcpy(&head, g, sizeof head);
        const size_t n = sizeof head + size_t(head.kerningCount) * 4;
        std::memcpy(m_glyphBlock + at, g, n);
        m_glyphs[j] = reinterpret_cast<const FontGlyph*>(m_glyphBlock + at);
        m_lineHeight = std::max<int32_t>(m_lineHeight, head.height);
        at += n;
    }
}

void CFontKV::InitTexture()
{
    FreeTexture();
    if (m_sprite >= 0 || !m_name || !*m_name || !m_alpha) return;
    m_texture = GR_Texture_CreateFromAlpha(m_alphaWidth, m_alphaHeight, m_alpha);
}

void CFontKV::FreeTexture()
{
    if (m_texture >= 0) GR_Texture_Free(m_texture);
    m_texture = -1;
}

const FontGlyph* CFontKV::GetGlyph(uint32_t code) const
{
    int32_t lo = 0, hi = m_glyphCount - 1;
    while (lo <= hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        const uint32_t c = m_glyphs[mid]->code;
        if (c == code) return m_glyphs[mid];
        if (c < code) lo = mid + 1;
        else hi = mid - 1;
    }
    return code == FONT_FALLBACK_CODE ? nullptr : GetGlyph(FONT_FALLBACK_CODE);
}

int32_t CFontKV::GetGlyphAdvance(uint32_t code) const
{
    const FontGlyph* g = GetGlyph(code);
    return g ? g->shift : 0;
}

int32_t CFontKV::TextWidth(const uint16_t* text) const
{
    if (!text) return 0;
    int32_t width = 0;
    for (; *text; ++text) width += GetGlyphAdvance(*text);
    return width;
}

int64_t CFontKV::GetTexture() const
{
    if (m_entry && !m_ownEntry) return TexturePageEntry_Register(reinterpret_cast<const TexturePageEntry*>(m_entry));
    return m_texture;
}

bool CFontKV::Entry(TexturePageEntry* out) const
{
    if (!m_entry) return false;
    std::memcpy(out, m_entry, sizeof *out);
    return true;
}

bool CFontKV::Texture(NativeTexture** texture, float* uScale, float* vScale, TexturePageEntry* entry,
                      bool* hasEntry) const
{
    *hasEntry = Entry(entry);
    TexturePage* page = GR_Texture_Page(*hasEntry ? entry->page : m_texture);
    if (!page) return false;
    *texture = page->texture;
    *uScale = page->uScale;
    *vScale = page->vScale;
    return true;
}

void CFontKV::DrawQuads(float x, float y, const uint16_t* text, float xs, float ys, float angle, uint32_t colour,
                        float alpha) const
{
    if (!text || m_sprite >= 0) return;
    NativeTexture* texture = nullptr;
    float us = 1, vs = 1;
    TexturePageEntry e{};
    bool hasEntry = false;
    if (!Texture(&texture, &us, &vs, &e, &hasEntry)) return;
    const uint32_t argb = Colour_ToARGBAlpha(colour & 0xFFFFFF, alpha);
    const float a = angle * float(M_PI / 180.0);
    const bool turned = std::fabs(angle) >= 0.001f;
    const float c = std::cos(a), s = std::sin(a), m = m_margin;
    const float sx = hasEntry ? float(e.sourceX) : 0.0f, sy = hasEntry ? float(e.sourceY) : 0.0f;
    const float grow = hasEntry ? m : 0.0f;

    int32_t drawn = 0;
    for (const uint16_t* p = text; *p; ++p)
        if (GetGlyph(*p)) ++drawn;
    // Runs of at most this many glyphs per batch request.
    constexpr int32_t kRun = 4096;
    VertexPosColourUV* v = nullptr;
    int32_t left = 0;
    float penX = x, penY = y;
    for (const uint16_t* p = text; *p; ++p) {
        const FontGlyph* g = GetGlyph(*p);
        if (!g) continue;
        if (left == 0) {
            left = std::min(drawn, kRun);
            drawn -= left;
            v = Font_Vertices(texture, left);
        }
        float px[4], py[4];
        if (!turned) {
            const float x0 = penX + float(g->offset) * xs - m, y0 = penY - m;
            const float x1 = penX + float(g->offset) * xs + float(g->width) * xs + m;
            const float y1 = penY + float(g->height) * ys + m;
            px[0] = x0, py[0] = y0, px[1] = x1, py[1] = y0, px[2] = x1, py[2] = y1, px[3] = x0, py[3] = y1;
        } else {
            const float ox = penX + float(g->offset) * xs * c, oy = penY - float(g->offset) * xs * s;
            const float wx = float(g->width) * xs * c, wy = -float(g->width) * xs * s;
            const float hx = float(g->height) * ys * s, hy = float(g->height) * ys * c;
            px[0] = ox - m, py[0] = oy - m;
            px[1] = ox + wx - m, py[1] = oy + wy - m;
            px[2] = ox + wx + hx + m, py[2] = oy + wy + hy + m;
            px[3] = ox + hx + m, py[3] = oy + hy + m;
        }
        const float u0 = (float(g->x) + sx - grow) * us, v0 = (float(g->y) + sy - grow) * vs;
        const float u1 = (float(g->x) + float(g->width) + sx + grow) * us;
        const float v1 = (float(g->y) + float(g->height) + sy + grow) * vs;
        Font_PutQuad(v, px, py, u0, v0, u1, v1, argb);
        v += 6;
        --left;
        if (turned) {
            penX += float(g->shift) * xs * c;
            penY -= float(g->shift) * xs * s;
        } else {
            penX += float(g->shift) * xs;
        }
    }
}

void CFontKV::DrawGeneral(float x, float y, const uint16_t* text, float xs, float ys, float angle, bool turned,
                          uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4, float alpha) const
{
    if (!text || m_sprite >= 0) return;
    TexturePageEntry e{};
    const bool hasEntry = Entry(&e);
    if (!hasEntry && m_texture < 0) return;
    const double w = TextWidth(text);
    const float a = turned ? angle * float(M_PI / 180.0) : 0.0f;
    const float c = std::cos(a), s = std::sin(a);
    double t = 0;
    float penX = x, penY = y;
    for (const uint16_t* p = text; *p; ++p) {
        const FontGlyph* g = GetGlyph(*p);
        if (!g) continue;
        const double from = Font_Amount(t, w), to = Font_Amount(t + g->shift, w);
        const uint32_t tl = Colour_Merge(c1, c2, from), tr = Colour_Merge(c1, c2, to);
        const uint32_t br = Colour_Merge(c4, c3, to), bl = Colour_Merge(c4, c3, from);
        const float gx = turned ? penX + float(g->offset) * xs * c : penX + float(g->offset);
        const float gy = turned ? penY - float(g->offset) * xs * s : penY;
        if (hasEntry)
            GR_TPE_DrawGeneral(&e, g->x, g->y, g->width, g->height, gx, gy, xs, ys, a, tl, tr, br, bl, alpha);
        else
            GR_Texture_DrawGeneral(m_texture, g->x, g->y, g->width, g->height, gx, gy, xs, ys, a, tl, tr, br, bl,
                                   alpha);
        t += g->shift;
        if (turned) {
            penX += float(g->shift) * xs * c;
            penY -= float(g->shift) * xs * s;
        } else {
            penX += float(g->shift);
        }
    }
}

void CFontKV::DrawText(float x, float y, const uint16_t* text, uint32_t colour, float alpha) const
{
    DrawQuads(x, y, text, m_xscale, m_yscale, 0.0f, colour, alpha);
}

void CFontKV::DrawTextTransformed(float x, float y, const uint16_t* text, float xscale, float yscale, float angle,
                                  uint32_t colour, float alpha) const
{
    DrawQuads(x, y, text, xscale, yscale, angle, colour, alpha);
}

void CFontKV::DrawTextColour(float x, float y, const uint16_t* text, uint32_t c1, uint32_t c2, uint32_t c3,
                             uint32_t c4, float alpha) const
{
    // Texture fonts draw at scale 1.
    const bool entry = m_entry != nullptr;
    DrawGeneral(x, y, text, entry ? m_xscale : 1.0f, entry ? m_yscale : 1.0f, 0.0f, false, c1, c2, c3, c4, alpha);
}

void CFontKV::DrawTextTransformedColour(float x, float y, const uint16_t* text, float xscale, float yscale,
                                        float angle, uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4,
                                        float alpha) const
{
    DrawGeneral(x, y, text, xscale, yscale, angle, true, c1, c2, c3, c4, alpha);
}

// ---- The font table ----

namespace {

void FontTable_Grow(int32_t count)
{
    FontTable& t = g_fontTable;
    if (count <= t.capacity) return;
    t.fonts = static_cast<CFontKV**>(MemReAlloc(t.fonts, size_t(count) * sizeof(CFontKV*)));
    t.names = static_cast<char**>(MemReAlloc(t.names, size_t(count) * sizeof(char*)));
    for (int32_t i = t.capacity; i < count; ++i) {
        t.fonts[i] = nullptr;
        t.names[i] = nullptr;
    }
    t.capacity = count;
}

void FontTable_Clear()
{
    FontTable& t = g_fontTable;
    for (int32_t i = 0; i < t.count; ++i) {
        delete t.fonts[i];
        MemFree(t.names[i]);
    }
    MemFree(t.fonts);
    MemFree(t.names);
    t = FontTable{};
}

}  // namespace

void Font_Init()
{
    SeamTrace_Record("Font_Init");
    FontTable_Clear();
    Font_CodeTable = nullptr;
}

bool Font_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Font_Load");
    WadReader r = WadReader::ForChunk(body, size, base);
    if (r.Failed()) return false;
    // The code table is the body's last 512 bytes; a shorter chunk has none.
    const bool hasTable = size >= kFontCodeTableBytes;
    const uint32_t tableEnd = r.ChunkEnd();
    uint32_t count = 0;
    if (!r.List(r.ChunkStart(), &count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = 0;
        r.ListEntry(r.ChunkStart(), i, &entry);
        if (entry && !Font_CheckEntry(r, entry, i, tableEnd)) return false;
    }

    FontTable_Clear();
    if (hasTable) {
        std::memcpy(g_fontCodeTable, body + size - kFontCodeTableBytes, kFontCodeTableBytes);
        Font_CodeTable = g_fontCodeTable;
    } else {
        Font_CodeTable = nullptr;
    }
    FontTable_Grow(int32_t(count));
    g_fontTable.count = int32_t(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t entry = Font_ReadU32(body + 4 + 4 * i);
        if (!entry) continue;
        auto* font = new CFontKV();
        font->LoadFromChunk(base, entry);
        g_fontTable.fonts[i] = font;
        const uint32_t name = Font_ReadU32(base + entry);
        g_fontTable.names[i] = name ? String_Duplicate(reinterpret_cast<const char*>(base + name)) : nullptr;
    }
    return true;
}

void Font_InitTextures()
{
    SeamTrace_Record("Font_InitTextures");
    for (int32_t i = 0; i < g_fontTable.count; ++i)
        if (g_fontTable.fonts[i]) g_fontTable.fonts[i]->InitTexture();
}

void Font_FreeTextures()
{
    for (int32_t i = 0; i < g_fontTable.count; ++i)
        if (g_fontTable.fonts[i]) g_fontTable.fonts[i]->FreeTexture();
}

void Font_FreeAll()
{
    SeamTrace_Record("Font_FreeAll");
    Font_FreeTextures();
    FontTable_Clear();
    Font_CodeTable = nullptr;
}

int32_t Font_Count() { return g_fontTable.count; }

bool Font_Exists(int32_t index) { return index >= 0 && index < g_fontTable.count && g_fontTable.fonts[index]; }

const char* Font_Name(int32_t index)
{
    if (!Font_Exists(index)) return "<undefined>";
    return g_fontTable.names[index] ? g_fontTable.names[index] : "";
}

CFontKV* Font_Data(int32_t index)
{
    return index >= 0 && index < g_fontTable.count ? g_fontTable.fonts[index] : nullptr;
}

int32_t Font_Find(const char* name)
{
    if (!name) return -1;
    for (int32_t i = 0; i < g_fontTable.count; ++i)
        if (g_fontTable.fonts[i] && g_fontTable.names[i] && std::strcmp(g_fontTable.names[i], name) == 0) return i;
    return -1;
}

bool Font_Delete(int32_t index)
{
    if (!Font_Exists(index)) return false;
    delete g_fontTable.fonts[index];
    MemFree(g_fontTable.names[index]);
    g_fontTable.fonts[index] = nullptr;
    g_fontTable.names[index] = nullptr;
    return true;
}

int32_t Font_Append(CFontKV* font)
{
    FontTable& t = g_fontTable;
    if (t.count == t.capacity) FontTable_Grow(t.count + 5);
    const int32_t index = t.count++;
    t.fonts[index] = font;
    char name[32];
    std::snprintf(name, sizeof name, "__newfont%d", index);
    t.names[index] = String_Duplicate(name);
    return index;
}
