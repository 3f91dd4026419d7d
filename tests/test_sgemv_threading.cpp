// The threaded SGEMV driver: the thread decision and the choice of split
// against the thresholds of their rules, the fixed reduction order against
// hand-computed sums, and every split of a real team against the double
// reference.  The reductions are also checked bit for bit against a scalar
// model built from partial vectors that the test computes itself with the
// single-thread kernel, combined in the prescribed order.  Teams need a Ruzuv
// processor above the baseline (the avx2 set under simulation) and forced
// thread counts, so those cases run in child processes; the baseline set
// never forks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "blas/gemv/sgemv_driver.h"
#include "blas/kernels/dispatchers.h"
#include "orb_memory.h"
#include "orb_service.h"
#include "orb_threads.h"
#include "support/child_process.h"
#include "support/allocation_probe.h"
#include "support/reference_gemm.h"


namespace {

const std::vector<std::string> kAvx2Settings = {"ORB_SIMULATE_CPU=ruzuv", "ORB_ENABLE_INSTRUCTIONS=AVX2"};

// The team size a child entry forces, from the setting TEST_TEAM_SIZE.
int forced_team_size() {
    const char *value = std::getenv("TEST_TEAM_SIZE");
    return value ? std::atoi(value) : 1;
}

void force_team(int threads) {
    orb_serv_set_dynamic(0);
    orb_serv_set_num_threads(threads);
}

std::vector<std::string> avx2_with_team(int threads) {
    std::vector<std::string> settings = kAvx2Settings;
    settings.push_back("TEST_TEAM_SIZE=" + std::to_string(threads));
    return settings;
}

float value_of(uint32_t &state) {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(static_cast<int32_t>(state >> 9) % 2000 - 1000) / 512.0f;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Storage for a vector placed at a chosen distance past a 64-byte boundary.
struct PlacedVector {
    std::vector<float> storage;  // the memory, with room for the placement
    float *data = nullptr;       // first element

    PlacedVector(size_t count, int64_t shift) : storage(count + 64) {
        uintptr_t base = reinterpret_cast<uintptr_t>(storage.data());
        uintptr_t aligned = (base + 63) & ~uintptr_t{63};
        data = reinterpret_cast<float *>(aligned) + shift;
    }
};

// One SGEMV problem with its own data.
struct Gemv {
    char trans;
    int64_t m, n, lda, incx, incy;
    float alpha, beta;
    std::vector<float> a, x;
    std::vector<float> y0;  // y before the call (strided storage)

    Gemv(char t, int64_t m_, int64_t n_, int64_t incx_, int64_t incy_, float alpha_, float beta_, uint32_t seed)
        : trans(t), m(m_), n(n_), lda(m_ + 3), incx(incx_), incy(incy_), alpha(alpha_), beta(beta_) {
        uint32_t state = seed * 2654435761u + 1u;
        a.resize(static_cast<size_t>(lda * n));
        for (float &v : a) v = value_of(state);
        x.resize(static_cast<size_t>(1 + (len_x() - 1) * std::llabs(incx)));
        for (float &v : x) v = value_of(state);
        y0.resize(static_cast<size_t>(1 + (len_y() - 1) * std::llabs(incy)));
        for (float &v : y0) v = value_of(state);
    }

    bool transposed() const { return trans != 'N' && trans != 'n'; }
    int64_t len_x() const { return transposed() ? m : n; }
    int64_t len_y() const { return transposed() ? n : m; }

    // Element i of a strided y held in storage (BLAS convention).
    float &y_at(float *y, int64_t i) const { return y[incy > 0 ? i * incy : (len_y() - 1 - i) * -incy]; }

    // The driver on a copy of y placed `shift` elements past a 64-byte line.
    std::vector<float> driver(int64_t shift = 0) const {
        PlacedVector y(y0.size(), shift);
        std::copy(y0.begin(), y0.end(), y.data);
        const char t[] = {trans, '\0'};
        orb_blas_sgemv(t, &m, &n, &alpha, a.data(), &lda, x.data(), &incx, &beta, y.data, &incy);
        return std::vector<float>(y.data, y.data + y0.size());
    }

    // One call of the single-thread kernel on the whole problem.
    std::vector<float> serial() const {
        std::vector<float> y = y0;
        const char t[] = {trans, '\0'};
        orb_blas_xsgemv(t, &m, &n, &alpha, a.data(), &lda, x.data(), &incx, &beta, y.data(), &incy, 1);
        return y;
    }

    // Empty when y is within the error bound of the double reference.
    std::string against_reference(const std::vector<float> &y) const {
        std::vector<double> magnitude;
        std::vector<double> exact = reference_sgemv(trans, m, n, alpha, a.data(), lda, x.data(), incx, beta,
                                                    y0.data(), incy, &magnitude);
        std::vector<float> copy = y;
        for (int64_t i = 0; i < len_y(); ++i) {
            double got = y_at(copy.data(), i);
            if (!(std::fabs(got - exact[i]) <= gemm_error_bound(len_x(), magnitude[i]))) {
                std::ostringstream out;
                out << describe() << ": y[" << i << "] = " << got << ", expected " << exact[i] << "\n";
                return out.str();
            }
        }
        return "";
    }

    std::string describe() const {
        std::ostringstream out;
        out << trans << " m=" << m << " n=" << n << " incx=" << incx << " incy=" << incy << " beta=" << beta;
        return out.str();
    }
};

// Empty when two results agree bit for bit.
std::string bitwise(const Gemv &g, const std::vector<float> &got, const std::vector<float> &expected,
                    const char *what) {
    for (size_t i = 0; i < got.size(); ++i)
        if (!same_bits(got[i], expected[i])) {
            std::ostringstream out;
            out << g.describe() << ": " << what << " differs at " << i << ": " << got[i] << " vs " << expected[i]
                << "\n";
            return out.str();
        }
    return "";
}

// Pointer of a run of count elements starting at start of a vector of len
// elements, from the lowest address under a negative increment.
const float *run_of(const float *v, int64_t inc, int64_t len, int64_t start, int64_t count) {
    return inc >= 0 ? v + start * inc : v + (len - start - count) * -inc;
}

// Member t of T over len indices: the first len mod T take one more, the
// rest are counted back from the end.
void member_range(int64_t len, int team, int t, int64_t &start, int64_t &count) {
    int64_t q = len / team, r = len % team;
    count = t < r ? q + 1 : q;
    start = t < r ? t * (q + 1) : len - (team - t) * q;
}

// The prescribed order written out for one output: groups of eight as
// ((0+4)+(2+6))+((1+5)+(3+7)), in increasing order, then the rest from the
// highest member down, all added to `start`.
float model_sum(float start, const std::vector<std::vector<float>> &partials, size_t i) {
    const int team = static_cast<int>(partials.size());
    float s = start;
    int g = 0;
    for (; g + 8 <= team; g += 8) {
        auto p = [&](int k) { return partials[g + k][i]; };
        float left = (p(0) + p(4)) + (p(2) + p(6));
        float right = (p(1) + p(5)) + (p(3) + p(7));
        s = s + (left + right);
    }
    for (int t = team - 1; t >= g; --t) s = s + partials[t][i];
    return s;
}

// Column split of a plain product: partial vectors of the members' column
// ranges, combined per row, then y_i := s, s + y_i or y_i*beta + s.
std::vector<float> column_split_model(const Gemv &g, int team) {
    std::vector<std::vector<float>> partials(team, std::vector<float>(static_cast<size_t>(g.m), 0.0f));
    const float zero = 0.0f;
    const int64_t one = 1;
    for (int t = 0; t < team; ++t) {
        int64_t start, cols;
        member_range(g.n, team, t, start, cols);
        if (cols == 0) continue;
        orb_blas_xsgemv("N", &g.m, &cols, &g.alpha, g.a.data() + start * g.lda, &g.lda,
                        run_of(g.x.data(), g.incx, g.n, start, cols), &g.incx, &zero, partials[t].data(), &one, 1);
    }
    std::vector<float> y = g.y0;
    for (int64_t i = 0; i < g.m; ++i) {
        float s = model_sum(0.0f, partials, static_cast<size_t>(i));
        float &yi = g.y_at(y.data(), i);
        if (g.beta == 0.0f) {
            yi = s;
        } else if (g.beta == 1.0f) {
            yi = s + yi;
        } else {
            float scaled = yi * g.beta;
            yi = scaled + s;
        }
    }
    return y;
}

// Reduction split of a transposed product: partial vectors of the members'
// row ranges, summed onto 0, y_j or beta*y_j.
std::vector<float> sum_split_model(const Gemv &g, int team) {
    std::vector<std::vector<float>> partials(team, std::vector<float>(static_cast<size_t>(g.n), 0.0f));
    const float zero = 0.0f;
    const int64_t one = 1;
    for (int t = 0; t < team; ++t) {
        int64_t start, rows;
        member_range(g.m, team, t, start, rows);
        if (rows == 0) continue;
        orb_blas_xsgemv("T", &rows, &g.n, &g.alpha, g.a.data() + start, &g.lda,
                        run_of(g.x.data(), g.incx, g.m, start, rows), &g.incx, &zero, partials[t].data(), &one, 1);
    }
    std::vector<float> y = g.y0;
    for (int64_t j = 0; j < g.n; ++j) {
        float &yj = g.y_at(y.data(), j);
        float start = g.beta == 0.0f ? 0.0f : g.beta == 1.0f ? yj : g.beta * yj;
        yj = model_sum(start, partials, static_cast<size_t>(j));
    }
    return y;
}

// Fills y with NaN so that beta = 0 must overwrite it.
void poison(Gemv &g) {
    for (float &v : g.y0) v = std::nanf("");
}

// Collects the failures of a child entry; prints "ok" when there are none.
struct Report {
    std::string failures;
    void add(const std::string &failure) { failures += failure; }
    int finish() {
        std::printf("%s", failures.empty() ? "ok\n" : failures.c_str());
        return 0;
    }
};

// ---------------------------------------------------------------------------
// Child entries: each forces the team size of TEST_TEAM_SIZE.
// ---------------------------------------------------------------------------

// Plain 200 x 2000: columns split, against the reference and the model.
ORB_CHILD_ENTRY(column_split) {
    const int team = forced_team_size();
    force_team(team);
    Report report;
    uint32_t seed = 1;
    for (float beta : {0.0f, 1.0f, 2.0f})
        for (int64_t incx : {int64_t{1}, int64_t{-2}})
            for (int64_t incy : {int64_t{1}, int64_t{-3}}) {
                Gemv g('N', 200, 2000, incx, incy, 0.75f, beta, seed++);
                if (beta == 0.0f) poison(g);
                std::vector<float> y = g.driver();
                report.add(g.against_reference(y));
                report.add(bitwise(g, y, column_split_model(g, team), "column-split model"));
            }
    return report.finish();
}

// Plain 50 x 500: no column split permitted, so the rows are split and every
// row is the single-thread kernel's row.
ORB_CHILD_ENTRY(column_split_not_permitted) {
    force_team(forced_team_size());
    Report report;
    for (float beta : {0.0f, -1.5f}) {
        Gemv g('N', 50, 500, 1, 1, 1.25f, beta, 40);
        std::vector<float> y = g.driver();
        report.add(g.against_reference(y));
        report.add(bitwise(g, y, g.serial(), "single-thread kernel"));
    }
    return report.finish();
}

// Plain 5000 x 300 with more rows than the column split takes: the rows are
// split.  With a unit stride the result does not move with y by whole lines.
ORB_CHILD_ENTRY(row_split) {
    force_team(forced_team_size());
    Report report;
    for (int64_t incy : {int64_t{1}, int64_t{3}, int64_t{-2}})
        for (int64_t m : {int64_t{5000}, int64_t{4999}}) {
            Gemv g('N', m, 300, 2, incy, -0.5f, 0.5f, static_cast<uint32_t>(m + incy));
            std::vector<float> y = g.driver(0);
            report.add(g.against_reference(y));
            report.add(bitwise(g, y, g.serial(), "single-thread kernel"));
            if (incy == 1) {
                report.add(bitwise(g, g.driver(16), y, "y moved by 64 bytes"));
                std::vector<float> off = g.driver(5);
                report.add(g.against_reference(off));
                report.add(bitwise(g, g.driver(5 + 32), off, "y moved by 128 bytes"));
            }
        }
    return report.finish();
}

// Transposed 30000 x 100: the summation is split and reduced by the master,
// beta*y_j first; the same team size gives the same bits every time.
ORB_CHILD_ENTRY(sum_split) {
    const int team = forced_team_size();
    force_team(team);
    Report report;
    uint32_t seed = 70;
    for (float beta : {0.0f, 1.0f, 2.0f})
        for (int64_t incx : {int64_t{1}, int64_t{-2}}) {
            Gemv g('T', 30000, 100, incx, beta == 2.0f ? -3 : 1, 0.5f, beta, seed++);
            if (beta == 0.0f) poison(g);
            std::vector<float> y = g.driver();
            report.add(g.against_reference(y));
            report.add(bitwise(g, y, sum_split_model(g, team), "reduction-split model"));
            for (int run = 0; run < 3; ++run) report.add(bitwise(g, g.driver(), y, "repeated run"));
        }
    return report.finish();
}

// Transposed 300 x 3000: the outputs are split; each is the single-thread
// kernel's dot product.
ORB_CHILD_ENTRY(output_split) {
    force_team(forced_team_size());
    Report report;
    for (int64_t incy : {int64_t{1}, int64_t{-2}}) {
        Gemv g('C', 300, 3000, 3, incy, 1.5f, -1.0f, 90);
        std::vector<float> y = g.driver();
        report.add(g.against_reference(y));
        report.add(bitwise(g, y, g.serial(), "single-thread kernel"));
    }
    return report.finish();
}

// A team of one computes the whole product; so does the driver under a
// limit of one thread.
ORB_CHILD_ENTRY(team_of_one) {
    const int team = forced_team_size();
    force_team(team);
    Report report;
    Gemv g('N', 200, 2000, 1, 1, 0.75f, 2.0f, 5);
    std::vector<float> y = g.y0;
    orb_blas_sgemv_omp(1, "N", &g.m, &g.n, &g.alpha, g.a.data(), &g.lda, g.x.data(), &g.incx, &g.beta, y.data(),
                       &g.incy);
    report.add(bitwise(g, y, g.serial(), "team of one"));
    if (team == 1) report.add(bitwise(g, g.driver(), g.serial(), "driver"));
    return report.finish();
}

// The partial vectors cannot be had: the master computes everything alone.
ORB_CHILD_ENTRY(reductions_without_buffer) {
    force_team(forced_team_size());
    Report report;
    Gemv plain('N', 200, 2000, 1, 1, 0.75f, 2.0f, 8);
    Gemv transposed('T', 30000, 100, 1, 1, 0.5f, 2.0f, 9);
    allocation_probe().refuse(true);
    std::vector<float> y_plain = plain.driver(), y_transposed = transposed.driver();
    allocation_probe().refuse(false);
    report.add(bitwise(plain, y_plain, plain.serial(), "single-thread kernel"));
    report.add(bitwise(transposed, y_transposed, transposed.serial(), "single-thread kernel"));
    return report.finish();
}

void expect_ok(const char *entry, int team) {
    ChildResult r = run_child(entry, avx2_with_team(team));
    EXPECT_EQ(r.exit_code, 0) << entry << " P=" << team << "\n" << r.err;
    EXPECT_EQ(r.out, "ok\n") << entry << " P=" << team;
}

// ---------------------------------------------------------------------------
// Tests
// ---------------------------------------------------------------------------

TEST(SgemvSplits, ColumnSplitMatchesReferenceAndReductionOrder) {
    for (int team : {4, 8, 11}) expect_ok("column_split", team);
}

TEST(SgemvSplits, BandWithoutColumnPermissionSplitsRows) {
    for (int team : {2, 3}) expect_ok("column_split_not_permitted", team);
}

TEST(SgemvSplits, RowSplitIsTheKernelsResultAndIgnoresLineShifts) {
    for (int team : {3, 4}) expect_ok("row_split", team);
}

TEST(SgemvSplits, TransposedReductionSplitIsReproducibleAndInOrder) {
    for (int team : {2, 4, 8, 9}) expect_ok("sum_split", team);
}

TEST(SgemvSplits, TransposedOutputSplit) { expect_ok("output_split", 4); }

TEST(SgemvSplits, TeamOfOneComputesTheWholeProduct) {
    expect_ok("team_of_one", 4);
    expect_ok("team_of_one", 1);
}

TEST(SgemvSplits, MasterComputesAloneWithoutPartialBuffer) { expect_ok("reductions_without_buffer", 4); }

// The baseline set never forks, on a processor of another vendor with or
// without the Zen sub-model: even the shape of the column split gives the
// single-thread kernel's bits.
ORB_CHILD_ENTRY(baseline_single_thread) {
    force_team(8);
    Report report;
    Gemv g('N', 200, 2000, 1, 1, 0.75f, 2.0f, 3);
    report.add(bitwise(g, g.driver(), g.serial(), "single-thread kernel"));
    report.add(g.against_reference(g.driver()));
    Gemv t('T', 30000, 100, 1, 1, 0.5f, 0.0f, 4);
    report.add(bitwise(t, t.driver(), t.serial(), "single-thread kernel"));
    SgemvThreadQuery q{orb_serv_cpu_detect(), orb_serv_get_cpu()(), 8, 0, 200, 2000, false};
    if (sgemv_thread_decision(q).forks) report.add("the baseline decision forks\n");
    return report.finish();
}

TEST(SgemvSplits, BaselineSetRunsSingleThreaded) {
    for (const char *cpu : {"cpus/other_vendor_avx512_amx.cpuid", "cpus/amd_zen.cpuid"}) {
        ChildResult r = run_child("baseline_single_thread", {"ORB_SIMULATE_CPU=file:" + test_data_path(cpu)});
        EXPECT_EQ(r.exit_code, 0) << cpu << r.err;
        EXPECT_EQ(r.out, "ok\n") << cpu;
    }
}

TEST(SgemvDriver, EmptyProblemLeavesYUntouched) {
    const float alpha = 1.0f, beta = 0.0f;
    const float a[4] = {1, 2, 3, 4}, x[2] = {1, 1};
    for (int64_t m : {int64_t{0}, int64_t{2}})
        for (int64_t n : {int64_t{0}, int64_t{-1}}) {
            float y[2] = {7.0f, 7.0f};
            const int64_t lda = 2, inc = 1;
            orb_blas_sgemv("N", &m, &n, &alpha, a, &lda, x, &inc, &beta, y, &inc);
            orb_blas_sgemv("N", &n, &m, &alpha, a, &lda, x, &inc, &beta, y, &inc);
            EXPECT_EQ(y[0], 7.0f);
            EXPECT_EQ(y[1], 7.0f);
        }
}

// ---------------------------------------------------------------------------
// The thread decision, case by case at the edges of its rules.
// ---------------------------------------------------------------------------

struct DecisionCase {
    int cpu_type, ruzuv, threads, dynamic;
    int64_t m, n;
    bool transposed;
    bool forks;
    int team;
    const char *what;
};

TEST(SgemvThreadDecision, ThresholdsOfEveryRule) {
    const DecisionCase cases[] = {
        // small products
        {5, 1, 4, 0, 100, 107, false, false, 1, "(m+288)*n = 41516 is small from cpu type 4 on"},
        {5, 1, 4, 0, 100, 108, false, true, 4, "(m+288)*n = 41904 is not"},
        {3, 1, 4, 0, 127, 127, false, false, 1, "below cpu type 4 small means m, n <= 127"},
        {3, 1, 4, 0, 128, 127, false, true, 4, "m = 128 is not small"},
        // processor and limit
        {5, 0, 8, 0, 4000, 4000, false, false, 1, "not a Ruzuv processor"},
        {1, 1, 8, 0, 4000, 4000, false, false, 1, "cpu type 1"},
        {2, 1, 8, 0, 4000, 4000, false, true, 8, "cpu type 2"},
        {5, 1, 1, 0, 4000, 4000, false, false, 1, "one thread allowed"},
        // plain, column rule and rounded rows per thread
        {5, 1, 4, 0, 40, 512, false, true, 4, "10 rows per thread and 128 columns per thread"},
        {5, 1, 4, 0, 40, 511, false, false, 1, "10 rows per thread round to 8, which counts as 0"},
        {3, 1, 12, 0, 100, 2000, false, true, 12, "column rule with 12 threads"},
        {3, 1, 12, 0, 100, 1535, false, false, 1, "8 rows per thread count as 0 below the column rule"},
        {3, 1, 12, 0, 200, 95, false, false, 1, "16 rows per thread: 16*95 = 1520 <= 1535"},
        {3, 1, 12, 0, 200, 96, false, true, 12, "16*96 = 1536"},
        {3, 1, 4, 0, 128, 95, false, false, 1, "32 rows per thread: 32*95 = 3040 <= 3071"},
        {3, 1, 4, 0, 128, 96, false, true, 4, "32*96 = 3072"},
        // plain, more than 12 threads
        {3, 1, 16, 0, 160, 410, false, true, 16, "10 rows per thread * 410 = 4100 > 4095"},
        {3, 1, 16, 0, 160, 409, false, false, 1, "4090, dynamic adjustment off"},
        {3, 1, 16, 1, 160, 409, false, true, 16, "dynamic on: 65440/3072 = 21, at most 16"},
        {3, 1, 16, 1, 16, 700, false, true, 3, "dynamic on: 11200/3072 = 3 threads"},
        {3, 1, 16, 1, 16, 300, false, true, 1, "dynamic on: 4800 < 6144 forks with one thread"},
        {3, 1, 16, 1, 15, 300, false, false, 1, "fewer rows than threads"},
        // transposed
        {5, 1, 16, 0, 20000, 10, true, true, 16, "m >= 20000 and n <= 200 splits the sum"},
        {5, 1, 16, 0, 19999, 10, true, false, 1, "m = 19999: fewer outputs than threads"},
        {3, 1, 4, 0, 136, 60, true, false, 1, "15 outputs per thread: 15*136 = 2040 <= 2047"},
        {3, 1, 4, 0, 137, 60, true, true, 4, "15*137 = 2055"},
        {3, 1, 4, 0, 127, 128, true, false, 1, "32 outputs per thread: 32*127 = 4064 <= 4095"},
        {3, 1, 4, 0, 128, 128, true, true, 4, "32*128 = 4096"},
        {3, 1, 16, 0, 410, 160, true, true, 16, "10 outputs per thread * 410 > 4095"},
        {3, 1, 16, 0, 409, 160, true, false, 1, "4090, dynamic adjustment off"},
        {3, 1, 16, 1, 409, 160, true, true, 16, "dynamic on"},
        {3, 1, 16, 1, 1000, 15, true, false, 1, "fewer outputs than threads"},
    };
    for (const DecisionCase &c : cases) {
        SgemvThreadQuery q{c.cpu_type, c.ruzuv, c.threads, c.dynamic, c.m, c.n, c.transposed};
        SgemvThreadDecision d = sgemv_thread_decision(q);
        EXPECT_EQ(d.forks, c.forks) << c.what;
        if (c.forks) EXPECT_EQ(d.threads, c.team) << c.what;
    }
}

TEST(SgemvSplitChoice, ShapesSelectTheirSplit) {
    EXPECT_EQ(sgemv_choose_split(false, 200, 2000, 4), SgemvSplit::kColumnsWithReduction);
    EXPECT_EQ(sgemv_choose_split(false, 2000, 512, 4), SgemvSplit::kColumnsWithReduction);
    EXPECT_EQ(sgemv_choose_split(false, 2004, 2000, 4), SgemvSplit::kRows) << "501 rows per thread";
    EXPECT_EQ(sgemv_choose_split(false, 200, 511, 4), SgemvSplit::kRows) << "fewer than 128 columns per thread";
    // the band without permission: 41..69 rows and 151..999 columns
    EXPECT_EQ(sgemv_choose_split(false, 50, 500, 2), SgemvSplit::kRows);
    EXPECT_EQ(sgemv_choose_split(false, 41, 151, 1), SgemvSplit::kRows);
    EXPECT_EQ(sgemv_choose_split(false, 69, 999, 2), SgemvSplit::kRows);
    EXPECT_EQ(sgemv_choose_split(false, 40, 500, 2), SgemvSplit::kColumnsWithReduction);
    EXPECT_EQ(sgemv_choose_split(false, 70, 500, 2), SgemvSplit::kColumnsWithReduction);
    EXPECT_EQ(sgemv_choose_split(false, 50, 1000, 2), SgemvSplit::kColumnsWithReduction);
    EXPECT_EQ(sgemv_choose_split(false, 50, 150, 1), SgemvSplit::kColumnsWithReduction);
    // transposed
    EXPECT_EQ(sgemv_choose_split(true, 30000, 100, 4), SgemvSplit::kSumWithReduction);
    EXPECT_EQ(sgemv_choose_split(true, 20000, 200, 4), SgemvSplit::kSumWithReduction);
    EXPECT_EQ(sgemv_choose_split(true, 30000, 201, 4), SgemvSplit::kOutputs);
    EXPECT_EQ(sgemv_choose_split(true, 19999, 100, 4), SgemvSplit::kOutputs);
}

// Row blocks: contiguous, covering every row once, and every block after
// the first starts on a 64-byte line of y.
TEST(SgemvRowBlocks, CoverTheRowsAndStartOnLines) {
    for (int64_t m : {int64_t{1}, int64_t{15}, int64_t{50}, int64_t{333}, int64_t{5000}})
        for (int team = 2; team <= 9; ++team)
            for (int64_t offset = 0; offset < 16; ++offset) {
                int64_t next = 0;
                for (int tid = 0; tid < team; ++tid) {
                    SgemvRange b = sgemv_row_block(m, team, tid, offset);
                    ASSERT_GE(b.count, 0);
                    if (b.count == 0) continue;
                    ASSERT_EQ(b.start, next) << "m=" << m << " T=" << team << " o=" << offset << " tid=" << tid;
                    if (tid > 0) EXPECT_EQ((b.start + offset) % 16, 0);
                    next = b.start + b.count;
                }
                EXPECT_EQ(next, m) << "m=" << m << " T=" << team << " o=" << offset;
            }
    // By hand: 100 rows, 4 members, y 3 elements past a line: blocks of
    // ceil(103/4) = 26 -> 32 rows, the first 29 long.
    EXPECT_EQ(sgemv_row_block(100, 4, 0, 3).count, 29);
    EXPECT_EQ(sgemv_row_block(100, 4, 1, 3).start, 29);
    EXPECT_EQ(sgemv_row_block(100, 4, 3, 3).start, 93);
    EXPECT_EQ(sgemv_row_block(100, 4, 3, 3).count, 7);
}

// ---------------------------------------------------------------------------
// The reduction order with values whose sum depends on it.
// ---------------------------------------------------------------------------

TEST(SgemvReduction, RemainderIsAddedFromTheHighestMemberDown) {
    // ((0 + -1e8) + 1e8) + 1 = 1; in increasing order the 1 would be lost.
    const float p[3] = {1.0f, 1e8f, -1e8f};
    EXPECT_EQ(orb_reduce_partials(0.0f, p, 1, 3), 1.0f);
}

TEST(SgemvReduction, GroupsOfEightPairMembersFourApart) {
    // (p0 + p4) cancels first, then p2 survives: 1.  Sequential order loses p2.
    float p[8] = {1e8f, 0, 1.0f, 0, -1e8f, 0, 0, 0};
    EXPECT_EQ(orb_reduce_partials(0.0f, p, 1, 8), 1.0f);
    // The odd half ((p1 + p5) + (p3 + p7)) is formed before it meets the even one.
    float q[8] = {0, 1e8f, 0, 1.0f, 0, -1e8f, 0, 0};
    EXPECT_EQ(orb_reduce_partials(0.0f, q, 1, 8), 1.0f);
}

TEST(SgemvReduction, StartComesFirstAndStrideSelectsTheMember) {
    // start 1e8, group sum -1e8 + 0.5 rounds to -1e8: 0, then the ninth member 0.25.
    float p[18] = {};
    p[0] = -1e8f;
    p[2 * 2] = 0.5f;
    p[2 * 8] = 0.25f;
    EXPECT_EQ(orb_reduce_partials(1e8f, p, 2, 9), 0.25f);
    // with start 0 the group's 0.5 is lost against -1e8 as well, and the sum is -1e8
    EXPECT_EQ(orb_reduce_partials(0.0f, p, 2, 9), -1e8f);
}

}  // namespace
