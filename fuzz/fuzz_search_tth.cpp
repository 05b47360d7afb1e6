// The TTH of a search result: parse_search_fields on one $SR message as the
// dispatcher hands it over, and tth_take on its own, on the same input.
//
// The message is the input up to its first NUL, NUL-terminated in a buffer
// of exactly that size; the result goes into a SearchResult of its own heap
// block, so that a read past the message or a write past the record is
// caught. A result's TTH is either empty or a root as tth_take keeps it: 39
// characters of upper-case base32 (A-Z, 2-7) whose last carries no bits
// beyond the 192, then the NUL, and it is the upper-cased text that follows
// a "TTH:" opening a field of the message (right after a 0x05), ended there
// by a blank or the message's end.
//
// tth_take is then run at the input's start and after every "TTH:" in it,
// each text in an exactly sized buffer and its output in a buffer of exactly
// TTH_TEXT_BYTES: it keeps a root only when the text's 40th byte ends it (a
// NUL or a blank), and otherwise leaves the output empty.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/hub_messages.h"
#include "state/text_scan.h"

namespace {

constexpr char BASE32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

char upper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

// A kept root: 39 base32 characters, upper case, the last with its low 3 bits zero.
void check_root(const char* root) {
    if (strnlen(root, TTH_TEXT_BYTES) != (size_t)TTH_BASE32_CHARS) abort();
    for (int i = 0; i < TTH_BASE32_CHARS; i++) {
        const char* at = strchr(BASE32, root[i]);
        if (root[i] == '\0' || at == nullptr) abort();
        if (i == TTH_BASE32_CHARS - 1 && ((at - BASE32) & 7) != 0) abort();
    }
}

// The root must be the upper-cased 39 characters at text.
void check_taken(const char* root, const char* text) {
    check_root(root);
    for (int i = 0; i < TTH_BASE32_CHARS; i++) {
        if (root[i] != upper(text[i])) abort();
    }
}

void check_result(const uint8_t* data, size_t length) {
    char* message = (char*)malloc(length + 1);
    memcpy(message, data, length);
    message[length] = '\0';
    SearchResult* r = (SearchResult*)malloc(sizeof(SearchResult));
    if (parse_search_fields(message, r) && r->tth[0] != '\0') {
        // Its source: a "TTH:" that opens a field (right after a 0x05) of
        // the original message, the parse having written NULs into its copy.
        check_root(r->tth);
        bool found = false;
        for (size_t i = 1; !found && i + 4 + TTH_BASE32_CHARS <= length; i++) {
            const char* field = (const char*)data + i;
            if (data[i - 1] != 0x05 || memcmp(field, "TTH:", 4) != 0) continue;
            bool ended = i + 4 + TTH_BASE32_CHARS == length || field[4 + TTH_BASE32_CHARS] == ' ';
            found = ended;
            for (int k = 0; found && k < TTH_BASE32_CHARS; k++) found = r->tth[k] == upper(field[4 + k]);
        }
        if (!found) abort();
    }
    free(r);
    free(message);
}

// tth_take on the text from start to the input's first NUL (or its end).
void check_take(const uint8_t* data, size_t length, size_t start) {
    size_t n = length - start;
    char* text = (char*)malloc(n + 1);
    memcpy(text, data + start, n);
    text[n] = '\0';
    char* root = (char*)malloc(TTH_TEXT_BYTES);
    memset(root, 'x', TTH_TEXT_BYTES);
    if (tth_take(text, root)) {
        if (n < (size_t)TTH_BASE32_CHARS) abort();
        if (text[TTH_BASE32_CHARS] != '\0' && text[TTH_BASE32_CHARS] != ' ') abort();
        check_taken(root, text);
    } else if (root[0] != '\0') {
        abort();
    }
    free(root);
    free(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4000) return 0;
    size_t length = strnlen((const char*)data, size);
    check_result(data, length);
    check_take(data, length, 0);
    for (size_t i = 0; i + 4 <= length; i++) {
        if (memcmp(data + i, "TTH:", 4) == 0) check_take(data, length, i + 4);
    }
    return 0;
}
