// The download worker's parse of the peer's answer to "$ADCGET":
// "$ADCSND file <id> <offset> <length>|" and the file's first bytes behind
// it, or a refusal. The input is one line saying what was asked, then the
// peer's byte stream:
//
//   <id> <offset> <length>\n<what the peer sends>
//
// (a length of -1 asks for the rest of the file; a head that does not read
// so asks for "TTH/" and the demo hub's readme root, from 0 to the end).
// The stream is accumulated in the worker's reply buffer, in receives that
// take all there is and in receives of 1 to 16 bytes (the size taken from
// the last byte), and parsed after each until the reply is complete (the
// worker parses once, when a '|' or a NUL has come: the bytes of the last
// parse here). Each parse runs on an exactly sized copy (the bytes and the
// worker's NUL) so that a read past it is caught. Checked after every
// parse: the text is left as it was; the message length stays within the
// bytes; a count comes only with ADCSND_OK and is never above the length
// asked for. An accepted reply has its '|' within the bytes (the file's
// first byte is at most the one just past them) and reads, from the right,
// as "$ADCSND file <id> <offset> <count>" and flags (upper-case words):
// the offset and count are the ones asked for and returned, and the id means
// the same bytes as the one asked for ("\s" a blank, "\n" a newline, a
// backslash before any other byte that byte: peers echo "\s" as "\ ").
// Otherwise the failure note is made as the worker makes it, and must fit
// its buffer with its terminator.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "protocol/handshake.h"
#include "transfer/download.h"

namespace {

constexpr int ID_BYTES = 200;      // the worker's ids are shorter: a path escaped, or "TTH/" and 39
constexpr int QUOTE_BYTES = 61;    // the worker's quote of a bad reply
constexpr char DEFAULT_ID[] = "TTH/7TFCZWD4H46ZEL3VDYHYSMD6VGZTOC2Y2JPHU3I";

// Reads the head line into asked (its id into id); returns the stream's start.
size_t read_asked(const uint8_t* data, size_t size, char* id, AdcAsked* asked) {
    text_copy(id, ID_BYTES, DEFAULT_ID);
    *asked = {id, 0, -1};
    const uint8_t* end = (const uint8_t*)memchr(data, '\n', size < 256 ? size : 256);
    if (end == nullptr) return 0;
    char head[256];
    size_t n = (size_t)(end - data);
    memcpy(head, data, n);
    head[n] = '\0';
    char* blank = strchr(head, ' ');
    if (blank == nullptr || blank == head || blank - head >= ID_BYTES || memchr(head, 0, n) != nullptr) return 0;
    *blank = '\0';
    char* rest = blank + 1;
    char* after = nullptr;
    uint64_t offset = strtoull(rest, &after, 10);
    if (after == rest || *after != ' ') return 0;
    int64_t length = strtoll(after + 1, &rest, 10);
    if (rest == after + 1 || *rest != '\0' || length < -1) return 0;
    text_copy(id, ID_BYTES, head);
    asked->offset = offset;
    asked->length = length;
    return n + 1;
}

// An ADC id as meant, escapes undone.
std::string adc_meaning(const char* id, size_t length) {
    std::string meant;
    for (size_t i = 0; i < length; i++) {
        char c = id[i];
        if (c == '\\' && i + 1 < length) {
            c = id[++i];
            if (c == 's') c = ' ';
            if (c == 'n') c = '\n';
        }
        meant += c;
    }
    return meant;
}

// Whether text[from, to) is the decimal number value, digits only.
bool is_number(const char* text, int from, int to, uint64_t value) {
    if (from >= to || to - from > 19) return false;
    uint64_t v = 0;
    for (int i = from; i < to; i++) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (uint64_t)(text[i] - '0');
    }
    return v == value;
}

int blank_before(const char* text, int to) {
    int i = to - 1;
    while (i >= 13 && text[i] != ' ') i--;
    return i;
}

void check_accepted(const char* text, int bar, const AdcAsked* asked, uint64_t count) {
    if (memcmp(text, "$ADCSND file ", 13) != 0) abort();
    int end = bar;
    int blank = blank_before(text, end);
    while (blank >= 13 && text[blank + 1] >= 'A' && text[blank + 1] <= 'Z') {
        end = blank;
        blank = blank_before(text, end);
    }
    if (blank < 13 || !is_number(text, blank + 1, end, count)) abort();
    int count_blank = blank;
    blank = blank_before(text, count_blank);
    if (blank <= 13 || !is_number(text, blank + 1, count_blank, asked->offset)) abort();
    if (adc_meaning(text + 13, (size_t)(blank - 13)) != adc_meaning(asked->id, strlen(asked->id))) abort();
}

void check_note(const char* text, int quoted) {
    char detail[QUOTE_BYTES];
    if (!peer_refusal(text, quoted, detail, QUOTE_BYTES)) text_copy_n(detail, QUOTE_BYTES, text, quoted);
    if (strnlen(detail, QUOTE_BYTES) == QUOTE_BYTES) abort();
}

// One parse of have bytes, as the worker makes it.
AdcSendStatus parse_once(const char* received, int have, const AdcAsked* asked) {
    char* text = (char*)malloc((size_t)have + 1);
    memcpy(text, received, (size_t)have);
    text[have] = '\0';
    uint64_t count = 77;
    int quoted = -1;
    AdcSendStatus status = parse_adc_send(text, have, asked, &count, &quoted);
    if (memcmp(text, received, (size_t)have) != 0 || text[have] != '\0') abort();
    if (quoted < 0 || quoted > have) abort();
    if (status != ADCSND_OK && count != 0) abort();
    if (status == ADCSND_NO_BAR && (quoted != have || memchr(text, '|', (size_t)have) != nullptr)) abort();
    if (status == ADCSND_OK) {
        if (asked->length >= 0 && count > (uint64_t)asked->length) abort();
        if (quoted >= have || text[quoted] != '|') abort();
        check_accepted(text, quoted, asked, count);
    } else if (status != ADCSND_NO_BAR) {
        check_note(text, quoted);
    }
    free(text);
    return status;
}

// The worker's loop: receive into what is there, parse, until the reply is
// complete or the handshake buffer is full.
void run(const uint8_t* stream, size_t size, const AdcAsked* asked, int chunk) {
    static char received[HANDSHAKE_RECEIVE_BYTES];
    int have = 0;
    size_t at = 0;
    AdcSendStatus status = ADCSND_NO_BAR;
    while (status == ADCSND_NO_BAR && have < HANDSHAKE_RECEIVE_BYTES - 1 && at < size) {
        int room = HANDSHAKE_RECEIVE_BYTES - 1 - have;
        int n = room < chunk ? room : chunk;
        if ((size_t)n > size - at) n = (int)(size - at);
        memcpy(received + have, stream + at, (size_t)n);
        at += (size_t)n;
        have += n;
        status = parse_once(received, have, asked);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4 * HANDSHAKE_RECEIVE_BYTES) return 0;
    static char id[ID_BYTES];
    AdcAsked asked;
    size_t start = read_asked(data, size, id, &asked);
    run(data + start, size - start, &asked, HANDSHAKE_RECEIVE_BYTES);
    run(data + start, size - start, &asked, 1 + data[size - 1] % 16);
    return 0;
}
