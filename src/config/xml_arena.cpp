// expat's arena (see xml_arena.h).
//
// State of this file alone: the static arena, and the arena of the parse
// running on each thread (expat's allocation calls carry no context).
#include "config/xml_arena.h"

#include <cstddef>
#include <cstring>

namespace {

// expat's memory for one parse of at most FAVORITES_FILE_BYTES: its parser,
// name tables and attribute buffers. The largest file the reader takes needs
// about 40 KiB with many long attributes, and about 170 KiB with one value as
// long as the file in code page 1251, each of whose bytes may take three in
// expat's UTF-8 (tests/config holds both).
constexpr size_t ARENA_BYTES = 192 * 1024;
constexpr size_t ARENA_ALIGN = 16;

alignas(ARENA_ALIGN) unsigned char g_static_memory[ARENA_BYTES];

struct Arena {
    unsigned char* base;
    size_t bytes;
    size_t used;
};
Arena g_static_arena = {g_static_memory, ARENA_BYTES, 0};
thread_local Arena t_caller_arena;
thread_local Arena* t_arena = &g_static_arena;

size_t arena_whole(size_t bytes);

// A block of the arena, its size kept in front of it for realloc.
void* arena_malloc(size_t bytes) {
    Arena* a = t_arena;
    size_t whole = arena_whole(bytes);
    if (whole < bytes || whole > a->bytes - a->used) return nullptr;  // expat reports "out of memory"
    unsigned char* block = a->base + a->used;
    a->used += whole;
    memcpy(block, &bytes, sizeof bytes);
    return block + ARENA_ALIGN;
}

// The rounded size of a block of `bytes` with its header.
size_t arena_whole(size_t bytes) {
    return ARENA_ALIGN + ((bytes + ARENA_ALIGN - 1) & ~(ARENA_ALIGN - 1));
}

// Whether the block is the last one handed out: it can grow or shrink in place.
bool arena_last(void* block, size_t had) {
    return (unsigned char*)block - ARENA_ALIGN + arena_whole(had) == t_arena->base + t_arena->used;
}

// expat doubles its buffers while it reads a long attribute value: the last
// block grows where it is, so a value as long as the file costs its own size
// about twice (the text and the value), not the sum of every doubling.
void* arena_realloc(void* old, size_t bytes) {
    if (old == nullptr) return arena_malloc(bytes);
    size_t had;
    memcpy(&had, (unsigned char*)old - ARENA_ALIGN, sizeof had);
    if (bytes <= had) return old;
    if (arena_last(old, had)) {
        Arena* a = t_arena;
        size_t start = (size_t)((unsigned char*)old - ARENA_ALIGN - a->base);
        size_t whole = arena_whole(bytes);
        if (whole < bytes || whole > a->bytes - start) return nullptr;  // expat reports "out of memory"
        a->used = start + whole;
        memcpy((unsigned char*)old - ARENA_ALIGN, &bytes, sizeof bytes);
        return old;
    }
    void* grown = arena_malloc(bytes);
    if (grown != nullptr) memcpy(grown, old, had);
    return grown;
}

// The last block is given back; the others stay until the arena is reset
// after the parse.
void arena_free(void* block) {
    if (block == nullptr) return;
    size_t had;
    memcpy(&had, (unsigned char*)block - ARENA_ALIGN, sizeof had);
    if (arena_last(block, had)) t_arena->used -= arena_whole(had);
}

const XML_Memory_Handling_Suite ARENA = {arena_malloc, arena_realloc, arena_free};

}  // namespace

XML_Parser xml_parser_create(const char* encoding) {
    t_arena = &g_static_arena;
    t_arena->used = 0;
    return XML_ParserCreate_MM(encoding, &ARENA, nullptr);
}

XML_Parser xml_parser_create_in(const char* encoding, unsigned char* memory, size_t bytes) {
    t_caller_arena = Arena{memory, bytes, 0};
    t_arena = &t_caller_arena;
    return XML_ParserCreate_MM(encoding, &ARENA, nullptr);
}

void xml_parser_free(XML_Parser parser) {
    if (parser != nullptr) XML_ParserFree(parser);
    t_arena->used = 0;
    t_arena = &g_static_arena;
}
