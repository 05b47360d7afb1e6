// The settings file: every field through a save and a load, odd values
// included; what a load cuts and refuses; a file that cannot be read kept
// aside under a new name with a note; a save that cannot be made leaving the
// old file whole.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/settings_file.h"
#include "platform/platform.h"
#include "state/client_state.h"

namespace {

std::string chat_text() {
    static char16_t wide[4096];
    chatlog_copy_text(wide, 4096);
    static char utf8[3 * 4096];
    utf16_to_utf8(wide, -1, utf8, sizeof utf8);
    return utf8;
}

class SettingsFile : public ::testing::Test {
protected:
    char dir[64] = "/tmp/kivo-settings-XXXXXX";
    std::string file;
    char16_t path[SETTINGS_PATH_UNITS];

    static void reset() {
        client_state_reset();
        u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
    }
    void SetUp() override {
        reset();
        ASSERT_NE(mkdtemp(dir), nullptr);
        file = std::string(dir) + "/settings.xml";
        utf8_to_utf16(file.c_str(), -1, path, SETTINGS_PATH_UNITS);
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + std::string(dir) + "'").c_str()), 0); }
    std::string read(const std::string& name) {
        std::string text;
        FILE* f = fopen(name.c_str(), "rb");
        if (f == nullptr) return "(none)";
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
        fclose(f);
        return text;
    }
    void write(const std::string& text) {
        FILE* f = fopen(file.c_str(), "wb");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    std::string names() {
        std::string all;
        DIR* d = opendir(dir);
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') all += std::string(e->d_name) + " ";
        closedir(d);
        return all;
    }
};

// Odd values everywhere: XML's own characters, the protocol's, a shell's,
// a 1251 byte that is no UTF-8 and the one 1251 leaves undefined, tab and
// line breaks, a Cyrillic folder name.
TEST_F(SettingsFile, EveryFieldSurvivesASaveAndALoad) {
    SessionSettings& s = g_state.settings;
    strcpy(s.hub_host, "hub.example");
    strcpy(s.hub_port, "4112");
    s.hub_tls = 1;
    strcpy(s.hub_keyprint, "SHA256/ABCDEFGHIJKLMNOPQRSTUVWXYZ234567ABCDEFGHIJKLMNOPQRST");
    strcpy(s.nick, "a\"<&|$'>\xE9\x98\tz");
    strcpy(s.password, "\"<&|$ \r\n]]>");
    strcpy(s.share_size, "12345678901234");
    s.encoding = ENCODING_CP1251;
    u16_copy(s.download_folder, DOWNLOAD_FOLDER_UNITS, u"/home/я/Загрузки & \"more\"/");
    s.chat_timestamps = 0;
    s.tls_transfers_off = 1;
    s.download_slots = 10;
    s.connect_mode = MODE_PASSIVE;
    s.listen_port = 65535;
    s.tls_port = 4121;
    strcpy(s.external_address, "203.0.113.5");
    const SessionSettings saved = s;
    ASSERT_EQ(settings_save(path), 1);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(names(), "settings.xml ") << "no .new file left";

    reset();
    settings_load(path);
    EXPECT_EQ(chat_text(), "");
    EXPECT_STREQ(s.hub_host, saved.hub_host);
    EXPECT_STREQ(s.hub_port, saved.hub_port);
    EXPECT_EQ(s.hub_tls, 1);
    EXPECT_STREQ(s.hub_keyprint, saved.hub_keyprint);
    EXPECT_STREQ(s.nick, saved.nick);
    EXPECT_STREQ(s.password, saved.password);
    EXPECT_STREQ(s.share_size, saved.share_size);
    EXPECT_EQ(s.encoding, ENCODING_CP1251);
    EXPECT_EQ(std::u16string(s.download_folder), std::u16string(saved.download_folder));
    EXPECT_EQ(s.chat_timestamps, 0);
    EXPECT_EQ(s.tls_transfers_off, 1);
    EXPECT_EQ(s.download_slots, 10);
    EXPECT_EQ(s.connect_mode, MODE_PASSIVE);
    EXPECT_EQ(s.listen_port, 65535);
    EXPECT_EQ(s.tls_port, 4121);
    EXPECT_STREQ(s.external_address, "203.0.113.5");

    // The other values of each switch, a UTF-8 hub's password kept in UTF-8.
    s.chat_timestamps = 1;
    s.tls_transfers_off = 0;
    s.hub_tls = 0;
    s.hub_keyprint[0] = 0;
    s.encoding = ENCODING_UTF8;
    s.download_slots = 1;
    strcpy(s.password, "пароль");
    s.connect_mode = MODE_ACTIVE;
    s.listen_port = 0;  // any free port
    s.tls_port = 0;
    s.external_address[0] = 0;
    ASSERT_EQ(settings_save(path), 1);
    EXPECT_NE(read(file).find(" Mode=\"active\"\n    Port=\"0\"\n    TlsPort=\"0\"\n    ExternalAddress=\"\""),
              std::string::npos)
        << read(file);
    EXPECT_NE(read(file).find(" DownloadSlots=\"1\""), std::string::npos);
    EXPECT_NE(read(file).find("Server=\"dchub://hub.example:4112\""), std::string::npos);
    // A host as long as Option takes (51 characters) reads back with its port.
    memset(s.hub_host, 'h', HUB_HOST_BYTES - 1);
    s.hub_host[HUB_HOST_BYTES - 1] = 0;
    const SessionSettings long_host = s;
    ASSERT_EQ(settings_save(path), 1);
    reset();
    settings_load(path);
    EXPECT_EQ(chat_text(), "") << "read whole, not kept aside";
    EXPECT_STREQ(s.hub_host, long_host.hub_host);
    EXPECT_STREQ(s.hub_port, "4112");
    EXPECT_EQ(s.chat_timestamps, 1);
    EXPECT_EQ(s.tls_transfers_off, 0);
    EXPECT_EQ(s.hub_tls, 0);
    EXPECT_EQ(s.encoding, ENCODING_UTF8);
    EXPECT_STREQ(s.password, "пароль");
    EXPECT_EQ(s.download_slots, 1);
    EXPECT_EQ(s.connect_mode, MODE_ACTIVE);
    EXPECT_EQ(s.listen_port, 0);
    EXPECT_EQ(s.tls_port, 0);
    EXPECT_STREQ(s.external_address, "");
}

// What Option cannot hold, a file cannot give either: texts cut to Option's
// fields; a folder longer than its field is refused, not cut; an attribute
// left out keeps the value the settings had.
TEST_F(SettingsFile, LoadCutsTextsAsOptionDoesAndKeepsWhatIsLeftOut) {
    SessionSettings s = {};
    strcpy(s.nick, "before");
    strcpy(s.hub_host, "kept.example");
    const std::string long_nick(999, 'n');
    std::string text = "<KivoSettings Nick=\"" + long_nick + "\" ShareSize=\"" + std::string(999, '7') + "\"/>";
    ASSERT_EQ(settings_text_parse(text.data(), (int)text.size(), &s), 1);
    EXPECT_EQ(std::string(s.nick), long_nick.substr(0, OPTION_FIELD_BYTES - 1));
    EXPECT_EQ(strlen(s.share_size), (size_t)OPTION_FIELD_BYTES - 1);
    EXPECT_STREQ(s.hub_host, "kept.example");
    EXPECT_EQ(s.connect_mode, MODE_AUTO) << "a file of before active mode: auto, any free port";
    EXPECT_EQ(s.listen_port, 0);
    EXPECT_STREQ(s.external_address, "");

    const std::string bad[] = {
        "<KivoSettings DownloadFolder=\"/" + std::string(DOWNLOAD_FOLDER_UNITS, 'd') + "\"/>",
        "<KivoSettings Server=\"host:99999\"/>",
        "<KivoSettings Encoding=\"koi8-r\"/>",
        "<KivoSettings ChatTimestamps=\"yes\"/>",
        "<KivoSettings DownloadSlots=\"0\"/>",
        "<KivoSettings DownloadSlots=\"11\"/>",
        "<KivoSettings DownloadSlots=\"03\"/>",
        "<KivoSettings DownloadSlots=\"3 \"/>",
        "<KivoSettings DownloadSlots=\"\"/>",
        "<KivoSettings DownloadSlots=\"-1\"/>",
        "<KivoSettings Mode=\"Active\"/>",
        "<KivoSettings Port=\"65536\"/>",
        "<KivoSettings TlsPort=\"-1\"/>",
        "<KivoSettings TlsPort=\"0x10\"/>",
        "<KivoSettings ExternalAddress=\"203.0.113\"/>",
        "<KivoSettings ExternalAddress=\"203.0.113.256\"/>",
        "<KivoSettings ExternalAddress=\"203.0.113.05\"/>",
        "<KivoSettings ExternalAddress=\"host.example\"/>",
        "<Favorites Nick=\"x\"/>",
        "<KivoSettings Nick=\"x\">",
        "",
    };
    for (const std::string& t : bad) {
        SessionSettings before = s;
        EXPECT_EQ(settings_text_parse(t.data(), (int)t.size(), &s), 0) << t.substr(0, 60);
        EXPECT_EQ(memcmp(&before, &s, sizeof s), 0) << "nothing taken from " << t.substr(0, 60);
    }
}

TEST_F(SettingsFile, UnreadableFileIsKeptAsideUnderANewNameWithANote) {
    strcpy(g_state.settings.nick, "defaults");
    write("<KivoSettings Nick=\"broken");
    // A name taken by an earlier bad file is never replaced.
    std::string taken = file + ".bad-" + std::to_string(wall_clock_seconds());
    FILE* f = fopen(taken.c_str(), "w");
    fputs("older", f);
    fclose(f);
    settings_load(path);
    EXPECT_STREQ(g_state.settings.nick, "defaults");
    EXPECT_EQ(read(file), "(none)");
    EXPECT_EQ(read(taken), "older");
    std::string aside = taken + "-1";
    if (read(aside) == "(none)") aside = file + ".bad-" + std::to_string(wall_clock_seconds());  // a second passed
    EXPECT_EQ(read(aside), "<KivoSettings Nick=\"broken");
    EXPECT_EQ(chat_text(), "cannot read the settings in " + file + ": kept as " + aside +
                               "; the settings start from the defaults\r\n");

    // An absent file is no fault: nothing happens.
    reset();
    settings_load(path);
    EXPECT_EQ(chat_text(), "");
}

// The new file cannot be made (its name is taken by a folder, which stops
// the superuser too): the old file stays whole, a note says so.
TEST_F(SettingsFile, FailedSaveLeavesTheOldFileWhole) {
    strcpy(g_state.settings.nick, "old");
    ASSERT_EQ(settings_save(path), 1);
    const std::string old_text = read(file);
    ASSERT_EQ(mkdir((file + ".new").c_str(), 0700), 0);
    strcpy(g_state.settings.nick, "new");
    EXPECT_EQ(settings_save(path), 0);
    EXPECT_EQ(read(file), old_text);
    EXPECT_EQ(chat_text(), "cannot save the settings to " + file + "; the file there is as it was\r\n");
    // A leftover .new file of Kivo's own is no obstacle.
    ASSERT_EQ(rmdir((file + ".new").c_str()), 0);
    write("leftover");
    ASSERT_EQ(rename(file.c_str(), (file + ".new").c_str()), 0);
    EXPECT_EQ(settings_save(path), 1);
    EXPECT_NE(read(file).find("Nick=\"new\""), std::string::npos);
}

}  // namespace
