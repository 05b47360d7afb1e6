// The scriptable test server: one accept thread, one thread per connection.
// Every wait polls the socket together with a wake pipe, so the destructor
// can stop all threads at once.
#include "support/test_hub.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

uint64_t now_ms() {
    return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int listen_loopback(int backlog, int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, (struct sockaddr*)&address, sizeof address) < 0 || listen(fd, backlog) < 0 ||
        getsockname(fd, (struct sockaddr*)&address, &size) < 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

bool wait_until(int timeout_ms, const std::function<bool()>& pred) {
    uint64_t deadline = now_ms() + (uint64_t)timeout_ms;
    for (;;) {
        if (pred()) return true;
        if (now_ms() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

struct TestHub::Connection {
    int fd = -1;
    std::string received;
    bool client_closed = false;
    bool hub_closed = false;
    std::thread thread;
};

TestHub::TestHub() {
    if (pipe(wake_) < 0) wake_[0] = wake_[1] = -1;
    listener_ = listen_loopback(16, &port_);
    acceptor_ = std::thread([this] { accept_loop(); });
}

TestHub::~TestHub() {
    stopping_ = true;
    if (wake_[1] >= 0) {
        char byte = 1;
        (void)!write(wake_[1], &byte, 1);
    }
    acceptor_.join();
    for (auto& c : connections_) {
        if (c->thread.joinable()) c->thread.join();
        if (c->fd >= 0) ::close(c->fd);
    }
    if (listener_ >= 0) ::close(listener_);
    if (wake_[0] >= 0) ::close(wake_[0]);
    if (wake_[1] >= 0) ::close(wake_[1]);
}

TestHub& TestHub::send(const std::string& bytes) {
    std::lock_guard<std::mutex> hold(mutex_);
    script_.push_back({TestHubStep::SEND, bytes, 0});
    return *this;
}

TestHub& TestHub::expect(const std::string& text, int ms) {
    std::lock_guard<std::mutex> hold(mutex_);
    script_.push_back({TestHubStep::EXPECT, text, ms});
    return *this;
}

TestHub& TestHub::pause(int ms) {
    std::lock_guard<std::mutex> hold(mutex_);
    script_.push_back({TestHubStep::PAUSE, "", ms});
    return *this;
}

TestHub& TestHub::close() {
    std::lock_guard<std::mutex> hold(mutex_);
    script_.push_back({TestHubStep::CLOSE, "", 0});
    return *this;
}

void TestHub::accept_loop() {
    while (!stopping_ && listener_ >= 0) {
        struct pollfd waiting[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(waiting, 2, 200) <= 0) continue;
        if (waiting[1].revents != 0) return;
        int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> hold(mutex_);
        connections_.push_back(std::make_unique<Connection>());
        Connection* c = connections_.back().get();
        c->fd = fd;
        c->thread = std::thread([this, c, script = script_] { run_connection(c, script); });
    }
}

// Reads what the client sent within timeout_ms; false when the connection
// ended (client closed, error, hub stopping).
bool TestHub::read_some(Connection* c, int timeout_ms) {
    struct pollfd waiting[2] = {{c->fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    int ready = poll(waiting, 2, timeout_ms);
    if (ready < 0) return errno == EINTR;
    if (ready == 0) return true;
    if (waiting[1].revents != 0) return false;
    char buffer[4096];
    ssize_t got = recv(c->fd, buffer, sizeof buffer, 0);
    std::lock_guard<std::mutex> hold(mutex_);
    if (got <= 0) {
        if (!c->hub_closed) c->client_closed = true;
        return false;
    }
    c->received.append(buffer, (size_t)got);
    return true;
}

void TestHub::run_connection(Connection* c, std::vector<TestHubStep> script) {
    for (const TestHubStep& step : script) {
        if (stopping_) return;
        if (step.kind == TestHubStep::SEND) {
            if (::send(c->fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) < 0) return;
            continue;
        }
        if (step.kind == TestHubStep::CLOSE) {
            std::lock_guard<std::mutex> hold(mutex_);
            shutdown(c->fd, SHUT_RDWR);
            c->hub_closed = true;
            return;
        }
        // PAUSE and EXPECT: record what arrives until the step is over.
        uint64_t deadline = now_ms() + (uint64_t)step.ms;
        for (uint64_t now = now_ms(); now < deadline; now = now_ms()) {
            if (step.kind == TestHubStep::EXPECT) {
                std::lock_guard<std::mutex> hold(mutex_);
                if (c->received.find(step.bytes) != std::string::npos) break;
            }
            int slice = deadline - now > 20 ? 20 : (int)(deadline - now);
            if (!read_some(c, slice)) return;
        }
    }
    // Silent: record until the client closes or the hub stops.
    while (!stopping_ && read_some(c, 200)) {
    }
}

TestHub::Connection* TestHub::connection(int n) const {
    std::lock_guard<std::mutex> hold(mutex_);
    if (n < 0 || n >= (int)connections_.size()) return nullptr;
    return connections_[(size_t)n].get();
}

int TestHub::connections() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return (int)connections_.size();
}

std::string TestHub::received(int n) const {
    Connection* c = connection(n);
    if (c == nullptr) return std::string();
    std::lock_guard<std::mutex> hold(mutex_);
    return c->received;
}

bool TestHub::wait_connections(int count, int timeout_ms) const {
    return wait_until(timeout_ms, [&] { return connections() >= count; });
}

bool TestHub::wait_received(int n, const std::string& text, int timeout_ms) const {
    return wait_until(timeout_ms, [&] { return received(n).find(text) != std::string::npos; });
}

bool TestHub::wait_client_closed(int n, int timeout_ms) const {
    return wait_until(timeout_ms, [&] {
        Connection* c = connection(n);
        if (c == nullptr) return false;
        std::lock_guard<std::mutex> hold(mutex_);
        return c->client_closed;
    });
}

bool TestHub::send_now(int n, const std::string& bytes) {
    Connection* c = connection(n);
    if (c == nullptr) return false;
    return ::send(c->fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == (ssize_t)bytes.size();
}

void TestHub::close_now(int n) {
    Connection* c = connection(n);
    if (c == nullptr) return;
    std::lock_guard<std::mutex> hold(mutex_);
    shutdown(c->fd, SHUT_RDWR);
    c->hub_closed = true;
}

StuckListener::StuckListener() {
    listener_ = listen_loopback(0, &port_);
    if (listener_ < 0) return;
    // Connect until one does not complete at once: the accept queue is full.
    for (int i = 0; i < 8; i++) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        struct sockaddr_in address;
        memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons((uint16_t)port_);
        connect(fd, (struct sockaddr*)&address, sizeof address);
        struct pollfd waiting = {fd, POLLOUT, 0};
        int ready = poll(&waiting, 1, 100);
        fillers_.push_back(fd);
        if (ready == 0) {
            ready_ = true;
            return;
        }
    }
}

StuckListener::~StuckListener() {
    for (int fd : fillers_) ::close(fd);
    if (listener_ >= 0) ::close(listener_);
}
