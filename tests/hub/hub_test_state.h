// Shared set-up for the hub tests: the process-start state plus what start-up
// would have filled in (line break, nick, share text, host).
#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "state/client_state.h"

inline void hub_test_state(const std::string& port_text = "2225") {
    client_state_reset();
    u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
    text_copy(g_state.settings.nick, NICK_BYTES, "[i]mpx200");
    text_copy(g_state.settings.share_size, SHARE_TEXT_BYTES, "1234567890");
    text_copy(g_state.settings.hub_host, HUB_HOST_BYTES, "127.0.0.1");
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, port_text.c_str());
}

// The ChatLog as UTF-8, for readable comparisons.
inline std::string chat_log_text() {
    static char16_t copy[CHATLOG_UNITS];
    chatlog_take_for_display(copy, CHATLOG_UNITS, CHATLOG_UNITS);
    static char utf8[CHATLOG_UNITS * 3];
    utf16_to_utf8(copy, -1, utf8, (int)sizeof utf8);
    return std::string(utf8);
}

// A port on 127.0.0.1 on which nothing listens.
inline int unused_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, (struct sockaddr*)&address, sizeof address);
    getsockname(fd, (struct sockaddr*)&address, &size);
    close(fd);
    return ntohs(address.sin_port);
}
