// mc3_small_products.cpp - the fixed-k kernels of the mc3 set for tiny
// products, C := C + alpha*op(A)*op(B) with m and n up to 10 and k from 1
// to 10 (beta is 1 on this path).
//
// sgemm_sm_01_10 calls the member whose number is k; the ten members are one
// template over k, so every k loop is unrolled completely.  Each column of C
// first gathers its k values of op(B).  With A not transposed four rows of
// the column are computed at once from columns of A; with A transposed each
// element is a dot product of a contiguous row of op(A) with those values.
// alpha 0 leaves C as it is without reading A or B.
#include <smmintrin.h>

#include "blas/kernels/mc3/mc3_kernels.h"

namespace {

bool transposed(char t) { return t != 'N' && t != 'n'; }

template <int K>
void small_product(const char *transa, const char *transb, const int64_t *m, const int64_t *n, const float *alpha,
                   const float *a, const int64_t *lda, const float *b, const int64_t *ldb, float *c,
                   const int64_t *ldc) {
    const float f = *alpha;
    if (f == 0.0f) return;
    const int64_t rows = *m, cols = *n, la = *lda, lb = *ldb, lc = *ldc;
    const bool at = transposed(*transa), bt = transposed(*transb);
    const __m128 vf = _mm_set1_ps(f);
    for (int64_t j = 0; j < cols; ++j) {
        float bj[K];
        for (int p = 0; p < K; ++p) bj[p] = bt ? b[j + p * lb] : b[p + j * lb];
        float *cj = c + j * lc;
        int64_t i = 0;
        if (!at) {
            for (; i + 4 <= rows; i += 4) {
                __m128 sum = _mm_setzero_ps();
                for (int p = 0; p < K; ++p)
                    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps(a + i + p * la), _mm_set1_ps(bj[p])));
                _mm_storeu_ps(cj + i, _mm_add_ps(_mm_loadu_ps(cj + i), _mm_mul_ps(sum, vf)));
            }
        }
        for (; i < rows; ++i) {
            float sum = 0.0f;
            for (int p = 0; p < K; ++p) sum += (at ? a[p + i * la] : a[i + p * la]) * bj[p];
            cj[i] += f * sum;
        }
    }
}

}  // namespace

extern "C" {

#define ORB_MC3_SMALL_MEMBER(number, k)                                                                          \
    void orb_blas_mc3_sgemm_sm_##number(const char *transa, const char *transb, const int64_t *m, const int64_t *n, \
                                        const int64_t *, const float *alpha, const float *a, const int64_t *lda,     \
                                        const float *b, const int64_t *ldb, const float *, float *c,                 \
                                        const int64_t *ldc) {                                                        \
        small_product<k>(transa, transb, m, n, alpha, a, lda, b, ldb, c, ldc);                                       \
    }
ORB_MC3_SMALL_MEMBER(01, 1)
ORB_MC3_SMALL_MEMBER(02, 2)
ORB_MC3_SMALL_MEMBER(03, 3)
ORB_MC3_SMALL_MEMBER(04, 4)
ORB_MC3_SMALL_MEMBER(05, 5)
ORB_MC3_SMALL_MEMBER(06, 6)
ORB_MC3_SMALL_MEMBER(07, 7)
ORB_MC3_SMALL_MEMBER(08, 8)
ORB_MC3_SMALL_MEMBER(09, 9)
ORB_MC3_SMALL_MEMBER(10, 10)
#undef ORB_MC3_SMALL_MEMBER

void orb_blas_mc3_sgemm_sm_01_10(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                 const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                 const float *b, const int64_t *ldb, const float *beta, float *c,
                                 const int64_t *ldc) {
    using Member = void (*)(const char *, const char *, const int64_t *, const int64_t *, const int64_t *,
                            const float *, const float *, const int64_t *, const float *, const int64_t *,
                            const float *, float *, const int64_t *);
    static constexpr Member kMembers[10] = {
        orb_blas_mc3_sgemm_sm_01, orb_blas_mc3_sgemm_sm_02, orb_blas_mc3_sgemm_sm_03, orb_blas_mc3_sgemm_sm_04,
        orb_blas_mc3_sgemm_sm_05, orb_blas_mc3_sgemm_sm_06, orb_blas_mc3_sgemm_sm_07, orb_blas_mc3_sgemm_sm_08,
        orb_blas_mc3_sgemm_sm_09, orb_blas_mc3_sgemm_sm_10};
    if (*k < 1 || *k > 10) return;
    kMembers[*k - 1](transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

}  // extern "C"
