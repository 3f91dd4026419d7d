// sgemm_reference.cpp - the reference-form SGEMM entry points.
//
// SGEMM, sgemm, sgemm_ and orb_blas__sgemm are one routine taking 32-bit
// integers by reference; SGEMM_64, sgemm_64 and sgemm_64_ are its twin with
// 64-bit integers.  A call makes sure an error handler is installed, checks
// its arguments (a bad one is reported and the call returns with C
// untouched), widens the integers to 64 bits and runs the SGEMM driver.
// When the verbose mode is on, the call is timed and logged, a rejected call
// included.
//
// Each routine caches a pointer to the verbose flag.  The pointer starts at
// a constant -1 ("not known yet") and is replaced by the live flag's address
// the first time the mode matters, so that later calls cost one load and one
// comparison.  Threads racing on that first time store the same address.
#include <atomic>
#include <cstdint>

#include "blas/gemm/sgemm_driver.h"
#include "blas/interface/verbose_hooks.h"
#include "orb_blas.h"

namespace {

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
    static std::atomic<const int *> verbose;  // this routine's cached verbose pointer
};

template <>
struct SgemmForm<int64_t> {
    using Printed = long long;  // how an integer argument is printed (%lli)
    static constexpr const char *kLogFormat = "SGEMM_64(%c,%c,%lli,%lli,%lli,%p,%p,%lli,%p,%lli,%p,%p,%lli)";
    static int check(const SgemmArgs<int64_t> &g) {
        return orb_blas_errchk_sgemm_ilp64(g.transa, g.transb, g.m, g.n, g.k, g.alpha, g.a, g.lda, g.b, g.ldb,
                                           g.beta, g.c, g.ldc, 1, 1);
    }
    static std::atomic<const int *> verbose;  // this routine's cached verbose pointer
};

// The value the cached pointers start at: the mode is not known yet.
constexpr int kVerboseUnknown = -1;
const int verbose_unknown = kVerboseUnknown;

std::atomic<const int *> SgemmForm<int>::verbose{&verbose_unknown};
std::atomic<const int *> SgemmForm<int64_t>::verbose{&verbose_unknown};

int read_verbose(const std::atomic<const int *> &cache) {
    return __atomic_load_n(cache.load(std::memory_order_acquire), __ATOMIC_RELAXED);
}

// Whether this call is logged, given the value read at entry: an unknown
// mode is settled by fetching (and caching) the live flag.
bool call_is_logged(std::atomic<const int *> &cache, int seen) {
    if (seen != kVerboseUnknown) return seen != 0;
    cache.store(orb_serv_iface_verbose_mode(), std::memory_order_release);
    return read_verbose(cache) != 0;
}

// The elapsed time since a reading t0; a zero reading means no clock.
double elapsed_since(double t0) { return t0 == 0.0 ? 0.0 : orb_serv_iface_dsecnd() - t0; }

// Arguments are printed defensively: a rejected call may carry null pointers.
template <typename Int>
typename SgemmForm<Int>::Printed printed(const Int *value) {
    return value != nullptr ? static_cast<typename SgemmForm<Int>::Printed>(*value) : 0;
}
char printed(const char *trans) { return trans != nullptr ? *trans : ' '; }

constexpr size_t kLogLineSize = 450;

template <typename Int>
void log_call(const SgemmArgs<Int> &g, double seconds) {
    char line[kLogLineSize];
    orb_serv_snprintf_s(line, kLogLineSize, kLogLineSize - 1, SgemmForm<Int>::kLogFormat, printed(g.transa),
                        printed(g.transb), printed(g.m), printed(g.n), printed(g.k),
                        static_cast<const void *>(g.alpha), static_cast<const void *>(g.a), printed(g.lda),
                        static_cast<const void *>(g.b), printed(g.ldb), static_cast<const void *>(g.beta),
                        static_cast<void *>(g.c), printed(g.ldc));
    line[kLogLineSize - 1] = '\0';
    orb_serv_iface_print_verbose_info(1, line, seconds);
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
    orb_set_xerbla_interface(cdecl_xerbla);
    std::atomic<const int *> &verbose = SgemmForm<Int>::verbose;
    const int seen = read_verbose(verbose);

    if (SgemmForm<Int>::check(g) != 0) {
        if (call_is_logged(verbose, seen)) log_call(g, elapsed_since(orb_serv_iface_dsecnd()));
        return;
    }
    if (!call_is_logged(verbose, seen)) {
        run_driver(g);
        return;
    }
    const double t0 = orb_serv_iface_dsecnd();
    run_driver(g);
    log_call(g, elapsed_since(t0));
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
