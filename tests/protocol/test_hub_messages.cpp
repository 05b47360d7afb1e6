// The hub messages the client builds and the one it reads, on local buffers:
// the login block's limit, the outgoing chat and private messages, the exact
// $Search bytes, and the $SR parser on the forms real hubs and clients send.
// Received texts are put in buffers of exactly their size, so that a
// sanitizer build catches any read or write past the terminator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/hub_messages.h"
#include "state/client_state.h"
#include "state/text_scan.h"

namespace {

// --- The login block's limit ------------------------------------------------------

// The block's fixed texts with an empty contact text.
constexpr int LOGIN_FIXED_CHARS = 161;

TEST(LoginBlock, FixedTextsTake161Characters) {
    char block[LOGIN_BLOCK_BYTES];
    EXPECT_EQ(build_login_block(nullptr, "", "", false, block, LOGIN_BLOCK_BYTES), LOGIN_FIXED_CHARS);
}

TEST(LoginBlock, TlsTransfersSetBit0x10OfTheFlagByteOnly) {
    char plain[LOGIN_BLOCK_BYTES], tls[LOGIN_BLOCK_BYTES];
    int plain_length = build_login_block(nullptr, "me", "5", false, plain, LOGIN_BLOCK_BYTES);
    int tls_length = build_login_block(nullptr, "me", "5", true, tls, LOGIN_BLOCK_BYTES);
    ASSERT_EQ(plain_length, tls_length);
    std::string a(plain), b(tls);
    size_t at = a.find("$ $Modem ");
    ASSERT_NE(at, std::string::npos) << a;
    at += 8;  // the flag byte
    EXPECT_EQ(a[at] | 0x10, b[at]);
    EXPECT_EQ(b[at], '0');
    a[at] = b[at];
    EXPECT_EQ(a, b);  // nothing else differs
    EXPECT_EQ(b.substr(b.size() - 12), "$Modem0$$5$|");
}

TEST(LoginBlock, BlockOfExactly999CharactersIsAccepted) {
    char block[LOGIN_BLOCK_BYTES + 8];
    memset(block, 0x5A, sizeof block);
    std::string nick(418, 'n');
    // 161 + 2 * 418 + 2 = 999.
    EXPECT_EQ(build_login_block(nullptr, nick.c_str(), "12", false, block, LOGIN_BLOCK_BYTES), 999);
    EXPECT_EQ(block[999], '\0');
    for (int i = LOGIN_BLOCK_BYTES; i < LOGIN_BLOCK_BYTES + 8; i++) EXPECT_EQ(block[i], 0x5A);
}

TEST(LoginBlock, OneCharacterMoreIsRefusedNotCut) {
    char block[LOGIN_BLOCK_BYTES + 8];
    memset(block, 0x5A, sizeof block);
    std::string nick(418, 'n');
    EXPECT_EQ(build_login_block(nullptr, nick.c_str(), "123", false, block, LOGIN_BLOCK_BYTES), -1);
    EXPECT_EQ(block[0], '\0');
    for (int i = LOGIN_BLOCK_BYTES; i < LOGIN_BLOCK_BYTES + 8; i++) EXPECT_EQ(block[i], 0x5A);
}

TEST(LoginBlock, LongestKeyWithSettingsScreenLimitsFits) {
    // The settings screen keeps nick and share text to 99 characters each.
    char block[LOGIN_BLOCK_BYTES];
    std::string key = "$Key " + std::string(248, 'k') + "|";
    std::string nick(99, 'n'), share(99, '9');
    EXPECT_EQ(build_login_block(key.c_str(), nick.c_str(), share.c_str(), false, block, LOGIN_BLOCK_BYTES),
              LOGIN_FIXED_CHARS + 254 + 3 * 99);
}

TEST(LoginBlock, HugeSettingsNeverOverflowTheBlock) {
    char block[LOGIN_BLOCK_BYTES + 8];
    memset(block, 0x5A, sizeof block);
    std::string nick(NICK_BYTES - 1, 'n'), share(SHARE_TEXT_BYTES - 1, '9');
    EXPECT_EQ(build_login_block(nullptr, nick.c_str(), share.c_str(), false, block, LOGIN_BLOCK_BYTES), -1);
    for (int i = LOGIN_BLOCK_BYTES; i < LOGIN_BLOCK_BYTES + 8; i++) EXPECT_EQ(block[i], 0x5A);
}

// --- The outgoing chat message --------------------------------------------------

std::string chat_message(const std::string& input, const char* nick = "me") {
    char out[CHAT_MESSAGE_BYTES];
    int n = build_chat_message(input.c_str(), nick, out, CHAT_MESSAGE_BYTES);
    EXPECT_EQ(n, (int)strlen(out));
    return std::string(out);
}

TEST(ChatMessage, PublicLineEndsWithBlankBeforeBar) {
    EXPECT_EQ(chat_message("hello"), "<me> hello |");
}

TEST(ChatMessage, EmptyLineStillSendsNickAndTwoBlanks) {
    EXPECT_EQ(chat_message(""), "<me>  |");
}

TEST(ChatMessage, PrivateLineBlanksTheAddressee) {
    EXPECT_EQ(chat_message(">bob hi"), "$To: bob From: me $<me>      hi |");
}

TEST(ChatMessage, PrivateLineWithoutTextKeepsTheTerminator) {
    EXPECT_EQ(chat_message(">bob"), "$To: bob From: me $<me>      |");
}

TEST(ChatMessage, AddresseeLongerThan49IsCut) {
    std::string nick(60, 'n');
    std::string message = chat_message(">" + nick + " hi");
    EXPECT_EQ(message, "$To: " + nick.substr(0, 49) + " From: me $<me> " + std::string(62, ' ') + "hi |");
}

// Every character escaped takes six bytes: the buffer holds the longest own
// nick with the longest input made of nothing but '|', public or private.
TEST(ChatMessage, LargestInputFitsItsBuffer) {
    std::string nick(HUB_NICK_BYTES - 1, 'm');
    std::string bars(CHAT_INPUT_BYTES - 1, '|');
    std::string escaped;
    for (size_t i = 0; i < bars.size(); i++) escaped += "&#124;";
    std::string message = chat_message(bars, nick.c_str());
    EXPECT_EQ(message, "<" + nick + "> " + escaped + " |");
    EXPECT_LE((int)message.size(), CHAT_MESSAGE_BYTES - 1);
    // Private: the longest addressee kept, the rest of the input escaped.
    std::string input = ">";
    input.append((size_t)(TARGET_NICK_BYTES - 1), 't');
    input += ' ';
    input.append((size_t)(CHAT_INPUT_BYTES - 1) - input.size(), '$');
    message = chat_message(input, nick.c_str());
    ASSERT_FALSE(message.empty());
    EXPECT_LE((int)message.size(), CHAT_MESSAGE_BYTES - 1);
    EXPECT_EQ(message.substr(message.size() - 7), "&#36; |");
}

TEST(ChatMessage, TooSmallBufferRefusesWithoutWritingPastIt) {
    char out[24];
    memset(out, 0x5A, sizeof out);
    EXPECT_EQ(build_chat_message("hello there", "me", out, 16), -1);
    EXPECT_EQ(out[0], '\0');
    for (int i = 16; i < 24; i++) EXPECT_EQ(out[i], 0x5A);
}

TEST(ChatMessage, EscapedTextReadsBackAsTyped) {
    // Every byte but NUL, and the escapes themselves, as typed text.
    std::string typed = "x&#124;&#36;&amp;&&#124;;&amp&#12|$&";
    for (int b = 1; b < 256; b++) typed += (char)b;
    std::string message = chat_message(typed);
    std::string escaped = message.substr(5, message.size() - 7);  // between "<me> " and " |"
    EXPECT_EQ(escaped.find('|'), std::string::npos);
    EXPECT_EQ(escaped.find('$'), std::string::npos);
    std::vector<char> buffer(escaped.begin(), escaped.end());
    buffer.push_back('\0');
    EXPECT_EQ(nmdc_unescape(buffer.data()), (int)typed.size());
    EXPECT_EQ(std::string(buffer.data()), typed);
}

// --- Escapes read back --------------------------------------------------------

// The sender names the conversation a received message goes to: a field
// that is missing, empty, unended or too long names nobody, never a cut nick.
TEST(PrivateSender, NickAfterFromUpToItsBlankAndNothingFromMalformedMessages) {
    char nick[USER_NAME_BYTES] = "stale";
    EXPECT_EQ(private_sender("$To: me From: bob $<bob> hi", nick, USER_NAME_BYTES), 3);
    EXPECT_STREQ(nick, "bob");
    const std::string too_long = "$To: me From: " + std::string(USER_NAME_BYTES, 'x') + " $<x> hi";
    for (const std::string& bad : {std::string("$To: me $<bob> hi"), std::string("$To: me From:  $<bob> hi"),
                                   std::string("$To: me From: bob"), std::string("$To: me From: "), too_long}) {
        strcpy(nick, "stale");
        EXPECT_EQ(private_sender(bad.c_str(), nick, USER_NAME_BYTES), 0) << bad;
        EXPECT_STREQ(nick, "") << bad;
    }
    char target[TARGET_NICK_BYTES];
    EXPECT_EQ(private_target(">bob hi", target), 3);
    EXPECT_STREQ(target, "bob");
    EXPECT_EQ(private_target("bob hi", target), 0);
    std::string long_target(61, 'n');  // ">" and 60 letters
    long_target[0] = '>';
    EXPECT_EQ(private_target(long_target.c_str(), target), TARGET_NICK_BYTES - 1);
}

TEST(Unescape, TheThreeEscapesAndNothingElse) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"a&#124;b", "a|b"},
        {"&#36;&#36;", "$$"},
        {"&amp;#36;", "&#36;"},   // read once, not again
        {"&amp;amp;", "&amp;"},
        {"&#124", "&#124"},       // cut short at the end
        {"&#12;&#x7C;&lt;&AMP;", "&#12;&#x7C;&lt;&AMP;"},
        {"&&#36;&", "&$&"},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(c.in, c.in + strlen(c.in) + 1);  // exactly its size
        EXPECT_EQ(nmdc_unescape(buffer.data()), (int)strlen(c.out)) << c.in;
        EXPECT_STREQ(buffer.data(), c.out) << c.in;
    }
}

// --- The password answer ---------------------------------------------------------

TEST(MyPass, PasswordGoesOutAsItStandsAndOneWithABarIsRefused) {
    char out[MY_PASS_BYTES];
    EXPECT_EQ(build_my_pass("se cr\xE5t", out, sizeof out), 16);
    EXPECT_STREQ(out, "$MyPass se cr\xE5t|");
    // Hubs compare it as typed: '$' and '&' go out as they are.
    EXPECT_GT(build_my_pass("b$c&#36;", out, sizeof out), 0);
    EXPECT_STREQ(out, "$MyPass b$c&#36;|");
    // A raw '|' would end the message and send the rest as a hub command.
    EXPECT_EQ(build_my_pass("a|b$c|$GetNickList", out, sizeof out), -1);
    EXPECT_STREQ(out, "");
    std::string longest(PASSWORD_BYTES - 1, '$');
    EXPECT_EQ(build_my_pass(longest.c_str(), out, sizeof out), MY_PASS_BYTES - 1);
    char small[12];
    EXPECT_EQ(build_my_pass("secret", small, sizeof small), -1);
    EXPECT_STREQ(small, "");
}

// --- The search message -------------------------------------------------------

TEST(SearchMessage, BlanksBecomeDollarAndBytesAreExact) {
    char out[SEARCH_MESSAGE_BYTES];
    int n = build_search_message("me", "abba gold", out, sizeof out);
    EXPECT_STREQ(out, "$Search Hub:me F?T?0?1?abba$gold|");
    EXPECT_EQ(n, (int)strlen("$Search Hub:me F?T?0?1?abba$gold|"));
}

TEST(SearchMessage, EmptyTextStillSendsAWholeMessage) {
    char out[SEARCH_MESSAGE_BYTES];
    int n = build_search_message("me", "", out, sizeof out);
    EXPECT_STREQ(out, "$Search Hub:me F?T?0?1?|");
    EXPECT_EQ(n, 24);
}

TEST(SearchMessage, BlanksInTheNickAreNotReplaced) {
    char out[SEARCH_MESSAGE_BYTES];
    build_search_message("a b", "x y", out, sizeof out);
    EXPECT_STREQ(out, "$Search Hub:a b F?T?0?1?x$y|");
}

TEST(SearchMessage, LongestNickAndTextFitTheBuffer) {
    // The longest words a field gives, each byte escaped to six.
    std::string nick(HUB_NICK_BYTES - 1, 'n');
    std::string words(SEARCH_WORDS_BYTES - 1, '|');
    char out[SEARCH_MESSAGE_BYTES];
    int n = build_search_message(nick.c_str(), words.c_str(), out, sizeof out);
    EXPECT_EQ(n, SEARCH_MESSAGE_BYTES - 1);
    EXPECT_EQ(out[n - 1], '|');
}

TEST(SearchMessage, WordsAreEscapedAndBlanksStillSeparateThem) {
    char out[SEARCH_MESSAGE_BYTES];
    build_search_message("me", "a|b c$d &#36; &x", out, sizeof out);
    EXPECT_STREQ(out, "$Search Hub:me F?T?0?1?a&#124;b$c&#36;d$&amp;#36;$&x|");
}

TEST(SearchMessage, MessageThatWouldBeCutIsNotBuilt) {
    char out[24];  // one byte short of "$Search Hub:me F?T?0?1?|" and its NUL
    memset(out, 'z', sizeof out);
    EXPECT_EQ(build_search_message("me", "", out, sizeof out), 0);
    EXPECT_EQ(out[0], '\0');
}

// --- Parsing a result ------------------------------------------------------------

// A $SR as a hub relays it to a passive searcher: no trailing 0x05 and nick.
std::string file_result(const std::string& nick, const std::string& path, const std::string& size) {
    return "$SR " + nick + " " + path + "\x05" + size + " 2/3\x05Hub (10.0.0.1:411)";
}

// Parses a copy held in a buffer of exactly its size, so that a read or write
// past the NUL is caught by the sanitizers.
int parse_copy(const std::string& message, SearchResult* out) {
    std::vector<char> buffer(message.begin(), message.end());
    buffer.push_back('\0');
    return parse_search_fields(buffer.data(), out);
}

TEST(SearchResultParse, ExampleResultGivesNickPathSizeAndShortName) {
    SearchResult r;
    ASSERT_EQ(parse_copy(file_result("bob", "Music\\a.mp3", "4096"), &r), 1);
    EXPECT_STREQ(r.nick, "bob");
    EXPECT_STREQ(r.path, "Music\\a.mp3");
    EXPECT_STREQ(r.short_name, "a.mp3");
    EXPECT_EQ(r.size, 4096u);
    EXPECT_EQ(r.folder, 0);
}

TEST(SearchResultParse, ShortNameIsWhatFollowsTheLastBackslash) {
    struct Case {
        const char* path;
        const char* short_name;
    };
    const Case cases[] = {
        {"a.mp3", "a.mp3"},                         // no backslash: the whole path
        {"Music\\", ""},                            // ends in one: empty
        {"\\share\\alpha.txt", "alpha.txt"},        // ncdc's leading backslash is kept
        {"a\\b\\c\\d.txt", "d.txt"},
    };
    for (const Case& c : cases) {
        SearchResult r;
        ASSERT_EQ(parse_copy(file_result("bob", c.path, "1"), &r), 1) << c.path;
        EXPECT_STREQ(r.path, c.path);
        EXPECT_STREQ(r.short_name, c.short_name);
    }
}

TEST(SearchResultParse, TrailingSearcherNickIsIgnored) {
    SearchResult r;
    ASSERT_EQ(parse_copy(file_result("bob", "x\\y.ogg", "77") + "\x05me", &r), 1);
    EXPECT_STREQ(r.short_name, "y.ogg");
    EXPECT_EQ(r.size, 77u);
}

TEST(SearchResultParse, BlanksInsidePathAndHubNameAreKept) {
    SearchResult r;
    std::string m = "$SR bob My Music\\a b.mp3\x05" "5 1/1\x05My Hub (1.2.3.4:411)";
    ASSERT_EQ(parse_copy(m, &r), 1);
    EXPECT_STREQ(r.path, "My Music\\a b.mp3");
    EXPECT_STREQ(r.short_name, "a b.mp3");
    EXPECT_EQ(r.size, 5u);
}

TEST(SearchResultParse, SizeOfFiveGibibytesIsNotWrapped) {
    SearchResult r;
    ASSERT_EQ(parse_copy(file_result("bob", "big.iso", "5368709120"), &r), 1);
    EXPECT_EQ(r.size, 5368709120ull);
}

TEST(SearchResultParse, DirectoryResultHasItsPathWithoutSlotsAndNoSize) {
    SearchResult r;
    // A directory carries no 0x05 before its slots; the hub name holds digits.
    ASSERT_EQ(parse_copy("$SR bob Music\\Albums 2/3\x05" "123 Hub (10.0.0.1:411)", &r), 1);
    EXPECT_STREQ(r.nick, "bob");
    EXPECT_STREQ(r.path, "Music\\Albums");
    EXPECT_STREQ(r.short_name, "Albums");
    EXPECT_EQ(r.size, 0u);
    EXPECT_EQ(r.folder, 1);
}

// The separator some clients put after a directory's path is dropped: the
// folder is named by its own name, not by nothing.
TEST(SearchResultParse, DirectoryResultWithSearcherNickAndTrailingBackslash) {
    SearchResult r;
    ASSERT_EQ(parse_copy("$SR bob Music\\ 0/5\x05Hub (10.0.0.1:411)\x05me", &r), 1);
    EXPECT_STREQ(r.path, "Music");
    EXPECT_STREQ(r.short_name, "Music");
    EXPECT_EQ(r.size, 0u);
    EXPECT_EQ(r.folder, 1);
}

TEST(SearchResultParse, FileNamedLikeSlotsWithoutSlashIsStillAFile) {
    SearchResult r;
    ASSERT_EQ(parse_copy(file_result("bob", "track 2", "9"), &r), 1);
    EXPECT_STREQ(r.path, "track 2");
    EXPECT_EQ(r.size, 9u);
    EXPECT_EQ(r.folder, 0);
}

TEST(SearchResultParse, CyrillicBytesAreOrdinaryCharacters) {
    SearchResult r;
    std::string path = "\xcc\xf3\xe7\xfb\xea\xe0\\\xef\xe5\xf1\xed\xff.mp3";  // 1251
    ASSERT_EQ(parse_copy(file_result("\xc8\xe2\xe0\xed", path, "3"), &r), 1);
    EXPECT_STREQ(r.nick, "\xc8\xe2\xe0\xed");
    EXPECT_STREQ(r.short_name, "\xef\xe5\xf1\xed\xff.mp3");
}

// --- The TTH that hashing clients put where the hub name would be ------------------

const char ALPHA_TTH[] = "B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SI";

std::string tth_result(const std::string& tth_field) {
    return "$SR sharer_ncdc \\share\\alpha.txt\x05" "2816 5/5\x05" + tth_field + " (127.0.0.1:4111)";
}

TEST(SearchResultTth, RootIsKeptWithTheResultAndOnlyAWellFormedOne) {
    const struct {
        std::string field;
        const char* kept;
    } cases[] = {
        {std::string("TTH:") + ALPHA_TTH, ALPHA_TTH},
        {"TTH:b36ylxaoxg46svjhvwzly7ellkrojg4juhji5si", ALPHA_TTH},  // as rhash prints it
        {"TTH:B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5S", ""},            // 38 characters
        {"TTH:B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SIA", ""},          // 40
        {"TTH:B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5S1", ""},           // '1' is no base32
        {"TTH:B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SJ", ""},           // padding bits set
        {"TTH:", ""},
        {"My Hub", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        SearchResult r;
        ASSERT_EQ(parse_copy(tth_result(c.field), &r), 1);  // the result stays, with or without a hash
        EXPECT_STREQ(r.tth, c.kept);
        EXPECT_STREQ(r.path, "\\share\\alpha.txt");
        EXPECT_EQ(r.size, 2816u);
    }
    // A hash at the very end of the message, as a hub that cuts the address sends it.
    SearchResult r;
    ASSERT_EQ(parse_copy(std::string("$SR x a.txt\x05" "1 1/1\x05TTH:") + ALPHA_TTH, &r), 1);
    EXPECT_STREQ(r.tth, ALPHA_TTH);
    // No hub field at all: no hash, nothing read past the end.
    ASSERT_EQ(parse_copy("$SR x a.txt\x05" "1 1/1", &r), 1);
    EXPECT_STREQ(r.tth, "");
}

// The "<free>/<total>" slots of files and folders; a malformed field leaves
// them unknown, the result in place and the TTH after it found.
TEST(SearchResultSlots, FreeAndTotalAreReadAndAMalformedFieldLeavesThemUnknown) {
    const struct { std::string message; int known, free_slots, total_slots; } cases[] = {
        {"$SR b Music\\Albums\\ 0/12\x05Hub", 1, 0, 12},  // a folder
        {"$SR x a.txt\x05" "1 7/9", 1, 7, 9},            // the message ends with them
        {"$SR x a.txt\x05" "1 99999999999999999999999/1000\x05Hub", 1, RESULT_SLOTS_MAX, RESULT_SLOTS_MAX},
        {"$SR x a.txt\x05" "1 3\x05Hub", 0, 0, 0},
        {"$SR x a.txt\x05" "1 /3\x05Hub", 0, 0, 0},
        {"$SR x a.txt\x05" "1 3/4x\x05TTH:" + std::string(ALPHA_TTH), 0, 0, 0},
    };
    for (const auto& c : cases) {
        SearchResult r;
        ASSERT_EQ(parse_copy(c.message, &r), 1) << c.message;
        EXPECT_EQ(std::make_tuple((int)r.slots_known, (int)r.free_slots, (int)r.total_slots),
                  std::make_tuple(c.known, c.free_slots, c.total_slots)) << c.message;
    }
    SearchResult r;
    ASSERT_EQ(parse_copy("$SR x a.txt\x05" "1 3/4x\x05TTH:" + std::string(ALPHA_TTH), &r), 1);
    EXPECT_STREQ(r.tth, ALPHA_TTH);
}

// --- Field limits: overlong results are dropped whole, never cut ---------------

TEST(SearchResultLimits, NickOf49BytesIsKeptAnd50Dropped) {
    SearchResult r;
    EXPECT_EQ(parse_copy(file_result(std::string(49, 'n'), "a", "1"), &r), 1);
    EXPECT_EQ(strlen(r.nick), 49u);
    EXPECT_EQ(parse_copy(file_result(std::string(50, 'n'), "a", "1"), &r), 0);
}

TEST(SearchResultLimits, PathOf149BytesIsKeptAnd150Dropped) {
    SearchResult r;
    std::string dir(100, 'd');
    EXPECT_EQ(parse_copy(file_result("bob", dir + "\\" + std::string(48, 'f'), "1"), &r), 1);
    EXPECT_EQ(strlen(r.path), 149u);
    EXPECT_EQ(strlen(r.short_name), 48u);
    EXPECT_EQ(parse_copy(file_result("bob", dir + "\\" + std::string(49, 'f'), "1"), &r), 0);
}

TEST(SearchResultLimits, ShortNameOf52BytesDropsTheResultRatherThanMisnameIt) {
    SearchResult r;
    EXPECT_EQ(parse_copy(file_result("bob", "d\\" + std::string(51, 'f'), "1"), &r), 1);
    EXPECT_EQ(strlen(r.short_name), 51u);
    EXPECT_EQ(parse_copy(file_result("bob", "d\\" + std::string(52, 'f'), "1"), &r), 0);
    EXPECT_EQ(parse_copy(file_result("bob", std::string(52, 'f'), "1"), &r), 0);
}

// --- Malformed results: dropped, nothing read or written past the message -------

TEST(SearchResultMalformed, TruncatedOrUnsplittableMessagesAreDropped) {
    const char* cases[] = {
        "$SR",                                   // nothing after the keyword
        "$SRbob a\x05" "1 1/1\x05h",             // no blank after the keyword
        "$SR bob",                               // no blank after the nick
        "$SR  a\x05" "1 1/1\x05h",               // empty nick
        "$SR bob Music\\a.mp3",                  // no 0x05 after the path
        "$SR bob Music\\a.mp3 1/2",              // a directory without its 0x05
        "$SR bob a.mp3\x05" "4096",              // no blank after the size
        "$SR bob \x05" "1 1/1\x05h",             // empty path
        "$SR bob  1/1\x05h",                     // directory with an empty path
    };
    for (const char* c : cases) {
        SearchResult r;
        EXPECT_EQ(parse_copy(c, &r), 0) << c;
    }
}

TEST(SearchResultMalformed, NoByteAfterTheMessageIsWritten) {
    char buffer[64];
    memset(buffer, '#', sizeof buffer);
    const char m[] = "$SR bob a.mp3\x05" "1";  // no blank after the size
    memcpy(buffer, m, sizeof m);
    SearchResult r;
    EXPECT_EQ(parse_search_fields(buffer, &r), 0);
    for (size_t i = sizeof m; i < sizeof buffer; i++) ASSERT_EQ(buffer[i], '#') << i;
}

}  // namespace

// --- Active mode: $MyINFO, $ConnectToMe, $Search, $UserIP ----------------------------

namespace {

TEST(ActiveMessages, MyInfoTagSaysTheModeAndTheLoginStaysPassive) {
    char active[LOGIN_BLOCK_BYTES], block[LOGIN_BLOCK_BYTES];
    ASSERT_GT(build_my_info("me", "5", true, true, active, LOGIN_BLOCK_BYTES), 0);
    EXPECT_STREQ(active, "$MyINFO $ALL me pelmark<Vantoric V:0.05,M:A,H:0/1/0,S:20>$ $Modem0$$5$|");
    build_login_block(nullptr, "me", "5", true, block, LOGIN_BLOCK_BYTES);
    std::string login(block);
    EXPECT_NE(login.find(",M:P,"), std::string::npos);
    // The login's $MyINFO is the passive one, byte for byte.
    char passive[LOGIN_BLOCK_BYTES];
    build_my_info("me", "5", true, false, passive, LOGIN_BLOCK_BYTES);
    EXPECT_EQ(login.substr(login.size() - strlen(passive)), passive);
}

TEST(ActiveMessages, ConnectToMeAndActiveSearchNameTheAddress) {
    char out[120];
    EXPECT_EQ(build_connect_to_me("bob", "127.0.0.1:4120", false, out, sizeof out), 32);
    EXPECT_STREQ(out, "$ConnectToMe bob 127.0.0.1:4120|");
    build_connect_to_me("bob", "127.0.0.1:4121", true, out, sizeof out);
    EXPECT_STREQ(out, "$ConnectToMe bob 127.0.0.1:4121S|");
    EXPECT_EQ(build_connect_to_me("bob", "127.0.0.1:4121", true, out, 20), -1);
    char search[SEARCH_MESSAGE_BYTES];
    build_search_message("me", "abba gold", search, sizeof search, "10.0.0.2:4120");
    EXPECT_STREQ(search, "$Search 10.0.0.2:4120 F?T?0?1?abba$gold|");
}

TEST(ActiveMessages, UserIpGivesTheOwnNicksAddressOnly) {
    struct Case {
        const char* message;
        const char* own;
        const char* expected;  // dotted, or null: no address
    } cases[] = {
        {"$UserIP me 203.0.113.5", "me", "203.0.113.5"},
        {"$UserIP me 203.0.113.5$$", "me", "203.0.113.5"},
        {"$UserIP bob 10.0.0.1$$me 192.168.1.7$$", "me", "192.168.1.7"},
        {"$UserIP mee 10.0.0.1", "me", nullptr},      // another nick that starts like it
        {"$UserIP me 10.0.0.256", "me", nullptr},     // not an address
        {"$UserIP me 10.0.0.1 x", "me", nullptr},
        {"$UserIP me ", "me", nullptr},
        {"$UserIP me 1234567890123456789", "me", nullptr},
        {"$UserIPme 10.0.0.1", "me", nullptr},
    };
    for (const Case& c : cases) {
        uint32_t address = 1;
        int ok = parse_user_ip(c.message, c.own, &address);
        if (c.expected == nullptr) {
            EXPECT_EQ(ok, 0) << c.message;
            EXPECT_EQ(address, 0u) << c.message;
            continue;
        }
        char dotted[16];
        ipv4_text(address, dotted, sizeof dotted);
        EXPECT_EQ(ok, 1) << c.message;
        EXPECT_STREQ(dotted, c.expected) << c.message;
    }
}

}  // namespace
