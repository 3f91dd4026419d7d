// packed_vector.h - the float vector of a kernel set, for the routines the
// avx2 and avx512 sets write once and compile for each of their widths.
//
// A vector type names its register (V), its width in floats and the moves
// and arithmetic those routines use.  load_part and store_part move the
// first `count` floats only (count below the width: lanes beyond it are
// neither read nor written; the other lanes of a load are zero), so an edge
// never touches memory outside its operand.
//
//   Vec256  AVX2 with FMA: 8 floats, masks built by comparison;
//   Vec512  AVX-512: 16 floats, masks in mask registers.
// Each is defined only where its instruction set is enabled, and everything
// here has internal linkage, so that the instantiations of different sets
// are never merged by the linker.
#ifndef ORB_BLAS_KERNELS_PACKED_VECTOR_H
#define ORB_BLAS_KERNELS_PACKED_VECTOR_H

#include <immintrin.h>

#include <cstdint>
#include <type_traits>

namespace {

#if defined(__AVX2__) && defined(__FMA__)
struct Vec256 {
    using V = __m256;
    static constexpr int kWidth = 8;  // floats per vector

    static V zero() { return _mm256_setzero_ps(); }
    static V set1(float x) { return _mm256_set1_ps(x); }
    static V load(const float *p) { return _mm256_loadu_ps(p); }
    static void store(float *p, V v) { _mm256_storeu_ps(p, v); }
    static V broadcast(const float *p) { return _mm256_broadcast_ss(p); }
    static V fma(V a, V b, V acc) { return _mm256_fmadd_ps(a, b, acc); }
    static V add(V x, V y) { return _mm256_add_ps(x, y); }
    static V mul(V a, V b) { return _mm256_mul_ps(a, b); }

    // The lanes below count set, the others clear.
    static __m256i lanes_below(int64_t count) {
        return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(count)),
                                  _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    }
    static V load_part(const float *p, int64_t count) {
        return count >= kWidth ? load(p) : _mm256_maskload_ps(p, lanes_below(count));
    }
    static void store_part(float *p, int64_t count, V v) {
        if (count >= kWidth) store(p, v);
        else _mm256_maskstore_ps(p, lanes_below(count), v);
    }
    static float sum(V v) {
        __m128 s = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
        s = _mm_add_ps(s, _mm_movehl_ps(s, s));
        s = _mm_add_ss(s, _mm_movehdup_ps(s));
        return _mm_cvtss_f32(s);
    }
};
#endif

#if defined(__AVX2__) && defined(__FMA__)
// The 128-bit vector of the narrow strips of the block kernels.
struct Vec128 {
    using V = __m128;
    static constexpr int kWidth = 4;  // floats per vector

    static V zero() { return _mm_setzero_ps(); }
    static V load(const float *p) { return _mm_loadu_ps(p); }
    static void store(float *p, V v) { _mm_storeu_ps(p, v); }
    static V broadcast(const float *p) { return _mm_broadcast_ss(p); }
    static V fma(V a, V b, V acc) { return _mm_fmadd_ps(a, b, acc); }
    static V add(V x, V y) { return _mm_add_ps(x, y); }
};
#endif

#if defined(__AVX512F__)
struct Vec512 {
    using V = __m512;
    static constexpr int kWidth = 16;  // floats per vector

    static V zero() { return _mm512_setzero_ps(); }
    static V set1(float x) { return _mm512_set1_ps(x); }
    static V load(const float *p) { return _mm512_loadu_ps(p); }
    static void store(float *p, V v) { _mm512_storeu_ps(p, v); }
    static V broadcast(const float *p) { return _mm512_set1_ps(*p); }
    static V fma(V a, V b, V acc) { return _mm512_fmadd_ps(a, b, acc); }
    static V add(V x, V y) { return _mm512_add_ps(x, y); }
    static V mul(V a, V b) { return _mm512_mul_ps(a, b); }

    static __mmask16 lanes_below(int64_t count) { return static_cast<__mmask16>((1u << count) - 1u); }
    static V load_part(const float *p, int64_t count) {
        return count >= kWidth ? load(p) : _mm512_maskz_loadu_ps(lanes_below(count), p);
    }
    static void store_part(float *p, int64_t count, V v) {
        if (count >= kWidth) store(p, v);
        else _mm512_mask_storeu_ps(p, lanes_below(count), v);
    }
    static float sum(V v) { return _mm512_reduce_add_ps(v); }
};
#endif

#if defined(__AVX2__) && defined(__FMA__)
// ---------------------------------------------------------------------------
// Strip columns of the block kernels.  One column of a packed A strip of R
// rows is held in kChunks vectors of the widest type of the set whose width
// divides R (Vec512 on AVX-512, Vec256 otherwise, Vec128 for 4 rows); a
// 2-row strip is the low half of a 128-bit vector moved as 64 bits, a 1-row
// strip its lowest lane.  The moves are of exact width: nothing beyond the
// strip is read or written.
// ---------------------------------------------------------------------------
#if defined(__AVX512F__)
using WidestVec = Vec512;
#else
using WidestVec = Vec256;
#endif

template <class Vec, int R>
struct ChunkedColumn : Vec {
    static_assert(R % Vec::kWidth == 0, "a strip of whole vectors");
    static constexpr int kChunks = R / Vec::kWidth;  // vectors per column
};

struct TwoRowColumn : Vec128 {
    static constexpr int kChunks = 1;  // vectors per column
    static constexpr int kWidth = 2;   // floats per vector
    static V load(const float *p) { return _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double *>(p))); }
    static void store(float *p, V v) { _mm_store_sd(reinterpret_cast<double *>(p), _mm_castps_pd(v)); }
};

struct OneRowColumn : Vec128 {
    static constexpr int kChunks = 1;  // vectors per column
    static constexpr int kWidth = 1;   // floats per vector
    static V load(const float *p) { return _mm_load_ss(p); }
    static void store(float *p, V v) { _mm_store_ss(p, v); }
};

template <int R>
using StripColumn = std::conditional_t<
    R == 1, OneRowColumn,
    std::conditional_t<R == 2, TwoRowColumn,
                       std::conditional_t<R == 4, ChunkedColumn<Vec128, 4>,
                                          std::conditional_t<R % WidestVec::kWidth == 0, ChunkedColumn<WidestVec, R>,
                                                             ChunkedColumn<Vec256, R>>>>>;
#endif

}  // namespace

#endif
