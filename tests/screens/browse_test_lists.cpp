// The browse tests' cache folder and lists (browse_test_lists.h), and a
// stand-in for the cache and queue side of file lists (hub/file_lists.h)
// while it is not linked into the core yet.
#include "screens/browse_test_lists.h"

#include <bzlib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "hub/file_lists.h"
#include "hub/queue.h"
#include "state/client_state.h"

namespace {

std::string g_folder;

std::string bzip2(const std::string& text) {
    std::vector<char> out(text.size() + text.size() / 100 + 700);
    unsigned length = (unsigned)out.size();
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &length, (char*)text.data(), (unsigned)text.size(), 1, 0, 0), BZ_OK);
    return std::string(out.data(), length);
}

std::string path_of(const char* nick) { return g_folder + nick + ".xml.bz2"; }

}  // namespace

void test_lists_folder_make() {
    g_folder = "/tmp/kivo-browse-" + std::to_string(getpid()) + "/";
    test_lists_folder_remove();
    mkdir(g_folder.c_str(), 0700);
}

void test_lists_folder_remove() {
    std::string command = "rm -rf '" + g_folder + "'";
    if (!g_folder.empty()) {
        EXPECT_EQ(system(command.c_str()), 0);
    }
}

void test_list_write(const char* nick, const std::string& xml, int cut_bytes) {
    std::string bytes = bzip2(xml);
    if (cut_bytes > 0) bytes.resize(bytes.size() - (size_t)cut_bytes);
    std::ofstream(path_of(nick), std::ios::binary) << bytes;
}

bool test_list_exists(const char* nick) { return access(path_of(nick).c_str(), F_OK) == 0; }

// --- Stand-in ------------------------------------------------------------------
// The cache and queue side as hub/file_lists.h describes it, for nicks in
// ASCII: cache files named "<nick>.xml.bz2", one waiting browse, each file
// of a folder queued under its user.

namespace {

struct Waiting {
    std::string nick, folder;
    bool waiting = false, ready = false;
} g_browse;

}  // namespace

int file_list_cache_path(const char* nick, char16_t* out, int out_units) {
    return g_folder.empty() ? 0 : utf8_to_utf16(path_of(nick).c_str(), -1, out, out_units) > 0;
}

int file_list_browse(const char* nick, const char* folder, int refresh) {
    g_browse = Waiting{nick, folder, true, false};
    if (!refresh && test_list_exists(nick)) {
        g_browse.ready = true;
        if (g_state.main_window != 0) post_message(g_state.main_window, WM_FILE_LIST_READY, 0, 0);
    }
    return 1;
}

int file_list_browse_take(char* nick, int nick_bytes, char* folder, int folder_bytes) {
    if (!g_browse.waiting || !g_browse.ready) return 0;
    g_browse.waiting = false;
    text_copy(nick, nick_bytes, g_browse.nick.c_str());
    text_copy(folder, folder_bytes, g_browse.folder.c_str());
    return 1;
}

int file_list_kept(KeptList* out, int most) {
    int n = 0;
    for (const char* nick : {"bob", "ann"}) {
        if (n >= most || !test_list_exists(nick)) continue;
        utf8_to_utf16(nick, -1, out[n].shown, RESULT_NICK_BYTES);
        text_copy(out[n].nick, RESULT_NICK_BYTES, nick);
        out[n].age_seconds = 300 + n * 7200;
        n++;
    }
    return n;
}

namespace {

int queue_below(const FileList* list, uint32_t entry, const char* nick) {
    const FileListEntry* e = file_list_entry(list, entry);
    if (!(e->flags & FILE_LIST_FOLDER)) {
        char path[1024];
        char tth[TTH_TEXT_BYTES + 1];
        int bytes = 0;
        file_list_path(list, entry, path, sizeof path);
        file_list_tth_text(list, entry, tth);
        const char* text = file_list_name(list, entry, &bytes);
        std::string name(text, (size_t)bytes);
        return queue_add(nick, path, name.c_str(), tth, e->size, ENCODING_UTF8) >= 0 ? 1 : 0;
    }
    int queued = 0;
    const uint32_t* children = nullptr;
    uint32_t count = file_list_children(const_cast<FileList*>(list), entry, FILE_LIST_BY_NAME, &children);
    std::vector<uint32_t> copy(children, children + count);
    for (uint32_t child : copy) queued += queue_below(list, child, nick);
    return queued;
}

}  // namespace

int queue_add_from_list(const FileList* list, uint32_t entry, const char* nick) {
    return queue_below(list, entry, nick);
}
