// Parse and build of the download handshake texts. Pure: caller buffers only.
//
// Each parser first refuses a NUL byte inside the received length: the scans
// below stop at the first NUL, and text[length] is the caller's terminator, so
// with no NUL before it no scan can run past the received bytes.
#include "protocol/handshake.h"

#include <cassert>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "protocol/message_builder.h"
#include "state/text_scan.h"

namespace {

constexpr char GREETING_LOCK_TEXT[] = "|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABC Pk=KIVOLOKTAN0.242ABCABC|";
// The blank before the bar, as before ADCGet was announced: peers read the list either way.
constexpr char REQUEST_HEAD_TEXT[] = "$Supports MiniSlots ADCGet TTHF |$Direction Download 21356|";
constexpr char FILE_LENGTH_TEXT[] = "$FileLength ";  // 12 bytes: the number starts at index 12
constexpr int FILE_LENGTH_NUMBER_AT = 12;
constexpr int CONNECT_KEYWORD_BYTES = 14;  // "$ConnectToMe " and the blank after the nick

// Also asserts, in a debug build, the terminator the caller puts at text[length].
bool has_nul(const char* text, int length) {
    assert(length >= 0 && text[length] == '\0');
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

// 1 when the span [from, to) holds a "$Supports" message, up to its '|',
// whose blank-separated list names feature.
int span_supports(const char* text, int from, int to, const char* feature) {
    static const char KEYWORD[] = "$Supports ";
    int keyword = (int)sizeof KEYWORD - 1;
    int n = (int)strlen(feature);
    for (int i = from; i + keyword <= to; i++) {
        if (memcmp(text + i, KEYWORD, (size_t)keyword) != 0) continue;
        int p = i + keyword;
        while (p < to && text[p] != '|') {
            int word = p;
            while (p < to && text[p] != ' ' && text[p] != '|') p++;
            if (p - word == n && memcmp(text + word, feature, (size_t)n) == 0) return 1;
            if (p < to && text[p] == ' ') p++;
        }
    }
    return 0;
}

// Reads a decimal number of at most 19 digits from text[*i] up to a blank or
// end; false for no digits, other bytes or more digits.
bool take_number(const char* text, int end, int* i, uint64_t* value) {
    int start = *i;
    uint64_t v = 0;
    while (*i < end && is_digit(text[*i])) {
        if (*i - start >= 19) return false;  // 19 digits always fit 64 bits
        v = v * 10 + (uint64_t)(text[*i] - '0');
        (*i)++;
    }
    *value = v;
    return *i > start && (*i == end || text[*i] == ' ');
}

// Index of the last blank in [from, to), or -1.
int last_blank(const char* text, int from, int to) {
    for (int i = to - 1; i >= from; i--) {
        if (text[i] == ' ') return i;
    }
    return -1;
}

// The next character of an ADC id as meant: "\s" a blank, "\n" a newline,
// a backslash before any other byte that byte. *i moves past what was read.
char adc_id_char(const char* id, int length, int* i) {
    char c = id[(*i)++];
    if (c != '\\' || *i >= length) return c;
    char e = id[(*i)++];
    if (e == 's') return ' ';
    if (e == 'n') return '\n';
    return e;
}

// Whether the echoed id (length bytes) names what the asked id names.
bool same_adc_id(const char* echoed, int length, const char* asked) {
    int a_length = (int)strlen(asked);
    int i = 0, k = 0;
    while (i < length && k < a_length) {
        if (adc_id_char(echoed, length, &i) != adc_id_char(asked, a_length, &k)) return false;
    }
    return i == length && k == a_length;
}

}  // namespace

int parse_connect_request(const char* request, int own_nick_length, ConnectAddress* out) {
    out->host[0] = 0;
    out->port[0] = 0;
    out->tls = 0;
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
    if (!host_port_valid(out->host, out->port)) {
        out->host[0] = 0;
        out->port[0] = 0;
        return 0;
    }
    // "S", or NAT traversal's "NS" / "RS": the port speaks only TLS.
    const char* mark = request + colon + 1 + digits;
    if (*mark == 'N' || *mark == 'R') mark++;
    out->tls = *mark == 'S' ? 1 : 0;
    return 1;
}

GreetingStatus parse_peer_greeting(const char* text, int length, const char* job_nick, PeerGreeting* out) {
    out->key_start = 0;
    out->key_length = 0;
    out->adc_get = 0;
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
    out->adc_get = span_supports(text, q + 1, key_start, "ADCGet");
    return GREETING_OK;
}

IncomingStatus parse_incoming_greeting(const char* text, int length, char* nick, int nick_bytes) {
    if (nick_bytes > 0) nick[0] = '\0';
    if (length <= 0) return INCOMING_MORE;
    constexpr char HEAD[] = "$MyNick ";
    constexpr int HEAD_BYTES = 8;
    int compared = length < HEAD_BYTES ? length : HEAD_BYTES;
    if (memcmp(text, HEAD, (size_t)compared) != 0) return INCOMING_MALFORMED;
    if (memchr(text, '\0', (size_t)length) != nullptr) return INCOMING_MALFORMED;
    const char* nick_bar = (const char*)memchr(text + compared, '|', (size_t)(length - compared));
    if (nick_bar == nullptr) return length - HEAD_BYTES >= nick_bytes ? INCOMING_MALFORMED : INCOMING_MORE;
    int nick_length = (int)(nick_bar - text) - HEAD_BYTES;
    if (nick_length <= 0 || nick_length >= nick_bytes) return INCOMING_MALFORMED;
    int lock = (int)(nick_bar - text) + 1;
    constexpr char LOCK[] = "$Lock ";
    int lock_seen = length - lock < 6 ? length - lock : 6;
    if (memcmp(text + lock, LOCK, (size_t)lock_seen) != 0) return INCOMING_MALFORMED;
    if (memchr(text + lock, '|', (size_t)(length - lock)) == nullptr) return INCOMING_MORE;
    memcpy(nick, text + HEAD_BYTES, (size_t)nick_length);
    nick[nick_length] = '\0';
    return INCOMING_OK;
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

AdcSendStatus parse_adc_send(const char* text, int length, const AdcAsked* asked, uint64_t* send_length,
                             int* message_length) {
    static const char HEAD[] = "$ADCSND file ";
    const int head = (int)sizeof HEAD - 1;
    assert(length >= 0 && text[length] == '\0');  // the caller's terminator bounds find_bar
    *send_length = 0;
    *message_length = 0;
    // Only the message is checked for a NUL: the file's bytes, which may
    // follow it in the same receive, hold any byte.
    int bar = find_bar(text);
    *message_length = bar;
    if (bar < length && text[bar] == '\0') return ADCSND_NUL_BYTE;
    if (bar >= length) return ADCSND_NO_BAR;
    if (bar < head || memcmp(text, HEAD, (size_t)head) != 0) return ADCSND_NOT_ADCSND;
    // Read from the right: ncdc and eiskaltdcpp echo a blank of the id as a
    // backslash and a real blank, so only the last fields are sure to be the
    // numbers. Flags (upper-case words such as ZL1) may follow the length.
    int end = bar;
    int blank = last_blank(text, head, end);
    while (blank >= 0 && text[blank + 1] >= 'A' && text[blank + 1] <= 'Z') {
        if (end - blank - 1 == 3 && memcmp(text + blank + 1, "ZL1", 3) == 0) return ADCSND_COMPRESSED;
        end = blank;
        blank = last_blank(text, head, end);
    }
    uint64_t offset = 0, count = 0;
    int i = blank + 1;
    if (blank < 0 || !take_number(text, end, &i, &count) || i != end) return ADCSND_MALFORMED;
    int count_blank = blank;
    blank = last_blank(text, head, count_blank);
    i = blank + 1;
    if (blank < 0 || !take_number(text, count_blank, &i, &offset) || i != count_blank) return ADCSND_MALFORMED;
    if (blank == head) return ADCSND_MALFORMED;  // no id
    if (!same_adc_id(text + head, blank - head, asked->id)) return ADCSND_OTHER_FILE;
    if (offset != asked->offset) return ADCSND_OTHER_OFFSET;
    if (asked->length >= 0 && count > (uint64_t)asked->length) return ADCSND_TOO_LONG;
    *send_length = count;
    return ADCSND_OK;
}

int peer_refusal(const char* text, int message_length, char* detail, int detail_bytes) {
    static const char MAXED_OUT[] = "$MaxedOut";
    static const char ERROR_HEAD[] = "$Error ";
    int maxed = (int)sizeof MAXED_OUT - 1;
    int error = (int)sizeof ERROR_HEAD - 1;
    if (message_length == maxed && memcmp(text, MAXED_OUT, (size_t)maxed) == 0) {
        text_copy(detail, detail_bytes, "no free slot");
        return 1;
    }
    if (message_length > error && memcmp(text, ERROR_HEAD, (size_t)error) == 0) {
        text_copy_n(detail, detail_bytes, text + error, message_length - error);
        return 1;
    }
    return 0;
}

int adc_file_id(const char* tth, const char* path, char* dst, int dst_bytes, bool path_utf8) {
    MessageBuilder m = message_begin(dst, dst_bytes);
    if (tth[0] != '\0') {
        message_add(&m, "TTH/");
        message_add(&m, tth);
    } else {
        // ADC names files in UTF-8 whatever the hub's code page: ncdc and
        // eiskaltdcpp find nothing under the 1251 bytes of a Cyrillic name.
        constexpr int UNITS = 512;
        char16_t wide[UNITS];
        char utf8[3 * UNITS];
        int length = (int)strlen(path);
        if (length >= UNITS) m.overflow = true;
        if (path_utf8) {
            text_copy(utf8, (int)sizeof utf8, path);
        } else {
            cp1251_to_utf16(path, -1, wide, UNITS);
            utf16_to_utf8(wide, -1, utf8, (int)sizeof utf8);
        }
        if (utf8[0] != '\\') message_add(&m, "/");
        for (const char* p = utf8; *p != '\0' && !m.overflow; p++) {
            if (*p == '\\') {
                message_add(&m, "/");
            } else if (*p == ' ') {
                message_add(&m, "\\s");
            } else if (*p == '\n') {
                message_add(&m, "\\n");
            } else {
                message_add_n(&m, p, 1);
            }
        }
    }
    return message_finish(&m);
}

int build_greeting(char* dst, int dst_bytes, const char* own_nick) {
    MessageBuilder m = message_begin(dst, dst_bytes);
    message_add(&m, "$MyNick ");
    message_add(&m, own_nick);
    message_add(&m, GREETING_LOCK_TEXT);
    return message_finish(&m);
}

namespace {
// The head and the peer's key message, which goes back as it came: no key is
// computed for its lock.
MessageBuilder request_begin(char* dst, int dst_bytes, const char* key, int key_length) {
    MessageBuilder m = message_begin(dst, dst_bytes);
    message_add(&m, REQUEST_HEAD_TEXT);
    message_add_n(&m, key, key_length);
    return m;
}

void add_number(MessageBuilder* m, uint64_t value) {
    char digits[24];
    snprintf(digits, sizeof digits, "%llu", (unsigned long long)value);
    message_add(m, digits);
}
}  // namespace

int build_download_request(char* dst, int dst_bytes, const char* key, int key_length, const char* path,
                           uint64_t offset) {
    MessageBuilder m = request_begin(dst, dst_bytes, key, key_length);
    message_add(&m, "$Get ");
    message_add(&m, path);
    message_add(&m, "$");
    add_number(&m, offset + 1);
    message_add(&m, "|");
    return message_finish(&m);
}

int build_adc_request(char* dst, int dst_bytes, const char* key, int key_length, const AdcAsked* asked) {
    MessageBuilder m = request_begin(dst, dst_bytes, key, key_length);
    message_add(&m, "$ADCGET file ");
    message_add(&m, asked->id);
    message_add(&m, " ");
    add_number(&m, asked->offset);
    if (asked->length < 0) {
        message_add(&m, " -1|");
    } else {
        message_add(&m, " ");
        add_number(&m, (uint64_t)asked->length);
        message_add(&m, "|");
    }
    return message_finish(&m);
}
