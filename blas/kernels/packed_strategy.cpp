// packed_strategy.cpp - how the avx2 and avx512 sets describe their blocked
// path to the drivers.
//
// A strategy record names the driver (strategy code), the register block
// (the set's packed block, or 16 x 6 for the no-copy kernels) and the loop
// order; the strategy check forces the block shape that belongs to the code
// and fills the fixed words, reporting 0 when it had to change the shape.
// The partitioned drivers map their copy method to a strategy, and every
// driver fills an SgemmKernelInfo record from the strategy: the beta scaler,
// the packers for the operands' transpositions, the block kernel (the
// reproducible one when the STRICT flag of the reproducibility mode is set),
// the driver and the buffer-free fallback.
#include "blas/kernels/packed_set.h"
#include "orb_service.h"

namespace {

// Register block of the no-copy kernels, in both sets.
constexpr int64_t kNoCopyMr = 16, kNoCopyNr = 6;

// Fixed words of the strategy record.
constexpr int64_t kTuning1NoCopy = 16;
constexpr int64_t kTuning23 = 16;
constexpr uint32_t kModeDefault = 2;
constexpr uint32_t kModeNoCopy = 4;
constexpr uint32_t kLoopOrderDefault = 4;

// Kernel information constants.
constexpr int64_t kMinimumM = 12;  // blocked path with A transposed and B not
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

void packed_sgemm_initialize_strategy(const PackedSet &set, SgemmStrategy *strategy) {
    strategy->mode = 0;
    strategy->code = 0;
    strategy->loop_order = 0;
    strategy->buffer_interface = 0;
    strategy->reserved = 0;
    strategy->mr = set.mr;
    strategy->nr = set.nr;
    strategy->k_granule = 1;
    strategy->tuning4 = set.tuning4;
    strategy->check = set.check_strategy;
}

int packed_check_strategy(const PackedSet &set, SgemmStrategy *strategy) {
    int unchanged = 1;
    bool no_copy = strategy->code == kStrategyNoCopy;
    force(&strategy->mr, no_copy ? kNoCopyMr : set.mr, &unchanged);
    force(&strategy->nr, no_copy ? kNoCopyNr : set.nr, &unchanged);
    force(&strategy->k_granule, 1, &unchanged);
    if (no_copy) strategy->mode = kModeNoCopy;
    strategy->tuning1 = no_copy ? kTuning1NoCopy : set.tuning1;
    strategy->tuning2 = kTuning23;
    strategy->tuning3 = kTuning23;
    if (strategy->code == 0) strategy->code = kStrategyFullCopy;
    if (strategy->mode == 0) strategy->mode = kModeDefault;
    if (strategy->loop_order == 0) strategy->loop_order = kLoopOrderDefault;
    return unchanged;
}

int packed_sgemm_map_thread_to_kernel(const PackedSet &set, const ThreadOpts *opts, SgemmStrategy *strategy) {
    auto method = static_cast<uint32_t>(opts->copy_method);
    packed_sgemm_initialize_strategy(set, strategy);
    if (method < sizeof kCodeOfCopyMethod / sizeof kCodeOfCopyMethod[0]) strategy->code = kCodeOfCopyMethod[method];
    return strategy->check(strategy);
}

SgemmKernelFn packed_sgemm_initialize_kernel_info(const PackedSet &set, const MatDesc *a, const MatDesc *b,
                                                  const SgemmStrategy *strategy, SgemmKernelInfo *info) {
    bool reproducible = (orb_serv_cbwr_get(-1) & ORB_CBWR_STRICT) != 0;
    info->scale_c = set.mscale_wrapper;
    info->strategy = *strategy;
    info->strategy.check(&info->strategy);
    info->fallback = set.pst_wrapper;
    info->min_m = kMinimumM;
    info->min_n = set.min_n;
    info->constant = kInfoConstant;
    info->triangular_scaler = nullptr;
    info->triangular_kernel = nullptr;
    info->name = "SGEMM";
    if (info->strategy.code == kStrategyNoCopy) {
        info->driver = set.nocopy_driver;
        info->pack_a = nullptr;
        info->pack_b = nullptr;
    } else {
        info->pack_a = orb_desc_transposed(*a) ? set.copyat : set.copyan;
        info->pack_b = orb_desc_transposed(*b) ? set.copybt : set.copybn;
        info->driver = info->strategy.code == kStrategyACopied ? set.a_copied_driver : set.full_copy_driver;
    }
    info->kernel = reproducible ? set.ker0_cnr : set.ker0;
    return info->kernel;
}
