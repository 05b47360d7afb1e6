// The texts of the client-to-client download handshake: the parse of the
// hub's connect-to-me message, of the peer's greeting and of its length reply,
// and the two messages the client sends.
//
// Every function here is pure: it works on the caller's buffers only, reads
// nothing past the length it is given and writes nothing past the capacity it
// is given. Received text is 8-bit (code page 1251) and untrusted; a parse
// never modifies it, so a caller that receives more can parse again.
//
// The exchange, downloading side:
//   client -> peer  "$MyNick <own nick>|$Lock EXTENDEDPROTOCOL... Pk=...|"
//   peer -> client  "$MyNick <nick>|$Lock <lock>|" [other messages] "$Key <key>|"
//   client -> peer  "$Supports MiniSlots |$Direction Download 21356|"
//                   + the peer's "$Key ...|" byte for byte + "$Get <path>$1|"
//   peer -> client  "$FileLength <decimal>|"
//   client -> peer  "$Send|", then the file's bytes follow.
#pragma once

#include <cstdint>

// --- Connect-to-me ------------------------------------------------------------
// "$ConnectToMe <own nick> <host>:<port>", its '|' removed by the dispatcher.
constexpr int CONNECT_HOST_BYTES = 256;  // longer host text: request dropped
constexpr int CONNECT_PORT_BYTES = 12;   // leading digits of the port text

struct ConnectAddress {
    char host[CONNECT_HOST_BYTES];  // name or dotted IPv4, as the hub sent it
    char port[CONNECT_PORT_BYTES];  // decimal digits only
};

// The address starts own_nick_length + 14 bytes in (the keyword, its blank,
// the nick and a blank precede it); the nick itself is not compared, but the
// byte before the address must be that blank. The host runs to the first ':';
// the port is the run of digits after it (whatever follows them is ignored).
// Returns 1 with *out filled, 0 when the request is malformed (too short, no
// blank before the address, no ':', empty or overlong host, no port digits).
int parse_connect_request(const char* request, int own_nick_length, ConnectAddress* out);

// --- Greeting -----------------------------------------------------------------
enum GreetingStatus {
    GREETING_OK = 0,
    GREETING_NO_NICK_BAR,    // no '|' after the first 8 bytes ("$MyNick ")
    GREETING_NO_LOCK,        // no "$Lock" after the nick
    GREETING_NO_LOCK_BAR,    // the lock message is not closed by '|'
    GREETING_NO_KEY,         // no "$Key" after the lock message
    GREETING_NO_KEY_BAR,     // the key message is not closed by '|'
    GREETING_NICK_MISMATCH,  // the peer's nick text lacks the requested nick
    GREETING_NUL_BYTE,       // a NUL byte inside the received text
};

// Statuses that more data could still complete.
inline bool greeting_incomplete(GreetingStatus s) {
    return s >= GREETING_NO_NICK_BAR && s <= GREETING_NO_KEY_BAR;
}

struct PeerGreeting {
    int key_start;   // index of the '$' of "$Key"
    int key_length;  // bytes of the key message, its closing '|' included
};

// text holds length received bytes followed by a NUL (text[length] == 0).
// The peer's nick text (from index 8 up to the first '|') must contain
// job_nick; the key message is the first "$Key" after the '|' that closes the
// first "$Lock" message, up to and including its '|'.
GreetingStatus parse_peer_greeting(const char* text, int length, const char* job_nick, PeerGreeting* out);

// --- Length reply ---------------------------------------------------------------
enum LengthStatus {
    LENGTH_OK = 0,
    LENGTH_NO_BAR,        // no '|' yet: more data could complete it
    LENGTH_SHORT,         // fewer than 13 bytes before the '|'
    LENGTH_NOT_FILE_LENGTH,  // not "$FileLength " (for example "$Error ...", "$MaxedOut")
    LENGTH_BAD_NUMBER,    // no digit at index 12, or a number beyond 64 bits
    LENGTH_NUL_BYTE,      // a NUL byte inside the received text
};

// text holds length received bytes followed by a NUL. On LENGTH_OK *total is
// the announced length. *message_length is the bytes before the first '|'
// (or all of them when there is none), so a caller can quote the reply.
LengthStatus parse_length_reply(const char* text, int length, uint64_t* total, int* message_length);

// --- What the client sends ------------------------------------------------------
// Each returns the message's length, or -1 (dst emptied) when it would not fit
// in dst_bytes with its terminator.
int build_greeting(char* dst, int dst_bytes, const char* own_nick);
int build_download_request(char* dst, int dst_bytes, const char* key, int key_length, const char* path);
constexpr char SEND_REQUEST_TEXT[] = "$Send|";
