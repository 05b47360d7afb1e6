// Text conversion and formatting: code pages 1251 and 1252, UTF-16 and UTF-8.
//
// Every conversion writes at most the capacity it is given and terminates its
// output when asked to (src_len -1); input that does not fit is cut. The code
// page tables are the standard ones (tools/gen_codepage.py writes them from
// Python's codecs); a byte a code page leaves undefined (0x98 in 1251; 0x81,
// 0x8D, 0x8F, 0x90, 0x9D in 1252) maps to the C1 control of the same value and
// back, so that any byte sequence survives a round trip. A character the code
// page lacks becomes '?' (code_page_lacks finds it first, for those who must
// not send it changed).
#include <cassert>
#include <cstdarg>
#include <cstring>

#include "platform/platform.h"

namespace {

// CP1251_HIGH and CP1252_HIGH: the UTF-16 values of the bytes 0x80 to 0xFF,
// written by tools/gen_codepage.py from Python's codecs.
#include "platform/codepage_tables.inc"

const char16_t* high_half(CodePage page) { return page == CODE_PAGE_1252 ? CP1252_HIGH : CP1251_HIGH; }

char16_t byte_to_unit(unsigned char b, CodePage page = CODE_PAGE_1251) {
    return b < 0x80 ? (char16_t)b : high_half(page)[b - 0x80];
}

// The byte for u, or -1 when the code page has none.
int unit_byte(char16_t u, CodePage page) {
    if (u < 0x80) return u;
    const char16_t* high = high_half(page);
    for (int i = 0; i < 128; i++) {
        if (high[i] == u) return 0x80 + i;
    }
    return -1;
}

int source_length_8(const char* src, int src_len) {
    return src_len < 0 ? (int)strlen(src) : src_len;
}

int source_length_16(const char16_t* src, int src_len) {
    return src_len < 0 ? u16_len(src) : src_len;
}

// The rules every conversion shares: with src_len -1 the output is terminated
// within the capacity, otherwise the characters may fill all of it.
int output_room(int src_len, int capacity) {
    return src_len < 0 ? capacity - 1 : capacity;
}

// Ends an output of `written` units: with src_len -1 terminated and the
// terminator counted, as the conversions return.
template <typename Unit>
int output_end(Unit* dst, int written, int src_len) {
    if (src_len >= 0) return written;
    dst[written] = 0;
    return written + 1;
}

}  // namespace

int u16_len(const char16_t* text) {
    int n = 0;
    while (text[n] != 0) n++;
    return n;
}

int u16_copy(char16_t* dst, int dst_units, const char16_t* src) {
    if (dst_units <= 0) return 0;
    int n = 0;
    while (n < dst_units - 1 && src[n] != 0) {
        dst[n] = src[n];
        n++;
    }
    dst[n] = 0;
    return n;
}

int u16_append(char16_t* dst, int dst_units, const char16_t* src) {
    if (dst_units <= 0) return 0;
    int have = 0;
    while (have < dst_units - 1 && dst[have] != 0) have++;
    return have + u16_copy(dst + have, dst_units - have, src);
}

int text_copy_n(char* dst, int dst_bytes, const char* src, int n) {
    if (dst_bytes <= 0) return 0;
    int i = 0;
    while (i < n && i < dst_bytes - 1 && src[i] != 0) {
        dst[i] = src[i];
        i++;
    }
    dst[i] = 0;
    return i;
}

int text_copy(char* dst, int dst_bytes, const char* src) {
    return text_copy_n(dst, dst_bytes, src, dst_bytes);
}

int text_append(char* dst, int dst_bytes, const char* src) {
    if (dst_bytes <= 0) return 0;
    int have = 0;
    while (have < dst_bytes - 1 && dst[have] != 0) have++;
    return have + text_copy(dst + have, dst_bytes - have, src);
}

int code_page_to_utf16(CodePage page, const char* src, int src_len, char16_t* dst, int dst_units) {
    if (dst_units <= 0) return 0;
    int n = source_length_8(src, src_len);
    int room = output_room(src_len, dst_units);
    if (n > room) n = room;
    for (int i = 0; i < n; i++) dst[i] = byte_to_unit((unsigned char)src[i], page);
    return output_end(dst, n, src_len);
}

int utf16_to_code_page(CodePage page, const char16_t* src, int src_len, char* dst, int dst_bytes) {
    if (dst_bytes <= 0) return 0;
    int n = source_length_16(src, src_len);
    int room = output_room(src_len, dst_bytes);
    if (n > room) n = room;
    for (int i = 0; i < n; i++) {
        int b = unit_byte(src[i], page);
        dst[i] = b < 0 ? '?' : (char)b;
    }
    return output_end(dst, n, src_len);
}

int code_page_lacks(CodePage page, const char16_t* text) {
    for (int i = 0; text[i] != 0; i++) {
        if (unit_byte(text[i], page) < 0) return i;
    }
    return -1;
}

int cp1251_to_utf16(const char* src, int src_len, char16_t* dst, int dst_units) {
    return code_page_to_utf16(CODE_PAGE_1251, src, src_len, dst, dst_units);
}

int utf16_to_cp1251(const char16_t* src, int src_len, char* dst, int dst_bytes) {
    return utf16_to_code_page(CODE_PAGE_1251, src, src_len, dst, dst_bytes);
}

namespace {

// Decodes one UTF-8 sequence at s[0..left); malformed bytes give U+FFFD.
int utf8_decode(const unsigned char* s, int left, uint32_t* cp) {
    unsigned char b = s[0];
    int need = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (need < 0 || need >= left) {
        *cp = need == 0 ? b : 0xFFFD;
        return 1;
    }
    uint32_t v = need == 0 ? b : (uint32_t)(b & (0x3F >> need));
    for (int i = 1; i <= need; i++) {
        if ((s[i] & 0xC0) != 0x80) {
            *cp = 0xFFFD;
            return i;
        }
        v = (v << 6) | (s[i] & 0x3F);
    }
    // A longer form than the value needs, or a UTF-16 surrogate, is not UTF-8 either.
    constexpr uint32_t LEAST[] = {0, 0x80, 0x800, 0x10000};
    bool invalid = v > 0x10FFFF || v < LEAST[need] || (v >= 0xD800 && v <= 0xDFFF);
    *cp = invalid ? 0xFFFD : v;
    return need + 1;
}

int utf8_encode(uint32_t cp, char* out) {
    if (cp < 0x80) { out[0] = (char)cp; return 1; }
    if (cp < 0x800) {
        out[0] = (char)(0xC0 | (cp >> 6));
        out[1] = (char)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = (char)(0xE0 | (cp >> 12));
        out[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        out[2] = (char)(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (cp >> 18));
    out[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
    out[3] = (char)(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace

bool text_is_utf8_beyond_ascii(const char* text, int length) {
    const unsigned char* s = (const unsigned char*)text;
    bool beyond = false;
    for (int i = 0; i < length;) {
        uint32_t cp;
        int used = utf8_decode(s + i, length - i, &cp);
        // U+FFFD written out in UTF-8 is as valid as any other character.
        if (cp == 0xFFFD && !(used == 3 && s[i] == 0xEF && s[i + 1] == 0xBF && s[i + 2] == 0xBD)) return false;
        beyond = beyond || s[i] >= 0x80;
        i += used;
    }
    return beyond;
}

int utf16_encode(char32_t code_point, char16_t units[2]) {
    if (code_point > 0x10FFFF) code_point = 0xFFFD;
    if (code_point < 0x10000) {
        units[0] = (char16_t)code_point;
        return 1;
    }
    code_point -= 0x10000;
    units[0] = (char16_t)(0xD800 + (code_point >> 10));
    units[1] = (char16_t)(0xDC00 + (code_point & 0x3FF));
    return 2;
}

char32_t utf16_decode(const char16_t* text, int length, int* at) {
    assert(*at >= 0 && *at < length);
    char16_t u = text[(*at)++];
    if (utf16_is_high_surrogate(u) && *at < length && utf16_is_low_surrogate(text[*at]))
        return 0x10000 + (((char32_t)u - 0xD800) << 10) + (char32_t)(text[(*at)++] - 0xDC00);
    return u;
}

int utf8_to_utf16(const char* src, int src_len, char16_t* dst, int dst_units) {
    if (dst_units <= 0) return 0;
    int n = source_length_8(src, src_len);
    int room = output_room(src_len, dst_units);
    int out = 0;
    const unsigned char* s = (const unsigned char*)src;
    for (int i = 0; i < n;) {
        uint32_t cp;
        i += utf8_decode(s + i, n - i, &cp);
        char16_t units[2];
        int count = utf16_encode(cp, units);
        if (out + count > room) break;
        for (int k = 0; k < count; k++) dst[out++] = units[k];
    }
    return output_end(dst, out, src_len);
}

int utf16_to_utf8(const char16_t* src, int src_len, char* dst, int dst_bytes) {
    if (dst_bytes <= 0) return 0;
    int n = source_length_16(src, src_len);
    int room = output_room(src_len, dst_bytes);
    int out = 0;
    for (int i = 0; i < n;) {
        uint32_t cp = utf16_decode(src, n, &i);
        if (cp >= 0xD800 && cp < 0xE000) cp = 0xFFFD;  // an unpaired surrogate
        char buf[4];
        int len = utf8_encode(cp, buf);
        if (out + len > room) break;
        memcpy(dst + out, buf, (size_t)len);
        out += len;
    }
    return output_end(dst, out, src_len);
}

namespace {

struct FormatOut {
    char16_t* dst;
    int cap;  // units including the terminator
    int len;
};

void put_unit(FormatOut* o, char16_t u) {
    if (o->len < o->cap - 1) o->dst[o->len++] = u;
}

void put_decimal(FormatOut* o, unsigned long long v, bool negative) {
    char16_t digits[24];
    int n = 0;
    do {
        digits[n++] = (char16_t)(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (negative) put_unit(o, u'-');
    while (n > 0) put_unit(o, digits[--n]);
}

}  // namespace

int wide_format(char16_t* dst, int dst_units, const char16_t* format, ...) {
    if (dst_units <= 0) return 0;
    FormatOut o{dst, dst_units, 0};
    va_list args;
    va_start(args, format);
    for (const char16_t* f = format; *f != 0; f++) {
        if (*f != u'%') { put_unit(&o, *f); continue; }
        f++;
        if (*f == u'S') {
            const unsigned char* s = va_arg(args, const unsigned char*);
            while (*s != 0) put_unit(&o, byte_to_unit(*s++));
        } else if (*f == u's') {
            const char16_t* s = va_arg(args, const char16_t*);
            while (*s != 0) put_unit(&o, *s++);
        } else if (*f == u'u') {
            put_decimal(&o, va_arg(args, unsigned int), false);
        } else if (*f == u'd') {
            int v = va_arg(args, int);
            put_decimal(&o, v < 0 ? 0ull - (unsigned long long)(long long)v : (unsigned long long)v, v < 0);
        } else if (f[0] == u'l' && f[1] == u'l' && f[2] == u'u') {
            put_decimal(&o, va_arg(args, unsigned long long), false);
            f += 2;
        } else if (*f == u'%') {
            put_unit(&o, u'%');
        } else if (*f == 0) {
            break;
        } else {
            put_unit(&o, u'%');  // unknown conversion: shown as it stands
            put_unit(&o, *f);
        }
    }
    va_end(args);
    dst[o.len] = 0;
    return o.len;
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reads the sign and digits; the magnitude saturates at limit.
unsigned long long read_decimal(const char* text, bool* negative, unsigned long long limit) {
    const char* p = text;
    while (is_blank(*p)) p++;
    *negative = false;
    if (*p == '-' || *p == '+') *negative = *p++ == '-';
    unsigned long long v = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        unsigned digit = (unsigned)(*p - '0');
        v = v > (limit - digit) / 10 ? limit : v * 10 + digit;
    }
    return v;
}

}  // namespace

int32_t decimal_to_int(const char* text) {
    bool negative;
    unsigned long long v = read_decimal(text, &negative, 2147483648ull);
    if (negative) return v >= 2147483648ull ? INT32_MIN : -(int32_t)v;
    return v > 2147483647ull ? INT32_MAX : (int32_t)v;
}

uint64_t decimal_to_u64(const char* text) {
    bool negative;
    unsigned long long v = read_decimal(text, &negative, UINT64_MAX);
    return negative ? 0 : v;
}
