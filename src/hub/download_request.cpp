// The download request.
//
// The request fills the DownloadJob only while no worker runs (a running
// worker reads the job's fields without a lock); a request that is still
// waiting for its $ConnectToMe may be replaced by a new one.
//
// Reaches g_state: the results, the DownloadJob, the nick, hub_socket, the
// ChatLog, the TrafficCounters and progress_window.
#include "hub/download_request.h"

#include "hub/connection.h"
#include "protocol/message_builder.h"
#include "state/client_state.h"
#include "transfer/download.h"

namespace {

// "$RevConnectToMe " + own nick + " " + peer nick + "|".
constexpr int REV_CONNECT_BYTES = 16 + (HUB_NICK_BYTES - 1) + 1 + (RESULT_NICK_BYTES - 1) + 1 + 1;

}  // namespace

int send_rev_connect(const char* peer_nick) {
    char message[REV_CONNECT_BYTES];
    MessageBuilder m = message_begin(message, REV_CONNECT_BYTES);
    message_add(&m, "$RevConnectToMe ");
    message_add(&m, g_state.hub_nick);
    message_add(&m, " ");
    message_add(&m, peer_nick);
    message_add(&m, "|");
    // With no hub connection there is nobody to ask; a peer nick too long for
    // the message cannot come from the results table.
    if (m.overflow || g_state.hub_socket <= 0) return 0;
    // A send that fails (the hub closed, its close only noted) has asked nobody.
    return hub_send(message, m.length) ? 1 : 0;
}

void download_request_send(int row, int name_row) {
    if (download_running()) {
        chatlog_append_line(" ::download refused:: a download is running");
        return;
    }
    if (row < 0 || row >= g_state.result_count) return;  // no row to download
    if (g_state.hub_socket <= 0) {
        chatlog_append_line(" ::download failed:: not connected to a hub");
        return;
    }
    const SearchResult& result = g_state.results[row];
    DownloadJob& job = g_state.download;
    text_copy(job.nick, RESULT_NICK_BYTES, result.nick);
    text_copy(job.path, RESULT_PATH_BYTES, result.path);
    bool named = name_row >= 0 && name_row < g_state.result_count;
    text_copy(job.short_name, RESULT_SHORT_BYTES, g_state.results[named ? name_row : row].short_name);
    text_copy(job.tth, TTH_TEXT_BYTES, result.tth);
    job.size = result.size;
    download_request((int16_t)row);
    if (!send_rev_connect(result.nick)) {
        // Nobody was asked: no $ConnectToMe will come for this request.
        download_set_phase(DOWNLOAD_IDLE);
        chatlog_append_line(" ::download failed:: request not sent to the hub");
    }
}

void download_take_hub_connect(const char* message) {
    download_take_connect(message);
    if (g_state.progress_window != 0) send_message(g_state.progress_window, WM_DOWNLOAD_CHANGED, 0, 0);
}
