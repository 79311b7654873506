// Text layout: lines split at carriage returns and line feeds, or wrapped at a width, then measured or drawn
// line by line with the chosen font.
#include "draw/text.h"

#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/text.h"
#include "draw/draw.h"
#include "draw/font.h"
#include "gfx/prim2d.h"
#include "input/hash_newlines.h"

#include <cmath>
#include <cstring>

int32_t Text_Font = -1;
int32_t Text_HAlign = 0;
int32_t Text_VAlign = 0;

namespace {

constexpr int32_t kTextUnlimited = 10000000;

CFontKV* g_textDefaultFont = nullptr;
// The font of the operation in progress, which the splitter measures with.
const CFontKV* g_textChosenFont = nullptr;

const CFontKV* Text_ChooseFont()
{
    if (Font_Exists(Text_Font)) {
        g_textChosenFont = Font_Data(Text_Font);
    } else {
        Text_CreateDefaultFont();
        g_textChosenFont = g_textDefaultFont;
    }
    return g_textChosenFont;
}

int32_t Text_Advance(uint16_t c) { return g_textChosenFont ? g_textChosenFont->GetGlyphAdvance(c) : 0; }

void Text_SplitUnlimited(uint16_t* buffer, int32_t n, TStringList* list)
{
    uint16_t lastBreak = 0;
    int32_t b = 0;
    while (b < n) {
        int32_t i = b;
        while (i < n && buffer[i] != 13 && buffer[i] != 10) ++i;
        if (i == b && i < n && lastBreak != 0 && buffer[i] != lastBreak) {
            // The second half of a CR LF or LF CR pair.
            ++b;
            continue;
        }
        lastBreak = i < n ? buffer[i] : 0;
        buffer[i] = 0;
        list->Add(buffer + b);
        b = i + 1;
    }
}

void Text_SplitWidth(uint16_t* buffer, int32_t n, int32_t width, TStringList* list)
{
    int32_t b = 0;
    while (b < n) {
        int32_t i = b;
        while (i < n && buffer[i] == ' ') ++i;
        int64_t sum = 0;
        while (i < n && sum < width && buffer[i] != 13) {
            sum += Text_Advance(buffer[i]);
            ++i;
        }
        if (sum > width) --i;
        if (buffer[i] == 13) {
            buffer[i] = 0;
            list->Add(buffer + b);
            b = i + 1;
            continue;
        }
        if (i == b) return;
        bool inserted = false;
        if (i < n && buffer[i] != ' ') {
            int32_t k = i - 1;
            while (k > b && buffer[k] != ' ') --k;
            if (k > b) {
                i = k;
            } else {
                // No space to break at: the word is split by a space inserted at i.
                auto* grown = static_cast<uint16_t*>(MemAlloc(size_t(n + 2) * sizeof(uint16_t)));
                std::memcpy(grown, buffer, size_t(i) * sizeof(uint16_t));
                grown[i] = ' ';
                std::memcpy(grown + i + 1, buffer + i, size_t(n - i + 1) * sizeof(uint16_t));
                for (TStringLine* line = list->head; line; line = line->next) line->text = grown + (line->text - buffer);
                MemFree(buffer);
                list->buffer = buffer = grown;
                ++n;
                inserted = true;
            }
        }
        while (i > b && buffer[i - 1] == ' ') --i;
        if (i == b) {
            // A line of leading spaces before a character wider than the limit: another inserted space would
            // only repeat this pass.
            if (inserted) return;
        } else {
            buffer[i] = 0;
            list->Add(buffer + b);
        }
        b = i + 1;
    }
}

}  // namespace

void TStringList::Add(uint16_t* line)
{
    auto* node = static_cast<TStringLine*>(MemAlloc(sizeof(TStringLine)));
    node->next = nullptr;
    node->text = line;
    if (tail) tail->next = node;
    else head = node;
    tail = node;
    ++count;
}

void TStringList::Clear()
{
    for (TStringLine* line = head; line;) {
        TStringLine* next = line->next;
        MemFree(line);
        line = next;
    }
    head = tail = nullptr;
    count = 0;
    MemFree(buffer);
    buffer = nullptr;
}

void Text_SetFont(int32_t index)
{
    if (Font_Exists(index)) {
        Text_Font = index;
    } else {
        Text_Font = -1;
        Text_CreateDefaultFont();
    }
}

void Text_SetHAlign(int32_t align) { Text_HAlign = align >= 0 && align <= 2 ? align : 0; }
void Text_SetVAlign(int32_t align) { Text_VAlign = align >= 0 && align <= 2 ? align : 0; }

// The default font's image and glyph table are not part of this build yet: until they are, text without a
// valid font measures 0 and draws nothing.
void Text_CreateDefaultFont() {}

CFontKV* Text_DefaultFont() { return g_textDefaultFont; }

void Text_ResetState()
{
    SeamTrace_Record("Text_ResetState");
    Text_Font = -1;
    Text_HAlign = 0;
    Text_VAlign = 0;
    GR_DrawColour = 0xFF000000u;
    GR_DrawAlpha = 255;
}

void Text_Shutdown()
{
    SeamTrace_Record("Text_Shutdown");
    delete g_textDefaultFont;
    g_textDefaultFont = nullptr;
    g_textChosenFont = nullptr;
    Text_Font = -1;
    Text_HAlign = 0;
    Text_VAlign = 0;
    GR_DrawColour = 0xFF000000u;
    GR_DrawAlpha = 255;
}

int32_t Text_LengthW(const uint16_t* text)
{
    if (!text) return 0;
    int32_t n = 0;
    while (text[n]) ++n;
    return n;
}

void Text_SplitLines(char* text, int32_t width, TStringList* list)
{
    if (!text || !list) return;
    list->Clear();
    const int32_t n = ConvertHashNewlines(text);
    auto* buffer = static_cast<uint16_t*>(MemAlloc(size_t(n + 1) * sizeof(uint16_t)));
    const char* p = text;
    for (int32_t i = 0; i < n; ++i) buffer[i] = UTF8_GetChar(&p);
    buffer[n] = 0;
    list->buffer = buffer;
    if (n == 0) return;
    if (width < 0) width = kTextUnlimited;
    if (width == kTextUnlimited) Text_SplitUnlimited(buffer, n, list);
    else {
        // Measured with the font the operation picks (never a font kept from an earlier call: it may be gone).
        Text_ChooseFont();
        Text_SplitWidth(buffer, n, width, list);
    }
}

namespace {

// Picks the font and splits; a separation below 0 becomes the line height.
const CFontKV* Text_Prepare(char* text, int32_t* separation, int32_t width, TStringList* list)
{
    const CFontKV* font = Text_ChooseFont();
    Text_SplitLines(text, width, list);
    if (*separation < 0) *separation = font ? font->TextHeight() : 0;
    return font;
}

float Text_LineOffset(const CFontKV* font, const uint16_t* line)
{
    const int32_t w = font->TextWidth(line);
    if (Text_HAlign == 1) return float(-(w / 2));
    if (Text_HAlign == 2) return float(-w);
    return 0.0f;
}

template <class DrawLine>
void Text_DrawLines(float x, float y, char* text, int32_t separation, int32_t width, DrawLine draw)
{
    TStringList list;
    const CFontKV* font = Text_Prepare(text, &separation, width, &list);
    if (!font) return;
    if (Text_VAlign == 1) y -= float((int64_t(separation) * list.count) / 2);
    else if (Text_VAlign == 2) y -= float(int64_t(separation) * list.count);
    for (TStringLine* line = list.head; line; line = line->next) {
        if (line->text[0]) draw(font, x + Text_LineOffset(font, line->text), y, line->text);
        y += float(separation);
    }
}

template <class DrawLine>
void Text_DrawLinesTransformed(float x, float y, char* text, int32_t separation, int32_t width, float xscale,
                               float yscale, float angle, DrawLine draw)
{
    TStringList list;
    const CFontKV* font = Text_Prepare(text, &separation, width, &list);
    if (!font) return;
    const double a = double(angle) * M_PI / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    const double stepX = s * yscale * separation, stepY = c * yscale * separation;
    double px = x, py = y;
    if (Text_VAlign == 1) {
        px -= list.count * stepX * 0.5;
        py -= list.count * stepY * 0.5;
    } else if (Text_VAlign == 2) {
        px -= list.count * stepX;
        py -= list.count * stepY;
    }
    for (TStringLine* line = list.head; line; line = line->next) {
        if (line->text[0]) {
            const double w = font->TextWidth(line->text);
            const double h = Text_HAlign == 1 ? -(w * xscale * 0.5) : Text_HAlign == 2 ? -(w * xscale) : 0.0;
            draw(font, float(px + h * c), float(py - h * s), line->text);
        }
        px += stepX;
        py += stepY;
    }
}

}  // namespace

int32_t Text_Width(char* text, int32_t separation, int32_t width)
{
    TStringList list;
    const CFontKV* font = Text_Prepare(text, &separation, width, &list);
    int32_t widest = 0;
    if (!font) return 0;
    for (TStringLine* line = list.head; line; line = line->next) {
        const int32_t w = font->TextWidth(line->text);
        if (w > widest) widest = w;
    }
    return widest;
}

int32_t Text_Height(char* text, int32_t separation, int32_t width)
{
    TStringList list;
    const CFontKV* font = Text_Prepare(text, &separation, width, &list);
    if (!font || list.count == 0) return 0;
    return int32_t(int64_t(font->TextHeight()) + int64_t(separation) * (list.count - 1));
}

void Text_Draw(float x, float y, char* text, int32_t separation, int32_t width)
{
    TimingBar_Begin(0xFFFF00, "Text");
    const uint32_t colour = GR_Draw_GetColour();
    const float alpha = GR_Draw_GetAlpha();
    Text_DrawLines(x, y, text, separation, width, [&](const CFontKV* font, float lx, float ly, const uint16_t* line) {
        font->DrawText(lx, ly, line, colour, alpha);
    });
    TimingBar_End();
}

void Text_DrawColour(float x, float y, char* text, int32_t separation, int32_t width, uint32_t c1, uint32_t c2,
                     uint32_t c3, uint32_t c4, float alpha)
{
    Text_DrawLines(x, y, text, separation, width, [&](const CFontKV* font, float lx, float ly, const uint16_t* line) {
        font->DrawTextColour(lx, ly, line, c1, c2, c3, c4, alpha);
    });
}

void Text_DrawTransformed(float x, float y, char* text, int32_t separation, int32_t width, float xscale,
                          float yscale, float angle)
{
    TimingBar_Begin(0xFFFF00, "Text");
    const uint32_t colour = GR_Draw_GetColour();
    const float alpha = GR_Draw_GetAlpha();
    Text_DrawLinesTransformed(x, y, text, separation, width, xscale, yscale, angle,
                              [&](const CFontKV* font, float lx, float ly, const uint16_t* line) {
                                  font->DrawTextTransformed(lx, ly, line, xscale, yscale, angle, colour, alpha);
                              });
    TimingBar_End();
}

void Text_DrawTransformedColour(float x, float y, char* text, int32_t separation, int32_t width, float xscale,
                                float yscale, float angle, uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4,
                                float alpha)
{
    Text_DrawLinesTransformed(x, y, text, separation, width, xscale, yscale, angle,
                              [&](const CFontKV* font, float lx, float ly, const uint16_t* line) {
                                  font->DrawTextTransformedColour(lx, ly, line, xscale, yscale, angle, c1, c2, c3,
                                                                  c4, alpha);
                              });
}
