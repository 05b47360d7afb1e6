// Kivo's own settings file "settings.xml", in the folder of Favorites.xml:
// what Menu > Option holds, written whole on each OK there, read once at
// start-up after the favourites (its values win over the first favourite's).
// One element, written as UTF-8 and read with expat:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <KivoSettings Server="nmdcs://host:port?kp=SHA256/..." Nick="..."
//    Password="..." ShareSize="..." Encoding="cp1251" DownloadFolder="..."
//    ChatTimestamps="1" TlsTransfers="1" DownloadSlots="3" Mode="auto"
//    Port="4120" TlsPort="4121" ExternalAddress="203.0.113.5"/>
//
// Server is read by the hub address parser; Encoding is a name of
// encoding_name; the switches are "0" or "1"; DownloadSlots, how many
// downloads run at once, is "1" to "10". Mode is "auto", "active" or
// "passive"; Port (TCP and UDP) and TlsPort are "0" to "65535", "0" for any
// free port, always written; ExternalAddress, what peers are told to connect
// to, is dotted IPv4 or empty (found automatically). An attribute left out keeps
// the value from the defaults and the favourites; one that is no such value
// makes the whole file unreadable (it is then kept aside, see settings_load).
// Texts are cut on reading to what Option stores from its fields, a download
// folder that does not fit is refused, never cut.
#pragma once

#include <cstdint>

struct SessionSettings;

// The file's text is at most this long (with its NUL); a longer file is not one.
constexpr int SETTINGS_TEXT_BYTES = 20000;

// The encoding's name in the file ("utf-8", "cp1251"), and back (1, or 0
// for a name that is none, *encoding unchanged).
const char* encoding_name(uint8_t encoding);
int encoding_from_name(const char* name, uint8_t* encoding);

// The file's text for the settings into out (terminated): its length, or 0
// when it does not fit.
int settings_text_make(const SessionSettings* settings, char* out, int out_bytes);
// Takes a file's text (length bytes) into *settings, each attribute present
// replacing its field. 1, or 0 (settings unchanged) when the text is no
// settings file or a value is none.
int settings_text_parse(const char* text, int length, SessionSettings* settings);

// Reads the file at path into g_state.settings. An absent file changes
// nothing. One that cannot be read or parsed is renamed aside to
// "<path>.bad-<unix time>" (with "-1", "-2", ... when that name is taken;
// nothing is replaced) and a note says so; the settings stay as they were.
void settings_load(const char16_t* path);
// Saves g_state.settings to path through "<path>.new" (mode 0600), renamed
// over the old file. 1; or 0 and a note, the old file whole, when it cannot
// (an empty path: there is no settings folder).
int settings_save(const char16_t* path);
