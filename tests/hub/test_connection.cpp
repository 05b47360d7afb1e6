// The login itself, run on the test's thread, against the scripted test hub on
// 127.0.0.1: the bytes of the login block, the first reply it hands back, the
// time bounds, and giving up while it waits.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "hub/connection.h"
#include "hub/hub_test_state.h"
#include "protocol/lock_to_key.h"
#include "support/test_hub.h"

namespace {

const std::string SUPPORTS = "$Supports UserCommand NoGetINFO NoHello UserIP2 |";
const std::string AFTER_KEY =
    "$ValidateNick [i]mpx200|$Version 1,0091|$GetNickList|$MyINFO $ALL [i]mpx200 "
    "pelmark<Vantoric V:0.05,M:P,H:0/1/0,S:20>$ $Modem $$1234567890$|";
const std::string BLOCK_END = "$1234567890$|";
const std::string REPLY = "$Hello [i]mpx200|";

class Login : public ::testing::Test {
protected:
    void SetUp() override {
        hub_test_state();
        g_state.hub_io_timeout_ms = 2000;
    }
    void TearDown() override {
        link_close(&link_);  // a test that stopped early
        g_state.hub_io_timeout_ms = HUB_IO_TIMEOUT_MS;
    }

    // The whole login with the settings' nick and share text, bounded by the
    // time limit, on this thread.
    LoginError login(const char* port, int (*give_up)() = nullptr, const char* nick = nullptr) {
        reply_length_ = -1;
        LoginError result =
            hub_login("127.0.0.1", port, nick != nullptr ? nick : g_state.hub_nick, g_state.settings.share_size, false,
                      reply_, &reply_length_, g_state.hub_io_timeout_ms, give_up, &link_);
        // Open after a success only: a failed login leaves nothing to close.
        EXPECT_EQ(link_.socket >= 0, result == LOGIN_OK);
        return result;
    }

    // Logs in to the hub and returns what it received; closes the socket.
    std::string login_bytes(TestHub& hub, LoginError* result = nullptr) {
        LoginError ended = login(hub.port_text().c_str());
        if (result != nullptr) *result = ended;
        if (ended == LOGIN_OK) {
            EXPECT_TRUE(hub.wait_received(0, BLOCK_END, 2000));
            link_close(&link_);
        }
        return hub.received(0);
    }

    std::string reply() const { return std::string(reply_, (size_t)(reply_length_ > 0 ? reply_length_ : 0)); }

    char reply_[FIRST_REPLY_BYTES + 1];
    int reply_length_ = -1;
    Link link_ = {-1, 0, {}};
};

}  // namespace

TEST_F(Login, BlockAnswersTheLockWithItsKeyAndTheFirstReplyIsHandedBack) {
    TestHub hub;
    hub.send("$Lock abc Pk=test|").expect(BLOCK_END).send(REPLY);
    LoginError result = LOGIN_NO_HUB;
    EXPECT_EQ(login_bytes(hub, &result), SUPPORTS + "$Key V0\x10|" + AFTER_KEY);
    EXPECT_EQ(result, LOGIN_OK);
    EXPECT_EQ(reply(), REPLY);
    EXPECT_EQ(reply_[reply_length_], '\0');
}

TEST_F(Login, BlockWithoutLockHasNoKeyMessage) {
    TestHub hub;
    hub.send("$HubName Big|").expect(BLOCK_END).send(REPLY);
    EXPECT_EQ(login_bytes(hub), SUPPORTS + AFTER_KEY);
}

// What follows the lock in its receive is hub messages: they lead the reply.
TEST_F(Login, LockWithFurtherMessagesInOneSegmentKeysOnlyTheLockAndKeepsTheRest) {
    TestHub hub;
    const std::string rest = "$HubName Big hub|$Hello [i]mpx200|<Bot> hello there|";
    hub.send("$Lock aaba Pk=x|" + rest).expect(BLOCK_END).send(REPLY);
    EXPECT_EQ(login_bytes(hub), SUPPORTS + "$Key v/%DCN000%/00|" + AFTER_KEY);
    EXPECT_EQ(reply(), rest + REPLY);
}

// A lock that comes in pieces is read up to its '|' and keyed whole; the
// first piece is no reply.
TEST_F(Login, LockSplitOverReceivesIsKeyedWhole) {
    TestHub hub;
    hub.send("$Lock EXTENDEDPROTOCOL").pause(150).send("ABCABC Pk=x").pause(150).send("|$HubName Big|");
    hub.expect(BLOCK_END).send(REPLY);
    const std::string lock = "$Lock EXTENDEDPROTOCOLABCABC Pk=x|";
    char key[KEY_TEXT_BYTES];
    lock_to_key(lock.data(), (int)lock.size(), key);
    EXPECT_EQ(login_bytes(hub), SUPPORTS + key + AFTER_KEY);
    EXPECT_EQ(reply(), "$HubName Big|" + REPLY);
}

// A first message with no '|' in the lock buffer fails the login; nothing
// is sent and nothing is written past the buffer.
TEST_F(Login, OverlongLockFailsTheLoginAndSendsNothing) {
    TestHub hub;
    hub.send("$Lock " + std::string(3 * LOCK_RECEIVE_BYTES, 'L'));
    LoginError result = LOGIN_OK;
    EXPECT_EQ(login_bytes(hub, &result), "");
    EXPECT_EQ(result, LOGIN_LOCK_TOO_LONG);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
    EXPECT_EQ(traffic_sent(), 0u);
}

TEST_F(Login, CountsTwentyForTheLockTheReplyAndTheBlockLength) {
    TestHub hub;
    hub.send("$Lock abc Pk=a very long identifier that is not counted|").expect(BLOCK_END).send(REPLY);
    std::string sent = login_bytes(hub);
    EXPECT_EQ(traffic_received(), 20u + (uint32_t)REPLY.size());
    EXPECT_EQ(traffic_sent(), (uint32_t)sent.size());
}

TEST_F(Login, RefusedConnectionFailsWithoutCounting) {
    std::string port = std::to_string(unused_port());
    EXPECT_EQ(tcp_connect("127.0.0.1", port.c_str(), SOCKET_STREAM), TCP_CONNECT_REFUSED);
    EXPECT_EQ(login(port.c_str()), LOGIN_REFUSED);
    EXPECT_EQ(reply_length_, 0);
    EXPECT_EQ(traffic_received(), 0u);
    EXPECT_EQ(traffic_sent(), 0u);
}

#if defined(__SANITIZE_THREAD__)
#define KIVO_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KIVO_THREAD_SANITIZER 1
#endif
#endif

TEST_F(Login, HostThatDoesNotResolveIsALookupFailure) {
#ifdef KIVO_THREAD_SANITIZER
    // A name is looked up on the C library's own resolver thread, which it
    // starts without going through the sanitizer: the thread crashes in the
    // sanitizer's allocator. Literal addresses need no lookup.
    GTEST_SKIP() << "name lookups cannot run under ThreadSanitizer";
#endif
    EXPECT_EQ(tcp_connect("", "2225", SOCKET_STREAM), TCP_LOOKUP_FAILED);
    EXPECT_EQ(hub_login("", "2225", "n", "1", false, reply_, &reply_length_, 2000, nullptr, &link_),
              LOGIN_NAME_NOT_FOUND);
}

TEST_F(Login, HubClosingBeforeItsLockFails) {
    TestHub hub;
    hub.close();
    LoginError result = LOGIN_OK;
    EXPECT_EQ(login_bytes(hub, &result), "");
    EXPECT_EQ(result, LOGIN_CLOSED);
    EXPECT_EQ(traffic_received(), 0u);
}

TEST_F(Login, SilentHubTimesOutInsteadOfWaitingForever) {
    // Silent before its lock, and silent after the login block (no first reply).
    for (bool sends_lock : {false, true}) {
        SCOPED_TRACE(sends_lock ? "no first reply" : "no lock");
        TestHub hub;
        if (sends_lock) hub.send("$Lock abc Pk=x|");
        g_state.hub_io_timeout_ms = 200;
        uint64_t start = monotonic_ms();
        EXPECT_EQ(login(hub.port_text().c_str()), LOGIN_TIMED_OUT);
        EXPECT_LT(monotonic_ms() - start, 1500u);
        EXPECT_TRUE(hub.wait_client_closed(0, 2000));
        if (sends_lock) {
            EXPECT_TRUE(hub.wait_received(0, BLOCK_END, 100));
        }
    }
}

TEST_F(Login, ReplyLongerThanItsBufferIsCutToItAndTerminated) {
    TestHub hub;
    const std::string long_reply = "<Bot> " + std::string(2 * FIRST_REPLY_BYTES, 'r') + "|";
    hub.send("$Lock abc Pk=x|").expect(BLOCK_END).send(long_reply);
    ASSERT_EQ(login(hub.port_text().c_str()), LOGIN_OK);
    // One receive: however much of it arrived at once, never more than the buffer.
    EXPECT_GT(reply_length_, 0);
    EXPECT_LE(reply_length_, FIRST_REPLY_BYTES);
    EXPECT_EQ(reply(), long_reply.substr(0, (size_t)reply_length_));
    EXPECT_EQ(reply_[reply_length_], '\0');
    link_close(&link_);
}

namespace {
std::atomic<uint64_t> g_give_up_at{0};
// Gives up once the clock passes g_give_up_at.
int give_up_later() { return monotonic_ms() >= g_give_up_at.load() ? 1 : 0; }
}  // namespace

// Giving up ends each wait of the login soon after it is asked, far within
// the time limit, and closes the socket: while the connect is never
// answered, while the hub is silent before its lock, and after the block.
TEST_F(Login, GivingUpEndsEveryWaitSoonAndClosesTheSocket) {
    g_state.hub_io_timeout_ms = 10000;
    StuckListener stuck;
    ASSERT_TRUE(stuck.ready());
    TestHub silent;
    TestHub no_reply;
    no_reply.send("$Lock abc Pk=x|");
    struct Case {
        const char* name;
        std::string port;
        TestHub* hub;
    } cases[] = {
        {"connect never answered", stuck.port_text(), nullptr},
        {"no lock", silent.port_text(), &silent},
        {"no first reply", no_reply.port_text(), &no_reply},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t start = monotonic_ms();
        g_give_up_at = start + 300;
        EXPECT_EQ(login(c.port.c_str(), give_up_later), LOGIN_CANCELLED);
        uint64_t took = monotonic_ms() - start;
        EXPECT_GE(took, 300u);
        EXPECT_LT(took, 1300u);
        if (c.hub != nullptr) {
            EXPECT_TRUE(c.hub->wait_client_closed(0, 2000));
        }
    }
}

TEST_F(Login, UnansweredConnectTimesOut) {
    StuckListener stuck;
    ASSERT_TRUE(stuck.ready());
    g_state.hub_io_timeout_ms = 200;
    uint64_t start = monotonic_ms();
    EXPECT_EQ(tcp_connect("127.0.0.1", stuck.port_text().c_str(), SOCKET_STREAM), TCP_CONNECT_TIMED_OUT);
    EXPECT_LT(monotonic_ms() - start, 1500u);
}

TEST_F(Login, PortPast65535IsRefusedNotWrappedOntoAnother) {
    TestHub hub;
    hub.send("$Lock abc Pk=x|");
    std::string wrapped = std::to_string(hub.port() + 65536);
    EXPECT_EQ(tcp_connect("127.0.0.1", wrapped.c_str(), SOCKET_STREAM), TCP_CONNECT_FAILED);
    EXPECT_FALSE(hub.wait_connections(1, 200));
}

TEST_F(Login, ConnectedSocketIsBlockingForItsUser) {
    TestHub hub;
    hub.pause(300).send("late|");
    int sock = tcp_connect("127.0.0.1", hub.port_text().c_str(), SOCKET_STREAM);
    ASSERT_GT(sock, 0);
    char buffer[8];
    EXPECT_EQ(recv(sock, buffer, sizeof buffer, 0), 5);  // waits, no EAGAIN
    closesocket(sock);
}

TEST_F(Login, OverlongNickIsRefusedAndNothingIsSent) {
    TestHub hub;
    hub.send("$Lock abc Pk=x|");
    std::string nick(600, 'n');
    EXPECT_EQ(login(hub.port_text().c_str(), nullptr, nick.c_str()), LOGIN_TOO_LONG);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
    EXPECT_EQ(hub.received(0), "");
    EXPECT_EQ(traffic_sent(), 0u);
}
