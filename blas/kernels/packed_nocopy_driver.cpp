// packed_nocopy_driver.cpp - the driver of the no-copy path of the avx2 and
// avx512 sets.
//
// The driver computes C := alpha*op(A)*op(B) + beta*C for products too small
// or too thin to repay packing, by cutting them into blocks and handing each
// block to the no-copy kernel of the operand layout.  It walks k outermost,
// then m, then n, with the set's block rules (PackedSet::nocopy_blocking,
// packed_set.h).  The first k block runs the kernel of the call's beta case
// (0, 1 or other); every later k block adds onto what the first left in C,
// with the beta = 1 kernel, so C is scaled exactly once.  Two shapes never reach a kernel: a tiny product
// with A transposed and B not goes to the buffer-free routine, and an empty
// inner dimension (or alpha 0) only scales C by beta.
//
// The kernel of a call is found by a 4-bit code of the transposition
// characters: bit 0 B transposed, bit 1 B conjugated, bit 2 A transposed,
// bit 3 A conjugated.  Conjugation is nothing for real data, so the nine
// codes the characters can give share the four kernels of a beta case.
#include "blas/kernels/packed_set.h"

namespace {

// Bits of the code.
enum : int {
    kCodeBTrans = 1,  // B stored transposed
    kCodeBConj = 2,   // B conjugated
    kCodeATrans = 4,  // A stored transposed
    kCodeAConj = 8    // A conjugated
};

// Transposed and conjugated bits of one character, as those of B.
int trans_bits(const char *trans) {
    switch (*trans) {
    case 'T':
    case 't': return kCodeBTrans;
    case 'C':
    case 'c': return kCodeBTrans | kCodeBConj;
    default: return 0;
    }
}

int kernel_code(const char *transa, const char *transb) { return trans_bits(transb) | trans_bits(transa) << 2; }

NocopyLayout layout_of(int code) {
    const bool a_trans = (code & kCodeATrans) != 0, b_trans = (code & kCodeBTrans) != 0;
    return static_cast<NocopyLayout>((a_trans ? kNocopyTN : kNocopyNN) | (b_trans ? kNocopyNT : kNocopyNN));
}

// The beta cases, as indexes of PackedSet::nocopy.
enum BetaTable : int {
    kBetaZero = 0,  // _b0: C is written without being read
    kBetaOne = 1,   // _b1: the product is added to C
    kBetaOther = 2  // _bn: the product is added to beta*C (also for a NaN beta)
};

BetaTable beta_table(float beta) {
    if (beta == 0.0f) return kBetaZero;
    if (beta == 1.0f) return kBetaOne;
    return kBetaOther;
}

// The kernel of a layout among the four of a beta case.
NocopyKernelFn kernel_of(const NocopyKernels &kernels, NocopyLayout layout) {
    switch (layout) {
    case kNocopyNN: return kernels.nn;
    case kNocopyNT: return kernels.nt;
    case kNocopyTN: return kernels.tn;
    default: return kernels.tt;
    }
}

// Element (i, j) of op(X) for X stored with leading dimension ld, transposed or not.
template <typename T>
T *element(T *x, int64_t ld, bool transposed, int64_t i, int64_t j) {
    return transposed ? x + j + i * ld : x + i + j * ld;
}

}  // namespace

int packed_nocopy_product(const PackedSet &set, const NocopyCall &call) {
    const int64_t m = call.m, n = call.n, k = call.k;
    if (m < 1 || n < 1) return 0;
    const int code = kernel_code(call.transa, call.transb);
    const bool a_trans = (code & kCodeATrans) != 0, b_trans = (code & kCodeBTrans) != 0;

    // A few dot products of long columns: the kernels' 16 x 6 block would be mostly empty.
    if (a_trans && !b_trans && m <= 3 && n <= 15 && m * n < 32) {
        set.pst("T", "N", &m, &n, &k, &call.alpha, call.a, &call.lda, call.b, &call.ldb, &call.beta, call.c,
                &call.ldc);
        return 0;
    }
    if (k < 1 || call.alpha == 0.0f) {
        if (call.beta != 1.0f) set.mscale(&call.m, &call.n, &call.beta, call.c, &call.ldc);
        return 0;
    }

    const NocopyLayout layout = layout_of(code);
    const NocopyBlocking &blocking = set.nocopy_blocking[layout];
    const NocopyKernelFn first_pass = kernel_of(set.nocopy[beta_table(call.beta)], layout);
    const NocopyKernelFn later_pass = kernel_of(set.nocopy[kBetaOne], layout);
    const float one = 1.0f;
    int64_t kb = 0, mb = 0, nb = 0;
    for (int64_t p0 = 0; p0 < k; p0 += kb) {
        kb = nocopy_next_block(k - p0, blocking.k);
        const NocopyKernelFn kernel = p0 == 0 ? first_pass : later_pass;
        const float *beta = p0 == 0 ? &call.beta : &one;
        for (int64_t i0 = 0; i0 < m; i0 += mb) {
            mb = nocopy_next_block(m - i0, blocking.m);
            for (int64_t j0 = 0; j0 < n; j0 += nb) {
                nb = nocopy_next_block(n - j0, blocking.n);
                kernel(mb, nb, kb, &call.alpha, element(call.a, call.lda, a_trans, i0, p0), call.lda,
                       element(call.b, call.ldb, b_trans, p0, j0), call.ldb, beta,
                       element(call.c, call.ldc, false, i0, j0), call.ldc);
            }
        }
    }
    return 0;
}

int packed_xsgemm_nocopy_driver(const PackedSet &set, BlasOpParams *op, const MatDesc *a, const MatDesc *b,
                                const MatDesc *c) {
    const NocopyCall call{op->transa, op->transb, c->rows, c->cols, a->cols, op->alpha, op->beta,
                          static_cast<const float *>(a->data), a->ld, static_cast<const float *>(b->data), b->ld,
                          static_cast<float *>(c->data), c->ld};
    return packed_nocopy_product(set, call);
}
