// The handshake parsers and builders on local buffers. Received texts are put
// in heap blocks of exactly their length + 1, so that a sanitizer build catches
// any read past the terminator.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "state/client_state.h"
#include "transfer/download.h"
#include "transfer/handshake.h"

namespace {

struct Exact {
    std::unique_ptr<char[]> bytes;
    int length;
    explicit Exact(const std::string& s) : bytes(new char[s.size() + 1]), length((int)s.size()) {
        memcpy(bytes.get(), s.data(), s.size());
        bytes[s.size()] = 0;
    }
    const char* text() const { return bytes.get(); }
};

GreetingStatus greet(const std::string& s, const char* job_nick, PeerGreeting* g) {
    Exact e(s);
    return parse_peer_greeting(e.text(), e.length, job_nick, g);
}

std::string key_of(const std::string& s, const PeerGreeting& g) {
    return s.substr((size_t)g.key_start, (size_t)g.key_length);
}

const std::string MICRODC_GREETING =
    "$MyNick bob|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABCA Pk=MICRODCABCABCABCABCAB|"
    "$Supports MiniSlots XmlBZList ADCGet TTHF|$Direction Upload 17767|$Key \x14\xd1\xc0/%DCN000%/|";

// --- $ConnectToMe ---------------------------------------------------------------

TEST(ConnectRequest, ReadsHostAndPortAfterOwnNick) {
    Exact r("$ConnectToMe me 127.0.0.1:4111");
    ConnectAddress a;
    ASSERT_EQ(parse_connect_request(r.text(), 2, &a), 1);
    EXPECT_STREQ(a.host, "127.0.0.1");
    EXPECT_STREQ(a.port, "4111");
}

TEST(ConnectRequest, PortStopsAtFirstNonDigit) {
    Exact r("$ConnectToMe me 10.0.0.2:411S extra");
    ConnectAddress a;
    ASSERT_EQ(parse_connect_request(r.text(), 2, &a), 1);
    EXPECT_STREQ(a.host, "10.0.0.2");
    EXPECT_STREQ(a.port, "411");
}

TEST(ConnectRequest, MalformedRequestsAreRefusedWithoutOverrun) {
    const char* bad[] = {
        "$ConnectToMe me",                   // ends before the address
        "$ConnectToMe me ",                  // empty address
        "$ConnectToMe",                      // shorter than the nick's offset
        "$ConnectToMe me 127.0.0.1",         // no ':'
        "$ConnectToMe me :4111",             // empty host
        "$ConnectToMe me 127.0.0.1:",        // no port
        "$ConnectToMe me 127.0.0.1:x411",    // port without digits
        "$ConnectToMe mex127.0.0.1:4111",    // nick length does not fit the message
        "",
    };
    for (const char* text : bad) {
        Exact r(text);
        ConnectAddress a;
        EXPECT_EQ(parse_connect_request(r.text(), 2, &a), 0) << text;
        EXPECT_STREQ(a.host, "") << text;
    }
}

TEST(ConnectRequest, OverlongHostOrPortIsRefusedNotCut) {
    ConnectAddress a;
    Exact host("$ConnectToMe me " + std::string(CONNECT_HOST_BYTES, 'h') + ":411");
    EXPECT_EQ(parse_connect_request(host.text(), 2, &a), 0);
    Exact port("$ConnectToMe me h:" + std::string(CONNECT_PORT_BYTES, '1'));
    EXPECT_EQ(parse_connect_request(port.text(), 2, &a), 0);
    Exact longest("$ConnectToMe me " + std::string(CONNECT_HOST_BYTES - 1, 'h') + ":411");
    EXPECT_EQ(parse_connect_request(longest.text(), 2, &a), 1);
}

TEST(ConnectRequest, NickLengthBeyondTheMessageIsRefused) {
    Exact r("$ConnectToMe me 1.2.3.4:5");
    ConnectAddress a;
    EXPECT_EQ(parse_connect_request(r.text(), 900, &a), 0);
    EXPECT_EQ(parse_connect_request(r.text(), -1, &a), 0);
}

// --- Greeting ---------------------------------------------------------------------

TEST(PeerGreeting, FindsKeyAfterSupportsAndDirection) {
    PeerGreeting g;
    ASSERT_EQ(greet(MICRODC_GREETING, "bob", &g), GREETING_OK);
    EXPECT_EQ(key_of(MICRODC_GREETING, g), "$Key \x14\xd1\xc0/%DCN000%/|");
}

TEST(PeerGreeting, FindsKeyDirectlyAfterTheLock) {
    std::string s = "$MyNick bob|$Lock abc Pk=x|$Key k1|";
    PeerGreeting g;
    ASSERT_EQ(greet(s, "bob", &g), GREETING_OK);
    EXPECT_EQ(key_of(s, g), "$Key k1|");
}

TEST(PeerGreeting, GreetingEndingRightAfterTheLockIsIncompleteNotOverrun) {
    PeerGreeting g;
    EXPECT_EQ(greet("$MyNick bob|$Lock abc Pk=x|", "bob", &g), GREETING_NO_KEY);
    EXPECT_EQ(greet("$MyNick bob|$Lock abc Pk=x|$K", "bob", &g), GREETING_NO_KEY);
}

TEST(PeerGreeting, NickContainingTheJobNickPasses) {
    PeerGreeting g;
    EXPECT_EQ(greet("$MyNick [x]bob_2|$Lock a|$Key k|", "bob", &g), GREETING_OK);
    EXPECT_EQ(greet("$MyNick aaab|$Lock a|$Key k|", "aab", &g), GREETING_OK);
}

TEST(PeerGreeting, NickMismatchIsFinalEvenBeforeTheLockArrives) {
    PeerGreeting g;
    EXPECT_EQ(greet("$MyNick alice|$Lock a|$Key k|", "bob", &g), GREETING_NICK_MISMATCH);
    EXPECT_EQ(greet("$MyNick alice|", "bob", &g), GREETING_NICK_MISMATCH);
    // The nick is looked for only in the peer's nick text, not in what follows.
    EXPECT_EQ(greet("$MyNick alice|$Lock bob|$Key k|", "bob", &g), GREETING_NICK_MISMATCH);
    EXPECT_EQ(greet("$MyNick bob|$Lock a|$Key k|", "", &g), GREETING_NICK_MISMATCH);
}

TEST(PeerGreeting, EachMissingPieceIsReportedWithoutOverrun) {
    PeerGreeting g;
    EXPECT_EQ(greet("", "bob", &g), GREETING_NO_NICK_BAR);
    EXPECT_EQ(greet("$MyNick ", "bob", &g), GREETING_NO_NICK_BAR);
    EXPECT_EQ(greet("$MyNick bob", "bob", &g), GREETING_NO_NICK_BAR);
    EXPECT_EQ(greet("$MyNick bob|$Supports x|", "bob", &g), GREETING_NO_LOCK);
    EXPECT_EQ(greet("$MyNick bob|$Lo", "bob", &g), GREETING_NO_LOCK);
    EXPECT_EQ(greet("$MyNick bob|$Lock abc", "bob", &g), GREETING_NO_LOCK_BAR);
    EXPECT_EQ(greet("$MyNick bob|$Lock a|$Supports x|$Direction Upload 1|", "bob", &g), GREETING_NO_KEY);
    EXPECT_EQ(greet("$MyNick bob|$Lock a|$Key abc", "bob", &g), GREETING_NO_KEY_BAR);
    EXPECT_EQ(g.key_length, 0);
}

TEST(PeerGreeting, KeyBeforeTheLockIsNotTaken) {
    PeerGreeting g;
    EXPECT_EQ(greet("$MyNick bob|$Key k|$Lock a|", "bob", &g), GREETING_NO_KEY);
}

TEST(PeerGreeting, NulByteInsideIsRefused) {
    PeerGreeting g;
    std::string s = "$MyNick bob|$Lock a|$Key k|";
    s[14] = '\0';
    EXPECT_EQ(greet(s, "bob", &g), GREETING_NUL_BYTE);
    EXPECT_FALSE(greeting_incomplete(GREETING_NUL_BYTE));
    EXPECT_TRUE(greeting_incomplete(GREETING_NO_KEY_BAR));
}

// --- Length reply -------------------------------------------------------------------

LengthStatus length_of(const std::string& s, uint64_t* total, int* quoted) {
    Exact e(s);
    return parse_length_reply(e.text(), e.length, total, quoted);
}

TEST(LengthReply, ReadsTheAnnouncedLengthIn64Bits) {
    uint64_t total;
    int quoted;
    ASSERT_EQ(length_of("$FileLength 12345|", &total, &quoted), LENGTH_OK);
    EXPECT_EQ(total, 12345u);
    ASSERT_EQ(length_of("$FileLength 0|", &total, &quoted), LENGTH_OK);
    EXPECT_EQ(total, 0u);
    ASSERT_EQ(length_of("$FileLength 6000000000|", &total, &quoted), LENGTH_OK);
    EXPECT_EQ(total, 6000000000ull);
    ASSERT_EQ(length_of("$FileLength 18446744073709551615|", &total, &quoted), LENGTH_OK);
    EXPECT_EQ(total, UINT64_MAX);
}

TEST(LengthReply, RefusalIsNotReadAsAZeroLengthFile) {
    uint64_t total = 1;
    int quoted;
    EXPECT_EQ(length_of("$Error File Not Available|", &total, &quoted), LENGTH_NOT_FILE_LENGTH);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(quoted, 25);
    EXPECT_EQ(length_of("$MaxedOut|", &total, &quoted), LENGTH_SHORT);
    EXPECT_EQ(quoted, 9);
}

TEST(LengthReply, ShortOrBadNumbersAreRefusedWithoutOverrun) {
    uint64_t total;
    int quoted;
    EXPECT_EQ(length_of("", &total, &quoted), LENGTH_NO_BAR);
    EXPECT_EQ(length_of("$FileLength 12", &total, &quoted), LENGTH_NO_BAR);
    EXPECT_EQ(length_of("$FileLength|", &total, &quoted), LENGTH_SHORT);
    EXPECT_EQ(length_of("$FileLength |", &total, &quoted), LENGTH_SHORT);
    EXPECT_EQ(length_of("|", &total, &quoted), LENGTH_SHORT);
    EXPECT_EQ(length_of("$FileLength x|", &total, &quoted), LENGTH_BAD_NUMBER);
    EXPECT_EQ(length_of("$FileLength 12x|", &total, &quoted), LENGTH_BAD_NUMBER);
    EXPECT_EQ(length_of("$FileLength -5|", &total, &quoted), LENGTH_BAD_NUMBER);
    EXPECT_EQ(length_of("$FileLength 18446744073709551616|", &total, &quoted), LENGTH_BAD_NUMBER);
    EXPECT_EQ(length_of("$FileLengthX12|", &total, &quoted), LENGTH_NOT_FILE_LENGTH);
    std::string nul = "$FileLength 5|";
    nul[3] = '\0';
    EXPECT_EQ(length_of(nul, &total, &quoted), LENGTH_NUL_BYTE);
}

// --- What the client sends ------------------------------------------------------------

TEST(HandshakeBuild, GreetingIsTheExactText) {
    char out[200];
    int n = build_greeting(out, sizeof out, "me");
    EXPECT_EQ(std::string(out, (size_t)n),
              "$MyNick me|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABC Pk=KIVOLOKTAN0.242ABCABC|");
}

TEST(HandshakeBuild, RequestEchoesThePeersKeyByteForByte) {
    PeerGreeting g;
    ASSERT_EQ(greet(MICRODC_GREETING, "bob", &g), GREETING_OK);
    char out[400];
    int n = build_download_request(out, sizeof out, MICRODC_GREETING.c_str() + g.key_start, g.key_length,
                                   "Music\\a.mp3");
    EXPECT_EQ(std::string(out, (size_t)n),
              "$Supports MiniSlots ADCGet TTHF |$Direction Download 21356|$Key \x14\xd1\xc0/%DCN000%/|$Get Music\\a.mp3$1|");
}

TEST(HandshakeBuild, MessageThatDoesNotFitIsRefusedNotCut) {
    char out[60];
    EXPECT_EQ(build_greeting(out, sizeof out, "me"), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(build_download_request(out, sizeof out, "$Key k|", 7, "path"), -1);
    EXPECT_STREQ(out, "");
}

// --- Local file name --------------------------------------------------------------------

TEST(SafeFileName, SeparatorsAndControlBytesBecomeUnderscores) {
    char out[RESULT_SHORT_BYTES];
    ASSERT_EQ(make_safe_file_name("../../etc/passwd", out, sizeof out), 1);
    EXPECT_STREQ(out, ".._.._etc_passwd");
    ASSERT_EQ(make_safe_file_name("/abs", out, sizeof out), 1);
    EXPECT_STREQ(out, "_abs");
    ASSERT_EQ(make_safe_file_name("a\x1b[2Jb\x7f", out, sizeof out), 1);
    EXPECT_STREQ(out, "a_[2Jb_");
    ASSERT_EQ(make_safe_file_name("\xcf\xf0\xe8\xe2\xe5\xf2.txt", out, sizeof out), 1);
    EXPECT_STREQ(out, "\xcf\xf0\xe8\xe2\xe5\xf2.txt");  // Cyrillic kept as it is
}

TEST(SafeFileName, NamesThatCannotBeMadeSafeAreRefused) {
    char out[RESULT_SHORT_BYTES];
    EXPECT_EQ(make_safe_file_name("", out, sizeof out), 0);
    EXPECT_EQ(make_safe_file_name(".", out, sizeof out), 0);
    EXPECT_EQ(make_safe_file_name("..", out, sizeof out), 0);
    EXPECT_STREQ(out, "");
    char small[4];
    EXPECT_EQ(make_safe_file_name("abcd", small, sizeof small), 0);
    EXPECT_EQ(make_safe_file_name("...", out, sizeof out), 1);
}

}  // namespace
