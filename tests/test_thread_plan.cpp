// The thread-count decision and the thread-grid plan of the threaded SGEMM,
// as pure functions: worked examples, then a sweep of shapes, team sizes,
// cpu types, transpositions, leading dimensions, the strict flag and
// package layouts against a second, plain transcription of the rules kept
// in this file.  No thread is started and nothing depends on this host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "blas/gemm/sgemm_thread_count.h"
#include "blas/gemm/thread_plan.h"
#include "orb_threads.h"

namespace {

// --- a record of a call --------------------------------------------------------

struct Call {
    int64_t m, n, k;
    const char *trans;  // transa, transb
    int64_t lda, ldb, ldc;
};

// A prepared plan record and the operation of a call.
struct Planned {
    ThreadOpts opts;
    BlasOpParams op;
    Planned(const Call &c, uint32_t cpu, int threads, int strict) {
        orb_prepare_thread_opts(opts, strict);
        opts.cpu_type = cpu;
        opts.thread_count = threads;
        const float one = 1.0f;
        blas_initialize_op_params(&c.trans[0], &c.trans[1], &op, &one, &one);
    }
    Planned(const Planned &) = delete;
};

// The fields a plan writes.
std::vector<int64_t> plan_fields(const ThreadOpts &o) {
    return {o.thread_count,      o.working_threads, o.lookahead_group_size, o.m_parts,        o.n_parts,
            o.k_parts,           o.lookahead_depth, o.lookahead_flag,       o.permission_3d,  o.lookahead_block,
            o.partition_kind,    o.copy_method,     o.rounding_mode,        o.params->block_m, o.params->block_n,
            o.params->block_k};
}

// --- a second transcription of the rules -----------------------------------------

namespace text {

int checker(int64_t m, int64_t n, int64_t k, uint32_t cpu, int P) {
    int p0 = P;
    double work;
    if (cpu == 7) {
        if (P < 2) return P;
        work = ((double)m * 0.03125) * ((double)k * (double)n);
    } else {
        if (10 * n < m && n < P) {
            int64_t q = m / P;
            if (q < 24) {
                if (m < 48) return 1;
                p0 = (int32_t)(m / 24);
            }
        }
        if (p0 < 2) return p0;
        work = ((double)m * 0.0625) * ((double)k * (double)n);
    }
    if ((unsigned)p0 <= 4u) {
        if (work < 3000.0) return 1;
        for (int p = p0; p >= 2; p--)
            if (work * (p - 1) > 3000.0 * p) return p;
        return 1;
    }
    if (work < 5000.0) return 1;
    int p = p0;
    while (p > 1) {
        if ((p - 1) * work > (500.0 * p + 4000.0) * p) return p;
        if ((unsigned)p < 10u) p -= 2;
        else if ((unsigned)p < 30u) p -= 4;
        else p -= 8;
    }
    return 1;
}

char up(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 32) : c; }
bool ld256(int64_t x) { return x % 256 == 0; }
int64_t divisor(int64_t X, int64_t c) {
    for (int64_t d = c < 1 ? 1 : c; d >= 1; d--)
        if (X % d == 0) return d;
    return 1;
}
int64_t cdiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

void sqrt_fix(int64_t R, int64_t m, int64_t n, int64_t &mb, int64_t &nb) {
    int64_t s = (int64_t)std::sqrt((double)R);
    if (nb < mb) {
        nb = divisor(R, std::min(s, n));
        mb = R / nb;
    } else {
        mb = divisor(R, std::min(s, (m + 15) / 16));
        nb = R / mb;
    }
}

void blocks(ThreadOpts &o, int64_t m, int64_t n, int64_t k, int64_t mb, int64_t nb, int64_t kp) {
    int64_t bm = cdiv(cdiv(m, mb), 16) * 16, bn = cdiv(n, nb), bk = cdiv(cdiv(k, kp), 4) * 4;
    if (bm * mb > m) mb = cdiv(m, bm);
    if (bn * nb > n) nb = cdiv(n, bn);
    if (bk * kp > k) kp = cdiv(k, bk);
    o.m_parts = (int)mb, o.n_parts = (int)nb, o.k_parts = (int)kp;
    o.params->block_m = bm, o.params->block_n = bn, o.params->block_k = bk;
}

void grid512(ThreadOpts &o, char ta, int64_t m, int64_t n, int64_t k, const PackageLayout &L) {
    int64_t T = o.thread_count, kp = 1, R = T;
    if (n <= 128 && m <= 64 * T) {
        int64_t c = std::min(T / 4, k / 192);
        if (c >= 2) kp = divisor(T, c), R = T / kp;
    }
    int64_t mb = std::max<int64_t>(1, (m + 31) / 32), nb = std::max<int64_t>(1, (n + 63) / 64);
    if (16 <= n && n <= 64 && m >= 48 * (T / 2) && k <= 512 && ta != 'T' && L.packages == 2 &&
        L.cores_per_package < T)
        mb = T / 2, nb = 2, kp = 1, R = T;
    int64_t r = (int64_t)((float)std::max(mb, nb) / (float)std::min(mb, nb));
    while (mb * nb > 4 * R) mb >>= 1, nb >>= 1;
    if (mb < 1) mb = 1;
    if (nb < 1) nb = 1;
    int64_t c = 0;
    while (mb * nb > R) {
        if (nb < mb) {
            if (c < r) mb--, c++;
            else nb--, c = 0;
        } else {
            if (c < r) nb--, c++;
            else mb--, c = 0;
        }
    }
    c = 0;
    while (mb * nb < 0.95 * R) {
        if (nb < mb) {
            if (c < r) mb++, c++;
            else nb++, c = 0;
        } else {
            if (c < r) nb++, c++;
            else mb++, c = 0;
        }
    }
    if (mb * nb > R) sqrt_fix(R, m, n, mb, nb);
    blocks(o, m, n, k, mb, nb, kp);
    o.thread_count = o.m_parts * o.n_parts * o.k_parts;
}

void grid2(ThreadOpts &o, int64_t m, int64_t n, int64_t k) {
    int64_t T = o.thread_count, mb = (m + 63) / 64, nb = (n + 47) / 48, P = mb * nb, kp = 1;
    if (P < T) {
        for (int64_t c = 2;; c++) {
            if (k / c < 385) break;
            if (T - T % c > 0.9 * T) kp = c;
            if (P * c >= T) break;
        }
    }
    int64_t R = T / kp;
    if (1 <= m && m <= 64) nb = R;
    if (nb == 1) mb = R;
    while (mb * nb > R) {
        if (mb > nb) mb--;
        else nb--;
    }
    while (mb * nb < R) {
        if (mb < nb) mb++;
        else nb++;
    }
    if (mb * nb > R && mb >= 2 && nb >= 2) sqrt_fix(R, m, n, mb, nb);
    blocks(o, m, n, k, mb, nb, kp);
}

bool model_yes(int T, double m, double n, double k) {
    double r;
    if (T <= 18) {
        if (0.8 * (m - k) + 2.4 * n <= -193.0 && -3.8 * m - 1.8 * k - 2.1 * n <= -1354.0) r = 1.0;
        else if (0.8 * (m - k) + 2.4 * n <= -193.0) r = 0.96361 + 0.00029 * k + 0.00132 * m - 0.01133 * n;
        else if (6.2 * n + m > 321.0) r = 0.0;
        else if (0.5 * k - 15.1 * m - 0.06667 * n > -173.33333) r = 1.0;
        else r = -0.11327 - 0.00044 * k + 0.04244 * m - 0.01209 * n;
    } else {
        if (n <= 64 && -31.6 * m - 0.8 * n > -538.0) r = -0.00135 + 0.00342 * k - 0.0216 * m + 0.00636 * n;
        else if (n <= 64) r = 1.16536 + 0.00004 * k + 0.00008 * m - 0.0158 * n;
        else if (1.6 * n - 0.1 * m > 397.0) r = 0.15784 + 0.00015 * k - 0.00036 * m - 0.00088 * n;
        else if (m < 257) r = -0.34264 + 0.00026 * k - 0.00144 * m + 0.00166 * n;
        else r = -1.4051 + 0.0001 * k + 0.00266 * m + 0.00384 * n;
    }
    double t = std::trunc(std::max(r, 0.0));
    return t != 0 || r - t >= 0.5;
}

void search2d(ThreadOpts &o, int64_t m, int64_t n) {
    int T = o.thread_count, mp = 1, np = T;
    if (T % 2 == 0) {
        for (;;) {
            if (m / mp < 768 || mp >= 4 || (n / T < 385 && n / np > 192)) break;
            mp *= 2, np /= 2;
            if (np % 2 == 1) break;
        }
    }
    o.m_parts = mp, o.n_parts = np;
}

// The k-split grids.
void grid3d(ThreadOpts &o, bool avx512, int64_t m, int64_t n, int64_t k) {
    int64_t T = o.thread_count, s = (int64_t)(n / 960.0), c, mp, np;
    if (avx512) {
        int64_t a = std::max<int64_t>(m / 1024, 1);
        int64_t T1 = (T % 2 == 0 && T >= 8 && m / 1024 >= 2) ? T / 2 : T;
        int64_t T2 = (T1 % 2 == 0 && T1 >= 8 && s >= 2) ? T1 / 2 : T1;
        c = std::max<int64_t>(1, std::min(std::min(4 * n * (209715200 / m), T2), (k + 383) / 384));
        int64_t kp = divisor(T, c), R = T / kp;
        if (m > n) np = divisor(R, std::max<int64_t>(s, 1)), mp = R / np;
        else mp = divisor(R, a), np = R / mp;
        o.k_parts = (int)kp;
    } else {
        int64_t T1 = (m >= 2048 && T >= 8 && T % 2 == 0) ? T / 2 : T;
        int64_t d = (s >= 2 && T1 >= 8 && T1 % 2 == 0) ? 2 : 1;
        s = std::max<int64_t>(s, 1);
        int64_t q = m <= 209715200 ? 209715200 / m : 0;
        c = std::max<int64_t>(1, std::min(std::min(4 * n * q, T1 / d), (k + 383) / 384));
        int64_t kp = divisor(T, c), R = T / kp;
        np = divisor(R, s), mp = R / np;
        o.k_parts = (int)kp;
    }
    o.m_parts = (int)mp, o.n_parts = (int)np;
}

void lookahead(ThreadOpts &o, int g, int depth, int64_t block) {
    o.partition_kind = 7, o.copy_method = 2, o.lookahead_group_size = g, o.lookahead_depth = depth;
    o.lookahead_flag = 0, o.lookahead_block = block, o.working_threads = o.thread_count, o.rounding_mode = 0;
}

void plan(ThreadOpts &o, const Call &c, const PackageLayout &L) {
    const int64_t m = c.m, n = c.n, k = c.k, T = o.thread_count;
    const char ta = up(c.trans[0]), tb = up(c.trans[1]);
    const bool strict = o.trailer.strict != 0, avx512 = o.cpu_type == 7;
    o.copy_method = 0, o.rounding_mode = 0;
    bool pass = !strict;
    if (pass && avx512) {
        if (ta != 'N' && tb == 'N') {
            if (m >= 101 && n >= 65 && k >= 801 && (ld256(c.ldb) || ld256(c.ldc))) pass = false;
        } else if (ld256(c.lda) || ld256(c.ldb) || ld256(c.ldc)) {
            if (m >= 32 && n > 16) pass = false;
            if (m >= 32 && n == 16 && (k > 6399 || ta != 'N' || m == 4096)) pass = false;
        }
    }
    if (pass) pass = ((m >= 379 || n >= 379) && m < 378 * T) || k < 378 * T;
    if (pass && avx512) pass = (tb == 'N' ? m <= 28 * T : (m <= 28 * T && m >= n)) || n <= 28 * T || k <= T;
    if (pass && !avx512)
        pass = tb == 'N' ? ((m <= 128 && n <= 128) || n <= 16 * T || k <= 2 * T || m <= 64)
                         : ((m <= 128 && n <= 128) || n <= T || k <= T);
    if (pass) {
        o.copy_method = 5;
        if (avx512) grid512(o, ta, m, n, k, L);
        else grid2(o, m, n, k);
        return;
    }
    bool model = !strict && 24 <= m && m <= 378 && 8 <= n && n <= 378 && k >= 336;
    bool ksplit = o.permission_3d == 2 && !strict && T % 2 == 0 && m * n < 26214400 && 8 * std::min(m, n) <= k;
    bool W;
    if (avx512) {
        if (m > 6144 && n > 384 * T && k > 1536) return lookahead(o, 1, 2, 6144);
        if (4 * m > 384 * T && 4 * n > 384 * T && k > 1536 && T % 4 == 0) return lookahead(o, 4, 2, 6144);
        if (ksplit && ((m > 1303 && n > 15 && k > 1303) || n * T < 8 * k)) {
            grid3d(o, true, m, n, k);
            o.partition_kind = 5;
            return;
        }
        W = (n / T >= 193 && n / T <= 384) ? false : m >= 768;
        if (model && model_yes((int)T, (double)m, (double)n, (double)k)) {
            o.m_parts = 1, o.n_parts = 1, o.k_parts = (int)T, o.partition_kind = 5;
            return;
        }
        if (!model && m >= 1000 && n >= 96 * T) {
            o.partition_kind = 1, o.copy_method = 1, o.working_threads = (int)T;
            return;
        }
        if (!W) o.partition_kind = (n < m && (m / T > 15 || n < T)) ? 0 : 1;
    } else {
        if (m > 2000 && n > 384 * T && k > 1536 && T % 2 == 0) return lookahead(o, 2, 1, 16000);
        if (m > 2000 && (4 * n > 384 * T || n > 3999) && k > 1536 && T % 4 == 0)
            return lookahead(o, 4, 2 * n < 384 * T + 3072 ? 2 : 1, 16000);
        if (ksplit && m > 1303 && n > 15 && k > 1303 && std::max(m, n) <= k) {
            grid3d(o, false, m, n, k);
            o.partition_kind = 5;
            return;
        }
        if (n <= 384 && m / T >= 384) W = false;
        else W = (n / T >= 193 && n / T <= 384) ? false : m >= 768;
        if (model && model_yes((int)T, (double)m, (double)n, (double)k)) {
            o.m_parts = 1, o.n_parts = 1, o.k_parts = (int)T, o.partition_kind = 5;
            return;
        }
        if (!model && m >= 1000 && n > 3999) {
            o.partition_kind = 1, o.copy_method = 1, o.working_threads = (int)T;
            return;
        }
        if (!W) o.partition_kind = (n < m && (m / T > 7 || n < T)) ? 0 : 1;
    }
    if (W) search2d(o, m, n), o.partition_kind = 2;
}

}  // namespace text

const Call kPlain{0, 0, 0, "NN", 1000, 1000, 1000};

Call shape(int64_t m, int64_t n, int64_t k, const char *trans = "NN", int64_t ldc = 1000) {
    return {m, n, k, trans, 1000, 1000, ldc};
}

// --- worked examples -------------------------------------------------------------

TEST(ThreadCount, WorkedExamples) {
    struct Row { int64_t m, n, k; uint32_t cpu; int limit, threads; };
    const Row rows[] = {
        {5000, 5000, 5000, 7, 1, 1},
        {64, 64, 64, 7, 8, 4},              // 8 and 6 fail, 4 passes: 24576 > 24000
        {40, 2, 1000000, 5, 8, 1},          // capped: fewer than 48 rows
        {1000, 10, 100000, 5, 64, 41},      // capped at 1000/24, the search starts at 41
        {1000, 200, 100000, 5, 64, 64},     // 10n >= m: no cap
        {40, 40, 30, 5, 2, 1},              // work exactly 3000 does not pay for 2
        {40, 40, 45, 5, 3, 1},              // work 4500: 2*4500 = 9000 is not above 9000
        {40, 40, 45, 5, 4, 4},
        {40, 40, 200, 7, 12, 8},            // 12, 8, ...: 11, 10 and 9 are never tried
        {60, 60, 72, 7, 5, 1},              // from 5 only 5 and 3 are tried
        {1000, 10, 100000, 7, 64, 64},      // no cap on AVX-512
    };
    for (const Row &r : rows)
        EXPECT_EQ(sgemm_thread_count(r.m, r.n, r.k, r.cpu, r.limit), r.threads)
            << r.m << "x" << r.n << "x" << r.k << " cpu " << r.cpu << " limit " << r.limit;
}

TEST(ThreadCount, CheckerReadsTheBlasLimit) {
    const int previous = orb_serv_set_num_threads_local(8);
    ThreadOpts opts{};
    opts.cpu_type = 7;
    const int64_t m = 64, n = 64, k = 64;
    thread_checker(&m, &n, &k, &opts);
    orb_serv_set_num_threads_local(previous);
    EXPECT_EQ(opts.max_threads, 8);
    EXPECT_EQ(opts.thread_count, 4);
}

struct PlanRow {
    Call call;
    uint32_t cpu;
    int threads, strict;
    PackageLayout layout;
    int kind, copy, mp, np, kp;
    int64_t bm, bn, bk;  // simple 3-D blocks (copy 5)
    int planned;         // thread count after the plan
};

TEST(ThreadPlan, WorkedExamples) {
    const PackageLayout one{1, 64}, two{2, 4};
    const PlanRow rows[] = {
        // AVX-512 k-split grid: the size test fails, calc_nthr_3d_avx512 gives 1 x 1 x 8.
        {shape(64, 64, 4096), 7, 8, 0, one, 5, 0, 1, 1, 8, 0, 0, 0, 8},
        // Strict: no simple 3-D, no k-split, no model: a 1-D split of n.
        {shape(64, 64, 4096), 7, 8, 1, one, 1, 0, 0, 0, 0, 0, 0, 0, 8},
        {shape(32, 32, 4000), 5, 4, 0, one, 5, 0, 1, 1, 4, 0, 0, 0, 4},   // the small-shape model says yes
        {shape(32, 32, 4000), 5, 4, 1, one, 1, 0, 0, 0, 0, 0, 0, 0, 4},
        {shape(2000, 2000, 50), 5, 3, 0, one, 2, 0, 1, 3, 0, 0, 0, 0, 3},  // odd T: no 2-D search
        {shape(2000, 2000, 50), 5, 4, 0, one, 2, 0, 4, 1, 0, 0, 0, 0, 4},
        // Simple 3-D grids.
        {shape(500, 100, 5000), 5, 8, 0, one, 0, 5, 2, 4, 1, 256, 25, 5000, 8},
        {shape(100, 50, 2000), 5, 8, 0, one, 0, 5, 2, 2, 2, 64, 25, 1000, 8},
        {shape(64, 64, 2000), 7, 8, 0, one, 0, 5, 4, 1, 2, 16, 64, 1000, 8},
        {shape(200, 32, 256), 7, 8, 0, one, 0, 5, 7, 1, 1, 32, 32, 256, 7},  // 7 blocks of 32 rows
        {shape(200, 32, 256), 7, 8, 0, two, 0, 5, 4, 2, 1, 64, 16, 256, 8},  // two packages of 4 cores
        {shape(200, 32, 256, "TN"), 7, 8, 0, two, 0, 5, 7, 1, 1, 32, 32, 256, 7},
        // The leading-dimension guard sends a TN call to the k-split grid.
        {shape(200, 100, 1000, "TN"), 7, 8, 0, one, 0, 5, 4, 1, 2, 64, 100, 500, 8},
        {shape(200, 100, 1000, "TN", 1024), 7, 8, 0, one, 5, 0, 4, 1, 2, 0, 0, 0, 8},
    };
    for (const PlanRow &r : rows) {
        SCOPED_TRACE(testing::Message() << r.call.m << "x" << r.call.n << "x" << r.call.k << " " << r.call.trans
                                        << " cpu " << r.cpu << " T=" << r.threads << " strict " << r.strict);
        Planned p(r.call, r.cpu, r.threads, r.strict);
        plan_thread_opts(&p.op, r.call.k, r.call.lda, r.call.ldb, r.call.m, r.call.n, r.call.ldc, &p.opts,
                         r.layout);
        const ThreadOpts &o = p.opts;
        EXPECT_EQ(o.partition_kind, r.kind);
        EXPECT_EQ(o.copy_method, r.copy);
        if (r.mp != 0) EXPECT_EQ(o.m_parts, r.mp);
        if (r.np != 0) EXPECT_EQ(o.n_parts, r.np);
        if (r.kp != 0) EXPECT_EQ(o.k_parts, r.kp);
        if (r.copy == 5) EXPECT_EQ(std::vector<int64_t>({o.block.block_m, o.block.block_n, o.block.block_k}),
                                   std::vector<int64_t>({r.bm, r.bn, r.bk}));
        EXPECT_EQ(o.thread_count, r.planned);
        EXPECT_EQ(r.copy == 5, simple_3d_test(&p.op, r.call.k, r.call.lda, r.call.ldb, r.call.m, r.call.n,
                                              r.call.ldc, &p.opts));
    }
}

TEST(ThreadPlan, LookaheadOfTheAvx2Rules) {
    Planned p(shape(3000, 8 * 384 + 1, 2000), 5, 8, 0);
    set_thread_opts(&p.op, 2000, 1000, 1000, 3000, 8 * 384 + 1, 1000, &p.opts);
    const ThreadOpts &o = p.opts;
    EXPECT_EQ(std::vector<int64_t>({o.partition_kind, o.copy_method, o.lookahead_group_size, o.lookahead_depth,
                                    o.lookahead_flag, o.lookahead_block, o.working_threads}),
              std::vector<int64_t>({7, 2, 2, 1, 0, 16000, 8}));
}

TEST(ThreadPlan, KSplitGrids) {
    Planned p(kPlain, 5, 16, 0);
    calc_nthr_3d_avx2(4096, 2000, 100000, &p.opts);  // T1 8, s 2, d 2, c 4
    EXPECT_EQ(std::vector<int>({p.opts.m_parts, p.opts.n_parts, p.opts.k_parts}), std::vector<int>({2, 2, 4}));
    Planned q(kPlain, 7, 8, 0);
    calc_nthr_3d_avx512(64, 64, 4096, &q.opts);
    EXPECT_EQ(std::vector<int>({q.opts.m_parts, q.opts.n_parts, q.opts.k_parts}), std::vector<int>({1, 1, 8}));
}

// --- the sweep against the transcription ------------------------------------------------

TEST(ThreadCount, MatchesTheRules) {
    const int64_t sizes[] = {1, 2, 10, 23, 24, 40, 47, 48, 64, 100, 250, 1000, 5000};
    const int limits[] = {1, 2, 3, 4, 5, 6, 8, 12, 16, 32, 41, 64};
    int differ = 0;
    for (int64_t m : sizes)
        for (int64_t n : sizes)
            for (int64_t k : sizes)
                for (int limit : limits)
                    for (uint32_t cpu : {5u, 7u}) {
                        const int threads = text::checker(m, n, k, cpu, limit);
                        // The shortcut of small products may only claim shapes that get one thread.
                        const bool shortcut_wrong = sgemm_one_thread_by_shape(m, n, k) && threads != 1;
                        if ((sgemm_thread_count(m, n, k, cpu, limit) != threads || shortcut_wrong) && ++differ <= 5)
                            ADD_FAILURE() << m << "x" << n << "x" << k << " cpu " << cpu << " limit " << limit;
                    }
    EXPECT_EQ(differ, 0);
}

TEST(ThreadPlan, MatchesTheRules) {
    const int64_t shapes[][3] = {
        {64, 64, 64},      {64, 64, 4096},     {32, 32, 4000},     {40, 2, 500},        {1000, 10, 1000},
        {1000, 200, 1000}, {3000, 3073, 2000}, {4096, 2000, 100000}, {2000, 2000, 50},  {2000, 2000, 2000},
        {8000, 30000, 2000}, {7000, 3100, 1600}, {100, 16, 7000},  {4096, 16, 100},     {200, 70, 900},
        {1500, 40, 400},   {96, 3840, 500},    {300, 300, 600},    {24, 8, 336},        {378, 378, 30000},
        {250, 100, 30000}, {100, 300, 30000},  {2000, 5000, 3000}, {5000, 300, 100},    {800, 9000, 300},
        {20000, 20000, 20000}, {17, 100, 5000}, {130, 20000, 50},  {4000, 4000, 40000}, {600, 30, 20000},
        {10000, 100, 300}, {129, 129, 129},    {5, 3000, 8000},    {768, 1600, 2000},   {200, 32, 256},
        {3000, 200, 60000}, {50, 20, 700},     {2500, 100000, 3000}, {70, 20, 2000},    {260, 40, 3000},
        {100, 16, 6400},   {100, 16, 6399}};
    const int teams[] = {2, 3, 4, 6, 8, 12, 16, 32, 64};
    const char *transpositions[] = {"NN", "nT", "Tn", "CN", "tc", "TT"};
    const int64_t lds[][3] = {{1000, 1000, 1000}, {1024, 1000, 1000}, {1000, 512, 1000}, {1000, 1000, 256}};
    const PackageLayout layouts[] = {{1, 64}, {2, 4}};
    int plans = 0, differ = 0;
    for (const auto &s : shapes)
        for (int t : teams)
            for (uint32_t cpu : {5u, 7u})
                for (const char *trans : transpositions)
                    for (const auto &ld : lds)
                        for (int strict : {0, 1})
                            for (const PackageLayout &layout : layouts) {
                                const Call c{s[0], s[1], s[2], trans, ld[0], ld[1], ld[2]};
                                Planned got(c, cpu, t, strict), want(c, cpu, t, strict);
                                plan_thread_opts(&got.op, c.k, c.lda, c.ldb, c.m, c.n, c.ldc, &got.opts, layout);
                                text::plan(want.opts, c, layout);
                                ++plans;
                                if (plan_fields(got.opts) != plan_fields(want.opts) && ++differ <= 5)
                                    ADD_FAILURE() << c.m << "x" << c.n << "x" << c.k << " " << trans << " lds "
                                                  << ld[0] << "," << ld[1] << "," << ld[2] << " cpu " << cpu
                                                  << " T=" << t << " strict " << strict << " packages "
                                                  << layout.packages;
                            }
    EXPECT_EQ(differ, 0) << "of " << plans;
    // The k-split grids and the small-shape model alone, across their thresholds.
    for (int64_t m : {5, 1000, 2047, 2048, 4096, 300000000})
        for (int64_t n : {16, 959, 960, 1919, 1920, 5000})
            for (int64_t k : {383, 384, 385, 1153, 100000})
                for (int t : teams)
                    for (bool avx512 : {false, true}) {
                        Planned got(kPlain, 5, t, 0), want(kPlain, 5, t, 0);
                        if (avx512) calc_nthr_3d_avx512(m, n, k, &got.opts);
                        else calc_nthr_3d_avx2(m, n, k, &got.opts);
                        text::grid3d(want.opts, avx512, m, n, k);
                        EXPECT_EQ(plan_fields(got.opts), plan_fields(want.opts)) << m << "x" << n << "x" << k;
                        EXPECT_EQ(got.opts.m_parts * got.opts.n_parts * got.opts.k_parts, t);
                    }
    for (int t : {2, 17, 18, 19, 64})
        for (int64_t m = 24; m <= 378; m += 13)
            for (int64_t n = 8; n <= 378; n += 10)
                for (int64_t k = 336; k <= 1500; k += 97)
                    if (small_shape_model(t, m, n, k) != text::model_yes(t, m, n, k) && ++differ <= 5)
                        ADD_FAILURE() << "model " << m << "x" << n << "x" << k << " T=" << t;
    EXPECT_EQ(differ, 0);
}

}  // namespace
