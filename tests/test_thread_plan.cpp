// The thread-count decision of the threaded SGEMM, as a pure function:
// worked examples, then a sweep of shapes, limits and cpu types against a
// second, plain transcription of the rules kept in this file.  No thread is
// started and nothing depends on this host.
#include <gtest/gtest.h>

#include "blas/gemm/sgemm_thread_count.h"
#include "orb_threads.h"

namespace {

// --- a second transcription of the rules -----------------------------------------

namespace text {

int checker(int64_t m, int64_t n, int64_t k, uint32_t cpu, int P) {
    int p0 = P;
    double work;
    if (cpu == 7) {
        if (P < 2) return P;
        work = ((double)m * 0.03125) * ((double)k * (double)n);
    } else {
        if (10 * n < m && n < P) {
            int64_t q = m / P;
            if (q < 24) {
                if (m < 48) return 1;
                p0 = (int32_t)(m / 24);
            }
        }
        if (p0 < 2) return p0;
        work = ((double)m * 0.0625) * ((double)k * (double)n);
    }
    if ((unsigned)p0 <= 4u) {
        if (work < 3000.0) return 1;
        for (int p = p0; p >= 2; p--)
            if (work * (p - 1) > 3000.0 * p) return p;
        return 1;
    }
    if (work < 5000.0) return 1;
    int p = p0;
    while (p > 1) {
        if ((p - 1) * work > (500.0 * p + 4000.0) * p) return p;
        if ((unsigned)p < 10u) p -= 2;
        else if ((unsigned)p < 30u) p -= 4;
        else p -= 8;
    }
    return 1;
}

}  // namespace text

// --- worked examples -------------------------------------------------------------

TEST(ThreadCount, WorkedExamples) {
    struct Row { int64_t m, n, k; uint32_t cpu; int limit, threads; };
    const Row rows[] = {
        {5000, 5000, 5000, 7, 1, 1},
        {64, 64, 64, 7, 8, 4},              // 8 and 6 fail, 4 passes: 24576 > 24000
        {40, 2, 1000000, 5, 8, 1},          // capped: fewer than 48 rows
        {1000, 10, 100000, 5, 64, 41},      // capped at 1000/24, the search starts at 41
        {1000, 200, 100000, 5, 64, 64},     // 10n >= m: no cap
        {40, 40, 30, 5, 2, 1},              // work exactly 3000 does not pay for 2
        {40, 40, 45, 5, 3, 1},              // work 4500: 2*4500 = 9000 is not above 9000
        {40, 40, 45, 5, 4, 4},
        {40, 40, 200, 7, 12, 8},            // 12, 8, ...: 11, 10 and 9 are never tried
        {60, 60, 72, 7, 5, 1},              // from 5 only 5 and 3 are tried
        {1000, 10, 100000, 7, 64, 64},      // no cap on AVX-512
    };
    for (const Row &r : rows)
        EXPECT_EQ(sgemm_thread_count(r.m, r.n, r.k, r.cpu, r.limit), r.threads)
            << r.m << "x" << r.n << "x" << r.k << " cpu " << r.cpu << " limit " << r.limit;
}

TEST(ThreadCount, CheckerReadsTheBlasLimit) {
    const int previous = orb_serv_set_num_threads_local(8);
    ThreadOpts opts{};
    opts.cpu_type = 7;
    const int64_t m = 64, n = 64, k = 64;
    thread_checker(&m, &n, &k, &opts);
    orb_serv_set_num_threads_local(previous);
    EXPECT_EQ(opts.max_threads, 8);
    EXPECT_EQ(opts.thread_count, 4);
}

// --- the sweep against the transcription ------------------------------------------------

TEST(ThreadCount, MatchesTheRules) {
    const int64_t sizes[] = {1, 2, 10, 23, 24, 40, 47, 48, 64, 100, 250, 1000, 5000};
    const int limits[] = {1, 2, 3, 4, 5, 6, 8, 12, 16, 32, 41, 64};
    int differ = 0;
    for (int64_t m : sizes)
        for (int64_t n : sizes)
            for (int64_t k : sizes)
                for (int limit : limits)
                    for (uint32_t cpu : {5u, 7u})
                        if (sgemm_thread_count(m, n, k, cpu, limit) != text::checker(m, n, k, cpu, limit) &&
                            ++differ <= 5)
                            ADD_FAILURE() << m << "x" << n << "x" << k << " cpu " << cpu << " limit " << limit;
    EXPECT_EQ(differ, 0);
}

}  // namespace
