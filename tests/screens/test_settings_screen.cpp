// The settings screen run from its real template through the headless
// display: favourites offered by name, host and port taken from a chosen
// favourite, and the SessionSettings changed on "OK" only, cut to their fields.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/screen_fixture.h"
#include "resources/ids.h"
#include "config/settings_file.h"
#include "screens/settings_screen.h"
#include "state/client_state.h"

namespace {

struct SettingsRun {
    IdleScript script;
    Window screen = 0;
    std::u16string host, port, nick;
    bool still_open = false;
};
SettingsRun* run;

std::u16string wide(const std::string& utf8) {
    char16_t text[512];
    utf8_to_utf16(utf8.c_str(), -1, text, 512);
    return text;
}

intptr_t recording_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) run->screen = screen;
    return settings_screen_proc(screen, message, wparam, lparam);
}

void add_favorite(const char* name, const char* host, const char* port, const char* nick,
                  const char* password = "", uint8_t encoding = ENCODING_CP1251) {
    FavoriteHub& f = g_state.favorites[g_state.favorites_count++];
    strcpy(f.name, name);
    strcpy(f.host, host);
    strcpy(f.port, port);
    strcpy(f.nick, nick);
    strcpy(f.password, password);
    f.encoding = encoding;
}

class SettingsScreen : public ScreenTest {
protected:
    SettingsRun state;
    void SetUp() override {
        ScreenTest::SetUp();
        client_state_reset();
        g_state.module_instance = KIVO_INSTANCE;
        SessionSettings& s = g_state.settings;
        strcpy(s.nick, "me");
        strcpy(s.share_size, "1234567890");
        strcpy(s.hub_host, "127.0.0.1");
        strcpy(s.hub_port, "2225");
        strcpy(s.local_ip, "10.1.1.1");
        run = &state;
        state.script.add([](void*) {
            run->script.close_target = run->screen;
            return display_find("Settings") >= 0;
        });
    }
    void run_settings() {
        state.script.context = &state;
        display_set_idle_hook(IdleScript::hook, &state.script);
        EXPECT_EQ(dialog_run(KIVO_INSTANCE, DIALOG_SETTINGS, 0, recording_proc, 0), 0);
        EXPECT_FALSE(state.script.ran_out) << "a step never completed; last screen:\n" << grid_text();
    }
    static bool read_fields(void*) {
        run->host = control_text(run->screen, ID_SETTINGS_HOST);
        run->port = control_text(run->screen, ID_SETTINGS_PORT);
        run->nick = control_text(run->screen, ID_SETTINGS_NICK);
        return true;
    }
    static bool press_ok(void*) {
        display_press(DISPLAY_KEY_SOFT_LEFT);
        return true;
    }
    static bool press_cancel(void*) {
        display_press(DISPLAY_KEY_SOFT_RIGHT);
        return true;
    }
};

TEST_F(SettingsScreen, EmptyFavouritesShowTheCurrentSettings) {
    state.script.add([](void*) {
        run->still_open = control_send(run->screen, ID_SETTINGS_FAVORITES, CB_GETCURSEL, 0, 0) == -1;
        return read_fields(nullptr);
    });
    state.script.add(press_cancel);
    run_settings();
    EXPECT_TRUE(state.still_open) << "nothing selected in an empty list";
    EXPECT_EQ(state.host, u"127.0.0.1");
    EXPECT_EQ(state.port, u"2225");
    EXPECT_EQ(state.nick, u"me");
}

// The combo names the favourite whose host and port the fields show; with
// none of them matching it names none.
TEST_F(SettingsScreen, ComboShowsTheFavouriteTheFieldsComeFrom) {
    add_favorite("First", "one.example", "411", "nick1");
    add_favorite("Here", "127.0.0.1", "2225", "nick2");
    state.script.add([](void*) {
        EXPECT_EQ(control_send(run->screen, ID_SETTINGS_FAVORITES, CB_GETCURSEL, 0, 0), 1);
        int row = display_find("Here");
        EXPECT_GE(row, 0) << grid_text();
        EXPECT_EQ(row, display_find("v]")) << "shown in the combo itself";
        return true;
    });
    state.script.add(press_cancel);
    run_settings();
    strcpy(g_state.settings.hub_port, "2226");
    state.script = IdleScript{};
    state.script.add([](void*) {
        run->script.close_target = run->screen;
        run->still_open = control_send(run->screen, ID_SETTINGS_FAVORITES, CB_GETCURSEL, 0, 0) == -1;
        return true;
    });
    state.script.add(press_cancel);
    run_settings();
    EXPECT_TRUE(state.still_open) << "no favourite has port 2226";
}

TEST_F(SettingsScreen, ChoosingTheSecondEntryFillsHostPortAndNick) {
    add_favorite("First", "one.example", "411", "nick1");
    add_favorite("Second", "two.example", "4111", "nick2");
    state.script.add([](void*) {
        display_press(DISPLAY_KEY_RIGHT);  // the list has the focus: entry 0
        display_press(DISPLAY_KEY_RIGHT);  // entry 1
        return true;
    });
    state.script.add([](void*) {
        read_fields(nullptr);
        return run->host == u"two.example";
    });
    state.script.add(press_cancel);
    run_settings();
    EXPECT_EQ(state.port, u"4111");
    EXPECT_EQ(state.nick, u"nick2");
    EXPECT_STREQ(g_state.settings.hub_host, "127.0.0.1") << "CANCEL after choosing stores nothing";
    EXPECT_STREQ(g_state.settings.nick, "me");
    EXPECT_STREQ(g_state.settings.hub_port, "2225");
}

intptr_t encoding_shown() { return control_send(run->screen, ID_SETTINGS_ENCODING, CB_GETCURSEL, 0, 0); }

// The Encoding combo shows the encoding of the settings, then that of the
// chosen favourite; OK takes the favourite's password and encoding, CANCEL
// nothing. Neither changes the encoding the connected hub is read in.
TEST_F(SettingsScreen, EncodingFollowsTheChosenFavouriteAndOkTakesItsPasswordAndEncoding) {
    static intptr_t shown[2];
    for (bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "CANCEL");
        client_state_reset();
        g_state.module_instance = KIVO_INSTANCE;
        g_state.settings.encoding = ENCODING_UTF8;
        hub_encoding_choose(ENCODING_AUTO);
        strcpy(g_state.settings.password, "old");
        add_favorite("Utf", "utf.example", "411", "n1", "", ENCODING_UTF8);
        add_favorite("Cyr", "cyr.example", "412", "n2", "pw2", ENCODING_CP1252);
        state = SettingsRun();
        state.script.add([](void*) {
            run->script.close_target = run->screen;
            return display_find("Settings") >= 0;
        });
        state.script.add([](void*) {
            shown[0] = encoding_shown();
            if (display_find("UTF-8") < 0) return false;
            display_press(DISPLAY_KEY_RIGHT);  // entry 0: UTF-8
            display_press(DISPLAY_KEY_RIGHT);  // entry 1: CP1252
            return true;
        });
        state.script.add([](void*) {
            if (display_find("CP1252") < 0) return false;
            shown[1] = encoding_shown();
            return true;
        });
        state.script.add(ok ? press_ok : press_cancel);
        run_settings();
        EXPECT_EQ(shown[0], ENCODING_UTF8);
        EXPECT_EQ(shown[1], ENCODING_CP1252);
        EXPECT_STREQ(g_state.settings.password, ok ? "pw2" : "old");
        EXPECT_EQ(g_state.settings.encoding, ok ? ENCODING_CP1252 : ENCODING_UTF8);
        EXPECT_STREQ(g_state.settings.hub_host, ok ? "cyr.example" : "");
        EXPECT_EQ(hub_encoding(), ENCODING_CP1251) << "a favourite's encoding waits for its Connect";
        EXPECT_EQ(g_state.hub_encoding_watch, 1);
    }
    // Opened again without choosing, OK keeps the password and encoding.
    state = SettingsRun();
    state.script.add([](void*) {
        run->script.close_target = run->screen;
        return display_find("CP1252") >= 0;
    });
    state.script.add(press_ok);
    run_settings();
    EXPECT_STREQ(g_state.settings.password, "pw2");
    EXPECT_EQ(g_state.settings.encoding, ENCODING_CP1252);
    EXPECT_EQ(hub_encoding(), ENCODING_CP1251);
}

// An encoding chosen by hand is stored on OK and is in force for the hub in
// use at once; Auto chosen again watches again.
TEST_F(SettingsScreen, EncodingChosenByHandIsInForceAtOnce) {
    hub_encoding_choose(ENCODING_AUTO);
    for (uint8_t wanted : {ENCODING_CP1252, ENCODING_UTF8, ENCODING_AUTO}) {
        static uint8_t target;
        target = wanted;
        state = SettingsRun();
        state.script.add([](void*) {
            run->script.close_target = run->screen;
            if (display_find("Settings") < 0) return false;
            control_set_focus(run->screen, ID_SETTINGS_ENCODING);
            return true;
        });
        state.script.add([](void*) {
            if (encoding_shown() == target) return true;
            display_press(encoding_shown() < target ? DISPLAY_KEY_RIGHT : DISPLAY_KEY_LEFT);
            return false;
        });
        state.script.add(press_ok);
        run_settings();
        EXPECT_EQ(g_state.settings.encoding, wanted);
        EXPECT_EQ(hub_encoding(), wanted == ENCODING_AUTO ? ENCODING_CP1251 : (HubEncoding)wanted);
        EXPECT_EQ(g_state.hub_encoding_watch, wanted == ENCODING_AUTO ? 1 : 0);
    }
}

TEST_F(SettingsScreen, FocusOnTheListReplacesATypedHostWithTheSelectedFavourite) {
    add_favorite("Only", "fav.example", "555", "n");
    state.script.add([](void*) {
        display_press(DISPLAY_KEY_RIGHT);  // select "Only"
        display_press(DISPLAY_KEY_DOWN);   // to the host field, caret at its end
        // Backspace deletes "fav.example"; one more on the empty field does nothing.
        for (int i = 0; i < 12; i++) display_press(DISPLAY_KEY_BACKSPACE);
        display_type("typed.example");
        return true;
    });
    state.script.add([](void*) {
        read_fields(nullptr);
        if (run->host != u"typed.example") return false;
        display_press(DISPLAY_KEY_UP);  // back onto the list
        return true;
    });
    state.script.add([](void*) {
        read_fields(nullptr);
        return run->host == u"fav.example";
    });
    state.script.add(press_cancel);
    run_settings();
    EXPECT_EQ(state.port, u"555");
}

TEST_F(SettingsScreen, OkStoresAllFiveFields) {
    state.script.add([](void*) {
        control_set_text(run->screen, ID_SETTINGS_HOST, u"hub.example");
        control_set_text(run->screen, ID_SETTINGS_PORT, u"4000");
        control_set_text(run->screen, ID_SETTINGS_NICK, u"\u041A\u043E\u0442");
        control_set_text(run->screen, ID_SETTINGS_SHARE, u"42");
        control_set_text(run->screen, ID_SETTINGS_LOCAL_IP, u"10.9.9.9");
        return true;
    });
    state.script.add(press_ok);
    run_settings();
    const SessionSettings& s = g_state.settings;
    EXPECT_STREQ(s.hub_host, "hub.example");
    EXPECT_STREQ(s.hub_port, "4000");
    EXPECT_STREQ(s.nick, "\xCA\xEE\xF2");  // 1251
    EXPECT_STREQ(s.share_size, "42");
    EXPECT_STREQ(s.local_ip, "10.9.9.9");
}

TEST_F(SettingsScreen, PlatformOkAndCancelDoNotCloseTheScreen) {
    state.script.add([](void*) {
        post_message(run->screen, WM_COMMAND, IDOK, 0);
        post_message(run->screen, WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    state.script.add([](void*) {
        run->still_open = display_find("Settings") >= 0;
        return true;
    });
    state.script.add(press_cancel);
    run_settings();
    EXPECT_TRUE(state.still_open);
}

TEST_F(SettingsScreen, OverlongEntriesAreCutToTheirFields) {
    // A port has no overlong form: past 5 digits it is refused (below).
    static std::u16string host(80, u'h'), nick(150, u'n');
    state.script.add([](void*) {
        control_set_text(run->screen, ID_SETTINGS_HOST, host.c_str());
        control_set_text(run->screen, ID_SETTINGS_NICK, nick.c_str());
        control_set_text(run->screen, ID_SETTINGS_LOCAL_IP, host.c_str());
        return true;
    });
    state.script.add(press_ok);
    run_settings();
    const SessionSettings& s = g_state.settings;
    EXPECT_EQ(std::string(s.hub_host), std::string(51, 'h'));
    EXPECT_STREQ(s.hub_port, "2225");
    EXPECT_EQ(std::string(s.nick), std::string(99, 'n'));
    EXPECT_EQ(std::string(s.local_ip), std::string(51, 'h'));
}

// nmdcs:// in the host field makes the hub TLS with the keyprint typed; the
// field shows it so again, and OK without a change keeps the keyprint (it does
// not fit in the field); a plain address for the same host drops both.
const char KP[] = "SHA256/ABCDEFGHIJKLMNOPQRSTUVWXYZ234567ABCDEFGHIJKLMNOPQRST";

TEST_F(SettingsScreen, HostFieldTakesAnNmdcsAddressWithItsKeyprintAndKeepsIt) {
    state.script.add([](void*) {
        std::string typed = std::string("nmdcs://127.0.0.1:2228?kp=") + KP;
        std::u16string wide(typed.begin(), typed.end());
        control_set_text(run->screen, ID_SETTINGS_HOST, wide.c_str());
        return true;
    });
    state.script.add(press_ok);
    run_settings();
    const SessionSettings& s = g_state.settings;
    EXPECT_STREQ(s.hub_host, "127.0.0.1");
    EXPECT_STREQ(s.hub_port, "2228") << "the address's port wins over the field";
    EXPECT_EQ(s.hub_tls, 1);
    EXPECT_STREQ(s.hub_keyprint, KP);

    for (bool plain : {false, true}) {
        SCOPED_TRACE(plain ? "plain host typed" : "unchanged");
        state = SettingsRun();
        state.script.add([](void*) {
            run->script.close_target = run->screen;
            return display_find("Settings") >= 0;
        });
        state.script.add(read_fields);
        if (plain) {
            state.script.add([](void*) {
                control_set_text(run->screen, ID_SETTINGS_HOST, u"127.0.0.1");
                return true;
            });
        }
        state.script.add(press_ok);
        run_settings();
        EXPECT_EQ(state.host, u"nmdcs://127.0.0.1");
        EXPECT_EQ(state.port, u"2228");
        EXPECT_EQ(s.hub_tls, plain ? 0 : 1);
        EXPECT_STREQ(s.hub_keyprint, plain ? "" : KP);
    }
}

// A chosen TLS favourite shows as nmdcs://, and OK takes its keyprint and its
// switch for transfers with the address.
TEST_F(SettingsScreen, ChosenTlsFavouriteBringsItsKeyprintAndTransferSwitch) {
    add_favorite("Plain", "plain.example", "411", "n1");
    add_favorite("Safe", "safe.example", "2228", "n2");
    FavoriteHub& safe = g_state.favorites[1];
    safe.tls = 1;
    safe.tls_transfers_off = 1;
    strcpy(safe.keyprint, KP);
    state.script.add([](void*) {
        display_press(DISPLAY_KEY_RIGHT);
        display_press(DISPLAY_KEY_RIGHT);
        return true;
    });
    state.script.add([](void*) {
        read_fields(nullptr);
        return run->host == u"nmdcs://safe.example";
    });
    state.script.add(press_ok);
    run_settings();
    const SessionSettings& s = g_state.settings;
    EXPECT_STREQ(s.hub_host, "safe.example");
    EXPECT_STREQ(s.hub_port, "2228");
    EXPECT_EQ(s.hub_tls, 1);
    EXPECT_STREQ(s.hub_keyprint, KP);
    EXPECT_EQ(s.tls_transfers_off, 1);
}

TEST_F(SettingsScreen, HostThatIsNoHubAddressStoresNothingAndSaysSo) {
    state.script.add([](void*) {
        control_set_text(run->screen, ID_SETTINGS_HOST, u"nmdcs://h.example:2228?kp=SHA256/short");
        control_set_text(run->screen, ID_SETTINGS_NICK, u"other");
        return true;
    });
    state.script.add(press_ok);
    state.script.add([](void*) {
        if (display_find("not a hub address") < 0) return false;
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    state.script.add([](void*) {
        if (display_find("not a hub address") >= 0) return false;
        run->still_open = display_find("Settings") >= 0;
        return true;
    });
    state.script.add(press_cancel);
    run_settings();
    EXPECT_TRUE(state.still_open);
    EXPECT_STREQ(g_state.settings.hub_host, "127.0.0.1");
    EXPECT_STREQ(g_state.settings.nick, "me");
    EXPECT_EQ(g_state.settings.hub_tls, 0);
}

// The port field is held to 1-65535 like an address's own port: 69847 would
// otherwise connect to 4311, and 30 nines were cut to 11.
TEST_F(SettingsScreen, PortOutsideItsRangeIsRefusedOnOk) {
    static std::u16string port = u"69847" + std::u16string(25, u'9');
    state.script.add([](void*) {
        control_set_text(run->screen, ID_SETTINGS_PORT, port.c_str());
        return true;
    });
    state.script.add(press_ok);
    state.script.add([](void*) {
        if (display_find("not a hub address") < 0) return false;
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    state.script.add(press_cancel);
    run_settings();
    EXPECT_STREQ(g_state.settings.hub_port, "2225");
}

// The new fields: the password drawn as stars, the download folder and the
// chat time switch; OK stores them with the rest and saves all to
// settings.xml, which a load gives back; a folder path too long for its
// field is refused, not cut.
TEST_F(SettingsScreen, OkStoresPasswordFolderAndChatTimeAndSavesThem) {
    char dir[] = "/tmp/kivo-option-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/settings.xml";
    utf8_to_utf16(file.c_str(), -1, g_state.settings_path, SETTINGS_PATH_UNITS);
    const char* data_home = getenv("XDG_DATA_HOME");
    const std::string data_before = data_home != nullptr ? data_home : "";
    setenv("XDG_DATA_HOME", dir, 1);
    static std::u16string too_long(DOWNLOAD_FOLDER_UNITS, u'd');
    state.script.add([](void*) {
        control_set_text(run->screen, ID_SETTINGS_PASSWORD, u"se\"<&|$");
        control_set_text(run->screen, ID_SETTINGS_FOLDER, too_long.c_str());
        control_set_text(run->screen, ID_SETTINGS_NICK, u"newnick");
        control_send(run->screen, ID_SETTINGS_TIMES, CB_SETCURSEL, 1, 0);  // "off"
        return true;
    });
    state.script.add([](void*) {
        if (display_find("*******") < 0) return false;
        // "At once" offers 1 to 10 and shows the setting in force, 3.
        EXPECT_EQ(control_send(run->screen, ID_SETTINGS_SLOTS, CB_GETCURSEL, 0, 0), 2);
        EXPECT_GE(display_find("At once"), 0);
        control_send(run->screen, ID_SETTINGS_SLOTS, CB_SETCURSEL, 9, 0);  // "10"
        run->still_open = display_find("se\"<&") < 0;  // never drawn as itself
        return press_ok(nullptr);
    });
    state.script.add([](void*) {
        if (display_find("folder path too long") < 0) return false;
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    state.script.add([](void*) {
        if (display_find("folder path too long") >= 0) return false;
        control_set_text(run->screen, ID_SETTINGS_FOLDER, u"/srv/загрузки");
        return press_ok(nullptr);
    });
    run_settings();
    EXPECT_TRUE(state.still_open) << "the password showed as itself";
    SessionSettings& s = g_state.settings;
    EXPECT_STREQ(s.password, "se\"<&|$");
    EXPECT_EQ(std::u16string(s.download_folder), u"/srv/загрузки");
    EXPECT_EQ(s.chat_timestamps, 0);
    EXPECT_EQ(s.download_slots, 10);
    // The queue chose its places anew, for a download folder that may have changed.
    EXPECT_EQ(std::u16string(g_state.queue_path), wide(std::string(dir) + "/kivo/queue.xml"));
    if (data_before.empty()) unsetenv("XDG_DATA_HOME");
    else setenv("XDG_DATA_HOME", data_before.c_str(), 1);
    memset(&s, 0, sizeof s);
    settings_load(g_state.settings_path);  // what OK saved (the file's own round trip: tests/config)
    EXPECT_EQ(s.download_slots, 10);
    EXPECT_STREQ(s.nick, "newnick");
    EXPECT_EQ(std::u16string(s.download_folder), u"/srv/загрузки");
    EXPECT_EQ(system(("rm -rf '" + std::string(dir) + "'").c_str()), 0);
}

// The combo tells of its focus too: opening the screen on the favourite the
// address comes from shows the saved nick and password, not the favourite's,
// and OK without a choice keeps them and the encoding.
TEST_F(SettingsScreen, OpeningOnTheFavouriteInUseKeepsTheSavedNickAndPassword) {
    add_favorite("Here", "127.0.0.1", "2225", "nick2", "favpw", ENCODING_CP1251);
    strcpy(g_state.settings.password, "saved");
    g_state.settings.encoding = ENCODING_UTF8;
    state.script.add([](void*) {
        if (control_send(run->screen, ID_SETTINGS_FAVORITES, CB_GETCURSEL, 0, 0) != 0) return false;
        return read_fields(nullptr);
    });
    state.script.add(press_ok);
    run_settings();
    EXPECT_EQ(state.nick, u"me");
    EXPECT_STREQ(g_state.settings.nick, "me");
    EXPECT_STREQ(g_state.settings.password, "saved");
    EXPECT_EQ(g_state.settings.encoding, ENCODING_UTF8);
}

// While a hub is connected (or connecting) it knows the session by the old
// nick: a new one says it counts from the next Connect; an unchanged one,
// or one changed while offline, says nothing.
TEST_F(SettingsScreen, NewNickWhileConnectedSaysItCountsFromTheNextConnect) {
    const uint8_t phases[] = {HUB_ONLINE, HUB_CONNECTING, HUB_ONLINE, HUB_OFFLINE};
    const char16_t* nicks[] = {u"other", u"third", u"third", u"fourth"};
    for (int i = 0; i < 4; i++) {
        chatlog_clear();
        g_state.hub_phase = phases[i];
        static const char16_t* typed;
        typed = nicks[i];
        state = SettingsRun();
        state.script.add([](void*) {
            run->script.close_target = run->screen;
            if (display_find("Settings") < 0) return false;
            control_set_text(run->screen, ID_SETTINGS_NICK, typed);
            return true;
        });
        state.script.add(press_ok);
        run_settings();
        static char16_t log[4096];
        chatlog_copy_text(log, 4096);
        bool said = std::u16string(log).find(u"the new nick is used from the next Connect") !=
                    std::u16string::npos;
        EXPECT_EQ(said, i < 2) << i;
    }
    g_state.hub_phase = HUB_OFFLINE;
}

// Active mode's fields on the phone's own 36x16: every row of the screen
// fits, the mode and ports in force are shown (0, any free port, as an empty
// field), and OK stores what was chosen.
TEST_F(SettingsScreen, ActiveModeFieldsFitThePhoneAndOkStoresThem) {
    SessionSettings& s = g_state.settings;
    s.connect_mode = MODE_ACTIVE;
    s.listen_port = 4120;
    s.download_slots = 3;
    display_headless_resize(36, 16);
    static std::string shown;
    state.script.add([](void*) {
        if (display_find("[4120") < 0) return false;
        shown = grid_text();
        control_send(run->screen, ID_SETTINGS_MODE, CB_SETCURSEL, 2, 0);  // Passive
        control_set_text(run->screen, ID_SETTINGS_LISTEN_PORT, u"");
        control_set_text(run->screen, ID_SETTINGS_TLS_PORT, u"65535");
        control_set_text(run->screen, ID_SETTINGS_EXTERNAL, u"203.0.113.5");
        return press_ok(nullptr);
    });
    run_settings();
    for (const char* text : {"Hub", "At once   [3", "Mode      [Active", "Port [4120", "TLS port  [", "Ext. IP", "OK"})
        EXPECT_NE(shown.find(text), std::string::npos) << text << " not on\n" << shown;
    EXPECT_EQ(s.connect_mode, MODE_PASSIVE);
    EXPECT_EQ(s.listen_port, 0);
    EXPECT_EQ(s.tls_port, 65535);
    EXPECT_STREQ(s.external_address, "203.0.113.5");
}

// A port outside 1-65535, a TLS port equal to the port, an address that is
// no dotted IPv4: each says so and the screen stays, nothing stored, not
// even the fields that were right; CANCEL then leaves the settings as they were.
TEST_F(SettingsScreen, BadPortsOrAddressStoreNothingAndSaySo) {
    SessionSettings& s = g_state.settings;
    s.listen_port = 5000;
    s.tls_port = 5001;
    strcpy(s.external_address, "198.51.100.7");
    u16_copy(s.download_folder, DOWNLOAD_FOLDER_UNITS, u"/kept");
    const SessionSettings before = s;
    struct Case {
        const char16_t *port, *tls, *address;
        const char* says;
    };
    static const Case cases[] = {
        {u"0", u"", u"", "the port is 1 to 65535"},
        {u"41 20", u"", u"", "the port is 1 to 65535"},
        {u"", u"-1", u"", "the TLS port is 1 to 65535"},
        {u"4120", u"4120", u"", "must differ from the port"},
        {u"4120", u"4121", u"203.0.113", "not a dotted IPv4"},
        {u"", u"", u"203.0.113.256", "not a dotted IPv4"},
    };
    static int phase;
    phase = 0;
    state.script.add([](void*) {
        const int n = (int)(sizeof cases / sizeof cases[0]);
        if (phase / 2 >= n) return true;
        const Case& c = cases[phase / 2];
        if (phase % 2 == 0) {
            if (phase > 0 && display_find(cases[phase / 2 - 1].says) >= 0) return false;
            control_set_text(run->screen, ID_SETTINGS_LISTEN_PORT, c.port);
            control_set_text(run->screen, ID_SETTINGS_TLS_PORT, c.tls);
            control_set_text(run->screen, ID_SETTINGS_EXTERNAL, c.address);
            control_set_text(run->screen, ID_SETTINGS_NICK, u"other");
            control_set_text(run->screen, ID_SETTINGS_FOLDER, u"/elsewhere");
            control_send(run->screen, ID_SETTINGS_MODE, CB_SETCURSEL, 1, 0);
            phase++;
            return press_ok(nullptr) && false;
        }
        if (display_find(c.says) < 0) return false;
        display_press(DISPLAY_KEY_ACTION);
        phase++;
        return false;
    });
    state.script.add([](void*) {
        if (display_find("not a dotted IPv4") >= 0) return false;
        run->still_open = display_find("Settings") >= 0;
        return press_cancel(nullptr);
    });
    run_settings();
    EXPECT_EQ(phase, 12) << "each bad value said so";
    EXPECT_TRUE(state.still_open);
    EXPECT_EQ(memcmp(&before, &s, sizeof s), 0) << "a refused OK or CANCEL stored something";
    EXPECT_EQ(std::u16string(s.download_folder), u"/kept");
}

}  // namespace
