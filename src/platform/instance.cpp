// Window classes, the named mutex and the running copy.
//
// Classes: a table of CLASS_SLOTS registrations; the system's "Dialog" class
// is always there (no instance, the dialog's default procedure).
//
// Named mutex: a lock file "<dir>/<name>-<uid>.lock" held with flock, where
// dir is the first of $XDG_RUNTIME_DIR, $TMPDIR and /tmp that names an
// existing folder by an absolute path (a missing one would make no lock at
// all). The lock is the mutex: whoever holds it is the running copy; when
// that process ends, the kernel drops the lock, so a stale file never blocks
// a new start. Another holder means ERROR_ALREADY_EXISTS. A path longer than
// LOCAL_PATH_BYTES makes no mutex (never a cut name: it would be another one).
//
// Running copy: while a screen whose template names a registered class is
// open, the process listens on the local socket "<dir>/<class>-<title>-<uid>.sock".
// A socket address holds only sizeof sun_path (108) bytes of path: a longer
// one is reached through the folder opened on its own, as
// "/proc/self/fd/<n>/<file>", which the kernel resolves to the same file.
// A peer asks with one byte, 'F' (find) or 'R' (come to front), and gets 'K';
// on 'R' the running copy redraws its whole screen (a terminal program cannot
// raise its window; showing itself afresh is what it can do). find_window
// returns nonzero only when a running copy answered; its handles are remote
// ones that only set_foreground understands.
//
// Own state: the class table (g_classes), the paths of running copies found
// (g_remote_paths, g_remote_next) and the running copy's listening socket
// (g_listener, g_listener_path). They are the platform's own (what the phone
// kept of classes and windows), not the client's, so they live here and not
// in the client's one record.
#include <fcntl.h>
#include <poll.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform_internal.h"

namespace {

constexpr int CLASS_SLOTS = 8;
constexpr int REMOTE_SLOTS = 4;
constexpr int LOCAL_PATH_BYTES = PATH_MAX;  // lock and socket paths: longer are refused
constexpr int NAME_BYTES = 64;          // class, title and mutex names: longer are cut
constexpr int ANSWER_WAIT_MS = 1000;    // how long a running copy may take to answer
constexpr int REQUEST_WAIT_MS = 200;    // how long the running copy waits for a request
constexpr Window REMOTE_WINDOW_BASE = 0x40000000;  // above every local handle

intptr_t dialog_class_proc(Window, uint32_t, WPARAM, LPARAM) {
    return FALSE;
}

WindowClassInfo g_classes[CLASS_SLOTS];
char g_remote_paths[REMOTE_SLOTS][LOCAL_PATH_BYTES];
int g_remote_next;
int g_listener = -1;
char g_listener_path[LOCAL_PATH_BYTES];

bool same_name(const char16_t* a, const char16_t* b) {
    int i = 0;
    while (a[i] != 0 && a[i] == b[i]) i++;
    return a[i] == b[i];
}

// A file-name-safe ASCII form of a UTF-16 name.
void safe_name(const char16_t* name, char* out, int bytes) {
    int n = 0;
    for (int i = 0; name[i] != 0 && n < bytes - 1; i++) {
        char16_t u = name[i];
        bool keep = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'.' ||
                    u == u'-' || u == u'_';
        out[n++] = keep ? (char)u : '_';
    }
    out[n] = 0;
}

const char* runtime_dir() {
    static const char* const VARIABLES[] = {"XDG_RUNTIME_DIR", "TMPDIR"};
    for (const char* variable : VARIABLES) {
        const char* dir = getenv(variable);
        struct stat st;
        if (dir != nullptr && dir[0] == '/' && stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) return dir;
    }
    return "/tmp";
}

// Fills the path (LOCAL_PATH_BYTES); false when it would not fit.
bool make_path(char* path, const char16_t* first, const char16_t* second, const char* suffix) {
    char a[NAME_BYTES], b[NAME_BYTES];
    safe_name(first, a, sizeof a);
    safe_name(second ? second : u"", b, sizeof b);
    const char* dir = runtime_dir();
    int n = second ? snprintf(path, LOCAL_PATH_BYTES, "%s/%s-%s-%u.%s", dir, a, b, (unsigned)getuid(), suffix)
                   : snprintf(path, LOCAL_PATH_BYTES, "%s/%s-%u.%s", dir, a, (unsigned)getuid(), suffix);
    return n > 0 && n < LOCAL_PATH_BYTES;
}

// The socket address of path. One that does not fit sun_path goes through
// its folder, opened into *folder (-1 when not; the caller closes it after
// bind or connect). False when neither fits.
bool socket_address(const char* path, struct sockaddr_un* address, int* folder) {
    *address = {};
    address->sun_family = AF_UNIX;
    *folder = -1;
    if (strlen(path) < sizeof address->sun_path) {
        text_copy(address->sun_path, sizeof address->sun_path, path);
        return true;
    }
    const char* file = strrchr(path, '/');
    char dir[LOCAL_PATH_BYTES];
    text_copy_n(dir, sizeof dir, path, (int)(file - path));
    *folder = open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (*folder < 0) return false;
    int n = snprintf(address->sun_path, sizeof address->sun_path, "/proc/self/fd/%d/%s", *folder, file + 1);
    return n > 0 && n < (int)sizeof address->sun_path;
}

bool class_known(const char16_t* name) {
    for (const WindowClassInfo& c : g_classes)
        if (c.class_name[0] != 0 && same_name(c.class_name, name)) return true;
    return false;
}

// One request to the running copy at path; true when it answered 'K'.
bool ask_running_copy(const char* path, char request) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    struct sockaddr_un address;
    int folder;
    bool connected = socket_address(path, &address, &folder) && connect(fd, (struct sockaddr*)&address, sizeof address) == 0;
    if (folder >= 0) close(folder);
    char answer = 0;
    bool ok = connected && send_once(fd, &request, 1) == 1 && recv_timeout(fd, &answer, 1, ANSWER_WAIT_MS) == 1 &&
              answer == 'K';
    close(fd);
    return ok;
}

void serve_one(int fd) {
    struct pollfd waiting = {fd, POLLIN, 0};
    char request = 0;
    if (poll(&waiting, 1, REQUEST_WAIT_MS) == 1 && recv(fd, &request, 1, 0) == 1 && (request == 'F' || request == 'R')) {
        char answer = 'K';
        send_once(fd, &answer, 1);
        if (request == 'R') set_foreground(screen_top() ? screen_top()->window : 0);
    }
    close(fd);
}

}  // namespace

// --- Window classes ------------------------------------------------------------------

int class_info_get(ModuleInstance instance, const char16_t* class_name, WindowClassInfo* out) {
    if (!class_name || !out) return 0;
    if (same_name(class_name, u"Dialog")) {
        *out = WindowClassInfo{0, 0, dialog_class_proc, {}};
        u16_copy(out->class_name, 64, u"Dialog");
        return 1;
    }
    for (const WindowClassInfo& c : g_classes) {
        if (c.class_name[0] != 0 && c.instance == instance && same_name(c.class_name, class_name)) {
            *out = c;
            return 1;
        }
    }
    return 0;
}

int class_register(const WindowClassInfo* info) {
    if (!info || info->class_name[0] == 0 || same_name(info->class_name, u"Dialog")) return 0;
    WindowClassInfo existing;
    if (class_info_get(info->instance, info->class_name, &existing)) return 0;  // already registered
    for (int i = 0; i < CLASS_SLOTS; i++) {
        if (g_classes[i].class_name[0] != 0) continue;
        g_classes[i] = *info;
        g_classes[i].class_name[63] = 0;
        return 0xC000 + i;
    }
    return 0;
}

// --- Named mutex ------------------------------------------------------------------------

int named_mutex_create(const char16_t* name, uint32_t* last_error) {
    uint32_t ignored;
    if (!last_error) last_error = &ignored;
    *last_error = 0;
    char path[LOCAL_PATH_BYTES];
    if (!name || !make_path(path, name, nullptr, "lock")) return 0;
    // Never through a link, and only a plain file of this user's: in a
    // shared folder such as /tmp another user may have put anything there.
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) return 0;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(fd);
        return 0;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            close(fd);
            return 0;
        }
        *last_error = ERROR_ALREADY_EXISTS;  // the handle is still given, as the platform did
    }
    return fd + 1;
}

void named_mutex_close(int handle) {
    if (handle > 0) close(handle - 1);
}

// --- The running copy --------------------------------------------------------------------

Window find_window(const char16_t* class_name, const char16_t* title) {
    char path[LOCAL_PATH_BYTES];
    if (!class_name || !make_path(path, class_name, title ? title : u"", "sock")) return 0;
    if (!ask_running_copy(path, 'F')) return 0;
    int slot = g_remote_next;
    g_remote_next = (g_remote_next + 1) % REMOTE_SLOTS;
    text_copy(g_remote_paths[slot], LOCAL_PATH_BYTES, path);
    return REMOTE_WINDOW_BASE | ((slot + 1) << 1);
}

int set_foreground(Window window) {
    window &= ~1;  // the lowest bit asks for the last pop-up too; a screen shows its own
    if (window > REMOTE_WINDOW_BASE) {
        int slot = ((window & 0xFFFF) >> 1) - 1;
        return slot >= 0 && slot < REMOTE_SLOTS && ask_running_copy(g_remote_paths[slot], 'R');
    }
    WindowSlot* w = window_slot(window);
    if (!w) return 0;
    const Display* d = display_current();
    d->redraw_all();
    Screen* top = screen_top();
    if (top) repaint_request(top->window);
    display_mark_dirty();
    return 1;
}

bool running_copy_open(const char16_t* class_name, const char16_t* title) {
    if (g_listener >= 0 || !class_known(class_name)) return false;
    if (!make_path(g_listener_path, class_name, title, "sock")) return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    struct sockaddr_un address;
    int folder;
    bool addressed = socket_address(g_listener_path, &address, &folder);
    unlink(g_listener_path);  // left by a copy that died; the named mutex says we are the one
    bool bound = addressed && bind(fd, (struct sockaddr*)&address, sizeof address) == 0;
    if (folder >= 0) close(folder);
    if (!bound || listen(fd, 4) != 0) {
        close(fd);
        return false;
    }
    g_listener = fd;
    return true;
}

void running_copy_close() {
    if (g_listener < 0) return;
    close(g_listener);
    unlink(g_listener_path);
    g_listener = -1;
}

int running_copy_listen_fd() {
    return g_listener;
}

void running_copy_serve() {
    for (;;) {
        int fd = accept4(g_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        serve_one(fd);
    }
}
