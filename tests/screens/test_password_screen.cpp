// The password prompt over the real main screen, through the headless
// display, against the scripted test hub: the hub asks ($GetPass) with no
// password known, the prompt opens, what is typed is drawn as '*', OK sends
// it ($MyPass) and keeps it for the session; CANCEL or Back disconnects.
#include <gtest/gtest.h>

#include <string>

#include "hub/connection.h"
#include "hub/hub_test_state.h"
#include "platform/screen_fixture.h"
#include "resources/ids.h"
#include "screens/main_screen.h"
#include "support/test_hub.h"

namespace {

struct PromptRun {
    IdleScript script;
    TestHub* hub = nullptr;
    std::string prompt_grid;  // the screen while the typed password was up
    std::string field_row;
};
PromptRun* run;

bool hub_got(const std::string& text) { return run->hub->received(0).find(text) != std::string::npos; }

class PasswordPrompt : public ScreenTest {
protected:
    PromptRun state;
    TestHub hub;

    void SetUp() override {
        ScreenTest::SetUp();
        hub_test_state();
        g_state.module_instance = KIVO_INSTANCE;
        download_set_phase(0, DOWNLOAD_IDLE);
        text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, hub.port_text().c_str());
        hub.send(HUB_TEST_LOCK).expect(HUB_TEST_BLOCK_END).send("$Hello [i]mpx200|$GetPass|");
        state.hub = &hub;
        run = &state;
        // Menu > Connect, then wait for the prompt.
        state.script.add([](void*) {
            run->script.close_target = g_state.main_window;
            display_press(DISPLAY_KEY_SOFT_LEFT);
            display_type("2");
            return true;
        });
        state.script.add([](void*) { return display_find("Password for [i]mpx200 at 127.0.0.1") >= 0; });
    }

    // The script's hook; once it has run out, the close key ends the screen
    // on top (the prompt first) so a broken case ends instead of hanging.
    static void hook(void* self) {
        IdleScript::hook(self);
        if (((IdleScript*)self)->ran_out) display_press(DISPLAY_KEY_CLOSE);
    }

    void run_main() {
        display_set_idle_hook(hook, &state.script);
        EXPECT_EQ(dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, main_screen_proc, 0), 0);
        display_set_idle_hook(nullptr, nullptr);
        EXPECT_FALSE(state.script.ran_out) << "a step never completed; last screen:\n" << grid_text();
        // The main screen's exit gave up and closed everything.
        EXPECT_FALSE(hub_login_running());
        EXPECT_EQ(g_state.hub_socket, 0);
    }

    // Menu > exit: the main screen's exit gives up and closes the connection;
    // online, it asks first, and the question's OK soft key answers.
    static bool close_main(void*) {
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("1");
        if (g_state.hub_phase == HUB_ONLINE) display_press(DISPLAY_KEY_SOFT_LEFT);
        return true;
    }

    // What the hub received after the login block.
    std::string after_login() {
        std::string all = hub.received(0);
        size_t end = all.find(HUB_TEST_BLOCK_END);
        return end == std::string::npos ? all : all.substr(end + HUB_TEST_BLOCK_END.size());
    }
};

// The grid row that holds the password field: the bordered one below the label.
std::string field_row() {
    bool below_label = false;
    for (int r = 0; r < display_rows(); r++) {
        std::string row = grid_row(r);
        if (row.find("Password for") != std::string::npos) below_label = true;
        if (below_label && row.find("|[") == 0) return row;
    }
    return "";
}

TEST_F(PasswordPrompt, OkSendsTheTypedPasswordDrawnAsStarsAndKeepsIt) {
    state.script.add([](void*) {
        display_type("пароль1");
        return true;
    });
    state.script.add([](void*) {
        if (display_find("*******") < 0) return false;
        run->prompt_grid = grid_text();
        run->field_row = field_row();
        display_press(DISPLAY_KEY_SOFT_LEFT);  // OK
        return true;
    });
    state.script.add([](void*) { return hub_got("|") && hub_got("$MyPass"); });
    state.script.add([](void*) { return display_find("Password for") < 0; });
    state.script.add(close_main);
    run_main();
    // One '*' a character, and nothing of what was typed.
    EXPECT_NE(state.field_row.find("*******"), std::string::npos) << state.field_row;
    EXPECT_EQ(state.field_row.find("********"), std::string::npos) << state.field_row;
    EXPECT_EQ(state.prompt_grid.find("пароль"), std::string::npos) << state.prompt_grid;
    EXPECT_EQ(state.field_row.find("1"), std::string::npos) << state.field_row;
    // Sent in the hub's encoding (1251), and kept for the next $GetPass.
    const std::string password = "\xEF\xE0\xF0\xEE\xEB\xFC" "1";
    EXPECT_EQ(after_login(), "$MyPass " + password + "|");
    EXPECT_EQ(std::string(g_state.settings.password), password);
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
}

// A second $GetPass while the prompt is open opens no second prompt: the
// one open takes the answer, and that answer is what goes out, once.
TEST_F(PasswordPrompt, SecondGetPassWhileOpenIsIgnored) {
    static uint32_t before;
    state.script.add([](void*) {
        before = traffic_received();
        return run->hub->send_now(0, "$GetPass|");
    });
    state.script.add([](void*) { return traffic_received() >= before + 9; });
    state.script.add([](void*) {
        display_type("abc");
        display_press(DISPLAY_KEY_SOFT_LEFT);  // OK
        return true;
    });
    state.script.add([](void*) { return hub_got("$MyPass"); });
    state.script.add([](void*) { return display_find("Password for") < 0; });
    state.script.add(close_main);
    run_main();
    EXPECT_EQ(after_login(), "$MyPass abc|");
}

TEST_F(PasswordPrompt, CancelDisconnects) {
    state.script.add([](void*) {
        display_type("abc");
        display_press(DISPLAY_KEY_SOFT_RIGHT);  // CANCEL
        return true;
    });
    state.script.add([](void*) { return display_find("Password for") < 0; });
    state.script.add([](void*) {
        EXPECT_EQ(g_state.hub_socket, 0);
        EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
        return true;
    });
    state.script.add(close_main);
    run_main();
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
    EXPECT_EQ(after_login(), "");
    EXPECT_STREQ(g_state.settings.password, "");
}

// Backspace deletes what was typed, one character a press, and on an empty
// field does nothing; Back disconnects like CANCEL, with text in the field
// too, and what was typed is never sent.
TEST_F(PasswordPrompt, BackspaceDeletesAndBackDisconnectsWhateverTheField) {
    state.script.add([](void*) {
        display_type("ab");
        return true;
    });
    state.script.add([](void*) {
        if (field_row().find("**") == std::string::npos) return false;
        display_press(DISPLAY_KEY_BACKSPACE);
        return true;
    });
    state.script.add([](void*) {
        std::string row = field_row();
        if (row.find("**") != std::string::npos || row.find('*') == std::string::npos) return false;
        display_press(DISPLAY_KEY_BACKSPACE);
        display_press(DISPLAY_KEY_BACKSPACE);  // on the empty field: nothing
        display_type("c");
        return true;
    });
    state.script.add([](void*) {
        std::string row = field_row();
        if (row.find('*') == std::string::npos || row.find("**") != std::string::npos) return false;
        EXPECT_GT(g_state.hub_socket, 0) << "Backspace only deletes";
        display_press(DISPLAY_KEY_BACK);
        return true;
    });
    state.script.add([](void*) { return display_find("Password for") < 0; });
    state.script.add([](void*) {
        EXPECT_EQ(g_state.hub_socket, 0);
        EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
        return true;
    });
    state.script.add(close_main);
    run_main();
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
    EXPECT_EQ(after_login(), "");
}

}  // namespace
