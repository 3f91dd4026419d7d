// sgemm_reference.cpp - the reference-form SGEMM entry points.
//
// SGEMM, sgemm, sgemm_ and orb_blas__sgemm are one routine taking 32-bit
// integers by reference; SGEMM_64, sgemm_64 and sgemm_64_ are its twin with
// 64-bit integers.  A call makes sure an error handler is installed, checks
// its arguments (a bad one is reported and the call returns with C
// untouched), widens the integers to 64 bits and runs the SGEMM driver.
// When the verbose mode is on, the call is timed and logged, a rejected call
// included (reference_call.h holds that frame, shared with SGEMV).
#include <cstdint>

#include "blas/gemm/sgemm_driver.h"
#include "blas/interface/reference_call.h"
#include "orb_blas.h"

namespace {

using orb_interface::log_call_line;
using orb_interface::printed_letter;
using orb_interface::VerboseFlag;

// The arguments of one call as the caller passed them.
template <typename Int>
struct SgemmArgs {
    const char *transa;  // transposition character of A
    const char *transb;  // transposition character of B
    const Int *m;        // rows of op(A) and C
    const Int *n;        // columns of op(B) and C
    const Int *k;        // columns of op(A), rows of op(B)
    const float *alpha;  // scale of the product
    const float *a;      // A
    const Int *lda;      // leading dimension of A
    const float *b;      // B
    const Int *ldb;      // leading dimension of B
    const float *beta;   // scale of C
    float *c;            // C, overwritten
    const Int *ldc;      // leading dimension of C
};

// What sets the 32-bit routine and the 64-bit routine apart.
template <typename Int>
struct SgemmForm;

template <>
struct SgemmForm<int> {
    using Printed = int;  // how an integer argument is printed (%d)
    static constexpr const char *kLogFormat = "SGEMM(%c,%c,%d,%d,%d,%p,%p,%d,%p,%d,%p,%p,%d)";
    static int check(const SgemmArgs<int> &g) {
        return orb_blas_errchk_sgemm(g.transa, g.transb, g.m, g.n, g.k, g.alpha, g.a, g.lda, g.b, g.ldb, g.beta,
                                     g.c, g.ldc, 1, 1);
    }
    static VerboseFlag verbose;  // this routine's cached verbose mode
};

template <>
struct SgemmForm<int64_t> {
    using Printed = long long;  // how an integer argument is printed (%lli)
    static constexpr const char *kLogFormat = "SGEMM_64(%c,%c,%lli,%lli,%lli,%p,%p,%lli,%p,%lli,%p,%p,%lli)";
    static int check(const SgemmArgs<int64_t> &g) {
        return orb_blas_errchk_sgemm_ilp64(g.transa, g.transb, g.m, g.n, g.k, g.alpha, g.a, g.lda, g.b, g.ldb,
                                           g.beta, g.c, g.ldc, 1, 1);
    }
    static VerboseFlag verbose;  // this routine's cached verbose mode
};

VerboseFlag SgemmForm<int>::verbose;
VerboseFlag SgemmForm<int64_t>::verbose;

template <typename Int>
typename SgemmForm<Int>::Printed printed(const Int *value) {
    return orb_interface::printed_integer<typename SgemmForm<Int>::Printed>(value);
}

template <typename Int>
void log_call(const SgemmArgs<Int> &g, double seconds) {
    log_call_line(seconds, SgemmForm<Int>::kLogFormat, printed_letter(g.transa), printed_letter(g.transb),
                  printed(g.m), printed(g.n), printed(g.k), static_cast<const void *>(g.alpha),
                  static_cast<const void *>(g.a), printed(g.lda), static_cast<const void *>(g.b), printed(g.ldb),
                  static_cast<const void *>(g.beta), static_cast<void *>(g.c), printed(g.ldc));
}

// The driver call: the 32-bit routine passes sign-extended copies of its
// integers, the 64-bit routine the caller's own.
void run_driver(const SgemmArgs<int> &g) {
    const int64_t m = *g.m, n = *g.n, k = *g.k, lda = *g.lda, ldb = *g.ldb, ldc = *g.ldc;
    orb_blas_sgemm(g.transa, g.transb, &m, &n, &k, g.alpha, g.a, &lda, g.b, &ldb, g.beta, g.c, &ldc, 1, 1);
}

void run_driver(const SgemmArgs<int64_t> &g) {
    orb_blas_sgemm(g.transa, g.transb, g.m, g.n, g.k, g.alpha, g.a, g.lda, g.b, g.ldb, g.beta, g.c, g.ldc, 1, 1);
}

template <typename Int>
void reference_sgemm(const SgemmArgs<Int> &g) {
    orb_interface::run_reference_call(
        SgemmForm<Int>::verbose, [&] { return SgemmForm<Int>::check(g); }, [&] { run_driver(g); },
        [&](double seconds) { log_call(g, seconds); });
}

}  // namespace

extern "C" {

void sgemm_(const char *transa, const char *transb, const int *m, const int *n, const int *k, const float *alpha,
            const float *a, const int *lda, const float *b, const int *ldb, const float *beta, float *c,
            const int *ldc, size_t /*la*/, size_t /*lb*/) {
    reference_sgemm<int>({transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc});
}

void SGEMM(const char *transa, const char *transb, const int *m, const int *n, const int *k, const float *alpha,
           const float *a, const int *lda, const float *b, const int *ldb, const float *beta, float *c,
           const int *ldc, size_t la, size_t lb) __attribute__((alias("sgemm_")));
void sgemm(const char *transa, const char *transb, const int *m, const int *n, const int *k, const float *alpha,
           const float *a, const int *lda, const float *b, const int *ldb, const float *beta, float *c,
           const int *ldc, size_t la, size_t lb) __attribute__((alias("sgemm_")));
void orb_blas__sgemm(const char *transa, const char *transb, const int *m, const int *n, const int *k,
                     const float *alpha, const float *a, const int *lda, const float *b, const int *ldb,
                     const float *beta, float *c, const int *ldc, size_t la, size_t lb)
    __attribute__((alias("sgemm_")));

void sgemm_64_(const char *transa, const char *transb, const int64_t *m, const int64_t *n, const int64_t *k,
               const float *alpha, const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
               const float *beta, float *c, const int64_t *ldc, size_t /*la*/, size_t /*lb*/) {
    reference_sgemm<int64_t>({transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc});
}

void SGEMM_64(const char *transa, const char *transb, const int64_t *m, const int64_t *n, const int64_t *k,
              const float *alpha, const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
              const float *beta, float *c, const int64_t *ldc, size_t la, size_t lb)
    __attribute__((alias("sgemm_64_")));
void sgemm_64(const char *transa, const char *transb, const int64_t *m, const int64_t *n, const int64_t *k,
              const float *alpha, const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
              const float *beta, float *c, const int64_t *ldc, size_t la, size_t lb)
    __attribute__((alias("sgemm_64_")));

}  // extern "C"
