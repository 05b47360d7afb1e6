// The settings screen: a favourite hub to choose, and the host, port, nick and
// share size used from the next Connect on. Nothing is written to storage.
#pragma once

#include "platform/platform.h"

constexpr int SETTINGS_TEMPLATE = 1002;
constexpr int SETTINGS_MENUBAR = 2002;
constexpr int SETTINGS_FAVORITES = 4015;
constexpr int SETTINGS_HOST = 4002;
constexpr int SETTINGS_PORT = 4004;
constexpr int SETTINGS_NICK = 4005;
constexpr int SETTINGS_SHARE = 4006;
constexpr int SETTINGS_LOCAL_IP = 4011;
constexpr int SETTINGS_OK = 6011;
constexpr int SETTINGS_CANCEL = 6012;

void fill_favorites_list(Window screen);
intptr_t settings_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
