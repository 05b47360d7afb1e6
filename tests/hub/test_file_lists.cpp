// Peers' file lists through the queue: Browse asks for a user's list, which
// goes ahead of the files, comes by $ADCGET into the cache and is told to
// the waiting browse; a kept list opens at once and Refresh fetches it
// again over the old one. Files of a list, and whole folders of it, go into
// the queue with local names made safe, and a file of a folder lands in its
// folder below the download folder.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "config/queue_file.h"
#include "hub/connection.h"
#include "hub/dispatch.h"
#include "hub/file_lists.h"
#include "hub/queue.h"
#include "hub/users.h"
#include "hub/queue_test_support.h"
#include "transfer/download_fixture.h"
#include "transfer/tth.h"

using namespace download_test;
using namespace queue_test;

namespace {

const std::string LIST_GREETING = "$MyNick bob|$Lock EXTENDEDPROTOCOL/wut? Pk=ncdc-1.23.1|"
                                  "$Supports MiniSlots XmlBZList ADCGet TTHL TTHF|$Direction Upload 0|$Key k|";

std::string bzip2(const std::string& text) {
    std::vector<char> out(text.size() + text.size() / 100 + 700);
    unsigned length = (unsigned)out.size();
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &length, (char*)text.data(), (unsigned)text.size(), 1, 0, 0), BZ_OK);
    return std::string(out.data(), length);
}

std::string tth(const std::string& data) {
    char root[TTH_TEXT_BYTES];
    tth_of_bytes(data.data(), (int)data.size(), root);
    return root;
}

std::string utf8(const char16_t* wide) {
    char out[2000];
    utf16_to_utf8(wide, -1, out, sizeof out);
    return out;
}

class FileLists : public ::testing::Test {
protected:
    void SetUp() override {
        reset_download_state();
        dir_ = std::make_unique<TempCurrentDirectory>();
        ASSERT_TRUE(dir_->ok());
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        root_ = cwd;
        utf8_to_utf16((root_ + "/lists/").c_str(), -1, g_state.lists_folder, DOWNLOAD_FOLDER_UNITS);
        utf8_to_utf16((root_ + "/dl/").c_str(), -1, g_state.settings.download_folder, DOWNLOAD_FOLDER_UNITS);
        utf8_to_utf16((root_ + "/parts/").c_str(), -1, g_state.parts_folder, DOWNLOAD_FOLDER_UNITS);
        update_user("bob", "0", 1);
        hub_ = std::make_unique<TestHub>();
        g_state.hub_socket = tcp_connect("127.0.0.1", hub_->port_text().c_str(), SOCKET_STREAM);
        ASSERT_GT(g_state.hub_socket, 0);
        g_state.hub_phase = HUB_ONLINE;
    }
    void TearDown() override {
        for (int job = 0; job < DOWNLOAD_JOBS; job++) download_set_stop(job, 1);
        EXPECT_TRUE(wait_until(3000, [] { return !download_any_running(); }));
        file_list_close(&list_);
        if (g_state.hub_socket > 0) closesocket(g_state.hub_socket);
        g_state.hub_socket = 0;
        hub_.reset();
        system(("rm -rf '" + root_ + "/lists' '" + root_ + "/dl' '" + root_ + "/parts'").c_str());
        dir_.reset();
    }

    // A peer that serves `bytes` as its list.
    static void serve_list(TestHub& peer, const std::string& bytes) {
        peer.expect("$Lock ").send(LIST_GREETING).expect("$ADCGET file files.xml.bz2 0 -1|");
        peer.send("$ADCSND file files.xml.bz2 0 " + std::to_string(bytes.size()) + "|" + bytes);
    }

    std::string root_;
    FileList list_{};
    std::unique_ptr<TempCurrentDirectory> dir_;
    std::unique_ptr<TestHub> hub_;
};

TEST_F(FileLists, BrowseFetchesTheListAheadOfFilesIntoTheCacheAndRefreshReplacesIt) {
    ASSERT_GE(queue_add("bob", "x\\a.bin", "a.bin", "", 5, ENCODING_CP1251), 0);
    queue_pause(0);
    ASSERT_EQ(file_list_browse("bob", "share\\Музыка", 0), 1);
    ASSERT_EQ(g_state.queue_count, 2);
    EXPECT_EQ(g_state.queue[0].kind, QUEUE_LIST);  // at the front
    EXPECT_TRUE(hub_->wait_received(0, "$RevConnectToMe me bob|", 2000));
    char nick[RESULT_NICK_BYTES], folder[QUEUE_PATH_BYTES];
    EXPECT_EQ(file_list_browse_take(nick, RESULT_NICK_BYTES, folder, QUEUE_PATH_BYTES), 0) << "not yet come";

    const std::string first = bzip2("<FileListing Version=\"1\" Base=\"/\"><Directory Name=\"share\"/></FileListing>");
    TestHub peer;
    serve_list(peer, first);
    from_hub("$ConnectToMe me 127.0.0.1:" + peer.port_text() + "|");
    ASSERT_TRUE(settle());
    char16_t path[1000];
    ASSERT_EQ(file_list_cache_path("bob", path, 1000), 1);
    EXPECT_EQ(file_text(utf8(path)), first);
    EXPECT_EQ(g_state.queue_count, 1) << "the list left the queue";
    ASSERT_EQ(file_list_browse_take(nick, RESULT_NICK_BYTES, folder, QUEUE_PATH_BYTES), 1);
    EXPECT_STREQ(nick, "bob");
    EXPECT_STREQ(folder, "share\\Музыка");
    EXPECT_EQ(file_list_browse_take(nick, RESULT_NICK_BYTES, folder, QUEUE_PATH_BYTES), 0) << "taken once";
    static char text[QUEUE_TEXT_BYTES];
    ASSERT_GT(queue_text_make(text, QUEUE_TEXT_BYTES), 0);
    EXPECT_EQ(strstr(text, "files.xml.bz2"), nullptr) << "a list is not kept in queue.xml";

    // Kept: it opens at once, nobody is asked.
    ASSERT_EQ(file_list_browse("bob", "", 0), 1);
    EXPECT_EQ(file_list_browse_take(nick, RESULT_NICK_BYTES, folder, QUEUE_PATH_BYTES), 1);
    EXPECT_EQ(g_state.queue_count, 1);
    KeptList kept[4];
    ASSERT_EQ(file_list_kept(kept, 4), 1);
    EXPECT_EQ(std::u16string(kept[0].shown), u"bob");
    EXPECT_STREQ(kept[0].nick, "bob");
    EXPECT_LT(kept[0].age_seconds, 60);

    // Refresh fetches it again, over the kept one, from its first byte.
    const std::string second = bzip2("<FileListing Version=\"1\" Base=\"/\"><Directory Name=\"new\"/></FileListing>");
    TestHub again;
    serve_list(again, second);
    ASSERT_EQ(file_list_browse("bob", "", 1), 1);
    from_hub("$ConnectToMe me 127.0.0.1:" + again.port_text() + "|");
    ASSERT_TRUE(settle());
    EXPECT_EQ(file_text(utf8(path)), second);
}

TEST_F(FileLists, AFolderGoesIntoTheQueueWithSafeNamesAndItsFilesLandInTheirFolders) {
    const std::string one = "first", two = "second", three = "third";
    const std::string xml = "<FileListing Version=\"1\" Base=\"/\"><Directory Name=\"share\"><Directory Name=\"Альбом\">"
                            "<File Name=\"01.mp3\" Size=\"5\" TTH=\"" + tth(one) + "\"/>"
                            "<Directory Name=\"..\"><File Name=\"x/y\" Size=\"5\" TTH=\"" + tth(three) + "\"/></Directory>"
                            "<Directory Name=\"sub\"><File Name=\"02.mp3\" Size=\"6\" TTH=\"" + tth(two) + "\"/>"
                            "<File Name=\"\x01.txt\" Size=\"1\"/></Directory>"
                            "</Directory></Directory></FileListing>";
    std::ofstream(root_ + "/bob.xml.bz2", std::ios::binary) << bzip2(xml);
    char16_t wide[1000];
    utf8_to_utf16((root_ + "/bob.xml.bz2").c_str(), -1, wide, 1000);
    ASSERT_EQ(file_list_open(&list_, wide), FILE_LIST_WHOLE) << utf8(list_.note);
    const uint32_t* children = nullptr;
    ASSERT_EQ(file_list_children(&list_, FILE_LIST_ROOT, FILE_LIST_BY_NAME, &children), 1u);
    uint32_t share = children[0];
    ASSERT_EQ(file_list_children(&list_, share, FILE_LIST_BY_NAME, &children), 1u);
    uint32_t album = children[0];

    g_state.settings.download_slots = 1;
    EXPECT_EQ(queue_add_from_list(&list_, album, "bob"), 4);
    ASSERT_EQ(g_state.queue_count, 4);
    std::vector<std::string> names;
    for (int i = 0; i < 4; i++) names.push_back(queue_text(&g_state.queue[i], QUEUE_NAME));
    // Folders first: "..", made "_", and "sub"; then the files; by name,
    // so the control byte (made "_") before the digits.
    EXPECT_EQ(names, (std::vector<std::string>{"Альбом/_/x_y", "Альбом/sub/_.txt", "Альбом/sub/02.mp3",
                                               "Альбом/01.mp3"}));
    EXPECT_STREQ(queue_text(&g_state.queue[2], QUEUE_PATH), "share\\Альбом\\sub\\02.mp3");
    EXPECT_STREQ(queue_text(&g_state.queue[2], QUEUE_TTH), tth(two).c_str());

    // Its file comes by its TTH and lands in its folder below the download folder.
    queue_remove(0);
    queue_remove(0);
    TestHub peer;
    peer.expect("$Lock ").send(LIST_GREETING).expect("$ADCGET file TTH/" + tth(two) + " 0 6|");
    peer.send("$ADCSND file TTH/" + tth(two) + " 0 6|" + two);
    from_hub("$ConnectToMe me 127.0.0.1:" + peer.port_text() + "|");
    ASSERT_TRUE(settle());
    EXPECT_EQ(file_text(root_ + "/dl/Альбом/sub/02.mp3"), two);
    EXPECT_EQ(g_state.queue[0].state, QUEUE_DONE);
}

// A file of a folder whose name is taken lands beside it under a free
// name; the entry then names that file as the list's entries are kept, in
// UTF-8 with its folders, whatever the hub's encoding, so the Downloads
// screen shows where it went and queue.xml keeps it.
TEST_F(FileLists, AFileThatTookAFreeNameIsNamedWithItsFoldersInItsOwnEncoding) {
    hub_encoding_set(ENCODING_CP1251);
    const std::string song = "song!";
    ASSERT_EQ(system(("mkdir -p '" + root_ + "/dl/Альбом'").c_str()), 0);
    std::ofstream(root_ + "/dl/Альбом/песня.mp3") << "mine";
    ASSERT_EQ(queue_add("bob", "share\\Альбом\\песня.mp3", "Альбом/песня.mp3", tth(song).c_str(), 5, ENCODING_UTF8), 0);
    queue_tick();
    ASSERT_TRUE(hub_->wait_received(0, "$RevConnectToMe me bob|", 2000));
    TestHub peer;
    peer.expect("$Lock ").send(LIST_GREETING).expect("$ADCGET file TTH/" + tth(song) + " 0 5|");
    peer.send("$ADCSND file TTH/" + tth(song) + " 0 5|" + song);
    from_hub("$ConnectToMe me 127.0.0.1:" + peer.port_text() + "|");
    ASSERT_TRUE(settle());
    EXPECT_EQ(file_text(root_ + "/dl/Альбом/песня (1).mp3"), song);
    EXPECT_EQ(file_text(root_ + "/dl/Альбом/песня.mp3"), "mine");
    ASSERT_EQ(g_state.queue[0].state, QUEUE_DONE);
    EXPECT_STREQ(queue_text(&g_state.queue[0], QUEUE_NAME), "Альбом/песня (1).mp3");
    static char text[QUEUE_TEXT_BYTES];
    ASSERT_GT(queue_text_make(text, QUEUE_TEXT_BYTES), 0);
    EXPECT_NE(strstr(text, " Name=\"Альбом/песня (1).mp3\" "), nullptr) << text;
}

TEST(LocalNames, EveryPartIsMadeSafeAndNothingReachesOutside) {
    char folders[QUEUE_NAME_BYTES], name[QUEUE_NAME_PART_BYTES];
    ASSERT_EQ(split_local_name("a/b\x01/c.txt", folders, QUEUE_NAME_BYTES, name, QUEUE_NAME_PART_BYTES), 1);
    EXPECT_STREQ(folders, "a/b_");
    EXPECT_STREQ(name, "c.txt");
    ASSERT_EQ(split_local_name("c.txt", folders, QUEUE_NAME_BYTES, name, QUEUE_NAME_PART_BYTES), 1);
    EXPECT_STREQ(folders, "");
    for (const char* bad : {"../x", "a/../x", "/x", "a//x", "a/", ".", "", "a/./x"}) {
        EXPECT_EQ(split_local_name(bad, folders, QUEUE_NAME_BYTES, name, QUEUE_NAME_PART_BYTES), 0) << bad;
        EXPECT_STREQ(folders, "");
        EXPECT_STREQ(name, "");
    }
    std::string long_part(QUEUE_NAME_PART_BYTES, 'x');
    EXPECT_EQ(split_local_name(("a/" + long_part).c_str(), folders, QUEUE_NAME_BYTES, name, QUEUE_NAME_PART_BYTES), 0);
}

}  // namespace
