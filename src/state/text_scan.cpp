// The five scans every parser is built on. Each is one forward (or, for
// find_char_back, backward) pass over bytes; the sought byte is tested before
// the terminator, so find_char with ch = NUL stops on the terminator itself.
#include "state/text_scan.h"

#include <cassert>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

int find_bar(const char* text) {
    int i = 0;
    while (text[i] != '|' && text[i] != '\0') i++;
    return i;
}

int find_char(const char* text, char ch) {
    for (int i = 0;; i++) {
        if (text[i] == ch) return i;
        if (text[i] == '\0') return i + 1;  // one past the NUL, not the length
    }
}

int find_char_back(const char* start, const char* p, char ch) {
    assert(start <= p);
    (void)start;  // read by the assertions only
    for (int offset = 0;; offset--) {
        if (p[offset] == ch) return offset;
        if (p[offset] == '\0') return offset;
        assert(p + offset > start);  // a ch or NUL at start stops the scan there
    }
}

// The scan resumes at the mismatching byte itself and never revisits the
// bytes of the failed partial match before it.
int find_past(const char* text, const char* pattern) {
    if (text[0] == '\0' || pattern[0] == '\0') return 0;
    int i = 0;
    for (;;) {
        while (text[i] != pattern[0]) {
            if (text[i] == '\0') return 0;
            i++;
        }
        i++;
        int k = 1;
        while (pattern[k] != '\0' && text[i] == pattern[k]) {
            i++;
            k++;
        }
        if (pattern[k] == '\0') return i;
        if (text[i] == '\0') return 0;  // the text ended inside a partial match
    }
}

int is_prefix(const char* a, const char* b) {
    for (int n = 0; a[n] != '\0'; n++) {
        if (a[n] != b[n]) return 0;  // a shorter b fails at its NUL
    }
    return 1;
}

namespace {
// The base32 value of c, or -1.
int base32_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a';
    if (c >= '2' && c <= '7') return c - '2' + 26;
    return -1;
}
}  // namespace

int tth_take(const char* text, char* out) {
    constexpr int CHARS = 39;
    out[0] = '\0';
    for (int i = 0; i < CHARS; i++) {
        if (base32_value(text[i]) < 0) return 0;  // also stops at a NUL
    }
    if (text[CHARS] != '\0' && text[CHARS] != ' ') return 0;
    // 39 * 5 = 195 bits hold 192: the last character's low 3 bits are padding.
    if ((base32_value(text[CHARS - 1]) & 7) != 0) return 0;
    for (int i = 0; i < CHARS; i++) {
        char c = text[i];
        out[i] = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
    }
    out[CHARS] = '\0';
    return 1;
}

int host_port_valid(const char* host, const char* port) {
    if (host[0] == '\0' || host[0] == '-') return 0;
    for (const char* c = host; *c != '\0'; c++) {
        bool letter = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z');
        if (!letter && !is_digit(*c) && *c != '.' && *c != '-' && *c != '_') return 0;
    }
    int value = 0;
    int n = 0;
    for (; port[n] != '\0'; n++) {
        if (!is_digit(port[n]) || n >= 5) return 0;  // 5 digits always fit an int
        value = value * 10 + (port[n] - '0');
    }
    return n > 0 && value >= 1 && value <= 65535 ? 1 : 0;
}

int port_text_take(const char* text, uint16_t* port) {
    int value = 0;
    int n = 0;
    for (; text[n] != '\0'; n++) {
        if (!is_digit(text[n]) || n >= 5) return 0;  // 5 digits always fit an int
        value = value * 10 + (text[n] - '0');
    }
    if (n == 0 || value > 65535) return 0;
    *port = (uint16_t)value;
    return 1;
}

int ipv4_text_take(const char* text, uint32_t* address_be) {
    uint8_t parts[4];
    const char* p = text;
    for (int i = 0; i < 4; i++) {
        if (i > 0 && *p++ != '.') return 0;
        int value = 0;
        int digits = 0;
        for (; is_digit(*p); p++, digits++) {
            if (digits >= 3) return 0;
            value = value * 10 + (*p - '0');
        }
        if (digits == 0 || value > 255 || (digits > 1 && p[-digits] == '0')) return 0;
        parts[i] = (uint8_t)value;
    }
    if (*p != '\0') return 0;
    // The bytes in the order they stand in the text are network order.
    if (address_be != nullptr) memcpy(address_be, parts, 4);
    return 1;
}

int ipv4_text(uint32_t address_be, char* dst, int dst_bytes) {
    unsigned char b[4];
    memcpy(b, &address_be, 4);
    char text[16];
    snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text_copy(dst, dst_bytes, text);
}
