// k_split_grid.cpp - the grid of a call that also splits k (reduced
// afterwards by the k-split strategy).
//
// k gets c parts: at most one per 384 of k and at most T, halved when C has
// 2048 rows or more and halved again when it has 1920 columns or more (each
// only for an even T1 of at least 8); k parts = the largest divisor of T not
// above c.  The T/kp threads of a k part form an m x n grid with at most
// n/960 n parts (AVX-512, when C is not taller than wide: at most m/1024 m
// parts instead).  m parts x n parts x k parts is always T.
#include <algorithm>

#include "blas/gemm/thread_plan.h"

namespace {

// A C of more rows than this takes no k parts.
constexpr int64_t kKSplitMaxRows = 209715200;

// The k parts of a team of T and the threads left to each.
struct KSplit {
    int64_t kp;       // k parts
    int64_t threads;  // threads of one k part, T/kp
};

// At most `limit` k parts and one per 384 of k, as a divisor of T.
KSplit k_parts(int64_t t, int64_t m, int64_t n, int64_t k, int64_t limit) {
    const int64_t c = std::max<int64_t>(1, std::min({4 * n * (kKSplitMaxRows / m), limit, (k + 383) / 384}));
    const int64_t kp = largest_divisor_not_above(t, c);
    return {kp, t / kp};
}

void store_parts(ThreadOpts *opts, int64_t mp, int64_t np, int64_t kp) {
    opts->m_parts = static_cast<int32_t>(mp);
    opts->n_parts = static_cast<int32_t>(np);
    opts->k_parts = static_cast<int32_t>(kp);
}

}  // namespace

extern "C" {

void calc_nthr_3d_avx2(int64_t m, int64_t n, int64_t k, ThreadOpts *opts) {
    const int64_t t = opts->thread_count;
    int64_t s = static_cast<int64_t>(static_cast<double>(n) / 960.0);
    const int64_t t1 = (m >= 2048 && t >= 8 && t % 2 == 0) ? t / 2 : t;
    const int64_t d = (s >= 2 && t1 >= 8 && t1 % 2 == 0) ? 2 : 1;
    s = std::max<int64_t>(s, 1);
    const KSplit split = k_parts(t, m, n, k, t1 / d);
    const int64_t np = largest_divisor_not_above(split.threads, s);
    store_parts(opts, split.threads / np, np, split.kp);
}

void calc_nthr_3d_avx512(int64_t m, int64_t n, int64_t k, ThreadOpts *opts) {
    const int64_t t = opts->thread_count;
    const int64_t a = std::max<int64_t>(m / 1024, 1);
    const int64_t s = static_cast<int64_t>(static_cast<double>(n) / 960.0);
    const int64_t t1 = (t % 2 == 0 && t >= 8 && m / 1024 >= 2) ? t / 2 : t;
    const int64_t t2 = (t1 % 2 == 0 && t1 >= 8 && s >= 2) ? t1 / 2 : t1;
    const KSplit split = k_parts(t, m, n, k, t2);
    if (m > n) {
        const int64_t np = largest_divisor_not_above(split.threads, std::max<int64_t>(s, 1));
        store_parts(opts, split.threads / np, np, split.kp);
    } else {
        const int64_t mp = largest_divisor_not_above(split.threads, a);
        store_parts(opts, mp, split.threads / mp, split.kp);
    }
}

}  // extern "C"
