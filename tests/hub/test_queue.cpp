// The download queue: the Download command on the results screen (through
// the headless display) adds an entry; the queue's turns fill jobs and ask
// owners with the exact $RevConnectToMe on the hub connection; relayed
// $ConnectToMe messages run the transfers to their files; and the queue's
// rules: one transfer per user, the number of slots, the passive hint,
// unanswered requests tried again when their user comes back, and the
// person's commands.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>
#include <string>

#include "hub/connection.h"
#include "hub/dispatch.h"
#include "hub/queue.h"
#include "hub/search.h"
#include "hub/users.h"
#include "hub/queue_test_support.h"
#include "platform/screen_fixture.h"
#include "resources/ids.h"
#include "screens/search_screen.h"
#include "transfer/download_fixture.h"

using namespace download_test;
using namespace queue_test;

namespace {

Window g_screen;
int g_select_row;

// The results screen as the main screen opens it; remembers its window.
intptr_t recorded_search_proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) g_screen = w;
    return search_screen_proc(w, message, wparam, lparam);
}

void add_result(const char* nick, const char* path, const char* short_name) {
    SearchResult& r = g_state.results[g_state.result_count++];
    text_copy(r.nick, RESULT_NICK_BYTES, nick);
    text_copy(r.path, RESULT_PATH_BYTES, path);
    text_copy(r.short_name, RESULT_SHORT_BYTES, short_name);
    r.size = 5;
    result_view_rebuild();
}

class DownloadQueue : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        reset_download_state();
        g_screen = 0;
        g_select_row = 1;
        add_result("alice", "x\\y.txt", "y.txt");
        add_result("bob", "Music\\a.mp3", "a.mp3");
        update_user("alice", "0", 1);
        update_user("bob", "0", 1);
        hub_ = std::make_unique<TestHub>();
        g_state.hub_socket = tcp_connect("127.0.0.1", hub_->port_text().c_str(), SOCKET_STREAM);
        ASSERT_GT(g_state.hub_socket, 0);
        g_state.hub_phase = HUB_ONLINE;
    }
    void TearDown() override {
        for (int job = 0; job < DOWNLOAD_JOBS; job++) download_set_stop(job, 1);
        EXPECT_TRUE(wait_until(3000, [] { return !download_any_running(); }));
        end_download_worker();
        if (g_state.hub_socket > 0) closesocket(g_state.hub_socket);
        g_state.hub_socket = 0;
        hub_.reset();
        ScreenTest::TearDown();
    }

    // Opens the results screen, selects g_select_row (-1: none) and presses "Download".
    intptr_t press_download() {
        IdleScript script;
        script.add([](void*) {
            control_send(g_screen, ID_SEARCH_LIST, LB_SETCURSEL, (WPARAM)g_select_row, 0);
            display_press(DISPLAY_KEY_SOFT_RIGHT);
            return true;
        });
        display_set_idle_hook(IdleScript::hook, &script);
        return dialog_run(g_state.module_instance, DIALOG_SEARCH, 0, recorded_search_proc, 0);
    }

    std::unique_ptr<TestHub> hub_;
};


std::string state_of(int index) {
    char16_t wide[200];
    queue_state_text(index, wide, 200);
    char text[200];
    utf16_to_cp1251(wide, -1, text, 200);
    return text;
}

TEST_F(DownloadQueue, DownloadQueuesTheSelectedRowAndAsksItsOwnerThroughTheHub) {
    uint32_t sent_before = traffic_sent();
    EXPECT_EQ(press_download(), 0);
    ASSERT_EQ(g_state.queue_count, 1);
    EXPECT_STREQ(queue_text(&g_state.queue[0], QUEUE_NICK), "bob");
    EXPECT_STREQ(queue_text(&g_state.queue[0], QUEUE_PATH), "Music\\a.mp3");
    EXPECT_STREQ(g_state.jobs[0].short_name, "a.mp3");
    EXPECT_EQ(download_requested(0), 1);
    EXPECT_EQ(queue_job_of(0), 0);
    EXPECT_EQ(state_of(0), "connecting");
    ASSERT_TRUE(hub_->wait_received(0, "|", 2000));
    EXPECT_EQ(hub_->received(0), "$RevConnectToMe me bob|");
    EXPECT_EQ(traffic_sent() - sent_before, 23u);
    EXPECT_NE(chat_text().find(" ::queued:: a.mp3\r\n"), std::string::npos);
    // The same file again is refused; another user's runs beside it.
    press_download();
    EXPECT_EQ(g_state.queue_count, 1);
    EXPECT_NE(chat_text().find(" ::download refused:: already in the queue\r\n"), std::string::npos);
    g_select_row = 0;
    press_download();
    EXPECT_EQ(g_state.queue_count, 2);
    EXPECT_EQ(download_active_count(), 2);
    EXPECT_TRUE(hub_->wait_received(0, "$RevConnectToMe me bob|$RevConnectToMe me alice|", 2000));
    // Offline, the requests are taken back: both wait for the next connection.
    g_state.hub_phase = HUB_OFFLINE;
    queue_tick();
    EXPECT_EQ(download_active_count(), 0);
    EXPECT_EQ(state_of(0), "waiting");
    EXPECT_EQ(g_state.queue[0].tries, 0);
}

TEST_F(DownloadQueue, RelayedConnectToMeRunsEachRequestToItsFileWhicheverComesFirst) {
    TempCurrentDirectory dir;
    ASSERT_TRUE(dir.ok());
    TestHub bob;
    script_peer(bob, "$FileLength 5|", "hello");
    press_download();  // bob's file, asked first
    g_select_row = 0;
    g_state.results[0].size = 3;
    press_download();  // alice's
    TestHub alice;
    alice.expect("$MyNick me|").send("$MyNick alice|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABCA Pk=X|" + PEER_KEY);
    alice.expect("$Get x\\y.txt$1|").send("$FileLength 3|").expect("$Send|").send("abc");
    // Alice connects first: a $ConnectToMe names no user, so it starts the
    // oldest request (bob's), whose worker hands it over when alice greets.
    from_hub("$ConnectToMe me 127.0.0.1:" + alice.port_text() + "|<bob> hi|");
    ASSERT_TRUE(wait_until(3000, [] {
        queue_tick();
        return g_state.queue[1].state == QUEUE_DONE;
    }));
    EXPECT_EQ(state_of(0), "connecting");
    from_hub("$ConnectToMe me 127.0.0.1:" + bob.port_text() + "|");
    ASSERT_TRUE(settle());
    EXPECT_EQ(file_text("a.mp3"), "hello");
    EXPECT_EQ(file_text("y.txt"), "abc");
    EXPECT_EQ(state_of(0), "done");
    EXPECT_EQ(state_of(1), "done");
    EXPECT_NE(chat_text().find("<bob> hi\r\n"), std::string::npos);
    queue_clear_finished();
    EXPECT_EQ(g_state.queue_count, 0);
}

TEST_F(DownloadQueue, OneTransferPerUserAndNoMoreThanTheSlots) {
    add_result("bob", "Music\\b.mp3", "b.mp3");
    add_result("carol", "c.txt", "c.txt");
    update_user("carol", "0", 1);
    g_state.settings.download_slots = 2;
    for (int row : {1, 2, 3, 0}) {
        g_select_row = row;
        press_download();
    }
    ASSERT_EQ(g_state.queue_count, 4);
    // bob's second file waits for his first; carol's takes the second slot;
    // alice's waits for a free slot.
    EXPECT_EQ(state_of(0), "connecting");
    EXPECT_EQ(state_of(1), "waiting");
    EXPECT_EQ(state_of(2), "connecting");
    EXPECT_EQ(state_of(3), "waiting");
    EXPECT_TRUE(hub_->wait_received(0, "$RevConnectToMe me bob|$RevConnectToMe me carol|", 2000));
    // Paused, bob's first gives his second its turn.
    queue_pause(0);
    EXPECT_EQ(state_of(0), "paused");
    EXPECT_EQ(state_of(1), "connecting");
    EXPECT_TRUE(hub_->wait_received(0, "$RevConnectToMe me bob|$RevConnectToMe me carol|$RevConnectToMe me bob|", 2000));
    // Moved ahead of bob's second, and resumed, his first waits its turn behind it.
    EXPECT_EQ(queue_move(1, -1), 0);
    queue_resume(1);
    EXPECT_EQ(state_of(1), "waiting");
    queue_remove(0);
    EXPECT_EQ(g_state.queue_count, 3);
    EXPECT_STREQ(queue_text(&g_state.queue[0], QUEUE_PATH), "Music\\a.mp3");
    EXPECT_EQ(state_of(0), "connecting");
}

TEST_F(DownloadQueue, PassiveUserFailsAtOnceWithTheHint) {
    from_hub("$MyINFO $ALL dan desc<++ V:0.7,M:P,H:1/0/0,S:2>$ $LAN(T1)\x01$$5$|");
    add_result("dan", "d\\e.txt", "e.txt");
    g_select_row = 2;
    press_download();
    EXPECT_EQ(state_of(0), "failed: dan is passive too: two passive clients cannot connect");
    EXPECT_EQ(download_active_count(), 0);
    EXPECT_FALSE(hub_->wait_received(0, "$RevConnectToMe", 200));
    EXPECT_NE(chat_text().find(" ::download failed:: dan is passive too: two passive clients cannot connect\r\n"),
              std::string::npos);
}

TEST_F(DownloadQueue, UnansweredRequestWaitsAndIsAskedAgainWhenItsUserComesBack) {
    g_state.download_silence_ms = 100;
    press_download();
    ASSERT_TRUE(wait_until(2000, [] {
        queue_tick();
        return g_state.queue[0].state == QUEUE_WAITING;
    }));
    EXPECT_EQ(g_state.queue[0].tries, 1);
    EXPECT_STREQ(queue_text(&g_state.queue[0], QUEUE_ERROR), "no answer from the user");
    EXPECT_GT(g_state.queue[0].retry_ms, monotonic_ms());
    EXPECT_EQ(download_active_count(), 0);
    // A late $ConnectToMe finds no request: nobody is connected to.
    TestHub late;
    from_hub("$ConnectToMe me 127.0.0.1:" + late.port_text() + "|");
    EXPECT_FALSE(late.wait_connections(1, 200));
    // Leaving and coming back makes his entry try at once.
    from_hub("$Quit bob|$MyINFO $ALL bob x<++ V:1,M:A,H:1/0/0,S:2>$ $LAN(T1)\x01$$5$|");
    EXPECT_EQ(state_of(0), "connecting");
    EXPECT_TRUE(hub_->wait_received(0, "$RevConnectToMe me bob|$RevConnectToMe me bob|", 2000));
}

TEST_F(DownloadQueue, RefusalsAndFaultsDecideWhetherAndWhenTheEntryIsTriedAgain) {
    TempCurrentDirectory dir;
    ASSERT_TRUE(dir.ok());
    // No free slot: tried again after the shortest pause, however often it came.
    TestHub busy;
    busy.expect(CLIENT_GREETING).send(PEER_GREETING).expect("$1|").send("$MaxedOut|");
    g_state.queue_count = 0;
    press_download();
    g_state.queue[0].tries = 5;
    from_hub("$ConnectToMe me 127.0.0.1:" + busy.port_text() + "|");
    ASSERT_TRUE(settle());
    EXPECT_EQ(g_state.queue[0].state, QUEUE_WAITING);
    uint64_t pause = g_state.queue[0].retry_ms - monotonic_ms();
    EXPECT_LE(pause, QUEUE_RETRY_FIRST_MS);
    EXPECT_GT(pause, QUEUE_RETRY_FIRST_MS / 2);
    // A file that does not match its TTH is given up, until Retry.
    g_state.queue[0].retry_ms = 0;
    queue_text_set(&g_state.queue[0], QUEUE_TTH, "B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SI");
    queue_tick();
    TestHub wrong;
    script_peer(wrong, "$FileLength 5|", "hello");
    from_hub("$ConnectToMe me 127.0.0.1:" + wrong.port_text() + "|");
    ASSERT_TRUE(settle());
    EXPECT_EQ(state_of(0), "failed: the file does not match its TTH");
    queue_retry(0);
    EXPECT_EQ(state_of(0), "connecting");
}

// A full disk and a part removed under a transfer fail that entry with the
// reason; the others go on.
TEST_F(DownloadQueue, AFullDiskOrAVanishedPartFailsItsEntryAndTheOthersGoOn) {
    TempCurrentDirectory dir;
    ASSERT_TRUE(dir.ok());
    add_result("carol", "c.txt", "c.txt");
    update_user("carol", "0", 1);
    for (int row : {1, 0, 2}) {
        g_select_row = row;
        press_download();
    }
    ASSERT_EQ(download_active_count(), 3);
    // bob's peer sends half, waits, then the rest: the part is removed meanwhile.
    TestHub bob, alice, carol;
    bob.expect(CLIENT_GREETING).send(PEER_GREETING).expect("$1|").send("$FileLength 5|").expect("$Send|");
    bob.send("he").pause(300).send("llo");
    from_hub("$ConnectToMe me 127.0.0.1:" + bob.port_text() + "|");
    ASSERT_TRUE(wait_until(3000, [] { return download_received(0) == 2; }));
    ASSERT_EQ(unlink(part_name("bob", "Music\\a.mp3", "a.mp3", "", 5).c_str()), 0);
    // alice's file meets a full disk.
    file_write_room_set(0);
    alice.expect("$MyNick me|").send("$MyNick alice|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABCA Pk=X|" + PEER_KEY);
    alice.expect("$Get x\\y.txt$1|").send("$FileLength 5|").expect("$Send|").send("abcde");
    from_hub("$ConnectToMe me 127.0.0.1:" + alice.port_text() + "|");
    ASSERT_TRUE(wait_until(3000, [] {
        queue_tick();
        return g_state.queue[1].state == QUEUE_FAILED;
    }));
    file_write_room_set(-1);
    carol.expect("$MyNick me|").send("$MyNick carol|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABCA Pk=X|" + PEER_KEY);
    carol.expect("$Get c.txt$1|").send("$FileLength 5|").expect("$Send|").send("carol");
    from_hub("$ConnectToMe me 127.0.0.1:" + carol.port_text() + "|");
    ASSERT_TRUE(settle());
    EXPECT_EQ(state_of(0), "failed: the part file vanished");
    EXPECT_EQ(state_of(1), "failed: cannot write file");
    EXPECT_EQ(state_of(2), "done");
    EXPECT_EQ(file_text("c.txt"), "carol");
    EXPECT_FALSE(file_exists("a.mp3"));
    EXPECT_FALSE(file_exists("y.txt"));
}

// A result's name is one name: its '/' names no folder of the download folder.
TEST_F(DownloadQueue, AResultsNameWithSeparatorsIsOneSafeName) {
    add_result("bob", "x\\../../evil", "../../evil");
    g_select_row = 2;
    press_download();
    ASSERT_EQ(g_state.queue_count, 1);
    EXPECT_STREQ(queue_text(&g_state.queue[0], QUEUE_NAME), ".._.._evil");
}

TEST_F(DownloadQueue, WithoutAHubConnectionTheEntryWaits) {
    closesocket(g_state.hub_socket);
    g_state.hub_socket = 0;
    g_state.hub_phase = HUB_OFFLINE;
    press_download();
    EXPECT_EQ(g_state.queue_count, 1);
    EXPECT_EQ(state_of(0), "waiting");
    EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
}

TEST_F(DownloadQueue, RequestTheHubConnectionCannotTakeWaitsToBeTriedAgain) {
    // The hub has gone away (its close only noted); the socket refuses the send.
    ASSERT_EQ(shutdown(g_state.hub_socket, SHUT_WR), 0);
    uint32_t sent_before = traffic_sent();
    press_download();
    EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
    EXPECT_EQ(traffic_sent(), sent_before);
    EXPECT_EQ(state_of(0), "waiting");
    EXPECT_STREQ(queue_text(&g_state.queue[0], QUEUE_ERROR), "request not sent to the hub");
}

TEST_F(DownloadQueue, CommandWithoutASelectedRowDoesNothing) {
    IdleScript script;
    script.add([](void*) {
        send_message(g_screen, WM_COMMAND, CMD_DOWNLOAD, 0);  // nothing selected on a freshly opened list
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(g_state.module_instance, DIALOG_SEARCH, 0, recorded_search_proc, 0);
    EXPECT_EQ(g_state.queue_count, 0);
    EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
    EXPECT_FALSE(hub_->wait_received(0, "$RevConnectToMe", 100));
}

}  // namespace
