// What the queue's tests share: a hub message relayed to the dispatcher, and
// the queue's turns run until its transfers have settled.
#pragma once

#include <string>

#include "hub/dispatch.h"
#include "hub/queue.h"
#include "support/test_hub.h"

namespace queue_test {

// Relays hub messages to the dispatcher, as the hub connection does.
inline void from_hub(const std::string& messages) {
    char data[HUB_DATA_BYTES];
    int length = text_copy(data, HUB_DATA_BYTES, messages.c_str());
    dispatch_hub_data(data, length);
}

// Runs the queue's turns until no worker runs and no job ended untaken.
inline bool settle(int ms = 5000) {
    return wait_until(ms, [] {
        queue_tick();
        for (int job = 0; job < DOWNLOAD_JOBS; job++) {
            if (download_running(job) || download_ended(job)) return false;
        }
        return true;
    });
}

}  // namespace queue_test
