// Active mode's decisions: which mode is in force and why, from what the
// hub and this machine's addresses say; and which $SR datagrams a search
// takes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hub/active_mode.h"
#include "hub/search.h"
#include "state/client_state.h"
#include "state/text_scan.h"

namespace {

uint32_t ip(const char* dotted) {
    uint32_t address = 0;
    EXPECT_EQ(ipv4_text_take(dotted, &address), 1) << dotted;
    return address;
}

std::string dotted(uint32_t address) {
    char text[16];
    ipv4_text(address, text, sizeof text);
    return text;
}

TEST(ModeDecide, AutoIsActiveOnlyWhenNothingSitsBetweenKivoAndTheHub) {
    struct Case {
        const char* what;
        uint8_t mode;
        ModeFacts facts;
        bool active;
        const char* address;  // told to peers, when active
        const char* text;
    } cases[] = {
        {"loopback hub", MODE_AUTO, {true, 4120, 0, 0, false, ip("127.0.0.1"), false, ""}, true, "127.0.0.1",
         "active on 4120"},
        {"public address", MODE_AUTO, {true, 4120, 0, 0, false, ip("198.51.100.7"), false, ""}, true,
         "198.51.100.7", "active on 4120"},
        {"private, hub in the same network", MODE_AUTO,
         {true, 4120, 0, 0, false, ip("192.168.1.5"), true, ""}, true, "192.168.1.5", "active on 4120"},
        {"private, hub elsewhere", MODE_AUTO, {true, 4120, 0, 0, false, ip("192.168.1.5"), false, ""}, false, nullptr,
         "passive: a router is between this machine (192.168.1.5) and the hub"},
        {"carrier NAT", MODE_AUTO, {true, 4120, 0, 0, false, ip("100.64.3.3"), false, ""}, false, nullptr,
         "passive: a router is between this machine (100.64.3.3) and the hub"},
        {"$UserIP names this machine", MODE_AUTO,
         {true, 4120, 0, ip("10.1.2.3"), true, ip("10.1.2.3"), false, ""}, true, "10.1.2.3", "active on 4120"},
        {"$UserIP names another", MODE_AUTO,
         {true, 4120, 0, ip("203.0.113.5"), false, ip("127.0.0.1"), false, ""}, false, nullptr,
         "passive: the hub sees 203.0.113.5, not this machine"},
        {"external address given", MODE_AUTO,
         {true, 4120, ip("203.0.113.9"), ip("203.0.113.5"), false, ip("192.168.1.5"), false, ""}, true,
         "203.0.113.9", "active on 4120"},
        {"not connected", MODE_AUTO, {true, 4120, 0, 0, false, 0, false, ""}, false, nullptr, ""},
        {"cannot listen", MODE_AUTO, {false, 0, 0, 0, false, ip("127.0.0.1"), false, "address in use"}, false,
         nullptr, "passive: cannot listen: address in use"},
        {"active chosen, behind a router", MODE_ACTIVE,
         {true, 4120, 0, 0, false, ip("192.168.1.5"), false, ""}, true, "192.168.1.5", "active on 4120"},
        {"active chosen, the hub's view wins over the local one", MODE_ACTIVE,
         {true, 4120, 0, ip("203.0.113.5"), false, ip("192.168.1.5"), false, ""}, true, "203.0.113.5",
         "active on 4120"},
        {"active chosen, cannot listen", MODE_ACTIVE, {false, 0, 0, 0, false, ip("127.0.0.1"), false, "denied"},
         false, nullptr, "passive: cannot listen: denied"},
        {"passive chosen", MODE_PASSIVE, {true, 4120, 0, 0, false, ip("127.0.0.1"), false, ""}, false, nullptr,
         "passive: chosen in Option"},
    };
    for (const Case& c : cases) {
        uint32_t address = 1;
        char text[MODE_TEXT_BYTES];
        bool active = mode_decide(c.mode, &c.facts, &address, text, MODE_TEXT_BYTES);
        EXPECT_EQ(active, c.active) << c.what;
        EXPECT_STREQ(text, c.text) << c.what;
        if (c.active) EXPECT_EQ(dotted(address), c.address) << c.what;
        else EXPECT_EQ(address, 0u) << c.what;
    }
}

// A search's datagrams: results while it is recent, up to its count; never
// without one, never junk.
TEST(SearchDatagrams, TakenOnlyForARecentSearchAndUpToItsCount) {
    client_state_reset();
    auto offer = [](std::string text) {
        std::string copy = text + '\0';
        search_take_datagram(copy.data(), (int)text.size());
    };
    const std::string result = "$SR bob Music\\a.mp3\x05" "5 1/2\x05TTH:" + std::string(39, 'A') + " (127.0.0.1:411)|";
    offer(result);
    EXPECT_EQ(g_state.result_count, 0) << "no search was sent";
    search_send("a");  // not connected: sent nowhere, still a search
    offer(result);
    EXPECT_EQ(g_state.result_count, 1);
    offer("$SR bob a\x05" "5 1/2\x05TTH:x (h)");              // no closing bar
    offer("$SR bob a\x05" "5 1/2|$SR bob b\x05" "5 1/2|");    // two in one
    offer(std::string("$SR bob a\0b\x05" "5 1/2|", 17));     // a NUL
    offer("$MyINFO $ALL bob x$ $A\x01$$0$|");
    EXPECT_EQ(g_state.result_count, 1);
    for (uint32_t i = 1; i < SEARCH_UDP_RESULTS + 5; i++) offer(result);
    EXPECT_EQ(g_state.udp_results_taken, SEARCH_UDP_RESULTS);
    EXPECT_EQ(g_state.result_count, RESULT_ROWS);
    // An old search takes nothing more.
    search_send("b");
    g_state.search_sent_ms -= SEARCH_UDP_WINDOW_MS + 1;
    offer(result);
    EXPECT_EQ(g_state.result_count, 0);
}

// A datagram is taken only when its path names every word searched for,
// letters in either case (Cyrillic too in code page 1251); the nick does not count.
TEST(SearchDatagrams, TakenOnlyWhenThePathNamesTheWords) {
    client_state_reset();
    auto offer = [](const std::string& nick, const std::string& path) {
        std::string text = "$SR " + nick + " " + path + "\x05" "5 1/2\x05TTH:" + std::string(39, 'A') + " (127.0.0.1:411)|";
        std::string copy = text + '\0';
        search_take_datagram(copy.data(), (int)text.size());
        return g_state.result_count;
    };
    search_send("keypad  BLUES");
    EXPECT_EQ(offer("bob", "Music\\Keypad\\02 - blues.mp3"), 1);
    EXPECT_EQ(offer("bob", "Music\\keypad.mp3"), 1) << "one word missing";
    EXPECT_EQ(offer("keypad_BLUES", "flood-1.bin"), 1) << "the words in the nick";
    EXPECT_EQ(offer("bob", "no bar"), 1);
    search_send("\xCF\xD0\xC8\xCC\xC5\xD0");  // "ПРИМЕР" in 1251
    EXPECT_EQ(offer("bob", "pub\\\xEF\xF0\xE8\xEC\xE5\xF0.bin"), 1) << "\"пример\" in 1251";
    EXPECT_EQ(offer("bob", "pub\\other.bin"), 1);
}

}  // namespace

// --- Through the loop: listeners, a hub on loopback, its $UserIP --------------------

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "hub_test_state.h"

namespace {

class ActiveModeLoop : public HubWindowTest {
protected:
    void SetUp() override {
        HubWindowTest::SetUp();
        window_destroy(window_);
        window_ = window_create(active_proc);
        g_state.main_window = window_;
        char pattern[] = "/tmp/kivo-active-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        char16_t* out = g_state.identity_folder;
        for (char c : folder_) *out++ = (char16_t)c;
        *out = 0;
    }
    void TearDown() override {
        active_mode_close();
        HubWindowTest::TearDown();
        for (const char* name : {"/tls.key", "/tls.crt"}) unlink((folder_ + name).c_str());
        rmdir(folder_.c_str());
    }
    static intptr_t active_proc(Window window, uint32_t message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_ACTIVE_SOCKET) {
            active_mode_socket_event(wparam, lparam);
            return TRUE;
        }
        return window_proc(window, message, wparam, lparam);
    }
    std::string folder_;
};

int bound_port(int socket) {
    struct sockaddr_in address;
    socklen_t size = sizeof address;
    getsockname(socket, (struct sockaddr*)&address, &size);
    return ntohs(address.sin_port);
}

void send_datagram(int port, const std::string& text) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons((uint16_t)port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, text.data(), text.size(), 0, (struct sockaddr*)&to, sizeof to);
    close(fd);
}

TEST_F(ActiveModeLoop, ActiveOnLoopbackUntilTheHubSeesAnotherAddressAndPassiveWhenChosen) {
    active_mode_settings_changed();
    ASSERT_GT(g_state.listen_socket, 0);
    ASSERT_GT(g_state.udp_socket, 0);
    ASSERT_GT(g_state.tls_listen_socket, 0);
    int port = bound_port(g_state.listen_socket);
    int tls_port = bound_port(g_state.tls_listen_socket);
    EXPECT_EQ(bound_port(g_state.udp_socket), port);
    EXPECT_EQ(std::string(g_state.own_keyprint).rfind("SHA256/", 0), 0u);
    EXPECT_STREQ(g_state.mode_text, "") << "decided once a hub is reached";

    TestHub hub;
    connect_to(hub);
    // Reached over loopback: active, and the hub is told so at once.
    std::string active = "active on " + std::to_string(port) + ", TLS on " + std::to_string(tls_port);
    EXPECT_EQ(g_state.mode_text, active);
    EXPECT_TRUE(hub.wait_received(0, ",M:A,", 2000));
    char address[ACTIVE_ADDRESS_BYTES];
    ASSERT_TRUE(active_mode_address(true, address, ACTIVE_ADDRESS_BYTES));
    EXPECT_EQ(std::string(address), "127.0.0.1:" + std::to_string(tls_port));

    // A search names the UDP port; a datagram answering it becomes a result,
    // one that is not a $SR does not.
    search_send("abba");
    EXPECT_TRUE(hub.wait_received(0, "$Search 127.0.0.1:" + std::to_string(port) + " F?T?0?1?abba|", 2000));
    send_datagram(port, "$MyINFO $ALL x y$ $A\x01$$0$|");
    send_datagram(port, "$SR bob Music\\abba.mp3\x05" "5 1/2\x05TTH:" + std::string(39, 'A') + " (127.0.0.1:411)|");
    EXPECT_TRUE(pump_until([] { return g_state.result_count == 1; }));
    pump_for(50);
    EXPECT_EQ(g_state.result_count, 1);

    // A passive user who wants Kivo's files: Kivo shares none, so nothing
    // answers and nothing connects.
    hub.send_now(0, "$RevConnectToMe bob [i]mpx200|");
    pump_for(100);
    EXPECT_EQ(hub.received(0).find("$ConnectToMe"), std::string::npos);
    EXPECT_EQ(download_active_count(), 0);

    // The hub sees another address: a router is in between, so passive,
    // and the hub is told; its own address again makes Kivo active again.
    hub.send_now(0, "$UserIP [i]mpx200 203.0.113.5$$|");
    EXPECT_TRUE(pump_until([] { return g_state.active == 0; }));
    EXPECT_STREQ(g_state.mode_text, "passive: the hub sees 203.0.113.5, not this machine");
    EXPECT_TRUE(hub.wait_received(0, ",M:P,", 2000));
    EXPECT_FALSE(active_mode_address(false, address, ACTIVE_ADDRESS_BYTES));
    hub.send_now(0, "$UserIP [i]mpx200 127.0.0.1$$|");
    EXPECT_TRUE(pump_until([] { return g_state.active != 0; }));

    // Passive chosen in Option: nothing listens any more.
    g_state.settings.connect_mode = MODE_PASSIVE;
    active_mode_settings_changed();
    EXPECT_EQ(g_state.listen_socket, 0);
    EXPECT_EQ(g_state.udp_socket, 0);
    EXPECT_EQ(g_state.tls_listen_socket, 0);
    EXPECT_STREQ(g_state.mode_text, "passive: chosen in Option");
    EXPECT_EQ(g_state.active, 0);
}

}  // namespace
