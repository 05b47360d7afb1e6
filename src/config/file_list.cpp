// A peer's file list (see file_list.h).
//
// The arena, one mapping per open list, in zones at fixed offsets:
//   bzip2's memory   BZIP2_BYTES     its state and the block of the stream read
//   expat's memory   PARSER_BYTES    its buffer, tag stack and name tables
//   read buffers     BUFFER_BYTES    compressed bytes from the file, text from bzip2
//   entries          FILE_LIST_ENTRIES * 56
//   children index   FILE_LIST_ENTRIES * 4
//   names            FILE_LIST_NAMES_BYTES
// The first three are the scratch of the read, given back when it ends.
//
// The read, per piece: up to READ_BYTES of the file go through
// BZ2_bzDecompress into TEXT_BYTES of text; the text goes through the UTF-8
// check (below) straight into expat's own buffer (XML_GetBuffer, so expat
// copies nothing), and XML_ParseBuffer takes it. A concatenated stream
// starts a new decompression where the last one ended.
//
// The UTF-8 check: expat stops at the first byte that is no UTF-8 or no XML
// character, yet lists carry names in other code pages and with control
// bytes, which are kept as they are. Such a byte b (0x00-0x1F but tab and
// line breaks, 0x80-0xFF where it is no UTF-8, or the bytes of U+FFFE and
// U+FFFF) goes to expat as the private-use character U+F700 + b, and a name
// taken from expat turns each U+F700-U+F7FF back into its byte. A real
// U+F700-U+F7FF in the text has its three bytes passed the same way, so it
// comes back as it was. (A character reference &#xF7nn; in the list comes
// back as the byte nn; no client writes one.)
//
// Elements: FileListing (the root), and in it and in each Directory the
// Directory and File elements; anything else, and anything inside a File,
// is passed over. A document type is refused (no list has one, and its
// entities could expand a few bytes into many).
//
// After the read, each folder's children are placed side by side in the
// children index (in the order of the file: a counting sort by parent), and
// sorted per folder when a screen first asks for an order.
#include "config/file_list.h"

#include <bzlib.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>

#include "config/xml_arena.h"
#include "platform/platform.h"
#include "state/text_scan.h"

namespace {

constexpr size_t BZIP2_BYTES = 4u << 20;  // bzip2 -9 decompression takes 3.7 MB
constexpr size_t PARSER_BYTES = FILE_LIST_PARSER_BYTES;
constexpr size_t BUFFER_BYTES = FILE_LIST_SCRATCH_BYTES - BZIP2_BYTES - PARSER_BYTES;
constexpr int READ_BYTES = 64 * 1024;
constexpr int TEXT_BYTES = 32 * 1024;
static_assert(READ_BYTES + 4 + TEXT_BYTES <= (int)BUFFER_BYTES, "the read buffers fit their zone");
constexpr size_t OFFSET_PARSER = BZIP2_BYTES;
constexpr size_t OFFSET_BUFFERS = OFFSET_PARSER + PARSER_BYTES;
constexpr size_t OFFSET_ENTRIES = FILE_LIST_SCRATCH_BYTES;
constexpr size_t OFFSET_CHILDREN = OFFSET_ENTRIES + (size_t)FILE_LIST_ENTRIES * sizeof(FileListEntry);
constexpr size_t OFFSET_NAMES = OFFSET_CHILDREN + (size_t)FILE_LIST_ENTRIES * sizeof(uint32_t);
static_assert(OFFSET_NAMES + FILE_LIST_NAMES_BYTES == FILE_LIST_ARENA_BYTES, "the zones fill the arena");
static_assert(FILE_LIST_SCRATCH_BYTES % 4096 == 0, "the scratch ends on a page");
constexpr int TTH_CHARS = 39;
constexpr uint32_t ESCAPE_BASE = 0xF700;  // U+F700 + byte: a byte that is no UTF-8 text

struct Read {
    FileList* list;
    XML_Parser parser;
    bz_stream bz;
    size_t bz_used;          // of the bzip2 zone
    int file;
    bool eof;
    unsigned char* in;       // READ_BYTES of the file
    char* text;              // TEXT_BYTES from bzip2
    unsigned char carry[4];  // the start of a UTF-8 sequence cut by a piece's end
    int carried;
    int depth;               // elements open
    int skip_from;           // the depth of an element passed over with its content, or 0
    int open;                // folders open, the root first
    uint32_t folders[FILE_LIST_DEPTH + 1];
    uint64_t text_at_entry;  // list->text_bytes when the last entry was taken
    bool not_list;           // the root is no FileListing
    bool faulted;            // the note says why the read stopped
};

// --- Notes ----------------------------------------------------------------------

// The first fault is the one the note names; the parser stops. The format
// takes one %u (or none).
void fault(Read* r, const char16_t* format, unsigned value = 0) {
    if (r->faulted) return;
    r->faulted = true;
    wide_format(r->list->note, FILE_LIST_NOTE_UNITS, format, value);
    if (r->parser != nullptr) XML_StopParser(r->parser, XML_FALSE);
}

void parse_fault(Read* r) {
    XML_Error error = XML_GetErrorCode(r->parser);
    if (error == XML_ERROR_ABORTED && r->faulted) return;
    unsigned line = (unsigned)XML_GetCurrentLineNumber(r->parser);
    if (error == XML_ERROR_NO_MEMORY) {
        fault(r, u"the list is cut at line %u: an element longer than Kivo reads", line);
        return;
    }
    char16_t what[80];
    utf8_to_utf16(XML_ErrorString(error), -1, what, 80);
    r->faulted = true;
    wide_format(r->list->note, FILE_LIST_NOTE_UNITS, u"the list is cut at line %u: %s", line, what);
}

// --- bzip2's memory: a bump allocator over its zone ------------------------------

void* bz_alloc(void* opaque, int items, int size) {
    Read* r = (Read*)opaque;
    if (items < 0 || size < 0) return nullptr;
    size_t bytes = ((size_t)items * (size_t)size + 15) & ~(size_t)15;
    if (bytes > BZIP2_BYTES - r->bz_used) return nullptr;  // BZ_MEM_ERROR
    void* block = r->list->region + r->bz_used;
    r->bz_used += bytes;
    return block;
}

// Blocks go back together, when a stream ends (bz_restart).
void bz_free(void*, void*) {}

// A new stream from where the file's bytes stand.
bool bz_start(Read* r) {
    char* next_in = r->bz.next_in;
    unsigned avail_in = r->bz.avail_in;
    memset(&r->bz, 0, sizeof r->bz);
    r->bz.next_in = next_in;
    r->bz.avail_in = avail_in;
    r->bz.bzalloc = bz_alloc;
    r->bz.bzfree = bz_free;
    r->bz.opaque = r;
    r->bz_used = 0;
    return BZ2_bzDecompressInit(&r->bz, 0, 0) == BZ_OK;
}

// At least `need` bytes of the file waiting in r->in, unless it ends first.
void fill(Read* r, unsigned need) {
    if (r->bz.avail_in >= need || r->eof) return;
    memmove(r->in, r->bz.next_in, r->bz.avail_in);
    r->bz.next_in = (char*)r->in;
    while (r->bz.avail_in < need && !r->eof) {
        int got = file_read(r->file, r->in + r->bz.avail_in, READ_BYTES - (int)r->bz.avail_in);
        if (got < 0) fault(r, u"the list is cut: reading the file failed");
        if (got <= 0) r->eof = true;
        else r->bz.avail_in += (unsigned)got;
    }
}

bool at_stream_start(Read* r) {
    fill(r, 3);
    return r->bz.avail_in >= 3 && memcmp(r->bz.next_in, "BZh", 3) == 0;
}

// --- The UTF-8 check ------------------------------------------------------------

// The bytes of a complete UTF-8 sequence that is an XML character at s
// (n bytes there); 0 when it is none; -1 when the n bytes may be the start
// of one (more are needed to tell).
int sequence_bytes(const unsigned char* s, int n) {
    unsigned char b = s[0];
    if (b < 0x80) return (b >= 0x20 || b == '\t' || b == '\n' || b == '\r') ? 1 : 0;
    int need;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (b >= 0xC2 && b <= 0xDF) need = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        need = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (int i = 1; i < need; i++) {
        if (i >= n) return -1;
        unsigned char lo = i == 1 ? low : 0x80, hi = i == 1 ? high : 0xBF;
        if (s[i] < lo || s[i] > hi) return 0;
    }
    // The escapes' own range, and U+FFFE and U+FFFF, which XML lacks.
    if (b == 0xEF && (s[1] >= 0x9C && s[1] <= 0x9F)) return 0;
    if (b == 0xEF && s[1] == 0xBF && s[2] >= 0xBE) return 0;
    return need;
}

unsigned char* put_escape(unsigned char* out, unsigned char b) {
    uint32_t cp = ESCAPE_BASE + b;
    out[0] = (unsigned char)(0xE0 | (cp >> 12));
    out[1] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
    out[2] = (unsigned char)(0x80 | (cp & 0x3F));
    return out + 3;
}

// Whether 8 bytes are all printable ASCII (0x20-0x7F): then they pass as
// they are. (A byte below 0x20 sets its top bit in the difference.)
inline bool plain_ascii(const unsigned char* s) {
    uint64_t w;
    memcpy(&w, s, 8);
    return ((w | (w - 0x2020202020202020ull)) & 0x8080808080808080ull) == 0;
}

// n bytes of text into out, which has room for 3 bytes per byte: the bytes
// written. A sequence cut by the end of s waits in r->carry for the next
// piece (parse puts it in front of that); with last it is no UTF-8.
int check_utf8(Read* r, const unsigned char* s, int n, unsigned char* out, bool last) {
    unsigned char* o = out;
    int i = 0;
    while (i < n) {
        if (i + 8 <= n && plain_ascii(s + i)) {
            memcpy(o, s + i, 8);
            o += 8;
            i += 8;
            continue;
        }
        int seq = sequence_bytes(s + i, n - i);
        if (seq < 0 && !last) {
            r->carried = n - i;  // at most 3
            memcpy(r->carry, s + i, (size_t)r->carried);
            break;
        }
        if (seq <= 0) {
            o = put_escape(o, s[i++]);
            continue;
        }
        memcpy(o, s + i, (size_t)seq);
        o += seq;
        i += seq;
    }
    return (int)(o - out);
}

// A value from expat with its escapes turned back into bytes, into dst:
// the bytes, or -1 when more than `most`.
int unescape(const char* value, char* dst, int most) {
    int n = 0;
    for (const unsigned char* v = (const unsigned char*)value; *v != 0;) {
        unsigned char b = *v;
        if (b == 0xEF && v[1] >= 0x9C && v[1] <= 0x9F && v[2] >= 0x80) {
            b = (unsigned char)(((v[1] & 3) << 6) | (v[2] & 0x3F));
            v += 3;
        } else {
            v++;
        }
        if (n == most) return -1;
        dst[n++] = (char)b;
    }
    return n;
}

// --- Entries --------------------------------------------------------------------

const char* attribute(const XML_Char** a, const char* name) {
    for (int i = 0; a[i] != nullptr && a[i + 1] != nullptr; i += 2)
        if (strcmp(a[i], name) == 0) return a[i + 1];
    return nullptr;
}

uint64_t add_saturating(uint64_t a, uint64_t b) { return a + b < a ? UINT64_MAX : a + b; }

// A size: decimal digits; anything else (or none) is 0, past 2^64-1 the most.
uint64_t take_size(const char* value) {
    uint64_t n = 0;
    if (value == nullptr) return 0;
    for (const char* p = value; *p != 0; p++) {
        if (!is_digit(*p)) return 0;
        uint64_t digit = (uint64_t)(*p - '0');
        if (n > (UINT64_MAX - digit) / 10) return UINT64_MAX;
        n = n * 10 + digit;
    }
    return n;
}

int base32_value(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' : c - '2' + 26; }

// A TTH in base32 into 24 raw bytes: false when it is none.
bool take_tth(const char* value, uint8_t* raw) {
    char tth[TTH_CHARS + 1];
    if (value == nullptr || strlen(value) != TTH_CHARS || !tth_take(value, tth)) return false;
    uint32_t bits = 0;
    int held = 0, at = 0;
    for (int i = 0; i < TTH_CHARS && at < FILE_LIST_TTH_BYTES; i++) {
        bits = (bits << 5) | (uint32_t)base32_value(tth[i]);
        held += 5;
        if (held >= 8) {
            raw[at++] = (uint8_t)(bits >> (held - 8));
            held -= 8;
        }
    }
    return true;
}

// A new entry named by its element's Name in the innermost open folder:
// its index, or FILE_LIST_NO_ENTRY when a cap stops the read.
uint32_t add_entry(Read* r, const char* name, uint8_t flags) {
    FileList* list = r->list;
    if (list->count >= FILE_LIST_ENTRIES) {
        fault(r, u"the list stops at %u entries", FILE_LIST_ENTRIES);
        return FILE_LIST_NO_ENTRY;
    }
    if (list->names_used + FILE_LIST_NAME_BYTES + 1 > FILE_LIST_NAMES_BYTES) {
        fault(r, u"the list stops at %u MiB of names", (unsigned)(FILE_LIST_NAMES_BYTES >> 20));
        return FILE_LIST_NO_ENTRY;
    }
    char* at = list->names + list->names_used;
    int bytes = unescape(name != nullptr ? name : "", at, FILE_LIST_NAME_BYTES);
    if (bytes < 0) {
        fault(r, u"the list stops at a name longer than %u bytes", FILE_LIST_NAME_BYTES);
        return FILE_LIST_NO_ENTRY;
    }
    at[bytes] = 0;
    uint32_t index = list->count++;
    r->text_at_entry = list->text_bytes;
    FileListEntry* e = &list->entries[index];
    memset(e, 0, sizeof *e);
    e->name_at = (uint32_t)list->names_used;
    e->name_bytes = (uint16_t)bytes;
    e->flags = flags;
    e->parent = r->open > 0 ? r->folders[r->open - 1] : FILE_LIST_NO_ENTRY;
    if (r->open > 0) list->entries[e->parent].child_count++;
    list->names_used += (uint64_t)bytes + 1;
    return index;
}

// The root, named after Base: "/share/sub/" as "share\sub\" (the start of
// every path in the list).
void add_root(Read* r, const XML_Char** a) {
    char base[FILE_LIST_NAME_BYTES + 1];
    const char* given = attribute(a, "Base");
    int n = given != nullptr ? unescape(given, base, FILE_LIST_NAME_BYTES) : 0;
    if (n < 0) n = 0;  // a Base as long as that names nothing real: the list's paths start at its root
    base[n] = 0;
    char* b = base;
    while (*b == '/') b++;
    for (char* p = b; *p != 0; p++)
        if (*p == '/') *p = '\\';
    // The names zone takes the root's name with its escapes already gone.
    int length = (int)strlen(b);
    memcpy(r->list->names, b, (size_t)length + 1);
    r->list->names_used = (uint64_t)length + 1;
    r->list->count = 1;
    FileListEntry* root = &r->list->entries[0];
    memset(root, 0, sizeof *root);
    root->name_bytes = (uint16_t)length;
    root->flags = FILE_LIST_FOLDER;
    root->parent = FILE_LIST_NO_ENTRY;
    r->folders[r->open++] = FILE_LIST_ROOT;
    const char* cid = attribute(a, "CID");
    const char* generator = attribute(a, "Generator");
    text_copy(r->list->cid, FILE_LIST_TEXT_FIELD_BYTES, cid != nullptr ? cid : "");
    text_copy(r->list->generator, FILE_LIST_TEXT_FIELD_BYTES, generator != nullptr ? generator : "");
}

void add_file(Read* r, const XML_Char** a) {
    uint32_t index = add_entry(r, attribute(a, "Name"), 0);
    if (index == FILE_LIST_NO_ENTRY) return;
    FileListEntry* e = &r->list->entries[index];
    e->size = take_size(attribute(a, "Size"));
    if (take_tth(attribute(a, "TTH"), e->tth)) e->flags |= FILE_LIST_HAS_TTH;
    FileListEntry* parent = &r->list->entries[e->parent];
    parent->size = add_saturating(parent->size, e->size);
    parent->files++;
}

void add_folder(Read* r, const XML_Char** a) {
    if (r->open > FILE_LIST_DEPTH) {
        fault(r, u"the list stops at folders nested deeper than %u", FILE_LIST_DEPTH);
        return;
    }
    const char* incomplete = attribute(a, "Incomplete");
    uint8_t flags = FILE_LIST_FOLDER;
    if (incomplete != nullptr && strcmp(incomplete, "1") == 0) flags |= FILE_LIST_INCOMPLETE;
    uint32_t index = add_entry(r, attribute(a, "Name"), flags);
    if (index != FILE_LIST_NO_ENTRY) r->folders[r->open++] = index;
}

// The innermost folder is complete: its totals go into its parent's.
void close_folder(Read* r) {
    FileListEntry* entries = r->list->entries;
    uint32_t folder = r->folders[--r->open];
    if (r->open == 0) return;
    FileListEntry* parent = &entries[r->folders[r->open - 1]];
    parent->size = add_saturating(parent->size, entries[folder].size);
    parent->files += entries[folder].files;
}

void XMLCALL element_start(void* data, const XML_Char* name, const XML_Char** a) {
    Read* r = (Read*)data;
    r->depth++;
    if (r->faulted) return;
    if (r->depth > FILE_LIST_DEPTH + 2) {  // the root, the folders, a file
        fault(r, u"the list stops at elements nested deeper than %u", FILE_LIST_DEPTH + 2);
        return;
    }
    if (r->skip_from != 0) return;
    if (r->depth == 1) {
        if (strcmp(name, "FileListing") != 0) {
            r->not_list = true;
            fault(r, u"this is no file list");
            return;
        }
        add_root(r, a);
        return;
    }
    if (strcmp(name, "Directory") == 0) {
        add_folder(r, a);
        return;
    }
    if (strcmp(name, "File") == 0) add_file(r, a);
    r->skip_from = r->depth;  // a File's content, or an element of no list
}

void XMLCALL element_end(void* data, const XML_Char*) {
    Read* r = (Read*)data;
    if (r->skip_from == r->depth) r->skip_from = 0;
    else if (r->skip_from == 0 && r->depth == r->open) close_folder(r);
    r->depth--;
}

void XMLCALL doctype_start(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    fault((Read*)data, u"the list is cut: it declares a document type");
}

// --- The read -------------------------------------------------------------------

// n bytes of text at r->text (last: the end of it) through the UTF-8 check
// into expat.
bool parse(Read* r, int n, bool last) {
    // What the piece before left of a sequence goes in front of this one.
    unsigned char* text = (unsigned char*)r->text - r->carried;
    memcpy(text, r->carry, (size_t)r->carried);
    n += r->carried;
    r->carried = 0;
    int room = 3 * n + 3;  // never 0: expat hands out no buffer for that
    void* buffer = XML_GetBuffer(r->parser, room);
    if (buffer == nullptr) {
        fault(r, u"the list is cut at line %u: an element longer than Kivo reads",
              (unsigned)XML_GetCurrentLineNumber(r->parser));
        return false;
    }
    int length = check_utf8(r, text, n, (unsigned char*)buffer, last);
    if (XML_ParseBuffer(r->parser, length, last) == XML_STATUS_ERROR) {
        parse_fault(r);
        return false;
    }
    return true;
}

// The text bzip2 made into the parser, within the cap on text read.
bool take_text(Read* r, int produced) {
    FileList* list = r->list;
    bool capped = list->text_bytes + (uint64_t)produced > FILE_LIST_TEXT_BYTES;
    if (capped) produced = (int)(FILE_LIST_TEXT_BYTES - list->text_bytes);
    list->text_bytes += (uint64_t)produced;
    if (!parse(r, produced, false)) return false;
    if (capped) fault(r, u"the list stops at %u MiB of text", (unsigned)(FILE_LIST_TEXT_BYTES >> 20));
    if (list->text_bytes - r->text_at_entry > FILE_LIST_GAP_BYTES) {
        fault(r, u"the list stops at %u MiB of text without an entry", (unsigned)(FILE_LIST_GAP_BYTES >> 20));
        return false;
    }
    return !capped;
}

// Decompresses the whole file into the parser; true when it ended whole.
bool decompress(Read* r) {
    if (!bz_start(r)) {
        fault(r, u"no memory for the list's decompression");
        return false;
    }
    for (;;) {
        fill(r, 1);
        r->bz.next_out = r->text;
        r->bz.avail_out = TEXT_BYTES;
        int status = BZ2_bzDecompress(&r->bz);
        int produced = TEXT_BYTES - (int)r->bz.avail_out;
        if (produced > 0 && !take_text(r, produced)) return false;
        if (status == BZ_STREAM_END) {
            BZ2_bzDecompressEnd(&r->bz);
            // Bytes after the last stream that start no other are passed
            // over, as bzip2 itself does (with a warning).
            if (!at_stream_start(r)) return !r->faulted;
            if (!bz_start(r)) return false;
            continue;
        }
        if (status != BZ_OK) {
            BZ2_bzDecompressEnd(&r->bz);
            fault(r, u"the list is cut: its compressed data is damaged");
            return false;
        }
        if (produced == 0 && r->bz.avail_in == 0 && r->eof) {
            BZ2_bzDecompressEnd(&r->bz);
            fault(r, u"the list is cut: the compressed file ends early");
            return false;
        }
    }
}

// Each folder's children side by side in the index, in the file's order.
void place_children(FileList* list) {
    uint32_t at = 0;
    for (uint32_t e = 0; e < list->count; e++) {
        if (!(list->entries[e].flags & FILE_LIST_FOLDER)) continue;
        list->entries[e].children_at = at;
        at += list->entries[e].child_count;
    }
    for (uint32_t e = 1; e < list->count; e++) list->children[list->entries[list->entries[e].parent].children_at++] = e;
    for (uint32_t e = 0; e < list->count; e++)
        if (list->entries[e].flags & FILE_LIST_FOLDER) list->entries[e].children_at -= list->entries[e].child_count;
}

bool map_arena(FileList* list) {
    void* region = mmap(nullptr, FILE_LIST_ARENA_BYTES, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                        -1, 0);
    if (region == MAP_FAILED) return false;
    list->region = (unsigned char*)region;
    list->entries = (FileListEntry*)(list->region + OFFSET_ENTRIES);
    list->children = (uint32_t*)(list->region + OFFSET_CHILDREN);
    list->names = (char*)(list->region + OFFSET_NAMES);
    return true;
}

// What the read left: a result, and the list closed when nothing was kept.
FileListResult read_end(Read* r, bool whole) {
    FileList* list = r->list;
    // The scratch goes back to the system; the pages stay reserved.
    madvise(list->region, FILE_LIST_SCRATCH_BYTES, MADV_DONTNEED);
    if (list->count == 0 || r->not_list) {
        if (!r->faulted) wide_format(list->note, FILE_LIST_NOTE_UNITS, u"this is no file list");
        char16_t note[FILE_LIST_NOTE_UNITS];
        u16_copy(note, FILE_LIST_NOTE_UNITS, list->note);
        file_list_close(list);
        u16_copy(list->note, FILE_LIST_NOTE_UNITS, note);
        return FILE_LIST_UNREAD;
    }
    while (r->open > 0) close_folder(r);  // a list cut inside its folders
    place_children(list);
    return whole ? FILE_LIST_WHOLE : FILE_LIST_CUT;
}

// --- Order and search -------------------------------------------------------------

// Letters folded to small ones, in place of each other's bytes (the pairs
// folded have the same length in UTF-8): ASCII, Latin-1 (U+00C0-U+00DE but
// U+00D7) and Cyrillic (U+0400-U+042F).
void fold(const unsigned char* s, int n, unsigned char* out) {
    for (int i = 0; i < n; i++) {
        unsigned char b = s[i];
        out[i] = b;
        if (b >= 'A' && b <= 'Z') {
            out[i] = (unsigned char)(b + 32);
        } else if (i + 1 < n && (b == 0xC3 || b == 0xD0) && s[i + 1] >= 0x80 && s[i + 1] <= 0xBF) {
            unsigned char c = s[i + 1];
            out[i + 1] = c;
            if (b == 0xC3 && c <= 0x9E && c != 0x97) out[i + 1] = (unsigned char)(c + 0x20);
            if (b == 0xD0 && c >= 0x90 && c <= 0x9F) out[i + 1] = (unsigned char)(c + 0x20);
            if (b == 0xD0 && c >= 0xA0 && c <= 0xAF) out[i] = 0xD1, out[i + 1] = (unsigned char)(c - 0x20);
            if (b == 0xD0 && c <= 0x8F) out[i] = 0xD1, out[i + 1] = (unsigned char)(c + 0x10);
            i++;
        }
    }
}

int compare_names(const FileList* list, const FileListEntry& a, const FileListEntry& b) {
    unsigned char fa[FILE_LIST_NAME_BYTES], fb[FILE_LIST_NAME_BYTES];
    const unsigned char* na = (const unsigned char*)list->names + a.name_at;
    const unsigned char* nb = (const unsigned char*)list->names + b.name_at;
    fold(na, a.name_bytes, fa);
    fold(nb, b.name_bytes, fb);
    int shorter = a.name_bytes < b.name_bytes ? a.name_bytes : b.name_bytes;
    int c = memcmp(fa, fb, (size_t)shorter);
    if (c == 0) c = (int)a.name_bytes - (int)b.name_bytes;
    if (c == 0) c = memcmp(na, nb, (size_t)a.name_bytes);  // the same case aside: by their bytes
    return c;
}

struct ChildOrder {
    const FileList* list;
    FileListOrder order;
    bool operator()(uint32_t x, uint32_t y) const {
        const FileListEntry& a = list->entries[x];
        const FileListEntry& b = list->entries[y];
        bool fa = a.flags & FILE_LIST_FOLDER, fb = b.flags & FILE_LIST_FOLDER;
        if (fa != fb) return fa;
        if (order == FILE_LIST_BY_SIZE && a.size != b.size) return a.size > b.size;
        int c = compare_names(list, a, b);
        return c != 0 ? c < 0 : x < y;
    }
};

}  // namespace

FileListResult file_list_open(FileList* list, const char16_t* path) {
    memset(list, 0, sizeof *list);
    int file = file_open_read(path);
    if (file == FILE_INVALID) {
        wide_format(list->note, FILE_LIST_NOTE_UNITS, u"cannot open the file list %s", path);
        return FILE_LIST_UNREAD;
    }
    if (!map_arena(list)) {
        file_close(file);
        wide_format(list->note, FILE_LIST_NOTE_UNITS, u"no memory for a file list (%u MiB)",
                    (unsigned)(FILE_LIST_ARENA_BYTES >> 20));
        return FILE_LIST_UNREAD;
    }
    Read r{};
    r.list = list;
    r.file = file;
    r.in = list->region + OFFSET_BUFFERS;
    r.text = (char*)(r.in + READ_BYTES + sizeof r.carry);  // room for a carry in front
    r.bz.next_in = (char*)r.in;
    bool whole = false;
    if (!at_stream_start(&r)) {
        fault(&r, u"the file list is not bzip2-compressed");
    } else {
        // UTF-8 whatever the text declares: the check above made it so.
        r.parser = xml_parser_create_in("UTF-8", list->region + OFFSET_PARSER, PARSER_BYTES);
        if (r.parser == nullptr) {
            fault(&r, u"no memory for the list's parser");
        } else {
            XML_SetUserData(r.parser, &r);
            XML_SetElementHandler(r.parser, element_start, element_end);
            XML_SetStartDoctypeDeclHandler(r.parser, doctype_start);
            whole = decompress(&r) && parse(&r, 0, true);
            xml_parser_free(r.parser);
            r.parser = nullptr;
        }
    }
    file_close(file);
    FileListResult result = read_end(&r, whole && !r.faulted);
    if (result == FILE_LIST_CUT) {
        char16_t note[FILE_LIST_NOTE_UNITS];
        wide_format(note, FILE_LIST_NOTE_UNITS, u"%s (entries read: %u)", list->note, list->count - 1);
        u16_copy(list->note, FILE_LIST_NOTE_UNITS, note);
    }
    return result;
}

void file_list_close(FileList* list) {
    if (list->region != nullptr) munmap(list->region, FILE_LIST_ARENA_BYTES);
    memset(list, 0, sizeof *list);
}

const FileListEntry* file_list_entry(const FileList* list, uint32_t entry) { return &list->entries[entry]; }

const char* file_list_name(const FileList* list, uint32_t entry, int* bytes) {
    const FileListEntry& e = list->entries[entry];
    *bytes = e.name_bytes;
    return list->names + e.name_at;
}

int file_list_name_shown(const FileList* list, uint32_t entry, char16_t* dst, int dst_units) {
    if (dst_units <= 0) return 0;
    int bytes;
    const char* name = file_list_name(list, entry, &bytes);
    int units = utf8_to_utf16(name, bytes, dst, dst_units - 1);
    for (int i = 0; i < units; i++)
        if (dst[i] < 0x20 || (dst[i] >= 0x7F && dst[i] <= 0x9F)) dst[i] = 0xFFFD;
    dst[units] = 0;
    return units;
}

uint32_t file_list_children(FileList* list, uint32_t folder, FileListOrder order, const uint32_t** children) {
    FileListEntry& f = list->entries[folder];
    uint32_t* slice = list->children + f.children_at;
    if (f.order != order) {
        std::sort(slice, slice + f.child_count, ChildOrder{list, order});
        f.order = order;
    }
    *children = slice;
    return f.child_count;
}

int file_list_path(const FileList* list, uint32_t entry, char* out, int out_bytes) {
    uint32_t chain[FILE_LIST_DEPTH + 2];
    int n = 0;
    for (uint32_t e = entry; e != FILE_LIST_ROOT && n < FILE_LIST_DEPTH + 2; e = list->entries[e].parent) chain[n++] = e;
    int bytes;
    const char* base = file_list_name(list, FILE_LIST_ROOT, &bytes);
    int length = 0;
    bool fits = bytes < out_bytes;
    if (fits) memcpy(out, base, (size_t)bytes), length = bytes;
    for (int i = n - 1; i >= 0 && fits; i--) {
        const char* name = file_list_name(list, chain[i], &bytes);
        int separator = i < n - 1 ? 1 : 0;
        fits = length + separator + bytes < out_bytes;
        if (!fits) break;
        if (separator) out[length++] = '\\';
        memcpy(out + length, name, (size_t)bytes);
        length += bytes;
    }
    if (!fits) {
        if (out_bytes > 0) out[0] = 0;
        return 0;
    }
    out[length] = 0;
    return length;
}

uint32_t file_list_find(const FileList* list, const char* words, int words_bytes, uint32_t after) {
    if (words_bytes <= 0 || words_bytes > FILE_LIST_NAME_BYTES) return FILE_LIST_NO_ENTRY;
    unsigned char needle[FILE_LIST_NAME_BYTES];
    unsigned char folded[FILE_LIST_NAME_BYTES];
    fold((const unsigned char*)words, words_bytes, needle);
    uint32_t from = after == FILE_LIST_NO_ENTRY ? 1 : after + 1;
    for (uint32_t e = from; e < list->count; e++) {
        const FileListEntry& entry = list->entries[e];
        if (entry.name_bytes < words_bytes) continue;
        fold((const unsigned char*)list->names + entry.name_at, entry.name_bytes, folded);
        if (memmem(folded, entry.name_bytes, needle, (size_t)words_bytes) != nullptr) return e;
    }
    return FILE_LIST_NO_ENTRY;
}

void file_list_tth_text(const FileList* list, uint32_t entry, char* out) {
    const FileListEntry& e = list->entries[entry];
    out[0] = 0;
    if (!(e.flags & FILE_LIST_HAS_TTH)) return;
    const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    uint32_t bits = 0;
    int held = 0, at = 0;
    for (int i = 0; i < FILE_LIST_TTH_BYTES; i++) {
        bits = (bits << 8) | e.tth[i];
        held += 8;
        while (held >= 5) {
            out[at++] = ALPHABET[(bits >> (held - 5)) & 31];
            held -= 5;
        }
    }
    out[at++] = ALPHABET[(bits << (5 - held)) & 31];  // the last 2 bits and 3 zero bits
    out[at] = 0;
}

FileListTotal file_list_total(const FileList* list) {
    FileListTotal t{};
    if (list->count == 0) return t;
    t.files = list->entries[FILE_LIST_ROOT].files;
    t.folders = list->count - 1 - t.files;
    t.bytes = list->entries[FILE_LIST_ROOT].size;
    return t;
}

size_t file_list_held_bytes(const FileList* list) {
    if (list->region == nullptr) return 0;
    return (size_t)list->count * (sizeof(FileListEntry) + sizeof(uint32_t)) + list->names_used;
}

uint32_t file_list_folder_at(FileList* list, const char* path, FileListOrder order) {
    int root_bytes = 0;
    const char* root = file_list_name(list, FILE_LIST_ROOT, &root_bytes);
    int base = root_bytes > 0 && root[root_bytes - 1] == '\\' ? root_bytes - 1 : root_bytes;
    if (base > 0) {
        if (strncmp(path, root, (size_t)base) != 0 || (path[base] != 0 && path[base] != '\\')) return FILE_LIST_NO_ENTRY;
        path += base;
    }
    uint32_t at = FILE_LIST_ROOT;
    while (*path != 0) {
        if (*path == '\\') {
            path++;
            continue;
        }
        const char* end = strchr(path, '\\');
        int n = end != nullptr ? (int)(end - path) : (int)strlen(path);
        const uint32_t* children = nullptr;
        uint32_t count = file_list_children(list, at, order, &children);
        uint32_t next = FILE_LIST_NO_ENTRY;
        for (uint32_t i = 0; i < count && next == FILE_LIST_NO_ENTRY; i++) {
            int bytes = 0;
            const char* name = file_list_name(list, children[i], &bytes);
            bool folder = (file_list_entry(list, children[i])->flags & FILE_LIST_FOLDER) != 0;
            if (folder && bytes == n && memcmp(name, path, (size_t)n) == 0) next = children[i];
        }
        if (next == FILE_LIST_NO_ENTRY) return FILE_LIST_NO_ENTRY;
        at = next;
        path += n;
    }
    return at;
}
