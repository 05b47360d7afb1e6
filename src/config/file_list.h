// A peer's file list ("files.xml.bz2"), read from disk into an arena of its
// own and browsed from there. The file is bzip2 (one stream or several
// concatenated) holding XML as Direct Connect clients write it:
//
//   <FileListing Version="1" CID="..." Base="/" Generator="...">
//    <Directory Name="share">
//     <File Name="alpha.txt" Size="2816" TTH="<39 base32>"/>
//     <Directory Name="sub" Incomplete="1"/>        (a partial list)
//    </Directory>
//   </FileListing>
//
// It is read in fixed pieces (bzip2 -> UTF-8 check -> expat), never whole.
// Every entry is a FileListEntry in the arena; entry 0 is the root (the
// listing itself, named after Base). Names are kept as the list's bytes,
// whatever they hold ('/', '\', "..", control bytes, names differing only
// in case, bytes that are no UTF-8): what they are is decided where they
// are shown (file_list_name_shown) or become local paths.
//
// Caps against hostile lists, below; a list that passes one, is cut or is
// malformed keeps what was read before the fault, and the note says why.
//
// The arena: one private anonymous mapping per open list, reserved whole at
// open (FILE_LIST_ARENA_BYTES of address space, MAP_NORESERVE) and touched
// only as the list fills it, so memory grows with the list, never with the
// caps; file_list_close unmaps it and every page goes back to the system.
// The scratch of the read (bzip2's tables, expat's memory, the read
// buffers) lies at its start and is given back (MADV_DONTNEED) once the
// list is read.
#pragma once

#include <cstddef>
#include <cstdint>

// Decompressed text read at most: 268 bytes for each of the most entries,
// where lists as clients write them take 100 to 150 (the rest is left
// unread). It bounds the time a hostile list takes: about 2.5 s here.
constexpr uint64_t FILE_LIST_TEXT_BYTES = 512ull << 20;
// Text between one entry and the next read at most (a list's own text
// between them is a few dozen bytes): a bzip2 bomb of blanks or of
// elements of no list stops within it, in milliseconds.
constexpr uint64_t FILE_LIST_GAP_BYTES = 4ull << 20;
// Entries (folders and files, the root included).
constexpr uint32_t FILE_LIST_ENTRIES = 2000000;
// Folders nested within the root.
constexpr int FILE_LIST_DEPTH = 64;
// Bytes of one name.
constexpr int FILE_LIST_NAME_BYTES = 1024;
// Bytes of all names together, each with a NUL after it.
constexpr uint64_t FILE_LIST_NAMES_BYTES = 256ull << 20;
// An element as expat holds it (its tag and attributes, escaped) is at
// most about this long: expat's memory is a fixed part of the arena.
constexpr size_t FILE_LIST_PARSER_BYTES = 2u << 20;

constexpr uint32_t FILE_LIST_ROOT = 0;
constexpr uint32_t FILE_LIST_NO_ENTRY = UINT32_MAX;
constexpr int FILE_LIST_TTH_BYTES = 24;  // a Tiger Tree Hash root, raw
constexpr int FILE_LIST_NOTE_UNITS = 256;
constexpr int FILE_LIST_TEXT_FIELD_BYTES = 64;  // CID and Generator, cut to fit

enum : uint8_t {
    FILE_LIST_FOLDER = 1,
    FILE_LIST_INCOMPLETE = 2,  // a folder a partial list did not expand
    FILE_LIST_HAS_TTH = 4,
};

// 56 bytes; with its place in the children index, 60 per entry.
struct FileListEntry {
    uint64_t size;          // a file's bytes; a folder's: all files within it, saturating
    uint32_t name_at;       // offset of the name in the names zone (a NUL follows it)
    uint16_t name_bytes;    // at most FILE_LIST_NAME_BYTES
    uint8_t flags;          // FILE_LIST_FOLDER, ...
    uint8_t order;          // a folder: the FileListOrder its children are in (0: as read)
    uint32_t parent;        // FILE_LIST_NO_ENTRY for the root
    uint32_t children_at;   // a folder: its first child in the children index
    uint32_t child_count;   // a folder: entries directly in it
    uint32_t files;         // a folder: files within it, at any depth
    uint8_t tth[FILE_LIST_TTH_BYTES];  // a file with FILE_LIST_HAS_TTH
};
static_assert(sizeof(FileListEntry) == 56, "an entry takes 56 bytes");

// The address space one open list reserves: the scratch, the entries, the
// children index and the names at their caps.
constexpr size_t FILE_LIST_SCRATCH_BYTES = (4u << 20) + FILE_LIST_PARSER_BYTES + (256u << 10);
constexpr size_t FILE_LIST_ARENA_BYTES = FILE_LIST_SCRATCH_BYTES + (size_t)FILE_LIST_ENTRIES * sizeof(FileListEntry) +
                                         (size_t)FILE_LIST_ENTRIES * sizeof(uint32_t) + FILE_LIST_NAMES_BYTES;

enum FileListResult : uint8_t {
    FILE_LIST_WHOLE,    // read to its end; the note is empty
    FILE_LIST_CUT,      // what was read before a fault or a cap is kept; the note says why
    FILE_LIST_UNREAD,   // nothing kept (no such file, no file list, no memory): the note says why
};

struct FileList {
    unsigned char* region;     // the mapping, nullptr while closed
    FileListEntry* entries;
    uint32_t* children;        // each folder's children, contiguous from its children_at
    char* names;
    uint32_t count;            // entries, the root included
    uint64_t names_used;
    uint64_t text_bytes;       // decompressed bytes read
    char cid[FILE_LIST_TEXT_FIELD_BYTES];
    char generator[FILE_LIST_TEXT_FIELD_BYTES];
    char16_t note[FILE_LIST_NOTE_UNITS];
};

enum FileListOrder : uint8_t {
    FILE_LIST_BY_NAME = 1,  // folders first, then files; each by name, case aside
    FILE_LIST_BY_SIZE,      // folders first, then files; each largest first, then by name
};

struct FileListTotal {
    uint32_t files;
    uint32_t folders;  // the root not counted
    uint64_t bytes;
};

// Reads the list at path (UTF-16, '/' separators) into list, which must be
// closed (zeroed or file_list_close'd). The note (list->note) says what was
// not read, or why nothing was.
FileListResult file_list_open(FileList* list, const char16_t* path);
// Gives the whole arena back; the list is closed (safe to repeat).
void file_list_close(FileList* list);

// The entry (index below list->count).
const FileListEntry* file_list_entry(const FileList* list, uint32_t entry);
// The entry's name as the list's bytes (*bytes of them; a NUL follows).
const char* file_list_name(const FileList* list, uint32_t entry, int* bytes);
// The name to show: UTF-16, terminated, cut to dst_units (a character never
// cut in two); what is no UTF-8, and control characters, become U+FFFD.
int file_list_name_shown(const FileList* list, uint32_t entry, char16_t* dst, int dst_units);
// A folder's children in that order (sorted in place the first time it is
// asked for): their count, the entries in *children.
uint32_t file_list_children(FileList* list, uint32_t folder, FileListOrder order, const uint32_t** children);
// The entry's path from the share's root as a request names it, '\'
// between names, as in $SR: the Base of a partial list first ("/share/sub/"
// -> "share\sub\"), no backslash before the first name or after a folder's.
// Its length, or 0 (out emptied) when it does not fit whole in out_bytes.
int file_list_path(const FileList* list, uint32_t entry, char* out, int out_bytes);
// The folder named by path (UTF-8, '\'-separated, as file_list_path writes
// it: a partial list's Base first), or FILE_LIST_NO_ENTRY. Names are
// compared byte for byte: the list may hold names that differ only in case.
// The folders it passes through are sorted in `order` when they were not.
uint32_t file_list_folder_at(FileList* list, const char* path, FileListOrder order);
// The next entry after `after` (FILE_LIST_NO_ENTRY: from the first) in the
// order of the file whose name holds `words` (UTF-8, words_bytes of them),
// letters compared case aside (ASCII, Latin-1 and Cyrillic letters);
// FILE_LIST_NO_ENTRY when no later one does.
uint32_t file_list_find(const FileList* list, const char* words, int words_bytes, uint32_t after);
// A file's TTH as a request names it: 39 upper-case base32 characters and a
// NUL into out (40 bytes); empty when the list gave the file none.
void file_list_tth_text(const FileList* list, uint32_t entry, char* out);
FileListTotal file_list_total(const FileList* list);
// The arena's pages the open list holds now (its entries, index and names).
size_t file_list_held_bytes(const FileList* list);
