// packed_drivers.cpp - the blocked GEMM drivers of the avx2 and avx512 sets.
//
// Both drivers compute C := alpha*op(A)*op(B) + beta*C on packed panels.
// They first settle the cases without a product: m or n empty; k = 0 (C :=
// beta*C); a beta other than 0 and 1, which is applied to C once up front
// so that every k pass afterwards accumulates with beta 1; alpha = 0.
//
// The full-copy driver runs the loops in this order:
//   i0 over m in steps of mc,
//     p0 over k in steps of kc (beta for the first pass, 1 afterwards),
//       j0 over n in steps of nc: pack op(B)[p0.., j0..] with factor 1;
//         for the first j0 of a (i0, p0) pair, pack op(A)[i0.., p0..] with
//         factor alpha strip by strip (mr rows), each strip's panel handed
//         to the block kernel right after it is packed, while it is still
//         in the first-level cache; for every later j0 one kernel call
//         covers the whole packed block of A.
// A is thus packed once per (i0, p0) block and B once per (i0, p0, j0), and
// alpha is folded into the packed A so the kernel always multiplies by 1.
//
// The A-packed driver receives A already packed (and scaled by alpha) in
// the caller's buffer record and only packs B, column block by column
// block, with k in one piece.  Neither driver fails: without buffers they
// hand the whole product to the buffer-free fallback.
#include "blas/kernels/packed_set.h"
#include "orb_service.h"

namespace {

const float kOne = 1.0f;

// The dimensions and scalars of a call, read from its records.
struct Problem {
    int64_t m, n, k;  // C is m x n, the inner dimension k
    float alpha;      // folded into packed A
    float beta;       // 0 or 1 once prepare() has run
};

// Settles what needs no product.  Returns false when the call is complete.
bool prepare(BlasOpParams *op, const MatDesc *a, const MatDesc *c, const SgemmKernelInfo *info, Problem *p) {
    *p = Problem{c->rows, c->cols, a->cols, op->alpha, op->beta};
    if (p->m <= 0 || p->n <= 0) return false;
    if (p->k == 0) {
        if (p->beta != 1.0f) info->scale_c(c, &p->beta);
        return false;
    }
    if (p->beta != 0.0f && p->beta != 1.0f) {
        info->scale_c(c, &p->beta);
        p->beta = 1.0f;
        op->beta = 1.0f;
    }
    if (p->alpha == 0.0f) {
        if (p->beta != 1.0f) info->scale_c(c, &p->beta);  // beta 0 clears C
        return false;
    }
    return true;
}

// Loop order 4 over one (i0, p0) block of A: the B blocks along n.
void multiply_row_block(const Problem &p, BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c,
                        SgemmBuffers *buffers, const SgemmKernelInfo *info, int64_t i0, int64_t mb, int64_t p0,
                        int64_t kb) {
    float beta = p0 == 0 ? p.beta : 1.0f;
    int64_t mr = info->strategy.mr;
    MatDesc a_block = orb_panel_at(buffers->a, kb, 0);
    bool a_packed = false;
    for (int64_t j0 = 0; j0 < p.n; j0 += buffers->nc) {
        int64_t nb = p.n - j0 < buffers->nc ? p.n - j0 : buffers->nc;
        MatDesc b_block = orb_panel_at(buffers->b, kb, 0);
        MatDesc b_part = orb_sub_desc(*b, p0, j0, kb, nb);
        info->pack_b(&b_part, &b_block, &kOne, nullptr);
        if (a_packed) {
            MatDesc c_part = orb_sub_desc(*c, i0, j0, mb, nb);
            info->kernel(&kOne, &a_block, &b_block, &beta, &c_part, nullptr);
            continue;
        }
        for (int64_t r0 = 0; r0 < mb; r0 += mr) {
            int64_t rows = mb - r0 < mr ? mb - r0 : mr;
            MatDesc a_strip = orb_panel_at(buffers->a, kb, r0);
            MatDesc a_part = orb_sub_desc(*a, i0 + r0, p0, rows, kb);
            info->pack_a(&a_part, &a_strip, &op->alpha, nullptr);
            MatDesc c_part = orb_sub_desc(*c, i0 + r0, j0, rows, nb);
            info->kernel(&kOne, &a_strip, &b_block, &beta, &c_part, nullptr);
        }
        a_packed = true;
    }
}

}  // namespace

int packed_s_generic_fullacopybcopy(const PackedSet &set, BlasOpParams *op, const MatDesc *a, const MatDesc *b,
                                    const MatDesc *c, SgemmBuffers *buffers, SgemmKernelInfo *info) {
    Problem p;
    if (!prepare(op, a, c, info, &p)) return 0;

    SgemmBuffers own;
    bool private_buffers = buffers == nullptr;
    if (private_buffers) packed_sgemm_initialize_buffers(set, a, b, &info->strategy, &own);
    else own = *buffers;
    own.get(&own);
    if (orb_serv_check_ptr_and_warn(own.block, "SGEMM")) {
        info->fallback(op, a, b, c);
        return 0;
    }

    // Loop order 4 is the only order any strategy of this set produces.
    for (int64_t i0 = 0; i0 < p.m; i0 += own.mc) {
        int64_t mb = p.m - i0 < own.mc ? p.m - i0 : own.mc;
        for (int64_t p0 = 0; p0 < p.k; p0 += own.kc) {
            int64_t kb = p.k - p0 < own.kc ? p.k - p0 : own.kc;
            multiply_row_block(p, op, a, b, c, &own, info, i0, mb, p0, kb);
        }
    }

    if (private_buffers) own.free(&own);
    return 0;
}

int packed_xsgemm_acopiedbcopy(BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c,
                               SgemmBuffers *buffers, SgemmKernelInfo *info) {
    Problem p;
    if (!prepare(op, a, c, info, &p)) return 0;
    if (buffers == nullptr || orb_serv_check_ptr_and_warn(buffers->block, "SGEMM")) {
        info->fallback(op, a, b, c);
        return 0;
    }
    MatDesc a_block = orb_panel_at(buffers->a, p.k, 0);
    for (int64_t j0 = 0; j0 < p.n; j0 += buffers->nc) {
        int64_t nb = p.n - j0 < buffers->nc ? p.n - j0 : buffers->nc;
        MatDesc b_block = orb_panel_at(buffers->b, p.k, 0);
        MatDesc b_part = orb_sub_desc(*b, 0, j0, p.k, nb);
        info->pack_b(&b_part, &b_block, &kOne, nullptr);
        MatDesc c_part = orb_sub_desc(*c, 0, j0, p.m, nb);
        info->kernel(&kOne, &a_block, &b_block, &p.beta, &c_part, nullptr);
    }
    return 0;
}
