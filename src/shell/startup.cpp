// Start-up: prepares the ClientState, loads the favourites, enforces one
// running copy per user, registers the main screen's class and runs it.
//
// The running copy is marked by a named mutex that lives until the process
// ends; a second start finds the first copy's main window, brings it to the
// front and ends with 0 without drawing anything.
//
// Reaches g_state: all of it: start-up fills the whole record.
#include "shell/startup.h"

#include <cstdio>

#include "config/favorites.h"
#include "resources/ids.h"
#include "screens/main_screen.h"
#include "state/client_state.h"

namespace {

constexpr int MODULE_PATH_UNITS = 255;   // the executable's path, as fetched
constexpr int FAVORITES_PATH_UNITS = 500;
constexpr char16_t PATH_SEPARATOR = u'/';
constexpr int INSTANCE_TRIES = 5;
constexpr int INSTANCE_WAIT_MS = 500;

const char16_t MAIN_CLASS[] = u"movraClass";
const char16_t MAIN_TITLE[] = u"Kivo";
const char16_t FAVORITES_FILE[] = u"Favorites.xml";
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
    if (g_state.favorites_count == 0) return;
    const FavoriteHub& first = g_state.favorites[0];
    favorite_take(&first, true);
    // A one-character favourite nick is ignored.
    if (first.nick[0] != 0 && first.nick[1] != 0) text_copy(s.nick, NICK_BYTES, first.nick);
}

int register_main_class(ModuleInstance instance) {
    WindowClassInfo info;
    if (!class_info_get(0, u"Dialog", &info)) return 0;
    info.instance = instance;
    info.icon_id = ICON_PROGRAM;
    u16_copy(info.class_name, (int)(sizeof info.class_name / sizeof info.class_name[0]), MAIN_CLASS);
    return class_register(&info);
}

}  // namespace

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

void prepare_client_state(const char16_t* executable_path) {
    u16_copy(g_state.module_dir, MODULE_PATH_UNITS, executable_path);
    module_directory_from_path(g_state.module_dir);
    chatlog_set(BANNER);
    // Before the favourites: a note about the file goes on a line of its own.
    cp1251_to_utf16("\r\n", -1, g_state.line_break, LINE_BREAK_UNITS);

    char16_t favorites_path[FAVORITES_PATH_UNITS];
    u16_copy(favorites_path, FAVORITES_PATH_UNITS, g_state.module_dir);
    u16_append(favorites_path, FAVORITES_PATH_UNITS, FAVORITES_FILE);
    load_favorites(favorites_path);

    WSAStartup(0x0202);
    local_ipv4_text(g_state.settings.local_ip, LOCAL_IP_BYTES);
    take_settings_defaults();
    user_table_empty();
    download_set_phase(DOWNLOAD_IDLE);  // no download: the row reads -1
}

int client_main(ModuleInstance instance) {
    char16_t executable[MODULE_PATH_UNITS];
    module_file_name(executable, MODULE_PATH_UNITS);
    prepare_client_state(executable);

    int found = 0;
    if (find_running_instance(MAIN_CLASS, MAIN_TITLE, &found) != 0) return 0;
    if (found) {
        fprintf(stderr, "Kivo is already running; brought it to the front\n");
        return 0;
    }
    g_state.module_instance = instance;
    if (!register_main_class(instance)) return 0;
    return (int)dialog_run(instance, DIALOG_MAIN, 0, main_screen_proc, 0);
}
