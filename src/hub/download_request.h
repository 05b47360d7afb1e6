// The download request: a results row made the DownloadJob, and the
// $RevConnectToMe that asks the file's owner, through the hub, to connect
// back. The owner's $ConnectToMe then starts the worker (transfer/download.h).
#pragma once

#include <cstdint>

// Sent to the open Downloads screen when the job moved on the user-interface
// thread (a $ConnectToMe started the worker): the screen looks at it then
// instead of polling while a request waits.
constexpr uint32_t WM_DOWNLOAD_CHANGED = 0x8004;

// Sends "$RevConnectToMe <own nick> <peer nick>|" to the hub (hub_send).
// Returns 1 when it was sent or kept to be sent, else 0.
int send_rev_connect(const char* peer_nick);
// Makes results row `row` the waiting download request and asks its owner.
// While a worker runs it is refused with a note in the chat instead; a
// request still waiting is replaced. A row the table lacks does nothing;
// without a hub connection, or when the request cannot be sent, a note says so.
// name_row (when a row) names the local file: the entry the person chose,
// when another source of the same file is asked.
void download_request_send(int row, int name_row = -1);

// Hands a $ConnectToMe from the hub to the download (transfer/download.h)
// and tells the open Downloads screen.
void download_take_hub_connect(const char* message);
