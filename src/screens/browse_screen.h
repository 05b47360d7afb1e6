// The browse screen: one folder of a user's file list at a time, with the
// prompt its Find asks for words in.
#pragma once

#include "platform/platform.h"

// Opens the kept list of nick (hub encoding) and runs the browse screen at
// folder (hub encoding, '\'-separated as in $SR; empty: the top) until it
// closes; the list is closed then, and its memory goes back. A list that
// cannot be read says why in a box, and no screen opens.
void browse_screen_run(const char* nick, const char* folder);
intptr_t browse_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
intptr_t find_prompt_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
