// Socket events as window messages, and posting from other threads, driven
// through message_pump with a plain window standing in for the main screen.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

std::vector<int> g_events;        // event codes, in order of arrival
std::vector<WPARAM> g_sockets;

intptr_t event_proc(Window, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_SOCKET_EVENT) {
        g_events.push_back(low_word((uintptr_t)lparam));
        g_sockets.push_back(wparam);
    }
    return 0;
}

int count_of(int event) {
    int n = 0;
    for (int e : g_events) n += e == event;
    return n;
}

int g_wanted_event;
int saw_wanted(void*) {
    return count_of(g_wanted_event) > 0;
}

// Pumps until the event arrives (or 2 s pass); true when it did.
bool pump_until(int event) {
    g_wanted_event = event;
    return message_pump(saw_wanted, nullptr, 2000) != 0;
}

// Pumps for a short while to let anything that would come, come.
void pump_a_while() {
    message_pump(nullptr, nullptr, 100);
}

// A connected TCP pair on 127.0.0.1 (out-of-band data needs TCP).
void tcp_pair(int* client, int* server) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, (sockaddr*)&address, sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(listener, (sockaddr*)&address, &length);
    ASSERT_EQ(listen(listener, 1), 0);
    *client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(*client, (sockaddr*)&address, sizeof address), 0);
    *server = accept(listener, nullptr, nullptr);
    close(listener);
}

class SocketEvents : public ::testing::Test {
protected:
    Window window = 0;
    int ours = -1, peer = -1;
    void SetUp() override {
        g_events.clear();
        g_sockets.clear();
        window = window_create(event_proc);
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        ours = pair[0];
        peer = pair[1];
    }
    void TearDown() override {
        socket_async_select(ours, window, 0, 0);
        if (ours >= 0) close(ours);
        if (peer >= 0) close(peer);
        window_destroy(window);
    }
};

TEST_F(SocketEvents, ReadComesOnceUntilAReceiveReArmsIt) {
    ASSERT_EQ(socket_async_select(ours, window, WM_SOCKET_EVENT, HUB_EVENT_MASK), 0);
    ASSERT_EQ(write(peer, "0123456789", 10), 10);
    ASSERT_TRUE(pump_until(FD_READ));
    pump_a_while();
    EXPECT_EQ(count_of(FD_READ), 1);  // data still waits, but one read message is out
    char buffer[4];
    EXPECT_EQ(recv_once(ours, buffer, 4), 4);
    g_events.clear();
    ASSERT_TRUE(pump_until(FD_READ));  // six bytes left: re-armed
    EXPECT_EQ(g_sockets.back(), (WPARAM)ours);
    char rest[16];
    EXPECT_EQ(recv_once(ours, rest, sizeof rest), 6);
    g_events.clear();
    pump_a_while();
    EXPECT_EQ(count_of(FD_READ), 0);  // nothing left: no read message
}

TEST_F(SocketEvents, WriteComesOnceAfterRegistration) {
    ASSERT_EQ(socket_async_select(ours, window, WM_SOCKET_EVENT, HUB_EVENT_MASK), 0);
    ASSERT_TRUE(pump_until(FD_WRITE));
    pump_a_while();
    EXPECT_EQ(count_of(FD_WRITE), 1);
}

// A send the socket does not take whole asks for the write event again; it
// comes when the peer has read and the socket takes more, not before.
TEST_F(SocketEvents, WriteComesAgainAfterASendThatWasNotTakenWhole) {
    ASSERT_EQ(socket_async_select(ours, window, WM_SOCKET_EVENT, HUB_EVENT_MASK), 0);
    ASSERT_TRUE(pump_until(FD_WRITE));
    static char block[65536];
    int taken = 0, sent = 0;
    for (int i = 0; i < 1000 && (taken = send_nonblocking(ours, block, sizeof block)) == (int)sizeof block; i++) {
        sent += taken;
    }
    ASSERT_GE(taken, 0);
    ASSERT_LT(taken, (int)sizeof block) << "the socket never filled";
    sent += taken;
    EXPECT_EQ(send_nonblocking(ours, block, 10), 0);  // full: takes nothing, and does not wait
    g_events.clear();
    pump_a_while();
    EXPECT_EQ(count_of(FD_WRITE), 0);  // still full
    char sink[65536];
    for (int read_back = 0; read_back < sent;) {
        ssize_t got = read(peer, sink, sizeof sink);
        ASSERT_GT(got, 0);
        read_back += (int)got;
    }
    ASSERT_TRUE(pump_until(FD_WRITE));
    pump_a_while();
    EXPECT_EQ(count_of(FD_WRITE), 1);
    EXPECT_EQ(send_nonblocking(ours, "x", 1), 1);
    pump_a_while();
    EXPECT_EQ(count_of(FD_WRITE), 1) << "a send taken whole asks for nothing";
    // A peer that has gone: a failure, and no SIGPIPE.
    close(peer);
    peer = -1;
    EXPECT_EQ(send_nonblocking(ours, "x", 1), -1);
}

TEST_F(SocketEvents, CloseComesOnceAfterTheDataBeforeIt) {
    ASSERT_EQ(socket_async_select(ours, window, WM_SOCKET_EVENT, HUB_EVENT_MASK), 0);
    ASSERT_EQ(write(peer, "bye", 3), 3);
    close(peer);
    peer = -1;
    ASSERT_TRUE(pump_until(FD_READ));
    pump_a_while();
    EXPECT_EQ(count_of(FD_CLOSE), 0);  // the data is not read yet
    char buffer[8];
    EXPECT_EQ(recv_once(ours, buffer, sizeof buffer), 3);
    ASSERT_TRUE(pump_until(FD_CLOSE));
    pump_a_while();
    EXPECT_EQ(count_of(FD_CLOSE), 1);
}

TEST_F(SocketEvents, RegistrationMakesTheSocketNonBlocking) {
    ASSERT_EQ(socket_async_select(ours, window, WM_SOCKET_EVENT, HUB_EVENT_MASK), 0);
    EXPECT_TRUE(fcntl(ours, F_GETFL) & O_NONBLOCK);
    char buffer[4];
    EXPECT_EQ(recv_once(ours, buffer, sizeof buffer), -1);  // nothing there: no wait
}

TEST_F(SocketEvents, MaskZeroUnregisters) {
    ASSERT_EQ(socket_async_select(ours, window, WM_SOCKET_EVENT, HUB_EVENT_MASK), 0);
    ASSERT_EQ(socket_async_select(ours, window, WM_SOCKET_EVENT, 0), 0);
    ASSERT_EQ(write(peer, "x", 1), 1);
    pump_a_while();
    EXPECT_TRUE(g_events.empty());
}

TEST_F(SocketEvents, ASocketClosedWithoutUnregisteringNeverLendsItsEventsToItsSuccessor) {
    ASSERT_EQ(socket_async_select(ours, window, WM_SOCKET_EVENT, HUB_EVENT_MASK), 0);
    close(ours);
    // The next socket gets the same descriptor number; data waits on it.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ASSERT_EQ(pair[0], ours);
    ASSERT_EQ(write(pair[1], "x", 1), 1);
    pump_a_while();
    EXPECT_TRUE(g_events.empty());
    close(pair[1]);
    // ours (the same number) is closed by TearDown.
}

TEST_F(SocketEvents, OutOfBandDataComesOnceAsItsOwnEvent) {
    int client = -1, server = -1;
    tcp_pair(&client, &server);
    ASSERT_GE(server, 0);
    ASSERT_EQ(socket_async_select(client, window, WM_SOCKET_EVENT, HUB_EVENT_MASK), 0);
    ASSERT_EQ(send(server, "!", 1, MSG_OOB), 1);
    ASSERT_TRUE(pump_until(FD_OOB));
    pump_a_while();
    EXPECT_EQ(count_of(FD_OOB), 1);
    socket_async_select(client, window, 0, 0);
    close(client);
    close(server);
}

// --- Listeners and datagrams ----------------------------------------------------------

TEST_F(SocketEvents, AListenerGetsOneAcceptPerWaitingConnectionUntilAnAcceptReArmsIt) {
    char error[64];
    int listener = socket_listen(SOCKET_STREAM, 0, error, sizeof error);
    ASSERT_GE(listener, 0) << error;
    char port[16];
    snprintf(port, sizeof port, "%d", socket_local_port(listener));
    EXPECT_EQ(socket_listen(SOCKET_STREAM, socket_local_port(listener), error, sizeof error), -1);
    EXPECT_STREQ(error, "address in use");
    ASSERT_EQ(socket_async_select(listener, window, WM_SOCKET_EVENT, FD_ACCEPT), 0);
    // The kernel completes both connects before any accept.
    int clients[2];
    for (int& c : clients) c = tcp_connect_within("127.0.0.1", port, SOCKET_STREAM, 5000, nullptr);
    ASSERT_TRUE(pump_until(FD_ACCEPT));
    pump_a_while();
    EXPECT_EQ(count_of(FD_ACCEPT), 1) << "two wait, but one accept message is out";
    EXPECT_EQ(g_sockets.back(), (WPARAM)listener);
    uint32_t peer_be = 0;
    int accepted[2] = {socket_accept(listener, &peer_be), -1};
    EXPECT_EQ(peer_be, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(socket_peer_address(accepted[0]), htonl(INADDR_LOOPBACK));
    EXPECT_FALSE(fcntl(accepted[0], F_GETFL) & O_NONBLOCK) << "an accepted socket blocks";
    g_events.clear();
    EXPECT_TRUE(pump_until(FD_ACCEPT)) << "the second connection, after the re-arm";
    accepted[1] = socket_accept(listener, nullptr);
    EXPECT_GE(accepted[1], 0);
    EXPECT_EQ(socket_accept(listener, nullptr), -1) << "none waits, and an accept never waits";
    for (int s : {accepted[0], accepted[1], clients[0], clients[1]}) close(s);
    closesocket(listener);
}

TEST_F(SocketEvents, DatagramsComeOneReadPerReceiveAndAnEmptyOneIsNoClose) {
    char error[64];
    int receiver = socket_listen(SOCKET_DATAGRAM, 0, error, sizeof error);
    ASSERT_GE(receiver, 0) << error;
    int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons((uint16_t)socket_local_port(receiver));
    ASSERT_EQ(socket_async_select(receiver, window, WM_SOCKET_EVENT, FD_READ | FD_CLOSE), 0);
    sendto(sender, "", 0, 0, (sockaddr*)&to, sizeof to);
    sendto(sender, "$SR bob file.txt|", 17, 0, (sockaddr*)&to, sizeof to);
    ASSERT_TRUE(pump_until(FD_READ));
    pump_a_while();
    EXPECT_EQ(count_of(FD_READ), 1) << "two wait, one read message";
    EXPECT_EQ(count_of(FD_CLOSE), 0) << "an empty datagram is not the end of a stream";
    char buffer[8];
    uint32_t from_be = 0;
    EXPECT_EQ(udp_receive(receiver, buffer, sizeof buffer, &from_be), 0);
    EXPECT_EQ(from_be, htonl(INADDR_LOOPBACK));
    g_events.clear();
    ASSERT_TRUE(pump_until(FD_READ));
    EXPECT_EQ(udp_receive(receiver, buffer, sizeof buffer, nullptr), 8);
    EXPECT_EQ(memcmp(buffer, "$SR bob ", 8), 0) << "cut to the buffer, the rest dropped";
    EXPECT_EQ(udp_receive(receiver, buffer, sizeof buffer, nullptr), -1) << "none waits: no wait";
    // A flood: still one read message until the next receive.
    for (int i = 0; i < 200; i++) sendto(sender, "x", 1, 0, (sockaddr*)&to, sizeof to);
    g_events.clear();
    ASSERT_TRUE(pump_until(FD_READ));
    pump_a_while();
    EXPECT_EQ(count_of(FD_READ), 1);
    close(sender);
    closesocket(receiver);
}

// --- Posting from other threads ------------------------------------------------------

std::atomic<int> g_posted_seen;
intptr_t counting_proc(Window, uint32_t message, WPARAM, LPARAM) {
    if (message == 4242) g_posted_seen++;
    return 0;
}
int posted_arrived(void*) {
    return g_posted_seen.load() > 0;
}

TEST(Posting, AMessagePostedFromAnotherThreadWakesTheSleepingLoop) {
    g_posted_seen = 0;
    Window w = window_create(counting_proc);
    std::thread poster([w] {
        usleep(50 * 1000);  // let the loop fall asleep first
        post_message(w, 4242, 0, 0);
    });
    // Without a wake-up the loop would sleep until the 5 s limit and report 0.
    EXPECT_EQ(message_pump(posted_arrived, nullptr, 5000), 1);
    poster.join();
    window_destroy(w);
}

TEST(Posting, AMessageForADestroyedWindowIsDroppedNotDeliveredToItsSuccessor) {
    g_posted_seen = 0;
    Window gone = window_create(counting_proc);
    post_message(gone, 4242, 0, 0);
    window_destroy(gone);
    Window successor = window_create(counting_proc);  // may reuse the slot
    message_pump(nullptr, nullptr, 50);
    EXPECT_EQ(g_posted_seen.load(), 0);
    window_destroy(successor);
}

}  // namespace
