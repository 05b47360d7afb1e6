// Active mode: Kivo listens for peers' connections (TCP, and TLS beside it)
// and for the $SR datagrams of its searches (UDP, on the TCP port's number),
// and decides whether it can be reached there.
//
// The mode in force (g_state.active) is decided anew whenever what it rests
// on changes: the settings (Option's Mode, ports and external address), the
// listeners, the hub connection and the hub's $UserIP. Passive is set, or
// forced when Kivo cannot listen. Active is set, or chosen by Auto when
// nothing sits between Kivo and the hub: the address the hub sees ($UserIP)
// is one of the machine's own; or, when the hub says nothing, the hub
// connection's own address is public or loopback, or private with the hub in
// the same network. g_state.mode_text says which and why ("active on 4120",
// "passive: the hub sees 203.0.113.5, not this machine"). While online, a
// change is announced at once with a fresh $MyINFO (M:A or M:P).
//
// What arrives on the listeners never makes Kivo connect anywhere: a TCP
// connection goes to the transfers (transfer/download.h), which keep it only
// for a user Kivo asked; a datagram goes to the search (hub/search.h), which
// takes it only while a search is recent. Datagrams are read at most
// UDP_DATAGRAMS_PER_SECOND a second into one fixed buffer; the rest wait in
// the kernel's bounded queue, which drops what does not fit.
//
// Reaches g_state: the settings' mode, ports and external address, the
// listeners, active, mode_text, own_address_be, hub_user_ip_be,
// own_keyprint, identity_folder, hub_socket, hub_nick, main_window.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// "255.255.255.255:65535" and its NUL.
constexpr int ACTIVE_ADDRESS_BYTES = 22;
// The listeners' socket events, posted to the main window.
constexpr uint32_t WM_ACTIVE_SOCKET = 0x8007;
// Datagrams read in one second, at most; the budget is renewed by
// active_mode_tick.
constexpr int UDP_DATAGRAMS_PER_SECOND = 2000;
// A datagram longer than this is no $SR of a real client and is dropped.
constexpr int UDP_DATAGRAM_BYTES = 2048;

// What the mode is decided from, apart from the settings.
struct ModeFacts {
    bool listening;        // the TCP and UDP sockets are open
    uint16_t port;         // their port
    uint32_t external_be;  // Option's external address, 0 none
    uint32_t user_ip_be;   // what the hub's $UserIP said, 0 none
    bool user_ip_own;      // that address is one of the machine's
    uint32_t local_be;     // the hub connection's own address, 0 not connected
    bool hub_nearby;       // the hub's address lies in a network of this machine's
    const char* listen_error;  // why the sockets are not open ("address in use")
};
// The mode for connect_mode (a ConnectMode) and the facts: true for active,
// with the address peers are told in *address_be, and the reason in text
// (cut to text_bytes).
bool mode_decide(uint8_t connect_mode, const ModeFacts* facts, uint32_t* address_be, char* text, int text_bytes);

// Opens, moves or closes the listeners as the settings say, loading (or
// making) the TLS certificate the first time; then decides the mode again.
// Called once the main screen is up and after Option's OK.
void active_mode_settings_changed();
// Decides the mode in force from the settings and what is known; while
// online, tells the hub when it changed.
void active_mode_decide();
// The hub's "$UserIP <nick> <ip>" (its '|' removed): what it sees of Kivo.
int hub_take_user_ip(char* message);
// A socket event of a listener (WM_ACTIVE_SOCKET: wparam the socket, the
// event in lparam's low word).
void active_mode_socket_event(WPARAM socket, LPARAM event);
// Once a second: a new budget of datagrams, and what waited read.
void active_mode_tick();
// The address of a $ConnectToMe ("<ip>:<port>"; tls: the TLS listener's
// port) or of an active $Search (the UDP port): true while active.
bool active_mode_address(bool tls, char* out, int out_bytes);
bool active_mode_udp_address(char* out, int out_bytes);
// Closes the listeners (and leaves the mode passive).
void active_mode_close();
