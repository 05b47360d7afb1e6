// The private conversations as a person meets them, through the real main
// screen and the headless display: a received message marks the title and
// the Private list until its conversation is opened, the conversation sends
// to its nick, a message to a nick the hub has not listed is refused with a
// note, and a seventeenth conversation takes the place of the oldest read one.
#include <gtest/gtest.h>

#include <string>

#include "hub/chat.h"
#include "hub/connection.h"
#include "hub/hub_test_state.h"
#include "hub/private_chats.h"
#include "platform/screen_fixture.h"
#include "resources/ids.h"
#include "screens/main_screen.h"
#include "state/client_state.h"
#include "support/test_hub.h"

namespace {

TestHub* g_hub;
IdleScript* g_script;
std::string g_stuck_grid;  // the screen when a step never completed

// The script's hook; when it runs out, the screen on top is closed first,
// so that a stuck step never leaves a sub-screen open over the main one.
void hook(void* context) {
    IdleScript* s = (IdleScript*)context;
    Window top = g_state.private_chat_window != 0   ? g_state.private_chat_window
                 : g_state.private_list_window != 0 ? g_state.private_list_window
                                                    : g_state.main_window;
    if (s->turns >= IdleScript::TURNS_MAX || s->next >= s->count) {
        if (g_stuck_grid.empty() && s->next < s->count) g_stuck_grid = grid_text();
        s->close_target = top;
        hub_disconnect_command();  // Exit would ask first while online
    }
    IdleScript::hook(context);
}

class PrivateScreens : public ScreenTest {
protected:
    IdleScript script;
    void SetUp() override {
        ScreenTest::SetUp();
        hub_test_state();
        download_set_phase(0, DOWNLOAD_IDLE);
        g_state.module_instance = KIVO_INSTANCE;
        g_script = &script;
        g_stuck_grid.clear();
    }
    void TearDown() override {
        hub_test_end();
        ScreenTest::TearDown();
    }
    void run_main() {
        script.add([](void*) {
            g_script->close_target = g_state.main_window;
            return true;
        });
        display_set_idle_hook(hook, &script);
        dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, main_screen_proc, 0);
        EXPECT_FALSE(script.ran_out) << "step " << script.next << " never completed; its screen:\n" << g_stuck_grid;
    }
};

bool grid_has(const char* text) { return display_find(text) >= 0; }
bool title_has(const char* text) { return grid_row(0).find(text) != std::string::npos; }

// A hub that lists bob and says its name.
void serve_bob(TestHub& hub) {
    hub.send(HUB_TEST_LOCK)
        .expect(HUB_TEST_BLOCK_END)
        .send("$Hello [i]mpx200|$HubName Demo|$MyINFO $ALL bob d$ $Modem $$1$|");
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, hub.port_text().c_str());
}

bool connect_from_menu(void*) {
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_type("2");  // Menu > Connect
    return true;
}

bool online_with_bob(void*) { return title_has("Demo (1 user)"); }

TEST_F(PrivateScreens, ReceivedMessageIsMarkedUntilReadAndItsConversationSendsToBob) {
    TestHub hub;
    g_hub = &hub;
    serve_bob(hub);
    script.add(connect_from_menu);
    script.add(online_with_bob);
    script.add([](void*) {
        g_hub->send_now(0, "$To: [i]mpx200 From: bob $<bob> hi &#36;there|");
        return true;
    });
    script.add([](void*) {
        if (!title_has("Demo (1 user) [PM: bob]")) return false;
        EXPECT_TRUE(grid_has(">bob> hi $there")) << grid_text();  // the main chat keeps its line
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("0");  // Menu > Private, the tenth entry
        return true;
    });
    script.add([](void*) {
        if (!title_has("Private")) return false;
        EXPECT_NE(grid_row(1).find("bob (1)"), std::string::npos) << grid_text();
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        if (!title_has("Private: bob")) return false;
        EXPECT_TRUE(grid_has(">bob> hi $there"));
        display_type("x|y");
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        if (!grid_has("[to bob] <[i]mpx200> x|y")) return false;
        EXPECT_EQ(control_text(g_state.private_chat_window, ID_PRIVATE_INPUT), u"");
        // A message that comes while the conversation is on screen is read.
        g_hub->send_now(0, "$To: [i]mpx200 From: bob $<bob> seen|");
        return true;
    });
    script.add([](void*) {
        if (!grid_has(">bob> seen")) return false;
        display_press(DISPLAY_KEY_BACK);
        return true;
    });
    script.add([](void*) {
        if (g_state.private_chat_window != 0 || !title_has("Private")) return false;
        EXPECT_EQ(grid_row(1).find("bob ("), std::string::npos) << grid_row(1);
        EXPECT_NE(grid_row(1).find("bob"), std::string::npos) << grid_row(1);
        display_press(DISPLAY_KEY_BACK);
        return true;
    });
    script.add([](void*) {
        if (!online_with_bob(nullptr)) return false;
        EXPECT_FALSE(title_has("[PM")) << grid_row(0);
        EXPECT_TRUE(grid_has("[to bob] <[i]mpx200> x|y")) << grid_text();
        return true;
    });
    run_main();
    // The bytes ">bob x|y" typed on the main screen sends: the addressee's
    // place blanked, the text escaped.
    EXPECT_TRUE(hub.wait_received(0, "$To: bob From: [i]mpx200 $<[i]mpx200>      x&#124;y |", 2000))
        << hub.received(0);
}

// ">ann hello" typed on the main screen and a message from a conversation
// whose nick has left: neither reaches the hub, both say why, and the
// conversation keeps the text typed to send again.
TEST_F(PrivateScreens, MessageToANickNotOnTheHubIsRefusedWithANote) {
    TestHub hub;
    g_hub = &hub;
    serve_bob(hub);
    script.add(connect_from_menu);
    script.add(online_with_bob);
    script.add([](void*) {
        display_type(">ann hello");
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        if (!grid_has("ann is not on the hub: not sent")) return false;
        g_hub->send_now(0, "$To: [i]mpx200 From: bob $<bob> bye|$Quit bob|");
        return true;
    });
    script.add([](void*) {
        if (!title_has("Demo (0 users) [PM: bob]")) return false;
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("0");
        return true;
    });
    script.add([](void*) {
        if (!title_has("Private")) return false;
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        if (!title_has("Private: bob")) return false;
        display_type("still there?");
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        if (!grid_has("bob is not on the hub: not sent")) return false;
        EXPECT_EQ(control_text(g_state.private_chat_window, ID_PRIVATE_INPUT), u"still there?");
        display_press(DISPLAY_KEY_BACK);
        return true;
    });
    script.add([](void*) {
        if (g_state.private_chat_window != 0) return false;
        display_press(DISPLAY_KEY_BACK);
        return true;
    });
    script.add([](void*) { return g_state.private_list_window == 0; });
    run_main();
    pump_for(100);
    EXPECT_EQ(hub.received(0).find("$To:"), std::string::npos) << hub.received(0);
}

void receive_from(const std::string& nick) {
    std::string message = "$To: [i]mpx200 From: " + nick + " $<" + nick + "> hello";
    chat_take_private(message.data());
}

// Sixteen conversations fill the store; u03 and u05 were read (u03 first),
// the others not. The seventeenth takes u03's place: the oldest read one,
// not u01, the oldest of all, whose message nobody has read.
TEST_F(PrivateScreens, SeventeenthConversationTakesThePlaceOfTheOldestReadOne) {
    char nick[8];
    for (int i = 1; i <= 16; i++) {
        snprintf(nick, sizeof nick, "u%02d", i);
        receive_from(nick);
    }
    private_chat_read(private_chat_find("u03"));
    private_chat_read(private_chat_find("u05"));
    receive_from("u17");
    script.add([](void*) {
        if (!title_has("not connected [PM: u17, 14 more]")) return false;
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("0");
        return true;
    });
    script.add([](void*) {
        if (!title_has("Private")) return false;
        std::string grid = grid_text();
        EXPECT_NE(grid.find("u17 (1)"), std::string::npos) << grid;
        EXPECT_NE(grid.find("u01 (1)"), std::string::npos) << grid;
        EXPECT_NE(grid.find("u05 "), std::string::npos) << grid;
        EXPECT_EQ(grid.find("u03"), std::string::npos) << grid;
        EXPECT_EQ(grid_row(1).find("u17 (1)"), 2u) << "the newest first";
        display_press(DISPLAY_KEY_BACK);
        return true;
    });
    script.add([](void*) { return g_state.private_list_window == 0; });
    run_main();
    EXPECT_EQ(private_chat_find("u03"), -1);
    int slots[PRIVATE_CHATS];
    EXPECT_EQ(private_chats_by_use(slots), PRIVATE_CHATS);
}

}  // namespace
