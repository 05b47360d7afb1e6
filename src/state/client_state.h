// The one process-wide record of the client.
//
// Every piece of state lives here, in fixed-size arrays: nothing is allocated
// or freed; only the settings are saved (config/settings_file.h). (State that belongs to one file alone is stated at the top
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
// A dotted IPv4 address and its NUL.
constexpr int EXTERNAL_ADDRESS_BYTES = 16;

// How Kivo reaches peers. Auto: active when it can listen and nothing sits
// between it and the hub (hub/active_mode.h decides), else passive.
enum ConnectMode : uint8_t {
    MODE_AUTO = 0,
    MODE_ACTIVE,
    MODE_PASSIVE,
};
// The most bytes Menu > Option stores from one of its text fields (nick,
// share size, password): 99 characters, and what settings.xml gives is cut
// the same way.
constexpr int OPTION_FIELD_BYTES = 100;
// The download folder's path: a longer one is refused, never cut.
constexpr int DOWNLOAD_FOLDER_UNITS = 400;
// Where Kivo's own settings file is kept: a longer path is never used.
constexpr int SETTINGS_PATH_UNITS = 500;

// How a hub's bytes are read and written. Auto, what a hub gets when nothing
// names its encoding, reads and writes the legacy code page
// (ENCODING_AUTO_LEGACY) until the hub sends text that is UTF-8 beyond ASCII,
// and UTF-8 from then on (hub/dispatch.cpp).
enum HubEncoding : uint8_t {
    ENCODING_AUTO = 0,
    ENCODING_UTF8 = 1,
    ENCODING_CP1251 = 2,
    ENCODING_CP1252 = 3,
};
constexpr HubEncoding ENCODING_AUTO_LEGACY = ENCODING_CP1251;

struct SessionSettings {
    char nick[NICK_BYTES];              // 1251; "[i]mpx200" after start-up
    char share_size[SHARE_TEXT_BYTES];  // decimal bytes, as sent in $MyINFO
    char hub_host[HUB_HOST_BYTES];      // name or dotted IPv4
    char hub_port[HUB_PORT_BYTES];      // decimal text, 1-65535 (host_port_valid)
    char local_ip[LOCAL_IP_BYTES];      // dotted IPv4, display only
    // The chosen favourite's password, in the hub's encoding; empty: asked
    // for when the hub wants one. Never shown, never logged.
    char password[PASSWORD_BYTES];
    uint8_t encoding;                   // a HubEncoding, Auto included (hub_encoding_choose)
    // TLS is on by default: $MyINFO says so and a $ConnectToMe port marked S
    // is answered over TLS. Nonzero when the chosen favourite switched it off
    // for transfers (the hub connection follows its address either way).
    uint8_t tls_transfers_off;
    // The hub's address was nmdcs://: its connection is TLS from the first
    // byte. hub_keyprint: the keyprint its certificate must have
    // ("SHA256/<base32>"), empty when the address named none.
    uint8_t hub_tls;
    char hub_keyprint[TLS_KEYPRINT_BYTES];
    // Where downloads go (UTF-16, as file names are): the folder, with or
    // without its trailing separator; empty for the current directory.
    // Start-up fills the person's download folder.
    char16_t download_folder[DOWNLOAD_FOLDER_UNITS];
    // Nonzero (the default): each chat line is shown after its time,
    // "[HH:MM] "; read at each paint.
    uint8_t chat_timestamps;
    // How many downloads run at once: 1 to DOWNLOAD_JOBS.
    uint8_t download_slots;
    // Active mode: a ConnectMode; the port of the TCP listener and of the UDP
    // socket, and of the TLS listener (0: any free one, chosen at each
    // start); the address peers are told to connect to, dotted IPv4 (empty:
    // found from the hub connection and $UserIP).
    uint8_t connect_mode;
    uint16_t listen_port;
    uint16_t tls_port;
    char external_address[EXTERNAL_ADDRESS_BYTES];
};

// --- TrafficCounters -------------------------------------------------------
// Unsigned 32-bit totals that only grow, wrapping modulo 2^32; never reset.
// Added to from the UI thread and the download worker: use traffic_add_*.
struct TrafficCounters {
    uint32_t received;
    uint32_t sent;
};

// --- ChatLog ---------------------------------------------------------------
// The chat and the client's notes as lines: a ring of line records and a
// ring text store, both fixed. Lines are numbered from 0 at process start and
// never renumbered; the log keeps lines first to end - 1, the newest last.
// A line's text lies in one piece in the store (no line break, no carriage
// return): text_start is a position that only grows, wrapping modulo 2^32,
// and unit p of it is text[p % CHATLOG_TEXT_UNITS]; a line that would run
// past the store's end starts again at its beginning. Invariants: end - first
// <= CHATLOG_LINES, and text_end - (the oldest line's text_start) <=
// CHATLOG_TEXT_UNITS, so no kept line's text is overwritten: a new line, or
// more text for the newest, takes the place of the oldest lines first.
//
// The bound: 8,192 lines and 1 MiB of text (524,288 UTF-16 units), 1.06 MiB
// in all. 5,000 lines stay while they average up to 104 characters; longer
// lines leave fewer (a flood of 3,549-character lines keeps the last 147).
// Pages of the store are touched only where text has been written: emptying
// resets counters alone.
constexpr int CHATLOG_LINES = 8192;          // a power of two
constexpr int CHATLOG_TEXT_UNITS = 1 << 19;  // a power of two, so positions may wrap at 2^32
constexpr int CHATLOG_LINE_UNITS = 4096;     // one line's text at most: the rest of a longer one is dropped
constexpr int LINE_BREAK_UNITS = 4;
static_assert((CHATLOG_LINES & (CHATLOG_LINES - 1)) == 0, "ring index by mask");
static_assert((CHATLOG_TEXT_UNITS & (CHATLOG_TEXT_UNITS - 1)) == 0, "positions wrap at 2^32");
static_assert(CHATLOG_LINE_UNITS <= 0xFFFF && CHATLOG_LINE_UNITS < CHATLOG_TEXT_UNITS, "a line fits its record");

struct ChatLine {
    uint32_t text_start;  // position of its first unit (see above)
    uint16_t units;       // UTF-16 units of text
    uint16_t minute;      // local time when the line began: minutes since midnight
};

struct ChatLog {
    ChatLine lines[CHATLOG_LINES];     // line n in lines[n % CHATLOG_LINES]
    char16_t text[CHATLOG_TEXT_UNITS];
    uint64_t first;     // number of the oldest line kept
    uint64_t end;       // one past the newest line's number; first == end: empty
    uint32_t text_end;  // position just after the newest line's text
    uint8_t open;       // the newest line has had no line break: more text continues it
};

// Where the chat view stands, written by the main screen on the UI thread:
// following the newest line, or (reading_back) with its top row at row
// top_row of the wrapped line top_line, whatever comes in later.
struct ChatViewPosition {
    uint8_t reading_back;
    uint64_t top_line;
    int32_t top_row;
};

// --- UserTable -------------------------------------------------------------
constexpr int USER_SLOTS = 3000;
constexpr int USER_NAME_BYTES = 50;   // a longer nick: the user is not added
constexpr int USER_SHARE_BYTES = 30;  // a longer share text: the user is not added
// What the last $MyINFO said besides nick and share, for the Users screen's
// INFO: "<connection>$<e-mail>$<tag>$<description>" (1251, as sent; the
// connection without its flag byte, the description without its tag).
// Longer text is cut, so the description's end goes first. 128 bytes a
// slot: the table's pages are touched only for slots ever used (a hub of 50
// users pages in about 10 KB of it), and 3000 slots add 384 KB of address
// space, never of resident memory unless the hub has that many users.
constexpr int USER_INFO_BYTES = 128;

// User modes from the tag's "M:" (active, passive, through a SOCKS5 proxy).
enum UserMode : uint8_t {
    USER_MODE_UNKNOWN = 0,
    USER_MODE_ACTIVE = 'A',
    USER_MODE_PASSIVE = 'P',
    USER_MODE_SOCKS5 = '5',
};
// Bit of the flag byte by which a client says it can do TLS transfers.
constexpr uint8_t USER_FLAG_TLS = 0x10;

struct UserEntry {
    char name[USER_NAME_BYTES];
    char share[USER_SHARE_BYTES];  // decimal bytes as the hub sent it
    uint8_t present;               // 1 while the user is on the hub
    uint8_t flag;                  // the flag byte after the connection; 0 when the field was empty
    uint8_t mode;                  // a UserMode
    // Nonzero once the user refused a plain connection with "$Error Secure
    // connection required!": asked over TLS from then on. Kept while present.
    uint8_t needs_tls;
    char info[USER_INFO_BYTES];
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
// beside the 648 KB table: a lookup reads the index and the slots it names,
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
// The last search's words, which its $SR datagrams must name (the search
// field's 199 units, each at most three bytes, and a NUL).
constexpr int SEARCH_KEPT_WORDS_BYTES = 598;
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
    // The sharer's upload slots as the result said them ("<free>/<total>"),
    // each at most RESULT_SLOTS_MAX; slots_known 0 when the field was not two
    // decimals around a '/' (both counts are then 0).
    uint8_t slots_known;
    uint16_t free_slots;
    uint16_t total_slots;
};
constexpr int RESULT_SLOTS_MAX = 999;  // larger counts are taken as this

// Orders of the results list. Ties go by arrival, so every order is total.
enum ResultSort : uint8_t {
    RESULT_SORT_ARRIVAL = 0,  // as the results came
    RESULT_SORT_NAME,         // short name, letters A-Z in either case alike
    RESULT_SORT_SIZE,         // largest first
    RESULT_SORT_SOURCES,      // most users first
};

// What the results list shows: one entry per file, results with the same
// TTH taken together (their sources), each result without a TTH (folders,
// clients that do not hash) an entry of its own. leader[p] is the first
// result row of the entry at list position p, sources[p] how many rows it
// has; positions 0 .. count-1 are in the order `sort` says. Kept in step
// with the SearchResultTable by hub/search.
struct ResultView {
    int32_t count;
    int16_t leader[RESULT_ROWS];
    int16_t sources[RESULT_ROWS];
    uint8_t sort;  // a ResultSort; kept across searches
};

// Where the last search stands, for the results screen's status line.
enum SearchPhase : uint8_t {
    SEARCH_NOT_SENT = 0,  // no search since start
    SEARCH_WAITING,       // sent; results may still come
    SEARCH_WAIT_OVER,     // the results screen waited long enough: none now means "no results"
};

// --- DownloadJob and ConnectRequest ------------------------------------------
constexpr int CONNECT_REQUEST_BYTES = 1000;
// A queued file's path at its source (a file list's paths run longer than a
// search result's) and its local name: the file's name, or for a file of a
// folder taken whole the folders below the one chosen and its name,
// '/'-separated. One name within it is at most QUEUE_NAME_PART_BYTES - 1.
constexpr int QUEUE_PATH_BYTES = 512;
constexpr int QUEUE_NAME_BYTES = 256;
constexpr int QUEUE_NAME_PART_BYTES = 256;
// A queued file's user: room for a nick of the results in UTF-8 (the texts
// of a file list's entries are kept as the list has them).
constexpr int QUEUE_NICK_BYTES = 3 * RESULT_NICK_BYTES;
// Transfers that may run at once: the setting (SessionSettings::download_slots)
// chooses 1 to this many, 3 by default.
constexpr int DOWNLOAD_JOBS = 10;
constexpr int DOWNLOAD_SLOTS_DEFAULT = 3;
// A peer's words quoted in a note or kept as an entry's last error.
constexpr int DOWNLOAD_DETAIL_BYTES = 61;

// One transfer's life. Only the moves below exist, each made by the one
// thread named; the phase is read and written atomically, the moves between
// requested and connecting (and the spare request) under the jobs' lock.
//   idle -> requested        UI: the queue gives the job an entry and asks its user
//   requested -> idle        UI: the request is withdrawn (paused, removed, unanswered)
//   requested -> connecting  UI: a $ConnectToMe starts the worker
//   connecting -> requested  worker: the peer greeted with a nick no job asked for
//   connecting -> receiving  worker: the peer's reply accepted, data follows
//   receiving -> verifying   worker: every byte in, the Tiger tree being finished
//   connecting, receiving, verifying -> ending -> idle   worker: its last steps
// While the phase is connecting or later, the UI writes nothing of the job but
// the stop flag and the spare request; the worker writes the counts. While
// two jobs are requested and connecting, a worker whose peer names the
// other job's user swaps the two jobs' entries under the lock (the
// requested job has no thread that reads them).
enum DownloadPhase : uint8_t {
    DOWNLOAD_IDLE = 0,
    DOWNLOAD_REQUESTED,
    DOWNLOAD_CONNECTING,
    DOWNLOAD_RECEIVING,
    DOWNLOAD_VERIFYING,
    DOWNLOAD_ENDING,
};

// How the job's last transfer ended, for the queue: written (atomic) by the
// worker just before the phase goes back to idle, or by the UI when a
// request is withdrawn; cleared by the next request.
enum DownloadOutcome : uint8_t {
    DOWNLOAD_NO_OUTCOME = 0,
    DOWNLOAD_DONE,
    DOWNLOAD_FAILED,
    DOWNLOAD_STOPPED,
};

// Why a transfer ended; each has its closing chat note (transfer/worker.cpp)
// and the queue decides by it whether and when the entry is tried again.
enum DownloadEnd : uint8_t {
    END_DONE = 0,
    END_REQUEST,
    END_NAME,
    END_CONNECT,
    END_TLS,
    END_SEND,
    END_SILENT,
    END_CLOSED,
    END_GREETING,
    END_NICK,
    END_LENGTH,
    END_LENGTH_DIFFERS,
    END_REFUSED,
    END_FILE,
    END_FOLDER,
    END_PART_NAME,
    END_WRITE,
    END_SHORT,
    END_STOPPED,
    END_HASH,
    END_MISMATCH,
    END_RENAME,
    END_WORKER,      // the thread could not be started
    END_UNANSWERED,  // no $ConnectToMe came for the request in time
    END_PASSIVE,     // the user is passive, as the client is: never asked
    END_VANISHED,    // the part file was removed while it was written
    END_KINDS,       // the count of the above: a saved end is below it
};

struct DownloadJob {
    uint32_t entry_id;   // the queue entry the job fetches (QueueEntry::id), 0: none
    char nick[RESULT_NICK_BYTES];
    char path[QUEUE_PATH_BYTES];
    char short_name[QUEUE_NAME_BYTES];  // the local name, folders below the download folder included
    char tth[TTH_TEXT_BYTES];  // empty: the result had no TTH, nothing is verified
    uint64_t size;       // the size the search result gave
    uint64_t received;   // bytes of the file held: the resumed part, then each chunk
    uint64_t total;      // the file's whole length, once the peer's reply is in
    uint64_t requested_ms;  // monotonic time of the request (UI)
    uint8_t kind;        // a QueueKind: the entry's
    uint8_t phase;       // a DownloadPhase
    uint8_t stop;        // set by Pause or Remove; the worker ends at its next check
    uint8_t outcome;        // a DownloadOutcome: how the last transfer ended
    uint8_t link;           // a DownloadLink: how the worker reaches the peer (atomic)
    // How the request went out: 0 a $RevConnectToMe (the peer's
    // $ConnectToMe comes through the hub and the worker connects), 1 a
    // $ConnectToMe of Kivo's own (the peer connects to the listener, which
    // starts the worker), 2 the same to the TLS listener.
    uint8_t asked_active;
    // Set by the worker as its last touch, with end and detail written
    // before it: the queue takes the outcome and clears it (UI).
    uint8_t ended;
    uint8_t end;        // a DownloadEnd
    char detail[DOWNLOAD_DETAIL_BYTES];  // the refusal, the quoted reply, the TLS reason
    // The local name the finished file took (hub encoding).
    char final_name[QUEUE_NAME_PART_BYTES + 8];
    char connect_request[CONNECT_REQUEST_BYTES];
};

// --- The download queue --------------------------------------------------------
// What the person asked to download, in the order shown; each entry runs on
// a job when its turn comes (hub/queue.h). Texts are in the encoding named
// by the entry (the hub's when it was queued). UI thread only.
constexpr int QUEUE_ENTRIES = 1000;

enum QueueState : uint8_t {
    QUEUE_WAITING = 0,  // its turn has not come, or it waits to be tried again
    QUEUE_RUNNING,      // a job has it
    QUEUE_DONE,
    QUEUE_FAILED,       // tried and given up until the person says Retry
    QUEUE_PAUSED,
};

// An entry's texts, each NUL-terminated, one after another in the queue's
// text store (ClientState::queue_text) in this order; the capacities count
// the NUL. Waiting entries cost what their texts hold, not what they could.
enum QueueText : uint8_t {
    QUEUE_NICK = 0,
    QUEUE_PATH,   // backslash-separated, as the source sent it
    QUEUE_NAME,   // the local file name it is saved under
    QUEUE_TTH,    // empty: none, nothing is verified
    QUEUE_ERROR,  // the reason of its last failure, as shown
    QUEUE_TEXTS,
};
constexpr int QUEUE_TEXT_CAPACITY[QUEUE_TEXTS] = {QUEUE_NICK_BYTES, QUEUE_PATH_BYTES, QUEUE_NAME_BYTES,
                                                   TTH_TEXT_BYTES, DOWNLOAD_DETAIL_BYTES};
constexpr int QUEUE_ENTRY_TEXT_MAX =
    QUEUE_NICK_BYTES + QUEUE_PATH_BYTES + QUEUE_NAME_BYTES + TTH_TEXT_BYTES + DOWNLOAD_DETAIL_BYTES;
// Room for every entry's texts at their longest, so a full queue always fits
// once the store is compacted; its pages are touched only as texts fill it.
constexpr int QUEUE_TEXT_STORE = QUEUE_ENTRIES * QUEUE_ENTRY_TEXT_MAX;

// What an entry fetches: a shared file into the download folder, or the
// user's file list into Kivo's cache (named by its QUEUE_NAME there, never
// resumed, replacing the list kept before; not kept across restarts).
enum QueueKind : uint8_t {
    QUEUE_FILE = 0,
    QUEUE_LIST,
};

struct QueueEntry {
    uint32_t id;               // unique within the process, never 0
    uint32_t text;             // where its texts begin in the store
    uint16_t text_room;        // bytes the store keeps for them there
    uint16_t tries;            // transfers started or requested and unanswered
    uint8_t state;             // a QueueState
    uint8_t encoding;          // a HubEncoding, never Auto: how its texts are written
    uint8_t last_end;          // a DownloadEnd: how its last try ended (END_DONE: none yet)
    uint8_t tls;               // its last transfer ran over TLS
    uint8_t kind;              // a QueueKind
    uint64_t size;
    uint64_t held;             // bytes of it held in its part, as last known
    uint64_t retry_ms;         // monotonic time before which it is not tried again
};

// An entry's texts as separate fields, to fill a new entry or change one.
struct QueueTexts {
    char nick[QUEUE_NICK_BYTES];
    char path[QUEUE_PATH_BYTES];
    char name[QUEUE_NAME_BYTES];
    char tth[TTH_TEXT_BYTES];
    char error[DOWNLOAD_DETAIL_BYTES];
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
    uint8_t encoding;  // a HubEncoding: the favourite's Encoding attribute, Auto without one
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

// How the last login ended (hub/connection.h makes them, hub_login returns them).
enum LoginError : uint8_t {
    LOGIN_OK = 0,             // none failed yet, or the last login succeeded
    LOGIN_NO_HUB,             // the connect or a receive failed otherwise (a socket error)
    LOGIN_SEND_FAILED,        // the login block did not go out whole in time
    LOGIN_TOO_LONG,           // nick and share text overflow the block: refused
    LOGIN_CANCELLED,          // given up on request (Back, Disconnect, a new Connect)
    LOGIN_NAME_NOT_FOUND,     // the host name has no address
    LOGIN_REFUSED,            // nothing listens at the address
    LOGIN_TIMED_OUT,          // the connect or the lock or first reply took too long
    LOGIN_CLOSED,             // the hub closed before its lock or first reply
    LOGIN_NO_RUN,             // no login could be started (no thread, or both runs still ending)
    LOGIN_TLS_FAILED,         // the TLS handshake failed: LoginTls.reason says why
    LOGIN_KEYPRINT_MISMATCH,  // the hub's certificate is not the one its address names
    LOGIN_LOCK_TOO_LONG,      // no '|' ends the hub's first message within LOCK_RECEIVE_BYTES - 1
};

// "host:port" of the hub of the latest Connect (1251, as the settings hold it).
constexpr int HUB_ADDRESS_BYTES = HUB_HOST_BYTES + HUB_PORT_BYTES;
// The hub's name as its last $HubName said it, in UTF-16; longer is cut.
constexpr int HUB_NAME_UNITS = 200;

// --- Hub receive tail ----------------------------------------------------------
// The unterminated end of one hub receive, completed by the next before it is
// dispatched. A tail that would not fit is dropped whole.
constexpr int HUB_TAIL_BYTES = 2048;
// "passive: the hub sees 255.255.255.255, not this machine" and a little more.
constexpr int MODE_TEXT_BYTES = 96;

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

    ChatLog chat_log;  // under its lock: reach it through chatlog_*
    ChatViewPosition chat_view;
    char16_t line_break[LINE_BREAK_UNITS];

    ModuleInstance module_instance;
    Window main_window;
    Window search_window;
    Window progress_window;  // the open Downloads screen, 0 when none
    int32_t hub_socket;  // the open hub socket while online; 0: none
    uint8_t hub_login_error;  // a LoginError: how the last login ended
    uint8_t hub_phase;   // a HubPhase
    uint32_t hub_login_generation;  // counts Connects: a login's result is taken only by its own
    uint8_t hub_text_encoding;      // a HubEncoding, never Auto: read through hub_encoding()
    // Nonzero while the hub's encoding is Auto and it has sent nothing that
    // shows it to be UTF-8.
    uint8_t hub_encoding_watch;
    // The address ("host:port") of the hub Auto last found to send UTF-8:
    // a later Connect to it under Auto reads UTF-8 from the first byte.
    char hub_utf8_address[HUB_ADDRESS_BYTES];
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
    // settings.xml beside Favorites.xml, where OK in Option saves the
    // settings; empty when there is no such place (nothing is saved).
    char16_t settings_path[SETTINGS_PATH_UNITS];
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
    ResultView result_view;
    UserEntry users[USER_SLOTS];
    UserIndex user_index;
    DownloadJob jobs[DOWNLOAD_JOBS];
    QueueEntry queue[QUEUE_ENTRIES];  // entries 0 .. queue_count - 1, in their order
    int32_t queue_count;
    char queue_text[QUEUE_TEXT_STORE];  // the entries' texts; a removed entry's are left until compacted
    uint32_t queue_text_used;           // bytes of the store in use, from its start
    uint32_t queue_next_id;
    uint8_t queue_dirty;         // changed since queue.xml was last written
    char16_t queue_path[SETTINGS_PATH_UNITS];  // queue.xml, empty: nowhere to keep it
    // Where part files are kept: a folder of Kivo's own on the download
    // folder's file system; empty: beside the finished files.
    char16_t parts_folder[DOWNLOAD_FOLDER_UNITS];
    // Where users' file lists are kept ($XDG_CACHE_HOME/kivo/lists/); empty:
    // nowhere, so no list is fetched.
    char16_t lists_folder[DOWNLOAD_FOLDER_UNITS];
    // A $ConnectToMe that came while the worker was still finding out whether
    // its peer is the owner: tried when that peer greets with another nick.
    char spare_request[CONNECT_REQUEST_BYTES];
    uint8_t spare_waiting;  // 1 while spare_request holds a $ConnectToMe (under the jobs' lock)
    FavoriteHub favorites[FAVORITE_SLOTS];
    char file_text[FAVORITES_FILE_BYTES + 1];

    char hub_tail[HUB_TAIL_BYTES];
    int32_t hub_tail_len;

    // The limits in force: HUB_IO_TIMEOUT_MS and DOWNLOAD_SILENCE_LIMIT_MS,
    // which tests lower to stay fast. A worker reads its limit when it starts.
    int32_t hub_io_timeout_ms;
    int32_t download_silence_ms;

    // Active mode (hub/active_mode.h): the listeners (0: not open), the mode
    // in force and why, and the address peers are told to connect to.
    int32_t listen_socket;      // TCP, peers' connections
    int32_t udp_socket;         // UDP, $SR of active searches
    int32_t tls_listen_socket;  // TCP, peers' TLS connections
    uint8_t active;             // nonzero: the mode in force is active
    char mode_text[MODE_TEXT_BYTES];  // "active on 4120", "passive: ..."
    uint32_t own_address_be;    // what $ConnectToMe and $Search name, network order
    uint32_t hub_user_ip_be;    // what the hub's $UserIP said of the own nick, 0 none
    char own_keyprint[TLS_KEYPRINT_BYTES];  // the TLS listener's certificate, empty: none
    // Kivo's config folder, where its TLS certificate is kept; start-up names
    // it. Empty: no folder of its own, so nothing listens (passive).
    char16_t identity_folder[SETTINGS_PATH_UNITS];
    // Incoming connections before their $MyNick (atomic; at most
    // INCOMING_HANDSHAKES).
    uint8_t handshakes;
    // $SR datagrams: the search they may answer and how many it took.
    uint64_t search_sent_ms;   // monotonic time of the last search sent, 0 none
    uint32_t udp_results_taken;
    char search_words[SEARCH_KEPT_WORDS_BYTES];  // its words (hub encoding), cut to fit

    PrivateChat private_chats[PRIVATE_CHATS];
    uint32_t private_clock;  // counts the uses of conversations, for their last_used
    // The open Private list and conversation screens, 0 when none;
    // private_open: the conversation's slot while its screen is open.
    Window private_list_window;
    Window private_chat_window;
    uint8_t private_open;
};

// The record itself: zero-filled at process start except the short names flag,
// the chat timestamps switch and the time limits.
extern ClientState g_state;

// Puts the record back to its process-start state (tests use it).
void client_state_reset();

// Empties the UserTable and its index, writing only the slots and index
// entries that were ever used: the pages of a table never filled stay
// untouched (about 630 KB of the 3000 slots are never paged in on a small
// hub).
void user_table_empty();
// Empties the UserIndex alone, writing only its entries in use (the table's
// own code makes it anew from the slots after this).
void user_index_empty();

// The encoding of the connected hub, set at each Connect from the settings:
// how chat lines, nicks and paths from it are shown and how text goes to it.
// Never Auto (Auto reads as its legacy code page). Read by the download
// worker too (atomic).
HubEncoding hub_encoding();
void hub_encoding_set(HubEncoding encoding);
// Puts a chosen encoding (Auto included) in force for the hub of the latest
// Connect, from its next message on: Auto starts on the legacy code page and
// watches, unless this session already found that hub to send UTF-8.
void hub_encoding_choose(uint8_t choice);
// Auto's switch: UTF-8 from now on, for this hub's address too.
void hub_encoding_found_utf8();
// "Auto", "UTF-8", "CP1251", "CP1252".
const char16_t* hub_encoding_name(uint8_t encoding);
// Checks that the hub's encoding carries every character of text (what the
// person typed, to be sent as it is). When one is lacking, writes the note
// `cannot send "<c>" in <encoding>: change the <what>` into note (note_units,
// terminated) and returns false.
bool hub_text_sendable(const char16_t* text, const char16_t* what, char16_t* note, int note_units);
// Converts text of the connected hub (src_len -1: NUL-terminated, and the
// result terminated) to UTF-16, and back; the conversion rules of
// code_page_to_utf16 and utf8_to_utf16. Invalid UTF-8 becomes U+FFFD; a
// character is never cut in two.
// The same conversions for text kept in a given encoding (the settings'
// password): Auto is its legacy code page, as a hub under Auto starts.
int encoded_to_utf16(uint8_t encoding, const char* src, int src_len, char16_t* dst, int dst_units);
int utf16_to_encoded(uint8_t encoding, const char16_t* src, int src_len, char* dst, int dst_bytes);
int hub_text_to_utf16(const char* src, int src_len, char16_t* dst, int dst_units);
int utf16_to_hub_text(const char16_t* src, int src_len, char* dst, int dst_bytes);

// Atomic additions to the TrafficCounters, safe from any thread.
void traffic_add_received(uint32_t bytes);
void traffic_add_sent(uint32_t bytes);
uint32_t traffic_received();
uint32_t traffic_sent();

// ChatLog operations, safe from any thread; each change asks the main
// window (when there is one) to repaint. Text is taken as lines: "\n" (or
// "\r\n") ends the newest line, other text continues it (or begins a new
// line after a line break), carriage returns are dropped. A new line takes
// the local time. A line's text beyond CHATLOG_LINE_UNITS is dropped.
void chatlog_append(const char16_t* text);
// A note of the client's own (a session event): on a line of its own, so the
// newest line is ended first when it has no line break, and (end_line) the
// note ended too; the text cut to NOTE_UNITS - 1 units. Any thread.
constexpr int NOTE_UNITS = 1000;
void chatlog_append_note(const char16_t* text, bool end_line = true);
void chatlog_set(const char16_t* text);  // replace the whole log
// Empties the log; line numbers go on from where they were.
void chatlog_clear();
int chatlog_length();  // units of text kept, line breaks not counted
// Appends text of the connected hub (hub_encoding), converted to UTF-16 (cut
// to CHAT_LINE_UNITS - 1 units), and ends its line, in one append. Returns 1.
// Any thread.
constexpr int CHAT_LINE_UNITS = 3550;  // one chat line in UTF-16 with its terminator; longer is cut
int chatlog_append_line(const char* text);
// The numbers of the lines kept: *first to *end - 1 (first == end: none).
void chatlog_span(uint64_t* first, uint64_t* end);
// Copies line `number` (terminated, cut to out_units - 1 units) and its
// minute of the day; returns its units, or -1 when the log no longer (or not
// yet) keeps it.
int chatlog_line(uint64_t number, char16_t* out, int out_units, int* minute);
// The newest whole lines that fit in out (capacity in units, terminated),
// each ended line followed by the line break: the log as one text. Returns
// the units copied.
int chatlog_copy_text(char16_t* out, int out_units);

// Job fields shared with the workers: atomic access. job: 0 to DOWNLOAD_JOBS - 1.
uint64_t download_received(int job);
uint64_t download_total(int job);
void download_set_received(int job, uint64_t v);
void download_set_total(int job, uint64_t v);
DownloadPhase download_phase(int job);
void download_set_phase(int job, DownloadPhase phase);
DownloadOutcome download_outcome(int job);
void download_set_outcome(int job, DownloadOutcome outcome);
DownloadLink download_link(int job);
void download_set_link(int job, DownloadLink link);
uint8_t download_ended(int job);
void download_set_ended(int job, uint8_t v);
// A request waits for its $ConnectToMe.
bool download_requested(int job);
// A worker exists: connecting, receiving, verifying or ending.
bool download_running(int job);
// Any job's worker exists.
bool download_any_running();
// Jobs with a worker or a request: what the main screen's title counts.
int download_active_count();
uint8_t download_stop_requested(int job);
void download_set_stop(int job, uint8_t v);
// UI thread, while the job has no worker: the job (filled by the caller)
// becomes a waiting request. Returns false, changing nothing, while a worker
// runs.
bool download_request(int job);
// Serialises the moves between requested and connecting, the spare
// request's handover and the swap of two jobs' entries (the UI thread's
// $ConnectToMe against a worker's nick mismatch). Held briefly; nothing
// blocking happens under it.
void download_lock();
void download_unlock();

// The queue's text store (UI thread). One text of an entry: a pointer into
// the store, good until the next queue_texts_put.
const char* queue_text(const QueueEntry* entry, QueueText which);
// Copies an entry's texts into separate fields.
void queue_texts_get(const QueueEntry* entry, QueueTexts* texts);
// Gives the entry these texts (each cut to its capacity): in its place when
// they fit, else at the store's end, compacting the store first when it is
// full. Never fails while the entry is one of the queue's, or the one to
// be added next (queue[queue_count]).
void queue_texts_put(QueueEntry* entry, const QueueTexts* texts);
// Changes one text of an entry (queue_texts_put with the others kept).
void queue_text_set(QueueEntry* entry, QueueText which, const char* text);
// Empties the queue and its store.
void queue_empty();
