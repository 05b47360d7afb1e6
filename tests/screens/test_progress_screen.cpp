// The Downloads screen through the headless display: a row per queue entry
// in columns that follow the width, a running transfer's percentage, speed
// and TLS against a scripted peer, the menu's commands on the selected
// entry (the selection following it), Remove asking first, the details box,
// and the looks: none while nothing runs, four a second while a worker does.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "hub/queue.h"
#include "platform/screen_fixture.h"
#include "resources/ids.h"
#include "screens/progress_screen.h"
#include "transfer/download_fixture.h"

using namespace download_test;

namespace {

Window g_screen;
int g_paints;
int g_timer_looks;
uint64_t g_since;

intptr_t recorded_progress_proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) g_screen = w;
    if (message == WM_PAINT) g_paints++;
    if (message == WM_TIMER) g_timer_looks++;
    return progress_screen_proc(w, message, wparam, lparam);
}

bool shows(const char* text) { return display_find(text) >= 0; }

std::string row_with(const char* text) {
    int r = display_find(text);
    return r < 0 ? "" : grid_row(r);
}

// The entry at the list's selection, as its row reads.
std::string selected_row() {
    for (int r = 0; r < display_rows(); r++) {
        std::string row = grid_row(r);
        if (row.find('>') == 1) return row;
    }
    return "";
}

void menu(const char* digit) {
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_type(digit);
}

int add(const char* nick, const char* name, uint8_t state, uint64_t size = 4000, uint64_t held = 0) {
    std::string path = std::string("Music\\") + name;
    int i = queue_add(nick, path.c_str(), name, "", size, ENCODING_CP1251);
    g_state.queue[i].state = state;
    g_state.queue[i].held = held;
    return i;
}

// The entry's transfer on job 0, requested as the queue's turn leaves it.
void run_on_job0(int index) {
    const QueueEntry& e = g_state.queue[index];
    request_download(queue_text(&e, QUEUE_NICK), queue_text(&e, QUEUE_PATH), queue_text(&e, QUEUE_NAME), "", e.size);
    g_state.jobs[0].entry_id = e.id;
    g_state.queue[index].state = QUEUE_RUNNING;
}

class ProgressScreen : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        reset_download_state();
        g_screen = 0;
        ASSERT_TRUE(dir_.ok());
    }
    void TearDown() override {
        end_download_worker();
        ScreenTest::TearDown();
    }
    intptr_t run(IdleScript* script) {
        script->add([](void*) {
            display_press(DISPLAY_KEY_SOFT_RIGHT);  // "EXIT"
            return true;
        });
        display_set_idle_hook(IdleScript::hook, script);
        intptr_t result = dialog_run(g_state.module_instance, DIALOG_PROGRESS, 0, recorded_progress_proc, 0);
        EXPECT_FALSE(script->ran_out) << "stopped at step " << script->next << "\n" << grid_text();
        EXPECT_EQ(g_state.progress_window, 0);
        return result;
    }
    TempCurrentDirectory dir_;
};

TEST_F(ProgressScreen, EmptyQueueSaysHowToAddAndActionDoesNothing) {
    IdleScript script;
    script.add([](void*) {
        if (!shows("the queue is empty")) return false;
        EXPECT_TRUE(shows("to add: Download on a search result"));
        EXPECT_EQ(grid_row(0).find("+ Downloads -"), 0u) << grid_row(0);
        display_press(DISPLAY_KEY_ACTION);
        menu("1");  // "Pause": no entry, nothing happens
        return true;
    });
    script.add([](void*) { return !shows("Details") && shows("the queue is empty"); });
    EXPECT_EQ(run(&script), 0);
}

// Each state in its words, percentages of what is held, sizes in units, the
// user, TLS for a finished transfer that ran over it; a narrow screen keeps
// name, percentage and state, a wide one brings the rest back.
TEST_F(ProgressScreen, RowsShowEachEntryInColumnsThatFollowTheWidth) {
    add("bob", "wait.mp3", QUEUE_WAITING);
    int done = add("carol", "done.mp3", QUEUE_DONE, 2048);
    g_state.queue[done].tls = 1;
    int failed = add("dan", "fail.mp3", QUEUE_FAILED, 3 << 20, 1 << 20);
    queue_text_set(&g_state.queue[failed], QUEUE_ERROR, "no free slot");
    add("eve", "\xe0.mp3", QUEUE_PAUSED, 4000, 1000);  // Cyrillic a
    IdleScript script;
    script.add([](void*) {
        if (!shows("paused")) return false;
        EXPECT_EQ(grid_row(0).find("+ Downloads (0 running, 4 in all) -"), 0u) << grid_row(0);
        std::string wait = row_with("wait.mp3"), fin = row_with("done.mp3"), fail = row_with("fail.mp3"),
                    pause = row_with("а.mp3");
        EXPECT_NE(wait.find("  0% waiting"), std::string::npos) << wait;
        EXPECT_NE(wait.find("3.9 KiB"), std::string::npos) << wait;
        EXPECT_NE(fin.find("100% done"), std::string::npos) << fin;
        EXPECT_NE(fin.find("carol"), std::string::npos) << fin;
        EXPECT_NE(fin.find("TLS"), std::string::npos) << fin;
        EXPECT_EQ(wait.find("TLS"), std::string::npos) << wait;
        EXPECT_NE(fail.find(" 33% failed: no"), std::string::npos) << fail;
        EXPECT_NE(fail.find("3.0 MiB"), std::string::npos) << fail;
        EXPECT_NE(pause.find(" 25% paused"), std::string::npos) << pause;
        // Columns line up: the sizes end in one column, the users start in one.
        EXPECT_EQ(wait.find("3.9 KiB") + 7, fin.find("2.0 KiB") + 7);
        EXPECT_EQ(wait.find("bob"), fin.find("carol"));
        display_headless_resize(36, 16);
        return true;
    });
    script.add([](void*) {
        // Until the paint has laid the entries out anew, the old ones show cut.
        if (display_cols() != 36 || row_with("done.mp3").find("100% done") == std::string::npos) return false;
        EXPECT_FALSE(shows("carol"));
        EXPECT_EQ(row_with("wait.mp3").find("KiB"), std::string::npos) << grid_text();
        display_headless_resize(100, 30);
        return true;
    });
    script.add([](void*) { return shows("carol") && shows("3.0 MiB") && shows("failed: no free slot"); });
    EXPECT_EQ(run(&script), 0);
}

// A request that waits for its $ConnectToMe costs no look and no paint; the
// hub's $ConnectToMe wakes the screen, which then follows the worker: the
// size known before the peer's reply, the percentage of a resumed part, the
// speed of what came since (never the part), until Pause ends the looks.
TEST_F(ProgressScreen, RunningTransferShowsPercentSpeedAndTheLinkAndLooksOnlyWhileItRuns) {
    g_state.download_silence_ms = 10000;
    static TestHub peer;
    peer.expect(CLIENT_GREETING).send(PEER_GREETING).expect("$2001|").send("$FileLength 4000|").expect("$Send|");
    peer.pause(600).send(std::string(1000, 'd'));
    int index = add("bob", "a.mp3", QUEUE_WAITING);
    std::ofstream(part_name("bob", "Music\\a.mp3", "a.mp3", "", 4000), std::ios::binary) << std::string(2000, 'p');
    run_on_job0(index);
    static std::string speeds;
    IdleScript script;
    script.add([](void*) {
        if (!shows("connecting")) return false;
        EXPECT_NE(row_with("a.mp3").find("  0% connecting"), std::string::npos) << grid_text();
        EXPECT_NE(row_with("a.mp3").find("3.9 KiB"), std::string::npos) << "the size before the peer's reply";
        EXPECT_EQ(grid_row(0).find("+ Downloads (1 running, 1 in all) -"), 0u) << grid_row(0);
        g_paints = g_timer_looks = 0;
        g_since = monotonic_ms();
        return true;
    });
    script.add([](void*) {
        if (monotonic_ms() - g_since < 600) return false;
        EXPECT_EQ(g_paints, 0);
        EXPECT_EQ(g_timer_looks, 0);
        connect_to_me(peer);
        post_message(g_screen, WM_DOWNLOAD_CHANGED, 0, 0);  // as the hub's dispatch does
        return true;
    });
    script.add([](void*) {
        std::string row = row_with("a.mp3");
        size_t at = row.find(" B/s");
        if (at != std::string::npos) speeds += row.substr(row.rfind(' ', at - 1) + 1, at - row.rfind(' ', at - 1) - 1) + " ";
        EXPECT_EQ(row.find("KiB/s"), std::string::npos) << "the resumed part counted as speed: " << row;
        if (row.find(" 75% receiving") == std::string::npos || speeds.find_first_of("123456789") == std::string::npos) {
            return false;
        }
        EXPECT_EQ(row.find("TLS"), std::string::npos) << row;  // a plain connection
        menu("1");                                          // "Pause"
        return true;
    });
    script.add([](void*) {
        if (!shows("paused") || download_running(0)) return false;
        g_timer_looks = 0;
        g_since = monotonic_ms();
        return true;
    });
    script.add([](void*) {
        if (monotonic_ms() - g_since < 600) return false;
        EXPECT_LE(g_timer_looks, 1) << "the looks go on after the worker ended";
        return true;
    });
    EXPECT_EQ(run(&script), 0);
    EXPECT_EQ(g_state.queue[0].state, QUEUE_PAUSED);
    EXPECT_EQ(file_text(part_name("bob", "Music\\a.mp3", "a.mp3", "", 4000)),
              std::string(2000, 'p') + std::string(1000, 'd'));
    EXPECT_NE(chat_text().find(" ::download stopped:: at 3000 of 4000 bytes\r\n"), std::string::npos);
}

// The menu acts on the selected entry and the selection follows it: Resume,
// Move up, Pause, Retry now, Clear finished; Remove asks, CANCEL keeps it,
// OK removes it and its part.
TEST_F(ProgressScreen, MenuCommandsActOnTheSelectedEntryAndTheSelectionFollowsIt) {
    add("bob", "a.mp3", QUEUE_WAITING);
    add("bob", "b.mp3", QUEUE_PAUSED);
    add("carol", "c.mp3", QUEUE_DONE);
    add("dan", "d.mp3", QUEUE_FAILED);
    std::ofstream(part_name("bob", "Music\\b.mp3", "b.mp3", "", 4000), std::ios::binary) << "held";
    IdleScript script;
    script.add([](void*) {
        if (!shows("d.mp3")) return false;
        control_send(g_screen, ID_PROGRESS_LIST, LB_SETCURSEL, 1, 0);
        menu("2");  // "Resume"
        return true;
    });
    script.add([](void*) {
        if (row_with("b.mp3").find("waiting") == std::string::npos) return false;
        menu("4");  // "Move up"
        return true;
    });
    script.add([](void*) {
        if (display_find("b.mp3") > display_find("a.mp3")) return false;
        EXPECT_NE(selected_row().find("b.mp3"), std::string::npos) << grid_text();
        menu("1");  // "Pause"
        return true;
    });
    script.add([](void*) {
        if (row_with("b.mp3").find("paused") == std::string::npos) return false;
        control_send(g_screen, ID_PROGRESS_LIST, LB_SETCURSEL, 3, 0);
        menu("3");  // "Retry now" on d.mp3
        return true;
    });
    script.add([](void*) {
        if (row_with("d.mp3").find("waiting") == std::string::npos) return false;
        menu("7");  // "Clear finished"
        return true;
    });
    script.add([](void*) {
        if (shows("c.mp3")) return false;
        EXPECT_NE(selected_row().find("d.mp3"), std::string::npos) << grid_text();
        EXPECT_TRUE(shows("(0 running, 3 in all)"));
        control_send(g_screen, ID_PROGRESS_LIST, LB_SETCURSEL, 0, 0);
        menu("6");  // "Remove" on b.mp3
        return true;
    });
    script.add([](void*) {
        if (!shows("remove b.mp3 from the queue? What came of it is deleted.")) return false;
        display_press(DISPLAY_KEY_SOFT_RIGHT);  // "CANCEL"
        return true;
    });
    script.add([](void*) {
        if (shows("remove b.mp3")) return false;
        EXPECT_TRUE(shows("b.mp3"));
        menu("6");
        return true;
    });
    script.add([](void*) {
        if (!shows("remove b.mp3")) return false;
        display_press(DISPLAY_KEY_SOFT_LEFT);  // "OK"
        return true;
    });
    script.add([](void*) { return !shows("b.mp3") && selected_row().find("a.mp3") != std::string::npos; });
    EXPECT_EQ(run(&script), 0);
    ASSERT_EQ(g_state.queue_count, 2);
    EXPECT_STREQ(queue_text(&g_state.queue[0], QUEUE_NAME), "a.mp3");
    EXPECT_STREQ(queue_text(&g_state.queue[1], QUEUE_NAME), "d.mp3");
    EXPECT_FALSE(file_exists(part_name("bob", "Music\\b.mp3", "b.mp3", "", 4000)));
}

TEST_F(ProgressScreen, ActionShowsTheSelectedEntrysDetails) {
    u16_copy(g_state.settings.download_folder, DOWNLOAD_FOLDER_UNITS, u"/srv/загрузки");
    int i = queue_add("bob", "Music\\a.mp3", "a.mp3", "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567ABCDEFG", 4000, ENCODING_CP1251);
    g_state.queue[i].held = 1000;
    g_state.queue[i].tries = 2;
    queue_text_set(&g_state.queue[i], QUEUE_ERROR, "no free slot");
    IdleScript script;
    script.add([](void*) {
        if (!shows("a.mp3")) return false;
        control_send(g_screen, ID_PROGRESS_LIST, LB_SETCURSEL, 0, 0);
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        if (!shows("Details")) return false;
        int to = display_find("to: /srv/загрузки/a.mp3");
        EXPECT_GE(to, 0) << grid_text();
        EXPECT_EQ(display_find("from: bob: Music\\a.mp3"), to + 1);
        EXPECT_EQ(display_find("TTH: ABCDEFGHIJKLMNOPQRSTUVWXYZ234567ABCDEFG"), to + 2);
        EXPECT_EQ(display_find("held: 1000 of 4000 bytes"), to + 3);
        EXPECT_EQ(display_find("tries: 2"), to + 4);
        EXPECT_EQ(display_find("last error: no free slot"), to + 5);
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) { return !shows("Details"); });
    EXPECT_EQ(run(&script), 0);
}

}  // namespace
