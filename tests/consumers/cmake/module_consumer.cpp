// A host linked against the installed library: it obtains the backend object
// from createBlasInstance, runs a row-major SGEMM with the weights stored
// transposed and an SGEMV through it, and compares both with
// double-precision loops.  Exit status 0 when both agree.
#include <vorte/blas_module.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// Values in [-1, 1) from a fixed sequence.
std::vector<float> values(size_t count, unsigned seed) {
    std::vector<float> v(count);
    for (float &x : v) x = float((seed = seed * 1103515245u + 12345u) >> 8 & 0xFFFF) / 32768.0f - 1.0f;
    return v;
}

bool close(float value, double expected) { return std::fabs(value - expected) <= 1e-5 * (1 + std::fabs(expected)); }

}  // namespace

int main() {
    const uint32_t m = 37, n = 29, k = 53;
    auto *blas = static_cast<vorte::blas::BlasModule *>(createBlasInstance());
    const std::vector<float> x = values(m * k, 1), w = values(n * k, 2), v = values(k, 3);
    std::vector<float> c(m * n, 0.0f), y(n, 0.0f);
    blas->sgemm(false, true, m, n, k, 1.0f, x.data(), k, w.data(), k, 0.0f, c.data(), n);  // C = X W'
    blas->sgemv(false, n, k, 1.0f, w.data(), k, v.data(), 1, 0.0f, y.data(), 1);          // y = W v
    int wrong = 0;
    for (uint32_t i = 0; i < m; ++i)
        for (uint32_t j = 0; j < n; ++j) {
            double sum = 0;
            for (uint32_t l = 0; l < k; ++l) sum += double(x[i * k + l]) * w[j * k + l];
            wrong += !close(c[i * n + j], sum);
        }
    for (uint32_t j = 0; j < n; ++j) {
        double sum = 0;
        for (uint32_t l = 0; l < k; ++l) sum += double(w[j * k + l]) * v[l];
        wrong += !close(y[j], sum);
    }
    std::printf("module consumer (%s): %d wrong elements\n", blas->getBlasProvider().lock()->c_str(), wrong);
    destroyBlasInstance(blas);
    return wrong == 0 ? 0 : 1;
}
