// lock_to_key against the worked examples and against keys computed by an
// independent reference (a separate script), pasted here as literals.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "protocol/lock_to_key.h"

namespace {

// Runs lock_to_key on exactly these bytes, held in a heap block of their own
// size, so a sanitizer build catches any read past the received data.
std::string key_for(const std::string& received) {
    std::unique_ptr<char[]> data(new char[received.size()]);
    memcpy(data.get(), received.data(), received.size());
    char key[KEY_TEXT_BYTES + 16];
    memset(key, 0x5A, sizeof key);
    char* result = lock_to_key(data.get(), (int)received.size(), key);
    EXPECT_EQ(result, key);
    for (int i = KEY_TEXT_BYTES; i < (int)sizeof key; i++) {
        EXPECT_EQ(key[i], 0x5A) << "written past the key buffer at " << i;
    }
    return std::string(key);
}

std::string lock_message(const std::string& lock) {
    return "$Lock " + lock + " Pk=test|";
}

}  // namespace

TEST(LockToKey, WorkedExampleAbc) {
    EXPECT_EQ(key_for(lock_message("abc")), std::string("$Key V0\x10|"));
}

TEST(LockToKey, WorkedExampleAabaEscapesTheZeroKeyByte) {
    EXPECT_EQ(key_for(lock_message("aaba")), "$Key v/%DCN000%/00|");
}

TEST(LockToKey, EverySpecialKeyByteIsEscaped) {
    // The XOR step gives 00 50 42 06 C7 E7; swapped: 0, 5, 36, 96, 124, 126.
    const std::string lock = "\xE2\xB2\xF0\xF6" "1\xD6";
    EXPECT_EQ(key_for(lock_message(lock)),
              "$Key /%DCN000%//%DCN005%//%DCN036%//%DCN096%//%DCN124%//%DCN126%/|");
}

TEST(LockToKey, MatchesReferenceForRealClientLocks) {
    EXPECT_EQ(key_for(lock_message("EXTENDEDPROTOCOLABCABCABCABCABCABC")),
              std::string("$Key \x14\xD1\xC0\x11\xB0\xA0\x10\x10" "A \xD1\xB1\xB1\xC0\xC0" "0\xD0"
                          "0\x10 0\x10 0\x10 0\x10 0\x10 0\x10|"));
    EXPECT_EQ(key_for(lock_message("EXTENDEDPROTOCOLABCABCABCABCABCABCA")),
              std::string("$Key /%DCN036%/\xD1\xC0\x11\xB0\xA0\x10\x10" "A \xD1\xB1\xB1\xC0\xC0"
                          "0\xD0" "0\x10 0\x10 0\x10 0\x10 0\x10 0\x10 |"));
    EXPECT_EQ(key_for(lock_message("EXTENDEDPROTOCOL/wut?")),
              std::string("$Key \xB0\xD1\xC0\x11\xB0\xA0\x10\x10" "A \xD1\xB1\xB1\xC0\xC0"
                          "06\x85 \x10\xB4|"));
}

TEST(LockToKey, HighBytesAreUsedAsReceivedAndSwappedLikeAnyOther) {
    EXPECT_EQ(key_for(lock_message("\xA9\xC0\xFF\x80\x01\x7F")),
              std::string("$Key -\x96\xF3\xF7\x18\xE7|"));
}

TEST(LockToKey, NulInsideTheLockIsAnOrdinaryByte) {
    EXPECT_EQ(key_for(lock_message(std::string("a\0b", 3))), "$Key /%DCN096%/\x16&|");
}

TEST(LockToKey, TwoByteLockGivesTwoKeyBytes) {
    // K[0] = 'y' ^ 5 = 7C -> C7; K[1] = 'x' ^ 'y' = 01 -> 10.
    EXPECT_EQ(key_for(lock_message("xy")), std::string("$Key \xC7\x10|"));
}

TEST(LockToKey, ShortOrMissingLockGivesNoKeyBytes) {
    EXPECT_EQ(key_for(lock_message("a")), "$Key |");
    EXPECT_EQ(key_for("$Lock  Pk=x|"), "$Key |");
    EXPECT_EQ(key_for("$Lock"), "$Key |");
    EXPECT_EQ(key_for("$L"), "$Key |");
    EXPECT_EQ(key_for(""), "$Key |");
}

TEST(LockToKey, PkPartNeverEntersTheKey) {
    EXPECT_EQ(key_for("$Lock abc Pk=something else entirely|$HubName x|"),
              std::string("$Key V0\x10|"));
}

TEST(LockToKey, LockStopsAtBarWhenPkIsMissing) {
    EXPECT_EQ(key_for("$Lock abc|$HubName x y|"), std::string("$Key V0\x10|"));
}

TEST(LockToKey, LockStopsAtTheEndOfTheReceivedData) {
    const char data[] = "$Lock abcdef Pk=x|";
    char key[KEY_TEXT_BYTES];
    lock_to_key(data, 9, key);  // the receive ended after "abc"
    EXPECT_STREQ(key, "$Key V0\x10|");
    EXPECT_EQ(key_for("$Lock abc"), std::string("$Key V0\x10|"));
}

TEST(LockToKey, LockLongerThanItsBufferIsCutTo255Bytes) {
    // Cut after 255 'a': K[0] = a ^ a ^ a ^ 5 = 64 -> 46 'F'. Had the lock run
    // on to "bc", K[0] would come from 'c' and 'b'.
    std::string longer(255, 'a');
    longer += "bc";
    std::string key = key_for(lock_message(longer));
    EXPECT_EQ(key.substr(0, 6), "$Key F");
}

TEST(LockToKey, KeyTextTooLongIsCutAtAWholeEntryAndStaysTerminated) {
    // 300 'a': every key byte after the first is 0 and takes a ten-character
    // escape; "$Key F" + 24 escapes + "|" is the most that fits in 254.
    std::string expected = "$Key F";
    for (int i = 0; i < 24; i++) expected += "/%DCN000%/";
    expected += "|";
    EXPECT_EQ(key_for(lock_message(std::string(300, 'a'))), expected);
}

TEST(LockToKey, LongMixedLockIsCutAndMatchesReference) {
    // 300 bytes (i * 7 + 3) mod 256, blanks and bars replaced by '!': the
    // reference gives 254 characters with the bar last.
    std::string lock;
    for (int i = 0; i < 300; i++) {
        unsigned char b = (unsigned char)((i * 7 + 3) % 256);
        if (b == 0x20 || b == 0x7C) b = 0x21;
        lock += (char)b;
    }
    std::string key = key_for(lock_message(lock));
    EXPECT_EQ(key.size(), 254u);
    EXPECT_EQ(key.substr(0, 12), std::string("$Key \xD1\x90\xB1\x90p\x93\xB0"));
    EXPECT_EQ(key.substr(key.size() - 16),
              std::string("\xF3\x90\xB1\x90p\x97\xB0\x91\xF0\x93\xB0\x91p\x90\xBF|"));
    EXPECT_EQ(key.find("/%DCN096%/"), 193u);
}
