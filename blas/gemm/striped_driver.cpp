// striped_driver.cpp - SGEMM cut into stripes of C (the configured stripe
// count, and the small-n path of the AVX-512 set).
//
// With S stripes and a team of T threads, C is cut into rs = min(T, S) row
// stripes and cs = max(1, T div S) column stripes, each a multiple of 16
// rows or columns (the last shorter); thread t takes row stripe t mod rs and
// column stripe t div rs and computes it with the kernel set's serial GEMM
// on the unchanged k.  Threads whose stripe starts past C do nothing.
#include <omp.h>

#include "blas/gemm/striped_driver.h"
#include "blas/kernels/dispatchers.h"
#include "orb_threads.h"

namespace {

constexpr int64_t kStripeGranule = 16;

int64_t stripe_size(int64_t count, int64_t stripes) {
    const int64_t size = (count + stripes - 1) / stripes;
    return (size + kStripeGranule - 1) / kStripeGranule * kStripeGranule;
}

bool is_n(const char *t) { return *t == 'N' || *t == 'n'; }

}  // namespace

void omp_driver_stripes(const SgemmCall &g, int stripes) {
    const int64_t t = omp_get_thread_num(), threads = omp_get_num_threads();
    const int64_t rs = threads < stripes ? threads : stripes;
    const int64_t cs = threads / stripes > 1 ? threads / stripes : 1;
    const int64_t row0 = (t % rs) * stripe_size(*g.m, rs), col0 = (t / rs) * stripe_size(*g.n, cs);
    if (row0 >= *g.m || col0 >= *g.n) return;
    const int64_t rows = *g.m - row0 < stripe_size(*g.m, rs) ? *g.m - row0 : stripe_size(*g.m, rs);
    const int64_t cols = *g.n - col0 < stripe_size(*g.n, cs) ? *g.n - col0 : stripe_size(*g.n, cs);
    const float *a = is_n(g.transa) ? g.a + row0 : g.a + row0 * *g.lda;
    const float *b = is_n(g.transb) ? g.b + col0 * *g.ldb : g.b + col0;
    float *c = g.c + col0 * *g.ldc + row0;
    orb_blas_xsgemm(g.transa, g.transb, &rows, &cols, g.k, g.alpha, a, g.lda, b, g.ldb, g.beta, c, g.ldc);
}

void run_striped(const SgemmCall &g, int stripes) {
    const int threads = orb_serv_domain_get_max_threads(1);
#pragma omp parallel num_threads(threads)
    omp_driver_stripes(g, stripes);
}
