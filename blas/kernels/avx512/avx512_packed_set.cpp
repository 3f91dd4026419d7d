// avx512_packed_set.cpp - the AVX-512 set as the shared machinery sees it,
// and the set's machinery members (packed_members.def), each a call into it.
//
// The numbers: 48 x 8 packed block; kc splits above 384 (halves below 768,
// passes of 384 beyond); mc at most 9984 before rounding; nc at most 384,
// or 24 when k <= 47.  The path rule, in order:
//   1. A transposed ("T"), B not, 2 <= n <= 15 and k >= 24*n: the narrow-B
//      routine sgemm_t_smalln;
//   2. packed: A not transposed with m and n at least 192; A transposed with
//      m <= n and m at least 192, or with m > n and m at least k or 192;
//   3. everything else on the no-copy kernels.
#include "blas/kernels/avx512/avx512_kernels.h"
#include "blas/kernels/packed_set.h"

namespace {

constexpr int64_t kBlockedMinimum = 192;    // rows and columns of a packed product
constexpr int64_t kNarrowBStepsPerColumn = 24;  // the narrow-B routine needs k >= this*n
constexpr int64_t kNarrowBMaxColumns = 15;

bool is_n(const char *t) { return *t == 'N' || *t == 'n'; }
bool is_t(const char *t) { return *t == 'T' || *t == 't'; }

PackedPath avx512_path(const char *transa, const char *transb, int64_t m, int64_t n, int64_t k) {
    if (k > 0 && is_t(transa) && is_n(transb) && n >= 2 && n <= kNarrowBMaxColumns && k >= kNarrowBStepsPerColumn * n)
        return PackedPath::kSpecial;
    bool blocked = is_n(transa) ? m >= kBlockedMinimum && n >= kBlockedMinimum
                                : (m <= n ? m >= kBlockedMinimum : m >= k || m >= kBlockedMinimum);
    return blocked ? PackedPath::kBlocked : PackedPath::kNoCopy;
}

// The no-copy driver's block rules, by NocopyLayout: k is cut the same way in
// every layout; n depends on whether A is stored transposed.
constexpr NocopyBlockRule kKRule = {384, 768, 384};
constexpr NocopyBlockRule kNRulePlainA = {96, 128, 64};
constexpr NocopyBlockRule kNRuleTransposedA = {576, 768, 384};

const PackedSet kAvx512Set = {
    48, 8,  // mr, nr
    48,     // tuning1
    16,     // tuning4
    8,      // min_n
    {384, 768, 384, 128, 9984, 384, 24, 47},
    {
        /* NN */ {kKRule, kNocopyRowRule, kNRulePlainA},
        /* NT */ {kKRule, kNocopyRowRule, kNRulePlainA},
        /* TN */ {kKRule, kNocopyRowRule, kNRuleTransposedA},
        /* TT */ {kKRule, kNocopyRowRule, kNRuleTransposedA},
    },
    orb_blas_avx512_sgemm_copyan,
    orb_blas_avx512_sgemm_copyat,
    orb_blas_avx512_sgemm_copybn,
    orb_blas_avx512_sgemm_copybt,
    orb_blas_avx512_sgemm_ker0,
    orb_blas_avx512_sgemm_ker0_cnr,
    orb_blas_avx512_sgemm_pst,
    orb_blas_avx512_sgemm_mscale,
    {
        {orb_blas_avx512_sgemm_kernel_nocopy_NN_b0, orb_blas_avx512_sgemm_kernel_nocopy_NT_b0,
         orb_blas_avx512_sgemm_kernel_nocopy_TN_b0, orb_blas_avx512_sgemm_kernel_nocopy_TT_b0},
        {orb_blas_avx512_sgemm_kernel_nocopy_NN_b1, orb_blas_avx512_sgemm_kernel_nocopy_NT_b1,
         orb_blas_avx512_sgemm_kernel_nocopy_TN_b1, orb_blas_avx512_sgemm_kernel_nocopy_TT_b1},
        {orb_blas_avx512_sgemm_kernel_nocopy_NN_bn, orb_blas_avx512_sgemm_kernel_nocopy_NT_bn,
         orb_blas_avx512_sgemm_kernel_nocopy_TN_bn, orb_blas_avx512_sgemm_kernel_nocopy_TT_bn},
    },
    avx512_path,
    orb_blas_avx512_sgemm_t_smalln,
    orb_blas_avx512_check_strategy,
    orb_blas_avx512_sgemm_mscale_wrapper,
    orb_blas_avx512_s_pst_wrapper,
    orb_blas_avx512_s_generic_fullacopybcopy,
    orb_blas_avx512_xsgemm_acopiedbcopy,
    orb_blas_avx512_xsgemm_nocopy_driver,
    orb_blas_avx512_sgemm_get_bufs,
    orb_blas_avx512_sgemm_get_bufs_pack,
    orb_blas_avx512_sgemm_get_size_bufs,
    orb_blas_avx512_sgemm_set_bufs_pack,
    orb_blas_avx512_sgemm_free_bufs,
};

}  // namespace

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wunused-parameter"
extern "C" {
#define ORB_PACKED_MEMBER(name, result, params, call)        \
    result orb_blas_avx512_##name params {                    \
        [[maybe_unused]] const PackedSet &set = kAvx512Set;   \
        return call;                                          \
    }
#include "blas/kernels/packed_members.def"
#undef ORB_PACKED_MEMBER
}
#pragma clang diagnostic pop
