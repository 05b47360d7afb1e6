// The File lists screen (Menu > File lists): the users' file lists kept in
// the cache, newest first, each with its age; Action browses one.
#pragma once

#include "platform/platform.h"

// "just now", "5 min ago", "3 h ago", "2 days ago".
void list_age_text(int64_t age_seconds, char16_t* out, int units);
intptr_t kept_lists_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
