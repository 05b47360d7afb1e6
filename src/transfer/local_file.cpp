// Part files and free names (see local_file.h).
#include "transfer/local_file.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "state/client_state.h"
#include "transfer/download.h"
#include "transfer/tth.h"

namespace {
constexpr int IDENTITY_CHARS = 13;  // 65 bits of the hash: enough to tell parts apart
constexpr int IDENTITY_TEXT_BYTES = RESULT_NICK_BYTES + QUEUE_PATH_BYTES + 24;
// The name, the id, and ".<n>.part" with its dot: 24 bytes are room to spare.
constexpr int PART_NAME_BYTES = QUEUE_NAME_PART_BYTES + 16 + TTH_TEXT_BYTES + 8;
static_assert(PART_NAME_CHOICES <= 1000, "a choice's number takes at most three digits");
}  // namespace

void download_identity(const char* tth, const char* nick, const char* path, uint64_t size, char* out) {
    if (tth[0] != '\0') {
        text_copy(out, TTH_TEXT_BYTES, tth);
        return;
    }
    // Nick, path and size, each ended by a NUL so that no two triples make the same text.
    char text[IDENTITY_TEXT_BYTES];
    int n = text_copy(text, RESULT_NICK_BYTES, nick) + 1;
    n += text_copy(text + n, QUEUE_PATH_BYTES, path) + 1;
    n += snprintf(text + n, (size_t)(IDENTITY_TEXT_BYTES - n), "%llu", (unsigned long long)size);
    char root[TTH_TEXT_BYTES];
    tth_of_bytes(text, n, root);
    text_copy_n(out, TTH_TEXT_BYTES, root, IDENTITY_CHARS);
}

namespace {
// The folder and its separator into out: the units written, or -1 when
// they leave no room for a name.
int folder_prefix(const char16_t* folder, char16_t* out, int out_units) {
    int length = u16_len(folder);
    bool separator = length > 0 && folder[length - 1] != u'/';
    int units = length + (separator ? 1 : 0);
    if (units + 1 >= out_units) return -1;
    u16_copy(out, out_units, folder);
    if (separator) u16_append(out, out_units, u"/");
    return units;
}

// folder, then the hub's text as UTF-16: 1, or 0 when it does not fit whole.
int local_path(const char16_t* folder, const char* text, char16_t* out, int out_units) {
    int start = folder_prefix(folder, out, out_units);
    if (start < 0) return 0;
    // A name cut to fit would be another file's: it must fit with room to spare.
    int units = hub_text_to_utf16(text, -1, out + start, out_units - start);
    return units > 0 && units < out_units - start ? 1 : 0;
}
}  // namespace

int local_folder(const char16_t* base, const char* folders, char16_t* out, int out_units) {
    if (folders[0] == 0) return u16_copy(out, out_units, base) == u16_len(base) ? 1 : 0;
    if (!local_path(base, folders, out, out_units)) return 0;
    if (u16_len(out) + 2 > out_units) return 0;
    u16_append(out, out_units, u"/");
    return 1;
}

int part_file_name(const char* name, const char* id, int n, char16_t* out, int out_units, const char16_t* folder) {
    char part[PART_NAME_BYTES];
    int length = n == 0 ? snprintf(part, sizeof part, "%s.%s.part", name, id)
                        : snprintf(part, sizeof part, "%s.%s.%d.part", name, id, n);
    if (length < 0 || length >= (int)sizeof part) return 0;
    return local_path(folder, part, out, out_units);
}

int part_open(const char* name, const char* id, uint64_t size, char16_t* part, int part_units, int* created,
              const char16_t* folder) {
    for (int n = 0; n < PART_NAME_CHOICES; n++) {
        if (!part_file_name(name, id, n, part, part_units, folder)) break;
        int file = file_open_own(part, created);
        if (file == FILE_NOT_OWN) continue;
        if (file == FILE_INVALID) return FILE_INVALID;
        int64_t held = file_length(file);
        if (held >= 0 && (held == 0 || (uint64_t)held < size)) return file;
        file_close(file);
        if (held < 0) return FILE_INVALID;
    }
    return FILE_NOT_OWN;
}

int free_name_choice(const char* name, int n, char* out, int out_bytes) {
    if (n == 0) {
        int length = (int)strlen(name);
        if (length >= out_bytes) return 0;
        memcpy(out, name, (size_t)length + 1);
        return 1;
    }
    int length = (int)strlen(name);
    int dot = length;
    for (int i = length - 1; i > 0; i--) {
        if (name[i] == '.') {
            dot = i;
            break;
        }
    }
    int written = snprintf(out, (size_t)out_bytes, "%.*s (%d)%s", dot, name, n, name + dot);
    if (written < 0 || written >= out_bytes) {
        if (out_bytes > 0) out[0] = '\0';
        return 0;
    }
    return 1;
}

int part_rename_free(const char16_t* part, const char* name, char* final_name, int final_bytes,
                     const char16_t* folder) {
    for (int n = 0; n < FREE_NAME_CHOICES; n++) {
        if (!free_name_choice(name, n, final_name, final_bytes)) return 0;
        char16_t wide[LOCAL_NAME_UNITS];
        if (!local_path(folder, final_name, wide, LOCAL_NAME_UNITS)) return 0;
        int result = file_rename_new(part, wide);
        if (result == FILE_RENAMED) return 1;
        if (result == FILE_RENAME_FAILED) return 0;
    }
    return 0;
}
