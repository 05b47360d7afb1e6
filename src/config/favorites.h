// The favourites file "Favorites.xml" beside the executable: read once at
// start-up into the FavoritesTable, created empty when absent, never written.
#pragma once

#include <cstdint>

// Opens the file for reading and writing, creating it empty when absent and
// never truncating it, reads up to max_bytes in one read and terminates the
// text after them. Returns the open file (FILE_INVALID, with *count_read 0,
// when it cannot be opened).
int open_and_read(const char16_t* name, char* buffer, int max_bytes, int* count_read);

// Fills the FavoritesTable from the file at path (UTF-16).
void load_favorites(const char16_t* path);

// Parses favourites text held in g_state.file_text (terminated) into the
// table; load_favorites calls it after reading the file.
void parse_favorites_text();
