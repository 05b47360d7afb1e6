// The protocol's lock-to-key answer: the hub (and a peer) open with
// "$Lock <lock> Pk=<id>|" and expect "$Key <key>|" computed from the lock.
#pragma once

constexpr int LOCK_BYTES = 255;      // lock bytes taken; a longer lock is cut
constexpr int KEY_TEXT_BYTES = 255;  // "$Key ", key entries, "|" and the NUL

// Computes the key message text for the lock message at the start of
// `received` (received_len bytes, need not be NUL-terminated) into key_text
// (KEY_TEXT_BYTES), always NUL-terminated and ending in "|". Returns key_text.
// The keyword itself is not checked: the lock is whatever follows the first
// blank at or after index 2.
char* lock_to_key(const char* received, int received_len, char* key_text);
