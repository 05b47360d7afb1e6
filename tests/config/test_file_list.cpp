// Peers' file lists: the lists real clients served, read whole with their
// names, paths, TTHs and totals; several bzip2 streams and names that are
// no UTF-8 or hostile kept byte for byte; lists cut, damaged or malformed
// keep what came before, with a note; each cap, a bzip2 bomb and a 10 MB
// attribute end with a note; closing gives the memory back.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "config/file_list.h"
#include "platform/platform.h"

namespace {

const char HEAD[] = "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n"
                    "<FileListing Version=\"1\" CID=\"AAAA\" Base=\"/\" Generator=\"test 1\">\n";
const char TTH[] = "LWPNACQDBZRYXW3VHJVCJ64QBZNGHOHHHZWCLNQ";

std::string bzip2(const std::string& text) {
    std::vector<char> out(text.size() + text.size() / 100 + 700);
    unsigned length = (unsigned)out.size();
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &length, (char*)text.data(), (unsigned)text.size(), 1, 0, 0), BZ_OK);
    return std::string(out.data(), length);
}

long rss_kib() {
    std::ifstream in("/proc/self/statm");
    long pages = 0, resident = 0;
    in >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

class FileListRead : public ::testing::Test {
protected:
    std::string file = "/tmp/kivo-list-" + std::to_string(getpid()) + ".xml.bz2";
    FileList list{};
    FileListResult result{};

    void TearDown() override {
        file_list_close(&list);
        unlink(file.c_str());
    }
    // The bytes as the file, then read.
    FileListResult open_bytes(const std::string& bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
        char16_t path[256];
        utf8_to_utf16(file.c_str(), -1, path, 256);
        file_list_close(&list);
        return result = file_list_open(&list, path);
    }
    FileListResult open_xml(const std::string& xml) { return open_bytes(bzip2(xml)); }
    std::string note() {
        char utf8[3 * FILE_LIST_NOTE_UNITS];
        utf16_to_utf8(list.note, -1, utf8, sizeof utf8);
        return utf8;
    }
    std::string name(uint32_t e) {
        int bytes;
        const char* n = file_list_name(&list, e, &bytes);
        return std::string(n, (size_t)bytes);
    }
    std::string path(uint32_t e) {
        char out[4096];
        return file_list_path(&list, e, out, sizeof out) > 0 ? out : "(none)";
    }
    // The names of a folder's children in that order, '|' between.
    std::string children(uint32_t folder, FileListOrder order = FILE_LIST_BY_NAME) {
        const uint32_t* c;
        uint32_t n = file_list_children(&list, folder, order, &c);
        std::string all;
        for (uint32_t i = 0; i < n; i++) {
            if (i > 0) all += '|';
            all += name(c[i]);
        }
        return all;
    }
    uint32_t child(uint32_t folder, const std::string& wanted) {
        const uint32_t* c;
        uint32_t n = file_list_children(&list, folder, FILE_LIST_BY_NAME, &c);
        for (uint32_t i = 0; i < n; i++)
            if (name(c[i]) == wanted) return c[i];
        return FILE_LIST_NO_ENTRY;
    }
    uint32_t at_path(const std::vector<std::string>& names) {
        uint32_t e = FILE_LIST_ROOT;
        for (const std::string& n : names)
            if ((e = child(e, n)) == FILE_LIST_NO_ENTRY) break;
        return e;
    }
};

std::string source(const std::string& name) {
    std::ifstream in(std::string(KIVO_SOURCE_DIR) + "/tests/config/lists/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// --- Lists real clients served -----------------------------------------------

TEST_F(FileListRead, EiskaltdcppListReadWholeWithItsBellByteKept) {
    std::string bytes = source("eiskaltdcpp.xml.bz2");
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(open_bytes(bytes), FILE_LIST_WHOLE) << note();
    EXPECT_STREQ(list.generator, "EiskaltDC++ 2.4.2");
    EXPECT_EQ(children(FILE_LIST_ROOT), "pub");
    uint32_t pub = at_path({"pub"});
    EXPECT_EQ(children(pub), "docs|empty|Музыка|Пример файла.bin");
    EXPECT_EQ(children(pub, FILE_LIST_BY_SIZE), "Музыка|docs|empty|Пример файла.bin");
    uint32_t docs = at_path({"pub", "docs"});
    // eiskaltdcpp writes the control byte raw, which is no XML: kept as it is.
    EXPECT_EQ(children(docs), "deeper|bell\x07.txt|Notes & \"quotes\" <x> 'y'.txt|readme.txt");
    char16_t shown[64];
    file_list_name_shown(&list, child(docs, "bell\x07.txt"), shown, 64);
    EXPECT_TRUE(shown == std::u16string(u"bell\uFFFD.txt")) << "control bytes show as U+FFFD";
    uint32_t a = at_path({"pub", "docs", "deeper", "level3", "a.txt"});
    ASSERT_NE(a, FILE_LIST_NO_ENTRY);
    EXPECT_EQ(path(a), "pub\\docs\\deeper\\level3\\a.txt");
    EXPECT_EQ(path(docs), "pub\\docs");
    const FileListEntry* e = file_list_entry(&list, a);
    EXPECT_EQ(e->size, 5u);
    ASSERT_TRUE(e->flags & FILE_LIST_HAS_TTH);
    char tth[40];
    file_list_tth_text(&list, a, tth);
    EXPECT_STREQ(tth, "CMD5B6IKIDVV3RURHTNLDC646VT52DYHFU4YEYA");
    FileListTotal t = file_list_total(&list);
    EXPECT_EQ(t.files, 6u);
    EXPECT_EQ(t.folders, 6u);
    EXPECT_EQ(t.bytes, 70000u + 5 + 5 + 6 + 7 + 2000);
    EXPECT_EQ(file_list_entry(&list, docs)->files, 4u);
    EXPECT_EQ(file_list_entry(&list, docs)->size, 23u);
    // Found case aside, Cyrillic too, one after the other.
    uint32_t m = file_list_find(&list, "МУЗ", (int)strlen("МУЗ"), FILE_LIST_NO_ENTRY);
    EXPECT_EQ(name(m), "Музыка");
    uint32_t t1 = file_list_find(&list, ".TXT", 4, FILE_LIST_NO_ENTRY);
    uint32_t t2 = file_list_find(&list, ".TXT", 4, t1);
    uint32_t t3 = file_list_find(&list, ".TXT", 4, t2);
    EXPECT_EQ(name(t1) + "|" + name(t2) + "|" + name(t3), "a.txt|bell\x07.txt|Notes & \"quotes\" <x> 'y'.txt");
    EXPECT_EQ(file_list_find(&list, "nothing", 7, FILE_LIST_NO_ENTRY), FILE_LIST_NO_ENTRY);
}

TEST_F(FileListRead, NcdcAndMicrodc2ListsReadWhole) {
    for (const char* client : {"ncdc.xml.bz2", "microdc2.xml.bz2"}) {
        std::string bytes = source(client);
        if (bytes.empty()) continue;  // not captured
        ASSERT_EQ(open_bytes(bytes), FILE_LIST_WHOLE) << client << ": " << note();
        uint32_t a = at_path({"pub", "docs", "deeper", "level3", "a.txt"});
        ASSERT_NE(a, FILE_LIST_NO_ENTRY) << client;
        EXPECT_EQ(path(a), "pub\\docs\\deeper\\level3\\a.txt") << client;
        EXPECT_TRUE(file_list_entry(&list, a)->flags & FILE_LIST_HAS_TTH) << client;
        EXPECT_NE(at_path({"pub", "Музыка", "песня.mp3"}), FILE_LIST_NO_ENTRY) << client;
        EXPECT_GE(file_list_total(&list).bytes, 72000u) << client;
    }
    // microdc2 writes names as the disk has them: a Latin-1 byte, a control
    // byte, two names that differ only in case (the same case aside: by
    // their bytes). All kept.
    ASSERT_EQ(open_bytes(source("microdc2.xml.bz2")), FILE_LIST_WHOLE) << note();
    uint32_t docs = at_path({"pub", "docs"});
    EXPECT_EQ(children(docs), "deeper|bell\x07.txt|caf\xe9.txt|Notes & \"quotes\" <x> 'y'.txt|README.TXT|readme.txt");
    char16_t shown[64];
    file_list_name_shown(&list, child(docs, "caf\xe9.txt"), shown, 64);
    EXPECT_TRUE(shown == std::u16string(u"caf\uFFFD.txt"));
    EXPECT_EQ(file_list_total(&list).files, 8u);
}

// --- Streams and names ---------------------------------------------------------

TEST_F(FileListRead, StreamsSplitInsideACharacterReadAsOneText) {
    std::string xml = std::string(HEAD) + "<Directory Name=\"Пример\"><File Name=\"файл.bin\" Size=\"10\" TTH=\"" + TTH +
                      "\"/></Directory></FileListing>";
    size_t cut = xml.find("файл") + 1;  // between the two bytes of "ф"
    ASSERT_EQ(open_bytes(bzip2(xml.substr(0, cut)) + bzip2(xml.substr(cut, 3)) + bzip2(xml.substr(cut + 3))),
              FILE_LIST_WHOLE)
        << note();
    EXPECT_EQ(path(at_path({"Пример", "файл.bin"})), "Пример\\файл.bin");
    // Bytes after the last stream that start no other are passed over.
    EXPECT_EQ(open_bytes(bzip2(xml) + "garbage"), FILE_LIST_WHOLE) << note();
}

TEST_F(FileListRead, HostileAndInvalidNamesKeptByteForByte) {
    const std::vector<std::string> names = {
        "..", ".", "a/b", "a\\b", "ctl\x01\x1f", std::string("nul\0x", 5), "caf\xe9", "cut\xe2\x82",
        "\xef\x9c\x81 private use", "\xef\xbf\xbf not a character", "Readme.txt", "README.TXT", "\xff\xfe"};
    std::string xml = HEAD;
    for (const std::string& n : names) xml += "<File Name=\"" + n + "\" Size=\"1\"/>\n";
    xml += "</FileListing>";
    ASSERT_EQ(open_xml(xml), FILE_LIST_WHOLE) << note();
    ASSERT_EQ(list.count, names.size() + 1);
    for (uint32_t i = 0; i < names.size(); i++) EXPECT_EQ(name(i + 1), names[i]) << i;
    char16_t shown[64];
    file_list_name_shown(&list, 7, shown, 64);
    EXPECT_TRUE(shown == std::u16string(u"caf\uFFFD"));
    file_list_name_shown(&list, 6, shown, 64);
    EXPECT_TRUE(shown == std::u16string(u"nul\uFFFDx"));
    EXPECT_EQ(path(3), "a/b");
}

// --- Faults --------------------------------------------------------------------

std::string many_files(int from, int to) {
    std::string xml;
    for (int i = from; i < to; i++) xml += "<File Name=\"file " + std::to_string(i) + ".bin\" Size=\"2\"/>\n";
    return xml;
}

TEST_F(FileListRead, CutDamagedAndMalformedListsKeepWhatCameBefore) {
    std::string xml = std::string(HEAD) + "<Directory Name=\"d\">" + many_files(0, 30000) + "</Directory></FileListing>";
    std::string bz = bzip2(xml);
    EXPECT_EQ(open_bytes(bz.substr(0, bz.size() / 2)), FILE_LIST_CUT);
    EXPECT_NE(note().find("the list is cut: the compressed file ends early"), std::string::npos) << note();
    uint32_t d = at_path({"d"});
    EXPECT_GT(file_list_entry(&list, d)->files, 1000u);
    EXPECT_EQ(file_list_total(&list).bytes, 2u * file_list_entry(&list, d)->files) << "a folder cut open has its totals";
    std::string damaged = bz;
    damaged[bz.size() / 2] ^= 0x55;
    // bzip2 checks a block's CRC at its end, after its text went out: the
    // parser may be the first to see the damage.
    EXPECT_EQ(open_bytes(damaged), FILE_LIST_CUT);
    EXPECT_EQ(note().find("the list is cut"), 0u) << note();
    EXPECT_EQ(open_bytes(bz.substr(0, 100) + std::string(bz.size() - 100, 'x')), FILE_LIST_UNREAD);  // nothing before
    EXPECT_EQ(note().find("the list is cut: its compressed data is damaged"), 0u) << note();

    EXPECT_EQ(open_xml(std::string(HEAD) + many_files(0, 3) + "<File Name=\"x\"></Directory>"), FILE_LIST_CUT);
    EXPECT_EQ(note(), "the list is cut at line 6: mismatched tag (entries read: 4)");
    EXPECT_EQ(open_xml(std::string(HEAD) + many_files(0, 3)), FILE_LIST_CUT) << "no closing tag";
    EXPECT_EQ(list.count, 4u);
    EXPECT_EQ(open_xml("<!DOCTYPE x [<!ENTITY a \"aaaa\">]><FileListing/>"), FILE_LIST_UNREAD);
    EXPECT_EQ(open_xml("<Queue><File Name=\"a\"/></Queue>"), FILE_LIST_UNREAD);
    EXPECT_EQ(note(), "this is no file list");
    EXPECT_EQ(open_bytes(xml), FILE_LIST_UNREAD);
    EXPECT_EQ(note(), "the file list is not bzip2-compressed");
    EXPECT_EQ(open_bytes(""), FILE_LIST_UNREAD);
    unlink(file.c_str());
    char16_t missing[] = u"/nonexistent/files.xml.bz2";
    EXPECT_EQ(file_list_open(&list, missing), FILE_LIST_UNREAD);
    EXPECT_EQ(note(), "cannot open the file list /nonexistent/files.xml.bz2");
    EXPECT_EQ(list.region, nullptr);
}

TEST_F(FileListRead, EachCapStopsTheListWithANote) {
    // Names: 1024 bytes are taken, 1025 stop the list.
    std::string longest(FILE_LIST_NAME_BYTES, 'n');
    EXPECT_EQ(open_xml(std::string(HEAD) + "<File Name=\"" + longest + "\"/><File Name=\"" + longest +
                       "n\"/></FileListing>"),
              FILE_LIST_CUT);
    EXPECT_EQ(note(), "the list stops at a name longer than 1024 bytes (entries read: 1)");
    EXPECT_EQ(name(1), longest);

    // A million folders, one in the other: 64 are kept.
    std::string deep = HEAD;
    for (int i = 0; i < 1000000; i++) deep += "<Directory Name=\"d\">";
    EXPECT_EQ(open_xml(deep), FILE_LIST_CUT);
    EXPECT_EQ(note(), "the list stops at folders nested deeper than 64 (entries read: 64)");
    EXPECT_EQ(file_list_total(&list).folders, 64u);

    // Entries: one stream of 100,000 files sent again and again.
    std::string block = bzip2(many_files(0, 100000));
    std::string entries = bzip2(HEAD);
    for (uint32_t i = 0; i <= FILE_LIST_ENTRIES / 100000; i++) entries += block;
    EXPECT_EQ(open_bytes(entries + bzip2("</FileListing>")), FILE_LIST_CUT);
    EXPECT_EQ(note(), "the list stops at 2000000 entries (entries read: 1999999)");
    EXPECT_EQ(file_list_total(&list).files, FILE_LIST_ENTRIES - 1);

    // Names together: files of 1,000-byte names.
    std::string names;
    for (int i = 0; i < 1000; i++) names += "<File Name=\"" + std::string(1000, 'a' + i % 26) + "\"/>";
    block = bzip2(names);
    std::string all = bzip2(HEAD);
    for (uint64_t i = 0; i <= FILE_LIST_NAMES_BYTES / 1000000; i++) all += block;
    EXPECT_EQ(open_bytes(all), FILE_LIST_CUT);
    EXPECT_NE(note().find("the list stops at 256 MiB of names"), std::string::npos) << note();
}

TEST_F(FileListRead, BombAndLongAttributeEndWithANote) {
    // 64 MiB of blanks in 450 bytes, 17 times: over a GiB from a few kB.
    std::string blanks = bzip2(std::string(64u << 20, ' '));
    std::string bomb = bzip2(std::string(HEAD) + "<Directory Name=\"x\">" + many_files(0, 10));
    for (int i = 0; i < 17; i++) bomb += blanks;
    EXPECT_LT(bomb.size(), 10000u);
    EXPECT_EQ(open_bytes(bomb), FILE_LIST_CUT);
    EXPECT_EQ(note(), "the list stops at 4 MiB of text without an entry (entries read: 11)");
    EXPECT_LT(list.text_bytes, 5u << 20);
    // Entries 3 MiB apart: the text read stops at its cap.
    std::string apart = bzip2(std::string(3u << 20, ' ') + "<File Name=\"a\"/>");
    bomb = bzip2(HEAD);
    for (uint64_t i = 0; i <= FILE_LIST_TEXT_BYTES / (3u << 20); i++) bomb += apart;
    EXPECT_EQ(open_bytes(bomb), FILE_LIST_CUT);
    EXPECT_EQ(note(), "the list stops at 512 MiB of text (entries read: 170)");
    EXPECT_EQ(list.text_bytes, FILE_LIST_TEXT_BYTES);

    EXPECT_EQ(open_xml(std::string(HEAD) + many_files(0, 2) + "<File Name=\"" + std::string(10u << 20, 'a') + "\"/>"),
              FILE_LIST_CUT);
    EXPECT_EQ(note(), "the list is cut at line 5: an element longer than Kivo reads (entries read: 2)");
}

TEST_F(FileListRead, ClosingGivesTheMemoryBack) {
    std::string xml = std::string(HEAD) + "<Directory Name=\"d\">" + many_files(0, 200000) + "</Directory></FileListing>";
    std::string bz = bzip2(xml);
    // A first list pages in the reader's code and the library's tables,
    // once for the process: the figure is taken after it.
    ASSERT_EQ(open_bytes(bz), FILE_LIST_WHOLE) << note();
    file_list_close(&list);
    long before = rss_kib();
    ASSERT_EQ(open_bytes(bz), FILE_LIST_WHOLE) << note();
    size_t held = file_list_held_bytes(&list);
    EXPECT_GT(held, 200000u * 60);
    EXPECT_LT(held, 200000u * (60 + 20));
    EXPECT_GT(rss_kib() - before, (long)(held / 1024) - 1024) << "the entries are resident";
    EXPECT_LT(rss_kib() - before, (long)(held / 1024) + 2048) << "the scratch is given back after the read";
    file_list_close(&list);
    EXPECT_EQ(file_list_held_bytes(&list), 0u);
    EXPECT_LT(rss_kib() - before, 200);
    // Sorted by size then name, folders first, after a reopen.
    ASSERT_EQ(open_xml(std::string(HEAD) + "<File Name=\"b\" Size=\"1\"/><File Name=\"A\" Size=\"1\"/>"
                                           "<File Name=\"c\" Size=\"9\"/><Directory Name=\"z\"/></FileListing>"),
              FILE_LIST_WHOLE);
    EXPECT_EQ(children(FILE_LIST_ROOT, FILE_LIST_BY_SIZE), "z|c|A|b");
    EXPECT_EQ(children(FILE_LIST_ROOT, FILE_LIST_BY_NAME), "z|A|b|c");
    char small[4];
    EXPECT_EQ(file_list_path(&list, 1, small, 2), 1);
    EXPECT_EQ(file_list_path(&list, 1, small, 1), 0);
}

TEST_F(FileListRead, PartialListStartsAtItsBase) {
    ASSERT_EQ(open_xml("<FileListing Version=\"1\" Base=\"/share/sub/\"><Directory Name=\"more\" Incomplete=\"1\"/>"
                       "<File Name=\"x.txt\" Size=\"3\"/></FileListing>"),
              FILE_LIST_WHOLE);
    EXPECT_EQ(path(at_path({"x.txt"})), "share\\sub\\x.txt");
    EXPECT_TRUE(file_list_entry(&list, at_path({"more"}))->flags & FILE_LIST_INCOMPLETE);
}

}  // namespace
