// Hub addresses: the one parser the favourites and the settings' host field
// share (schemes, keyprint, the split at ':', malformed addresses). The
// favourites that carry them are read in test_favorites.cpp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "config/hub_address.h"

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
        {"h_1-x:65535", "h_1-x", "65535", 0},
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
    // The address part is cut before it is split.
    Parsed cut = parse("nmdcs://" + std::string(45, 's'));
    EXPECT_EQ(std::string(cut.address.host), std::string(40, 's'));
}

// Favourites, the settings screen and the command line all come here: a port
// is never taken modulo 65536, and a host has only the characters of one.
TEST(HubAddress, PortOutsideItsRangeOrAHostOfOtherCharactersIsNoAddress) {
    const char* bad[] = {
        "dchub://127.0.0.1:69847", "dchub://a b:99999999999", "h:12345678901234567890", "h:0", "h:65536",
        "h:411x", ":7", "adcs://h:1", "-h:411", "h\x01st:411",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        Parsed p = parse(text, "411", 51);
        EXPECT_EQ(p.ok, 0);
        EXPECT_STREQ(p.address.host, "");
        EXPECT_STREQ(p.address.port, "");
    }
    EXPECT_EQ(parse("h", "70000").ok, 0) << "the default port (the settings' Port field) is held to it too";
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

}  // namespace
