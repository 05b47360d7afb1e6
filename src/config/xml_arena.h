// The memory expat parses in: one static arena, so reading Kivo's XML files
// (Favorites.xml, settings.xml, queue.xml) takes no heap. One parse at a time, on the
// user-interface thread; the arena is reset when the parser is made and
// when it is freed.
#pragma once

#include <expat.h>

// A parser over the arena; encoding as XML_ParserCreate takes it (nullptr:
// the one the text declares). nullptr when the arena cannot hold it.
XML_Parser xml_parser_create(const char* encoding);
void xml_parser_free(XML_Parser parser);
