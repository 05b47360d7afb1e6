// Passive search.
//
// Data model: g_state.results[0 .. result_count-1] are the results of the last
// search in order of arrival; rows past the count are never read. A row is
// written once, whole, and only after its message has been checked, so a
// dropped message leaves no trace.
//
// The ResultView lists those rows as the results screen shows them: one
// entry per file. An entry is led by its first row; a later row with the
// same TTH adds a source to it instead of an entry. Rows are never moved, so
// a row number stays valid for downloads while the view is re-ordered; only
// the view's positions move. Every change to the view ends with the view in
// its sort order (an insertion sort: one arrival moves at most one entry, so
// it costs one pass).
//
// Reaches g_state: the results and their count, result_view, search_phase,
// search_window, the nick, hub_socket, the TrafficCounters, and what a
// search lets through of the UDP port (search_sent_ms, udp_results_taken,
// search_words).
#include "hub/search.h"

#include <cstdio>
#include <cstring>

#include "hub/active_mode.h"
#include "hub/connection.h"
#include "protocol/hub_messages.h"
#include "state/client_state.h"

static_assert(SEARCH_WORDS_BYTES <= SEARCH_KEPT_WORDS_BYTES, "a search's words are kept whole");

namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// Byte-wise with ASCII letters folded; other bytes by their unsigned value.
int name_compare(const char* a, const char* b) {
    for (int i = 0;; i++) {
        unsigned char x = (unsigned char)ascii_lower(a[i]), y = (unsigned char)ascii_lower(b[i]);
        if (x != y || x == 0) return (int)x - (int)y;
    }
}

// Whether the entry at position p goes before the one at q in the view's order.
bool entry_before(int p, int q) {
    const ResultView& v = g_state.result_view;
    const SearchResult& a = g_state.results[v.leader[p]];
    const SearchResult& b = g_state.results[v.leader[q]];
    int order = 0;
    switch (v.sort) {
    case RESULT_SORT_NAME: order = name_compare(a.short_name, b.short_name); break;
    case RESULT_SORT_SIZE: order = a.size > b.size ? -1 : a.size < b.size ? 1 : 0; break;
    case RESULT_SORT_SOURCES: order = v.sources[q] - v.sources[p]; break;
    default: break;
    }
    return order != 0 ? order < 0 : v.leader[p] < v.leader[q];
}

void swap_entries(int p, int q) {
    ResultView& v = g_state.result_view;
    int16_t leader = v.leader[p], sources = v.sources[p];
    v.leader[p] = v.leader[q];
    v.sources[p] = v.sources[q];
    v.leader[q] = leader;
    v.sources[q] = sources;
}

void view_order() {
    for (int i = 1; i < g_state.result_view.count; i++) {
        for (int p = i; p > 0 && entry_before(p, p - 1); p--) swap_entries(p, p - 1);
    }
}

// Enters a stored row: one more source of the entry with its TTH, or a new entry.
void view_add(int row) {
    ResultView& v = g_state.result_view;
    int position = -1;
    for (int p = 0; p < v.count && position < 0; p++) {
        if (results_same_file(v.leader[p], row)) position = p;
    }
    if (position >= 0) {
        v.sources[position]++;
    } else {
        v.leader[v.count] = (int16_t)row;
        v.sources[v.count] = 1;
        v.count++;
    }
    view_order();
}

// Letters folded to lower case: ASCII, and in a single-byte hub encoding
// the upper half's capitals (Cyrillic in code page 1251, Latin-1 letters in
// 1252) and 1251's Yo.
unsigned char fold(unsigned char c, bool single_byte) {
    if (c >= 'A' && c <= 'Z') return (unsigned char)(c + 32);
    if (single_byte && c >= 0xC0 && c <= 0xDF) return (unsigned char)(c + 32);
    if (single_byte && c == 0xA8) return 0xB8;
    return c;
}

// Whether the word (length bytes) lies in text (text_length bytes), letters folded.
bool contains_folded(const char* text, int text_length, const char* word, int length, bool single_byte) {
    for (int start = 0; start + length <= text_length; start++) {
        int i = 0;
        while (i < length && fold((unsigned char)text[start + i], single_byte) ==
                                 fold((unsigned char)word[i], single_byte)) {
            i++;
        }
        if (i == length) return true;
    }
    return false;
}

// Whether a "$SR <nick> <path>\x05..." datagram names every word of the last
// search in its path, as a sharer's answer does: anyone can send datagrams,
// and one that does not answer the search is not shown as if it did. On a
// UTF-8 hub a word with bytes beyond ASCII is not checked (its other case
// has other bytes).
bool datagram_answers_search(const char* datagram, int length) {
    const char* nick = datagram + 4;
    const char* end = datagram + length;
    const char* blank = (const char*)memchr(nick, ' ', (size_t)(end - nick));
    if (blank == nullptr) return false;
    const char* path = blank + 1;
    const char* path_end = (const char*)memchr(path, 0x05, (size_t)(end - path));
    if (path_end == nullptr) return false;
    bool single_byte = hub_encoding() != ENCODING_UTF8;
    const char* words = g_state.search_words;
    for (int i = 0; words[i] != 0;) {
        if (words[i] == ' ') {
            i++;
            continue;
        }
        int n = 0;
        bool ascii = true;
        for (; words[i + n] != 0 && words[i + n] != ' '; n++) ascii = ascii && (unsigned char)words[i + n] < 0x80;
        if ((ascii || single_byte) && !contains_folded(path, (int)(path_end - path), words + i, n, single_byte)) {
            return false;
        }
        i += n;
    }
    return true;
}

}  // namespace

void search_send(const char* words) {
    // Each row is written whole when it is taken, so the table is not cleared:
    // clearing it would touch all of its pages (about 100 KB) for every search.
    g_state.result_count = 0;
    g_state.result_view.count = 0;
    g_state.search_phase = SEARCH_WAITING;
    char message[SEARCH_MESSAGE_BYTES];
    char udp[ACTIVE_ADDRESS_BYTES];
    bool active = active_mode_udp_address(udp, ACTIVE_ADDRESS_BYTES);
    int length = build_search_message(g_state.hub_nick, words, message, SEARCH_MESSAGE_BYTES, active ? udp : nullptr);
    if (length <= 0) return;
    g_state.search_sent_ms = monotonic_ms();
    g_state.udp_results_taken = 0;
    snprintf(g_state.search_words, sizeof g_state.search_words, "%s", words);
    // Not connected, the search goes nowhere and still counts as sent.
    if (!hub_send(message, length)) traffic_add_sent((uint32_t)length);
}

void search_result_take(char* message) {
    if (g_state.result_count >= RESULT_ROWS) return;  // full until the next search
    SearchResult row;
    if (!parse_search_fields(message, &row)) return;
    int r = g_state.result_count;
    g_state.results[r] = row;
    g_state.result_count = r + 1;
    view_add(r);
    if (g_state.search_window != 0) send_message(g_state.search_window, WM_RESULT_ADDED, (WPARAM)r, 0);
}

void search_take_datagram(char* datagram, int length) {
    uint64_t now = monotonic_ms();
    if (g_state.search_sent_ms == 0 || now - g_state.search_sent_ms > SEARCH_UDP_WINDOW_MS) return;
    if (g_state.udp_results_taken >= SEARCH_UDP_RESULTS) return;
    // One message, closed by its '|' and holding no other.
    if (length < 5 || memcmp(datagram, "$SR ", 4) != 0 || datagram[length - 1] != '|') return;
    if (memchr(datagram, '|', (size_t)(length - 1)) != nullptr || memchr(datagram, 0, (size_t)length) != nullptr) return;
    if (!datagram_answers_search(datagram, length)) return;
    g_state.udp_results_taken++;
    datagram[length - 1] = 0;
    search_result_take(datagram);
}

void result_view_rebuild() {
    g_state.result_view.count = 0;
    for (int r = 0; r < g_state.result_count; r++) view_add(r);
}

void result_view_sort(uint8_t sort) {
    g_state.result_view.sort = sort;
    view_order();
}

bool results_same_file(int a, int b) {
    const SearchResult& x = g_state.results[a];
    const SearchResult& y = g_state.results[b];
    // The size too: a source that names another size for the same hash
    // could only fail, and must not stand for the file's other sources.
    return x.tth[0] != '\0' && !x.folder && !y.folder && x.size == y.size && strcmp(x.tth, y.tth) == 0;
}

int result_view_position(int row) {
    const ResultView& v = g_state.result_view;
    for (int p = 0; p < v.count; p++) {
        if (v.leader[p] == row || (v.sources[p] > 1 && results_same_file(v.leader[p], row))) return p;
    }
    return -1;
}

int result_best_source(int position) {
    const ResultView& v = g_state.result_view;
    if (position < 0 || position >= v.count) return -1;
    int leader = v.leader[position];
    int best = leader;
    for (int r = leader + 1; r < g_state.result_count && v.sources[position] > 1; r++) {
        if (results_same_file(leader, r) && g_state.results[r].free_slots > g_state.results[best].free_slots) best = r;
    }
    return best;
}
