// packed_xsgemm.cpp - the serial GEMM entry of the avx2 and avx512 sets.
//
// xsgemm computes C := alpha*op(A)*op(B) + beta*C on one thread and decides
// how, by the set's path rule (PackedSet::path):
//   - the full-copy blocked driver, unless C is too narrow for the block
//     kernel (n below the set's minimum, or m < 12 when only A is
//     transposed), which the buffer-free product handles;
//   - the no-copy driver, for products too small or too thin to repay
//     packing;
//   - the set's special small kernel (AVX2: m = 6, k = 6 with neither
//     operand transposed; AVX-512: A transposed against a very narrow B);
//   - alpha = 0 only scales C.
// Under the STRICT reproducibility flag the order of every addition must
// depend on the shape alone: no small-size path and no buffer-free product
// are taken, and the full-copy driver runs with the reproducible kernel.
//
// The field-4 scaler and the field-11 buffer-free fallback of the kernel
// information are here too: both unpack a descriptor into the set's own
// routine.
#include "blas/kernels/packed_set.h"
#include "orb_service.h"

namespace {

bool is_n(const char *t) { return *t == 'N' || *t == 'n'; }

// The records of one call for a strategy, and the driver they name.
struct Records {
    BlasOpParams op;       // transpositions, alpha, beta
    MatDesc a, b, c;       // the operands
    SgemmKernelInfo info;  // scaler, packers, kernel and driver of the strategy
    void run_driver() { info.driver(&op, &a, &b, &c, nullptr, &info); }
};

}  // namespace

void packed_xsgemm(const PackedSet &set, const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                   const int64_t *k, const float *alpha, const float *a, const int64_t *lda, const float *b,
                   const int64_t *ldb, const float *beta, float *c, const int64_t *ldc) {
    if (*m < 1 || *n < 1) return;
    bool strict = (orb_serv_cbwr_get(-1) & ORB_CBWR_STRICT) != 0;
    bool alpha_zero = *alpha == 0.0f;  // NaN is not zero

    // Strategy code 0, which the strategy check turns into the full copy.
    auto describe = [&](Records &r) {
        blas_initialize_op_params(transa, transb, &r.op, alpha, beta);
        r.a = orb_operand_desc(a, *m, *k, *lda, transa);
        r.b = orb_operand_desc(b, *k, *n, *ldb, transb);
        r.c = orb_operand_desc(c, *m, *n, *ldc, nullptr);
        SgemmStrategy strategy;
        packed_sgemm_initialize_strategy(set, &strategy);
        packed_sgemm_initialize_kernel_info(set, &r.a, &r.b, &strategy, &r.info);
    };
    Records r;

    if (!strict && !alpha_zero) {
        switch (set.path(transa, transb, *m, *n, *k)) {
        case PackedPath::kSpecial:
            set.special(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
            return;
        case PackedPath::kNoCopy:
            // What the no-copy strategy's records would name: its driver, on
            // the call's own operands.  Small products are where the cost of
            // building the records would show.
            packed_nocopy_product(set, {transa, transb, *m, *n, *k, *alpha, *beta, a, *lda, b, *ldb, c, *ldc});
            return;
        case PackedPath::kBlocked: break;
        }
    }

    describe(r);
    if (alpha_zero) {
        if (*beta != 1.0f) r.info.scale_c(&r.c, beta);
        return;
    }
    if (strict) {
        r.run_driver();
        return;
    }
    bool only_a_transposed = !is_n(transa) && is_n(transb);
    bool wide_enough = only_a_transposed ? *m >= r.info.min_m : *n >= r.info.min_n;
    if (wide_enough) r.run_driver();
    else set.pst(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

void packed_sgemm_mscale_wrapper(const PackedSet &set, const MatDesc *c, const float *beta) {
    set.mscale(&c->rows, &c->cols, beta, static_cast<float *>(c->data), &c->ld);
}

void packed_s_pst_wrapper(const PackedSet &set, const BlasOpParams *op, const MatDesc *a, const MatDesc *b,
                          const MatDesc *c) {
    if (op->operation != 0) return;  // only SGEMM has a buffer-free product in these sets
    set.pst(op->transa, op->transb, &c->rows, &c->cols, &a->cols, &op->alpha, static_cast<const float *>(a->data),
            &a->ld, static_cast<const float *>(b->data), &b->ld, &op->beta, static_cast<float *>(c->data), &c->ld);
}
