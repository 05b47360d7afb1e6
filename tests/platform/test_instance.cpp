// Window classes, the named mutex and the running copy's "come to front".
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/display.h"
#include "platform/platform.h"
#include "platform/resource_format.h"
#include "resources/ids.h"

namespace {

// Each test gets its own directory for lock files and sockets.
class Instance : public ::testing::Test {
protected:
    char dir[64] = "/tmp/kivo-instance-XXXXXX";
    std::string saved_tmpdir;
    bool had_tmpdir = false;
    void SetUp() override {
        ASSERT_NE(mkdtemp(dir), nullptr);
        const char* t = getenv("TMPDIR");
        had_tmpdir = t != nullptr;
        if (t) saved_tmpdir = t;
        setenv("TMPDIR", dir, 1);
    }
    void TearDown() override {
        if (had_tmpdir) setenv("TMPDIR", saved_tmpdir.c_str(), 1);
        else unsetenv("TMPDIR");
        std::string cleanup = std::string("rm -rf ") + dir;
        ASSERT_EQ(system(cleanup.c_str()), 0);
    }
};

void register_main_class() {
    WindowClassInfo info;
    ASSERT_TRUE(class_info_get(0, u"Dialog", &info));
    info.instance = KIVO_INSTANCE;
    info.icon_id = ICON_PROGRAM;
    u16_copy(info.class_name, 64, u"movraClass");
    WindowClassInfo existing;
    if (!class_info_get(KIVO_INSTANCE, u"movraClass", &existing)) {
        ASSERT_NE(class_register(&info), 0);
    }
}

TEST_F(Instance, TheSecondHolderOfANamedMutexLearnsItAlreadyExists) {
    uint32_t error = 99;
    int first = named_mutex_create(u"movraClass", &error);
    ASSERT_GT(first, 0);
    EXPECT_EQ(error, 0u);
    int second = named_mutex_create(u"movraClass", &error);
    EXPECT_GT(second, 0);
    EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
    named_mutex_close(second);
    // A different name is a different mutex.
    int other = named_mutex_create(u"otherClass", &error);
    EXPECT_EQ(error, 0u);
    named_mutex_close(other);
    // Once the holder lets go, the next one is the only one again.
    named_mutex_close(first);
    int third = named_mutex_create(u"movraClass", &error);
    EXPECT_GT(third, 0);
    EXPECT_EQ(error, 0u);
    named_mutex_close(third);
}

TEST_F(Instance, DialogClassIsAlwaysThereAndARegisteredCopyIsFoundOnceOnly) {
    WindowClassInfo dialog;
    ASSERT_TRUE(class_info_get(0, u"Dialog", &dialog));
    EXPECT_NE(dialog.proc, nullptr);
    EXPECT_FALSE(class_info_get(KIVO_INSTANCE, u"noSuchClass", &dialog));
    register_main_class();
    WindowClassInfo found;
    ASSERT_TRUE(class_info_get(KIVO_INSTANCE, u"movraClass", &found));
    EXPECT_EQ(found.icon_id, ICON_PROGRAM);
    EXPECT_EQ(class_register(&found), 0);  // the same class twice is refused
}

TEST_F(Instance, FindWindowIsZeroWhenNoRunningCopyAnswers) {
    EXPECT_EQ(find_window(u"movraClass", u"Kivo"), 0);
}

std::atomic<Window> g_running_screen;

intptr_t running_proc(Window w, uint32_t message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) g_running_screen = w;
    if (message == WM_CLOSE) {
        dialog_end(w, 0);
        return TRUE;
    }
    return FALSE;
}

TEST_F(Instance, TheRunningCopyAnswersFindAndComesToFront) {
    register_main_class();
    g_running_screen = 0;
    std::thread running([] {
        display_start_headless(80, 24);
        dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, running_proc, 0);
        display_stop();
    });
    Window found = 0;
    for (int i = 0; i < 200 && found == 0; i++) {  // at most ~2 s for the screen to come up
        if (g_running_screen != 0) found = find_window(u"movraClass", u"Kivo");
        if (found == 0) usleep(10 * 1000);
    }
    EXPECT_NE(found, 0);
    EXPECT_EQ(find_window(u"movraClass", u"Other title"), 0);
    if (found) {
        EXPECT_NE(set_foreground((Window)((uintptr_t)found | 1)), 0);
    }
    while (g_running_screen == 0) usleep(1000);
    post_message(g_running_screen, WM_CLOSE, 0, 0);
    running.join();
    EXPECT_EQ(find_window(u"movraClass", u"Kivo"), 0);  // gone with its screen
}

}  // namespace
