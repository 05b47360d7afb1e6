// The one process-wide record of the client.
//
// Every piece of state lives here, in fixed-size arrays: nothing is allocated,
// freed or saved. 8-bit texts are NUL-terminated code page 1251; UTF-16 texts
// (char16_t) end in a 16-bit zero. Every capacity below counts the terminator,
// so a field of 52 bytes holds at most 51 characters.
//
// Threads: the user-interface thread owns everything, except what the download
// worker shares with it: the TrafficCounters (added to through traffic_add_*,
// atomically), the ChatLog (appended to through chatlog_append, under a lock),
// the DownloadJob's counts and row index (atomic fields) and the ConnectRequest
// (handed over once per download, see transfer/download.h).
#pragma once

#include <cstdint>

#include "platform/platform.h"

// --- SessionSettings -------------------------------------------------------
constexpr int NICK_BYTES = 1000;
constexpr int SHARE_TEXT_BYTES = 1000;
constexpr int HUB_HOST_BYTES = 52;
constexpr int HUB_PORT_BYTES = 12;
constexpr int LOCAL_IP_BYTES = 52;

struct SessionSettings {
    char nick[NICK_BYTES];              // 1251; "[i]mpx200" after start-up
    char share_size[SHARE_TEXT_BYTES];  // decimal bytes, as sent in $MyINFO
    char hub_host[HUB_HOST_BYTES];      // name or dotted IPv4
    char hub_port[HUB_PORT_BYTES];      // decimal text, taken modulo 65536
    char local_ip[LOCAL_IP_BYTES];      // dotted IPv4, display only
};

// --- TrafficCounters -------------------------------------------------------
// Unsigned 32-bit totals that only grow, wrapping modulo 2^32; never reset.
// Added to from the UI thread and the download worker: use traffic_add_*.
struct TrafficCounters {
    uint32_t received;
    uint32_t sent;
};

// --- ChatLog ---------------------------------------------------------------
constexpr int CHATLOG_UNITS = 10000;     // UTF-16 units including the terminator
constexpr int CHATLOG_SHOW_UNITS = 1000; // longer than this at paint: emptied
constexpr int LINE_BREAK_UNITS = 4;

// --- UserTable -------------------------------------------------------------
constexpr int USER_SLOTS = 3000;
constexpr int USER_NAME_BYTES = 50;   // a longer nick: the user is not added
constexpr int USER_SHARE_BYTES = 30;  // a longer share text: the user is not added

struct UserEntry {
    char name[USER_NAME_BYTES];
    char share[USER_SHARE_BYTES];  // decimal bytes as the hub sent it
    uint8_t present;               // 1 while the user is on the hub
};

// --- SearchResultTable -----------------------------------------------------
constexpr int RESULT_ROWS = 334;
// A result whose nick, path or short name does not fit is dropped whole.
constexpr int RESULT_NICK_BYTES = 50;
constexpr int RESULT_PATH_BYTES = 150;
constexpr int RESULT_SHORT_BYTES = 52;

struct SearchResult {
    char nick[RESULT_NICK_BYTES];
    char path[RESULT_PATH_BYTES];         // backslash-separated, as sent
    char short_name[RESULT_SHORT_BYTES];  // after the last backslash
    uint64_t size;                        // bytes; 64 bits so 4 GiB+ stay whole
};

// --- DownloadJob and ConnectRequest ------------------------------------------
constexpr int CONNECT_REQUEST_BYTES = 1000;

struct DownloadJob {
    char nick[RESULT_NICK_BYTES];
    char path[RESULT_PATH_BYTES];
    char short_name[RESULT_SHORT_BYTES];
    uint64_t received;   // written by the worker, read by the progress screen
    uint64_t total;      // announced by the peer's length reply
    int16_t row_index;   // results row of the job; -1 when no download is set
    uint8_t requested;   // 1 from the Download command until a worker takes it
    uint8_t running;     // 1 while a worker runs
    uint8_t stop;        // set by "Stop"; the worker ends at its next check
};

// --- FavoritesTable ----------------------------------------------------------
constexpr int FAVORITE_SLOTS = 25;
constexpr int FAV_NICK_BYTES = 20;
constexpr int FAV_HOST_BYTES = 50;
constexpr int FAV_PORT_BYTES = 10;
constexpr int FAV_NAME_BYTES = 20;
constexpr int FAV_PASSWORD_BYTES = 32;
constexpr int FAVORITES_FILE_BYTES = 25000;  // file text read, plus its NUL

struct FavoriteHub {
    char nick[FAV_NICK_BYTES];
    char host[FAV_HOST_BYTES];
    char port[FAV_PORT_BYTES];
    char name[FAV_NAME_BYTES];
    char password[FAV_PASSWORD_BYTES];
};

// --- Hub receive tail ----------------------------------------------------------
// The unterminated end of one hub receive, completed by the next before it is
// dispatched. A tail that would not fit is dropped whole.
constexpr int HUB_TAIL_BYTES = 2048;

constexpr int MODULE_DIR_UNITS = 500;

struct ClientState {
    SessionSettings settings;
    TrafficCounters traffic;

    char16_t chat_log[CHATLOG_UNITS];
    char16_t line_break[LINE_BREAK_UNITS];

    ModuleInstance module_instance;
    Window main_window;
    Window search_window;
    int32_t hub_socket;  // socket, negative code of the last login, 0 before any

    char16_t module_dir[MODULE_DIR_UNITS];  // with its trailing separator

    uint8_t short_names;     // nonzero: results listed by short name
    int32_t user_selection;  // last selected Users list position, -1 none
    int32_t result_count;    // 0 to RESULT_ROWS
    uint16_t favorites_count;

    SearchResult results[RESULT_ROWS];
    UserEntry users[USER_SLOTS];
    DownloadJob download;
    char connect_request[CONNECT_REQUEST_BYTES];
    FavoriteHub favorites[FAVORITE_SLOTS];
    char file_text[FAVORITES_FILE_BYTES + 1];

    char hub_tail[HUB_TAIL_BYTES];
    int32_t hub_tail_len;
};

// The record itself: zero-filled at process start except the short names flag.
extern ClientState g_state;

// Puts the record back to its process-start state (tests use it).
void client_state_reset();

// Atomic additions to the TrafficCounters, safe from any thread.
void traffic_add_received(uint32_t bytes);
void traffic_add_sent(uint32_t bytes);
uint32_t traffic_received();
uint32_t traffic_sent();

// ChatLog operations, safe from any thread. An append that would not fit in
// CHATLOG_UNITS empties the log first (what the paint rule would have done);
// a text longer than the whole log keeps its first CHATLOG_UNITS - 1 units.
void chatlog_append(const char16_t* text);
void chatlog_set(const char16_t* text);  // replace the whole log
void chatlog_clear();
int chatlog_length();
// Copies the log into out (capacity in units, terminated); when the log is
// longer than limit units it is emptied first. Returns the units copied.
int chatlog_take_for_display(char16_t* out, int out_units, int limit);

// Download job fields shared with the worker: atomic access.
uint64_t download_received();
uint64_t download_total();
int16_t download_row();
void download_set_received(uint64_t v);
void download_set_total(uint64_t v);
void download_set_row(int16_t v);
// The DownloadJob's flags, shared with the worker: atomic access.
uint8_t download_requested();
uint8_t download_running();
uint8_t download_stop_requested();
void download_set_requested(uint8_t v);
void download_set_running(uint8_t v);
void download_set_stop(uint8_t v);
