// The handshake parsers and builders on local buffers. Received texts are put
// in heap blocks of exactly their length + 1, so that a sanitizer build catches
// any read past the terminator.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/handshake.h"
#include "state/client_state.h"
#include "transfer/download.h"

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
    EXPECT_EQ(a.tls, 0);
}

TEST(ConnectRequest, PortStopsAtFirstNonDigit) {
    Exact r("$ConnectToMe me 10.0.0.2:411S extra");
    ConnectAddress a;
    ASSERT_EQ(parse_connect_request(r.text(), 2, &a), 1);
    EXPECT_STREQ(a.host, "10.0.0.2");
    EXPECT_STREQ(a.port, "411");
}

// An S right behind the port's digits (or behind NAT traversal's N or R)
// marks a TLS port.
TEST(ConnectRequest, SBehindThePortMarksATlsPort) {
    struct Case {
        const char* text;
        const char* port;
        int tls;
    } cases[] = {
        {"$ConnectToMe me 127.0.0.1:4111S", "4111", 1},
        {"$ConnectToMe me 10.0.0.2:411S extra", "411", 1},
        {"$ConnectToMe me 127.0.0.1:4111", "4111", 0},
        {"$ConnectToMe me 127.0.0.1:4111 S", "4111", 0},
        {"$ConnectToMe me 127.0.0.1:4111s", "4111", 0},
        {"$ConnectToMe me 127.0.0.1:4111NS other", "4111", 1},  // NAT traversal's marks
        {"$ConnectToMe me 127.0.0.1:4111RS other", "4111", 1},
        {"$ConnectToMe me 127.0.0.1:4111N other", "4111", 0},
    };
    for (const Case& c : cases) {
        Exact r(c.text);
        ConnectAddress a;
        ASSERT_EQ(parse_connect_request(r.text(), 2, &a), 1) << c.text;
        EXPECT_STREQ(a.port, c.port) << c.text;
        EXPECT_EQ(a.tls, c.tls) << c.text;
    }
    ConnectAddress a;
    a.tls = 1;
    Exact bad("$ConnectToMe me 127.0.0.1:S");
    EXPECT_EQ(parse_connect_request(bad.text(), 2, &a), 0);
    EXPECT_EQ(a.tls, 0);
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
        "$ConnectToMe me 127.0.0.1:69848",   // never taken modulo 65536 (as 4312)
        "$ConnectToMe me 127.0.0.1:0",
        "$ConnectToMe me a b:411",           // no host has a blank
        "$ConnectToMe me -h:411",
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

// --- $ADCGET and $ADCSND -----------------------------------------------------------

TEST(AdcGreeting, AdcGetIsTakenOnlyFromTheSupportsList) {
    PeerGreeting g;
    const std::string ncdc = "$MyNick bob|$Lock EXTENDEDPROTOCOL/wut? Pk=ncdc-1.23.1|"
                             "$Supports MiniSlots XmlBZList ADCGet TTHL TTHF|$Direction Upload 0|$Key k|";
    ASSERT_EQ(greet(ncdc, "bob", &g), GREETING_OK);
    EXPECT_EQ(g.adc_get, 1);
    // eiskaltdcpp's list ends in a blank before the bar.
    ASSERT_EQ(greet("$MyNick bob|$Lock a|$Supports MiniSlots ADCGet |$Key k|", "bob", &g), GREETING_OK);
    EXPECT_EQ(g.adc_get, 1);
    ASSERT_EQ(greet("$MyNick bob|$Lock a|$Supports MiniSlots XmlBZList|$Key k|", "bob", &g), GREETING_OK);
    EXPECT_EQ(g.adc_get, 0);
    // Not a whole word of the list, or named outside it: no ADCGet.
    ASSERT_EQ(greet("$MyNick bob|$Lock a|$Supports ADCGetX XADCGet|$Key k|", "bob", &g), GREETING_OK);
    EXPECT_EQ(g.adc_get, 0);
    ASSERT_EQ(greet("$MyNick bob|$Lock ADCGet|$Direction ADCGet|$Key k|$Supports ADCGet|", "bob", &g), GREETING_OK);
    EXPECT_EQ(g.adc_get, 0);
}

TEST(AdcRequest, IdIsTheTthOrTheEscapedSlashPath) {
    char id[80];
    EXPECT_EQ(adc_file_id("B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SI", "share\\a.txt", id, sizeof id), 43);
    EXPECT_STREQ(id, "TTH/B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SI");
    adc_file_id("", "share\\big\\a b.bin", id, sizeof id);
    EXPECT_STREQ(id, "/share/big/a\\sb.bin");
    adc_file_id("", "\\share\\alpha.txt", id, sizeof id);  // ncdc's leading backslash
    EXPECT_STREQ(id, "/share/alpha.txt");
    adc_file_id("", "two\nlines", id, sizeof id);
    EXPECT_STREQ(id, "/two\\nlines");
    // A Cyrillic name goes out in UTF-8: 1251 "\xcf\xf0\xe8" is "При".
    adc_file_id("", "pub\\\xcf\xf0\xe8 1.bin", id, sizeof id);
    EXPECT_STREQ(id, "/pub/При\\s1.bin");
    // From a UTF-8 hub the path is UTF-8 already: taken as it is.
    adc_file_id("", "pub\\При 1.bin", id, sizeof id, true);
    EXPECT_STREQ(id, "/pub/При\\s1.bin");
    // Every blank doubles: a path that fits only unescaped is refused whole.
    char small[10];
    EXPECT_EQ(adc_file_id("", "a b c d", small, sizeof small), -1);
    EXPECT_STREQ(small, "");
}

TEST(AdcRequest, RequestCarriesOffsetAndLengthOrToTheEnd) {
    char out[200];
    AdcAsked whole = {"TTH/ABC", 0, 2816};
    int n = build_adc_request(out, sizeof out, "$Key k|", 7, &whole);
    EXPECT_EQ(std::string(out, (size_t)n),
              "$Supports MiniSlots ADCGet TTHF |$Direction Download 21356|$Key k|$ADCGET file TTH/ABC 0 2816|");
    AdcAsked rest = {"/a\\sb", 5000000000ull, -1};
    build_adc_request(out, sizeof out, "$Key k|", 7, &rest);
    EXPECT_NE(std::string(out).find("|$ADCGET file /a\\sb 5000000000 -1|"), std::string::npos);
    // The legacy form counts from 1.
    build_download_request(out, sizeof out, "$Key k|", 7, "x\\y.bin", 1000);
    EXPECT_NE(std::string(out).find("|$Get x\\y.bin$1001|"), std::string::npos);
}

AdcSendStatus adc_send(const std::string& reply, const AdcAsked& asked, uint64_t* count, int* message) {
    return parse_adc_send(reply.data(), (int)reply.size(), &asked, count, message);
}

TEST(AdcSend, AnswerToTheRequestGivesTheCountAndWhereTheBytesStart) {
    AdcAsked asked = {"TTH/ABC", 100, 50};
    uint64_t count;
    int message;
    EXPECT_EQ(adc_send("$ADCSND file TTH/ABC 100 50|bytes", asked, &count, &message), ADCSND_OK);
    EXPECT_EQ(count, 50u);
    EXPECT_EQ(message, 27);
    // Fewer bytes than asked: the peer's file is shorter; that is its answer.
    EXPECT_EQ(adc_send("$ADCSND file TTH/ABC 100 20|", asked, &count, &message), ADCSND_OK);
    EXPECT_EQ(count, 20u);
    // ncdc and eiskaltdcpp echo "\s" as a backslash and a real blank.
    AdcAsked by_path = {"/pub/a\\sb.bin", 0, 10};
    EXPECT_EQ(adc_send("$ADCSND file /pub/a\\ b.bin 0 10|", by_path, &count, &message), ADCSND_OK);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(adc_send("$ADCSND file /pub/a\\sb.bin 0 10 TL10|", by_path, &count, &message), ADCSND_OK);
    EXPECT_EQ(adc_send("$ADCSND file /pub/a\\sc.bin 0 10|", by_path, &count, &message), ADCSND_OTHER_FILE);
    AdcAsked to_end = {"TTH/ABC", 0, -1};
    EXPECT_EQ(adc_send("$ADCSND file TTH/ABC 0 9000000000|", to_end, &count, &message), ADCSND_OK);
    EXPECT_EQ(count, 9000000000u);
}

TEST(AdcSend, EveryOtherAnswerIsRefusedWithoutOverrun) {
    AdcAsked asked = {"TTH/ABC", 100, 50};
    uint64_t count;
    int message;
    const struct {
        std::string reply;
        AdcSendStatus status;
    } cases[] = {
        {"$ADCSND file TTH/ABC 100 50", ADCSND_NO_BAR},
        {"", ADCSND_NO_BAR},
        {"$ADCSND file TTH/ABC 100 51|", ADCSND_TOO_LONG},
        {"$ADCSND file TTH/ABD 100 50|", ADCSND_OTHER_FILE},
        {"$ADCSND file TTH/AB 100 50|", ADCSND_OTHER_FILE},
        {"$ADCSND file TTH/ABC 0 50|", ADCSND_OTHER_OFFSET},
        {"$ADCSND file TTH/ABC 100 50 ZL1|", ADCSND_COMPRESSED},
        {"$ADCSND file TTH/ABC 100|", ADCSND_MALFORMED},
        {"$ADCSND file TTH/ABC 100 -1|", ADCSND_MALFORMED},
        {"$ADCSND file TTH/ABC 1x0 50|", ADCSND_MALFORMED},
        {"$ADCSND file TTH/ABC 100 99999999999999999999|", ADCSND_MALFORMED},
        {"$ADCSND file  100 50|", ADCSND_MALFORMED},
        {"$ADCSND list / 0 50|", ADCSND_NOT_ADCSND},
        {"$MaxedOut|", ADCSND_NOT_ADCSND},
        {"$Error File Not Available|", ADCSND_NOT_ADCSND},
        {std::string("$ADCSND file TTH/A\0C 100 50|", 28), ADCSND_NUL_BYTE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(adc_send(c.reply, asked, &count, &message), c.status);
        EXPECT_EQ(count, 0u);
    }
}

TEST(AdcSend, RefusalsSayWhy) {
    char detail[61];
    EXPECT_EQ(peer_refusal("$MaxedOut", 9, detail, sizeof detail), 1);
    EXPECT_STREQ(detail, "no free slot");
    EXPECT_EQ(peer_refusal("$Error File Not Available", 25, detail, sizeof detail), 1);
    EXPECT_STREQ(detail, "File Not Available");
    std::string long_error = "$Error " + std::string(200, 'e');
    EXPECT_EQ(peer_refusal(long_error.c_str(), (int)long_error.size(), detail, sizeof detail), 1);
    EXPECT_EQ(std::string(detail), std::string(60, 'e'));
    EXPECT_EQ(peer_refusal("$MaxedOutX", 10, detail, sizeof detail), 0);
    EXPECT_EQ(peer_refusal("$Error ", 7, detail, sizeof detail), 0);
    EXPECT_EQ(peer_refusal("$FileLength 5", 13, detail, sizeof detail), 0);
}

namespace {

// What a peer that connects to Kivo says first, fed as it may come: whole,
// a byte at a time, or wrong. A buffer of exactly the bytes received, so a
// sanitizer build catches a read past them.
TEST(IncomingGreeting, NickOnceTheLockIsCompleteWhateverTheCutting) {
    const std::string first = "$MyNick sharer_ncdc|$Lock EXTENDEDPROTOCOL/wut? Pk=ncdc-1.23.1|$Supports";
    char nick[RESULT_NICK_BYTES];
    int lock_end = (int)first.find("$Supports");
    for (int length = 0; length <= (int)first.size(); length++) {
        std::vector<char> received(first.begin(), first.begin() + length);
        IncomingStatus status = parse_incoming_greeting(received.data(), length, nick, RESULT_NICK_BYTES);
        EXPECT_EQ(status, length < lock_end ? INCOMING_MORE : INCOMING_OK) << length;
    }
    EXPECT_STREQ(nick, "sharer_ncdc");
    struct Bad {
        std::string text;
    } bad[] = {
        {"$Lock EXTENDEDPROTOCOL Pk=x|"},                  // no nick first
        {"$MyNick |$Lock x|"},                             // an empty nick
        {"$MyNick bob|$Key x|"},                           // no lock after it
        {"$MyNick bob|$Lo\0k x|"},                         // a NUL
        {"$MyNick " + std::string(RESULT_NICK_BYTES, 'n') + "|$Lock x|"},  // too long to be anybody's
        {"$MyNick " + std::string(RESULT_NICK_BYTES, 'n')},                 // ... even before its bar
        {"GET / HTTP/1.1\r\n"},
    };
    bad[3].text = std::string("$MyNick bob|$Lo\0k x|", 20);
    for (const Bad& b : bad) {
        std::vector<char> received(b.text.begin(), b.text.end());
        EXPECT_EQ(parse_incoming_greeting(received.data(), (int)received.size(), nick, RESULT_NICK_BYTES),
                  INCOMING_MALFORMED)
            << b.text;
        EXPECT_STREQ(nick, "");
    }
}

}  // namespace
