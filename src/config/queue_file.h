// Kivo's download queue kept across restarts: "queue.xml" in the per-user
// data folder ($XDG_DATA_HOME/kivo/), written as UTF-8 and read with expat:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <KivoQueue Version="1">
//    <File Nick="..." Path="dir\name.ext" Name="name.ext" TTH="..." Size="123"
//     Held="45" State="waiting" Tries="2" Error="..." Encoding="cp1251"/>
//   </KivoQueue>
//
// Texts are written as UTF-8 and read back into the entry's encoding (the
// hub's when it was queued). An entry running when it was written comes back
// waiting; ids are given anew on reading.
#pragma once

#include <cstdint>

// The file's text is at most this long (with its NUL): the whole queue at
// its longest fits.
constexpr int QUEUE_TEXT_BYTES = 1000 * 1024;

// The file's text for the queue (g_state.queue) into out (terminated): its
// length, or 0 when it does not fit.
int queue_text_make(char* out, int out_bytes);
// Takes a file's text (length bytes) into the queue, which it replaces.
// 1, or 0 (the queue empty) when the text is no queue file or a value is none.
int queue_text_parse(const char* text, int length);

// Reads the file at path into the queue. An absent file leaves the queue
// empty. One that cannot be read or parsed is renamed aside to
// "<path>.bad-<unix time>" (nothing is replaced), a note says so, and the
// queue starts empty; no part file is removed for it.
void queue_file_load(const char16_t* path);
// Writes the queue to path through "<path>.new" (mode 0600), renamed over the
// old file. 1; or 0, the old file whole, when it cannot.
int queue_file_save(const char16_t* path);
