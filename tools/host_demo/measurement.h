// measurement.h - running one product through the backend object: its
// speed, and its largest error against a double-precision product.
#ifndef ORB_TOOLS_HOST_DEMO_MEASUREMENT_H
#define ORB_TOOLS_HOST_DEMO_MEASUREMENT_H

#include <vector>

#include "product.h"
#include "vorte/blas_module.h"

namespace demo {

// Random operands for every row: one buffer of values in [-1, 1) large
// enough for the largest A and B side by side, filled once.
class OperandPool {
public:
    explicit OperandPool(const std::vector<Product> &rows);
    const float *a() const { return values_.data(); }
    const float *b(const Product &p) const { return values_.data() + a_elements(p); }

private:
    std::vector<float> values_;
};

// What one row measured.
struct Measurement {
    double seconds = 0;    // best time of one call
    double gflops = 0;     // floating-point operations per second, in billions
    double gbytes = 0;     // bytes of A read per second, in billions
    double max_error = 0;  // largest |result - reference| / sum of |products| over the checked elements
};

// Calls the product once to warm up, then `reps` times (0: until a fifth of
// a second has passed, at least twice) and keeps the best time; checks every
// element of a small result and a sample of a large one.
Measurement measure(vorte::blas::BlasModule &blas, const Product &p, const OperandPool &operands, int reps);

// The largest error a correct single-precision product shows here: far above
// rounding for the demo's sizes, far below any wrong element.
constexpr double kErrorTolerance = 1e-5;

}  // namespace demo

#endif
