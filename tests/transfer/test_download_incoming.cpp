// Connections that peers make to Kivo's listener (active mode), from the
// accepted socket on: the peer speaks first, its nick picks the job, and the
// exchange then goes on as on a connection Kivo made. The listener's side is
// one end of a socket pair; the test plays the peer on the other end.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "download_fixture.h"
#include "state/client_state.h"
#include "transfer/download.h"

using namespace download_test;

namespace {

const std::string PEER_FIRST = "$MyNick bob|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABCA Pk=MICRODCABCABCABCAB|";
const std::string PEER_REST = "$Supports MiniSlots XmlBZList|$Direction Upload 17767|" + PEER_KEY;

// The peer's end of one accepted connection.
struct PeerEnd {
    int fd = -1;
    ~PeerEnd() {
        if (fd >= 0) close(fd);
    }
    void send_text(const std::string& text) const {
        ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), (ssize_t)text.size());
    }
    // What Kivo sent until it had sent `wanted` bytes, closed, or 3 s passed.
    std::string receive(size_t wanted) const {
        std::string got;
        for (int waits = 0; got.size() < wanted && waits < 30; waits++) {
            struct pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[4096];
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            got.append(buffer, (size_t)n);
        }
        return got;
    }
    // True once Kivo has closed its end (within 3 s).
    bool closed_by_kivo() const {
        for (int waits = 0; waits < 30; waits++) {
            struct pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[256];
            if (recv(fd, buffer, sizeof buffer, 0) <= 0) return true;
        }
        return false;
    }
};

// Hands Kivo's end of a new pair to the transfers, as the listener does.
void connect_in(PeerEnd* peer) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    peer->fd = pair[1];
    download_take_incoming(pair[0], false);
}

uint8_t handshakes() { return std::atomic_ref<uint8_t>(g_state.handshakes).load(); }

class IncomingConnection : public ::testing::Test {
protected:
    void SetUp() override {
        reset_download_state();
        g_state.download_silence_ms = 2000;
        dir_ = std::make_unique<TempCurrentDirectory>();
        ASSERT_TRUE(dir_->ok());
        g_state.jobs[0].asked_active = 1;  // Kivo sent its own $ConnectToMe
        request_download();
    }
    void TearDown() override {
        end_download_worker();
        dir_.reset();
    }
    std::unique_ptr<TempCurrentDirectory> dir_;
};

TEST_F(IncomingConnection, PeerSpeaksFirstAndOnlyTheAskedNickGetsItsFile) {
    // The hub's $ConnectToMe cannot take a request that waits for the peer's
    // own connection: Kivo connects nowhere for it.
    download_take_connect("$ConnectToMe me 127.0.0.1:9");
    EXPECT_EQ(download_phase(0), DOWNLOAD_REQUESTED);

    PeerEnd stranger;
    connect_in(&stranger);
    stranger.send_text("$MyNick eve|$Lock EXTENDEDPROTOCOLABC Pk=x|");
    EXPECT_TRUE(stranger.closed_by_kivo());
    EXPECT_TRUE(wait_until(2000, [] { return handshakes() == 0; }));
    EXPECT_EQ(download_phase(0), DOWNLOAD_REQUESTED);

    PeerEnd bob;
    connect_in(&bob);
    bob.send_text(PEER_FIRST);
    EXPECT_EQ(bob.receive(CLIENT_GREETING.size()), CLIENT_GREETING);
    bob.send_text(PEER_REST);
    EXPECT_EQ(bob.receive(CLIENT_REQUEST.size()), CLIENT_REQUEST);
    bob.send_text("$FileLength 5|");
    EXPECT_EQ(bob.receive(6), "$Send|");
    bob.send_text("hello");
    ASSERT_TRUE(wait_download_ended());
    EXPECT_EQ(file_text("a.mp3"), "hello");
    EXPECT_EQ(chat_text(), "::start download::\r\na.mp3\r\n ::downloaded::\r\n");
    EXPECT_EQ(download_link(0), DOWNLOAD_LINK_PLAIN);
    EXPECT_EQ(handshakes(), 0);
}

TEST_F(IncomingConnection, HandshakesAreBoundedInNumberAndSize) {
    constexpr int PEERS = INCOMING_HANDSHAKES + 2;
    PeerEnd peers[PEERS];
    for (PeerEnd& peer : peers) connect_in(&peer);
    // Past the bound a connection is closed unread.
    EXPECT_TRUE(peers[PEERS - 1].closed_by_kivo());
    EXPECT_TRUE(peers[PEERS - 2].closed_by_kivo());
    EXPECT_EQ(handshakes(), INCOMING_HANDSHAKES);
    // A nick that never ends, junk, a peer that leaves: each ends its handshake.
    peers[0].send_text("$MyNick " + std::string(HANDSHAKE_RECEIVE_BYTES, 'n'));
    peers[1].send_text("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(peers[0].closed_by_kivo());
    EXPECT_TRUE(peers[1].closed_by_kivo());
    for (int i = 2; i < INCOMING_HANDSHAKES; i++) {
        close(peers[i].fd);
        peers[i].fd = -1;
    }
    EXPECT_TRUE(wait_until(3000, [] { return handshakes() == 0; }));
    EXPECT_EQ(download_phase(0), DOWNLOAD_REQUESTED);  // nobody took the request
    // With no request waiting for a peer's connection, none is kept at all.
    download_set_phase(0, DOWNLOAD_IDLE);
    PeerEnd late;
    connect_in(&late);
    EXPECT_TRUE(late.closed_by_kivo());
    EXPECT_EQ(handshakes(), 0);
}

TEST_F(IncomingConnection, AConnectionOlderThanTheRequestDoesNotTakeIt) {
    // bob's connection comes while only carol's request waits; bob is asked
    // after it: that connection answers no request of bob's.
    download_set_phase(0, DOWNLOAD_IDLE);
    text_copy(g_state.jobs[1].nick, RESULT_NICK_BYTES, "carol");
    g_state.jobs[1].asked_active = 1;
    ASSERT_TRUE(download_request(1));
    PeerEnd early;
    connect_in(&early);
    ASSERT_TRUE(download_request(0));
    early.send_text(PEER_FIRST);
    EXPECT_TRUE(early.closed_by_kivo());
    EXPECT_EQ(download_phase(0), DOWNLOAD_REQUESTED);
    // bob's answer to the request is taken.
    PeerEnd bob;
    connect_in(&bob);
    bob.send_text(PEER_FIRST);
    EXPECT_EQ(bob.receive(CLIENT_GREETING.size()), CLIENT_GREETING);
    EXPECT_EQ(download_phase(0), DOWNLOAD_CONNECTING);
    download_set_phase(1, DOWNLOAD_IDLE);
}

}  // namespace
