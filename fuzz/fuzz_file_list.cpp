// file_list_open on a file of fuzzed bytes, bzip2 and XML together. The
// first byte chooses: 'X' and the rest is the list's text, which the harness
// compresses, in up to three concatenated streams cut where the second and
// third bytes say (so the fuzzer works on the XML); anything else and the
// rest is the file as it is (so it works on bzip2's own bytes). Whatever it
// reads, the list holds entries within the caps, each parent before its
// children, names within the names zone, each folder's children exactly
// the entries naming it as parent, with totals that add up; every entry's
// path, shown name, TTH and a search run; the close gives the arena back.
#include <bzlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/file_list.h"
#include "platform/platform.h"

namespace {

unsigned char g_compressed[1 << 20];

void check_list(FileList* list) {
    if (list->count == 0 || list->count > FILE_LIST_ENTRIES) abort();
    if (list->names_used > FILE_LIST_NAMES_BYTES) abort();
    uint32_t children = 0;
    for (uint32_t e = 0; e < list->count; e++) {
        const FileListEntry* entry = file_list_entry(list, e);
        if (entry->name_bytes > FILE_LIST_NAME_BYTES || entry->name_at + entry->name_bytes >= list->names_used) abort();
        if (e == FILE_LIST_ROOT ? entry->parent != FILE_LIST_NO_ENTRY : entry->parent >= e) abort();
        if (e != FILE_LIST_ROOT && !(file_list_entry(list, entry->parent)->flags & FILE_LIST_FOLDER)) abort();
        char path[FILE_LIST_NAME_BYTES * (FILE_LIST_DEPTH + 3)];
        int length = file_list_path(list, e, path, sizeof path);
        if (length == 0 && e != FILE_LIST_ROOT && entry->name_bytes > 0) abort();
        char16_t shown[64];
        file_list_name_shown(list, e, shown, 64);
        char tth[40];
        file_list_tth_text(list, e, tth);
        if (!(entry->flags & FILE_LIST_FOLDER)) continue;
        const uint32_t* c;
        uint32_t n = file_list_children(list, e, (FileListOrder)(1 + e % 2), &c);
        uint64_t files = 0;
        for (uint32_t i = 0; i < n; i++) {
            const FileListEntry* child = file_list_entry(list, c[i]);
            if (child->parent != e) abort();
            files += (child->flags & FILE_LIST_FOLDER) ? child->files : 1;
        }
        if (files != entry->files) abort();
        children += n;
    }
    if (children != list->count - 1) abort();
    FileListTotal total = file_list_total(list);
    if (total.files + total.folders + 1 != list->count) abort();
    file_list_find(list, "a", 1, FILE_LIST_NO_ENTRY);
}

// The bytes as the file's, in memory, at a path that opens it.
int memory_file(const uint8_t* data, size_t size) {
    int fd = memfd_create("list", 0);
    if (fd < 0 || write(fd, data, size) != (ssize_t)size) abort();
    return fd;
}

size_t compress_streams(const uint8_t* text, size_t size, const uint8_t cuts[2]) {
    size_t at[4] = {0, size * cuts[0] / 256, size * cuts[1] / 256, size};
    if (at[2] < at[1]) at[2] = at[1];
    size_t used = 0;
    for (int s = 0; s < 3; s++) {
        if (at[s + 1] == at[s] && s > 0) continue;
        unsigned length = (unsigned)(sizeof g_compressed - used);
        if (BZ2_bzBuffToBuffCompress((char*)g_compressed + used, &length, (char*)text + at[s],
                                     (unsigned)(at[s + 1] - at[s]), 1, 0, 30) != BZ_OK)
            return 0;
        used += length;
    }
    return used;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (256u << 10)) return 0;
    int fd;
    if (data[0] == 'X' && size >= 3) {
        size_t length = compress_streams(data + 3, size - 3, data + 1);
        if (length == 0) return 0;
        fd = memory_file(g_compressed, length);
    } else {
        fd = memory_file(data + 1, size - 1);
    }
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    char16_t wide[64];
    utf8_to_utf16(path, -1, wide, 64);
    static FileList list;
    FileListResult result = file_list_open(&list, wide);
    if (result == FILE_LIST_UNREAD) {
        if (list.region != nullptr || list.count != 0 || list.note[0] == 0) abort();
    } else {
        if ((result == FILE_LIST_WHOLE) != (list.note[0] == 0)) abort();
        check_list(&list);
    }
    file_list_close(&list);
    if (list.region != nullptr) abort();
    close(fd);
    return 0;
}
