// The messages about the session itself against the scripted test hub, in
// the first reply and as later receives: the password asked for ($GetPass,
// answered from the settings or by asking the person), the refusals that end
// the connection ($BadPass, $ValidateDenide, $HubIsFull) and the redirect
// that is only shown ($ForceMove); the escapes of incoming chat; and a hub
// whose encoding is UTF-8.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "hub/connection.h"
#include "hub/hub_test_state.h"
#include "support/test_hub.h"

namespace {

const std::string HELLO = "$Hello [i]mpx200|";

// A UTF-16 surrogate without its partner in the ChatLog (what no UTF-8 text
// can stand for).
bool log_has_lone_surrogate() {
    static char16_t log[LOG_COPY_UNITS];
    chatlog_copy_text(log, LOG_COPY_UNITS);
    for (int i = 0; log[i] != 0; i++) {
        if (utf16_is_high_surrogate(log[i]) && utf16_is_low_surrogate(log[i + 1])) {
            i++;
        } else if (utf16_is_high_surrogate(log[i]) || utf16_is_low_surrogate(log[i])) {
            return true;
        }
    }
    return false;
}

class SessionMessages : public HubWindowTest {
protected:
    // What the hub received after the login block.
    static std::string after_login(const TestHub& hub, int n = 0) {
        std::string all = hub.received(n);
        size_t end = all.find(HUB_TEST_BLOCK_END);
        return end == std::string::npos ? all : all.substr(end + HUB_TEST_BLOCK_END.size());
    }
    // Turns the loop until the hub has received text after the login block.
    static bool pump_until_sent(const TestHub& hub, const std::string& text) {
        return pump_until([&] { return after_login(hub).find(text) != std::string::npos; });
    }
};

// The hub asks for the password: the known one goes out at once, in the
// first reply or later, and is never shown.
TEST_F(SessionMessages, GetPassIsAnsweredWithTheKnownPassword) {
    text_copy(g_state.settings.password, PASSWORD_BYTES, "secret");
    TestHub hub;
    connect_to(hub, "$GetPass|");
    ASSERT_TRUE(pump_until_sent(hub, "$MyPass secret|"));
    EXPECT_EQ(after_login(hub), "$MyPass secret|");
    uint32_t sent = traffic_sent();
    hub.send_now(0, HELLO + "<Hub> registered users only|$GetPass|");
    ASSERT_TRUE(pump_until_sent(hub, "$MyPass secret|$MyPass secret|"));
    pump_for(100);
    EXPECT_EQ(after_login(hub), "$MyPass secret|$MyPass secret|");
    EXPECT_EQ(traffic_sent(), sent + 15);
    EXPECT_GT(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.hub_phase, HUB_ONLINE);
    EXPECT_EQ(password_asks_, 0);
    EXPECT_TRUE(chat_has("<Hub> registered users only\r\n"));
    EXPECT_FALSE(chat_has("secret"));
}

// A password holding '|' or '$' goes out escaped as chat is: raw, its rest
// would reach the hub as a command of its own.
TEST_F(SessionMessages, PasswordCannotInjectAHubCommand) {
    text_copy(g_state.settings.password, PASSWORD_BYTES, "a|b$c|$GetNickList");
    TestHub hub;
    connect_to(hub, "$GetPass|");
    ASSERT_TRUE(pump_until([] { return g_state.hub_phase == HUB_OFFLINE; }));
    pump_for(50);
    EXPECT_EQ(after_login(hub), "") << "nothing of the password reaches the hub";
    EXPECT_TRUE(chat_has("the password holds a \"|\", which no hub can take: not sent\r\n"));
}

// Without a password the main window is asked to get one; nothing is sent
// until it is given.
TEST_F(SessionMessages, GetPassWithoutAPasswordAsksAndSendsWhatIsGiven) {
    TestHub hub;
    connect_to(hub, "$GetPass|");
    ASSERT_TRUE(pump_until([] { return password_asks_ == 1; }));
    hub.send_now(0, "$GetPass|");
    ASSERT_TRUE(pump_until([] { return password_asks_ == 2; }));
    pump_for(100);
    EXPECT_EQ(after_login(hub), "");
    hub_send_password("typed");
    ASSERT_TRUE(pump_until_sent(hub, "|"));
    EXPECT_EQ(after_login(hub), "$MyPass typed|");
    EXPECT_EQ(g_state.hub_phase, HUB_ONLINE);
    EXPECT_FALSE(chat_has("typed"));
}

struct SessionCase {
    const char* name;
    std::string message;  // from the hub, with its '|'
    std::string note;     // the line it leaves in the chat
    bool closes;
};

// Each session message, in the first reply and as a later receive: its note,
// and whether the connection ends (the client closes it) or stays.
TEST_F(SessionMessages, RefusalsEndTheConnectionAndARedirectIsOnlyShown) {
    const SessionCase cases[] = {
        {"$BadPass", "$BadPass|", "wrong password\r\n", true},
        {"$ValidateDenide", "$ValidateDenide [i]mpx200|", "the hub refused the nick [i]mpx200\r\n", true},
        {"$ValidateDenide without a nick", "$ValidateDenide|", "the hub refused the nick [i]mpx200\r\n", true},
        {"$HubIsFull", "$HubIsFull|", "the hub is full\r\n", true},
        {"$ForceMove", "$ForceMove other.example:4111|", "the hub asks you to go to other.example:4111\r\n",
         false},
    };
    for (const SessionCase& c : cases) {
        for (bool in_first_reply : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (in_first_reply ? " in the first reply" : " later"));
            text_copy(g_state.settings.password, PASSWORD_BYTES, "secret");
            TestHub hub;
            connect_to(hub, in_first_reply ? HELLO + c.message : HELLO);
            if (!in_first_reply) {
                chatlog_clear();
                hub.send_now(0, c.message);
            }
            ASSERT_TRUE(pump_until([&] { return chat_has(c.note); }));
            // The note stands alone: nothing of the hub's raw text before it.
            std::string chat = chat_log_text();
            if (in_first_reply) {
                const std::string alone = note_connecting() + note_connected() + c.note;
                EXPECT_EQ(chat.substr(chat.size() - std::min(chat.size(), alone.size())), alone);
            }
            EXPECT_EQ(chat.substr(chat.size() - c.note.size()), c.note);
            if (c.closes) {
                EXPECT_EQ(g_state.hub_socket, 0);
                EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
                EXPECT_EQ(g_state.hub_out_len, 0);
                EXPECT_TRUE(hub.wait_client_closed(0, 2000));
                // Nothing may be sent on a closed connection.
                EXPECT_FALSE(hub_send("|", 1));
                pump_for(50);
                EXPECT_FALSE(chat_has("lost"));
            } else {
                // Not followed: no other connection, and this one goes on
                // until the hub closes it.
                EXPECT_GT(g_state.hub_socket, 0);
                EXPECT_EQ(g_state.hub_phase, HUB_ONLINE);
                hub.send_now(0, "<bob> still here|");
                EXPECT_TRUE(pump_until([] { return chat_has("<bob> still here\r\n"); }));
                EXPECT_EQ(hub.connections(), 1);
                hub.close_now(0);
                EXPECT_TRUE(pump_until([] { return chat_has(note_lost("closed by the hub")); }));
            }
            // A refused password is forgotten, so the next Connect asks for it.
            EXPECT_STREQ(g_state.settings.password, c.message == "$BadPass|" ? "" : "secret");
            EXPECT_FALSE(chat_has("secret"));
            hub_close();
        }
    }
}

// What follows a refusal in the same receive belongs to a session that is
// over: no chat shown, no ghost users, no $ConnectToMe for the download.
TEST_F(SessionMessages, NothingAfterARefusalInTheSameReceiveIsHandled) {
    const std::string after = "<Bot> after the close|$MyINFO $ALL ghost d$ $Modem $$1$|"
                              "$ConnectToMe [i]mpx200 127.0.0.1:1|$HubName Ghost|<Bot> tail";
    for (const char* refusal : {"$BadPass|", "$ValidateDenide|", "$HubIsFull|"}) {
        SCOPED_TRACE(refusal);
        TestHub hub;
        connect_to(hub);
        text_copy(g_state.jobs[0].nick, RESULT_NICK_BYTES, "bob");
        ASSERT_TRUE(download_request(0));
        ASSERT_TRUE(hub.send_now(0, refusal + after));
        ASSERT_TRUE(pump_until([] { return g_state.hub_socket == 0; }));
        pump_for(50);
        EXPECT_FALSE(chat_has("after the close"));
        EXPECT_EQ(g_state.user_count, 0);
        EXPECT_EQ(g_state.hub_name[0], 0);
        EXPECT_EQ(g_state.hub_tail_len, 0);
        EXPECT_EQ(download_phase(0), DOWNLOAD_REQUESTED);
        download_set_phase(0, DOWNLOAD_IDLE);
    }
}

// Chat and private messages arrive with '|', '$' and '&' escaped; they are
// shown as typed. Text that only looks like part of an escape stays.
TEST_F(SessionMessages, EscapedChatIsShownUnescaped) {
    TestHub hub;
    connect_to(hub);
    chatlog_clear();
    hub.send_now(0,
                 "<bob> a&#124;b&#36;c&amp;#36;|"
                 "$To: [i]mpx200 From: bob $<bob> x&#124;y &amp; z|"
                 "<ann> &#12 &amp &#36 &&#124;;|");
    ASSERT_TRUE(pump_until([] { return chat_has("<ann>"); }));
    EXPECT_EQ(chat_log_text(),
              "<bob> a|b$c&#36;\r\n"
              ">bob> x|y & z\r\n"
              "<ann> &#12 &amp &#36 &|;\r\n");
}

// A UTF-8 hub: the nick goes out in UTF-8, the first reply and the chat
// are read as UTF-8, and bytes that are not UTF-8 are shown as U+FFFD.
TEST_F(SessionMessages, Utf8HubIsReadAndWrittenInUtf8) {
    g_state.settings.encoding = ENCODING_UTF8;
    text_copy(g_state.settings.nick, NICK_BYTES, "\xCA\xEE\xF2");  // "Кот" as the settings keep it (1251)
    TestHub hub;
    hub.send(HUB_TEST_LOCK).expect(HUB_TEST_BLOCK_END).send("$Hello Кот|<Бот> привет, Кот|");
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, hub.port_text().c_str());
    ASSERT_TRUE(connect_and_wait());
    ASSERT_GT(g_state.hub_socket, 0);
    EXPECT_STREQ(g_state.hub_nick, "Кот");
    ASSERT_TRUE(hub.wait_received(0, HUB_TEST_BLOCK_END, 2000));
    EXPECT_NE(hub.received(0).find("$ValidateNick Кот|"), std::string::npos);
    EXPECT_EQ(chat_log_text(),
              note_connecting() + note_connected() + "<Бот> привет, Кот\r\n");
    chatlog_clear();
    hub.send_now(0,
                 "<Борис> ок ✓ 😀|"
                 "<bob> \xFF|<bob> a\xC3|<bob> \x80z|<bob> \xE2\x82z|"  // not UTF-8
                 "<bob> \xC0\xBC \xED\xA0\x80 \xF4\x90\x80\x80 end|");  // overlong, a surrogate, past U+10FFFF
    ASSERT_TRUE(pump_until([] { return chat_has(" end\r\n"); }));
    EXPECT_EQ(chat_log_text(),
              "<Борис> ок ✓ 😀\r\n"
              "<bob> \uFFFD\r\n<bob> a\uFFFD\r\n<bob> \uFFFDz\r\n<bob> \uFFFDz\r\n"
              "<bob> \uFFFD \uFFFD \uFFFD end\r\n");
    EXPECT_FALSE(log_has_lone_surrogate());
    // The next Connect takes the encoding the settings name then.
    g_state.settings.encoding = ENCODING_CP1251;
    TestHub cp1251;
    connect_to(cp1251, "$Hello \xCA\xEE\xF2|<\xC1\xEE\xF2> \xEF\xF0\xE8\xE2\xE5\xF2|");
    EXPECT_NE(cp1251.received(0).find("$ValidateNick \xCA\xEE\xF2|"), std::string::npos);
    EXPECT_TRUE(chat_has("<Бот> привет\r\n"));
}

}  // namespace
