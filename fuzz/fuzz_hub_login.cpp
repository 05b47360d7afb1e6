// The hub's replies around the login and the messages about the session,
// and the escapes of chat text.
//
// The input is the hub's byte stream, run three times from a fresh,
// logged-in state (a socket pair stands in for the hub, so answers really go
// out and a refusal really closes):
//  - as the login's first reply: at most FIRST_REPLY_BYTES of it,
//    dispatched as the login's result is, with the password known, then with none known (a $GetPass then asks
//    the main window; nothing may be sent);
//  - as later receives of 1 to 64 bytes (the size taken from the last byte),
//    after the kept tail, with the password known.
// The last byte's lowest bit chooses the hub's encoding (1251 or UTF-8).
// After each run: whatever went to the hub is nothing but "$MyPass <the
// password>|" answers, and a closed connection leaves no socket, nothing
// queued and the phase offline.
//
// Then the escapes: nmdc_unescape on the input held in a buffer of exactly
// its size (never longer afterwards, never past the NUL), and for input
// without NUL, a chat line built from it holds neither '|' nor '$' in its
// text and reads back as the input.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hub/connection.h"
#include "hub/dispatch.h"
#include "protocol/hub_messages.h"
#include "state/client_state.h"

namespace {

const char PASSWORD[] = "pw-123";

int g_hub_end = -1;

// A fresh state, logged in on one end of a socket pair.
bool fresh_session(HubEncoding encoding, const char* password) {
    client_state_reset();
    u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
    text_copy(g_state.settings.nick, NICK_BYTES, "kivo");
    text_copy(g_state.hub_nick, HUB_NICK_BYTES, "kivo");
    text_copy(g_state.settings.password, PASSWORD_BYTES, password);
    g_state.settings.encoding = encoding;
    hub_encoding_set(encoding);
    download_set_phase(0, DOWNLOAD_IDLE);
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) != 0) return false;
    g_state.hub_socket = pair[0];
    g_state.hub_phase = HUB_ONLINE;
    g_hub_end = pair[1];
    return true;
}

// Everything sent to the hub, then the session's end.
std::string end_session() {
    std::string sent;
    char buffer[4096];
    ssize_t got;
    while ((got = read(g_hub_end, buffer, sizeof buffer)) > 0) sent.append(buffer, (size_t)got);
    close(g_hub_end);
    g_hub_end = -1;
    hub_close();
    return sent;
}

void check_state() {
    int tail = g_state.hub_tail_len;
    if (tail < HUB_TAIL_DROPPING || tail > HUB_TAIL_BYTES - 1) abort();
    if (g_state.hub_out_len < 0 || g_state.hub_out_len > HUB_OUT_BYTES) abort();
    if (g_state.hub_phase != HUB_ONLINE && g_state.hub_phase != HUB_OFFLINE) abort();
    // A refusal closes: no socket, nothing queued, offline.
    if (g_state.hub_socket == 0 && (g_state.hub_phase != HUB_OFFLINE || g_state.hub_out_len != 0)) abort();
    if (g_state.hub_socket != 0 && g_state.hub_phase != HUB_ONLINE) abort();
    if (chatlog_length() > CHATLOG_TEXT_UNITS) abort();
    if (download_running(0) || download_requested(0)) abort();
}

// Only password answers go to the hub, and none without a password.
void check_sent(const std::string& sent, const char* password) {
    std::string answer = std::string("$MyPass ") + password + "|";
    if (password[0] == '\0' && !sent.empty()) abort();
    for (size_t at = 0; at < sent.size(); at += answer.size()) {
        if (sent.compare(at, answer.size(), answer) != 0) abort();
    }
}

// The input as the login's first reply, as the login hands it over.
void first_reply(const uint8_t* data, size_t size, HubEncoding encoding, const char* password) {
    if (!fresh_session(encoding, password)) return;
    int length = (int)(size < (size_t)FIRST_REPLY_BYTES ? size : (size_t)FIRST_REPLY_BYTES);
    std::vector<char> reply(data, data + length);
    reply.push_back('\0');
    static char buffer[HUB_DATA_BYTES];
    memcpy(buffer, reply.data(), (size_t)length);
    buffer[length] = '\0';
    dispatch_hub_data(buffer, length);
    check_state();
    check_sent(end_session(), password);
}

// The input as later receives of at most chunk bytes.
void later_receives(const uint8_t* data, size_t size, int chunk, HubEncoding encoding) {
    if (!fresh_session(encoding, PASSWORD)) return;
    static char buffer[HUB_DATA_BYTES];
    for (size_t at = 0; at < size;) {
        int kept = hub_tail_restore(buffer);
        int n = (int)(size - at < (size_t)chunk ? size - at : (size_t)chunk);
        memcpy(buffer + kept, data + at, (size_t)n);
        buffer[kept + n] = '\0';
        dispatch_hub_data(buffer, kept + n);
        at += (size_t)n;
        check_state();
    }
    check_sent(end_session(), PASSWORD);
}

void check_escapes(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    size_t before = strlen(text.data());
    int after = nmdc_unescape(text.data());
    if (after < 0 || (size_t)after > before || text[(size_t)after] != '\0' || strlen(text.data()) != (size_t)after) {
        abort();
    }
    if (memchr(data, 0, size) != nullptr) return;
    // A leading 'x' keeps the line public whatever the input starts with.
    std::string typed = "x" + std::string((const char*)data, size);
    std::vector<char> message(ESCAPED_BYTES_PER_BYTE * typed.size() + 16);
    int length = build_chat_message(typed.c_str(), "n", message.data(), (int)message.size());
    if (length < 6 || memcmp(message.data(), "<n> ", 4) != 0 || memcmp(message.data() + length - 2, " |", 2) != 0) {
        abort();
    }
    std::string escaped(message.data() + 4, (size_t)length - 6);
    if (escaped.find_first_of("|$") != std::string::npos) abort();
    std::vector<char> back(escaped.begin(), escaped.end());
    back.push_back('\0');
    int read_back = nmdc_unescape(back.data());
    if ((size_t)read_back != typed.size() || memcmp(back.data(), typed.data(), typed.size()) != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 3 * HUB_RECEIVE_BYTES) return 0;
    HubEncoding encoding = (data[size - 1] & 1) ? ENCODING_UTF8 : ENCODING_CP1251;
    first_reply(data, size, encoding, PASSWORD);
    first_reply(data, size, encoding, "");
    later_receives(data, size, 1 + (data[size - 1] >> 1) % 64, encoding);
    check_escapes(data, size);
    return 0;
}
