// The legacy partitioned driver in real teams.  Every GEMM the driver can
// call is recorded with the calling thread and the block of C it got: the
// test GEMMs of the decomposition cases, and (through -Wl,--wrap) the
// dispatchers xsgemm, xsgemm_bdz, xsgemm0_brc, xsgemm_par and sgemm_mscale.
// From the records each case proves that the blocks tile C exactly once,
// one block per thread, and that the intended GEMM ran; results are checked
// against the double reference.  Decompositions run here on preset
// prototypes; whole products run in child processes on each processor
// class with forced thread counts.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "blas/gemm/legacy_driver.h"
#include "blas/gemm/sgemm_driver.h"
#include "blas/kernels/dispatchers.h"
#include "orb_threads.h"
#include "support/allocation_probe.h"
#include "support/child_process.h"
#include "support/reference_gemm.h"

namespace {

struct Call {
    std::string op;          // which GEMM
    int thread;              // omp_get_thread_num() of the caller
    bool in_parallel;        // called inside a parallel region
    int64_t row, col, m, n;  // the block of C
    char ta, tb;             // transpositions it was given
};

std::mutex g_mutex;
std::vector<Call> g_calls;
const float *g_c_base = nullptr;  // C of the running case
int64_t g_ldc = 1;

void record(const char *op, const char *ta, const char *tb, const int64_t *m, const int64_t *n, const float *c) {
    const int64_t offset = c - g_c_base;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back({op, omp_get_thread_num(), omp_in_parallel() != 0, offset % g_ldc, offset / g_ldc, *m, *n,
                       ta ? *ta : '-', tb ? *tb : '-'});
}

std::vector<Call> of(const std::vector<Call> &calls, const std::string &op) {
    std::vector<Call> out;
    for (const Call &c : calls)
        if (c.op == op) out.push_back(c);
    return out;
}

#define GEMM_PARAMS                                                                                            \
    const char *ta, const char *tb, const int64_t *m, const int64_t *n, const int64_t *k, const float *alpha,   \
        const float *a, const int64_t *lda, const float *b, const int64_t *ldb, const float *beta, float *c,   \
        const int64_t *ldc
#define GEMM_ARGS ta, tb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc

// The exact block product, written back to C.
void exact_block(GEMM_PARAMS) {
    const std::vector<double> out = reference_sgemm({*ta, *tb, *m, *n, *k, *alpha, *beta, a, *lda, b, *ldb}, c, *ldc);
    for (int64_t j = 0; j < *n; ++j)
        for (int64_t i = 0; i < *m; ++i) c[i + j * *ldc] = static_cast<float>(out[i + j * *m]);
}
void desc_gemm(GEMM_PARAMS) { record("desc", ta, tb, m, n, c), exact_block(GEMM_ARGS); }
void proto_gemm(GEMM_PARAMS) { record("proto", ta, tb, m, n, c), exact_block(GEMM_ARGS); }
int par_gemm(GEMM_PARAMS, SgemmLegacyDesc *, int) { return record("par", ta, tb, m, n, c), exact_block(GEMM_ARGS), 0; }
int64_t no_set_buffers(const int64_t *, const int64_t *, const int64_t *, SgemmLegacyDesc *) { return 0; }

}  // namespace

extern "C" {
#define WRAP_GEMM(name)                                                                                          \
    void __real_orb_blas_##name(GEMM_PARAMS);                                                                    \
    void __wrap_orb_blas_##name(GEMM_PARAMS) { record(#name, ta, tb, m, n, c), __real_orb_blas_##name(GEMM_ARGS); }
WRAP_GEMM(xsgemm)
WRAP_GEMM(xsgemm_bdz)
WRAP_GEMM(xsgemm0_brc)
int __real_orb_blas_xsgemm_par(GEMM_PARAMS, SgemmLegacyDesc *desc, int version);
int __wrap_orb_blas_xsgemm_par(GEMM_PARAMS, SgemmLegacyDesc *desc, int version) {
    record("xsgemm_par", ta, tb, m, n, c);
    return __real_orb_blas_xsgemm_par(GEMM_ARGS, desc, version);
}
void __real_orb_blas_sgemm_mscale(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc);
void __wrap_orb_blas_sgemm_mscale(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc) {
    record("mscale", nullptr, nullptr, m, n, c);
    __real_orb_blas_sgemm_mscale(m, n, beta, c, ldc);
}
}

namespace {

struct Problem {
    char ta[2], tb[2];
    int64_t m, n, k, lda, ldb, ldc;
    float alpha, beta;
    std::vector<float> a, b, c0;
    Problem(const char *trans, int64_t m_, int64_t n_, int64_t k_, float alpha_, float beta_)
        : ta{trans[0], 0}, tb{trans[1], 0}, m(m_), n(n_), k(k_), alpha(alpha_), beta(beta_) {
        lda = (ref_is_trans(ta[0]) ? k : m) + 3;
        ldb = (ref_is_trans(tb[0]) ? n : k) + 2;
        ldc = m + 1;
        a.resize(static_cast<size_t>(lda * (ref_is_trans(ta[0]) ? m : k)));
        b.resize(static_cast<size_t>(ldb * (ref_is_trans(tb[0]) ? k : n)));
        c0.resize(static_cast<size_t>(ldc * n));
        uint32_t state = static_cast<uint32_t>(m * 31 + n * 7 + k);
        for (auto *v : {&a, &b, &c0})
            for (float &x : *v) state = state * 1664525u + 1013904223u, x = static_cast<int>(state >> 22) / 256.0f - 2;
    }
    SgemmCall call(float *c) const {
        return {ta, tb, &m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c, &ldc};
    }
    // True when c agrees with the double reference (NaN where it is NaN).
    bool correct(const float *c) const {
        std::vector<double> mag;
        const std::vector<double> exact =
            reference_sgemm({ta[0], tb[0], m, n, k, alpha, beta, a.data(), lda, b.data(), ldb}, c0.data(), ldc, &mag);
        for (int64_t j = 0; j < n; ++j)
            for (int64_t i = 0; i < m; ++i) {
                const double want = exact[i + j * m], got = c[i + j * ldc];
                const bool near = std::fabs(got - want) <= gemm_error_bound(k, mag[i + j * m]);
                if (std::isnan(want) ? !std::isnan(got) : !near) return false;
            }
        return true;
    }
};

// Empty when the blocks tile the m x n C exactly once, one block per thread.
std::string tiling(const std::vector<Call> &calls, int64_t m, int64_t n) {
    std::vector<int> hits(static_cast<size_t>(m * n));
    std::set<int> threads;
    for (const Call &c : calls) {
        if (!threads.insert(c.thread).second) return "thread " + std::to_string(c.thread) + " called twice";
        for (int64_t j = c.col; j < c.col + c.n; ++j)
            for (int64_t i = c.row; i < c.row + c.m; ++i)
                if (i >= m || j >= n || ++hits[i + j * m] != 1) return "block overlaps or leaves C";
    }
    for (int h : hits)
        if (h != 1) return "C not covered";
    return "";
}

// --- the decompositions on preset prototypes, teams of 5 ---------------------

struct DecompositionCase {
    LegacyDecompositionFn fn;
    int team, m_parts, n_parts;
    int64_t mr, nr;
    bool own_gemm;           // the prototype names its GEMM
    int par;                 // 0 no parallel GEMM, 1 one is set, 2 set and in use
    int a_copies, b_copies;
    const char *op;          // the GEMM expected to run
};

const DecompositionCase kCases[] = {
    {orb_blas_sgemm_1D_row, 4, 4, 1, 0, 0, false, 0, 0, 0, "desc"},
    {orb_blas_sgemm_1D_col, 5, 1, 5, 0, 0, true, 0, 0, 0, "proto"},
    {orb_blas_sgemm_2D_bsrc, 4, 2, 2, 8, 4, true, 0, 0, 0, "proto"},
    {orb_blas_sgemm_2D_improved_bsrc, 4, 2, 2, 8, 4, false, 2, 0, 0, "par"},
    {orb_blas_sgemm_2D_xgemm_p, 4, 2, 2, 0, 0, true, 1, 0, 0, "par"},  // cut on min_m 4 x min_n 8
    {orb_blas_sgemm_1D_with_copy_0, 3, 3, 1, 0, 0, false, 0, 0, 1, "desc"},
    {orb_blas_sgemm_2D_bcopy, 4, 2, 2, 8, 4, true, 0, 0, 1, "proto"},
    {orb_blas_sgemm_2D_abcopy_abx_m_km_par_p, 4, 2, 2, 0, 0, false, 2, 1, 1, "par"},
};

std::vector<float> run_preset(const Problem &p, const DecompositionCase &dc) {
    SgemmLegacyDesc desc{};
    desc.gemm = desc_gemm;
    desc.par_gemm = dc.par > 0 ? par_gemm : nullptr;
    desc.uses_par_gemm = dc.par == 2;
    desc.get_bufs_size = no_set_buffers;
    desc.min_m = 4;
    desc.min_n = 8;
    SgemmLegacyPrototype proto{};
    proto.team_size = dc.team;
    proto.decomposition = dc.fn;
    proto.gemm = dc.own_gemm ? proto_gemm : nullptr;
    proto.m_parts = dc.m_parts;
    proto.n_parts = dc.n_parts;
    proto.block.mr = dc.mr;
    proto.block.nr = dc.nr;
    proto.a_copies = dc.a_copies;
    proto.b_copies = dc.b_copies;
    std::vector<float> c = p.c0;
    g_c_base = c.data();
    g_ldc = p.ldc;
    g_calls.clear();
    orb_sgemm_legacy_run_team(p.call(c.data()), desc, proto, {0, 0, ORB_CBWR_OFF}, 5);
    return c;
}

TEST(LegacyDecompositions, EveryElementOnceByTheIntendedGemm) {
    orb_serv_set_dynamic(0);
    for (const char *trans : {"NN", "TN", "NT", "CT"})
        for (const DecompositionCase &dc : kCases) {
            SCOPED_TRACE(testing::Message() << trans << " case " << (&dc - kCases));
            const Problem p(trans, 37, 29, 13, 1.5f, 0.5f);
            allocation_probe().reset();
            const std::vector<float> c = run_preset(p, dc);
            EXPECT_TRUE(p.correct(c.data()));
            const std::vector<Call> calls = of(g_calls, dc.op);
            EXPECT_EQ(calls.size(), g_calls.size()) << "another GEMM ran";
            EXPECT_EQ(calls.size(), static_cast<size_t>(dc.m_parts * dc.n_parts));
            EXPECT_EQ(tiling(calls, p.m, p.n), "");
            std::vector<size_t> sizes;  // each copy enlarged by twice its 4 KiB alignment
            if (dc.a_copies) sizes.push_back(static_cast<size_t>(p.m * p.k * 4 + 8192));
            if (dc.b_copies) sizes.push_back(static_cast<size_t>(p.k * p.n * 4 + 8192));
            EXPECT_EQ(allocation_probe().sizes(), sizes);
            for (int alignment : allocation_probe().alignments()) EXPECT_EQ(alignment, 128);
            const int64_t m_unit = dc.fn == orb_blas_sgemm_2D_xgemm_p ? 4 : dc.mr;
            for (const Call &call : calls) {
                if (dc.a_copies) EXPECT_EQ(call.ta, 'N');
                if (dc.b_copies) EXPECT_EQ(call.tb, 'N');
                if (m_unit && call.row + call.m < p.m) EXPECT_EQ((call.row + call.m) % m_unit, 0);
            }
        }
}

TEST(LegacyDecompositions, CopyBufferFailureFallsBackToOneDimension) {
    orb_serv_set_dynamic(0);
    for (int64_t m : {37, 23}) {
        const Problem p("TT", m, 60 - m, 13, -1.0f, 2.0f);
        allocation_probe().reset();
        allocation_probe().refuse(true);
        const std::vector<float> c = run_preset(p, kCases[7]);
        allocation_probe().refuse(false);
        EXPECT_EQ(allocation_probe().sizes().size(), 2u);
        EXPECT_TRUE(p.correct(c.data()));
        const std::vector<Call> calls = of(g_calls, "par");
        EXPECT_EQ(calls.size(), 4u);  // the grid's team, now rows (m > n) or columns
        EXPECT_EQ(tiling(calls, p.m, p.n), "");
        for (const Call &call : calls) EXPECT_TRUE(m > p.n ? call.n == p.n : call.m == p.m);
        for (const Call &call : calls) EXPECT_EQ(call.tb, 'T');  // the caller's own operands
    }
}

// --- whole products in child processes ----------------------------------------

std::string env_or(const char *name, const char *fallback) {
    const char *v = std::getenv(name);
    return v ? v : fallback;
}

// Settings TEST_SHAPE "m k n", TEST_TRANS, TEST_ALPHA, TEST_BETA, TEST_NAN_C,
// TEST_NULL_AB (A and B not passed), TEST_MODE (sgemm, v1 or nested).
ORB_CHILD_ENTRY(legacy_product) {
    std::istringstream shape(env_or("TEST_SHAPE", "203 151 67"));
    int64_t m, n, k;
    shape >> m >> n >> k;
    const std::string mode = env_or("TEST_MODE", "sgemm");
    Problem p(env_or("TEST_TRANS", "NN").c_str(), m, n, k, std::stof(env_or("TEST_ALPHA", "1.5")),
              std::stof(env_or("TEST_BETA", "0.5")));
    if (std::getenv("TEST_NAN_C")) p.c0[1] = NAN;
    const int copies = mode == "nested" ? 2 : 1;
    std::vector<float> c;
    for (int i = 0; i < copies; ++i) c.insert(c.end(), p.c0.begin(), p.c0.end());
    g_c_base = c.data();
    g_ldc = p.ldc;
    const bool null_ab = std::getenv("TEST_NULL_AB") != nullptr;
    const float *a = null_ab ? nullptr : p.a.data(), *b = null_ab ? nullptr : p.b.data();
    omp_set_max_active_levels(1);
    if (mode == "v1")
        orb_blas_sgemm_omp_driver_v1(p.ta, p.tb, &m, &n, &k, &p.alpha, a, &p.lda, b, &p.ldb, &p.beta, c.data(), &p.ldc);
    else
#pragma omp parallel num_threads(copies) if (copies > 1)
        orb_blas_sgemm(p.ta, p.tb, &m, &n, &k, &p.alpha, a, &p.lda, b, &p.ldb, &p.beta,
                       c.data() + omp_get_thread_num() * p.c0.size(), &p.ldc, 1, 1);
    bool correct = true;
    for (int i = 0; i < copies; ++i) correct = correct && p.correct(c.data() + i * p.c0.size());
    SgemmBlockInfo info{1, 1, 0, 0, 0};
    if (std::getenv("TEST_BDZ_BLOCK")) orb_blas_sgemm_blk_info_bdz(&m, &n, &k, &info);
    std::printf("%d %lld %lld\n", correct ? 1 : 0, (long long)info.mr, (long long)info.nr);
    for (const Call &call : g_calls)
        std::printf("%s %d %d %lld %lld %lld %lld\n", call.op.c_str(), call.thread, call.in_parallel ? 1 : 0,
                    (long long)call.row, (long long)call.col, (long long)call.m, (long long)call.n);
    return 0;
}

struct Outcome {
    bool ran = false;         // the child ended normally
    bool correct = false;
    int64_t mr = 1, nr = 1;   // register block of the sub-model (TEST_BDZ_BLOCK)
    std::vector<Call> calls;
};

using Env = std::vector<std::string>;
Env operator+(Env a, const Env &b) { return a.insert(a.end(), b.begin(), b.end()), a; }
Env team(int threads) { return {"ORB_NUM_THREADS=" + std::to_string(threads), "ORB_DYNAMIC=FALSE"}; }
const Env kZenProcessor = {"ORB_SIMULATE_CPU=file:" + test_data_path("cpus/amd_zen.cpuid")};
const Env kZen = kZenProcessor + Env{"TEST_BDZ_BLOCK=1"};
const Env kPlain = {"ORB_SIMULATE_CPU=ruzuv", "RUZUV_ISA_DISABLE=avx,sse4"};
const Env kMc3 = {"ORB_SIMULATE_CPU=ruzuv", "ORB_ENABLE_INSTRUCTIONS=SSE4_2"};
const Env kBarcelona = {"ORB_SIMULATE_CPU=file:" + test_data_path("cpus/amd_barcelona.cpuid")};

Outcome run_product(const Env &settings) {
    const ChildResult r = run_child("legacy_product", settings);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    Outcome o;
    o.ran = r.exit_code == 0;
    std::istringstream in(r.out);
    in >> o.correct >> o.mr >> o.nr;
    for (Call c{}; in >> c.op >> c.thread >> c.in_parallel >> c.row >> c.col >> c.m >> c.n;) o.calls.push_back(c);
    return o;
}

TEST(LegacyDriverProducts, TeamsAndGemmsOfEachProcessorClass) {
    const struct { Env env; int threads; const char *shape, *op; int m_parts, n_parts; } runs[] = {
        {kZen, 2, "203 151 67", "xsgemm_bdz", 1, 2},  // class 8, branch OFF: grid on the sub-model
        {kZen, 3, "203 151 67", "xsgemm_bdz", 2, 1},  // one thread idle
        {kZen, 4, "203 151 67", "xsgemm_bdz", 3, 1},
        {kZen, 8, "203 151 67", "xsgemm_bdz", 4, 2},
        {kZenProcessor + Env{"ORB_CBWR=COMPATIBLE"}, 4, "203 151 40", "xsgemm", 4, 1},  // cnr_def, class 0: 1-D
        {kZenProcessor + Env{"ORB_CBWR=AUTO"}, 4, "151 203 40", "xsgemm", 1, 4},  // cnr_def, class 8 off OFF: 1-D
        {kPlain, 3, "120 260 40", "xsgemm", 1, 3},
        {kBarcelona, 2, "150 90 40", "xsgemm0_brc", 2, 1},
        {kMc3, 6, "200 200 300", "xsgemm_par", 2, 3},  // class 3: the shape test passes (k > 256)
        {kMc3, 8, "200 200 300", "xsgemm_par", 2, 4},
        {kMc3, 8, "20 20 8", "xsgemm", 0, 0},          // refused: 400 <= 9727, 170 <= 6399
        {kZen, 2, "16 16 16", "xsgemm", 0, 0},         // small problems stay on one thread
        {kZen, 2, "17 16 16", "xsgemm_bdz", 1, 2},
        {kZen, 2, "100 100 4", "xsgemm", 0, 0},
        {kZen, 2, "100 100 5", "xsgemm_bdz", 1, 2},
    };
    for (const auto &r : runs) {
        SCOPED_TRACE(testing::Message() << r.op << " T=" << r.threads << " " << r.shape);
        const Env shape = {"TEST_TRANS=TN", std::string("TEST_SHAPE=") + r.shape};
        const Outcome o = run_product(r.env + team(r.threads) + shape);
        if (!o.ran) continue;
        EXPECT_TRUE(o.correct);
        const std::vector<Call> calls = of(o.calls, r.op);
        if (r.m_parts == 0) {  // one call of the whole product, outside any team
            ASSERT_EQ(calls.size(), 1u);
            for (const Call &c : o.calls) EXPECT_FALSE(c.in_parallel) << c.op;
            continue;
        }
        int64_t m = 0, n = 0;
        std::istringstream(r.shape) >> m >> n;
        EXPECT_EQ(calls.size(), static_cast<size_t>(r.m_parts * r.n_parts));
        EXPECT_EQ(tiling(calls, m, n), "");
        std::set<int64_t> rows, cols;
        for (const Call &c : calls) {
            rows.insert(c.row);
            cols.insert(c.col);
            EXPECT_TRUE(c.in_parallel && c.row % o.mr == 0 && c.col % o.nr == 0);
        }
        EXPECT_EQ(rows.size(), static_cast<size_t>(r.m_parts));
        EXPECT_EQ(cols.size(), static_cast<size_t>(r.n_parts));
        if (r.op != std::string("xsgemm")) EXPECT_TRUE(of(o.calls, "xsgemm").empty());
    }
}

TEST(LegacyDriverProducts, BetaAndZeroAlphaBeforeTheTeam) {
    const Env zero_alpha = {"TEST_SHAPE=120 90 50", "TEST_ALPHA=0", "TEST_NULL_AB=1", "TEST_NAN_C=1"};
    const struct { Env cpu; const char *beta; bool scaled; } runs[] = {
        {kPlain, "1", false},  // returns without touching C
        {kPlain, "2", true},   // one team scales C; A and B are not read
        {kZen, "1", false},
        {kZen, "nan", true},
    };
    for (const auto &r : runs) {
        SCOPED_TRACE(r.beta);
        const Outcome o = run_product(r.cpu + zero_alpha + team(2) + Env{std::string("TEST_BETA=") + r.beta});
        EXPECT_TRUE(o.correct);
        EXPECT_EQ(of(o.calls, "mscale").size(), r.scaled ? 2u : 0u);
        EXPECT_EQ(o.calls.size(), of(o.calls, "mscale").size()) << "a GEMM ran";
        for (const Call &c : o.calls) EXPECT_TRUE(c.in_parallel);
    }
    for (const Env &cpu : {kPlain, kZen})  // a NaN beta reaches every element on either road
        EXPECT_TRUE(run_product(cpu + team(2) + Env{"TEST_BETA=nan"}).correct);
}

TEST(LegacyDriverProducts, VectorShapesAndATeamOfOne) {
    for (const char *shape : {"TEST_SHAPE=1 50 30", "TEST_SHAPE=50 1 30"}) {
        const Outcome o = run_product(kZen + team(4) + Env{shape, "TEST_MODE=v1", "TEST_TRANS=TT"});
        EXPECT_TRUE(o.correct);
        EXPECT_TRUE(of(o.calls, "xsgemm").empty() && of(o.calls, "xsgemm_bdz").empty());
    }
    // Called from both threads of a team, the driver's nested team has one
    // thread, which computes the whole product on its own.
    const Outcome o = run_product(kZen + team(4) + Env{"TEST_SHAPE=60 50 40", "TEST_MODE=nested"});
    EXPECT_TRUE(o.correct);
    const std::vector<Call> calls = of(o.calls, "xsgemm");
    ASSERT_EQ(calls.size(), 2u);
    for (const Call &c : calls) EXPECT_TRUE(c.m == 60 && c.n == 50 && c.row == 0 && c.col % 50 == 0);
    EXPECT_TRUE(of(o.calls, "xsgemm_bdz").empty());
}

}  // namespace
