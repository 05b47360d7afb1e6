// Start-up's preparation of the ClientState: defaults, the first favourite's
// overrides, and the module directory cut.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/hub_address.h"
#include "platform/platform.h"
#include "shell/startup.h"
#include "state/client_state.h"

namespace {

std::u16string chat_text16() {
    static char16_t copy[4096];
    chatlog_copy_text(copy, 4096);
    return copy;
}

std::u16string wide(const std::string& s) {
    char16_t out[600];
    utf8_to_utf16(s.c_str(), -1, out, 600);
    return out;
}

// An environment variable set for one test and put back after it.
class EnvironmentKeep {
public:
    explicit EnvironmentKeep(const char* name) : name_(name) {
        const char* was = getenv(name);
        had_ = was != nullptr;
        if (had_) value_ = was;
    }
    ~EnvironmentKeep() {
        if (had_) setenv(name_, value_.c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    std::string value_;
};

// The executable's folder, with the settings folder and the download
// folder inside it: nothing reaches the person's own.
class Startup : public ::testing::Test {
protected:
    char dir[64] = "/tmp/kivo-start-XXXXXX";
    std::string favorites;

    EnvironmentKeep keep_config{"XDG_CONFIG_HOME"};
    EnvironmentKeep keep_downloads{"XDG_DOWNLOAD_DIR"};
    EnvironmentKeep keep_data{"XDG_DATA_HOME"};
    EnvironmentKeep keep_demo{"KIVO_DEMO_TLS_HUB"};

    void SetUp() override {
        client_state_reset();
        ASSERT_NE(mkdtemp(dir), nullptr);
        favorites = std::string(dir) + "/Favorites.xml";
        setenv("XDG_CONFIG_HOME", (std::string(dir) + "/config").c_str(), 1);
        setenv("XDG_DOWNLOAD_DIR", (std::string(dir) + "/dl").c_str(), 1);
        setenv("XDG_DATA_HOME", (std::string(dir) + "/data").c_str(), 1);
        unsetenv("KIVO_DEMO_TLS_HUB");
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + std::string(dir) + "'").c_str()), 0); }
    void prepare() { prepare_client_state(wide(std::string(dir) + "/kivo").c_str()); }
};

TEST_F(Startup, DefaultsWithoutAFavouritesFile) {
    prepare();
    EXPECT_STREQ(g_state.settings.nick, "[i]mpx200");
    EXPECT_STREQ(g_state.settings.share_size, "1234567890");
    EXPECT_STREQ(g_state.settings.hub_host, "127.0.0.1");
    EXPECT_STREQ(g_state.settings.hub_port, "2225");
    EXPECT_STREQ(g_state.settings.password, "");
    EXPECT_EQ(g_state.settings.encoding, ENCODING_AUTO);
    // The favourites file, created empty in the settings folder (none beside
    // the executable), is named in a note that says what Connect does.
    const std::string made = std::string(dir) + "/config/kivo/Favorites.xml";
    EXPECT_EQ(chat_text16(), u"Pelmark tarvol v 0.05 \r\nno favourite hubs yet in " + wide(made) +
          u": Connect uses 127.0.0.1:2225\r\n");
    EXPECT_EQ(access(made.c_str(), F_OK), 0) << "the absent favourites file is created";
    EXPECT_EQ(std::u16string(g_state.settings_path), wide(std::string(dir) + "/config/kivo/settings.xml"));
    EXPECT_EQ(std::u16string(g_state.settings.download_folder), wide(std::string(dir) + "/dl/"));
    // The queue is kept in the data folder, and the parts beside it: the
    // same file system as the download folder.
    EXPECT_EQ(std::u16string(g_state.queue_path), wide(std::string(dir) + "/data/kivo/queue.xml"));
    EXPECT_EQ(std::u16string(g_state.parts_folder), wide(std::string(dir) + "/data/kivo/parts/"));
    EXPECT_EQ(g_state.settings.download_slots, DOWNLOAD_SLOTS_DEFAULT);
    EXPECT_EQ(g_state.settings.chat_timestamps, 1);
    EXPECT_EQ(std::u16string(g_state.line_break), u"\r\n");
    EXPECT_EQ(traffic_received(), 0u);
    EXPECT_EQ(traffic_sent(), 0u);
    EXPECT_EQ(g_state.short_names, 1);
    EXPECT_EQ(g_state.user_selection, 0);
    EXPECT_EQ(g_state.result_count, 0);
    EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
    EXPECT_NE(g_state.settings.local_ip[0], 0);
    EXPECT_NE(access(favorites.c_str(), F_OK), 0) << "nothing made beside the executable";
}

TEST_F(Startup, FirstFavouriteGivesHostPortPasswordEncodingAndALongerNick) {
    FILE* f = fopen(favorites.c_str(), "w");
    fputs("<Hub Name=\"a\" Nick=\"zed\" Password=\"pw\" Server=\"hub.example:4111\" Encoding=\"UTF-8\"/>"
          "<Hub Name=\"b\" Nick=\"other\" Password=\"\" Server=\"two.example\"/>",
          f);
    fclose(f);
    prepare();
    EXPECT_STREQ(g_state.settings.hub_host, "hub.example");
    EXPECT_STREQ(g_state.settings.hub_port, "4111");
    EXPECT_STREQ(g_state.settings.nick, "zed");
    EXPECT_STREQ(g_state.settings.password, "pw");
    EXPECT_EQ(g_state.settings.encoding, ENCODING_UTF8);
}

TEST_F(Startup, OneCharacterFavouriteNickIsIgnored) {
    FILE* f = fopen(favorites.c_str(), "w");
    fputs("<Hub Name=\"a\" Nick=\"a\" Password=\"\" Server=\"10.1.2.3\"/>", f);
    fclose(f);
    prepare();
    EXPECT_STREQ(g_state.settings.nick, "[i]mpx200");
    EXPECT_STREQ(g_state.settings.hub_host, "10.1.2.3");
    EXPECT_STREQ(g_state.settings.hub_port, "411");
}

// A portable copy: settings.xml beside its Favorites.xml, and what it saved
// wins over the first favourite; a favourites file with no hub says what
// Connect then uses, the saved address.
TEST_F(Startup, SavedSettingsBesideThePortableFavouritesWinOverTheFirstFavourite) {
    FILE* f = fopen(favorites.c_str(), "w");
    fputs("<Hub Name=\"a\" Nick=\"zed\" Password=\"pw\" Server=\"hub.example:4111\"/>", f);
    fclose(f);
    f = fopen((std::string(dir) + "/settings.xml").c_str(), "w");
    fputs("<KivoSettings Nick=\"saved\" Password=\"\" DownloadFolder=\"/srv/dl\" ChatTimestamps=\"0\"/>", f);
    fclose(f);
    prepare();
    EXPECT_STREQ(g_state.settings.hub_host, "hub.example");
    EXPECT_STREQ(g_state.settings.nick, "saved");
    EXPECT_STREQ(g_state.settings.password, "");
    EXPECT_EQ(std::u16string(g_state.settings.download_folder), u"/srv/dl");
    EXPECT_EQ(g_state.settings.chat_timestamps, 0);
    EXPECT_EQ(std::u16string(g_state.settings_path), wide(std::string(dir) + "/settings.xml"));
    EXPECT_EQ(chat_text16(), u"Pelmark tarvol v 0.05 ");

    f = fopen(favorites.c_str(), "w");
    fclose(f);
    f = fopen((std::string(dir) + "/settings.xml").c_str(), "w");
    fputs("<KivoSettings Server=\"nmdcs://10.0.0.9:4000\"/>", f);
    fclose(f);
    client_state_reset();
    prepare();
    EXPECT_EQ(chat_text16(), u"Pelmark tarvol v 0.05 \r\nno favourite hubs yet in " +
                                                    wide(favorites) + u": Connect uses nmdcs://10.0.0.9:4000\r\n");
}

// The person's download folder: $XDG_DOWNLOAD_DIR when absolute, else
// ~/Downloads; nothing is made before a download.
TEST_F(Startup, DownloadFolderDefault) {
    EnvironmentKeep keep_home{"HOME"};
    setenv("HOME", dir, 1);
    for (const char* value : {"", "relative/dl"}) {
        setenv("XDG_DOWNLOAD_DIR", value, 1);
        client_state_reset();
        prepare();
        EXPECT_EQ(std::u16string(g_state.settings.download_folder), wide(std::string(dir) + "/Downloads/"));
    }
    unsetenv("XDG_DOWNLOAD_DIR");
    client_state_reset();
    prepare();
    EXPECT_EQ(std::u16string(g_state.settings.download_folder), wide(std::string(dir) + "/Downloads/"));
    EXPECT_NE(access((std::string(dir) + "/Downloads").c_str(), F_OK), 0);
}

// scripts/run.sh names the demo hub's TLS address: shown as a note, and only
// when it is a TLS hub address.
TEST_F(Startup, DemoTlsHubAddressIsShownWhenItIsOne) {
    const char kp[] = "nmdcs://127.0.0.1:2228?kp=SHA256/ABCDEFGHIJKLMNOPQRSTUVWXYZ234567ABCDEFGHIJKLMNOPQRST";
    setenv("KIVO_DEMO_TLS_HUB", kp, 1);
    prepare();
    EXPECT_NE(chat_text16().find(u"the demo hub over TLS: " + wide(kp) + u" (Menu > Option, Host)"),
              std::u16string::npos);
    for (const char* odd : {"127.0.0.1:2225", "nmdcs://bad host", "\r\nfake line"}) {
        setenv("KIVO_DEMO_TLS_HUB", odd, 1);
        client_state_reset();
        prepare();
        EXPECT_EQ(chat_text16().find(u"demo hub"), std::u16string::npos) << odd;
    }
}

// An executable's folder, a config home and a home, each a scratch folder.
class FavoritesLocation : public ::testing::Test {
protected:
    EnvironmentKeep keep_config{"XDG_CONFIG_HOME"};
    EnvironmentKeep keep_home{"HOME"};
    char root[64] = "/tmp/kivo-where-XXXXXX";
    std::string exe_dir, config, home;

    void SetUp() override {
        client_state_reset();
        ASSERT_NE(mkdtemp(root), nullptr);
        exe_dir = std::string(root) + "/app/";
        config = std::string(root) + "/config";
        home = std::string(root) + "/home";
        ASSERT_EQ(mkdir(exe_dir.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("HOME", home.c_str(), 1);
    }
    void TearDown() override {
        chmod(exe_dir.c_str(), 0755);
        std::string cmd = std::string("rm -rf '") + root + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
    }
    std::string choose(const std::string& folder) {
        char16_t path[FAVORITES_PATH_UNITS];
        if (!favorites_file_choose(wide(folder).c_str(), path, FAVORITES_PATH_UNITS)) return "(none)";
        char utf8[2000];
        utf16_to_utf8(path, -1, utf8, sizeof utf8);
        return utf8;
    }
    void write(const std::string& path, const char* text) {
        FILE* f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr) << path;
        fputs(text, f);
        fclose(f);
    }
};

TEST_F(FavoritesLocation, FileBesideTheExecutableComesFirstEvenInAReadOnlyFolder) {
    write(exe_dir + "Favorites.xml", "<Hub Nick=\"beside\" Server=\"beside.example\"/>");
    ASSERT_EQ(chmod(exe_dir.c_str(), 0555), 0);
    EXPECT_EQ(choose(exe_dir), exe_dir + "Favorites.xml");
    EXPECT_NE(access(config.c_str(), F_OK), 0) << "no settings folder made while the file beside is used";
}

// An installed copy in a writable bin/ (~/.local/bin) keeps its files in
// the settings folder all the same.
TEST_F(FavoritesLocation, WritableFolderWithoutAFileIsNotUsed) {
    EXPECT_EQ(choose(exe_dir), config + "/kivo/Favorites.xml");
    EXPECT_NE(access((exe_dir + "Favorites.xml").c_str(), F_OK), 0);
}

TEST_F(FavoritesLocation, ReadOnlyFolderUsesTheConfigHomeAndMakesItsFolder) {
    ASSERT_EQ(chmod(exe_dir.c_str(), 0555), 0);
    EXPECT_EQ(choose(exe_dir), config + "/kivo/Favorites.xml");
    struct stat st;
    ASSERT_EQ(stat((config + "/kivo").c_str(), &st), 0) << "the folder is made";
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A trailing separator in the variable makes no double one.
    setenv("XDG_CONFIG_HOME", (config + "/").c_str(), 1);
    EXPECT_EQ(choose(exe_dir), config + "/kivo/Favorites.xml");
}

TEST_F(FavoritesLocation, ConfigHomeUnsetEmptyOrRelativeFallsBackToDotConfig) {
    ASSERT_EQ(chmod(exe_dir.c_str(), 0555), 0);
    const std::string fallback = home + "/.config/kivo/Favorites.xml";
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(choose(exe_dir), fallback);
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(choose(exe_dir), fallback);
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(choose(exe_dir), fallback);
    EXPECT_EQ(access((home + "/.config/kivo").c_str(), F_OK), 0);
    EXPECT_NE(access("relative", F_OK), 0) << "nothing made beside the working folder";
}

TEST_F(FavoritesLocation, InstalledInUsrUsesTheConfigHome) {
    if (access("/usr/bin/Favorites.xml", F_OK) == 0) GTEST_SKIP() << "/usr/bin/Favorites.xml exists here";
    EXPECT_EQ(choose("/usr/bin/"), config + "/kivo/Favorites.xml");
    EXPECT_NE(access("/usr/bin/Favorites.xml", F_OK), 0);
}

TEST_F(FavoritesLocation, PathsTooLongAreRefusedNotCut) {
    // A folder that does not exist: its file is never there and it takes none.
    std::string deep = std::string(root) + "/" + std::string(FAVORITES_PATH_UNITS - 60, 'd') + "/";
    EXPECT_EQ(choose(deep), config + "/kivo/Favorites.xml");
    std::string too_deep = std::string(root) + "/" + std::string(FAVORITES_PATH_UNITS, 'd') + "/";
    EXPECT_EQ(choose(too_deep), config + "/kivo/Favorites.xml");
    setenv("XDG_CONFIG_HOME", (std::string(root) + "/" + std::string(FAVORITES_PATH_UNITS, 'c')).c_str(), 1);
    EXPECT_EQ(choose(too_deep), "(none)");
    EXPECT_EQ(choose(deep), "(none)") << "no settings folder that fits: never the executable's after all";
    // Start-up then reads nothing, makes nothing in a read-only executable's
    // folder (which the superuser could write), and says why.
    ASSERT_EQ(chmod(exe_dir.c_str(), 0555), 0);
    for (const std::string& folder : {too_deep, exe_dir}) {
        prepare_client_state(wide(folder + "kivo").c_str());
        EXPECT_NE(chat_text16().find(u"no Favorites.xml: its folder's path is too long"),
                  std::u16string::npos);
        EXPECT_EQ(g_state.favorites_count, 0);
    }
    EXPECT_NE(access((exe_dir + "Favorites.xml").c_str(), F_OK), 0);
}

TEST_F(FavoritesLocation, StartUpReadsTheConfigHomeFileOfAnInstalledCopy) {
    ASSERT_EQ(mkdir(config.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((config + "/kivo").c_str(), 0700), 0);
    write(config + "/kivo/Favorites.xml", "<Hub Nick=\"homed\" Server=\"home.example:4444\"/>");
    ASSERT_EQ(chmod(exe_dir.c_str(), 0555), 0);
    prepare_client_state(wide(exe_dir + "kivo").c_str());
    EXPECT_STREQ(g_state.settings.hub_host, "home.example");
    EXPECT_STREQ(g_state.settings.nick, "homed");
    EXPECT_EQ(std::u16string(g_state.module_dir), wide(exe_dir));
}

// The single-instance lock: in a folder whose path leaves no room for the
// file's name, start-up ends with 1 and one line on stderr, not in silence.
TEST(SingleInstance, LockPathThatDoesNotFitIsAnErrorOnStderr) {
    EnvironmentKeep keep_runtime{"XDG_RUNTIME_DIR"};
    char root[64] = "/tmp/kivo-lock-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    setenv("XDG_RUNTIME_DIR", root, 1);
    EXPECT_EQ(single_instance_exit(false), -1) << "the only copy goes on";
    std::string deep = root;  // 4080 bytes: "<deep>/movraClass-<uid>.lock" is past PATH_MAX
    while (deep.size() < 4080) {
        deep += "/" + std::string(std::min<size_t>(200, 4079 - deep.size()), 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(single_instance_exit(false), 1);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("kivo: cannot tell whether Kivo is already running", 0), 0u) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line";
    EXPECT_EQ(system((std::string("rm -rf ") + root).c_str()), 0);
}

TEST(ModuleFileName, PathThatDoesNotFitIsRefused) {
    char16_t whole[600];
    ASSERT_GT(module_file_name(whole, 600), 0);
    EXPECT_EQ(whole[0], u'/');
    char16_t cut[4] = u"xyz";
    EXPECT_EQ(module_file_name(cut, 4), 0);
    EXPECT_EQ(cut[0], 0) << "a cut path would name another file";
}

TEST_F(Startup, CommandLineHubTakesNoPasswordOfAnotherHub) {
    FILE* f = fopen(favorites.c_str(), "w");
    fputs("<Hub Nick=\"first\" Password=\"secret\" Server=\"first.example\" Encoding=\"UTF-8\" TLS=\"0\"/>", f);
    fclose(f);
    prepare();
    ASSERT_STREQ(g_state.settings.password, "secret");
    HubAddress hub;
    ASSERT_EQ(parse_hub_address("nmdcs://other.example:2228", "411", -1, &hub), 1);
    start_hub_take(&hub);
    EXPECT_STREQ(g_state.settings.hub_host, "other.example");
    EXPECT_STREQ(g_state.settings.hub_port, "2228");
    EXPECT_EQ(g_state.settings.hub_tls, 1);
    EXPECT_STREQ(g_state.settings.password, "");
    EXPECT_EQ(g_state.settings.encoding, ENCODING_AUTO);
    EXPECT_EQ(g_state.settings.tls_transfers_off, 0);
    EXPECT_STREQ(g_state.settings.nick, "first") << "the nick is the person's, whatever the hub";
    EXPECT_EQ(g_state.connect_at_start, 1);
}

TEST_F(Startup, CommandLineHubThatIsAFavouriteTakesItsPasswordNickAndKeyprint) {
    const std::string kp = "SHA256/" + std::string(52, 'B');
    std::string file = "<Favorites><Hub Nick=\"first\" Password=\"one\" Server=\"first.example\"/>"
                       "<Hub Nick=\"member\" Password=\"two\" Encoding=\"UTF-8\" Server=\"nmdcs://Hub.Example:2228?kp=";
    file += kp;
    file += "\"/></Favorites>";
    FILE* f = fopen(favorites.c_str(), "w");
    fputs(file.c_str(), f);
    fclose(f);
    prepare();
    HubAddress hub;
    ASSERT_EQ(parse_hub_address("NMDCS://hub.example:2228", "411", -1, &hub), 1);
    start_hub_take(&hub);
    EXPECT_STREQ(g_state.settings.hub_host, "hub.example");
    EXPECT_STREQ(g_state.settings.password, "two");
    EXPECT_STREQ(g_state.settings.nick, "member");
    EXPECT_EQ(g_state.settings.encoding, ENCODING_UTF8);
    EXPECT_STREQ(g_state.settings.hub_keyprint, kp.c_str()) << "the favourite's keyprint guards the hub";
    // The same host on another port, or plain, is another hub.
    prepare();
    ASSERT_EQ(parse_hub_address("hub.example:2228", "411", -1, &hub), 1);
    start_hub_take(&hub);
    EXPECT_STREQ(g_state.settings.password, "");
    EXPECT_STREQ(g_state.settings.hub_keyprint, "");
}

TEST(ModuleDirectory, CutAfterTheLastSeparator) {
    char16_t path[64] = u"/opt/x/kivo";
    module_directory_from_path(path);
    EXPECT_EQ(std::u16string(path), u"/opt/x/");
    char16_t bare[64] = u"kivo";  // no separator: the first two characters stay
    module_directory_from_path(bare);
    EXPECT_EQ(std::u16string(bare), u"ki");
}

}  // namespace
