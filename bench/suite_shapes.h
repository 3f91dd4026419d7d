// suite_shapes.h - the products the benchmark suite times, by family.  All
// are row-major, as the inference runtime calls them.
//   square  SGEMM n x n x n, the classic measure of a BLAS;
//   skinny  SGEMM tokens x 4096 x 4096 with the weights stored transposed,
//           a 7B-class model's projection at 1 to 512 tokens;
//   small   SGEMM n x n x n up to 64, where call overhead and edge handling
//           count (and where libxsmm's generated kernels compete);
//   sgemv   SGEMV n x n, plain and transposed, from cache-resident to
//           memory-bound sizes.
#ifndef ORB_BENCH_SUITE_SHAPES_H
#define ORB_BENCH_SUITE_SHAPES_H

#include <string>
#include <vector>

namespace bench {

// One product of the suite.
struct SuiteCase {
    std::string family;  // square, skinny, small or sgemv
    bool gemv;           // an SGEMV (A is m x n) rather than an SGEMM (C is m x n, inner k)
    bool trans_a;        // op(A) = A'
    bool trans_b;        // op(B) = B' (SGEMM only)
    int m, n, k;         // dimensions; k is 0 for SGEMV
    int size;            // the plots' abscissa: n, or the token count for skinny
    bool threaded;       // also timed on more than one thread
};

inline double suite_flops(const SuiteCase &c) { return c.gemv ? 2.0 * c.m * c.n : 2.0 * c.m * c.n * c.k; }

// The cases of the named families; quick keeps a few sizes of each.
inline std::vector<SuiteCase> suite_cases(const std::vector<std::string> &families, bool quick) {
    const std::vector<int> squares = quick ? std::vector<int>{128, 512, 1024} : std::vector<int>{64, 128, 256, 512, 1024, 2048};
    const std::vector<int> tokens = quick ? std::vector<int>{8, 128} : std::vector<int>{1, 8, 32, 128, 512};
    const std::vector<int> smalls = quick ? std::vector<int>{8, 32} : std::vector<int>{4, 8, 16, 24, 32, 48, 64};
    const std::vector<int> vectors = quick ? std::vector<int>{1024, 4096} : std::vector<int>{256, 1024, 2048, 4096, 8192};
    constexpr int kHidden = 4096;
    std::vector<SuiteCase> cases;
    for (const std::string &f : families) {
        if (f == "square")
            for (int s : squares) cases.push_back({f, false, false, false, s, s, s, s, true});
        if (f == "skinny")
            for (int t : tokens) cases.push_back({f, false, false, true, t, kHidden, kHidden, t, true});
        if (f == "small")
            for (int s : smalls) cases.push_back({f, false, false, false, s, s, s, s, false});
        if (f == "sgemv")
            for (bool trans : {false, true})
                for (int s : vectors) cases.push_back({f, true, trans, false, s, s, 0, s, true});
    }
    return cases;
}

}  // namespace bench

#endif
