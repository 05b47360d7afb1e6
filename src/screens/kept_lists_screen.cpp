// The File lists screen: the lists kept in Kivo's cache, one a row, as
// "bob  5 min ago", newest first. The Action key (or Open) browses the
// selected list over this screen; Refresh fetches it again (the browse
// screen opens when it has come, from the main screen); Remove deletes the
// kept file after a question: it is Kivo's own cache, fetched again at the
// next Browse.
//
// State of this file alone: the lists as the last fill found them; each
// fill reads them anew from the cache folder.
//
// Reaches g_state: module_instance.
#include "screens/kept_lists_screen.h"

#include "hub/file_lists.h"
#include "resources/ids.h"
#include "screens/browse_screen.h"
#include "screens/screen_table.h"
#include "state/client_state.h"

namespace {

constexpr int LINE_UNITS = RESULT_NICK_BYTES + 32;
constexpr int AGE_UNITS = 24;
constexpr int QUESTION_UNITS = RESULT_NICK_BYTES + 80;
constexpr int PATH_UNITS = 1024;

struct KeptView {
    int count;
    KeptList lists[KEPT_LISTS];
};
KeptView g_kept;

void kept_fill(Window screen) {
    control_send(screen, ID_KEPT_LIST, LB_RESETCONTENT, 0, 0);
    g_kept.count = file_list_kept(g_kept.lists, KEPT_LISTS);
    if (g_kept.count == 0) {
        control_send(screen, ID_KEPT_LIST, LB_ADDSTRING, 0, (LPARAM)u"no file lists kept");
        control_send(screen, ID_KEPT_LIST, LB_ADDSTRING, 0, (LPARAM)u"to fetch one: Browse on the Users screen");
        repaint_request(screen);
        return;
    }
    for (int i = 0; i < g_kept.count; i++) {
        char16_t age[AGE_UNITS];
        list_age_text(g_kept.lists[i].age_seconds, age, AGE_UNITS);
        char16_t line[LINE_UNITS];
        wide_format(line, LINE_UNITS, u"%s  %s", g_kept.lists[i].shown, age);
        control_send(screen, ID_KEPT_LIST, LB_ADDSTRING, 0, (LPARAM)line);
    }
    control_send(screen, ID_KEPT_LIST, LB_SETCURSEL, 0, 0);
    repaint_request(screen);
}

// The selected list, or nullptr (none selected, or the hint rows of an empty
// cache). A nick the hub's encoding cannot carry names no list it can fetch:
// a box says so.
const KeptList* selected_list(Window screen) {
    intptr_t row = control_send(screen, ID_KEPT_LIST, LB_GETCURSEL, 0, 0);
    if (row < 0 || row >= g_kept.count) return nullptr;
    const KeptList* kept = &g_kept.lists[row];
    if (kept->nick[0] == 0) {
        message_box(screen, u"this nick cannot be written in the hub's encoding", u"File lists", 0);
        return nullptr;
    }
    return kept;
}

void command_open(Window screen) {
    const KeptList* kept = selected_list(screen);
    if (kept == nullptr) return;
    char nick[RESULT_NICK_BYTES];
    text_copy(nick, RESULT_NICK_BYTES, kept->nick);
    browse_screen_run(nick, "");
    kept_fill(screen);
}

void command_refresh(Window screen) {
    const KeptList* kept = selected_list(screen);
    if (kept == nullptr) return;
    file_list_browse(kept->nick, "", 1);
    dialog_end(screen, 0);
}

void command_remove(Window screen) {
    const KeptList* kept = selected_list(screen);
    if (kept == nullptr) return;
    char16_t question[QUESTION_UNITS];
    wide_format(question, QUESTION_UNITS, u"remove %s's list from the cache?", kept->shown);
    if (message_box(screen, question, u"Remove", MB_OKCANCEL) != IDOK) return;
    char16_t path[PATH_UNITS];
    if (file_list_cache_path(kept->nick, path, PATH_UNITS)) file_remove_own(path);
    kept_fill(screen);
}

intptr_t kept_open(Window screen) {
    if (!screen_open_full(screen, MENUBAR_KEPT_LISTS, g_state.module_instance)) return FALSE;
    kept_fill(screen);
    return TRUE;
}

const ScreenCommand KEPT_COMMANDS[] = {
    {IDOK, command_open},
    {CMD_KEPT_OPEN, command_open},
    {CMD_KEPT_REFRESH, command_refresh},
    {CMD_KEPT_REMOVE, command_remove},
    {CMD_SCREEN_EXIT, screen_end},
};

const ScreenKind KEPT_SCREEN = {
    kept_open, nullptr, nullptr, KEPT_COMMANDS, command_count(KEPT_COMMANDS), nullptr, nullptr, false,
};

}  // namespace

void list_age_text(int64_t age_seconds, char16_t* out, int units) {
    if (age_seconds < 60) {
        u16_copy(out, units, u"just now");
    } else if (age_seconds < 3600) {
        wide_format(out, units, u"%u min ago", (uint32_t)(age_seconds / 60));
    } else if (age_seconds < 86400) {
        wide_format(out, units, u"%u h ago", (uint32_t)(age_seconds / 3600));
    } else {
        int64_t days = age_seconds / 86400;
        wide_format(out, units, days == 1 ? u"1 day ago" : u"%u days ago", (uint32_t)(days < 99999 ? days : 99999));
    }
}

intptr_t kept_lists_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(KEPT_SCREEN, screen, message, wparam, lparam);
}
