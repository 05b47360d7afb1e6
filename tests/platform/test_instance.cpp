// Window classes, the named mutex and the running copy's "come to front".
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
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
    std::string saved_tmpdir, saved_runtime;
    bool had_tmpdir = false, had_runtime = false;
    void SetUp() override {
        ASSERT_NE(mkdtemp(dir), nullptr);
        const char* t = getenv("TMPDIR");
        had_tmpdir = t != nullptr;
        if (t) saved_tmpdir = t;
        const char* r = getenv("XDG_RUNTIME_DIR");
        had_runtime = r != nullptr;
        if (r) saved_runtime = r;
        setenv("TMPDIR", dir, 1);
        unsetenv("XDG_RUNTIME_DIR");
    }
    void TearDown() override {
        if (had_tmpdir) setenv("TMPDIR", saved_tmpdir.c_str(), 1);
        else unsetenv("TMPDIR");
        if (had_runtime) setenv("XDG_RUNTIME_DIR", saved_runtime.c_str(), 1);
        else unsetenv("XDG_RUNTIME_DIR");
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

// In a shared folder another user may plant the lock's name: a link (to a
// file of the person's) or a pipe is never opened through, and its target is
// left as it was.
TEST_F(Instance, LockNameHoldingALinkOrAPipeIsNotTakenAsTheLock) {
    const std::string lock = std::string(dir) + "/movraClass-" + std::to_string(getuid()) + ".lock";
    const std::string target = std::string(dir) + "/person.txt";
    FILE* f = fopen(target.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("keep", f);
    fclose(f);
    ASSERT_EQ(symlink(target.c_str(), lock.c_str()), 0);
    uint32_t error = 99;
    EXPECT_EQ(named_mutex_create(u"movraClass", &error), 0);
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 4);
    ASSERT_EQ(unlink(lock.c_str()), 0);
    ASSERT_EQ(mkfifo(lock.c_str(), 0600), 0);
    EXPECT_EQ(named_mutex_create(u"movraClass", &error), 0) << "and it does not hang on the pipe";
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

// A main screen runs on a thread of its own; it must answer find and come to front.
void running_copy_answers() {
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

TEST_F(Instance, TheRunningCopyAnswersFindAndComesToFront) {
    running_copy_answers();
}

// $XDG_RUNTIME_DIR first, then $TMPDIR: a missing folder is passed over, and
// one too long for a socket address still holds the lock and the socket.
TEST_F(Instance, MissingFolderIsPassedOverAndALongOneStillServes) {
    const std::string missing = std::string(dir) + "/missing";
    const std::string lock_name = "/movraClass-" + std::to_string(getuid()) + ".lock";
    setenv("XDG_RUNTIME_DIR", dir, 1);
    setenv("TMPDIR", missing.c_str(), 1);
    uint32_t error = 99;
    int lock = named_mutex_create(u"movraClass", &error);
    EXPECT_GT(lock, 0);
    EXPECT_EQ(error, 0u);
    named_mutex_close(lock);
    EXPECT_EQ(access((dir + lock_name).c_str(), F_OK), 0);
    const std::string runtime = std::string(dir) + "/" + std::string(150, 'r');
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    lock = named_mutex_create(u"movraClass", &error);
    EXPECT_GT(lock, 0);
    EXPECT_EQ(access((runtime + lock_name).c_str(), F_OK), 0);
    named_mutex_close(lock);
    running_copy_answers();
}

}  // namespace
