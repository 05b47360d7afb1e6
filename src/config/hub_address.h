// Hub addresses as people write them and favourites files hold them, parsed
// in one place for the favourites and the settings screen's host field:
//
//   host, host:port                  plain (NMDC)
//   dchub://host:port, nmdc://...     plain
//   nmdcs://host:port, dchubs://...   TLS from the first byte
//   ...?kp=SHA256/<52 base32>         the keyprint the hub's certificate must have
//
// Schemes are matched without regard to case. The address part (after the
// scheme, before a '?') is cut to address_chars characters, then split at its
// first ':' when that lies at index 1 to 31: host before, port text after
// (cut to the field); otherwise it is all host and the port is default_port.
// The host and port must then pass host_port_valid (state/text_scan.h): a
// port outside 1-65535 or a host with other characters is no address.
// 1251 text in, 1251 text out, every field terminated and bounded.
#pragma once

#include <cstdint>

#include "platform/tls.h"
#include "state/client_state.h"

struct HubAddress {
    char host[HUB_HOST_BYTES];
    char port[HUB_PORT_BYTES];
    uint8_t tls;                         // 1 for nmdcs:// (and dchubs://)
    char keyprint[TLS_KEYPRINT_BYTES];   // "SHA256/<base32>" upper case, or empty
};

// Parses text into address. Returns 1, or 0 (address emptied) when the text
// is not a hub address: a scheme with nothing after it, a '?' part that is
// not one keyprint "kp=SHA256/" followed by 52 base32 characters, or a host
// or port that host_port_valid refuses.
int parse_hub_address(const char* text, const char* default_port, int address_chars, HubAddress* address);
