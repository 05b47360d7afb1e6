// Opens a file list with the reader Kivo uses and closes it again, some
// rounds: per round the time from the file to the list held, the resident
// memory before, at its peak while open, and after closing (bench/file_list.sh).
//
//   file_list_open <list.xml.bz2> [rounds]
// Prints one line per round:
//   round N: open_ms <ms> cpu_ms <ms> entries <n> rss_before_kb <kB> peak_kb <kB> rss_open_kb <kB> rss_after_kb <kB>
#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/file_list.h"
#include "platform/platform.h"

namespace {

long status_kb(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long kb = -1;
    size_t n = strlen(field);
    while (fgets(line, sizeof line, f) != nullptr)
        if (strncmp(line, field, n) == 0 && line[n] == ':') kb = atol(line + n + 1);
    fclose(f);
    return kb;
}

// The peak (VmHWM) starts again from the resident memory now.
void reset_peak() {
    int fd = open("/proc/self/clear_refs", O_WRONLY);
    if (fd < 0) return;
    if (write(fd, "5", 1) != 1) fprintf(stderr, "file_list_open: cannot reset VmHWM\n");
    close(fd);
}

// User and system time of this process so far.
double cpu_ms() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return (double)(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (double)(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: file_list_open <list.xml.bz2> [rounds]\n");
        return 2;
    }
    int rounds = argc > 2 ? atoi(argv[2]) : 3;
    static char16_t path[4096];
    utf8_to_utf16(argv[1], -1, path, 4096);
    static FileList list;
    for (int round = 1; round <= rounds; round++) {
        long before = status_kb("VmRSS");
        reset_peak();
        double start = now_ms();
        double cpu_start = cpu_ms();
        FileListResult result = file_list_open(&list, path);
        double took = now_ms() - start;
        double cpu = cpu_ms() - cpu_start;
        long open_kb = status_kb("VmRSS");
        long peak = status_kb("VmHWM");
        uint32_t entries = list.count;
        if (result != FILE_LIST_WHOLE) {
            char note[3 * FILE_LIST_NOTE_UNITS];
            utf16_to_utf8(list.note, -1, note, sizeof note);
            fprintf(stderr, "file_list_open: not read whole: %s\n", note);
            return 1;
        }
        file_list_close(&list);
        long after = status_kb("VmRSS");
        printf("round %d: open_ms %.0f cpu_ms %.0f entries %u rss_before_kb %ld peak_kb %ld rss_open_kb %ld rss_after_kb %ld\n",
               round, took, cpu, entries, before, peak, open_kb, after);
        fflush(stdout);
    }
    return 0;
}
