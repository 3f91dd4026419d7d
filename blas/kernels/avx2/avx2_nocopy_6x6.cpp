// avx2_nocopy_6x6.cpp - the products with a 6 x 6 A, neither operand
// transposed.
//
// With m = 6 and k = 6 the whole of A fits in registers: each of its six
// columns is held as a 4-float part (rows 0-3) and a 2-float part (rows 4-5),
// twelve registers in all.  The kernel then walks the columns of B and C,
// four per loop round and then one at a time; column j of C is the sum over
// p of column p of alpha*A times the broadcast B(p, j), fused in increasing
// p, plus beta times the old column (the _b0 member does not read C).
// Alpha is folded into the resident A once, as the packed paths fold it into
// their copy of A: with beta, two sums and a broadcast that fills exactly the
// 16 vector registers, so nothing is spilled in the column loop.  The caller
// guarantees the shape; the character, m and k arguments are not read.
#include <immintrin.h>

#include "blas/kernels/avx2/avx2_kernels.h"

namespace {

constexpr int kOrder = 6;         // rows of A, C and the inner dimension
constexpr int kColumnsPerRound = 4;

// The 36 elements of A.
struct ResidentA {
    __m128 top[kOrder];     // rows 0-3 of each column
    __m128 bottom[kOrder];  // rows 4-5 of each column (upper lanes zero)
};

inline __m128 load_pair(const float *p) { return _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double *>(p))); }
inline void store_pair(float *p, __m128 x) { _mm_store_sd(reinterpret_cast<double *>(p), _mm_castps_pd(x)); }

// C(:, j) := (alpha*A)*b (+ beta*C(:, j) when ReadC) for the column b of B.
template <bool ReadC>
inline void column(const ResidentA &a, const float *b, __m128 beta, float *c) {
    __m128 bp = _mm_broadcast_ss(b);
    __m128 top = _mm_mul_ps(a.top[0], bp), bottom = _mm_mul_ps(a.bottom[0], bp);
    for (int p = 1; p < kOrder; ++p) {
        bp = _mm_broadcast_ss(b + p);
        top = _mm_fmadd_ps(a.top[p], bp, top);
        bottom = _mm_fmadd_ps(a.bottom[p], bp, bottom);
    }
    if (ReadC) {
        top = _mm_fmadd_ps(beta, _mm_loadu_ps(c), top);
        bottom = _mm_fmadd_ps(beta, load_pair(c + 4), bottom);
    }
    _mm_storeu_ps(c, top);
    store_pair(c + 4, bottom);
}

template <bool ReadC>
void multiply_6x6(int64_t n, float alpha_value, const float *a, int64_t lda, const float *b, int64_t ldb,
                  float beta_value, float *c, int64_t ldc) {
    const __m128 alpha = _mm_set1_ps(alpha_value), beta = _mm_set1_ps(beta_value);
    ResidentA resident;
    for (int p = 0; p < kOrder; ++p) {
        resident.top[p] = _mm_mul_ps(alpha, _mm_loadu_ps(a + p * lda));
        resident.bottom[p] = _mm_mul_ps(alpha, load_pair(a + p * lda + 4));
    }
    int64_t j = 0;
    for (; j + kColumnsPerRound <= n; j += kColumnsPerRound)
        for (int q = 0; q < kColumnsPerRound; ++q)
            column<ReadC>(resident, b + (j + q) * ldb, beta, c + (j + q) * ldc);
    for (; j < n; ++j) column<ReadC>(resident, b + j * ldb, beta, c + j * ldc);
}

}  // namespace

extern "C" {

void orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6(const char * /*transa*/, const char * /*transb*/,
                                               const int64_t * /*m*/, const int64_t *n, const int64_t * /*k*/,
                                               const float *alpha, const float *a, const int64_t *lda,
                                               const float *b, const int64_t *ldb, const float *beta, float *c,
                                               const int64_t *ldc) {
    multiply_6x6<true>(*n, *alpha, a, *lda, b, *ldb, *beta, c, *ldc);
}

void orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6_b0(const char * /*transa*/, const char * /*transb*/,
                                                  const int64_t * /*m*/, const int64_t *n, const int64_t * /*k*/,
                                                  const float *alpha, const float *a, const int64_t *lda,
                                                  const float *b, const int64_t *ldb, const float * /*beta*/,
                                                  float *c, const int64_t *ldc) {
    multiply_6x6<false>(*n, *alpha, a, *lda, b, *ldb, 0.0f, c, *ldc);
}

}  // extern "C"
