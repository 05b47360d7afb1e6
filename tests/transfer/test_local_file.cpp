// Part file names and the free name a finished download takes.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "transfer/download_fixture.h"
#include "transfer/local_file.h"

using namespace download_test;

namespace {

std::string choice(const char* name, int n) {
    char out[RESULT_SHORT_BYTES + 8];
    return free_name_choice(name, n, out, sizeof out) ? out : "<none>";
}

TEST(FreeName, NumberGoesBeforeTheExtension) {
    EXPECT_EQ(choice("a.mp3", 0), "a.mp3");
    EXPECT_EQ(choice("a.mp3", 2), "a (2).mp3");
    EXPECT_EQ(choice("a.tar.gz", 1), "a.tar (1).gz");
    EXPECT_EQ(choice("README", 1), "README (1)");
    EXPECT_EQ(choice(".bashrc", 1), ".bashrc (1)");  // a leading dot starts no extension
    EXPECT_EQ(choice("Война и мир.txt", 999), "Война и мир (999).txt");
    char small[8];
    EXPECT_EQ(free_name_choice("abc.txt", 1, small, sizeof small), 0);  // "abc (1).txt" does not fit
    EXPECT_STREQ(small, "");
}

TEST(FreeName, PartIdTellsFilesApartAndKeepsTheTth) {
    char a[TTH_TEXT_BYTES], b[TTH_TEXT_BYTES], c[TTH_TEXT_BYTES];
    download_identity("", "bob", "x\\a.mp3", 10, a);
    download_identity("", "bob", "x\\a.mp3", 11, b);
    download_identity("", "bo", "bx\\a.mp3", 10, c);  // the same bytes end to end, another owner
    EXPECT_EQ(strlen(a), 13u);
    EXPECT_STRNE(a, b);
    EXPECT_STRNE(a, c);
    download_identity("B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SI", "bob", "x", 1, a);
    EXPECT_STREQ(a, "B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SI");
}

// The part's name is read in the hub's encoding and is never cut: a cut
// name would be another file's, so it must fit with room to spare.
TEST(FreeName, PartNameIsInTheHubsEncodingAndNeverCut) {
    reset_download_state();
    char16_t out[64];
    EXPECT_EQ(part_file_name("\xC2\xEE\xE9\xED\xE0.txt", "ID", 0, out, 64), 1);
    EXPECT_EQ(std::u16string(out), u"Война.txt.ID.part");
    hub_encoding_set(ENCODING_UTF8);
    EXPECT_EQ(part_file_name("Война.txt", "ID", 0, out, 64), 1);
    EXPECT_EQ(std::u16string(out), u"Война.txt.ID.part");
    EXPECT_EQ(part_file_name("Война.txt", "ID", 0, out, 19), 1);
    EXPECT_EQ(part_file_name("Война.txt", "ID", 0, out, 18), 0);
    hub_encoding_set(ENCODING_CP1251);
}

TEST(FreeName, RenameSkipsEveryTakenNameAndReplacesNothing) {
    TempCurrentDirectory dir;
    ASSERT_TRUE(dir.ok());
    { std::ofstream("a.mp3") << "mine"; }
    { std::ofstream("a (1).mp3") << "mine too"; }
    { std::ofstream("a.mp3.X.part") << "new"; }
    char final_name[RESULT_SHORT_BYTES + 8];
    ASSERT_EQ(part_rename_free(u"a.mp3.X.part", "a.mp3", final_name, sizeof final_name), 1);
    EXPECT_STREQ(final_name, "a (2).mp3");
    EXPECT_EQ(file_text("a.mp3"), "mine");
    EXPECT_EQ(file_text("a (1).mp3"), "mine too");
    EXPECT_EQ(file_text("a (2).mp3"), "new");
    EXPECT_FALSE(file_exists("a.mp3.X.part"));
}

}  // namespace
