// The private conversations on screen: Menu > Private lists them, and each
// has a screen of its own with its lines and an input line that sends to
// that nick.
#pragma once

#include "platform/platform.h"

// Opens the conversation with nick (hub encoding), started when there is
// none, and runs its screen until it closes; marks it read. Nothing happens
// for a nick no conversation can take (empty, or longer than a user's name).
void private_chat_run(const char* nick);

intptr_t private_list_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
intptr_t private_chat_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
