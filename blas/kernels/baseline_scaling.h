// baseline_scaling.h - C := beta*C and C := 0 on a matrix, baseline sets.
//
// The baseline sets scale C in three places: sgemm_mscale (beta exactly 0
// clears C without reading it, so NaN and infinity do not survive), the
// alpha = 0 case of the driver (sgemm_zerom clears, sgemm_scalm multiplies)
// and the Barcelona sub-model's own scaler.  Each element receives one
// rounded product whichever loop handles it, so the two vectorisations below
// give the same results:
//   AddressRule::AlignToAddress    the ordinary set walks a contiguous C as a
//                                  single run, peels to a 16-byte address and
//                                  then uses aligned vectors, 16 floats a step;
//   AddressRule::FromFirstElement  the reproducible set walks every column
//                                  from its first element, 4 floats a step.
#ifndef ORB_BLAS_KERNELS_BASELINE_SCALING_H
#define ORB_BLAS_KERNELS_BASELINE_SCALING_H

#include "blas/kernels/sse_vector_access.h"

namespace {

// What happens to each element.
enum class ScaleMode {
    Multiply,  // c := beta*c, whatever beta is
    Clear,     // c := 0 without reading c
};

template <ScaleMode Mode>
inline float scaled_element(float value, float beta) {
    return Mode == ScaleMode::Clear ? 0.0f : beta * value;
}

// Four floats at p; Aligned: p is on a 16-byte address.
template <ScaleMode Mode, bool Aligned>
inline void scale4(float *p, __m128 beta) {
    if (Mode == ScaleMode::Clear) {
        Aligned ? _mm_store_ps(p, _mm_setzero_ps()) : _mm_storeu_ps(p, _mm_setzero_ps());
        return;
    }
    if (Aligned)
        _mm_store_ps(p, _mm_mul_ps(beta, _mm_load_ps(p)));
    else
        _mm_storeu_ps(p, _mm_mul_ps(beta, _mm_loadu_ps(p)));
}

// count contiguous floats from p, split by the address rule.
template <AddressRule Rule, ScaleMode Mode>
void scale_run(float *p, int64_t count, float beta) {
    const __m128 factor = _mm_set1_ps(beta);
    RowSplit split = split_run<Rule>(p, count);
    int64_t i = 0;
    for (; i < split.lead; ++i) p[i] = scaled_element<Mode>(p[i], beta);
    const int64_t body_end = split.lead + split.body;
    if (Rule == AddressRule::AlignToAddress) {
        // p + i is on a 16-byte address from here on.
        for (; i + 16 <= body_end; i += 16) {
            scale4<Mode, true>(p + i, factor);
            scale4<Mode, true>(p + i + 4, factor);
            scale4<Mode, true>(p + i + 8, factor);
            scale4<Mode, true>(p + i + 12, factor);
        }
        for (; i < body_end; i += 4) scale4<Mode, true>(p + i, factor);
    } else {
        for (; i < body_end; i += 4) scale4<Mode, false>(p + i, factor);
    }
    for (; i < count; ++i) p[i] = scaled_element<Mode>(p[i], beta);
}

// The m x n matrix at c with leading dimension ldc.
template <AddressRule Rule, ScaleMode Mode>
void scale_columns(int64_t m, int64_t n, float beta, float *c, int64_t ldc) {
    if (m <= 0 || n <= 0) return;
    if (Rule == AddressRule::AlignToAddress && ldc == m) {
        scale_run<Rule, Mode>(c, m * n, beta);
        return;
    }
    for (int64_t j = 0; j < n; ++j) scale_run<Rule, Mode>(c + j * ldc, m, beta);
}

// sgemm_mscale: beta exactly 0 clears, anything else (NaN included) multiplies.
template <AddressRule Rule>
void scale_matrix(int64_t m, int64_t n, float beta, float *c, int64_t ldc) {
    if (beta == 0.0f)
        scale_columns<Rule, ScaleMode::Clear>(m, n, beta, c, ldc);
    else
        scale_columns<Rule, ScaleMode::Multiply>(m, n, beta, c, ldc);
}

}  // namespace

#endif
