// The memory expat parses in: a fixed arena, so reading XML takes no heap.
// Kivo's own files (Favorites.xml, settings.xml, queue.xml) parse in one
// static arena; a larger reader (a peer's file list) hands in memory of its
// own. One parse at a time per thread: the arena is reset when the parser
// is made and when it is freed.
#pragma once

#include <cstddef>

#include <expat.h>

// A parser over the static arena; encoding as XML_ParserCreate takes it
// (nullptr: the one the text declares). nullptr when the arena cannot hold it.
XML_Parser xml_parser_create(const char* encoding);
// The same over `bytes` of the caller's memory (16-byte aligned), which
// must stay until xml_parser_free. What expat cannot get from it fails as
// XML_ERROR_NO_MEMORY: an element longer than the memory ends the parse.
XML_Parser xml_parser_create_in(const char* encoding, unsigned char* memory, size_t bytes);
void xml_parser_free(XML_Parser parser);
