// Byte scans over NUL-terminated 8-bit text (code page 1251).
//
// Every parser works in place: it finds a delimiter with one of these scans,
// writes a NUL over it, copies the field with a length limit and goes on after
// it. The scans return indices (offsets for find_char_back), never pointers.
// Each has its own not-found result, and callers build on the exact value:
//
//   find_bar        index of the first '|', else the text's length (its NUL)
//   find_char       index of the first ch, else the length + 1 (one past the NUL)
//   find_char_back  offset (0 or negative) of the nearest ch or NUL at or before p
//   find_past       index just past the match the scan finds, else 0
//   is_prefix       1 when a is a prefix of b (an empty a always is), else 0
//
// All bytes compare as raw values: 0x80..0xFF are ordinary characters and the
// byte 0x00 is the only terminator. No length argument: the NUL is the bound,
// so every text passed in must be terminated within its buffer.
#pragma once

#include <cstdint>

int find_bar(const char* text);
int find_char(const char* text, char ch);
// The caller guarantees that ch or a NUL lies in [start, p]: the scan never
// looks below it (a debug build asserts it; start is not otherwise read).
int find_char_back(const char* start, const char* p, char ch);
// Never backs up inside a failed partial match: 'aab' is not found in 'aaab'.
// Keywords whose first byte does not recur in them are always found.
int find_past(const char* text, const char* pattern);
int is_prefix(const char* a, const char* b);
// An ASCII decimal digit; bytes 0x80..0xFF never are.
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A Tiger Tree Hash root written in base32 (RFC 4648 alphabet A-Z, 2-7):
// 192 bits in 39 characters, the last of which carries 2 bits and 3 zero
// bits. text starts at the first character; the 40th byte must end the hash
// (a NUL or a blank). Lower case is the same hash (rhash prints it so) and is
// taken in upper case. Returns 1 with the 39 characters and a NUL in out
// (at least 40 bytes), or 0 (out emptied): a malformed hash is no hash at all.
int tth_take(const char* text, char* out);

// A host and a port to connect to, as Kivo takes them from a person, a
// favourite or a peer: the host 1 or more letters, digits, '.', '-' and '_'
// (a name or a dotted IPv4), not starting with '-'; the port 1 to 5 digits
// worth 1 to 65535. 1 when both are, else 0: nothing is ever taken modulo
// 65536 or guessed from part of the text.
int host_port_valid(const char* host, const char* port);

// A port as Kivo keeps it for its listeners: 1 to 5 decimal digits worth 0
// to 65535 (0: any free port). 1 with the value in *port, else 0 (*port
// unchanged).
int port_text_take(const char* text, uint16_t* port);
// Dotted IPv4 text: four decimal parts of 1 to 3 digits, each 0 to 255,
// without a leading zero (an old reader takes "010" as octal), and nothing
// else. 1 with the address in network order in *address_be (may be null),
// else 0.
int ipv4_text_take(const char* text, uint32_t* address_be);

// The dotted text of an address in network byte order ("255.255.255.255"
// needs 16 bytes); cut to dst_bytes. Returns the length written.
int ipv4_text(uint32_t address_be, char* dst, int dst_bytes);
