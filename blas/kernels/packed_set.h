// packed_set.h - the machinery shared by the kernel sets that describe
// themselves to the partitioned drivers (avx2 and avx512).
//
// Above their kernels, both sets do the same things: they fill a strategy
// record and check it, fill the kernel information of a call, choose the
// blocking and place the packing buffers, run the full-copy and A-packed
// blocked drivers and the no-copy driver, and route a serial call to one of
// them.  That machinery lives once, in packed_*.cpp, compiled for the x86-64
// baseline, and works from a PackedSet: the set's numbers (register blocks,
// blocking, path thresholds) and its own members (packers, block kernels,
// scaler, buffer-free product, no-copy kernels, special small kernels).
// Each set fills one PackedSet in <set>/<set>_packed_set.cpp; its exported
// machinery members (packed_members.def) are one-line calls into this code,
// so a new instruction set is a new table and new kernels, not new loops.
#ifndef ORB_BLAS_KERNELS_PACKED_SET_H
#define ORB_BLAS_KERNELS_PACKED_SET_H

#include <cstdint>

#include "blas/kernels/kernel_interface.h"

// --- the no-copy driver's blocking --------------------------------------------
//
// The no-copy driver walks k outermost, then m, then n, and takes each block
// from what remains of its dimension by one rule with three thresholds: the
// whole rest when it is at most `whole`, half of it (rounded up) when it lies
// strictly between `whole` and `halve_below`, and `block` otherwise.  Halving
// keeps a rest just above a block size from leaving a thin last block: k = 600
// on AVX2 NN is cut 256, 172, 172 rather than 256, 256, 88.

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

// Storage of the two operands: bit 0 B stored transposed, bit 1 A stored transposed.
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

// Rows of C are cut the same way in every layout of both sets.
constexpr NocopyBlockRule kNocopyRowRule = {6048, 8064, 4032};

// --- the set description ----------------------------------------------------------

// Block kernel on packed panels: C[0..m, 0..n] += (or, the _b0 kind, :=) the
// product of the packed A panels and the packed B panels, k steps deep.
using PackedBlockKernelFn = void (*)(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a,
                                     const float *b, float *c, int64_t ldc);

// The field-8 entry of a set's block kernels: the beta-0 kernel for beta
// exactly 0 (not NaN), the accumulating one otherwise; the rows of the A
// descriptor give the k length.
inline void packed_block_kernel_entry(PackedBlockKernelFn accumulate, PackedBlockKernelFn overwrite,
                                      const float *alpha, const MatDesc *a, const MatDesc *b, const float *beta,
                                      const MatDesc *c) {
    auto kernel = *beta == 0.0f ? overwrite : accumulate;
    kernel(c->rows, c->cols, a->rows, alpha, static_cast<const float *>(a->data),
           static_cast<const float *>(b->data), static_cast<float *>(c->data), c->ld);
}

// No-copy kernel: C[0..m, 0..n] := alpha*op(A)*op(B) + beta*C on the stored operands.
using NocopyKernelFn = void (*)(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a, int64_t lda,
                                const float *b, int64_t ldb, const float *beta, float *c, int64_t ldc);

// The no-copy kernels of one beta case, by layout.
struct NocopyKernels {
    NocopyKernelFn nn, nt, tn, tt;  // stored A and B: as used / transposed
};

// The path a serial call takes outside the STRICT mode when alpha is not 0.
enum class PackedPath {
    kBlocked,  // the full-copy blocked driver (or the buffer-free product when C is too narrow)
    kNoCopy,   // the no-copy driver
    kSpecial   // the set's special small kernel (PackedSet::special)
};

// Chooses the path of a call by its shape; trans* are the caller's characters.
using PackedPathFn = PackedPath (*)(const char *transa, const char *transb, int64_t m, int64_t n, int64_t k);

// The blocking of the blocked drivers: kc, mc and nc from the shape.
struct PackedBlocking {
    int64_t kc_split;      // k above this is cut into several passes
    int64_t kc_halving;    // below this, two passes of half of k
    int64_t kc_large;      // pass length from kc_halving on
    int64_t kc_minimum;    // smallest kc (a buffer size)
    int64_t mc_cap;        // mc before rounding up to mr
    int64_t nc_cap;        // nc before rounding up to nr
    int64_t nc_cap_short;  // nc cap when k is at most short_k
    int64_t short_k;       // see nc_cap_short
};

// Everything the machinery needs to know of a set.
struct PackedSet {
    // Register blocks and the fixed words of the strategy record.
    int64_t mr, nr;          // packed kernels (24 x 4, 48 x 8)
    int64_t tuning1;         // strategy word of the packed strategies (32, 48)
    int64_t tuning4;         // last strategy word (8, 16)
    int64_t min_n;           // SgemmKernelInfo field 1 (4, 8)
    PackedBlocking blocking;            // of the blocked drivers
    NocopyBlocking nocopy_blocking[4];  // of the no-copy driver, by NocopyLayout

    // The set's own kernels.
    SgemmPackerFn copyan, copyat, copybn, copybt;  // panel packers
    SgemmKernelFn ker0, ker0_cnr;                  // block kernel entries (field 8)
    XsgemmFn pst;                                  // buffer-free product
    void (*mscale)(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc);
    NocopyKernels nocopy[3];                       // by beta case: 0, 1, other
    PackedPathFn path;                             // the serial path choice
    XsgemmFn special;                              // the special small kernel of kSpecial

    // The set's exported machinery members, which records point to.
    SgemmCheckFn check_strategy;
    SgemmScalerFn mscale_wrapper;
    SgemmFallbackFn pst_wrapper;
    SgemmDriverFn full_copy_driver, a_copied_driver, nocopy_driver;
    int (*get_bufs)(SgemmBuffers *);
    int (*get_bufs_pack)(SgemmBuffers *);
    int64_t (*get_size_bufs)(SgemmBuffers *);
    int (*set_bufs_pack)(void *memory, SgemmBuffers *);
    void (*free_bufs)(SgemmBuffers *);
};

// --- the machinery -------------------------------------------------------------------
// Each function is the body of the set member of the same name (packed_members.def).

void packed_sgemm_initialize_strategy(const PackedSet &set, SgemmStrategy *strategy);
int packed_check_strategy(const PackedSet &set, SgemmStrategy *strategy);
int packed_sgemm_map_thread_to_kernel(const PackedSet &set, const ThreadOpts *opts, SgemmStrategy *strategy);
SgemmKernelFn packed_sgemm_initialize_kernel_info(const PackedSet &set, const MatDesc *a, const MatDesc *b,
                                                  const SgemmStrategy *strategy, SgemmKernelInfo *info);

void packed_sgemm_initialize_buffers(const PackedSet &set, const MatDesc *a, const MatDesc *b,
                                     const SgemmStrategy *strategy, SgemmBuffers *buffers);
int packed_sgemm_get_bufs(SgemmBuffers *buffers);
void packed_sgemm_free_bufs(SgemmBuffers *buffers);
int64_t packed_sgemm_get_size_bufs(SgemmBuffers *buffers);
int packed_sgemm_set_bufs_pack(void *memory, SgemmBuffers *buffers);
int packed_sgemm_get_bufs_pack(SgemmBuffers *buffers);

int packed_s_generic_fullacopybcopy(const PackedSet &set, BlasOpParams *op, const MatDesc *a, const MatDesc *b,
                                    const MatDesc *c, SgemmBuffers *buffers, SgemmKernelInfo *info);
int packed_xsgemm_acopiedbcopy(BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c,
                               SgemmBuffers *buffers, SgemmKernelInfo *info);
int packed_xsgemm_nocopy_driver(const PackedSet &set, BlasOpParams *op, const MatDesc *a, const MatDesc *b,
                                const MatDesc *c);

// One product of the no-copy path, in the caller's own terms: the driver
// above unpacks its descriptors into one, and the serial entry, which knows
// the arguments already, hands them over without building the records.
struct NocopyCall {
    const char *transa, *transb;  // the caller's transposition characters
    int64_t m, n, k;              // C is m x n, the inner dimension k
    float alpha, beta;            // the scalars
    const float *a;               // A as stored, at op(A)(0, 0)
    int64_t lda;                  // its leading dimension
    const float *b;               // B as stored, at op(B)(0, 0)
    int64_t ldb;                  // its leading dimension
    float *c;                     // C at (0, 0)
    int64_t ldc;                  // its leading dimension
};
int packed_nocopy_product(const PackedSet &set, const NocopyCall &call);

void packed_sgemm_mscale_wrapper(const PackedSet &set, const MatDesc *c, const float *beta);
void packed_s_pst_wrapper(const PackedSet &set, const BlasOpParams *op, const MatDesc *a, const MatDesc *b,
                          const MatDesc *c);

void packed_xsgemm(const PackedSet &set, const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                   const int64_t *k, const float *alpha, const float *a, const int64_t *lda, const float *b,
                   const int64_t *ldb, const float *beta, float *c, const int64_t *ldc);

#endif
