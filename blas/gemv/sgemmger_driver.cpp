// sgemmger_driver.cpp - the rank-1 update and its thread team.
//
// A rank-1 update is threaded only from 128 columns on, on a Ruzuv processor
// above the baseline cpu types, and not under the low reproducibility
// branches (COMPATIBLE up to SSE4_1, or AUTO where the processor's ceiling is
// one of them), whose results must not depend on a team.  A thread gets at
// least 32 columns.  The team cuts C into as many blocks of whole columns as
// threads were requested and deals the block numbers out with a static
// schedule; blocks write disjoint columns, so nothing is reduced.
#include "blas/gemv/sgemmger_driver.h"

#include <algorithm>

#include "blas/kernels/dispatchers.h"
#include "orb_service.h"
#include "orb_threads.h"

namespace {

// Fewer columns than this stay on one thread.
constexpr int64_t kThreadedMinColumns = 128;

// Columns per thread at least.
constexpr int64_t kColumnsPerThread = 32;

// Branches under which the update never forks: COMPATIBLE through SSE4_1.
bool is_low_branch(int branch) { return branch >= ORB_CBWR_COMPATIBLE && branch <= ORB_CBWR_SSE4_1; }

// Ceilings under AUTO that keep the update on one thread: SSE2 through SSE4_1.
bool is_low_ceiling(int ceiling) { return ceiling >= ORB_CBWR_SSE2 && ceiling <= ORB_CBWR_SSE4_1; }

// Everything but the branch and the thread limit, read in the order the
// decision needs them.
bool may_thread(int64_t n, int cpu_type, int ruzuv) {
    return n >= kThreadedMinColumns && ruzuv != 0 && cpu_type >= 2;
}

}  // namespace

int sgemmger_thread_count(const SgemmgerThreadQuery &query) {
    if (!may_thread(query.n, query.cpu_type, query.ruzuv)) return 1;
    if (is_low_branch(query.branch)) return 1;
    if (query.branch == ORB_CBWR_AUTO && is_low_ceiling(query.auto_ceiling)) return 1;
    const int p = query.max_threads;
    if (p <= 1) return 1;
    if (query.n > kColumnsPerThread * p) return p;
    return static_cast<int>(query.n / kColumnsPerThread);
}

extern "C" void orb_blas_sgemmger(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                  const float *alpha, const float *x, const int64_t *incx, const float *y,
                                  const int64_t *incy, const float *beta, float *c, const int64_t *ldc) {
    if (*n < 1) return;

    SgemmgerThreadQuery query{};
    query.n = *n;
    if (query.n >= kThreadedMinColumns) {
        query.cpu_type = orb_serv_cpu_detect();
        query.ruzuv = orb_serv_get_cpu()();
        if (may_thread(query.n, query.cpu_type, query.ruzuv)) {
            query.branch = orb_serv_cbwr_get(1);
            if (query.branch == ORB_CBWR_AUTO) query.auto_ceiling = orb_serv_cbwr_get_auto_branch();
            query.max_threads = orb_serv_domain_get_max_threads(1);
        }
    }
    const int threads = sgemmger_thread_count(query);
    if (threads > 1) orb_blas_sgemmger_omp(threads, transa, transb, m, n, alpha, x, incx, y, incy, beta, c, ldc);
    else orb_blas_xsgemmger(transa, transb, m, n, alpha, x, incx, y, incy, beta, c, ldc);
}

extern "C" void orb_blas_sgemmger_omp(int nthreads, const char *transa, const char *transb, const int64_t *m,
                                      const int64_t *n, const float *alpha, const float *x, const int64_t *incx,
                                      const float *y, const int64_t *incy, const float *beta, float *c,
                                      const int64_t *ldc) {
    if (nthreads == 1) {
        orb_blas_xsgemmger(transa, transb, m, n, alpha, x, incx, y, incy, beta, c, ldc);
        return;
    }
    const int64_t columns = *n, inc_y = *incy, ld = *ldc;
    const int64_t blocks = nthreads;
    const int64_t width = (columns + blocks - 1) / blocks;
#pragma omp parallel num_threads(nthreads)
    {
#pragma omp for schedule(static)
        for (int64_t block = 0; block < blocks; ++block) {
            const int64_t first = block * width;
            int64_t count = std::min(first + width, columns) - first;
            if (count > 0)
                orb_blas_xsgemmger(transa, transb, m, &count, alpha, x, incx, y + first * inc_y, incy, beta,
                                   c + first * ld, ldc);
        }
    }
}
