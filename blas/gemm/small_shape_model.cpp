// small_shape_model.cpp - whether a small C with a deep k is better cut
// along k alone.
//
// A fitted model of the time of a (1, 1, T) k-split against a split of C,
// for 24 <= m <= 378, 8 <= n <= 378, k >= 336: a decision tree on m, n and
// k whose leaves are linear in them, one tree for teams of at most 18
// threads and one for larger teams.  A leaf value of 0.5 or more says yes.
#include <cmath>

#include "blas/gemm/thread_plan.h"

namespace {

double small_team_leaf(double m, double n, double k) {
    if (0.8 * (m - k) + 2.4 * n <= -193.0) {
        if (-3.8 * m - 1.8 * k - 2.1 * n <= -1354.0) return 1.0;
        return 0.96361 + 0.00029 * k + 0.00132 * m - 0.01133 * n;
    }
    if (6.2 * n + m > 321.0) return 0.0;
    if (0.5 * k - 15.1 * m - 0.06667 * n > -173.33333) return 1.0;
    return -0.11327 - 0.00044 * k + 0.04244 * m - 0.01209 * n;
}

double large_team_leaf(double m, double n, double k) {
    if (n <= 64) {
        if (-31.6 * m - 0.8 * n > -538.0) return -0.00135 + 0.00342 * k - 0.0216 * m + 0.00636 * n;
        return 1.16536 + 0.00004 * k + 0.00008 * m - 0.0158 * n;
    }
    if (1.6 * n - 0.1 * m > 397.0) return 0.15784 + 0.00015 * k - 0.00036 * m - 0.00088 * n;
    if (m < 257) return -0.34264 + 0.00026 * k - 0.00144 * m + 0.00166 * n;
    return -1.4051 + 0.0001 * k + 0.00266 * m + 0.00384 * n;
}

}  // namespace

bool small_shape_model(int threads, int64_t m, int64_t n, int64_t k) {
    const double dm = static_cast<double>(m), dn = static_cast<double>(n), dk = static_cast<double>(k);
    const double r = threads <= 18 ? small_team_leaf(dm, dn, dk) : large_team_leaf(dm, dn, dk);
    const double whole = std::trunc(std::max(r, 0.0));
    return whole != 0.0 || r - whole >= 0.5;
}
