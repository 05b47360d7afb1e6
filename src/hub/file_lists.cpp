// Peers' file lists: the cache, the waiting browse, and files of a list put
// in the queue (see file_lists.h).
//
// State of this file alone: the one browse that waits (its user, the folder
// it opens at, whether its list has come), which only the person's Browse
// and the queue's end of a list entry change, both on the UI thread.
//
// Reaches g_state: lists_folder, main_window, hub_socket, the queue (through
// hub/queue.h) and the ChatLog.
#include "hub/file_lists.h"

#include <cstdio>
#include <cstring>

#include "hub/queue.h"
#include "transfer/download.h"

namespace {

constexpr int NOTE_BYTES = 300;
// A nick as UTF-8 (three bytes a character at most), each byte as %XX at
// most, and ".xml.bz2".
constexpr int CACHE_NAME_BYTES = 3 * 3 * RESULT_NICK_BYTES + 16;
const char CACHE_SUFFIX[] = ".xml.bz2";
constexpr int SUFFIX_BYTES = (int)sizeof CACHE_SUFFIX - 1;

struct WaitingBrowse {
    char nick[RESULT_NICK_BYTES];
    char folder[QUEUE_PATH_BYTES];
    bool waiting;  // a browse waits for this user's list
    bool ready;    // and it has come (or its fetch failed): the main screen takes it
};
WaitingBrowse g_browse;
// Folders of search results to queue when their user's list has come.
constexpr int WAITING_FOLDERS = 8;
WaitingBrowse g_folders[WAITING_FOLDERS];
FileList g_folder_list;  // open only while a waiting folder is queued

// The cache file's name for a nick in the hub's encoding: its UTF-8, each
// byte that is no ASCII letter, digit, '-' or '_' written %XX (so the name
// is plain ASCII in every encoding, and gives the nick back), then the suffix.
int cache_name(const char* nick, char* out, int out_bytes) {
    char16_t wide[RESULT_NICK_BYTES];
    char utf8[3 * RESULT_NICK_BYTES];
    hub_text_to_utf16(nick, -1, wide, RESULT_NICK_BYTES);
    utf16_to_utf8(wide, -1, utf8, (int)sizeof utf8);
    int at = 0;
    for (const unsigned char* p = (const unsigned char*)utf8; *p != 0; p++) {
        bool plain = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') || *p == '-' ||
                     *p == '_';
        if (at + 4 + SUFFIX_BYTES >= out_bytes) return 0;
        if (plain) {
            out[at++] = (char)*p;
        } else {
            at += snprintf(out + at, (size_t)(out_bytes - at), "%%%02X", *p);
        }
    }
    if (at == 0) return 0;
    text_copy(out + at, out_bytes - at, CACHE_SUFFIX);
    return 1;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The nick a cache name stands for, as UTF-16: 1, or 0 for a name that is
// no cache name.
int nick_of_cache_name(const char16_t* name, char16_t* nick, int nick_units) {
    char utf8[CACHE_NAME_BYTES];
    utf16_to_utf8(name, -1, utf8, CACHE_NAME_BYTES);
    int length = (int)strlen(utf8);
    if (length <= SUFFIX_BYTES || strcmp(utf8 + length - SUFFIX_BYTES, CACHE_SUFFIX) != 0) return 0;
    char bytes[CACHE_NAME_BYTES];
    int n = 0;
    for (int i = 0; i < length - SUFFIX_BYTES; i++) {
        if (utf8[i] != '%') {
            bytes[n++] = utf8[i];
            continue;
        }
        int high = hex_value(utf8[i + 1]);
        int low = high < 0 ? -1 : hex_value(utf8[i + 2]);
        if (low < 0) return 0;
        bytes[n++] = (char)(high * 16 + low);
        i += 2;
    }
    bytes[n] = 0;
    return utf8_to_utf16(bytes, -1, nick, nick_units) > 0 ? 1 : 0;
}

void tell_main_window() {
    g_browse.ready = true;
    if (g_state.main_window != 0) post_message(g_state.main_window, WM_FILE_LIST_READY, 0, 0);
}

// One file of the list into the queue under local name `name` (UTF-8).
int queue_list_file(const FileList* list, uint32_t file, const char* nick_utf8, const char* name) {
    char path[QUEUE_PATH_BYTES];
    char tth[TTH_TEXT_BYTES];
    if (file_list_path(list, file, path, QUEUE_PATH_BYTES) == 0) return 0;
    file_list_tth_text(list, file, tth);
    return queue_add(nick_utf8, path, name, tth, file_list_entry(list, file)->size, ENCODING_UTF8) >= 0 ? 1 : 0;
}

// An entry's name as one safe part of a local name (UTF-8): '/' and
// control bytes become '_', and a name that is "." or ".." or empty is "_".
void safe_part(const FileList* list, uint32_t entry, char* out, int out_bytes) {
    int bytes = 0;
    const char* name = file_list_name(list, entry, &bytes);
    char copy[QUEUE_NAME_PART_BYTES];
    text_copy_n(copy, QUEUE_NAME_PART_BYTES, name, bytes);
    if (!make_safe_file_name(copy, out, out_bytes)) text_copy(out, out_bytes, "_");
}

// Every file below folder, depth first, with its local name: `prefix` (the
// folders from the one chosen down to this one) and its own name.
int queue_folder(const FileList* list, uint32_t folder, const char* nick_utf8, char* prefix, int* skipped) {
    // Each folder's children lie in a place of their own in the list:
    // sorting a subfolder's does not move them.
    const uint32_t* children = nullptr;
    uint32_t count = file_list_children(const_cast<FileList*>(list), folder, FILE_LIST_BY_NAME, &children);
    int queued = 0;
    int length = (int)strlen(prefix);
    for (uint32_t k = 0; k < count; k++) {
        uint32_t entry = children[k];
        char part[QUEUE_NAME_PART_BYTES];
        safe_part(list, entry, part, QUEUE_NAME_PART_BYTES);
        int part_length = (int)strlen(part);
        if (length + part_length + 2 > QUEUE_NAME_BYTES) {
            (*skipped)++;
            continue;
        }
        memcpy(prefix + length, part, (size_t)part_length + 1);
        if (file_list_entry(list, entry)->flags & FILE_LIST_FOLDER) {
            prefix[length + part_length] = '/';
            prefix[length + part_length + 1] = 0;
            queued += queue_folder(list, entry, nick_utf8, prefix, skipped);
        } else {
            queued += queue_list_file(list, entry, nick_utf8, prefix);
        }
        prefix[length] = 0;
    }
    return queued;
}

// The waiting folder's files into the queue, from the list just come.
void queue_waiting_folder(WaitingBrowse& wait) {
    wait.waiting = false;
    char16_t path[DOWNLOAD_FOLDER_UNITS + CACHE_NAME_BYTES];
    if (!file_list_cache_path(wait.nick, path, DOWNLOAD_FOLDER_UNITS + CACHE_NAME_BYTES)) return;
    char note[NOTE_BYTES];
    if (file_list_open(&g_folder_list, path) == FILE_LIST_UNREAD) {
        snprintf(note, NOTE_BYTES, " ::download failed:: %s's list cannot be read", wait.nick);
        chatlog_append_line(note);
        return;
    }
    // $SR names the folder in the hub's encoding; the list in UTF-8.
    char16_t wide[QUEUE_PATH_BYTES];
    char folder[3 * QUEUE_PATH_BYTES];
    hub_text_to_utf16(wait.folder, -1, wide, QUEUE_PATH_BYTES);
    utf16_to_utf8(wide, -1, folder, (int)sizeof folder);
    uint32_t entry = file_list_folder_at(&g_folder_list, folder, FILE_LIST_BY_NAME);
    if (entry == FILE_LIST_NO_ENTRY) {
        snprintf(note, NOTE_BYTES, " ::download failed:: %.200s is not in %s's list", wait.folder, wait.nick);
        chatlog_append_line(note);
    } else {
        queue_add_from_list(&g_folder_list, entry, wait.nick);
    }
    file_list_close(&g_folder_list);
}

// Asks for the user's list unless it is asked for already: 1 when it is.
int ask_for_list(const char* nick) {
    char name[CACHE_NAME_BYTES];
    if (g_state.lists_folder[0] == 0 || !cache_name(nick, name, CACHE_NAME_BYTES)) {
        chatlog_append_line(" ::file list refused:: there is no cache folder to keep it in");
        return 0;
    }
    if (g_state.hub_socket <= 0) {
        chatlog_append_line(" ::file list refused:: not connected to a hub");
        return 0;
    }
    if (queue_add_list(nick, name) < 0) return 0;
    char note[NOTE_BYTES];
    snprintf(note, NOTE_BYTES, " ::file list:: asked %s for the list", nick);
    chatlog_append_line(note);
    return 1;
}

}  // namespace

int file_list_fetch_folder(const char* nick, const char* folder) {
    WaitingBrowse* slot = nullptr;
    for (WaitingBrowse& wait : g_folders) {
        if (wait.waiting && strcmp(wait.nick, nick) == 0) slot = &wait;  // the user's, replaced
    }
    for (WaitingBrowse& wait : g_folders) {
        if (slot == nullptr && !wait.waiting) slot = &wait;
    }
    if (slot == nullptr) {
        chatlog_append_line(" ::download refused:: too many folders wait for their lists");
        return 0;
    }
    if (!ask_for_list(nick)) return 0;
    text_copy(slot->nick, RESULT_NICK_BYTES, nick);
    text_copy(slot->folder, QUEUE_PATH_BYTES, folder);
    slot->waiting = true;
    return 1;
}

int file_list_cache_path(const char* nick, char16_t* out, int out_units) {
    if (out_units > 0) out[0] = 0;
    char name[CACHE_NAME_BYTES];
    if (g_state.lists_folder[0] == 0 || !cache_name(nick, name, CACHE_NAME_BYTES)) return 0;
    int folder = u16_len(g_state.lists_folder);
    if (folder + (int)strlen(name) + 1 >= out_units) return 0;
    u16_copy(out, out_units, g_state.lists_folder);
    utf8_to_utf16(name, -1, out + folder, out_units - folder);
    return 1;
}

int file_list_browse(const char* nick, const char* folder, int refresh) {
    char16_t path[DOWNLOAD_FOLDER_UNITS + CACHE_NAME_BYTES];
    char name[CACHE_NAME_BYTES];
    if (!file_list_cache_path(nick, path, DOWNLOAD_FOLDER_UNITS + CACHE_NAME_BYTES) ||
        !cache_name(nick, name, CACHE_NAME_BYTES)) {
        chatlog_append_line(" ::file list refused:: there is no cache folder to keep it in");
        return 0;
    }
    text_copy(g_browse.nick, RESULT_NICK_BYTES, nick);
    text_copy(g_browse.folder, QUEUE_PATH_BYTES, folder);
    g_browse.waiting = true;
    g_browse.ready = false;
    if (!refresh && file_exists(path)) {
        tell_main_window();
        return 1;
    }
    if (!ask_for_list(nick)) {
        g_browse.waiting = false;
        return 0;
    }
    return 1;
}

void file_list_arrived(const char* nick, bool came) {
    if (!came) {
        char note[NOTE_BYTES];
        snprintf(note, NOTE_BYTES, " ::file list failed:: %s's list did not come", nick);
        chatlog_append_line(note);
    }
    if (g_browse.waiting && strcmp(g_browse.nick, nick) == 0) tell_main_window();
    for (WaitingBrowse& wait : g_folders) {
        if (!wait.waiting || strcmp(wait.nick, nick) != 0) continue;
        if (came) queue_waiting_folder(wait);
        wait.waiting = false;
    }
}

int file_list_browse_take(char* nick, int nick_bytes, char* folder, int folder_bytes) {
    if (!g_browse.waiting || !g_browse.ready) return 0;
    g_browse.waiting = false;
    g_browse.ready = false;
    text_copy(nick, nick_bytes, g_browse.nick);
    text_copy(folder, folder_bytes, g_browse.folder);
    return 1;
}

int file_list_kept(KeptList* out, int most) {
    static FolderEntry files[KEPT_LISTS];
    if (g_state.lists_folder[0] == 0) return 0;
    int found = folder_files(g_state.lists_folder, files, KEPT_LISTS);
    int64_t now = wall_seconds();
    int n = 0;
    for (int i = 0; i < found && n < most; i++) {
        KeptList kept;
        if (!nick_of_cache_name(files[i].name, kept.shown, RESULT_NICK_BYTES)) continue;
        char utf8[3 * RESULT_NICK_BYTES];
        utf16_to_utf8(kept.shown, -1, utf8, (int)sizeof utf8);
        char16_t note[8];
        kept.nick[0] = 0;
        if (hub_text_sendable(kept.shown, u"", note, 8)) utf16_to_hub_text(kept.shown, -1, kept.nick, RESULT_NICK_BYTES);
        kept.age_seconds = now > files[i].changed ? now - files[i].changed : 0;
        // Newest first.
        int at = n++;
        while (at > 0 && out[at - 1].age_seconds > kept.age_seconds) {
            out[at] = out[at - 1];
            at--;
        }
        out[at] = kept;
    }
    return n;
}

int queue_add_from_list(const FileList* list, uint32_t entry, const char* nick) {
    if (entry >= list->count) return 0;
    // The entries hold the list's texts as they are: UTF-8, the nick too.
    char16_t wide[RESULT_NICK_BYTES];
    char nick_utf8[QUEUE_NICK_BYTES];
    hub_text_to_utf16(nick, -1, wide, RESULT_NICK_BYTES);
    utf16_to_utf8(wide, -1, nick_utf8, QUEUE_NICK_BYTES);
    char name[QUEUE_NAME_BYTES];
    safe_part(list, entry, name, QUEUE_NAME_PART_BYTES);
    const FileListEntry* e = file_list_entry(list, entry);
    if (!(e->flags & FILE_LIST_FOLDER)) return queue_list_file(list, entry, nick_utf8, name);
    int skipped = 0;
    text_append(name, QUEUE_NAME_BYTES, "/");
    int queued = queue_folder(list, entry, nick_utf8, name, &skipped);
    char note[NOTE_BYTES];
    snprintf(note, NOTE_BYTES, " ::queued:: %d files of the folder", queued);
    chatlog_append_line(note);
    if (skipped > 0) {
        snprintf(note, NOTE_BYTES, " ::download refused:: %d names too long for a local path", skipped);
        chatlog_append_line(note);
    }
    queue_tick();
    return queued;
}
