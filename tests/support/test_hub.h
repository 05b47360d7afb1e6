// A scriptable TCP server on 127.0.0.1 for network tests.
//
// It plays a hub, or a download peer, from a script: every accepted
// connection runs the same steps (send bytes, wait for what the client sends,
// pause, close), then stays open and silent, recording, until the client
// closes, the test closes it, or the TestHub is destroyed. Every byte the
// client sends is recorded per connection. All waits are bounded; the
// destructor stops and joins every thread and closes every socket.
//
//   TestHub hub;
//   hub.send("$Lock abc Pk=x|").expect("$MyINFO", 2000).send("$Hello me|");
//   ... the client connects to 127.0.0.1:hub.port() ...
//   hub.wait_received(0, "$GetNickList|", 2000);
//   EXPECT_EQ(hub.received(0), "...");
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TestHubStep {
    enum Kind { SEND, EXPECT, PAUSE, CLOSE };
    Kind kind;
    std::string bytes;  // SEND: what to send; EXPECT: text to wait for
    int ms;             // PAUSE: how long; EXPECT: the bound on the wait
};

class TestHub {
public:
    TestHub();
    ~TestHub();
    TestHub(const TestHub&) = delete;
    TestHub& operator=(const TestHub&) = delete;

    // Script steps, for connections accepted after the call.
    TestHub& send(const std::string& bytes);
    // Waits until everything the client has sent on this connection contains
    // text (or ms pass; the script then goes on regardless).
    TestHub& expect(const std::string& text, int ms = 3000);
    TestHub& pause(int ms);
    TestHub& close();

    int port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }

    int connections() const;
    // Bytes the client sent on connection n (0 = the first accepted).
    std::string received(int n = 0) const;
    bool wait_connections(int count, int timeout_ms) const;
    bool wait_received(int n, const std::string& text, int timeout_ms) const;
    // True once the client has closed its end of connection n.
    bool wait_client_closed(int n, int timeout_ms) const;
    // Sends bytes on connection n now, outside the script.
    bool send_now(int n, const std::string& bytes);
    // Closes connection n from the hub's side now.
    void close_now(int n);

private:
    struct Connection;
    void accept_loop();
    void run_connection(Connection* c, std::vector<TestHubStep> script);
    bool read_some(Connection* c, int timeout_ms);
    Connection* connection(int n) const;

    int listener_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<TestHubStep> script_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::thread acceptor_;
};

// A listener on 127.0.0.1 whose accept queue is full, so a further connect to
// it is never answered (its SYN is dropped): for connect time bounds.
class StuckListener {
public:
    StuckListener();
    ~StuckListener();
    StuckListener(const StuckListener&) = delete;
    StuckListener& operator=(const StuckListener&) = delete;
    int port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }
    bool ready() const { return ready_; }  // the queue could be filled

private:
    int listener_ = -1;
    int port_ = 0;
    bool ready_ = false;
    std::vector<int> fillers_;
};

// Polls pred every few milliseconds until it holds or timeout_ms pass.
bool wait_until(int timeout_ms, const std::function<bool()>& pred);
