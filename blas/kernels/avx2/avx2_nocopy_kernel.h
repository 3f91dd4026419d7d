// avx2_nocopy_kernel.h - the body shared by the twelve no-copy kernels.
//
// A no-copy kernel computes C[0..m, 0..n] := alpha*op(A)*op(B) + beta*C
// straight from the caller's matrices.  It cuts the rows into strips of 16
// (the last one shorter) and each strip's columns into groups of 6 (the last
// one narrower), and computes every strip-by-group tile with the register
// block of avx2_nocopy_tile.h.  The operand layout is a template argument:
//
//   A stored transposed (TN, TT): each strip of op(A) is first copied into a
//     stack buffer, 4 x 4 tiles transposed at a time, so that every k step
//     holds the strip's 16 rows in consecutive floats; every column group
//     then reads the buffer.
//   A stored as used (NN, NT): the strip is read from A itself, 16
//     consecutive floats per k step.  When n > 18 and those 16 floats do not
//     start on 32-byte boundaries (the A base or lda*4 is not a multiple of
//     32), the first column group also writes the strip into the aligned
//     stack buffer and the later groups read the buffer instead.
//
// The stack buffer holds k*16 floats plus 64 of slack, aligned to a page, for
// the largest k block the driver gives the layout (avx2_nocopy_blocking.h).
// A longer k is run in such blocks, the beta case on the first and beta 1 on
// the rest, so the kernels accept any k.
#ifndef ORB_BLAS_KERNELS_AVX2_AVX2_NOCOPY_KERNEL_H
#define ORB_BLAS_KERNELS_AVX2_AVX2_NOCOPY_KERNEL_H

#include <cstdint>

#include "blas/kernels/avx2/avx2_nocopy_blocking.h"
#include "blas/kernels/avx2/avx2_nocopy_tile.h"

namespace orb_avx2_nocopy {

// Writes the strip of op(A) = transpose of the stored A that starts at `a`
// (stored column t of the strip is a + t*lda, contiguous along k) into dst:
// dst[p*16 + t] = a[p + t*lda] for t < rows and zero for the other lanes
// that a tile of `rows` rows reads.  k must not exceed kNocopyMaxKBlockAN.
void pack_transposed_strip(const float *a, int64_t lda, int64_t k, int64_t rows, float *dst);

// One kernel call, as the kernels receive it.
struct ProductBlock {
    int64_t m;            // rows of C
    int64_t n;            // columns of C
    int64_t k;            // inner dimension
    float alpha;          // *alpha
    float beta;           // *beta, read only for BetaCase::kGeneral
    const float *a;       // stored A
    int64_t lda;          // its leading dimension
    const float *b;       // stored B
    int64_t ldb;          // its leading dimension
    float *c;             // C
    int64_t ldc;          // its leading dimension
};

constexpr int64_t kStripRows = 16;     // rows of a strip (a full tile)
constexpr int64_t kGroupColumns = 6;   // columns of a group (a full tile)
// Up to this many columns a strip serves at most three groups, too few to
// repay copying it.
constexpr int64_t kCopyAboveColumns = 18;

// Largest k a kernel runs in one pass (the size of its strip buffer).
template <bool BTrans>
constexpr int64_t max_k_block() {
    return BTrans ? kNocopyMaxKBlockBT : kNocopyMaxKBlockAN;
}

// The strips and column groups of a block whose k fits the strip buffer.
template <bool ATrans, bool BTrans>
void multiply_strips(const ProductBlock &pb, BetaCase beta_case) {
    alignas(4096) float strip[max_k_block<BTrans>() * kStripStride + 64];

    bool copy_strips = false;
    if constexpr (!ATrans) {
        const bool aligned = reinterpret_cast<uintptr_t>(pb.a) % 32 == 0 && (pb.lda * 4) % 32 == 0;
        copy_strips = pb.n > kCopyAboveColumns && !aligned;
    }

    TileArgs t{};
    t.k = pb.k;
    t.ldb = pb.ldb;
    t.ldc = pb.ldc;
    t.alpha = pb.alpha;
    t.beta = pb.beta;
    t.beta_case = beta_case;
    for (int64_t i0 = 0; i0 < pb.m; i0 += kStripRows) {
        const int64_t rows = pb.m - i0 < kStripRows ? pb.m - i0 : kStripRows;
        t.last_vector_lanes = static_cast<int>(rows > 8 ? rows - 8 : rows);
        t.last_vector_rows = lane_mask(t.last_vector_lanes);
        t.partial_rows = rows % 8 != 0;
        if constexpr (ATrans) pack_transposed_strip(pb.a + i0 * pb.lda, pb.lda, pb.k, rows, strip);

        for (int64_t j0 = 0; j0 < pb.n; j0 += kGroupColumns) {
            const int64_t columns = pb.n - j0 < kGroupColumns ? pb.n - j0 : kGroupColumns;
            t.b = BTrans ? pb.b + j0 : pb.b + j0 * pb.ldb;
            t.c = pb.c + i0 + j0 * pb.ldc;
            if (ATrans || (copy_strips && j0 > 0)) {
                t.a = strip;
                t.a_step = kStripStride;
                run_tile<BTrans, TileSource::kBuffer>(rows, columns, t);
            } else if constexpr (!ATrans) {
                t.a = pb.a + i0;
                t.a_step = pb.lda;
                if (copy_strips) {
                    t.strip_copy = strip;
                    run_tile<BTrans, TileSource::kMatrixAndCopy>(rows, columns, t);
                } else {
                    run_tile<BTrans, TileSource::kMatrix>(rows, columns, t);
                }
            }
        }
    }
}

// The kernel of one layout and beta case: any m, n >= 1 and k >= 0.
template <bool ATrans, bool BTrans, BetaCase Beta>
void nocopy_kernel(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a, int64_t lda,
                   const float *b, int64_t ldb, const float *beta, float *c, int64_t ldc) {
    if (m < 1 || n < 1) return;
    ProductBlock pb{m, n, k, *alpha, Beta == BetaCase::kGeneral ? *beta : 0.0f, a, lda, b, ldb, c, ldc};
    constexpr int64_t kMaxK = max_k_block<BTrans>();
    BetaCase beta_case = Beta;
    for (int64_t p0 = 0;; p0 += kMaxK) {
        pb.k = k - p0 < kMaxK ? k - p0 : kMaxK;
        pb.a = ATrans ? a + p0 : a + p0 * lda;
        pb.b = BTrans ? b + p0 * ldb : b + p0;
        multiply_strips<ATrans, BTrans>(pb, beta_case);
        if (p0 + kMaxK >= k) break;
        beta_case = BetaCase::kOne;
    }
}

}  // namespace orb_avx2_nocopy

#endif
