// avx2_strategy.cpp - how the AVX2 set describes its blocked path to the
// drivers, and the set's answers to the interface queries.
//
// A strategy record names the driver (strategy code), the register block
// (24 x 4 for the packed kernels, 16 x 6 for the no-copy kernels) and the
// loop order; the strategy check forces the block shape that belongs to the
// code and fills the fixed words, reporting 0 when it had to change the
// shape.  The partitioned drivers map their copy method to a strategy, and
// every driver fills an SgemmKernelInfo record from the strategy: the beta
// scaler, the packers for the operands' transpositions, the block kernel
// (the reproducible one when the STRICT flag of the reproducibility mode is
// set), the driver and the buffer-free fallback.
//
// The members of the legacy kernel interface do nothing in this set: it
// speaks interface version 2.
#include "blas/kernels/avx2/avx2_kernels.h"
#include "orb_service.h"

namespace {

// Register blocks of the packed kernels and of the no-copy kernels.
constexpr int64_t kPackedMr = 24, kPackedNr = 4;
constexpr int64_t kNoCopyMr = 16, kNoCopyNr = 6;

// Fixed words of the strategy record.
constexpr int64_t kTuning1Packed = 32;
constexpr int64_t kTuning1NoCopy = 16;
constexpr int64_t kTuning23 = 16;
constexpr int64_t kTuning4 = 8;
constexpr uint32_t kModeDefault = 2;
constexpr uint32_t kModeNoCopy = 4;
constexpr uint32_t kLoopOrderDefault = 4;

// Kernel information constants.
constexpr int64_t kMinimumM = 12;  // blocked path with A transposed and B not
constexpr int64_t kMinimumN = 4;   // blocked path otherwise
constexpr int64_t kInfoConstant = 4;

// Strategy code of each copy method of the thread plan; 0 leaves the choice
// to the check (the full copy).
constexpr uint32_t kCodeOfCopyMethod[] = {
    kStrategyFullCopy,     // 0: each thread packs its own panels
    kStrategyACopied,      // 1: A packed by the team beforehand
    0,                     // 2: lookahead, driven as a full copy
    kStrategyCopyVariant,  // 3
    0,                     // 4
    kStrategyNoCopy,       // 5: simple 3-D split, each thread on its own block
};

// Sets *field to value; clears *unchanged when that was a change.
void force(int64_t *field, int64_t value, int *unchanged) {
    if (*field != value) {
        *field = value;
        *unchanged = 0;
    }
}

}  // namespace

extern "C" {

void orb_blas_avx2_sgemm_initialize_strategy(SgemmStrategy *strategy) {
    strategy->mode = 0;
    strategy->code = 0;
    strategy->loop_order = 0;
    strategy->buffer_interface = 0;
    strategy->reserved = 0;
    strategy->mr = kPackedMr;
    strategy->nr = kPackedNr;
    strategy->k_granule = 1;
    strategy->tuning4 = kTuning4;
    strategy->check = orb_blas_avx2_check_strategy;
}

int orb_blas_avx2_check_strategy(SgemmStrategy *strategy) {
    int unchanged = 1;
    bool no_copy = strategy->code == kStrategyNoCopy;
    force(&strategy->mr, no_copy ? kNoCopyMr : kPackedMr, &unchanged);
    force(&strategy->nr, no_copy ? kNoCopyNr : kPackedNr, &unchanged);
    force(&strategy->k_granule, 1, &unchanged);
    if (no_copy) strategy->mode = kModeNoCopy;
    strategy->tuning1 = no_copy ? kTuning1NoCopy : kTuning1Packed;
    strategy->tuning2 = kTuning23;
    strategy->tuning3 = kTuning23;
    if (strategy->code == 0) strategy->code = kStrategyFullCopy;
    if (strategy->mode == 0) strategy->mode = kModeDefault;
    if (strategy->loop_order == 0) strategy->loop_order = kLoopOrderDefault;
    return unchanged;
}

int orb_blas_avx2_sgemm_map_thread_to_kernel(const ThreadOpts *opts, SgemmStrategy *strategy) {
    auto method = static_cast<uint32_t>(opts->copy_method);
    orb_blas_avx2_sgemm_initialize_strategy(strategy);
    if (method < sizeof kCodeOfCopyMethod / sizeof kCodeOfCopyMethod[0]) strategy->code = kCodeOfCopyMethod[method];
    return strategy->check(strategy);
}

SgemmKernelFn orb_blas_avx2_sgemm_initialize_kernel_info(const BlasOpParams *, const MatDesc *a, const MatDesc *b,
                                                         const MatDesc *, const SgemmStrategy *strategy,
                                                         SgemmKernelInfo *info) {
    bool reproducible = (orb_serv_cbwr_get(-1) & ORB_CBWR_STRICT) != 0;
    info->scale_c = orb_blas_avx2_sgemm_mscale_wrapper;
    info->strategy = *strategy;
    info->strategy.check(&info->strategy);
    info->fallback = orb_blas_avx2_s_pst_wrapper;
    info->min_m = kMinimumM;
    info->min_n = kMinimumN;
    info->constant = kInfoConstant;
    info->triangular_scaler = nullptr;
    info->triangular_kernel = nullptr;
    info->name = "SGEMM";
    if (info->strategy.code == kStrategyNoCopy) {
        info->driver = orb_blas_avx2_xsgemm_nocopy_driver;
        info->pack_a = nullptr;
        info->pack_b = nullptr;
    } else {
        info->pack_a = orb_desc_transposed(*a) ? orb_blas_avx2_sgemm_copyat : orb_blas_avx2_sgemm_copyan;
        info->pack_b = orb_desc_transposed(*b) ? orb_blas_avx2_sgemm_copybt : orb_blas_avx2_sgemm_copybn;
        info->driver = info->strategy.code == kStrategyACopied ? orb_blas_avx2_xsgemm_acopiedbcopy
                                                                : orb_blas_avx2_s_generic_fullacopybcopy;
    }
    info->kernel = reproducible ? orb_blas_avx2_sgemm_ker0_cnr : orb_blas_avx2_sgemm_ker0;
    return info->kernel;
}

// --- interface queries ---------------------------------------------------------
int orb_blas_avx2_sgemm_api_support(void) { return 4; }
int orb_blas_avx2_get_kernel_api_version(void) { return 2; }
int orb_blas_avx2_get_ikernel_api_version(void) { return 2; }

// --- the legacy interface: not spoken by this set -----------------------------
void orb_blas_avx2_sgemm_zero_desc(SgemmLegacyDesc *) {}
void orb_blas_avx2_sgemm_get_optimal_kernel(SgemmLegacyDesc *) {}
void orb_blas_avx2_sgemm_set_blks_size(const int64_t *, const int64_t *, const int64_t *, SgemmLegacyDesc *) {}
void orb_blas_avx2_sgemm_get_blks_size(const int64_t *, const int64_t *, const int64_t *, SgemmLegacyDesc *) {}
int orb_blas_avx2_xsgemm_par(const char *, const char *, const int64_t *, const int64_t *, const int64_t *,
                             const float *, const float *, const int64_t *, const float *, const int64_t *,
                             const float *, float *, const int64_t *, SgemmLegacyDesc *, int) {
    return 0;
}
int64_t orb_blas_avx2_sgemm_get_bufs_size(const int64_t *, const int64_t *, const int64_t *, SgemmLegacyDesc *) {
    return 0;
}

}  // extern "C"
