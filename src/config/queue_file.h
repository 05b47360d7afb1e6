// Kivo's download queue kept across restarts: "queue.xml" in the per-user
// data folder ($XDG_DATA_HOME/kivo/), written as UTF-8 and read with expat:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <KivoQueue Version="1">
//    <File Nick="..." Path="dir\name.ext" Name="name.ext" TTH="..." Size="123"
//     Held="45" State="waiting" Tries="2" Error="..." Encoding="cp1251"
//     LastEnd="0"/>
//   </KivoQueue>
//
// Texts are written as UTF-8 and read back into the entry's encoding (the
// hub's when it was queued). An entry running when it was written comes back
// waiting; ids are given anew on reading, and it is tried at once. TTH is 39
// upper-case base32 characters, or absent; State is waiting, done, failed or
// paused; LastEnd is a DownloadEnd. Nick, Path, Name and Size are required.
// An entry whose nick, path or name would not come back byte for byte is
// not written; one that would not fit its fields whole is not taken, and
// the file is then kept aside (details in queue_file.cpp).
#pragma once

#include <cstdint>

// The file's text is at most this long (with its NUL): the whole queue at
// its longest fits, every byte of its texts escaped ("&quot;"). A longer
// file is not one Kivo wrote.
constexpr int QUEUE_TEXT_BYTES = 6 * 1024 * 1024;

// The file's text for the queue (g_state.queue) into out (terminated): its
// length, or 0 when it does not fit.
int queue_text_make(char* out, int out_bytes);
// Takes a file's text (length bytes) into the queue, which it replaces.
// 1, or 0 (the queue empty) when the text is no queue file or a value is none.
int queue_text_parse(const char* text, int length);

// Reads the file at path into the queue. An absent file leaves the queue
// empty. One that cannot be read or parsed is renamed aside to
// "<path>.bad-<unix time>" (nothing is replaced), a note says so, and the
// queue starts empty; no part file is removed for it. One with entries that
// cannot be taken is kept aside the same way, the others in the queue.
void queue_file_load(const char16_t* path);
// Writes the queue to path through "<path>.new" (mode 0600), renamed over the
// old file, making its folder (0700) when missing. 1; or 0, the old file
// whole, when it cannot (a note the first time of a run of failures).
int queue_file_save(const char16_t* path);
