// product.h - one product the host demo runs, as the host calls it: a
// row-major SGEMM or SGEMV through the backend object.
#ifndef ORB_TOOLS_HOST_DEMO_PRODUCT_H
#define ORB_TOOLS_HOST_DEMO_PRODUCT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace demo {

struct Product {
    std::string label;     // what it stands for in a model ("h=768 t=8 QKV projection"), or "" for a shape given
    bool gemv = false;     // an SGEMV (y := A*x or A'*x) rather than an SGEMM
    bool trans_a = false;  // op(A) = A' as the host stores it
    bool trans_b = false;  // op(B) = B' (SGEMM only)
    uint32_t m = 0;        // SGEMM: rows of C; SGEMV: rows of A
    uint32_t n = 0;        // SGEMM: columns of C; SGEMV: columns of A
    uint32_t k = 0;        // SGEMM: the inner dimension; 0 for SGEMV
};

// Elements of the host's arrays, all stored densely (each leading dimension
// is the row length).
inline size_t a_elements(const Product &p) { return size_t(p.m) * (p.gemv ? p.n : p.k); }
inline size_t b_elements(const Product &p) { return p.gemv ? size_t(p.trans_a ? p.m : p.n) : size_t(p.k) * p.n; }
inline size_t c_elements(const Product &p) { return p.gemv ? size_t(p.trans_a ? p.n : p.m) : size_t(p.m) * p.n; }

// Floating-point operations of one call.
inline double flops(const Product &p) { return p.gemv ? 2.0 * p.m * p.n : 2.0 * p.m * p.n * p.k; }

// The call and shape as the tables print them: "sgemm 8 x 2304 x 768 NT",
// "sgemv 2304 x 768 N".
std::string describe(const Product &p);

// The command-line option that runs the same product ("--sgemm=8x2304x768:NT").
std::string as_option(const Product &p);

}  // namespace demo

#endif
