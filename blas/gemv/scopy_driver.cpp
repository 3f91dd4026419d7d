// scopy_driver.cpp - the threaded vector copy.
//
// A copy of 8192 elements or more, to a y with a nonzero increment, is
// shared by one thread per 4096 elements, at most the BLAS thread limit.
// The members take contiguous chunks of nearly equal length (the first
// n mod T one element longer) and copy them with the kernel dispatcher; a
// chunk is addressed in x and y under each vector's own increment.
#include "blas/gemv/scopy_driver.h"

#include <omp.h>

#include <algorithm>

#include "blas/gemv/vector_slice.h"
#include "blas/kernels/dispatchers.h"
#include "orb_threads.h"

namespace {

// Copies shorter than this run on one thread.
constexpr int64_t kThreadedMinElements = 8192;

// Elements per thread.
constexpr int64_t kElementsPerThread = 4096;

}  // namespace

int scopy_thread_count(int64_t n, int64_t incy, int max_threads) {
    if (n < kThreadedMinElements || incy == 0 || max_threads <= 1) return 1;
    return static_cast<int>(std::min<int64_t>((n + kElementsPerThread - 1) / kElementsPerThread, max_threads));
}

ScopyChunk scopy_chunk(int64_t n, int team, int tid) {
    const int64_t each = std::max<int64_t>(n / team, 1);
    const int64_t longer = std::max<int64_t>(n - team * each, 0);
    const int64_t start = tid < longer ? tid * (each + 1) : tid * each + longer;
    if (start >= n) return {n, 0};
    const int64_t count = tid < longer ? each + 1 : each;
    return {start, std::min(count, n - start)};
}

extern "C" void orb_blas_scopy(const int64_t *n, const float *x, const int64_t *incx, float *y, const int64_t *incy) {
    const int64_t len = *n;
    if (len <= 0) return;

    const int threads = len >= kThreadedMinElements && *incy != 0
                            ? scopy_thread_count(len, *incy, orb_serv_domain_get_max_threads(1))
                            : 1;
    if (threads == 1) {
        orb_blas_xscopy(n, x, incx, y, incy);
        return;
    }
    const int64_t inc_x = *incx, inc_y = *incy;
#pragma omp parallel num_threads(threads)
    {
        const ScopyChunk chunk = scopy_chunk(len, omp_get_num_threads(), omp_get_thread_num());
        if (chunk.count > 0) {
            int64_t count = chunk.count;
            orb_blas_xscopy(&count, orb_vector_slice(x, inc_x, len, chunk.start, count), incx,
                            orb_vector_slice(y, inc_y, len, chunk.start, count), incy);
        }
    }
}
