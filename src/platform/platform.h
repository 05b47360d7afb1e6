// What the phone platform offered the client, standing in on Linux.
//
// The layers above (state, hub, transfer, config, shell) reach the platform
// only through this header. The values here bind the stand-in: message
// numbers, control message codes, the socket event message 1025 with its event
// codes, code page 1251, the limits of each conversion.
//
// Windows are small integer handles into the platform's own table (0 = none).
// Every screen is a modal dialog run from a template; its procedure receives
// (window, message, wparam, lparam) and returns TRUE when it handled the
// message, FALSE to leave it to the platform's default handling.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t Window;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t (*ScreenProc)(Window window, uint32_t message, WPARAM wparam, LPARAM lparam);

// The program's instance handle: where its resources are found.
typedef int32_t ModuleInstance;
constexpr ModuleInstance KIVO_INSTANCE = 1;

#ifndef TRUE
constexpr intptr_t TRUE = 1;
constexpr intptr_t FALSE = 0;
#endif

constexpr uint16_t low_word(uintptr_t v) { return (uint16_t)(v & 0xFFFF); }
constexpr uint16_t high_word(uintptr_t v) { return (uint16_t)((v >> 16) & 0xFFFF); }
constexpr uintptr_t make_long(uint16_t lo, uint16_t hi) { return (uintptr_t)lo | ((uintptr_t)hi << 16); }

// --- Messages ----------------------------------------------------------------
constexpr uint32_t WM_PAINT = 0x000F;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_INITDIALOG = 0x0110;
constexpr uint32_t WM_COMMAND = 0x0111;  // low word of wparam: command or control id,
                                         // high word: notification code
constexpr uint32_t WM_HOTKEY = 0x0312;   // high word of lparam: virtual-key code
constexpr uint32_t WM_TIMER = 0x0113;    // wparam: the timer's id
constexpr uint32_t WM_SOCKET_EVENT = 1025;  // wparam: socket; low word of lparam: event
// Sent to a screen when the person pages its multi-line view (PageUp,
// PageDown, Home, End), as a scroll bar tells its parent: the low word of
// wparam is the request (SB_*), lparam the view's window. A screen that
// fills the view itself from a longer text moves its own position and
// returns TRUE; otherwise the view scrolls by its height less one line, or
// to its first or last line.
constexpr uint32_t WM_VSCROLL = 0x0115;
constexpr uint16_t SB_PAGEUP = 2;
constexpr uint16_t SB_PAGEDOWN = 3;
constexpr uint16_t SB_TOP = 6;
constexpr uint16_t SB_BOTTOM = 7;

// Socket events (low word of the socket event message's lparam) and the mask
// the hub connection registers for.
constexpr int32_t FD_READ = 1;
constexpr int32_t FD_WRITE = 2;
constexpr int32_t FD_OOB = 4;
constexpr int32_t FD_ACCEPT = 8;  // a listening socket has a connection to accept
constexpr int32_t FD_CLOSE = 32;
constexpr int32_t HUB_EVENT_MASK = FD_READ | FD_WRITE | FD_OOB | FD_CLOSE;  // 39

// Commands every dialog knows.
constexpr int IDOK = 1;      // the Action key / the dialog's default action
constexpr int IDCANCEL = 2;  // the dialog's cancel command

// The Back key and its override on a soft-key bar.
constexpr uint32_t VK_BACK_KEY = 0x1B;
constexpr uint32_t SHCMBM_OVERRIDEKEY = 0x593;
constexpr LPARAM SHMBOF_OVERRIDE_BACK = 0x30003;

// List box, combo box, edit and progress bar messages.
constexpr uint32_t LB_ADDSTRING = 0x180;
constexpr uint32_t LB_RESETCONTENT = 0x184;
constexpr uint32_t LB_SETCURSEL = 0x186;
constexpr uint32_t LB_GETCURSEL = 0x188;
constexpr uint32_t LB_GETCOUNT = 0x18B;
constexpr uint32_t CB_ADDSTRING = 0x143;
constexpr uint32_t CB_GETCURSEL = 0x147;
constexpr uint32_t CB_RESETCONTENT = 0x14B;
constexpr uint32_t CB_SETCURSEL = 0x14E;
constexpr uint32_t EM_GETSEL = 0xB0;  // the caret: in both words of the result
constexpr uint32_t EM_SETSEL = 0xB1;
constexpr uint32_t EM_LINESCROLL = 0xB6;
constexpr uint32_t EM_LINEFROMCHAR = 0xC9;  // multi-line view: the line holding unit wparam
constexpr uint32_t PBM_SETPOS = 0x402;
constexpr uint32_t PBM_SETRANGE32 = 0x406;
constexpr intptr_t LB_ERR = -1;

// Notification codes that lists, combos and edits send in WM_COMMAND.
constexpr uint16_t LBN_SELCHANGE = 1;
constexpr uint16_t CBN_SELCHANGE = 1;
constexpr uint16_t CBN_SETFOCUS = 3;
constexpr uint16_t EN_SETFOCUS = 0x100;
constexpr uint16_t EN_CHANGE = 0x300;

// Full-screen set-up flags (size to the full display).
constexpr uint32_t SHIDIM_FLAGS = 1;
constexpr uint32_t SHIDIF_FULLSCREEN = 4;

// Generic failure status and "object already exists".
constexpr uint32_t E_FAIL_STATUS = 0x80004005u;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;

// --- Windows and screens (platform/window.cpp, platform/screen.cpp) ------------
// Runs a modal screen from a dialog template of the program; returns the
// result given to dialog_end, on the same thread, once the screen has ended.
// The screen's procedure gets WM_INITDIALOG with `init` as lparam first.
intptr_t dialog_run(ModuleInstance instance, int template_id, Window owner, ScreenProc proc, LPARAM init);
void dialog_end(Window screen, intptr_t result);
// Replaces the title the screen shows (at most WINDOW_TITLE_UNITS - 1 units:
// a longer one is cut); the template's title stays what the running copy is
// found by.
constexpr int WINDOW_TITLE_UNITS = 64;
void window_set_title(Window screen, const char16_t* title);
// Sizes the screen to the full display; nonzero on success.
int fullscreen_init(Window screen, uint32_t flags_mask, uint32_t flags);
// Creates the soft-key bar from a menubar resource; nonzero on success, with
// the bar's window in *bar (to which SHCMBM_OVERRIDEKEY is sent).
int softkey_bar_create(Window parent, int menubar_id, ModuleInstance instance, Window* bar);

// What every full screen does when it opens: the full-screen set-up, the
// soft-key bar from menubar_id, and the Back key handed to the screen as a
// hot-key message. Nonzero on success; 0 at the first step that failed, the
// later ones skipped.
int screen_open_full(Window screen, int menubar_id, ModuleInstance instance);

// Timers (platform/timers.cpp), user-interface thread only: WM_TIMER with the
// id in wparam every interval_ms to the window, from interval_ms after the
// call on, until killed or the window is gone. Setting a timer that exists
// starts its interval again. At most TIMER_SLOTS timers; 0 when none is free.
constexpr int TIMER_SLOTS = 8;
int timer_set(Window window, uint32_t id, int interval_ms);
void timer_kill(Window window, uint32_t id);

// Delivers a message to a window's procedure now, on the calling thread.
intptr_t send_message(Window window, uint32_t message, WPARAM wparam, LPARAM lparam);
// Queues a message for the window; safe from any thread. Nonzero on success.
int post_message(Window window, uint32_t message, WPARAM wparam, LPARAM lparam);
// Asks for a paint message of the whole window with its background erased.
// Requests are coalesced and throttled; the paint arrives when the queue is
// empty. Safe from any thread: from one that does not run the loop the
// request wakes the loop, which delivers the paint on its own thread.
void repaint_request(Window window);

Window control_by_id(Window screen, int control_id);
int control_set_text(Window screen, int control_id, const char16_t* text);
// Copies at most units - 1 units and a terminator; returns the units copied.
int control_get_text(Window screen, int control_id, char16_t* buffer, int units);
intptr_t control_send(Window screen, int control_id, uint32_t message, WPARAM wparam, LPARAM lparam);
void control_set_focus(Window screen, int control_id);
int control_focused_id(Window screen);
// The cells a list's entry text has in its box at the display's current
// size (the box less the selection mark before each entry); 0 when the
// control is no list shown on the display. A screen that lays entries out
// in columns formats them for this width, and again when it changes.
int list_text_cells(Window screen, int control_id);
// A multi-line view's vertical scrolling, as the phone's scroll bar knew it:
// the first line shown, the lines its box shows and its lines in all, at the
// display's current size, and the width it wraps at. Returns 0 when the control is no multi-line view
// on the display.
struct ViewScroll {
    int first, shown, lines;
    int width;  // cells of a row: where the view wraps its text
};
// An edit's text at most, in UTF-16 units with the terminator (the phone's
// edit control held 32,767 characters); a longer text is cut.
constexpr int CONTROL_TEXT_UNITS = 32768;
// How a multi-line view wraps: the row of text that starts at unit `from`
// fits `width` cells (a width below 1 counts as 1), broken at its last blank
// that fits (hard at the width when none does) or at a CR LF or LF; returns
// the unit where the row ends, and *next gets where the following row starts.
int wrap_line(const char16_t* text, int length, int from, int width, int* next);
int control_view_scroll(Window screen, int control_id, ViewScroll* out);

// A message box with an "OK" soft key; returns when closed. With
// MB_OKCANCEL it is a question whose right soft key reads "CANCEL": it
// returns IDOK for the OK soft key only and IDCANCEL for CANCEL, the Action
// key, Back or Ctrl-C. A box asked to close by the system (WM_CLOSE, as when
// the terminal has gone) returns IDOK.
constexpr uint32_t MB_OKCANCEL = 1;
int message_box(Window owner, const char16_t* text, const char16_t* title, uint32_t type);

// A plain window with a procedure and no screen, for receiving posted and
// socket messages (tests use it in place of the main screen).
Window window_create(ScreenProc proc);
void window_destroy(Window window);

// Runs the message loop outside any screen until done(context) is nonzero or
// timeout_ms has passed; returns done's last value. Tests drive sockets with it.
int message_pump(int (*done)(void* context), void* context, int timeout_ms);

// --- Socket events (WSAAsyncSelect) --------------------------------------------
// Makes the socket non-blocking and has the message loop post `message` to the
// window for the events in the mask: read while data waits (one outstanding
// read message, re-armed by each receive), write once after registration,
// out-of-band, close once when the peer has closed; on a listener, accept
// while a connection waits (one outstanding, re-armed by socket_accept); on
// a datagram socket, read while a datagram waits (an empty one included;
// re-armed by udp_receive) and never a close. A mask of 0 unregisters.
// Returns 0, or -1 on failure. The close's lparam carries in its high word
// the socket's error (0 for an orderly close), for socket_error_text.
int socket_async_select(int socket, Window window, uint32_t message, int32_t events);
// A short lower-case text for a socket error of a close event: "connection
// reset", "timed out", ...; "socket error" for the rarer ones.
const char* socket_error_text(int error);

// --- Window classes and the running copy ----------------------------------------
struct WindowClassInfo {
    ModuleInstance instance;
    int icon_id;
    ScreenProc proc;
    char16_t class_name[64];
};
// Reads the registration of a class ("Dialog" is always there). Nonzero on success.
int class_info_get(ModuleInstance instance, const char16_t* class_name, WindowClassInfo* out);
int class_register(const WindowClassInfo* info);

// A named mutex; *last_error is ERROR_ALREADY_EXISTS when another process holds
// it. Returns a handle (> 0) or 0 on failure.
int named_mutex_create(const char16_t* name, uint32_t* last_error);
void named_mutex_close(int handle);
// Finds the running copy's main window by class and title; 0 when none answers.
Window find_window(const char16_t* class_name, const char16_t* title);
// Brings a found window (lowest bit set: with its last pop-up) to the front.
int set_foreground(Window window);

// --- Text (platform/text.cpp) -----------------------------------------------------
// Code page 1251 to UTF-16. src_len -1: src is NUL-terminated and the result is
// terminated within dst_units. Output that does not fit is cut (never written
// past dst_units, always terminated when dst_units > 0). Returns the units
// written, counting the terminator when src_len was -1.
int cp1251_to_utf16(const char* src, int src_len, char16_t* dst, int dst_units);
// UTF-16 to code page 1251; characters 1251 lacks become '?'. Same rules.
int utf16_to_cp1251(const char16_t* src, int src_len, char* dst, int dst_bytes);
// The 8-bit code pages hubs use: 1251 (Cyrillic) and 1252 (Western European).
// The same conversions for either, by name.
enum CodePage : uint8_t { CODE_PAGE_1251, CODE_PAGE_1252 };
int code_page_to_utf16(CodePage page, const char* src, int src_len, char16_t* dst, int dst_units);
int utf16_to_code_page(CodePage page, const char16_t* src, int src_len, char* dst, int dst_bytes);
// The index of the first unit of the terminated text that the code page has
// no byte for (the first of a surrogate pair), or -1 when it has all.
int code_page_lacks(CodePage page, const char16_t* text);
// True when length bytes of text are UTF-8 (no overlong form, no surrogate,
// no sequence cut at the end) and at least one of them is not ASCII.
bool text_is_utf8_beyond_ascii(const char* text, int length);
// UTF-8 <-> UTF-16 for the terminal and file names; same rules.
int utf8_to_utf16(const char* src, int src_len, char16_t* dst, int dst_units);
int utf16_to_utf8(const char16_t* src, int src_len, char* dst, int dst_bytes);

// UTF-16 surrogate pairs, the one place that knows them. utf16_encode writes
// the code point as one unit or as a pair into units[0..1] and returns the
// count; a value past U+10FFFF becomes U+FFFD. utf16_decode returns the code
// point that starts at text[*at] (*at < length) and moves *at past it; an
// unpaired surrogate comes back as itself, one unit.
constexpr bool utf16_is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
constexpr bool utf16_is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
int utf16_encode(char32_t code_point, char16_t units[2]);
char32_t utf16_decode(const char16_t* text, int length, int* at);

// Wide-text formatting into a fixed buffer, never past dst_units, always
// terminated: %S 8-bit 1251 text, %s UTF-16 text, %u unsigned 32-bit,
// %d signed 32-bit, %llu unsigned 64-bit, %% a percent sign.
int wide_format(char16_t* dst, int dst_units, const char16_t* format, ...);

// The standard decimal conversion: leading blanks, a sign, digits up to the
// first non-digit; 0 when there is none. Saturates instead of overflowing.
int32_t decimal_to_int(const char* text);
uint64_t decimal_to_u64(const char* text);

// How much of text[0, length) fits in `cells` display cells (a wide
// character takes two): the units that fit, a character never cut in two;
// *used (when given) gets the cells they take.
int text_fit_cells(const char16_t* text, int length, int cells, int* used);

// Bounded UTF-16 helpers.
int u16_len(const char16_t* text);
int u16_copy(char16_t* dst, int dst_units, const char16_t* src);  // cut, terminated
int u16_append(char16_t* dst, int dst_units, const char16_t* src); // cut, terminated
// Bounded 8-bit copy and append: cut to fit, always terminated; return length.
int text_copy(char* dst, int dst_bytes, const char* src);
int text_copy_n(char* dst, int dst_bytes, const char* src, int n);  // at most n bytes of src
int text_append(char* dst, int dst_bytes, const char* src);

// --- Sockets (platform/net.cpp) -----------------------------------------------------
int WSAStartup(uint16_t version);
int closesocket(int socket);
// Looks up a name or dotted IPv4 text; nonzero on success with the first IPv4
// address (network byte order) in *address. Bounded by timeout_ms; with
// give_up, gives up as soon as it returns nonzero. Any thread may call it.
int host_lookup_ipv4_within(const char* host, uint32_t* address_be, int timeout_ms, int (*give_up)());
// The same, bounded by five seconds.
int host_lookup_ipv4(const char* host, uint32_t* address_be);
// tcp_connect_within results besides a socket.
constexpr int TCP_LOOKUP_FAILED = -6;
constexpr int TCP_CONNECT_FAILED = -5;    // any failure of the connect but the two below
constexpr int TCP_CONNECT_REFUSED = -7;   // nothing listens there
constexpr int TCP_CONNECT_TIMED_OUT = -8; // no answer within the bound
constexpr int SOCKET_STREAM = 1;
// Connects to host (name or dotted IPv4) at the port text (decimal, taken
// modulo 65536) within timeout_ms; with give_up, gives up as soon as it
// returns nonzero (asked several times a second while the connect waits).
// Returns a blocking socket, TCP_LOOKUP_FAILED, TCP_CONNECT_REFUSED,
// TCP_CONNECT_TIMED_OUT or TCP_CONNECT_FAILED. Uses no
// shared state: any thread may call it.
int tcp_connect_within(const char* host, const char* port_text, int type, int timeout_ms, int (*give_up)());
// Dotted text of the first IPv4 address of this machine's host name.
void local_ipv4_text(char* dst, int dst_bytes);
// Blocking receive with a time bound: bytes received, 0 on orderly close,
// -1 on error, -2 when timeout_ms passed with nothing to read.
int recv_timeout(int socket, char* buffer, int bytes, int timeout_ms);
// One send; returns what send() returned.
int send_once(int socket, const char* data, int bytes);
// One send that never waits: the bytes the socket took (0 when it takes none
// now), or -1 when it failed. When it took less than all, a socket registered
// with socket_async_select gets FD_WRITE again once it can take more.
int send_nonblocking(int socket, const char* data, int bytes);
// Asks for FD_WRITE again on a registered socket (send_nonblocking does).
void socket_write_rearm(int socket);
// Receives into the buffer; what recv() returned. Re-arms the read event of
// a socket registered with socket_async_select.
int recv_once(int socket, char* buffer, int bytes);

// --- Listening (platform/net.cpp) --------------------------------------------------
// Active mode: a TCP listener for peers' connections and a UDP socket for
// search results, both on every IPv4 address of this machine.
constexpr int SOCKET_DATAGRAM = 2;
// A socket of type (SOCKET_STREAM: listening, with a short backlog and
// SO_REUSEADDR; SOCKET_DATAGRAM: bound) at port (0: any free one),
// close-on-exec and non-blocking. The socket, or -1 with a short lower-case
// reason in error ("address in use", "permission denied", ...).
int socket_listen(int type, int port, char* error, int error_bytes);
// The port a socket is bound to (host order), 0 when it is not.
int socket_local_port(int socket);
// The IPv4 address (network order) of this end and of the other end of a
// connected socket; 0 when there is none.
uint32_t socket_local_address(int socket);
uint32_t socket_peer_address(int socket);
// One accept that never waits: a connected, blocking, close-on-exec socket
// with the peer's address in *peer_be (may be null), or -1 when none waits or
// it failed. Re-arms the listener's FD_ACCEPT (registered with
// socket_async_select) for the next connection.
int socket_accept(int listener, uint32_t* peer_be);
// One datagram that never waits, cut to bytes when longer: its length (0 for
// an empty one), or -1 when none waits or it failed; the sender's address in
// *from_be (may be null). Re-arms the socket's FD_READ.
int udp_receive(int socket, char* buffer, int bytes, uint32_t* from_be);
// Whether address (network order) is one of this machine's own IPv4
// addresses, on any interface, loopback included.
bool address_is_own(uint32_t address_be);
// Whether both addresses lie in the network of one of this machine's
// interfaces (its address and netmask hold both).
bool address_same_local_network(uint32_t a_be, uint32_t b_be);

// --- Files (platform/files.cpp) ---------------------------------------------------
constexpr int FILE_INVALID = -1;
// Opens a file the program keeps as its own for reading and writing, never
// through a symbolic link and never truncating: a new one (*created 1), or
// one that is a regular file with one link, owned by this user. A name that
// holds anything else is left untouched: FILE_NOT_OWN. FILE_INVALID when it
// cannot be created or opened.
constexpr int FILE_NOT_OWN = -2;
int file_open_own(const char16_t* path, int* created);
// Opens a regular file for reading only; FILE_INVALID when it cannot or the
// name holds anything else (a FIFO, a device, a folder).
int file_open_read(const char16_t* path);
// Creates an empty file only when none of that name exists; 1 when it did.
int file_create_new(const char16_t* path);
int file_read(int file, void* buffer, int bytes);
int file_write(int file, const void* data, int bytes);  // writes all or returns -1
// For tests, a disk that fills up: from now on file_write puts at most bytes
// more in all, then fails with ENOSPC; -1 (the start value) lifts the limit.
void file_write_room_set(int64_t bytes);
void file_close(int file);
// Length of an open file in bytes, or -1.
int64_t file_length(int file);
// 1 when the open file has no name left (removed while open).
int file_unlinked(int file);
// Moves the position to the end of the file; 1 or 0.
int file_seek_end(int file);
// Renames from to to only when no file of the name to exists, so nothing is
// ever replaced: FILE_RENAMED, FILE_NAME_TAKEN, or FILE_RENAME_FAILED.
constexpr int FILE_RENAMED = 1;
constexpr int FILE_NAME_TAKEN = 0;
constexpr int FILE_RENAME_FAILED = -1;
int file_rename_new(const char16_t* from, const char16_t* to);
// Removes a file by name; 1 or 0.
int file_remove(const char16_t* path);
// The executable's own path (UTF-16, '/' separators); returns its length in
// units, or 0 when it does not fit in dst_units or is no valid UTF-8 (dst is
// then empty: a cut path would name another file).
int module_file_name(char16_t* dst, int dst_units);
// 1 when something of that name exists.
int file_exists(const char16_t* path);
// The per-user folder of a program's settings, with its trailing separator:
// $XDG_CONFIG_HOME/<name>/ when that is set to an absolute path, otherwise
// <home>/.config/<name>/ (home: $HOME when absolute, else the user database).
// Returns its length in units, or 0 (dst empty) when there is no home or the
// path does not fit in dst_units.
int user_config_folder(const char16_t* name, char16_t* dst, int dst_units);
// Makes the folder and those above it that are missing, each private to the
// user (0700); existing folders are left as they are. 1 when it exists after.
int folder_create_all(const char16_t* folder);
// The per-user folder of a program's data, with its trailing separator:
// $XDG_DATA_HOME/<name>/ when that is an absolute path, otherwise
// <home>/.local/share/<name>/; 0 (dst empty) as user_config_folder.
int user_data_folder(const char16_t* name, char16_t* dst, int dst_units);
// The per-user cache folder of a program, with its trailing separator:
// $XDG_CACHE_HOME/<name>/ when absolute, otherwise <home>/.cache/<name>/.
int user_cache_folder(const char16_t* name, char16_t* dst, int dst_units);
// Renames from over to, replacing what to names when that is a regular file
// of the user's own (a cache file the program keeps) or nothing; 1 or 0.
int file_rename_over_own(const char16_t* from, const char16_t* to);
// The regular files directly in a folder, with their last change (seconds
// since 1970): at most `most` of them, names that fit name_units only.
constexpr int FOLDER_ENTRY_UNITS = 260;
struct FolderEntry {
    char16_t name[FOLDER_ENTRY_UNITS];
    int64_t changed;
};
int folder_files(const char16_t* folder, FolderEntry* out, int most);
// Seconds since 1970, the wall clock.
int64_t wall_seconds();
// Removes a file only when it is a regular file with one link owned by this
// user (never through a link); 1 when it did.
int file_remove_own(const char16_t* path);
// 1 when two absolute folders (or, for one still to be made, the nearest
// folder above it that exists) lie on the same file system.
int folder_same_device(const char16_t* a, const char16_t* b);
// The person's folder for downloads, with its trailing separator:
// $XDG_DOWNLOAD_DIR when it is an absolute path, else ~/Downloads. 0 (dst
// empty) when there is no home or the path does not fit whole. Nothing is made.
int user_download_folder(char16_t* dst, int dst_units);
// Writes a file the program keeps whole: the bytes go into new_path (made
// anew, mode 0600; a leftover of the program's own there is removed first,
// anything else under that name is left alone and the write fails), which
// is synced to disk and then renamed over path. 1 on success; on failure 0,
// path as it was, and no new_path of this write left behind.
int file_replace_whole(const char16_t* path, const char16_t* new_path, const void* data, int bytes);
// An environment variable's value into dst, whole: its length, or 0 (dst
// empty) when it is unset or does not fit.
int environment_value(const char* name, char* dst, int dst_bytes);

// --- Threads and time (platform/system.cpp) -----------------------------------------
// Starts a detached thread; nonzero on success.
int thread_start(void (*body)(void* argument), void* argument);
// Starts a thread that the caller must end with thread_join; nonzero on success.
using ThreadHandle = uintptr_t;
int thread_start_joinable(ThreadHandle* handle, void (*body)(void* argument), void* argument);
void thread_join(ThreadHandle handle);
void sleep_ms(int ms);
// Gives the pages of a static buffer back to the system (they read as zero
// after): for a large buffer used now and then, so that it costs resident
// memory only while in use.
void memory_release(void* start, size_t bytes);
uint64_t monotonic_ms();
// The local wall-clock time of day, as the phone's GetLocalTime gave it:
// minutes since midnight (0 to 1439).
int local_minute_of_day();
// Seconds since 1970 by the wall clock (names on disk use it).
uint64_t wall_clock_seconds();
