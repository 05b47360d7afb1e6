// The Connect, Disconnect and exit commands and the socket event handling,
// through the real message loop, against the scripted test hub. A plain
// window stands in for the main screen (its procedure hands every message to
// the hub connection, as the main screen does); the chat-send cases run a
// screen from the main screen's template so the input line is real. Connect
// returns at once: each case pumps the loop until the login's result is taken.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "hub/connection.h"
#include "hub/dispatch.h"
#include "hub/hub_test_state.h"
#include "platform/display.h"
#include "protocol/lock_to_key.h"
#include "resources/ids.h"
#include "screens/main_screen.h"
#include "support/test_hub.h"

namespace {

const std::string BLOCK_END = "$1234567890$|";
const std::string LOCK = "$Lock abc Pk=x|";


int g_paints;
int g_socket_events;

intptr_t probe_proc(Window, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_SOCKET_EVENT) g_socket_events++;
    if (message == WM_PAINT) g_paints++;
    return main_screen_hub_message(message, wparam, lparam);
}


class HubSession : public ::testing::Test {
protected:
    void SetUp() override {
        hub_test_state();
        g_state.hub_io_timeout_ms = 2000;
        g_paints = 0;
        g_socket_events = 0;
        probe_ = window_create(probe_proc);
        g_state.main_window = probe_;
    }
    void TearDown() override {
        hub_test_end();
        window_destroy(probe_);
        g_state.hub_io_timeout_ms = HUB_IO_TIMEOUT_MS;
    }

    void connect_to(const TestHub& hub) {
        text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, hub.port_text().c_str());
        ASSERT_TRUE(connect_and_wait());
    }

    // Connects to a hub that answers the login with reply, then lets the
    // loop settle (the write event, the Connect repaint) and clears the probes.
    void connect_and_settle(TestHub& hub, const std::string& reply = "$Hello [i]mpx200|") {
        hub.send(LOCK).expect(BLOCK_END).send(reply);
        connect_to(hub);
        ASSERT_GT(g_state.hub_socket, 0);
        chatlog_clear();  // asks for its paint, which comes before the count starts
        pump_for(100);
        g_paints = 0;
    }

    Window probe_ = 0;
};

}  // namespace

TEST_F(HubSession, GoodConnectIsNotedAndItsFirstReplyCounted) {
    TestHub hub;
    const std::string reply = "$Supports NoHello|$Hello [i]mpx200|$HubName Big|";
    hub.send(LOCK).expect(BLOCK_END).send(reply);
    connect_to(hub);
    ASSERT_GT(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.hub_phase, HUB_ONLINE);
    EXPECT_EQ(chat_log_text(), note_connecting() + note_connected());
    EXPECT_EQ(std::u16string(g_state.hub_name), u"Big");
    ASSERT_TRUE(hub.wait_received(0, BLOCK_END, 2000));
    EXPECT_EQ(traffic_received(), 20u + (uint32_t)reply.size());
    EXPECT_EQ(traffic_sent(), (uint32_t)hub.received(0).size());
    EXPECT_TRUE(pump_until([] { return g_paints > 0; }));
}

// Hubs send their user list and greeting chat in the first reply: every
// message of it is dispatched like a later receive, and shown only so.
TEST_F(HubSession, FirstReplyIsDispatchedLikeAnyReceive) {
    TestHub hub;
    const std::string reply = "$Hello [i]mpx200|<Bot> welcome|$MyINFO $ALL bob d$ $Modem $$1$|"
                              "$MyINFO $ALL ann e$ $DSL\x01$$2048$|$Quit bob|$MyINFO $ALL cid f$ $Modem $$3$|";
    hub.send(LOCK).expect(BLOCK_END).send(reply);
    connect_to(hub);
    ASSERT_GT(g_state.hub_socket, 0);
    std::set<std::string> present;
    for (const UserEntry& u : g_state.users)
        if (u.present) present.insert(u.name);
    EXPECT_EQ(present, (std::set<std::string>{"ann", "cid"}));
    EXPECT_EQ(chat_log_text(), note_connecting() + note_connected() + "<Bot> welcome\r\n");
}

TEST_F(HubSession, LongFirstReplyIsShownOnceWholeAsItsChatLine) {
    TestHub hub;
    const std::string reply = "<Bot> " + std::string(600, 'w') + "|";
    hub.send(LOCK).expect(BLOCK_END).send(reply);
    connect_to(hub);
    EXPECT_EQ(chat_log_text(), note_connecting() + note_connected() + reply.substr(0, 606) + "\r\n");
    EXPECT_EQ(traffic_received(), 20u + (uint32_t)reply.size());
}

// A lock in pieces: answered with the key of the whole lock, and neither a
// piece of it nor what follows it is shown raw; its messages are handled.
// A lock too long for its buffer fails the login with a note of its own.
TEST_F(HubSession, LockInPiecesIsAnsweredWholeAndAnOverlongOneFailsTheLogin) {
    TestHub hub;
    hub.send("$Lock EXTENDEDPROTOCOL").pause(150).send("ABCABC Pk=x|$HubName Big|");
    hub.expect(BLOCK_END).send("$Hello [i]mpx200|<Bot> hi|");
    connect_to(hub);
    ASSERT_GT(g_state.hub_socket, 0);
    EXPECT_EQ(chat_log_text(), note_connecting() + note_connected() + "<Bot> hi\r\n");
    EXPECT_EQ(std::u16string(g_state.hub_name), u"Big");
    const std::string lock = "$Lock EXTENDEDPROTOCOLABCABC Pk=x|";
    char key[KEY_TEXT_BYTES];
    EXPECT_NE(hub.received(0).find(lock_to_key(lock.data(), (int)lock.size(), key)), std::string::npos);
    hub_close();

    chatlog_clear();
    TestHub overlong;
    overlong.send("$Lock " + std::string(3 * LOCK_RECEIVE_BYTES, 'L'));
    connect_to(overlong);
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.hub_login_error, LOGIN_LOCK_TOO_LONG);
    EXPECT_EQ(chat_log_text(), note_connecting() + note_cannot_connect("the hub's lock is too long"));
    EXPECT_TRUE(overlong.wait_client_closed(0, 2000));
    EXPECT_EQ(overlong.received(0), "");
}

TEST_F(HubSession, RefusedConnectionShowsConnectError) {
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, std::to_string(unused_port()).c_str());
    ASSERT_TRUE(connect_and_wait());
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.hub_login_error, LOGIN_REFUSED);
    EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
    EXPECT_EQ(chat_log_text(), note_connecting() + note_cannot_connect("connection refused"));
    EXPECT_TRUE(pump_until([] { return g_paints > 0; }));
}

TEST_F(HubSession, HubClosingBeforeItsLockShowsConnectError) {
    TestHub hub;
    hub.close();
    connect_to(hub);
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.hub_login_error, LOGIN_CLOSED);
    EXPECT_EQ(chat_log_text(), note_connecting() + note_cannot_connect("closed by the hub"));
}

TEST_F(HubSession, FirstReplyOfOneByteIsAReplyAndTheConnectionWorks) {
    TestHub hub;
    hub.send(LOCK).expect(BLOCK_END).send("$");
    connect_to(hub);
    ASSERT_GT(g_state.hub_socket, 0);
    EXPECT_EQ(chat_log_text(), note_connecting() + note_connected());
    EXPECT_EQ(traffic_received(), 21u);
    // The byte starts a message that the next receive completes.
    hub.send_now(0, "Hello x|<bob> hi|");
    EXPECT_TRUE(pump_until([] { return chat_has("<bob> hi\r\n"); }));
}

TEST_F(HubSession, SilentHubAfterLoginTimesOutAndCloses) {
    TestHub hub;
    hub.send(LOCK);
    g_state.hub_io_timeout_ms = 300;
    connect_to(hub);
    EXPECT_EQ(chat_log_text(), note_connecting() + note_cannot_connect("timed out"));
    EXPECT_EQ(g_state.hub_socket, 0);  // no socket, and the failed login's code apart
    EXPECT_EQ(g_state.hub_login_error, LOGIN_TIMED_OUT);
    EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
}

// The old hub is left with the note Disconnect gives, before the new login's.
TEST_F(HubSession, ConnectWhileConnectedSaysItLeftTheOldHubThenReplacesTheConnection) {
    TestHub hub;
    connect_and_settle(hub);
    g_state.users[7].present = 1;
    text_copy(g_state.users[7].name, USER_NAME_BYTES, "old");
    chatlog_clear();
    hub_connect_command();
    EXPECT_EQ(chat_log_text(), note_disconnected() + note_connecting());
    // The old connection is gone at once, before the new login ends.
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.hub_phase, HUB_CONNECTING);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
    ASSERT_TRUE(pump_until(login_settled, 5000));
    EXPECT_EQ(hub.connections(), 2);
    EXPECT_GT(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.users[7].present, 0);
    EXPECT_EQ(g_state.users[7].name[0], '\0');
    pump_for(100);
    EXPECT_FALSE(chat_has("lost"));
    hub.send_now(1, "<bob> on the new one|");
    EXPECT_TRUE(pump_until([] { return chat_has("<bob> on the new one"); }));
}

TEST_F(HubSession, DisconnectClosesOnceAndTwiceDoesNothing) {
    TestHub hub;
    connect_and_settle(hub);
    hub_disconnect_command();
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
    hub_disconnect_command();
    EXPECT_EQ(g_state.hub_socket, 0);
    pump_for(50);
    EXPECT_EQ(chat_log_text(), note_disconnected()) << "one note, and no close reported as a loss";
}

TEST_F(HubSession, DisconnectThenConnectLogsInAfresh) {
    TestHub hub;
    connect_and_settle(hub);
    hub_disconnect_command();
    ASSERT_TRUE(connect_and_wait());
    EXPECT_GT(g_state.hub_socket, 0);
    EXPECT_TRUE(hub.wait_received(1, BLOCK_END, 2000));
}

// Connect's $MyINFO offers TLS transfers (flag byte "0", 0x30: the blank's
// 0x20 and TLS's 0x10) unless the chosen favourite switched them off; then
// the flag byte is the blank it always was.
TEST_F(HubSession, ConnectAnnouncesTlsTransfersUnlessSwitchedOff) {
    TestHub hub;
    connect_and_settle(hub);
    EXPECT_NE(hub.received(0).find("$ $Modem0$$1234567890$|"), std::string::npos) << hub.received(0);
    hub_disconnect_command();
    g_state.settings.tls_transfers_off = 1;
    ASSERT_TRUE(connect_and_wait());
    ASSERT_TRUE(hub.wait_received(1, BLOCK_END, 2000));
    EXPECT_NE(hub.received(1).find("$ $Modem $$1234567890$|"), std::string::npos) << hub.received(1);
}

TEST_F(HubSession, PortTextAbove65535IsRefusedNotWrappedOntoAnother) {
    TestHub hub;
    hub.send(LOCK).expect(BLOCK_END).send("$Hello [i]mpx200|");
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, std::to_string(hub.port() + 65536).c_str());
    ASSERT_TRUE(connect_and_wait());
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_NE(g_state.hub_login_error, LOGIN_OK);
    EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
    EXPECT_EQ(hub.connections(), 0);
}

// --- Socket events after the login -------------------------------------------------

TEST_F(HubSession, ChatLinesOfOneReceiveAreAppendedWithOneRepaint) {
    TestHub hub;
    connect_and_settle(hub);
    uint32_t before = traffic_received();
    hub.send_now(0, "<bob> hi|<ann> yo|");
    ASSERT_TRUE(pump_until([] { return chat_has("<ann> yo\r\n"); }));
    pump_for(100);
    EXPECT_EQ(chat_log_text(), "<bob> hi\r\n<ann> yo\r\n");
    EXPECT_EQ(g_paints, 1);
    EXPECT_EQ(traffic_received(), before + 18);
}

// The user count is in the main screen's title: a receive that changes it
// asks for a repaint, one that does not (a user already listed) asks none.
TEST_F(HubSession, UserInformationRepaintsOnlyWhenTheCountChanges) {
    TestHub hub;
    connect_and_settle(hub);
    uint32_t before = traffic_received();
    hub.send_now(0, "$MyINFO $ALL bob d$ $Modem $$1$|");
    ASSERT_TRUE(pump_until([&] { return traffic_received() > before; }));
    EXPECT_TRUE(pump_until([] { return g_paints > 0; }));
    EXPECT_EQ(g_state.user_count, 1);
    pump_for(100);
    g_paints = 0;
    before = traffic_received();
    hub.send_now(0, "$MyINFO $ALL bob d$ $Modem $$1$|");
    ASSERT_TRUE(pump_until([&] { return traffic_received() > before; }));
    pump_for(100);
    EXPECT_EQ(g_paints, 0);
    EXPECT_EQ(chat_log_text(), "");
}

TEST_F(HubSession, MessageSplitAcrossSegmentsArrivesWhole) {
    TestHub hub;
    connect_and_settle(hub);
    uint32_t before = traffic_received();
    hub.send_now(0, "<bob> hel");
    ASSERT_TRUE(pump_until([&] { return traffic_received() == before + 9; }));
    hub.send_now(0, "lo|");
    ASSERT_TRUE(pump_until([] { return chat_has("\r\n"); }));
    EXPECT_EQ(chat_log_text(), "<bob> hello\r\n");
}

TEST_F(HubSession, OneByteReceiveIsCountedAndUsed) {
    TestHub hub;
    connect_and_settle(hub);
    uint32_t before = traffic_received();
    hub.send_now(0, "<bob> hi");
    ASSERT_TRUE(pump_until([&] { return traffic_received() == before + 8; }));
    hub.send_now(0, "|");
    ASSERT_TRUE(pump_until([] { return chat_has("<bob> hi\r\n"); }));
    EXPECT_EQ(traffic_received(), before + 9);
}

// The hub closing ends the session: a note on a line of its own (also after
// text that did not end its line), the socket closed, nobody listed.
TEST_F(HubSession, HubClosingAppendsNoticeOnALineOfItsOwn) {
    TestHub hub;
    connect_and_settle(hub);
    hub.send_now(0, "<bob> bye|$MyINFO $ALL bob d$ $Modem $$1$|");
    ASSERT_TRUE(pump_until([] { return chat_has("bye") && g_state.user_count == 1; }));
    chatlog_append(u"text without its line break");
    hub.close_now(0);
    ASSERT_TRUE(pump_until([] { return chat_has("lost"); }));
    EXPECT_EQ(chat_log_text(),
              "<bob> bye\r\ntext without its line break\r\n" + note_lost("closed by the hub"));
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
    EXPECT_EQ(g_state.user_count, 0);
    for (const UserEntry& u : g_state.users) ASSERT_EQ(u.present, 0);
    pump_for(50);
    EXPECT_EQ(chat_log_text(),
              "<bob> bye\r\ntext without its line break\r\n" + note_lost("closed by the hub"));
}

TEST_F(HubSession, OutOfBandDataAppendsNotice) {
    TestHub hub;
    connect_and_settle(hub);
    // The test hub has no urgent send; the event itself is what matters.
    main_screen_hub_message(WM_SOCKET_EVENT, (WPARAM)g_state.hub_socket, (LPARAM)FD_OOB);
    EXPECT_EQ(chat_log_text(), " OOB ");
    EXPECT_TRUE(pump_until([] { return g_paints > 0; }));
}

// The close event's error travels in the message's high word: the main
// screen hands it to the hub, which names it in the note.
TEST_F(HubSession, CloseEventWithAnErrorEndsTheConnectionWithItsReason) {
    TestHub hub;
    connect_and_settle(hub);
    LPARAM reset = (LPARAM)make_long(FD_CLOSE, ECONNRESET);
    EXPECT_EQ(main_screen_hub_message(WM_SOCKET_EVENT, (WPARAM)g_state.hub_socket, reset), TRUE);
    EXPECT_EQ(chat_log_text(), note_lost("connection reset"));
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
}

TEST_F(HubSession, ReadEventWithoutConnectionIsAShortRead) {
    EXPECT_EQ(main_screen_hub_message(WM_SOCKET_EVENT, 0, (LPARAM)FD_READ), TRUE);
    EXPECT_EQ(traffic_received(), 0u);
    EXPECT_TRUE(pump_until([] { return g_paints > 0; }));
}

// --- Chat sending through the main screen's input line -----------------------------

namespace {

int g_chat_commands;

struct ChatScreenRun {
    const char* typed;  // UTF-8 typed into the input line before Action
    int step;
};

intptr_t chat_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        g_state.main_window = screen;
        return TRUE;
    }
    if (message == WM_COMMAND && low_word(wparam) == IDOK) {
        g_chat_commands++;
        send_input_line();
        return TRUE;
    }
    if (message == WM_CLOSE) {
        dialog_end(screen, 0);
        return TRUE;
    }
    return FALSE;
}

void chat_screen_hook(void* context) {
    ChatScreenRun* run = (ChatScreenRun*)context;
    if (run->step == 0) {
        display_type(run->typed);
        display_press(DISPLAY_KEY_ACTION);
    } else {
        post_message(g_state.main_window, WM_CLOSE, 0, 0);
    }
    run->step++;
}

// Types the text into a screen made from the main screen's template and
// presses Action; the screen is then closed.
void type_and_send(const char* typed, ScreenProc proc = chat_screen_proc) {
    ChatScreenRun run = {typed, 0};
    Window saved = g_state.main_window;
    display_set_idle_hook(chat_screen_hook, &run);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, proc, 0);
    display_set_idle_hook(nullptr, nullptr);
    g_state.main_window = saved;
}

}  // namespace

// A private message goes only to a nick the hub has listed.
const std::string HELLO_AND_BOB = "$Hello [i]mpx200|$MyINFO $ALL bob d$ $Modem $$1$|";

class ChatSend : public HubSession {};

TEST_F(ChatSend, PublicLineGoesOutWholeAndIsCounted) {
    TestHub hub;
    connect_and_settle(hub);
    uint32_t before = traffic_sent();
    size_t login = hub.received(0).size();
    type_and_send("hello");
    EXPECT_TRUE(hub.wait_received(0, "> hello |", 2000));
    EXPECT_EQ(hub.received(0).substr(login), "<[i]mpx200> hello |");
    EXPECT_EQ(traffic_sent(), before + 19);
}

TEST_F(ChatSend, PrivateLineGoesOutInTheToLayout) {
    TestHub hub;
    connect_and_settle(hub, HELLO_AND_BOB);
    size_t login = hub.received(0).size();
    type_and_send(">bob hi");
    EXPECT_TRUE(hub.wait_received(0, "hi |", 2000));
    EXPECT_EQ(hub.received(0).substr(login), "$To: bob From: [i]mpx200 $<[i]mpx200>      hi |");
}

TEST_F(ChatSend, CyrillicInputIsSentIn1251) {
    TestHub hub;
    connect_and_settle(hub);
    size_t login = hub.received(0).size();
    type_and_send("привет");
    EXPECT_TRUE(hub.wait_received(0, "\xF2 |", 2000));
    EXPECT_EQ(hub.received(0).substr(login), "<[i]mpx200> \xEF\xF0\xE8\xE2\xE5\xF2 |");
}

// '|', '$' and a '&' that would read as an escape are escaped in public and
// private lines alike; the addressee is not.
TEST_F(ChatSend, EscapesGoOutEscaped) {
    TestHub hub;
    connect_and_settle(hub, HELLO_AND_BOB);
    size_t login = hub.received(0).size();
    type_and_send("a|b$c&#36; & &amp;");
    ASSERT_TRUE(hub.wait_received(0, "; |", 2000));
    type_and_send(">bob x|y");
    ASSERT_TRUE(hub.wait_received(0, "y |", 2000));
    EXPECT_EQ(hub.received(0).substr(login),
              "<[i]mpx200> a&#124;b&#36;c&amp;#36; & &amp;amp; |"
              "$To: bob From: [i]mpx200 $<[i]mpx200>      x&#124;y |");
}

// A UTF-8 hub gets the nick and the typed text in UTF-8, and its chat is read
// as UTF-8.
TEST_F(ChatSend, Utf8HubGetsAndGivesUtf8) {
    g_state.settings.encoding = ENCODING_UTF8;
    TestHub hub;
    connect_and_settle(hub, "$Hello [i]mpx200|$MyINFO $ALL Борис d$ $Modem $$1$|");
    size_t login = hub.received(0).size();
    type_and_send("привет ✓");
    type_and_send(">Борис да");
    ASSERT_TRUE(hub.wait_received(0, "да |", 2000));
    // The '>' and the addressee are blanked byte for byte: eleven blanks in UTF-8.
    std::string expected = "<[i]mpx200> привет ✓ |$To: Борис From: [i]mpx200 $<[i]mpx200> ";
    expected.append(11, ' ');
    expected += " да |";
    EXPECT_EQ(hub.received(0).substr(login), expected);
    hub.send_now(0, "<Борис> ага|");
    EXPECT_TRUE(pump_until([] { return chat_has("<Борис> ага\r\n"); }));
}

TEST_F(ChatSend, InputLineIsClearedAfterSending) {
    TestHub hub;
    connect_and_settle(hub);
    static char16_t left[64];
    struct Probe {
        static intptr_t proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
            intptr_t r = chat_screen_proc(screen, message, wparam, lparam);
            if (message == WM_COMMAND && low_word(wparam) == IDOK) {
                control_get_text(screen, ID_MAIN_INPUT_LINE, left, 64);
            }
            return r;
        }
    };
    left[0] = u'x';
    type_and_send("abc", Probe::proc);
    EXPECT_EQ(left[0], 0);
}

TEST_F(ChatSend, SendingWithoutConnectionSendsAndCountsNothing) {
    g_chat_commands = 0;
    type_and_send("hello");
    EXPECT_EQ(g_chat_commands, 1);
    EXPECT_EQ(traffic_sent(), 0u);
}

TEST_F(HubSession, FailedRegistrationIsNotedAndTheReplyStillShown) {
    TestHub hub;
    hub.send(LOCK).expect(BLOCK_END).send("$Hello x|<Bot> x|");
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, hub.port_text().c_str());
    // Every registration the platform has is taken: the hub socket gets none.
    std::vector<int> taken;
    for (int i = 0; i < 256; i++) {
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        taken.push_back(pair[0]);
        taken.push_back(pair[1]);
        if (socket_async_select(pair[0], probe_, WM_SOCKET_EVENT + 1, FD_CLOSE) != 0) break;
    }
    ASSERT_TRUE(connect_and_wait());
    for (int fd : taken) {
        socket_async_select(fd, probe_, 0, 0);
        close(fd);
    }
    EXPECT_GT(g_state.hub_socket, 0);
    EXPECT_EQ(chat_log_text(), note_connecting() + "wsa select Error \r\n" + note_connected() + "<Bot> x\r\n");
}

namespace {
// Posts the menu's "exit" (CMD_EXIT) to itself once it is up and routes it.
intptr_t exit_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        post_message(screen, WM_COMMAND, CMD_EXIT, 0);
        return TRUE;
    }
    if (message == WM_COMMAND && low_word(wparam) == CMD_EXIT) {
        hub_exit_command(screen);
        return TRUE;
    }
    return FALSE;
}
}  // namespace

TEST_F(HubSession, ExitClosesTheConnectionAndEndsTheScreenWithZero) {
    TestHub hub;
    connect_and_settle(hub);
    EXPECT_EQ(dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, exit_screen_proc, 0), 0);
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
}

// --- The input line holds one chat message at most ------------------------------------

namespace {

// chat_screen_proc with the input line's notifications handled as the main
// screen handles them; the line is read as shown just before Action.
struct LimitRun {
    std::string chunk;  // typed chunks times, each well within the key ring
    int chunks;
    int step;
    std::u16string shown;
};
LimitRun* g_limit;

intptr_t limited_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COMMAND && low_word(wparam) == ID_MAIN_INPUT_LINE)
        return main_screen_proc(screen, message, wparam, lparam);
    return chat_screen_proc(screen, message, wparam, lparam);
}

void limit_hook(void*) {
    LimitRun* run = g_limit;
    if (run->step < run->chunks) {
        display_type(run->chunk.c_str());
    } else if (run->step == run->chunks) {
        char16_t text[2048];
        control_get_text(g_state.main_window, ID_MAIN_INPUT_LINE, text, 2048);
        run->shown = text;
        display_press(DISPLAY_KEY_ACTION);
    } else {
        post_message(g_state.main_window, WM_CLOSE, 0, 0);
    }
    run->step++;
}

// Types chunk `chunks` times and sends; returns the line as it was shown.
std::u16string type_long_and_send(const std::string& chunk, int chunks) {
    LimitRun run = {chunk, chunks, 0, u""};
    g_limit = &run;
    Window saved = g_state.main_window;
    display_set_idle_hook(limit_hook, nullptr);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, limited_proc, 0);
    display_set_idle_hook(nullptr, nullptr);
    g_state.main_window = saved;
    return run.shown;
}

std::string to_utf8(const std::u16string& text) {
    static char utf8[8192];
    utf16_to_utf8(text.c_str(), -1, utf8, (int)sizeof utf8);
    return utf8;
}

}  // namespace

class ChatLimit : public HubSession {
protected:
    // What went out after the login: exactly one message, ending " |".
    std::string sent_after(TestHub& hub, size_t login) {
        EXPECT_TRUE(hub.wait_received(0, " |", 2000));
        pump_for(50);
        return hub.received(0).substr(login);
    }
};

// "<[i]mpx200> " and " |" leave 985 bytes of the 999 for the text: in code
// page 1251 985 letters, each '|' (sent as "&#124;") six bytes.
TEST_F(ChatLimit, Cp1251LineStopsWhereTheMessageWouldPass999Bytes) {
    TestHub hub;
    connect_and_settle(hub);
    size_t login = hub.received(0).size();
    std::u16string shown = type_long_and_send(std::string(200, 'a'), 6);
    EXPECT_EQ(shown, std::u16string(985, u'a'));
    std::string sent = sent_after(hub, login);
    EXPECT_EQ(sent, "<[i]mpx200> " + std::string(985, 'a') + " |");
    EXPECT_EQ(sent.size(), 999u);

    login = hub.received(0).size();
    shown = type_long_and_send("ж" + std::string(199, '|'), 1);  // ж is one byte in 1251
    // ж (1) + 164 escaped bars (984) = 985 bytes.
    EXPECT_EQ(shown, u"ж" + std::u16string(164, u'|'));
    sent = sent_after(hub, login);
    EXPECT_LE(sent.size(), 999u);
    std::string expected = "<[i]mpx200> \xE6";
    for (int i = 0; i < 164; i++) expected += "&#124;";
    EXPECT_EQ(sent, expected + " |");
}

// In UTF-8 a Cyrillic letter is two bytes and U+1F600 four; a private
// message counts its "$To: ... $<nick> " and the blanked addressee too.
TEST_F(ChatLimit, Utf8LineStopsAtTheSameLimitCountingBytes) {
    g_state.settings.encoding = ENCODING_UTF8;
    TestHub hub;
    connect_and_settle(hub, HELLO_AND_BOB);
    size_t login = hub.received(0).size();
    std::string chunk;
    for (int i = 0; i < 100; i++) chunk += "ж";
    std::u16string shown = type_long_and_send(chunk, 6);
    EXPECT_EQ(shown, std::u16string(492, u'ж'));  // 984 bytes; one more would be 986
    std::string sent = sent_after(hub, login);
    EXPECT_LE(sent.size(), 999u);
    EXPECT_EQ(sent, "<[i]mpx200> " + to_utf8(shown) + " |");

    login = hub.received(0).size();
    chunk = ">bob ";
    for (int i = 0; i < 60; i++) chunk += "\U0001F600";
    shown = type_long_and_send(chunk, 5);
    sent = sent_after(hub, login);
    EXPECT_LE(sent.size(), 999u);
    EXPECT_GT(sent.size(), 995u) << "the line stopped early";
    std::string text = to_utf8(shown);
    ASSERT_EQ(text.rfind(">bob ", 0), 0u);
    EXPECT_EQ(sent, "$To: bob From: [i]mpx200 $<[i]mpx200>     " + text.substr(4) + " |");
}
