// simple_3d_plan.cpp - the simple 3-D grid: when a call is cut into
// independent no-copy blocks of C and parts of k, and how.
//
// The test (never in the strict mode), with T threads:
//   - AVX-512 only, a leading-dimension guard: a leading dimension that is a
//     multiple of 256 (cache-set aliasing) keeps large enough calls off the
//     grid;
//   - a size test: ((m or n at least 379) and m < 378T) or k < 378T;
//   - a shape test: AVX-512 wants m <= 28T (and m >= n when B is
//     transposed), or n <= 28T, or k <= T; the other sets want a C of at most
//     128 x 128, or few columns or a shallow k for the team.
// The grids start from 32 x 64 (AVX-512) or 64 x 48 (other sets) blocks of
// C, choose the k parts, and bring the number of blocks to the threads a
// k part has; the block sizes are then rounded (m to 16, k to 4) and parts
// left empty by the rounding are dropped.
#include <algorithm>
#include <cmath>

#include "blas/gemm/thread_plan.h"

namespace {

constexpr uint32_t kCpuTypeAvx512 = 7;

bool multiple_of_256(int64_t ld) { return (ld & 0xff) == 0; }

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

int64_t round_up(int64_t value, int64_t multiple) { return ceil_div(value, multiple) * multiple; }

// The AVX-512 leading-dimension guard.  A transposed A with a plain B
// (the only case the guard's first rule covers) is judged by that rule
// alone; every other case by the second.
bool leading_dimensions_allow(char ta, char tb, int64_t m, int64_t n, int64_t k, int64_t lda, int64_t ldb,
                              int64_t ldc) {
    if (ta != 'N' && tb == 'N')
        return !(m >= 101 && n >= 65 && k >= 801 && (multiple_of_256(ldb) || multiple_of_256(ldc)));
    if (!multiple_of_256(lda) && !multiple_of_256(ldb) && !multiple_of_256(ldc)) return true;
    if (m >= 32 && n > 16) return false;
    return !(m >= 32 && n == 16 && (k > 6399 || ta != 'N' || m == 4096));
}

bool size_allows(int64_t m, int64_t n, int64_t k, int64_t t) {
    return ((m >= 379 || n >= 379) && m < 378 * t) || k < 378 * t;
}

bool shape_allows_avx512(char tb, int64_t m, int64_t n, int64_t k, int64_t t) {
    const int64_t limit = 28 * t;
    const bool rows_fit = tb == 'N' ? m <= limit : (m <= limit && m >= n);
    return rows_fit || n <= limit || k <= t;
}

bool shape_allows_avx2(char tb, int64_t m, int64_t n, int64_t k, int64_t t) {
    if (m <= 128 && n <= 128) return true;
    if (tb == 'N') return n <= 16 * t || k <= 2 * t || m <= 64;
    return n <= t || k <= t;
}

// One step of the AVX-512 balancing: the larger side (n when equal) moves
// `ratio` times for every move of the smaller side.
void balance_step(int64_t &mb, int64_t &nb, int64_t ratio, int64_t &moves, int64_t delta) {
    int64_t &larger = nb < mb ? mb : nb;
    int64_t &smaller = nb < mb ? nb : mb;
    if (moves < ratio) {
        larger += delta;
        ++moves;
    } else {
        smaller += delta;
        moves = 0;
    }
}

// More blocks than threads: a side of at most sqrt(R) blocks that divides R
// (capped at n columns, or at m/16 blocks of rows), and R divided by it.
void square_root_fit(int64_t &mb, int64_t &nb, int64_t threads, int64_t m, int64_t n) {
    const int64_t s = static_cast<int64_t>(std::sqrt(static_cast<double>(threads)));
    if (nb < mb) {
        nb = largest_divisor_not_above(threads, std::min(s, n));
        mb = threads / nb;
    } else {
        mb = largest_divisor_not_above(threads, std::min(s, (m + 15) / 16));
        nb = threads / mb;
    }
}

// Block sizes for mb x nb x kp parts, the parts the blocks leave non-empty,
// stored in the plan.
void store_grid(int64_t m, int64_t n, int64_t k, int64_t mb, int64_t nb, int64_t kp, ThreadOpts *opts) {
    const int64_t bm = round_up(ceil_div(m, mb), 16);
    const int64_t bn = ceil_div(n, nb);
    const int64_t bk = round_up(ceil_div(k, kp), 4);
    if (bm * mb > m) mb = ceil_div(m, bm);
    if (bn * nb > n) nb = ceil_div(n, bn);
    if (bk * kp > k) kp = ceil_div(k, bk);
    opts->m_parts = static_cast<int32_t>(mb);
    opts->n_parts = static_cast<int32_t>(nb);
    opts->k_parts = static_cast<int32_t>(kp);
    opts->params->block_m = bm;
    opts->params->block_n = bn;
    opts->params->block_k = bk;
}

}  // namespace

bool simple_3d_passes(bool avx512_rules, const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m,
                      int64_t n, int64_t ldc, const ThreadOpts *opts) {
    if (plan_is_strict(opts)) return false;
    const char ta = folded_trans(op->transa), tb = folded_trans(op->transb);
    const int64_t t = opts->thread_count;
    if (avx512_rules && !leading_dimensions_allow(ta, tb, m, n, k, lda, ldb, ldc)) return false;
    if (!size_allows(m, n, k, t)) return false;
    return avx512_rules ? shape_allows_avx512(tb, m, n, k, t) : shape_allows_avx2(tb, m, n, k, t);
}

bool simple_3d_test(const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m, int64_t n,
                    int64_t ldc, const ThreadOpts *opts) {
    return simple_3d_passes(opts->cpu_type == kCpuTypeAvx512, op, k, lda, ldb, m, n, ldc, opts);
}

// AVX-512: k is split only for at most 128 columns and 64T rows, into a
// divisor of T of at most min(T/4, k/192) parts.  On a two-package machine
// whose team outgrows a package, a shallow call of 16 to 64 columns whose
// A is not given as 'T' takes T/2 x 2 blocks and an unsplit k.  The blocks
// are then halved while more than four per thread, and the sides brought to
// between 0.95 and 1 block per thread, the larger side moving r times (r the
// truncated ratio of the starting sides) for each move of the smaller.
void plan_simple_3d_avx512(char ta, int64_t m, int64_t n, int64_t k, ThreadOpts *opts,
                           const PackageLayout &layout) {
    const int64_t t = opts->thread_count;
    int64_t kp = 1, threads = t;
    if (n <= 128 && m <= 64 * t) {
        const int64_t c = std::min(t / 4, k / 192);
        if (c >= 2) {
            kp = largest_divisor_not_above(t, c);
            threads = t / kp;
        }
    }
    int64_t mb = std::max<int64_t>(1, (m + 31) / 32);
    int64_t nb = std::max<int64_t>(1, (n + 63) / 64);
    if (n >= 16 && n <= 64 && m >= 48 * (t / 2) && k <= 512 && ta != 'T' && layout.packages == 2 &&
        layout.cores_per_package < t) {
        mb = t / 2;
        nb = 2;
        kp = 1;
        threads = t;
    }
    const int64_t ratio =
        static_cast<int64_t>(static_cast<float>(std::max(mb, nb)) / static_cast<float>(std::min(mb, nb)));
    while (mb * nb > 4 * threads) {
        mb >>= 1;
        nb >>= 1;
    }
    mb = std::max<int64_t>(mb, 1);
    nb = std::max<int64_t>(nb, 1);
    int64_t moves = 0;
    while (mb * nb > threads) balance_step(mb, nb, ratio, moves, -1);
    moves = 0;  // the growing phase counts afresh
    while (static_cast<double>(mb * nb) < 0.95 * static_cast<double>(threads)) balance_step(mb, nb, ratio, moves, 1);
    if (mb * nb > threads) square_root_fit(mb, nb, threads, m, n);
    store_grid(m, n, k, mb, nb, kp, opts);
    opts->thread_count = opts->m_parts * opts->n_parts * opts->k_parts;
}

// Other sets: a C of fewer 64 x 48 blocks than threads takes k parts of at
// least 385 - c parts while T rounded down to a multiple of c keeps more
// than 90% of the team - until the blocks times the parts cover the team.
// The blocks are then brought to exactly the threads a k part has, one side
// at a time (the larger shrinks, the smaller grows).  The thread count stays.
void plan_simple_3d_avx2(int64_t m, int64_t n, int64_t k, ThreadOpts *opts) {
    const int64_t t = opts->thread_count;
    int64_t mb = (m + 63) / 64, nb = (n + 47) / 48, kp = 1;
    const int64_t blocks = mb * nb;
    if (blocks < t) {
        for (int64_t c = 2; k / c >= 385; ++c) {
            if (static_cast<double>(t - t % c) > 0.9 * static_cast<double>(t)) kp = c;
            if (blocks * c >= t) break;
        }
    }
    const int64_t threads = t / kp;
    if (m >= 1 && m <= 64) nb = threads;
    if (nb == 1) mb = threads;
    while (mb * nb > threads) (nb >= mb ? nb : mb) -= 1;
    while (mb * nb < threads) (nb <= mb ? nb : mb) += 1;
    if (mb * nb > threads && mb >= 2 && nb >= 2) square_root_fit(mb, nb, threads, m, n);
    store_grid(m, n, k, mb, nb, kp, opts);
}
