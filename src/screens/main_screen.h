// The main screen: chat view, input line, soft keys "Menu" and "Search", and
// the routing of every main-menu command.
#pragma once

#include "platform/platform.h"

// The Action key: sends the input line to the hub as a public chat line, or
// as a private message when it starts with '>' (hub/chat.h); empties the line
// and returns the chat view to its newest line.
void send_input_line();

intptr_t main_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
// The main window's messages that belong to the hub: the socket event
// message becomes a HubEvent for hub_socket_event; login results and the
// keep-alive go to hub_window_message. TRUE when the message was one of them.
intptr_t main_screen_hub_message(uint32_t message, WPARAM wparam, LPARAM lparam);

// The paint rule: the title (main_screen_title) first; the chat view shows
// the ChatLog's newest lines or, while the person reads back, the lines
// being read (chat_view_fill).
void main_screen_paint(Window screen);
// Sets the screen's title from the session: "<hub name> (<N> users)" (the
// hub's "<host>:<port>" until its $HubName came) while online, " TLS" after
// it over TLS, otherwise "not connected"; then " [PM: <nick>]" while a
// private message waits unread.
void main_screen_title(Window screen);
