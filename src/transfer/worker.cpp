// The download worker: from the owner's $ConnectToMe to the local file.
//
// start_download_worker (UI thread) takes a $ConnectToMe only while a download
// is requested and none runs; it copies the message into the ConnectRequest,
// snapshots the own nick and the silence limit into the handover, marks the
// job running and starts the thread. Nothing else writes the ConnectRequest or
// the handover while the worker runs, so the worker reads them without a lock.
//
// The worker connects, greets, checks the peer's nick, echoes the peer's $Key
// with its $Get, reads the announced length, sends "$Send|" and receives the
// file through one fixed buffer. Every receive is bounded by the silence limit
// and checks the stop flag several times a second. However it ends, it ends in
// finish_download: file and socket closed, exactly one closing chat note
// (" ::downloaded::" only for a complete file), row -1, running cleared last.
#include <cstdio>
#include <cstring>

#include "hub/connection.h"
#include "hub/dispatch.h"
#include "state/client_state.h"
#include "transfer/download.h"
#include "transfer/handshake.h"

int download_silence_ms = DOWNLOAD_SILENCE_LIMIT_MS;

namespace {

// How often a waiting receive looks at the stop flag.
constexpr int STOP_CHECK_MS = 200;
// "$Supports ...|$Direction ...|" + the key (< HANDSHAKE_RECEIVE_BYTES) + "$Get " + path + "$1|".
constexpr int REQUEST_BYTES = 48 + HANDSHAKE_RECEIVE_BYTES + 5 + RESULT_PATH_BYTES + 3;
constexpr int NOTE_BYTES = 300;
constexpr int QUOTE_BYTES = 61;  // a peer's reply quoted in a note: at most 60 bytes

// What start_download_worker hands the worker besides the ConnectRequest.
struct WorkerHandover {
    char own_nick[NICK_BYTES];
    int silence_ms;
};
WorkerHandover worker_handover;

// Why a download ended; each has its closing chat note.
enum DownloadEnd {
    END_DONE,
    END_REQUEST,
    END_NAME,
    END_CONNECT,
    END_SEND,
    END_SILENT,
    END_CLOSED,
    END_GREETING,
    END_NICK,
    END_LENGTH,
    END_FILE,
    END_WRITE,
    END_SHORT,
    END_STOPPED,
};

struct DownloadNote {
    DownloadEnd end;
    const char* text;  // printf format; see note_for for its arguments
};

// %s: a detail text; %llu %llu: bytes received and announced.
const DownloadNote DOWNLOAD_NOTES[] = {
    {END_DONE, " ::downloaded::"},
    {END_REQUEST, " ::download failed:: malformed $ConnectToMe"},
    {END_NAME, " ::download failed:: unsafe file name"},
    {END_CONNECT, " ::download failed:: cannot connect to peer"},
    {END_SEND, " ::download failed:: send to peer failed"},
    {END_SILENT, " ::download failed:: peer silent, timed out"},
    {END_CLOSED, " ::download failed:: peer closed the connection"},
    {END_GREETING, " ::download failed:: malformed greeting: %s"},
    {END_NICK, " ::download failed:: peer nick mismatch"},
    {END_LENGTH, " ::download failed:: bad length reply: %s"},
    {END_FILE, " ::download failed:: cannot create file"},
    {END_WRITE, " ::download failed:: cannot write file"},
    {END_SHORT, " ::download failed:: peer stopped at %llu of %llu bytes"},
    {END_STOPPED, " ::download stopped:: at %llu of %llu bytes"},
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

// The worker's own storage, on its stack.
struct WorkerRun {
    int socket;      // -1 until connected
    int file;        // FILE_INVALID until created
    int silence_ms;
    uint64_t received;
    uint64_t total;
    char detail[QUOTE_BYTES];  // the greeting's fault or the quoted length reply
    char name[RESULT_SHORT_BYTES];  // the safe local name, 1251
    char buffer[DOWNLOAD_BUFFER_BYTES];
};

// Results of receive_bounded besides a byte count.
constexpr int RECEIVE_CLOSED = 0;
constexpr int RECEIVE_ERROR = -1;
constexpr int RECEIVE_SILENT = -2;
constexpr int RECEIVE_STOPPED = -3;

// One receive of at most bytes, waiting at most the silence limit in slices
// so that "Stop" is seen within STOP_CHECK_MS.
int receive_bounded(WorkerRun* run, char* dst, int bytes) {
    uint64_t start = monotonic_ms();
    for (;;) {
        if (download_stop_requested()) return RECEIVE_STOPPED;
        uint64_t waited = monotonic_ms() - start;
        if (waited >= (uint64_t)run->silence_ms) return RECEIVE_SILENT;
        uint64_t left = (uint64_t)run->silence_ms - waited;
        int slice = left < (uint64_t)STOP_CHECK_MS ? (int)left : STOP_CHECK_MS;
        int got = recv_timeout(run->socket, dst, bytes, slice);
        if (got != RECEIVE_SILENT) return got < RECEIVE_CLOSED ? RECEIVE_ERROR : got;
    }
}

// How a handshake or data receive that yielded no bytes ends the download.
DownloadEnd end_of_receive(int got, DownloadEnd if_closed) {
    if (got == RECEIVE_STOPPED) return END_STOPPED;
    if (got == RECEIVE_SILENT) return END_SILENT;
    return if_closed;
}

// One whole send, counted. A partial send fails: the peer would read a cut message.
bool send_counted(WorkerRun* run, const char* data, int bytes) {
    if (bytes < 0) return false;
    int sent = send_once(run->socket, data, bytes);
    if (sent > 0) traffic_add_sent((uint32_t)sent);
    return sent == bytes;
}

const char* greeting_reason(GreetingStatus status) {
    for (const GreetingReason& r : GREETING_REASONS) {
        if (r.status == status) return r.text;
    }
    return "";
}

// Receives the peer's greeting, in as many receives as it takes, into the
// buffer's first HANDSHAKE_RECEIVE_BYTES; a greeting that does not fit there
// is malformed.
DownloadEnd receive_greeting(WorkerRun* run, PeerGreeting* greeting) {
    int have = 0;
    GreetingStatus status = GREETING_NO_NICK_BAR;
    while (greeting_incomplete(status) && have < HANDSHAKE_RECEIVE_BYTES - 1) {
        int got = receive_bounded(run, run->buffer + have, HANDSHAKE_RECEIVE_BYTES - 1 - have);
        if (got <= 0 && (have == 0 || got == RECEIVE_STOPPED)) return end_of_receive(got, END_CLOSED);
        if (got <= 0) break;  // part of a greeting, then silence or close
        traffic_add_received((uint32_t)got);
        have += got;
        run->buffer[have] = 0;
        status = parse_peer_greeting(run->buffer, have, g_state.download.nick, greeting);
    }
    if (status == GREETING_OK) return END_DONE;
    if (status == GREETING_NICK_MISMATCH) return END_NICK;
    text_copy(run->detail, QUOTE_BYTES, greeting_reason(status));
    return END_GREETING;
}

// Receives the length reply (a "$FileLength <n>|") into the buffer.
DownloadEnd receive_length(WorkerRun* run) {
    int have = 0;
    int quoted = 0;
    LengthStatus status = LENGTH_NO_BAR;
    while (status == LENGTH_NO_BAR && have < HANDSHAKE_RECEIVE_BYTES - 1) {
        int got = receive_bounded(run, run->buffer + have, HANDSHAKE_RECEIVE_BYTES - 1 - have);
        if (got <= 0 && (have == 0 || got == RECEIVE_STOPPED)) return end_of_receive(got, END_CLOSED);
        if (got <= 0) break;
        traffic_add_received((uint32_t)got);
        have += got;
        run->buffer[have] = 0;
        status = parse_length_reply(run->buffer, have, &run->total, &quoted);
    }
    if (status == LENGTH_OK) {
        download_set_total(run->total);
        return END_DONE;
    }
    text_copy_n(run->detail, QUOTE_BYTES, run->buffer, quoted);
    return END_LENGTH;
}

DownloadEnd exchange_handshake(WorkerRun* run) {
    // The greeting is built in the receive buffer, which is free until the reply.
    int length = build_greeting(run->buffer, DOWNLOAD_BUFFER_BYTES, worker_handover.own_nick);
    if (!send_counted(run, run->buffer, length)) return END_SEND;
    PeerGreeting greeting;
    DownloadEnd end = receive_greeting(run, &greeting);
    if (end != END_DONE) return end;
    char request[REQUEST_BYTES];
    length = build_download_request(request, REQUEST_BYTES, run->buffer + greeting.key_start, greeting.key_length,
                                    g_state.download.path);
    if (!send_counted(run, request, length)) return END_SEND;
    end = receive_length(run);
    if (end != END_DONE) return end;
    if (!send_counted(run, SEND_REQUEST_TEXT, (int)strlen(SEND_REQUEST_TEXT))) return END_SEND;
    return END_DONE;
}

// The main screen shows the ChatLog only when it paints, and a worker cannot
// ask for a paint (repaint requests belong to the user-interface thread), so
// it posts the paint message itself after its notes: without it they would
// stay unseen until some hub traffic or key press repainted the screen.
void show_notes() {
    // Reaches g_state: main_window, set once before any worker starts.
    if (g_state.main_window != 0) post_message(g_state.main_window, WM_PAINT, 0, 0);
}

// Receives exactly the announced length, chunk by chunk, and writes it. A
// chunk is never asked for beyond what is still due, so a peer that sends
// more than it announced has its surplus left unread.
DownloadEnd receive_file(WorkerRun* run) {
    chat_append("::start download::");
    chat_append(g_state.download.short_name);
    show_notes();
    char16_t wide_name[LOCAL_NAME_UNITS];
    cp1251_to_utf16(run->name, -1, wide_name, LOCAL_NAME_UNITS);
    // Created or truncated: an older, longer file of the name keeps no stale tail.
    run->file = file_create_truncate(wide_name);
    if (run->file == FILE_INVALID) return END_FILE;
    while (run->received < run->total) {
        uint64_t due = run->total - run->received;
        int want = due < (uint64_t)DOWNLOAD_CHUNK_BYTES ? (int)due : DOWNLOAD_CHUNK_BYTES;
        int got = receive_bounded(run, run->buffer, want);
        if (got <= 0) return end_of_receive(got, END_SHORT);
        traffic_add_received((uint32_t)got);
        run->received += (uint64_t)got;
        download_set_received(run->received);
        if (file_write(run->file, run->buffer, got) != got) return END_WRITE;
    }
    return END_DONE;
}

DownloadEnd run_download(WorkerRun* run, const char* request) {
    ConnectAddress address;
    if (!parse_connect_request(request, (int)strlen(worker_handover.own_nick), &address)) return END_REQUEST;
    if (!make_safe_file_name(g_state.download.short_name, run->name, RESULT_SHORT_BYTES)) return END_NAME;
    int sock = tcp_connect(address.host, address.port, SOCKET_STREAM);
    if (sock < 0) return END_CONNECT;
    run->socket = sock;
    DownloadEnd end = exchange_handshake(run);
    if (end != END_DONE) return end;
    return receive_file(run);
}

void note_for(const WorkerRun* run, DownloadEnd end, char* note) {
    note[0] = 0;
    for (const DownloadNote& n : DOWNLOAD_NOTES) {
        if (n.end != end) continue;
        if (end == END_GREETING || end == END_LENGTH) {
            snprintf(note, NOTE_BYTES, n.text, run->detail);
        } else if (end == END_SHORT || end == END_STOPPED) {
            snprintf(note, NOTE_BYTES, n.text, (unsigned long long)run->received, (unsigned long long)run->total);
        } else {
            text_copy(note, NOTE_BYTES, n.text);
        }
    }
}

void finish_download(WorkerRun* run, DownloadEnd end) {
    file_close(run->file);
    if (run->socket >= 0) closesocket(run->socket);
    char note[NOTE_BYTES];
    note_for(run, end, note);
    chat_append(note);
    download_set_row(-1);
    show_notes();
    download_set_running(0);  // last: from here the UI thread may start another
}

// Ends a download that never reached a worker (UI thread).
void refuse_request(const char* note) {
    chat_append(note);
    download_set_requested(0);
    download_set_row(-1);
}

bool is_connect_to_me(const char* message) {
    return strncmp(message, "$ConnectToMe ", 13) == 0;
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
        // No directory separator, so the file stays in the current directory;
        // no control bytes, which a terminal listing would act on.
        dst[i] = (c == '/' || c < 0x20 || c == 0x7F) ? '_' : (char)c;
    }
    dst[length] = 0;
    return 1;
}

void start_download_worker(const char* message) {
    // Reaches g_state: the DownloadJob's flags, the ConnectRequest, the nick.
    // Without a requested download, or while one runs, the message is ignored:
    // otherwise anyone on the hub could make the client connect anywhere.
    if (!is_connect_to_me(message) || !download_requested() || download_running()) return;
    if (strlen(message) > CONNECT_REQUEST_BYTES - 1) {
        refuse_request(" ::download failed:: $ConnectToMe too long");
        return;
    }
    text_copy(g_state.connect_request, CONNECT_REQUEST_BYTES, message);
    text_copy(worker_handover.own_nick, NICK_BYTES, g_state.settings.nick);
    worker_handover.silence_ms = download_silence_ms > 0 ? download_silence_ms : 1;
    download_set_stop(0);
    download_set_received(0);
    download_set_total(0);
    download_set_requested(0);
    download_set_running(1);
    if (!thread_start(download_worker, g_state.connect_request)) {
        download_set_running(0);
        refuse_request(" ::download failed:: cannot start worker");
    }
}

void download_worker(void* request) {
    static_assert(DOWNLOAD_CHUNK_BYTES <= DOWNLOAD_BUFFER_BYTES, "a chunk must fit the buffer");
    WorkerRun run;
    run.socket = -1;
    run.file = FILE_INVALID;
    run.silence_ms = worker_handover.silence_ms;
    run.received = 0;
    run.total = 0;
    run.detail[0] = 0;
    run.name[0] = 0;
    DownloadEnd end = run_download(&run, (const char*)request);
    finish_download(&run, end);
}
