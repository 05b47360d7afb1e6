// The ClientState record and the few operations that the UI thread shares
// with the download worker: traffic counters (atomic), the ChatLog (one lock)
// and the DownloadJobs' phases and counts (atomic).
//
// State of this file besides the record: the two locks that guard the parts
// of it the download worker shares.
#include "state/client_state.h"

#include <atomic>
#include <cstring>
#include <mutex>

ClientState g_state;  // zero-filled: static storage

namespace {
// Guards every read and write of chat_log, from any thread.
std::mutex g_chatlog_mutex;

// The fields whose process-start value is not zero.
void set_start_values() {
    g_state.short_names = 1;
    g_state.settings.chat_timestamps = 1;
    g_state.settings.download_slots = DOWNLOAD_SLOTS_DEFAULT;
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
ChatLog& chat() { return g_state.chat_log; }

ChatLine& line_record(uint64_t number) { return chat().lines[number & (CHATLOG_LINES - 1)]; }

char16_t* text_at(uint32_t position) { return chat().text + (position & (CHATLOG_TEXT_UNITS - 1)); }

// Drops the oldest lines, never the newest, until text up to new_end leaves
// every kept line's text whole.
void make_room_locked(uint32_t new_end) {
    ChatLog& log = chat();
    while (log.end - log.first > 1 && new_end - line_record(log.first).text_start > (uint32_t)CHATLOG_TEXT_UNITS)
        log.first++;
}

void begin_line_locked() {
    ChatLog& log = chat();
    if (log.end - log.first == (uint64_t)CHATLOG_LINES) log.first++;
    line_record(log.end) = ChatLine{log.text_end, 0, (uint16_t)local_minute_of_day()};
    log.end++;
    log.open = 1;  // its text comes through extend_line_locked, which makes room
}

// Adds units (no line break among them) to the newest line, which stays
// in one piece: moved to the store's start when it would run past its end.
void extend_line_locked(const char16_t* units, int n) {
    ChatLog& log = chat();
    if (!log.open) begin_line_locked();
    ChatLine& line = line_record(log.end - 1);
    int room = CHATLOG_LINE_UNITS - line.units;
    if (n > room) {
        n = room;
        // Not half a surrogate pair at the cut.
        if (n > 0 && utf16_is_high_surrogate(units[n - 1])) n--;
    }
    if (n <= 0) return;
    uint32_t offset = line.text_start & (CHATLOG_TEXT_UNITS - 1);
    if (offset + line.units + (uint32_t)n > (uint32_t)CHATLOG_TEXT_UNITS) {
        uint32_t moved = line.text_start + ((uint32_t)CHATLOG_TEXT_UNITS - offset);  // the store's start
        make_room_locked(moved + line.units + (uint32_t)n);
        // The line lies at the store's end and a line is far shorter than
        // the store: old and new places do not overlap.
        memmove(text_at(moved), text_at(line.text_start), (size_t)line.units * sizeof(char16_t));
        line.text_start = moved;
    } else {
        make_room_locked(line.text_start + line.units + (uint32_t)n);
    }
    memcpy(text_at(line.text_start + line.units), units, (size_t)n * sizeof(char16_t));
    line.units = (uint16_t)(line.units + n);
    log.text_end = line.text_start + line.units;
}

void end_line_locked() {
    if (!chat().open) begin_line_locked();  // a line break alone: an empty line
    chat().open = 0;
}

void append_locked(const char16_t* text) {
    for (int at = 0; text[at] != 0;) {
        if (text[at] == u'\n') {
            end_line_locked();
            at++;
            continue;
        }
        if (text[at] == u'\r') {
            at++;
            continue;
        }
        int run = at;
        while (text[run] != 0 && text[run] != u'\n' && text[run] != u'\r') run++;
        extend_line_locked(text + at, run - at);
        at = run;
    }
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

void hub_encoding_choose(uint8_t choice) {
    bool known = g_state.hub_utf8_address[0] != 0 && strcmp(g_state.hub_utf8_address, g_state.hub_address) == 0;
    g_state.hub_encoding_watch = choice == ENCODING_AUTO && !known ? 1 : 0;
    if (choice == ENCODING_AUTO) choice = known ? ENCODING_UTF8 : ENCODING_AUTO_LEGACY;
    hub_encoding_set(choice == ENCODING_UTF8 || choice == ENCODING_CP1252 ? (HubEncoding)choice : ENCODING_CP1251);
}

void hub_encoding_found_utf8() {
    hub_encoding_set(ENCODING_UTF8);
    g_state.hub_encoding_watch = 0;
    text_copy(g_state.hub_utf8_address, HUB_ADDRESS_BYTES, g_state.hub_address);
}

const char16_t* hub_encoding_name(uint8_t encoding) {
    switch (encoding) {
        case ENCODING_AUTO: return u"Auto";
        case ENCODING_UTF8: return u"UTF-8";
        case ENCODING_CP1252: return u"CP1252";
        default: return u"CP1251";
    }
}

namespace {
CodePage hub_code_page() { return hub_encoding() == ENCODING_CP1252 ? CODE_PAGE_1252 : CODE_PAGE_1251; }
}  // namespace

int encoded_to_utf16(uint8_t encoding, const char* src, int src_len, char16_t* dst, int dst_units) {
    if (encoding == ENCODING_UTF8) return utf8_to_utf16(src, src_len, dst, dst_units);
    CodePage page = encoding == ENCODING_CP1252 ? CODE_PAGE_1252 : CODE_PAGE_1251;
    return code_page_to_utf16(page, src, src_len, dst, dst_units);
}

int utf16_to_encoded(uint8_t encoding, const char16_t* src, int src_len, char* dst, int dst_bytes) {
    if (encoding == ENCODING_UTF8) return utf16_to_utf8(src, src_len, dst, dst_bytes);
    CodePage page = encoding == ENCODING_CP1252 ? CODE_PAGE_1252 : CODE_PAGE_1251;
    return utf16_to_code_page(page, src, src_len, dst, dst_bytes);
}

int hub_text_to_utf16(const char* src, int src_len, char16_t* dst, int dst_units) {
    return encoded_to_utf16(hub_encoding(), src, src_len, dst, dst_units);
}

int utf16_to_hub_text(const char16_t* src, int src_len, char* dst, int dst_bytes) {
    return utf16_to_encoded(hub_encoding(), src, src_len, dst, dst_bytes);
}

bool hub_text_sendable(const char16_t* text, const char16_t* what, char16_t* note, int note_units) {
    if (hub_encoding() == ENCODING_UTF8) return true;
    int at = code_page_lacks(hub_code_page(), text);
    if (at < 0) return true;
    // The character whole: both halves of a surrogate pair.
    char16_t lacking[3] = {text[at], 0, 0};
    if (utf16_is_high_surrogate(text[at]) && utf16_is_low_surrogate(text[at + 1])) lacking[1] = text[at + 1];
    wide_format(note, note_units, u"cannot send \"%s\" in %s: change the %s", lacking,
                hub_encoding_name(hub_encoding()), what);
    return false;
}

void chatlog_append_note(const char16_t* text, bool end_line) {
    char16_t note[NOTE_UNITS];
    u16_copy(note, NOTE_UNITS, text);
    {
        // One hold: no line of the download worker lands between the line
        // ended and the note.
        std::lock_guard<std::mutex> hold(g_chatlog_mutex);
        chat().open = 0;
        append_locked(note);
        if (end_line) end_line_locked();
    }
    chatlog_changed();
}

int chatlog_append_line(const char* text) {
    char16_t line[CHAT_LINE_UNITS + LINE_BREAK_UNITS];
    hub_text_to_utf16(text, -1, line, CHAT_LINE_UNITS);
    u16_append(line, CHAT_LINE_UNITS + LINE_BREAK_UNITS, u"\n");
    chatlog_append(line);
    return 1;
}

void chatlog_set(const char16_t* text) {
    {
        std::lock_guard<std::mutex> hold(g_chatlog_mutex);
        chat().first = chat().end;
        chat().open = 0;
        append_locked(text);
    }
    chatlog_changed();
}

void chatlog_clear() {
    {
        std::lock_guard<std::mutex> hold(g_chatlog_mutex);
        chat().first = chat().end;
        chat().open = 0;
    }
    chatlog_changed();
}

int chatlog_length() {
    std::lock_guard<std::mutex> hold(g_chatlog_mutex);
    int units = 0;
    for (uint64_t n = chat().first; n < chat().end; n++) units += line_record(n).units;
    return units;
}

void chatlog_span(uint64_t* first, uint64_t* end) {
    std::lock_guard<std::mutex> hold(g_chatlog_mutex);
    *first = chat().first;
    *end = chat().end;
}

int chatlog_line(uint64_t number, char16_t* out, int out_units, int* minute) {
    std::lock_guard<std::mutex> hold(g_chatlog_mutex);
    if (number < chat().first || number >= chat().end || out_units < 1) return -1;
    const ChatLine& line = line_record(number);
    int n = line.units < out_units - 1 ? line.units : out_units - 1;
    memcpy(out, text_at(line.text_start), (size_t)n * sizeof(char16_t));
    out[n] = 0;
    if (minute) *minute = line.minute;
    return n;
}

int chatlog_copy_text(char16_t* out, int out_units) {
    if (out_units < 1) return 0;
    std::lock_guard<std::mutex> hold(g_chatlog_mutex);
    const ChatLog& log = chat();
    int brk = u16_len(g_state.line_break);
    // The newest lines that fit, counted back from the newest.
    uint64_t from = log.end;
    int total = 0;
    while (from > log.first) {
        bool ended = from < log.end || !log.open;
        int need = line_record(from - 1).units + (ended ? brk : 0);
        if (total + need > out_units - 1) break;
        total += need;
        from--;
    }
    int at = 0;
    for (uint64_t n = from; n < log.end; n++) {
        const ChatLine& line = line_record(n);
        memcpy(out + at, text_at(line.text_start), (size_t)line.units * sizeof(char16_t));
        at += line.units;
        if (n + 1 < log.end || !log.open) {
            memcpy(out + at, g_state.line_break, (size_t)brk * sizeof(char16_t));
            at += brk;
        }
    }
    out[at] = 0;
    return at;
}

namespace {
// Guards the requested <-> connecting moves, the spare request and swaps.
std::mutex g_download_mutex;

uint8_t flag_load(uint8_t& flag) {
    return std::atomic_ref<uint8_t>(flag).load(std::memory_order_acquire);
}
void flag_store(uint8_t& flag, uint8_t v) {
    std::atomic_ref<uint8_t>(flag).store(v, std::memory_order_release);
}
uint64_t count_load(uint64_t& count) {
    return std::atomic_ref<uint64_t>(count).load(std::memory_order_relaxed);
}
void count_store(uint64_t& count, uint64_t v) {
    std::atomic_ref<uint64_t>(count).store(v, std::memory_order_relaxed);
}
}  // namespace

uint64_t download_received(int job) { return count_load(g_state.jobs[job].received); }
uint64_t download_total(int job) { return count_load(g_state.jobs[job].total); }
void download_set_received(int job, uint64_t v) { count_store(g_state.jobs[job].received, v); }
void download_set_total(int job, uint64_t v) { count_store(g_state.jobs[job].total, v); }

DownloadPhase download_phase(int job) { return (DownloadPhase)flag_load(g_state.jobs[job].phase); }
void download_set_phase(int job, DownloadPhase phase) { flag_store(g_state.jobs[job].phase, (uint8_t)phase); }
DownloadOutcome download_outcome(int job) { return (DownloadOutcome)flag_load(g_state.jobs[job].outcome); }
void download_set_outcome(int job, DownloadOutcome outcome) {
    flag_store(g_state.jobs[job].outcome, (uint8_t)outcome);
}
DownloadLink download_link(int job) { return (DownloadLink)flag_load(g_state.jobs[job].link); }
void download_set_link(int job, DownloadLink link) { flag_store(g_state.jobs[job].link, (uint8_t)link); }
uint8_t download_ended(int job) { return flag_load(g_state.jobs[job].ended); }
void download_set_ended(int job, uint8_t v) { flag_store(g_state.jobs[job].ended, v); }

bool download_requested(int job) { return download_phase(job) == DOWNLOAD_REQUESTED; }
bool download_running(int job) { return download_phase(job) >= DOWNLOAD_CONNECTING; }
bool download_any_running() {
    for (int job = 0; job < DOWNLOAD_JOBS; job++) {
        if (download_running(job)) return true;
    }
    return false;
}
int download_active_count() {
    int n = 0;
    for (int job = 0; job < DOWNLOAD_JOBS; job++) {
        if (download_phase(job) != DOWNLOAD_IDLE) n++;
    }
    return n;
}
uint8_t download_stop_requested(int job) { return flag_load(g_state.jobs[job].stop); }
void download_set_stop(int job, uint8_t v) { flag_store(g_state.jobs[job].stop, v); }

bool download_request(int job) {
    std::lock_guard<std::mutex> hold(g_download_mutex);
    if (download_running(job)) return false;
    download_set_received(job, 0);
    download_set_total(job, 0);
    download_set_outcome(job, DOWNLOAD_NO_OUTCOME);
    download_set_link(job, DOWNLOAD_LINK_NONE);
    download_set_ended(job, 0);
    download_set_stop(job, 0);
    g_state.jobs[job].requested_ms = monotonic_ms();
    download_set_phase(job, DOWNLOAD_REQUESTED);
    return true;
}

void download_lock() { g_download_mutex.lock(); }
void download_unlock() { g_download_mutex.unlock(); }

namespace {

// The texts packed as the store keeps them: each cut to its capacity and
// ended by its NUL. Returns the bytes.
int pack_texts(const QueueTexts* t, char* out) {
    const char* fields[QUEUE_TEXTS] = {t->nick, t->path, t->name, t->tth, t->error};
    int at = 0;
    for (int k = 0; k < QUEUE_TEXTS; k++) at += text_copy(out + at, QUEUE_TEXT_CAPACITY[k], fields[k]) + 1;
    return at;
}

int packed_length(const QueueEntry* e) {
    const char* p = g_state.queue_text + e->text;
    int at = 0;
    for (int k = 0; k < QUEUE_TEXTS; k++) at += (int)strlen(p + at) + 1;
    return at;
}

// Moves the texts of the queue's entries (but `skip`'s, which is about to
// get new ones) to the front of the store, in the order they lie there, each
// keeping just its length: the removed entries' texts and spare room go.
void compact_texts(const QueueEntry* skip) {
    static int16_t order[QUEUE_ENTRIES];
    int n = 0;
    for (int i = 0; i < g_state.queue_count; i++) {
        const QueueEntry* e = &g_state.queue[i];
        if (e == skip || e->text_room == 0) continue;
        int k = n++;
        while (k > 0 && g_state.queue[order[k - 1]].text > e->text) {
            order[k] = order[k - 1];
            k--;
        }
        order[k] = (int16_t)i;
    }
    uint32_t at = 0;
    for (int k = 0; k < n; k++) {
        QueueEntry* e = &g_state.queue[order[k]];
        int length = packed_length(e);
        memmove(g_state.queue_text + at, g_state.queue_text + e->text, (size_t)length);
        e->text = at;
        e->text_room = (uint16_t)length;
        at += (uint32_t)length;
    }
    g_state.queue_text_used = at;
}

}  // namespace

const char* queue_text(const QueueEntry* entry, QueueText which) {
    if (entry->text_room == 0) return "";
    const char* p = g_state.queue_text + entry->text;
    for (int k = 0; k < which; k++) p += strlen(p) + 1;
    return p;
}

void queue_texts_get(const QueueEntry* entry, QueueTexts* texts) {
    char* fields[QUEUE_TEXTS] = {texts->nick, texts->path, texts->name, texts->tth, texts->error};
    for (int k = 0; k < QUEUE_TEXTS; k++) text_copy(fields[k], QUEUE_TEXT_CAPACITY[k], queue_text(entry, (QueueText)k));
}

void queue_texts_put(QueueEntry* entry, const QueueTexts* texts) {
    char packed[QUEUE_ENTRY_TEXT_MAX];
    int length = pack_texts(texts, packed);
    if (entry->text_room != 0 && length <= entry->text_room) {
        memcpy(g_state.queue_text + entry->text, packed, (size_t)length);
        return;
    }
    if (g_state.queue_text_used + (uint32_t)length > (uint32_t)QUEUE_TEXT_STORE) compact_texts(entry);
    entry->text = g_state.queue_text_used;
    entry->text_room = (uint16_t)length;
    memcpy(g_state.queue_text + entry->text, packed, (size_t)length);
    g_state.queue_text_used += (uint32_t)length;
}

void queue_text_set(QueueEntry* entry, QueueText which, const char* text) {
    QueueTexts texts;
    queue_texts_get(entry, &texts);
    char* fields[QUEUE_TEXTS] = {texts.nick, texts.path, texts.name, texts.tth, texts.error};
    text_copy(fields[which], QUEUE_TEXT_CAPACITY[which], text);
    queue_texts_put(entry, &texts);
}

void queue_empty() {
    g_state.queue_count = 0;
    g_state.queue_text_used = 0;
}
