// The hub connection over TLS (nmdcs://), through the real message loop: the
// login through the session against a local TLS hub (Python's ssl module in a
// child process, with a certificate made by the openssl command for this
// run), the bytes the library holds after the first reply, chat both ways
// once online, the hub ending the session, the main screen's title marked
// TLS, the keyprint shown when the address names none, one that does not
// match refused before anything is sent (both named), and a plain hub behind an nmdcs://
// address refused without a byte of the login in the clear. Everything on
// 127.0.0.1, every wait bounded, the child killed and reaped at the end.
//
// The TLS hub writes every byte it receives on a connection (decrypted) to
// <folder>/received, emptied at each accept. It sends its lock, answers the
// login block with a first reply longer than one receive of the login, then
// echoes chat lines ("<nick> text|"), answers a line naming Mira with
// "<Mira> hello [i]mpx200|", a line "burst" with 100 chat lines, and a line
// "bye" by ending the session (close_notify) and closing.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "hub/connection.h"
#include "hub/hub_test_state.h"
#include "platform/screen_fixture.h"
#include "platform/tls.h"
#include "screens/main_screen.h"
#include "support/test_hub.h"
#include "support/tls_server.h"

namespace {

const char* const HUB_SCRIPT = R"PY(
import os, socket, ssl, sys
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
received = os.path.join(sys.argv[3], 'received')
listener = socket.socket()
listener.bind(('127.0.0.1', 0))
listener.listen(4)
print(listener.getsockname()[1], flush=True)
FIRST = (b'$Hello [i]mpx200|$HubName Secure Hub|<Bot> ' + b'w' * 1500 + b'|<Bot> after the long one|')
while True:
    connection, _ = listener.accept()
    connection.settimeout(10)
    log = open(received, 'wb', buffering=0)
    try:
        with context.wrap_socket(connection, server_side=True) as tls:
            tls.sendall(b'$Lock EXTENDEDPROTOCOLABCABCABC Pk=x|')
            pending = b''
            greeted = False
            ended = False
            while not ended:
                data = tls.recv(65536)
                if not data:
                    break
                log.write(data)
                pending += data
                if not greeted:
                    if b'$1234567890$|' not in pending:
                        continue
                    greeted = True
                    pending = b''
                    tls.sendall(FIRST)
                    continue
                while b'|' in pending:
                    line, pending = pending.split(b'|', 1)
                    if line.startswith(b'<'):
                        tls.sendall(line + b'|')
                        if b'Mira' in line:
                            tls.sendall(b'<Mira> hello [i]mpx200|')
                        if line.endswith(b'burst'):
                            tls.sendall(b''.join(b'<Bot> line %03d of the burst %s|' % (i, b'x' * 30)
                                                 for i in range(100)))
                        if line.endswith(b'bye'):
                            tls.unwrap()
                            ended = True
                            break
    except (OSError, ValueError):
        pass
    log.close()
    connection.close()
)PY";

TlsTestServer g_tls_server;

std::string received_by_hub() {
    std::ifstream in(std::string(g_tls_server.folder) + "/received", std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

class HubTls : public HubWindowTest {
protected:
    static void SetUpTestSuite() {
        std::string failed = tls_test_server_start(&g_tls_server, "kivo-hub", HUB_SCRIPT);
        ASSERT_EQ(failed, "");
    }
    static void TearDownTestSuite() { tls_test_server_stop(&g_tls_server); }

    // The settings as an nmdcs:// address with this keyprint would leave them.
    void aim(const std::string& port, const std::string& keyprint) {
        text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, port.c_str());
        g_state.settings.hub_tls = 1;
        text_copy(g_state.settings.hub_keyprint, TLS_KEYPRINT_BYTES, keyprint.c_str());
    }
};

TEST_F(HubTls, LoginChatAndTheHubsCloseAllGoThroughTheSession) {
    aim(g_tls_server.port, g_tls_server.keyprint);
    ASSERT_TRUE(connect_and_wait());
    ASSERT_GT(g_state.hub_socket, 0) << chat_log_text();
    EXPECT_EQ(g_state.hub_phase, HUB_ONLINE);
    EXPECT_TRUE(hub_tls_online());
    // The first reply was longer than the login's receive: the rest, held by
    // the library with nothing more on the socket, is read all the same and
    // completes the chat line the first reply began.
    const std::string shown = note_connecting() + note_connected() + "<Bot> " + std::string(1500, 'w') +
                              "\r\n<Bot> after the long one\r\n";
    EXPECT_TRUE(pump_until([&] { return chat_log_text() == shown; })) << chat_log_text();
    EXPECT_EQ(std::u16string(g_state.hub_name), u"Secure Hub");
    std::string login = received_by_hub();
    EXPECT_NE(login.find("$Key "), std::string::npos);
    EXPECT_NE(login.find("$ValidateNick [i]mpx200|"), std::string::npos);

    const std::string line = "<[i]mpx200> hi Mira|";
    ASSERT_TRUE(hub_send(line.data(), (int)line.size()));
    EXPECT_TRUE(pump_until([] { return chat_has("<Mira> hello [i]mpx200\r\n"); })) << chat_log_text();
    EXPECT_TRUE(chat_has("<[i]mpx200> hi Mira\r\n"));

    // More than one receive takes, in one go: every line, in order.
    chatlog_clear();
    const std::string burst = "<[i]mpx200> burst|";
    ASSERT_TRUE(hub_send(burst.data(), (int)burst.size()));
    EXPECT_TRUE(pump_until([] { return chat_has("<Bot> line 099 of the burst"); }, 5000));
    std::string lines = "<[i]mpx200> burst\r\n";
    for (int i = 0; i < 100; i++) {
        char number[8];
        snprintf(number, sizeof number, "%03d", i);
        lines += "<Bot> line " + std::string(number) + " of the burst " + std::string(30, 'x') + "\r\n";
    }
    EXPECT_EQ(chat_log_text(), lines);

    // The hub ends the session: the connection is lost, said once.
    const std::string bye = "<[i]mpx200> bye|";
    ASSERT_TRUE(hub_send(bye.data(), (int)bye.size()));
    EXPECT_TRUE(pump_until([] { return g_state.hub_socket == 0; }, 5000));
    pump_for(100);
    std::string log = chat_log_text();
    EXPECT_NE(log.find(note_lost("closed by the hub")), std::string::npos) << log;
    EXPECT_EQ(log.find("lost"), log.rfind("lost")) << log;
}

// Without a keyprint in the address any certificate is taken, and the one
// seen is shown once after "connected to", with how to pin it.
TEST_F(HubTls, DisconnectEndsTheSessionAndConnectAgainLogsInAfresh) {
    aim(g_tls_server.port, "");  // no keyprint named: any certificate
    ASSERT_TRUE(connect_and_wait());
    ASSERT_GT(g_state.hub_socket, 0) << chat_log_text();
    const std::string& seen = g_tls_server.keyprint;
    EXPECT_EQ(chat_log_text().rfind(note_connecting() + note_connected() + "the hub's keyprint is " + seen +
                                        ": add ?kp=" + seen + " to its address to pin it\r\n",
                                    0),
              0u)
        << chat_log_text();
    EXPECT_TRUE(hub_tls_online());
    hub_disconnect_command();
    EXPECT_FALSE(hub_tls_online());
    EXPECT_TRUE(chat_has(note_disconnected()));
    ASSERT_TRUE(connect_and_wait());
    ASSERT_GT(g_state.hub_socket, 0) << chat_log_text();
    const std::string line = "<[i]mpx200> again Mira|";
    ASSERT_TRUE(hub_send(line.data(), (int)line.size()));
    EXPECT_TRUE(pump_until([] { return chat_has("<Mira> hello [i]mpx200\r\n"); })) << chat_log_text();
}

TEST_F(HubTls, KeyprintThatDoesNotMatchEndsTheLoginBeforeAnythingIsSent) {
    std::string wrong = "SHA256/" + std::string(52, 'A');
    ASSERT_NE(wrong, g_tls_server.keyprint);
    aim(g_tls_server.port, wrong);
    ASSERT_TRUE(connect_and_wait());
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.hub_login_error, LOGIN_KEYPRINT_MISMATCH);
    EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
    // Both keyprints are named: the one the address asks for and the one seen.
    EXPECT_EQ(chat_log_text(),
              note_connecting() + note_cannot_connect("TLS handshake failed: the hub's keyprint does not match: "
                                                      "expected " + wrong + ", seen " + g_tls_server.keyprint));
    pump_for(200);
    EXPECT_EQ(received_by_hub(), "") << "nothing of the login reaches a hub with the wrong certificate";
}

// A hub that speaks plain NMDC where the address says nmdcs://: the
// handshake fails, and the only bytes it got are the TLS client's greeting.
// The real main screen on the headless display: its title ends in " TLS"
// while online over TLS; after Disconnect the mark is gone.
TEST_F(HubTls, MainScreenTitleIsMarkedWhileOnlineOverTls) {
    aim(g_tls_server.port, "");
    g_state.module_instance = KIVO_INSTANCE;
    display_start_headless(80, 24);
    static IdleScript script;
    script = IdleScript{};
    script.add([](void*) {
        script.close_target = g_state.main_window;
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("2");  // Menu > Connect
        return true;
    });
    script.add([](void*) {
        if (grid_row(0).find("Secure Hub (0 users) TLS -") == std::string::npos) return false;
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("3");  // Menu > Disconnect
        return true;
    });
    script.add([](void*) { return grid_row(0).find("+ not connected -") != std::string::npos; });
    // Run out, it disconnects first: Exit would ask while online.
    display_set_idle_hook(
        [](void* s) {
            if (script.turns >= IdleScript::TURNS_MAX) hub_disconnect_command();
            IdleScript::hook(s);
        },
        &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, main_screen_proc, 0);
    display_set_idle_hook(nullptr, nullptr);
    EXPECT_FALSE(script.ran_out) << "step " << script.next << " never completed\n" << grid_text();
    display_stop();
    g_state.main_window = window_;
}

TEST_F(HubTls, PlainHubBehindAnNmdcsAddressGetsNoLoginInTheClear) {
    TestHub hub;
    hub.send(HUB_TEST_LOCK).expect(HUB_TEST_BLOCK_END, 1000).send("$Hello [i]mpx200|");
    aim(hub.port_text(), "");
    ASSERT_TRUE(connect_and_wait());
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.hub_login_error, LOGIN_TLS_FAILED);
    EXPECT_EQ(chat_log_text(), note_connecting() + note_cannot_connect("TLS handshake failed: not a TLS server"));
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
    std::string sent = hub.received(0);
    for (const char* login : {"$Supports", "$Key", "$ValidateNick", "$MyINFO", "[i]mpx200"}) {
        EXPECT_EQ(sent.find(login), std::string::npos) << login;
    }
}

}  // namespace
