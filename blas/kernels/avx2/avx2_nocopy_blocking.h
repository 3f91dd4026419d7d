// avx2_nocopy_blocking.h - how the no-copy driver cuts a product into blocks.
//
// The no-copy driver walks k outermost, then m, then n, and takes each block
// from what remains of its dimension by one rule with three thresholds: the
// whole rest when it is at most `whole`, half of it (rounded up) when it lies
// strictly between `whole` and `halve_below`, and `block` otherwise.  Halving
// keeps a rest just above a block size from leaving a thin last block: k = 600
// on NN is cut 256, 172, 172 rather than 256, 256, 88.  The thresholds depend
// on which operands are stored transposed; m is cut the same way everywhere.
// The kernels size their stack buffers for the largest k block of their
// layout, which this header also states.
#ifndef ORB_BLAS_KERNELS_AVX2_AVX2_NOCOPY_BLOCKING_H
#define ORB_BLAS_KERNELS_AVX2_AVX2_NOCOPY_BLOCKING_H

#include <cstdint>

// One dimension's cutting rule.
struct NocopyBlockRule {
    int64_t whole;        // a rest up to this is taken in one block
    int64_t halve_below;  // a rest above `whole` and below this is halved
    int64_t block;        // any larger rest yields a block of this size
};

// The rules of one operand layout.
struct NocopyBlocking {
    NocopyBlockRule k;  // inner dimension
    NocopyBlockRule m;  // rows of C
    NocopyBlockRule n;  // columns of C
};

// Storage of the two operands, numbered as the bits of the kernel-table code
// without the conjugation bits: bit 0 B transposed, bit 1 A transposed.
enum NocopyLayout : int {
    kNocopyNN = 0,  // A and B stored as used
    kNocopyNT = 1,  // B stored transposed
    kNocopyTN = 2,  // A stored transposed
    kNocopyTT = 3   // both stored transposed
};

// The size of the next block of a dimension of which `remaining` (>= 1) is left.
constexpr int64_t nocopy_next_block(int64_t remaining, const NocopyBlockRule &rule) {
    if (remaining <= rule.whole) return remaining;
    if (remaining < rule.halve_below) return (remaining + 1) / 2;
    return rule.block;
}

// Largest k block the driver hands to a kernel of each layout; the kernels'
// stack buffers hold a 16-row strip of A for this many k steps.
constexpr int64_t kNocopyMaxKBlockAN = 256;  // NN and TN
constexpr int64_t kNocopyMaxKBlockBT = 96;   // NT and TT

constexpr NocopyBlockRule kNocopyRowRule = {6048, 8064, 4032};

// Indexed by NocopyLayout.
constexpr NocopyBlocking kNocopyBlocking[4] = {
    /* NN */ {{kNocopyMaxKBlockAN, 512, kNocopyMaxKBlockAN}, kNocopyRowRule, {72, 96, 48}},
    /* NT */ {{kNocopyMaxKBlockBT, 192, kNocopyMaxKBlockBT}, kNocopyRowRule, {72, 96, 48}},
    /* TN */ {{kNocopyMaxKBlockAN, 512, kNocopyMaxKBlockAN}, kNocopyRowRule, {144, 192, 96}},
    /* TT */ {{kNocopyMaxKBlockBT, 192, kNocopyMaxKBlockBT}, kNocopyRowRule, {144, 192, 96}},
};

#endif
