// The hub messages the client builds (the login block, chat lines, private
// messages, searches) and the search result it reads: pure functions of their
// arguments. Texts are code page 1251 and NUL-terminated.
#pragma once

#include <cstdint>

#include "state/client_state.h"

// The contact text of $MyINFO (its e-mail position): none given.
constexpr char HUB_CONTACT_TEXT[] = "";
constexpr int LOGIN_BLOCK_BYTES = 1000;  // at most 999 characters and the NUL

// Builds the login block: $Supports, the key text (when key_text is not
// null), $ValidateNick, $Version, $GetNickList and $MyINFO, whose flag byte
// announces TLS transfers (bit 0x10) when tls_transfers is set. Returns its
// length, or -1 when it would not fit in out_bytes (nothing is cut).
int build_login_block(const char* key_text, const char* nick, const char* share, bool tls_transfers, char* out,
                      int out_bytes);

// "$MyINFO $ALL <nick> <description and tag>$ $Modem<flag>$$<share>$|": the
// tag says M:A when active, else M:P; the flag byte announces TLS transfers
// (bit 0x10) when tls_transfers is set. Returns its length, or -1 (nothing
// cut) when it does not fit.
int build_my_info(const char* nick, const char* share, bool tls_transfers, bool active, char* out, int out_bytes);

// "$ConnectToMe <nick> <address>|", address "<ip>:<port>", with an 'S' after
// the port when tls (the port is the TLS listener's). Returns its length, or
// -1 when it does not fit.
int build_connect_to_me(const char* nick, const char* address, bool tls, char* out, int out_bytes);

// The address a hub's "$UserIP <nick> <ip>[$$<nick> <ip>...]" (its '|'
// removed) gives for own_nick, in *address_be (network order). Returns 1, or
// 0 (*address_be 0) when the message names no valid IPv4 address for it.
int parse_user_ip(const char* message, const char* own_nick, uint32_t* address_be);

// Chat, private messages and search words write '|' as "&#124;", '$' as
// "&#36;" and a '&' that would start one of these three as "&amp;"; one
// character becomes at most six.
constexpr int ESCAPED_BYTES_PER_BYTE = 6;

// Turns the three escapes in text back into '|', '$' and '&', in place (the
// text only shrinks). Returns the new length.
int nmdc_unescape(char* text);

constexpr int CHAT_INPUT_UNITS = 1000;  // the input line as read from the screen
// The input line in the hub's encoding: at most three bytes a unit (UTF-8).
constexpr int CHAT_INPUT_BYTES = 3 * (CHAT_INPUT_UNITS - 1) + 1;
constexpr int TARGET_NICK_BYTES = 50;   // a private message's addressee; longer nicks are cut to 49
// The largest chat message: "$To: " target " From: " nick " $<" nick "> " and
// the text escaped, " |".
constexpr int CHAT_MESSAGE_BYTES = 5 + (TARGET_NICK_BYTES - 1) + 7 + (HUB_NICK_BYTES - 1) + 3 +
                                   (HUB_NICK_BYTES - 1) + 2 +
                                   ESCAPED_BYTES_PER_BYTE * (CHAT_INPUT_BYTES - 1) + 2 + 1;

// The most one chat message or private message may be on the wire, its
// "<nick> " or "$To: ... $<nick> ", the escapes and the closing " |" counted:
// the input line takes no character that would make it longer.
constexpr int CHAT_MESSAGE_MAX_BYTES = 999;

// The outgoing message for an input line (in the hub's encoding): "<nick> text |",
// or for ">bob text" "$To: bob From: nick $<nick> " + the text with ">bob"
// blanked + " |"; the text escaped. Returns its length, or -1 (out emptied)
// when it does not fit in out_bytes.
int build_chat_message(const char* input, const char* own_nick, char* out, int out_bytes);

// The addressee of an input line ">bob text": the bytes after '>' up to the
// first blank (or the end), cut to TARGET_NICK_BYTES - 1, into out
// (TARGET_NICK_BYTES). Returns its length; 0 (out emptied) for a line that
// does not start with '>'.
int private_target(const char* input, char* out);

// The sender of a received private message "$To: me From: bob $<bob> hi":
// the bytes after " From: " up to the next blank, into out (out_bytes).
// Returns its length, or 0 (out emptied) when there is no such field, it is
// empty, no blank ends it, or it does not fit: dropped whole, since a cut
// nick would name somebody else.
int private_sender(const char* message, char* out, int out_bytes);

// The search field is read as at most 199 UTF-16 units, each at most three
// bytes in the hub's encoding.
constexpr int SEARCH_TEXT_UNITS = 200;
constexpr int SEARCH_WORDS_BYTES = 3 * (SEARCH_TEXT_UNITS - 1) + 1;
// "$Search Hub:" (12) + nick + " F?T?0?1?" (9) + the words escaped + "|" + NUL
// (an active search's "<ip>:<port>" is shorter than "Hub:" and a nick).
constexpr int SEARCH_MESSAGE_BYTES =
    12 + (HUB_NICK_BYTES - 1) + 9 + ESCAPED_BYTES_PER_BYTE * (SEARCH_WORDS_BYTES - 1) + 1 + 1;

// Builds "$Search Hub:<nick> F?T?0?1?<words>|" into out, the words escaped
// and every blank of them sent as '$'; with udp_address ("<ip>:<port>", at
// most 21 bytes), the active form "$Search <ip>:<port> ...", whose results
// peers send there as datagrams. Returns the message's length, or 0 (out
// empty) when it would not fit in out_bytes with its terminator: a cut
// message would lose its closing '|'.
int build_search_message(const char* nick, const char* words, char* out, int out_bytes,
                         const char* udp_address = nullptr);

// "$MyPass <password>|": the answer to the hub's $GetPass, the password as it
// stands. Returns its length, or -1 (out emptied) when it does not fit or
// the password holds a '|', which would end the message.
constexpr int MY_PASS_BYTES = 8 + (PASSWORD_BYTES - 1) + 1 + 1;
int build_my_pass(const char* password, char* out, int out_bytes);

// Reads one $SR message (NUL-terminated, its '|' removed) into *out. A
// directory's result has no 0x05 between path and slots: it is stored with
// folder set, size 0 and its path without a trailing backslash. Writes
// NULs into the message. Returns 1 for a result that fits its fields, 0 for a
// message that is dropped (malformed or a field too long); *out is then
// unspecified. Reads nothing past the message's NUL.
int parse_search_fields(char* message, SearchResult* out);
