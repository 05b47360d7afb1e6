// Downloads through the project's demo hub (tools/demohub.py), which relays
// the request and plays the owners the way real sharing clients answer:
// a whole file, a Cyrillic name, an empty file, an owner that stops halfway,
// one that greets under another nick, one that never answers the $Get, and
// one without the file ($Error File Not Available). The hub runs on 127.0.0.1
// with a free port and a temporary data folder; the test is skipped when
// python3 is not there.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "hub/connection.h"
#include "hub/queue.h"
#include "transfer/download_fixture.h"

using namespace download_test;

namespace {

std::string repo_root() { return KIVO_SOURCE_DIR; }

// The demo hub as a child process, stopped and its data removed at the end.
class DemoHub {
public:
    DemoHub() {
        char pattern[] = "/tmp/kivo-demohub-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        work_ = pattern;
        std::string script = repo_root() + "/tools/demohub.py";
        std::string port_file = work_ + "/port";
        std::string data = work_ + "/data";
        pid_ = fork();
        if (pid_ == 0) {
            if (freopen("/dev/null", "w", stdout) == nullptr || freopen("/dev/null", "w", stderr) == nullptr) _exit(126);
            execlp("python3", "python3", script.c_str(), "--port", "0", "--port-file", port_file.c_str(), "--quiet",
                   "--churn-seconds", "0", "--chatter-seconds", "0", "--big-mib", "0", "--login-pause-ms", "0",
                   "--data-dir", data.c_str(), (char*)nullptr);
            _exit(127);
        }
        wait_until(10000, [&] {
            port_ = file_text(port_file);
            return !port_.empty();
        });
        while (!port_.empty() && (port_.back() == '\n' || port_.back() == '\r')) port_.pop_back();
    }
    ~DemoHub() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        if (!work_.empty()) std::filesystem::remove_all(work_, ignored);
    }
    DemoHub(const DemoHub&) = delete;
    DemoHub& operator=(const DemoHub&) = delete;

    const std::string& port() const { return port_; }
    std::string data_file(const std::string& owner, const std::string& utf8_path) const {
        return file_text(work_ + "/data/" + owner + "/" + utf8_path);
    }

private:
    std::string work_;
    std::string port_;
    pid_t pid_ = -1;
};

bool have_python3() {
    return system("python3 -c pass >/dev/null 2>&1") == 0;
}

class DemoHubDownload : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!have_python3()) return;
        hub_ = new DemoHub();
    }
    static void TearDownTestSuite() {
        delete hub_;
        hub_ = nullptr;
    }

    void SetUp() override {
        if (hub_ == nullptr) GTEST_SKIP() << "python3 is not available";
        ASSERT_FALSE(hub_->port().empty()) << "the demo hub did not start";
        reset_download_state();
        text_copy(g_state.settings.nick, NICK_BYTES, "kivotest");
        text_copy(g_state.hub_nick, HUB_NICK_BYTES, "kivotest");
        text_copy(g_state.settings.share_size, SHARE_TEXT_BYTES, "1234567890");
        g_state.download_silence_ms = 3000;
        dir_ = std::make_unique<TempCurrentDirectory>();
        ASSERT_TRUE(dir_->ok());
        // The login on this thread; the hub is read here, not through the loop.
        char reply[FIRST_REPLY_BYTES + 1];
        int reply_length = 0;
        Link link;  // plain: its socket is all there is to keep
        ASSERT_EQ(hub_login("127.0.0.1", hub_->port().c_str(), g_state.hub_nick, g_state.settings.share_size,
                            announce_tls_, reply, &reply_length, 3000, nullptr, &link),
                  LOGIN_OK);
        g_state.hub_socket = link.socket;
        hub_text_.assign(reply, (size_t)reply_length);
    }
    void TearDown() override {
        end_download_worker();
        if (g_state.hub_socket > 0) closesocket(g_state.hub_socket);
        g_state.hub_socket = 0;
        dir_.reset();
    }

    // Requests owner's path (1251) as the Download command does, takes the
    // hub's $ConnectToMe to the worker and waits for the worker to end.
    void download(const char* owner, const char* path, const char* short_name) {
        text_copy(g_state.jobs[0].nick, RESULT_NICK_BYTES, owner);
        text_copy(g_state.jobs[0].path, RESULT_PATH_BYTES, path);
        text_copy(g_state.jobs[0].short_name, RESULT_SHORT_BYTES, short_name);
        download_request(0);
        send_rev_connect(owner);
        request_ = wait_hub_message("$ConnectToMe kivotest ");
        hub_text_.erase(0, hub_text_.find(request_) + request_.size());
        ASSERT_FALSE(request_.empty()) << "no $ConnectToMe from the hub";
        download_take_connect(request_.c_str());
        ASSERT_TRUE(wait_download_ended(8000));
    }

    // The first hub message starting with prefix, without its '|'.
    std::string wait_hub_message(const std::string& prefix) {
        uint64_t deadline = monotonic_ms() + 5000;
        char buffer[4096];
        while (monotonic_ms() < deadline) {
            size_t at = hub_text_.find(prefix);
            size_t bar = at == std::string::npos ? at : hub_text_.find('|', at);
            if (bar != std::string::npos) return hub_text_.substr(at, bar - at);
            int got = recv_timeout(g_state.hub_socket, buffer, sizeof buffer, 100);
            if (got == 0 || got == -1) break;
            if (got > 0) hub_text_.append(buffer, (size_t)got);
        }
        return std::string();
    }

    bool request_marks_tls() const { return !request_.empty() && request_.back() == 'S'; }

    static DemoHub* hub_;
    bool announce_tls_ = false;  // the login's $MyINFO offers TLS transfers
    std::unique_ptr<TempCurrentDirectory> dir_;
    std::string hub_text_;
    std::string request_;  // the last $ConnectToMe
};

// The login offers TLS transfers: Seeder and Secure answer with a port
// marked S and serve over TLS.
class DemoHubTlsDownload : public DemoHubDownload {
protected:
    void SetUp() override {
        announce_tls_ = true;
        DemoHubDownload::SetUp();
    }
};

DemoHub* DemoHubDownload::hub_ = nullptr;

TEST_F(DemoHubDownload, WholeFileArrivesAsTheOwnerHasIt) {
    download("Seeder", "Docs\\readme-demo.txt", "readme-demo.txt");
    EXPECT_EQ(chat_text(), "::start download::\r\nreadme-demo.txt\r\n ::downloaded::\r\n");
    std::string got = file_text("readme-demo.txt");
    EXPECT_EQ(got.size(), 4097u);
    EXPECT_TRUE(got == hub_->data_file("Seeder", "Docs/readme-demo.txt"));
}

TEST_F(DemoHubDownload, CyrillicNameIsTheLocalFileName) {
    // "Книги\Война и мир.txt" in code page 1251.
    download("Seeder", "\xca\xed\xe8\xe3\xe8\\\xc2\xee\xe9\xed\xe0 \xe8 \xec\xe8\xf0.txt",
             "\xc2\xee\xe9\xed\xe0 \xe8 \xec\xe8\xf0.txt");
    EXPECT_NE(chat_text().find(" ::downloaded::\r\n"), std::string::npos) << chat_text();
    std::string got = file_text("Война и мир.txt");
    EXPECT_EQ(got.size(), 1048593u);
    EXPECT_TRUE(got == hub_->data_file("Seeder", "Книги/Война и мир.txt"));
}

TEST_F(DemoHubDownload, EmptyFileIsCreated) {
    download("Seeder", "Empty\\zero.bin", "zero.bin");
    EXPECT_EQ(chat_text(), "::start download::\r\nzero.bin\r\n ::downloaded::\r\n");
    EXPECT_TRUE(file_exists("zero.bin"));
    EXPECT_EQ(file_text("zero.bin"), "");
}

TEST_F(DemoHubDownload, OwnerStoppingHalfwayIsReportedAsFailed) {
    download("HalfWay", "Broken\\half-small.txt", "half-small.txt");
    std::string chat = chat_text();
    EXPECT_NE(chat.find(" ::download failed:: peer stopped at "), std::string::npos) << chat;
    EXPECT_EQ(chat.find("::downloaded::"), std::string::npos) << chat;
    EXPECT_FALSE(file_exists("half-small.txt"));
    EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
}

TEST_F(DemoHubDownload, OwnerGreetingUnderAnotherNickIsNotTheOwner) {
    download("Mask", "Masked\\secret.txt", "secret.txt");
    EXPECT_EQ(chat_text(), " ::download:: peer nick mismatch, still waiting for the owner\r\n");
    EXPECT_TRUE(download_requested(0));
    EXPECT_EQ(files_in("."), 0);
}

TEST_F(DemoHubDownload, OwnerThatNeverAnswersTheGetTimesOut) {
    g_state.download_silence_ms = 500;
    download("Sleepy", "Sleepy\\lullaby.mp3", "lullaby.mp3");
    EXPECT_EQ(chat_text(), " ::download failed:: peer silent, timed out\r\n");
}

TEST_F(DemoHubDownload, MissingFileIsNotAnEmptyDownload) {
    download("bob", "Music\\nothing.mp3", "nothing.mp3");
    EXPECT_EQ(chat_text(), " ::download failed:: File Not Available\r\n");
    EXPECT_EQ(files_in("."), 0);
}

TEST_F(DemoHubDownload, PlainRequestToAnOwnerWhoRequiresTlsIsRefused) {
    download("Secure", "Secure\\locked-notes.txt", "locked-notes.txt");
    EXPECT_FALSE(request_marks_tls()) << request_;
    EXPECT_EQ(chat_text(), " ::download failed:: Secure connection required!\r\n");
    EXPECT_EQ(files_in("."), 0);
}

// Secure serves over TLS only, so its files arriving whole prove the whole
// exchange ran inside the session; the bigger ones take many TLS records.
TEST_F(DemoHubTlsDownload, FilesArriveWholeOverTls) {
    download("Secure", "Secure\\locked-notes.txt", "locked-notes.txt");
    EXPECT_TRUE(request_marks_tls()) << request_;
    EXPECT_EQ(chat_text(), "::start download::\r\nlocked-notes.txt\r\n ::downloaded::\r\n");
    std::string got = file_text("locked-notes.txt");
    EXPECT_EQ(got.size(), 3001u);
    EXPECT_TRUE(got == hub_->data_file("Secure", "Secure/locked-notes.txt"));

    download("Secure", "Secure\\sealed-archive.zip", "sealed-archive.zip");
    EXPECT_TRUE(request_marks_tls()) << request_;
    EXPECT_NE(chat_text().find(" ::downloaded::\r\n"), std::string::npos);
    got = file_text("sealed-archive.zip");
    EXPECT_EQ(got.size(), 2097175u);
    EXPECT_TRUE(got == hub_->data_file("Secure", "Secure/sealed-archive.zip"));

    download("Seeder", "\xca\xed\xe8\xe3\xe8\\\xc2\xee\xe9\xed\xe0 \xe8 \xec\xe8\xf0.txt",
             "\xc2\xee\xe9\xed\xe0 \xe8 \xec\xe8\xf0.txt");
    EXPECT_TRUE(request_marks_tls()) << request_;
    EXPECT_NE(chat_text().find(" ::downloaded::\r\n"), std::string::npos);
    got = file_text("Война и мир.txt");
    EXPECT_EQ(got.size(), 1048593u);
    EXPECT_TRUE(got == hub_->data_file("Seeder", "Книги/Война и мир.txt"));
}

// TLS switched off after the login announced it: a port marked S is still
// never spoken to in the clear.
TEST_F(DemoHubTlsDownload, PortMarkedSIsAnsweredOverTlsEvenWithTlsSwitchedOff) {
    g_state.settings.tls_transfers_off = 1;
    download("Secure", "Secure\\locked-notes.txt", "locked-notes.txt");
    EXPECT_TRUE(request_marks_tls()) << request_;
    EXPECT_EQ(chat_text(), "::start download::\r\nlocked-notes.txt\r\n ::downloaded::\r\n");
    EXPECT_TRUE(file_text("locked-notes.txt") == hub_->data_file("Secure", "Secure/locked-notes.txt"));
}

}  // namespace
