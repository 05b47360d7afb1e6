// The download queue (see queue.h).
//
// Entries live in g_state.queue in the order shown; a job names its entry by
// id, so moving and removing entries never confuses a running job. The
// queue is the UI thread's alone: workers write only their job, and
// queue_tick takes what they wrote once a job has ended.
//
// Reaches g_state: the queue, the jobs, the results, the users, the hub's
// nick, socket and encoding, the settings' download folder and slots, the
// parts folder, the silence limit, progress_window and the ChatLog.
#include "hub/queue.h"

#include <cstdio>
#include <cstring>

#include "config/queue_file.h"
#include "hub/active_mode.h"
#include "hub/connection.h"
#include "hub/file_lists.h"
#include "hub/users.h"
#include "protocol/hub_messages.h"
#include "protocol/message_builder.h"
#include "transfer/download.h"
#include "transfer/local_file.h"

namespace {

// "$RevConnectToMe " + own nick + " " + peer nick + "|".
constexpr int REV_CONNECT_BYTES = 16 + (HUB_NICK_BYTES - 1) + 1 + (RESULT_NICK_BYTES - 1) + 1 + 1;
// "$ConnectToMe " + the peer's nick + " " + "<ip>:<port>" + "S|" + NUL.
constexpr int CONNECT_TO_ME_BYTES = 13 + (RESULT_NICK_BYTES - 1) + 1 + ACTIVE_ADDRESS_BYTES - 1 + 2 + 1;
// queue.xml is written at most this often while the queue changes.
constexpr uint64_t SAVE_EVERY_MS = 1000;
constexpr int NOTE_BYTES = 300;
// A text of an entry converted to the hub's encoding: each character at
// most three bytes in UTF-8.
constexpr int CONVERT_UNITS = QUEUE_PATH_BYTES;

// After the user's nick, why a passive user is never asked.
const char PASSIVE_TOO[] = " is passive too: two passive clients cannot connect";

uint64_t g_saved_ms;  // when queue.xml was last written

void save_when_due(bool now);

int find_entry(uint32_t id) {
    for (int i = 0; i < g_state.queue_count; i++) {
        if (g_state.queue[i].id == id) return i;
    }
    return -1;
}

void changed() {
    g_state.queue_dirty = 1;
    if (g_state.progress_window != 0) post_message(g_state.progress_window, WM_DOWNLOAD_CHANGED, 0, 0);
}

// text (in encoding) into the hub's encoding, whole: 1, or 0 when a
// character has no byte there or the result does not fit.
int to_hub_text(uint8_t encoding, const char* text, char* out, int out_bytes) {
    if (encoding == hub_encoding()) return text_copy(out, out_bytes, text) == (int)strlen(text) ? 1 : 0;
    char16_t wide[CONVERT_UNITS];
    int units = encoded_to_utf16(encoding, text, -1, wide, CONVERT_UNITS);
    if (units >= CONVERT_UNITS - 1) return 0;
    char16_t note[8];
    if (!hub_text_sendable(wide, u"", note, 8)) return 0;
    int bytes = utf16_to_hub_text(wide, -1, out, out_bytes);
    return bytes > 0 && bytes < out_bytes - 1 ? 1 : 0;
}

// The local name a finished entry keeps, in its own encoding: the folders
// it was queued with, then the name its file took (final_name: the hub's
// encoding, a free name beside a taken one). 1, or 0 when that name does not
// come back from the entry's encoding byte for byte or does not fit: the
// name stays as queued.
int finished_name(const QueueEntry& entry, const char* final_name, char* out, int out_bytes) {
    char taken[QUEUE_NAME_BYTES];
    if (entry.encoding == hub_encoding()) {
        if (text_copy(taken, QUEUE_NAME_BYTES, final_name) != (int)strlen(final_name)) return 0;
    } else {
        char16_t wide[CONVERT_UNITS];
        int units = hub_text_to_utf16(final_name, -1, wide, CONVERT_UNITS);
        if (units >= CONVERT_UNITS - 1) return 0;
        int bytes = utf16_to_encoded(entry.encoding, wide, -1, taken, QUEUE_NAME_BYTES);
        if (bytes <= 0 || bytes >= QUEUE_NAME_BYTES - 1) return 0;
        char back[QUEUE_NAME_BYTES];
        if (!to_hub_text(entry.encoding, taken, back, QUEUE_NAME_BYTES) || strcmp(back, final_name) != 0) return 0;
    }
    const char* queued = queue_text(&entry, QUEUE_NAME);
    const char* slash = strrchr(queued, '/');
    int folders = slash != nullptr ? (int)(slash - queued) + 1 : 0;
    if (folders + (int)strlen(taken) >= out_bytes) return 0;
    memcpy(out, queued, (size_t)folders);
    text_copy(out + folders, out_bytes - folders, taken);
    return 1;
}

// The pause before the next try after `tries` failed ones.
uint64_t retry_pause(int tries) {
    uint64_t pause = QUEUE_RETRY_FIRST_MS;
    for (int k = 1; k < tries && pause < QUEUE_RETRY_LAST_MS; k++) pause *= 2;
    return pause < QUEUE_RETRY_LAST_MS ? pause : QUEUE_RETRY_LAST_MS;
}

bool no_free_slot(const char* reason) {
    // "No slots available" (DC++ and its kin), "All slots are busy".
    for (const char* p = reason; *p != 0; p++) {
        if (strncasecmp(p, "slot", 4) == 0) return true;
    }
    return false;
}

// What a try that ended makes of its entry.
void take_end(QueueEntry& entry, const DownloadJob& job, DownloadEnd end) {
    entry.last_end = (uint8_t)end;
    entry.tls = download_link((int)(&job - g_state.jobs)) == DOWNLOAD_LINK_TLS ? 1 : 0;
    uint64_t received = job.received;
    if (received > entry.held) entry.held = received;
    if (entry.state != QUEUE_RUNNING) return;  // paused meanwhile: it stays so
    if (end == END_DONE) {
        entry.state = QUEUE_DONE;
        entry.held = entry.size;
        char name[QUEUE_NAME_BYTES];
        int renamed = job.final_name[0] != 0 && finished_name(entry, job.final_name, name, QUEUE_NAME_BYTES);
        QueueTexts texts;
        queue_texts_get(&entry, &texts);
        texts.error[0] = 0;
        if (renamed) text_copy(texts.name, QUEUE_NAME_BYTES, name);
        queue_texts_put(&entry, &texts);
        return;
    }
    queue_text_set(&entry, QUEUE_ERROR, job.detail);
    if (end == END_REFUSED && strstr(job.detail, "Secure connection required") != nullptr) {
        // The user serves only over TLS: asked on the TLS listener from now
        // on, at once (a hub may hide that he does TLS).
        int user = find_user(job.nick);
        if (user >= 0 && g_state.active && g_state.users[user].needs_tls == 0) {
            g_state.users[user].needs_tls = 1;
            entry.state = QUEUE_WAITING;
            entry.retry_ms = 0;
            return;
        }
    }
    switch (end) {
    case END_STOPPED:
        entry.state = QUEUE_PAUSED;
        return;
    case END_MISMATCH:  // never from the same user again: it has one source
    case END_NAME:
    case END_FILE:
    case END_FOLDER:
    case END_PART_NAME:
    case END_WRITE:
    case END_RENAME:
    case END_HASH:
    case END_VANISHED:
        entry.state = QUEUE_FAILED;
        return;
    default:
        break;
    }
    entry.state = QUEUE_WAITING;
    uint64_t pause = end == END_REFUSED && no_free_slot(job.detail) ? QUEUE_RETRY_FIRST_MS : retry_pause(entry.tries);
    entry.retry_ms = monotonic_ms() + pause;
}

// Takes an entry out of the queue without anything more.
void drop_entry(int index) {
    memmove(&g_state.queue[index], &g_state.queue[index + 1],
            (size_t)(g_state.queue_count - index - 1) * sizeof(QueueEntry));
    g_state.queue_count--;
    changed();
}

// The outcome of every job whose worker ended.
void collect_ended() {
    for (int job = 0; job < DOWNLOAD_JOBS; job++) {
        if (!download_ended(job) || download_phase(job) != DOWNLOAD_IDLE) continue;
        DownloadJob& j = g_state.jobs[job];
        int index = find_entry(j.entry_id);
        if (index >= 0) take_end(g_state.queue[index], j, (DownloadEnd)j.end);
        download_set_ended(job, 0);
        j.entry_id = 0;
        changed();
        if (index >= 0 && g_state.queue[index].kind == QUEUE_LIST && g_state.queue[index].state != QUEUE_WAITING) {
            // A list that came (or failed for good) leaves the queue; a
            // browse that waits for it is told.
            char nick[RESULT_NICK_BYTES];
            text_copy(nick, RESULT_NICK_BYTES, queue_text(&g_state.queue[index], QUEUE_NICK));
            bool came = g_state.queue[index].state == QUEUE_DONE;
            drop_entry(index);
            file_list_arrived(nick, came);
            continue;
        }
        // A finished file is kept as done at once: a restart must not fetch it again.
        if (index >= 0 && g_state.queue[index].state == QUEUE_DONE) save_when_due(true);
    }
}

// Takes a job's request back while no $ConnectToMe has started it: 1 when
// it did (the job is idle again), 0 when its worker runs.
int withdraw(int job) {
    download_lock();
    bool waiting = download_requested(job);
    if (waiting) download_set_phase(job, DOWNLOAD_IDLE);
    download_unlock();
    return waiting ? 1 : 0;
}

// Requests that no $ConnectToMe answered within the silence limit: the user
// cannot or will not connect; tried again later.
void withdraw_unanswered() {
    uint64_t now = monotonic_ms();
    uint64_t limit = (uint64_t)(g_state.download_silence_ms > 0 ? g_state.download_silence_ms : 1);
    for (int job = 0; job < DOWNLOAD_JOBS; job++) {
        DownloadJob& j = g_state.jobs[job];
        // Under the lock: a worker may swap a waiting request's entry (and
        // its time) with its own.
        download_lock();
        bool late = download_requested(job) && now - j.requested_ms >= limit;
        if (late) download_set_phase(job, DOWNLOAD_IDLE);
        download_unlock();
        if (!late) continue;
        chatlog_append_line(" ::download failed:: no answer from the user");
        j.end = END_UNANSWERED;
        text_copy(j.detail, DOWNLOAD_DETAIL_BYTES, "no answer from the user");
        download_set_outcome(job, DOWNLOAD_FAILED);
        download_set_ended(job, 1);
    }
}

// Requests that went through a hub which is gone can no longer be
// answered: their entries wait for the next connection, no try counted.
void withdraw_offline() {
    if (g_state.hub_phase == HUB_ONLINE) return;
    for (int job = 0; job < DOWNLOAD_JOBS; job++) {
        DownloadJob& j = g_state.jobs[job];
        if (!download_requested(job) || !withdraw(job)) continue;
        int index = find_entry(j.entry_id);
        j.entry_id = 0;
        if (index < 0) continue;
        QueueEntry& entry = g_state.queue[index];
        if (entry.state == QUEUE_RUNNING) entry.state = QUEUE_WAITING;
        entry.retry_ms = 0;
        if (entry.tries > 0) entry.tries--;
        changed();
    }
}

// A job of this kind runs for the user: a list may run beside a file of
// his (peers serve lists outside their upload slots), never two of a kind.
bool job_has_user(const char* nick, uint8_t kind) {
    bool has = false;
    download_lock();  // a worker may swap two waiting requests' users
    for (int job = 0; job < DOWNLOAD_JOBS && !has; job++) {
        const DownloadJob& j = g_state.jobs[job];
        has = download_phase(job) != DOWNLOAD_IDLE && j.kind == kind && strcmp(j.nick, nick) == 0;
    }
    download_unlock();
    return has;
}

int free_job() {
    for (int job = 0; job < DOWNLOAD_JOBS; job++) {
        if (download_phase(job) == DOWNLOAD_IDLE && !download_ended(job)) return job;
    }
    return -1;
}

void fail_entry(QueueEntry& entry, const char* reason) {
    entry.state = QUEUE_FAILED;
    queue_text_set(&entry, QUEUE_ERROR, reason);
    char note[NOTE_BYTES];
    snprintf(note, NOTE_BYTES, " ::download failed:: %s", reason);
    chatlog_append_line(note);
    changed();
}

// Gives entry its turn on job when its user is on the hub: 1 when it was
// asked, 0 when it waits on (or failed at once).
int start_entry(QueueEntry& entry, int job) {
    DownloadJob& j = g_state.jobs[job];
    if (!to_hub_text(entry.encoding, queue_text(&entry, QUEUE_NICK), j.nick, RESULT_NICK_BYTES)) return 0;
    int user = find_user(j.nick);
    if (user < 0 || job_has_user(j.nick, entry.kind)) return 0;
    if (g_state.users[user].mode == USER_MODE_PASSIVE && !g_state.active) {
        char note[NOTE_BYTES];
        snprintf(note, NOTE_BYTES, " ::download failed:: %s%s", j.nick, PASSIVE_TOO);
        chatlog_append_line(note);
        entry.state = QUEUE_FAILED;
        entry.last_end = END_PASSIVE;
        queue_text_set(&entry, QUEUE_ERROR, "");  // the state text names the user
        changed();
        return 0;
    }
    if (!to_hub_text(entry.encoding, queue_text(&entry, QUEUE_PATH), j.path, QUEUE_PATH_BYTES) ||
        !to_hub_text(entry.encoding, queue_text(&entry, QUEUE_NAME), j.short_name, QUEUE_NAME_BYTES)) {
        fail_entry(entry, "the name cannot be written in this hub's encoding");
        return 0;
    }
    text_copy(j.tth, TTH_TEXT_BYTES, queue_text(&entry, QUEUE_TTH));
    j.size = entry.size;
    j.kind = entry.kind;
    j.entry_id = entry.id;
    j.detail[0] = 0;
    j.final_name[0] = 0;
    // Active: the peer connects to Kivo, to the TLS listener when it does
    // TLS or requires it; passive: the peer is asked to be connected to.
    bool active = g_state.active != 0;
    bool tls = active && download_tls_offered() && g_state.tls_listen_socket > 0 &&
               ((g_state.users[user].flag & USER_FLAG_TLS) != 0 || g_state.users[user].needs_tls != 0);
    j.asked_active = (uint8_t)(!active ? 0 : tls ? 2 : 1);
    if (!download_request(job)) return 0;
    entry.state = QUEUE_RUNNING;
    entry.tries++;
    changed();
    if (!(active ? send_connect_to_me(j.nick, tls) : send_rev_connect(j.nick))) {
        // Nobody was asked: no $ConnectToMe will come for this request.
        withdraw(job);
        j.entry_id = 0;
        entry.state = QUEUE_WAITING;
        entry.retry_ms = monotonic_ms() + retry_pause(entry.tries);
        queue_text_set(&entry, QUEUE_ERROR, "request not sent to the hub");
    }
    return 1;
}

void start_waiting() {
    if (g_state.hub_phase != HUB_ONLINE || g_state.hub_socket <= 0) return;
    int slots = g_state.settings.download_slots;
    if (slots < 1) slots = 1;
    if (slots > DOWNLOAD_JOBS) slots = DOWNLOAD_JOBS;
    uint64_t now = monotonic_ms();
    for (int i = 0; i < g_state.queue_count && download_active_count() < slots; i++) {
        QueueEntry& entry = g_state.queue[i];
        if (entry.state != QUEUE_WAITING || entry.retry_ms > now) continue;
        int job = free_job();
        if (job < 0) return;
        // The entry is in queue.xml before its part can exist, so that a
        // part on disk always has its entry, whenever the process ends.
        save_when_due(true);
        start_entry(entry, job);
    }
}

void save_when_due(bool now) {
    if (!g_state.queue_dirty || g_state.queue_path[0] == 0) return;
    uint64_t ms = monotonic_ms();
    if (!now && g_saved_ms != 0 && ms - g_saved_ms < SAVE_EVERY_MS) return;
    g_saved_ms = ms;
    if (queue_file_save(g_state.queue_path)) g_state.queue_dirty = 0;
}

// Kivo's part of the entry in the parts folder, when there is one: the
// choices of part name in their order, the first own file found.
void remove_part(const QueueEntry& entry) {
    char folders[QUEUE_NAME_BYTES];
    char name[QUEUE_NAME_PART_BYTES];
    char id[TTH_TEXT_BYTES];
    if (!split_local_name(queue_text(&entry, QUEUE_NAME), folders, QUEUE_NAME_BYTES, name, QUEUE_NAME_PART_BYTES)) return;
    download_identity(queue_text(&entry, QUEUE_TTH), queue_text(&entry, QUEUE_NICK), queue_text(&entry, QUEUE_PATH),
                      entry.size, id);
    const char16_t* folder = g_state.parts_folder[0] != 0 ? g_state.parts_folder : g_state.settings.download_folder;
    for (int n = 0; n < PART_NAME_CHOICES; n++) {
        char16_t part[LOCAL_NAME_UNITS];
        if (!part_file_name(name, id, n, part, LOCAL_NAME_UNITS, folder)) return;
        if (file_remove_own(part)) return;
    }
}

bool same_file(const QueueEntry& e, const char* nick, const char* path, const char* tth, uint64_t size) {
    const char* own = queue_text(&e, QUEUE_TTH);
    if (tth[0] != 0) return strcmp(own, tth) == 0 && e.size == size;
    return own[0] == 0 && strcmp(queue_text(&e, QUEUE_NICK), nick) == 0 &&
           strcmp(queue_text(&e, QUEUE_PATH), path) == 0 && e.size == size;
}

// An entry in state `one` or `other` waits again, to be tried at once.
void wait_now(int index, QueueState one, QueueState other) {
    if (index < 0 || index >= g_state.queue_count) return;
    QueueEntry& entry = g_state.queue[index];
    if (entry.state != one && entry.state != other) return;
    entry.state = QUEUE_WAITING;
    entry.retry_ms = 0;
    changed();
    queue_tick();
}

}  // namespace

int send_rev_connect(const char* peer_nick) {
    char message[REV_CONNECT_BYTES];
    MessageBuilder m = message_begin(message, REV_CONNECT_BYTES);
    message_add(&m, "$RevConnectToMe ");
    message_add(&m, g_state.hub_nick);
    message_add(&m, " ");
    message_add(&m, peer_nick);
    message_add(&m, "|");
    // With no hub connection there is nobody to ask; a peer nick too long for
    // the message cannot come from the results table.
    if (m.overflow || g_state.hub_socket <= 0) return 0;
    // A send that fails (the hub closed, its close only noted) has asked nobody.
    return hub_send(message, m.length) ? 1 : 0;
}

int send_connect_to_me(const char* peer_nick, bool tls) {
    char address[ACTIVE_ADDRESS_BYTES];
    char message[CONNECT_TO_ME_BYTES];
    if (g_state.hub_socket <= 0 || !active_mode_address(tls, address, ACTIVE_ADDRESS_BYTES)) return 0;
    int length = build_connect_to_me(peer_nick, address, tls, message, CONNECT_TO_ME_BYTES);
    if (length < 0) return 0;
    return hub_send(message, length) ? 1 : 0;
}

int queue_add(const char* nick, const char* path, const char* name, const char* tth, uint64_t size,
              uint8_t encoding) {
    char folders[QUEUE_NAME_BYTES];
    char safe[QUEUE_NAME_PART_BYTES];
    if (!split_local_name(name, folders, QUEUE_NAME_BYTES, safe, QUEUE_NAME_PART_BYTES)) {
        chatlog_append_line(" ::download refused:: unsafe file name");
        return -1;
    }
    for (int i = 0; i < g_state.queue_count; i++) {
        const QueueEntry& e = g_state.queue[i];
        if (e.state != QUEUE_DONE && same_file(e, nick, path, tth, size)) {
            chatlog_append_line(" ::download refused:: already in the queue");
            return -1;
        }
    }
    if (g_state.queue_count >= QUEUE_ENTRIES) {
        chatlog_append_line(" ::download refused:: the queue is full");
        return -1;
    }
    int index = g_state.queue_count++;
    QueueEntry& entry = g_state.queue[index];
    memset(&entry, 0, sizeof entry);
    QueueTexts texts;
    memset(&texts, 0, sizeof texts);
    entry.id = ++g_state.queue_next_id;
    text_copy(texts.nick, QUEUE_NICK_BYTES, nick);
    text_copy(texts.path, QUEUE_PATH_BYTES, path);
    text_copy(texts.name, QUEUE_NAME_BYTES, name);
    text_copy(texts.tth, TTH_TEXT_BYTES, tth);
    queue_texts_put(&entry, &texts);
    entry.size = size;
    entry.encoding = encoding == ENCODING_AUTO ? (uint8_t)ENCODING_AUTO_LEGACY : encoding;
    entry.state = QUEUE_WAITING;
    changed();
    return index;
}

int queue_add_list(const char* nick, const char* cache_name) {
    uint8_t encoding = (uint8_t)hub_encoding();
    for (int i = 0; i < g_state.queue_count; i++) {
        const QueueEntry& e = g_state.queue[i];
        if (e.kind == QUEUE_LIST && e.encoding == encoding && strcmp(queue_text(&e, QUEUE_NICK), nick) == 0) {
            return i;
        }
    }
    if (g_state.queue_count >= QUEUE_ENTRIES) {
        chatlog_append_line(" ::file list refused:: the queue is full");
        return -1;
    }
    // At the front: a list comes before every file.
    memmove(&g_state.queue[1], &g_state.queue[0], (size_t)g_state.queue_count * sizeof(QueueEntry));
    g_state.queue_count++;
    QueueEntry& entry = g_state.queue[0];
    memset(&entry, 0, sizeof entry);
    QueueTexts texts;
    memset(&texts, 0, sizeof texts);
    entry.id = ++g_state.queue_next_id;
    text_copy(texts.nick, QUEUE_NICK_BYTES, nick);
    text_copy(texts.path, QUEUE_PATH_BYTES, "files.xml.bz2");
    text_copy(texts.name, QUEUE_NAME_BYTES, cache_name);
    queue_texts_put(&entry, &texts);
    entry.encoding = encoding;
    entry.kind = QUEUE_LIST;
    entry.state = QUEUE_WAITING;
    changed();
    queue_tick();
    return 0;
}

void queue_add_result(int row, int name_row) {
    if (row < 0 || row >= g_state.result_count) return;  // no row to download
    const SearchResult& result = g_state.results[row];
    bool named = name_row >= 0 && name_row < g_state.result_count;
    // A result's name is one name, whatever it holds: a '/' in it names no
    // folder.
    char name[RESULT_SHORT_BYTES];
    if (!make_safe_file_name(g_state.results[named ? name_row : row].short_name, name, RESULT_SHORT_BYTES)) {
        chatlog_append_line(" ::download refused:: unsafe file name");
        return;
    }
    if (queue_add(result.nick, result.path, name, result.tth, result.size, (uint8_t)hub_encoding()) < 0) return;
    char note[NOTE_BYTES];
    snprintf(note, NOTE_BYTES, " ::queued:: %s", name);
    chatlog_append_line(note);
    queue_tick();
}

void queue_tick() {
    collect_ended();
    withdraw_offline();
    withdraw_unanswered();
    collect_ended();
    start_waiting();
    save_when_due(false);
}

void queue_user_arrived(const char* nick) {
    bool any = false;
    for (int i = 0; i < g_state.queue_count; i++) {
        QueueEntry& entry = g_state.queue[i];
        char hub_nick[RESULT_NICK_BYTES];
        if (entry.state != QUEUE_WAITING || !to_hub_text(entry.encoding, queue_text(&entry, QUEUE_NICK), hub_nick, RESULT_NICK_BYTES) ||
            strcmp(hub_nick, nick) != 0) {
            continue;
        }
        entry.retry_ms = 0;
        any = true;
    }
    if (any) queue_tick();
}

int queue_job_of(int index) {
    if (index < 0 || index >= g_state.queue_count) return -1;
    uint32_t id = g_state.queue[index].id;
    int found = -1;
    download_lock();  // a worker may swap two waiting requests' entries
    for (int job = 0; job < DOWNLOAD_JOBS && found < 0; job++) {
        if (download_phase(job) != DOWNLOAD_IDLE && g_state.jobs[job].entry_id == id) found = job;
    }
    download_unlock();
    return found;
}

void queue_pause(int index) {
    if (index < 0 || index >= g_state.queue_count) return;
    QueueEntry& entry = g_state.queue[index];
    if (entry.state == QUEUE_DONE || entry.state == QUEUE_PAUSED) return;
    int job = queue_job_of(index);
    if (job >= 0 && !withdraw(job)) download_set_stop(job, 1);
    if (job >= 0 && download_phase(job) == DOWNLOAD_IDLE) g_state.jobs[job].entry_id = 0;
    entry.state = QUEUE_PAUSED;
    changed();
    queue_tick();
}

void queue_resume(int index) { wait_now(index, QUEUE_PAUSED, QUEUE_PAUSED); }

void queue_retry(int index) { wait_now(index, QUEUE_WAITING, QUEUE_FAILED); }

void queue_remove(int index) {
    if (index < 0 || index >= g_state.queue_count) return;
    QueueEntry entry = g_state.queue[index];
    int job = queue_job_of(index);
    if (job >= 0 && !withdraw(job)) {
        // The worker still holds the part: it ends at its next check, and
        // then the part is removed by its id like any other.
        download_set_stop(job, 1);
        for (uint64_t until = monotonic_ms() + 2000; download_running(job) && monotonic_ms() < until;) sleep_ms(20);
    }
    if (job >= 0 && download_phase(job) == DOWNLOAD_IDLE) {
        download_set_ended(job, 0);
        g_state.jobs[job].entry_id = 0;
    }
    memmove(&g_state.queue[index], &g_state.queue[index + 1],
            (size_t)(g_state.queue_count - index - 1) * sizeof(QueueEntry));
    g_state.queue_count--;
    if (entry.state != QUEUE_DONE) remove_part(entry);
    changed();
    queue_tick();
}

int queue_move(int index, int delta) {
    int to = index + delta;
    if (index < 0 || index >= g_state.queue_count || to < 0 || to >= g_state.queue_count) return index;
    QueueEntry held = g_state.queue[index];
    g_state.queue[index] = g_state.queue[to];
    g_state.queue[to] = held;
    changed();
    return to;
}

void queue_clear_finished() {
    int kept = 0;
    for (int i = 0; i < g_state.queue_count; i++) {
        if (g_state.queue[i].state == QUEUE_DONE) continue;
        if (kept != i) g_state.queue[kept] = g_state.queue[i];
        kept++;
    }
    if (kept == g_state.queue_count) return;
    g_state.queue_count = kept;
    changed();
}

int queue_running_count() {
    int n = 0;
    for (int i = 0; i < g_state.queue_count; i++) n += queue_job_of(i) >= 0 ? 1 : 0;
    return n;
}

void queue_state_text(int index, char16_t* out, int out_units) {
    if (out_units > 0) out[0] = 0;
    if (index < 0 || index >= g_state.queue_count) return;
    const QueueEntry& entry = g_state.queue[index];
    int job = queue_job_of(index);
    if (job >= 0) {
        DownloadPhase phase = download_phase(job);
        u16_copy(out, out_units,
                 phase == DOWNLOAD_RECEIVING   ? u"receiving"
                 : phase == DOWNLOAD_VERIFYING ? u"verifying"
                 : phase == DOWNLOAD_ENDING    ? u"receiving"
                                               : u"connecting");
        return;
    }
    switch (entry.state) {
    case QUEUE_DONE:
        u16_copy(out, out_units, u"done");
        return;
    case QUEUE_PAUSED:
        u16_copy(out, out_units, u"paused");
        return;
    case QUEUE_FAILED: {
        char16_t reason[DOWNLOAD_DETAIL_BYTES];
        if (entry.last_end == END_PASSIVE) {
            encoded_to_utf16(entry.encoding, queue_text(&entry, QUEUE_NICK), -1, reason, DOWNLOAD_DETAIL_BYTES);
            wide_format(out, out_units, u"failed: %s%S", reason, PASSIVE_TOO);
            return;
        }
        encoded_to_utf16(entry.encoding, queue_text(&entry, QUEUE_ERROR), -1, reason, DOWNLOAD_DETAIL_BYTES);
        wide_format(out, out_units, u"failed: %s", reason);
        return;
    }
    default:
        u16_copy(out, out_units, u"waiting");
        return;
    }
}

void queue_flush() { save_when_due(true); }

void queue_places_choose() {
    char16_t data[SETTINGS_PATH_UNITS];
    g_state.queue_path[0] = 0;
    g_state.parts_folder[0] = 0;
    g_state.lists_folder[0] = 0;
    char16_t cache[DOWNLOAD_FOLDER_UNITS];
    int cache_length = user_cache_folder(u"kivo", cache, DOWNLOAD_FOLDER_UNITS);
    if (cache_length > 0 && cache_length + 7 < DOWNLOAD_FOLDER_UNITS) {
        u16_copy(g_state.lists_folder, DOWNLOAD_FOLDER_UNITS, cache);
        u16_append(g_state.lists_folder, DOWNLOAD_FOLDER_UNITS, u"lists/");
    }
    int length = user_data_folder(u"kivo", data, SETTINGS_PATH_UNITS);
    if (length > 0 && length + 10 < SETTINGS_PATH_UNITS) {
        u16_copy(g_state.queue_path, SETTINGS_PATH_UNITS, data);
        u16_append(g_state.queue_path, SETTINGS_PATH_UNITS, u"queue.xml");
    }
    const char16_t* downloads = g_state.settings.download_folder;
    if (downloads[0] == 0) return;  // the current directory: parts beside the files
    if (length > 0 && length + 7 < DOWNLOAD_FOLDER_UNITS) {
        char16_t parts[DOWNLOAD_FOLDER_UNITS];
        u16_copy(parts, DOWNLOAD_FOLDER_UNITS, data);
        u16_append(parts, DOWNLOAD_FOLDER_UNITS, u"parts/");
        if (folder_same_device(parts, downloads)) {
            u16_copy(g_state.parts_folder, DOWNLOAD_FOLDER_UNITS, parts);
            return;
        }
    }
    int units = u16_len(downloads);
    if (units + 13 >= DOWNLOAD_FOLDER_UNITS) return;
    u16_copy(g_state.parts_folder, DOWNLOAD_FOLDER_UNITS, downloads);
    if (downloads[units - 1] != u'/') u16_append(g_state.parts_folder, DOWNLOAD_FOLDER_UNITS, u"/");
    u16_append(g_state.parts_folder, DOWNLOAD_FOLDER_UNITS, u".kivo-parts/");
}
