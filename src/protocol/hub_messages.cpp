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

// Reads "<free>/<total>" ending at a NUL, 0x05 or blank into the result's
// slot fields; anything else leaves them unknown (0/0). Counts above
// RESULT_SLOTS_MAX are taken as it: they are only shown and compared.
void slots_take(const char* text, SearchResult* out) {
    int slash = 0;
    while (is_digit(text[slash])) slash++;
    if (slash == 0 || text[slash] != '/') return;
    int end = slash + 1;
    while (is_digit(text[end])) end++;
    if (end == slash + 1 || (text[end] != '\0' && text[end] != '\x05' && text[end] != ' ')) return;
    uint64_t free_slots = decimal_to_u64(text), total_slots = decimal_to_u64(text + slash + 1);
    out->free_slots = (uint16_t)(free_slots < RESULT_SLOTS_MAX ? free_slots : RESULT_SLOTS_MAX);
    out->total_slots = (uint16_t)(total_slots < RESULT_SLOTS_MAX ? total_slots : RESULT_SLOTS_MAX);
    out->slots_known = 1;
}

// The escapes of chat, private messages and search words, and what each
// stands for. Only these three are written or read.
struct Escape {
    const char* text;
    int length;
    char ch;
};
constexpr Escape ESCAPES[] = {{"&#124;", 6, '|'}, {"&#36;", 5, '$'}, {"&amp;", 5, '&'}};

// The escape that text starts with, or nullptr.
const Escape* escape_at(const char* text) {
    for (const Escape& e : ESCAPES)
        if (strncmp(text, e.text, (size_t)e.length) == 0) return &e;
    return nullptr;
}

// Appends text with '|' and '$' escaped, and a '&' escaped where the text
// after it would read as an escape; with blanks_as_dollar every blank becomes
// the '$' that separates search words.
void add_escaped(MessageBuilder* m, const char* text, bool blanks_as_dollar) {
    for (const char* p = text; *p != '\0'; p++) {
        if (*p == '|') {
            message_add(m, "&#124;");
        } else if (*p == '$') {
            message_add(m, "&#36;");
        } else if (*p == '&' && escape_at(p) != nullptr) {
            message_add(m, "&amp;");
        } else {
            message_add_n(m, blanks_as_dollar && *p == ' ' ? "$" : p, 1);
        }
    }
}

}  // namespace

int nmdc_unescape(char* text) {
    int out = 0;
    for (int in = 0; text[in] != '\0';) {
        const Escape* e = text[in] == '&' ? escape_at(text + in) : nullptr;
        if (e != nullptr) {
            text[out++] = e->ch;
            in += e->length;
        } else {
            text[out++] = text[in++];
        }
    }
    text[out] = '\0';
    return out;
}

int build_my_info(const char* nick, const char* share, bool tls_transfers, bool active, char* out, int out_bytes) {
    MessageBuilder m = message_begin(out, out_bytes);
    message_add(&m, "$MyINFO $ALL ");
    message_add(&m, nick);
    // Description and tag, the fixed blank, the connection "Modem" with its
    // flag byte, then the contact text and the share size. The flag byte has
    // always been a blank (0x20) and hubs relay it as it is; TLS transfers
    // add bit 0x10 ("0", 0x30) and keep the blank's bit, so a peer or hub
    // that reads the other bits of the byte sees what it always saw. M:A
    // tells peers that Kivo takes their connections (it sends $ConnectToMe).
    message_add(&m, active ? " pelmark<Vantoric V:0.05,M:A,H:0/1/0,S:20>$ $Modem"
                           : " pelmark<Vantoric V:0.05,M:P,H:0/1/0,S:20>$ $Modem");
    message_add(&m, tls_transfers ? "0$" : " $");
    message_add(&m, HUB_CONTACT_TEXT);
    message_add(&m, "$");
    message_add(&m, share);
    message_add(&m, "$|");
    return message_finish(&m);
}

int build_login_block(const char* key_text, const char* nick, const char* share, bool tls_transfers, char* out,
                      int out_bytes) {
    MessageBuilder m = message_begin(out, out_bytes);
    // The blank before the bar makes hubs read the list as an old-style one.
    message_add(&m, "$Supports UserCommand NoGetINFO NoHello UserIP2 |");
    if (key_text != nullptr) message_add(&m, key_text);
    message_add(&m, "$ValidateNick ");
    message_add(&m, nick);
    message_add(&m, "|$Version 1,0091|$GetNickList|");
    // The login announces passive mode: whether Kivo can be active is known
    // once the hub has been reached (hub/active_mode.h sends M:A then).
    int head = message_finish(&m);
    if (head < 0) return -1;
    int info = build_my_info(nick, share, tls_transfers, false, out + head, out_bytes - head);
    if (info < 0) {
        out[0] = '\0';
        return -1;
    }
    return head + info;
}

int build_chat_message(const char* input, const char* own_nick, char* out, int out_bytes) {
    MessageBuilder m = message_begin(out, out_bytes);
    const char* text = input;
    int blanks = 0;
    if (input[0] == '>') {
        int k = find_char(input, ' ');  // the blank after the addressee, or one past the end
        char target[TARGET_NICK_BYTES];
        private_target(input, target);
        message_add(&m, "$To: ");
        message_add(&m, target);
        message_add(&m, " From: ");
        message_add(&m, own_nick);
        message_add(&m, " $");
        // The '>' and the addressee become blanks; the terminator is kept.
        int length = (int)strlen(input);
        blanks = k < length ? k : length;
        text = input + blanks;
    }
    message_add(&m, "<");
    message_add(&m, own_nick);
    message_add(&m, "> ");
    message_add_repeat(&m, ' ', blanks);
    add_escaped(&m, text, false);
    message_add(&m, " |");
    return message_finish(&m);
}

int private_target(const char* input, char* out) {
    memset(out, 0, TARGET_NICK_BYTES);
    if (input[0] != '>') return 0;
    // The addressee runs up to the first blank (find_char: or one past the end).
    int k = find_char(input, ' ');
    return text_copy_n(out, TARGET_NICK_BYTES, input + 1, k - 1);  // cut to 49
}

int private_sender(const char* message, char* out, int out_bytes) {
    if (out_bytes > 0) out[0] = '\0';
    int from = find_past(message, " From: ");
    if (from == 0) return 0;
    int end = field_end(message + from, ' ');
    if (end <= 0 || end > out_bytes - 1) return 0;
    return text_copy_n(out, out_bytes, message + from, end);
}

int build_search_message(const char* nick, const char* words, char* out, int out_bytes,
                         const char* udp_address) {
    MessageBuilder m = message_begin(out, out_bytes);
    if (udp_address != nullptr) {
        message_add(&m, "$Search ");
        message_add(&m, udp_address);
    } else {
        message_add(&m, "$Search Hub:");
        message_add(&m, nick);
    }
    message_add(&m, " F?T?0?1?");  // no size limit, size is a maximum, size 0, any type
    add_escaped(&m, words, true);
    message_add(&m, "|");
    int length = message_finish(&m);
    return length < 0 ? 0 : length;  // a cut message would lose its '|': nothing is sent
}

int build_connect_to_me(const char* nick, const char* address, bool tls, char* out, int out_bytes) {
    MessageBuilder m = message_begin(out, out_bytes);
    message_add(&m, "$ConnectToMe ");
    message_add(&m, nick);
    message_add(&m, " ");
    message_add(&m, address);
    message_add(&m, tls ? "S|" : "|");
    return message_finish(&m);
}

int parse_user_ip(const char* message, const char* own_nick, uint32_t* address_be) {
    *address_be = 0;
    if (strncmp(message, "$UserIP ", 8) != 0) return 0;
    // "<nick> <ip>" pairs, separated by "$$" (a hub may close the list with one).
    const char* p = message + 8;
    size_t own = strlen(own_nick);
    while (*p != '\0') {
        const char* end = strstr(p, "$$");
        size_t pair = end != nullptr ? (size_t)(end - p) : strlen(p);
        if (pair > own && strncmp(p, own_nick, own) == 0 && p[own] == ' ') {
            char dotted[16];
            size_t length = pair - own - 1;
            if (length == 0 || length >= sizeof dotted) return 0;
            memcpy(dotted, p + own + 1, length);
            dotted[length] = '\0';
            return ipv4_text_take(dotted, address_be);
        }
        if (end == nullptr) break;
        p = end + 2;
    }
    return 0;
}

int build_my_pass(const char* password, char* out, int out_bytes) {
    // Hubs compare the password as it stands, '$' and '&' included, so it is
    // not escaped; a '|' would end the message there and send the rest of the
    // password as a hub command of its own, and no hub can take one: refused.
    if (strchr(password, '|') != nullptr) {
        if (out_bytes > 0) out[0] = '\0';
        return -1;
    }
    MessageBuilder m = message_begin(out, out_bytes);
    message_add(&m, "$MyPass ");
    message_add(&m, password);
    message_add(&m, "|");
    return message_finish(&m);
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
    bool folder = path_length >= 0;
    const char* slots = folder ? path + path_length + 1 : nullptr;
    if (folder) {
        // Some clients end a directory's path with its separator: dropped,
        // so the short name is the directory's own.
        if (path_length > 1 && path[path_length - 1] == '\\') path_length--;
        path[path_length] = '\0';
    } else {
        path_length = path_end;
        char* size_text = path + path_end + 1;
        int size_end = field_end(size_text, ' ');
        if (size_end < 0) return 0;
        size_text[size_end] = '\0';
        size = decimal_to_u64(size_text);
        slots = size_text + size_end + 1;
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
    out->folder = folder ? 1 : 0;
    // Clients that hash their share put "TTH:<root>" where the hub name would be.
    if (hub_field != nullptr && is_prefix("TTH:", hub_field)) tth_take(hub_field + 4, out->tth);
    slots_take(slots, out);
    return 1;
}
