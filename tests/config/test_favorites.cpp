// The favourites reader: Hub elements read with an XML parser (attributes in
// any order, either quote, entities, the file's encoding), field limits, the
// Server split at ':', the file created empty when absent, and the one note
// for a file that cannot be read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/favorites.h"
#include "hub/hub_test_state.h"
#include "platform/platform.h"
#include "state/client_state.h"

namespace {

class Favorites : public ::testing::Test {
protected:
    char dir[64] = "/tmp/kivo-fav-XXXXXX";
    std::string file;
    char16_t path[512];

    void SetUp() override {
        client_state_reset();
        u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
        ASSERT_NE(mkdtemp(dir), nullptr);
        file = std::string(dir) + "/Favorites.xml";
        utf8_to_utf16(file.c_str(), -1, path, 512);
    }
    void TearDown() override {
        chmod(file.c_str(), 0644);
        unlink(file.c_str());
        rmdir(file.c_str());
        rmdir(dir);
    }
    void reload(const std::string& text) {
        client_state_reset();
        u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
        write(text);
        load_favorites(path);
    }
    void write(const std::string& text) {
        FILE* f = fopen(file.c_str(), "wb");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    // A UTF-8 file of the given Hub lines, read afresh.
    void reload_hubs(const std::string& hubs) {
        std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Favorites><Hubs>\n";
        text += hubs;
        text += "</Hubs></Favorites>\n";
        reload(text);
    }
    static std::string hub(const std::string& name, const std::string& nick, const std::string& server) {
        return "<Hub Name=\"" + name + "\" Description=\"d\" Nick=\"" + nick +
               "\" Password=\"\" Server=\"" + server + "\" UserDescription=\"\"/>\n";
    }
};

TEST_F(Favorites, WorkedExampleWithAndWithoutPort) {
    write("<Favorites><Hubs>\n" + hub("Home", "guest", "10.0.0.1:4111") + hub("Two", "x", "10.0.0.1") +
          "</Hubs></Favorites>\n");
    load_favorites(path);
    ASSERT_EQ(g_state.favorites_count, 2);
    const FavoriteHub& a = g_state.favorites[0];
    EXPECT_STREQ(a.name, "Home");
    EXPECT_STREQ(a.nick, "guest");
    EXPECT_STREQ(a.password, "");
    EXPECT_STREQ(a.host, "10.0.0.1");
    EXPECT_STREQ(a.port, "4111");
    EXPECT_STREQ(g_state.favorites[1].host, "10.0.0.1");
    EXPECT_STREQ(g_state.favorites[1].port, "411");
}

// Start-up says what an empty table means (tests/shell); the reader is silent.
TEST_F(Favorites, AbsentFileIsCreatedEmptyWithoutANote) {
    EXPECT_EQ(load_favorites(path), 1);
    EXPECT_EQ(g_state.favorites_count, 0);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(chat_log_text(), "");
}

TEST_F(Favorites, TextThatHoldsNoHubIsReadWithoutANote) {
    reload("Server=\"a");  // not XML at all
    EXPECT_EQ(g_state.favorites_count, 0);
    EXPECT_EQ(chat_log_text(), "");
    reload("<Favorites><Hubs></Hubs><Users><User Nick=\"x\" Server=\"a:1\"/></Users></Favorites>");
    EXPECT_EQ(g_state.favorites_count, 0);
    reload("<Favorites><Hubs>" + hub("a", "b", "h:1") + "</Hubs></Favorites>");
    EXPECT_EQ(g_state.favorites_count, 1);
    EXPECT_EQ(chat_log_text(), "");
}

TEST_F(Favorites, UnreadableFileSaysSoAndReadOnlyFileIsRead) {
    ASSERT_EQ(mkdir(file.c_str(), 0755), 0);  // a folder where the file should be
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 0);
    EXPECT_EQ(chat_log_text(), "cannot read " + file + "\r\n");
    ASSERT_EQ(rmdir(file.c_str()), 0);
    reload("<Hubs>" + hub("a", "b", "h:1") + "</Hubs>");
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    if (access(file.c_str(), W_OK) == 0) GTEST_SKIP() << "every file is writable for this user (root)";
    client_state_reset();
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 1);
}

// A FIFO would block start-up on a blank screen until something wrote to it.
TEST_F(Favorites, FifoIsNotReadAndSaysSo) {
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        load_favorites(path);
        done = true;
    });
    for (int i = 0; i < 300 && !done; i++) usleep(10 * 1000);
    bool in_time = done;
    if (!in_time) close(open(file.c_str(), O_WRONLY | O_NONBLOCK));  // lets a blocked open end
    reader.join();
    EXPECT_TRUE(in_time) << "the reader waited on the FIFO";
    EXPECT_EQ(g_state.favorites_count, 0);
    EXPECT_EQ(chat_log_text(), "cannot read " + file + "\r\n");
}

TEST_F(Favorites, TwentySixElementsGiveTwentyFive) {
    std::string text = "<Favorites><Hubs>";
    for (int i = 0; i < 26; i++) text += hub(std::string("hub").append(std::to_string(i)), "n", std::string("h").append(std::to_string(i)).append(":1"));
    write(text + "</Hubs></Favorites>");
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 25);
    EXPECT_STREQ(g_state.favorites[24].name, "hub24");
}

TEST_F(Favorites, LargestFileIsReadWholeWithinTheParsersMemory) {
    // 25 hubs with long attributes filling the 25000 bytes the reader takes:
    // the parser's fixed memory must hold the whole parse.
    std::string text = "<Favorites><Hubs>";
    for (int i = 0; i < 25; i++) {
        text += "<Hub Name=\"h" + std::to_string(i) + "\" Description=\"" + std::string(880, 'd') +
                "\" Server=\"s" + std::to_string(i) + ":1\"/>";
    }
    text += "</Hubs></Favorites>";
    ASSERT_LT(text.size(), (size_t)FAVORITES_FILE_BYTES);
    ASSERT_GT(text.size(), (size_t)FAVORITES_FILE_BYTES - 2000);
    write(text);
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 25);
    EXPECT_STREQ(g_state.favorites[24].host, "s24");
}

// One attribute nearly as long as the file the reader takes, in code page
// 1251 whose '\xb9' (U+2116) is three bytes in the parser's UTF-8: it is cut
// like any other, and the parse still fits the parser's fixed memory.
TEST_F(Favorites, AttributeAsLongAsTheFileIsCutAndTheHubKept) {
    write("<?xml version=\"1.0\" encoding=\"windows-1251\"?><Hub Name=\"" +
          std::string(FAVORITES_FILE_BYTES - 100, '\xb9') + "\" Server=\"h:1\"/>");
    load_favorites(path);
    ASSERT_EQ(g_state.favorites_count, 1) << chat_log_text();
    EXPECT_EQ(std::string(g_state.favorites[0].name), std::string(19, '\xb9'));
    EXPECT_STREQ(g_state.favorites[0].host, "h");
}

TEST_F(Favorites, LongValuesAreCutToTheirFields) {
    write("<Hub Name=\"" + std::string(25, 'N') + "\" Nick=\"" + std::string(30, 'k') + "\" Password=\"" +
          std::string(40, 'p') + "\" Server=\"" + std::string(45, 's') + "\"/>");
    load_favorites(path);
    ASSERT_EQ(g_state.favorites_count, 1);
    EXPECT_EQ(std::string(g_state.favorites[0].name), std::string(19, 'N'));
    EXPECT_EQ(std::string(g_state.favorites[0].nick), std::string(19, 'k'));
    EXPECT_EQ(std::string(g_state.favorites[0].password), std::string(31, 'p'));
    EXPECT_EQ(std::string(g_state.favorites[0].host), std::string(40, 's'));
    EXPECT_STREQ(g_state.favorites[0].port, "411");
}

TEST_F(Favorites, PortOutsideItsRangeOrAHostOfOtherCharactersIsLeftOut) {
    for (const char* server : {"host:12345678901234567890", "dchub://127.0.0.1:69847", "dchub://a b:99999999999"}) {
        reload_hubs(hub("a", "b", server) + hub("good", "b", "good.example:4111"));
        ASSERT_EQ(g_state.favorites_count, 1) << server;
        EXPECT_STREQ(g_state.favorites[0].host, "good.example");
        EXPECT_EQ(chat_log_text(), "a hub with a bad Server address is left out: " + file + "\r\n");
    }
}

TEST_F(Favorites, ColonCasesDecideThePort) {
    // ':' as the 33rd character: no port, so all host, and no host has a ':'.
    write(hub("a", "b", std::string(32, 'h') + ":411"));
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 0);
    // ':' as the 32nd character (index 31): still a port.
    client_state_reset();
    write(hub("a", "b", std::string(31, 'h') + ":2000"));
    load_favorites(path);
    EXPECT_EQ(std::string(g_state.favorites[0].host), std::string(31, 'h'));
    EXPECT_STREQ(g_state.favorites[0].port, "2000");
    // A value that starts with ':' is all host: none.
    client_state_reset();
    write(hub("a", "b", ":7"));
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 0);
    // A ':' after the closing quote is not used.
    client_state_reset();
    write("<Hub Name=\"a\" Nick=\"b\" Password=\"\" Server=\"example.org\" Other=\"x:1\"/>");
    load_favorites(path);
    EXPECT_STREQ(g_state.favorites[0].host, "example.org");
    EXPECT_STREQ(g_state.favorites[0].port, "411");
}

TEST_F(Favorites, BrokenFileKeepsTheHubsBeforeTheFault) {
    write("<Hubs>" + hub("a", "b", "one:1") + "<Hub Name=\"c\" Nick=\"d\" Password=\"\" Server=\"two:2");
    load_favorites(path);
    ASSERT_EQ(g_state.favorites_count, 1);
    EXPECT_STREQ(g_state.favorites[0].host, "one");
    reload("<Hubs>" + hub("a", "b", "one:1") + "<Hub Name=\"never closed");
    EXPECT_EQ(g_state.favorites_count, 1);
}

TEST_F(Favorites, FullBufferWithoutClosingQuoteStaysInBounds) {
    // 25000 bytes read, the last value runs into the terminator: no hub.
    std::string text = "<Hub Name=\"a\" Nick=\"b\" Password=\"c\" Server=\"";
    text += std::string(30000 - text.size(), 'z');
    write(text);
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 0);
}

TEST_F(Favorites, AttributesInAnyOrderAndEitherQuoteWithEntities) {
    write("<Favorites><Hubs>"
          "<Hub Server='first:1' Password=\"p&amp;q\" Name='Tom &amp; Jerry' Nick=\"&lt;b&gt;\"/>" +
          hub("c", "d", "second:2") + "<Hub Nick='x' Server='dchub://h&#46;example.org:411' Name='e'/>"
          "</Hubs></Favorites>");
    load_favorites(path);
    ASSERT_EQ(g_state.favorites_count, 3);
    EXPECT_STREQ(g_state.favorites[0].name, "Tom & Jerry");
    EXPECT_STREQ(g_state.favorites[0].nick, "<b>");
    EXPECT_STREQ(g_state.favorites[0].password, "p&q");
    EXPECT_STREQ(g_state.favorites[0].host, "first");
    EXPECT_STREQ(g_state.favorites[1].host, "second");
    EXPECT_STREQ(g_state.favorites[2].host, "h.example.org");
    EXPECT_STREQ(g_state.favorites[2].port, "411");
}

TEST_F(Favorites, TextIsReadInTheFilesEncoding) {
    // UTF-8 (declared or not) and a declared windows-1251 both become the
    // same 1251 bytes; undeclared bytes that are not UTF-8 are read as 1251.
    const std::string privet_1251 = "\xCF\xF0\xE8\xE2\xE5\xF2";
    const std::string privet_utf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
    reload("<?xml version=\"1.0\" encoding=\"utf-8\"?><Hubs>" + hub(privet_utf8, "a", "h:1") + "</Hubs>");
    EXPECT_EQ(std::string(g_state.favorites[0].name), privet_1251);
    reload("<Hubs>" + hub(privet_utf8, "a", "h:1") + "</Hubs>");
    EXPECT_EQ(std::string(g_state.favorites[0].name), privet_1251);
    reload("<?xml version=\"1.0\" encoding=\"windows-1251\"?><Hubs>" + hub(privet_1251, "a", "h:1") + "</Hubs>");
    EXPECT_EQ(std::string(g_state.favorites[0].name), privet_1251);
    reload("<Hubs>" + hub(privet_1251, "\xEC\xE8\xF0", "h:1") + "</Hubs>");
    EXPECT_EQ(std::string(g_state.favorites[0].name), privet_1251);
    EXPECT_STREQ(g_state.favorites[0].nick, "\xEC\xE8\xF0");
    // Cut by characters, never inside one: 25 Cyrillic letters in UTF-8 keep 19.
    std::string long_utf8;
    for (int i = 0; i < 25; i++) long_utf8 += "\xD0\x96";
    reload("<Hubs>" + hub(long_utf8, "a", "h:1") + "</Hubs>");
    EXPECT_EQ(std::string(g_state.favorites[0].name), std::string(19, '\xC6'));
}

TEST_F(Favorites, FileAsDcPlusPlusWritesIt) {
    write("<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\r\n"
          "<Favorites>\r\n\t<Hubs>\r\n"
          "\t\t<Group Name=\"Friends\" Private=\"0\"/>\r\n"
          "\t\t<Hub Name=\"Big &quot;hub&quot;\" Connect=\"1\" Description=\"\" Password=\"s3cret\" "
          "Server=\"dchub://big.example.net:4111\" ChatUserSplit=\"0\" StealthMode=\"0\" UserListState=\"1\" "
          "HeaderOrder=\"\" HeaderWidths=\"\" HeaderVisible=\"\" Group=\"Friends\" Nick=\"me\" "
          "UserDescription=\"\" Email=\"\" AwayMsg=\"\" Encoding=\"UTF-8\"/>\r\n"
          "\t</Hubs>\r\n\t<Users>\r\n\t\t<User LastSeen=\"1\" GrantSlot=\"0\" UserDescription=\"\" "
          "Nick=\"friend\" URL=\"dchub://x:1\" CID=\"AAAA\"/>\r\n\t</Users>\r\n"
          "\t<UserCommands/>\r\n\t<FavoriteDirs/>\r\n</Favorites>\r\n");
    load_favorites(path);
    ASSERT_EQ(g_state.favorites_count, 1);
    const FavoriteHub& f = g_state.favorites[0];
    EXPECT_STREQ(f.name, "Big \"hub\"");
    EXPECT_STREQ(f.nick, "me");
    EXPECT_STREQ(f.password, "s3cret");
    EXPECT_STREQ(f.host, "big.example.net");
    EXPECT_STREQ(f.port, "4111");
    EXPECT_EQ(f.encoding, ENCODING_UTF8);
}

// The Encoding attribute after Server, in the spellings clients write; any
// other value, or none, is Auto. An element without one does not take the
// next element's.
TEST_F(Favorites, EncodingAttributeSpellings) {
    struct Case {
        const char* attribute;  // nullptr: none
        uint8_t encoding;
    };
    const Case cases[] = {
        {"UTF-8", ENCODING_UTF8},     {"utf-8", ENCODING_UTF8},      {"utf8", ENCODING_UTF8},
        {"UTF8", ENCODING_UTF8},      {"CP1251", ENCODING_CP1251},   {"windows-1251", ENCODING_CP1251},
        {"1251", ENCODING_CP1251},    {"CP1252", ENCODING_CP1252},   {"Windows-1252", ENCODING_CP1252},
        {"1252", ENCODING_CP1252},    {"Auto", ENCODING_AUTO},       {"KOI8-R", ENCODING_AUTO},
        {"", ENCODING_AUTO},          {"utf-16", ENCODING_AUTO},     {nullptr, ENCODING_AUTO},
    };
    std::string text = "<Favorites><Hubs>\n";
    for (const Case& c : cases) {
        text += "<Hub Name=\"n\" Nick=\"k\" Password=\"p\" Server=\"h:1\"";
        if (c.attribute != nullptr) text += std::string(" Encoding=\"") + c.attribute + "\"";
        text += " UserDescription=\"\"/>\n";
    }
    // None here, UTF-8 in the next element.
    text += "<Hub Name=\"a\" Nick=\"k\" Password=\"\" Server=\"h:1\"/>\n"
            "<Hub Name=\"b\" Nick=\"k\" Password=\"\" Server=\"h:2\" Encoding=\"UTF-8\"/>\n</Hubs></Favorites>\n";
    write(text);
    load_favorites(path);
    const int n = (int)(sizeof cases / sizeof cases[0]);
    ASSERT_EQ(g_state.favorites_count, n + 2);
    for (int i = 0; i < n; i++) {
        EXPECT_EQ(g_state.favorites[i].encoding, cases[i].encoding) << (cases[i].attribute ? cases[i].attribute : "none");
        EXPECT_STREQ(g_state.favorites[i].password, "p");
    }
    EXPECT_EQ(g_state.favorites[n].encoding, ENCODING_AUTO);
    EXPECT_EQ(g_state.favorites[n + 1].encoding, ENCODING_UTF8);
}

// TLS hubs: nmdcs:// with a keyprint, TLS="0" for transfers, a bad Server
// left out with a note, and the favourite taken as the hub in use.
const std::string KP = "SHA256/ABCDEFGHIJKLMNOPQRSTUVWXYZ234567ABCDEFGHIJKLMNOPQRST";

TEST_F(Favorites, TlsNmdcsServerWithKeyprintAndTlsSwitchAreReadAndTakenAsTheHubInUse) {
    reload_hubs("<Hub Name=\"Safe\" Nick=\"me\" Password=\"pw\" Server=\"nmdcs://safe.example:2228?kp=" + KP +
         "\" Encoding=\"UTF-8\" TLS=\"0\"/>\n"
         "<Hub Name=\"Plain\" Nick=\"me\" Password=\"\" Server=\"dchub://plain.example:411\" TLS=\"1\"/>\n"
         "<Hub Name=\"Bare\" Nick=\"me\" Password=\"\" Server=\"bare.example\"/>\n");
    ASSERT_EQ(g_state.favorites_count, 3);
    const FavoriteHub& safe = g_state.favorites[0];
    EXPECT_STREQ(safe.host, "safe.example");
    EXPECT_STREQ(safe.port, "2228");
    EXPECT_EQ(safe.tls, 1);
    EXPECT_EQ(safe.keyprint, KP);
    EXPECT_EQ(safe.tls_transfers_off, 1);
    EXPECT_EQ(safe.encoding, ENCODING_UTF8);
    for (int i = 1; i < 3; i++) {
        EXPECT_EQ(g_state.favorites[i].tls, 0);
        EXPECT_EQ(g_state.favorites[i].tls_transfers_off, 0) << "TLS is on unless switched off";
        EXPECT_STREQ(g_state.favorites[i].keyprint, "");
    }

    favorite_take(&safe, true);
    SessionSettings& s = g_state.settings;
    EXPECT_STREQ(s.hub_host, "safe.example");
    EXPECT_STREQ(s.hub_port, "2228");
    EXPECT_EQ(s.hub_tls, 1);
    EXPECT_EQ(s.hub_keyprint, KP);
    EXPECT_EQ(s.tls_transfers_off, 1);
    EXPECT_STREQ(s.password, "pw");
    // The next favourite chosen switches TLS for transfers on again; without
    // its address the hub in use stays.
    favorite_take(&g_state.favorites[1], false);
    EXPECT_EQ(s.tls_transfers_off, 0);
    EXPECT_STREQ(s.hub_host, "safe.example");
    EXPECT_EQ(s.hub_tls, 1);
}

TEST_F(Favorites, TlsHubWithABadServerIsLeftOutAndNamedInANote) {
    reload_hubs("<Hub Name=\"Bad\" Nick=\"me\" Password=\"\" Server=\"nmdcs://h:1?kp=SHA256/nope\"/>\n"
         "<Hub Name=\"Good\" Nick=\"me\" Password=\"\" Server=\"nmdcs://good.example:2228\"/>\n");
    ASSERT_EQ(g_state.favorites_count, 1);
    EXPECT_STREQ(g_state.favorites[0].name, "Good");
    EXPECT_EQ(g_state.favorites[0].tls, 1);
    EXPECT_TRUE(chat_has("a hub with a bad Server address is left out: " + file + "\r\n")) << chat_log_text();
}

}  // namespace
