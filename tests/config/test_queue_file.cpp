// The queue file: every kind of entry through a save and a load, the longest
// queue included; a file cut short or malformed kept aside with a note and
// the queue empty; hostile values refused without a crash; entries that
// cannot be written or taken whole left out and said so.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "config/queue_file.h"
#include "platform/platform.h"
#include "state/client_state.h"

namespace {

const char TTH[] = "LWPNACQDBZRYXW3VHJVCJ64QBZNGHOHHHZWCLNQ";

std::string chat_text() {
    static char16_t wide[8192];
    chatlog_copy_text(wide, 8192);
    static char utf8[3 * 8192];
    utf16_to_utf8(wide, -1, utf8, sizeof utf8);
    return utf8;
}

QueueEntry& add(uint8_t encoding, const char* nick, const char* path, const char* name) {
    QueueEntry& e = g_state.queue[g_state.queue_count++];
    memset(&e, 0, sizeof e);
    e.id = ++g_state.queue_next_id;
    e.encoding = encoding;
    QueueTexts texts{};
    strcpy(texts.nick, nick);
    strcpy(texts.path, path);
    strcpy(texts.name, name);
    queue_texts_put(&e, &texts);
    return e;
}

// An entry as a whole: its numbers and its texts, wherever the store keeps them.
struct Whole {
    QueueEntry head;
    QueueTexts texts;
};

Whole whole(const QueueEntry& e) {
    Whole w;
    memset(&w, 0, sizeof w);
    w.head = e;
    w.head.text = 0;
    w.head.text_room = 0;
    queue_texts_get(&e, &w.texts);
    return w;
}

bool same(const Whole& a, const Whole& b) { return memcmp(&a, &b, sizeof a) == 0; }

std::string slurp(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(none)";
}

class QueueFile : public ::testing::Test {
protected:
    char dir[64] = "/tmp/kivo-queue-XXXXXX";
    std::string file;  // in a folder not made yet
    char16_t path[SETTINGS_PATH_UNITS];

    void SetUp() override {
        client_state_reset();
        u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\n");
        ASSERT_NE(mkdtemp(dir), nullptr);
        file = std::string(dir) + "/kivo/queue.xml";
        utf8_to_utf16(file.c_str(), -1, path, SETTINGS_PATH_UNITS);
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + std::string(dir) + "'").c_str()), 0); }
    void write(const std::string& text) {
        mkdir((std::string(dir) + "/kivo").c_str(), 0700);
        std::ofstream(file, std::ios::binary) << text;
    }
    // Loads what is there: the file must be gone, kept whole under the name
    // the note gives ("<file>.bad-<unix time>[-n]"); `count` entries taken.
    void expect_kept_aside(const std::string& text, const std::string& note_start, int count) {
        g_state.queue_count = 1;
        queue_file_load(path);
        EXPECT_EQ(g_state.queue_count, count);
        const std::string note = chat_text();
        const std::string head = note_start + ": kept as " + file + ".bad-";
        ASSERT_EQ(note.rfind(head, 0), 0u) << note;
        const std::string aside = note.substr(head.size() - file.size() - 5, note.find(';') - head.size() + file.size() + 5);
        EXPECT_EQ(slurp(file), "(none)");
        EXPECT_EQ(slurp(aside), text) << aside;
        EXPECT_EQ(g_state.queue_dirty, count > 0 ? 1 : 0) << "written anew without what was not taken";
        client_state_reset();
    }
};

// Cyrillic names in 1251 and UTF-8 with XML's own characters, tab and line
// breaks, 1252's undefined byte, every state, a TTH-less entry: all read back
// byte for byte, a running entry as waiting, with new ids, in a folder made.
TEST_F(QueueFile, EveryKindOfEntrySurvivesASaveAndALoad) {
    QueueEntry& a = add(ENCODING_CP1251, "\xcf\xe5\xf2\xff&\"<>", "\xcf\xe0\xef\xea\xe0\\\xf4\xe0\xe9\xeb \x98\t\r\n.txt",
                        "\xf4\xe0\xe9\xeb.txt");
    queue_text_set(&a, QUEUE_TTH, TTH);
    a.size = UINT64_MAX;
    a.held = 12345;
    a.tries = 65535;
    a.state = QUEUE_RUNNING;
    a.retry_ms = 99;
    queue_text_set(&a, QUEUE_ERROR, "\xed\xe5\xf2 \"slots\"");
    QueueEntry& b = add(ENCODING_UTF8, "Петя", "Музыка\\песня 😀.mp3", "песня 😀.mp3");
    b.state = QUEUE_FAILED;
    b.last_end = END_KINDS - 1;  // the last kind of end reads back
    add(ENCODING_CP1252, "caf\xe9", "dir\\\x81\x8d.bin", "\x81\x8d.bin").state = QUEUE_DONE;
    add(ENCODING_UTF8, "p", "x\\p", "p").state = QUEUE_PAUSED;
    add(ENCODING_UTF8, "w", "x\\w", "w").state = QUEUE_WAITING;
    // Names that would not come back whole (a control byte, UTF-8 that is
    // none) are left out, never written as another name; the note comes once.
    add(ENCODING_CP1251, "n", "d\\a\x01" "b", "a\x01" "b");
    add(ENCODING_UTF8, "n", "d\\\xcf\xe0", "\xcf\xe0");
    Whole expected[5];
    for (int i = 0; i < 5; i++) {
        expected[i] = whole(g_state.queue[i]);
        expected[i].head.id = (uint32_t)i + 1;  // anew, past 0
        expected[i].head.retry_ms = 0;          // tried at once
    }
    expected[0].head.state = QUEUE_WAITING;

    ASSERT_EQ(queue_file_save(path), 1);
    ASSERT_EQ(queue_file_save(path), 1);
    EXPECT_EQ(chat_text(), "2 entries of the download queue name a file with characters queue.xml cannot keep: they are "
                           "not saved, and go when Kivo ends\n");
    struct stat st;
    ASSERT_EQ(stat((std::string(dir) + "/kivo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(slurp(file).find("Path=\"Папка\\файл \xc2\x98&#9;&#13;&#10;.txt\""), std::string::npos) << slurp(file);

    client_state_reset();
    g_state.queue_next_id = UINT32_MAX;
    queue_file_load(path);
    EXPECT_EQ(chat_text(), "");
    ASSERT_EQ(g_state.queue_count, 5);
    for (int i = 0; i < 5; i++) EXPECT_TRUE(same(whole(g_state.queue[i]), expected[i])) << i;
}

// QUEUE_ENTRIES entries with every text at its longest and escaped at its
// longest fit the text, and come back whole through the bounded parse.
TEST_F(QueueFile, FullQueueAtItsLongestRoundTrips) {
    for (int i = 0; i < QUEUE_ENTRIES; i++) {
        QueueEntry& e = add(ENCODING_UTF8, "", "", "");
        QueueTexts texts{};
        memset(texts.nick, '"', QUEUE_NICK_BYTES - 1);
        memset(texts.path, '"', QUEUE_PATH_BYTES - 1);
        memset(texts.name, '"', QUEUE_NAME_BYTES - 1);
        memset(texts.error, '"', DOWNLOAD_DETAIL_BYTES - 1);
        texts.nick[0] = (char)('A' + i % 26);
        strcpy(texts.tth, TTH);
        queue_texts_put(&e, &texts);
        e.size = e.held = UINT64_MAX;
        e.tries = UINT16_MAX;
        e.state = QUEUE_PAUSED;
        e.last_end = END_UNANSWERED;
    }
    static char text[QUEUE_TEXT_BYTES];
    const int length = queue_text_make(text, QUEUE_TEXT_BYTES);
    ASSERT_GT(length, QUEUE_TEXT_BYTES * 9 / 10) << "the worst case is near the bound";
    EXPECT_EQ(queue_text_make(text, length), 0) << "a text that does not fit is none";
    Whole last = whole(g_state.queue[QUEUE_ENTRIES - 1]);
    queue_text_make(text, QUEUE_TEXT_BYTES);
    client_state_reset();
    ASSERT_EQ(queue_text_parse(text, length), 1);
    ASSERT_EQ(g_state.queue_count, QUEUE_ENTRIES);
    last.head.id = QUEUE_ENTRIES;
    EXPECT_TRUE(same(whole(g_state.queue[QUEUE_ENTRIES - 1]), last));
}

// What a write killed midway leaves, and what is no queue file, is kept
// aside whole; the queue starts empty; no cut point crashes the parse.
TEST_F(QueueFile, FileCutShortOrMalformedIsKeptAsideAndTheQueueStartsEmpty) {
    add(ENCODING_CP1251, "n", "d\\f", "f").size = 7;
    add(ENCODING_UTF8, "m", "d\\g", "g");
    ASSERT_EQ(queue_file_save(path), 1);
    const std::string whole = slurp(file);
    for (size_t cut = 0; cut < whole.size() - 1; cut++) {
        g_state.queue_count = 1;
        EXPECT_EQ(queue_text_parse(whole.data(), (int)cut), 0) << cut;
        EXPECT_EQ(g_state.queue_count, 0);
    }
    const std::string half = whole.substr(0, whole.size() / 2);
    write(half);
    expect_kept_aside(half, "cannot read the download queue in " + file, 0);
    write("<KivoSettings Nick=\"x\"/>");
    expect_kept_aside("<KivoSettings Nick=\"x\"/>", "cannot read the download queue in " + file, 0);

    // An absent file is no fault.
    queue_file_load(path);
    EXPECT_EQ(chat_text(), "");
}

std::string one_file(const std::string& attributes) {
    return "<KivoQueue Version=\"1\"><File Nick=\"n\" Path=\"d\\f\" Name=\"f\" " + attributes + "/></KivoQueue>";
}

TEST_F(QueueFile, HostileValuesAreRefusedWithoutACrash) {
    std::string nested = "<KivoQueue Version=\"1\">";
    for (int i = 0; i < 100000; i++) nested += "<a>";
    const std::string bad[] = {
        one_file("Size=\"18446744073709551616\""),
        one_file("Size=\"-1\""),
        one_file("Size=\"1\" Held=\"0x10\""),
        one_file("Size=\"1\" Tries=\"65536\""),
        one_file("Size=\"1\" LastEnd=\"200\""),
        one_file("Size=\"1\" State=\"running\""),
        one_file("Size=\"1\" Encoding=\"auto\""),
        one_file("Size=\"1\" TTH=\"" + std::string(TTH).substr(0, 38) + "\""),
        one_file("Size=\"1\" TTH=\"lwpnacqdbzryxw3vhjvcj64qbznghohhhzwclnq\""),
        "<KivoQueue Version=\"1\"><File Path=\"d\\f\" Name=\"f\" Size=\"1\"/></KivoQueue>",
        "<KivoQueue Version=\"2\"></KivoQueue>",
        "<KivoQueue Version=\"1\"><File Nick=\"" + std::string(10 << 20, 'x') + "\"/></KivoQueue>",
        nested,
        "",
    };
    for (const std::string& t : bad) {
        add(ENCODING_UTF8, "before", "d\\b", "b");
        EXPECT_EQ(queue_text_parse(t.data(), (int)t.size()), 0) << t.substr(0, 80);
        EXPECT_EQ(g_state.queue_count, 0) << t.substr(0, 80);
    }
    // What a later Kivo may add is passed over.
    const std::string later = "<KivoQueue Version=\"1\" New=\"1\"><Hub/><File Nick=\"n\" Path=\"d\\f\" Name=\"f\" Size=\"5\" "
                              "Speed=\"9\"><Part/></File></KivoQueue>";
    ASSERT_EQ(queue_text_parse(later.data(), (int)later.size()), 1);
    EXPECT_EQ(g_state.queue[0].size + g_state.queue_count, 6u);
}

// Entries too long for Kivo's fields, or past QUEUE_ENTRIES, are not taken
// (never cut); the others are, and the file is kept aside whole.
TEST_F(QueueFile, EntriesThatDoNotFitAreSkippedAndTheFileKeptAside) {
    std::string text = "<KivoQueue Version=\"1\">";
    text += "<File Nick=\"" + std::string(QUEUE_NICK_BYTES, 'n') + "\" Path=\"d\\f\" Name=\"f\" Size=\"1\"/>";
    text += "<File Nick=\"n\" Path=\"d\\Ω\" Name=\"Ω\" Size=\"1\" Encoding=\"cp1251\"/>";  // 1251 has no Ω
    for (int i = 0; i < QUEUE_ENTRIES + 2; i++) text += "<File Nick=\"n\" Path=\"d\\f\" Name=\"f\" Size=\"1\"/>";
    text += "</KivoQueue>";
    write(text);
    expect_kept_aside(text, "4 entries of the download queue in " + file + " are not taken (2 too long for Kivo, 2 past 1000)",
                      QUEUE_ENTRIES);
}

// The new file cannot be made: the old one stays whole; one note for a run
// of failures.
TEST_F(QueueFile, FailedSaveLeavesTheOldFileWholeAndNotesOnce) {
    add(ENCODING_UTF8, "n", "d\\old", "old");
    ASSERT_EQ(queue_file_save(path), 1);
    const std::string old_text = slurp(file);
    ASSERT_EQ(mkdir((file + ".new").c_str(), 0700), 0);
    queue_text_set(&g_state.queue[0], QUEUE_NAME, "new");
    EXPECT_EQ(queue_file_save(path), 0);
    EXPECT_EQ(queue_file_save(path), 0);
    EXPECT_EQ(slurp(file), old_text);
    EXPECT_EQ(chat_text(), "cannot save the download queue to " + file + "; the file there is as it was\n");
    ASSERT_EQ(rmdir((file + ".new").c_str()), 0);
    EXPECT_EQ(queue_file_save(path), 1);
}

}  // namespace
