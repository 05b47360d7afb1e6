// Fault tests of the download: a peer that closes or falls silent at each
// step of the exchange, and a local file that cannot be created or written
// (a folder that is gone, a full disk, a read-only or full file system).
//
// Each case must end the worker within its time bound with exactly one
// failure note in the chat, the row back at -1, and the socket and file
// closed (no descriptor left open, the peer sees the client close).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "state/client_state.h"
#include "support/test_hub.h"
#include "transfer/download.h"
#include "transfer/download_fixture.h"

using namespace download_test;

namespace {

constexpr int SILENCE_MS = 300;
// A worker must end within the silence limit and this much more.
constexpr int END_MARGIN_MS = 1500;

int open_descriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr) return -1;
    while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') n++;
    }
    closedir(d);
    return n - 1;  // the directory's own descriptor
}

int count_of(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
    return n;
}

class PeerFaults : public ::testing::Test {
protected:
    void SetUp() override {
        reset_download_state();
        g_state.download_silence_ms = SILENCE_MS;
        dir_ = std::make_unique<TempCurrentDirectory>();
        ASSERT_TRUE(dir_->ok());
    }
    void TearDown() override {
        end_download_worker();
        dir_.reset();
    }

    // Runs one download against peer and checks that it fails with note.
    void expect_download_fails(TestHub& peer, const std::string& note) {
        request_download();
        uint64_t start = monotonic_ms();
        connect_to_me(peer);
        ASSERT_TRUE(wait_download_ended(SILENCE_MS + END_MARGIN_MS + 2000));
        EXPECT_LT(monotonic_ms() - start, (uint64_t)(SILENCE_MS + END_MARGIN_MS));
        std::string chat = chat_text();
        EXPECT_EQ(count_of(chat, " ::download "), 1) << chat;
        EXPECT_NE(chat.find(note + "\r\n"), std::string::npos) << chat;
        EXPECT_EQ(chat.find("::downloaded::"), std::string::npos) << chat;
        EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
        EXPECT_EQ(download_requested(0), 0);
    }

    std::unique_ptr<TempCurrentDirectory> dir_;
};

struct PeerStep {
    const char* name;
    std::string greeting;      // sent after the client's greeting arrives
    std::string length_reply;  // sent after the request arrives (when the greeting was whole)
    std::string data;          // sent after "$Send|"
    bool closes;               // then the peer closes; otherwise it stays silent
    std::string note;
};

std::string stopped_at(int have, int of) {
    return " ::download failed:: peer stopped at " + std::to_string(have) + " of " + std::to_string(of) + " bytes";
}

const char SILENT_NOTE[] = " ::download failed:: peer silent, timed out";

// The peer at every step of the exchange, once closing and once falling silent.
TEST_F(PeerFaults, PeerClosingOrFallingSilentAtEachStepEndsWithItsNote) {
    const std::string half_greeting = PEER_GREETING.substr(0, 20);  // "$MyNick bob|$Lock EX"
    const PeerStep steps[] = {
        {"before its greeting, closes", "", "", "", true, " ::download failed:: peer closed the connection"},
        {"before its greeting, silent", "", "", "", false, SILENT_NOTE},
        {"half its greeting, closes", half_greeting, "", "", true,
         " ::download failed:: malformed greeting: unterminated $Lock"},
        {"half its greeting, silent", half_greeting, "", "", false,
         " ::download failed:: malformed greeting: unterminated $Lock"},
        {"after its greeting, closes", PEER_GREETING, "", "", true, " ::download failed:: peer closed the connection"},
        {"after its greeting, silent", PEER_GREETING, "", "", false, SILENT_NOTE},
        {"half the length reply, closes", PEER_GREETING, "$FileLen", "", true,
         " ::download failed:: bad length reply: $FileLen"},
        {"half the length reply, silent", PEER_GREETING, "$FileLength 5", "", false,
         " ::download failed:: bad length reply: $FileLength 5"},
        {"after the length reply, closes", PEER_GREETING, "$FileLength 5|", "", true, stopped_at(0, 5)},
        {"after the length reply, silent", PEER_GREETING, "$FileLength 5|", "", false, SILENT_NOTE},
        {"half the data, closes", PEER_GREETING, "$FileLength 5|", "he", true, stopped_at(2, 5)},
        {"half the data, silent", PEER_GREETING, "$FileLength 5|", "he", false, SILENT_NOTE},
    };
    int descriptors = open_descriptors();
    for (const PeerStep& step : steps) {
        SCOPED_TRACE(step.name);
        chatlog_clear();
        unlink(part_name().c_str());
        TestHub peer;
        peer.expect(CLIENT_GREETING);
        if (!step.greeting.empty()) peer.send(step.greeting);
        if (!step.length_reply.empty()) peer.expect("$1|").send(step.length_reply);
        if (!step.data.empty()) peer.expect("$Send|").send(step.data);
        if (step.closes) peer.close();
        expect_download_fails(peer, step.note);
        if (!step.closes) {
            EXPECT_TRUE(peer.wait_client_closed(0, 2000));
        }
        // What came stays in the part file, to be continued; an empty part
        // is not kept, and the name itself is never taken by a failure.
        EXPECT_EQ(file_exists(part_name()), !step.data.empty());
        if (!step.data.empty()) {
            EXPECT_EQ(file_text(part_name()), step.data);
        }
        EXPECT_FALSE(file_exists("a.mp3"));
    }
    EXPECT_EQ(open_descriptors(), descriptors);
}

// --- The local file ----------------------------------------------------------------

TEST_F(PeerFaults, FullDiskIsACannotWriteFailure) {
    file_write_room_set(0);  // every write: ENOSPC
    TestHub peer;
    script_peer(peer, "$FileLength 5|", "hello");
    expect_download_fails(peer, " ::download failed:: cannot write file");
}

TEST_F(PeerFaults, RemovedCurrentDirectoryIsACannotCreateFailure) {
    ASSERT_EQ(mkdir("gone", 0700), 0);
    ASSERT_EQ(chdir("gone"), 0);
    ASSERT_EQ(rmdir("../gone"), 0);
    TestHub peer;
    script_peer(peer, "$FileLength 5|", "hello");
    expect_download_fails(peer, " ::download failed:: cannot create file");
}

// A child process with a mount namespace of its own runs one download into a
// file system mounted over the current directory, and reports the chat text
// and the file's size through a pipe. Needs mount rights (root, or a user
// namespace); skipped without them. Skipped under ThreadSanitizer, which does
// not support threads started after fork.
#if defined(__SANITIZE_THREAD__)
#define KIVO_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KIVO_THREAD_SANITIZER 1
#endif
#endif

constexpr int CHILD_SKIPPED = 77;

struct MountedRun {
    bool skipped = false;
    bool ended = false;
    std::string chat;
    long long file_size = -1;
};

// In the child: mounts, runs the download, writes "<size>\n<chat>" to out.
[[noreturn]] void child_download(const char* mount_options, unsigned long flags, int out, const std::string& data) {
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr) _exit(1);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", here, "tmpfs", flags, mount_options) != 0 || chdir(here) != 0) {
        _exit(CHILD_SKIPPED);
    }
    TestHub peer;
    script_peer(peer, "$FileLength " + std::to_string(data.size()) + "|", data);
    request_download();
    connect_to_me(peer);
    bool ended = wait_download_ended(10000);
    struct stat st;
    long long size = stat(part_name().c_str(), &st) == 0 ? (long long)st.st_size : -1;
    std::string report = std::to_string(size) + "\n" + chat_text();
    if (write(out, report.data(), report.size()) != (ssize_t)report.size()) _exit(2);
    _exit(ended ? 0 : 3);
}

MountedRun run_in_mounted_directory(const char* mount_options, unsigned long flags, const std::string& data) {
    MountedRun run;
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return run;
    pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        child_download(mount_options, flags, pipe_ends[1], data);
    }
    close(pipe_ends[1]);
    int status = 0;
    bool exited = wait_until(15000, [&] { return waitpid(child, &status, WNOHANG) == child; });
    if (!exited) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    std::string report;
    char buffer[4096];
    for (ssize_t got; (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) report.append(buffer, (size_t)got);
    close(pipe_ends[0]);
    run.skipped = exited && WIFEXITED(status) && WEXITSTATUS(status) == CHILD_SKIPPED;
    run.ended = exited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    size_t line = report.find('\n');
    if (line != std::string::npos) {
        run.file_size = std::stoll(report.substr(0, line));
        run.chat = report.substr(line + 1);
    }
    return run;
}

TEST_F(PeerFaults, ReadOnlyFileSystemIsACannotCreateFailure) {
#ifdef KIVO_THREAD_SANITIZER
    GTEST_SKIP() << "fork with threads is not supported under ThreadSanitizer";
#endif
    MountedRun run = run_in_mounted_directory("size=64k", MS_RDONLY, "hello");
    if (run.skipped) GTEST_SKIP() << "no right to mount a file system here";
    ASSERT_TRUE(run.ended) << run.chat;
    EXPECT_NE(run.chat.find(" ::download failed:: cannot create file\r\n"), std::string::npos) << run.chat;
    EXPECT_EQ(run.chat.find("::downloaded::"), std::string::npos) << run.chat;
    EXPECT_EQ(run.file_size, -1);
}

TEST_F(PeerFaults, FileSystemFillingUpMidwayIsACannotWriteFailure) {
#ifdef KIVO_THREAD_SANITIZER
    GTEST_SKIP() << "fork with threads is not supported under ThreadSanitizer";
#endif
    std::string data(4 * DOWNLOAD_CHUNK_BYTES, 'z');  // 256 KiB into 64 KiB
    MountedRun run = run_in_mounted_directory("size=64k", 0, data);
    if (run.skipped) GTEST_SKIP() << "no right to mount a file system here";
    ASSERT_TRUE(run.ended) << run.chat;
    EXPECT_NE(run.chat.find(" ::download failed:: cannot write file\r\n"), std::string::npos) << run.chat;
    EXPECT_EQ(run.chat.find("::downloaded::"), std::string::npos) << run.chat;
    EXPECT_GT(run.file_size, 0);
    EXPECT_LE(run.file_size, 64 * 1024);
}

}  // namespace
