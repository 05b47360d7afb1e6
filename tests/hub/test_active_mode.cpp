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
