// Connect and login against the scripted test hub on 127.0.0.1.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "hub/connection.h"
#include "hub/hub_test_state.h"
#include "support/test_hub.h"

namespace {

const std::string SUPPORTS = "$Supports UserCommand NoGetINFO NoHello UserIP2 |";
const std::string AFTER_KEY =
    "$ValidateNick [i]mpx200|$Version 1,0091|$GetNickList|$MyINFO $ALL [i]mpx200 "
    "pelmark<Vantoric V:0.05,M:P,H:0/1/0,S:20>$ $Modem $$1234567890$|";
const std::string BLOCK_END = "$1234567890$|";


class Login : public ::testing::Test {
protected:
    void SetUp() override {
        hub_test_state();
        g_state.hub_io_timeout_ms = 2000;
    }
    void TearDown() override { g_state.hub_io_timeout_ms = HUB_IO_TIMEOUT_MS; }

    // Logs in to the hub and returns what it received; closes the socket.
    std::string login_bytes(TestHub& hub, int* result = nullptr) {
        int sock = hub_login("127.0.0.1", hub.port_text().c_str());
        if (result != nullptr) *result = sock;
        if (sock > 0) {
            EXPECT_TRUE(hub.wait_received(0, BLOCK_END, 2000));
            closesocket(sock);
        }
        return hub.received(0);
    }
};

}  // namespace

TEST_F(Login, BlockAnswersTheLockWithItsKey) {
    TestHub hub;
    hub.send("$Lock abc Pk=test|");
    EXPECT_EQ(login_bytes(hub), SUPPORTS + "$Key V0\x10|" + AFTER_KEY);
}

TEST_F(Login, BlockWithoutLockHasNoKeyMessage) {
    TestHub hub;
    hub.send("$HubName Big|");
    EXPECT_EQ(login_bytes(hub), SUPPORTS + AFTER_KEY);
}

TEST_F(Login, LockWithFurtherMessagesInOneSegmentUsesOnlyTheLock) {
    TestHub hub;
    hub.send("$Lock aaba Pk=x|$HubName Big hub|$Hello [i]mpx200|<Bot> hello there|");
    EXPECT_EQ(login_bytes(hub), SUPPORTS + "$Key v/%DCN000%/00|" + AFTER_KEY);
}

TEST_F(Login, CountsTwentyForTheLockAndTheBlockLength) {
    TestHub hub;
    hub.send("$Lock abc Pk=a very long identifier that is not counted|");
    std::string sent = login_bytes(hub);
    EXPECT_EQ(traffic_received(), 20u);
    EXPECT_EQ(traffic_sent(), (uint32_t)sent.size());
}

TEST_F(Login, RefusedConnectionFailsWithoutCounting) {
    std::string port = std::to_string(unused_port());
    EXPECT_EQ(tcp_connect("127.0.0.1", port.c_str(), SOCKET_STREAM), TCP_CONNECT_FAILED);
    EXPECT_EQ(hub_login("127.0.0.1", port.c_str()), LOGIN_NO_HUB);
    EXPECT_EQ(traffic_received(), 0u);
    EXPECT_EQ(traffic_sent(), 0u);
}

TEST_F(Login, HostThatDoesNotResolveIsALookupFailure) {
    EXPECT_EQ(tcp_connect("", "2225", SOCKET_STREAM), TCP_LOOKUP_FAILED);
    EXPECT_EQ(hub_login("", "2225"), LOGIN_NO_HUB);
}

TEST_F(Login, HubClosingBeforeItsLockFails) {
    TestHub hub;
    hub.close();
    int result = 0;
    EXPECT_EQ(login_bytes(hub, &result), "");
    EXPECT_EQ(result, LOGIN_NO_HUB);
    EXPECT_EQ(traffic_received(), 0u);
}

TEST_F(Login, SilentHubTimesOutInsteadOfWaitingForever) {
    TestHub hub;  // accepts, sends nothing
    g_state.hub_io_timeout_ms = 200;
    uint64_t start = monotonic_ms();
    EXPECT_EQ(hub_login("127.0.0.1", hub.port_text().c_str()), LOGIN_NO_HUB);
    EXPECT_LT(monotonic_ms() - start, 1500u);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
}

TEST_F(Login, UnansweredConnectTimesOut) {
    StuckListener stuck;
    ASSERT_TRUE(stuck.ready());
    g_state.hub_io_timeout_ms = 200;
    uint64_t start = monotonic_ms();
    EXPECT_EQ(tcp_connect("127.0.0.1", stuck.port_text().c_str(), SOCKET_STREAM), TCP_CONNECT_FAILED);
    EXPECT_LT(monotonic_ms() - start, 1500u);
}

TEST_F(Login, PortTextIsTakenModulo65536) {
    TestHub hub;
    hub.send("$Lock abc Pk=x|");
    std::string wrapped = std::to_string(hub.port() + 65536);
    int sock = tcp_connect("127.0.0.1", wrapped.c_str(), SOCKET_STREAM);
    EXPECT_GT(sock, 0);
    EXPECT_TRUE(hub.wait_connections(1, 2000));
    if (sock > 0) closesocket(sock);
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
    text_copy(g_state.settings.nick, NICK_BYTES, nick.c_str());
    EXPECT_EQ(hub_login("127.0.0.1", hub.port_text().c_str()), LOGIN_TOO_LONG);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
    EXPECT_EQ(hub.received(0), "");
    EXPECT_EQ(traffic_sent(), 0u);
}
