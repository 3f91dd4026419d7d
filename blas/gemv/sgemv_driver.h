// sgemv_driver.h - the SGEMV driver and its thread team.
//
// orb_blas_sgemv computes y := alpha*op(A)*x + beta*y for a column-major
// m x n matrix A after the entry points have checked the arguments.  It
// decides whether the call is worth a thread team; one thread runs the kernel
// dispatcher orb_blas_xsgemv on the whole problem, a team runs
// orb_blas_sgemv_omp, whose members cut the problem in one of four ways
// (columns with a reduction, rows, the summation dimension of a transposed
// product with a reduction, or the outputs of a transposed product) and run
// the dispatcher on their share.  The pieces that decide are pure functions
// declared here so that they can be examined on their own.
#ifndef ORB_BLAS_GEMV_SGEMV_DRIVER_H
#define ORB_BLAS_GEMV_SGEMV_DRIVER_H

#include <cstdint>

extern "C" {
// y := alpha*op(A)*x + beta*y; trans 'N'/'n' plain, anything else
// transposed.  Every integer is 64-bit and passed by pointer; the twelfth
// argument is accepted for the callers that pass one and is ignored.
void orb_blas_sgemv(const char *trans, const int64_t *m, const int64_t *n, const float *alpha, const float *a,
                    const int64_t *lda, const float *x, const int64_t *incx, const float *beta, float *y,
                    const int64_t *incy, int flag = 1);

// The same product on a team of nthreads threads.
void orb_blas_sgemv_omp(int nthreads, const char *trans, const int64_t *m, const int64_t *n, const float *alpha,
                        const float *a, const int64_t *lda, const float *x, const int64_t *incx, const float *beta,
                        float *y, const int64_t *incy);
}

// What the thread decision looks at.
struct SgemvThreadQuery {
    int cpu_type;      // orb_serv_cpu_detect()
    int ruzuv;         // the Ruzuv-processor test, orb_serv_get_cpu()()
    int max_threads;   // P, orb_serv_domain_get_max_threads(1)
    int dynamic;       // orb_serv_get_dynamic()
    int64_t m;         // rows of A
    int64_t n;         // columns of A
    bool transposed;   // op(A) is the transpose
};

// What the thread decision answers.
struct SgemvThreadDecision {
    bool forks;   // true: orb_blas_sgemv_omp; false: one call of the dispatcher
    int threads;  // team size requested when forking (1 when not)
};

// The thread decision for a non-empty problem (m, n > 0).
SgemvThreadDecision sgemv_thread_decision(const SgemvThreadQuery &query);

// How the members of a team of more than one thread share the product.
enum class SgemvSplit {
    kColumnsWithReduction,  // plain: each member a column range into a partial vector
    kRows,                  // plain: each member a block of rows of y
    kSumWithReduction,      // transposed: each member a range of A's rows into a partial vector
    kOutputs,               // transposed: each member a range of the elements of y
};

// The split for a team requested with `requested` threads.
SgemvSplit sgemv_choose_split(bool transposed, int64_t m, int64_t n, int requested);

// A run of rows (or columns, or elements).
struct SgemvRange {
    int64_t start;  // first index
    int64_t count;  // number of indices, 0 for an empty share
};

// The even share of member tid of T over len indices: the first len mod T
// members take one more, and the others are counted from the end.
SgemvRange sgemv_even_share(int64_t len, int team, int tid);

// The rows of y that member tid of T computes in the row split; offset is
// the number of elements by which y lies past a 64-byte boundary (0 when the
// blocks are not aligned to y).
SgemvRange sgemv_row_block(int64_t m, int team, int tid, int64_t offset);

// The sum over count partial vectors (partial k at partials[k*stride]) in
// the fixed order of both reductions: start, then each full group of eight
// members in increasing order, each group as
// ((p0+p4)+(p2+p6))+((p1+p5)+(p3+p7)), then the members that do not fill a
// group one at a time from the highest down.
float orb_reduce_partials(float start, const float *partials, int64_t stride, int count);

#endif
