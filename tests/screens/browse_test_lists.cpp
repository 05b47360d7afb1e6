// The browse tests' cache folder and lists (browse_test_lists.h).
#include "screens/browse_test_lists.h"

#include <bzlib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "hub/file_lists.h"
#include "state/client_state.h"

namespace {

std::string g_folder;

std::string bzip2(const std::string& text) {
    std::vector<char> out(text.size() + text.size() / 100 + 700);
    unsigned length = (unsigned)out.size();
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &length, (char*)text.data(), (unsigned)text.size(), 1, 0, 0), BZ_OK);
    return std::string(out.data(), length);
}

std::string path_of(const char* nick) { return g_folder + nick + ".xml.bz2"; }

}  // namespace

void test_lists_folder_make() {
    g_folder = "/tmp/kivo-browse-" + std::to_string(getpid()) + "/";
    test_lists_folder_remove();
    mkdir(g_folder.c_str(), 0700);
    utf8_to_utf16(g_folder.c_str(), -1, g_state.lists_folder, DOWNLOAD_FOLDER_UNITS);
}

void test_lists_folder_remove() {
    std::string command = "rm -rf '" + g_folder + "'";
    if (!g_folder.empty()) {
        EXPECT_EQ(system(command.c_str()), 0);
    }
    g_state.lists_folder[0] = 0;
}

void test_list_write(const char* nick, const std::string& xml, int cut_bytes) {
    std::string bytes = bzip2(xml);
    size_t keep = bytes.size() > (size_t)cut_bytes && cut_bytes > 0 ? bytes.size() - (size_t)cut_bytes : bytes.size();
    std::ofstream(path_of(nick), std::ios::binary).write(bytes.data(), (std::streamsize)keep);
}

void test_list_age(const char* nick, int seconds) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    now.tv_sec -= seconds;
    struct timeval times[2] = {now, now};
    EXPECT_EQ(utimes(path_of(nick).c_str(), times), 0);
}

bool test_list_exists(const char* nick) { return access(path_of(nick).c_str(), F_OK) == 0; }

