// The main screen's title over a TLS hub (nmdcs:// without a keyprint),
// through the real screen and a local TLS hub (Python's ssl module in a
// child process): " TLS" after the user count while online, gone after
// Disconnect, and the keyprint note with how to pin it in the chat.
#include <gtest/gtest.h>

#include <string>

#include "hub/connection.h"
#include "hub/hub_test_state.h"
#include "platform/screen_fixture.h"
#include "screens/main_screen.h"
#include "support/tls_server.h"

namespace {

const char* const TLS_HUB_SCRIPT = R"PY(
import socket, ssl, sys
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
listener = socket.socket()
listener.bind(('127.0.0.1', 0))
listener.listen(4)
print(listener.getsockname()[1], flush=True)
while True:
    connection, _ = listener.accept()
    connection.settimeout(10)
    try:
        with context.wrap_socket(connection, server_side=True) as tls:
            tls.sendall(b'$Lock EXTENDEDPROTOCOLABCABCABC Pk=x|')
            seen = b''
            while b'$1234567890$|' not in seen:
                data = tls.recv(65536)
                if not data:
                    break
                seen += data
            tls.sendall(b'$Hello [i]mpx200|$HubName Secure Hub|')
            while tls.recv(65536):
                pass
    except (OSError, ValueError):
        pass
    connection.close()
)PY";

class MainTitle : public ScreenTest {};

TEST_F(MainTitle, TlsHubIsMarkedWhileOnlineAndItsKeyprintShownToPin) {
    static TlsTestServer server;
    ASSERT_EQ(tls_test_server_start(&server, "kivo-hub", TLS_HUB_SCRIPT), "");
    hub_test_state(server.port);
    g_state.settings.hub_tls = 1;  // nmdcs:// without ?kp=
    g_state.module_instance = KIVO_INSTANCE;
    static IdleScript script;
    script = IdleScript{};
    script.add([](void*) {
        script.close_target = g_state.main_window;
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("2");  // Menu > Connect
        return true;
    });
    script.add([](void*) {
        if (grid_row(0).find("Secure Hub (0 users) TLS") == std::string::npos) return false;
        EXPECT_GE(display_find("the hub's keyprint is"), 0) << grid_text();
        EXPECT_GE(display_find("address to pin it"), 0) << grid_text();
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("3");  // Menu > Disconnect
        return true;
    });
    script.add([](void*) { return grid_row(0).find("not connected") != std::string::npos; });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, main_screen_proc, 0);
    EXPECT_FALSE(script.ran_out) << "step " << script.next << " never completed\n" << grid_text();
    hub_test_end();
    tls_test_server_stop(&server);
    EXPECT_EQ(grid_row(0).find("TLS"), std::string::npos) << grid_row(0);
    EXPECT_NE(chat_log_text().find("the hub's keyprint is " + server.keyprint + ": add ?kp=" + server.keyprint +
                                   " to its address to pin it\r\n"),
              std::string::npos)
        << chat_log_text();
}

}  // namespace
