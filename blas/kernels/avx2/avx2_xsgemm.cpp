// avx2_xsgemm.cpp - the serial GEMM entry of the AVX2 set.
//
// orb_blas_avx2_xsgemm computes C := alpha*op(A)*op(B) + beta*C on one
// thread and decides how:
//   - small products (below 72 x 72 with A not transposed, below 56 x 56
//     otherwise) are multiplied straight from the caller's matrices by the
//     no-copy driver, whose kernels need no packing; m = 6, k = 6 with
//     neither operand transposed has a kernel of its own;
//   - everything else goes to the full-copy blocked driver, unless C is too
//     narrow for the block kernel (n < 4, or m < 12 when only A is
//     transposed), which the buffer-free product handles;
//   - alpha = 0 only scales C.
// Under the STRICT reproducibility flag the order of every addition must
// depend on the shape alone: no small-size path and no buffer-free product
// are taken, and the full-copy driver runs with the reproducible kernel.
#include "blas/kernels/avx2/avx2_kernels.h"
#include "orb_service.h"

namespace {

// Products at least this large in m and n are packed.
constexpr int64_t kBlockedMinimumPlainA = 72;
constexpr int64_t kBlockedMinimumTransposedA = 56;

bool is_n(const char *t) { return *t == 'N' || *t == 'n'; }

// The path of a product outside the STRICT mode with alpha not 0.
enum class Path { Blocked, SixBySix, NoCopy };

// The records of one call for a strategy, and the driver they name.
struct Records {
    BlasOpParams op;       // transpositions, alpha, beta
    MatDesc a, b, c;       // the operands
    SgemmKernelInfo info;  // scaler, packers, kernel and driver of the strategy
    void run_driver() { info.driver(&op, &a, &b, &c, nullptr, &info); }
};

Path small_size_path(const char *transa, const char *transb, int64_t m, int64_t n, int64_t k) {
    int64_t minimum = is_n(transa) ? kBlockedMinimumPlainA : kBlockedMinimumTransposedA;
    if (m >= minimum && n >= minimum) return Path::Blocked;
    if (m == 6 && k == 6 && is_n(transa) && is_n(transb)) return Path::SixBySix;
    return Path::NoCopy;
}

}  // namespace

extern "C" void orb_blas_avx2_xsgemm(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                     const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                     const float *b, const int64_t *ldb, const float *beta, float *c,
                                     const int64_t *ldc) {
    if (*m < 1 || *n < 1) return;
    bool strict = (orb_serv_cbwr_get(-1) & ORB_CBWR_STRICT) != 0;
    bool alpha_zero = *alpha == 0.0f;  // NaN is not zero

    // Strategy code 0 is turned into the full copy by the strategy check.
    auto describe = [&](Records &r, uint32_t strategy_code) {
        blas_initialize_op_params(transa, transb, &r.op, alpha, beta);
        r.a = orb_operand_desc(a, *m, *k, *lda, transa);
        r.b = orb_operand_desc(b, *k, *n, *ldb, transb);
        r.c = orb_operand_desc(c, *m, *n, *ldc, nullptr);
        SgemmStrategy strategy;
        orb_blas_avx2_sgemm_initialize_strategy(&strategy);
        strategy.code = strategy_code;
        orb_blas_avx2_sgemm_initialize_kernel_info(&r.op, &r.a, &r.b, &r.c, &strategy, &r.info);
    };
    Records r;

    if (!strict && !alpha_zero) {
        switch (small_size_path(transa, transb, *m, *n, *k)) {
        case Path::SixBySix:
            (*beta == 0.0f ? orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6_b0 : orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6)(
                transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
            return;
        case Path::NoCopy:
            describe(r, kStrategyNoCopy);
            r.run_driver();
            return;
        case Path::Blocked: break;
        }
    }

    describe(r, 0);
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
    else orb_blas_avx2_sgemm_pst(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}
