// Start-up's preparation of the ClientState: defaults, the first favourite's
// overrides, and the module directory cut.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "shell/startup.h"
#include "state/client_state.h"

namespace {

std::u16string wide(const std::string& s) {
    char16_t out[600];
    utf8_to_utf16(s.c_str(), -1, out, 600);
    return out;
}

class Startup : public ::testing::Test {
protected:
    char dir[64] = "/tmp/kivo-start-XXXXXX";
    std::string favorites;

    void SetUp() override {
        client_state_reset();
        ASSERT_NE(mkdtemp(dir), nullptr);
        favorites = std::string(dir) + "/Favorites.xml";
    }
    void TearDown() override {
        unlink(favorites.c_str());
        rmdir(dir);
    }
    void prepare() { prepare_client_state(wide(std::string(dir) + "/kivo").c_str()); }
};

TEST_F(Startup, DefaultsWithoutAFavouritesFile) {
    prepare();
    EXPECT_STREQ(g_state.settings.nick, "[i]mpx200");
    EXPECT_STREQ(g_state.settings.share_size, "1234567890");
    EXPECT_STREQ(g_state.settings.hub_host, "127.0.0.1");
    EXPECT_STREQ(g_state.settings.hub_port, "2225");
    EXPECT_STREQ(g_state.settings.password, "");
    EXPECT_EQ(g_state.settings.encoding, ENCODING_CP1251);
    // The favourites file, created empty, is named in a note of its own.
    EXPECT_EQ(std::u16string(g_state.chat_log),
              u"Pelmark tarvol v 0.05 \r\nno hub in " + wide(std::string(dir) + "/Favorites.xml") + u"\r\n");
    EXPECT_EQ(std::u16string(g_state.line_break), u"\r\n");
    EXPECT_EQ(traffic_received(), 0u);
    EXPECT_EQ(traffic_sent(), 0u);
    EXPECT_EQ(g_state.short_names, 1);
    EXPECT_EQ(g_state.user_selection, 0);
    EXPECT_EQ(g_state.result_count, 0);
    EXPECT_EQ(download_row(), -1);
    EXPECT_NE(g_state.settings.local_ip[0], 0);
    EXPECT_EQ(access(favorites.c_str(), F_OK), 0) << "the absent favourites file is created";
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

TEST(ModuleDirectory, CutAfterTheLastSeparator) {
    char16_t path[64] = u"/opt/x/kivo";
    module_directory_from_path(path);
    EXPECT_EQ(std::u16string(path), u"/opt/x/");
    char16_t bare[64] = u"kivo";  // no separator: the first two characters stay
    module_directory_from_path(bare);
    EXPECT_EQ(std::u16string(bare), u"ki");
}

}  // namespace
