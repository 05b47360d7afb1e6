// The hub messages the client builds and the $SR message it reads: pure
// functions of their arguments, with no state and no sockets.
//
// A $SR as the hub relays it to a passive searcher:
//   file:      $SR <nick> <path>\x05<size> <free>/<total>\x05<hub> (<addr>)
//   directory: $SR <nick> <path> <free>/<total>\x05<hub> (<addr>)
// optionally followed by \x05<searcher nick> (hubs usually strip it). Paths are
// backslash-separated and may begin with a backslash. Field limits
// (SearchResult): nick 49, path 149, short name 51 bytes. A result whose
// field does not fit is dropped whole, never cut: a cut path would ask the
// peer for another file, and a short name taken from a cut path would name
// the local file wrongly.
#include "protocol/hub_messages.h"

#include <cstring>

#include "protocol/message_builder.h"
#include "state/text_scan.h"

namespace {

// Index of the first ch in text, or -1 when the text's NUL comes first.
// find_char gives the length + 1 when ch is absent; that index lies past the
// NUL and must never be read.
int field_end(const char* text, char ch) {
    int k = find_char(text, ch);
    int length = find_char(text, '\0');
    return k < length ? k : -1;
}

// Walks back over one run of digits ending at text[i]; gives the index before
// the run, or -2 when there is no digit at i.
int skip_digits_back(const char* text, int i) {
    if (i < 0 || !is_digit(text[i])) return -2;
    while (i >= 0 && is_digit(text[i])) i--;
    return i;
}

// A directory result has no 0x05 before its slots, so the text before the
// first 0x05 ends in " <free>/<total>". A file path never does: '/' cannot
// occur in a shared file's name (it separates directories on every sharing
// system, and shares are sent with backslashes). Gives the index of the blank
// before the slots, or -1 for a file.
int directory_slots_start(const char* text, int length) {
    int i = skip_digits_back(text, length - 1);
    if (i < 0 || text[i] != '/') return -1;
    i = skip_digits_back(text, i - 1);
    if (i < 0 || text[i] != ' ') return -1;
    return i;
}

}  // namespace

int build_login_block(const char* key_text, const char* nick, const char* share, char* out,
                      int out_bytes) {
    MessageBuilder m = message_begin(out, out_bytes);
    // The blank before the bar makes hubs read the list as an old-style one.
    message_add(&m, "$Supports UserCommand NoGetINFO NoHello UserIP2 |");
    if (key_text != nullptr) message_add(&m, key_text);
    message_add(&m, "$ValidateNick ");
    message_add(&m, nick);
    message_add(&m, "|$Version 1,0091|$GetNickList|$MyINFO $ALL ");
    message_add(&m, nick);
    // Description and tag, the fixed blank, the connection "Modem" with a
    // blank as its status byte, then the contact text and the share size.
    message_add(&m, " pelmark<Vantoric V:0.05,M:P,H:0/1/0,S:20>$ $Modem $");
    message_add(&m, HUB_CONTACT_TEXT);
    message_add(&m, "$");
    message_add(&m, share);
    message_add(&m, "$|");
    return message_finish(&m);
}

int build_chat_message(const char* input_1251, const char* own_nick, char* out, int out_bytes) {
    MessageBuilder m = message_begin(out, out_bytes);
    const char* text = input_1251;
    int blanks = 0;
    if (input_1251[0] == '>') {
        // The addressee runs up to the first blank (find_char: or one past the end).
        int k = find_char(input_1251, ' ');
        char target[TARGET_NICK_BYTES];
        memset(target, 0, sizeof target);
        text_copy_n(target, TARGET_NICK_BYTES, input_1251 + 1, k - 1);  // cut to 49
        message_add(&m, "$To: ");
        message_add(&m, target);
        message_add(&m, " From: ");
        message_add(&m, own_nick);
        message_add(&m, " $");
        // The '>' and the addressee become blanks; the terminator is kept.
        int length = (int)strlen(input_1251);
        blanks = k < length ? k : length;
        text = input_1251 + blanks;
    }
    message_add(&m, "<");
    message_add(&m, own_nick);
    message_add(&m, "> ");
    message_add_repeat(&m, ' ', blanks);
    message_add(&m, text);
    message_add(&m, " |");
    return message_finish(&m);
}

int build_search_message(const char* nick, const char* words, char* out, int out_bytes) {
    static const char HEAD[] = "$Search Hub:";
    static const char TERMS[] = " F?T?0?1?";  // no size limit, size is a maximum, size 0, any type
    int head = (int)sizeof HEAD - 1;
    int nick_length = (int)strlen(nick);
    int terms = (int)sizeof TERMS - 1;
    int words_length = (int)strlen(words);
    int length = head + nick_length + terms + words_length + 1;
    if (out_bytes <= 0) return 0;
    if (length > out_bytes - 1) {
        out[0] = '\0';  // a cut message would lose its '|': nothing is sent
        return 0;
    }
    memcpy(out, HEAD, (size_t)head);
    memcpy(out + head, nick, (size_t)nick_length);
    memcpy(out + head + nick_length, TERMS, (size_t)terms);
    char* p = out + head + nick_length + terms;
    // The protocol separates search words with '$'; nothing else is escaped.
    for (int i = 0; i < words_length; i++) p[i] = words[i] == ' ' ? '$' : words[i];
    p[words_length] = '|';
    p[words_length + 1] = '\0';
    return length;
}

int parse_search_fields(char* message, SearchResult* out) {
    // Index 4 follows "$SR" and its blank; without the blank it would lie past
    // the NUL of a bare "$SR".
    if (message[0] != '$' || message[1] != 'S' || message[2] != 'R' || message[3] != ' ') return 0;
    char* nick = message + 4;
    int nick_length = field_end(nick, ' ');
    if (nick_length <= 0) return 0;  // no blank after the nick, or an empty nick
    nick[nick_length] = '\0';

    char* path = nick + nick_length + 1;
    int path_end = field_end(path, '\x05');
    if (path_end < 0) return 0;
    path[path_end] = '\0';

    uint64_t size = 0;  // a directory has none
    const char* hub_field = path + path_end + 1;  // a directory: right after its slots
    int path_length = directory_slots_start(path, path_end);
    if (path_length >= 0) {
        path[path_length] = '\0';
    } else {
        path_length = path_end;
        char* size_text = path + path_end + 1;
        int size_end = field_end(size_text, ' ');
        if (size_end < 0) return 0;
        size_text[size_end] = '\0';
        size = decimal_to_u64(size_text);
        const char* slots = size_text + size_end + 1;
        int slots_end = field_end(slots, '\x05');
        hub_field = slots_end < 0 ? nullptr : slots + slots_end + 1;
    }
    if (path_length == 0) return 0;  // nothing the peer could be asked for

    // The NUL written over the blank after the nick bounds the backward scan.
    const char* last = path + path_length - 1;
    const char* short_name = last + find_char_back(nick + nick_length, last, '\\') + 1;
    int short_length = (int)(path + path_length - short_name);
    if (nick_length > RESULT_NICK_BYTES - 1 || path_length > RESULT_PATH_BYTES - 1 ||
        short_length > RESULT_SHORT_BYTES - 1) {
        return 0;
    }
    memset(out, 0, sizeof *out);
    text_copy(out->nick, RESULT_NICK_BYTES, nick);
    text_copy(out->path, RESULT_PATH_BYTES, path);
    text_copy(out->short_name, RESULT_SHORT_BYTES, short_name);
    out->size = size;
    // Clients that hash their share put "TTH:<root>" where the hub name would be.
    if (hub_field != nullptr && is_prefix("TTH:", hub_field)) tth_take(hub_field + 4, out->tth);
    return 1;
}
