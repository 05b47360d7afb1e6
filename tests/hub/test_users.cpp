// The UserTable: $MyINFO and $Quit parsing, exact-name lookup, slot reuse,
// the sort order, and the index beside the table against a plain model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hub/users.h"
#include "state/client_state.h"
#include "hub/user_messages.h"

namespace {

class UserTable : public ::testing::Test {
protected:
    void SetUp() override { client_state_reset(); }
};


int present_count() {
    int n = 0;
    for (const UserEntry& user : g_state.users) n += user.present ? 1 : 0;
    return n;
}

int slot_of(const char* name) {
    for (int s = 0; s < USER_SLOTS; s++) {
        if (g_state.users[s].present && strcmp(g_state.users[s].name, name) == 0) return s;
    }
    return -1;
}

}  // namespace

// --- Parsing of user information ---------------------------------------------

TEST_F(UserTable, InfoExampleFillsSlotZeroWithNickAndShare) {
    feed(std::string("$MyINFO $ALL bob desc$ $DSL") + '\x01' + "$$1000$");
    EXPECT_EQ(g_state.users[0].present, 1);
    EXPECT_STREQ(g_state.users[0].name, "bob");
    EXPECT_STREQ(g_state.users[0].share, "1000");
    EXPECT_EQ(present_count(), 1);
}

TEST_F(UserTable, ShareIsTakenBetweenFourthAndFifthDollarEvenWithEmail) {
    feed("$MyINFO $ALL ann <++ V:0.7>$ $LAN(T3)\x01$ann@example.org$5368709120$");
    EXPECT_STREQ(g_state.users[0].name, "ann");
    EXPECT_STREQ(g_state.users[0].share, "5368709120");
}

namespace {

// The four fields of the user's info text, joined by '|'.
std::string fields_of(const char* nick) {
    std::string all;
    for (int k = USER_INFO_CONNECTION; k <= USER_INFO_DESCRIPTION; k++) {
        char field[USER_INFO_BYTES];
        user_info_field(&g_state.users[find_user(nick)], k, field, USER_INFO_BYTES);
        if (k > 0) all += '|';
        all += field;
    }
    return all;
}

const UserEntry& user_named(const char* nick) { return g_state.users[find_user(nick)]; }

}  // namespace

// What INFO shows: connection without its flag byte, e-mail, tag and
// description apart, the mode from the tag's M: and the flag byte, for the
// forms real hubs send and for malformed tags; a description too long for
// the field is cut from its end, and a later $MyINFO replaces it all.
TEST_F(UserTable, InfoKeepsConnectionEmailTagDescriptionModeAndFlag) {
    feed("$MyINFO $ALL bob Hello there <++ V:0.868,M:A,H:1/0/0,S:3>$ $LAN(T1)\x11$bob@mail$3298534895673$");
    EXPECT_EQ(fields_of("bob"), "LAN(T1)|bob@mail|<++ V:0.868,M:A,H:1/0/0,S:3>|Hello there");
    EXPECT_EQ(user_named("bob").mode, USER_MODE_ACTIVE);
    EXPECT_EQ(user_named("bob").flag, 0x11);
    feed("$MyINFO $ALL ptx some text$A$56KbpsA$$3150364$");  // PtokaX strips tags
    EXPECT_EQ(fields_of("ptx"), "56Kbps|||some text");
    EXPECT_EQ(user_named("ptx").mode, USER_MODE_UNKNOWN);
    feed("$MyINFO $ALL bare $ $$$0$");  // no flag byte at all
    EXPECT_EQ(fields_of("bare"), "|||");
    EXPECT_EQ(user_named("bare").flag, 0);
    const struct { const char* description; uint8_t mode; } tags[] = {
        {"<DC++ 0.7,M:P,H:1/0/0>", USER_MODE_PASSIVE}, {"x <M:5>", USER_MODE_SOCKS5},
        {"<x,M:Q>", USER_MODE_UNKNOWN}, {"<x,M:A", USER_MODE_UNKNOWN},  // no closing '>': no tag
        {"M:A <x>", USER_MODE_UNKNOWN}, {"<xM:A>", USER_MODE_UNKNOWN},  // M: outside, or not an item
    };
    for (const auto& t : tags) {
        feed(std::string("$MyINFO $ALL tagged ") + t.description + "$ $DSL\x01$$1$");
        EXPECT_EQ(user_named("tagged").mode, t.mode) << t.description;
    }
    std::string long_text(300, 'd');
    feed("$MyINFO $ALL bob " + long_text + " <T,M:P>$ $Cable\x10$b@x$7$");
    std::string fixed = "Cable|b@x|<T,M:P>|";
    EXPECT_EQ(fields_of("bob"), fixed + long_text.substr(0, USER_INFO_BYTES - 1 - fixed.size()));
    EXPECT_EQ(user_named("bob").mode, USER_MODE_PASSIVE);
    EXPECT_EQ(user_named("bob").flag, 0x10);
    feed("$MyINFO $ALL bob new$ $" + std::string(200, 'c') + "\x01$e$7$");  // takes the room of the rest
    EXPECT_EQ(fields_of("bob"), std::string(USER_INFO_BYTES - 1, 'c') + "|||");
}

TEST_F(UserTable, SecondInfoForSameUserKeepsFirstShareAndAddsNoSlot) {
    feed(info("bob", "1000"));
    feed(info("bob", "2000"));
    EXPECT_STREQ(g_state.users[0].share, "1000");
    EXPECT_EQ(present_count(), 1);
}

// --- Exact names ---------------------------------------------------------------

TEST_F(UserTable, ShorterNickIsAddedThoughALongerNameBeginsWithIt) {
    feed(info("bobby", "1"));
    feed(info("bob", "2"));
    EXPECT_EQ(present_count(), 2);
    EXPECT_EQ(slot_of("bob"), 1);
}

TEST_F(UserTable, LongerNickIsAddedBesideItsPrefix) {
    feed(info("bob", "1"));
    feed(info("bobby", "2"));
    EXPECT_EQ(present_count(), 2);
    EXPECT_EQ(slot_of("bobby"), 1);
}

TEST_F(UserTable, QuitFreesTheExactNameNeverALongerOne) {
    put_user(4, "bob", "1");
    put_user(9, "bobby", "2");
    feed("$Quit bob");
    EXPECT_EQ(g_state.users[4].present, 0);
    EXPECT_EQ(g_state.users[9].present, 1);
    feed("$Quit bob");  // already gone: nothing more changes
    EXPECT_EQ(g_state.users[9].present, 1);
    feed("$Quit bobby");
    EXPECT_EQ(g_state.users[9].present, 0);
}

TEST_F(UserTable, QuitOfLongerNameLeavesThePrefixUser) {
    put_user(4, "bob", "1");
    put_user(9, "bobby", "2");
    feed("$Quit bobby");
    EXPECT_EQ(g_state.users[4].present, 1);
    EXPECT_EQ(g_state.users[9].present, 0);
}

TEST_F(UserTable, QuitWithEmptyOrUnknownNickFreesNobody) {
    put_user(0, "bob", "1");
    put_user(7, "ann", "1");
    feed("$Quit ");
    feed("$Quit bo");
    feed("$Quit carl");
    EXPECT_EQ(present_count(), 2);
}

TEST_F(UserTable, KeywordsInsideAnotherMessageChangeNothing) {
    // A relayed private message whose text holds the keywords.
    put_user(0, "alice", "1");
    feed("$MCTo: me $mallory Quit alice");
    feed("$MCTo: me $mallory MyINFO $ALL eve d$ $c$e$1$");
    feed("$MyNick Quit alice");
    EXPECT_EQ(present_count(), 1);
    EXPECT_EQ(slot_of("alice"), 0);
}

// --- Slots ---------------------------------------------------------------------

TEST_F(UserTable, FreedSlotsAreReusedLowestFirst) {
    for (int i = 0; i < 6; i++) feed(info(std::string("u").append(std::to_string(i)), "1"));
    feed("$Quit u5");
    feed("$Quit u3");
    feed(info("x", "1"));
    EXPECT_EQ(slot_of("x"), 3);
    feed(info("y", "1"));
    EXPECT_EQ(slot_of("y"), 5);
    feed(info("z", "1"));
    EXPECT_EQ(slot_of("z"), 6);
}

TEST_F(UserTable, FullTableTakesNewcomerInSlotZeroAndKeepsTheRest) {
    char name[16];
    for (int s = 0; s < USER_SLOTS; s++) {
        snprintf(name, sizeof name, "u%04d", s);
        update_user(name, "7", 1);
    }
    ASSERT_EQ(present_count(), USER_SLOTS);
    EXPECT_STREQ(g_state.users[USER_SLOTS - 1].name, "u2999");
    update_user("u2999", "8", 1);  // known user: no change
    EXPECT_STREQ(g_state.users[0].name, "u0000");
    update_user("late", "9", 1);
    EXPECT_STREQ(g_state.users[0].name, "late");
    EXPECT_STREQ(g_state.users[0].share, "9");
    EXPECT_STREQ(g_state.users[1].name, "u0001");
    EXPECT_EQ(present_count(), USER_SLOTS);
}

// --- Malformed and oversized input ---------------------------------------------

TEST_F(UserTable, InfoWithoutBlankAfterNickIsSkippedAndNothingPastNulIsRead) {
    // A well-formed continuation lies beyond the NUL: it must not be used.
    char message[] = "$MyINFO $ALL bob\0 d$ $c$e$1$";
    handle_user_message(message);
    EXPECT_EQ(present_count(), 0);
    EXPECT_EQ(memcmp(message + 17, " d$ $c$e$1$", 11), 0) << "written past the message";
}

TEST_F(UserTable, InfoWithFewerThanFiveDollarsIsSkipped) {
    char message[] = "$MyINFO $ALL bob d$ $c$1000\0$";
    handle_user_message(message);
    EXPECT_EQ(present_count(), 0);
    EXPECT_STREQ(message, "$MyINFO $ALL bob d$ $c$1000") << "fields cut though skipped";
}

TEST_F(UserTable, InfoWithEmptyNickIsSkipped) {
    feed("$MyINFO $ALL  d$ $c$e$1$");
    feed("$MyINFO $ALL ");
    feed("$MyINFO $ALL");
    EXPECT_EQ(present_count(), 0);
}

TEST_F(UserTable, EveryTruncationOfAnInfoIsSkippedWithoutOverread) {
    const std::string whole = info("bob", "1000");
    for (size_t n = 0; n < whole.size(); n++) feed(whole.substr(0, n));
    EXPECT_EQ(present_count(), 0);
    feed(whole);
    EXPECT_EQ(present_count(), 1);
}

TEST_F(UserTable, ShortOrUnknownMessagesChangeNothing) {
    put_user(0, "bob", "1");
    for (const char* m : {"", "$", "$M", "$Q", "$Quit", "$MyINFO", "$MyINFO $ALL", "$Quitbob"}) feed(m);
    EXPECT_EQ(present_count(), 1);
}

TEST_F(UserTable, NickOf49BytesFitsAndOf50IsNeverCut) {
    const std::string fits(49, 'n');
    const std::string too_long(50, 'n');
    feed(info(too_long, "1"));
    EXPECT_EQ(present_count(), 0);
    feed(info(fits, "1"));
    EXPECT_STREQ(g_state.users[0].name, fits.c_str());
    // A quit for the long nick must not free the user whose name is its first 49 bytes.
    feed("$Quit " + too_long);
    EXPECT_EQ(g_state.users[0].present, 1);
}

TEST_F(UserTable, ShareOf29BytesFitsAndOf30IsNeverCut) {
    feed(info("big", std::string(30, '9')));
    EXPECT_EQ(present_count(), 0);
    feed(info("big", std::string(29, '9')));
    EXPECT_STREQ(g_state.users[0].share, std::string(29, '9').c_str());
}

// --- Sort ----------------------------------------------------------------------

TEST_F(UserTable, SortPutsUpperCaseFirstThenNamesThenFreeSlots) {
    put_user(0, "bob", "3");
    put_user(2, "alice", "2");
    put_user(3, "Alice", "1");
    sort_users();
    EXPECT_STREQ(g_state.users[0].name, "Alice");
    EXPECT_STREQ(g_state.users[0].share, "1");
    EXPECT_STREQ(g_state.users[1].name, "alice");
    EXPECT_STREQ(g_state.users[1].share, "2");
    EXPECT_STREQ(g_state.users[2].name, "bob");
    EXPECT_STREQ(g_state.users[2].share, "3");
    EXPECT_EQ(present_count(), 3);
    for (int s = 3; s < USER_SLOTS; s++) EXPECT_EQ(g_state.users[s].present, 0) << s;
}

TEST_F(UserTable, SortComparesBytesUnsignedSoCyrillicFollowsLatin) {
    put_user(10, "\xC0\xED\xFF", "1");  // Cyrillic, bytes 0xC0 and above
    put_user(20, "zed", "2");
    put_user(30, "\x80x", "3");
    sort_users();
    EXPECT_STREQ(g_state.users[0].name, "zed");
    EXPECT_STREQ(g_state.users[1].name, "\x80x");
    EXPECT_STREQ(g_state.users[2].name, "\xC0\xED\xFF");
}

TEST_F(UserTable, SortOfFullScatteredTableIsAscendingWithSharesKept) {
    // Names in a scrambled order, every slot present, each share tied to its name.
    char name[16];
    char share[16];
    for (int s = 0; s < USER_SLOTS; s++) {
        int key = (s * 1237) % USER_SLOTS;
        snprintf(name, sizeof name, "n%05d", key);
        snprintf(share, sizeof share, "%d", key * 3);
        put_user(s, name, share);
    }
    sort_users();
    for (int s = 0; s < USER_SLOTS; s++) {
        snprintf(name, sizeof name, "n%05d", s);
        snprintf(share, sizeof share, "%d", s * 3);
        ASSERT_STREQ(g_state.users[s].name, name);
        ASSERT_STREQ(g_state.users[s].share, share);
    }
}

TEST_F(UserTable, UsersStayFoundAfterSort) {
    put_user(2999, "carl", "1");
    put_user(5, "ann", "1");
    sort_users();
    feed("$Quit carl");
    EXPECT_EQ(slot_of("carl"), -1);
    EXPECT_EQ(slot_of("ann"), 0);
    feed(info("dan", "4"));
    EXPECT_EQ(slot_of("dan"), 1);
}

// --- The index against a plain table ---------------------------------------------

namespace {

// The UserTable's rules stated plainly: a user is found by walking every
// slot, a newcomer takes the lowest free slot (slot 0 when none is free),
// the sort puts the present users first in byte order.
struct ModelSlot {
    std::string name;
    std::string share;
    bool present = false;
};

struct PlainTable {
    std::vector<ModelSlot> slots = std::vector<ModelSlot>(USER_SLOTS);
    int evictions = 0;

    int find(const std::string& nick) const {
        for (int s = 0; s < USER_SLOTS; s++) {
            if (slots[s].present && slots[s].name == nick) return s;
        }
        return -1;
    }
    int count() const {
        int n = 0;
        for (const ModelSlot& slot : slots) n += slot.present ? 1 : 0;
        return n;
    }
    void update(const std::string& nick, const std::string& share, bool present) {
        if (nick.empty() || nick.size() >= (size_t)USER_NAME_BYTES) return;
        if (present && share.size() >= (size_t)USER_SHARE_BYTES) return;
        int found = find(nick);
        if (present && found < 0) {
            int slot = 0;
            while (slot < USER_SLOTS && slots[slot].present) slot++;
            if (slot == USER_SLOTS) {
                slot = 0;
                evictions++;
            }
            slots[slot] = ModelSlot{nick, share, true};
        } else if (!present && found >= 0) {
            slots[found].present = false;
        }
    }
    void sort() {
        std::vector<ModelSlot> present;
        for (const ModelSlot& slot : slots) {
            if (slot.present) present.push_back(slot);
        }
        // std::string compares chars as unsigned, as the table's sort does.
        std::sort(present.begin(), present.end(),
                  [](const ModelSlot& a, const ModelSlot& b) { return a.name < b.name; });
        slots.assign(USER_SLOTS, ModelSlot{});
        std::copy(present.begin(), present.end(), slots.begin());
    }
    void clear() { slots.assign(USER_SLOTS, ModelSlot{}); }
};

// Every slot as the model has it, and every present user found at his slot.
void expect_same_table(const PlainTable& model, int step) {
    ASSERT_EQ(g_state.user_count, model.count()) << "step " << step;
    for (int s = 0; s < USER_SLOTS; s++) {
        const UserEntry& user = g_state.users[s];
        const ModelSlot& slot = model.slots[s];
        ASSERT_EQ(user.present != 0, slot.present) << "step " << step << " slot " << s;
        if (!slot.present) continue;
        ASSERT_EQ(user.name, slot.name) << "step " << step << " slot " << s;
        ASSERT_EQ(user.share, slot.share) << "step " << step << " slot " << s;
        ASSERT_EQ(find_user(user.name), s) << "step " << step << " name " << user.name;
    }
    // The index holds the present users and nothing else: an entry left
    // behind would fill it up over a long session.
    int entries = 0;
    for (int16_t entry : g_state.user_index.slot_plus_one) entries += entry != 0 ? 1 : 0;
    ASSERT_EQ(entries, model.count()) << "step " << step;
    for (int s = 0; s < USER_SLOTS; s++) {
        bool bit = (g_state.user_index.present[s / 64] >> (s % 64)) & 1;
        ASSERT_EQ(bit, model.slots[s].present) << "step " << step << " slot " << s;
    }
}

}  // namespace

TEST_F(UserTable, IndexFindsWhatAWalkOverTheTableFindsThroughJoinsQuitsEvictionsSortsAndClears) {
    // Names that are prefixes of one another ("u1", "u12", "u123") and differ
    // only in case ("u7", "U7"); more of them than slots, so a busy hub fills
    // the table and newcomers evict slot 0. Plus a nick of 49 bytes, which
    // fits, and its 50-byte extension, which is never taken.
    std::vector<std::string> names;
    for (int i = 0; i < 4400; i++) names.push_back(std::string("u").append(std::to_string(i)));
    for (int i = 0; i < 600; i++) names.push_back(std::string("U").append(std::to_string(i)));
    names.push_back(std::string(49, 'x'));
    names.push_back(std::string(50, 'x'));
    names.push_back(std::string("\xC1\xEE\xE1"));  // Cyrillic, bytes 0x80 and above

    std::mt19937 random(20261207);
    PlainTable model;
    int sorts = 0;
    int clears = 0;
    int quits_found = 0;
    constexpr int STEPS = 60000;
    for (int step = 0; step < STEPS; step++) {
        const std::string& nick = names[random() % names.size()];
        // Phases of 4000 steps: mostly joins (the table fills and evicts),
        // then as many quits as joins (it thins out again).
        unsigned joins = (step / 4000) % 2 == 0 ? 9500 : 5000;
        unsigned pick = random() % 10000;
        bool whole_table = pick < 12;
        if (pick < 10) {
            sort_users();
            model.sort();
            sorts++;
        } else if (pick < 12) {
            user_table_empty();
            model.clear();
            clears++;
        } else if (pick < joins) {
            std::string share = std::to_string(random());
            update_user(nick.c_str(), share.c_str(), 1);
            model.update(nick, share, true);
        } else {
            quits_found += model.find(nick) >= 0 ? 1 : 0;
            update_user(nick.c_str(), "", 0);
            model.update(nick, "", false);
        }
        // The user just named and one more, present or not, found alike.
        const std::string& probe = names[random() % names.size()];
        ASSERT_EQ(find_user(nick.c_str()), model.find(nick)) << "step " << step << " " << nick;
        ASSERT_EQ(find_user(probe.c_str()), model.find(probe)) << "step " << step << " " << probe;
        if (whole_table || step % 1000 == 0) {
            expect_same_table(model, step);
            if (HasFatalFailure()) return;
        }
    }
    expect_same_table(model, STEPS);
    // The run went through what it is about.
    EXPECT_GT(model.evictions, 100);
    EXPECT_GT(sorts, 20);
    EXPECT_GT(clears, 2);
    EXPECT_GT(quits_found, 1000);
}
