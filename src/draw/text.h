// Text layout and drawing: the text state (font, alignments), the default font, the line splitter shared by
// measuring and drawing, and the measuring and drawing operations behind the text built-ins. Every text
// argument is the caller's private copy: splitting rewrites it.
#pragma once
#include <cstdint>

class CFontKV;

// The laid-out lines: each points into the one UTF-16 buffer the list owns, ending in a zero unit there.
struct TStringLine {
    TStringLine* next;
    uint16_t* text;
};
struct TStringList {
    TStringLine* head = nullptr;
    TStringLine* tail = nullptr;
    int32_t count = 0;
    uint16_t* buffer = nullptr;

    void Add(uint16_t* line);
    void Clear();
    ~TStringList() { Clear(); }
};

// Text state.
extern int32_t Text_Font;    // -1: the default font
extern int32_t Text_HAlign;  // 0 left, 1 centre, 2 right
extern int32_t Text_VAlign;  // 0 top, 1 middle, 2 bottom
void Text_SetFont(int32_t index);
void Text_SetHAlign(int32_t align);
void Text_SetVAlign(int32_t align);
void Text_CreateDefaultFont();
// The default font, null while there is none.
CFontKV* Text_DefaultFont();

// Width limit below 0: none. A null text leaves the list untouched.
void Text_SplitLines(char* text, int32_t width, TStringList* list);
int32_t Text_Width(char* text, int32_t separation, int32_t width);
int32_t Text_Height(char* text, int32_t separation, int32_t width);
void Text_Draw(float x, float y, char* text, int32_t separation, int32_t width);
void Text_DrawTransformed(float x, float y, char* text, int32_t separation, int32_t width, float xscale,
                          float yscale, float angle);
void Text_DrawColour(float x, float y, char* text, int32_t separation, int32_t width, uint32_t c1, uint32_t c2,
                     uint32_t c3, uint32_t c4, float alpha);
void Text_DrawTransformedColour(float x, float y, char* text, int32_t separation, int32_t width, float xscale,
                                float yscale, float angle, uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4,
                                float alpha);
// Units before the terminating zero.
int32_t Text_LengthW(const uint16_t* text);
