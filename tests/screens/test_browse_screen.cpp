// The browse screen through the headless display, on real lists written
// into the cache folder: folders entered and left, sorting, Find and Next
// across folders, Info, Download of a file and of a folder, a cut list and
// one that cannot be read; the ways in from the main screen (a list that
// came) and the File lists screen.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "hub/file_lists.h"
#include "hub/queue.h"
#include "platform/screen_fixture.h"
#include "resources/ids.h"
#include "screens/browse_screen.h"
#include "screens/browse_test_lists.h"
#include "screens/kept_lists_screen.h"
#include "screens/main_screen.h"
#include "state/client_state.h"

namespace {

const char TTH[] = "LWPNACQDBZRYXW3VHJVCJ64QBZNGHOHHHZWCLNQ";

// share/ Music/ (Живое/ concert.flac notes-live.txt) anthem.mp3 b-side.mp3
//        Docs/ notes.txt  zeta.iso; the order of the file, not of names.
std::string bob_list() {
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n"
                       "<FileListing Version=\"1\" CID=\"AAAA\" Base=\"/\" Generator=\"test 1\">\n"
                       "<Directory Name=\"share\">\n"
                       " <Directory Name=\"Music\">\n"
                       "  <Directory Name=\"\xD0\x96\xD0\xB8\xD0\xB2\xD0\xBE\xD0\xB5\">\n"
                       "   <File Name=\"concert.flac\" Size=\"3000000\"/>\n"
                       "   <File Name=\"notes-live.txt\" Size=\"10\"/>\n"
                       "  </Directory>\n"
                       "  <File Name=\"b-side.mp3\" Size=\"2097152\"/>\n"
                       "  <File Name=\"anthem.mp3\" Size=\"1048576\" TTH=\"") +
           TTH +
           "\"/>\n"
           " </Directory>\n"
           " <Directory Name=\"Docs\">\n"
           "  <File Name=\"notes.txt\" Size=\"100\"/>\n"
           " </Directory>\n"
           " <File Name=\"zeta.iso\" Size=\"5000000000\"/>\n"
           "</Directory>\n"
           "</FileListing>\n";
}

struct Script {
    std::vector<std::function<bool()>> steps;
    size_t next = 0;
    int turns = 0;
};

// One step per idle turn; out of steps, or stuck, the topmost screen is
// asked to close (the Back key of a browse screen would only go up).
void script_hook(void* context) {
    Script* s = (Script*)context;
    if (++s->turns > 500 || s->next >= s->steps.size()) {
        display_press(DISPLAY_KEY_CLOSE);
        return;
    }
    if (s->steps[s->next]()) s->next++;
}

bool shows(const char* utf8) { return display_find(utf8) >= 0; }
std::string row_with(const char* utf8) { return display_find(utf8) < 0 ? "" : grid_row(display_find(utf8)); }
std::string title() { return grid_row(0); }
// The row of the list's entry at `position` (below the title and the status line).
std::string list_row(int position) { return grid_row(2 + position); }

void menu(const char* digit) {
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_type(digit);
}

class BrowseScreen : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        client_state_reset();
        g_state.module_instance = KIVO_INSTANCE;
        test_lists_folder_make();
    }
    void TearDown() override {
        test_lists_folder_remove();
        ScreenTest::TearDown();
    }
    void run(Script& script, const char* nick, const char* folder) {
        display_set_idle_hook(script_hook, &script);
        browse_screen_run(nick, folder);
        display_set_idle_hook(nullptr, nullptr);
        EXPECT_EQ(script.next, script.steps.size()) << "stuck at step " << script.next << "\n" << grid_text();
    }
};

}  // namespace

// Folders first, then files, by name; a folder with its total and its
// files; Action enters, Back goes up with the folder left selected, and
// closes the screen at the top.
TEST_F(BrowseScreen, ActionEntersFoldersBackLeavesThemAndClosesAtTheTop) {
    test_list_write("bob", bob_list());
    static bool closed;
    closed = false;
    Script script;
    script.steps = {
        [] {
            if (title().find("bob: ") == std::string::npos) return false;
            EXPECT_NE(list_row(0).find("share\\"), std::string::npos) << grid_text();
            EXPECT_NE(list_row(0).find("4.7 GiB"), std::string::npos) << grid_text();
            EXPECT_NE(list_row(0).find("6 files"), std::string::npos) << grid_text();
            display_press(DISPLAY_KEY_ACTION);
            return true;
        },
        [] {
            if (title().find("bob: share") == std::string::npos) return false;
            EXPECT_NE(list_row(0).find("Docs\\"), std::string::npos) << grid_text();
            EXPECT_NE(list_row(0).find("1 file"), std::string::npos);
            EXPECT_NE(list_row(1).find("Music\\"), std::string::npos);
            EXPECT_NE(list_row(1).find("4 files"), std::string::npos);
            EXPECT_NE(list_row(2).find("zeta.iso"), std::string::npos);
            EXPECT_EQ(list_row(2).find("files"), std::string::npos);  // a file has no count
            display_press(DISPLAY_KEY_DOWN);
            display_press(DISPLAY_KEY_ACTION);  // Music
            return true;
        },
        [] {
            if (title().find("bob: share\\Music") == std::string::npos) return false;
            EXPECT_NE(list_row(0).find("\xD0\x96\xD0\xB8\xD0\xB2\xD0\xBE\xD0\xB5\\"), std::string::npos) << grid_text();
            EXPECT_NE(list_row(1).find("anthem.mp3"), std::string::npos);
            EXPECT_NE(list_row(1).find("1.0 MiB"), std::string::npos);
            EXPECT_NE(list_row(2).find("b-side.mp3"), std::string::npos);
            display_press(DISPLAY_KEY_BACK);
            return true;
        },
        [] {
            if (title().find("Music") != std::string::npos) return false;
            EXPECT_NE(row_with(">Music\\").size(), 0u) << "the folder left is selected\n" << grid_text();
            display_press(DISPLAY_KEY_BACK);
            return true;
        },
        [] {
            if (title().find("bob: share") != std::string::npos) return false;
            display_press(DISPLAY_KEY_BACK);  // at the top: closes
            closed = true;
            return true;
        }};
    run(script, "bob", "");
    EXPECT_TRUE(closed);
    EXPECT_EQ(script.turns < 500, true) << "the screen closed on the Back key";
}

// By size puts the larger file first (folders stay first); by name again
// restores the order; the selection stays on its entry.
TEST_F(BrowseScreen, SortBySizeAndByNameKeepTheSelectedEntry) {
    test_list_write("bob", bob_list());
    Script script;
    script.steps = {
        [] {
            if (title().find("bob: share\\Music") == std::string::npos) return false;
            display_press(DISPLAY_KEY_DOWN);  // anthem.mp3
            menu("6");  // Sort by size
            return true;
        },
        [] {
            if (list_row(1).find("b-side.mp3") == std::string::npos) return false;
            EXPECT_NE(list_row(0).find("\xD0\x96"), std::string::npos);
            EXPECT_NE(list_row(2).find(">anthem.mp3"), std::string::npos) << grid_text();
            menu("5");  // Sort by name
            return true;
        },
        [] {
            if (list_row(1).find("anthem.mp3") == std::string::npos) return false;
            EXPECT_NE(list_row(1).find(">anthem.mp3"), std::string::npos);
            return true;
        }};
    run(script, "bob", "share\\Music");
}

// Find asks for words and goes to the first name that holds them (case
// aside) in the folder of the match; Next goes on across folders, says when
// there is no more, and starts over.
TEST_F(BrowseScreen, FindAndNextGoAcrossFoldersAndStartOver) {
    test_list_write("bob", bob_list());
    Script script;
    script.steps = {
        [] {
            if (title().find("bob: ") == std::string::npos) return false;
            menu("3");  // Find
            return true;
        },
        [] {
            if (!shows("Find in bob's files")) return false;
            display_type("NOTES");
            display_press(DISPLAY_KEY_ACTION);
            return true;
        },
        [] {
            if (title().find("\xD0\x96\xD0\xB8\xD0\xB2\xD0\xBE\xD0\xB5") == std::string::npos) return false;
            EXPECT_NE(title().find("bob: share\\Music\\"), std::string::npos);
            EXPECT_NE(row_with(">notes-live.txt").size(), 0u) << grid_text();
            EXPECT_TRUE(shows("found \"NOTES\""));
            menu("4");  // Next
            return true;
        },
        [] {
            if (title().find("bob: share\\Docs") == std::string::npos) return false;
            EXPECT_NE(row_with(">notes.txt").size(), 0u) << grid_text();
            menu("4");
            return true;
        },
        [] {
            if (!shows("no more \"NOTES\": Next starts over")) return false;
            menu("4");
            return true;
        },
        [] { return title().find("\xD0\x96") != std::string::npos && row_with(">notes-live.txt").size() > 0; },
        [] {
            menu("3");  // the words are offered again; new ones replace them
            return true;
        },
        [] {
            if (!shows("Find in bob's files")) return false;
            for (int i = 0; i < 5; i++) display_press(DISPLAY_KEY_BACKSPACE);
            display_type("xyz");
            display_press(DISPLAY_KEY_ACTION);
            return true;
        },
        [] { return shows("\"xyz\" is not in the list"); }};
    run(script, "bob", "");
}

// Info on a file: its path, size in bytes and units, TTH; on a folder, its
// files and total.
TEST_F(BrowseScreen, InfoShowsPathSizeAndTthOrAFoldersFiles) {
    test_list_write("bob", bob_list());
    Script script;
    script.steps = {
        [] {
            if (title().find("bob: share\\Music") == std::string::npos) return false;
            display_press(DISPLAY_KEY_DOWN);  // anthem.mp3
            menu("2");
            return true;
        },
        [] {
            int path = display_find("share\\Music\\anthem.mp3");
            if (path < 0) return false;
            EXPECT_EQ(display_find("size: 1048576 bytes (1.0 MiB)"), path + 1) << grid_text();
            EXPECT_EQ(display_find((std::string("TTH: ") + TTH).c_str()), path + 2) << grid_text();
            display_press(DISPLAY_KEY_ACTION);
            return true;
        },
        [] {
            if (shows("TTH:")) return false;
            display_press(DISPLAY_KEY_UP);  // Живое
            display_press(DISPLAY_KEY_DOWN);
            display_press(DISPLAY_KEY_ACTION);  // the Action key on a file: its Info too
            return true;
        },
        [] {
            if (!shows("size: 1048576 bytes")) return false;
            display_press(DISPLAY_KEY_ACTION);
            return true;
        },
        [] {
            if (shows("size: 1048576")) return false;
            display_press(DISPLAY_KEY_UP);
            menu("2");
            return true;
        },
        [] {
            if (!shows("a folder of 2 files")) return false;
            EXPECT_TRUE(shows("size: 3000010 bytes (2.9 MiB)")) << grid_text();
            display_press(DISPLAY_KEY_ACTION);
            return true;
        }};
    run(script, "bob", "share\\Music");
}

// Download queues a file, or every file below a folder, and says how many.
TEST_F(BrowseScreen, DownloadQueuesAFileOrEveryFileBelowAFolder) {
    test_list_write("bob", bob_list());
    Script script;
    script.steps = {
        [] {
            if (title().find("bob: share\\Music") == std::string::npos) return false;
            display_press(DISPLAY_KEY_DOWN);  // anthem.mp3
            display_press(DISPLAY_KEY_SOFT_RIGHT);  // Download
            return true;
        },
        [] {
            if (!shows("1 file queued")) return false;
            EXPECT_EQ(g_state.queue_count, 1);
            display_press(DISPLAY_KEY_UP);  // Живое
            menu("1");
            return true;
        },
        [] { return shows("2 files queued"); }};
    run(script, "bob", "share\\Music");
    ASSERT_EQ(g_state.queue_count, 3);
    EXPECT_STREQ(queue_text(&g_state.queue[0], QUEUE_PATH), "share\\Music\\anthem.mp3");
    EXPECT_STREQ(queue_text(&g_state.queue[0], QUEUE_TTH), TTH);
    EXPECT_STREQ(queue_text(&g_state.queue[0], QUEUE_NICK), "bob");
    EXPECT_EQ(g_state.queue[0].size, 1048576u);
    EXPECT_STREQ(queue_text(&g_state.queue[1], QUEUE_PATH),
                 "share\\Music\\\xD0\x96\xD0\xB8\xD0\xB2\xD0\xBE\xD0\xB5\\concert.flac");
    EXPECT_STREQ(queue_text(&g_state.queue[1], QUEUE_NAME), "\xD0\x96\xD0\xB8\xD0\xB2\xD0\xBE\xD0\xB5/concert.flac");
    EXPECT_STREQ(queue_text(&g_state.queue[2], QUEUE_PATH),
                 "share\\Music\\\xD0\x96\xD0\xB8\xD0\xB2\xD0\xBE\xD0\xB5\\notes-live.txt");
}

// The folder comes in the hub's encoding (here code page 1251) and opens
// where the list's UTF-8 names it; a folder the list lacks opens the top
// with a note.
TEST_F(BrowseScreen, OpensAtAFolderInTheHubsEncodingOrAtTheTopWithANote) {
    test_list_write("bob", bob_list());
    Script script;
    script.steps = {[] {
        if (title().find("\xD0\x96\xD0\xB8\xD0\xB2\xD0\xBE\xD0\xB5") == std::string::npos) return false;
        EXPECT_NE(list_row(0).find("concert.flac"), std::string::npos) << grid_text();
        return true;
    }};
    hub_encoding_set(ENCODING_CP1251);
    run(script, "bob", "share\\Music\\\xC6\xE8\xE2\xEE\xE5");
    Script missing;
    missing.steps = {[] {
        if (!shows("share\\Nope is not in the list: the top is shown")) return false;
        EXPECT_NE(list_row(0).find("share\\"), std::string::npos);
        return true;
    }};
    run(missing, "bob", "share\\Nope");
}

// A list cut short keeps what was read: its note shows in a box, and the
// folders read are browsed. One that cannot be read at all says why, and no
// screen opens.
TEST_F(BrowseScreen, CutListShowsItsNoteAndUnreadListOpensNoScreen) {
    std::string big = bob_list();
    std::string more;
    for (int i = 0; i < 3000; i++) more += "<File Name=\"f" + std::to_string(i * 7919) + ".bin\" Size=\"1\"/>\n";
    big.insert(big.find(" <Directory Name=\"Docs\">"), " <Directory Name=\"Bulk\">\n" + more + " </Directory>\n");
    test_list_write("bob", big, 200);
    Script script;
    script.steps = {
        [] {
            if (!shows("The list is cut")) return false;
            EXPECT_TRUE(shows("the list is cut")) << grid_text();
            display_press(DISPLAY_KEY_ACTION);
            return true;
        },
        [] {
            if (shows("The list is cut")) return false;
            EXPECT_NE(list_row(0).find("share\\"), std::string::npos);
            return true;
        }};
    run(script, "bob", "");
    Script unread;
    unread.steps = {[] {
        if (!shows("cannot read ann's list")) return false;
        display_press(DISPLAY_KEY_ACTION);
        return true;
    }};
    run(unread, "ann", "");
}

// --- Ways in -------------------------------------------------------------------

// A list that came while no sub-screen was open opens at once over the main
// screen at the folder asked for; one that came while a sub-screen was open
// waits until it closes.
TEST_F(BrowseScreen, MainScreenOpensAListThatCameAtOnceOrWhenItsSubScreensClose) {
    test_list_write("bob", bob_list());
    g_state.settings.download_slots = 1;
    Script script;
    script.steps = {
        [] {
            if (g_state.main_window == 0) return false;
            file_list_browse("bob", "share\\Docs", 0);
            return true;
        },
        [] {
            if (title().find("bob: share\\Docs") == std::string::npos) return false;
            display_press(DISPLAY_KEY_BACK);
            display_press(DISPLAY_KEY_BACK);
            display_press(DISPLAY_KEY_BACK);
            return true;
        },
        [] {
            if (title().find("bob:") != std::string::npos) return false;
            menu("8");  // Users
            return true;
        },
        [] {
            if (!shows("EXIT")) return false;  // the Users screen's soft key
            file_list_browse("bob", "share", 0);
            return true;
        },
        [] {
            EXPECT_EQ(title().find("bob:"), std::string::npos) << "not over the Users screen";
            display_press(DISPLAY_KEY_SOFT_RIGHT);  // EXIT
            return true;
        },
        [] {
            if (title().find("bob: share") == std::string::npos) return false;
            display_press(DISPLAY_KEY_BACK);
            display_press(DISPLAY_KEY_BACK);
            return true;
        },
        [] { return title().find("bob:") == std::string::npos; },
        [] {
            post_message(g_state.main_window, WM_CLOSE, 0, 0);
            return true;
        }};
    display_set_idle_hook(script_hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, main_screen_proc, 0);
    display_set_idle_hook(nullptr, nullptr);
    EXPECT_EQ(script.next, script.steps.size()) << "stuck at step " << script.next << "\n" << grid_text();
}

// Menu > File lists lists the kept lists with their age; Action browses
// one; Remove asks, and removes the kept file only on OK.
TEST_F(BrowseScreen, FileListsScreenListsAgesOpensAndRemovesAfterAsking) {
    test_list_write("bob", bob_list());
    test_list_write("ann", bob_list());
    test_list_age("bob", 5 * 60 + 20);
    test_list_age("ann", 2 * 3600 + 60);
    Script script;
    script.steps = {
        [] {
            if (!shows("File lists")) return false;
            EXPECT_NE(row_with("bob  5 min ago").size(), 0u) << grid_text();
            EXPECT_NE(row_with("ann  2 h ago").size(), 0u) << grid_text();
            display_press(DISPLAY_KEY_ACTION);
            return true;
        },
        [] {
            if (title().find("bob: ") == std::string::npos) return false;
            display_press(DISPLAY_KEY_BACK);
            return true;
        },
        [] {
            if (!shows("File lists")) return false;
            display_press(DISPLAY_KEY_DOWN);
            menu("3");  // Remove
            return true;
        },
        [] {
            if (!shows("remove ann's list from the cache?")) return false;
            display_press(DISPLAY_KEY_ACTION);  // Enter does not say yes
            return true;
        },
        [] {
            if (shows("remove ann's")) return false;
            EXPECT_TRUE(test_list_exists("ann"));
            menu("3");
            return true;
        },
        [] {
            if (!shows("remove ann's list from the cache?")) return false;
            display_press(DISPLAY_KEY_SOFT_LEFT);  // OK
            return true;
        },
        [] {
            if (shows("remove ann's") || shows("ann  2 h ago")) return false;
            EXPECT_FALSE(test_list_exists("ann"));
            EXPECT_TRUE(test_list_exists("bob"));
            return true;
        }};
    display_set_idle_hook(script_hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_KEPT_LISTS, 0, kept_lists_proc, 0);
    display_set_idle_hook(nullptr, nullptr);
    EXPECT_EQ(script.next, script.steps.size()) << "stuck at step " << script.next << "\n" << grid_text();
}

TEST(ListAge, MinutesHoursAndDays) {
    char16_t text[24];
    list_age_text(59, text, 24);
    EXPECT_EQ(std::u16string(text), u"just now");
    list_age_text(3599, text, 24);
    EXPECT_EQ(std::u16string(text), u"59 min ago");
    list_age_text(7200, text, 24);
    EXPECT_EQ(std::u16string(text), u"2 h ago");
    list_age_text(86400 * 3, text, 24);
    EXPECT_EQ(std::u16string(text), u"3 days ago");
}
