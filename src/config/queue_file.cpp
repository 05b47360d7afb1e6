// The queue file (see queue_file.h).
//
// Writing: nick, path and name name a file at a peer and on disk, so they
// are written only when they come back byte for byte: converted from the
// entry's encoding to UTF-16 and back they are the same bytes, and they hold
// no character XML 1.0 cannot carry (controls other than tab and line
// breaks, U+FFFE, U+FFFF). An entry whose texts do not is left out of the
// file (kept_whole), and queue_file_save says so once. The error text is
// shown only: what XML cannot carry is left out of it.
//
// Reading: expat is fed the text in chunks of PARSE_CHUNK_BYTES, so its
// buffer holds one element at a time, not the whole file, and its arena
// (config/xml_arena.h) is bounded whatever the file: an element too long for
// it (a value of megabytes, nesting thousands deep) ends the parse as an
// error. Each File is taken into a scratch entry; only a whole one goes
// into the queue.
// - A required attribute missing (Nick, Path, Name, Size), a number that is
//   none or out of its range, an unknown State, Encoding or LastEnd, a
//   malformed TTH: the file is not one Kivo wrote, the queue stays empty.
// - A text that does not fit its field whole in the entry's encoding (too
//   long, or a character that encoding lacks): that entry alone is skipped;
//   cut, it would name another file. Likewise the File elements past
//   QUEUE_ENTRIES. The file is then kept aside whole, so nothing of it is
//   lost when the queue is next written; the other entries are taken.
// Unknown attributes and elements are passed over: a later Kivo may add them.
//
// State of this file alone: the text buffer of a save or a load (static, so
// a small queue touches only the pages it uses), and what the last save
// reported (so a failing save, retried each second, notes only once).
//
// Reaches g_state: the queue (read and replaced), queue_next_id, queue_dirty
// and queue_path (emptied when a bad file cannot be kept aside); the ChatLog
// (the notes).
#include "config/queue_file.h"

#include <cstdio>
#include <cstring>

#include "config/kept_file.h"
#include "config/settings_file.h"
#include "config/xml_arena.h"
#include "platform/platform.h"
#include "state/client_state.h"
#include "state/text_scan.h"

namespace {

const char ROOT_NAME[] = "KivoQueue";
const char FILE_NAME[] = "File";
const char VERSION[] = "1";
constexpr int PARSE_CHUNK_BYTES = 8 * 1024;
// A text of an entry as UTF-16 (one unit per byte at most) and as UTF-8
// (three bytes per unit at most); the path is the longest field.
constexpr int TEXT_UNITS = QUEUE_PATH_BYTES;
constexpr int TEXT_UTF8_BYTES = 3 * QUEUE_PATH_BYTES;
constexpr int NUMBER_BYTES = 24;  // a uint64_t in decimal: 20 digits
constexpr int KEPT_PATH_UNITS = SETTINGS_PATH_UNITS + KEPT_SUFFIX_UNITS;

// One File element at its longest: every byte of the four texts escaped at
// its longest, the TTH, five numbers, the state's and encoding's names, and
// the element's own text (" <File", eleven ` Name=""`, "/>\n": 106 bytes).
constexpr int FILE_ELEMENT_MAX =
    XML_ESCAPED_MAX * (QUEUE_NICK_BYTES - 1 + QUEUE_PATH_BYTES - 1 + QUEUE_NAME_BYTES - 1 + DOWNLOAD_DETAIL_BYTES - 1) +
    (TTH_TEXT_BYTES - 1) + 20 + 20 + 5 + 3 + 7 + 6 + 128;
constexpr int HEAD_MAX = 256;  // the declaration, the comment, the root's tags
static_assert(QUEUE_ENTRIES * FILE_ELEMENT_MAX + HEAD_MAX <= QUEUE_TEXT_BYTES, "the longest queue fits the text");

char g_text[QUEUE_TEXT_BYTES];
bool g_save_failed;  // the last save failed and said so
int g_unkept_noted;  // entries left out of the file, as the last note said

const char* const STATE_NAMES[] = {"waiting", "waiting", "done", "failed", "paused"};  // by QueueState

// --- Writing ------------------------------------------------------------------

bool xml_carries(char16_t unit) {
    if (unit < 0x20) return unit == '\t' || unit == '\n' || unit == '\r';
    return unit != 0xFFFE && unit != 0xFFFF;
}

// The text (in encoding) as UTF-8 into utf8: 1 when it comes back from
// there byte for byte and XML carries it, else 0.
int exact_utf8(uint8_t encoding, const char* text, char* utf8) {
    char16_t wide[TEXT_UNITS + 1];
    int units = encoded_to_utf16(encoding, text, -1, wide, TEXT_UNITS + 1);
    if (units > TEXT_UNITS) return 0;  // longer than any field: cut
    for (int i = 0; wide[i] != 0; i++)
        if (!xml_carries(wide[i])) return 0;
    char back[TEXT_UNITS + 1];
    utf16_to_encoded(encoding, wide, -1, back, TEXT_UNITS + 1);
    if (strcmp(back, text) != 0) return 0;
    utf16_to_utf8(wide, -1, utf8, TEXT_UTF8_BYTES);
    return 1;
}

bool take_tth(const char* value, char* tth);

// Whether the entry reads back as it is: its names exact, its encoding one
// a file names, its TTH (if any) well formed.
bool kept_whole(const QueueEntry& e) {
    char utf8[TEXT_UTF8_BYTES];
    char tth[TTH_TEXT_BYTES];
    if (e.encoding != ENCODING_UTF8 && e.encoding != ENCODING_CP1251 && e.encoding != ENCODING_CP1252) return false;
    const char* own = queue_text(&e, QUEUE_TTH);
    if (own[0] != 0 && !take_tth(own, tth)) return false;
    return exact_utf8(e.encoding, queue_text(&e, QUEUE_NICK), utf8) &&
           exact_utf8(e.encoding, queue_text(&e, QUEUE_PATH), utf8) &&
           exact_utf8(e.encoding, queue_text(&e, QUEUE_NAME), utf8);
}

void put_value(XmlOut* out, const char* name, const char* utf8) {
    xml_put(out, " ");
    xml_put_attribute(out, name, utf8);
}

void put_number(XmlOut* out, const char* name, unsigned long long value) {
    char number[NUMBER_BYTES];
    snprintf(number, NUMBER_BYTES, "%llu", value);
    put_value(out, name, number);
}

void put_text(XmlOut* out, const char* name, uint8_t encoding, const char* text) {
    char utf8[TEXT_UTF8_BYTES];
    if (!exact_utf8(encoding, text, utf8)) {
        // Shown only (the error): what the conversion gives, less what XML
        // cannot carry (xml_put_attribute leaves controls out).
        char16_t wide[TEXT_UNITS];
        encoded_to_utf16(encoding, text, -1, wide, TEXT_UNITS);
        for (int i = 0; wide[i] != 0; i++)
            if (!xml_carries(wide[i])) wide[i] = 0xFFFD;
        utf16_to_utf8(wide, -1, utf8, TEXT_UTF8_BYTES);
    }
    put_value(out, name, utf8);
}

void put_entry(XmlOut* out, const QueueEntry& e) {
    xml_put(out, " <");
    xml_put(out, FILE_NAME);
    put_text(out, "Nick", e.encoding, queue_text(&e, QUEUE_NICK));
    put_text(out, "Path", e.encoding, queue_text(&e, QUEUE_PATH));
    put_text(out, "Name", e.encoding, queue_text(&e, QUEUE_NAME));
    const char* tth = queue_text(&e, QUEUE_TTH);
    if (tth[0] != 0) put_value(out, "TTH", tth);
    put_number(out, "Size", e.size);
    put_number(out, "Held", e.held);
    put_value(out, "State", e.state < QUEUE_PAUSED + 1 ? STATE_NAMES[e.state] : STATE_NAMES[0]);
    put_number(out, "Tries", e.tries);
    const char* error = queue_text(&e, QUEUE_ERROR);
    if (error[0] != 0) put_text(out, "Error", e.encoding, error);
    put_value(out, "Encoding", encoding_name(e.encoding));
    put_number(out, "LastEnd", e.last_end);
    xml_put(out, "/>\n");
}

// --- Reading ------------------------------------------------------------------

struct Parse {
    XML_Parser parser;
    int depth;        // elements open
    bool root_seen;
    bool bad;         // no file of Kivo's: the queue stays empty
    int skipped;      // Files whose texts do not fit their fields
    int dropped;      // Files past QUEUE_ENTRIES
};

const char* attribute(const XML_Char** attributes, const char* name) {
    for (int i = 0; attributes[i] != nullptr && attributes[i + 1] != nullptr; i += 2)
        if (strcmp(attributes[i], name) == 0) return attributes[i + 1];
    return nullptr;
}

// Decimal digits only (no sign, no blank), 1 to 20 of them, at most `most`.
bool take_number(const char* value, uint64_t most, uint64_t* out) {
    if (value[0] == 0) return false;
    uint64_t n = 0;
    for (const char* p = value; *p != 0; p++) {
        if (!is_digit(*p)) return false;
        uint64_t digit = (uint64_t)(*p - '0');
        if (n > (most - digit) / 10) return false;  // n * 10 + digit > most
        n = n * 10 + digit;
    }
    *out = n;
    return true;
}

enum Take { TAKE_BAD, TAKE_TOO_LONG, TAKE_OK };

// A UTF-8 value into a field in the entry's encoding, whole or not at all.
Take take_text(const char* value, uint8_t encoding, char* field, int field_bytes) {
    char16_t wide[TEXT_UNITS + 1];
    // Each character takes a byte of the field at least: a value of more
    // units than the field has bytes cannot fit.
    int units = utf8_to_utf16(value, -1, wide, TEXT_UNITS + 1);
    if (units > field_bytes || units > TEXT_UNITS) return TAKE_TOO_LONG;
    if (encoding != ENCODING_UTF8) {
        CodePage page = encoding == ENCODING_CP1252 ? CODE_PAGE_1252 : CODE_PAGE_1251;
        if (code_page_lacks(page, wide) >= 0) return TAKE_TOO_LONG;  // '?' would name another file
    }
    char bytes[TEXT_UTF8_BYTES];
    int length = utf16_to_encoded(encoding, wide, -1, bytes, TEXT_UTF8_BYTES) - 1;
    if (length >= field_bytes) return TAKE_TOO_LONG;
    text_copy(field, field_bytes, bytes);
    return TAKE_OK;
}

bool take_state(const char* value, uint8_t* state) {
    for (int s = QUEUE_DONE; s <= QUEUE_PAUSED; s++) {
        if (strcmp(value, STATE_NAMES[s]) == 0) {
            *state = (uint8_t)s;
            return true;
        }
    }
    if (strcmp(value, STATE_NAMES[QUEUE_WAITING]) != 0) return false;
    *state = QUEUE_WAITING;
    return true;
}

bool take_tth(const char* value, char* tth) {
    return strlen(value) == TTH_BASE32_CHARS && tth_take(value, tth) && strcmp(tth, value) == 0;
}

// The numbers, state, encoding and TTH of a File: false when one is none.
bool take_values(const XML_Char** a, QueueEntry* e, QueueTexts* texts) {
    const char* v;
    uint64_t n;
    if ((v = attribute(a, "Size")) == nullptr || !take_number(v, UINT64_MAX, &e->size)) return false;
    if ((v = attribute(a, "Held")) != nullptr && !take_number(v, UINT64_MAX, &e->held)) return false;
    if ((v = attribute(a, "Tries")) != nullptr) {
        if (!take_number(v, UINT16_MAX, &n)) return false;
        e->tries = (uint16_t)n;
    }
    if ((v = attribute(a, "LastEnd")) != nullptr) {
        if (!take_number(v, END_KINDS - 1, &n)) return false;
        e->last_end = (uint8_t)n;
    }
    if ((v = attribute(a, "State")) != nullptr && !take_state(v, &e->state)) return false;
    e->encoding = ENCODING_UTF8;  // what every text can be kept in
    if ((v = attribute(a, "Encoding")) != nullptr &&
        (!encoding_from_name(v, &e->encoding) || e->encoding == ENCODING_AUTO)) {
        return false;
    }
    if ((v = attribute(a, "TTH")) != nullptr && !take_tth(v, texts->tth)) return false;
    return true;
}

// One File element into e: TAKE_BAD, TAKE_TOO_LONG (the entry is skipped)
// or TAKE_OK.
Take take_file(const XML_Char** a, QueueEntry* e, QueueTexts* texts) {
    memset(e, 0, sizeof *e);
    memset(texts, 0, sizeof *texts);
    const char* nick = attribute(a, "Nick");
    const char* path = attribute(a, "Path");
    const char* name = attribute(a, "Name");
    if (nick == nullptr || path == nullptr || name == nullptr || nick[0] == 0 || path[0] == 0 || name[0] == 0)
        return TAKE_BAD;
    if (!take_values(a, e, texts)) return TAKE_BAD;
    const char* error = attribute(a, "Error");
    if (error != nullptr) {
        // Shown only: cut to its field, a character never cut in two.
        char16_t wide[DOWNLOAD_DETAIL_BYTES];
        utf8_to_utf16(error, -1, wide, DOWNLOAD_DETAIL_BYTES);
        utf16_to_encoded(e->encoding, wide, -1, texts->error, DOWNLOAD_DETAIL_BYTES);
    }
    Take t = take_text(nick, e->encoding, texts->nick, QUEUE_NICK_BYTES);
    if (t == TAKE_OK) t = take_text(path, e->encoding, texts->path, QUEUE_PATH_BYTES);
    if (t == TAKE_OK) t = take_text(name, e->encoding, texts->name, QUEUE_NAME_BYTES);
    return t;
}

void file_element(Parse* parse, const XML_Char** attributes) {
    QueueEntry e;
    QueueTexts texts;
    Take t = take_file(attributes, &e, &texts);
    if (t == TAKE_BAD) {
        parse->bad = true;
    } else if (t == TAKE_TOO_LONG) {
        parse->skipped++;
    } else if (g_state.queue_count >= QUEUE_ENTRIES) {
        parse->dropped++;
    } else {
        if (++g_state.queue_next_id == 0) g_state.queue_next_id = 1;  // ids are never 0
        e.id = g_state.queue_next_id;
        QueueEntry& added = g_state.queue[g_state.queue_count];
        added = e;
        queue_texts_put(&added, &texts);
        g_state.queue_count++;
    }
}

void XMLCALL element_start(void* data, const XML_Char* name, const XML_Char** attributes) {
    Parse* parse = (Parse*)data;
    parse->depth++;
    if (parse->depth == 1) {
        parse->root_seen = true;
        const char* version = attribute(attributes, "Version");
        if (strcmp(name, ROOT_NAME) != 0 || version == nullptr || strcmp(version, VERSION) != 0) parse->bad = true;
    } else if (parse->depth == 2 && strcmp(name, FILE_NAME) == 0) {
        file_element(parse, attributes);
    }
    if (parse->bad) XML_StopParser(parse->parser, XML_FALSE);
}

void XMLCALL element_end(void* data, const XML_Char*) {
    ((Parse*)data)->depth--;
}

// The text into the queue, in chunks: 1 when it is a queue file.
int parse_text(const char* text, int length, Parse* parse) {
    queue_empty();
    *parse = Parse{};
    parse->parser = xml_parser_create("UTF-8");
    if (parse->parser == nullptr) return 0;
    XML_SetUserData(parse->parser, parse);
    XML_SetElementHandler(parse->parser, element_start, element_end);
    bool parsed = true;
    int at = 0;
    do {
        int n = length - at < PARSE_CHUNK_BYTES ? length - at : PARSE_CHUNK_BYTES;
        parsed = XML_Parse(parse->parser, text + at, n, at + n == length) != XML_STATUS_ERROR;
        at += n;
    } while (parsed && at < length);
    xml_parser_free(parse->parser);
    if (!parsed || !parse->root_seen || parse->bad) {
        queue_empty();
        return 0;
    }
    return 1;
}

// --- The file -------------------------------------------------------------------

// The file renamed aside with a note that starts with `what` (", kept as
// <aside>" follows) and ends with `then`. When it cannot be renamed, the
// queue is not written this session: that would replace the file.
void keep_aside(const char16_t* path, const char16_t* what, const char16_t* then) {
    char16_t aside[KEPT_PATH_UNITS];
    char16_t note[NOTE_UNITS];
    if (kept_file_aside(path, aside, KEPT_PATH_UNITS)) {
        wide_format(note, NOTE_UNITS, u"%s: kept as %s; %s", what, aside, then);
    } else {
        g_state.queue_path[0] = 0;
        wide_format(note, NOTE_UNITS, u"%s (left as it is: the queue is not saved this session); %s", what, then);
    }
    chatlog_append_note(note);
}

// The file into g_text (terminated): its length, or -1 when it cannot be
// read or is longer than a queue file can be.
int read_text(const char16_t* path) {
    int file = file_open_read(path);
    if (file == FILE_INVALID) return -1;
    int length = 0;
    int got = 0;
    while (length < QUEUE_TEXT_BYTES && (got = file_read(file, g_text + length, QUEUE_TEXT_BYTES - length)) > 0)
        length += got;
    file_close(file);
    if (got < 0 || length >= QUEUE_TEXT_BYTES) return -1;  // a file as long as the buffer may go on
    g_text[length] = 0;
    return length;
}

}  // namespace

int queue_text_make(char* out_text, int out_bytes) {
    if (out_bytes <= 0) return 0;
    XmlOut out = xml_out_begin(out_text, out_bytes);
    xml_put(&out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    xml_put(&out, "<!-- Kivo's download queue, written anew as it changes. -->\n<");
    xml_put(&out, ROOT_NAME);
    put_value(&out, "Version", VERSION);
    xml_put(&out, ">\n");
    // A file list is fetched anew when it is wanted: not kept.
    for (int i = 0; i < g_state.queue_count; i++)
        if (g_state.queue[i].kind == QUEUE_FILE && kept_whole(g_state.queue[i])) put_entry(&out, g_state.queue[i]);
    xml_put(&out, "</");
    xml_put(&out, ROOT_NAME);
    xml_put(&out, ">\n");
    if (out.full) {
        out_text[0] = 0;
        return 0;
    }
    return out.length;
}

int queue_text_parse(const char* text, int length) {
    Parse parse;
    return parse_text(text, length, &parse);
}

void queue_file_load(const char16_t* path) {
    queue_empty();
    if (path[0] == 0 || !file_exists(path)) return;
    char16_t what[NOTE_UNITS];
    int length = read_text(path);
    Parse parse;
    bool parsed = length >= 0 && parse_text(g_text, length, &parse) != 0;
    // The text's pages go back: a queue of a thousand entries is a few
    // hundred kB of text, needed only while it is read or written.
    memory_release(g_text, sizeof g_text);
    if (!parsed) {
        wide_format(what, NOTE_UNITS, u"cannot read the download queue in %s", path);
        keep_aside(path, what, u"the queue starts empty");
        return;
    }
    if (parse.skipped == 0 && parse.dropped == 0) return;
    wide_format(what, NOTE_UNITS, u"%d entries of the download queue in %s are not taken (%d too long for Kivo, %d past %d)",
                parse.skipped + parse.dropped, path, parse.skipped, parse.dropped, QUEUE_ENTRIES);
    keep_aside(path, what, u"the others are in the queue");
    g_state.queue_dirty = 1;  // written anew without them
}

int queue_file_save(const char16_t* path) {
    char16_t note[NOTE_UNITS];
    int unkept = 0;
    for (int i = 0; i < g_state.queue_count; i++)
        if (g_state.queue[i].kind == QUEUE_FILE && !kept_whole(g_state.queue[i])) unkept++;
    if (unkept != g_unkept_noted && unkept > 0) {
        wide_format(note, NOTE_UNITS,
                    u"%d entries of the download queue name a file with characters queue.xml cannot keep: they are "
                    u"not saved, and go when Kivo ends",
                    unkept);
        chatlog_append_note(note);
    }
    g_unkept_noted = unkept;

    char16_t folder[KEPT_PATH_UNITS];
    u16_copy(folder, KEPT_PATH_UNITS, path);
    int cut = u16_len(folder);
    while (cut > 0 && folder[cut - 1] != '/') cut--;
    folder[cut] = 0;
    int length = queue_text_make(g_text, QUEUE_TEXT_BYTES);
    char16_t new_path[KEPT_PATH_UNITS];
    bool saved = path[0] != 0 && length > 0 && (cut == 0 || folder_create_all(folder)) &&
                 kept_path_with(path, u".new", new_path, KEPT_PATH_UNITS) &&
                 file_replace_whole(path, new_path, g_text, length);
    memory_release(g_text, sizeof g_text);
    if (!saved && !g_save_failed) {
        wide_format(note, NOTE_UNITS, u"cannot save the download queue to %s; the file there is as it was", path);
        chatlog_append_note(note);
    }
    g_save_failed = !saved;
    return saved ? 1 : 0;
}
