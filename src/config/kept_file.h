// What Kivo's own XML files (settings.xml, queue.xml) share: their text made
// in a fixed buffer, values escaped for a double-quoted attribute; the names
// beside a file ("<path>.new", "<path>.bad-<unix time>"); and a file that
// cannot be read renamed aside, never removed or replaced.
#pragma once

// A fixed text being appended to. Once something does not fit, nothing more
// is written and full stays set: the text is then no file at all.
struct XmlOut {
    char* text;  // terminated after each write
    int bytes;   // its capacity, terminator counted
    int length;
    bool full;
};

// An empty text in out (bytes > 0).
XmlOut xml_out_begin(char* out, int bytes);
void xml_put(XmlOut* out, const char* text);
void xml_put_n(XmlOut* out, const char* text, int n);
// name="value" with the UTF-8 value escaped: & < > " as entities; tab, line
// feed and carriage return as character references (so they are not read
// back as blanks). Other control characters cannot stand in XML 1.0 at all
// and are left out.
void xml_put_attribute(XmlOut* out, const char* name, const char* utf8);
// The most bytes one byte of a value takes escaped ("&quot;").
constexpr int XML_ESCAPED_MAX = 6;

// Units a suffix of the names beside a file takes at most (".new",
// ".bad-<20 digits>-<n>"), terminator counted.
constexpr int KEPT_SUFFIX_UNITS = 24;
// "<path><suffix>" into dst (dst_units) whole: 1, or 0.
int kept_path_with(const char16_t* path, const char16_t* suffix, char16_t* dst, int dst_units);
// Renames the file at path to "<path>.bad-<unix time>", with "-1", "-2", ...
// when that name is taken (nothing is replaced): 1 with the name taken in
// aside (aside_units), or 0 when it cannot be renamed.
int kept_file_aside(const char16_t* path, char16_t* aside, int aside_units);
