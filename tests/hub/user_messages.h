// Feeding the UserTable in tests: a hub message held in a block of exactly
// its size, and the table's slots written directly (and its index made anew).
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "hub/users.h"
#include "state/client_state.h"

// Feeds one message, held in a heap block of exactly its size plus the NUL,
// so a sanitizer build catches any read or write past the message.
inline void feed(const std::string& message) {
    std::unique_ptr<char[]> data(new char[message.size() + 1]);
    memcpy(data.get(), message.c_str(), message.size() + 1);
    handle_user_message(data.get());
}

inline std::string info(const std::string& nick, const std::string& share) {
    return "$MyINFO $ALL " + nick + " desc$ $DSL\x01$$" + share + "$";
}

// The index beside the table is made anew, so the user is found as one
// that joined would be.
inline void put_user(int slot, const char* name, const char* share) {
    UserEntry& user = g_state.users[slot];
    snprintf(user.name, sizeof user.name, "%s", name);
    snprintf(user.share, sizeof user.share, "%s", share);
    user.present = 1;
    user_index_rebuild();
}
