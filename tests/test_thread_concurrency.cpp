// Thread-count control from many threads at once: the first reading of the
// environment and the creation of the thread-local key race here, and every
// thread's own count must stay its own.  Runs under ThreadSanitizer; the
// OpenMP runtime is not instrumented, so only the single thread that wins the
// first reading calls into it (every query below that could ask OpenMP is
// answered by the thread's own count first).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "orb_threads.h"

namespace {

constexpr int kThreads = 8;

// What one thread saw.
struct Observation {
    int logical = -1;        // orb_serv_get_nlogicalcores (performs the first reading)
    int packages = -1;       // orb_serv_get_ncpus
    int previous = -1;       // orb_serv_set_num_threads_local's first return
    int own_answer = -1;     // orb_serv_get_max_threads after setting its own count
    int previous_again = -1; // orb_serv_set_num_threads_local's second return
};

TEST(ThreadConcurrency, FirstQueriesAndOwnCountsFromManyThreads) {
    std::atomic<int> waiting{kThreads};
    std::vector<Observation> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([i, &waiting, &seen] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();  // start together
            Observation &o = seen[i];
            o.logical = orb_serv_get_nlogicalcores();
            o.packages = orb_serv_get_ncpus();
            o.previous = orb_serv_set_num_threads_local(100 + i);
            o.own_answer = orb_serv_get_max_threads();
            o.previous_again = orb_serv_set_num_threads_local(0);
        });
    }
    for (std::thread &t : threads) t.join();

    for (int i = 0; i < kThreads; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].logical, 2);
        EXPECT_EQ(seen[i].packages, 1);
        EXPECT_EQ(seen[i].previous, 0);
        EXPECT_EQ(seen[i].own_answer, 100 + i);
        EXPECT_EQ(seen[i].previous_again, 100 + i);
    }
    // A new thread starts without a count of its own.
    int fresh = -1;
    std::thread([&fresh] { fresh = orb_serv_set_num_threads_local(0); }).join();
    EXPECT_EQ(fresh, 0);
}

}  // namespace
