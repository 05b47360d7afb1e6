// Text conversion and formatting: code page 1251, UTF-16 and UTF-8.
//
// Every conversion writes at most the capacity it is given and terminates its
// output when asked to (src_len -1); input that does not fit is cut. The 1251
// table is the standard one; the one byte it leaves undefined, 0x98, maps to
// U+0098 and back, so that any byte sequence survives a round trip.
#include <cassert>
#include <cstdarg>
#include <cstring>

#include "platform/platform.h"

namespace {

// UTF-16 values of the bytes 0x80 to 0xFF in code page 1251.
const char16_t CP1251_HIGH[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

char16_t byte_to_unit(unsigned char b) {
    return b < 0x80 ? (char16_t)b : CP1251_HIGH[b - 0x80];
}

char unit_to_byte(char16_t u) {
    if (u < 0x80) return (char)u;
    for (int i = 0; i < 128; i++) {
        if (CP1251_HIGH[i] == u) return (char)(0x80 + i);
    }
    return '?';
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

int cp1251_to_utf16(const char* src, int src_len, char16_t* dst, int dst_units) {
    if (dst_units <= 0) return 0;
    int n = source_length_8(src, src_len);
    int room = output_room(src_len, dst_units);
    if (n > room) n = room;
    for (int i = 0; i < n; i++) dst[i] = byte_to_unit((unsigned char)src[i]);
    return output_end(dst, n, src_len);
}

int utf16_to_cp1251(const char16_t* src, int src_len, char* dst, int dst_bytes) {
    if (dst_bytes <= 0) return 0;
    int n = source_length_16(src, src_len);
    int room = output_room(src_len, dst_bytes);
    if (n > room) n = room;
    for (int i = 0; i < n; i++) dst[i] = unit_to_byte(src[i]);
    return output_end(dst, n, src_len);
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
