// reference_gemm.h - an independent double-precision reference for products.
//
// reference_sgemm computes C := alpha*op(A)*op(B) + beta*C in column-major
// form with plain loops in double precision; reference_sgemv the matrix-vector
// twin.  gemm_error_bound gives the tolerance a single-precision result may
// differ from that reference by, growing with the inner dimension and the size
// of the terms, so that a correct blocked or reordered sum always passes and a
// wrong term does not.
#ifndef ORB_TESTS_REFERENCE_GEMM_H
#define ORB_TESTS_REFERENCE_GEMM_H

#include <cmath>
#include <cstdint>
#include <vector>

struct RefGemm {
    char transa = 'N';        // 'N', 'T' or 'C' for A
    char transb = 'N';        // 'N', 'T' or 'C' for B
    int64_t m = 0, n = 0, k = 0;
    double alpha = 1.0, beta = 0.0;
    const float *a = nullptr;
    int64_t lda = 1;
    const float *b = nullptr;
    int64_t ldb = 1;
};

inline bool ref_is_trans(char t) { return t != 'N' && t != 'n'; }

// Element (i, l) of op(X) for a column-major X with leading dimension ld.
inline double ref_op_at(const float *x, int64_t ld, char trans, int64_t i, int64_t l) {
    return ref_is_trans(trans) ? x[l + i * ld] : x[i + l * ld];
}

// Returns the exact (double) result for C; c is the input C (ldc), read when beta != 0.
// Also fills magnitude with alpha*|op(A)|*|op(B)| + |beta*C| for the error bound.
inline std::vector<double> reference_sgemm(const RefGemm &g, const float *c, int64_t ldc,
                                           std::vector<double> *magnitude = nullptr) {
    std::vector<double> out(static_cast<size_t>(g.m * g.n));
    if (magnitude) magnitude->assign(out.size(), 0.0);
    for (int64_t j = 0; j < g.n; ++j)
        for (int64_t i = 0; i < g.m; ++i) {
            double sum = 0.0, mag = 0.0;
            for (int64_t l = 0; l < g.k; ++l) {
                double p = ref_op_at(g.a, g.lda, g.transa, i, l) * ref_op_at(g.b, g.ldb, g.transb, l, j);
                sum += p;
                mag += std::fabs(p);
            }
            double cin = g.beta == 0.0 ? 0.0 : g.beta * c[i + j * ldc];
            out[i + j * g.m] = g.alpha * sum + cin;
            if (magnitude) (*magnitude)[i + j * g.m] = std::fabs(g.alpha) * mag + std::fabs(cin);
        }
    return out;
}

// y := alpha*op(A)*x + beta*y, A column-major m x n; returns the new y (length of op rows).
inline std::vector<double> reference_sgemv(char trans, int64_t m, int64_t n, double alpha,
                                           const float *a, int64_t lda, const float *x, int64_t incx,
                                           double beta, const float *y, int64_t incy,
                                           std::vector<double> *magnitude = nullptr) {
    bool t = ref_is_trans(trans);
    int64_t len_y = t ? n : m, len_x = t ? m : n;
    auto at = [&](const float *v, int64_t inc, int64_t len, int64_t i) {
        return v[inc > 0 ? i * inc : (len - 1 - i) * (-inc)];
    };
    std::vector<double> out(static_cast<size_t>(len_y));
    if (magnitude) magnitude->assign(out.size(), 0.0);
    for (int64_t i = 0; i < len_y; ++i) {
        double sum = 0.0, mag = 0.0;
        for (int64_t l = 0; l < len_x; ++l) {
            double aval = t ? a[l + i * lda] : a[i + l * lda];
            double p = aval * at(x, incx, len_x, l);
            sum += p;
            mag += std::fabs(p);
        }
        double yin = beta == 0.0 ? 0.0 : beta * at(y, incy, len_y, i);
        out[static_cast<size_t>(i)] = alpha * sum + yin;
        if (magnitude) (*magnitude)[static_cast<size_t>(i)] = std::fabs(alpha) * mag + std::fabs(yin);
    }
    return out;
}

// Largest difference a float computation of a k-term sum may show against the
// exact result: every partial sum may round once (k + 2 roundings including
// alpha and beta), each by at most one unit in the last place of the running
// magnitude.
inline double gemm_error_bound(int64_t k, double magnitude) {
    const double unit = std::ldexp(1.0, -24);
    return (static_cast<double>(k) + 3.0) * unit * magnitude + 1e-30;
}

#endif
