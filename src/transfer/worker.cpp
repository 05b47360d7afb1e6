// The download workers: from a $ConnectToMe to the finished file, one thread
// per running job (DownloadJob); and in active mode, from a peer's connection
// to Kivo's listener (download_take_incoming, at the end of this file).
//
// download_take_connect (UI thread) takes a $ConnectToMe while a job is
// requested: a $ConnectToMe does not name its user, so it starts the worker
// of the request that waits the longest; it copies the message into that
// job's request, snapshots the own nick, the silence limit and the folders
// into the job's handover, moves the phase to connecting and starts the
// thread. A $ConnectToMe that comes while no job is requested but a worker
// still connects is kept as the spare request.
//
// The worker connects (over TLS when the port is marked S: the whole peer
// exchange then goes through the session, certificates unverified, and a
// failed handshake ends the download, never falling back to plain) and
// greets. The peer's $MyNick says whose connection it is: the job's user, or
// the user of another requested job, whose entry the two jobs then swap; a
// peer nobody asked for ends the connection, and the worker tries the spare
// request or puts its request back to waiting. Only then is the part file
// opened (or continued) in the parts folder and the bytes it holds hashed;
// the worker echoes the peer's $Key with its request ($ADCGET when the peer
// offers it, else $Get), reads the reply and receives the rest of the file
// through the job's receive ring (transfer/tth.h), which hashes it on a
// second thread when the result had a TTH. A complete file whose Tiger tree
// matches is renamed from its part file to a free name in the download
// folder; a mismatch removes the part. Every receive is bounded by the
// silence limit and sees the job's stop flag several times a second. However
// it ends, it ends in finish_download: ring, file and socket closed, exactly
// one closing chat note, the end and its reason in the job, the phase back
// to idle as the last touch of shared state, and the main window told.
//
// An incoming connection (active mode: the peer answers Kivo's own
// $ConnectToMe) gets a thread of its own at once, at most
// INCOMING_HANDSHAKES at a time. The peer speaks first; its $MyNick, read
// within one deadline and the handshake buffer, picks the requested job that
// asked that user, whose handover is then written on this thread. Kivo
// greets back, the peer's $Supports, $Direction and $Key complete its
// greeting, and the run goes on as above. A nick nobody asked for closes the
// connection without a note.
//
// State of this file alone: one handover per job (the own nick, the silence
// limit and the folders as they were when the worker started), written just
// before the worker has the job (by download_take_connect, or by the
// incoming thread under the jobs' lock) and read only by that worker, so a
// Settings change or a test lowering the limit mid-download cannot reach a
// running worker; and the slots of incoming connections in their handshake.
//
// Reaches g_state: the DownloadJobs and the spare request, the nick, the
// silence limit, the download and parts folders (copied at start),
// main_window, the ChatLog, the TrafficCounters and the settings' TLS switch
// (download_tls_offered, on the UI thread).
#include <atomic>
#include <cstdio>
#include <cstring>
#include <utility>

#include "state/client_state.h"
#include "state/text_scan.h"
#include "platform/link.h"
#include "platform/tls.h"
#include "transfer/download.h"
#include "protocol/handshake.h"
#include "transfer/local_file.h"
#include "transfer/tth.h"

namespace {

static_assert(DOWNLOAD_CHUNK_BYTES == RING_PLAIN_BYTES, "the longest receive is a plain one");

// A path in UTF-8 and escaped: each 1251 byte at most three, a leading '/', the NUL.
constexpr int ADC_ID_BYTES = 3 * QUEUE_PATH_BYTES + 2;
// The head, the key (< HANDSHAKE_RECEIVE_BYTES), the request and two 20-digit numbers.
constexpr int REQUEST_BYTES = 64 + HANDSHAKE_RECEIVE_BYTES + 16 + ADC_ID_BYTES + 48;
constexpr int NOTE_BYTES = 300;
constexpr int FINAL_NAME_BYTES = QUEUE_NAME_PART_BYTES + 8;  // the name and " (999)"

// What download_take_connect hands the worker besides the ConnectRequest.
struct WorkerHandover {
    char own_nick[HUB_NICK_BYTES];
    int silence_ms;
    HubEncoding encoding;  // of the hub the request went through
    char16_t folder[DOWNLOAD_FOLDER_UNITS];  // where the file goes; empty: the current directory
    char16_t parts[DOWNLOAD_FOLDER_UNITS];   // where its part is kept; empty: in folder
};
static_assert(DOWNLOAD_FOLDER_UNITS + 1 + QUEUE_NAME_BYTES + 16 + TTH_TEXT_BYTES + 8 <= LOCAL_NAME_UNITS,
              "a part's name fits beside the longest download folder");
WorkerHandover g_handovers[DOWNLOAD_JOBS];
// The request (its requested_ms) each handover was snapshotted for, so that
// an incoming connection takes only a request whose handover is its own.
uint64_t g_handover_for[DOWNLOAD_JOBS];

void hand_over(int job);
void snapshot_handover(int job);
void start_connecting(int job);
void worker_not_started(int job);

struct DownloadNote {
    DownloadEnd end;
    const char* text;  // printf format; see note_for for its arguments
};

// %s: a detail text; %llu %llu: bytes held and the file's length, or for
// END_LENGTH_DIFFERS the length announced and the result's size.
const DownloadNote DOWNLOAD_NOTES[] = {
    {END_DONE, " ::downloaded::"},
    {END_REQUEST, " ::download failed:: malformed $ConnectToMe"},
    {END_NAME, " ::download failed:: unsafe file name"},
    {END_CONNECT, " ::download failed:: cannot connect to peer"},
    {END_TLS, " ::download failed:: TLS handshake failed: %s"},
    {END_SEND, " ::download failed:: send to peer failed"},
    {END_SILENT, " ::download failed:: peer silent, timed out"},
    {END_CLOSED, " ::download failed:: peer closed the connection"},
    {END_GREETING, " ::download failed:: malformed greeting: %s"},
    {END_LENGTH, " ::download failed:: bad length reply: %s"},
    {END_LENGTH_DIFFERS, " ::download failed:: peer announced %llu bytes, the file has %llu"},
    {END_REFUSED, " ::download failed:: %s"},
    {END_FILE, " ::download failed:: cannot create file"},
    {END_FOLDER, " ::download failed:: cannot make the download folder"},
    {END_PART_NAME, " ::download failed:: no free name for the part file"},
    {END_WRITE, " ::download failed:: cannot write file"},
    {END_SHORT, " ::download failed:: peer stopped at %llu of %llu bytes"},
    {END_STOPPED, " ::download stopped:: at %llu of %llu bytes"},
    {END_HASH, " ::download failed:: cannot start the TTH check"},
    {END_MISMATCH, " ::download failed:: the file does not match its TTH"},
    {END_RENAME, " ::download failed:: no free name for the finished file"},
    {END_WORKER, " ::download failed:: cannot start worker"},
    {END_UNANSWERED, " ::download failed:: no answer from the user"},
    {END_VANISHED, " ::download failed:: the part file vanished"},
};

struct GreetingReason {
    GreetingStatus status;
    const char* text;
};

const GreetingReason GREETING_REASONS[] = {
    {GREETING_NO_NICK_BAR, "no | after the nick"},  {GREETING_NO_LOCK, "no $Lock"},
    {GREETING_NO_LOCK_BAR, "unterminated $Lock"},    {GREETING_NO_KEY, "no $Key"},
    {GREETING_NO_KEY_BAR, "unterminated $Key"},      {GREETING_NUL_BYTE, "NUL byte"},
};

// The worker's own storage, on its stack. The Link stays where it is from
// the handshake to link_close: the TLS library keeps pointers into it.
struct WorkerRun {
    int job;         // the job's number: its DownloadJob, handover and ring
    // The connection to the peer, plain or TLS: every byte goes through it.
    Link link;
    int file;        // the part file, FILE_INVALID until opened
    int part_created;  // 1 when this run created the part file
    int silence_ms;
    int hashing;     // 1 while the ring hashes: the job has a TTH
    uint64_t offset;    // bytes the part held when the request went out
    uint64_t received;  // bytes of the file held: the part, then each chunk
    uint64_t total;     // the file's length, from the peer's reply
    int reply_length;   // bytes in reply
    int data_start;     // index in reply of the file's first byte, if any came with it
    char detail[DOWNLOAD_DETAIL_BYTES];        // the greeting's fault, the quoted reply, the refusal, the TLS reason
    char name[QUEUE_NAME_PART_BYTES];  // the safe local name, in the hub's encoding
    char folders[QUEUE_NAME_BYTES];    // the safe folders below the download folder it goes into, or empty
    char final_name[FINAL_NAME_BYTES];
    char16_t part[LOCAL_NAME_UNITS];
    char reply[HANDSHAKE_RECEIVE_BYTES];  // the greeting, then the reply
};


DownloadJob& job_of(const WorkerRun* run) { return g_state.jobs[run->job]; }
const WorkerHandover& handover_of(const WorkerRun* run) { return g_handovers[run->job]; }
bool stopping(const WorkerRun* run) { return download_stop_requested(run->job) != 0; }

// The stop check of the connect and the TLS handshake, which name no job:
// the job of the calling worker thread.
thread_local int t_job = 0;
int stop_asked() { return download_stop_requested(t_job); }

int job_stopping(void* run) { return stopping((const WorkerRun*)run) ? 1 : 0; }

// One receive of at most bytes, waiting at most the silence limit; the stop
// flag is seen several times a second.
LinkWait receive_bounded(WorkerRun* run, char* dst, int bytes, int* got) {
    return link_receive(&run->link, dst, bytes, got, run->silence_ms, job_stopping, run);
}

// How a handshake or data receive that yielded no bytes ends the download.
DownloadEnd end_of_receive(LinkWait wait, DownloadEnd if_closed) {
    if (wait == LINK_STOPPED) return END_STOPPED;
    if (wait == LINK_TIMED_OUT) return END_SILENT;
    return if_closed;
}

// One whole send, counted. A partial send fails: the peer would read a cut
// message. Over TLS the session may need several socket sends for one
// record: they are bounded by the silence limit.
bool send_counted(WorkerRun* run, const char* data, int bytes) {
    if (bytes < 0) return false;
    if (!link_send_all(&run->link, data, bytes, run->silence_ms)) return false;
    traffic_add_sent((uint32_t)bytes);
    return true;
}

const char* greeting_reason(GreetingStatus status) {
    for (const GreetingReason& r : GREETING_REASONS) {
        if (r.status == status) return r.text;
    }
    return "";
}

// Receives more of a handshake message into the reply buffer. Returns END_DONE
// with more bytes, or how the download ends.
DownloadEnd receive_more(WorkerRun* run) {
    int room = HANDSHAKE_RECEIVE_BYTES - 1 - run->reply_length;
    if (room <= 0) return END_LENGTH;
    int got = 0;
    LinkWait wait = receive_bounded(run, run->reply + run->reply_length, room, &got);
    if (wait != LINK_DATA) return end_of_receive(wait, END_CLOSED);
    traffic_add_received((uint32_t)got);
    run->reply_length += got;
    run->reply[run->reply_length] = 0;
    return END_DONE;
}

// Receives the peer's greeting, in as many receives as it takes; a greeting
// that does not fit the reply buffer is malformed.
DownloadEnd receive_greeting(WorkerRun* run, PeerGreeting* greeting) {
    GreetingStatus status = parse_peer_greeting(run->reply, run->reply_length, job_of(run).nick, greeting);
    while (greeting_incomplete(status) && run->reply_length < HANDSHAKE_RECEIVE_BYTES - 1) {
        int had = run->reply_length;
        DownloadEnd end = receive_more(run);
        // Part of a greeting, then silence or close: judged by what came.
        if (end != END_DONE && (had == 0 || end == END_STOPPED)) return end;
        if (end != END_DONE) break;
        status = parse_peer_greeting(run->reply, run->reply_length, job_of(run).nick, greeting);
    }
    if (status == GREETING_OK) return END_DONE;
    if (status == GREETING_NICK_MISMATCH) return END_NICK;
    text_copy(run->detail, DOWNLOAD_DETAIL_BYTES, greeting_reason(status));
    return END_GREETING;
}

// A reply that is no acceptable answer: a refusal says why, anything else is quoted.
DownloadEnd refused_or_bad(WorkerRun* run, int message_length) {
    if (peer_refusal(run->reply, message_length, run->detail, DOWNLOAD_DETAIL_BYTES)) return END_REFUSED;
    text_copy_n(run->detail, DOWNLOAD_DETAIL_BYTES, run->reply, message_length);
    return END_LENGTH;
}

// Receives the peer's one reply message, up to its '|', perhaps with the
// file's first bytes behind it. A part of a reply followed by silence or a
// close is left for the parser to find incomplete.
DownloadEnd receive_reply(WorkerRun* run) {
    run->reply_length = 0;
    // find_bar stops at a '|' or a NUL: either ends the waiting.
    while (find_bar(run->reply) >= run->reply_length && run->reply_length < HANDSHAKE_RECEIVE_BYTES - 1) {
        int had = run->reply_length;
        DownloadEnd end = receive_more(run);
        if (end != END_DONE && (had == 0 || end == END_STOPPED)) return end;
        if (end != END_DONE) break;
    }
    return END_DONE;
}

// Receives "$FileLength <n>|" and answers "$Send|"; the rest of the file follows.
DownloadEnd receive_length(WorkerRun* run) {
    DownloadEnd end = receive_reply(run);
    if (end != END_DONE) return end;
    int quoted = 0;
    LengthStatus status = parse_length_reply(run->reply, run->reply_length, &run->total, &quoted);
    if (status != LENGTH_OK) return refused_or_bad(run, quoted);
    // microdc2 announces the whole file's length for a request from an
    // offset, eiskaltdcpp the bytes that remain: the result's size tells which.
    uint64_t size = job_of(run).size;
    if (run->offset > 0 && run->total < size && run->total + run->offset == size) run->total = size;
    // Another length than the result's would make a short file, or one with
    // bytes of the peer's choosing, look whole (0: the result gave none).
    if (size > 0 && run->total != size) return END_LENGTH_DIFFERS;
    if (run->total < run->offset) return refused_or_bad(run, quoted);
    run->data_start = run->reply_length;  // nothing comes before "$Send|"
    if (!send_counted(run, SEND_REQUEST_TEXT, (int)strlen(SEND_REQUEST_TEXT))) return END_SEND;
    return END_DONE;
}

// Receives "$ADCSND file <id> <offset> <length>|"; the bytes follow at once,
// and the first of them may have come in the same receive.
DownloadEnd receive_adc_send(WorkerRun* run, const AdcAsked* asked) {
    DownloadEnd end = receive_reply(run);
    if (end != END_DONE) return end;
    int quoted = 0;
    uint64_t count = 0;
    AdcSendStatus status = parse_adc_send(run->reply, run->reply_length, asked, &count, &quoted);
    if (status != ADCSND_OK) return refused_or_bad(run, quoted);
    run->total = run->offset + count;
    // Fewer bytes than asked would leave a short file that looks whole (more
    // are refused by the parser).
    if (asked->length >= 0 && count != (uint64_t)asked->length) return END_LENGTH_DIFFERS;
    run->data_start = quoted + 1;
    return END_DONE;
}

// What is still wanted of the file: all of it past the part, or -1 (to the
// end) when the search result gave no size to count from.
int64_t rest_of_file(const WorkerRun* run) {
    uint64_t size = job_of(run).size;
    return size > run->offset ? (int64_t)(size - run->offset) : -1;
}

// After a greeting from another nick than the job's user: when another job
// requested from the peer who greeted, the two jobs swap their entries in
// one step against download_take_connect (that job has no thread yet), and
// this connection goes on with the peer's own file. Returns whether it did.
bool claim_by_greeting(WorkerRun* run) {
    bool claimed = false;
    download_lock();
    for (int other = 0; other < DOWNLOAD_JOBS && !claimed; other++) {
        // Only a request of the same kind, asked the same way: the handover's
        // folders are the kind's, and a job asked with $ConnectToMe waits for
        // its peer's connection, not a worker's.
        const DownloadJob& candidate = g_state.jobs[other];
        if (other == run->job || !download_requested(other) || candidate.kind != job_of(run).kind ||
            candidate.asked_active != job_of(run).asked_active) {
            continue;
        }
        PeerGreeting greeting;
        if (parse_peer_greeting(run->reply, run->reply_length, g_state.jobs[other].nick, &greeting) != GREETING_OK) {
            continue;
        }
        DownloadJob& mine = job_of(run);
        DownloadJob& theirs = g_state.jobs[other];
        std::swap(mine.entry_id, theirs.entry_id);
        std::swap(mine.nick, theirs.nick);
        std::swap(mine.path, theirs.path);
        std::swap(mine.short_name, theirs.short_name);
        std::swap(mine.tth, theirs.tth);
        std::swap(mine.size, theirs.size);
        std::swap(mine.requested_ms, theirs.requested_ms);
        claimed = true;
    }
    download_unlock();
    return claimed;
}

// The greeting both ways; the peer's must name the job's user, or the user
// of another job that waits for him.
DownloadEnd exchange_greetings(WorkerRun* run, PeerGreeting* greeting) {
    // The greeting is built in the reply buffer, which is free until the answer.
    int length = build_greeting(run->reply, HANDSHAKE_RECEIVE_BYTES, handover_of(run).own_nick);
    if (!send_counted(run, run->reply, length)) return END_SEND;
    run->reply_length = 0;
    run->reply[0] = 0;
    DownloadEnd end = receive_greeting(run, greeting);
    if (end != END_NICK || !claim_by_greeting(run)) return end;
    return parse_peer_greeting(run->reply, run->reply_length, job_of(run).nick, greeting) == GREETING_OK ? END_DONE
                                                                                                     : END_NICK;
}

DownloadEnd exchange_request(WorkerRun* run, const PeerGreeting& greeting) {
    const char* key = run->reply + greeting.key_start;
    const DownloadJob& job = job_of(run);
    char request[REQUEST_BYTES];
    int length;
    if (!greeting.adc_get) {
        length = build_download_request(request, REQUEST_BYTES, key, greeting.key_length, job.path, run->offset);
        if (!send_counted(run, request, length)) return END_SEND;
        return receive_length(run);
    }
    char id[ADC_ID_BYTES];
    bool utf8 = handover_of(run).encoding == ENCODING_UTF8;
    if (job.kind == QUEUE_LIST) {
        // A list is asked for by its own name, not a path in the share.
        text_copy(id, ADC_ID_BYTES, job.path);
    } else if (adc_file_id(job.tth, job.path, id, ADC_ID_BYTES, utf8) < 0) {
        return END_NAME;
    }
    AdcAsked asked = {id, run->offset, rest_of_file(run)};
    length = build_adc_request(request, REQUEST_BYTES, key, greeting.key_length, &asked);
    if (!send_counted(run, request, length)) return END_SEND;
    return receive_adc_send(run, &asked);
}

// The download folder and the parts folder, made (private to the user, like
// every folder Kivo makes) when missing.
DownloadEnd make_folders(WorkerRun* run) {
    const WorkerHandover& handover = handover_of(run);
    if (handover.folder[0] != 0 && !folder_create_all(handover.folder)) return END_FOLDER;
    if (handover.parts[0] != 0 && !folder_create_all(handover.parts)) return END_FOLDER;
    return END_DONE;
}

// Opens the part file of this download (transfer/local_file.h), continuing
// what it holds.
DownloadEnd open_part(WorkerRun* run) {
    char id[TTH_TEXT_BYTES];
    const DownloadJob& job = job_of(run);
    download_identity(job.tth, job.nick, job.path, job.size, id);
    const WorkerHandover& handover = handover_of(run);
    const char16_t* parts = handover.parts[0] != 0 ? handover.parts : handover.folder;
    int file = part_open(run->name, id, job.size, run->part, LOCAL_NAME_UNITS, &run->part_created, parts);
    if (file == FILE_NOT_OWN) return END_PART_NAME;
    if (file == FILE_INVALID) return END_FILE;
    if (job.kind == QUEUE_LIST && file_length(file) != 0) {
        // A list is fetched whole each time: what an earlier fetch left of
        // it (Kivo's own cache) is not continued.
        file_close(file);
        if (!file_remove_own(run->part)) return END_FILE;
        file = part_open(run->name, id, job.size, run->part, LOCAL_NAME_UNITS, &run->part_created, parts);
        if (file == FILE_NOT_OWN) return END_PART_NAME;
        if (file == FILE_INVALID) return END_FILE;
    }
    run->file = file;
    int64_t held = file_length(run->file);
    if (held < 0) return END_FILE;
    run->offset = (uint64_t)held;
    run->received = run->offset;
    download_set_received(run->job, run->received);
    return END_DONE;
}

// Feeds the bytes the part already holds to the hash, from its first byte,
// and leaves the file positioned at its end for the new data.
DownloadEnd hash_held_part(WorkerRun* run) {
    uint64_t left = run->offset;
    while (left > 0) {
        if (stopping(run)) return END_STOPPED;
        int room = 0;
        char* slot = ring_slot(run->job, &room);
        int want = left < (uint64_t)room ? (int)left : room;
        int got = file_read(run->file, slot, want);
        if (got <= 0) return END_FILE;
        ring_publish(run->job, got);
        left -= (uint64_t)got;
    }
    return file_seek_end(run->file) ? END_DONE : END_FILE;
}

// Takes got bytes of the file, received into slot: counted, written to the
// part file, then handed on to the hash.
DownloadEnd take_chunk(WorkerRun* run, char* slot, int got) {
    run->received += (uint64_t)got;
    download_set_received(run->job, run->received);
    if (file_write(run->file, slot, got) != got) return END_WRITE;
    ring_publish(run->job, got);
    return END_DONE;
}

void note_resumed(const WorkerRun* run) {
    char note[NOTE_BYTES];
    snprintf(note, NOTE_BYTES, " ::download:: resumed at %llu of %llu bytes", (unsigned long long)run->offset,
             (unsigned long long)run->total);
    chatlog_append_line(note);
}

// Receives exactly the announced length, chunk by chunk, and writes it. A
// chunk is never asked for beyond what is still due, so a peer that sends
// more than it announced has its surplus left unread.
DownloadEnd receive_file(WorkerRun* run) {
    download_set_phase(run->job, DOWNLOAD_RECEIVING);
    download_set_total(run->job, run->total);
    chatlog_append_line("::start download::");
    chatlog_append_line(job_of(run).short_name);
    if (run->offset > 0) note_resumed(run);
    // File bytes that came in the same receive as the reply (counted as
    // received with it), taken a slot at a time.
    int early = run->reply_length - run->data_start;
    int at = run->data_start;
    while (early > 0 && run->received < run->total) {
        uint64_t due = run->total - run->received;
        int room = 0;
        char* slot = ring_slot(run->job, &room);
        int take = early < room ? early : room;
        if ((uint64_t)take > due) take = (int)due;
        memcpy(slot, run->reply + at, (size_t)take);
        DownloadEnd end = take_chunk(run, slot, take);
        if (end != END_DONE) return end;
        at += take;
        early -= take;
    }
    while (run->received < run->total) {
        uint64_t due = run->total - run->received;
        int room = 0;
        char* slot = ring_slot(run->job, &room);
        int want = due < (uint64_t)room ? (int)due : room;
        int got = 0;
        LinkWait wait = receive_bounded(run, slot, want, &got);
        if (wait != LINK_DATA) return end_of_receive(wait, END_SHORT);
        traffic_add_received((uint32_t)got);
        DownloadEnd end = take_chunk(run, slot, got);
        if (end != END_DONE) return end;
    }
    return END_DONE;
}

// Compares the Tiger tree of every byte with the TTH of the result; a file
// that does not match is removed. Then the part takes its free name, in the
// download folder.
DownloadEnd verify_and_name(WorkerRun* run) {
    // Bytes written into a part that lost its name are gone with it: no
    // rename could bring them back.
    if (file_unlinked(run->file)) return END_VANISHED;
    if (run->hashing) {
        download_set_phase(run->job, DOWNLOAD_VERIFYING);
        char root[TTH_TEXT_BYTES];
        ring_finish(run->job, root);
        run->hashing = 0;
        if (strcmp(root, job_of(run).tth) != 0) {
            file_close(run->file);
            run->file = FILE_INVALID;
            file_remove(run->part);
            return END_MISMATCH;
        }
    }
    file_close(run->file);
    run->file = FILE_INVALID;
    // The folders below the download folder are made as the file arrives.
    char16_t folder[LOCAL_NAME_UNITS];
    if (!local_folder(handover_of(run).folder, run->folders, folder, LOCAL_NAME_UNITS)) return END_NAME;
    if (job_of(run).kind == QUEUE_LIST) {
        // The list replaces the one kept before: the cache is Kivo's own.
        char16_t kept[LOCAL_NAME_UNITS];
        if (!local_folder(folder, run->name, kept, LOCAL_NAME_UNITS)) return END_NAME;
        kept[u16_len(kept) - 1] = 0;  // the name, not a folder: no separator after it
        text_copy(run->final_name, FINAL_NAME_BYTES, run->name);
        return file_rename_over_own(run->part, kept) ? END_DONE : END_RENAME;
    }
    if (folder[0] != 0 && !folder_create_all(folder)) return END_FOLDER;
    if (!part_rename_free(run->part, run->name, run->final_name, FINAL_NAME_BYTES, folder)) return END_RENAME;
    return END_DONE;
}

// The handshake on the connected socket of a port marked S, bounded like the
// connect. The host as the server name: an IPv4 address (as peers give it)
// sends no SNI. Peers' certificates are self-signed: not verified.
DownloadEnd start_tls(WorkerRun* run, const char* host) {
    if (link_start_tls(&run->link, host, DOWNLOAD_CONNECT_MS, job_stopping, run, run->detail,
                       DOWNLOAD_DETAIL_BYTES)) {
        return END_DONE;
    }
    return stopping(run) ? END_STOPPED : END_TLS;
}

DownloadEnd run_after_greeting(WorkerRun* run, const PeerGreeting& greeting);

// The part is opened (and what it holds hashed) only once the peer has
// greeted: until then the connection may turn out to be another job's.
DownloadEnd run_download(WorkerRun* run, const char* request) {
    download_set_link(run->job, DOWNLOAD_LINK_NONE);  // a peer tried before (another nick) is not this one
    ConnectAddress address;
    if (!parse_connect_request(request, (int)strlen(handover_of(run).own_nick), &address)) return END_REQUEST;
    // What can fail here fails before anyone is connected to.
    if (!split_local_name(job_of(run).short_name, run->folders, QUEUE_NAME_BYTES, run->name, QUEUE_NAME_PART_BYTES)) {
        return END_NAME;
    }
    DownloadEnd end = make_folders(run);
    if (end != END_DONE) return end;
    int sock = tcp_connect_within(address.host, address.port, SOCKET_STREAM, DOWNLOAD_CONNECT_MS, stop_asked);
    if (sock < 0) return stopping(run) ? END_STOPPED : END_CONNECT;
    link_plain(&run->link, sock);
    if (address.tls) {
        end = start_tls(run, address.host);
        if (end != END_DONE) return end;
    }
    download_set_link(run->job, address.tls ? DOWNLOAD_LINK_TLS : DOWNLOAD_LINK_PLAIN);
    PeerGreeting greeting;
    end = exchange_greetings(run, &greeting);
    if (end != END_DONE) return end;
    return run_after_greeting(run, greeting);
}

// Once the peer has greeted as the job's user: the part, the request, the
// file, its check and its name.
DownloadEnd run_after_greeting(WorkerRun* run, const PeerGreeting& greeting) {
    if (!split_local_name(job_of(run).short_name, run->folders, QUEUE_NAME_BYTES, run->name, QUEUE_NAME_PART_BYTES)) {
        return END_NAME;
    }
    DownloadEnd end = open_part(run);
    if (end != END_DONE) return end;
    run->hashing = job_of(run).tth[0] != '\0';
    if (!ring_start(run->job, run->hashing)) {
        run->hashing = 0;
        return END_HASH;
    }
    end = run->hashing ? hash_held_part(run) : (file_seek_end(run->file) ? END_DONE : END_FILE);
    if (end != END_DONE) return end;
    end = exchange_request(run, greeting);
    if (end != END_DONE) return end;
    end = receive_file(run);
    if (end != END_DONE) return end;
    return verify_and_name(run);
}

void note_for(const WorkerRun* run, DownloadEnd end, char* note) {
    note[0] = 0;
    for (const DownloadNote& n : DOWNLOAD_NOTES) {
        if (n.end != end) continue;
        if (end == END_GREETING || end == END_LENGTH || end == END_REFUSED || end == END_TLS) {
            snprintf(note, NOTE_BYTES, n.text, run->detail);
        } else if (end == END_SHORT || end == END_STOPPED) {
            snprintf(note, NOTE_BYTES, n.text, (unsigned long long)run->received, (unsigned long long)run->total);
        } else if (end == END_LENGTH_DIFFERS) {
            snprintf(note, NOTE_BYTES, n.text, (unsigned long long)run->total,
                     (unsigned long long)job_of(run).size);
        } else {
            text_copy(note, NOTE_BYTES, n.text);
        }
    }
    if (end != END_DONE) return;
    if (job_of(run).tth[0] != '\0') text_append(note, NOTE_BYTES, " TTH verified");
    if (strcmp(run->final_name, run->name) != 0) {
        text_append(note, NOTE_BYTES, " as ");
        text_append(note, NOTE_BYTES, run->final_name);
    }
}

// Closes what the run holds. A part this run created that still holds
// nothing is removed: it keeps no bytes worth continuing.
void release_run(WorkerRun* run) {
    if (run->hashing) ring_abandon(run->job);
    run->hashing = 0;
    if (run->file != FILE_INVALID) {
        bool empty = file_length(run->file) == 0;
        file_close(run->file);
        if (empty && run->part_created) file_remove_own(run->part);
    }
    run->file = FILE_INVALID;
    link_close(&run->link);
}

// The reason of a note, after its " ::download failed:: " head, as the queue
// keeps it.
void keep_reason(const char* note, char* reason) {
    const char* at = strstr(note, ":: ");
    text_copy(reason, DOWNLOAD_DETAIL_BYTES, at != nullptr ? at + 3 : note);
}

void finish_download(WorkerRun* run, DownloadEnd end) {
    download_set_phase(run->job, DOWNLOAD_ENDING);
    release_run(run);
    char note[NOTE_BYTES];
    note_for(run, end, note);
    chatlog_append_line(note);
    DownloadJob& job = job_of(run);
    job.end = (uint8_t)end;
    keep_reason(note, job.detail);
    text_copy(job.final_name, (int)sizeof job.final_name, run->final_name);
    download_set_outcome(run->job,
                         end == END_DONE ? DOWNLOAD_DONE : end == END_STOPPED ? DOWNLOAD_STOPPED : DOWNLOAD_FAILED);
    // The window is read before the phase goes back: after that, nothing
    // shared is touched.
    Window main_window = g_state.main_window;
    download_set_ended(run->job, 1);
    download_set_phase(run->job, DOWNLOAD_IDLE);  // last: from here the UI thread may reuse the job
    // The queue takes the outcome on the UI thread.
    if (main_window != 0) post_message(main_window, WM_DOWNLOAD_ENDED, (WPARAM)run->job, 0);
}

// After a peer that greeted with a nick no job asked for, in one step against
// download_take_connect and Pause: the spare $ConnectToMe is taken into the
// job's request, or the request goes back to waiting for the owner's own,
// unless the person stopped it meanwhile.
enum AfterMismatch { TRY_SPARE, WAIT_AGAIN, STOPPED };

AfterMismatch after_mismatch(WorkerRun* run) {
    download_lock();
    AfterMismatch next;
    if (stopping(run)) {
        next = STOPPED;
    } else if (g_state.spare_waiting != 0) {
        text_copy(job_of(run).connect_request, CONNECT_REQUEST_BYTES, g_state.spare_request);
        g_state.spare_waiting = 0;
        next = TRY_SPARE;
    } else {
        // The note before the phase: once the request waits again, the worker
        // touches nothing shared.
        chatlog_append_line(" ::download:: peer nick mismatch, still waiting for the owner");
        download_set_phase(run->job, DOWNLOAD_REQUESTED);
        next = WAIT_AGAIN;
    }
    download_unlock();
    return next;
}

void reset_run(WorkerRun* run, int job) {
    run->job = job;
    link_init(&run->link);
    run->file = FILE_INVALID;
    run->part_created = 0;
    // An incoming connection has no job until its peer has said its nick.
    run->silence_ms = job >= 0 ? g_handovers[job].silence_ms : INCOMING_HANDSHAKE_MS;
    run->hashing = 0;
    run->offset = 0;
    run->received = 0;
    run->total = 0;
    run->reply_length = 0;
    run->data_start = 0;
    run->detail[0] = 0;
    run->name[0] = 0;
    run->folders[0] = 0;
    run->final_name[0] = 0;
    run->part[0] = 0;
    run->reply[0] = 0;
}

bool is_connect_to_me(const char* message) {
    return strncmp(message, "$ConnectToMe ", 13) == 0;
}

// The job asked with $RevConnectToMe the longest ago, or -1 (a job asked
// with $ConnectToMe waits for its peer's connection, not the hub's message).
int oldest_request() {
    int found = -1;
    for (int job = 0; job < DOWNLOAD_JOBS; job++) {
        if (!download_requested(job) || g_state.jobs[job].asked_active != 0) continue;
        if (found < 0 || g_state.jobs[job].requested_ms < g_state.jobs[found].requested_ms) found = job;
    }
    return found;
}

}  // namespace

int make_safe_file_name(const char* short_name, char* dst, int dst_bytes) {
    int length = (int)strlen(short_name);
    bool dots = strcmp(short_name, ".") == 0 || strcmp(short_name, "..") == 0;
    if (length == 0 || dots || length > dst_bytes - 1) {
        if (dst_bytes > 0) dst[0] = 0;
        return 0;
    }
    for (int i = 0; i < length; i++) {
        unsigned char c = (unsigned char)short_name[i];
        // No directory separator, so the file stays in the download folder;
        // no control bytes, which a terminal listing would act on.
        dst[i] = (c == '/' || c < 0x20 || c == 0x7F) ? '_' : (char)c;
    }
    dst[length] = 0;
    return 1;
}

int split_local_name(const char* local_name, char* folders, int folders_bytes, char* name, int name_bytes) {
    if (folders_bytes > 0) folders[0] = 0;
    if (name_bytes > 0) name[0] = 0;
    int at = 0;
    int folders_length = 0;
    for (;;) {
        int end = at;
        while (local_name[end] != 0 && local_name[end] != '/') end++;
        char part[QUEUE_NAME_PART_BYTES];
        char safe[QUEUE_NAME_PART_BYTES];
        bool last = local_name[end] == 0;
        // A part too long for its buffer, empty, "." or "..": refused whole.
        if (end - at >= QUEUE_NAME_PART_BYTES || text_copy_n(part, QUEUE_NAME_PART_BYTES, local_name + at, end - at) != end - at ||
            !make_safe_file_name(part, safe, QUEUE_NAME_PART_BYTES)) {
            break;
        }
        if (last) {
            if (text_copy(name, name_bytes, safe) != (int)strlen(safe)) break;
            return 1;
        }
        int length = (int)strlen(safe);
        if (folders_length + length + 2 > folders_bytes) break;
        if (folders_length > 0) folders[folders_length++] = '/';
        memcpy(folders + folders_length, safe, (size_t)length + 1);
        folders_length += length;
        at = end + 1;
    }
    if (folders_bytes > 0) folders[0] = 0;
    if (name_bytes > 0) name[0] = 0;
    return 0;
}

bool download_tls_offered() {
    char version[48];
    return g_state.settings.tls_transfers_off == 0 && tls_available(version, sizeof version) != 0;
}

void download_take_connect(const char* message) {
    // Without a requested download the message is ignored: otherwise anyone
    // on the hub could make the client connect anywhere. Each one starts at
    // most one job's worker, so no more connections are made than requests wait.
    if (!is_connect_to_me(message)) return;
    bool fits = strlen(message) <= (size_t)CONNECT_REQUEST_BYTES - 1;
    download_lock();
    int job = oldest_request();
    if (job < 0) {
        // While a worker still learns whether its peer is its user, one more
        // is kept for it.
        bool connecting = false;
        for (int j = 0; j < DOWNLOAD_JOBS; j++) connecting = connecting || download_phase(j) == DOWNLOAD_CONNECTING;
        if (connecting && fits && !g_state.spare_waiting) {
            text_copy(g_state.spare_request, CONNECT_REQUEST_BYTES, message);
            g_state.spare_waiting = 1;
        }
        download_unlock();
        return;
    }
    if (!fits) {
        download_unlock();
        chatlog_append_line(" ::download:: $ConnectToMe too long, ignored");
        return;
    }
    DownloadJob& j = g_state.jobs[job];
    text_copy(j.connect_request, CONNECT_REQUEST_BYTES, message);
    hand_over(job);
    download_unlock();
    if (!thread_start(download_worker, &j)) worker_not_started(job);
}

namespace {

// Snapshots what the worker of a job reads from the UI's state, and moves
// the job to connecting (UI thread, under the jobs' lock).
void hand_over(int job) {
    snapshot_handover(job);
    start_connecting(job);
}

// What the worker reads of the UI's state, copied on the UI thread while
// the job is still a request (under the jobs' lock): the worker that takes
// the job reads it only after it has moved the job on, under the same lock.
void snapshot_handover(int job) {
    DownloadJob& j = g_state.jobs[job];
    WorkerHandover& handover = g_handovers[job];
    text_copy(handover.own_nick, HUB_NICK_BYTES, g_state.hub_nick);
    handover.encoding = hub_encoding();
    handover.silence_ms = g_state.download_silence_ms > 0 ? g_state.download_silence_ms : 1;
    // A list goes to Kivo's cache, its part beside it; a file to the
    // download folder, its part to the parts folder.
    bool list = j.kind == QUEUE_LIST;
    u16_copy(handover.folder, DOWNLOAD_FOLDER_UNITS, list ? g_state.lists_folder : g_state.settings.download_folder);
    u16_copy(handover.parts, DOWNLOAD_FOLDER_UNITS, list ? g_state.lists_folder : g_state.parts_folder);
    g_handover_for[job] = j.requested_ms;
}

// A requested job becomes a running one (under the jobs' lock).
void start_connecting(int job) {
    download_set_stop(job, 0);
    download_set_ended(job, 0);
    download_set_received(job, 0);
    download_set_total(job, 0);
    download_set_phase(job, DOWNLOAD_CONNECTING);
}

void worker_not_started(int job) {
    DownloadJob& j = g_state.jobs[job];
    j.end = END_WORKER;
    text_copy(j.detail, DOWNLOAD_DETAIL_BYTES, "cannot start worker");
    download_set_outcome(job, DOWNLOAD_FAILED);
    download_set_ended(job, 1);
    download_set_phase(job, DOWNLOAD_IDLE);
    chatlog_append_line(" ::download failed:: cannot start worker");
}

}  // namespace

void download_worker(void* job_record) {
    int job = (int)((DownloadJob*)job_record - g_state.jobs);
    t_job = job;
    WorkerRun run;
    reset_run(&run, job);
    DownloadEnd end;
    for (;;) {
        end = run_download(&run, g_state.jobs[job].connect_request);
        if (end != END_NICK) break;
        // Not the owner: this connection ends, the request does not.
        release_run(&run);
        AfterMismatch next = after_mismatch(&run);
        if (next == STOPPED) {
            end = END_STOPPED;
            break;
        }
        if (next == WAIT_AGAIN) return;
        reset_run(&run, job);
    }
    finish_download(&run, end);
}

namespace {

// An accepted connection on its way to its thread: taken by the UI thread,
// given back when its handshake ends (claimed by a job or closed).
struct IncomingStart {
    int socket;
    uint8_t tls;
    uint8_t busy;  // atomic
};
IncomingStart g_incoming[INCOMING_HANDSHAKES];

IncomingStart* take_incoming_slot() {
    for (IncomingStart& start : g_incoming) {
        uint8_t expected = 0;
        if (std::atomic_ref<uint8_t>(start.busy).compare_exchange_strong(expected, 1)) {
            std::atomic_ref<uint8_t>(g_state.handshakes).fetch_add(1);
            return &start;
        }
    }
    return nullptr;
}

void give_incoming_slot(IncomingStart* start) {
    std::atomic_ref<uint8_t>(g_state.handshakes).fetch_sub(1);
    std::atomic_ref<uint8_t>(start->busy).store(0);
}

// The whole handshake of an incoming connection is bounded by one deadline.
struct IncomingDeadline {
    uint64_t until;
};
int incoming_overdue(void* deadline) { return monotonic_ms() >= ((const IncomingDeadline*)deadline)->until ? 1 : 0; }
int left_ms(const IncomingDeadline* deadline) {
    uint64_t now = monotonic_ms();
    return now >= deadline->until ? 0 : (int)(deadline->until - now);
}

// Receives the peer's "$MyNick <nick>|$Lock ...|" into the run's reply
// buffer (what follows stays there for the greeting's parse). True with the
// nick; false when the peer said something else, too much, or too late.
bool receive_incoming_nick(WorkerRun* run, IncomingDeadline* deadline, char* nick) {
    run->reply_length = 0;
    for (;;) {
        int room = HANDSHAKE_RECEIVE_BYTES - 1 - run->reply_length;
        if (room <= 0) return false;
        int got = 0;
        LinkWait wait = link_receive(&run->link, run->reply + run->reply_length, room, &got, left_ms(deadline),
                                     incoming_overdue, deadline);
        if (wait != LINK_DATA) return false;
        traffic_add_received((uint32_t)got);
        run->reply_length += got;
        run->reply[run->reply_length] = 0;
        IncomingStatus status = parse_incoming_greeting(run->reply, run->reply_length, nick, RESULT_NICK_BYTES);
        if (status == INCOMING_OK) return true;
        if (status == INCOMING_MALFORMED) return false;
    }
}

// The job whose $ConnectToMe waits for this nick, handed over and
// connecting; -1 when Kivo asked nobody by that nick.
int claim_incoming(const char* nick) {
    int found = -1;
    download_lock();
    for (int job = 0; job < DOWNLOAD_JOBS && found < 0; job++) {
        const DownloadJob& j = g_state.jobs[job];
        // Its handover was written by the UI thread when the connection came,
        // for this request: a connection older than the request has none.
        if (download_requested(job) && j.asked_active != 0 && g_handover_for[job] == j.requested_ms &&
            strcmp(j.nick, nick) == 0) {
            found = job;
        }
    }
    if (found >= 0) start_connecting(found);
    download_unlock();
    return found;
}

// The peer spoke first; Kivo's greeting answers it, and the peer's
// $Supports, $Direction and $Key complete what it said: from there the
// exchange is the same as on a connection Kivo made.
DownloadEnd run_incoming(WorkerRun* run, bool tls) {
    download_set_link(run->job, tls ? DOWNLOAD_LINK_TLS : DOWNLOAD_LINK_PLAIN);
    if (!split_local_name(job_of(run).short_name, run->folders, QUEUE_NAME_BYTES, run->name, QUEUE_NAME_PART_BYTES)) {
        return END_NAME;
    }
    DownloadEnd end = make_folders(run);
    if (end != END_DONE) return end;
    char greeting_text[HANDSHAKE_RECEIVE_BYTES];
    int length = build_greeting(greeting_text, HANDSHAKE_RECEIVE_BYTES, handover_of(run).own_nick);
    if (!send_counted(run, greeting_text, length)) return END_SEND;
    PeerGreeting greeting;
    end = receive_greeting(run, &greeting);
    if (end != END_DONE) return end;
    return run_after_greeting(run, greeting);
}

void incoming_worker(void* argument) {
    IncomingStart* start = (IncomingStart*)argument;
    bool tls = start->tls != 0;
    WorkerRun run;
    reset_run(&run, -1);
    link_plain(&run.link, start->socket);
    IncomingDeadline deadline = {monotonic_ms() + INCOMING_HANDSHAKE_MS};
    char nick[RESULT_NICK_BYTES];
    bool greeted = (!tls || link_accept_tls(&run.link, INCOMING_HANDSHAKE_MS, incoming_overdue, &deadline,
                                            run.detail, DOWNLOAD_DETAIL_BYTES)) &&
                   receive_incoming_nick(&run, &deadline, nick);
    int job = greeted ? claim_incoming(nick) : -1;
    give_incoming_slot(start);
    if (job < 0) {
        // Nobody Kivo asked: the connection ends without a word or a note.
        link_close(&run.link);
        return;
    }
    t_job = job;
    run.job = job;
    run.silence_ms = g_handovers[job].silence_ms;
    finish_download(&run, run_incoming(&run, tls));
}

}  // namespace

void download_take_incoming(int socket, bool tls) {
    // Each request that waits for a peer's connection gets its handover now,
    // on this thread: the connection's thread may take any of them.
    bool asked = false;
    download_lock();
    for (int job = 0; job < DOWNLOAD_JOBS; job++) {
        if (!download_requested(job) || g_state.jobs[job].asked_active == 0) continue;
        snapshot_handover(job);
        asked = true;
    }
    download_unlock();
    IncomingStart* start = asked ? take_incoming_slot() : nullptr;
    if (start == nullptr) {
        closesocket(socket);
        return;
    }
    start->socket = socket;
    start->tls = tls ? 1 : 0;
    if (!thread_start(incoming_worker, start)) {
        closesocket(socket);
        give_incoming_slot(start);
    }
}
