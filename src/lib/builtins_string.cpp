// String built-ins over the runtime's UTF-8 texts: formatting, characters, search, copying, case, filters,
// repetition, replacement and counting. Every character walk goes through UTF8_GetChar, which stops on the
// terminator, so a sequence cut short by the end of a text is one character and nothing reads past it.
#include "core/arguments.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/text.h"
#include "core/value.h"
#include "lib/builtins_internal.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <string_view>
#include <wctype.h>

namespace {

const char* TextArg(RValue* args, int32_t index)
{
    const char* text = QZGS(args, index);
    return text ? text : "";
}

void SetText(RValue* result, const BuiltinText& text) { RValue_SetString(result, text.c_str()); }

// Byte offset of character index i (clamped to the end), walking from the start.
const char* String_SkipChars(const char* text, int64_t count)
{
    while (count > 0 && *text) {
        UTF8_GetChar(&text);
        --count;
    }
    return text;
}

void AppendChar(BuiltinText* out, uint32_t code)
{
    char bytes[4];
    char* cursor = bytes;
    UTF8_PutChar(&cursor, code);
    out->append(bytes, size_t(cursor - bytes));
}

// Exact matches of needle in text that start on a character and end on one, found with a byte search (one
// pass, as fast as the library's find); a match inside a character is passed over. Queries go forward only
// and allocate nothing; the walk that decides the starts runs through UTF8_GetChar.
class String_Matcher {
public:
    String_Matcher(const char* text, const char* needle) : text_(text), needle_(needle), walk_(text) {}
    // First match at or after byte from (a character start), or npos.
    size_t Find(size_t from)
    {
        if (needle_.empty()) return std::string_view::npos;
        for (size_t at = text_.find(needle_, from); at != std::string_view::npos; at = text_.find(needle_, at + 1))
            if (StartsChar(at) && StartsChar(at + needle_.size())) return at;
        return std::string_view::npos;
    }
    // Moves the walk back to the character after a match's first one and returns its offset: the next
    // search starts there (overlapping matches).
    size_t RestartAfterMatchStart(size_t matchByte)
    {
        walk_ = text_.data() + matchByte;
        UTF8_GetChar(&walk_);
        return size_t(walk_ - text_.data());
    }
    size_t NeedleBytes() const { return needle_.size(); }

private:
    bool StartsChar(size_t byte)
    {
        const char* target = text_.data() + byte;
        if (walk_ >= target) return walk_ == target;
        // Walk from the last start known before the target. Below 0x80 no byte is a lead byte, so after two
        // such bytes a character always begins, whatever the bytes before them were: the walk need not
        // begin further back than that.
        for (const char* s = target; s - walk_ >= 2; --s)
            if (static_cast<uint8_t>(s[-1]) < 0x80 && static_cast<uint8_t>(s[-2]) < 0x80) {
                walk_ = s;
                break;
            }
        while (walk_ < target && *walk_) UTF8_GetChar(&walk_);
        return walk_ == target;
    }

    std::string_view text_, needle_;
    const char* walk_;  // a character start, the first at or after every byte asked about so far
};

// ---- formatting and characters ----

void F_StringFormat(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    const RValue* value = Builtin_Arg(args, argc, 0);
    if (RValue_Kind(value) == VALUE_STRING) {
        SetText(result, BuiltinText(value->str && value->str->text ? value->str->text : ""));
        return;
    }
    const double v = QZGR(args, 0);
    const int32_t total = QZGI32(args, 1);
    int64_t decimals = QZGI32(args, 2);
    // A negative precision would make no valid conversion; a negative width keeps left-justifying.
    decimals = decimals < 0 ? 0 : decimals > 100 ? 100 : decimals;
    int64_t width = int64_t(total) + decimals;
    width = width < -1024 ? -1024 : width > 1024 ? 1024 : width;
    // Long results (up to 310 digits and 100 decimals) come back whole.
    char small[512];
    const int n = std::snprintf(small, sizeof small, "%*.*f", int(width), int(decimals), v);
    if (n < 0 || size_t(n) < sizeof small) {
        RValue_SetString(result, n < 0 ? "" : small);
        return;
    }
    BuiltinText text(size_t(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%*.*f", int(width), int(decimals), v);
    text.resize(size_t(n));
    SetText(result, text);
}

void F_Chr(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const int32_t code = QZGI32(args, 0);
    BuiltinText text;
    if (code <= 127) {
        if (code & 0x7F) text += char(code & 0x7F);
    } else if (code <= 2047) {
        text += char(0xC0 | ((code >> 6) & 0x1F));
        text += char(0x80 | (code & 0x3F));
    } else {
        // Above 0xFFFF only the low 16 bits are kept, always in the three-byte form.
        text += char(0xE0 | ((code >> 12) & 0x0F));
        text += char(0x80 | ((code >> 6) & 0x3F));
        text += char(0x80 | (code & 0x3F));
    }
    SetText(result, text);
}

void F_AnsiChar(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char byte = char(QZGI32(args, 0) & 0xFF);
    SetText(result, byte ? BuiltinText(1, byte) : BuiltinText());
}

void F_Ord(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* text = TextArg(args, 0);
    RValue_SetReal(result, UTF8_GetChar(&text));
}

void F_StringLength(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, UTF8_Length(TextArg(args, 0)));
}

void F_StringByteLength(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, double(std::strlen(TextArg(args, 0))));
}

// ---- search and positions ----

// Character index of the first occurrence, -1 when none or when either text is empty.
int32_t String_FindCharIndex(const char* needle, const char* text)
{
    if (!*needle || !*text) return -1;
    String_Matcher matcher(text, needle);
    const size_t at = matcher.Find(0);
    if (at == std::string_view::npos) return -1;
    int32_t index = 0;
    for (const char* p = text; p < text + at; ++index) UTF8_GetChar(&p);
    return index;
}

void F_StringPos(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* needle = TextArg(args, 0);
    const char* text = TextArg(args, 1);
    RValue_SetReal(result, String_FindCharIndex(needle, text) + 1);
}

void F_StringCopy(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* text = TextArg(args, 0);
    int64_t position = QZGI32(args, 1);
    int64_t count = QZGI32(args, 2);
    if (position < 1) position = 1;
    if (count < 0) count = 0;
    const char* start = String_SkipChars(text, position - 1);
    const char* end = String_SkipChars(start, count);
    SetText(result, BuiltinText(start, size_t(end - start)));
}

// The character at position (from 1, positions below 1 reading the first); false past the end.
bool String_CharAt(const char* text, int32_t position, uint16_t* code)
{
    int64_t i = int64_t(position) - 1;
    if (i < 0) i = 0;
    const char* at = String_SkipChars(text, i);
    if (!*at) return false;
    *code = UTF8_GetChar(&at);
    return true;
}

void F_StringCharAt(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* text = TextArg(args, 0);
    const int32_t position = QZGI32(args, 1);
    uint16_t code = 0;
    BuiltinText out;
    if (String_CharAt(text, position, &code)) AppendChar(&out, code);
    SetText(result, out);
}

void F_StringOrdAt(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* text = TextArg(args, 0);
    const int32_t position = QZGI32(args, 1);
    uint16_t code = 0;
    RValue_SetReal(result, String_CharAt(text, position, &code) ? double(code) : -1.0);
}

void F_StringByteAt(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* text = TextArg(args, 0);
    const int64_t length = int64_t(std::strlen(text));
    int64_t i = int64_t(QZGI32(args, 1)) - 1;
    if (length == 0) {
        RValue_SetReal(result, 0);
        return;
    }
    if (i < 0) i = 0;
    if (i >= length) i = length - 1;
    RValue_SetReal(result, double(static_cast<signed char>(text[i])));
}

void F_StringSetByteAt(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    BuiltinText copy(TextArg(args, 0));
    const int32_t position = QZGI32(args, 1);
    const int32_t byte = QZGI32(args, 2);
    if (position >= 1 && int64_t(position) <= int64_t(copy.size())) {
        copy[size_t(position) - 1] = char(byte & 0xFF);
        // A 0 ends the text there: the recorded length always meets the terminator.
        copy.resize(std::strlen(copy.c_str()));
    } else {
        Error_Show_Action("string_set_byte_at : index beyond end of string", false);
    }
    SetText(result, copy);
}

void F_StringDelete(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* text = TextArg(args, 0);
    const int64_t i = int64_t(QZGI32(args, 1)) - 1;
    const int64_t count = QZGI32(args, 2);
    BuiltinText out(text);
    if (i >= 0 && count > 0) {
        const char* from = String_SkipChars(text, i);
        if (*from) {
            const char* to = String_SkipChars(from, count);
            out.erase(size_t(from - text), size_t(to - from));
        }
    }
    SetText(result, out);
}

void F_StringInsert(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* insert = TextArg(args, 0);
    const char* text = TextArg(args, 1);
    int64_t p = int64_t(QZGI32(args, 2)) - 1;
    if (p < 0) p = 0;
    const char* at = String_SkipChars(text, p);  // past the end: the end
    BuiltinText out(text, size_t(at - text));
    out += insert;
    out += at;
    SetText(result, out);
}

// ---- case ----

// The user's character classes, made once; C.UTF-8 when the user's locale cannot be made or is not a UTF-8
// one (texts here always are). The process locale is never switched: other threads may be formatting
// numbers meanwhile.
locale_t String_CaseLocale()
{
    static const locale_t made = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "", locale_t(0));
        if (l && std::strcmp(nl_langinfo_l(CODESET, l), "UTF-8") != 0) {
            freelocale(l);
            l = locale_t(0);
        }
        if (!l) l = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
        return l;
    }();
    return made;
}

template <bool Lower>
void F_StringCase(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* text = TextArg(args, 0);
    const locale_t locale = String_CaseLocale();
    BuiltinText out;
    out.reserve(std::strlen(text));
    while (*text) {
        wint_t c = UTF8_GetChar(&text);
        if (locale) {
            if (Lower && iswupper_l(c, locale)) c = towlower_l(c, locale);
            else if (!Lower && iswlower_l(c, locale)) c = towupper_l(c, locale);
        } else if (Lower ? (c >= 'A' && c <= 'Z') : (c >= 'a' && c <= 'z')) {
            c ^= 0x20;
        }
        AppendChar(&out, uint32_t(c));
    }
    SetText(result, out);
}

// ---- repetition and filters ----

void F_StringRepeat(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* text = TextArg(args, 0);
    const int32_t count = QZGI32(args, 1);
    const uint64_t length = std::strlen(text);
    if (count <= 0 || length == 0) {
        SetText(result, BuiltinText());
        return;
    }
    if (length * uint64_t(count) > uint64_t(INT32_MAX)) {
        Error_Show_Action("string_repeat : result too long", false);
        SetText(result, BuiltinText());
        return;
    }
    BuiltinText out;
    out.reserve(size_t(length * uint64_t(count)));
    for (int32_t i = 0; i < count; ++i) out.append(text, size_t(length));
    SetText(result, out);
}

template <bool Letters, bool Digits>
void F_StringFilter(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* text = TextArg(args, 0);
    BuiltinText out;
    while (*text) {
        const uint16_t c = UTF8_GetChar(&text);
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool digit = c >= '0' && c <= '9';
        if ((Letters && letter) || (Digits && digit)) out += char(c);
    }
    SetText(result, out);
}

// ---- replacement and counting ----

// Occurrences left to right, never overlapping; inserted text is not searched again. One pass over the
// text: the output grows by appends, never by copying what is left once per occurrence.
void String_Replace(BuiltinText* out, const char* text, const char* needle, const char* replacement, bool all)
{
    String_Matcher matcher(text, needle);
    size_t from = 0;
    out->reserve(std::strlen(text));
    for (size_t at = matcher.Find(0); at != std::string_view::npos; at = matcher.Find(from)) {
        out->append(text + from, at - from);
        *out += replacement;
        from = at + matcher.NeedleBytes();
        if (!all) break;
    }
    out->append(text + from);
}

template <bool All>
void F_StringReplace(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* text = TextArg(args, 0);
    const char* needle = TextArg(args, 1);
    const char* replacement = TextArg(args, 2);
    BuiltinText out;
    String_Replace(&out, text, needle, replacement, All);
    SetText(result, out);
}

void F_StringCount(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const char* needle = TextArg(args, 0);
    const char* text = TextArg(args, 1);
    if (!*needle) {
        RValue_SetReal(result, UTF8_Length(text));  // an empty needle matches at every character
        return;
    }
    String_Matcher matcher(text, needle);
    int64_t count = 0;
    // Overlapping occurrences count: the search goes on one character past each match's start.
    for (size_t at = matcher.Find(0); at != std::string_view::npos; at = matcher.Find(matcher.RestartAfterMatchStart(at))) ++count;
    RValue_SetReal(result, double(count));
}

}  // namespace

void BuiltinsString_Register()
{
    Function_Add("string_format", F_StringFormat, 3, false);
    Function_Add("chr", F_Chr, 1, false);
    Function_Add("ansi_char", F_AnsiChar, 1, false);
    Function_Add("ord", F_Ord, 1, false);
    Function_Add("string_length", F_StringLength, 1, false);
    Function_Add("string_pos", F_StringPos, 2, false);
    Function_Add("string_copy", F_StringCopy, 3, false);
    Function_Add("string_char_at", F_StringCharAt, 2, false);
    Function_Add("string_ord_at", F_StringOrdAt, 2, false);
    Function_Add("string_byte_length", F_StringByteLength, 1, false);
    Function_Add("string_byte_at", F_StringByteAt, 2, false);
    Function_Add("string_set_byte_at", F_StringSetByteAt, 3, false);
    Function_Add("string_delete", F_StringDelete, 3, false);
    Function_Add("string_insert", F_StringInsert, 3, false);
    Function_Add("string_lower", F_StringCase<true>, 1, false);
    Function_Add("string_upper", F_StringCase<false>, 1, false);
    Function_Add("string_repeat", F_StringRepeat, 2, false);
    Function_Add("string_letters", F_StringFilter<true, false>, 1, false);
    Function_Add("string_digits", F_StringFilter<false, true>, 1, false);
    Function_Add("string_lettersdigits", F_StringFilter<true, true>, 1, false);
    Function_Add("string_replace", F_StringReplace<false>, 3, false);
    Function_Add("string_replace_all", F_StringReplace<true>, 3, false);
    Function_Add("string_count", F_StringCount, 2, false);
}
