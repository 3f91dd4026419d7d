// kernel_interface.h - how a kernel set describes itself to the drivers.
//
// The AVX2 and AVX-512 sets describe their blocked path with two records:
//   SgemmStrategy    which driver, register block and loop order to use;
//   SgemmKernelInfo  the functions of one call: beta scaler, packers, block
//                    kernel, driver and buffer-free fallback;
// and keep their packed panels in an SgemmBuffers record.  The function
// types below are those of the record fields.
#ifndef ORB_BLAS_KERNELS_KERNEL_INTERFACE_H
#define ORB_BLAS_KERNELS_KERNEL_INTERFACE_H

#include <cstdint>

#include "blas/gemm/gemm_records.h"

struct SgemmStrategy;
struct SgemmKernelInfo;
struct SgemmLegacyDesc;  // the legacy interface's kernel descriptor

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

#endif
