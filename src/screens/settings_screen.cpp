// The settings screen's procedure.
//
// The fields show the SessionSettings (texts 8-bit 1251, the password in the
// hub's encoding, drawn as stars, the download folder UTF-16) and store them
// back on "OK" only, which also saves them to settings.xml
// (config/settings_file.h). Choosing a favourite fills the host, port and
// password fields, the nick field when its nick has two or more characters,
// and shows its encoding; on "OK" its encoding and TLS switch for transfers
// are taken too. An encoding chosen by hand in the Encoding combo (Auto,
// UTF-8, CP1251, CP1252, in HubEncoding's order) is stored on "OK" and is in
// force for the connected hub from its next message on. On "OK" each text field's text (at most 99 units) is
// converted into its SessionSettings field cut to that field's capacity, and
// never more than OPTION_FIELD_BYTES: local IP keeps at most 51 characters,
// the port 11, the nick, share size and password 99 bytes. A download folder
// too long for its field is refused ("folder path too long"), never cut. A
// nick changed while a hub is connected or connecting says that it is used
// from the next Connect: the hub knows the session by the old one.
// "At once" chooses how many downloads run at once (1 to DOWNLOAD_JOBS);
// after OK the queue chooses again where it keeps its parts, since the
// download folder may have changed.
//
// Mode (Auto, Active, Passive, in ConnectMode's order), the listening port,
// the TLS port and the external address are stored on "OK" with the rest;
// an empty port field means any free port, an empty address one found
// automatically. A port outside 1-65535, an address that is not dotted IPv4,
// or the TLS port equal to the port stores nothing: a message says which and
// the screen stays.
//
// The host field holds a hub address (config/hub_address.h): a bare host,
// or host:port, dchub://, or nmdcs:// for TLS (shown so for a TLS hub), with
// a keyprint ?kp=SHA256/... (at most HOST_READ_UNITS - 1 units); its host
// keeps at most 51 characters, a port in it wins over the port field. The
// keyprint is not shown (it does not fit): an address typed without one
// keeps the keyprint of the chosen favourite, or of the hub in use, when it
// names that same hub. A host field that is no hub address (with the port
// field when it gives none: a port outside 1-65535, a host of other
// characters than letters, digits, '.', '-', '_') stores nothing: "not a hub
// address" says so and the screen stays.
//
// State of this file alone: which favourite was chosen while the screen is
// open, and the encoding it showed last.
//
// Reaches g_state: the settings and where they are saved, the FavoritesTable
// (read), module_instance, the hub phase (read), the ChatLog (notes), the
// hub's encoding (hub_encoding_choose) and where the queue keeps its parts
// (queue_places_choose).
#include "screens/settings_screen.h"

#include <cstring>

#include "config/favorites.h"
#include "config/hub_address.h"
#include "config/settings_file.h"
#include "hub/active_mode.h"
#include "hub/queue.h"
#include "resources/ids.h"
#include "screens/screen_table.h"
#include "state/client_state.h"
#include "state/text_scan.h"

namespace {

constexpr int FIELD_SHOW_UNITS = 255;   // one field's text as shown
constexpr int FIELD_READ_UNITS = 100;   // one field's text as read back
constexpr int FIELD_STORE_BYTES = OPTION_FIELD_BYTES;  // most bytes stored from one field
constexpr int FAVORITE_NAME_UNITS = 550;
constexpr int HOST_READ_UNITS = 160;    // the host field: an address with a keyprint
const char TLS_SCHEME[] = "nmdcs://";

// The favourite chosen since the screen opened, or -1: its password and
// encoding are taken on OK with the fields.
int g_chosen = -1;
// The encoding the screen itself last put in the Encoding combo: another one
// there on OK was chosen by hand.
intptr_t g_encoding_shown = 0;

constexpr uint8_t ENCODING_CHOICES = ENCODING_CP1252 + 1;

// The combo's selection as this file last saw it: the combo tells of its
// focus too, and only a new selection is a choice.
int g_selection_seen = -1;

void show_encoding(Window screen, uint8_t encoding) {
    g_encoding_shown = encoding < ENCODING_CHOICES ? encoding : 0;
    control_send(screen, ID_SETTINGS_ENCODING, CB_SETCURSEL, (WPARAM)g_encoding_shown, 0);
}

void fill_encodings(Window screen) {
    control_send(screen, ID_SETTINGS_ENCODING, CB_RESETCONTENT, 0, 0);
    for (uint8_t e = 0; e < ENCODING_CHOICES; e++)
        control_send(screen, ID_SETTINGS_ENCODING, CB_ADDSTRING, 0, (LPARAM)hub_encoding_name(e));
}

// The password as the field shows it: from the hub's encoding.
void show_password(Window screen, const char* password, uint8_t encoding) {
    char16_t shown[PASSWORD_BYTES];
    encoded_to_utf16(encoding, password, -1, shown, PASSWORD_BYTES);
    control_set_text(screen, ID_SETTINGS_PASSWORD, shown);
}

void show_field(Window screen, int control, const char* text) {
    char16_t shown[FIELD_SHOW_UNITS];
    wide_format(shown, FIELD_SHOW_UNITS, u"%S", text);
    control_set_text(screen, control, shown);
}

// The host field: the host, after "nmdcs://" for a TLS hub.
void show_host(Window screen, const char* host, bool tls) {
    char address[HUB_HOST_BYTES + sizeof TLS_SCHEME];
    text_copy(address, (int)sizeof address, tls ? TLS_SCHEME : "");
    text_append(address, (int)sizeof address, host);
    show_field(screen, ID_SETTINGS_HOST, address);
}

bool same_hub(const char* host, const char* port, uint8_t tls, const HubAddress& address) {
    return strcmp(host, address.host) == 0 && strcmp(port, address.port) == 0 && (tls != 0) == (address.tls != 0);
}

// The favourite whose address the fields show (the first one), or -1.
int favorite_shown_by_fields() {
    const SessionSettings& s = g_state.settings;
    for (int i = 0; i < g_state.favorites_count; i++) {
        const FavoriteHub& hub = g_state.favorites[i];
        if (strcmp(hub.host, s.hub_host) == 0 && strcmp(hub.port, s.hub_port) == 0 && hub.tls == s.hub_tls) return i;
    }
    return -1;
}

// "1" to "10": the combo's position is the count less one.
void fill_slots(Window screen, uint8_t slots) {
    control_send(screen, ID_SETTINGS_SLOTS, CB_RESETCONTENT, 0, 0);
    for (int n = 1; n <= DOWNLOAD_JOBS; n++) {
        char16_t text[4];
        wide_format(text, 4, u"%d", n);
        control_send(screen, ID_SETTINGS_SLOTS, CB_ADDSTRING, 0, (LPARAM)text);
    }
    int shown = slots >= 1 && slots <= DOWNLOAD_JOBS ? slots : DOWNLOAD_SLOTS_DEFAULT;
    control_send(screen, ID_SETTINGS_SLOTS, CB_SETCURSEL, (WPARAM)(shown - 1), 0);
}

const char16_t* const MODE_CHOICES[] = {u"Auto", u"Active", u"Passive"};  // ConnectMode's order

void fill_modes(Window screen, uint8_t mode) {
    control_send(screen, ID_SETTINGS_MODE, CB_RESETCONTENT, 0, 0);
    for (const char16_t* name : MODE_CHOICES) control_send(screen, ID_SETTINGS_MODE, CB_ADDSTRING, 0, (LPARAM)name);
    control_send(screen, ID_SETTINGS_MODE, CB_SETCURSEL, mode <= MODE_PASSIVE ? mode : (uint8_t)MODE_AUTO, 0);
}

// A listening port's field: empty for 0, any free port.
void show_port(Window screen, int control, uint16_t port) {
    char16_t text[8] = u"";
    if (port != 0) wide_format(text, 8, u"%d", (int)port);
    control_set_text(screen, control, text);
}

intptr_t settings_screen_open(Window screen) {
    if (!screen_open_full(screen, MENUBAR_SETTINGS, g_state.module_instance)) return FALSE;
    fill_favorites_list(screen);
    // The combo names the favourite the fields come from, when one does.
    int shown = favorite_shown_by_fields();
    if (shown >= 0) control_send(screen, ID_SETTINGS_FAVORITES, CB_SETCURSEL, (WPARAM)shown, 0);
    const SessionSettings& s = g_state.settings;
    show_field(screen, ID_SETTINGS_LOCAL_IP, s.local_ip);
    show_host(screen, s.hub_host, s.hub_tls != 0);
    show_field(screen, ID_SETTINGS_PORT, s.hub_port);
    show_field(screen, ID_SETTINGS_NICK, s.nick);
    show_field(screen, ID_SETTINGS_SHARE, s.share_size);
    fill_encodings(screen);
    show_password(screen, s.password, s.encoding);
    control_set_text(screen, ID_SETTINGS_FOLDER, s.download_folder);
    control_send(screen, ID_SETTINGS_TIMES, CB_RESETCONTENT, 0, 0);
    control_send(screen, ID_SETTINGS_TIMES, CB_ADDSTRING, 0, (LPARAM)u"on");
    control_send(screen, ID_SETTINGS_TIMES, CB_ADDSTRING, 0, (LPARAM)u"off");
    control_send(screen, ID_SETTINGS_TIMES, CB_SETCURSEL, s.chat_timestamps ? 0 : 1, 0);
    fill_slots(screen, s.download_slots);
    fill_modes(screen, s.connect_mode);
    show_port(screen, ID_SETTINGS_LISTEN_PORT, s.listen_port);
    show_port(screen, ID_SETTINGS_TLS_PORT, s.tls_port);
    show_field(screen, ID_SETTINGS_EXTERNAL, s.external_address);
    show_encoding(screen, s.encoding);
    g_chosen = -1;
    g_selection_seen = shown;
    return TRUE;
}

void favorite_chosen(Window screen) {
    intptr_t chosen = control_send(screen, ID_SETTINGS_FAVORITES, CB_GETCURSEL, 0, 0);
    if (chosen < 0 || chosen >= g_state.favorites_count) return;
    const FavoriteHub& hub = g_state.favorites[chosen];
    // The focus coming back to the combo puts the selected favourite's
    // address back; the rest only comes with a new choice, so opening the
    // screen shows the settings in use (the saved nick and password).
    show_host(screen, hub.host, hub.tls != 0);
    show_field(screen, ID_SETTINGS_PORT, hub.port);
    if (chosen == g_selection_seen) return;
    g_selection_seen = (int)chosen;
    // A one-character favourite nick is ignored, as at start-up.
    if (hub.nick[0] != 0 && hub.nick[1] != 0) show_field(screen, ID_SETTINGS_NICK, hub.nick);
    show_password(screen, hub.password, ENCODING_CP1251);  // a favourite's is 1251 text
    show_encoding(screen, hub.encoding);
    g_chosen = (int)chosen;
}

// The host field (with the port field for a port it lacks) as an address;
// false when it is none.
bool read_address(Window screen, HubAddress* address) {
    char16_t typed[HOST_READ_UNITS];
    control_get_text(screen, ID_SETTINGS_HOST, typed, HOST_READ_UNITS);
    char text[HOST_READ_UNITS];
    utf16_to_cp1251(typed, -1, text, HOST_READ_UNITS);
    control_get_text(screen, ID_SETTINGS_PORT, typed, FIELD_READ_UNITS);
    char port[HUB_PORT_BYTES];
    utf16_to_cp1251(typed, -1, port, HUB_PORT_BYTES);
    if (!parse_hub_address(text, port, HUB_HOST_BYTES - 1, address)) return false;
    if (address->keyprint[0] != '\0') return true;
    // Typed without its keyprint: the one of the same hub is kept.
    const SessionSettings& s = g_state.settings;
    const char* kept = "";
    if (g_chosen >= 0 && g_chosen < g_state.favorites_count) {
        const FavoriteHub& hub = g_state.favorites[g_chosen];
        if (same_hub(hub.host, hub.port, hub.tls, *address)) kept = hub.keyprint;
    } else if (same_hub(s.hub_host, s.hub_port, s.hub_tls, *address)) {
        kept = s.hub_keyprint;
    }
    text_copy(address->keyprint, TLS_KEYPRINT_BYTES, kept);
    return true;
}

void store_fields(Window screen, const HubAddress& address) {
    SessionSettings& s = g_state.settings;
    struct Field {
        int control;
        char* text;
        int bytes;
    };
    // In the order they are stored.
    const Field fields[] = {
        {ID_SETTINGS_PORT, s.hub_port, HUB_PORT_BYTES},
        {ID_SETTINGS_NICK, s.nick, NICK_BYTES},
        {ID_SETTINGS_SHARE, s.share_size, SHARE_TEXT_BYTES},
        {ID_SETTINGS_LOCAL_IP, s.local_ip, LOCAL_IP_BYTES},
    };
    for (const Field& f : fields) {
        char16_t typed[FIELD_READ_UNITS];
        control_get_text(screen, f.control, typed, FIELD_READ_UNITS);
        utf16_to_cp1251(typed, -1, f.text, f.bytes < FIELD_STORE_BYTES ? f.bytes : FIELD_STORE_BYTES);
    }
    text_copy(s.hub_host, HUB_HOST_BYTES, address.host);
    text_copy(s.hub_port, HUB_PORT_BYTES, address.port);
    s.hub_tls = address.tls;
    text_copy(s.hub_keyprint, TLS_KEYPRINT_BYTES, address.keyprint);
    s.chat_timestamps = control_send(screen, ID_SETTINGS_TIMES, CB_GETCURSEL, 0, 0) == 1 ? 0 : 1;
    intptr_t slots = control_send(screen, ID_SETTINGS_SLOTS, CB_GETCURSEL, 0, 0);
    if (slots >= 0 && slots < DOWNLOAD_JOBS) s.download_slots = (uint8_t)(slots + 1);
}

// The password field into the settings, in the encoding in use (after a
// chosen favourite's was taken).
void store_password(Window screen) {
    SessionSettings& s = g_state.settings;
    char16_t typed[FIELD_READ_UNITS];
    control_get_text(screen, ID_SETTINGS_PASSWORD, typed, FIELD_READ_UNITS);
    utf16_to_encoded(s.encoding, typed, -1, s.password, FIELD_STORE_BYTES);
}

// The folder field whole into folder, or false when it is too long.
bool read_folder(Window screen, char16_t* folder) {
    char16_t typed[DOWNLOAD_FOLDER_UNITS + 1];
    control_get_text(screen, ID_SETTINGS_FOLDER, typed, DOWNLOAD_FOLDER_UNITS + 1);
    if (u16_len(typed) >= DOWNLOAD_FOLDER_UNITS) return false;
    u16_copy(folder, DOWNLOAD_FOLDER_UNITS, typed);
    return true;
}

// What the active mode fields hold, read whole before anything is stored.
struct ActiveFields {
    uint16_t listen_port;
    uint16_t tls_port;
    char external_address[EXTERNAL_ADDRESS_BYTES];
};

// A field's text in 1251, cut to FIELD_STORE_BYTES: a cut text is longer
// than any port or address, and stays no port or address.
void read_field(Window screen, int control, char* text) {
    char16_t typed[FIELD_READ_UNITS];
    control_get_text(screen, control, typed, FIELD_READ_UNITS);
    utf16_to_cp1251(typed, -1, text, FIELD_STORE_BYTES);
}

// Empty: 0, any free port; else 1 to 65535.
bool read_listen_port(Window screen, int control, uint16_t* port) {
    char text[FIELD_STORE_BYTES];
    read_field(screen, control, text);
    *port = 0;
    if (text[0] == 0) return true;
    return port_text_take(text, port) && *port != 0;
}

// The active mode fields into *f; false, with a message saying which field
// is wrong, when one is.
bool read_active_fields(Window screen, ActiveFields* f) {
    if (!read_listen_port(screen, ID_SETTINGS_LISTEN_PORT, &f->listen_port)) {
        message_box(screen, u"the port is 1 to 65535, or empty for any free port", u"Port", 0);
        return false;
    }
    if (!read_listen_port(screen, ID_SETTINGS_TLS_PORT, &f->tls_port)) {
        message_box(screen, u"the TLS port is 1 to 65535, or empty for any free port", u"TLS port", 0);
        return false;
    }
    if (f->listen_port != 0 && f->listen_port == f->tls_port) {
        message_box(screen, u"the TLS port must differ from the port", u"TLS port", 0);
        return false;
    }
    char text[FIELD_STORE_BYTES];
    read_field(screen, ID_SETTINGS_EXTERNAL, text);
    if (text[0] != 0 && !ipv4_text_take(text, nullptr)) {
        message_box(screen, u"not a dotted IPv4 address (empty: found automatically)", u"External address", 0);
        return false;
    }
    text_copy(f->external_address, EXTERNAL_ADDRESS_BYTES, text);  // 15 characters at most: it fits
    return true;
}

void store_active_fields(Window screen, const ActiveFields& f) {
    SessionSettings& s = g_state.settings;
    intptr_t mode = control_send(screen, ID_SETTINGS_MODE, CB_GETCURSEL, 0, 0);
    if (mode >= MODE_AUTO && mode <= MODE_PASSIVE) s.connect_mode = (uint8_t)mode;
    s.listen_port = f.listen_port;
    s.tls_port = f.tls_port;
    text_copy(s.external_address, EXTERNAL_ADDRESS_BYTES, f.external_address);
}

void command_ok(Window screen) {
    HubAddress address;
    if (!read_address(screen, &address)) {
        message_box(screen, u"not a hub address", u"Host", 0);
        return;
    }
    ActiveFields active;
    if (!read_active_fields(screen, &active)) return;
    // The last check: the folder is taken as it is read.
    SessionSettings& s = g_state.settings;
    if (!read_folder(screen, s.download_folder)) {
        message_box(screen, u"folder path too long", u"Downloads", 0);
        return;
    }
    char nick_before[NICK_BYTES];
    text_copy(nick_before, NICK_BYTES, s.nick);
    store_fields(screen, address);
    store_active_fields(screen, active);
    if (g_chosen >= 0 && g_chosen < g_state.favorites_count) favorite_take(&g_state.favorites[g_chosen], false);
    intptr_t encoding = control_send(screen, ID_SETTINGS_ENCODING, CB_GETCURSEL, 0, 0);
    if (encoding >= 0 && encoding < ENCODING_CHOICES) g_state.settings.encoding = (uint8_t)encoding;
    if (encoding != g_encoding_shown) hub_encoding_choose(g_state.settings.encoding);
    store_password(screen);
    if (strcmp(nick_before, s.nick) != 0 && g_state.hub_phase != HUB_OFFLINE) {
        chatlog_append_note(u"the new nick is used from the next Connect");
    }
    settings_save(g_state.settings_path);
    // The listeners follow the mode and ports at once; the mode in force
    // is decided again (and told to the hub when it changed).
    active_mode_settings_changed();
    queue_places_choose();
    dialog_end(screen, 0);
}

const ScreenCommand SETTINGS_COMMANDS[] = {
    {ID_SETTINGS_FAVORITES, favorite_chosen},
    {CMD_SETTINGS_OK, command_ok},
    {CMD_SETTINGS_CANCEL, screen_end},
};

const ScreenKind SETTINGS_SCREEN = {
    settings_screen_open, nullptr, nullptr, SETTINGS_COMMANDS, command_count(SETTINGS_COMMANDS), nullptr, nullptr, false,
};

}  // namespace

void fill_favorites_list(Window screen) {
    control_send(screen, ID_SETTINGS_FAVORITES, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < g_state.favorites_count; i++) {
        char16_t name[FAVORITE_NAME_UNITS];
        cp1251_to_utf16(g_state.favorites[i].name, -1, name, FAVORITE_NAME_UNITS);
        control_send(screen, ID_SETTINGS_FAVORITES, CB_ADDSTRING, 0, (LPARAM)name);
    }
    repaint_request(screen);
}

intptr_t settings_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(SETTINGS_SCREEN, screen, message, wparam, lparam);
}
