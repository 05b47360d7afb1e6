// Sends to the hub through the loop: a hub that reads nothing fills the
// socket, then the queue, and loses the connection with a note; a hub that
// reads slowly gets every message whole and in order; the keep-alive.
//
// The slow and the deaf hub are plain sockets of the test, with small
// buffers on both ends so the socket fills after a few kilobytes.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "hub/chat.h"
#include "hub/connection.h"
#include "hub/hub_test_state.h"
#include "support/test_hub.h"

namespace {

constexpr int SMALL_BUFFER = 4096;

// A hub on a plain socket: the test logs in through it on its own thread
// (the login runs on another), then it reads nothing, or reads slowly on a
// thread of its own.
class PlainHub {
public:
    explicit PlainHub(bool small_buffer) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        int size = SMALL_BUFFER;
        // Taken over by the accepted socket.
        if (small_buffer) setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        struct sockaddr_in address;
        memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, (struct sockaddr*)&address, sizeof address) == 0 && listen(listener_, 4) == 0 &&
            getsockname(listener_, (struct sockaddr*)&address, &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~PlainHub() {
        stop_ = true;
        if (reader_.joinable()) reader_.join();
        if (fd_ >= 0) close(fd_);
        if (listener_ >= 0) close(listener_);
    }
    PlainHub(const PlainHub&) = delete;
    PlainHub& operator=(const PlainHub&) = delete;

    std::string port_text() const { return std::to_string(port_); }

    // Accepts the client's connect, sends the lock, reads the login block
    // and sends the first reply. False when a step did not happen in time.
    bool play_login() {
        struct pollfd waiting = {listener_, POLLIN, 0};
        if (poll(&waiting, 1, 3000) != 1) return false;
        fd_ = accept(listener_, nullptr, nullptr);
        if (fd_ < 0 || send(fd_, HUB_TEST_LOCK.data(), HUB_TEST_LOCK.size(), MSG_NOSIGNAL) < 0) return false;
        std::string block;
        uint64_t deadline = monotonic_ms() + 3000;
        while (block.find(HUB_TEST_BLOCK_END) == std::string::npos) {
            if (monotonic_ms() >= deadline) return false;
            char buffer[1024];
            int got = recv_timeout(fd_, buffer, sizeof buffer, 100);
            if (got == 0 || got == -1) return false;
            if (got > 0) block.append(buffer, (size_t)got);
        }
        const std::string reply = "$Hello [i]mpx200|";
        return send(fd_, reply.data(), reply.size(), MSG_NOSIGNAL) == (ssize_t)reply.size();
    }

    // Reads slice bytes every pause_ms on a thread until the client closes.
    void read_slowly(int slice, int pause_ms) {
        reader_ = std::thread([this, slice, pause_ms] {
            char buffer[4096];
            while (!stop_) {
                int got = recv_timeout(fd_, buffer, slice, 100);
                if (got == 0 || got == -1) return;
                if (got > 0) {
                    std::lock_guard<std::mutex> hold(lock_);
                    received_.append(buffer, (size_t)got);
                }
                sleep_ms(pause_ms);
            }
        });
    }

    // Everything still unread, up to the client's close (bounded).
    std::string read_to_end() {
        std::string all;
        uint64_t deadline = monotonic_ms() + 5000;
        char buffer[4096];
        while (monotonic_ms() < deadline) {
            int got = recv_timeout(fd_, buffer, sizeof buffer, 100);
            if (got == 0 || got == -1) break;
            if (got > 0) all.append(buffer, (size_t)got);
        }
        return all;
    }

    size_t received_size() {
        std::lock_guard<std::mutex> hold(lock_);
        return received_.size();
    }
    std::string received() {
        std::lock_guard<std::mutex> hold(lock_);
        return received_;
    }

private:
    int listener_ = -1;
    int port_ = 0;
    int fd_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::string received_;
};

class HubSend : public HubWindowTest {
protected:
    // Logs in through the plain hub; leaves the client's send buffer small.
    void login(PlainHub& hub) {
        text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, hub.port_text().c_str());
        hub_connect_command();
        ASSERT_TRUE(hub.play_login());
        ASSERT_TRUE(pump_until(login_settled, 5000));
        ASSERT_GT(g_state.hub_socket, 0);
        int size = SMALL_BUFFER;
        setsockopt(g_state.hub_socket, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        pump_for(50);  // the first write event
        chatlog_clear();
        sent_at_login_ = traffic_sent();
    }

    // The n-th chat message, about a kilobyte, its number in it.
    static std::string message(int n) {
        std::string text = "<[i]mpx200> message ";
        text += std::to_string(n);
        text += ' ';
        text.append(1000, (char)('a' + n % 26));
        text += " |";
        return text;
    }

    uint32_t sent_at_login_ = 0;
};

TEST_F(HubSend, HubThatNeverReadsFillsTheSocketThenTheQueueAndIsLeft) {
    PlainHub hub(true);
    login(hub);
    std::string stream;
    int max_queued = 0;
    int n = 0;
    // Without the loop turning nothing is flushed: the queue only grows.
    for (; n < 100000 && g_state.hub_socket > 0; n++) {
        std::string m = message(n);
        bool sent = hub_send(m.data(), (int)m.size());
        if (g_state.hub_socket > 0) {
            EXPECT_TRUE(sent);
            stream += m;
        } else {
            EXPECT_FALSE(sent);
        }
        if (g_state.hub_out_len > max_queued) max_queued = g_state.hub_out_len;
    }
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
    EXPECT_EQ(g_state.hub_out_len, 0);
    EXPECT_GT(max_queued, HUB_OUT_BYTES - (int)message(n).size());
    EXPECT_LE(max_queued, HUB_OUT_BYTES);
    EXPECT_EQ(chat_log_text(), note_lost("the hub is not reading"));
    // What the socket took reaches the hub in order, and only that is counted.
    std::string got = hub.read_to_end();
    EXPECT_GT(got.size(), 0u);
    EXPECT_TRUE(got == stream.substr(0, got.size())) << got.size() << " of " << stream.size();
    EXPECT_EQ(traffic_sent() - sent_at_login_, (uint32_t)got.size());
    EXPECT_FALSE(hub_send("|", 1));
}

TEST_F(HubSend, HubThatReadsSlowlyGetsEveryMessageWholeAndInOrder) {
    PlainHub hub(false);
    login(hub);
    hub.read_slowly(4096, 2);
    std::string stream;
    int max_queued = 0;
    uint64_t deadline = monotonic_ms() + 20000;
    for (int n = 0; n < 300 && monotonic_ms() < deadline;) {
        std::string m = message(n);
        // Sent as fast as the queue allows, never past its bound.
        if (g_state.hub_out_len + (int)m.size() > HUB_OUT_BYTES / 2) {
            pump_for(5);
            continue;
        }
        ASSERT_TRUE(hub_send(m.data(), (int)m.size()));
        stream += m;
        if (g_state.hub_out_len > max_queued) max_queued = g_state.hub_out_len;
        n++;
    }
    EXPECT_GT(max_queued, 0) << "the socket took everything: the queue was never used";
    ASSERT_TRUE(pump_until([&] { return hub.received_size() >= stream.size(); }, 20000))
        << hub.received_size() << " of " << stream.size();
    EXPECT_TRUE(hub.received() == stream);
    EXPECT_EQ(g_state.hub_out_len, 0);
    EXPECT_EQ(traffic_sent() - sent_at_login_, (uint32_t)stream.size());
    EXPECT_GT(g_state.hub_socket, 0);
    EXPECT_EQ(chat_log_text(), "");
}

// The keep-alive timer's message sends an empty message while online, and
// nothing without a connection; other timers are not the hub's.
TEST_F(HubSend, KeepAliveSendsAnEmptyMessageWhileOnline) {
    TestHub hub;
    connect_to(hub);
    size_t login = hub.received(0).size();
    uint32_t sent = traffic_sent();
    EXPECT_EQ(hub_window_message(WM_TIMER, KEEPALIVE_TIMER, 0), TRUE);
    ASSERT_TRUE(hub.wait_received(0, HUB_TEST_BLOCK_END + "|", 2000));
    // As the loop delivers it to the main window.
    ASSERT_TRUE(post_message(window_, WM_TIMER, KEEPALIVE_TIMER, 0));
    pump_for(50);
    ASSERT_TRUE(hub.wait_received(0, HUB_TEST_BLOCK_END + "||", 2000));
    EXPECT_EQ(hub_window_message(WM_TIMER, KEEPALIVE_TIMER + 1, 0), FALSE);
    pump_for(50);
    EXPECT_EQ(hub.received(0).substr(login), "||");
    EXPECT_EQ(traffic_sent(), sent + 2);
    hub_disconnect_command();
    EXPECT_EQ(hub_window_message(WM_TIMER, KEEPALIVE_TIMER, 0), TRUE);
    EXPECT_EQ(traffic_sent(), sent + 2);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
    EXPECT_EQ(hub.received(0).substr(login), "||");
}

}  // namespace

namespace {
class ChatEcho : public HubWindowTest {};
}  // namespace

// A private message the socket took is shown with its addressee and the own
// nick, "[to bob] <[i]mpx200> text", with the text as typed (escapes only on
// the wire); the hub does not echo it. Public chat waits for the hub's echo,
// and a message that could not be sent shows nothing.
TEST_F(ChatEcho, SentPrivateMessageIsShownAsTypedWithItsAddresseeAndTheOwnNick) {
    TestHub hub;
    connect_to(hub, "$Hello [i]mpx200|$MyINFO $ALL bob d$ $Modem $$1$|");
    ASSERT_TRUE(pump_until([] { return g_state.user_count == 1; }));
    chatlog_clear();
    chat_send(">bob hi | $ &amp; there");
    EXPECT_TRUE(hub.wait_received(0, "$To: bob From: [i]mpx200 $<[i]mpx200>      hi &#124; &#36; &amp;amp; there |",
                                  2000));
    EXPECT_EQ(chat_log_text(), "[to bob] <[i]mpx200> hi | $ &amp; there\r\n");
    chat_send(">bob");  // nothing after the nick: an empty text
    chat_send("public line");
    EXPECT_TRUE(hub.wait_received(0, "<[i]mpx200> public line |", 2000));
    EXPECT_EQ(chat_log_text(), "[to bob] <[i]mpx200> hi | $ &amp; there\r\n[to bob] <[i]mpx200> \r\n");
    hub_disconnect_command();
    chatlog_clear();
    chat_send(">bob unsent");
    EXPECT_EQ(chat_log_text(), "");
}
