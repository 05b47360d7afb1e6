// Start-up and the single-instance rule.
#pragma once

#include "platform/platform.h"

struct HubAddress;

// The longest path of the favourites file, in UTF-16 units with the terminator.
constexpr int FAVORITES_PATH_UNITS = 500;

// Prepares the ClientState, loads the favourites, takes the hub given on the
// command line (nullptr: none), makes sure no other copy runs, and runs the
// main screen; returns the process's exit value.
int client_main(ModuleInstance instance, const HubAddress* start_hub);
// 0 on success or E_FAIL_STATUS; *found is 1 when a running copy was found
// and brought to the front.
uint32_t find_running_instance(const char16_t* class_name, const char16_t* title, int* found);
// The single-instance rule as client_main applies it: -1 when this is the only
// copy (start-up goes on), 0 when a running copy was brought to the front, 1
// when there is no telling; the last two say so on stderr.
int single_instance_exit(bool has_start_hub);
// Start-up's preparation of the ClientState, before the single-instance check:
// module directory, banner, favourites, line break, local IP, settings (the
// defaults, the first favourite, the download folder, settings.xml).
void prepare_client_state(const char16_t* executable_path);
// The command line's hub becomes the hub in use (address, and a favourite's
// password, encoding and nick when one has that address; otherwise no
// password) and the main screen connects to it once it is up.
void start_hub_take(const HubAddress* hub);
// Where Favorites.xml is read from, for an executable in module_dir (with
// its trailing separator; empty when unknown): beside the executable when a
// Favorites.xml is there (a portable copy), else in the per-user settings
// folder (made, private to the user, when missing). 1 with the path in dst,
// or 0 (dst empty) when no path fits whole or there is no home for the
// settings folder.
int favorites_file_choose(const char16_t* module_dir, char16_t* dst, int dst_units);
// settings.xml in the folder of favorites_path: 1, or 0 (dst empty) when it
// does not fit whole.
int settings_file_beside(const char16_t* favorites_path, char16_t* dst, int dst_units);
// Cuts an executable's path after its last separator, as start-up does for
// the module directory (indices n down to 2 are examined).
void module_directory_from_path(char16_t* path);
