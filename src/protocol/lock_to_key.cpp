// Lock-to-key: K[i] = L[i] ^ L[i-1] for i >= 1, K[0] = L[0] ^ L[n-1] ^ L[n-2]
// ^ 5, then the two halves of every byte swapped. Key bytes 0, 5, 36 ('$'),
// 96 ('`'), 124 ('|') and 126 ('~') cannot travel raw in the protocol and are
// written as the ten-character escape "/%DCNnnn%/".
//
// Limits (the received data is untrusted):
//  - The lock runs from after the first blank at or after index 2 up to the
//    next blank, '|' or the end of the received data, whichever comes first;
//    nothing past received_len is ever read.
//  - A lock longer than LOCK_BYTES is cut to its first LOCK_BYTES bytes and
//    the key computed from those.
//  - The key text is cut at the last whole entry that leaves room for the
//    closing "|" and the NUL, so it never passes KEY_TEXT_BYTES. Either cut
//    yields a key the hub will reject; a real lock is far shorter.
#include "protocol/lock_to_key.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr int KEY_ESCAPE_CHARS = 10;  // "/%DCN000%/"

// Copies the lock out of the received data; returns its length.
int extract_lock(const char* received, int received_len, uint8_t* lock) {
    int i = 2;
    while (i < received_len && received[i] != ' ') i++;
    i++;  // past the blank (or past the end when there was none)
    int n = 0;
    while (i < received_len && received[i] != ' ' && received[i] != '|' && n < LOCK_BYTES) {
        lock[n++] = (uint8_t)received[i++];
    }
    return n;
}

bool must_escape(uint8_t b) {
    return b == 0 || b == 5 || b == 36 || b == 96 || b == 124 || b == 126;
}

// Appends one key byte, raw or escaped, when it fits with room for "|" and
// the NUL after it. Returns the new length, or -1 when it does not fit.
int append_key_byte(char* key_text, int len, uint8_t b) {
    int need = must_escape(b) ? KEY_ESCAPE_CHARS : 1;
    if (len + need + 2 > KEY_TEXT_BYTES) return -1;
    if (need == 1) {
        key_text[len] = (char)b;
        return len + 1;
    }
    char escape[KEY_ESCAPE_CHARS + 1] = "/%DCN000%/";
    escape[5] = (char)('0' + b / 100);
    escape[6] = (char)('0' + b / 10 % 10);
    escape[7] = (char)('0' + b % 10);
    memcpy(key_text + len, escape, KEY_ESCAPE_CHARS);
    return len + KEY_ESCAPE_CHARS;
}

}  // namespace

char* lock_to_key(const char* received, int received_len, char* key_text) {
    uint8_t lock[LOCK_BYTES];
    uint8_t key[LOCK_BYTES];
    int n = extract_lock(received, received_len, lock);

    // Fewer than two lock bytes give no key bytes at all.
    int key_len = n >= 2 ? n : 0;
    for (int i = 1; i < key_len; i++) key[i] = lock[i] ^ lock[i - 1];
    if (key_len > 0) key[0] = lock[0] ^ lock[n - 1] ^ lock[n - 2] ^ 5;
    for (int i = 0; i < key_len; i++) key[i] = (uint8_t)((key[i] << 4) | (key[i] >> 4));

    memcpy(key_text, "$Key ", 5);
    int len = 5;
    for (int i = 0; i < key_len; i++) {
        int next = append_key_byte(key_text, len, key[i]);
        if (next < 0) break;  // cut: see the limits above
        len = next;
    }
    key_text[len++] = '|';
    key_text[len] = '\0';
    return key_text;
}
