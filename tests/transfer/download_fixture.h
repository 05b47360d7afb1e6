// Shared by the download tests: a fresh temporary current directory per test
// (removed afterwards, the old one restored), the state of a requested
// download, the ChatLog as 1251 text, and a scripted owner that answers the
// handshake the way real sharing clients do.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "state/client_state.h"
#include "support/test_hub.h"
#include "transfer/download.h"
#include "transfer/local_file.h"

namespace download_test {

const std::string CLIENT_GREETING =
    "$MyNick me|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABC Pk=KIVOLOKTAN0.242ABCABC|";
const std::string PEER_KEY = "$Key \x14\xd1\xc0/%DCN000%/\x05|";
// A legacy sharer greets like microdc2 minus ADCGet: $Supports and
// $Direction between the lock and the key, and no $ADCGET.
const std::string PEER_GREETING = "$MyNick bob|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABCA Pk=MICRODCABCABCABCAB|"
                                  "$Supports MiniSlots XmlBZList|$Direction Upload 17767|" +
                                  PEER_KEY;
const std::string CLIENT_HEAD = "$Supports MiniSlots ADCGet TTHF |$Direction Download 21356|";
const std::string CLIENT_REQUEST = CLIENT_HEAD + PEER_KEY + "$Get Music\\a.mp3$1|";

// The state the program has after start-up, as far as downloads care.
inline void reset_download_state() {
    client_state_reset();
    g_state.module_instance = KIVO_INSTANCE;
    u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
    text_copy(g_state.settings.nick, NICK_BYTES, "me");
    text_copy(g_state.hub_nick, HUB_NICK_BYTES, "me");  // as Connect makes it
}

// What the Download command leaves: the job filled, row set, requested.
inline void request_download(const char* nick = "bob", const char* path = "Music\\a.mp3",
                             const char* short_name = "a.mp3", const char* tth = "", uint64_t size = 0) {
    text_copy(g_state.jobs[0].nick, RESULT_NICK_BYTES, nick);
    text_copy(g_state.jobs[0].path, RESULT_PATH_BYTES, path);
    text_copy(g_state.jobs[0].short_name, RESULT_SHORT_BYTES, short_name);
    text_copy(g_state.jobs[0].tth, TTH_TEXT_BYTES, tth);
    g_state.jobs[0].size = size;
    download_request(0);
}

inline void connect_to_me(const TestHub& peer) {
    std::string m = "$ConnectToMe me 127.0.0.1:" + peer.port_text();
    download_take_connect(m.c_str());
}

inline bool wait_download_ended(int ms = 5000) {
    return wait_until(ms, [] { return download_running(0) == 0; });
}

// A peer that answers the whole handshake, then sends data (and stays open).
inline void script_peer(TestHub& peer, const std::string& length_reply, const std::string& data) {
    peer.expect(CLIENT_GREETING).send(PEER_GREETING).expect("$1|").send(length_reply).expect("$Send|");
    if (!data.empty()) peer.send(data);
}

inline std::string chat_text() {
    constexpr int COPY_UNITS = 10000;
    static char16_t wide[COPY_UNITS];
    chatlog_copy_text(wide, COPY_UNITS);
    static char text[COPY_UNITS];
    utf16_to_cp1251(wide, -1, text, COPY_UNITS);
    return text;
}

inline bool file_exists(const std::string& name) {
    struct stat st;
    return stat(name.c_str(), &st) == 0;
}

inline std::string file_text(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// The part file that a download of the given result writes into.
inline std::string part_name(const char* nick = "bob", const char* path = "Music\\a.mp3",
                             const char* name = "a.mp3", const char* tth = "", uint64_t size = 0) {
    char id[TTH_TEXT_BYTES];
    download_identity(tth, nick, path, size, id);
    return std::string(name) + "." + id + ".part";
}

inline int files_in(const std::string& dir) {
    int n = 0;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return -1;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") n++;
    }
    closedir(d);
    return n;
}

// A temporary current directory for one test; downloads land in it.
class TempCurrentDirectory {
public:
    TempCurrentDirectory() {
        if (getcwd(old_, sizeof old_) == nullptr) old_[0] = 0;
        char pattern[] = "/tmp/kivo-download-XXXXXX";
        if (mkdtemp(pattern) != nullptr) dir_ = pattern;
        ok_ = !dir_.empty() && old_[0] != 0 && chdir(dir_.c_str()) == 0;
    }
    ~TempCurrentDirectory() {
        if (old_[0] != 0 && chdir(old_) != 0) ADD_FAILURE() << "cannot return to " << old_;
        DIR* d = opendir(dir_.c_str());
        if (d == nullptr) return;
        while (struct dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            std::string path = dir_ + "/" + name;
            if (unlink(path.c_str()) != 0) rmdir(path.c_str());
        }
        closedir(d);
        rmdir(dir_.c_str());
    }
    TempCurrentDirectory(const TempCurrentDirectory&) = delete;
    TempCurrentDirectory& operator=(const TempCurrentDirectory&) = delete;
    bool ok() const { return ok_; }

private:
    std::string dir_;
    char old_[4096];
    bool ok_ = false;
};

// Ends any worker a test left running and restores the silence limit and
// the room on the disk.
inline void end_download_worker() {
    download_set_stop(0, 1);
    EXPECT_TRUE(wait_download_ended(3000));
    g_state.download_silence_ms = DOWNLOAD_SILENCE_LIMIT_MS;
    file_write_room_set(-1);
}

}  // namespace download_test
