// avx2_nocopy_blocking.h - how the no-copy driver cuts an AVX2 product into
// blocks (the rule itself is in packed_set.h).
//
// The thresholds depend on which operands are stored transposed; m is cut
// the same way everywhere.  The kernels size their stack buffers for the
// largest k block of their layout, which this header also states.
#ifndef ORB_BLAS_KERNELS_AVX2_AVX2_NOCOPY_BLOCKING_H
#define ORB_BLAS_KERNELS_AVX2_AVX2_NOCOPY_BLOCKING_H

#include "blas/kernels/packed_set.h"

// Largest k block the driver hands to a kernel of each layout; the kernels'
// stack buffers hold a 16-row strip of A for this many k steps.
constexpr int64_t kNocopyMaxKBlockAN = 256;  // NN and TN
constexpr int64_t kNocopyMaxKBlockBT = 96;   // NT and TT

// Indexed by NocopyLayout.
constexpr NocopyBlocking kAvx2NocopyBlocking[4] = {
    /* NN */ {{kNocopyMaxKBlockAN, 512, kNocopyMaxKBlockAN}, kNocopyRowRule, {72, 96, 48}},
    /* NT */ {{kNocopyMaxKBlockBT, 192, kNocopyMaxKBlockBT}, kNocopyRowRule, {72, 96, 48}},
    /* TN */ {{kNocopyMaxKBlockAN, 512, kNocopyMaxKBlockAN}, kNocopyRowRule, {144, 192, 96}},
    /* TT */ {{kNocopyMaxKBlockBT, 192, kNocopyMaxKBlockBT}, kNocopyRowRule, {144, 192, 96}},
};

#endif
