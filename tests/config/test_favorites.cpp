// The favourites reader: attribute search in a fixed order, field limits,
// the Server split at ':', and the file created empty when absent.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/favorites.h"
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
        ASSERT_NE(mkdtemp(dir), nullptr);
        file = std::string(dir) + "/Favorites.xml";
        utf8_to_utf16(file.c_str(), -1, path, 512);
    }
    void TearDown() override {
        unlink(file.c_str());
        rmdir(dir);
    }
    void write(const std::string& text) {
        FILE* f = fopen(file.c_str(), "wb");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
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

TEST_F(Favorites, AbsentFileIsCreatedEmpty) {
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 0);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST_F(Favorites, NineBytesAreNotParsedTenAre) {
    write("Server=\"a");  // 9 bytes
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 0);
    // Ten bytes are parsed; a whole record needs more, so the count stays 0,
    // but the reader did run: the slots were zero-filled.
    g_state.favorites[0].name[0] = 'q';
    write("Name=\"abc\"");
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 0);
    EXPECT_STREQ(g_state.favorites[0].name, "abc");
}

TEST_F(Favorites, TwentySixElementsGiveTwentyFive) {
    std::string text;
    for (int i = 0; i < 26; i++) text += hub(std::string("hub").append(std::to_string(i)), "n", std::string("h").append(std::to_string(i)).append(":1"));
    write(text);
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 25);
    EXPECT_STREQ(g_state.favorites[24].name, "hub24");
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

TEST_F(Favorites, LongPortTextIsCutNotOverflowed) {
    write(hub("a", "b", "host:12345678901234567890"));
    load_favorites(path);
    ASSERT_EQ(g_state.favorites_count, 1);
    EXPECT_STREQ(g_state.favorites[0].host, "host");
    EXPECT_STREQ(g_state.favorites[0].port, "123456789");
}

TEST_F(Favorites, ColonCasesDecideThePort) {
    // ':' as the 33rd character: no port.
    write(hub("a", "b", std::string(32, 'h') + ":411"));
    load_favorites(path);
    EXPECT_EQ(std::string(g_state.favorites[0].host), std::string(32, 'h') + ":411");
    EXPECT_STREQ(g_state.favorites[0].port, "411");
    // ':' as the 32nd character (index 31): still a port.
    client_state_reset();
    write(hub("a", "b", std::string(31, 'h') + ":2000"));
    load_favorites(path);
    EXPECT_EQ(std::string(g_state.favorites[0].host), std::string(31, 'h'));
    EXPECT_STREQ(g_state.favorites[0].port, "2000");
    // A value that starts with ':' is all host.
    client_state_reset();
    write(hub("a", "b", ":7"));
    load_favorites(path);
    EXPECT_STREQ(g_state.favorites[0].host, ":7");
    EXPECT_STREQ(g_state.favorites[0].port, "411");
    // A ':' after the closing quote is not used.
    client_state_reset();
    write("<Hub Name=\"a\" Nick=\"b\" Password=\"\" Server=\"example.org\" Other=\"x:1\"/>");
    load_favorites(path);
    EXPECT_STREQ(g_state.favorites[0].host, "example.org");
    EXPECT_STREQ(g_state.favorites[0].port, "411");
}

TEST_F(Favorites, UnclosedValueEndsTheParseWithoutReadingPastTheText) {
    write(hub("a", "b", "one:1") + "<Hub Name=\"c\" Nick=\"d\" Password=\"\" Server=\"two:2");
    load_favorites(path);
    ASSERT_EQ(g_state.favorites_count, 2);  // an unclosed Server still counts
    EXPECT_STREQ(g_state.favorites[1].host, "two");
    EXPECT_STREQ(g_state.favorites[1].port, "2");
    client_state_reset();
    write(hub("a", "b", "one:1") + "<Hub Name=\"never closed");
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 1);
}

TEST_F(Favorites, FullBufferWithoutClosingQuoteStaysInBounds) {
    // 25000 bytes read, the last value runs into the terminator.
    std::string text = "<Hub Name=\"a\" Nick=\"b\" Password=\"c\" Server=\"";
    text += std::string(30000 - text.size(), 'z');
    write(text);
    load_favorites(path);
    EXPECT_EQ(g_state.favorites_count, 1);
    EXPECT_EQ(std::string(g_state.favorites[0].host), std::string(40, 'z'));
}

TEST_F(Favorites, ServerBeforeNameTakesTheNextServer) {
    write("<Hub Server=\"first:1\" Name=\"a\" Nick=\"b\" Password=\"\"/>" + hub("c", "d", "second:2"));
    load_favorites(path);
    ASSERT_EQ(g_state.favorites_count, 1);
    EXPECT_STREQ(g_state.favorites[0].name, "a");
    EXPECT_STREQ(g_state.favorites[0].host, "second");
}

// The Encoding attribute after Server, in the spellings clients write; any
// other value, or none, is code page 1251. An element without one does not
// take the next element's.
TEST_F(Favorites, EncodingAttributeSpellings) {
    struct Case {
        const char* attribute;  // nullptr: none
        uint8_t encoding;
    };
    const Case cases[] = {
        {"UTF-8", ENCODING_UTF8},     {"utf-8", ENCODING_UTF8},      {"utf8", ENCODING_UTF8},
        {"UTF8", ENCODING_UTF8},      {"CP1251", ENCODING_CP1251},   {"windows-1251", ENCODING_CP1251},
        {"1251", ENCODING_CP1251},    {"KOI8-R", ENCODING_CP1251},   {"", ENCODING_CP1251},
        {"utf-16", ENCODING_CP1251},  {nullptr, ENCODING_CP1251},
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
    EXPECT_EQ(g_state.favorites[n].encoding, ENCODING_CP1251);
    EXPECT_EQ(g_state.favorites[n + 1].encoding, ENCODING_UTF8);
}

TEST_F(Favorites, NonAsciiBytesAreCopiedUnchanged) {
    write(hub("\xCF\xF0\xE8\xE2\xE5\xF2", "\xEC\xE8\xF0", "h:1"));
    load_favorites(path);
    EXPECT_STREQ(g_state.favorites[0].name, "\xCF\xF0\xE8\xE2\xE5\xF2");
    EXPECT_STREQ(g_state.favorites[0].nick, "\xEC\xE8\xF0");
}

}  // namespace
