// avx2_packed_set.cpp - the AVX2 set as the shared machinery sees it, and the
// set's machinery members (packed_members.def), each a call into it.
//
// The numbers: 24 x 4 packed block; kc splits above 256 (halves below 384,
// passes of 192 beyond); mc at most 10000 before rounding; nc at most 384,
// or 24 when k <= 47.  The path rule: products at least 72 x 72 with A not
// transposed (56 x 56 with A transposed) are packed; m = 6, k = 6 with
// neither operand transposed has a kernel of its own; everything else runs
// on the no-copy kernels.
#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/avx2/avx2_nocopy_blocking.h"
#include "blas/kernels/packed_set.h"

namespace {

// Products at least this large in m and n are packed.
constexpr int64_t kBlockedMinimumPlainA = 72;
constexpr int64_t kBlockedMinimumTransposedA = 56;

bool is_n(const char *t) { return *t == 'N' || *t == 'n'; }

PackedPath avx2_path(const char *transa, const char *transb, int64_t m, int64_t n, int64_t k) {
    int64_t minimum = is_n(transa) ? kBlockedMinimumPlainA : kBlockedMinimumTransposedA;
    if (m >= minimum && n >= minimum) return PackedPath::kBlocked;
    if (m == 6 && k == 6 && is_n(transa) && is_n(transb)) return PackedPath::kSpecial;
    return PackedPath::kNoCopy;
}

// The 6 x 6 kernel of the call's beta: the _b0 member for beta exactly 0.
void six_by_six(const char *transa, const char *transb, const int64_t *m, const int64_t *n, const int64_t *k,
                const float *alpha, const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
                const float *beta, float *c, const int64_t *ldc) {
    (*beta == 0.0f ? orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6_b0 : orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6)(
        transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

const PackedSet kAvx2Set = {
    24, 4,  // mr, nr
    32,     // tuning1
    8,      // tuning4
    4,      // min_n
    {256, 384, 192, 128, 10000, 384, 24, 47},
    {kAvx2NocopyBlocking[0], kAvx2NocopyBlocking[1], kAvx2NocopyBlocking[2], kAvx2NocopyBlocking[3]},
    orb_blas_avx2_sgemm_copyan,
    orb_blas_avx2_sgemm_copyat,
    orb_blas_avx2_sgemm_copybn,
    orb_blas_avx2_sgemm_copybt,
    orb_blas_avx2_sgemm_ker0,
    orb_blas_avx2_sgemm_ker0_cnr,
    orb_blas_avx2_sgemm_pst,
    orb_blas_avx2_sgemm_mscale,
    {
        {orb_blas_avx2_sgemm_kernel_nocopy_NN_b0, orb_blas_avx2_sgemm_kernel_nocopy_NT_b0,
         orb_blas_avx2_sgemm_kernel_nocopy_TN_b0, orb_blas_avx2_sgemm_kernel_nocopy_TT_b0},
        {orb_blas_avx2_sgemm_kernel_nocopy_NN_b1, orb_blas_avx2_sgemm_kernel_nocopy_NT_b1,
         orb_blas_avx2_sgemm_kernel_nocopy_TN_b1, orb_blas_avx2_sgemm_kernel_nocopy_TT_b1},
        {orb_blas_avx2_sgemm_kernel_nocopy_NN_bn, orb_blas_avx2_sgemm_kernel_nocopy_NT_bn,
         orb_blas_avx2_sgemm_kernel_nocopy_TN_bn, orb_blas_avx2_sgemm_kernel_nocopy_TT_bn},
    },
    avx2_path,
    six_by_six,
    orb_blas_avx2_check_strategy,
    orb_blas_avx2_sgemm_mscale_wrapper,
    orb_blas_avx2_s_pst_wrapper,
    orb_blas_avx2_s_generic_fullacopybcopy,
    orb_blas_avx2_xsgemm_acopiedbcopy,
    orb_blas_avx2_xsgemm_nocopy_driver,
    orb_blas_avx2_sgemm_get_bufs,
    orb_blas_avx2_sgemm_get_bufs_pack,
    orb_blas_avx2_sgemm_get_size_bufs,
    orb_blas_avx2_sgemm_set_bufs_pack,
    orb_blas_avx2_sgemm_free_bufs,
};

}  // namespace

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wunused-parameter"
extern "C" {
#define ORB_PACKED_MEMBER(name, result, params, call) \
    result orb_blas_avx2_##name params {               \
        [[maybe_unused]] const PackedSet &set = kAvx2Set; \
        return call;                                   \
    }
#include "blas/kernels/packed_members.def"
#undef ORB_PACKED_MEMBER
}
#pragma clang diagnostic pop
