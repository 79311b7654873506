// Fonts: CFontKV, its glyph records, the font table and the FONT chunk's character-code table. Text layout
// (draw/text.h) measures and draws through the CFontKV operations here.
#pragma once
#include <cstddef>
#include <cstdint>

struct TexturePageEntry;
struct NativeTexture;

// One glyph: 16 bytes, then kerningCount pairs {int16 preceding code, int16 adjustment}.
struct FontGlyph {
    uint16_t code;
    int16_t x, y;           // of the image in the entry's source rectangle (or in the font's texture)
    int16_t width, height;  // of the image
    int16_t shift;          // horizontal advance
    int16_t offset;         // drawing offset from the pen
    int16_t kerningCount;
};
static_assert(sizeof(FontGlyph) == 16);

constexpr uint16_t FONT_FALLBACK_CODE = 0x25AF;

class CFontKV {
public:
    CFontKV();  // empty, then Reset
    // The default font's form: four unsigned bytes {x, y, width, height} per code first..last over a whole
    // 256 x 128 texture index.
    CFontKV(const uint8_t* table, int32_t first, int32_t last, int32_t texture);
    virtual ~CFontKV();
    CFontKV(const CFontKV&) = delete;
    CFontKV& operator=(const CFontKV&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

    // One FONT entry already checked by Font_Load: base is the game data, entry the entry's offset.
    void LoadFromChunk(const uint8_t* base, uint32_t entry);
    void Reset();
    void InitTexture();
    void FreeTexture();

    // The glyph of a code, else the glyph of U+25AF, else null.
    const FontGlyph* GetGlyph(uint32_t code) const;
    int32_t GetGlyphAdvance(uint32_t code) const;
    // Sum of the advances of the glyphs found (a null text gives 0).
    int32_t TextWidth(const uint16_t* text) const;
    int32_t TextHeight(const void* = nullptr) const { return m_lineHeight; }  // whatever the text

    // Colours are script colours (0x00BBGGRR), alpha 0..1, angles in degrees; the pen starts at the top left
    // of the line.
    void DrawText(float x, float y, const uint16_t* text, uint32_t colour, float alpha) const;
    void DrawTextTransformed(float x, float y, const uint16_t* text, float xscale, float yscale, float angle,
                             uint32_t colour, float alpha) const;
    void DrawTextColour(float x, float y, const uint16_t* text, uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4,
                        float alpha) const;
    void DrawTextTransformedColour(float x, float y, const uint16_t* text, float xscale, float yscale, float angle,
                                   uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4, float alpha) const;

    const char* GetName() const { return m_name; }
    int32_t GetSize() const { return m_size; }
    bool GetBold() const { return m_bold; }
    bool GetItalic() const { return m_italic; }
    int32_t GetFirst() const { return m_first; }
    int32_t GetLast() const { return m_last; }
    // The texture-page entry's token when the font has one, else the texture index.
    int64_t GetTexture() const;

    // ---- Fields ----
    char* m_name = nullptr;
    int32_t m_size = 12;
    bool m_bold = false;
    bool m_italic = false;
    uint32_t m_charset = 0;
    int32_t m_antiAlias = 0;
    int32_t m_first = 32;
    int32_t m_last = 128;
    int32_t m_sprite = -1;
    int32_t m_alphaWidth = 0;
    int32_t m_alphaHeight = 0;
    int32_t m_lineHeight = 0;
    int32_t m_alphaLength = 0;
    uint8_t* m_alpha = nullptr;
    int32_t m_texture = -1;
    // In the game data for chunk fonts; read through a copy at each draw (the texture-page pass rewrites its
    // page field after fonts are loaded, and the data gives it no alignment).
    const uint8_t* m_entry = nullptr;
    TexturePageEntry* m_ownEntry = nullptr;  // the default font's made-up entry
    int32_t m_glyphCount = 0;
    const FontGlyph** m_glyphs = nullptr;  // ascending code
    uint8_t* m_glyphBlock = nullptr;       // the records (with their kerning pairs), owned
    float m_xscale = 1.0f;
    float m_yscale = 1.0f;
    float m_margin = 0.0f;

private:
    bool Entry(TexturePageEntry* out) const;
    // The native texture and the texture scales glyph coordinates map through; false when there is none.
    bool Texture(NativeTexture** texture, float* uScale, float* vScale, TexturePageEntry* entry,
                 bool* hasEntry) const;
    void DrawQuads(float x, float y, const uint16_t* text, float xs, float ys, float angle, uint32_t colour,
                   float alpha) const;
    void DrawGeneral(float x, float y, const uint16_t* text, float xs, float ys, float angle, bool turned,
                     uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4, float alpha) const;
};

// The FONT chunk's 256 character codes (byte value to code); null when the chunk is too short to hold them.
extern const uint16_t* Font_CodeTable;

int32_t Font_Count();
bool Font_Exists(int32_t index);
const char* Font_Name(int32_t index);  // "<undefined>" when there is no such font
CFontKV* Font_Data(int32_t index);
bool Font_Delete(int32_t index);
void Font_FreeTextures();
// Appends a font (named "__newfont<index>"); returns the index.
int32_t Font_Append(CFontKV* font);
