// measurement.cpp - timing a product and checking it against a
// double-precision product, both as the host's row-major arrays lie.
#include "measurement.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

namespace demo {

namespace {

// A result whose every element costs at most this many multiply-adds to
// check in double precision is checked whole; a larger one on a sample.
constexpr double kWholeCheckWork = double(1 << 24);
constexpr int kSampledElements = 256;
constexpr double kMinTimedSeconds = 0.2;
constexpr int kMinAutoReps = 2, kMaxAutoReps = 100;

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// splitmix64: a fast, well-mixed source for hundreds of millions of values.
uint64_t next_random(uint64_t &state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// The error of one element: its distance from the double-precision sum,
// relative to the sum of the magnitudes of its products (the scale that
// rounding errors grow with); a non-finite result counts as infinitely wrong.
double element_error(float result, double sum, double magnitude) {
    if (!std::isfinite(result)) return std::numeric_limits<double>::infinity();
    return std::fabs(result - sum) / (magnitude > 0 ? magnitude : 1.0);
}

// Error of element (i, j) of C = op(A) op(B), row-major, each array dense.
double sgemm_element_error(const Product &p, const float *a, const float *b, const float *c, size_t i, size_t j) {
    double sum = 0, magnitude = 0;
    for (size_t l = 0; l < p.k; ++l) {
        const double av = p.trans_a ? a[l * p.m + i] : a[i * p.k + l];
        const double bv = p.trans_b ? b[j * p.k + l] : b[l * p.n + j];
        sum += av * bv;
        magnitude += std::fabs(av * bv);
    }
    return element_error(c[i * p.n + j], sum, magnitude);
}

// Error of element i of y = op(A) x, A row-major m x n.
double sgemv_element_error(const Product &p, const float *a, const float *x, const float *y, size_t i) {
    const size_t length = p.trans_a ? p.m : p.n;
    double sum = 0, magnitude = 0;
    for (size_t l = 0; l < length; ++l) {
        const double av = p.trans_a ? a[l * p.n + i] : a[i * p.n + l];
        sum += av * x[l];
        magnitude += std::fabs(av * x[l]);
    }
    return element_error(y[i], sum, magnitude);
}

// The largest error over every element, or over the first, the last and a
// random sample of them.
double largest_error(const Product &p, const float *a, const float *b, const float *c) {
    const size_t elements = c_elements(p), inner = p.gemv ? (p.trans_a ? p.m : p.n) : p.k;
    const size_t columns = p.gemv ? 1 : p.n;
    auto error_at = [&](size_t index) {
        return p.gemv ? sgemv_element_error(p, a, b, c, index)
                      : sgemm_element_error(p, a, b, c, index / columns, index % columns);
    };
    double worst = 0;
    if (double(elements) * double(inner) <= kWholeCheckWork) {
        for (size_t index = 0; index < elements; ++index) worst = std::max(worst, error_at(index));
        return worst;
    }
    uint64_t state = elements;
    worst = std::max(error_at(0), error_at(elements - 1));
    for (int s = 0; s < kSampledElements; ++s) worst = std::max(worst, error_at(next_random(state) % elements));
    return worst;
}

}  // namespace

OperandPool::OperandPool(const std::vector<Product> &rows) {
    size_t largest = 0;
    for (const Product &p : rows) largest = std::max(largest, a_elements(p) + b_elements(p));
    values_.resize(largest);
    uint64_t state = 2026;
    for (float &v : values_) v = float(int32_t(next_random(state) >> 32)) * 0x1p-31f;
}

Measurement measure(vorte::blas::BlasModule &blas, const Product &p, const OperandPool &operands, int reps) {
    const float *a = operands.a(), *b = operands.b(p);
    std::vector<float> c(c_elements(p), 0.0f);
    auto call = [&] {
        if (p.gemv)
            blas.sgemv(p.trans_a, p.m, p.n, 1.0f, a, p.n, b, 1, 0.0f, c.data(), 1);
        else
            blas.sgemm(p.trans_a, p.trans_b, p.m, p.n, p.k, 1.0f, a, p.trans_a ? p.m : p.k, b,
                       p.trans_b ? p.k : p.n, 0.0f, c.data(), p.n);
    };
    call();  // warm-up: buffers, threads, caches
    Measurement m;
    m.seconds = std::numeric_limits<double>::infinity();
    double total = 0;
    for (int rep = 0; reps > 0 ? rep < reps : (rep < kMinAutoReps || (total < kMinTimedSeconds && rep < kMaxAutoReps));
         ++rep) {
        const double start = now();
        call();
        const double t = now() - start;
        total += t;
        m.seconds = std::min(m.seconds, t);
    }
    m.gflops = flops(p) / m.seconds / 1e9;
    m.gbytes = double(a_elements(p)) * sizeof(float) / m.seconds / 1e9;
    m.max_error = largest_error(p, a, b, c.data());
    return m;
}

}  // namespace demo
