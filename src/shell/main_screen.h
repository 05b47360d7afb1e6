// The main screen: chat view, input line, soft keys "Menu" and "Search", and
// the routing of every main-menu command.
#pragma once

#include "platform/platform.h"

constexpr int MAIN_TEMPLATE = 1001;
constexpr int MAIN_MENUBAR = 2001;
constexpr int MAIN_CHAT_VIEW = 4003;
constexpr int MAIN_INPUT_LINE = 4001;

intptr_t main_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);

// The paint rule: an over-long ChatLog is emptied, the chat view shows the
// rest with its end in view.
void main_screen_paint(Window screen);
