// The dispatcher on local buffers: routing by first characters, the private
// message rewrite, malformed data, and the receive tail across receives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hub/dispatch.h"
#include "hub/hub_test_state.h"

namespace {

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override { hub_test_state(); }

    // One receive, as the read event hands it over: the kept tail in front,
    // then the bytes, then a NUL. Returns dispatch_hub_data's result.
    int receive(const std::string& bytes) {
        static char data[HUB_DATA_BYTES];
        int kept = hub_tail_restore(data);
        memcpy(data + kept, bytes.data(), bytes.size());
        data[kept + (int)bytes.size()] = '\0';
        return dispatch_hub_data(data, kept + (int)bytes.size());
    }
};

}  // namespace

TEST_F(Dispatch, PublicChatLinesAreAppendedInOrder) {
    EXPECT_EQ(receive("<bob> hi|<ann> yo|"), 1);
    EXPECT_EQ(chat_log_text(), "<bob> hi\r\n<ann> yo\r\n");
}

TEST_F(Dispatch, ProtocolMessagesDoNotReachTheChat) {
    EXPECT_EQ(receive("$Hello x|$Search Hub:x F?T?0?1?a|$SR bob a\\b 5 1/1\x05hub|"
                      "$ConnectToMe me 127.0.0.1:1|$Quit bob|"
                      "$Lock abc Pk=x|$NickList a$$|"),
              0);
    // The hub's name and a newcomer change the main screen's title: a repaint.
    EXPECT_EQ(receive("$HubName Big <hub>|$MyINFO $ALL bob <x>$ $Modem $$1$|"), 1);
    EXPECT_EQ(chat_log_text(), "");
}

TEST_F(Dispatch, UserInformationReachesTheUserTable) {
    receive("$MyINFO $ALL bob desc$ $Modem $$1000$|");
    bool found = false;
    for (const UserEntry& u : g_state.users) {
        if (u.present && strcmp(u.name, "bob") == 0) found = true;
    }
    EXPECT_TRUE(found);
}

TEST_F(Dispatch, PrivateMessageShowsSenderMarkedWithGreaterThan) {
    EXPECT_EQ(receive("$To: me From: bob $<bob> hi|"), 1);
    EXPECT_EQ(chat_log_text(), ">bob> hi\r\n");
}

TEST_F(Dispatch, PrivateMessageWithoutChatLineUsesItsLastCharacter) {
    EXPECT_EQ(receive("$To: me From: bob $no line|"), 0);
    EXPECT_EQ(receive("$To: me From: bob>|"), 1);
    EXPECT_EQ(receive("$T|"), 0);
    EXPECT_EQ(chat_log_text(), ">\r\n");
}

TEST_F(Dispatch, EmptyMessagesAreIgnored) {
    EXPECT_EQ(receive("||<a> x||"), 1);
    EXPECT_EQ(chat_log_text(), "<a> x\r\n");
}

TEST_F(Dispatch, NulInsideDataDropsOnlyItsMessage) {
    EXPECT_EQ(receive(std::string("<a> one|<b> t\0wo|<c> three|", 27)), 1);
    EXPECT_EQ(chat_log_text(), "<a> one\r\n<c> three\r\n");
}

TEST_F(Dispatch, NulInUnterminatedEndDropsThatMessageAcrossReceives) {
    receive(std::string("<a> one|<b> t\0w", 15));
    EXPECT_EQ(g_state.hub_tail_len, HUB_TAIL_DROPPING);
    EXPECT_EQ(receive("o still|<c> three|"), 1);
    EXPECT_EQ(chat_log_text(), "<a> one\r\n<c> three\r\n");
}

TEST_F(Dispatch, MessageSplitAcrossReceivesIsCompletedNotLost) {
    EXPECT_EQ(receive("<a> one|<bob> h"), 1);
    EXPECT_EQ(receive("ello|<c> x|"), 1);
    EXPECT_EQ(chat_log_text(), "<a> one\r\n<bob> hello\r\n<c> x\r\n");
}

TEST_F(Dispatch, FragmentIsNotRoutedOnItsOwn) {
    // Without the tail, "<x> hi|" would have been read as a chat line.
    receive("$MyINFO $ALL bob ");
    receive("<x> hi$ $Modem $$1$|");
    EXPECT_EQ(chat_log_text(), "");
    EXPECT_EQ(g_state.user_count, 1);
}

TEST_F(Dispatch, OneByteReceiveCompletesTheKeptMessage) {
    receive("<bob> hi");
    EXPECT_EQ(receive("|"), 1);
    EXPECT_EQ(chat_log_text(), "<bob> hi\r\n");
}

TEST_F(Dispatch, MessageSpanningThreeReceivesIsCompleted) {
    receive("<bob> ");
    receive("a");
    EXPECT_EQ(receive("b|"), 1);
    EXPECT_EQ(chat_log_text(), "<bob> ab\r\n");
}

TEST_F(Dispatch, OverlongTailIsDroppedWholeUpToItsBar) {
    std::string huge = "<bob> " + std::string(HUB_TAIL_BYTES, 'x');
    receive("<a> one|" + huge.substr(0, 1500));
    EXPECT_EQ(receive(huge.substr(1500)), 0);  // the tail would now exceed its buffer
    EXPECT_EQ(g_state.hub_tail_len, HUB_TAIL_DROPPING);
    EXPECT_EQ(receive("yyy|<c> after|"), 1);
    EXPECT_EQ(chat_log_text(), "<a> one\r\n<c> after\r\n");
}

TEST_F(Dispatch, TailOfExactlyItsCapacityMinusOneIsKept) {
    std::string line = "<b> " + std::string(HUB_TAIL_BYTES - 1 - 4, 'y');
    receive(line);
    EXPECT_EQ(g_state.hub_tail_len, HUB_TAIL_BYTES - 1);
    EXPECT_EQ(receive("|"), 1);
    EXPECT_EQ(chat_log_text(), line + "\r\n");
}

TEST_F(Dispatch, ChatLineLongerThanConversionBufferIsCut) {
    std::string line = "<bob> " + std::string(3700, 'z');
    char data[HUB_DATA_BYTES];
    memcpy(data, line.data(), line.size());
    data[line.size()] = '|';
    data[line.size() + 1] = '\0';
    EXPECT_EQ(dispatch_hub_data(data, (int)line.size() + 1), 1);
    EXPECT_EQ(chat_log_text(), line.substr(0, CHAT_LINE_UNITS - 1) + "\r\n");
}

TEST_F(Dispatch, CyrillicChatIsConvertedFrom1251) {
    receive("<\xC1\xEE\xF0> \xEF\xF0\xE8\xE2\xE5\xF2|");
    EXPECT_EQ(chat_log_text(), "<Бор> привет\r\n");
}

TEST(ChatAppend, AppendsLineBreakAfterEachLine) {
    hub_test_state();
    EXPECT_EQ(chatlog_append_line("::start download::"), 1);
    EXPECT_EQ(chatlog_append_line(""), 1);
    EXPECT_EQ(chat_log_text(), "::start download::\r\n\r\n");
}

// "$HubName": the name the title shows, unescaped, replaced whole by each
// later one (hubs send it again with the topic), cut to its room.
TEST_F(Dispatch, HubNameIsUnescapedReplacedAndCut) {
    EXPECT_EQ(receive("$HubName Big &#36; &#124; &amp; hub|"), 1);
    EXPECT_EQ(std::u16string(g_state.hub_name), u"Big $ | & hub");
    receive("$HubName Big hub - today's topic|");
    EXPECT_EQ(std::u16string(g_state.hub_name), u"Big hub - today's topic");
    receive("$HubName " + std::string(3 * HUB_NAME_UNITS, 'n') + "|");
    EXPECT_EQ(std::u16string(g_state.hub_name), std::u16string(HUB_NAME_UNITS - 1, u'n'));
    receive("$HubName|");
    EXPECT_EQ(g_state.hub_name[0], 0);
    EXPECT_EQ(chat_log_text(), "");
}

// Auto reads code page 1251 until a message is UTF-8 beyond ASCII: that very
// message is read as UTF-8, a note says so once, and the hub stays UTF-8 (for
// a later Connect to it too). ASCII and 1251 text never switch it, nor does
// UTF-8 on a hub whose encoding was named.
TEST_F(Dispatch, AutoSwitchesToUtf8OnTheFirstMessageThatIsUtf8AndSaysSoOnce) {
    text_copy(g_state.hub_address, HUB_ADDRESS_BYTES, "127.0.0.1:2225");
    hub_encoding_choose(ENCODING_AUTO);
    EXPECT_EQ(hub_encoding(), ENCODING_CP1251);
    receive("<bob> plain|$MyINFO $ALL \xC2\xE0\xF1\xFF desc$ $Modem $$1$|<bob> \xCF\xF0\xE8\xE2\xE5\xF2 \xB9" "5|");
    EXPECT_EQ(hub_encoding(), ENCODING_CP1251);
    EXPECT_EQ(chat_log_text(), "<bob> plain\r\n<bob> Привет №5\r\n");

    const std::string note = "the hub sends UTF-8: reading and writing it as UTF-8\r\n";
    EXPECT_EQ(receive("$HubName \xD0\xA5\xD0\xB0\xD0\xB1|<ann> Проверка_файл.txt|<ann> ещё|"), 1);
    EXPECT_EQ(hub_encoding(), ENCODING_UTF8);
    EXPECT_EQ(std::u16string(g_state.hub_name), u"Хаб");
    EXPECT_EQ(chat_log_text(), "<bob> plain\r\n<bob> Привет №5\r\n" + note + "<ann> Проверка_файл.txt\r\n<ann> ещё\r\n");
    char16_t refused[NOTE_UNITS];
    EXPECT_TRUE(hub_text_sendable(u"ünïcode Жук", u"line", refused, NOTE_UNITS));

    // Connect again to the same hub: UTF-8 from the first byte, no second note.
    hub_encoding_choose(ENCODING_AUTO);
    EXPECT_EQ(hub_encoding(), ENCODING_UTF8);
    receive("<ann> снова|");
    std::string log = chat_log_text();
    EXPECT_EQ(log.find(note), log.rfind(note));
    EXPECT_NE(log.find("<ann> снова"), std::string::npos);

    // Another hub under Auto starts over; one named CP1251 or CP1252 stays so.
    text_copy(g_state.hub_address, HUB_ADDRESS_BYTES, "127.0.0.1:2226");
    hub_encoding_choose(ENCODING_AUTO);
    EXPECT_EQ(hub_encoding(), ENCODING_CP1251);
    for (HubEncoding named : {ENCODING_CP1251, ENCODING_CP1252}) {
        chatlog_clear();
        hub_encoding_choose(named);
        receive("<ann> Проверка|");
        EXPECT_EQ(hub_encoding(), named);
        EXPECT_EQ(chat_log_text().find("UTF-8"), std::string::npos);
    }
}
