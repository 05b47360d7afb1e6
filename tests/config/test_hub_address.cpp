// Hub addresses: the one parser the favourites and the settings' host field
// share (schemes, keyprint, the split at ':', malformed addresses), and the
// favourites that carry them: nmdcs:// with a keyprint, TLS="0" for
// transfers, a bad Server left out with a note, and the favourite taken as
// the hub in use.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/favorites.h"
#include "config/hub_address.h"
#include "hub/hub_test_state.h"
#include "state/client_state.h"

namespace {

const std::string KP = "SHA256/ABCDEFGHIJKLMNOPQRSTUVWXYZ234567ABCDEFGHIJKLMNOPQRST";

struct Parsed {
    int ok;
    HubAddress address;
};

Parsed parse(const std::string& text, const char* default_port = "411", int chars = 40) {
    Parsed p;
    p.ok = parse_hub_address(text.c_str(), default_port, chars, &p.address);
    return p;
}

TEST(HubAddress, SchemesDecideTlsAndTheRestSplitsAsBefore) {
    struct Case {
        const char* text;
        const char* host;
        const char* port;
        int tls;
    };
    const Case cases[] = {
        {"nmdcs://hub.example.org:2228", "hub.example.org", "2228", 1},
        {"NMDCS://Hub.Example.org", "Hub.Example.org", "411", 1},
        {"dchubs://h:1", "h", "1", 1},
        {"dchub://h.example:4111", "h.example", "4111", 0},
        {"nmdc://h.example:4111", "h.example", "4111", 0},
        {"h.example:4111", "h.example", "4111", 0},
        {"h.example", "h.example", "411", 0},
        {":7", ":7", "411", 0},                       // a ':' first is not a port
        {"adcs://h:1", "adcs", "//h:1", 0},           // no scheme of ours: as written
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Parsed p = parse(c.text);
        EXPECT_EQ(p.ok, 1);
        EXPECT_STREQ(p.address.host, c.host);
        EXPECT_STREQ(p.address.port, c.port);
        EXPECT_EQ(p.address.tls, c.tls);
        EXPECT_STREQ(p.address.keyprint, "");
    }
    // The address part is cut before it is split; the port to its field.
    Parsed cut = parse("nmdcs://" + std::string(45, 's'));
    EXPECT_EQ(std::string(cut.address.host), std::string(40, 's'));
    Parsed long_port = parse("h:12345678901234567890", "411", 51);
    EXPECT_STREQ(long_port.address.port, "12345678901");
}

TEST(HubAddress, KeyprintIsKeptUpperCaseAndAnythingElseAfterAQuestionMarkIsRefused) {
    Parsed p = parse("nmdcs://127.0.0.1:2228?kp=" + KP);
    EXPECT_EQ(p.ok, 1);
    EXPECT_STREQ(p.address.host, "127.0.0.1");
    EXPECT_STREQ(p.address.port, "2228");
    EXPECT_EQ(p.address.tls, 1);
    EXPECT_EQ(p.address.keyprint, KP);
    std::string lower = "kp=sha256/abcdefghijklmnopqrstuvwxyz234567abcdefghijklmnopqrst";
    EXPECT_EQ(parse("nmdcs://h?" + lower).address.keyprint, KP);
    // The keyprint is never cut with the address: a 40-character host keeps it.
    Parsed wide = parse("nmdcs://" + std::string(40, 'h') + ":1?kp=" + KP);
    EXPECT_EQ(wide.ok, 1);
    EXPECT_EQ(wide.address.keyprint, KP);

    const std::string bad[] = {
        "nmdcs://h:1?kp=" + KP.substr(0, KP.size() - 1),  // one character short
        "nmdcs://h:1?kp=" + KP + "A",                     // one too many
        "nmdcs://h:1?kp=SHA256/" + std::string(51, 'A') + "1",  // not base32
        "nmdcs://h:1?kp=SHA1/" + std::string(52, 'A'),
        "nmdcs://h:1?key=" + KP,
        "nmdcs://h:1?",
        "h:1?kp=" + KP + "&x=1",
        "nmdcs://",
        "nmdcs://?kp=" + KP,
    };
    for (const std::string& text : bad) {
        SCOPED_TRACE(text);
        Parsed q = parse(text);
        EXPECT_EQ(q.ok, 0);
        EXPECT_STREQ(q.address.host, "");
        EXPECT_STREQ(q.address.keyprint, "");
    }
}

class FavoritesTls : public ::testing::Test {
protected:
    char dir[64] = "/tmp/kivo-fav-tls-XXXXXX";
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
        unlink(file.c_str());
        rmdir(dir);
    }
    void load(const std::string& hubs) {
        std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Favorites><Hubs>\n" + hubs + "</Hubs></Favorites>\n";
        FILE* f = fopen(file.c_str(), "wb");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        load_favorites(path);
    }
};

TEST_F(FavoritesTls, NmdcsServerWithKeyprintAndTlsSwitchAreReadAndTakenAsTheHubInUse) {
    load("<Hub Name=\"Safe\" Nick=\"me\" Password=\"pw\" Server=\"nmdcs://safe.example:2228?kp=" + KP +
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

TEST_F(FavoritesTls, HubWithABadServerIsLeftOutAndNamedInANote) {
    load("<Hub Name=\"Bad\" Nick=\"me\" Password=\"\" Server=\"nmdcs://h:1?kp=SHA256/nope\"/>\n"
         "<Hub Name=\"Good\" Nick=\"me\" Password=\"\" Server=\"nmdcs://good.example:2228\"/>\n");
    ASSERT_EQ(g_state.favorites_count, 1);
    EXPECT_STREQ(g_state.favorites[0].name, "Good");
    EXPECT_EQ(g_state.favorites[0].tls, 1);
    EXPECT_TRUE(chat_has("a hub with a bad Server address is left out: " + file + "\r\n")) << chat_log_text();
}

}  // namespace
