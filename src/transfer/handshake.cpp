// Parse and build of the download handshake texts. Pure: caller buffers only.
//
// Each parser first refuses a NUL byte inside the received length: the scans
// below stop at the first NUL, and text[length] is the caller's terminator, so
// with no NUL before it no scan can run past the received bytes.
#include "transfer/handshake.h"

#include <cstring>

#include "hub/message_builder.h"
#include "platform/platform.h"
#include "state/text_scan.h"

namespace {

constexpr char GREETING_LOCK_TEXT[] = "|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABC Pk=KIVOLOKTAN0.242ABCABC|";
constexpr char REQUEST_HEAD_TEXT[] = "$Supports MiniSlots |$Direction Download 21356|";
constexpr char FILE_LENGTH_TEXT[] = "$FileLength ";  // 12 bytes: the number starts at index 12
constexpr int FILE_LENGTH_NUMBER_AT = 12;
constexpr int CONNECT_KEYWORD_BYTES = 14;  // "$ConnectToMe " and the blank after the nick

bool has_nul(const char* text, int length) {
    return length > 0 && memchr(text, 0, (size_t)length) != nullptr;
}

// Plain containment of a NUL-terminated pattern in n bytes of text. An empty
// pattern is not contained: a job without a nick matches no peer.
bool span_contains(const char* text, int n, const char* pattern) {
    int m = (int)strlen(pattern);
    if (m == 0) return false;
    for (int i = 0; i + m <= n; i++) {
        if (memcmp(text + i, pattern, (size_t)m) == 0) return true;
    }
    return false;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int parse_connect_request(const char* request, int own_nick_length, ConnectAddress* out) {
    out->host[0] = 0;
    out->port[0] = 0;
    int length = (int)strlen(request);
    if (own_nick_length < 0 || own_nick_length > length) return 0;
    int k = own_nick_length + CONNECT_KEYWORD_BYTES;
    if (k >= length || request[k - 1] != ' ') return 0;
    int colon = k + find_char(request + k, ':');
    if (colon >= length) return 0;
    int host_length = colon - k;
    if (host_length < 1 || host_length > CONNECT_HOST_BYTES - 1) return 0;
    int digits = 0;
    while (is_digit(request[colon + 1 + digits])) digits++;
    if (digits < 1 || digits > CONNECT_PORT_BYTES - 1) return 0;
    text_copy_n(out->host, CONNECT_HOST_BYTES, request + k, host_length);
    text_copy_n(out->port, CONNECT_PORT_BYTES, request + colon + 1, digits);
    return 1;
}

GreetingStatus parse_peer_greeting(const char* text, int length, const char* job_nick, PeerGreeting* out) {
    out->key_start = 0;
    out->key_length = 0;
    if (has_nul(text, length)) return GREETING_NUL_BYTE;
    // The first 8 bytes are the peer's "$MyNick ", not compared.
    if (length <= 8) return GREETING_NO_NICK_BAR;
    int nick_bar = 8 + find_bar(text + 8);
    if (nick_bar >= length) return GREETING_NO_NICK_BAR;
    if (!span_contains(text + 8, nick_bar - 8, job_nick)) return GREETING_NICK_MISMATCH;
    int p = nick_bar + 1;
    int past_lock = find_past(text + p, "$Lock");
    if (past_lock == 0) return GREETING_NO_LOCK;
    int lock_start = p + past_lock - 5;
    int q = lock_start + find_char(text + lock_start, '|');
    if (q >= length) return GREETING_NO_LOCK_BAR;
    // Real peers put $Supports and $Direction between the lock and the key;
    // the search starts right after the lock's '|' so a key that follows the
    // lock directly is found too.
    int past_key = find_past(text + q + 1, "$Key");
    if (past_key == 0) return GREETING_NO_KEY;
    int key_start = q + 1 + past_key - 4;
    int key_bar = key_start + find_char(text + key_start, '|');
    if (key_bar >= length) return GREETING_NO_KEY_BAR;
    out->key_start = key_start;
    out->key_length = key_bar + 1 - key_start;
    return GREETING_OK;
}

LengthStatus parse_length_reply(const char* text, int length, uint64_t* total, int* message_length) {
    *total = 0;
    *message_length = 0;
    if (has_nul(text, length)) return LENGTH_NUL_BYTE;
    int bar = find_bar(text);
    *message_length = bar;
    if (bar >= length) return LENGTH_NO_BAR;
    if (bar < FILE_LENGTH_NUMBER_AT + 1) return LENGTH_SHORT;
    if (memcmp(text, FILE_LENGTH_TEXT, FILE_LENGTH_NUMBER_AT) != 0) return LENGTH_NOT_FILE_LENGTH;
    uint64_t value = 0;
    int i = FILE_LENGTH_NUMBER_AT;
    for (; i < bar && is_digit(text[i]); i++) {
        uint64_t digit = (uint64_t)(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10) return LENGTH_BAD_NUMBER;
        value = value * 10 + digit;
    }
    // Digits only, and at least one, between the keyword and the '|'.
    if (i == FILE_LENGTH_NUMBER_AT || i != bar) return LENGTH_BAD_NUMBER;
    *total = value;
    return LENGTH_OK;
}

// A message that does not fit is not sent cut: dst is emptied and -1 returned.
static int built_length(const MessageBuilder& m) {
    if (!m.overflow) return m.length;
    if (m.capacity > 0) m.data[0] = 0;
    return -1;
}

int build_greeting(char* dst, int dst_bytes, const char* own_nick) {
    MessageBuilder m = message_begin(dst, dst_bytes);
    message_add(&m, "$MyNick ");
    message_add(&m, own_nick);
    message_add(&m, GREETING_LOCK_TEXT);
    return built_length(m);
}

int build_download_request(char* dst, int dst_bytes, const char* key, int key_length, const char* path) {
    MessageBuilder m = message_begin(dst, dst_bytes);
    message_add(&m, REQUEST_HEAD_TEXT);
    // The peer's key message goes back as it came: no key is computed for its lock.
    message_add_n(&m, key, key_length);
    message_add(&m, "$Get ");
    message_add(&m, path);
    message_add(&m, "$1|");
    return built_length(m);
}
