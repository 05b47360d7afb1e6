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
//   client -> peer  "$Supports MiniSlots ADCGet TTHF |$Direction Download 21356|"
//                   + the peer's "$Key ...|" byte for byte + one request:
// When the peer's "$Supports" (between its lock and its key) lists ADCGet:
//                   "$ADCGET file <id> <offset> <length>|"
//   peer -> client  "$ADCSND file <id> <offset> <length>|" and exactly <length>
//                   bytes right behind it.
// Otherwise, the legacy form, whose offset counts from 1:
//                   "$Get <path>$<offset + 1>|"
//   peer -> client  "$FileLength <the whole file's length>|"
//   client -> peer  "$Send|", then the bytes from the offset to the end follow.
// Instead of either reply a peer may say "$MaxedOut|" (no free slot) or
// "$Error <text>|".
#pragma once

#include <cstdint>

// --- Connect-to-me ------------------------------------------------------------
// "$ConnectToMe <own nick> <host>:<port>", its '|' removed by the dispatcher.
constexpr int CONNECT_HOST_BYTES = 256;  // longer host text: request dropped
constexpr int CONNECT_PORT_BYTES = 12;   // leading digits of the port text

struct ConnectAddress {
    char host[CONNECT_HOST_BYTES];  // name or dotted IPv4, as the hub sent it
    char port[CONNECT_PORT_BYTES];  // decimal digits only
    int tls;                        // 1: the port is marked 'S', a TLS port
};

// The address starts own_nick_length + 14 bytes in (the keyword, its blank,
// the nick and a blank precede it); the nick itself is not compared, but the
// byte before the address must be that blank. The host runs to the first ':';
// the port is the run of digits after it. An 'S' right behind the digits
// (or behind NAT traversal's 'N' or 'R') marks a TLS port ("127.0.0.1:411S"):
// the peer speaks only TLS there. Other text after the digits is ignored.
// Returns 1 with *out filled, 0 (host and port emptied) when the request is
// malformed (too short, no blank before the address, no ':', empty or
// overlong host, no port digits) or host_port_valid (state/text_scan.h)
// refuses the host's characters or the port's range.
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
    int adc_get;     // 1 when a "$Supports" before the key lists ADCGet
};

// text holds length received bytes followed by a NUL (text[length] == 0).
// The peer's nick text (from index 8 up to the first '|') must contain
// job_nick; the key message is the first "$Key" after the '|' that closes the
// first "$Lock" message, up to and including its '|'.
GreetingStatus parse_peer_greeting(const char* text, int length, const char* job_nick, PeerGreeting* out);

// --- An incoming connection's first words ------------------------------------
// A peer that connects to Kivo's listener (answering Kivo's $ConnectToMe)
// speaks first: "$MyNick <nick>|$Lock <lock> Pk=<id>|". Kivo answers with its
// own greeting (build_greeting); the peer then sends its $Supports,
// $Direction and $Key, after which the exchange goes on as when Kivo connects:
// the peer's words from "$MyNick" to "$Key" read as one greeting
// (parse_peer_greeting).
enum IncomingStatus {
    INCOMING_OK = 0,
    INCOMING_MORE,       // no complete lock message yet: more data could complete it
    INCOMING_MALFORMED,  // not "$MyNick <nick>|$Lock ...|", an empty or overlong nick, a NUL
};
// text holds length received bytes (need not be terminated). On INCOMING_OK
// the nick (terminated, at most nick_bytes - 1 bytes) is in nick.
IncomingStatus parse_incoming_greeting(const char* text, int length, char* nick, int nick_bytes);

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

// --- $ADCSND ----------------------------------------------------------------------
enum AdcSendStatus {
    ADCSND_OK = 0,
    ADCSND_NO_BAR,        // no '|' yet: more data could complete it
    ADCSND_NOT_ADCSND,    // another message ("$Error ...", "$MaxedOut", junk)
    ADCSND_MALFORMED,     // not "file <id> <offset> <length>" with decimal numbers
    ADCSND_OTHER_FILE,    // an id other than the one asked for
    ADCSND_OTHER_OFFSET,  // a start other than the one asked for
    ADCSND_TOO_LONG,      // more bytes than were asked for
    ADCSND_COMPRESSED,    // flagged ZL1: compressed data, which was not asked for
    ADCSND_NUL_BYTE,      // a NUL byte inside the message
};

// The request the reply must answer. An echoed id is the same id when its
// escapes mean the same bytes: ncdc and eiskaltdcpp send "\s" back as "\ ".
struct AdcAsked {
    const char* id;   // as sent, escapes and all
    uint64_t offset;
    int64_t length;   // -1: to the end of the file
};

// text holds length received bytes followed by a NUL. On ADCSND_OK *send_length
// is the announced byte count (at most what was asked for; less when the
// peer's file is shorter) and the file's bytes start at *message_length + 1,
// possibly already within text. *message_length is as for the length reply.
AdcSendStatus parse_adc_send(const char* text, int length, const AdcAsked* asked, uint64_t* send_length,
                             int* message_length);

// A peer's refusal in place of the reply: "$MaxedOut" gives "no free slot",
// "$Error <text>" gives the text (cut to fit). message_length bytes of text
// are the message without its '|'. Returns 1 with detail filled, else 0.
int peer_refusal(const char* text, int message_length, char* detail, int detail_bytes);

// --- What the client sends ------------------------------------------------------
// Each returns the message's length, or -1 (dst emptied) when it would not fit
// in dst_bytes with its terminator.
int build_greeting(char* dst, int dst_bytes, const char* own_nick);
// The legacy request, "$Get <path>$<offset + 1>|", behind the head and the key.
int build_download_request(char* dst, int dst_bytes, const char* key, int key_length, const char* path,
                           uint64_t offset = 0);
// "$ADCGET file <id> <offset> <length>|" behind the head and the key; a
// negative length is sent as -1 (to the end of the file).
int build_adc_request(char* dst, int dst_bytes, const char* key, int key_length, const AdcAsked* asked);
// The id of a file in an $ADCGET: "TTH/<root>" when tth is not empty, else
// the share path in UTF-8, since ADC names files in UTF-8 (a path from a
// 1251 hub is converted, one from a UTF-8 hub, path_utf8, taken as it is),
// with '/' for each '\', a leading '/', and ADC's escapes (a blank "\s", a
// newline "\n", a backslash "\\"; NMDC paths hold none, the separator
// becomes '/'). Returns the length, or -1 (dst emptied) when it does not fit.
int adc_file_id(const char* tth, const char* path, char* dst, int dst_bytes, bool path_utf8 = false);
constexpr char SEND_REQUEST_TEXT[] = "$Send|";
