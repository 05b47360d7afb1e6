// The password prompt: a registered nick's hub asks for a password that no
// favourite gave. OK sends it; CANCEL (or Back) disconnects.
#pragma once

#include "platform/platform.h"

// Opens the prompt over the main screen and acts on the answer: "$MyPass" with
// the typed password (kept for the session's later logins), or Disconnect.
// Does nothing while a prompt is already open.
void password_prompt_run();

intptr_t password_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
