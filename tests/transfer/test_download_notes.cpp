// The worker's chat notes reach the main screen without any hub traffic or
// key press: the main screen copies the ChatLog only when it paints, so the
// worker must have a paint sent to it after "::start download::" and the
// name, and again after its closing note. A plain window stands in for the
// main screen and keeps the ChatLog as each paint found it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "state/client_state.h"
#include "support/test_hub.h"
#include "transfer/download.h"
#include "transfer/download_fixture.h"

using namespace download_test;

namespace {

constexpr int PAINTS_KEPT = 8;
std::string g_painted[PAINTS_KEPT];  // the chat as each paint saw it
int g_paints;

intptr_t main_stand_in(Window, uint32_t message, WPARAM, LPARAM) {
    if (message == WM_PAINT && g_paints < PAINTS_KEPT) g_painted[g_paints++] = chat_text();
    return 0;
}

int paints_at_least(void* wanted) { return g_paints >= *(int*)wanted; }

class DownloadNotes : public ::testing::Test {
protected:
    void SetUp() override {
        reset_download_state();
        g_state.download_silence_ms = 500;
        g_paints = 0;
        dir_ = std::make_unique<TempCurrentDirectory>();
        ASSERT_TRUE(dir_->ok());
        g_state.main_window = window_create(main_stand_in);
        ASSERT_NE(g_state.main_window, (Window)0);
    }
    void TearDown() override {
        end_download_worker();
        int none = PAINTS_KEPT + 1;
        message_pump(paints_at_least, &none, 50);  // nothing posted is left for the next test
        window_destroy(g_state.main_window);
        g_state.main_window = 0;
        dir_.reset();
    }
    static bool pump_paints(int wanted) { return message_pump(paints_at_least, &wanted, 3000) != 0; }

    std::unique_ptr<TempCurrentDirectory> dir_;
};

TEST_F(DownloadNotes, CompleteDownloadIsPaintedWithItsClosingNote) {
    TestHub peer;
    script_peer(peer, "$FileLength 5|", "hello");
    request_download();
    connect_to_me(peer);
    ASSERT_TRUE(wait_download_ended());
    ASSERT_TRUE(pump_paints(1));
    EXPECT_EQ(g_painted[g_paints - 1], "::start download::\r\na.mp3\r\n ::downloaded::\r\n");
}

// The peer sends 5 of 10 bytes and falls silent: the start notes must be on
// screen while the worker waits, and the failure note once it gives up.
TEST_F(DownloadNotes, StartNotesArePaintedWhileDataIsStillDue) {
    TestHub peer;
    script_peer(peer, "$FileLength 10|", "hello");
    request_download();
    connect_to_me(peer);
    // Each note asks for its paint: the first may come between the two.
    ASSERT_TRUE(pump_paints(1));
    if (g_painted[0] != "::start download::\r\na.mp3\r\n") {
        ASSERT_TRUE(pump_paints(2));
    }
    EXPECT_EQ(g_painted[g_paints - 1], "::start download::\r\na.mp3\r\n");
    int before = g_paints;
    ASSERT_TRUE(wait_download_ended());
    ASSERT_TRUE(pump_paints(before + 1));
    EXPECT_EQ(g_painted[g_paints - 1],
              "::start download::\r\na.mp3\r\n ::download failed:: peer silent, timed out\r\n");
}

}  // namespace
