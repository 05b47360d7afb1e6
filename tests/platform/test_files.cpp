// The files the program keeps as its own: what holds a name already is opened
// only when it is a plain file of the user's, and the test hook for a full disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace {

TEST(OwnFile, OnlyANewNameOrAPlainFileOfTheUsersIsOpened) {
    char folder[] = "/tmp/kivo-files-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string d = folder;
    ASSERT_EQ(system(("echo mine > " + d + "/mine && echo shared > " + d + "/shared && ln " + d + "/shared " + d +
                      "/second && ln -s mine " + d + "/link && ln -s nowhere/x " + d + "/dangling && mkfifo " + d +
                      "/fifo && mkdir " + d + "/dir && echo other > " + d + "/other && (chown 65534 " + d + "/other 2>/dev/null || true)")
                         .c_str()),
              0);
    const struct {
        const char* name;
        int result;  // 1: opened and not created, 2: created, else FILE_NOT_OWN
    } cases[] = {
        {"new", 2},           {"mine", 1},         {"second", FILE_NOT_OWN}, {"link", FILE_NOT_OWN},
        {"dangling", FILE_NOT_OWN}, {"fifo", FILE_NOT_OWN}, {"dir", FILE_NOT_OWN},
        {"other", getuid() == 0 ? FILE_NOT_OWN : 1},  // only the superuser can give a file away
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char16_t path[128];
        utf8_to_utf16((d + "/" + c.name).c_str(), -1, path, 128);
        int created = -1;
        int file = file_open_own(path, &created);
        EXPECT_EQ(file >= 0 ? 1 + created : file, c.result);
        file_close(file);
    }
    struct stat st;
    EXPECT_NE(lstat((d + "/nowhere").c_str(), &st), 0);  // the link's target was not made
    EXPECT_EQ(system(("rm -r " + d).c_str()), 0);
}

TEST(OwnFile, FullDiskHookWritesWhatFitsThenFails) {
    char path[] = "/tmp/kivo-full-XXXXXX";
    int file = mkstemp(path);
    ASSERT_GE(file, 0);
    file_write_room_set(3);
    EXPECT_EQ(file_write(file, "hello", 5), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(file_write(file, "x", 1), -1);
    file_write_room_set(-1);
    EXPECT_EQ(file_write(file, "!", 1), 1);
    EXPECT_EQ(file_length(file), 4);
    file_close(file);
    unlink(path);
}

}  // namespace
