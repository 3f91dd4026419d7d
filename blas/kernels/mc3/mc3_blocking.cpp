// mc3_blocking.cpp - the block sizes of the mc3 blocked path and the kernel
// version that goes with them.
//
// mc (rows of A packed at once) is 768, or 1280 on a processor whose cache
// description lists no data cache at all or a third level above 4 MiB.
// nc (columns of B) is n, at least 8 and at most 5000, rounded up to a whole
// 8-column panel.  kc (k steps) takes k whole up to 255 (rounded up to the
// granule 4, at least 128), halves k between 257 and 511 (rounded down, then
// up to the granule), and is 256 for k = 256 and from 512 on.
// A size set by sgemm_set_blks_size is never replaced: sgemm_get_blks_size
// fills only the sizes that are still 0.
//
// The kernel version tells the block kernel where the packed B block lives:
// 4 when it fits in 512 KiB, and so stays in the second-level cache next to
// the A rows being multiplied, 2 when it does not.
#include <algorithm>

#include "blas/kernels/mc3/mc3_blocking.h"
#include "blas/kernels/mc3/mc3_kernels.h"
#include "orb_service.h"

namespace {

constexpr int64_t kRowsBlock = 768;
constexpr int64_t kRowsBlockLargeCache = 1280;
constexpr uint64_t kLargeThirdLevel = 4u << 20;  // bytes
constexpr int64_t kMaxColumnsBlock = 5000;
constexpr int64_t kMaxStepsBlock = 256;
constexpr int64_t kMinStepsBlock = 128;
constexpr int64_t kBBlockBytesForVersion4 = 512 * 1024;

int64_t rows_block() {
    uint64_t caches[5];
    orb_serv_cache_info(caches);
    return caches[0] == 0 || caches[3] > kLargeThirdLevel ? kRowsBlockLargeCache : kRowsBlock;
}

int64_t columns_block(int64_t n) {
    return mc3::round_up(std::min(std::max<int64_t>(n, mc3::kPanelCols), kMaxColumnsBlock), mc3::kPanelCols);
}

int64_t steps_block(int64_t k) {
    if (k > kMaxStepsBlock - 1)
        return k < 2 * kMaxStepsBlock && k != kMaxStepsBlock ? mc3::round_up(k / 2, mc3::kStepGranule)
                                                             : kMaxStepsBlock;
    return std::max(mc3::round_up(k, mc3::kStepGranule), kMinStepsBlock);
}

}  // namespace

extern "C" {

void orb_blas_mc3_sgemm_set_blks_size(const int64_t *m_block, const int64_t *n_block, const int64_t *k_block,
                                      SgemmLegacyDesc *desc) {
    desc->m_block = *m_block;
    desc->n_block = *n_block;
    desc->k_block = *k_block;
}

void orb_blas_mc3_sgemm_get_blks_size(const int64_t *, const int64_t *n, const int64_t *k, SgemmLegacyDesc *desc) {
    if (desc->m_block == 0) desc->m_block = rows_block();
    if (desc->n_block == 0) desc->n_block = columns_block(*n);
    if (desc->k_block == 0) desc->k_block = steps_block(*k);
}

int orb_blas_mc3_sgemm_get_kernel_version(const int64_t *n, const int64_t *k, const SgemmLegacyDesc *desc) {
    int64_t b_block_bytes = std::min(*n, desc->n_block) * std::min(*k, desc->k_block) * 4;
    return b_block_bytes <= kBBlockBytesForVersion4 ? 4 : 2;
}

}  // extern "C"
