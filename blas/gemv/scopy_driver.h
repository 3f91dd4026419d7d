// scopy_driver.h - the threaded vector copy.
//
// orb_blas_scopy copies n elements of x into y (BLAS increments, a negative
// one addressing the vector from its lowest element).  Long copies are cut
// into contiguous chunks, one per thread, each copied by the kernel
// dispatcher orb_blas_xscopy; short ones are a single dispatcher call.
#ifndef ORB_BLAS_GEMV_SCOPY_DRIVER_H
#define ORB_BLAS_GEMV_SCOPY_DRIVER_H

#include <cstdint>

extern "C" {
// y := x for n elements; integers 64-bit by pointer.
void orb_blas_scopy(const int64_t *n, const float *x, const int64_t *incx, float *y, const int64_t *incy);
}

// Threads of a copy: 1, or one per 4096 elements up to the limit P.
int scopy_thread_count(int64_t n, int64_t incy, int max_threads);

// A contiguous run of elements of the copy.
struct ScopyChunk {
    int64_t start;  // first element
    int64_t count;  // elements, 0 for an empty chunk
};

// The chunk of member tid of a team of T copying n elements.
ScopyChunk scopy_chunk(int64_t n, int team, int tid);

#endif
