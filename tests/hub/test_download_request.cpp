// The Download command on the results screen, through the headless display:
// the DownloadJob it fills, the exact $RevConnectToMe on the hub connection,
// the whole chain up to the file when the hub relays the owner's $ConnectToMe,
// and the refusals (a download running, no hub connection, no selection).
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>
#include <string>

#include "hub/connection.h"
#include "hub/dispatch.h"
#include "hub/search.h"
#include "platform/screen_fixture.h"
#include "resources/ids.h"
#include "screens/search_screen.h"
#include "transfer/download_fixture.h"

using namespace download_test;

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

class DownloadRequest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        reset_download_state();
        g_screen = 0;
        g_select_row = 1;
        add_result("alice", "x\\y.txt", "y.txt");
        add_result("bob", "Music\\a.mp3", "a.mp3");
        hub_ = std::make_unique<TestHub>();
        g_state.hub_socket = tcp_connect("127.0.0.1", hub_->port_text().c_str(), SOCKET_STREAM);
        ASSERT_GT(g_state.hub_socket, 0);
    }
    void TearDown() override {
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

TEST_F(DownloadRequest, TakesTheSelectedRowAndAsksItsOwnerThroughTheHub) {
    uint32_t sent_before = traffic_sent();
    EXPECT_EQ(press_download(), 0);
    EXPECT_STREQ(g_state.download.nick, "bob");
    EXPECT_STREQ(g_state.download.path, "Music\\a.mp3");
    EXPECT_STREQ(g_state.download.short_name, "a.mp3");
    EXPECT_EQ(download_row(), 1);
    EXPECT_EQ(download_requested(), 1);
    EXPECT_EQ(download_received(), 0u);
    EXPECT_EQ(download_total(), 0u);
    ASSERT_TRUE(hub_->wait_received(0, "|", 2000));
    EXPECT_EQ(hub_->received(0), "$RevConnectToMe me bob|");
    EXPECT_EQ(traffic_sent() - sent_before, 23u);
}

TEST_F(DownloadRequest, RelayedConnectToMeDownloadsTheRequestedFile) {
    TempCurrentDirectory dir;
    ASSERT_TRUE(dir.ok());
    TestHub owner;
    script_peer(owner, "$FileLength 5|", "hello");
    press_download();
    std::string relayed = "$Hello x|$ConnectToMe me 127.0.0.1:" + owner.port_text() + "|<bob> hi|";
    char data[HUB_DATA_BYTES];
    int length = text_copy(data, HUB_DATA_BYTES, relayed.c_str());
    dispatch_hub_data(data, length);
    ASSERT_TRUE(wait_download_ended());
    EXPECT_EQ(file_text("a.mp3"), "hello");
    // The chat line after the $ConnectToMe races the worker's notes.
    std::string chat = chat_text();
    EXPECT_NE(chat.find("<bob> hi\r\n"), std::string::npos) << chat;
    EXPECT_NE(chat.find(" ::downloaded::\r\n"), std::string::npos) << chat;
    EXPECT_EQ(download_row(), -1);
}

TEST_F(DownloadRequest, SecondDownloadWhileOneRunsIsRefusedWithANote) {
    TempCurrentDirectory dir;
    ASSERT_TRUE(dir.ok());
    TestHub owner;
    script_peer(owner, "$FileLength 100|", "part");  // then silent: the download keeps running
    g_state.results[1].size = 100;
    press_download();
    connect_to_me(owner);
    ASSERT_TRUE(wait_until(2000, [] { return download_received() == 4; }));
    g_select_row = 0;
    EXPECT_EQ(press_download(), 0);
    EXPECT_NE(chat_text().find(" ::download refused:: a download is running\r\n"), std::string::npos);
    EXPECT_STREQ(g_state.download.nick, "bob");
    EXPECT_EQ(download_row(), 1);
    EXPECT_EQ(download_running(), 1);
    EXPECT_FALSE(hub_->wait_received(0, "$RevConnectToMe me alice|", 200));
}

TEST_F(DownloadRequest, NewRequestReplacesOneStillWaitingForItsOwner) {
    press_download();
    g_select_row = 0;
    press_download();
    EXPECT_STREQ(g_state.download.nick, "alice");
    EXPECT_EQ(download_row(), 0);
    EXPECT_TRUE(hub_->wait_received(0, "$RevConnectToMe me bob|$RevConnectToMe me alice|", 2000));
}

TEST_F(DownloadRequest, WithoutAHubConnectionNothingIsRequested) {
    closesocket(g_state.hub_socket);
    g_state.hub_socket = 0;
    press_download();
    EXPECT_EQ(download_requested(), 0);
    EXPECT_EQ(download_row(), -1);
    EXPECT_NE(chat_text().find(" ::download failed:: not connected to a hub\r\n"), std::string::npos);
}

TEST_F(DownloadRequest, RequestTheHubConnectionCannotTakeIsReportedNotLeftWaiting) {
    // The hub has gone away (its close only noted); the socket refuses the send.
    ASSERT_EQ(shutdown(g_state.hub_socket, SHUT_WR), 0);
    uint32_t sent_before = traffic_sent();
    press_download();
    EXPECT_EQ(download_requested(), 0);
    EXPECT_EQ(download_row(), -1);
    EXPECT_EQ(traffic_sent(), sent_before);
    EXPECT_NE(chat_text().find(" ::download failed:: request not sent to the hub\r\n"), std::string::npos)
        << chat_text();
}

TEST_F(DownloadRequest, CommandWithoutASelectedRowDoesNothing) {
    IdleScript script;
    script.add([](void*) {
        send_message(g_screen, WM_COMMAND, CMD_DOWNLOAD, 0);  // nothing selected on a freshly opened list
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(g_state.module_instance, DIALOG_SEARCH, 0, recorded_search_proc, 0);
    EXPECT_EQ(download_requested(), 0);
    EXPECT_EQ(download_row(), -1);
    EXPECT_FALSE(hub_->wait_received(0, "$RevConnectToMe", 100));
}

}  // namespace
