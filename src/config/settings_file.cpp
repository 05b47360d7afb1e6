// The settings file (see settings_file.h).
//
// Writing: each value is turned into UTF-8 (the 8-bit texts from code page
// 1251, the password from the encoding it is kept in, the folder from
// UTF-16) and escaped for a double-quoted attribute (config/kept_file.h).
// Control characters other than tab and line breaks cannot stand in XML 1.0
// at all and are left out; Option's fields never hold them.
//
// State of this file alone: none (expat parses in config/xml_arena.h).
//
// Reaches g_state: the settings (read and written) and the file text buffer
// (settings_load reads the file into it); the ChatLog (the notes).
#include "config/settings_file.h"

#include <cstdio>
#include <cstring>

#include "config/hub_address.h"
#include "config/kept_file.h"
#include "config/xml_arena.h"
#include "platform/platform.h"
#include "state/client_state.h"
#include "state/text_scan.h"

namespace {

const char ROOT_NAME[] = "KivoSettings";
constexpr int VALUE_UTF8_BYTES = 3 * NICK_BYTES;  // one value as UTF-8: 3 bytes per 1251 byte
constexpr int ADDRESS_TEXT_BYTES = 160;            // scheme, host:port and keyprint
static_assert(SETTINGS_TEXT_BYTES <= FAVORITES_FILE_BYTES, "the file is read into the favourites' text buffer");
// Every value escaped (6 bytes for one character at most, 4 for a UTF-16
// pair) and the names and head around them.
static_assert(6 * (2 * NICK_BYTES + PASSWORD_BYTES) + 6 * DOWNLOAD_FOLDER_UNITS + 3 * ADDRESS_TEXT_BYTES + 600 <=
                  SETTINGS_TEXT_BYTES,
              "the longest settings fit the text");

struct EncodingName {
    uint8_t encoding;
    const char* name;
};
// In ConnectMode's order.
const char* const MODE_NAMES[] = {"auto", "active", "passive"};

const EncodingName ENCODING_NAMES[] = {
    {ENCODING_AUTO, "auto"},
    {ENCODING_UTF8, "utf-8"},
    {ENCODING_CP1251, "cp1251"},
    {ENCODING_CP1252, "cp1252"},
};

// name="value" on a line of its own.
void put_attribute(XmlOut* out, const char* name, const char* utf8) {
    xml_put(out, "\n    ");
    xml_put_attribute(out, name, utf8);
}

void put_wide(XmlOut* out, const char* name, const char16_t* text) {
    char utf8[VALUE_UTF8_BYTES];
    utf16_to_utf8(text, -1, utf8, VALUE_UTF8_BYTES);
    put_attribute(out, name, utf8);
}

void put_1251(XmlOut* out, const char* name, const char* text) {
    char16_t wide[NICK_BYTES];
    cp1251_to_utf16(text, -1, wide, NICK_BYTES);
    put_wide(out, name, wide);
}

// The password is kept as the hub wants it: UTF-8 for a UTF-8 hub, else its
// code page (1251 under Auto, as the hub's first messages are read).
void password_to_utf16(const SessionSettings* s, char16_t* out, int units) {
    encoded_to_utf16(s->encoding, s->password, -1, out, units);
}

void server_text(const SessionSettings* s, char* out, int bytes) {
    text_copy(out, bytes, s->hub_tls ? "nmdcs://" : "dchub://");
    text_append(out, bytes, s->hub_host);
    text_append(out, bytes, ":");
    text_append(out, bytes, s->hub_port);
    if (s->hub_keyprint[0] == 0) return;
    text_append(out, bytes, "?kp=");
    text_append(out, bytes, s->hub_keyprint);
}

// --- Reading -----------------------------------------------------------------

struct Parse {
    SessionSettings* into;
    bool root_seen;
    bool bad;
};

// A UTF-8 value into a 1251 field, cut to Option's field.
void take_1251(const char* value, char* field) {
    char16_t wide[OPTION_FIELD_BYTES];
    utf8_to_utf16(value, -1, wide, OPTION_FIELD_BYTES);
    utf16_to_cp1251(wide, -1, field, OPTION_FIELD_BYTES);
}

bool take_switch(const char* value, uint8_t* field) {
    if (strcmp(value, "0") != 0 && strcmp(value, "1") != 0) return false;
    *field = value[0] == '1' ? 1 : 0;
    return true;
}

// Server as server_text wrote it: scheme, host, ':' and port, maybe a
// keyprint. The port is taken off first, at the last ':' of the address:
// Option holds hosts longer than the 31 characters before a ':' that a
// favourite's Server may have, and a saved one must read back.
bool take_server(const char* value, SessionSettings* s) {
    char text[ADDRESS_TEXT_BYTES];
    if ((int)strlen(value) >= ADDRESS_TEXT_BYTES) return false;
    text_copy(text, ADDRESS_TEXT_BYTES, value);
    char* query = strchr(text, '?');
    char* end = query != nullptr ? query : text + strlen(text);
    char* colon = end;
    while (colon > text && colon[-1] != ':') colon--;
    char port[HUB_PORT_BYTES] = "411";
    if (colon > text && colon[0] != '/') {  // not the scheme's "://"
        if (end - colon >= HUB_PORT_BYTES) return false;
        text_copy_n(port, HUB_PORT_BYTES, colon, (int)(end - colon));
        memmove(colon - 1, end, strlen(end) + 1);  // the keyprint, when there is one, and the NUL
    }
    HubAddress address;
    if (!parse_hub_address(text, port, HUB_HOST_BYTES - 1, &address)) return false;
    text_copy(s->hub_host, HUB_HOST_BYTES, address.host);
    text_copy(s->hub_port, HUB_PORT_BYTES, address.port);
    s->hub_tls = address.tls;
    text_copy(s->hub_keyprint, TLS_KEYPRINT_BYTES, address.keyprint);
    return true;
}

// "1" to "10" (DOWNLOAD_JOBS), digits only: anything else is no value.
bool take_slots(const char* value, uint8_t* field) {
    int n = 0;
    int digits = 0;
    for (const char* p = value; *p != 0; p++, digits++) {
        if (*p < '0' || *p > '9' || digits >= 2) return false;
        n = n * 10 + (*p - '0');
    }
    if (digits == 0 || value[0] == '0' || n < 1 || n > DOWNLOAD_JOBS) return false;
    *field = (uint8_t)n;
    return true;
}

bool take_folder(const char* value, char16_t* folder) {
    char16_t wide[DOWNLOAD_FOLDER_UNITS + 1];
    utf8_to_utf16(value, -1, wide, DOWNLOAD_FOLDER_UNITS + 1);
    if (u16_len(wide) >= DOWNLOAD_FOLDER_UNITS) return false;  // a cut path would be another folder
    u16_copy(folder, DOWNLOAD_FOLDER_UNITS, wide);
    return true;
}

bool take_mode(const char* value, uint8_t* field) {
    for (uint8_t m = 0; m < sizeof MODE_NAMES / sizeof MODE_NAMES[0]; m++) {
        if (strcmp(value, MODE_NAMES[m]) == 0) {
            *field = m;
            return true;
        }
    }
    return false;
}

// Empty, or dotted IPv4 (ipv4_text_take), which always fits the field.
bool take_external(const char* value, char* field) {
    if (value[0] != 0 && !ipv4_text_take(value, nullptr)) return false;
    text_copy(field, EXTERNAL_ADDRESS_BYTES, value);
    return true;
}

const char* attribute(const XML_Char** attributes, const char* name) {
    for (int i = 0; attributes[i] != nullptr && attributes[i + 1] != nullptr; i += 2)
        if (strcmp(attributes[i], name) == 0) return attributes[i + 1];
    return nullptr;
}

// Every value of the element into a copy, taken only when all are values.
bool take_element(const XML_Char** attributes, SessionSettings* into) {
    SessionSettings s = *into;
    const char* v;
    if ((v = attribute(attributes, "Server")) != nullptr && !take_server(v, &s)) return false;
    if ((v = attribute(attributes, "Nick")) != nullptr) take_1251(v, s.nick);
    if ((v = attribute(attributes, "ShareSize")) != nullptr) take_1251(v, s.share_size);
    if ((v = attribute(attributes, "Encoding")) != nullptr && !encoding_from_name(v, &s.encoding)) return false;
    // After Encoding: the password is kept in the hub's encoding.
    if ((v = attribute(attributes, "Password")) != nullptr) {
        char16_t wide[OPTION_FIELD_BYTES];
        utf8_to_utf16(v, -1, wide, OPTION_FIELD_BYTES);
        utf16_to_encoded(s.encoding, wide, -1, s.password, PASSWORD_BYTES);
    }
    if ((v = attribute(attributes, "DownloadFolder")) != nullptr && !take_folder(v, s.download_folder)) return false;
    if ((v = attribute(attributes, "ChatTimestamps")) != nullptr && !take_switch(v, &s.chat_timestamps)) return false;
    uint8_t tls_on = s.tls_transfers_off ? 0 : 1;
    if ((v = attribute(attributes, "TlsTransfers")) != nullptr && !take_switch(v, &tls_on)) return false;
    s.tls_transfers_off = tls_on ? 0 : 1;
    if ((v = attribute(attributes, "DownloadSlots")) != nullptr && !take_slots(v, &s.download_slots)) return false;
    if ((v = attribute(attributes, "Mode")) != nullptr && !take_mode(v, &s.connect_mode)) return false;
    if ((v = attribute(attributes, "Port")) != nullptr && !port_text_take(v, &s.listen_port)) return false;
    if ((v = attribute(attributes, "TlsPort")) != nullptr && !port_text_take(v, &s.tls_port)) return false;
    if ((v = attribute(attributes, "ExternalAddress")) != nullptr && !take_external(v, s.external_address)) return false;
    *into = s;
    return true;
}

void XMLCALL element_start(void* data, const XML_Char* name, const XML_Char** attributes) {
    Parse* parse = (Parse*)data;
    if (parse->root_seen) return;  // elements inside it are passed over
    parse->root_seen = true;
    if (strcmp(name, ROOT_NAME) != 0 || !take_element(attributes, parse->into)) parse->bad = true;
}

bool path_with(const char16_t* path, const char16_t* suffix, char16_t* dst) {
    return kept_path_with(path, suffix, dst, SETTINGS_PATH_UNITS + KEPT_SUFFIX_UNITS) != 0;
}

void note_unreadable(const char16_t* path) {
    char16_t aside[SETTINGS_PATH_UNITS + KEPT_SUFFIX_UNITS];
    char16_t note[NOTE_UNITS];
    if (kept_file_aside(path, aside, SETTINGS_PATH_UNITS + KEPT_SUFFIX_UNITS)) {
        wide_format(note, NOTE_UNITS, u"cannot read the settings in %s: kept as %s; the settings start from the defaults",
                    path, aside);
    } else {
        wide_format(note, NOTE_UNITS, u"cannot read the settings in %s (left as it is); the settings start from the defaults",
                    path);
    }
    chatlog_append_note(note);
}

}  // namespace

const char* encoding_name(uint8_t encoding) {
    for (const EncodingName& e : ENCODING_NAMES)
        if (e.encoding == encoding) return e.name;
    return ENCODING_NAMES[0].name;
}

int encoding_from_name(const char* name, uint8_t* encoding) {
    for (const EncodingName& e : ENCODING_NAMES) {
        if (strcmp(e.name, name) == 0) {
            *encoding = e.encoding;
            return 1;
        }
    }
    return 0;
}

int settings_text_make(const SessionSettings* s, char* out_text, int out_bytes) {
    if (out_bytes <= 0) return 0;
    XmlOut out = xml_out_begin(out_text, out_bytes);
    xml_put(&out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    xml_put(&out, "<!-- Kivo's settings, as Menu > Option saved them; written anew on each OK. -->\n<");
    xml_put(&out, ROOT_NAME);
    char server[ADDRESS_TEXT_BYTES];
    server_text(s, server, ADDRESS_TEXT_BYTES);
    put_attribute(&out, "Server", server);
    put_1251(&out, "Nick", s->nick);
    char16_t password[PASSWORD_BYTES];
    password_to_utf16(s, password, PASSWORD_BYTES);
    put_wide(&out, "Password", password);
    put_1251(&out, "ShareSize", s->share_size);
    put_attribute(&out, "Encoding", encoding_name(s->encoding));
    put_wide(&out, "DownloadFolder", s->download_folder);
    put_attribute(&out, "ChatTimestamps", s->chat_timestamps ? "1" : "0");
    put_attribute(&out, "TlsTransfers", s->tls_transfers_off ? "0" : "1");
    // A count outside its range (never stored by Option) is written as the
    // default, so the file always reads back.
    unsigned n = s->download_slots >= 1 && s->download_slots <= DOWNLOAD_JOBS ? s->download_slots : DOWNLOAD_SLOTS_DEFAULT;
    char slots[4];
    snprintf(slots, sizeof slots, "%u", n);
    put_attribute(&out, "DownloadSlots", slots);
    // Like the count, a mode or address Option never stores is written as
    // the default.
    put_attribute(&out, "Mode", MODE_NAMES[s->connect_mode <= MODE_PASSIVE ? s->connect_mode : (uint8_t)MODE_AUTO]);
    char port[8];
    snprintf(port, sizeof port, "%u", (unsigned)s->listen_port);
    put_attribute(&out, "Port", port);
    snprintf(port, sizeof port, "%u", (unsigned)s->tls_port);
    put_attribute(&out, "TlsPort", port);
    put_attribute(&out, "ExternalAddress", ipv4_text_take(s->external_address, nullptr) ? s->external_address : "");
    xml_put(&out, "/>\n");
    if (out.full) {
        out_text[0] = 0;
        return 0;
    }
    return out.length;
}

int settings_text_parse(const char* text, int length, SessionSettings* settings) {
    // Into a copy: the element's values come before the end of the text
    // shows whether it is whole.
    SessionSettings taken = *settings;
    Parse parse = {&taken, false, false};
    XML_Parser parser = xml_parser_create("UTF-8");
    if (parser == nullptr) return 0;
    XML_SetUserData(parser, &parse);
    XML_SetStartElementHandler(parser, element_start);
    bool parsed = XML_Parse(parser, text, length, 1) != XML_STATUS_ERROR;
    xml_parser_free(parser);
    if (!parsed || !parse.root_seen || parse.bad) return 0;
    *settings = taken;
    return 1;
}

void settings_load(const char16_t* path) {
    if (path[0] == 0 || !file_exists(path)) return;
    int file = file_open_read(path);
    int got = -1;
    if (file != FILE_INVALID) {
        got = file_read(file, g_state.file_text, SETTINGS_TEXT_BYTES);
        file_close(file);
    }
    // A file as long as the buffer may go on: it is not one Kivo wrote.
    if (got >= 0 && got < SETTINGS_TEXT_BYTES) {
        g_state.file_text[got] = 0;
        if (settings_text_parse(g_state.file_text, got, &g_state.settings)) return;
    }
    note_unreadable(path);
}

int settings_save(const char16_t* path) {
    char16_t note[NOTE_UNITS];
    if (path[0] == 0) {
        chatlog_append_note(u"the settings are not saved: there is no settings folder");
        return 0;
    }
    char text[SETTINGS_TEXT_BYTES];
    int length = settings_text_make(&g_state.settings, text, SETTINGS_TEXT_BYTES);
    char16_t new_path[SETTINGS_PATH_UNITS + KEPT_SUFFIX_UNITS];
    if (length > 0 && path_with(path, u".new", new_path) && file_replace_whole(path, new_path, text, length)) return 1;
    wide_format(note, NOTE_UNITS, u"cannot save the settings to %s; the file there is as it was", path);
    chatlog_append_note(note);
    return 0;
}
