// Download throughput over 127.0.0.1: the client's worker against a plain
// socket copy of the same bytes, side by side in one run.
//
// A forked sender process listens on 127.0.0.1. For each connection it either
// plays the file's owner (answers "$MyNick ..." with a greeting, the length
// reply and, after "$Send|", the bytes) or, when the first bytes are "PLAIN",
// sends the bytes at once. Both paths send the same bytes from the same 1 MiB
// pattern. In this process the plain receiver receives into a 50000-byte
// buffer, 49900 bytes per receive, and writes each chunk to a file; the
// download goes through start_download_worker and download_worker, as a
// relayed $ConnectToMe would start it. Each is run six times, interleaved;
// the best times are compared (the machine may be shared), the means shown. Finally this process's peak resident
// memory (VmHWM) is printed.
//
//   download_throughput [MiB]      (default 1024)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
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

constexpr int PATTERN_BYTES = 1 << 20;
constexpr int ROUNDS = 6;

bool send_all(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t put = send(fd, data, n, MSG_NOSIGNAL);
        if (put <= 0) return false;
        data += put;
        n -= (size_t)put;
    }
    return true;
}

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

void send_bytes(int fd, uint64_t total) {
    static char pattern[PATTERN_BYTES];
    for (int i = 0; i < PATTERN_BYTES; i++) pattern[i] = (char)(i * 131 + i / 4099);
    while (total > 0) {
        size_t n = total < (uint64_t)PATTERN_BYTES ? (size_t)total : (size_t)PATTERN_BYTES;
        if (!send_all(fd, pattern, n)) return;
        total -= n;
    }
}

void serve_one(int fd, uint64_t total) {
    char first[5];
    if (recv(fd, first, sizeof first, MSG_PEEK | MSG_WAITALL) != (ssize_t)sizeof first) return;
    if (memcmp(first, "PLAIN", 5) == 0) {
        read_until(fd, "PLAIN");
        send_bytes(fd, total);
        return;
    }
    read_until(fd, "ABCABC|");
    const char greeting[] = "$MyNick owner|$Lock EXTENDEDPROTOCOLABCABC Pk=BENCH|$Supports MiniSlots|"
                            "$Direction Upload 1|$Key bench|";
    send_all(fd, greeting, sizeof greeting - 1);
    read_until(fd, "$1|");
    std::string reply = "$FileLength " + std::to_string(total) + "|";
    send_all(fd, reply.data(), reply.size());
    read_until(fd, "$Send|");
    send_bytes(fd, total);
}

[[noreturn]] void run_sender(int listener, uint64_t total) {
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) _exit(0);
        serve_one(fd, total);
        close(fd);
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

// The plain copy: the same buffer, chunk size and file writes as the worker.
double plain_copy(int port, uint64_t total, bool* whole) {
    static char buffer[DOWNLOAD_CHUNK_BYTES];
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
        ssize_t got = recv(fd, buffer, DOWNLOAD_CHUNK_BYTES, 0);
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

double kivo_download(int port, uint64_t total, bool* whole) {
    text_copy(g_state.download.nick, RESULT_NICK_BYTES, "owner");
    text_copy(g_state.download.path, RESULT_PATH_BYTES, "share\\kivo.bin");
    text_copy(g_state.download.short_name, RESULT_SHORT_BYTES, "kivo.bin");
    download_request(0);
    std::string request = "$ConnectToMe me 127.0.0.1:" + std::to_string(port);
    auto start = std::chrono::steady_clock::now();
    start_download_worker(request.c_str());
    while (download_running() != 0) usleep(1000);
    double s = seconds_since(start);
    *whole = download_received() == total;
    unlink("kivo.bin");
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
    uint64_t total = mib << 20;
    int port = 0;
    int listener = listen_loopback(&port);
    if (listener < 0) return 1;
    pid_t sender = fork();
    if (sender == 0) run_sender(listener, total);
    close(listener);

    char dir[] = "/tmp/kivo-throughput-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) return 1;
    WSAStartup(0x0202);
    text_copy(g_state.settings.nick, NICK_BYTES, "me");
    u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");

    double best_plain = 1e30, best_kivo = 1e30, sum_plain = 0, sum_kivo = 0;
    bool all_whole = true;
    for (int round = 0; round < ROUNDS; round++) {
        // Alternating which goes first, so neither always follows the other's
        // file deletion and writeback.
        bool plain_whole = false, kivo_whole = false;
        double p = 0, k = 0;
        if (round % 2 == 0) {
            p = plain_copy(port, total, &plain_whole);
            k = kivo_download(port, total, &kivo_whole);
        } else {
            k = kivo_download(port, total, &kivo_whole);
            p = plain_copy(port, total, &plain_whole);
        }
        all_whole = all_whole && plain_whole && kivo_whole;
        printf("round %d: plain %.3f s, kivo %.3f s\n", round + 1, p, k);
        sum_plain += p;
        sum_kivo += k;
        if (p < best_plain) best_plain = p;
        if (k < best_kivo) best_kivo = k;
    }
    kill(sender, SIGTERM);
    waitpid(sender, nullptr, 0);
    rmdir(dir);

    double mb = (double)total / 1e6;
    printf("file:         %llu MiB over 127.0.0.1, best of %d each\n", (unsigned long long)mib, ROUNDS);
    printf("plain copy:   %.1f MB/s best, %.1f MB/s mean\n", mb / best_plain, mb * ROUNDS / sum_plain);
    printf("kivo worker:  %.1f MB/s best, %.1f MB/s mean\n", mb / best_kivo, mb * ROUNDS / sum_kivo);
    printf("ratio:        %.3f best, %.3f mean (target >= 0.9)\n", best_plain / best_kivo, sum_plain / sum_kivo);
    printf("peak memory:  VmHWM %ld KiB\n", peak_resident_kib());
    if (!all_whole) printf("WARNING: a transfer did not arrive whole\n");
    return all_whole ? 0 : 1;
}
