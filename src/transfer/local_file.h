// Where a download is written: a part file beside the target, renamed into
// place under a free name only when it is complete. Both lie in the download
// folder given (UTF-16, with or without its trailing separator; empty: the
// current directory).
//
// A person's files are never opened for writing: the data goes into the part
// file "<name>.<id>.part", whose id says which file it holds (the TTH, or for
// a result without one a short hash of the owner, path and size), so asking
// for the same file again finds its part and continues it, even after a
// restart, and a part of another file is never mistaken for it. When that
// name holds something that is not such a part, the part is
// "<name>.<id>.1.part", "<name>.<id>.2.part", ..., tried in the same order
// each time, so that one is found again too. The finished
// part takes the name "<name>", or when that is taken "<stem> (1)<ext>",
// "<stem> (2)<ext>", ...: the rename refuses an existing name, so nothing is
// replaced.
#pragma once

#include <cstdint>

#include "state/client_state.h"

// The part's id: the TTH, else 13 base32 characters of a hash of the nick,
// path and size. out holds TTH_TEXT_BYTES.
void download_identity(const char* tth, const char* nick, const char* path, uint64_t size, char* out);
// The n-th choice of part name as UTF-16: "<name>.<id>.part" for n 0, else
// "<name>.<id>.<n>.part". Returns 1, or 0 when it does not fit.
int part_file_name(const char* name, const char* id, int n, char16_t* out, int out_units,
                   const char16_t* folder = u"");
// The number of part names tried before a download gives up.
constexpr int PART_NAME_CHOICES = 100;
// Opens the part of a file of size bytes: the first choice of part name that
// is free (created, *created 1) or holds a part the client left (a regular
// file with one link, owned by the user, holding less than size bytes: a
// whole part was renamed). Whatever else holds a choice's name, a person's
// file behind a link or a file as long as the download, is left untouched,
// never cut. Returns the open file with its name in part, FILE_INVALID when
// it cannot be created or opened, or FILE_NOT_OWN when no choice was free.
int part_open(const char* name, const char* id, uint64_t size, char16_t* part, int part_units, int* created,
              const char16_t* folder = u"");
// The folder of a finished file: base (as the download folder is given)
// and folders below it (the hub's encoding, '/'-separated, made safe by
// split_local_name), with the trailing separator when there are any; base
// itself when there are none. Returns 1, or 0 when it does not fit whole.
int local_folder(const char16_t* base, const char* folders, char16_t* out, int out_units);
// The n-th choice for a finished file named name (in the hub's encoding): name itself for n 0,
// else the stem, " (n)" and the extension (the text from the last '.', when
// that is not the first character). Returns 1, or 0 when it does not fit.
int free_name_choice(const char* name, int n, char* out, int out_bytes);
// The number of choices tried before a rename gives up.
constexpr int FREE_NAME_CHOICES = 1000;

// Renames the part to the first free choice for name; the choice taken is
// left in final_name (the hub's encoding, final_bytes). Returns 1, or 0 when no choice was
// free or the rename failed (the part stays).
int part_rename_free(const char16_t* part, const char* name, char* final_name, int final_bytes,
                     const char16_t* folder = u"");
