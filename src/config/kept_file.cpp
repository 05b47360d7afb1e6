// Kivo's own files: text, names beside them, keeping aside (see kept_file.h).
//
// State of this file alone: none.
#include "config/kept_file.h"

#include <cstring>

#include "platform/platform.h"

namespace {

// Names tried for a file kept aside within one second.
constexpr int ASIDE_TRIES = 10;

}  // namespace

XmlOut xml_out_begin(char* out, int bytes) {
    out[0] = 0;
    return XmlOut{out, bytes, 0, false};
}

void xml_put_n(XmlOut* out, const char* text, int n) {
    if (out->full || n >= out->bytes - out->length) {
        out->full = true;
        return;
    }
    memcpy(out->text + out->length, text, (size_t)n);
    out->length += n;
    out->text[out->length] = 0;
}

void xml_put(XmlOut* out, const char* text) {
    xml_put_n(out, text, (int)strlen(text));
}

void xml_put_attribute(XmlOut* out, const char* name, const char* utf8) {
    xml_put(out, name);
    xml_put(out, "=\"");
    for (const char* p = utf8; *p != 0; p++) {
        switch (*p) {
            case '&': xml_put(out, "&amp;"); break;
            case '<': xml_put(out, "&lt;"); break;
            case '>': xml_put(out, "&gt;"); break;
            case '"': xml_put(out, "&quot;"); break;
            case '\t': xml_put(out, "&#9;"); break;
            case '\n': xml_put(out, "&#10;"); break;
            case '\r': xml_put(out, "&#13;"); break;
            default:
                if ((unsigned char)*p >= 0x20) xml_put_n(out, p, 1);  // bytes of UTF-8 sequences included
                break;
        }
    }
    xml_put(out, "\"");
}

int kept_path_with(const char16_t* path, const char16_t* suffix, char16_t* dst, int dst_units) {
    if (u16_len(path) + u16_len(suffix) >= dst_units) return 0;
    u16_copy(dst, dst_units, path);
    u16_append(dst, dst_units, suffix);
    return 1;
}

int kept_file_aside(const char16_t* path, char16_t* aside, int aside_units) {
    unsigned long long now = wall_clock_seconds();
    for (int n = 0; n < ASIDE_TRIES; n++) {
        char16_t suffix[KEPT_SUFFIX_UNITS];
        if (n == 0) wide_format(suffix, KEPT_SUFFIX_UNITS, u".bad-%llu", now);
        else wide_format(suffix, KEPT_SUFFIX_UNITS, u".bad-%llu-%d", now, n);
        if (!kept_path_with(path, suffix, aside, aside_units)) return 0;
        int result = file_rename_new(path, aside);
        if (result == FILE_RENAMED) return 1;
        if (result == FILE_RENAME_FAILED) return 0;
    }
    return 0;
}
