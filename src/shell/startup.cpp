// Start-up: prepares the ClientState, loads the favourites and the saved
// settings, enforces one running copy per user, registers the main screen's
// class and runs it.
//
// Favorites.xml and settings.xml live side by side: beside the executable
// when a Favorites.xml is there already (a portable copy), otherwise in the
// per-user settings folder (~/.config/kivo/ by the XDG rule), made private
// to the user when missing. A path that does not fit its buffer is never used
// cut. The settings start from the defaults, take the first favourite, the
// person's download folder, and then what settings.xml saved.
//
// A hub given on the command line becomes the hub in use, and the main
// screen connects to it as soon as it is up.
//
// The running copy is marked by a named mutex that lives until the process
// ends; a second start finds the first copy's main window, brings it to the
// front and ends with 0 without drawing anything. When neither the mutex can
// be made nor a running copy found, start-up says so on stderr and ends with 1.
//
// Reaches g_state: all of it: start-up fills the whole record.
#include "shell/startup.h"

#include <cstdio>

#include "config/favorites.h"
#include "config/hub_address.h"
#include "config/queue_file.h"
#include "config/settings_file.h"
#include "hub/queue.h"
#include "resources/ids.h"
#include "screens/main_screen.h"
#include "state/client_state.h"

namespace {

constexpr int MODULE_PATH_UNITS = MODULE_DIR_UNITS;  // the executable's path: longer is refused
constexpr char16_t PATH_SEPARATOR = u'/';
constexpr int INSTANCE_TRIES = 5;
constexpr int INSTANCE_WAIT_MS = 500;

const char16_t MAIN_CLASS[] = u"movraClass";
const char16_t MAIN_TITLE[] = u"Kivo";
const char16_t FAVORITES_FILE[] = u"Favorites.xml";
const char16_t SETTINGS_FILE[] = u"settings.xml";
// scripts/run.sh names the demo hub's TLS address here, which start-up shows.
const char DEMO_TLS_HUB_VARIABLE[] = "KIVO_DEMO_TLS_HUB";
constexpr int DEMO_ADDRESS_BYTES = 160;
const char16_t CONFIG_FOLDER_NAME[] = u"kivo";  // the per-user settings folder's name
const char16_t BANNER[] = u"Pelmark tarvol v 0.05 ";
const char DEFAULT_NICK[] = "[i]mpx200";
const char DEFAULT_SHARE[] = "1234567890";
const char DEFAULT_HUB_HOST[] = "127.0.0.1";
const char DEFAULT_HUB_PORT[] = "2225";

void take_settings_defaults() {
    SessionSettings& s = g_state.settings;
    text_copy(s.nick, NICK_BYTES, DEFAULT_NICK);
    text_copy(s.share_size, SHARE_TEXT_BYTES, DEFAULT_SHARE);
    text_copy(s.hub_host, HUB_HOST_BYTES, DEFAULT_HUB_HOST);
    text_copy(s.hub_port, HUB_PORT_BYTES, DEFAULT_HUB_PORT);
    // No download folder that fits: the current directory.
    user_download_folder(s.download_folder, DOWNLOAD_FOLDER_UNITS);
    if (g_state.favorites_count == 0) return;
    const FavoriteHub& first = g_state.favorites[0];
    favorite_take(&first, true);
    // A one-character favourite nick is ignored.
    if (first.nick[0] != 0 && first.nick[1] != 0) text_copy(s.nick, NICK_BYTES, first.nick);
}

// An empty favourites file is no fault: the note says what Connect does.
void note_no_favorites(const char16_t* path) {
    const SessionSettings& s = g_state.settings;
    char16_t note[NOTE_UNITS];
    wide_format(note, NOTE_UNITS, u"no favourite hubs yet in %s: Connect uses %S%S:%S", path,
                s.hub_tls ? "nmdcs://" : "", s.hub_host, s.hub_port);
    chatlog_append_note(note);
}

// The demo hub's TLS address, when scripts/run.sh started one and named it:
// shown only when it is a hub address.
void note_demo_tls_hub() {
    char text[DEMO_ADDRESS_BYTES];
    HubAddress address;
    if (!environment_value(DEMO_TLS_HUB_VARIABLE, text, DEMO_ADDRESS_BYTES)) return;
    if (!parse_hub_address(text, "411", HUB_HOST_BYTES - 1, &address) || !address.tls) return;
    char16_t note[NOTE_UNITS];
    wide_format(note, NOTE_UNITS, u"the demo hub over TLS: %S (Menu > Option, Host)", text);
    chatlog_append_note(note);
}

int register_main_class(ModuleInstance instance) {
    WindowClassInfo info;
    if (!class_info_get(0, u"Dialog", &info)) return 0;
    info.instance = instance;
    info.icon_id = ICON_PROGRAM;
    u16_copy(info.class_name, (int)(sizeof info.class_name / sizeof info.class_name[0]), MAIN_CLASS);
    return class_register(&info);
}

// folder + name into dst, or false (dst empty) when it would not fit whole.
bool path_join(char16_t* dst, int dst_units, const char16_t* folder, const char16_t* name) {
    if (u16_len(folder) + u16_len(name) >= dst_units) {
        dst[0] = 0;
        return false;
    }
    u16_copy(dst, dst_units, folder);
    u16_append(dst, dst_units, name);
    return true;
}

// Host names compare without regard to ASCII case.
bool same_host(const char* a, const char* b) {
    for (;; a++, b++) {
        char x = *a >= 'A' && *a <= 'Z' ? (char)(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? (char)(*b - 'A' + 'a') : *b;
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

// The hub named on the command line, in place of the first favourite's: a
// favourite with the same address gives its password, encoding, TLS switch
// and nick; another address gets none of the first favourite's (its password
// is for its own hub), only the nick stays.
void take_start_hub(const HubAddress* hub) {
    SessionSettings& s = g_state.settings;
    text_copy(s.hub_host, HUB_HOST_BYTES, hub->host);
    text_copy(s.hub_port, HUB_PORT_BYTES, hub->port);
    s.hub_tls = hub->tls;
    text_copy(s.hub_keyprint, TLS_KEYPRINT_BYTES, hub->keyprint);
    s.password[0] = 0;
    s.encoding = ENCODING_AUTO;
    s.tls_transfers_off = 0;
    for (int i = 0; i < g_state.favorites_count; i++) {
        const FavoriteHub& f = g_state.favorites[i];
        if (!same_host(f.host, hub->host) || decimal_to_int(f.port) != decimal_to_int(hub->port) ||
            f.tls != hub->tls) {
            continue;
        }
        favorite_take(&f, false);
        if (f.keyprint[0] != 0 && hub->keyprint[0] == 0) text_copy(s.hub_keyprint, TLS_KEYPRINT_BYTES, f.keyprint);
        if (f.nick[0] != 0 && f.nick[1] != 0) text_copy(s.nick, NICK_BYTES, f.nick);
        break;
    }
}

}  // namespace

int favorites_file_choose(const char16_t* module_dir, char16_t* dst, int dst_units) {
    char16_t beside[FAVORITES_PATH_UNITS];
    bool beside_fits = module_dir[0] != 0 && path_join(beside, FAVORITES_PATH_UNITS, module_dir, FAVORITES_FILE);
    if (beside_fits && file_exists(beside)) return path_join(dst, dst_units, beside, u"") ? 1 : 0;
    char16_t folder[FAVORITES_PATH_UNITS];
    if (user_config_folder(CONFIG_FOLDER_NAME, folder, FAVORITES_PATH_UNITS) > 0 &&
        path_join(dst, dst_units, folder, FAVORITES_FILE)) {
        // Where none is yet, it is created empty in a folder private to the user.
        if (!file_exists(dst)) folder_create_all(folder);
        return 1;
    }
    // No settings folder that fits (or no home): none at all, never the
    // executable's folder after all: a file made there would be read by
    // every later start in place of the settings folder's.
    if (dst_units > 0) dst[0] = 0;
    return 0;
}

int settings_file_beside(const char16_t* favorites_path, char16_t* dst, int dst_units) {
    char16_t folder[FAVORITES_PATH_UNITS];
    if (favorites_path[0] == 0 || !path_join(folder, FAVORITES_PATH_UNITS, favorites_path, u"")) {
        if (dst_units > 0) dst[0] = 0;
        return 0;
    }
    module_directory_from_path(folder);
    return path_join(dst, dst_units, folder, SETTINGS_FILE) ? 1 : 0;
}

void module_directory_from_path(char16_t* path) {
    int i = u16_len(path);
    while (i > 1 && path[i] != PATH_SEPARATOR) i--;
    path[i + 1] = 0;
}

uint32_t find_running_instance(const char16_t* class_name, const char16_t* title, int* found) {
    *found = 0;
    for (int tries = INSTANCE_TRIES; tries > 0; tries--) {
        uint32_t last_error = 0;
        int mutex = named_mutex_create(class_name, &last_error);
        if (mutex == 0) return E_FAIL_STATUS;
        // The only copy: the mutex stays open for the life of the process.
        if (last_error != ERROR_ALREADY_EXISTS) return 0;
        named_mutex_close(mutex);
        Window running = find_window(class_name, title);
        if (running == 0) {
            sleep_ms(INSTANCE_WAIT_MS);
            running = find_window(class_name, title);
        }
        if (running != 0) {
            set_foreground((Window)(running | 1));
            *found = 1;
            return 0;
        }
    }
    return E_FAIL_STATUS;
}

int single_instance_exit(bool has_start_hub) {
    int found = 0;
    if (find_running_instance(MAIN_CLASS, MAIN_TITLE, &found) != 0) {
        // Neither the lock nor a running copy: never a silent end.
        fputs("kivo: cannot tell whether Kivo is already running: no lock file can be made in "
              "$XDG_RUNTIME_DIR, $TMPDIR or /tmp (path too long or not writable), or the copy holding it "
              "does not answer\n",
              stderr);
        return 1;
    }
    if (!found) return -1;
    // The running copy keeps its own hub: the address given here is not passed on.
    fputs(has_start_hub ? "Kivo is already running; brought it to the front (the hub address is not used)\n"
                        : "Kivo is already running; brought it to the front\n",
          stderr);
    return 0;
}

void prepare_client_state(const char16_t* executable_path) {
    // An empty path (one too long to fetch whole) leaves no module directory.
    if (executable_path[0] != 0 && path_join(g_state.module_dir, MODULE_DIR_UNITS, executable_path, u"")) {
        module_directory_from_path(g_state.module_dir);
    }
    chatlog_set(BANNER);
    // Before the favourites: a note about the file goes on a line of its own.
    cp1251_to_utf16("\r\n", -1, g_state.line_break, LINE_BREAK_UNITS);

    char16_t favorites_path[FAVORITES_PATH_UNITS];
    bool favorites_read = false;
    if (favorites_file_choose(g_state.module_dir, favorites_path, FAVORITES_PATH_UNITS)) {
        favorites_read = load_favorites(favorites_path) != 0;
        settings_file_beside(favorites_path, g_state.settings_path, SETTINGS_PATH_UNITS);
    } else {
        chatlog_append_note(u"no Favorites.xml: its folder's path is too long, or there is no home folder");
    }

    WSAStartup(0x0202);
    local_ipv4_text(g_state.settings.local_ip, LOCAL_IP_BYTES);
    take_settings_defaults();
    // The saved settings win over the defaults and the first favourite.
    settings_load(g_state.settings_path);
    if (favorites_read && g_state.favorites_count == 0) note_no_favorites(favorites_path);
    note_demo_tls_hub();
    user_table_empty();
    // The queue comes back as it was left; its entries continue from their
    // parts when their users are on the hub.
    queue_places_choose();
    queue_file_load(g_state.queue_path);
    // Active mode keeps its TLS certificate in the config folder.
    user_config_folder(CONFIG_FOLDER_NAME, g_state.identity_folder, SETTINGS_PATH_UNITS);
}

void start_hub_take(const HubAddress* hub) {
    take_start_hub(hub);
    g_state.connect_at_start = 1;
}

int client_main(ModuleInstance instance, const HubAddress* start_hub) {
    char16_t executable[MODULE_PATH_UNITS];
    module_file_name(executable, MODULE_PATH_UNITS);
    prepare_client_state(executable);
    if (start_hub != nullptr) start_hub_take(start_hub);

    int status = single_instance_exit(start_hub != nullptr);
    if (status >= 0) return status;
    g_state.module_instance = instance;
    if (!register_main_class(instance)) return 0;
    return (int)dialog_run(instance, DIALOG_MAIN, 0, main_screen_proc, 0);
}
