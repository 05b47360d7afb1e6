// Killing Kivo at any moment never loses or corrupts the queue: a process
// that changes its queue and runs downloads without end (crash/
// queue_crash_child.cpp) is killed with SIGKILL at random moments, 100 times,
// each run taking the queue the last one left. After each kill queue.xml
// parses whole (nothing kept aside) and every part file belongs to an entry
// of it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>

#include "config/queue_file.h"
#include "state/client_state.h"
#include "transfer/download.h"
#include "transfer/local_file.h"

extern char** environ;

namespace {

std::set<std::string> names_in(const std::string& folder) {
    std::set<std::string> names;
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return names;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.insert(name);
    }
    closedir(d);
    return names;
}

// The part names the queue's entries may have (the first few choices each).
std::set<std::string> entry_parts() {
    std::set<std::string> parts;
    for (int i = 0; i < g_state.queue_count; i++) {
        const QueueEntry& e = g_state.queue[i];
        char id[TTH_TEXT_BYTES];
        download_identity(queue_text(&e, QUEUE_TTH), queue_text(&e, QUEUE_NICK), queue_text(&e, QUEUE_PATH), e.size, id);
        parts.insert(std::string(queue_text(&e, QUEUE_NAME)) + "." + id + ".part");
        for (int n = 1; n < 4; n++) parts.insert(std::string(queue_text(&e, QUEUE_NAME)) + "." + id + "." + std::to_string(n) + ".part");
    }
    return parts;
}

TEST(QueueCrash, KilledAtAnyMomentTheQueueParsesAndEveryPartHasItsEntry) {
    char dir[] = "/tmp/kivo-crash-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string folder = dir;
    std::mt19937 random(20261208);
    char16_t queue_path[SETTINGS_PATH_UNITS];
    utf8_to_utf16((folder + "/queue.xml").c_str(), -1, queue_path, SETTINGS_PATH_UNITS);
    int most_entries = 0, most_parts = 0;
    for (int kill = 0; kill < 100; kill++) {
        std::string seed = std::to_string(kill);
        char* argv[] = {(char*)QUEUE_CRASH_CHILD, (char*)folder.c_str(), (char*)seed.c_str(), nullptr};
        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, QUEUE_CRASH_CHILD, nullptr, nullptr, argv, environ), 0);
        usleep((useconds_t)(50000 + random() % 250000));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself at kill " << kill;

        client_state_reset();
        queue_file_load(queue_path);
        std::set<std::string> files = names_in(folder);
        for (const std::string& name : files) {
            EXPECT_EQ(name.find(".bad-"), std::string::npos) << "kept aside at kill " << kill;
        }
        std::set<std::string> accounted = entry_parts();
        std::set<std::string> parts = names_in(folder + "/parts");
        for (const std::string& part : parts) {
            EXPECT_EQ(accounted.count(part), 1u) << part << " has no entry at kill " << kill;
        }
        most_entries = std::max(most_entries, (int)g_state.queue_count);
        most_parts = std::max(most_parts, (int)parts.size());
    }
    // The runs did change the queue and write parts.
    EXPECT_GT(most_entries, 3);
    EXPECT_GT(most_parts, 0);
    client_state_reset();
    EXPECT_EQ(system(("rm -rf '" + folder + "'").c_str()), 0);
}

}  // namespace
