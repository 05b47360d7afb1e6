// The Link, plain against the scripted test hub and TLS against a Python ssl
// server (OpenSSL, not our library): each way a wait ends (data, closed,
// timed out, stopped, error) and whole sends, all on 127.0.0.1 with every
// wait bounded.
//
// The TLS server's commands, each ending in '|': "bye|" ends the session
// (close_notify) and closes, "forge|" sends an application record that no
// key made, anything else is echoed.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/link.h"
#include "platform/platform.h"
#include "support/test_hub.h"
#include "support/tls_server.h"

namespace {

const char* const SERVER_SCRIPT = R"PY(
import socket, ssl, sys
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
listener = socket.socket()
listener.bind(('127.0.0.1', 0))
listener.listen(4)
print(listener.getsockname()[1], flush=True)
while True:
    connection, _ = listener.accept()
    connection.settimeout(10)
    try:
        with context.wrap_socket(connection, server_side=True) as tls:
            pending = b''
            while True:
                data = tls.recv(65536)
                if not data: break
                pending += data
                if b'|' not in pending: continue
                text, pending = pending.split(b'|', 1)
                if text == b'bye':
                    tls.unwrap()
                    break
                if text == b'forge':
                    raw = socket.socket(fileno=tls.fileno())
                    raw.sendall(b'\x17\x03\x03\x00\x20' + b'\x00' * 32)
                    raw.detach()
                else:
                    tls.sendall(text + b'|')
    except (OSError, ValueError):
        pass
)PY";

// Counts its calls in *arg and says stop from the third on.
int stop_on_third(void* arg) {
    int* calls = (int*)arg;
    return ++*calls >= 3 ? 1 : 0;
}

// A listener on 127.0.0.1 for what the test hub cannot do: accept and never
// read, or accept and reset.
struct RawListener {
    int listener = -1;
    std::string port;
    RawListener() {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener, (sockaddr*)&address, sizeof address) == 0 && listen(listener, 4) == 0 &&
            getsockname(listener, (sockaddr*)&address, &length) == 0)
            port = std::to_string(ntohs(address.sin_port));
    }
    ~RawListener() { close(listener); }
    int take() { return accept(listener, nullptr, nullptr); }
};

class LinkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { WSAStartup(0x202); }
    void SetUp() override { link_init(&link); }
    void TearDown() override { link_close(&link); }

    void connect_to(const std::string& port) {
        int sock = tcp_connect_within("127.0.0.1", port.c_str(), SOCKET_STREAM, 5000, nullptr);
        ASSERT_GE(sock, 0);
        link_plain(&link, sock);
    }
    // One receive of up to 64 bytes; its text in *text.
    LinkWait receive(int timeout_ms, std::string* text = nullptr, int (*stop)(void*) = nullptr,
                     void* arg = nullptr) {
        char buffer[64];
        int got = -1;
        LinkWait wait = link_receive(&link, buffer, sizeof buffer, &got, timeout_ms, stop, arg);
        EXPECT_EQ(got > 0, wait == LINK_DATA);
        if (text != nullptr) text->assign(buffer, (size_t)(got > 0 ? got : 0));
        return wait;
    }

    Link link;
};

}  // namespace

TEST_F(LinkTest, PlainReceiveEndsInDataThenTimedOutThenClosed) {
    TestHub hub;
    hub.send("$Lock x|").expect("hi|").pause(600).close();
    connect_to(hub.port_text());
    std::string text;
    EXPECT_EQ(receive(3000, &text), LINK_DATA);
    EXPECT_EQ(text, "$Lock x|");
    ASSERT_TRUE(link_send_all(&link, "hi|", 3, 1000));
    EXPECT_TRUE(hub.wait_received(0, "hi|", 2000));
    uint64_t start = monotonic_ms();
    EXPECT_EQ(receive(150), LINK_TIMED_OUT);
    EXPECT_GE(monotonic_ms() - start, 150u);
    EXPECT_EQ(receive(3000), LINK_CLOSED);
    link_close(&link);
    EXPECT_EQ(link.socket, -1);
    link_close(&link);  // twice: nothing left to close
}

// A long wait asks its stop check between slices and ends on it: not after
// the whole limit, and with the caller's argument.
TEST_F(LinkTest, StopCheckIsAskedEverySliceWithItsArgument) {
    TestHub silent;
    connect_to(silent.port_text());
    int calls = 0;
    uint64_t start = monotonic_ms();
    EXPECT_EQ(receive(20000, nullptr, stop_on_third, &calls), LINK_STOPPED);
    EXPECT_EQ(calls, 3);
    EXPECT_LT(monotonic_ms() - start, 3u * LINK_STOP_CHECK_MS + 1000);
}

TEST_F(LinkTest, ResetByThePeerAndNoSocketAreErrors) {
    RawListener peer;
    ASSERT_FALSE(peer.port.empty());
    connect_to(peer.port);
    int accepted = peer.take();
    ASSERT_GE(accepted, 0);
    linger reset = {1, 0};  // closing with this sends a reset, not a goodbye
    setsockopt(accepted, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(accepted);
    EXPECT_EQ(receive(2000), LINK_ERROR);
    link_close(&link);
    EXPECT_EQ(receive(0), LINK_ERROR);
    EXPECT_FALSE(link_send_all(&link, "x", 1, 100));
}

// A peer that never reads: the whole send fails once its limit passed
// instead of blocking on a full socket; a reading peer gets every byte.
TEST_F(LinkTest, PlainSendAllIsBoundedAndWhole) {
    std::vector<char> data(32 << 20, 'd');  // more than both socket buffers hold
    RawListener deaf;
    connect_to(deaf.port);
    int accepted = deaf.take();
    uint64_t start = monotonic_ms();
    EXPECT_FALSE(link_send_all(&link, data.data(), (int)data.size(), 300));
    EXPECT_LT(monotonic_ms() - start, 3000u);
    close(accepted);
    link_close(&link);

    TestHub hub;
    connect_to(hub.port_text());
    std::string whole(300000, 'w');
    whole += "|";
    EXPECT_TRUE(link_send_all(&link, whole.data(), (int)whole.size(), 5000));
    EXPECT_TRUE(hub.wait_received(0, whole, 5000));
}

namespace {
TlsTestServer g_server;
}

class LinkTls : public LinkTest {
protected:
    static void SetUpTestSuite() {
        WSAStartup(0x202);
        ASSERT_EQ(tls_test_server_start(&g_server, "kivo-test", SERVER_SCRIPT), "");
    }
    static void TearDownTestSuite() { tls_test_server_stop(&g_server); }

    void start() {
        connect_to(g_server.port);
        char error[TLS_REASON_BYTES] = "";
        ASSERT_TRUE(link_start_tls(&link, nullptr, 5000, nullptr, nullptr, error, sizeof error)) << error;
        EXPECT_EQ(link.tls, 1);
    }
    bool send(const std::string& text) { return link_send_all(&link, text.data(), (int)text.size(), 5000); }
};

TEST_F(LinkTls, ReceiveEndsInDataTimedOutStoppedThenClosed) {
    start();
    ASSERT_TRUE(send("echo me|"));
    std::string text;
    EXPECT_EQ(receive(5000, &text), LINK_DATA);
    EXPECT_EQ(text, "echo me|");
    EXPECT_EQ(receive(150), LINK_TIMED_OUT);
    int calls = 0;
    EXPECT_EQ(receive(20000, nullptr, stop_on_third, &calls), LINK_STOPPED);
    EXPECT_EQ(calls, 3);
    ASSERT_TRUE(send("bye|"));
    EXPECT_EQ(receive(5000), LINK_CLOSED);
}

TEST_F(LinkTls, ForgedRecordIsAnError) {
    start();
    ASSERT_TRUE(send("forge|"));
    EXPECT_EQ(receive(5000), LINK_ERROR);
}

// The stop check reaches the handshake with its argument: a server that
// never answers is given up soon, and the socket stays for the close.
TEST_F(LinkTls, HandshakeGivesUpOnTheStopCheck) {
    RawListener mute;
    connect_to(mute.port);
    int calls = 0;
    char error[TLS_REASON_BYTES] = "";
    uint64_t start = monotonic_ms();
    EXPECT_FALSE(link_start_tls(&link, nullptr, 20000, stop_on_third, &calls, error, sizeof error));
    EXPECT_LT(monotonic_ms() - start, 5000u);
    EXPECT_GE(calls, 3);
    EXPECT_STREQ(error, "given up");
    EXPECT_EQ(link.tls, 0);
    EXPECT_GE(link.socket, 0);
}
