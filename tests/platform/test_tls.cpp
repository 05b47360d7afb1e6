// TLS sessions against a local TLS server: Python's ssl module in a child
// process (OpenSSL underneath, so the other side is not our library), with a
// self-signed certificate made by the openssl command for this run. Also
// servers that are no TLS server at all: one that never answers, one that
// greets in plain NMDC. Everything on 127.0.0.1, every wait bounded, the
// child killed and reaped at the end.
//
// The server's commands, each ending in '|': "sni|" answers the name the
// client asked for ("-" for none), "bulk N|" sends N bytes of a pattern,
// "sink N|" waits 0.3 s, then reads N bytes and answers with their SHA-256
// in hex, "bye|" ends the session (close_notify) and closes; anything else is echoed.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/link.h"
#include "platform/platform.h"
#include "platform/tls.h"
#include "support/tls_server.h"

namespace {

const char* const SERVER_SCRIPT = R"PY(
import hashlib, socket, ssl, sys, time
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
context.options &= ~ssl.OP_CIPHER_SERVER_PREFERENCE  # the client's order decides
asked = {}
context.sni_callback = lambda tls, name, ctx: asked.__setitem__('name', name)
listener = socket.socket()
listener.bind(('127.0.0.1', 0))
listener.listen(4)
print(listener.getsockname()[1], flush=True)
def command(tls, text):
    if text == b'sni':
        tls.sendall((asked.get('name') or '-').encode() + b'|')
    elif text.startswith(b'bulk '):
        n = int(text[5:])
        tls.sendall(bytes(i % 251 for i in range(n)))
    elif text == b'bye':
        tls.unwrap()
        return False
    elif text.startswith(b'sink '):
        # A pause before reading: the client's sends fill both socket
        # buffers meanwhile, however fast this side reads later.
        time.sleep(0.3)
        n = int(text[5:]); digest = hashlib.sha256(); got = 0
        while got < n:
            data = tls.recv(min(65536, n - got))
            if not data: return False
            digest.update(data); got += len(data)
        tls.sendall(digest.hexdigest().encode() + b'|')
    else:
        tls.sendall(text + b'|')
    return True
while True:
    connection, _ = listener.accept()
    connection.settimeout(10)
    asked.clear()
    try:
        with context.wrap_socket(connection, server_side=True) as tls:
            pending = b''
            while True:
                data = tls.recv(65536)
                if not data: break
                pending += data
                while b'|' in pending:
                    text, pending = pending.split(b'|', 1)
                    if not command(tls, text): break
                else:
                    continue
                break
    except (OSError, ValueError):
        pass
)PY";

TlsTestServer g_tls_server;

class Tls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WSAStartup(0x202);
        std::string failed = tls_test_server_start(&g_tls_server, "kivo-test", SERVER_SCRIPT);
        ASSERT_EQ(failed, "");
    }
    static void TearDownTestSuite() { tls_test_server_stop(&g_tls_server); }

    TlsSession session = {};
    char error[TLS_REASON_BYTES] = "";
    int sock = -1;

    void TearDown() override {
        tls_close(&session);
        if (sock >= 0) closesocket(sock);
    }

    void connect_to(const char* port) {
        sock = tcp_connect_within("127.0.0.1", port, SOCKET_STREAM, 5000, nullptr);
        ASSERT_GE(sock, 0);
    }

    // Receives until the text ends in '|' or 5 s pass.
    std::string receive_reply() {
        std::string reply;
        char buffer[512];
        while (reply.empty() || reply.back() != '|') {
            int got = tls_recv_timeout(&session, buffer, sizeof buffer, 5000);
            if (got <= 0) break;
            reply.append(buffer, (size_t)got);
        }
        return reply;
    }
};

// A listener on 127.0.0.1 that takes connections (the kernel completes them)
// but never says anything unless the test writes.
int quiet_listener(char* port_text) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, (sockaddr*)&address, sizeof address) != 0 || listen(listener, 4) != 0) return -1;
    socklen_t length = sizeof address;
    getsockname(listener, (sockaddr*)&address, &length);
    snprintf(port_text, 16, "%d", ntohs(address.sin_port));
    return listener;
}

TEST_F(Tls, AvailableAndNamesTheLibrary) {
    char version[48];
    EXPECT_EQ(tls_available(version, sizeof version), 1);
    EXPECT_EQ(strncmp(version, "mbed TLS ", 9), 0) << version;
    char tiny[5];
    tls_available(tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "mbed");
}

TEST_F(Tls, HandshakeRoundTripAndKeyprintAsComputedApart) {
    connect_to(g_tls_server.port.c_str());
    ASSERT_EQ(tls_handshake(&session, sock, "hub.example.org", 5000, nullptr, error, sizeof error), 1) << error;
    EXPECT_STREQ(error, "");
    char keyprint[TLS_KEYPRINT_BYTES];
    EXPECT_EQ(tls_keyprint(&session, keyprint, sizeof keyprint), 59);
    EXPECT_EQ(g_tls_server.keyprint, keyprint);
    // The measured choice: ChaCha20-Poly1305 first, which this library
    // decrypts faster than AES-GCM (bench/bench_tls_ciphers.cpp).
    EXPECT_NE(strstr(tls_cipher_suite(&session), "CHACHA20-POLY1305"), nullptr) << tls_cipher_suite(&session);

    const char greeting[] = "$Lock EXTENDEDPROTOCOL_kivo Pk=kivo|";
    ASSERT_EQ(tls_send_within(&session, greeting, (int)strlen(greeting), 5000), (int)strlen(greeting));
    EXPECT_EQ(receive_reply(), greeting);
    ASSERT_EQ(tls_send_within(&session, "sni|", 4, 5000), 4);
    EXPECT_EQ(receive_reply(), "hub.example.org|");  // the name went out

    // A keyprint cut to a small buffer stays terminated.
    char cut[10];
    EXPECT_EQ(tls_keyprint(&session, cut, sizeof cut), 9);
    EXPECT_EQ(std::string(cut), g_tls_server.keyprint.substr(0, 9));
}

// Peers are reached by address: an address is no name and is not sent.
TEST_F(Tls, AnAddressIsNotSentAsTheServerName) {
    connect_to(g_tls_server.port.c_str());
    ASSERT_EQ(tls_handshake(&session, sock, "127.0.0.1", 5000, nullptr, error, sizeof error), 1) << error;
    ASSERT_EQ(tls_send_within(&session, "sni|", 4, 5000), 4);
    EXPECT_EQ(receive_reply(), "-|");
}

// Sends through a tiny socket buffer, so that records are held half-sent and
// sent again from the same bytes: the server's digest proves every byte came
// once and in order.
TEST_F(Tls, NonBlockingSendsHoldHalfSentRecordsWithoutLosingBytes) {
    connect_to(g_tls_server.port.c_str());
    ASSERT_EQ(tls_handshake(&session, sock, nullptr, 5000, nullptr, error, sizeof error), 1) << error;
    int small = 4096;
    setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    constexpr int TOTAL = 600000;
    static char data[TOTAL];
    for (int i = 0; i < TOTAL; i++) data[i] = (char)(i * 7 + i / 1000);
    ASSERT_EQ(tls_send_within(&session, "sink 600000|", 12, 5000), 12);
    int sent = 0, zero_takes = 0;
    uint64_t deadline = monotonic_ms() + 20000;
    while (sent < TOTAL && monotonic_ms() < deadline) {
        int taken = tls_send_nonblocking(&session, data + sent, TOTAL - sent);
        ASSERT_GE(taken, 0);
        if (taken == 0) {
            zero_takes++;
            struct pollfd waiting = {sock, POLLOUT, 0};
            poll(&waiting, 1, 100);
        }
        sent += taken;
    }
    ASSERT_EQ(sent, TOTAL);
    EXPECT_GT(zero_takes, 0) << "the socket never filled: the held path was not taken";
    std::string digest = command_output("python3 -c \"import hashlib; print(hashlib.sha256(bytes((i * 7 + i // 1000) % 256 "
                                        "for i in range(600000))).hexdigest())\"");
    EXPECT_EQ(receive_reply(), digest + "|");
}

// The hub's way: the socket registered for read messages, each answered by
// one tls_recv_once into a buffer smaller than a record. The bytes the
// library holds after a receive must bring the next read message themselves:
// the socket has nothing left to wake poll.
namespace registered {
TlsSession* g_session;
std::string g_received;
bool g_closed;
intptr_t proc(Window, uint32_t message, WPARAM, LPARAM lparam) {
    if (message != WM_SOCKET_EVENT) return 0;
    if (low_word((uintptr_t)lparam) == FD_CLOSE) g_closed = true;
    if (low_word((uintptr_t)lparam) != FD_READ) return 0;
    char buffer[1000];
    int got = tls_recv_once(g_session, buffer, sizeof buffer);
    if (got > 0) g_received.append(buffer, (size_t)got);
    if (got == 0 || got == -1) g_closed = true;
    return 0;
}
constexpr size_t BULK = 300000;
int done(void*) {
    return g_received.size() >= BULK || g_closed;
}
}  // namespace registered

TEST_F(Tls, ReadMessagesDeliverEveryByteTheLibraryHolds) {
    connect_to(g_tls_server.port.c_str());
    ASSERT_EQ(tls_handshake(&session, sock, nullptr, 5000, nullptr, error, sizeof error), 1) << error;
    registered::g_session = &session;
    registered::g_received.clear();
    registered::g_closed = false;
    Window window = window_create(registered::proc);
    ASSERT_EQ(socket_async_select(sock, window, WM_SOCKET_EVENT, HUB_EVENT_MASK), 0);
    ASSERT_EQ(tls_send_within(&session, "bulk 300000|", 12, 5000), 12);
    message_pump(registered::done, nullptr, 20000);
    socket_async_select(sock, window, 0, 0);
    window_destroy(window);
    EXPECT_FALSE(registered::g_closed);
    ASSERT_EQ(registered::g_received.size(), registered::BULK);
    for (size_t i = 0; i < registered::BULK; i++) {
        ASSERT_EQ((unsigned char)registered::g_received[i], i % 251) << "at " << i;
    }
}

TEST_F(Tls, ServerThatNeverAnswersTimesOut) {
    char port[16];
    int listener = quiet_listener(port);
    ASSERT_GE(listener, 0);
    connect_to(port);
    EXPECT_EQ(tls_handshake(&session, sock, "hub.example.org", 300, nullptr, error, sizeof error), 0);
    EXPECT_STREQ(error, "timed out");
    close(listener);
}

namespace give_up {
int g_asked;
int after_three() {
    return ++g_asked > 3;
}
}  // namespace give_up

TEST_F(Tls, GiveUpEndsAWaitingHandshake) {
    char port[16];
    int listener = quiet_listener(port);
    ASSERT_GE(listener, 0);
    connect_to(port);
    give_up::g_asked = 0;
    EXPECT_EQ(tls_handshake(&session, sock, nullptr, 60000, give_up::after_three, error, sizeof error), 0);
    EXPECT_STREQ(error, "given up");
    EXPECT_EQ(give_up::g_asked, 4);
    close(listener);
}

// A port that speaks plain NMDC where TLS was expected: a failure, never a
// plain session.
TEST_F(Tls, PlainNmdcServerFailsTheHandshake) {
    char port[16];
    int listener = quiet_listener(port);
    ASSERT_GE(listener, 0);
    connect_to(port);
    int server = accept(listener, nullptr, nullptr);
    ASSERT_GE(server, 0);
    const char lock[] = "$Lock EXTENDEDPROTOCOL_verlihub Pk=version0.9.8e-r2|$HubName Plain|";
    ASSERT_EQ(send(server, lock, strlen(lock), 0), (ssize_t)strlen(lock));
    EXPECT_EQ(tls_handshake(&session, sock, nullptr, 5000, nullptr, error, sizeof error), 0);
    EXPECT_STREQ(error, "not a TLS server");
    char keyprint[TLS_KEYPRINT_BYTES] = "x";
    EXPECT_EQ(tls_keyprint(&session, keyprint, sizeof keyprint), 0);
    EXPECT_STREQ(keyprint, "");
    EXPECT_EQ(tls_recv_timeout(&session, keyprint, sizeof keyprint, 10), -1);  // nothing open
    close(server);
    close(listener);
}

TEST_F(Tls, ServerThatClosesFailsTheHandshake) {
    char port[16];
    int listener = quiet_listener(port);
    ASSERT_GE(listener, 0);
    connect_to(port);
    close(accept(listener, nullptr, nullptr));
    EXPECT_EQ(tls_handshake(&session, sock, nullptr, 5000, nullptr, error, sizeof error), 0);
    EXPECT_STREQ(error, "closed by the peer");
    close(listener);
}

// The peer ending the session is an orderly close for the reader, and
// closing twice is harmless.
TEST_F(Tls, PeerCloseReadsAsZeroAndCloseTwiceIsSafe) {
    connect_to(g_tls_server.port.c_str());
    ASSERT_EQ(tls_handshake(&session, sock, nullptr, 5000, nullptr, error, sizeof error), 1) << error;
    ASSERT_EQ(tls_send_within(&session, "bye|", 4, 5000), 4);
    char buffer[64];
    EXPECT_EQ(tls_recv_timeout(&session, buffer, sizeof buffer, 5000), 0);
    tls_close(&session);
    tls_close(&session);
    EXPECT_STREQ(tls_cipher_suite(&session), "none");
}

// --- The own identity and the server side ------------------------------------------
// The identity is the process's own: each test loads the one it needs.

class TlsIdentity : public ::testing::Test {
protected:
    char scratch[40] = "/tmp/kivo-test-identity-XXXXXX";
    std::string folder;  // made by the first load
    char keyprint[TLS_KEYPRINT_BYTES] = "";
    char note[160] = "";

    void SetUp() override {
        WSAStartup(0x202);
        ASSERT_NE(mkdtemp(scratch), nullptr);
        folder = std::string(scratch) + "/config/kivo/";
    }
    void TearDown() override { command_output(std::string("rm -rf ") + scratch); }
    int load(const std::string& where) {
        char16_t path[1024];
        utf8_to_utf16(where.c_str(), -1, path, 1024);
        return tls_identity_load(path, keyprint, sizeof keyprint, note, sizeof note);
    }
    std::string in_folder(const std::string& command) { return command_output("cd " + folder + " && " + command); }
};

TEST_F(TlsIdentity, MadeOncePrivateThenLoadedAsItWas) {
    ASSERT_EQ(load(folder), 1) << note;
    EXPECT_STREQ(note, "");  // a first pair is no news
    EXPECT_EQ(in_folder("stat -c %a . tls.key tls.crt | tr '\\n' ' '"), "700 600 600 ");
    // The keyprint worked out apart: openssl and Python's hashlib and base64.
    EXPECT_EQ(in_folder("openssl x509 -in tls.crt -outform der | python3 -c \"import sys, hashlib, base64; print("
                        "'SHA256/' + base64.b32encode(hashlib.sha256(sys.stdin.buffer.read()).digest()).decode()"
                        ".rstrip('='))\""),
              keyprint);
    EXPECT_EQ(in_folder("openssl x509 -in tls.crt -noout -subject -issuer"), "subject=CN = Kivo\nissuer=CN = Kivo");
    EXPECT_EQ(in_folder("openssl x509 -in tls.crt -noout -checkend 599594400"),  // 19 years on
              "Certificate will not expire");
    std::string first = keyprint;
    ASSERT_EQ(load(folder.substr(0, folder.size() - 1)), 1) << note;  // without the trailing separator
    EXPECT_STREQ(note, "");
    EXPECT_EQ(first, keyprint);
}

TEST_F(TlsIdentity, AnUnreadableOrMismatchedPairIsKeptAsideAndANewOneMade) {
    ASSERT_EQ(load(folder), 1) << note;
    std::string first = keyprint;
    in_folder("printf 'not a certificate' > tls.crt");
    ASSERT_EQ(load(folder), 1) << note;
    std::string said = note;
    EXPECT_EQ(said.rfind("the TLS certificate could not be read; kept aside as tls.crt.bad-", 0), 0u) << said;
    EXPECT_NE(said.find(" and tls.key.bad-"), std::string::npos) << said;
    EXPECT_NE(said.find("; a new one was made"), std::string::npos) << said;
    EXPECT_NE(first, keyprint);
    EXPECT_EQ(in_folder("cat tls.crt.bad-*"), "not a certificate") << "kept as it was";
    // A key that parses but is not the certificate's: both aside too.
    std::string second = keyprint;
    ASSERT_EQ(load(std::string(scratch) + "/other/"), 1) << note;
    in_folder("cp ../../other/tls.key tls.key");
    ASSERT_EQ(load(folder), 1) << note;
    EXPECT_NE(std::string(note).find("kept aside"), std::string::npos) << note;
    EXPECT_NE(second, keyprint);
    EXPECT_EQ(in_folder("ls tls.crt.bad-* tls.key.bad-* | wc -l"), "4");
}

int accept_within_5s(int listener) {
    struct pollfd waiting = {listener, POLLIN, 0};
    return poll(&waiting, 1, 5000) == 1 ? socket_accept(listener, nullptr) : -1;
}

TEST_F(TlsIdentity, AClientHandshakesWithOurIdentityAndBytesGoBothWays) {
    ASSERT_EQ(load(folder), 1) << note;
    int listener = socket_listen(SOCKET_STREAM, 0, nullptr, 0);
    ASSERT_GE(listener, 0);
    std::string port = std::to_string(socket_local_port(listener));
    char seen[TLS_KEYPRINT_BYTES] = "";
    std::string reply;
    std::thread client([&] {
        int sock = tcp_connect_within("127.0.0.1", port.c_str(), SOCKET_STREAM, 5000, nullptr);
        TlsSession session = {};
        char error[TLS_REASON_BYTES];
        if (sock >= 0 && tls_handshake(&session, sock, nullptr, 5000, nullptr, error, sizeof error) == 1) {
            tls_keyprint(&session, seen, sizeof seen);
            tls_send_within(&session, "$MyNick bob|", 12, 5000);
            char buffer[64];
            int got = tls_recv_timeout(&session, buffer, sizeof buffer, 5000);
            if (got > 0) reply.assign(buffer, (size_t)got);
        }
        tls_close(&session);
        if (sock >= 0) closesocket(sock);
    });
    Link link;
    link_plain(&link, accept_within_5s(listener));
    char error[TLS_REASON_BYTES];
    EXPECT_TRUE(link_accept_tls(&link, 5000, nullptr, nullptr, error, sizeof error)) << error;
    char buffer[64];
    int got = 0;
    EXPECT_EQ(link_receive(&link, buffer, sizeof buffer, &got, 5000, nullptr, nullptr), LINK_DATA);
    EXPECT_EQ(std::string(buffer, (size_t)got), "$MyNick bob|");
    EXPECT_TRUE(link_send_all(&link, "$MyNick alice|", 14, 5000));
    client.join();
    EXPECT_STREQ(seen, keyprint) << "the client sees the certificate we keep";
    EXPECT_EQ(reply, "$MyNick alice|");
    link_close(&link);
    closesocket(listener);
}

std::atomic<int> g_stop_asked;
int stop_after_three(void*) {
    return ++g_stop_asked > 3;
}

// A plain NMDC greeting fails the handshake at once; a client that says
// nothing holds it until the stop check ends it; without an identity none starts.
TEST_F(TlsIdentity, APlainClientFailsTheServersHandshakeTheStopCheckEndsAWaitingOneAndNoneStartsWithoutAnIdentity) {
    ASSERT_EQ(load(folder), 1) << note;
    int listener = socket_listen(SOCKET_STREAM, 0, nullptr, 0);
    ASSERT_GE(listener, 0);
    std::string port = std::to_string(socket_local_port(listener));
    std::atomic<bool> through{false};
    std::thread client([&] {
        int plain = tcp_connect_within("127.0.0.1", port.c_str(), SOCKET_STREAM, 5000, nullptr);
        send(plain, "$MyNick bob|$Lock EXTENDEDPROTOCOL Pk=x|", 39, MSG_NOSIGNAL);
        int quiet = tcp_connect_within("127.0.0.1", port.c_str(), SOCKET_STREAM, 5000, nullptr);
        for (int i = 0; i < 200 && !through; i++) usleep(50 * 1000);
        closesocket(plain);
        closesocket(quiet);
    });
    Link link;
    link_plain(&link, accept_within_5s(listener));
    char error[TLS_REASON_BYTES];
    uint64_t start = monotonic_ms();
    EXPECT_FALSE(link_accept_tls(&link, 3000, nullptr, nullptr, error, sizeof error));
    EXPECT_LT(monotonic_ms() - start, 2000u) << "refused at once, not timed out";
    EXPECT_STREQ(error, "not a TLS client");
    link_close(&link);
    link_plain(&link, accept_within_5s(listener));
    g_stop_asked = 0;
    EXPECT_FALSE(link_accept_tls(&link, 60000, stop_after_three, nullptr, error, sizeof error));
    EXPECT_STREQ(error, "given up");
    EXPECT_EQ(g_stop_asked.load(), 4);
    through = true;
    client.join();
    link_close(&link);
    closesocket(listener);
    // A load that fails leaves no identity behind to serve with.
    EXPECT_EQ(load("/proc/kivo-no-such-folder/"), 0);
    EXPECT_STREQ(keyprint, "");
    TlsSession session = {};
    EXPECT_EQ(tls_accept(&session, 0, 1000, nullptr, error, sizeof error), 0);
    EXPECT_STREQ(error, "no certificate");
}

}  // namespace
