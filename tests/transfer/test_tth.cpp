// The receive ring's Tiger tree, hashed a segment per thread, against
// rhash's own TTH of the same bytes in one piece.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "transfer/tth.h"

namespace {

std::string sample(size_t bytes, uint32_t seed) {
    std::mt19937 random(seed);
    std::string data(bytes, '\0');
    for (char& c : data) c = (char)random();
    return data;
}

std::string one_piece(const std::string& data) {
    char root[TTH_TEXT_BYTES];
    tth_of_bytes(data.data(), (int)data.size(), root);
    return root;
}

// Feeds data through job's ring as the worker does: into the slot, at most
// the room given, in pieces of up to `piece` bytes (0: random sizes).
std::string through_ring(int job, const std::string& data, int piece, uint32_t seed = 1) {
    std::mt19937 random(seed);
    EXPECT_EQ(ring_start(job, 1), 1);
    size_t at = 0;
    while (at < data.size()) {
        int room = 0;
        char* slot = ring_slot(job, &room);
        EXPECT_GT(room, 0);
        EXPECT_LE(room, RING_SLOT_BYTES);
        int n = piece > 0 ? piece : 1 + (int)(random() % 5000);
        if (n > room) n = room;
        if ((size_t)n > data.size() - at) n = (int)(data.size() - at);
        memcpy(slot, data.data() + at, (size_t)n);
        ring_publish(job, n);
        at += (size_t)n;
    }
    char root[TTH_TEXT_BYTES];
    ring_finish(job, root);
    return root;
}

// Each size around a leaf and a segment, and many segments with an odd
// count and a short last leaf, so that promoted nodes come at every level;
// pieces that end anywhere in a slot, so that a slot filled in parts must
// still end at its segment's end.
TEST(RingTree, EverySizeGivesRhashsRoot) {
    const size_t S = RING_SLOT_BYTES;
    const size_t sizes[] = {0, 1, 1023, 1024, 1025, S - 1, S, S + 1, 2 * S, 3 * S + 1024,
                            7 * S + 3 * 1024 + 7, (size_t)RING_BYTES * 5 + 11, 45 * S};
    for (size_t size : sizes) {
        std::string data = sample(size, (uint32_t)size);
        std::string expected = one_piece(data);
        EXPECT_EQ(expected.size(), (size_t)TTH_BASE32_CHARS);
        EXPECT_EQ(through_ring(0, data, RING_SLOT_BYTES), expected) << size << " bytes, whole slots";
        EXPECT_EQ(through_ring(0, data, 0, (uint32_t)size), expected) << size << " bytes, random pieces";
        EXPECT_EQ(through_ring(0, data, 1000), expected) << size << " bytes, 1000 at a time";
    }
    EXPECT_EQ(through_ring(0, "", 1), "LWPNACQDBZRYXW3VHJVCJ64QBZNGHOHHHZWCLNQ");  // Tiger(0x00)
}

TEST(RingTree, WithoutHashingOneReceiveFillsAPlainChunkAndNoRoot) {
    ASSERT_EQ(ring_start(2, 0), 1);
    int room = 0;
    ring_slot(2, &room);
    EXPECT_EQ(room, RING_PLAIN_BYTES);
    ring_publish(2, room);
    char root[TTH_TEXT_BYTES] = "x";
    ring_finish(2, root);
    EXPECT_STREQ(root, "");
}

// Abandoned with the ring full and segments still queued, the threads end
// and the job's next ring starts clean.
TEST(RingTree, AbandonMidwayLeavesTheRingReusable) {
    std::string data = sample(RING_BYTES * 4 + 123, 9);
    ASSERT_EQ(ring_start(3, 1), 1);
    for (int i = 0; i < RING_SLOTS; i++) {
        int room = 0;
        char* slot = ring_slot(3, &room);
        memcpy(slot, data.data() + (size_t)i * RING_SLOT_BYTES, (size_t)room);
        ring_publish(3, room);
    }
    int room = 0;
    ring_slot(3, &room);
    ring_publish(3, 10);
    ring_abandon(3);
    EXPECT_EQ(through_ring(3, data, 0), one_piece(data));
}

// Every job's ring at once, each from its own thread as the workers run.
TEST(RingTree, AllJobsHashAtOnce) {
    std::vector<std::string> data, roots(DOWNLOAD_JOBS);
    for (int job = 0; job < DOWNLOAD_JOBS; job++) data.push_back(sample(RING_BYTES * 2 + 997 * job, 100 + job));
    std::vector<std::thread> workers;
    for (int job = 0; job < DOWNLOAD_JOBS; job++) {
        workers.emplace_back([&, job] { roots[job] = through_ring(job, data[job], 0, job); });
    }
    for (std::thread& w : workers) w.join();
    for (int job = 0; job < DOWNLOAD_JOBS; job++) EXPECT_EQ(roots[job], one_piece(data[job])) << "job " << job;
}

}  // namespace
