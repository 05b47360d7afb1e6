// queue_text_parse on raw file bytes: a text it refuses leaves the queue
// empty; one it takes leaves at most QUEUE_ENTRIES entries, each with
// terminated texts within their fields, a known state and encoding (never
// Auto, never running), an ending that is a DownloadEnd, a distinct id that
// is not 0, and a TTH that is none or 39 characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "config/queue_file.h"
#include "state/client_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= (size_t)QUEUE_TEXT_BYTES) return 0;
    g_state.queue_count = 1;
    if (!queue_text_parse((const char*)data, (int)size)) {
        if (g_state.queue_count != 0) abort();
        return 0;
    }
    if (g_state.queue_count < 0 || g_state.queue_count > QUEUE_ENTRIES) abort();
    for (int i = 0; i < g_state.queue_count; i++) {
        const QueueEntry& e = g_state.queue[i];
        if (e.id == 0 || (i > 0 && e.id == g_state.queue[i - 1].id)) abort();
        for (int k = 0; k < QUEUE_TEXTS; k++) {
            const char* text = queue_text(&e, (QueueText)k);
            size_t length = strnlen(text, (size_t)QUEUE_TEXT_CAPACITY[k]);
            if (length >= (size_t)QUEUE_TEXT_CAPACITY[k]) abort();
            if (length == 0 && (k == QUEUE_NICK || k == QUEUE_PATH || k == QUEUE_NAME)) abort();
        }
        size_t tth = strnlen(queue_text(&e, QUEUE_TTH), TTH_TEXT_BYTES);
        if (tth != 0 && tth != (size_t)TTH_BASE32_CHARS) abort();
        if (e.state == QUEUE_RUNNING || e.state > QUEUE_PAUSED) abort();
        if (e.encoding == ENCODING_AUTO || e.encoding > ENCODING_CP1252) abort();
        if (e.last_end >= END_KINDS || e.retry_ms != 0) abort();
    }
    return 0;
}
