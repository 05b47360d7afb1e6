// Peers' file lists: fetched through the download queue ahead of files,
// kept in Kivo's cache folder ($XDG_CACHE_HOME/kivo/lists/, one
// "<nick>.xml.bz2" a user, the nick made safe), and opened from there for
// the browse screen. The list itself is read by config/file_list.h.
//
// Browse on a user asks for his list: a kept one opens at once, else a list
// entry goes to the front of the queue (peers serve lists outside their
// upload slots) and the browse screen opens when it has come. One browse
// waits at a time: a later Browse replaces it.
#pragma once

#include <cstdint>

#include "config/file_list.h"
#include "state/client_state.h"

// Posted to the main window when the list a browse waits for is in the
// cache (or its fetch failed: the note says why): the main screen opens the
// browse screen (file_list_browse_take).
constexpr uint32_t WM_FILE_LIST_READY = 0x8006;

// A kept list as Menu > File lists shows it.
constexpr int KEPT_LISTS = 64;
struct KeptList {
    char16_t shown[RESULT_NICK_BYTES];  // the nick as shown
    char nick[RESULT_NICK_BYTES];       // in the hub's encoding; empty when it cannot carry it
    int64_t age_seconds;                // since the list was fetched
};

// The cache file of a user's list (nick in the hub's encoding): 1, or 0 when
// there is no cache folder or the path does not fit. The file is named
// after the nick's UTF-8, each byte that is a control, '/', '%' or a
// leading '.' written as %XX, so the name gives the nick back.
int file_list_cache_path(const char* nick, char16_t* out, int out_units);
// Browse: opens the user's kept list, or fetches it (refresh nonzero: fetch
// even when one is kept). `folder` (in the hub's encoding, backslash-
// separated as in $SR, may be empty) is where the screen opens. Returns 1
// when the list is there or asked for, 0 with a note when it cannot be.
int file_list_browse(const char* nick, const char* folder, int refresh);
// Download on a folder of a search result: fetches the user's list anew
// and, when it has come, queues every file below that folder (in the hub's
// encoding, as in $SR) as queue_add_from_list does, with no screen. Returns 1
// when the list is asked for, 0 with a note. One such folder waits per user
// at a time, beside the waiting browse.
int file_list_fetch_folder(const char* nick, const char* folder);
// The main screen, on WM_FILE_LIST_READY: the waiting browse's nick and
// folder, once; 0 when none waits.
int file_list_browse_take(char* nick, int nick_bytes, char* folder, int folder_bytes);
// The queue, when a list entry ends for good: came (in the cache) or not.
// A browse that waits for that user's list is told (WM_FILE_LIST_READY).
void file_list_arrived(const char* nick, bool came);
// The kept lists, newest first: their count (at most `most`).
int file_list_kept(KeptList* out, int most);

// Queues a file of an open list (its source the list's user), or every file
// below a folder of it, recreated under the download folder with the
// folders below the one chosen (each name made safe: nothing reaches outside
// the download folder; a name taken gets a free one when it is finished).
// Returns the count queued; notes say what was refused.
int queue_add_from_list(const FileList* list, uint32_t entry, const char* nick);
