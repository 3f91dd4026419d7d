// sgemm_thread_count.h - how many threads an SGEMM call deserves.
//
// Before the top-level driver commits to a threaded driver it weighs the
// work of the call, m*n*k scaled by the kernel set's speed, against a
// per-thread overhead that grows with the team, and takes the largest team
// whose share still pays for it.  A count of 1 runs the serial dispatcher.
#ifndef ORB_BLAS_GEMM_SGEMM_THREAD_COUNT_H
#define ORB_BLAS_GEMM_SGEMM_THREAD_COUNT_H

#include <cstdint>

#include "blas/gemm/gemm_records.h"

// The thread count for a call of m x n x k on the kernel set of cpu_type when
// the BLAS domain allows `limit` threads; never above the limit.
int sgemm_thread_count(int64_t m, int64_t n, int64_t k, uint32_t cpu_type, int limit);

// True when sgemm_thread_count() is 1 for this shape on every kernel set and
// under every limit: the work figure, at its larger scale, is below the
// smallest team's threshold.  Small products take this test first and skip
// the thread settings and the OpenMP queries altogether.
bool sgemm_one_thread_by_shape(int64_t m, int64_t n, int64_t k);

extern "C" {
// Reads opts->cpu_type; stores the BLAS-domain limit into max threads and
// sgemm_thread_count() into thread count.  m, n, k are read once each.
void thread_checker(const int64_t *m, const int64_t *n, const int64_t *k, ThreadOpts *opts);
}

#endif
