// mc3_blocking.h - the block sizes and buffer bytes of one mc3 product.
//
// The kernel descriptor carries the set's block sizes (mc rows of A, nc
// columns of B, kc k steps).  A product smaller than a block needs no more
// than itself, so the blocked driver and the buffer-size query both cut the
// blocks down to the shape and round them to the panel granules: 4 rows of A,
// 8 columns of B, 4 k steps.  The packing buffer holds one B block followed by
// one A block, each starting on a 128-byte boundary.
#ifndef ORB_BLAS_KERNELS_MC3_MC3_BLOCKING_H
#define ORB_BLAS_KERNELS_MC3_MC3_BLOCKING_H

#include <algorithm>
#include <cstdint>

#include "blas/kernels/kernel_interface.h"

namespace mc3 {

constexpr int64_t kPanelRows = 4;     // rows of a packed A panel
constexpr int64_t kPanelCols = 8;     // columns of a packed B panel
constexpr int64_t kStepGranule = 4;   // packed panels hold k steps in multiples of this
constexpr int64_t kBufferAlignment = 128;

inline int64_t round_up(int64_t value, int64_t granule) { return (value + granule - 1) / granule * granule; }

// Block sizes of one product, each a positive multiple of its granule.
struct Blocks {
    int64_t mc;  // rows of A packed at once
    int64_t nc;  // columns of B packed at once
    int64_t kc;  // k steps packed at once
};

// The descriptor's blocks rounded to the granules; a zero (unset) block
// counts as one granule.
inline Blocks blocks_of(const SgemmLegacyDesc &desc) {
    return Blocks{round_up(std::max<int64_t>(desc.m_block, 1), kPanelRows),
                  round_up(std::max<int64_t>(desc.n_block, 1), kPanelCols),
                  round_up(std::max<int64_t>(desc.k_block, 1), kStepGranule)};
}

// The descriptor's blocks cut down to an m x n x k product.
inline Blocks blocks_for(int64_t m, int64_t n, int64_t k, const SgemmLegacyDesc &desc) {
    Blocks b = blocks_of(desc);
    b.mc = std::min(b.mc, round_up(std::max<int64_t>(m, 1), kPanelRows));
    b.nc = std::min(b.nc, round_up(std::max<int64_t>(n, 1), kPanelCols));
    b.kc = std::min(b.kc, round_up(std::max<int64_t>(k, 1), kStepGranule));
    return b;
}

inline int64_t b_buffer_bytes(const Blocks &b) {
    return round_up(b.nc * b.kc * static_cast<int64_t>(sizeof(float)), kBufferAlignment);
}
inline int64_t a_buffer_bytes(const Blocks &b) {
    return round_up(b.mc * b.kc * static_cast<int64_t>(sizeof(float)), kBufferAlignment);
}

}  // namespace mc3

#endif
