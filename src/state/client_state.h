// The one process-wide record of the client.
//
// Every piece of state lives here, in fixed-size arrays: nothing is allocated,
// freed or saved. (State that belongs to one file alone is stated at the top
// of that file, with why; each file that reaches this record names, at its
// top, what of it it reaches: "Reaches g_state: ...".) 8-bit texts are NUL-terminated code page 1251; UTF-16 texts
// (char16_t) end in a 16-bit zero. Every capacity below counts the terminator,
// so a field of 52 bytes holds at most 51 characters.
//
// Threads: the user-interface thread owns everything, except what the download
// worker shares with it: the TrafficCounters (added to through traffic_add_*,
// atomically), the ChatLog (appended to through chatlog_append, under a lock),
// the DownloadJob's phase and counts (atomic fields) and the ConnectRequest
// (handed over under the job's lock, see transfer/download.h).
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/tls.h"

// --- SessionSettings -------------------------------------------------------
constexpr int NICK_BYTES = 1000;
constexpr int SHARE_TEXT_BYTES = 1000;
constexpr int HUB_HOST_BYTES = 52;
constexpr int HUB_PORT_BYTES = 12;
constexpr int LOCAL_IP_BYTES = 52;
constexpr int PASSWORD_BYTES = 100;

// How a hub's bytes are read and written. Code page 1251 is the default;
// a favourite may name UTF-8.
enum HubEncoding : uint8_t {
    ENCODING_CP1251 = 0,
    ENCODING_UTF8 = 1,
};

struct SessionSettings {
    char nick[NICK_BYTES];              // 1251; "[i]mpx200" after start-up
    char share_size[SHARE_TEXT_BYTES];  // decimal bytes, as sent in $MyINFO
    char hub_host[HUB_HOST_BYTES];      // name or dotted IPv4
    char hub_port[HUB_PORT_BYTES];      // decimal text, 1-65535 (host_port_valid)
    char local_ip[LOCAL_IP_BYTES];      // dotted IPv4, display only
    // The chosen favourite's password, in the hub's encoding; empty: asked
    // for when the hub wants one. Never shown, never logged.
    char password[PASSWORD_BYTES];
    uint8_t encoding;                   // a HubEncoding, from the next Connect on
    // TLS is on by default: $MyINFO says so and a $ConnectToMe port marked S
    // is answered over TLS. Nonzero when the chosen favourite switched it off
    // for transfers (the hub connection follows its address either way).
    uint8_t tls_transfers_off;
    // The hub's address was nmdcs://: its connection is TLS from the first
    // byte. hub_keyprint: the keyprint its certificate must have
    // ("SHA256/<base32>"), empty when the address named none.
    uint8_t hub_tls;
    char hub_keyprint[TLS_KEYPRINT_BYTES];
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
constexpr int CHATLOG_SHOW_UNITS = 1000; // longer than this at paint: the oldest lines go
constexpr int LINE_BREAK_UNITS = 4;

// --- UserTable -------------------------------------------------------------
constexpr int USER_SLOTS = 3000;
constexpr int USER_NAME_BYTES = 50;   // a longer nick: the user is not added
constexpr int USER_SHARE_BYTES = 30;  // a longer share text: the user is not added

struct UserEntry {
    char name[USER_NAME_BYTES];
    char share[USER_SHARE_BYTES];  // decimal bytes as the hub sent it
    uint8_t present;               // 1 while the user is on the hub
    // Counts the users ever written into this slot, and moves with them when
    // the table is sorted: the Users screen tells by it whether a slot still
    // holds the user it listed. Kept when the table is emptied.
    uint32_t tenancy;
};

// --- UserIndex -----------------------------------------------------------------
// Finds a present user's slot by name without a walk over the UserTable, and
// the lowest free slot without one either. Kept in step with the table by
// every change hub/users makes to it; all zero is the empty index, so an
// emptied record is a consistent one. 16 KB of index and 376 bytes of bits
// beside the 264 KB table: a lookup reads the index and the slots it names,
// never the table's unused pages.
//
// Open addressing with linear probing, deleted by backward shift (no
// tombstones): more than twice the table's capacity, so at most 37 % of the
// entries are in use and a probe sequence stays short.
constexpr int USER_INDEX_BITS = 13;
constexpr int USER_INDEX_ENTRIES = 1 << USER_INDEX_BITS;
static_assert(USER_INDEX_ENTRIES >= 2 * USER_SLOTS, "at most half the entries in use");
static_assert(USER_SLOTS < 32767, "a slot number plus one fits an int16_t");
constexpr int USER_PRESENT_WORDS = (USER_SLOTS + 63) / 64;

struct UserIndex {
    int16_t slot_plus_one[USER_INDEX_ENTRIES];  // 0: no user; else the slot number + 1
    uint64_t present[USER_PRESENT_WORDS];       // bit s % 64 of word s / 64: slot s present
};

// --- SearchResultTable -----------------------------------------------------
constexpr int RESULT_ROWS = 334;
// A result whose nick, path or short name does not fit is dropped whole.
constexpr int RESULT_NICK_BYTES = 50;
constexpr int RESULT_PATH_BYTES = 150;
constexpr int RESULT_SHORT_BYTES = 52;
// A Tiger Tree Hash root in base32: 192 bits in 39 characters, and the NUL.
constexpr int TTH_BASE32_CHARS = 39;
constexpr int TTH_TEXT_BYTES = TTH_BASE32_CHARS + 1;

struct SearchResult {
    char nick[RESULT_NICK_BYTES];
    char path[RESULT_PATH_BYTES];         // backslash-separated, as sent
    char short_name[RESULT_SHORT_BYTES];  // after the last backslash
    char tth[TTH_TEXT_BYTES];             // upper-case base32, or empty when the result had none
    uint64_t size;                        // bytes; 64 bits so 4 GiB+ stay whole (0 for a folder)
    uint8_t folder;                       // 1: the result names a directory, which is not downloaded
};

// Where the last search stands, for the results screen's status line.
enum SearchPhase : uint8_t {
    SEARCH_NOT_SENT = 0,  // no search since start
    SEARCH_WAITING,       // sent; results may still come
    SEARCH_WAIT_OVER,     // the results screen waited long enough: none now means "no results"
};

// --- DownloadJob and ConnectRequest ------------------------------------------
constexpr int CONNECT_REQUEST_BYTES = 1000;

// The one download's life. Only the moves below exist, each made by the one
// thread named; the phase is read and written atomically, the moves between
// requested and connecting (and the spare request) under the job's lock.
//   idle -> requested        UI: the Download command (again while requested: replaced)
//   requested -> idle        UI: "Stop" withdraws the request
//   requested -> connecting  UI: the owner's $ConnectToMe starts the worker
//   connecting -> requested  worker: the peer greeted with another nick
//   connecting -> receiving  worker: the peer's reply accepted, data follows
//   receiving -> verifying   worker: every byte in, the Tiger tree being finished
//   connecting, receiving, verifying -> ending -> idle   worker: its last steps
// While the phase is connecting or later, the UI writes nothing of the job but
// the stop flag and the spare request; the worker writes the counts.
enum DownloadPhase : uint8_t {
    DOWNLOAD_IDLE = 0,
    DOWNLOAD_REQUESTED,
    DOWNLOAD_CONNECTING,
    DOWNLOAD_RECEIVING,
    DOWNLOAD_VERIFYING,
    DOWNLOAD_ENDING,
};

// How the last download ended, for the Downloads screen: written (atomic)
// by the worker just before the phase goes back to idle, or by the UI when
// "Stop" withdraws a request; cleared by the next request.
enum DownloadOutcome : uint8_t {
    DOWNLOAD_NO_OUTCOME = 0,
    DOWNLOAD_DONE,
    DOWNLOAD_FAILED,
    DOWNLOAD_STOPPED,
};

struct DownloadJob {
    char nick[RESULT_NICK_BYTES];
    char path[RESULT_PATH_BYTES];
    char short_name[RESULT_SHORT_BYTES];
    char tth[TTH_TEXT_BYTES];  // empty: the result had no TTH, nothing is verified
    uint64_t size;       // the size the search result gave
    uint64_t received;   // bytes of the file held: the resumed part, then each chunk
    uint64_t total;      // the file's whole length, once the peer's reply is in
    int16_t row_index;   // results row of the job; meaningful while the phase is not idle
    uint8_t phase;       // a DownloadPhase
    uint8_t stop;        // set by "Stop"; the worker ends at its next check
    uint8_t spare_waiting;  // 1 while spare_request holds a $ConnectToMe for the worker
    uint8_t outcome;        // a DownloadOutcome: how the last download ended
    uint8_t link;           // a DownloadLink: how the worker reaches the peer (atomic)
};

// How the transfer's connection runs, for the Downloads screen: written
// (atomic) by the worker once connected and once its handshake is done,
// cleared by the next request.
enum DownloadLink : uint8_t {
    DOWNLOAD_LINK_NONE = 0,  // not connected yet
    DOWNLOAD_LINK_PLAIN,
    DOWNLOAD_LINK_TLS,
};

// --- PrivateChats --------------------------------------------------------------
// One conversation per nick that sent or was sent a private message, with its
// last lines as the main chat shows them (UTF-16, each ending in the line
// break). UI thread only. A conversation keeps at most PRIVATE_CHAT_LINES
// lines and PRIVATE_CHAT_UNITS - 1 units: the oldest whole lines go first;
// a line longer than the whole store keeps its first units. A free slot has
// an empty nick; the text of a slot never used is never written, so its
// pages are never touched. Operations: hub/private_chats.h.
constexpr int PRIVATE_CHATS = 16;
constexpr int PRIVATE_CHAT_LINES = 200;
constexpr int PRIVATE_CHAT_UNITS = 8000;  // shown whole: within what a view holds (10000)

struct PrivateChat {
    char nick[USER_NAME_BYTES];  // hub encoding, as the hub names the user; empty: a free slot
    uint32_t last_used;          // g_state.private_clock at its last line or opening
    uint16_t unread;             // lines received while it was not on screen
    int16_t lines;               // whole lines in text
    int32_t length;              // units in text, terminator not counted
    char16_t text[PRIVATE_CHAT_UNITS];
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
    uint8_t encoding;  // a HubEncoding: the favourite's Encoding attribute, 1251 without one
    uint8_t tls;       // Server was nmdcs://
    uint8_t tls_transfers_off;  // its TLS="0": transfers without TLS while it is the hub in use
    char keyprint[TLS_KEYPRINT_BYTES];  // from Server's ?kp=, or empty
};

// --- The hub connection -------------------------------------------------------
// The own nick converted to UTF-8 may take up to three bytes per 1251 byte.
constexpr int HUB_NICK_BYTES = 3 * NICK_BYTES;
// Messages to the hub the socket could not take at once. A hub that leaves
// this much unread is not reading: the connection ends.
constexpr int HUB_OUT_BYTES = 16 * 1024;

enum HubPhase : uint8_t {
    HUB_OFFLINE = 0,  // no connection (before any, after a close or a failed login)
    HUB_CONNECTING,   // a login runs on its own thread: lookup, connect, lock, first reply
    HUB_ONLINE,       // logged in: the socket is registered for socket events
};

// "host:port" of the hub of the latest Connect (1251, as the settings hold it).
constexpr int HUB_ADDRESS_BYTES = HUB_HOST_BYTES + HUB_PORT_BYTES;
// The hub's name as its last $HubName said it, in UTF-16; longer is cut.
constexpr int HUB_NAME_UNITS = 200;

// --- Hub receive tail ----------------------------------------------------------
// The unterminated end of one hub receive, completed by the next before it is
// dispatched. A tail that would not fit is dropped whole.
constexpr int HUB_TAIL_BYTES = 2048;

constexpr int MODULE_DIR_UNITS = 500;

// --- Time limits -----------------------------------------------------------------
// Bound on the hub's connect and on each receive of the login (the lock, the
// first reply). A timeout is a failure like any other.
constexpr int HUB_IO_TIMEOUT_MS = 15000;
// Silence that ends a download: no byte from the peer for this long while
// waiting for its greeting, its length reply or the file's data.
constexpr int DOWNLOAD_SILENCE_LIMIT_MS = 60000;

struct ClientState {
    SessionSettings settings;
    TrafficCounters traffic;

    char16_t chat_log[CHATLOG_UNITS];
    char16_t line_break[LINE_BREAK_UNITS];

    ModuleInstance module_instance;
    Window main_window;
    Window search_window;
    Window progress_window;  // the open Downloads screen, 0 when none
    int32_t hub_socket;  // socket, negative code of the last login, 0 before any
    uint8_t hub_phase;   // a HubPhase
    uint32_t hub_login_generation;  // counts Connects: a login's result is taken only by its own
    uint8_t hub_text_encoding;      // a HubEncoding: read through hub_encoding()
    // The own nick in the connected hub's encoding, as every message to the
    // hub and to peers names it; made at each Connect.
    char hub_nick[HUB_NICK_BYTES];
    // What the socket has not taken yet of the messages sent to the hub, in
    // order: sent when it can take more (FD_WRITE).
    char hub_out[HUB_OUT_BYTES];
    int32_t hub_out_len;
    // The hub of the latest Connect, for the title and the session notes: the
    // settings may change (Option) while it is connected.
    char hub_address[HUB_ADDRESS_BYTES];
    // Its name from $HubName (unescaped, UTF-16); empty until it comes, and
    // emptied at each Connect.
    char16_t hub_name[HUB_NAME_UNITS];

    char16_t module_dir[MODULE_DIR_UNITS];  // with its trailing separator; empty when unknown
    // Nonzero when a hub was given at start: the main screen connects to it
    // once it is up (and clears this).
    uint8_t connect_at_start;

    uint8_t short_names;     // nonzero: results listed by short name
    int32_t user_selection;  // last selected Users list position, -1 none
    int32_t result_count;    // 0 to RESULT_ROWS
    uint8_t search_phase;    // a SearchPhase
    int32_t user_count;      // present slots of the UserTable
    uint16_t favorites_count;

    SearchResult results[RESULT_ROWS];
    UserEntry users[USER_SLOTS];
    UserIndex user_index;
    DownloadJob download;
    char connect_request[CONNECT_REQUEST_BYTES];
    // A $ConnectToMe that came while the worker was still finding out whether
    // its peer is the owner: tried when that peer greets with another nick.
    char spare_request[CONNECT_REQUEST_BYTES];
    FavoriteHub favorites[FAVORITE_SLOTS];
    char file_text[FAVORITES_FILE_BYTES + 1];

    char hub_tail[HUB_TAIL_BYTES];
    int32_t hub_tail_len;

    // The limits in force: HUB_IO_TIMEOUT_MS and DOWNLOAD_SILENCE_LIMIT_MS,
    // which tests lower to stay fast. A worker reads its limit when it starts.
    int32_t hub_io_timeout_ms;
    int32_t download_silence_ms;

    PrivateChat private_chats[PRIVATE_CHATS];
    uint32_t private_clock;  // counts the uses of conversations, for their last_used
    // The open Private list and conversation screens, 0 when none;
    // private_open: the conversation's slot while its screen is open.
    Window private_list_window;
    Window private_chat_window;
    uint8_t private_open;
};

// The record itself: zero-filled at process start except the short names flag
// and the time limits.
extern ClientState g_state;

// Puts the record back to its process-start state (tests use it).
void client_state_reset();

// Empties the UserTable and its index, writing only the slots and index
// entries that were ever used: the pages of a table never filled stay
// untouched (about 240 KB of the 3000 slots are never paged in on a small
// hub).
void user_table_empty();
// Empties the UserIndex alone, writing only its entries in use (the table's
// own code makes it anew from the slots after this).
void user_index_empty();

// The encoding of the connected hub, set at each Connect from the settings:
// how chat lines, nicks and paths from it are shown and how text goes to it.
// Read by the download worker too (atomic).
HubEncoding hub_encoding();
void hub_encoding_set(HubEncoding encoding);
// Converts text of the connected hub (src_len -1: NUL-terminated, and the
// result terminated) to UTF-16, and back; the conversion rules of
// cp1251_to_utf16 and utf8_to_utf16. Invalid UTF-8 becomes U+FFFD; a
// character is never cut in two.
int hub_text_to_utf16(const char* src, int src_len, char16_t* dst, int dst_units);
int utf16_to_hub_text(const char16_t* src, int src_len, char* dst, int dst_bytes);

// Atomic additions to the TrafficCounters, safe from any thread.
void traffic_add_received(uint32_t bytes);
void traffic_add_sent(uint32_t bytes);
uint32_t traffic_received();
uint32_t traffic_sent();

// ChatLog operations, safe from any thread; each change asks the main
// window (when there is one) to repaint. An append that would not fit in
// CHATLOG_UNITS drops the oldest whole lines first, so the newest text stays;
// a text longer than the whole log keeps its first CHATLOG_UNITS - 1 units.
void chatlog_append(const char16_t* text);
// A note of the client's own (a session event): on a line of its own, so a
// line break goes first when the log does not end with one, and (end_line)
// one after it; the text cut to NOTE_UNITS - 1 units. Any thread.
constexpr int NOTE_UNITS = 1000;
void chatlog_append_note(const char16_t* text, bool end_line = true);
void chatlog_set(const char16_t* text);  // replace the whole log
void chatlog_clear();
int chatlog_length();
// Appends text of the connected hub (hub_encoding), converted to UTF-16 (cut
// to CHAT_LINE_UNITS - 1 units), and the line break to the ChatLog, in one
// append. Returns 1. Any thread.
constexpr int CHAT_LINE_UNITS = 3550;  // one chat line in UTF-16 with its terminator; longer is cut
int chatlog_append_line(const char* text);
// Copies the log into out (capacity in units, terminated); when the log is
// longer than limit units its oldest whole lines are dropped first (the
// newest line alone cut to its last limit units). Returns the units copied;
// *dropped (when given) gets the units dropped from the log's start.
int chatlog_take_for_display(char16_t* out, int out_units, int limit, int* dropped = nullptr);

// Download job fields shared with the worker: atomic access.
uint64_t download_received();
uint64_t download_total();
void download_set_received(uint64_t v);
void download_set_total(uint64_t v);
// The results row of the job while one is set (any phase but idle), else -1.
int16_t download_row();
DownloadPhase download_phase();
void download_set_phase(DownloadPhase phase);
DownloadOutcome download_outcome();
void download_set_outcome(DownloadOutcome outcome);
DownloadLink download_link();
void download_set_link(DownloadLink link);
// A request waits for its $ConnectToMe.
bool download_requested();
// A worker exists: connecting, receiving, verifying or ending.
bool download_running();
uint8_t download_stop_requested();
void download_set_stop(uint8_t v);
// UI thread, while no worker runs: the job (filled by the caller) becomes the
// waiting request for results row `row`. Returns false, changing nothing,
// while a worker runs.
bool download_request(int16_t row);
// Serialises the moves between requested and connecting and the spare
// request's handover (the UI thread's $ConnectToMe against the worker's
// nick mismatch). Held briefly; nothing blocking happens under it.
void download_lock();
void download_unlock();
