// The download worker against scripted peers on 127.0.0.1.
//
// Each test runs in a fresh temporary current directory (removed afterwards)
// with a short silence limit, requests a download, hands download_take_connect
// the owner's $ConnectToMe and waits for the worker to end. What the peer
// received, the file, the chat notes and the DownloadJob are then checked.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "hub/dispatch.h"
#include "hub/queue.h"
#include "state/client_state.h"
#include "support/test_hub.h"
#include "transfer/download.h"
#include "transfer/download_fixture.h"

using namespace download_test;

namespace {

class DownloadWorker : public ::testing::Test {
protected:
    void SetUp() override {
        reset_download_state();
        g_state.download_silence_ms = 2000;
        dir_ = std::make_unique<TempCurrentDirectory>();
        ASSERT_TRUE(dir_->ok());
    }
    void TearDown() override {
        end_download_worker();
        dir_.reset();
    }

    static void request(const char* nick = "bob", const char* path = "Music\\a.mp3", const char* short_name = "a.mp3") {
        request_download(nick, path, short_name);
    }
    static bool wait_done(int ms = 5000) { return wait_download_ended(ms); }
    static std::string chat() { return chat_text(); }
    static bool exists(const std::string& name) { return file_exists(name); }
    static std::string file(const std::string& name) { return file_text(name); }

    std::unique_ptr<TempCurrentDirectory> dir_;
};

const char DONE_CHAT[] = "::start download::\r\na.mp3\r\n ::downloaded::\r\n";

// --- The exchange ---------------------------------------------------------------

TEST_F(DownloadWorker, SendsTheExactBytesOfEachStepAndWritesTheFile) {
    TestHub peer;
    script_peer(peer, "$FileLength 5|", "hello");
    request();
    uint32_t sent_before = traffic_sent(), received_before = traffic_received();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    EXPECT_EQ(peer.received(0), CLIENT_GREETING + CLIENT_REQUEST + "$Send|");
    EXPECT_EQ(file("a.mp3"), "hello");
    EXPECT_EQ(chat(), DONE_CHAT);
    EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
    EXPECT_EQ(download_received(0), 5u);
    EXPECT_EQ(download_total(0), 5u);
    EXPECT_EQ(traffic_sent() - sent_before, (uint32_t)(CLIENT_GREETING.size() + CLIENT_REQUEST.size() + 6));
    EXPECT_EQ(traffic_received() - received_before, (uint32_t)(PEER_GREETING.size() + 14 + 5));
    EXPECT_TRUE(peer.wait_client_closed(0, 2000));
}

TEST_F(DownloadWorker, GreetingSplitAcrossReceivesIsJoined) {
    TestHub peer;
    peer.expect(CLIENT_GREETING).send(PEER_GREETING.substr(0, 20)).pause(100).send(PEER_GREETING.substr(20));
    peer.expect("$1|").send("$FileLe").pause(100).send("ngth 2|").expect("$Send|").send("ok");
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    EXPECT_EQ(peer.received(0), CLIENT_GREETING + CLIENT_REQUEST + "$Send|");
    EXPECT_EQ(file("a.mp3"), "ok");
    EXPECT_EQ(chat(), DONE_CHAT);
}

TEST_F(DownloadWorker, KeyDirectlyAfterTheLockIsEchoed) {
    TestHub peer;
    peer.expect(CLIENT_GREETING).send("$MyNick bob|$Lock abc Pk=x|$Key k1|").expect("$1|");
    peer.send("$FileLength 1|").expect("$Send|").send("z");
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    EXPECT_NE(peer.received(0).find("$Direction Download 21356|$Key k1|$Get Music\\a.mp3$1|"), std::string::npos);
    EXPECT_EQ(chat(), DONE_CHAT);
}

TEST_F(DownloadWorker, ZeroByteFileTakesAFreeNameBesideAnOlderFile) {
    { std::ofstream("a.mp3") << "older, longer content"; }
    TestHub peer;
    script_peer(peer, "$FileLength 0|", "");
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    EXPECT_TRUE(peer.wait_received(0, CLIENT_REQUEST + "$Send|", 2000));
    EXPECT_EQ(file("a.mp3"), "older, longer content");
    EXPECT_TRUE(exists("a (1).mp3"));
    EXPECT_EQ(file("a (1).mp3"), "");
    EXPECT_EQ(files_in("."), 2);
    EXPECT_EQ(chat(), "::start download::\r\na.mp3\r\n ::downloaded:: as a (1).mp3\r\n");
}

TEST_F(DownloadWorker, PeerNickContainingTheRequestedNickPasses) {
    TestHub peer;
    peer.expect(CLIENT_GREETING).send("$MyNick [bot]bob_2|$Lock a|$Key k|").expect("$1|");
    peer.send("$FileLength 1|").expect("$Send|").send("x");
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    EXPECT_EQ(chat(), DONE_CHAT);
}

TEST_F(DownloadWorker, AtMostTheAnnouncedLengthIsWritten) {
    TestHub peer;
    script_peer(peer, "$FileLength 3|", "hello world, and more");
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    EXPECT_EQ(file("a.mp3"), "hel");
    EXPECT_EQ(chat(), DONE_CHAT);
}

TEST_F(DownloadWorker, LargeFileArrivesWholeInChunks) {
    std::string data(3 * DOWNLOAD_CHUNK_BYTES + 1234, '\0');
    for (size_t i = 0; i < data.size(); i++) data[i] = (char)(i * 7 + i / 251);
    TestHub peer;
    script_peer(peer, "$FileLength " + std::to_string(data.size()) + "|", data);
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    EXPECT_TRUE(file("a.mp3") == data);
    EXPECT_EQ(download_received(0), data.size());
    EXPECT_EQ(chat(), DONE_CHAT);
}

// --- Failures are reported as failures ------------------------------------------

// A failed download: the note, no success note, the row back at -1.
void expect_failed(const std::string& chat, const std::string& note) {
    EXPECT_NE(chat.find(note + "\r\n"), std::string::npos) << chat;
    EXPECT_EQ(chat.find("::downloaded::"), std::string::npos) << chat;
    EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
}

TEST_F(DownloadWorker, PeerStoppingHalfwayIsAFailureAndKeepsWhatCame) {
    TestHub peer;
    script_peer(peer, "$FileLength 10|", "hello");
    peer.close();
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    EXPECT_EQ(file(part_name()), "hello");
    EXPECT_FALSE(exists("a.mp3"));
    EXPECT_EQ(chat(), "::start download::\r\na.mp3\r\n ::download failed:: peer stopped at 5 of 10 bytes\r\n");
    EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
}

TEST_F(DownloadWorker, SilentPeerEndsTheDownload) {
    g_state.download_silence_ms = 300;
    TestHub peer;  // accepts, then says nothing
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done(3000));
    expect_failed(chat(), " ::download failed:: peer silent, timed out");
    EXPECT_EQ(peer.received(0), CLIENT_GREETING);
}

TEST_F(DownloadWorker, PeerFallingSilentDuringTheDataEndsTheDownload) {
    g_state.download_silence_ms = 300;
    TestHub peer;
    script_peer(peer, "$FileLength 100|", "part");
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done(3000));
    expect_failed(chat(), " ::download failed:: peer silent, timed out");
    EXPECT_EQ(file(part_name()), "part");
}

TEST_F(DownloadWorker, NickMismatchEndsTheConnectionButNotTheRequest) {
    TestHub stranger;
    stranger.expect(CLIENT_GREETING).send("$MyNick alice|$Lock a|$Key k|");
    TestHub owner;
    script_peer(owner, "$FileLength 2|", "ok");
    request();
    connect_to_me(stranger);
    ASSERT_TRUE(wait_until(3000, [] { return download_requested(0); }));
    EXPECT_EQ(stranger.received(0), CLIENT_GREETING);
    EXPECT_TRUE(stranger.wait_client_closed(0, 2000));
    EXPECT_EQ(files_in("."), 0);
    EXPECT_EQ(chat(), " ::download:: peer nick mismatch, still waiting for the owner\r\n");
    connect_to_me(owner);  // the owner's own $ConnectToMe still starts it
    ASSERT_TRUE(wait_done());
    EXPECT_EQ(file("a.mp3"), "ok");
}

TEST_F(DownloadWorker, OwnersConnectToMeDuringAStrangersGreetingIsTriedNext) {
    TestHub stranger;
    stranger.expect(CLIENT_GREETING).pause(300).send("$MyNick alice|$Lock a|$Key k|");
    TestHub owner;
    script_peer(owner, "$FileLength 2|", "ok");
    request();
    connect_to_me(stranger);
    ASSERT_TRUE(stranger.wait_connections(1, 2000));
    connect_to_me(owner);  // while the worker still waits for the stranger's greeting
    ASSERT_TRUE(wait_done());
    EXPECT_EQ(file("a.mp3"), "ok");
    EXPECT_EQ(chat(), DONE_CHAT);
}

struct MalformedCase {
    const char* name;
    std::string greeting;
    std::string length_reply;  // empty: the greeting alone is at fault
    std::string note;
};

TEST_F(DownloadWorker, EachMalformedReplyEndsWithItsNote) {
    const MalformedCase cases[] = {
        {"no bar after nick", "$MyNick bob", "", " ::download failed:: malformed greeting: no | after the nick"},
        {"no lock", "$MyNick bob|$Supports a|", "", " ::download failed:: malformed greeting: no $Lock"},
        {"unterminated lock", "$MyNick bob|$Lock abc", "", " ::download failed:: malformed greeting: unterminated $Lock"},
        {"no key", "$MyNick bob|$Lock a|$Direction Upload 5|", "", " ::download failed:: malformed greeting: no $Key"},
        {"unterminated key", "$MyNick bob|$Lock a|$Key k", "", " ::download failed:: malformed greeting: unterminated $Key"},
        {"nul byte", std::string("$MyNick bob|$Lo") + '\0' + "ck a|$Key k|", "", " ::download failed:: malformed greeting: NUL byte"},
        {"short reply", PEER_GREETING, "$FileLen|", " ::download failed:: bad length reply: $FileLen"},
        {"error reply", PEER_GREETING, "$Error File Not Available|", " ::download failed:: File Not Available"},
        {"no free slot", PEER_GREETING, "$MaxedOut|", " ::download failed:: no free slot"},
        {"no digits", PEER_GREETING, "$FileLength many|", " ::download failed:: bad length reply: $FileLength many"},
        {"unterminated reply", PEER_GREETING, "$FileLength 5", " ::download failed:: bad length reply: $FileLength 5"},
    };
    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(c.name);
        chatlog_clear();
        TestHub peer;
        peer.expect(CLIENT_GREETING).send(c.greeting);
        if (!c.length_reply.empty()) peer.expect("$1|").send(c.length_reply);
        peer.close();
        request();
        connect_to_me(peer);
        ASSERT_TRUE(wait_done());
        expect_failed(chat(), c.note);
        EXPECT_EQ(peer.received(0).find("$Send|"), std::string::npos);
        EXPECT_EQ(files_in("."), 0);
    }
}

TEST_F(DownloadWorker, PartialGreetingThenSilenceIsMalformedNotHung) {
    g_state.download_silence_ms = 300;
    TestHub peer;
    peer.expect(CLIENT_GREETING).send("$MyNick bob|$Lock a|");
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done(3000));
    expect_failed(chat(), " ::download failed:: malformed greeting: no $Key");
}

TEST_F(DownloadWorker, PeerClosingAtOnceIsReported) {
    TestHub peer;
    peer.close();
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    expect_failed(chat(), " ::download failed:: peer closed the connection");
}

// A port marked S is spoken to in TLS only: a peer there that is no TLS
// server, one that closes during the handshake and one that never answers it
// each end the download with the handshake's note (or Stop's), and not one
// byte of the NMDC exchange goes out in the clear.
TEST_F(DownloadWorker, FailedTlsHandshakeEndsTheDownloadWithoutAPlainByte) {
    const std::string client_hello("\x16\x03", 2);  // a TLS handshake record
    struct Case {
        const char* name;
        std::string note;
    };
    TestHub plain, closing, silent;
    plain.send(PEER_GREETING);  // greets in the clear at once, as plain peers do
    closing.expect(client_hello).close();
    const Case cases[] = {
        {"plain", " ::download failed:: TLS handshake failed: not a TLS server\r\n"},
        {"closing", " ::download failed:: TLS handshake failed: closed by the peer\r\n"},
        {"silent", " ::download stopped:: at 0 of 0 bytes\r\n"},
    };
    TestHub* peers[] = {&plain, &closing, &silent};
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(cases[i].name);
        chatlog_clear();
        request();
        std::string m = "$ConnectToMe me 127.0.0.1:" + peers[i]->port_text() + "S";
        download_take_connect(m.c_str());
        if (peers[i] == &silent) {
            ASSERT_TRUE(silent.wait_received(0, client_hello, 3000));
            download_set_stop(0, 1);
        }
        ASSERT_TRUE(wait_done());
        EXPECT_EQ(chat(), cases[i].note);
        std::string sent = peers[i]->received(0);
        EXPECT_EQ(sent.compare(0, 2, client_hello), 0);
        EXPECT_EQ(sent.find("$MyNick"), std::string::npos);
        EXPECT_EQ(sent.find("$Get"), std::string::npos);
        EXPECT_EQ(files_in("."), 0);
        EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
    }
}

TEST_F(DownloadWorker, RefusedConnectionIsReportedNotUsedAsASocket) {
    int port;
    {
        TestHub closed;
        port = closed.port();
    }  // nothing listens there any more
    request();
    std::string m = "$ConnectToMe me 127.0.0.1:" + std::to_string(port);
    download_take_connect(m.c_str());
    ASSERT_TRUE(wait_done());
    expect_failed(chat(), " ::download failed:: cannot connect to peer");
}

// A folder where the part should go is left there; the part takes the next name.
TEST_F(DownloadWorker, FolderAtThePartsNameIsLeftAlone) {
    ASSERT_EQ(mkdir(part_name().c_str(), 0700), 0);
    TestHub peer;
    script_peer(peer, "$FileLength 5|", "hello");
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    EXPECT_EQ(chat(), DONE_CHAT);
    EXPECT_EQ(file("a.mp3"), "hello");
    struct stat st;
    EXPECT_TRUE(stat(part_name().c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    rmdir(part_name().c_str());
}

// --- Local file names --------------------------------------------------------------

// A local name's '/' separates folders below the download folder; one that
// would reach outside it is refused before anyone is connected to (the
// queue makes a search result's name safe before it becomes one).
TEST_F(DownloadWorker, LocalNameReachingOutsideTheFolderIsRefused) {
    for (const char* name : {"../../evil", "a/../../evil", "/evil"}) {
        SCOPED_TRACE(name);
        chatlog_clear();
        TestHub peer;
        script_peer(peer, "$FileLength 2|", "ok");
        request("bob", "x\\evil", name);
        connect_to_me(peer);
        ASSERT_TRUE(wait_done());
        expect_failed(chat(), " ::download failed:: unsafe file name");
        EXPECT_EQ(peer.connections(), 0);
        EXPECT_EQ(files_in("."), 0);
    }
    EXPECT_FALSE(exists("../../evil"));
}

TEST_F(DownloadWorker, NamesThatCannotBeMadeSafeEndWithoutConnecting) {
    for (const char* name : {"..", ".", ""}) {
        SCOPED_TRACE(name);
        chatlog_clear();
        TestHub peer;
        request("bob", "x", name);
        connect_to_me(peer);
        ASSERT_TRUE(wait_done());
        expect_failed(chat(), " ::download failed:: unsafe file name");
        EXPECT_EQ(peer.connections(), 0);
    }
}

// The download folder of the settings, missing when the download starts:
// made private to the user, and the part and the file go there under the
// same names and free-name rule, nothing into the current directory. The
// folder is the one the settings held when the worker started.
TEST_F(DownloadWorker, DownloadFolderIsMadeAndTakesThePartAndTheFreeName) {
    ASSERT_EQ(mkdir("dl", 0755), 0);
    { std::ofstream("dl/a.mp3") << "mine"; }
    u16_copy(g_state.settings.download_folder, DOWNLOAD_FOLDER_UNITS, u"dl/new/");
    for (int round = 0; round < 2; round++) {
        TestHub peer;
        script_peer(peer, "$FileLength 5|", "hello");
        request();
        connect_to_me(peer);
        g_state.settings.download_folder[0] = 0;  // a change after the start reaches no worker
        ASSERT_TRUE(wait_done());
        u16_copy(g_state.settings.download_folder, DOWNLOAD_FOLDER_UNITS, u"dl");  // no trailing separator
    }
    EXPECT_EQ(file("dl/new/a.mp3"), "hello");
    struct stat st;
    ASSERT_EQ(stat("dl/new", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(files_in("dl/new"), 1) << "no part left";
    EXPECT_EQ(file("dl/a.mp3"), "mine");
    EXPECT_EQ(file("dl/a (1).mp3"), "hello");
    EXPECT_EQ(files_in("."), 1) << "only dl/";
    // A folder that cannot be made ends the download before any connect.
    { std::ofstream("blocker") << "a file"; }
    u16_copy(g_state.settings.download_folder, DOWNLOAD_FOLDER_UNITS, u"blocker/sub");
    chatlog_clear();
    TestHub peer;
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    expect_failed(chat(), " ::download failed:: cannot make the download folder");
    EXPECT_EQ(peer.connections(), 0);
}

// --- Which $ConnectToMe starts a worker ------------------------------------------

TEST_F(DownloadWorker, ConnectToMeWithNothingRequestedIsIgnored) {
    TestHub peer;
    connect_to_me(peer);
    EXPECT_EQ(download_running(0), 0);
    EXPECT_FALSE(peer.wait_connections(1, 300));
    EXPECT_EQ(chat(), "");
}

TEST_F(DownloadWorker, SecondConnectToMeDuringADownloadIsIgnored) {
    TestHub slow;
    script_peer(slow, "$FileLength 4|", "ab");
    slow.pause(400).send("cd");
    TestHub other;
    script_peer(other, "$FileLength 1|", "x");
    request();
    connect_to_me(slow);
    ASSERT_TRUE(wait_until(2000, [] { return download_received(0) == 2; }));
    EXPECT_FALSE(download_request(0));  // no fresh request while a worker runs
    connect_to_me(other);
    EXPECT_FALSE(other.wait_connections(1, 200));
    ASSERT_TRUE(wait_done());
    EXPECT_EQ(file("a.mp3"), "abcd");
    EXPECT_EQ(chat(), DONE_CHAT);
}

TEST_F(DownloadWorker, OtherDollarCMessagesLeaveTheRequestWaiting) {
    TestHub peer;
    script_peer(peer, "$FileLength 1|", "x");
    request();
    download_take_connect("$Close me");
    EXPECT_EQ(download_running(0), 0);
    EXPECT_EQ(download_requested(0), 1);
    connect_to_me(peer);
    ASSERT_TRUE(wait_done());
    EXPECT_EQ(chat(), DONE_CHAT);
}

// Anyone on the hub may send one: it neither starts nor ends the request,
// which still waits for its owner's.
TEST_F(DownloadWorker, OverlongConnectToMeIsIgnoredWithANote) {
    request();
    std::string m = "$ConnectToMe me 127.0.0.1:" + std::string(CONNECT_REQUEST_BYTES, '1');
    download_take_connect(m.c_str());
    EXPECT_EQ(download_running(0), 0);
    EXPECT_EQ(download_requested(0), 1);
    EXPECT_EQ(chat(), " ::download:: $ConnectToMe too long, ignored\r\n");
    download_set_phase(0, DOWNLOAD_IDLE);
}

TEST_F(DownloadWorker, MalformedConnectToMeEndsTheRequestWithANote) {
    request();
    download_take_connect("$ConnectToMe me 127.0.0.1");
    ASSERT_TRUE(wait_done());
    expect_failed(chat(), " ::download failed:: malformed $ConnectToMe");
}

// --- Stop ----------------------------------------------------------------------------

// Pause on the Downloads screen, as the queue carries it out: on the entry
// whose transfer job 0 runs, when it has one.
void pause_job0() {
    const DownloadJob& j = g_state.jobs[0];
    if (download_phase(0) != DOWNLOAD_IDLE) {
        int index = queue_add(j.nick, j.path, j.short_name, j.tth, j.size, ENCODING_CP1251);
        ASSERT_EQ(index, 0);
        g_state.jobs[0].entry_id = g_state.queue[0].id;
        g_state.queue[0].state = QUEUE_RUNNING;
    }
    queue_pause(0);
}

TEST_F(DownloadWorker, StopEndsTheRunningDownloadAndKeepsWhatCame) {
    g_state.download_silence_ms = 10000;
    TestHub peer;
    script_peer(peer, "$FileLength 1000000|", std::string(1000, 'd'));
    request();
    connect_to_me(peer);
    ASSERT_TRUE(wait_until(2000, [] { return download_received(0) == 1000; }));
    uint64_t asked = monotonic_ms();
    pause_job0();
    ASSERT_TRUE(wait_done(2000));
    EXPECT_LT(monotonic_ms() - asked, 1000u);
    EXPECT_EQ(file(part_name()), std::string(1000, 'd'));
    expect_failed(chat(), " ::download stopped:: at 1000 of 1000000 bytes");
    EXPECT_TRUE(peer.wait_client_closed(0, 2000));
}

TEST_F(DownloadWorker, StopIsSeenWhileTheConnectStillWaits) {
    StuckListener stuck;  // its connects are never answered
    if (!stuck.ready()) GTEST_SKIP() << "cannot fill a listen queue here";
    request();
    std::string m = "$ConnectToMe me 127.0.0.1:" + stuck.port_text();
    download_take_connect(m.c_str());
    ASSERT_TRUE(download_running(0));
    sleep_ms(300);
    uint64_t asked = monotonic_ms();
    pause_job0();
    ASSERT_TRUE(wait_done(3000));
    EXPECT_LT(monotonic_ms() - asked, 1000u);  // not the connect's 15 s bound
    expect_failed(chat(), " ::download stopped:: at 0 of 0 bytes");
    EXPECT_EQ(files_in("."), 0);
}

TEST_F(DownloadWorker, StopWithoutADownloadDoesNothing) {
    pause_job0();
    EXPECT_EQ(download_stop_requested(0), 0);
    EXPECT_EQ(chat(), "");
}

TEST_F(DownloadWorker, StopWithdrawsARequestSoALateConnectToMeStartsNothing) {
    TestHub peer;
    request();
    pause_job0();
    EXPECT_EQ(download_requested(0), 0);
    EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
    EXPECT_EQ(g_state.queue[0].state, QUEUE_PAUSED);
    EXPECT_EQ(g_state.jobs[0].entry_id, 0u);
    connect_to_me(peer);
    EXPECT_FALSE(peer.wait_connections(1, 200));
}

// --- Sharing with the UI thread ---------------------------------------------------------

// Under ThreadSanitizer this catches unsynchronised access to the ChatLog,
// the counters and the DownloadJob while a download and chat run together.
TEST_F(DownloadWorker, DownloadWhileChatFlowsSharesStateWithoutRaces) {
    std::string data(40 * DOWNLOAD_CHUNK_BYTES, 'q');
    TestHub peer;
    script_peer(peer, "$FileLength " + std::to_string(data.size()) + "|", data);
    request();
    connect_to_me(peer);
    char16_t shown[1000];
    uint64_t last = 0;
    bool monotonic = true;
    for (int i = 0; download_running(0) != 0 && i < 100000; i++) {
        chatlog_append_line("<ann> hello while downloading");
        traffic_add_received(10);
        chatlog_copy_text(shown, 1000);
        uint64_t now = download_received(0);
        monotonic = monotonic && now >= last;
        last = now;
        (void)download_total(0);
        (void)download_phase(0);
    }
    ASSERT_TRUE(wait_done());
    EXPECT_TRUE(monotonic);
    EXPECT_EQ(download_received(0), data.size());
    EXPECT_EQ(file("a.mp3").size(), data.size());
}

}  // namespace
