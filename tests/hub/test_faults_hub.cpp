// Fault tests of the hub connection: a hub that closes or falls silent at
// each step of the login and during traffic. Every case must end within its
// time bound, leave the connection either working or closed (never a socket
// that nobody reads), and show the user the failure in the chat.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <memory>
#include <string>

#include "hub/connection.h"
#include "hub/dispatch.h"
#include "hub/queue.h"
#include "hub/hub_test_state.h"
#include "support/test_hub.h"
#include "transfer/download.h"

namespace {

const std::string LOCK = "$Lock EXTENDEDPROTOCOLABCABCABC Pk=x|";
const std::string BLOCK_END = "$1234567890$|";
constexpr int IO_TIMEOUT_MS = 300;
// Each wait of the login is bounded by the timeout; the whole login has at
// most three of them (connect, lock, first reply) and this margin.
constexpr int LOGIN_MARGIN_MS = 1000;


intptr_t hub_window_proc(Window, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return main_screen_hub_message(message, wparam, lparam);
}

int open_descriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr) return -1;
    while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') n++;
    }
    closedir(d);
    return n - 1;
}

class HubFaults : public ::testing::Test {
protected:
    void SetUp() override {
        hub_test_state();
        g_state.hub_io_timeout_ms = IO_TIMEOUT_MS;
        window_ = window_create(hub_window_proc);
        g_state.main_window = window_;
    }
    void TearDown() override {
        hub_test_end();
        window_destroy(window_);
        g_state.hub_io_timeout_ms = HUB_IO_TIMEOUT_MS;
    }

    // Connect against hub; returns the milliseconds until the login's
    // result was taken (the command itself returns at once).
    uint64_t connect_to(const TestHub& hub) {
        text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, hub.port_text().c_str());
        uint64_t start = monotonic_ms();
        hub_connect_command();
        EXPECT_LT(monotonic_ms() - start, 100u) << "Connect waits for the login";
        EXPECT_TRUE(pump_until(login_settled, 10000));
        return monotonic_ms() - start;
    }

    void connect_and_settle(TestHub& hub, const std::string& reply = "$Hello [i]mpx200|") {
        hub.send(LOCK).expect(BLOCK_END).send(reply);
        connect_to(hub);
        ASSERT_GT(g_state.hub_socket, 0);
        pump_for(100);
        chatlog_clear();
    }

    Window window_ = 0;
};

struct LoginStep {
    const char* name;
    bool closes;  // the hub closes; otherwise it stays silent and sees the client close
    std::function<void(TestHub&)> script;
};

// Every step before the first reply: the login fails with "cannot connect"
// within its bound, and the client closes its end.
TEST_F(HubFaults, HubClosingOrFallingSilentAtEachLoginStepFailsTheConnect) {
    const LoginStep steps[] = {
        {"accepts, then closes", true, [](TestHub& h) { h.close(); }},
        {"accepts, then is silent", false, [](TestHub&) {}},
        {"half a lock, then closes", true, [](TestHub& h) { h.send("$Lock EXTENDED").close(); }},
        {"half a lock, then is silent", false, [](TestHub& h) { h.send("$Lock EXTENDED"); }},
        {"the lock, then closes", true, [](TestHub& h) { h.send(LOCK).close(); }},
        {"the lock, then is silent", false, [](TestHub& h) { h.send(LOCK); }},
        {"reads the login, then closes", true, [](TestHub& h) { h.send(LOCK).expect(BLOCK_END).close(); }},
        {"reads the login, then is silent", false, [](TestHub& h) { h.send(LOCK).expect(BLOCK_END); }},
    };
    int descriptors = -1;
    for (const LoginStep& step : steps) {
        SCOPED_TRACE(step.name);
        chatlog_clear();
        if (descriptors < 0) {
            post_message(window_, 0, 0, 0);  // the loop's wake pipe opens on the first post
            pump_for(1);
            descriptors = open_descriptors();
        }
        TestHub hub;
        step.script(hub);
        uint64_t took = connect_to(hub);
        EXPECT_LT(took, (uint64_t)(3 * IO_TIMEOUT_MS + LOGIN_MARGIN_MS));
        EXPECT_EQ(g_state.hub_socket, 0);
        EXPECT_EQ(g_state.hub_login_error, step.closes ? LOGIN_CLOSED : LOGIN_TIMED_OUT);
        EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
        const std::string failed =
            note_connecting() + note_cannot_connect(step.closes ? "closed by the hub" : "timed out");
        EXPECT_EQ(chat_log_text(), failed);
        if (!step.closes) {
            EXPECT_TRUE(hub.wait_client_closed(0, 2000));
        }
        pump_for(50);  // no event of the dead socket may reach the window
        EXPECT_EQ(chat_log_text(), failed);
    }
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(HubFaults, HubClosingRightAfterItsFirstReplyIsShownAsAClose) {
    TestHub hub;
    hub.send(LOCK).expect(BLOCK_END).send("$Hello [i]mpx200|").close();
    connect_to(hub);
    ASSERT_GT(g_state.hub_socket, 0);
    EXPECT_TRUE(pump_until([] { return chat_has(" lost: "); }));
    EXPECT_EQ(chat_log_text(),
              note_connecting() + note_connected() + note_lost("closed by the hub"));
}

TEST_F(HubFaults, HubClosingInsideAMessageShowsTheCloseAndNotTheFragment) {
    TestHub hub;
    connect_and_settle(hub);
    hub.send_now(0, "<bob> whole|<bob> cut off in the midd");
    hub.close_now(0);
    ASSERT_TRUE(pump_until([] { return chat_has(" lost: "); }));
    pump_for(100);
    EXPECT_EQ(chat_log_text(), "<bob> whole\r\n" + note_lost("closed by the hub"));
}

// The unterminated end of the old connection must not be glued to the first
// message of the next one.
TEST_F(HubFaults, FragmentOfAClosedHubDoesNotReachTheNextConnection) {
    TestHub hub;
    connect_and_settle(hub);
    uint32_t before = traffic_received();
    hub.send_now(0, "<bob> cut off");
    ASSERT_TRUE(pump_until([&] { return traffic_received() == before + 13; }));
    hub.close_now(0);
    ASSERT_TRUE(pump_until([] { return chat_has(" lost: "); }));
    ASSERT_TRUE(connect_and_wait());
    ASSERT_GT(g_state.hub_socket, 0);
    chatlog_clear();
    hub.send_now(1, "<ann> fresh|");
    ASSERT_TRUE(pump_until([] { return chat_has("fresh"); }));
    EXPECT_EQ(chat_log_text(), "<ann> fresh\r\n");
}

TEST_F(HubFaults, SilentHubDuringTrafficFreezesNothing) {
    TestHub hub;
    connect_and_settle(hub);
    hub.send_now(0, "<bob> then silence");  // a message left open by the silence
    uint64_t start = monotonic_ms();
    pump_for(600);
    EXPECT_LT(monotonic_ms() - start, 1500u);
    EXPECT_EQ(chat_log_text(), "");
    // The connection still works both ways.
    send_rev_connect("bob");
    EXPECT_TRUE(hub.wait_received(0, "$RevConnectToMe [i]mpx200 bob|", 2000));
    hub.send_now(0, " ends|");
    EXPECT_TRUE(pump_until([] { return chat_has("<bob> then silence ends\r\n"); }));
}

// A send on a connection the hub has closed must not kill the process with
// SIGPIPE; the close itself is what the user is told.
TEST_F(HubFaults, SendingAfterTheHubClosedDoesNotRaiseSigpipe) {
    auto hub = std::make_unique<TestHub>();
    connect_and_settle(*hub);
    hub->close_now(0);
    ASSERT_TRUE(pump_until([] { return chat_has(" lost: "); }));
    send_rev_connect("bob");  // left unread on the hub's side...
    sleep_ms(50);
    hub.reset();  // ...so closing it there answers with a reset
    sleep_ms(50);
    void (*previous)(int) = signal(SIGPIPE, SIG_DFL);
    for (int i = 0; i < 3; i++) send_rev_connect("bob");
    signal(SIGPIPE, previous);
    EXPECT_EQ(chat_log_text(), note_lost("closed by the hub"));
}

// A login given up (Back, Disconnect, a new Connect) while it waits, with a
// time limit far away: the thread ends within a second and leaves no socket.
TEST_F(HubFaults, LoginGivenUpWhileItWaitsEndsWithinASecondAndLeavesNoSocket) {
    g_state.hub_io_timeout_ms = 20000;
    post_message(window_, 0, 0, 0);  // the loop's wake pipe opens on the first post
    pump_for(1);
    for (bool connect_answered : {true, false}) {
        SCOPED_TRACE(connect_answered ? "the hub is silent" : "the connect is never answered");
        chatlog_clear();
        StuckListener stuck;
        ASSERT_TRUE(stuck.ready());
        TestHub silent;
        int descriptors = open_descriptors();
        text_copy(g_state.settings.hub_port, HUB_PORT_BYTES,
                  (connect_answered ? silent.port_text() : stuck.port_text()).c_str());
        hub_connect_command();
        pump_for(300);  // the login is waiting now
        ASSERT_EQ(g_state.hub_phase, HUB_CONNECTING);
        ASSERT_TRUE(hub_login_running());
        if (connect_answered) {
            ASSERT_EQ(silent.connections(), 1);
        }
        uint64_t start = monotonic_ms();
        EXPECT_TRUE(hub_cancel_login());
        EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
        EXPECT_TRUE(pump_until([] { return !hub_login_running(); }, 1000));
        EXPECT_LT(monotonic_ms() - start, 1000u);
        EXPECT_FALSE(hub_cancel_login()) << "nothing left to give up";
        EXPECT_EQ(g_state.hub_socket, 0);
        EXPECT_EQ(chat_log_text(), note_connecting() + "connect cancelled\r\n");
        if (connect_answered) {
            EXPECT_TRUE(silent.wait_client_closed(0, 2000));
        }
        // Only the test hub's end of the connection is still open.
        EXPECT_EQ(open_descriptors(), descriptors + (connect_answered ? 1 : 0)) << "the login's socket is left";
    }
}

// A result that came in after the login was given up is not taken: its
// socket is closed, whether the thread saw the give-up or had already
// handed in a logged-in socket.
TEST_F(HubFaults, LoginGivenUpAfterItsResultCameIsClosedNotTaken) {
    TestHub hub;
    hub.send(LOCK).expect(BLOCK_END).send("$Hello [i]mpx200|<bob> hi|");
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, hub.port_text().c_str());
    hub_connect_command();
    ASSERT_TRUE(hub.wait_received(0, BLOCK_END, 2000));
    sleep_ms(300);  // the reply is in and the result posted; nobody has taken it
    ASSERT_TRUE(hub_login_running());
    hub_disconnect_command();
    EXPECT_TRUE(pump_until([] { return !hub_login_running(); }, 1000));
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
    pump_for(50);
    EXPECT_EQ(chat_log_text(), note_connecting() + "connect cancelled\r\n");
}

// A new Connect gives up the login still out; the new one logs in. Connects
// faster than given-up logins end find no free run and say so.
TEST_F(HubFaults, NewConnectGivesUpTheLoginStillOut) {
    TestHub slow;
    slow.send(LOCK).expect(BLOCK_END).pause(400).send("$Hello [i]mpx200|<slow> late|");
    TestHub fast;
    fast.send(LOCK).expect(BLOCK_END).send("$Hello [i]mpx200|<fast> here|");
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, slow.port_text().c_str());
    hub_connect_command();
    const std::string slow_connecting = note_connecting();
    ASSERT_TRUE(slow.wait_received(0, BLOCK_END, 2000));
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, fast.port_text().c_str());
    ASSERT_TRUE(connect_and_wait());
    EXPECT_GT(g_state.hub_socket, 0);
    EXPECT_TRUE(slow.wait_client_closed(0, 2000));
    pump_for(400);
    EXPECT_EQ(chat_log_text(),
              slow_connecting + "connect cancelled\r\n" + note_connecting() + note_connected() + "<fast> here\r\n");

    // Three Connects without the loop turning: the first two logins are
    // given up but have not handed in their results yet.
    hub_close();
    chatlog_clear();
    hub_connect_command();
    hub_connect_command();
    hub_connect_command();
    EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
    EXPECT_EQ(chat_log_text(), note_connecting() + "connect cancelled\r\n" + note_connecting() + "connect cancelled\r\n" +
                                   note_connecting() + note_cannot_connect("the last connects are still ending"));
    EXPECT_TRUE(pump_until([] { return !hub_login_running(); }, 2000));
    EXPECT_EQ(g_state.hub_socket, 0);
    chatlog_clear();
    ASSERT_TRUE(connect_and_wait());
    EXPECT_GT(g_state.hub_socket, 0);
    EXPECT_TRUE(chat_has("<fast> here\r\n"));
}

}  // namespace
