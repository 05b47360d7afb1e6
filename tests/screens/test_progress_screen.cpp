// The progress screen through the headless display: what it shows for no
// download, for a download in progress (64-bit counts included) and after it
// ends, and "Stop" from its menu ending a real download.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/screen_fixture.h"
#include "hub/queue.h"
#include "resources/ids.h"
#include "screens/progress_screen.h"
#include "transfer/download_fixture.h"

using namespace download_test;

namespace {

Window g_screen;
int g_paints;
int g_timer_looks;

// The progress screen as the main screen opens it; remembers its window and
// counts its paints and its timer's wake-ups.
intptr_t recorded_progress_proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) g_screen = w;
    if (message == WM_PAINT) g_paints++;
    if (message == WM_TIMER) g_timer_looks++;
    return progress_screen_proc(w, message, wparam, lparam);
}

std::string label(int id) {
    char text[256];
    char16_t wide[256];
    control_get_text(g_screen, id, wide, 256);
    utf16_to_cp1251(wide, -1, text, sizeof text);
    return text;
}

// Filled cells of the progress bar as drawn: the '#' between '[' and ']'.
int bar_filled(int* inner) {
    for (int r = 0; r < display_rows(); r++) {
        std::string row = grid_row(r);
        size_t open = row.find('[');
        size_t close = row.rfind(']');
        if (open == std::string::npos || close == std::string::npos || close <= open + 1) continue;
        std::string cells = row.substr(open + 1, close - open - 1);
        if (cells.find_first_not_of("# ") != std::string::npos) continue;
        *inner = (int)cells.size();
        int n = 0;
        for (char c : cells) n += c == '#';
        return n;
    }
    *inner = 0;
    return -1;
}

class ProgressScreen : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        reset_download_state();
        g_screen = 0;
    }
    void TearDown() override {
        end_download_worker();
        ScreenTest::TearDown();
    }

    intptr_t run(IdleScript* script) {
        display_set_idle_hook(IdleScript::hook, script);
        intptr_t result = dialog_run(g_state.module_instance, DIALOG_PROGRESS, 0, recorded_progress_proc, 0);
        EXPECT_FALSE(script->ran_out) << "stopped at step " << script->next << "\n" << grid_text();
        return result;
    }
};

bool press_exit(void*) {
    display_press(DISPLAY_KEY_SOFT_RIGHT);
    return true;
}

TEST_F(ProgressScreen, WithoutADownloadKeepsFileAndSize) {
    IdleScript script;
    script.add([](void*) {
        EXPECT_EQ(label(ID_PROGRESS_FILE), "File");
        EXPECT_EQ(label(ID_PROGRESS_SIZE), "Size");
        EXPECT_GE(display_find("File"), 0);
        EXPECT_GE(display_find("Size"), 0);
        return true;
    });
    script.add(press_exit);
    EXPECT_EQ(run(&script), 0);
}

TEST_F(ProgressScreen, LineAndBarFollowTheCountsAndShowTheFinalOnes) {
    request_download("bob", "Music\\a.mp3", "\xe0.mp3");  // Cyrillic a
    download_set_phase(0, DOWNLOAD_RECEIVING);  // a worker runs and counts
    download_set_total(0, 5000);
    download_set_received(0, 1250);
    IdleScript script;
    script.add([](void*) {
        if (label(ID_PROGRESS_SIZE) != "1250 / 5000 bytes") return false;
        EXPECT_GE(display_find("1250 / 5000 bytes"), 0);
        EXPECT_GE(display_find("а.mp3"), 0);
        int inner;
        int filled = bar_filled(&inner);
        EXPECT_EQ(filled, inner / 4);
        download_set_received(0, 2500);
        return true;
    });
    script.add([](void*) {
        if (label(ID_PROGRESS_SIZE) != "2500 / 5000 bytes") return false;
        // The worker's last count, then the end of the download.
        download_set_received(0, 4000);
        download_set_phase(0, DOWNLOAD_IDLE);
        return true;
    });
    script.add([](void*) { return label(ID_PROGRESS_SIZE) == "4000 / 5000 bytes"; });
    script.add(press_exit);
    EXPECT_EQ(run(&script), 0);
}

TEST_F(ProgressScreen, CountsBeyond32BitsAreShownWholeAndScaledOnTheBar) {
    request_download();
    download_set_total(0, 6000000000ull);
    download_set_received(0, 4500000000ull);
    IdleScript script;
    script.add([](void*) {
        if (label(ID_PROGRESS_SIZE) != "4500000000 / 6000000000 bytes") return false;
        int inner;
        int filled = bar_filled(&inner);
        EXPECT_EQ(filled, inner * 3 / 4);
        return true;
    });
    script.add(press_exit);
    EXPECT_EQ(run(&script), 0);
}

TEST_F(ProgressScreen, ActionKeyLeavesTheScreenOpen) {
    IdleScript script;
    script.add([](void*) {
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) { return display_find("Size") >= 0; });
    script.add(press_exit);
    EXPECT_EQ(run(&script), 0);
}

TEST_F(ProgressScreen, StopFromTheMenuEndsTheRunningDownload) {
    TempCurrentDirectory dir;
    ASSERT_TRUE(dir.ok());
    g_state.download_silence_ms = 10000;
    TestHub peer;
    script_peer(peer, "$FileLength 1000000|", std::string(1000, 'd'));
    request_download();
    connect_to_me(peer);
    IdleScript script;
    script.add([](void*) {
        if (label(ID_PROGRESS_SIZE) != "1000 / 1000000 bytes") return false;
        display_press(DISPLAY_KEY_SOFT_LEFT);
        return true;
    });
    script.add([](void*) {
        if (display_find("Stop") < 0) return false;
        display_type("1");
        return true;
    });
    script.add([](void*) { return download_running(0) == 0; });
    script.add([](void*) {
        EXPECT_GE(display_find("1000 / 1000000 bytes"), 0);  // still open, last line kept
        return true;
    });
    script.add(press_exit);
    EXPECT_EQ(run(&script), 0);
    EXPECT_EQ(file_text(part_name()), std::string(1000, 'd'));
    EXPECT_NE(chat_text().find(" ::download stopped:: at 1000 of 1000000 bytes\r\n"), std::string::npos);
    EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
}

// The hub's $ConnectToMe as dispatch hands it on, to the peer's port.
void hub_connect_to_me(const TestHub& peer) {
    std::string m = "$ConnectToMe me 127.0.0.1:" + peer.port_text();
    download_take_connect(m.c_str());
    if (g_state.progress_window != 0) post_message(g_state.progress_window, WM_DOWNLOAD_CHANGED, 0, 0);
}

// A request that waits for its $ConnectToMe costs no paint and no wake-up;
// the hub's $ConnectToMe wakes the screen, which then follows the worker
// (receiving, the counts) until Stop.
TEST_F(ProgressScreen, AWaitingRequestCostsNothingUntilTheHubsConnectToMe) {
    TempCurrentDirectory dir;
    ASSERT_TRUE(dir.ok());
    g_state.download_silence_ms = 10000;
    static TestHub peer;
    script_peer(peer, "$FileLength 1000000|", std::string(1000, 'd'));
    request_download("bob", "Music\\a.mp3", "a.mp3");
    static uint64_t since;
    IdleScript script;
    script.add([](void*) {
        if (label(ID_PROGRESS_STATE) != "waiting from bob") return false;
        g_paints = g_timer_looks = 0;
        since = monotonic_ms();
        return true;
    });
    script.add([](void*) {
        if (monotonic_ms() - since < 1500) return false;
        EXPECT_EQ(g_paints, 0);  // nothing changed: nothing painted
        EXPECT_EQ(g_timer_looks, 0);  // and nothing looked
        hub_connect_to_me(peer);
        return true;
    });
    script.add([](void*) {
        return label(ID_PROGRESS_STATE).rfind("receiving from bob  0%  ", 0) == 0 &&
               label(ID_PROGRESS_SIZE) == "1000 / 1000000 bytes";
    });
    script.add([](void*) {
        display_press(DISPLAY_KEY_SOFT_LEFT);
        return true;
    });
    script.add([](void*) {
        if (display_find("Stop") < 0) return false;
        display_type("1");
        return true;
    });
    // The worker reached the peer in the clear: the line says so.
    script.add([](void*) { return label(ID_PROGRESS_STATE) == "stopped from bob  0%  plain"; });
    script.add([](void*) {
        g_timer_looks = 0;  // the worker has ended: the screen looks no more
        since = monotonic_ms();
        return true;
    });
    script.add([](void*) { return monotonic_ms() - since >= 600; });
    script.add([](void*) {
        EXPECT_EQ(g_timer_looks, 0);
        return true;
    });
    script.add(press_exit);
    EXPECT_EQ(run(&script), 0);
    EXPECT_EQ(g_state.progress_window, 0);
}

// The outcome words as the worker leaves them: the screen, woken when the
// worker starts, looks until the worker's end and shows it.
TEST_F(ProgressScreen, StateLineShowsEachOutcome) {
    request_download("bob", "Music\\a.mp3", "a.mp3");
    IdleScript script;
    script.add([](void*) {
        download_set_phase(0, DOWNLOAD_RECEIVING);
        download_set_total(0, 4000);
        download_set_received(0, 1000);
        send_message(g_screen, WM_DOWNLOAD_CHANGED, 0, 0);  // as the hub does at $ConnectToMe
        return true;
    });
    script.add([](void*) { return label(ID_PROGRESS_STATE).rfind("receiving from bob  25%  ", 0) == 0; });
    script.add([](void*) {
        download_set_received(0, 4000);
        download_set_outcome(0, DOWNLOAD_FAILED);
        download_set_phase(0, DOWNLOAD_IDLE);
        return true;
    });
    script.add([](void*) { return label(ID_PROGRESS_STATE) == "failed from bob  100%"; });
    script.add([](void*) {
        download_set_phase(0, DOWNLOAD_CONNECTING);
        download_set_outcome(0, DOWNLOAD_NO_OUTCOME);
        send_message(g_screen, WM_DOWNLOAD_CHANGED, 0, 0);
        return true;
    });
    script.add([](void*) { return label(ID_PROGRESS_STATE) == "connecting from bob  100%"; });
    script.add([](void*) {
        download_set_link(0, DOWNLOAD_LINK_TLS);  // the worker's handshake is done
        download_set_outcome(0, DOWNLOAD_DONE);
        download_set_phase(0, DOWNLOAD_IDLE);
        return true;
    });
    script.add([](void*) { return label(ID_PROGRESS_STATE) == "done from bob  100%  TLS"; });
    script.add(press_exit);
    EXPECT_EQ(run(&script), 0);
}

}  // namespace
