// settings_text_parse on raw file bytes, over settings that start filled:
// a text it refuses changes nothing; one it takes leaves every text field
// terminated and within what Option stores, and a download folder that fits.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "config/settings_file.h"
#include "state/client_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= (size_t)SETTINGS_TEXT_BYTES) return 0;
    static SessionSettings s;
    memset(&s, 'x', sizeof s);
    s.nick[10] = s.share_size[10] = s.hub_host[10] = s.hub_port[3] = s.password[10] = 0;
    s.hub_keyprint[0] = 0;
    s.download_folder[5] = 0;
    static SessionSettings before;
    before = s;
    if (!settings_text_parse((const char*)data, (int)size, &s)) {
        if (memcmp(&before, &s, sizeof s) != 0) abort();
        return 0;
    }
    if (strnlen(s.nick, OPTION_FIELD_BYTES) >= (size_t)OPTION_FIELD_BYTES) abort();
    if (strnlen(s.share_size, OPTION_FIELD_BYTES) >= (size_t)OPTION_FIELD_BYTES) abort();
    if (strnlen(s.password, PASSWORD_BYTES) >= (size_t)PASSWORD_BYTES) abort();
    if (strnlen(s.hub_host, HUB_HOST_BYTES) >= (size_t)HUB_HOST_BYTES) abort();
    if (strnlen(s.hub_port, HUB_PORT_BYTES) >= (size_t)HUB_PORT_BYTES) abort();
    if (u16_len(s.download_folder) >= DOWNLOAD_FOLDER_UNITS) abort();
    return 0;
}
