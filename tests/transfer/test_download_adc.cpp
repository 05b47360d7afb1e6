// Downloads from peers that serve $ADCGET: the Tiger tree check, resuming a
// part file, and the person's own files left untouched whatever happens.
//
// The expected roots come from the rhash command, not from the code under
// test: the data is written to a file and `rhash --tth` hashes it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "state/client_state.h"
#include "support/test_hub.h"
#include "transfer/download.h"
#include "transfer/download_fixture.h"
#include "support/tls_server.h"

using namespace download_test;

namespace {

// As ncdc greets: ADCGet in its $Supports, no legacy $Get.
const std::string ADC_GREETING = "$MyNick bob|$Lock EXTENDEDPROTOCOL/wut? Pk=ncdc-1.23.1|"
                                 "$Supports MiniSlots XmlBZList ADCGet TTHL TTHF|$Direction Upload 0|$Key k|";

std::string sample(size_t size, int seed) {
    std::string data(size, '\0');
    uint32_t x = 2463534242u + (uint32_t)seed;
    for (char& c : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = (char)x;
    }
    return data;
}

// The Tiger tree root of data, upper case, as the rhash command computes it.
std::string rhash_tth(const std::string& data) {
    char path[] = "/tmp/kivo-tth-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return "";
    bool written = write(fd, data.data(), data.size()) == (ssize_t)data.size();
    close(fd);
    std::string out;
    if (written) {
        std::string command = std::string("rhash --tth --simple ") + path + " 2>/dev/null";
        FILE* p = popen(command.c_str(), "r");
        if (p != nullptr) {
            char line[256];
            if (fgets(line, sizeof line, p) != nullptr) out = line;
            pclose(p);
        }
    }
    unlink(path);
    out = out.substr(0, out.find(' '));
    for (char& c : out) c = (char)toupper((unsigned char)c);
    return out.size() == 39 ? out : "";
}

// A peer that answers "$ADCGET file <id> <offset> <length>|" with the bytes
// from offset, at most send_bytes of them, then closes when it has sent fewer
// than asked.
void script_adc_peer(TestHub& peer, const std::string& id, const std::string& data, uint64_t offset,
                     size_t send_bytes = std::string::npos) {
    uint64_t rest = data.size() - offset;
    std::string request = "$ADCGET file " + id + " " + std::to_string(offset) + " " + std::to_string(rest) + "|";
    peer.expect(CLIENT_GREETING).send(ADC_GREETING).expect(request);
    std::string body = data.substr((size_t)offset, send_bytes);
    // The reply and the first bytes in one send, as real peers write them.
    peer.send("$ADCSND file " + id + " " + std::to_string(offset) + " " + std::to_string(rest) + "|" + body);
    if (body.size() < rest) peer.close();
}

class AdcDownload : public ::testing::Test {
protected:
    void SetUp() override {
        reset_download_state();
        g_state.download_silence_ms = 2000;
        dir_ = std::make_unique<TempCurrentDirectory>();
        ASSERT_TRUE(dir_->ok());
        data_ = sample(3 * DOWNLOAD_CHUNK_BYTES + 4321, 1);
        tth_ = rhash_tth(data_);
        if (tth_.empty()) GTEST_SKIP() << "the rhash command is not installed";
    }
    void TearDown() override {
        end_download_worker();
        dir_.reset();
    }
    void request_tth() { request_download("bob", "Music\\a.mp3", "a.mp3", tth_.c_str(), data_.size()); }
    std::string part() const { return part_name("bob", "Music\\a.mp3", "a.mp3", tth_.c_str(), data_.size()); }
    void run(TestHub& peer) {
        connect_to_me(peer);
        ASSERT_TRUE(wait_download_ended());
    }

    std::unique_ptr<TempCurrentDirectory> dir_;
    std::string data_;
    std::string tth_;
};

TEST_F(AdcDownload, ByTthTheBytesArriveVerifiedUnderTheName) {
    TestHub peer;
    script_adc_peer(peer, "TTH/" + tth_, data_, 0);
    request_tth();
    run(peer);
    EXPECT_TRUE(peer.received(0).find(CLIENT_HEAD + "$Key k|$ADCGET file TTH/" + tth_ + " 0 " +
                                      std::to_string(data_.size()) + "|") != std::string::npos);
    EXPECT_EQ(peer.received(0).find("$Send|"), std::string::npos);
    EXPECT_TRUE(file_text("a.mp3") == data_);
    EXPECT_EQ(files_in("."), 1);  // no part left behind
    EXPECT_EQ(chat_text(), "::start download::\r\na.mp3\r\n ::downloaded:: TTH verified\r\n");
}

TEST_F(AdcDownload, WithoutATthThePathIsAskedInAdcForm) {
    TestHub peer;
    script_adc_peer(peer, "/Music/my\\ssong.mp3", data_, 0);
    request_download("bob", "Music\\my song.mp3", "my song.mp3", "", data_.size());
    run(peer);
    EXPECT_TRUE(file_text("my song.mp3") == data_);
    EXPECT_EQ(chat_text(), "::start download::\r\nmy song.mp3\r\n ::downloaded::\r\n");
}

// From a UTF-8 hub the path is UTF-8 already: asked as it is, and the file
// and the notes take the name as UTF-8.
TEST_F(AdcDownload, FromAUtf8HubThePathIsAskedAsItIsAndNamesTheFile) {
    hub_encoding_set(ENCODING_UTF8);
    TestHub peer;
    script_adc_peer(peer, "/Книги/Война\\sи\\sмир.txt", data_, 0);
    request_download("bob", "Книги\\Война и мир.txt", "Война и мир.txt", "", data_.size());
    run(peer);
    EXPECT_TRUE(file_text("Война и мир.txt") == data_);
    EXPECT_EQ(chat_text(), "::start download::\r\n\xC2\xEE\xE9\xED\xE0 \xE8 \xEC\xE8\xF0.txt\r\n ::downloaded::\r\n");
}

TEST_F(AdcDownload, OneWrongByteFailsTheCheckAndLeavesNoFile) {
    std::string bad = data_;
    bad[DOWNLOAD_CHUNK_BYTES + 7] ^= 0x20;
    TestHub peer;
    script_adc_peer(peer, "TTH/" + tth_, bad, 0);
    request_tth();
    run(peer);
    EXPECT_NE(chat_text().find(" ::download failed:: the file does not match its TTH\r\n"), std::string::npos);
    EXPECT_EQ(chat_text().find("::downloaded::"), std::string::npos);
    EXPECT_EQ(files_in("."), 0);
}

TEST_F(AdcDownload, InterruptedDownloadResumesFromItsPartAndIsVerifiedWhole) {
    const size_t half = data_.size() / 2 + 17;
    TestHub first;
    script_adc_peer(first, "TTH/" + tth_, data_, 0, half);
    request_tth();
    run(first);
    EXPECT_NE(chat_text().find("peer stopped at " + std::to_string(half) + " of"), std::string::npos);
    ASSERT_TRUE(file_text(part()) == data_.substr(0, half));
    EXPECT_EQ(files_in("."), 1);

    chatlog_clear();
    TestHub second;
    script_adc_peer(second, "TTH/" + tth_, data_, half);
    request_tth();
    run(second);
    EXPECT_EQ(chat_text(), "::start download::\r\na.mp3\r\n ::download:: resumed at " + std::to_string(half) +
                               " of " + std::to_string(data_.size()) + " bytes\r\n ::downloaded:: TTH verified\r\n");
    EXPECT_TRUE(file_text("a.mp3") == data_);
    EXPECT_EQ(files_in("."), 1);
}

TEST_F(AdcDownload, ResumedPartWithAWrongByteFailsTheWholeFile) {
    const size_t half = data_.size() / 2;
    std::string held = data_.substr(0, half);
    held[5] ^= 1;  // the part on disk went bad: the check covers it too
    { std::ofstream(part(), std::ios::binary) << held; }
    TestHub peer;
    script_adc_peer(peer, "TTH/" + tth_, data_, half);
    request_tth();
    run(peer);
    EXPECT_NE(chat_text().find(" ::download failed:: the file does not match its TTH\r\n"), std::string::npos);
    EXPECT_EQ(files_in("."), 0);
}

// No part the client leaves is as long as the file (a whole one is renamed):
// such a file is not cut, and the download starts over under the next name.
TEST_F(AdcDownload, PartLongerThanTheFileIsKeptAndTheDownloadStartsOver) {
    { std::ofstream(part(), std::ios::binary) << data_ << "surplus"; }
    TestHub peer;
    script_adc_peer(peer, "TTH/" + tth_, data_, 0);
    request_tth();
    run(peer);
    EXPECT_TRUE(file_text("a.mp3") == data_);
    EXPECT_EQ(chat_text().find("resumed"), std::string::npos);
    EXPECT_TRUE(file_text(part()) == data_ + "surplus");
    EXPECT_EQ(files_in("."), 2);
}

TEST_F(AdcDownload, LegacyPeerIsAskedFromThePartsLengthCountingFromOne) {
    const size_t held = 100000;
    { std::ofstream(part(), std::ios::binary) << data_.substr(0, held); }
    TestHub peer;
    peer.expect(CLIENT_GREETING).send(PEER_GREETING).expect("$Get Music\\a.mp3$100001|");
    peer.send("$FileLength " + std::to_string(data_.size()) + "|").expect("$Send|").send(data_.substr(held));
    request_tth();
    run(peer);
    EXPECT_TRUE(file_text("a.mp3") == data_);
    EXPECT_NE(chat_text().find(" ::download:: resumed at 100000 of "), std::string::npos);
    EXPECT_NE(chat_text().find(" ::downloaded:: TTH verified\r\n"), std::string::npos);
}

TEST_F(AdcDownload, LegacyPeerAnnouncingOnlyTheRestIsUnderstoodToo) {
    const size_t held = 100000;  // eiskaltdcpp's $FileLength for a resumed $Get: the bytes left
    { std::ofstream(part(), std::ios::binary) << data_.substr(0, held); }
    TestHub peer;
    peer.expect(CLIENT_GREETING).send(PEER_GREETING).expect("$Get Music\\a.mp3$100001|");
    peer.send("$FileLength " + std::to_string(data_.size() - held) + "|").expect("$Send|").send(data_.substr(held));
    request_tth();
    run(peer);
    EXPECT_TRUE(file_text("a.mp3") == data_);
    EXPECT_NE(chat_text().find(" ::downloaded:: TTH verified\r\n"), std::string::npos) << chat_text();
}

TEST_F(AdcDownload, NoFreeSlotAndPeerErrorsEndWithWhatThePeerSaid) {
    const struct {
        std::string reply;
        std::string note;
    } cases[] = {
        {"$MaxedOut|", " ::download failed:: no free slot"},
        {"$Error File Not Available|", " ::download failed:: File Not Available"},
        {"$ADCSND file TTH/" + tth_ + " 0 99999999|", " ::download failed:: bad length reply: $ADCSND file TTH/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        chatlog_clear();
        TestHub peer;
        peer.expect(CLIENT_GREETING).send(ADC_GREETING).expect("$ADCGET").send(c.reply);
        request_tth();
        run(peer);
        EXPECT_NE(chat_text().find(c.note), std::string::npos) << chat_text();
        EXPECT_EQ(files_in("."), 0);
    }
}

// The person's own a.mp3 through a failed, a stopped and a finished download
// of a file with the same name: byte for byte the same at every step.
TEST_F(AdcDownload, APersonsFileOfTheSameNameIsNeverTouched) {
    const std::string mine = "my own a.mp3, not to be lost";
    { std::ofstream("a.mp3", std::ios::binary) << mine; }

    TestHub failing;
    script_adc_peer(failing, "TTH/" + tth_, data_, 0, 1000);
    request_tth();
    run(failing);
    EXPECT_NE(chat_text().find(" ::download failed:: peer stopped at 1000 of "), std::string::npos);
    EXPECT_EQ(file_text("a.mp3"), mine);

    g_state.download_silence_ms = 10000;
    TestHub stalling;
    stalling.expect(CLIENT_GREETING).send(ADC_GREETING).expect("$ADCGET");
    stalling.send("$ADCSND file TTH/" + tth_ + " 1000 " + std::to_string(data_.size() - 1000) + "|" +
                  data_.substr(1000, 5000));
    request_tth();
    connect_to_me(stalling);
    ASSERT_TRUE(wait_until(3000, [] { return download_received(0) == 6000; }));
    download_set_stop(0, 1);
    ASSERT_TRUE(wait_download_ended());
    EXPECT_NE(chat_text().find(" ::download stopped:: at 6000 of "), std::string::npos);
    EXPECT_EQ(file_text("a.mp3"), mine);

    chatlog_clear();
    TestHub finishing;
    script_adc_peer(finishing, "TTH/" + tth_, data_, 6000);
    request_tth();
    run(finishing);
    EXPECT_EQ(file_text("a.mp3"), mine);
    EXPECT_TRUE(file_text("a (1).mp3") == data_);
    EXPECT_NE(chat_text().find(" ::downloaded:: TTH verified as a (1).mp3\r\n"), std::string::npos) << chat_text();
    EXPECT_EQ(files_in("."), 2);
}

// --- Peers and names that are not what they claim, in the clear and over TLS ---------

TlsTestServer g_relay;

class HostilePeer : public AdcDownload {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(tls_test_relay_start(&g_relay), ""); }
    static void TearDownTestSuite() { tls_test_server_stop(&g_relay); }
    // The owner's $ConnectToMe for peer, or for the TLS relay in front of it.
    void run_via(TestHub& peer, bool tls) {
        if (!tls) return run(peer);
        tls_test_relay_to(&g_relay, peer.port());
        download_take_connect(("$ConnectToMe me 127.0.0.1:" + g_relay.port + "S").c_str());
        ASSERT_TRUE(wait_download_ended());
    }
};

// Whatever holds the part's name without being a part the client left (a
// link to a longer or a shorter file, a second name of a file, a file longer
// than the download) keeps its bytes; the download takes the next part name,
// where an interrupted one is found again and continued.
TEST_F(HostilePeer, NamesAtThePartsPlaceThatAreNotItsOwnAreLeftAlone) {
    const std::string longer = sample(data_.size() + 100, 2), shorter = sample(1000, 3), p = part();
    const std::string next = "a.mp3." + tth_ + ".1.part";
    { std::ofstream("longer.doc", std::ios::binary) << longer; }
    { std::ofstream("shorter.doc", std::ios::binary) << shorter; }
    for (bool tls : {false, true}) {
        for (int kind = 0; kind < 5; kind++) {
            SCOPED_TRACE(std::string(tls ? "TLS, case " : "plain, case ") + std::to_string(kind));
            chatlog_clear();
            int planted = kind == 0   ? symlink("longer.doc", p.c_str())
                          : kind == 2 ? link("shorter.doc", p.c_str())
                          : kind == 3 ? !(std::ofstream(p, std::ios::binary) << longer)
                                      : symlink("shorter.doc", p.c_str());
            ASSERT_EQ(planted, 0);
            if (kind == 4) std::ofstream(next, std::ios::binary) << data_.substr(0, 5000);
            TestHub peer;
            script_adc_peer(peer, "TTH/" + tth_, data_, kind == 4 ? 5000 : 0);
            request_tth();
            run_via(peer, tls);
            EXPECT_NE(chat_text().find(" ::downloaded:: TTH verified\r\n"), std::string::npos);
            EXPECT_EQ(chat_text().find("resumed at 5000 of") != std::string::npos, kind == 4);
            EXPECT_TRUE(file_text("a.mp3") == data_);
            EXPECT_TRUE(file_text("longer.doc") == longer && file_text("shorter.doc") == shorter);
            EXPECT_TRUE(file_text(p) == (kind == 0 || kind == 3 ? longer : shorter));
            EXPECT_EQ(files_in("."), 4);
            unlink(p.c_str());
            unlink("a.mp3");
        }
    }
}

// Without a TTH only the length tells a whole file: a reply announcing
// another length than the file's ends the download, and a part it had
// keeps its bytes.
TEST_F(HostilePeer, AnnouncedLengthOtherThanTheFilesIsAFailureThatKeepsThePart) {
    const std::string held = sample(1000, 4), id = "/share/notth.bin";
    const std::string part = part_name("bob", "share\\notth.bin", "notth.bin", "", 5000);
    const struct {
        bool adc;
        bool resumed;
        std::string reply;
        std::string note;
    } cases[] = {
        {true, false, "$ADCSND file " + id + " 0 2500|", "peer announced 2500 bytes, the file has 5000"},
        {true, true, "$ADCSND file " + id + " 1000 6000|", "bad length reply: $ADCSND file " + id + " 1000 6000"},
        {false, false, "$FileLength 2500|", "peer announced 2500 bytes, the file has 5000"},
        {false, true, "$FileLength 9000|", "peer announced 9000 bytes, the file has 5000"},
    };
    for (bool tls : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(tls ? "TLS: " : "plain: ") + c.reply);
            chatlog_clear();
            if (c.resumed) std::ofstream(part, std::ios::binary) << held;
            TestHub peer;
            peer.expect(CLIENT_GREETING).send(c.adc ? ADC_GREETING : PEER_GREETING);
            peer.expect(c.adc ? "$ADCGET file " + id : "$Get share\\notth.bin$").send(c.reply);
            if (!c.adc) peer.expect("$Send|");
            peer.send(std::string(2500, 'x'));
            request_download("bob", "share\\notth.bin", "notth.bin", "", 5000);
            run_via(peer, tls);
            EXPECT_NE(chat_text().find(" ::download failed:: " + c.note + "\r\n"), std::string::npos) << chat_text();
            EXPECT_EQ(chat_text().find("::downloaded::"), std::string::npos);
            EXPECT_FALSE(file_exists("notth.bin"));
            EXPECT_EQ(file_exists(part), c.resumed);
            EXPECT_TRUE(!c.resumed || file_text(part) == held);
            unlink(part.c_str());
        }
    }
}

}  // namespace
