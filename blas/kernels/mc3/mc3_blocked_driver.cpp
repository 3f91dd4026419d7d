// mc3_blocked_driver.cpp - the blocked GEMM of the mc3 set on one block of C
// (xsgemm_par), driven by a legacy kernel descriptor.
//
// The descriptor supplies the block sizes, the packers (picked by the
// transposition of each operand), the buffer allocation and the block
// kernel; a descriptor that was only cleared is completed from the set's own
// table, and block sizes still 0 follow the set's blocking rules.  The
// blocks are then cut down to the product, so that a small product gets
// small buffers.
//
// Loop order: columns of B in blocks of nc, then k in blocks of kc, then
// rows of A in blocks of mc.  Each (nc, kc) block of op(B) is packed once
// (factor 1) and each (mc, kc) block of op(A) once per block of columns,
// with alpha folded in; up to 5000 columns this packs A exactly once.  The
// block kernel then gets the packed pair with the beta of the pass: the
// call's beta (0 or 1 by then) on the first k block, 1 on the others.  Any
// other beta is applied to C beforehand.
//
// Without buffers (the allocation failed) the product is computed by the
// buffer-free routine instead.
#include <algorithm>

#include "blas/kernels/mc3/mc3_blocking.h"
#include "blas/kernels/mc3/mc3_kernels.h"
#include "orb_memory.h"

namespace {

bool transposed(char t) { return t != 'N' && t != 'n'; }
bool conjugated(char t) { return t == 'C' || t == 'c'; }

// Address of op(X)(row, col) for X stored column-major with leading dimension ld.
const float *op_element(const float *x, int64_t ld, char trans, int64_t row, int64_t col) {
    return transposed(trans) ? x + col + row * ld : x + row + col * ld;
}

LegacyPackerFn packer_for(char trans, LegacyPackerFn plain, LegacyPackerFn trans_fn, LegacyPackerFn conj_fn) {
    return !transposed(trans) ? plain : conjugated(trans) ? conj_fn : trans_fn;
}

// A descriptor with every function the driver calls.
bool complete(const SgemmLegacyDesc &d) {
    return d.get_bufs && d.kernel && d.copyan && d.copyat && d.copyac && d.copybn && d.copybt && d.copybc;
}

}  // namespace

extern "C" int orb_blas_mc3_xsgemm_par(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                       const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                       const float *b, const int64_t *ldb, const float *beta, float *c,
                                       const int64_t *ldc, SgemmLegacyDesc *desc, int kernel_version) {
    const int64_t rows = *m, cols = *n, depth = *k;
    if (rows <= 0 || cols <= 0) return 0;
    float first_beta = *beta;
    if (depth <= 0 || *alpha == 0.0f) {
        if (first_beta != 1.0f) orb_blas_mc3_sgemm_mscale(m, n, beta, c, ldc);
        return 0;
    }
    if (first_beta != 0.0f && first_beta != 1.0f) {
        orb_blas_mc3_sgemm_mscale(m, n, beta, c, ldc);
        first_beta = 1.0f;
    }

    SgemmLegacyDesc plan = *desc;
    if (!complete(plan)) orb_blas_mc3_sgemm_get_optimal_kernel(&plan);
    orb_blas_mc3_sgemm_get_blks_size(m, n, k, &plan);
    const mc3::Blocks blocks = mc3::blocks_for(rows, cols, depth, plan);
    plan.m_block = blocks.mc;
    plan.n_block = blocks.nc;
    plan.k_block = blocks.kc;
    if (kernel_version == 0) kernel_version = orb_blas_mc3_sgemm_get_kernel_version(n, k, &plan);

    float *a_pack = nullptr, *b_pack = nullptr;
    void *buffers = plan.get_bufs(&plan, &a_pack, &b_pack);
    if (buffers == nullptr) {
        orb_blas_mc3_sgemm_pst(transa, transb, m, n, k, alpha, a, lda, b, ldb, &first_beta, c, ldc);
        return 0;
    }
    const LegacyPackerFn pack_a = packer_for(*transa, plan.copyan, plan.copyat, plan.copyac);
    const LegacyPackerFn pack_b = packer_for(*transb, plan.copybn, plan.copybt, plan.copybc);
    const float one = 1.0f;
    for (int64_t j0 = 0; j0 < cols; j0 += blocks.nc) {
        const int64_t nb = std::min(blocks.nc, cols - j0);
        for (int64_t p0 = 0; p0 < depth; p0 += blocks.kc) {
            const int64_t kb = std::min(blocks.kc, depth - p0);
            const float pass_beta = p0 == 0 ? first_beta : 1.0f;
            pack_b(op_element(b, *ldb, *transb, p0, j0), ldb, &kb, &nb, &one, b_pack);
            for (int64_t i0 = 0; i0 < rows; i0 += blocks.mc) {
                const int64_t mb = std::min(blocks.mc, rows - i0);
                pack_a(op_element(a, *lda, *transa, i0, p0), lda, &mb, &kb, alpha, a_pack);
                plan.kernel(&mb, &nb, &kb, a_pack, b_pack, &pass_beta, c + i0 + j0 * *ldc, ldc, kernel_version);
            }
        }
    }
    orb_serv_deallocate(buffers);
    return 0;
}
