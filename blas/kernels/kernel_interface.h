// kernel_interface.h - how a kernel set describes itself to the drivers.
//
// The AVX2 and AVX-512 sets describe their blocked path with two records:
//   SgemmStrategy    which driver, register block and loop order to use;
//   SgemmKernelInfo  the functions of one call: beta scaler, packers, block
//                    kernel, driver and buffer-free fallback;
// and keep their packed panels in an SgemmBuffers record.  The sets of the
// first interface (def, cnr_def, mc3) speak to the legacy partitioned driver
// instead:
//   SgemmLegacyDesc  the mc3 set's blocking, packers and kernel, plus the
//                    driver's own choice of GEMM and copy buffers;
//   SgemmBlockInfo   the register block and blocking a sub-model GEMM uses,
//                    so that a thread grid can cut C on panel boundaries.
// The function types below are those of the record fields.
#ifndef ORB_BLAS_KERNELS_KERNEL_INTERFACE_H
#define ORB_BLAS_KERNELS_KERNEL_INTERFACE_H

#include <cstdint>

#include "blas/gemm/gemm_records.h"

struct SgemmStrategy;
struct SgemmKernelInfo;
struct SgemmLegacyDesc;

// C := beta*C on a C descriptor (field 4).
using SgemmScalerFn = void (*)(const MatDesc *c, const float *beta);
// Packs the block src into the buffer panel dst, multiplied by *factor (fields 5, 6).
using SgemmPackerFn = void (*)(const MatDesc *src, MatDesc *dst, const float *factor, void *unused);
// C(c) := (beta?)C + packed A(a) x packed B(b); alpha is folded into A (field 8).
using SgemmKernelFn = void (*)(const float *alpha, const MatDesc *a, const MatDesc *b, const float *beta,
                               const MatDesc *c, void *scratch);
// A blocked or no-copy driver (field 10); buffers may be null.
using SgemmDriverFn = int (*)(BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c,
                              SgemmBuffers *buffers, SgemmKernelInfo *info);
// The buffer-free product of a whole call (field 11).
using SgemmFallbackFn = void (*)(const BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c);
// A strategy check: 1 when it changed nothing among mr, nr and k granule.
using SgemmCheckFn = int (*)(SgemmStrategy *strategy);

// Strategy codes.
enum : uint32_t {
    kStrategyFullCopy = 2,   // pack A and B
    kStrategyACopied = 4,    // A packed beforehand, only B copied
    kStrategyNoCopy = 16,    // no-copy kernels
    kStrategyCopyVariant = 32 // driven like 2
};

// How a set runs its blocked path.  Eleven 64-bit words.
struct SgemmStrategy {
    uint32_t mode;              // 0, then 2 (4 for the no-copy strategy)
    uint32_t code;              // strategy code; 0 becomes 2
    uint32_t loop_order;        // loop order of the full-copy driver; 0 becomes 4
    uint32_t buffer_interface;  // 2: caller-supplied ("pack") buffers
    uint64_t reserved;          // zero
    int64_t mr;                 // rows of the register block, width of an A panel
    int64_t nr;                 // columns of the register block, width of a B panel
    int64_t k_granule;          // kc is a multiple of it; always 1 here
    int64_t tuning1;            // 32 on AVX2, 48 on AVX-512, 16 for no-copy
    int64_t tuning2;            // 16
    int64_t tuning3;            // 16
    int64_t tuning4;            // 8 on AVX2, 16 on AVX-512
    SgemmCheckFn check;         // the set's check_strategy
};
static_assert(sizeof(SgemmStrategy) == 11 * 8, "eleven 64-bit words");

// The functions of one call.  25 64-bit words.
struct SgemmKernelInfo {
    int64_t min_m;                  // 12: blocked driver with A transposed and B not needs m >= this
    int64_t min_n;                  // otherwise n >= this (4 on AVX2, 8 on AVX-512)
    int64_t constant;               // 4
    const char *name;               // "SGEMM"
    SgemmScalerFn scale_c;          // beta scaler
    SgemmPackerFn pack_a;           // A packer (null for no-copy)
    SgemmPackerFn pack_b;           // B packer (null for no-copy)
    void *triangular_scaler;        // null
    SgemmKernelFn kernel;           // block kernel (reproducible one under STRICT)
    void *triangular_kernel;        // null
    SgemmDriverFn driver;           // full-copy, A-packed or no-copy driver
    SgemmFallbackFn fallback;       // buffer-free product
    void *syrk_scaler;              // not set for SGEMM
    void *syrk_driver;              // not set for SGEMM
    SgemmStrategy strategy;         // the caller's strategy, corrected by its check
};
static_assert(sizeof(SgemmKernelInfo) == 25 * 8, "25 64-bit words");

// Buffer modes of SgemmBuffers.
enum : uint32_t {
    kBuffersA = 1,        // A only
    kBuffersB = 2,        // B only
    kBuffersAB = 3,       // A and B
    kBuffersTeamB = 4,    // one B per team member
    kBuffersTeamA = 5     // one A per team member
};

// The packed-panel buffers of a blocked driver.
struct SgemmBuffers {
    void *block;                         // allocated block, or null
    void *pack_header;                   // caller-supplied block (pack interface)
    MatDesc a;                           // packed-A buffer: kc x mc, ld mr*kcr
    MatDesc b;                           // packed-B buffer: kc x nc, ld kcr*nr
    uint32_t mode;                       // kBuffers*
    int64_t mc;                          // m block
    int64_t nc;                          // n block
    int64_t kc;                          // k block
    uint64_t a_offset;                   // 1664
    uint64_t a_alignment;                // 2 MiB
    uint64_t b_offset;                   // 768
    uint64_t b_alignment;                // 4096
    uint64_t team_count;                 // copies in the team modes, 1 otherwise
    int (*get)(SgemmBuffers *);          // allocate and place (sgemm_get_bufs or _pack)
    int64_t (*size)(SgemmBuffers *);     // bytes needed (pack interface), else null
    int (*set)(void *memory, SgemmBuffers *); // place in given memory (pack interface), else null
    void (*free)(SgemmBuffers *);        // release (sgemm_free_bufs)
};

// --- the legacy interface (def, cnr_def, mc3) --------------------------------

// The serial GEMM form, C := alpha*op(A)*op(B) + beta*C, thirteen arguments by address.
using XsgemmFn = void (*)(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                          const int64_t *k, const float *alpha, const float *a, const int64_t *lda, const float *b,
                          const int64_t *ldb, const float *beta, float *c, const int64_t *ldc);
// The blocked GEMM of the mc3 set on one thread's block (xsgemm_par): the
// serial form plus the descriptor and the kernel version (2 or 4; 0 lets the
// function choose it from the block).  Returns 0.
using LegacyParGemmFn = int (*)(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                const float *b, const int64_t *ldb, const float *beta, float *c, const int64_t *ldc,
                                SgemmLegacyDesc *desc, int kernel_version);
// Fills the block sizes of desc that are still 0 (sgemm_get_blks_size).
using LegacyBlockSizeFn = void (*)(const int64_t *m, const int64_t *n, const int64_t *k, SgemmLegacyDesc *desc);
// Bytes of packing buffer a product of this shape needs (sgemm_get_bufs_size).
using LegacyBufferSizeFn = int64_t (*)(const int64_t *m, const int64_t *n, const int64_t *k, SgemmLegacyDesc *desc);
// Allocates the packing buffers for the desc's block sizes; returns the block
// to release with orb_serv_deallocate, or null (sgemm_get_bufs).
using LegacyGetBuffersFn = void *(*)(const SgemmLegacyDesc *desc, float **a_pack, float **b_pack);
// Packs the rows x cols block of op(X) whose first element is src (stored
// with leading dimension *ld, transposed or not as the packer's name says)
// into dst in the layout the set's kernel reads, multiplied by *factor.
using LegacyPackerFn = void (*)(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                const float *factor, float *dst);
// The block kernel: C(m x n, ldc) := (beta 0 ? 0 : C) + packed A x packed B
// over k packed steps; kernel_version 2 or 4 (sgemm_ker0).
using LegacyKernelFn = void (*)(const int64_t *m, const int64_t *n, const int64_t *k, const float *a_pack,
                                const float *b_pack, const float *beta, float *c, const int64_t *ldc,
                                int kernel_version);

// The legacy interface's kernel descriptor.  The mc3 set clears it
// (sgemm_zero_desc) and fills it from its table orb_mc3_s_all_gemm_ker
// (sgemm_get_optimal_kernel); the other sets leave it untouched.  The eight
// driver words belong to the legacy partitioned driver.
struct SgemmLegacyDesc {
    uint32_t word0;                   // not written by the kernel sets
    uint32_t kernel_index;            // 0
    uint32_t table_word;              // 126
    int64_t m_block;                  // mc: 0 until get_blks_size or set_blks_size sets it
    int64_t n_block;                  // nc, likewise
    int64_t k_block;                  // kc, likewise
    int64_t min_m;                    // 4: smallest m of the blocked path
    int64_t min_n;                    // 8: smallest n, and the n granule
    int64_t min_k;                    // 4: smallest k, and the k granule
    int64_t table_words[3];           // 4, 4, 4
    // --- the legacy driver's words (cleared by sgemm_zero_desc) ---
    XsgemmFn gemm;                    // serial GEMM of a thread's block when par_gemm is not used
    LegacyParGemmFn par_gemm;         // orb_blas_xsgemm_par when the set's API support is 1
    int64_t uses_par_gemm;            // 1: call par_gemm, 0: call gemm
    LegacyPackerFn pack_a;            // A packer picked by the transposition of A
    LegacyPackerFn pack_b;            // B packer picked by the transposition of B
    int64_t a_copy_bytes;             // size of the shared A copy buffer (0: none)
    int64_t b_copy_bytes;             // size of the shared B copy buffer (0: none)
    int32_t a_copy_alignment_log2;    // alignment exponents of the two copy buffers
    int32_t b_copy_alignment_log2;
    // --- the set's functions ---
    LegacyBlockSizeFn get_blks_size;  // sgemm_get_blks_size
    LegacyBufferSizeFn get_bufs_size; // sgemm_get_bufs_size
    LegacyGetBuffersFn get_bufs;      // sgemm_get_bufs
    LegacyPackerFn copyan;            // A not transposed
    LegacyPackerFn copyat;            // A transposed
    LegacyPackerFn copyac;            // A conjugate-transposed (copyat again)
    LegacyPackerFn copybn;            // B not transposed
    LegacyPackerFn copybt;            // B transposed
    LegacyPackerFn copybc;            // B conjugate-transposed (copybt again)
    LegacyPackerFn copya_ext;         // extended A packer
    LegacyPackerFn copyb_ext;         // extended B packer
    uint32_t table_word2;             // 2
    LegacyKernelFn kernel;            // sgemm_ker0
    int64_t tail[3];                  // cleared
};

// The register block and blocking of a sub-model GEMM (sgemm_blk_info_bdz).
struct SgemmBlockInfo {
    int64_t mr;  // rows of the register block
    int64_t nr;  // columns of the register block
    int64_t mc;  // rows of a packed A block
    int64_t nc;  // columns of a packed B block
    int64_t kc;  // depth of a k block
};

#endif
