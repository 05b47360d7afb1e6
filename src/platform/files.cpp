// Files by UTF-16 name (stored on disk as UTF-8), and the executable's path.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace {
constexpr int PATH_BYTES = 4096;

int open_utf16(const char16_t* path, int flags) {
    char name[PATH_BYTES];
    utf16_to_utf8(path, -1, name, sizeof name);
    int fd;
    do {
        fd = open(name, flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? FILE_INVALID : fd;
}

// A UTF-8 path into dst whole: its length in units, or 0 (dst empty) when it
// does not fit or does not come back unchanged (invalid UTF-8 would name
// another file).
int path_to_utf16(const char* path, char16_t* dst, int dst_units) {
    if (dst_units <= 0) return 0;
    utf8_to_utf16(path, -1, dst, dst_units);
    char back[PATH_BYTES];
    utf16_to_utf8(dst, -1, back, sizeof back);
    if (strcmp(back, path) != 0) {
        dst[0] = 0;
        return 0;
    }
    return u16_len(dst);
}

// A file the program may take as its own: a regular file (no link, device,
// pipe or folder), with no second name elsewhere, owned by this user.
bool own_plain_file(const struct stat* st) {
    return S_ISREG(st->st_mode) && st->st_nlink == 1 && st->st_uid == geteuid();
}

// Bytes file_write may still put before failing as a full disk would, or -1
// for no limit (see file_write_room_set).
std::atomic<int64_t> g_write_room{-1};

// The length of text without its trailing separators.
int without_trailing_slashes(const char* text) {
    int n = (int)strlen(text);
    while (n > 1 && text[n - 1] == '/') n--;
    return n;
}
}  // namespace

int file_open_own(const char16_t* path, int* created) {
    *created = 0;
    char name[PATH_BYTES];
    utf16_to_utf8(path, -1, name, sizeof name);
    int fd;
    do {
        fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        *created = 1;
        return fd;
    }
    if (errno != EEXIST) return FILE_INVALID;
    // Something holds the name. It is looked at before it is opened, so that
    // a device or a pipe there is never opened at all; O_NOFOLLOW, O_NONBLOCK
    // and the second look on the open file cover a name changed in between.
    struct stat st;
    if (lstat(name, &st) != 0) return FILE_INVALID;
    if (!own_plain_file(&st)) return FILE_NOT_OWN;
    do {
        fd = open(name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // Another kind of file came under the name, or this one is not to be written.
        bool other = errno == ELOOP || errno == EISDIR || errno == ENXIO || errno == EACCES || errno == EPERM ||
                     errno == ETXTBSY;
        return other ? FILE_NOT_OWN : FILE_INVALID;
    }
    if (fstat(fd, &st) != 0 || !own_plain_file(&st)) {
        close(fd);
        return FILE_NOT_OWN;
    }
    return fd;
}

int file_open_read(const char16_t* path) {
    // O_NONBLOCK: opening a FIFO would wait for a writer; what is not a
    // regular file (FIFO, device, folder) is never read at all.
    int fd = open_utf16(path, O_RDONLY | O_NONBLOCK);
    struct stat st;
    if (fd != FILE_INVALID && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        return FILE_INVALID;
    }
    return fd;
}

int file_create_new(const char16_t* path) {
    int fd = open_utf16(path, O_RDWR | O_CREAT | O_EXCL);
    if (fd == FILE_INVALID) return 0;
    close(fd);
    return 1;
}

int file_read(int file, void* buffer, int bytes) {
    ssize_t got;
    do {
        got = read(file, buffer, (size_t)bytes);
    } while (got < 0 && errno == EINTR);
    return (int)got;
}

void file_write_room_set(int64_t bytes) {
    g_write_room.store(bytes);
}

int file_write(int file, const void* data, int bytes) {
    const char* p = (const char*)data;
    int left = bytes;
    int64_t room = g_write_room.load();
    if (room >= 0) {  // a test's full disk: what fits is written, then ENOSPC
        if (room < bytes) left = (int)room;
        g_write_room.store(room - left);
    }
    while (left > 0) {
        ssize_t put = write(file, p, (size_t)left);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return -1;
        p += put;
        left -= (int)put;
    }
    if (p != (const char*)data + bytes) {
        errno = ENOSPC;
        return -1;
    }
    return bytes;
}

void file_close(int file) {
    if (file >= 0) close(file);
}

int64_t file_length(int file) {
    struct stat st;
    if (fstat(file, &st) != 0) return -1;
    return (int64_t)st.st_size;
}

int file_unlinked(int file) {
    struct stat st;
    return fstat(file, &st) == 0 && st.st_nlink == 0 ? 1 : 0;
}

int file_seek_end(int file) {
    return lseek(file, 0, SEEK_END) >= 0 ? 1 : 0;
}

int file_rename_new(const char16_t* from, const char16_t* to) {
    char from_name[PATH_BYTES];
    char to_name[PATH_BYTES];
    utf16_to_utf8(from, -1, from_name, sizeof from_name);
    utf16_to_utf8(to, -1, to_name, sizeof to_name);
    // RENAME_NOREPLACE refuses an existing target in the same step as the
    // rename, so a file that appears meanwhile is not replaced either.
    if (renameat2(AT_FDCWD, from_name, AT_FDCWD, to_name, RENAME_NOREPLACE) == 0) return FILE_RENAMED;
    if (errno == EEXIST) return FILE_NAME_TAKEN;
    if (errno != EINVAL && errno != ENOSYS) return FILE_RENAME_FAILED;
    // A file system without it: a hard link fails on an existing name just the same.
    if (link(from_name, to_name) != 0) return errno == EEXIST ? FILE_NAME_TAKEN : FILE_RENAME_FAILED;
    unlink(from_name);
    return FILE_RENAMED;
}

int file_remove(const char16_t* path) {
    char name[PATH_BYTES];
    utf16_to_utf8(path, -1, name, sizeof name);
    return unlink(name) == 0 ? 1 : 0;
}

int module_file_name(char16_t* dst, int dst_units) {
    if (dst_units > 0) dst[0] = 0;
    char path[PATH_BYTES];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || n >= (ssize_t)sizeof path) return 0;  // a full buffer may be a cut path
    path[n] = 0;
    return path_to_utf16(path, dst, dst_units);
}

int file_exists(const char16_t* path) {
    char name[PATH_BYTES];
    utf16_to_utf8(path, -1, name, sizeof name);
    struct stat st;
    return lstat(name, &st) == 0 ? 1 : 0;
}

namespace {
// $HOME when it is an absolute path, else the user's record's home; nullptr
// when neither is one. record holds the user's record when it is used.
const char* home_folder(struct passwd* entry, char* record, int record_bytes) {
    const char* home = getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), entry, record, (size_t)record_bytes, &found) != 0 || found == nullptr) return nullptr;
    home = entry->pw_dir;
    return home != nullptr && home[0] == '/' ? home : nullptr;
}

// The folder named by an absolute XDG variable, else the home's fallback,
// then "/<program>/" when program is not empty, into dst whole.
int xdg_folder(const char* variable, const char* fallback, const char* program, char16_t* dst, int dst_units) {
    if (dst_units > 0) dst[0] = 0;
    char folder[PATH_BYTES];
    const char* tail = program[0] != 0 ? "/" : "";
    int n;
    const char* named = getenv(variable);
    if (named != nullptr && named[0] == '/') {
        n = snprintf(folder, sizeof folder, "%.*s/%s%s", without_trailing_slashes(named), named, program, tail);
    } else {
        struct passwd entry;
        char record[2048];
        const char* home = home_folder(&entry, record, (int)sizeof record);
        if (home == nullptr) return 0;
        n = snprintf(folder, sizeof folder, "%.*s/%s/%s%s", without_trailing_slashes(home), home, fallback, program,
                     tail);
    }
    if (n < 0 || n >= (int)sizeof folder) return 0;
    return path_to_utf16(folder, dst, dst_units);
}
}  // namespace

int user_config_folder(const char16_t* name, char16_t* dst, int dst_units) {
    char program[PATH_BYTES];
    utf16_to_utf8(name, -1, program, sizeof program);
    return xdg_folder("XDG_CONFIG_HOME", ".config", program, dst, dst_units);
}

int user_data_folder(const char16_t* name, char16_t* dst, int dst_units) {
    char program[PATH_BYTES];
    utf16_to_utf8(name, -1, program, sizeof program);
    return xdg_folder("XDG_DATA_HOME", ".local/share", program, dst, dst_units);
}

int user_cache_folder(const char16_t* name, char16_t* dst, int dst_units) {
    char program[PATH_BYTES];
    utf16_to_utf8(name, -1, program, sizeof program);
    return xdg_folder("XDG_CACHE_HOME", ".cache", program, dst, dst_units);
}

int file_rename_over_own(const char16_t* from, const char16_t* to) {
    char source[PATH_BYTES];
    char target[PATH_BYTES];
    utf16_to_utf8(from, -1, source, sizeof source);
    utf16_to_utf8(to, -1, target, sizeof target);
    struct stat st;
    if (lstat(target, &st) == 0 && !own_plain_file(&st)) return 0;
    return rename(source, target) == 0 ? 1 : 0;
}

int folder_files(const char16_t* folder, FolderEntry* out, int most) {
    char name[PATH_BYTES];
    utf16_to_utf8(folder, -1, name, sizeof name);
    DIR* d = opendir(name);
    if (d == nullptr) return 0;
    int n = 0;
    while (n < most) {
        struct dirent* e = readdir(d);
        if (e == nullptr) break;
        struct stat st;
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        int units = utf8_to_utf16(e->d_name, -1, out[n].name, FOLDER_ENTRY_UNITS);
        if (units <= 0 || units >= FOLDER_ENTRY_UNITS - 1) continue;
        out[n].changed = (int64_t)st.st_mtime;
        n++;
    }
    closedir(d);
    return n;
}

int64_t wall_seconds() { return (int64_t)time(nullptr); }

int file_remove_own(const char16_t* path) {
    char name[PATH_BYTES];
    utf16_to_utf8(path, -1, name, sizeof name);
    struct stat st;
    if (lstat(name, &st) != 0 || !own_plain_file(&st)) return 0;
    return unlink(name) == 0 ? 1 : 0;
}

int folder_same_device(const char16_t* a, const char16_t* b) {
    dev_t devices[2];
    const char16_t* folders[2] = {a, b};
    for (int i = 0; i < 2; i++) {
        char name[PATH_BYTES];
        if (utf16_to_utf8(folders[i], -1, name, sizeof name) <= 0 || name[0] != '/') return 0;
        // The nearest folder that exists: a folder still to be made lands on its device.
        struct stat st;
        int n = (int)strlen(name);
        while (stat(name, &st) != 0) {
            while (n > 1 && name[n - 1] == '/') n--;
            while (n > 1 && name[n - 1] != '/') n--;
            if (n <= 1) {
                n = 1;
                name[1] = 0;
                if (stat(name, &st) != 0) return 0;
                break;
            }
            name[n] = 0;
        }
        devices[i] = st.st_dev;
    }
    return devices[0] == devices[1] ? 1 : 0;
}

int user_download_folder(char16_t* dst, int dst_units) {
    return xdg_folder("XDG_DOWNLOAD_DIR", "Downloads", "", dst, dst_units);
}

int environment_value(const char* name, char* dst, int dst_bytes) {
    if (dst_bytes > 0) dst[0] = 0;
    const char* value = getenv(name);
    if (value == nullptr || (int)strlen(value) >= dst_bytes) return 0;
    return text_copy(dst, dst_bytes, value);
}

namespace {
// Makes new_name anew (0600, never through a link); a leftover of the
// program's own there is removed and the name tried once more.
int create_fresh(const char* new_name) {
    for (int attempt = 0; attempt < 2; attempt++) {
        int fd;
        do {
            fd = open(new_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0 || errno != EEXIST) return fd;
        struct stat st;
        if (lstat(new_name, &st) != 0 || !own_plain_file(&st) || unlink(new_name) != 0) return -1;
    }
    return -1;
}

// Syncs the folder that holds name, so a rename in it lasts.
void sync_folder_of(const char* name) {
    char folder[PATH_BYTES];
    int cut = (int)strlen(name);
    while (cut > 0 && name[cut - 1] != '/') cut--;
    if (cut == 0) text_copy(folder, (int)sizeof folder, ".");
    else text_copy_n(folder, (int)sizeof folder, name, cut);
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;  // the file is renamed already; only its lasting is less sure
    fsync(fd);
    close(fd);
}
}  // namespace

int file_replace_whole(const char16_t* path, const char16_t* new_path, const void* data, int bytes) {
    char name[PATH_BYTES];
    char new_name[PATH_BYTES];
    utf16_to_utf8(path, -1, name, sizeof name);
    utf16_to_utf8(new_path, -1, new_name, sizeof new_name);
    int fd = create_fresh(new_name);
    if (fd < 0) return 0;
    bool written = file_write(fd, data, bytes) == bytes && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (!written || rename(new_name, name) != 0) {
        unlink(new_name);
        return 0;
    }
    sync_folder_of(name);
    return 1;
}

int folder_create_all(const char16_t* folder) {
    char name[PATH_BYTES];
    utf16_to_utf8(folder, -1, name, sizeof name);
    int length = (int)strlen(name);
    // Each step from the second character on: "/a", "/a/b", ... and the whole.
    for (int i = 1; i <= length; i++) {
        if (i < length && name[i] != '/') continue;
        char keep = name[i];
        name[i] = 0;
        if (mkdir(name, 0700) != 0 && errno != EEXIST) {
            name[i] = keep;
            return 0;
        }
        name[i] = keep;
    }
    struct stat st;
    return stat(name, &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}
