// Where a download is written: a part file beside the target, renamed into
// place under a free name only when it is complete.
//
// A person's files are never opened for writing: the data goes into the part
// file "<name>.<id>.part", whose id says which file it holds (the TTH, or for
// a result without one a short hash of the owner, path and size), so asking
// for the same file again finds its part and continues it, even after a
// restart, and a part of another file is never mistaken for it. The finished
// part takes the name "<name>", or when that is taken "<stem> (1)<ext>",
// "<stem> (2)<ext>", ...: the rename refuses an existing name, so nothing is
// replaced.
#pragma once

#include <cstdint>

#include "state/client_state.h"

// The part's id: the TTH, else 13 base32 characters of a hash of the nick,
// path and size. out holds TTH_TEXT_BYTES.
void download_identity(const char* tth, const char* nick, const char* path, uint64_t size, char* out);
// "<name>.<id>.part" as UTF-16. Returns 1, or 0 when it does not fit.
int part_file_name(const char* name, const char* id, char16_t* out, int out_units);
// The n-th choice for a finished file named name (in the hub's encoding): name itself for n 0,
// else the stem, " (n)" and the extension (the text from the last '.', when
// that is not the first character). Returns 1, or 0 when it does not fit.
int free_name_choice(const char* name, int n, char* out, int out_bytes);
// The number of choices tried before a rename gives up.
constexpr int FREE_NAME_CHOICES = 1000;

// Renames the part to the first free choice for name; the choice taken is
// left in final_name (the hub's encoding, final_bytes). Returns 1, or 0 when no choice was
// free or the rename failed (the part stays).
int part_rename_free(const char16_t* part, const char* name, char* final_name, int final_bytes);
