// sgemm_thread_count.cpp - the thread-count decision of SGEMM.
//
// With P the domain limit and a starting candidate p0:
//   - AVX-512 (cpu type 7): p0 = P and the work figure is m*n*k/32;
//   - every other set: a tall, narrow C (10n < m, n < P) with fewer than 24
//     rows per thread is capped at m/24 threads (one thread below 48 rows),
//     and the work figure is m*n*k/16.
// A team of at most 4 takes the largest p in p0..2 with work*(p-1) > 3000p;
// a larger team walks p0 down in steps of 2, 4 or 8 (below 10, below 30,
// above) and takes the first p with (p-1)*work > (500p + 4000)*p.  Every
// comparison with the work figure is strict.
#include "blas/gemm/sgemm_thread_count.h"

#include "orb_threads.h"

namespace {

constexpr uint32_t kCpuTypeAvx512 = 7;
constexpr int kBlasDomain = 1;

// The work figure: (m * scale) * (k * n) in double precision.
double work_figure(int64_t m, int64_t n, int64_t k, double scale) {
    return (static_cast<double>(m) * scale) * (static_cast<double>(k) * static_cast<double>(n));
}

// The candidate of the general rule: P, or fewer for a tall, narrow C; 1
// when C has too few rows for a second thread.
int capped_candidate(int64_t m, int64_t n, int limit) {
    if (10 * n < m && n < limit && m / limit < 24) {
        if (m < 48) return 1;
        return static_cast<int32_t>(m / 24);
    }
    return limit;
}

// Below these work figures a team of 2 or more never pays.
constexpr double kSmallTeamThreshold = 3000.0;
constexpr double kLargeTeamThreshold = 5000.0;

// The larger of the two scales of the work figure.
constexpr double kLargerWorkScale = 0.0625;

int small_team(double work, int p0) {
    if (work < kSmallTeamThreshold) return 1;
    for (int p = p0; p >= 2; --p)
        if (work * (p - 1) > kSmallTeamThreshold * p) return p;
    return 1;
}

int large_team(double work, int p0) {
    if (work < kLargeTeamThreshold) return 1;
    for (int p = p0; p > 1;) {
        if ((p - 1) * work > static_cast<double>((500 * static_cast<int64_t>(p) + 4000) * p)) return p;
        const uint32_t u = static_cast<uint32_t>(p);
        p -= u < 10 ? 2 : u < 30 ? 4 : 8;
    }
    return 1;
}

}  // namespace

int sgemm_thread_count(int64_t m, int64_t n, int64_t k, uint32_t cpu_type, int limit) {
    const bool avx512 = cpu_type == kCpuTypeAvx512;
    const int p0 = avx512 ? limit : capped_candidate(m, n, limit);
    if (p0 < 2) return p0;
    const double work = work_figure(m, n, k, avx512 ? kLargerWorkScale / 2 : kLargerWorkScale);
    return static_cast<uint32_t>(p0) <= 4 ? small_team(work, p0) : large_team(work, p0);
}

bool sgemm_one_thread_by_shape(int64_t m, int64_t n, int64_t k) {
    static_assert(kSmallTeamThreshold <= kLargeTeamThreshold, "the smaller threshold decides");
    return work_figure(m, n, k, kLargerWorkScale) < kSmallTeamThreshold;
}

extern "C" void thread_checker(const int64_t *m, const int64_t *n, const int64_t *k, ThreadOpts *opts) {
    const int limit = orb_serv_domain_get_max_threads(kBlasDomain);
    opts->max_threads = limit;
    opts->thread_count = sgemm_thread_count(*m, *n, *k, opts->cpu_type, limit);
}
