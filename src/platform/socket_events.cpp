// Socket events as window messages, in place of WSAAsyncSelect.
//
// Model: SOCKET_SLOTS registrations {socket, window, message, events} under a
// lock (a download worker may close or receive on its own thread). The loop
// adds each registered socket to its poll set and posts, to the window:
// - read (FD_READ) while data waits, but only one at a time: after a read
//   message the socket is left out of the poll set until recv_once re-arms it,
//   so an unread socket does not keep the loop busy (tls_recv_once re-arms
//   too, and posts the next read message itself while TLS holds bytes that
//   the socket no longer shows);
// - write (FD_WRITE) once after registration, when the socket can first send,
//   and again after each send that the socket could not take whole;
// - out-of-band (FD_OOB) once per urgent byte; the byte is consumed here,
//   since nothing above reads urgent data and unread urgent data would wake
//   poll forever;
// - close (FD_CLOSE) once, after the data before it has been read, when the
//   peer has closed or the connection failed; the socket then leaves the set;
// - accept (FD_ACCEPT) on a listener while a connection waits, one at a
//   time like read: the listener leaves the poll set until socket_accept
//   re-arms it. A listener that fails (an error or hang-up with nothing to
//   accept) gets its close once and leaves the set.
// A datagram socket (its type is read at registration) gets read messages
// the same way, one per udp_receive; an empty datagram is a datagram, not
// the end of a stream, and a datagram socket never gets a close. However
// fast datagrams or connections come, the loop posts one message per
// receive or accept the program makes, and never spins on what it has not
// taken.
// Registration makes the socket non-blocking. A registration whose socket was
// closed behind the table's back (the descriptor is gone or now names another
// file) is dropped before the next wait, so a reused descriptor number never
// gets another socket's events.
//
// Own state: the registration table (g_slots) and its lock (g_table_lock).
// It is the platform's own (what WSAAsyncSelect kept), shared with the
// download worker's thread, so it lives here under its lock and not in the
// client's one record.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/platform_internal.h"

namespace {

struct SocketSlot {
    bool in_use;
    int socket;
    Window window;
    uint32_t message;
    int32_t events;
    dev_t device;
    ino_t inode;
    bool datagram;      // SOCK_DGRAM: a read of 0 bytes is an empty datagram
    bool read_posted;   // a read message is out; recv_once re-arms
    bool accept_posted; // an accept message is out; socket_accept re-arms
    bool write_posted;
    bool close_posted;
};

pthread_mutex_t g_table_lock = PTHREAD_MUTEX_INITIALIZER;
SocketSlot g_slots[SOCKET_SLOTS];

SocketSlot* slot_for(int socket) {
    for (SocketSlot& s : g_slots)
        if (s.in_use && s.socket == socket) return &s;
    return nullptr;
}

bool still_same(const SocketSlot* s) {
    struct stat st;
    return fstat(s->socket, &st) == 0 && st.st_dev == s->device && st.st_ino == s->inode;
}

// What to wait for. While a read message is out the socket waits for nothing
// but its first write: poll reports a hang-up whatever it is asked, and the
// unread data would wake it again and again.
short wanted(const SocketSlot* s) {
    if (s->close_posted) return 0;
    if (s->events & FD_ACCEPT) return s->accept_posted ? 0 : POLLIN;
    short want = (s->events & FD_WRITE) && !s->write_posted ? POLLOUT : 0;
    if (s->read_posted) return want;
    if (s->events & FD_READ) want |= POLLIN;
    else if (s->events & FD_CLOSE) want |= POLLRDHUP;  // data nobody reads must not wake us
    if (s->events & FD_OOB) want |= POLLPRI;
    return want;
}

void post_event(SocketSlot* s, int32_t event) {
    post_local(s->window, s->message, (WPARAM)s->socket, (LPARAM)make_long((uint16_t)event, 0));
}

// The error in the high word, as WSAAsyncSelect gave it: 0 for an orderly close.
void post_close(SocketSlot* s) {
    s->close_posted = true;
    if (!(s->events & FD_CLOSE)) return;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(s->socket, SOL_SOCKET, SO_ERROR, &error, &size) < 0 || error < 0 || error > 0xFFFF) error = 0;
    post_local(s->window, s->message, (WPARAM)s->socket, (LPARAM)make_long((uint16_t)FD_CLOSE, (uint16_t)error));
}

// Data waiting, or the end of the stream (or an error), as the peek tells.
void handle_readable(SocketSlot* s) {
    char byte;
    ssize_t got = recv(s->socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got > 0 || (got == 0 && s->datagram)) {
        if ((s->events & FD_READ) && !s->read_posted) {
            s->read_posted = true;
            post_event(s, FD_READ);
        }
        return;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    // A datagram socket's error (an ICMP answer to an earlier send) is taken
    // by the peek; the socket goes on receiving.
    if (s->datagram) return;
    post_close(s);
}

// A listener: a connection waits, or the listener failed.
void handle_listener(SocketSlot* s, short revents) {
    if (revents & POLLIN) {
        s->accept_posted = true;
        post_event(s, FD_ACCEPT);
    } else if (revents & (POLLERR | POLLHUP)) {
        post_close(s);
    }
}

void handle_events(SocketSlot* s, short revents) {
    if (s->events & FD_ACCEPT) {
        if (!s->accept_posted) handle_listener(s, revents);
        return;
    }
    if (revents & POLLPRI) {
        char urgent;
        if (recv(s->socket, &urgent, 1, MSG_OOB | MSG_DONTWAIT) >= 0) post_event(s, FD_OOB);
    }
    if ((revents & POLLOUT) && !s->write_posted) {
        s->write_posted = true;
        post_event(s, FD_WRITE);
    }
    if (!(s->events & FD_READ)) {
        if (revents & (POLLRDHUP | POLLHUP | POLLERR)) post_close(s);
        return;
    }
    if (revents & (POLLIN | POLLERR | POLLHUP)) handle_readable(s);
}

}  // namespace

int socket_async_select(int socket, Window window, uint32_t message, int32_t events) {
    pthread_mutex_lock(&g_table_lock);
    SocketSlot* s = slot_for(socket);
    if (events == 0) {
        if (s) s->in_use = false;
        pthread_mutex_unlock(&g_table_lock);
        return 0;
    }
    struct stat st;
    int type = 0;
    socklen_t type_size = sizeof type;
    int flags = fcntl(socket, F_GETFL);
    if (!s)
        for (SocketSlot& free_slot : g_slots)
            if (!free_slot.in_use) {
                s = &free_slot;
                break;
            }
    if (!s || flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0 || fstat(socket, &st) != 0 ||
        !window_slot(window)) {
        pthread_mutex_unlock(&g_table_lock);
        return -1;
    }
    // A descriptor whose type cannot be read is taken as a stream.
    if (getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &type_size) != 0) type = 0;
    *s = SocketSlot{true, socket, window, message, events, st.st_dev, st.st_ino, type == SOCK_DGRAM,
                    false, false, false, false};
    pthread_mutex_unlock(&g_table_lock);
    return 0;
}

int recv_once(int socket, char* buffer, int bytes) {
    ssize_t got;
    do {
        got = recv(socket, buffer, (size_t)(bytes > 0 ? bytes : 0), 0);
    } while (got < 0 && errno == EINTR);
    socket_read_rearm(socket, false);
    return (int)got;
}

void socket_read_rearm(int socket, bool held) {
    pthread_mutex_lock(&g_table_lock);
    SocketSlot* s = slot_for(socket);
    Window window = 0;
    uint32_t message = 0;
    if (s && held && (s->events & FD_READ)) {
        // The read message stays out: this one stands for the held bytes.
        window = s->window;
        message = s->message;
    } else if (s) {
        s->read_posted = false;
    }
    pthread_mutex_unlock(&g_table_lock);
    if (window != 0) post_message(window, message, (WPARAM)socket, (LPARAM)make_long((uint16_t)FD_READ, 0));
}

void socket_accept_rearm(int listener) {
    pthread_mutex_lock(&g_table_lock);
    SocketSlot* s = slot_for(listener);
    if (s) s->accept_posted = false;
    pthread_mutex_unlock(&g_table_lock);
}

void socket_write_rearm(int socket) {
    pthread_mutex_lock(&g_table_lock);
    SocketSlot* s = slot_for(socket);
    if (s) s->write_posted = false;
    pthread_mutex_unlock(&g_table_lock);
}

int socket_poll_fill(struct pollfd* fds, int room) {
    int n = 0;
    pthread_mutex_lock(&g_table_lock);
    for (SocketSlot& s : g_slots) {
        if (!s.in_use) continue;
        if (!still_same(&s) || !window_slot(s.window)) {
            s.in_use = false;  // closed without unregistering, or its window is gone
            continue;
        }
        short want = wanted(&s);
        if (want == 0 || n == room) continue;
        fds[n++] = pollfd{s.socket, want, 0};
    }
    pthread_mutex_unlock(&g_table_lock);
    return n;
}

void socket_poll_handle(const struct pollfd* fds, int count) {
    pthread_mutex_lock(&g_table_lock);
    for (int i = 0; i < count; i++) {
        if (fds[i].revents == 0) continue;
        SocketSlot* s = slot_for(fds[i].fd);
        if (s && !(fds[i].revents & POLLNVAL)) handle_events(s, fds[i].revents);
        else if (s) s->in_use = false;
    }
    pthread_mutex_unlock(&g_table_lock);
}
