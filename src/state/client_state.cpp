// The ClientState record and the few operations that the UI thread shares
// with the download worker: traffic counters (atomic), the ChatLog (one lock)
// and the DownloadJob's counts and row index (atomic).
//
// State of this file besides the record: the two locks that guard the parts
// of it the download worker shares.
#include "state/client_state.h"

#include <atomic>
#include <cstring>
#include <mutex>

ClientState g_state;  // zero-filled: static storage

namespace {
// Guards every read and write of chat_log, from either thread.
std::mutex g_chatlog_mutex;

// The fields whose process-start value is not zero.
void set_start_values() {
    g_state.short_names = 1;
    g_state.hub_io_timeout_ms = HUB_IO_TIMEOUT_MS;
    g_state.download_silence_ms = DOWNLOAD_SILENCE_LIMIT_MS;
}

const bool g_state_started = [] {
    set_start_values();
    return true;
}();
}  // namespace

void client_state_reset() {
    std::lock_guard<std::mutex> hold(g_chatlog_mutex);
    memset(&g_state, 0, sizeof g_state);
    set_start_values();
}

void user_table_empty() {
    // Reading a never-written slot maps the shared zero page, which costs no memory.
    for (UserEntry& u : g_state.users) {
        if (u.present == 0 && u.name[0] == '\0' && u.share[0] == '\0') continue;
        uint32_t tenancy = u.tenancy;
        u = UserEntry{};
        u.tenancy = tenancy;
    }
    user_index_empty();
    g_state.user_count = 0;
}

void user_index_empty() {
    // Only entries in use are written: an index never used stays unpaged.
    for (int16_t& entry : g_state.user_index.slot_plus_one) {
        if (entry != 0) entry = 0;
    }
    for (uint64_t& word : g_state.user_index.present) {
        if (word != 0) word = 0;
    }
}

void traffic_add_received(uint32_t bytes) {
    std::atomic_ref<uint32_t>(g_state.traffic.received).fetch_add(bytes, std::memory_order_relaxed);
}
void traffic_add_sent(uint32_t bytes) {
    std::atomic_ref<uint32_t>(g_state.traffic.sent).fetch_add(bytes, std::memory_order_relaxed);
}
uint32_t traffic_received() {
    return std::atomic_ref<uint32_t>(g_state.traffic.received).load(std::memory_order_relaxed);
}
uint32_t traffic_sent() {
    return std::atomic_ref<uint32_t>(g_state.traffic.sent).load(std::memory_order_relaxed);
}

namespace {
int log_length_locked() {
    int n = 0;
    while (n < CHATLOG_UNITS && g_state.chat_log[n] != 0) n++;
    return n;
}

// Drops the oldest whole lines until the log holds at most keep units: the
// cut goes just after a '\n'. When the newest line alone is longer than
// keep, only its last keep units stay. Returns the new length.
int log_drop_oldest_locked(int length, int keep) {
    if (length <= keep) return length;
    int cut = length - keep;  // the fewest units to drop
    int at = cut;
    while (at < length && g_state.chat_log[at - 1] != u'\n') at++;
    if (at == length) at = cut;  // no line starts in what may stay
    memmove(g_state.chat_log, g_state.chat_log + at, (size_t)(length - at) * sizeof(char16_t));
    g_state.chat_log[length - at] = 0;
    return length - at;
}

void append_locked(const char16_t* text) {
    int add = u16_len(text);
    int have = log_length_locked();
    // Too long for what is left: the oldest lines make room.
    if (have + add > CHATLOG_UNITS - 1) {
        int keep = CHATLOG_UNITS - 1 - add;
        have = keep > 0 ? log_drop_oldest_locked(have, keep) : 0;
    }
    int room = CHATLOG_UNITS - 1 - have;
    if (add > room) add = room;
    memcpy(g_state.chat_log + have, text, (size_t)add * sizeof(char16_t));
    g_state.chat_log[have + add] = 0;
}

// Every change of the log asks the main screen to show it, from whichever
// thread made it (a download worker's note too), once the lock is let go.
void chatlog_changed() {
    if (g_state.main_window != 0) repaint_request(g_state.main_window);
}
}  // namespace

void chatlog_append(const char16_t* text) {
    {
        std::lock_guard<std::mutex> hold(g_chatlog_mutex);
        append_locked(text);
    }
    chatlog_changed();
}

HubEncoding hub_encoding() {
    return (HubEncoding)std::atomic_ref<uint8_t>(g_state.hub_text_encoding).load(std::memory_order_relaxed);
}
void hub_encoding_set(HubEncoding encoding) {
    std::atomic_ref<uint8_t>(g_state.hub_text_encoding).store((uint8_t)encoding, std::memory_order_relaxed);
}

int hub_text_to_utf16(const char* src, int src_len, char16_t* dst, int dst_units) {
    if (hub_encoding() == ENCODING_UTF8) return utf8_to_utf16(src, src_len, dst, dst_units);
    return cp1251_to_utf16(src, src_len, dst, dst_units);
}

int utf16_to_hub_text(const char16_t* src, int src_len, char* dst, int dst_bytes) {
    if (hub_encoding() == ENCODING_UTF8) return utf16_to_utf8(src, src_len, dst, dst_bytes);
    return utf16_to_cp1251(src, src_len, dst, dst_bytes);
}

void chatlog_append_note(const char16_t* text, bool end_line) {
    char16_t note[NOTE_UNITS + 2 * LINE_BREAK_UNITS];
    note[0] = 0;
    {
        std::lock_guard<std::mutex> hold(g_chatlog_mutex);
        // Read and appended under one hold, so no line of the download worker
        // lands between the check and the note.
        int have = log_length_locked();
        if (have > 0 && g_state.chat_log[have - 1] != u'\n') u16_copy(note, LINE_BREAK_UNITS, g_state.line_break);
        int start = u16_len(note);
        u16_copy(note + start, NOTE_UNITS, text);
        if (end_line) u16_append(note, NOTE_UNITS + 2 * LINE_BREAK_UNITS, g_state.line_break);
        append_locked(note);
    }
    chatlog_changed();
}

int chatlog_append_line(const char* text) {
    char16_t line[CHAT_LINE_UNITS + LINE_BREAK_UNITS];
    hub_text_to_utf16(text, -1, line, CHAT_LINE_UNITS);
    u16_append(line, CHAT_LINE_UNITS + LINE_BREAK_UNITS, g_state.line_break);
    chatlog_append(line);
    return 1;
}

void chatlog_set(const char16_t* text) {
    {
        std::lock_guard<std::mutex> hold(g_chatlog_mutex);
        u16_copy(g_state.chat_log, CHATLOG_UNITS, text);
    }
    chatlog_changed();
}

void chatlog_clear() {
    {
        std::lock_guard<std::mutex> hold(g_chatlog_mutex);
        g_state.chat_log[0] = 0;
    }
    chatlog_changed();
}

int chatlog_length() {
    std::lock_guard<std::mutex> hold(g_chatlog_mutex);
    return log_length_locked();
}

int chatlog_take_for_display(char16_t* out, int out_units, int limit, int* dropped) {
    std::lock_guard<std::mutex> hold(g_chatlog_mutex);
    int length = log_length_locked();
    int kept = log_drop_oldest_locked(length, limit);
    if (dropped) *dropped = length - kept;
    return u16_copy(out, out_units, g_state.chat_log);
}

uint64_t download_received() {
    return std::atomic_ref<uint64_t>(g_state.download.received).load(std::memory_order_relaxed);
}
uint64_t download_total() {
    return std::atomic_ref<uint64_t>(g_state.download.total).load(std::memory_order_relaxed);
}
void download_set_received(uint64_t v) {
    std::atomic_ref<uint64_t>(g_state.download.received).store(v, std::memory_order_relaxed);
}
void download_set_total(uint64_t v) {
    std::atomic_ref<uint64_t>(g_state.download.total).store(v, std::memory_order_relaxed);
}

namespace {
// Guards the requested <-> connecting moves and the spare request.
std::mutex g_download_mutex;

uint8_t flag_load(uint8_t& flag) {
    return std::atomic_ref<uint8_t>(flag).load(std::memory_order_acquire);
}
void flag_store(uint8_t& flag, uint8_t v) {
    std::atomic_ref<uint8_t>(flag).store(v, std::memory_order_release);
}
}  // namespace

DownloadPhase download_phase() { return (DownloadPhase)flag_load(g_state.download.phase); }
void download_set_phase(DownloadPhase phase) { flag_store(g_state.download.phase, (uint8_t)phase); }
DownloadOutcome download_outcome() { return (DownloadOutcome)flag_load(g_state.download.outcome); }
void download_set_outcome(DownloadOutcome outcome) { flag_store(g_state.download.outcome, (uint8_t)outcome); }
DownloadLink download_link() { return (DownloadLink)flag_load(g_state.download.link); }
void download_set_link(DownloadLink link) { flag_store(g_state.download.link, (uint8_t)link); }

int16_t download_row() {
    // The row is written only while the phase is idle or requested, before
    // the release store of the phase that publishes it.
    if (download_phase() == DOWNLOAD_IDLE) return -1;
    return g_state.download.row_index;
}

bool download_requested() { return download_phase() == DOWNLOAD_REQUESTED; }
bool download_running() { return download_phase() >= DOWNLOAD_CONNECTING; }
uint8_t download_stop_requested() { return flag_load(g_state.download.stop); }
void download_set_stop(uint8_t v) { flag_store(g_state.download.stop, v); }

bool download_request(int16_t row) {
    std::lock_guard<std::mutex> hold(g_download_mutex);
    if (download_running()) return false;
    g_state.download.row_index = row;
    download_set_received(0);
    download_set_total(0);
    download_set_outcome(DOWNLOAD_NO_OUTCOME);
    download_set_link(DOWNLOAD_LINK_NONE);
    download_set_phase(DOWNLOAD_REQUESTED);
    return true;
}

void download_lock() { g_download_mutex.lock(); }
void download_unlock() { g_download_mutex.unlock(); }
