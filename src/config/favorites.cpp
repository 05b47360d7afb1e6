// The favourites reader.
//
// The file looks like XML but is not parsed as XML: the reader searches the
// text for four attribute openings in a fixed order (Name, Nick, Password,
// Server), each from the end of the previous value, and copies each value up
// to its closing double quote into a fixed field, cut to the field:
//
//   name 19, nick 19, password 31 bytes; Server up to 40 bytes, split at its
//   first ':' when that lies inside the value at index 1 to 31 into host and
//   port text (port cut to 9 bytes), otherwise all host and port "411".
//
// A record counts only when its Server value was found. A value without a
// closing quote runs to the end of the text and ends the parse there.
//
// After Server, an Encoding attribute of the same element (before the next
// '<') names the hub's encoding, in the spellings DC++-family clients write:
// UTF-8 or utf8 for UTF-8; CP1251, windows-1251 or 1251 (and anything else or
// nothing) for code page 1251.
//
// Reaches g_state: the FavoritesTable and its count, the file text buffer.
#include "config/favorites.h"

#include "platform/platform.h"
#include "state/client_state.h"
#include "state/text_scan.h"

namespace {

constexpr int FAVORITES_MIN_BYTES = 10;   // fewer: nothing is parsed
constexpr int SERVER_VALUE_BYTES = 40;    // longest Server value used
constexpr int SERVER_HOST_COLON_MAX = 31; // a ':' further in is not a port

// Finds one attribute value from *cursor: its start and length up to the
// closing quote. Returns 0 when the opening is not found. *closed is 0 when
// the value runs to the end of the text without a closing quote.
int find_value(const char* text, int* cursor, const char* opening, int* start, int* length, int* closed) {
    int past = find_past(text + *cursor, opening);
    if (past == 0) return 0;
    *start = *cursor + past;
    int n = find_char(text + *start, '"');
    int rest = find_char(text + *start, 0);  // the value's bytes to the NUL
    *closed = n <= rest ? 1 : 0;
    *length = *closed ? n : rest;
    *cursor = *start + *length;
    return 1;
}

void split_server(const char* value, int length, FavoriteHub* record) {
    int t = length < SERVER_VALUE_BYTES ? length : SERVER_VALUE_BYTES;
    int m = find_char(value, ':');
    if (m < length && m >= 1 && m <= SERVER_HOST_COLON_MAX) {
        text_copy_n(record->host, FAV_HOST_BYTES, value, m);
        text_copy_n(record->port, FAV_PORT_BYTES, value + m + 1, t - m - 1);
    } else {
        text_copy_n(record->host, FAV_HOST_BYTES, value, t);
        text_copy(record->port, FAV_PORT_BYTES, "411");
    }
}

// Case-insensitive equality of an attribute value (length bytes) with an
// ASCII name.
bool value_is(const char* value, int length, const char* name) {
    int i = 0;
    for (; i < length && name[i] != '\0'; i++) {
        char c = value[i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != name[i]) return false;
    }
    return i == length && name[i] == '\0';
}

// The Encoding attribute of the element that goes on at from, up to its end
// (the next '<' or the end of the text).
uint8_t element_encoding(const char* text, int from) {
    int end = from + find_char(text + from, '<');  // past the NUL when there is none
    int cursor = from;
    int start, length, closed;
    if (!find_value(text, &cursor, "Encoding=\"", &start, &length, &closed) || !closed || start >= end) {
        return ENCODING_CP1251;
    }
    const char* value = text + start;
    if (value_is(value, length, "utf-8") || value_is(value, length, "utf8")) return ENCODING_UTF8;
    return ENCODING_CP1251;
}

// Reads the record at the count; returns 0 when the parse must end.
int read_record(const char* text, int* cursor, FavoriteHub* record, int* counted) {
    struct Field {
        const char* opening;
        char* dst;
        int bytes;
    };
    const Field fields[] = {
        {"Name=\"", record->name, FAV_NAME_BYTES},
        {"Nick=\"", record->nick, FAV_NICK_BYTES},
        {"Password=\"", record->password, FAV_PASSWORD_BYTES},
    };
    int start, length, closed;
    *counted = 0;
    for (const Field& f : fields) {
        if (!find_value(text, cursor, f.opening, &start, &length, &closed)) return 0;
        text_copy_n(f.dst, f.bytes, text + start, length);
        if (!closed) return 0;
    }
    if (!find_value(text, cursor, "Server=\"", &start, &length, &closed)) return 0;
    split_server(text + start, length, record);
    *counted = 1;
    if (!closed) return 0;
    record->encoding = element_encoding(text, *cursor);
    return 1;
}

}  // namespace

int open_and_read(const char16_t* name, char* buffer, int max_bytes, int* count_read) {
    *count_read = 0;
    buffer[0] = 0;
    int file = file_open_or_create(name);
    if (file == FILE_INVALID) return FILE_INVALID;
    int got = file_read(file, buffer, max_bytes);
    if (got < 0) got = 0;
    buffer[got] = 0;
    *count_read = got;
    return file;
}

void parse_favorites_text() {
    for (FavoriteHub& f : g_state.favorites) f = FavoriteHub{};
    g_state.favorites_count = 0;
    const char* text = g_state.file_text;
    int cursor = 0;
    while (g_state.favorites_count < FAVORITE_SLOTS) {
        int counted;
        int more = read_record(text, &cursor, &g_state.favorites[g_state.favorites_count], &counted);
        g_state.favorites_count = (uint16_t)(g_state.favorites_count + counted);
        if (!more) break;
    }
}

void load_favorites(const char16_t* path) {
    int count;
    int file = open_and_read(path, g_state.file_text, FAVORITES_FILE_BYTES, &count);
    file_close(file);
    if (count < FAVORITES_MIN_BYTES) return;
    parse_favorites_text();
}
