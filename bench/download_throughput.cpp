// Download throughput over 127.0.0.1, six measurements of the same file side
// by side in one run:
//
//   plain    a plain socket copy: receive, write each chunk to a file
//   rhash    `rhash --tth --simple` of the file (its root is what the
//            verified download checks against)
//   verified the client's worker asking with $ADCGET by TTH, its ring's
//            hashing threads (one per core) hashing while it receives,
//            renaming the part when the root matches
//   legacy   the client's worker asking with $Get, no TTH: nothing hashed
//   rhash x3 three `rhash --tth` of the file at once, timed to the last end
//   verified x3  three jobs' workers each downloading the file verified at
//            once, timed to the last end
//
// The file (MiB of pseudo-random bytes) is written into a scratch folder and
// synced once, so every reader takes it from the page cache. Forked sender
// processes, one per listening port, serve it with sendfile: at once for the
// plain copy; after the owner's greeting (with or without ADCGet in its
// $Supports) and the $ADCSND or $FileLength/$Send exchange for the worker;
// each connection in a process of its own, so that three are served at once.
// Each worker runs as a relayed $ConnectToMe starts it
// (download_take_connect), with its job filled as the queue fills it. The plain copy
// receives PLAIN_CHUNK_BYTES at a time and writes each chunk to a file, as
// the worker does; its size is fixed here rather than taken from the
// worker's, so the yardstick does not move when the worker's receive size
// does. Each of the four runs once per round; the order rotates so
// that each takes every position. Best times are compared (the machine has
// two cores and may be shared), the means shown:
//
//   verified ratio = slower of (plain, rhash) / verified   target >= 0.9:
//                    the hash overlaps the transfer instead of following it
//   rhash ratio    = rhash / verified                       target >= 1.0:
//                    ahead of a hash on one thread
//   three ratio    = rhash x3 / verified x3                 target >= 0.9
//   legacy ratio   = plain / legacy                        target >= 0.9
//
// Finally this process's peak resident memory (VmHWM) is printed.
//
//   download_throughput [MiB] [rounds]      (default 1024 and 8)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "state/client_state.h"
#include "transfer/download.h"

namespace {

constexpr char SOURCE_NAME[] = "source.bin";
constexpr int DEFAULT_ROUNDS = 8;
// Downloads (and rhash runs) at once in the x3 measurements.
constexpr int AT_ONCE = 3;
// A common size for a socket-to-file copy, and the worker's longest receive
// when this was written.
constexpr int PLAIN_CHUNK_BYTES = 64 * 1024;

enum Measure { PLAIN, RHASH, VERIFIED, LEGACY, RHASH3, VERIFIED3, MEASURES };
const char* const MEASURE_NAMES[MEASURES] = {"plain copy", "rhash --tth",  "kivo $ADCGET+TTH",
                                             "kivo $Get",  "rhash x3",     "kivo $ADCGET+TTH x3"};

// What a sender process does with each connection.
enum Role { ROLE_PLAIN, ROLE_LEGACY, ROLE_ADC, ROLES };

bool send_all(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t put = send(fd, data, n, MSG_NOSIGNAL);
        if (put <= 0) return false;
        data += put;
        n -= (size_t)put;
    }
    return true;
}

bool send_text(int fd, const std::string& text) { return send_all(fd, text.data(), text.size()); }

// Reads until the text has been seen (or the peer closes); returns what came.
std::string read_until(int fd, const char* text) {
    std::string got;
    char buffer[4096];
    while (got.find(text) == std::string::npos) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, (size_t)n);
    }
    return got;
}

// Sends count bytes of the source file from offset, as the demo hub does.
void send_file(int fd, uint64_t offset, uint64_t count) {
    int file = open(SOURCE_NAME, O_RDONLY);
    if (file < 0) return;
    off_t at = (off_t)offset;
    while (count > 0) {
        size_t n = count < (1u << 30) ? (size_t)count : (1u << 30);
        ssize_t put = sendfile(fd, file, &at, n);
        if (put <= 0) break;
        count -= (uint64_t)put;
    }
    close(file);
}

std::string greeting(bool adc_get) {
    return std::string("$MyNick owner|$Lock EXTENDEDPROTOCOLABCABC Pk=BENCH|$Supports MiniSlots ") +
           (adc_get ? "ADCGet TTHF" : "XmlBZList") + "|$Direction Upload 1|$Key bench|";
}

// "$ADCGET file <id> <offset> <length>|" answered with "$ADCSND" and the bytes.
void serve_adc(int fd, uint64_t total) {
    read_until(fd, "ABCABC|");
    send_text(fd, greeting(true));
    std::string got = read_until(fd, "$ADCGET file ");
    size_t at = got.find("$ADCGET file ");
    while (at != std::string::npos && got.find('|', at) == std::string::npos) {
        std::string more = read_until(fd, "|");
        if (more.empty()) return;
        got += more;
    }
    if (at == std::string::npos) return;
    std::string request = got.substr(at + 13, got.find('|', at) - at - 13);
    char id[200];
    unsigned long long offset = 0;
    long long length = 0;
    if (sscanf(request.c_str(), "%199s %llu %lld", id, &offset, &length) != 3 || offset > total) return;
    uint64_t count = total - offset;
    if (length >= 0 && (uint64_t)length < count) count = (uint64_t)length;
    send_text(fd, "$ADCSND file " + std::string(id) + " " + std::to_string(offset) + " " + std::to_string(count) +
                      "|");
    send_file(fd, offset, count);
}

// "$Get <path>$1|", "$FileLength", "$Send|" and the bytes.
void serve_legacy(int fd, uint64_t total) {
    read_until(fd, "ABCABC|");
    send_text(fd, greeting(false));
    read_until(fd, "$1|");
    send_text(fd, "$FileLength " + std::to_string(total) + "|");
    read_until(fd, "$Send|");
    send_file(fd, 0, total);
}

[[noreturn]] void run_sender(int listener, Role role, uint64_t total) {
    signal(SIGCHLD, SIG_IGN);  // the connections' processes are not waited for
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) _exit(0);
        if (fork() != 0) {
            close(fd);
            continue;
        }
        close(listener);
        if (role == ROLE_PLAIN) {
            read_until(fd, "PLAIN");
            send_file(fd, 0, total);
        } else if (role == ROLE_LEGACY) {
            serve_legacy(fd, total);
        } else {
            serve_adc(fd, total);
        }
        close(fd);
        _exit(0);
    }
}

int listen_loopback(int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, (sockaddr*)&address, sizeof address) != 0 || listen(fd, 4) != 0) return -1;
    socklen_t length = sizeof address;
    getsockname(fd, (sockaddr*)&address, &length);
    *port = ntohs(address.sin_port);
    return fd;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The file: xorshift64 bytes, so no block repeats; synced, so no writeback
// of it falls into a round.
bool make_source(uint64_t total) {
    static uint64_t block[1 << 17];  // 1 MiB
    int file = open(SOURCE_NAME, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0) return false;
    uint64_t x = 0x9E3779B97F4A7C15ull;
    uint64_t left = total;
    while (left > 0) {
        for (uint64_t& word : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        size_t n = left < sizeof block ? (size_t)left : sizeof block;
        if (write(file, block, n) != (ssize_t)n) return false;
        left -= n;
    }
    bool ok = fsync(file) == 0;
    close(file);
    return ok;
}

int64_t file_size(const char* name) {
    struct stat s;
    return stat(name, &s) == 0 ? (int64_t)s.st_size : -1;
}

// The plain copy: receive a chunk, write it, as the worker does, with nothing
// around it.
double plain_copy(int port, uint64_t total, bool* whole) {
    static char buffer[PLAIN_CHUNK_BYTES];
    auto start = std::chrono::steady_clock::now();
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons((uint16_t)port);
    if (connect(fd, (sockaddr*)&address, sizeof address) != 0) return 0;
    send_all(fd, "PLAIN", 5);
    int file = open("plain.bin", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    uint64_t got_total = 0;
    while (got_total < total) {
        ssize_t got = recv(fd, buffer, PLAIN_CHUNK_BYTES, 0);
        if (got <= 0) break;
        if (write(file, buffer, (size_t)got) != got) break;
        got_total += (uint64_t)got;
    }
    close(file);
    close(fd);
    double s = seconds_since(start);
    *whole = got_total == total;
    unlink("plain.bin");
    return s;
}

// rhash --tth --simple on the file, count runs at once, timed to the last
// end; the first one's root (upper case) goes into root, and whole says that
// each gave that root.
double rhash_tth(int count, char* root, bool* whole) {
    int out[AT_ONCE][2];
    pid_t child[AT_ONCE];
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; i++) {
        if (pipe(out[i]) != 0) return 0;
        child[i] = fork();
        if (child[i] == 0) {
            dup2(out[i][1], 1);
            close(out[i][0]);
            close(out[i][1]);
            execlp("rhash", "rhash", "--tth", "--simple", SOURCE_NAME, (char*)nullptr);
            _exit(127);
        }
        close(out[i][1]);
    }
    char text[AT_ONCE][200] = {};
    size_t have[AT_ONCE] = {};
    for (int i = 0; i < count; i++) {
        ssize_t n;
        while (have[i] < sizeof text[i] - 1 &&
               (n = read(out[i][0], text[i] + have[i], sizeof text[i] - 1 - have[i])) > 0) {
            have[i] += (size_t)n;
        }
        close(out[i][0]);
    }
    bool ok = true;
    for (int i = 0; i < count; i++) {
        int status = 0;
        waitpid(child[i], &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    double s = seconds_since(start);
    // "<39 base32 characters>  source.bin"
    for (int i = 0; i < count; i++) {
        ok = ok && have[i] > TTH_BASE32_CHARS && text[i][TTH_BASE32_CHARS] == ' ' &&
             strncasecmp(text[i], text[0], TTH_BASE32_CHARS) == 0;
    }
    *whole = ok;
    for (int i = 0; i < TTH_BASE32_CHARS; i++) {
        char c = text[0][i];
        root[i] = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
    }
    root[TTH_BASE32_CHARS] = '\0';
    return s;
}

// Downloads through count jobs' workers at once from the sender on port;
// with an empty tth nothing is checked. Whole: every byte in, each part
// renamed to its short name, and for a TTH each worker's note that it
// matched.
double kivo_download(int count, int port, uint64_t total, const char* tth, bool* whole) {
    char names[AT_ONCE][RESULT_SHORT_BYTES];
    for (int job = 0; job < count; job++) {
        DownloadJob& j = g_state.jobs[job];
        snprintf(names[job], RESULT_SHORT_BYTES, "kivo%d.bin", job);
        text_copy(j.nick, RESULT_NICK_BYTES, "owner");
        snprintf(j.path, RESULT_PATH_BYTES, "share\\%s", names[job]);
        text_copy(j.short_name, RESULT_SHORT_BYTES, names[job]);
        text_copy(j.tth, TTH_TEXT_BYTES, tth);
        j.size = total;
    }
    chatlog_clear();
    for (int job = 0; job < count; job++) download_request(job);
    std::string request = "$ConnectToMe me 127.0.0.1:" + std::to_string(port);
    auto start = std::chrono::steady_clock::now();
    for (int job = 0; job < count; job++) download_take_connect(request.c_str());
    while (download_any_running()) usleep(1000);
    double s = seconds_since(start);
    static char16_t log[10000];
    chatlog_copy_text(log, 10000);
    std::u16string notes(log);
    int verified = 0;
    for (size_t at = notes.find(u"TTH verified"); at != std::u16string::npos; at = notes.find(u"TTH verified", at + 1)) {
        verified++;
    }
    bool ok = tth[0] == '\0' || verified == count;
    for (int job = 0; job < count; job++) {
        ok = ok && download_received(job) == total && file_size(names[job]) == (int64_t)total &&
             download_outcome(job) == DOWNLOAD_DONE;
        unlink(names[job]);
    }
    *whole = ok;
    if (!ok) {
        std::string ascii;
        for (char16_t c : notes) ascii += c < 0x80 ? (char)c : '?';
        fprintf(stderr, "download notes: %s\n", ascii.c_str());
    }
    return s;
}

long peak_resident_kib() {
    FILE* status = fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    while (status != nullptr && fgets(line, sizeof line, status) != nullptr) {
        if (strncmp(line, "VmHWM:", 6) == 0) kib = atol(line + 6);
    }
    if (status != nullptr) fclose(status);
    return kib;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1024;
    int rounds = argc > 2 ? atoi(argv[2]) : DEFAULT_ROUNDS;
    if (mib == 0 || rounds < 1) return 2;
    uint64_t total = mib << 20;

    char dir[] = "/tmp/kivo-throughput-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) return 1;
    printf("writing the %llu MiB file...\n", (unsigned long long)mib);
    fflush(stdout);
    if (!make_source(total)) return 1;

    int ports[ROLES];
    pid_t senders[ROLES];
    for (int role = 0; role < ROLES; role++) {
        int listener = listen_loopback(&ports[role]);
        if (listener < 0) return 1;
        senders[role] = fork();
        if (senders[role] == 0) run_sender(listener, (Role)role, total);
        close(listener);
    }

    WSAStartup(0x0202);
    text_copy(g_state.settings.nick, NICK_BYTES, "me");
    text_copy(g_state.hub_nick, HUB_NICK_BYTES, "me");  // the nick in the hub's encoding, as Connect makes it
    u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");

    // The root the verified download checks against, from rhash itself;
    // this first run also puts rhash and the file in the page cache.
    char root[TTH_TEXT_BYTES] = "";
    bool root_taken = false;
    rhash_tth(1, root, &root_taken);
    if (!root_taken) {
        fprintf(stderr, "rhash --tth gave no root\n");
        return 1;
    }

    double best[MEASURES], sum[MEASURES];
    for (int m = 0; m < MEASURES; m++) best[m] = 1e30, sum[m] = 0;
    bool all_whole = true;
    for (int round = 0; round < rounds; round++) {
        double t[MEASURES] = {};
        bool whole[MEASURES] = {};
        for (int i = 0; i < MEASURES; i++) {
            // Rotating the order: each measurement follows each other one in
            // turn (another's file deletion and writeback, a warm cache).
            int m = (round + i) % MEASURES;
            if (m == PLAIN) t[m] = plain_copy(ports[ROLE_PLAIN], total, &whole[m]);
            if (m == VERIFIED) t[m] = kivo_download(1, ports[ROLE_ADC], total, root, &whole[m]);
            if (m == VERIFIED3) t[m] = kivo_download(AT_ONCE, ports[ROLE_ADC], total, root, &whole[m]);
            if (m == LEGACY) t[m] = kivo_download(1, ports[ROLE_LEGACY], total, "", &whole[m]);
            if (m == RHASH || m == RHASH3) {
                char again[TTH_TEXT_BYTES];
                t[m] = rhash_tth(m == RHASH ? 1 : AT_ONCE, again, &whole[m]);
                whole[m] = whole[m] && strcmp(again, root) == 0;
            }
        }
        printf("round %d:", round + 1);
        for (int m = 0; m < MEASURES; m++) {
            printf("  %s %.3f s%s", MEASURE_NAMES[m], t[m], whole[m] ? "" : " (FAILED)");
            all_whole = all_whole && whole[m];
            sum[m] += t[m];
            if (t[m] < best[m]) best[m] = t[m];
        }
        printf("\n");
        fflush(stdout);
    }
    for (int role = 0; role < ROLES; role++) {
        kill(senders[role], SIGTERM);
        waitpid(senders[role], nullptr, 0);
    }
    unlink(SOURCE_NAME);
    rmdir(dir);

    double mb = (double)total / 1e6;
    printf("file:         %llu MiB over 127.0.0.1, TTH %s; best of %d rounds each\n", (unsigned long long)mib,
           root, rounds);
    for (int m = 0; m < MEASURES; m++) {
        double files = m == RHASH3 || m == VERIFIED3 ? AT_ONCE : 1;
        printf("%-20s %.3f s best, %7.1f MB/s best, %7.1f MB/s mean\n", MEASURE_NAMES[m], best[m],
               files * mb / best[m], files * mb * rounds / sum[m]);
    }
    double slower = best[PLAIN] > best[RHASH] ? best[PLAIN] : best[RHASH];
    double slower_mean = sum[PLAIN] > sum[RHASH] ? sum[PLAIN] : sum[RHASH];
    printf("verified ratio:   %.3f best, %.3f mean (slower of plain copy and rhash / kivo $ADCGET+TTH;"
           " target >= 0.9)\n",
           slower / best[VERIFIED], slower_mean / sum[VERIFIED]);
    printf("rhash ratio:      %.3f best, %.3f mean (rhash / kivo $ADCGET+TTH; target >= 1.0)\n",
           best[RHASH] / best[VERIFIED], sum[RHASH] / sum[VERIFIED]);
    printf("three at once:    %.3f best, %.3f mean (rhash x3 / kivo $ADCGET+TTH x3; target >= 0.9)\n",
           best[RHASH3] / best[VERIFIED3], sum[RHASH3] / sum[VERIFIED3]);
    printf("legacy ratio:     %.3f best, %.3f mean (plain copy / kivo $Get; target >= 0.9)\n",
           best[PLAIN] / best[LEGACY], sum[PLAIN] / sum[LEGACY]);
    printf("peak memory:      VmHWM %ld KiB (this process: the worker, its ring, the whole ClientState)\n",
           peak_resident_kib());
    if (!all_whole) printf("WARNING: a measurement failed or a transfer did not arrive whole\n");
    return all_whole ? 0 : 1;
}
