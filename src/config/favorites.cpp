// The favourites reader.
//
// The file is XML as DC++-family clients write it:
//   <Favorites><Hubs><Hub Name="..." Nick="..." Password="..." Server="..."
//   Encoding="..." .../></Hubs></Favorites>
// read with expat: every Hub element wherever it stands, its attributes in any
// order and either quote style, entities decoded, other attributes and
// elements passed over. The text is in the encoding the file declares (UTF-8
// when it declares none; windows-1251 too, which expat does not know by
// itself); a file that declares none or UTF-8 but is not valid UTF-8 was
// written by an older phone client and is read again as code page 1251.
//
// Values go into their fields as code page 1251, cut to the field:
//   name 19, nick 19, password 31 characters; Server parsed by
//   parse_hub_address (config/hub_address.h): its scheme (dchub://, nmdc://,
//   or nmdcs:// for TLS), up to 40 characters of host:port (port 1-65535,
//   "411" without one; host of letters, digits, '.', '-', '_') and a
//   keyprint ?kp=SHA256/... .
// A Hub element counts only when it has a Server attribute that is a hub
// address (one that is not is left out, and named in a note); at most
// FAVORITE_SLOTS count.
//
// TLS="0" (or no, off, false) switches TLS off for transfers while that hub
// is the one in use; the hub connection follows Server either way. A file that breaks off or is not well-formed keeps
// the hubs read before the fault.
//
// Encoding names the hub's encoding: UTF-8 or utf8; CP1251, windows-1251 or
// 1251; CP1252, windows-1252 or 1252; Auto (and anything else or nothing):
// the legacy code page until the hub shows that it sends UTF-8.
//
// State of this file alone: the count of Hub elements left out for a bad
// Server, for the note. expat allocates from config/xml_arena.h, so reading
// the file takes no heap.
//
// Reaches g_state: the FavoritesTable and its count, the file text buffer,
// the line break and the ChatLog (the notes at start); the settings (the
// favourite taken as the hub in use).
#include "config/favorites.h"

#include <expat.h>

#include <cstring>

#include "config/hub_address.h"
#include "config/xml_arena.h"
#include "platform/platform.h"
#include "state/client_state.h"

namespace {

constexpr int SERVER_ADDRESS_CHARS = 40;  // longest host:port used of a Server value
constexpr int SERVER_TEXT_CHARS = 127;    // a Server value with its scheme and keyprint
constexpr int VALUE_UNITS = 256;          // one attribute value as UTF-16, cut
constexpr int NOTE_UNITS = 600;
// Hub elements of the last parse left out for a Server that is no hub address.
int g_bad_servers;

// Case-insensitive equality of a value with an ASCII name.
bool value_is(const char* value, const char* name) {
    for (; *name != '\0'; value++, name++) {
        char c = *value;
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != *name) return false;
    }
    return *value == '\0';
}

// The code page 1251 map for a file that declares it.
int XMLCALL unknown_encoding(void*, const XML_Char* name, XML_Encoding* info) {
    if (!value_is(name, "windows-1251") && !value_is(name, "cp1251")) return XML_STATUS_ERROR;
    for (int b = 0; b < 256; b++) {
        char byte = (char)b;
        char16_t unit = 0;
        cp1251_to_utf16(&byte, 1, &unit, 1);
        info->map[b] = unit;
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

// A value (UTF-8 from expat) into a 1251 field of `chars` characters at most.
void take_value(const char* value, char* field, int chars) {
    char16_t wide[VALUE_UNITS];
    utf8_to_utf16(value, -1, wide, VALUE_UNITS);
    if (chars + 1 < VALUE_UNITS) wide[chars] = 0;
    utf16_to_cp1251(wide, -1, field, chars + 1);
}

// Server into host, port, TLS and keyprint; false when it is no hub address.
bool take_server(const char* server, FavoriteHub* record) {
    char value[SERVER_TEXT_CHARS + 1];
    take_value(server, value, SERVER_TEXT_CHARS);
    HubAddress address;
    if (!parse_hub_address(value, "411", SERVER_ADDRESS_CHARS, &address)) return false;
    text_copy(record->host, FAV_HOST_BYTES, address.host);
    text_copy(record->port, FAV_PORT_BYTES, address.port);
    record->tls = address.tls;
    text_copy(record->keyprint, TLS_KEYPRINT_BYTES, address.keyprint);
    return true;
}

// TLS="0" (or "no", "off", "false") switches TLS off for transfers.
bool switched_off(const char* value) {
    return value_is(value, "0") || value_is(value, "no") || value_is(value, "off") || value_is(value, "false");
}

uint8_t encoding_of(const char* value) {
    if (value_is(value, "utf-8") || value_is(value, "utf8")) return ENCODING_UTF8;
    if (value_is(value, "cp1251") || value_is(value, "windows-1251") || value_is(value, "1251")) return ENCODING_CP1251;
    if (value_is(value, "cp1252") || value_is(value, "windows-1252") || value_is(value, "1252")) return ENCODING_CP1252;
    return ENCODING_AUTO;
}

void XMLCALL element_start(void*, const XML_Char* name, const XML_Char** attributes) {
    if (strcmp(name, "Hub") != 0 || g_state.favorites_count >= FAVORITE_SLOTS) return;
    FavoriteHub record = {};
    bool has_server = false;
    bool bad_server = false;
    for (int i = 0; attributes[i] != nullptr && attributes[i + 1] != nullptr; i += 2) {
        const char* key = attributes[i];
        const char* value = attributes[i + 1];
        if (strcmp(key, "Name") == 0) {
            take_value(value, record.name, FAV_NAME_BYTES - 1);
        } else if (strcmp(key, "Nick") == 0) {
            take_value(value, record.nick, FAV_NICK_BYTES - 1);
        } else if (strcmp(key, "Password") == 0) {
            take_value(value, record.password, FAV_PASSWORD_BYTES - 1);
        } else if (strcmp(key, "Server") == 0) {
            has_server = true;
            bad_server = !take_server(value, &record);
        } else if (strcmp(key, "Encoding") == 0) {
            record.encoding = encoding_of(value);
        } else if (strcmp(key, "TLS") == 0) {
            record.tls_transfers_off = switched_off(value) ? 1 : 0;
        }
    }
    if (bad_server) g_bad_servers++;
    else if (has_server) g_state.favorites[g_state.favorites_count++] = record;
}

// One parse of the text; forced names the encoding to read it in, or nullptr
// for the one it declares. Returns expat's error code.
XML_Error parse_once(const char* text, int length, const char* forced) {
    for (FavoriteHub& f : g_state.favorites) f = FavoriteHub{};
    g_state.favorites_count = 0;
    g_bad_servers = 0;
    XML_Parser parser = xml_parser_create(forced);
    if (parser == nullptr) return XML_ERROR_NO_MEMORY;
    XML_SetUnknownEncodingHandler(parser, unknown_encoding, nullptr);
    XML_SetStartElementHandler(parser, element_start);
    XML_Error error = XML_ERROR_NONE;
    if (XML_Parse(parser, text, length, 1) == XML_STATUS_ERROR) error = XML_GetErrorCode(parser);
    xml_parser_free(parser);
    return error;
}

void note(const char16_t* head, const char16_t* path) {
    char16_t line[NOTE_UNITS];
    u16_copy(line, NOTE_UNITS, head);
    u16_append(line, NOTE_UNITS, path);
    chatlog_append_note(line);
}

}  // namespace

void parse_favorites_text(int length) {
    const char* text = g_state.file_text;
    XML_Error error = parse_once(text, length, nullptr);
    // Bytes that are not UTF-8 where no other encoding was declared: a file
    // from an older client, in code page 1251.
    if (error == XML_ERROR_INVALID_TOKEN || error == XML_ERROR_PARTIAL_CHAR) {
        parse_once(text, length, "windows-1251");
    }
}

void favorite_password(const FavoriteHub* hub, char* dst, int dst_bytes) {
    char16_t wide[FAV_PASSWORD_BYTES];
    cp1251_to_utf16(hub->password, -1, wide, FAV_PASSWORD_BYTES);
    // Auto sends the password as its legacy code page: it goes before the
    // hub has said much.
    utf16_to_encoded(hub->encoding, wide, -1, dst, dst_bytes);
}

void favorite_take(const FavoriteHub* hub, bool with_address) {
    SessionSettings& s = g_state.settings;
    if (with_address) {
        text_copy(s.hub_host, HUB_HOST_BYTES, hub->host);
        text_copy(s.hub_port, HUB_PORT_BYTES, hub->port);
        s.hub_tls = hub->tls;
        text_copy(s.hub_keyprint, TLS_KEYPRINT_BYTES, hub->keyprint);
    }
    favorite_password(hub, s.password, PASSWORD_BYTES);
    s.encoding = hub->encoding;
    s.tls_transfers_off = hub->tls_transfers_off;
}

int load_favorites(const char16_t* path) {
    int file = file_open_read(path);
    if (file == FILE_INVALID) {
        if (file_create_new(path)) return 1;
        note(u"cannot read ", path);
        return 0;
    }
    int got = file_read(file, g_state.file_text, FAVORITES_FILE_BYTES);
    file_close(file);
    if (got < 0) {
        note(u"cannot read ", path);
        return 0;
    }
    g_state.file_text[got] = '\0';
    parse_favorites_text(got);
    if (g_bad_servers > 0) note(u"a hub with a bad Server address is left out: ", path);
    return 1;
}
