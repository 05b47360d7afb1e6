// Fault test under load: a hub that floods chat lines, user information and
// quits at full speed for 10 seconds while a download runs, through the real
// message loop, dispatcher and worker. Nothing may crash or stall the loop,
// memory must stay flat (the system's own code allocates nothing), every byte
// must be counted once, the file must arrive whole, and the notes the user
// must see (the download's end, the hub's close) must reach the chat.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "hub/connection.h"
#include "hub/dispatch.h"
#include "hub/hub_test_state.h"
#include "hub/users.h"
#include "transfer/download_fixture.h"

using namespace download_test;

namespace {

constexpr int FLOOD_MS = 10000;
constexpr int PIECE_BYTES = 32768;
constexpr int PIECES = 201;  // the last one is held back until the flood is over
constexpr int PIECE_PAUSE_MS = 45;
const std::string LOCK = "$Lock EXTENDEDPROTOCOLABCABCABC Pk=x|";
const std::string FIRST_REPLY = "$Hello me|";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KIVO_SANITIZED_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KIVO_SANITIZED_MEMORY 1
#endif
#endif

// The main screen's part in this: socket events to the dispatcher, and a
// paint that reads the newest lines.
intptr_t main_window_proc(Window, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_PAINT) {
        static char16_t shown[1000];
        chatlog_copy_text(shown, 1000);
        return TRUE;
    }
    return main_screen_hub_message(message, wparam, lparam);
}

// VmRSS or VmHWM of this process in KiB.
long status_kib(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long kib = -1;
    size_t n = strlen(field);
    while (fgets(line, sizeof line, f) != nullptr) {
        if (strncmp(line, field, n) == 0 && line[n] == ':') kib = atol(line + n + 1);
    }
    fclose(f);
    return kib;
}

// Blocks of hub traffic, built once: chat lines, $MyINFO of ever new users
// (more than the table holds) and $Quit of some of them.
std::string flood_block(int block) {
    std::string text;
    for (int i = 0; i < 400; i++) {
        std::string nick = "flood" + std::to_string(block * 400 + i);
        text += "<chatter> line " + std::to_string(i) + " of block " + std::to_string(block) + " and some words|";
        text += "$MyINFO $ALL " + nick + " flooding<++ V:0.1,M:P,H:1/0/0,S:3>$ $DSL\x01$$" +
                std::to_string(1000 + i) + "$|";
        if (i % 3 == 0) text += "$Quit " + nick + "|";
    }
    return text;
}

std::string piece(int n) { return std::string(PIECE_BYTES, (char)('a' + n % 26)); }

}  // namespace

TEST(FloodFaults, HubFloodDuringADownloadKeepsMemoryFlatAndLosesNothing) {
    reset_download_state();
    text_copy(g_state.settings.share_size, SHARE_TEXT_BYTES, "1234567890");
    text_copy(g_state.settings.hub_host, HUB_HOST_BYTES, "127.0.0.1");
    // The last piece waits until the flood has been read, which takes long
    // under a sanitizer: the peer's silence must not end the download first.
    g_state.download_silence_ms = 60000;
    g_state.hub_io_timeout_ms = 2000;
    TempCurrentDirectory dir;
    ASSERT_TRUE(dir.ok());
    Window window = window_create(main_window_proc);
    g_state.main_window = window;
    struct Ending {
        Window window;
        ~Ending() {
            hub_test_end();
            window_destroy(window);
            end_download_worker();
            g_state.hub_io_timeout_ms = HUB_IO_TIMEOUT_MS;
        }
    } ending{window};

    TestHub hub;
    hub.send(LOCK).expect("$1234567890$|").send(FIRST_REPLY);
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, hub.port_text().c_str());
    ASSERT_TRUE(connect_and_wait());
    ASSERT_GT(g_state.hub_socket, 0);
    const uint64_t total = (uint64_t)PIECES * PIECE_BYTES;
    const std::string length_reply = "$FileLength " + std::to_string(total) + "|";
    TestHub peer;
    peer.expect(CLIENT_GREETING).send(PEER_GREETING).expect("$1|").send(length_reply).expect("$Send|");

    // The download starts from the hub's $ConnectToMe, through the dispatcher.
    request_download();
    const std::string connect = "$ConnectToMe me 127.0.0.1:" + peer.port_text() + "|";
    hub.send_now(0, connect);
    ASSERT_TRUE(pump_until([] { return download_running(0) != 0; }, 3000));
    ASSERT_TRUE(peer.wait_received(0, "$Send|", 3000));

    const std::string blocks[4] = {flood_block(0), flood_block(1), flood_block(2), flood_block(3)};
    std::atomic<uint64_t> flood_bytes{0};
    std::atomic<bool> flooding{true};
    std::atomic<bool> last_piece{false};
    std::thread feeder;
    std::thread flooder;
    // Declared after all the threads use, so it runs first: after a failed
    // assertion the connections are closed under the blocked sends and the
    // threads joined before anything they use goes.
    struct Joining {
        TestHub& hub;
        TestHub& peer;
        std::atomic<bool>& last_piece;
        std::thread& feeder;
        std::thread& flooder;
        ~Joining() {
            last_piece = true;
            if (!flooder.joinable() && !feeder.joinable()) return;
            hub.close_now(0);
            peer.close_now(0);
            if (flooder.joinable()) flooder.join();
            if (feeder.joinable()) feeder.join();
        }
    } joining{hub, peer, last_piece, feeder, flooder};
    feeder = std::thread([&] {
        for (int n = 0; n < PIECES - 1; n++) {
            if (!peer.send_now(0, piece(n))) return;
            if (flooding) sleep_ms(PIECE_PAUSE_MS);
        }
        while (!last_piece) sleep_ms(10);
        peer.send_now(0, piece(PIECES - 1));
    });
    ASSERT_TRUE(pump_until([] { return download_received(0) > 0; }, 3000));
    pump_until([] { return false; }, 200);
    long rss_before = status_kib("VmRSS");
    long hwm_before = status_kib("VmHWM");

    flooder = std::thread([&] {
        uint64_t end = monotonic_ms() + FLOOD_MS;
        for (int n = 0; monotonic_ms() < end; n++) {
            const std::string& block = blocks[n % 4];
            if (!hub.send_now(0, block)) break;
            flood_bytes += block.size();
        }
        flooding = false;
    });
    // The loop keeps turning: no single dispatch holds it for long.
    uint64_t longest = 0;
    while (flooding) {
        uint64_t start = monotonic_ms();
        pump_until([] { return false; }, 100);
        uint64_t took = monotonic_ms() - start;
        if (took > longest) longest = took;
    }
    flooder.join();
    // Everything the hub sent is read before the counts are compared.
    const uint64_t hub_bytes = flood_bytes + connect.size();
    const uint64_t before_data = LOCK_COUNTED_BYTES + FIRST_REPLY.size() + PEER_GREETING.size() + length_reply.size();
    auto all_counted = [&] {
        uint64_t data = download_received(0);
        return traffic_received() == (uint32_t)(before_data + hub_bytes + data);
    };
    EXPECT_TRUE(pump_until(all_counted, 10000)) << traffic_received() << " " << before_data + hub_bytes;
    EXPECT_LT(longest, 1000u);
    EXPECT_GT(flood_bytes.load(), 1000000u);

    long rss_after = status_kib("VmRSS");
    long hwm_after = status_kib("VmHWM");
    printf("flood: %llu bytes in %d ms; VmRSS %ld -> %ld KiB, VmHWM %ld -> %ld KiB; longest loop turn %llu ms\n",
           (unsigned long long)flood_bytes.load(), FLOOD_MS, rss_before, rss_after, hwm_before, hwm_after,
           (unsigned long long)longest);
#ifndef KIVO_SANITIZED_MEMORY
    // A sanitizer's own bookkeeping grows with the test's threads; the plain
    // build shows the system's own memory.
    EXPECT_LT(rss_after - rss_before, 2048);
    EXPECT_LT(hwm_after - hwm_before, 2048);
#endif

    // The user table stayed within its fields under the churn.
    int present = 0;
    for (const UserEntry& u : g_state.users) {
        if (!u.present) continue;
        present++;
        EXPECT_LT(strnlen(u.name, USER_NAME_BYTES), (size_t)USER_NAME_BYTES);
    }
    EXPECT_GT(present, 0);
    EXPECT_LE(chatlog_length(), CHATLOG_TEXT_UNITS);

    // The download ends after the flood, and says so.
    ASSERT_NE(download_running(0), 0) << chat_text();
    chatlog_clear();
    last_piece = true;
    feeder.join();
    EXPECT_TRUE(pump_until([] { return download_running(0) == 0; }, 10000));
    EXPECT_EQ(chat_text(), " ::downloaded::\r\n");
    EXPECT_EQ(download_received(0), total);
    std::string file = file_text("a.mp3");
    ASSERT_EQ(file.size(), total);
    for (int n = 0; n < PIECES; n++) EXPECT_EQ(file[(size_t)n * PIECE_BYTES], (char)('a' + n % 26));
    EXPECT_TRUE(all_counted());

    // The hub's close reaches the chat.
    hub.close_now(0);
    EXPECT_TRUE(pump_until([] { return chat_text().find(" lost: closed by the hub\r\n") != std::string::npos; }, 3000));
}
