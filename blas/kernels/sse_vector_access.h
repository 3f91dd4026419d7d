// sse_vector_access.h - how the 128-bit kernel sets walk their arrays.
//
// The SSE2 and SSE4.2 sets (def, cnr_def, mc3) share their level-2 and
// level-1 loops; what tells them apart is the address rule.  The ordinary
// kernels align their vector loops: up to three leading elements go one at a
// time so that the four-wide loop starts on a 16-byte address, and an array
// whose address is not even a multiple of 4 gets no vector loop at all.  The
// reproducible kernels never look at an address: their vector loop starts at
// the first element and the last count mod 4 elements follow one at a time.
// A RowSplit records the outcome of that rule for one run of elements.
//
// A StridedVector is a BLAS vector seen from its element 0: for a negative
// increment the caller's pointer addresses the element with the lowest
// address, so element 0 lies (length - 1)*|inc| floats above it.
//
// Everything here has internal linkage: each set's translation unit compiles
// its own copy with its own instruction-set flags, so an SSE4.2 instance can
// never be picked up by the SSE2 sets at link time.
#ifndef ORB_BLAS_KERNELS_SSE_VECTOR_ACCESS_H
#define ORB_BLAS_KERNELS_SSE_VECTOR_ACCESS_H

#include <emmintrin.h>
#if defined(__SSE3__)
#include <pmmintrin.h>
#endif

#include <cstdint>

namespace {

// Where a set's vector loops may start.
enum class AddressRule {
    AlignToAddress,     // ordinary sets: peel up to three elements to reach 16 bytes
    FromFirstElement,   // reproducible sets: counts alone decide the split
};

// A run of count contiguous elements cut into a scalar head, a four-wide
// body and a scalar tail, in this order.
struct RowSplit {
    int64_t lead;  // elements handled one at a time before the vector loop
    int64_t body;  // elements of the vector loop, a multiple of 4
    int64_t tail;  // elements handled one at a time after it
};

// The split of count contiguous floats starting at first under the rule.
template <AddressRule Rule>
inline RowSplit split_run(const float *first, int64_t count) {
    int64_t lead = 0;
    if (Rule == AddressRule::AlignToAddress) {
        auto address = reinterpret_cast<uintptr_t>(first);
        if (address % 4 != 0) return RowSplit{count, 0, 0};  // not even float-aligned: all scalar
        lead = static_cast<int64_t>(((16 - address % 16) % 16) / 4);
        if (lead > count) lead = count;
    }
    int64_t body = (count - lead) / 4 * 4;
    return RowSplit{lead, body, count - lead - body};
}

// A BLAS vector addressed by element number.
struct StridedVector {
    float *zero;  // element 0 (the highest address when inc < 0)
    int64_t inc;  // distance in floats from element i to element i + 1
};

inline StridedVector strided_vector(const float *given, int64_t length, int64_t inc) {
    float *p = const_cast<float *>(given);
    return StridedVector{inc < 0 && length > 0 ? p + (length - 1) * -inc : p, inc};
}

inline float &element(const StridedVector &v, int64_t i) { return v.zero[i * v.inc]; }

// Four consecutive elements i .. i+3 of a vector, unit stride or not.
template <bool Unit>
inline __m128 load4(const StridedVector &v, int64_t i) {
    if (Unit) return _mm_loadu_ps(v.zero + i);
    const float *p = v.zero + i * v.inc;
    return _mm_setr_ps(p[0], p[v.inc], p[2 * v.inc], p[3 * v.inc]);
}

template <bool Unit>
inline void store4(const StridedVector &v, int64_t i, __m128 value) {
    if (Unit) {
        _mm_storeu_ps(v.zero + i, value);
        return;
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, value);
    float *p = v.zero + i * v.inc;
    p[0] = lanes[0];
    p[v.inc] = lanes[1];
    p[2 * v.inc] = lanes[2];
    p[3 * v.inc] = lanes[3];
}

// (l0 + l1) + (l2 + l3) of the four lanes.
inline float sum_lanes(__m128 v) {
#if defined(__SSE3__)
    __m128 pairs = _mm_hadd_ps(v, v);  // l0+l1, l2+l3, ...
    return _mm_cvtss_f32(_mm_hadd_ps(pairs, pairs));
#else
    __m128 odd = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1));  // l1, l0, l3, l2
    __m128 pairs = _mm_add_ps(v, odd);                          // l0+l1, -, l2+l3, -
    __m128 high = _mm_movehl_ps(pairs, pairs);                  // l2+l3 in lane 0
    return _mm_cvtss_f32(_mm_add_ss(pairs, high));
#endif
}

}  // namespace

#endif
