// The download queue: what the person chose to download (g_state.queue),
// and the turns it gives its entries on the jobs (g_state.jobs).
//
// Download adds an entry and returns at once. queue_tick, run on the UI
// thread whenever something may have changed (a job ended, a user came, a
// second passed), takes the outcome of every job that ended, withdraws
// requests no $ConnectToMe answered in time, and gives waiting entries
// their turn in queue order: at most settings.download_slots at once, never
// two with the same user, only users on the hub. Each turn asks the user
// through the hub ($RevConnectToMe); his $ConnectToMe starts the job's
// worker (transfer/download.h). Nothing is ever requested that the person
// did not queue.
//
// A failed try is tried again after a pause that doubles from 10 s to
// 10 min; a refusal for want of a free slot waits the shortest pause again,
// and a user who left waits until he comes back, when all his entries get
// their turn at once. A file that does not match its TTH, or one that cannot
// be written (a full disk, a folder that cannot be made), is given up until
// Retry. When the user's $MyINFO says he is passive (as the client is), the
// entry fails at once with a hint: two passive clients cannot connect.
#pragma once

#include <cstdint>

#include "state/client_state.h"

// Sent to the open Downloads screen when the queue changed.
constexpr uint32_t WM_DOWNLOAD_CHANGED = 0x8004;

// Pauses before an entry is tried again: the first, doubled after each
// failed try up to the last.
constexpr uint64_t QUEUE_RETRY_FIRST_MS = 10000;
constexpr uint64_t QUEUE_RETRY_LAST_MS = 600000;

// Sends "$RevConnectToMe <own nick> <peer nick>|" to the hub (hub_send).
// Returns 1 when it was sent or kept to be sent, else 0.
int send_rev_connect(const char* peer_nick);
// "$ConnectToMe <peer> <own ip>:<port>|" (active mode), the TLS listener's
// port marked S when tls. 1 when it went to the hub, 0 when it could not.
int send_connect_to_me(const char* peer_nick, bool tls);

// Adds an entry (texts in the given encoding, never Auto) at the queue's
// end, waiting. Returns its index, or -1 with a note: the queue is full, the
// name is not one a file can have, or the same file is already queued and
// not done.
int queue_add(const char* nick, const char* path, const char* name, const char* tth, uint64_t size,
              uint8_t encoding);
// Puts the user's file list (nick in the hub's encoding) at the front of the
// queue, to be fetched into the cache under `cache_name`; an entry for it
// that waits or runs already is kept. Returns its index, or -1 with a note.
int queue_add_list(const char* nick, const char* cache_name);
// The Download command on results row `row`, saved under name_row's short
// name (the entry the person chose, when another source of it is asked).
// A note in the chat says it was queued.
void queue_add_result(int row, int name_row = -1);

// Takes ended jobs, withdraws unanswered requests, starts what may start,
// and writes queue.xml when it changed at least a second after the last write.
void queue_tick();
// The hub told of a user (a $MyINFO of one not present before): his
// waiting entries are tried at once.
void queue_user_arrived(const char* nick);

// The entry's job, or -1 when none has it.
int queue_job_of(int index);
// The person's commands on entry `index`, UI thread. Pause stops a running
// transfer (its part is kept) or a waiting request; Resume makes it wait for
// its turn again; Retry gives a waiting or failed entry its turn now.
void queue_pause(int index);
void queue_resume(int index);
void queue_retry(int index);
// Removes the entry: a running transfer is stopped first; Kivo's part file of
// it is removed (only a regular file of the user's own under the part's name).
void queue_remove(int index);
// Moves an entry one place towards the front (delta -1) or the end (+1);
// returns its new index.
int queue_move(int index, int delta);
// Removes every done entry.
void queue_clear_finished();
// Entries running (a job has them).
int queue_running_count();
// The state word of an entry as the Downloads screen shows it: waiting,
// connecting, receiving, verifying, done, "failed: <reason>", paused.
void queue_state_text(int index, char16_t* out, int out_units);
// Writes queue.xml now when it changed (at exit).
void queue_flush();
// Chooses where queue.xml and the part files are kept: queue.xml in the
// per-user data folder ($XDG_DATA_HOME/kivo/); the parts in its "parts/"
// when that lies on the download folder's file system (a finished file is
// then renamed into place, never copied), else in ".kivo-parts/" inside the
// download folder; users' file lists in $XDG_CACHE_HOME/kivo/lists/. Run at
// start-up and when the download folder changes.
void queue_places_choose();
