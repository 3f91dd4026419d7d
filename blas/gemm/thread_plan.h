// thread_plan.h - how a thread team cuts an SGEMM call.
//
// Every thread of a team of the partitioned driver computes the same plan
// from the same inputs and writes it into its ThreadOpts: the partition
// kind, the copy method, and for some strategies the grid of m-, n- and
// k-parts with its block sizes.  There are two rule sets, one for the
// AVX-512 kernel set (cpu type 7) and one for every other set.  Each tries,
// in order:
//   - the simple 3-D grid of independent no-copy blocks (not in the strict
//     reproducible mode);
//   - the lookahead strategy with shared A panels, for large shapes;
//   - the grid that also splits k, with a reduction (not strict);
//   - the small-shape model, which may give every thread a share of k alone
//     (not strict);
//   - a 1-D split of m or n, or a 2-D grid for wide shapes.
// The plan depends only on the shape, the transpositions, whether the
// leading dimensions are multiples of 256, the thread count, the cpu type,
// the strict flag, and for one AVX-512 case the machine's package layout,
// which reaches the pure functions below as a PackageLayout.
//
// The block sizes of the simple 3-D grid are written, and the strict flag is
// read, through opts->params: the parameter block of the call, shared by the
// whole team.
#ifndef ORB_BLAS_GEMM_THREAD_PLAN_H
#define ORB_BLAS_GEMM_THREAD_PLAN_H

#include <cstdint>

#include "blas/gemm/gemm_records.h"

// The machine as the AVX-512 simple 3-D grid sees it.
struct PackageLayout {
    int packages;           // processor packages (orb_serv_get_ncpus)
    int cores_per_package;  // physical cores per package (orb_serv_get_ncorespercpu)
};

// Values of ThreadOpts::partition_kind and copy_method written by the plan.
enum : int32_t {
    kPartitionRows = 0,       // 1-D split of m
    kPartitionColumns = 1,    // 1-D split of n
    kPartitionGrid = 2,       // 2-D grid of m x n blocks
    kPartitionKSplit = 5,     // grid with k split, reduced afterwards
    kPartitionLookahead = 7,  // lookahead over shared A panels
    kCopyNone = 0,            // no shared copy
    kCopyAParallel = 1,       // A copied by the team
    kCopyALookahead = 2,      // A copied with lookahead
    kCopySimple3d = 5         // simple 3-D grid of no-copy blocks
};

// The machine's layout from the thread service.
PackageLayout package_layout_of_machine();

// The plan of both rule sets for any package layout.
void plan_thread_opts(const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m, int64_t n,
                      int64_t ldc, ThreadOpts *opts, const PackageLayout &layout);

// True when the call runs as a simple 3-D grid: the strict flag is 0 and the
// shape (and, for cpu type 7, the leading dimensions) suits independent
// no-copy blocks of opts->thread_count threads.  The partitioned driver asks
// this before it forms a team.
bool simple_3d_test(const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m, int64_t n,
                    int64_t ldc, const ThreadOpts *opts);
// The same test under the AVX-512 rules (avx512_rules) or the others,
// whatever opts->cpu_type says.
bool simple_3d_passes(bool avx512_rules, const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m,
                      int64_t n, int64_t ldc, const ThreadOpts *opts);

// The simple 3-D grids: m, n and k parts and block sizes.  The AVX-512 grid
// also rewrites the thread count to the cells times the k parts.
void plan_simple_3d_avx512(char ta, int64_t m, int64_t n, int64_t k, ThreadOpts *opts, const PackageLayout &layout);
void plan_simple_3d_avx2(int64_t m, int64_t n, int64_t k, ThreadOpts *opts);

// The small-shape model: true when T threads each taking a share of k beat
// a split of C for an m x n x k call.
bool small_shape_model(int threads, int64_t m, int64_t n, int64_t k);

// The 2-D grid of a wide call: m parts and n parts of T.
void plan_two_dimensional(int64_t m, int64_t n, ThreadOpts *opts);

// The largest d with 1 <= d <= max(c, 1) that divides x.
int64_t largest_divisor_not_above(int64_t x, int64_t c);

// The strict reproducible mode of the call, from the shared trailer.
inline bool plan_is_strict(const ThreadOpts *opts) { return opts->params->trailer->strict != 0; }

// The case-folded first character of a transposition argument.
inline char folded_trans(const char *trans) { return (*trans >= 'a' && *trans <= 'z') ? *trans - 'a' + 'A' : *trans; }

extern "C" {
// The plan for this machine: cpu type 7 takes the AVX-512 rules, every other
// type set_thread_opts_avx2.  Of lda, ldb and ldc only whether each is a
// multiple of 256 counts.
void set_thread_opts(const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m, int64_t n,
                     int64_t ldc, ThreadOpts *opts);
// The rules of every cpu type but 7.
void set_thread_opts_avx2(const BlasOpParams *op, int64_t k, int64_t lda, int64_t ldb, int64_t m, int64_t n,
                          int64_t ldc, ThreadOpts *opts);
// The k-split grids: m, n and k parts whose product is the thread count.
void calc_nthr_3d_avx2(int64_t m, int64_t n, int64_t k, ThreadOpts *opts);
void calc_nthr_3d_avx512(int64_t m, int64_t n, int64_t k, ThreadOpts *opts);
}

#endif
