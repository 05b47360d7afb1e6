// The favourites file "Favorites.xml", at the path start-up chooses (beside
// the executable, or in the per-user settings folder): read once at start-up
// into the FavoritesTable, created empty when absent, never written.
#pragma once

#include <cstdint>

// Fills the FavoritesTable from the file at path (UTF-16), creating it empty
// when absent. A file that cannot be read leaves one chat line that says so
// and names it, and 0 is returned; otherwise 1 (start-up says what an empty
// table means).
int load_favorites(const char16_t* path);

// Parses the favourites text held in g_state.file_text (terminated, length
// bytes) into the table; load_favorites calls it after reading the file.
void parse_favorites_text(int length);

struct FavoriteHub;
// The favourite's password as the hub wants it: its 1251 text, converted to
// UTF-8 for a UTF-8 hub. dst_bytes at least PASSWORD_BYTES.
void favorite_password(const FavoriteHub* hub, char* dst, int dst_bytes);
// The favourite becomes the hub in use: its address (host, port, TLS,
// keyprint) when with_address, and always its password, encoding and TLS
// switch for transfers, into g_state.settings.
void favorite_take(const FavoriteHub* hub, bool with_address);
