// xsmm_small_gemm.h - libxsmm as a contender on small SGEMMs: its
// just-in-time generated kernels, one per shape, called directly.  libxsmm is
// a static library (Debian's libxsmm-dev), linked in when the build finds it
// (ORB_BENCH_HAVE_LIBXSMM); its instruction set follows LIBXSMM_TARGET.
// It computes column-major C := A B (+ C), so a row-major product C = op(A)
// op(B) is asked of it as C' = op(B)' op(A)'.
#ifndef ORB_BENCH_XSMM_SMALL_GEMM_H
#define ORB_BENCH_XSMM_SMALL_GEMM_H

#include <functional>
#include <string>

#ifdef ORB_BENCH_HAVE_LIBXSMM
#include <libxsmm.h>
#endif

namespace bench {

// Whether this build times libxsmm, and its name with the kernels it generates.
inline bool xsmm_available() {
#ifdef ORB_BENCH_HAVE_LIBXSMM
    return true;
#else
    return false;
#endif
}

inline std::string xsmm_label() {
#ifdef ORB_BENCH_HAVE_LIBXSMM
    libxsmm_init();
    return std::string("libxsmm (") + libxsmm_get_target_arch() + ")";
#else
    return "libxsmm";
#endif
}

// A call of the row-major product C (m x n) := op(A) op(B), or an empty
// function when libxsmm generates no kernel for it.
inline std::function<void()> xsmm_row_major_sgemm(bool trans_a, bool trans_b, int m, int n, int k, const float *a,
                                                   const float *b, float *c) {
#ifdef ORB_BENCH_HAVE_LIBXSMM
    // Column-major view: C' (n x m) = op(B)' (n x k) op(A)' (k x m).
    const libxsmm_blasint lda_b = trans_b ? k : n, lda_a = trans_a ? m : k, ldc = n;
    const float alpha = 1.0f, beta = 0.0f;
    const int flags = (trans_b ? LIBXSMM_GEMM_FLAG_TRANS_A : 0) | (trans_a ? LIBXSMM_GEMM_FLAG_TRANS_B : 0);
    const libxsmm_smmfunction kernel =
        libxsmm_smmdispatch(n, m, k, &lda_b, &lda_a, &ldc, &alpha, &beta, &flags, nullptr);
    if (!kernel) return {};
    return [kernel, a, b, c] { kernel(b, a, c); };
#else
    (void)trans_a, (void)trans_b, (void)m, (void)n, (void)k, (void)a, (void)b, (void)c;
    return {};
#endif
}

}  // namespace bench

#endif
