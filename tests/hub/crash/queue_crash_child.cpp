// The process the crash test kills: it takes the queue left in its folder,
// then changes it and runs its downloads against local peers without end,
// until it is killed.
//   queue_crash_child <folder> <seed>
// <folder>/queue.xml is the queue, <folder>/parts/ the part files and
// <folder>/dl/ the finished ones. Four users, u0 to u3, each share every
// file as a local peer; u0's files finish within a run when the seed is
// even, the others' grow slowly, so that kills land while parts grow.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "config/queue_file.h"
#include "hub/queue.h"
#include "hub/users.h"
#include "state/client_state.h"
#include "support/test_hub.h"
#include "transfer/download.h"

namespace {

constexpr int USERS = 4;
constexpr uint64_t FILE_BYTES = 64 * 1024;

void set_wide(char16_t* dst, int units, const std::string& text) { utf8_to_utf16(text.c_str(), -1, dst, units); }

// A peer that greets as nick and sends whatever is asked, 4 KiB every
// pause_ms.
void script_peer(TestHub& peer, const std::string& nick, int pause_ms) {
    peer.expect("$Lock ")
        .send(std::string("$MyNick ").append(nick) + "|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABCA Pk=X|$Key k|")
        .expect("$Get ")
        .send(std::string("$FileLength ").append(std::to_string(FILE_BYTES)).append("|"))
        .expect("$Send|");
    for (uint64_t sent = 0; sent < FILE_BYTES; sent += 4096) peer.send(std::string(4096, 'x')).pause(pause_ms);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::string folder = argv[1];
    int seed = atoi(argv[2]);
    srand((unsigned)seed);
    client_state_reset();
    text_copy(g_state.hub_nick, HUB_NICK_BYTES, "me");
    set_wide(g_state.queue_path, SETTINGS_PATH_UNITS, folder + "/queue.xml");
    set_wide(g_state.parts_folder, DOWNLOAD_FOLDER_UNITS, folder + "/parts/");
    set_wide(g_state.settings.download_folder, DOWNLOAD_FOLDER_UNITS, folder + "/dl/");
    g_state.download_silence_ms = 2000;
    queue_file_load(g_state.queue_path);

    // The hub: a socket pair whose other end is read and thrown away.
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 3;
    std::thread([hub = pair[1]] {
        char buffer[4096];
        while (read(hub, buffer, sizeof buffer) > 0) {
        }
    }).detach();
    g_state.hub_socket = pair[0];
    g_state.hub_phase = HUB_ONLINE;

    static TestHub peers[USERS];
    for (int u = 0; u < USERS; u++) {
        char nick[8];
        snprintf(nick, sizeof nick, "u%d", u);
        update_user(nick, "0", 1);
        // With an even seed u0 finishes files within a run; the others'
        // parts outlive it.
        script_peer(peers[u], nick, u == 0 && seed % 2 == 0 ? 5 : 100);
    }
    // A long queue from earlier runs is cut back, its parts with it.
    while (g_state.queue_count > 20) queue_remove(rand() % g_state.queue_count);
    for (int step = 0;; step++) {
        int choice = rand() % 10;
        if (choice < 4) {
            char name[16], nick[8], path[32];
            snprintf(name, sizeof name, "f%d.bin", rand() % 1000);
            snprintf(nick, sizeof nick, "u%d", rand() % USERS);
            snprintf(path, sizeof path, "share\\%s", name);
            int index = queue_add(nick, path, name, "", FILE_BYTES,
                                  ENCODING_UTF8);
            // Half of them to the front, so that new entries get their turn
            // within the run.
            if (index > 0 && rand() % 2 == 0) {
                while (index > 0) index = queue_move(index, -1);
            }
        } else if (choice == 4 && g_state.queue_count > 0) {
            queue_remove(rand() % g_state.queue_count);
        } else if (choice == 5 && g_state.queue_count > 1) {
            queue_move(rand() % g_state.queue_count, rand() % 2 == 0 ? -1 : 1);
        } else if (choice == 6 && g_state.queue_count > 0) {
            int index = rand() % g_state.queue_count;
            if (g_state.queue[index].state == QUEUE_PAUSED) queue_resume(index);
            else queue_pause(index);
        } else if (choice == 7) {
            queue_clear_finished();
        }
        // Each request is answered by its user's peer.
        for (int job = 0; job < DOWNLOAD_JOBS; job++) {
            download_lock();  // a worker may swap waiting requests' users
            int u = download_requested(job) ? g_state.jobs[job].nick[1] - '0' : -1;
            download_unlock();
            if (u < 0 || u >= USERS) continue;
            char m[64];
            snprintf(m, sizeof m, "$ConnectToMe me 127.0.0.1:%d", peers[u].port());
            download_take_connect(m);
        }
        queue_tick();
        usleep(1000 + (useconds_t)(rand() % 4000));
    }
}
