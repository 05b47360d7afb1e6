// The keys a list box takes besides Up/Down, as the phone's list box had
// them: paging, first and last entry, and type-ahead.
//
// Type-ahead: characters typed within TYPE_AHEAD_MS of each other on the
// same list make one prefix; the list selects its first entry that begins
// with it, letters compared without case (Latin and Cyrillic). A prefix no
// entry begins with leaves the selection where it is. Any other key on a
// list, or a pause, starts the next prefix afresh.
//
// Own state: the prefix being typed (g_typed). It belongs to the platform's
// list box (the phone kept it in the control), and only the focused list of
// the topmost screen is ever typed to, so one is enough.
#include "platform/platform_internal.h"

namespace {

constexpr int TYPE_AHEAD_MS = 1000;
constexpr int TYPE_AHEAD_UNITS = 32;  // a longer prefix keeps its first 31 units

struct TypedPrefix {
    const Control* list;
    uint64_t last_ms;
    int length;
    char16_t units[TYPE_AHEAD_UNITS];
};
TypedPrefix g_typed;

// Lower case for the letters that have it in ASCII and in Cyrillic
// (U+0400..U+042F to U+0450..U+044F); every other unit is itself.
char16_t fold(char16_t u) {
    if (u >= u'A' && u <= u'Z') return (char16_t)(u + 32);
    if (u >= 0x0410 && u <= 0x042F) return (char16_t)(u + 0x20);
    if (u >= 0x0400 && u <= 0x040F) return (char16_t)(u + 0x50);
    return u;
}

bool begins_with_typed(const char16_t* entry) {
    for (int i = 0; i < g_typed.length; i++) {
        if (entry[i] == 0 || fold(entry[i]) != fold(g_typed.units[i])) return false;
    }
    return true;
}

int type_ahead(const Control* c, char32_t ch) {
    uint64_t now = monotonic_ms();
    if (g_typed.list != c || now - g_typed.last_ms > TYPE_AHEAD_MS) g_typed.length = 0;
    g_typed.list = c;
    g_typed.last_ms = now;
    char16_t units[2];
    int n = utf16_encode(ch, units);
    for (int i = 0; i < n && g_typed.length < TYPE_AHEAD_UNITS - 1; i++) g_typed.units[g_typed.length++] = units[i];
    int count = list_count(c);
    for (int index = 0; index < count; index++) {
        if (begins_with_typed(list_entry(c, index))) return index;
    }
    return LIST_KEY_STAYS;
}

}  // namespace

int list_key_target(const Control* c, const DisplayKeyEvent* key) {
    if (key->key == DISPLAY_KEY_CHAR) return key->ch > U' ' ? type_ahead(c, key->ch) : LIST_KEY_UNUSED;
    g_typed.length = 0;
    int count = list_count(c);
    Box box;
    int page = control_box(c, &box) && box.rows > 1 ? box.rows - 1 : 1;
    int at = c->selection;
    switch (key->key) {
    case DISPLAY_KEY_HOME: return count > 0 ? 0 : LIST_KEY_STAYS;
    case DISPLAY_KEY_END: return count > 0 ? count - 1 : LIST_KEY_STAYS;
    case DISPLAY_KEY_PAGE_UP:
        if (count == 0) return LIST_KEY_STAYS;
        return at - page > 0 ? at - page : 0;
    case DISPLAY_KEY_PAGE_DOWN:
        if (count == 0) return LIST_KEY_STAYS;
        return (at < 0 ? 0 : at) + page < count ? (at < 0 ? 0 : at) + page : count - 1;
    default: return LIST_KEY_UNUSED;
    }
}
