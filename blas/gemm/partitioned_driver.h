// partitioned_driver.h - the threaded SGEMM of the kernel sets that describe
// themselves to the drivers (avx2 and avx512).
//
// gemm_omp_driver_v2 runs one call on a team of threads.  It either cuts the
// product into independent (row block, column block, k part) work items
// computed with the no-copy kernels (the simple three-dimensional split,
// omp_simple_3d), or forks a team in which every thread plans the same cut
// (set_thread_opts), narrows its copies of the operand descriptors to its own
// share and runs one of the parallel strategies below on it.  The team
// shares only what the forking thread reserves on its stack: a few
// SgemmBuffers records and synchronisation slots, reached through the group
// fields of each thread's ThreadOpts.
#ifndef ORB_BLAS_GEMM_PARTITIONED_DRIVER_H
#define ORB_BLAS_GEMM_PARTITIONED_DRIVER_H

#include <atomic>
#include <cstdint>

#include "blas/gemm/gemm_records.h"
#include "blas/kernels/kernel_interface.h"

// A team's synchronisation slot: two counters, each on a cache line of its
// own, that start at 0 for a call and only grow.
struct alignas(64) SyncSlot {
    std::atomic<int64_t> arrivals;  // threads other than thread 0 that reached the barrier
    char arrivals_line[56];         // keeps the release counter on the next line
    std::atomic<int64_t> releases;  // the arrival count thread 0 last let through
    char releases_line[56];         // keeps neighbouring slots apart
};
static_assert(sizeof(SyncSlot) == 128, "two cache lines");

// The counting barrier of a team of `threads` on slot: thread 0 waits for the
// others' arrivals and releases them.  Waiting spins, yielding the processor
// after every 5000 unsuccessful looks.
void team_barrier(SyncSlot *slot, int thread, int threads);

// A parallel strategy: every thread of the team calls it with its private
// copies of the records (op may be changed: its beta).
using SgemmParallelStrategy = void (*)(const BlasOpParams *op, MatDesc *a, MatDesc *b, MatDesc *c, ThreadOpts *opts,
                                       SgemmKernelInfo *kinfo);

// The strategies, chosen by the plan's partition kind and copy method.
void gblock_by_k_omp(const BlasOpParams *op, MatDesc *a, MatDesc *b, MatDesc *c, ThreadOpts *opts,
                     SgemmKernelInfo *kinfo);
void omp_no_parallel_copy(const BlasOpParams *op, MatDesc *a, MatDesc *b, MatDesc *c, ThreadOpts *opts,
                          SgemmKernelInfo *kinfo);
void omp_parallel_acopy(const BlasOpParams *op, MatDesc *a, MatDesc *b, MatDesc *c, ThreadOpts *opts,
                        SgemmKernelInfo *kinfo);
void omp_parallel_acopy_lookahead(const BlasOpParams *op, MatDesc *a, MatDesc *b, MatDesc *c, ThreadOpts *opts,
                                  SgemmKernelInfo *kinfo);

// The simple three-dimensional split with the plan already made (copy
// method 5, grid and block sizes in opts) and the kernel information filled.
void omp_simple_3d(const BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c, ThreadOpts *opts,
                   SgemmKernelInfo *kinfo);

// A part of a range of items cut among several parts.
struct Share {
    int64_t start;  // first item (0 for an empty share)
    int64_t size;   // number of items, 0 for an empty share
};

// Equal parts with the rest on the last: every part but the last takes q =
// count/parts, one more when the last would otherwise exceed q + 1; the last
// takes what remains (10 items in 4 parts: 3, 3, 3, 1; 9: 2, 2, 2, 3).
// Parts that would start at or past the end are empty.
inline Share leading_share(int64_t count, int64_t parts, int64_t part) {
    int64_t q = count / parts;
    if (q + 1 < count - q * (parts - 1)) ++q;
    const int64_t start = q * part;
    if (start >= count) return {0, 0};
    int64_t size = part < parts - 1 ? q : count - q * (parts - 1);
    if (size > count - start) size = count - start;
    return {start, size};
}

// Balanced parts: s = max(1, count/parts) each, one more for the first
// count - s*parts of them (10 items in 4 parts: 3, 3, 2, 2).  Parts that
// would start at or past the end are empty.
inline Share balanced_share(int64_t count, int64_t parts, int64_t part) {
    const int64_t s = count / parts > 1 ? count / parts : 1;
    const int64_t e = count - s * parts > 0 ? count - s * parts : 0;
    const int64_t start = part < e ? (s + 1) * part : e + s * part;
    if (start >= count) return {0, 0};
    int64_t size = part < e ? s + 1 : s;
    if (size > count - start) size = count - start;
    return {start, size};
}

extern "C" void gemm_omp_driver_v2(BlasOpParams op, MatDesc a, MatDesc b, MatDesc c, ThreadOpts opts);

#endif
