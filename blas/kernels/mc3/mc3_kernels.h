// mc3_kernels.h - the members of the mc3 kernel set (SSE4.2).
//
// The set's shared operations (kernel_operations.def) are declared first;
// below them its own members, grouped by role:
//   entry and driver    xsgemm chooses between the fixed-k kernels, the
//                       blocked driver xsgemm_par and the buffer-free product;
//   descriptor          the table orb_mc3_s_all_gemm_ker from which the legacy
//                       kernel descriptor is filled, the blocking rules, the
//                       kernel version and the packing buffers;
//   packers             4-row A panels and 8-column B panels, k padded to a
//                       multiple of 4, and the _ext packers that spread packed
//                       values into the broadcast form the kernels multiply by;
//   block kernel        sgemm_ker0 with its eight 4 x 8 kernels and the edge
//                       rows (sgemm_ker0_pst);
//   edges               the buffer-free product sgemm_pst;
//   small products      sgemm_sm_01_10 and the fixed-k kernels sgemm_sm_01..10.
// Every file of this directory is compiled with -msse4.2.
#ifndef ORB_BLAS_KERNELS_MC3_MC3_KERNELS_H
#define ORB_BLAS_KERNELS_MC3_MC3_KERNELS_H

#include "blas/kernels/kernel_interface.h"

// The set's description of its blocked path, copied into SgemmLegacyDesc by
// sgemm_get_optimal_kernel.  Twenty 64-bit words.
struct Mc3GemmKernelTable {
    int64_t min_m;                    // 4: smallest m of the blocked path
    int64_t min_n;                    // 8: smallest n, and the n granule
    int64_t min_k;                    // 4: smallest k, and the k granule
    int64_t kernel_word;              // 2
    int64_t block_words[3];           // 4, 4, 4
    int64_t table_word;               // 126
    LegacyBlockSizeFn get_blks_size;  // sgemm_get_blks_size
    LegacyBufferSizeFn get_bufs_size; // sgemm_get_bufs_size
    LegacyGetBuffersFn get_bufs;      // sgemm_get_bufs
    LegacyPackerFn copyan;            // A not transposed
    LegacyPackerFn copyat;            // A transposed
    LegacyPackerFn copyac;            // A conjugate-transposed (copyat)
    LegacyPackerFn copybn;            // B not transposed
    LegacyPackerFn copybt;            // B transposed
    LegacyPackerFn copybc;            // B conjugate-transposed (copybt)
    LegacyKernelFn kernel;            // sgemm_ker0
    LegacyPackerFn copya_ext;         // A panel into broadcast form
    LegacyPackerFn copyb_ext;         // B panel into broadcast form
};
static_assert(sizeof(Mc3GemmKernelTable) == 20 * 8, "twenty 64-bit words");

// One k chunk of a block-kernel call: packed A and B positioned at the
// chunk's first k step, and the C block they update.
struct Mc3KernelBlock {
    const float *a;  // packed A: 4-row panels, then the edge panel, 4*kp floats apart
    const float *b;  // packed B: 8-column panels, 8*kp floats apart
    float *c;        // C block, column-major
    int64_t ldc;     // leading dimension of C
    int64_t m;       // rows of C (the kernel variants get a multiple of 4)
    int64_t n;       // columns of C
    int64_t steps;   // k steps of this chunk, a multiple of 4
    int64_t kp;      // k steps of a whole packed panel, a multiple of 4
};

extern "C" {
#define ORB_KERNEL_OP(op, result, params, args) result orb_blas_mc3_##op params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP

// The reproducible SGEMV path: xsgemv's arguments, no address-dependent
// steps; xsgemv hands it every call made under a branch other than OFF.
void orb_blas_mc3_xsgemv_cnr(const char *trans, const int64_t *m, const int64_t *n, const float *alpha,
                             const float *a, const int64_t *lda, const float *x, const int64_t *incx,
                             const float *beta, float *y, const int64_t *incy, int flag);

// --- descriptor --------------------------------------------------------------
extern const Mc3GemmKernelTable orb_mc3_s_all_gemm_ker;
extern const int64_t orb_mc3_s_opt_gemm_ker;  // 0
// 4 when the packed B block, min(n, nc) x min(k, kc) floats, fits in 512 KiB; else 2.
int orb_blas_mc3_sgemm_get_kernel_version(const int64_t *n, const int64_t *k, const SgemmLegacyDesc *desc);
void *orb_blas_mc3_sgemm_get_bufs(const SgemmLegacyDesc *desc, float **a_pack, float **b_pack);

// --- packers (LegacyPackerFn) --------------------------------------------------
void orb_blas_mc3_sgemm_copyan(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                               const float *factor, float *dst);
void orb_blas_mc3_sgemm_copyat(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                               const float *factor, float *dst);
void orb_blas_mc3_sgemm_copybn(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                               const float *factor, float *dst);
void orb_blas_mc3_sgemm_copybt(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                               const float *factor, float *dst);
// The _ext packers read a packed panel (rows values per k step, ld floats
// apart, cols k steps) and write each value times factor four times over.
void orb_blas_mc3_sgemm_copya_ext(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                  const float *factor, float *dst);
void orb_blas_mc3_sgemm_copyb_ext(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                  const float *factor, float *dst);

// --- block kernel --------------------------------------------------------------
void orb_blas_mc3_sgemm_ker0(const int64_t *m, const int64_t *n, const int64_t *k, const float *a_pack,
                             const float *b_pack, const float *beta, float *c, const int64_t *ldc,
                             int kernel_version);
// The m mod 4 edge rows of a chunk: block->a is the edge panel, block->m its rows (1 to 3).
void orb_blas_mc3_sgemm_ker0_pst(const Mc3KernelBlock *block, int beta_zero);

// --- edges ---------------------------------------------------------------------
void orb_blas_mc3_sgemm_pst(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                            const int64_t *k, const float *alpha, const float *a, const int64_t *lda, const float *b,
                            const int64_t *ldb, const float *beta, float *c, const int64_t *ldc);

// --- small products (xsgemm's arguments; beta is 1, k the member's number) ------
#define ORB_MC3_SMALL_PRODUCT(name)                                                                               \
    void orb_blas_mc3_##name(const char *transa, const char *transb, const int64_t *m, const int64_t *n,          \
                             const int64_t *k, const float *alpha, const float *a, const int64_t *lda,            \
                             const float *b, const int64_t *ldb, const float *beta, float *c, const int64_t *ldc);
ORB_MC3_SMALL_PRODUCT(sgemm_sm_01_10)
ORB_MC3_SMALL_PRODUCT(sgemm_sm_01)
ORB_MC3_SMALL_PRODUCT(sgemm_sm_02)
ORB_MC3_SMALL_PRODUCT(sgemm_sm_03)
ORB_MC3_SMALL_PRODUCT(sgemm_sm_04)
ORB_MC3_SMALL_PRODUCT(sgemm_sm_05)
ORB_MC3_SMALL_PRODUCT(sgemm_sm_06)
ORB_MC3_SMALL_PRODUCT(sgemm_sm_07)
ORB_MC3_SMALL_PRODUCT(sgemm_sm_08)
ORB_MC3_SMALL_PRODUCT(sgemm_sm_09)
ORB_MC3_SMALL_PRODUCT(sgemm_sm_10)
#undef ORB_MC3_SMALL_PRODUCT
}

#endif
