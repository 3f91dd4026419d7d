// sgemmger_driver.h - the rank-1 update of an SGEMM whose inner dimension is 1.
//
// orb_blas_sgemmger computes C := beta*C + alpha*x*y' for a column-major
// m x n matrix C, x of m elements and y of n elements with positive
// increments.  It decides whether the columns of C are worth sharing among a
// thread team; orb_blas_sgemmger_omp cuts C into one block of columns per
// requested thread and runs the kernel dispatcher orb_blas_xsgemmger on each.
#ifndef ORB_BLAS_GEMV_SGEMMGER_DRIVER_H
#define ORB_BLAS_GEMV_SGEMMGER_DRIVER_H

#include <cstdint>

extern "C" {
// C := beta*C + alpha*x*y'; the transposition characters are handed on
// unread.  Every integer is 64-bit and passed by pointer.
void orb_blas_sgemmger(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                       const float *alpha, const float *x, const int64_t *incx, const float *y, const int64_t *incy,
                       const float *beta, float *c, const int64_t *ldc);

// The same update on nthreads threads (one thread: the dispatcher itself).
void orb_blas_sgemmger_omp(int nthreads, const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                           const float *alpha, const float *x, const int64_t *incx, const float *y,
                           const int64_t *incy, const float *beta, float *c, const int64_t *ldc);
}

// What the thread decision looks at.
struct SgemmgerThreadQuery {
    int64_t n;          // columns of C
    int cpu_type;       // orb_serv_cpu_detect()
    int ruzuv;          // the Ruzuv-processor test, orb_serv_get_cpu()()
    int branch;         // reproducibility branch, orb_serv_cbwr_get(1)
    int auto_ceiling;   // orb_serv_cbwr_get_auto_branch(), looked at under AUTO only
    int max_threads;    // P, orb_serv_domain_get_max_threads(1)
};

// Threads of the update of a non-empty C: 1 or the team size to request.
int sgemmger_thread_count(const SgemmgerThreadQuery &query);

#endif
