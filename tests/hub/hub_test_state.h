// Shared set-up for the hub tests: the process-start state plus what start-up
// would have filled in (line break, nick, share text, host), and the message
// loop driven until a login started by Connect has handed in its result.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "hub/connection.h"
#include "platform/platform.h"
#include "screens/main_screen.h"
#include "state/client_state.h"

inline void hub_test_state(const std::string& port_text = "2225") {
    client_state_reset();
    u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
    text_copy(g_state.settings.nick, NICK_BYTES, "[i]mpx200");
    // What Connect would make of the nick; tests that send without a Connect need it.
    text_copy(g_state.hub_nick, HUB_NICK_BYTES, "[i]mpx200");
    text_copy(g_state.settings.share_size, SHARE_TEXT_BYTES, "1234567890");
    text_copy(g_state.settings.hub_host, HUB_HOST_BYTES, "127.0.0.1");
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, port_text.c_str());
}

// The ChatLog's newest lines as UTF-8, for readable comparisons.
constexpr int LOG_COPY_UNITS = 20000;
inline std::string chat_log_text() {
    static char16_t copy[LOG_COPY_UNITS];
    chatlog_copy_text(copy, LOG_COPY_UNITS);
    static char utf8[LOG_COPY_UNITS * 3];
    utf16_to_utf8(copy, -1, utf8, (int)sizeof utf8);
    return std::string(utf8);
}

inline bool chat_has(const std::string& text) { return chat_log_text().find(text) != std::string::npos; }

// The session notes about the hub of the latest Connect, as the ChatLog shows
// them (each a line of its own).
inline std::string hub_address_text() { return g_state.hub_address; }
inline std::string note_connecting() { return "connecting to " + hub_address_text() + "...\r\n"; }
inline std::string note_connected() { return "connected to " + hub_address_text() + "\r\n"; }
inline std::string note_cannot_connect(const std::string& why) {
    return "cannot connect to " + hub_address_text() + ": " + why + "\r\n";
}
inline std::string note_lost(const std::string& why) {
    return "connection to " + hub_address_text() + " lost: " + why + "\r\n";
}
inline std::string note_disconnected() { return "disconnected from " + hub_address_text() + "\r\n"; }

// A port on 127.0.0.1 on which nothing listens.
inline int unused_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, (struct sockaddr*)&address, sizeof address);
    getsockname(fd, (struct sockaddr*)&address, &size);
    close(fd);
    return ntohs(address.sin_port);
}

// --- The message loop ------------------------------------------------------------

inline int hub_test_call_pred(void* context) { return (*(const std::function<bool()>*)context)() ? 1 : 0; }

// Runs the loop until pred holds or timeout_ms pass; true when it held. The
// loop sleeps until something for it happens, so it runs in short slices: a
// pred that another thread makes true (a test hub's receive) is seen soon.
inline bool pump_until(const std::function<bool()>& pred, int timeout_ms = 2000) {
    constexpr int SLICE_MS = 10;
    uint64_t deadline = monotonic_ms() + (uint64_t)timeout_ms;
    for (;;) {
        uint64_t now = monotonic_ms();
        int left = now < deadline ? (int)(deadline - now) : 0;
        if (message_pump(hub_test_call_pred, (void*)&pred, left < SLICE_MS ? left : SLICE_MS) != 0) return true;
        if (monotonic_ms() >= deadline) return pred();
    }
}

inline void pump_for(int ms) {
    pump_until([] { return false; }, ms);
}

// Connect's login has handed in its result and the result was taken.
inline bool login_settled() { return !hub_login_running() && g_state.hub_phase != HUB_CONNECTING; }

// Connect as the menu does, then the loop until the login's result is taken
// (g_state.main_window's procedure must pass its messages to main_screen_hub_message).
inline bool connect_and_wait(int timeout_ms = 5000) {
    hub_connect_command();
    return pump_until(login_settled, timeout_ms);
}

// The end of every test that connected: gives up a login still out, waits
// until its thread's result has been taken (so no thread outlives the test or
// reaches the next one's window) and closes the connection. Call it before
// the window that receives the results is destroyed.
inline void hub_test_end() {
    hub_cancel_login();
    EXPECT_TRUE(pump_until([] { return !hub_login_running(); }, 5000)) << "a login thread did not end";
    hub_close();
}

// --- A connected hub, through the loop ------------------------------------------------

#include "support/test_hub.h"

const std::string HUB_TEST_LOCK = "$Lock EXTENDEDPROTOCOLABCABCABC Pk=x|";
// The end of the login block with the settings of hub_test_state().
const std::string HUB_TEST_BLOCK_END = "$1234567890$|";

// A plain window in place of the main screen: every message goes to the hub
// connection, as the main screen's procedure hands them; the hub's request
// for a password nobody gave (the main screen's prompt) is counted.
class HubWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        hub_test_state();
        g_state.hub_io_timeout_ms = 2000;
        password_asks_ = 0;
        window_ = window_create(window_proc);
        g_state.main_window = window_;
    }
    void TearDown() override {
        hub_test_end();
        window_destroy(window_);
        g_state.hub_io_timeout_ms = HUB_IO_TIMEOUT_MS;
    }

    static intptr_t window_proc(Window, uint32_t message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_HUB_PASSWORD) {
            password_asks_++;
            return TRUE;
        }
        return main_screen_hub_message(message, wparam, lparam);
    }

    // Connects to a hub that answers the login with reply and waits until
    // the login's result is taken.
    void connect_to(TestHub& hub, const std::string& reply = "$Hello [i]mpx200|") {
        hub.send(HUB_TEST_LOCK).expect(HUB_TEST_BLOCK_END).send(reply);
        text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, hub.port_text().c_str());
        ASSERT_TRUE(connect_and_wait());
        ASSERT_TRUE(hub.wait_received(hub.connections() - 1, HUB_TEST_BLOCK_END, 2000));
    }

    static inline int password_asks_ = 0;
    Window window_ = 0;
};
