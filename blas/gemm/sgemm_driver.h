// sgemm_driver.h - the computational entry of SGEMM.
//
// orb_blas_sgemm is reached from every public SGEMM form after its arguments
// have been checked; every integer is a 64-bit value passed by pointer.
#ifndef ORB_BLAS_GEMM_SGEMM_DRIVER_H
#define ORB_BLAS_GEMM_SGEMM_DRIVER_H

#include <cstddef>
#include <cstdint>

extern "C" {
// C := alpha*op(A)*op(B) + beta*C, column-major; la and lb (the character
// lengths) are ignored.
void orb_blas_sgemm(const char *transa, const char *transb, const int64_t *m, const int64_t *n, const int64_t *k,
                    const float *alpha, const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
                    const float *beta, float *c, const int64_t *ldc, size_t la, size_t lb);
}

// The small-n path of the AVX-512 set: takes the call (and computes it on
// the striped driver) when op(A) is transposed, op(B) is not, n <= 15 and a
// leading dimension is a multiple of 256 or n is 2 or 3.  Returns 1 when it
// computed the product, 0 when it declined (nothing is touched then).
int use_smalln_kernels(const char *transa, const char *transb, const int64_t *m, const int64_t *n, const int64_t *k,
                       const float *alpha, const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
                       const float *beta, float *c, const int64_t *ldc, uint32_t cpu_type);

#endif
