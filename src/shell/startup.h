// Start-up and the single-instance rule.
#pragma once

#include "platform/platform.h"

// Prepares the ClientState, loads the favourites, makes sure no other copy
// runs, and runs the main screen; returns the process's exit value.
int client_main(ModuleInstance instance);
// 0 on success or E_FAIL_STATUS; *found is 1 when a running copy was found
// and brought to the front.
uint32_t find_running_instance(const char16_t* class_name, const char16_t* title, int* found);
// Start-up's preparation of the ClientState, before the single-instance check:
// module directory, banner, favourites, line break, local IP, settings.
void prepare_client_state(const char16_t* executable_path);
// Cuts an executable's path after its last separator, as start-up does for
// the module directory (indices n down to 2 are examined).
void module_directory_from_path(char16_t* path);
