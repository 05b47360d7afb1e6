// The files the program keeps as its own: a name that holds something
// already is opened only when it is a plain file of the user's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace {

TEST(OwnFile, OnlyANewNameOrAPlainFileOfTheUsersIsOpened) {
    char folder[] = "/tmp/kivo-files-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string d = std::string(folder) + "/";
    ASSERT_EQ(system(("cd " + d + " && echo a > mine && echo b > shared && ln shared second && ln -s mine link && "
                      "ln -s no/x dangling && mkfifo fifo && mkdir dir && echo c > other && "
                      "(chown 65534 other 2>/dev/null || true)").c_str()), 0);
    // 1: opened as it was, 2: created.
    const std::pair<const char*, int> cases[] = {{"new", 2}, {"mine", 1}, {"second", FILE_NOT_OWN},
        {"link", FILE_NOT_OWN}, {"dangling", FILE_NOT_OWN}, {"fifo", FILE_NOT_OWN}, {"dir", FILE_NOT_OWN},
        {"other", getuid() == 0 ? FILE_NOT_OWN : 1}};  // only the superuser can give a file away
    for (const auto& [name, result] : cases) {
        char16_t path[128];
        utf8_to_utf16((d + name).c_str(), -1, path, 128);
        int created = -1;
        int file = file_open_own(path, &created);
        EXPECT_EQ(file >= 0 ? 1 + created : file, result) << name;
        file_close(file);
    }
    struct stat st;
    EXPECT_NE(lstat((d + "no").c_str(), &st), 0);  // nothing made through the dangling link
    // Removing one of them removes only a plain file of the user's: links,
    // second names and whatever else stay.
    for (const auto& [name, result] : cases) {
        char16_t path[128];
        utf8_to_utf16((d + name).c_str(), -1, path, 128);
        EXPECT_EQ(file_remove_own(path), result == 1 || result == 2 ? 1 : 0) << name;
    }
    EXPECT_EQ(lstat((d + "shared").c_str(), &st), 0);
    EXPECT_EQ(system(("rm -r " + d).c_str()), 0);
}

TEST(OwnFile, FoldersStillToBeMadeLieOnTheFileSystemOfTheirNearestFolder) {
    EXPECT_EQ(folder_same_device(u"/tmp/", u"/tmp/kivo-none/a/b/"), 1);
    EXPECT_EQ(folder_same_device(u"/proc/self/", u"/tmp/"), 0);
    EXPECT_EQ(folder_same_device(u"relative/", u"/tmp/"), 0);
}

}  // namespace
