// thread_plan.cpp - the rule sets of the thread plan (see thread_plan.h).
//
// After the simple 3-D test (simple_3d_plan.cpp), with T threads:
//
// AVX-512 (cpu type 7):
//   1. m > 6144, n > 384T, k > 1536: lookahead, groups of 1 thread, depth 2;
//   2. 4m and 4n above 384T, k > 1536, T a multiple of 4: groups of 4;
//   3. the k-split grid (calc_nthr_3d_avx512) for deep calls;
//   4. the small-shape model, or an n split with A copied for m >= 1000 and
//      n >= 96T;
//   5. a 1-D split, or the 2-D grid when the call is wide.
// Every other cpu type: the same order with lookahead only for m > 2000
// (groups of 2 or 4, blocks of 16000), its own k-split grid and thresholds.
#include "blas/gemm/thread_plan.h"

#include <algorithm>

#include "orb_threads.h"

namespace {

constexpr uint32_t kCpuTypeAvx512 = 7;
// ThreadOpts::permission_3d while the k-split grid may be tried.
constexpr int32_t kKSplitAllowed = 2;
// The k-split grids need m*n below this.
constexpr int64_t kKSplitMaxCells = 26214400;

struct Lookahead {
    int32_t group_size;  // threads per group
    int32_t depth;       // lookahead depth: divides the n block of the shared buffers
    int64_t block;       // m block of the packed A buffers
};

void plan_lookahead(ThreadOpts *opts, const Lookahead &la) {
    opts->partition_kind = kPartitionLookahead;
    opts->copy_method = kCopyALookahead;
    opts->lookahead_group_size = la.group_size;
    opts->lookahead_depth = la.depth;
    opts->lookahead_flag = 0;
    opts->lookahead_block = la.block;
    opts->working_threads = opts->thread_count;
    opts->rounding_mode = 0;
}

void plan_columns_with_a_copy(ThreadOpts *opts) {
    opts->partition_kind = kPartitionColumns;
    opts->copy_method = kCopyAParallel;
    opts->working_threads = opts->thread_count;
}

// Every thread takes a share of k of the whole of C.
void plan_k_shares(ThreadOpts *opts) {
    opts->m_parts = 1;
    opts->n_parts = 1;
    opts->k_parts = opts->thread_count;
    opts->partition_kind = kPartitionKSplit;
}

bool k_split_permitted(const ThreadOpts *opts, int64_t m, int64_t n, int64_t k) {
    return opts->permission_3d == kKSplitAllowed && !plan_is_strict(opts) && opts->thread_count % 2 == 0 &&
           m * n < kKSplitMaxCells && 8 * std::min(m, n) <= k;
}

// The small-shape model's bounds: 24 <= m <= 378, 8 <= n <= 378, k >= 336.
bool small_shape_wins(const ThreadOpts *opts, int64_t m, int64_t n, int64_t k) {
    return !plan_is_strict(opts) && m >= 24 && m <= 378 && n >= 8 && n <= 378 && k >= 336 &&
           small_shape_model(opts->thread_count, m, n, k);
}

// A call is wide when m >= 768 and n/T lies outside 193..384.
bool wide(int64_t m, int64_t n, int t) {
    const int64_t q = n / t;
    return !(q >= 193 && q <= 384) && m >= 768;
}

// The 1-D split: m when C is taller than wide and has more than
// `rows_per_thread` rows a thread (or n < T), n otherwise.
void plan_one_dimensional(ThreadOpts *opts, int64_t m, int64_t n, int64_t rows_per_thread) {
    const int t = opts->thread_count;
    opts->partition_kind = (n < m && (m / t > rows_per_thread || n < t)) ? kPartitionRows : kPartitionColumns;
}

void plan_split_of_c(ThreadOpts *opts, int64_t m, int64_t n, bool is_wide, int64_t rows_per_thread) {
    if (is_wide) {
        plan_two_dimensional(m, n, opts);
        opts->partition_kind = kPartitionGrid;
    } else {
        plan_one_dimensional(opts, m, n, rows_per_thread);
    }
}

// Copy method and rounding mode start at 0; true when the simple 3-D grid
// was taken.
bool planned_simple_3d(const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m, int64_t n,
                       int64_t ldc, ThreadOpts *opts, const PackageLayout &layout) {
    opts->copy_method = kCopyNone;
    opts->rounding_mode = 0;
    const bool avx512 = opts->cpu_type == kCpuTypeAvx512;
    if (!simple_3d_passes(avx512, op, k, lda, ldb, m, n, ldc, opts)) return false;
    opts->copy_method = kCopySimple3d;
    if (avx512) plan_simple_3d_avx512(folded_trans(op->transa), m, n, k, opts, layout);
    else plan_simple_3d_avx2(m, n, k, opts);
    return true;
}

void plan_avx512(const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m, int64_t n, int64_t ldc,
                 ThreadOpts *opts, const PackageLayout &layout) {
    if (planned_simple_3d(op, k, lda, ldb, m, n, ldc, opts, layout)) return;
    const int t = opts->thread_count;
    if (m > 6144 && n > 384 * t && k > 1536) return plan_lookahead(opts, {1, 2, 6144});
    if (4 * m > 384 * t && 4 * n > 384 * t && k > 1536 && t % 4 == 0) return plan_lookahead(opts, {4, 2, 6144});
    if (k_split_permitted(opts, m, n, k) && ((m > 1303 && n > 15 && k > 1303) || n * t < 8 * k)) {
        calc_nthr_3d_avx512(m, n, k, opts);
        opts->partition_kind = kPartitionKSplit;
        return;
    }
    if (small_shape_wins(opts, m, n, k)) return plan_k_shares(opts);
    if (m >= 1000 && n >= 96 * t) return plan_columns_with_a_copy(opts);
    plan_split_of_c(opts, m, n, wide(m, n, t), 15);
}

void plan_avx2(const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m, int64_t n, int64_t ldc,
               ThreadOpts *opts) {
    if (planned_simple_3d(op, k, lda, ldb, m, n, ldc, opts, PackageLayout{})) return;
    const int t = opts->thread_count;
    if (m > 2000) {
        if (n > 384 * t && k > 1536 && t % 2 == 0) return plan_lookahead(opts, {2, 1, 16000});
        if ((4 * n > 384 * t || n > 3999) && k > 1536 && t % 4 == 0)
            return plan_lookahead(opts, {4, 2 * n < 384 * t + 3072 ? 2 : 1, 16000});
    }
    if (k_split_permitted(opts, m, n, k) && m > 1303 && n > 15 && k > 1303 && std::max(m, n) <= k) {
        calc_nthr_3d_avx2(m, n, k, opts);
        opts->partition_kind = kPartitionKSplit;
        return;
    }
    if (small_shape_wins(opts, m, n, k)) return plan_k_shares(opts);
    if (m >= 1000 && n > 3999) return plan_columns_with_a_copy(opts);
    // Tall calls of at most 384 columns with 384 rows a thread are never wide.
    plan_split_of_c(opts, m, n, !(n <= 384 && m / t >= 384) && wide(m, n, t), 7);
}

}  // namespace

PackageLayout package_layout_of_machine() { return {orb_serv_get_ncpus(), orb_serv_get_ncorespercpu()}; }

void plan_thread_opts(const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m, int64_t n,
                      int64_t ldc, ThreadOpts *opts, const PackageLayout &layout) {
    if (opts->cpu_type == kCpuTypeAvx512) plan_avx512(op, k, lda, ldb, m, n, ldc, opts, layout);
    else plan_avx2(op, k, lda, ldb, m, n, ldc, opts);
}

// From (1, T), for an even T: double the m parts and halve the n parts until
// an m part has fewer than 768 rows, there are 4 m parts, the n parts
// become odd, or - when n has fewer than 385 columns a thread - an n part
// has more than 192 columns.
void plan_two_dimensional(int64_t m, int64_t n, ThreadOpts *opts) {
    const int t = opts->thread_count;
    int mp = 1, np = t;
    if (t % 2 == 0) {
        while (!(m / mp < 768 || mp >= 4 || (n / t < 385 && n / np > 192))) {
            mp *= 2;
            np /= 2;
            if (np % 2 != 0) break;
        }
    }
    opts->m_parts = mp;
    opts->n_parts = np;
}

int64_t largest_divisor_not_above(int64_t x, int64_t c) {
    int64_t d = std::max<int64_t>(c, 1);
    while (x % d != 0) --d;
    return d;
}

extern "C" {

void set_thread_opts(const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m, int64_t n,
                     int64_t ldc, ThreadOpts *opts) {
    if (opts->cpu_type == kCpuTypeAvx512) plan_avx512(op, k, lda, ldb, m, n, ldc, opts, package_layout_of_machine());
    else set_thread_opts_avx2(op, k, lda, ldb, m, n, ldc, opts);
}

void set_thread_opts_avx2(const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m, int64_t n,
                          int64_t ldc, ThreadOpts *opts) {
    plan_avx2(op, k, lda, ldb, m, n, ldc, opts);
}

}  // extern "C"
