// Many threads allocating and releasing pooled buffers at once, handing
// some to each other, exiting with buffers out, while another thread keeps
// releasing every pool.  Each buffer carries its owner's pattern at both
// ends, so a buffer handed to two holders at once shows; at the end every
// counter must be back at zero.  Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "orb_memory.h"
#include "service/memory_manager.h"

namespace {

constexpr int kWorkers = 8;
constexpr int kRounds = 2;             // each worker slot runs this many threads in turn
constexpr int kPinnedThreads = 1030;   // before the last round: pushes thread numbers past 1024
constexpr int kStepsPerThread = 1500;
constexpr size_t kMaxSize = 3u << 20;  // a few MiB at most

// A buffer in flight with the pattern written into it.
struct Buffer {
    unsigned char *data;  // the buffer
    size_t size;          // its size
    unsigned char mark;   // the byte written at both ends
};

// Buffers handed from one thread to another, to be released there.
class Mailbox {
  public:
    void post(const Buffer &b) {
        std::lock_guard<std::mutex> hold(lock_);
        items_.push_back(b);
    }
    bool take(Buffer *b) {
        std::lock_guard<std::mutex> hold(lock_);
        if (items_.empty()) return false;
        *b = items_.back();
        items_.pop_back();
        return true;
    }

  private:
    std::mutex lock_;
    std::vector<Buffer> items_;
};

Buffer fill(void *p, size_t size, unsigned char mark) {
    auto *data = static_cast<unsigned char *>(p);
    data[0] = mark;
    data[size - 1] = mark;
    std::memset(data + 1, mark, size > 64 ? 62 : size - 1);
    return {data, size, mark};
}

bool intact(const Buffer &b) {
    return b.data[0] == b.mark && b.data[b.size - 1] == b.mark && b.data[b.size / 2 > 62 ? 62 : b.size / 2] == b.mark;
}

std::atomic<int> damaged{0};
std::atomic<uint64_t> highest_number{0};

void release(const Buffer &b) {
    if (!intact(b)) damaged.fetch_add(1);
    orb_serv_deallocate(b.data);
}

size_t random_size(std::mt19937 &rng) {
    switch (rng() % 4) {
    case 0: return 1 + rng() % 256;
    case 1: return 1 + rng() % 65536;
    case 2: return 4096 * (1 + rng() % 16);  // repeated sizes: exact fits
    default: return 1 + rng() % kMaxSize;
    }
}

// One worker's life: allocate, sometimes release, sometimes pass a buffer
// on, sometimes release a buffer passed by someone else; at the end leave
// some buffers behind in the mailbox and exit with them out.
void work(int seed, Mailbox &mailbox) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    const int alignments[] = {0, 32, 64, 96, 128, 4096};
    std::vector<Buffer> held;
    for (int step = 0; step < kStepsPerThread; ++step) {
        unsigned action = rng() % 10;
        if (action < 5 || held.empty()) {
            size_t size = random_size(rng);
            void *p = orb_serv_allocate(size, alignments[rng() % 6]);
            if (p != nullptr) held.push_back(fill(p, size, static_cast<unsigned char>(1 + rng() % 255)));
        } else if (action < 8) {
            size_t i = rng() % held.size();
            release(held[i]);
            held.erase(held.begin() + static_cast<long>(i));
        } else if (action == 8) {
            mailbox.post(held.back());
            held.pop_back();
        } else {
            Buffer b;
            if (mailbox.take(&b)) release(b);
        }
        if (held.size() > 8) {
            release(held.front());
            held.erase(held.begin());
        }
        if (step % 500 == 499) orb_serv_thread_free_buffers();
    }
    for (const Buffer &b : held) mailbox.post(b);
    uint64_t number = mm_thread_identity().number;
    for (uint64_t seen = highest_number.load(); number > seen && !highest_number.compare_exchange_weak(seen, number);) {
    }
}

// Threads that each exit holding one buffer: their pools stay (retired) and
// keep the epoch, so that the next threads draw numbers above 1024.
std::vector<void *> pin_thread_numbers() {
    std::vector<void *> pinned(kPinnedThreads);
    for (void *&p : pinned) std::thread([&p] { p = orb_serv_allocate(64, 64); }).join();
    return pinned;
}

}  // namespace

TEST(MemoryStress, ConcurrentUseAndReleaseEndsWithNothingHeld) {
    orb_serv_peak_mem_usage(1);
    Mailbox mailbox;
    std::atomic<bool> done{false};
    std::thread releaser([&] {
        int count = 0;
        while (!done.load()) {
            ORB_FREE_BUFFERS();
            orb_serv_mem_stat(&count);
            std::this_thread::yield();
        }
    });
    std::vector<void *> pinned;
    for (int round = 0; round < kRounds; ++round) {
        if (round == kRounds - 1) pinned = pin_thread_numbers();
        std::vector<std::thread> workers;
        for (int w = 0; w < kWorkers; ++w) workers.emplace_back(work, round * kWorkers + w + 1, std::ref(mailbox));
        for (std::thread &t : workers) t.join();
    }
    done.store(true);
    releaser.join();

    EXPECT_GT(orb_serv_peak_mem_usage(2), 0);
    int count = -1;
    EXPECT_GT(orb_serv_mem_stat(&count), 0) << "the mailbox still holds buffers";
    EXPECT_GT(highest_number.load(), 1024u) << "the last round used the shared entries";
    Buffer b;
    while (mailbox.take(&b)) release(b);
    for (void *p : pinned) orb_serv_deallocate(p);
    ORB_FREE_BUFFERS();

    EXPECT_EQ(damaged.load(), 0) << "a buffer was handed to two holders";
    EXPECT_EQ(orb_serv_mem_stat(&count), 0);
    EXPECT_EQ(count, 0);
    orb_serv_peak_mem_usage(-1);
    EXPECT_EQ(orb_serv_peak_mem_usage(2), 0) << "the global counters are back at zero";
}
