// The hub address parser (see hub_address.h).
//
// Reaches g_state: nothing.
#include "config/hub_address.h"

#include <cstring>

#include "state/text_scan.h"

namespace {

constexpr int HOST_COLON_MAX = 31;  // a ':' further in is not a port
constexpr int KEYPRINT_BASE32_CHARS = 52;  // the base32 of a SHA-256

struct Scheme {
    const char* name;  // lower case
    uint8_t tls;
};
const Scheme SCHEMES[] = {{"dchub://", 0}, {"nmdc://", 0}, {"nmdcs://", 1}, {"dchubs://", 1}};

char lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// The length of name when text starts with it (case-insensitive), else 0.
int starts_with(const char* text, const char* name) {
    int i = 0;
    for (; name[i] != '\0'; i++)
        if (lower(text[i]) != name[i]) return 0;
    return i;
}

// "kp=SHA256/<52 base32>" and nothing else: the keyprint into dst, upper case.
bool take_keyprint(const char* query, char* dst) {
    int at = starts_with(query, "kp=sha256/");
    if (at == 0) return false;
    char keyprint[TLS_KEYPRINT_BYTES] = "SHA256/";
    int length = 7;
    for (const char* p = query + at; *p != '\0'; p++) {
        char c = *p;
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
        bool base32 = (c >= 'A' && c <= 'Z') || (c >= '2' && c <= '7');
        if (!base32 || length - 7 >= KEYPRINT_BASE32_CHARS) return false;
        keyprint[length++] = c;
    }
    if (length - 7 != KEYPRINT_BASE32_CHARS) return false;
    keyprint[length] = '\0';
    text_copy(dst, TLS_KEYPRINT_BYTES, keyprint);
    return true;
}

}  // namespace

int parse_hub_address(const char* text, const char* default_port, int address_chars, HubAddress* address) {
    *address = HubAddress{};
    bool has_scheme = false;
    for (const Scheme& scheme : SCHEMES) {
        int n = starts_with(text, scheme.name);
        if (n == 0) continue;
        text += n;
        address->tls = scheme.tls;
        has_scheme = true;
        break;
    }
    const char* query = strchr(text, '?');
    int length = query == nullptr ? (int)strlen(text) : (int)(query - text);
    if (query != nullptr && !take_keyprint(query + 1, address->keyprint)) length = -1;
    if (length < 0 || (has_scheme && length == 0)) {
        *address = HubAddress{};
        return 0;
    }
    if (address_chars >= 0 && length > address_chars) length = address_chars;
    const char* colon = (const char*)memchr(text, ':', (size_t)length);
    int m = colon == nullptr ? length : (int)(colon - text);
    if (m < length && m >= 1 && m <= HOST_COLON_MAX) {
        text_copy_n(address->host, HUB_HOST_BYTES, text, m);
        text_copy_n(address->port, HUB_PORT_BYTES, text + m + 1, length - m - 1);
    } else {
        text_copy_n(address->host, HUB_HOST_BYTES, text, length);
        text_copy(address->port, HUB_PORT_BYTES, default_port);
    }
    if (!host_port_valid(address->host, address->port)) {
        *address = HubAddress{};
        return 0;
    }
    return 1;
}
