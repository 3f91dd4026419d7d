// The threaded SGEMM of the avx2 and avx512 sets in real teams.  Each route
// of the partitioned driver (partition kinds 0, 1, 2, 5 and 7; copy methods
// 0, 1, 2 and 5) is reached by a shape that the planner's pure functions
// show to land there for the forced team size and the set's cpu type; the
// product then runs through sgemm_64 in a child process with
// ORB_NUM_THREADS=T ORB_DYNAMIC=FALSE and is compared with the double
// reference, and run again for the same bits.  Further children check the
// striped and small-n routes, the STRICT mode (bits independent of operand
// placement), teams that come up smaller than planned, nested calls, host
// threads calling at once, refused buffers (the allocation probe, and an
// application i_malloc that fails the allocation asked for), and the three
// strategies called directly on cuts the planner does not make (empty k
// parts among them).  Under the sanitizers the shapes above a cost cap are
// left out, and ThreadSanitizer runs one team size.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blas/gemm/partitioned_driver.h"
#include "blas/gemm/sgemm_thread_count.h"
#include "blas/gemm/thread_plan.h"
#include "blas/kernels/dispatchers.h"
#include "orb_blas.h"
#include "orb_memory.h"
#include "orb_threads.h"
#include "support/allocation_probe.h"
#include "support/child_process.h"
#include "support/packed_sets.h"
#include "support/reference_gemm.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORB_TEST_UNDER_TSAN 1
#elif __has_feature(address_sanitizer)
#define ORB_TEST_UNDER_ASAN 1
#endif
#endif

namespace {

#ifdef ORB_TEST_UNDER_TSAN
constexpr bool kSmallRun = true;
#else
constexpr bool kSmallRun = false;
#endif
// Routes whose shape has more multiply-adds than this are not run (their
// names are then marked with a '-').
#if defined(ORB_TEST_UNDER_ASAN)
constexpr double kCostCap = 3e8;
#else
constexpr double kCostCap = kSmallRun ? 6e7 : 1e10;
#endif

// ---------------------------------------------------------------------------
// A product with its data and its double reference.
// ---------------------------------------------------------------------------

struct Shape {
    char ta, tb;
    int64_t m, n, k;
    int64_t pad;  // leading dimensions are the stored rows plus this
    double cost() const { return static_cast<double>(m) * n * k; }
};

float value_of(uint32_t &state) {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(static_cast<int32_t>(state >> 9) % 2000 - 1000) / 1024.0f;
}

bool plain(char t) { return t == 'N' || t == 'n'; }

// Accumulates column j of alpha-free op(A)*op(B) and its magnitude; op(A)
// is given as m x k columns of doubles.  The sanitizers need not watch this
// loop over the test's own arrays: it is most of a checked run's time.
__attribute__((target("avx2,fma"), no_sanitize("address", "thread"))) void reference_column(const double *a, const double *abs_a, const double *b,
                                                          int64_t m, int64_t k, double *sum, double *mag) {
    for (int64_t l = 0; l < k; ++l) {
        const double x = b[l], ax = std::fabs(x);
        const double *col = a + l * m, *abs_col = abs_a + l * m;
        for (int64_t i = 0; i < m; ++i) {
            sum[i] += col[i] * x;
            mag[i] += abs_col[i] * ax;
        }
    }
}

struct Product {
    Shape s;
    int64_t lda, ldb, ldc;
    float alpha, beta;
    std::vector<float> a, b, c0;
    std::vector<double> exact, bound;  // the reference and its error bound, m x n

    Product(const Shape &shape, uint32_t seed) : s(shape) {
        lda = (plain(s.ta) ? s.m : s.k) + s.pad;
        ldb = (plain(s.tb) ? s.k : s.n) + s.pad;
        ldc = s.m + s.pad;
        const float betas[] = {-0.5f, 0.0f, 1.0f};
        alpha = seed % 2 ? 0.75f : -1.25f;
        beta = betas[seed % 3];
        uint32_t state = seed * 2654435761u + 7u;
        a.resize(static_cast<size_t>(lda * (plain(s.ta) ? s.k : s.m)));
        b.resize(static_cast<size_t>(ldb * (plain(s.tb) ? s.n : s.k)));
        c0.resize(static_cast<size_t>(ldc * s.n));
        for (float &v : a) v = value_of(state);
        for (float &v : b) v = value_of(state);
        for (float &v : c0) v = beta == 0.0f ? std::nanf("") : value_of(state);  // beta 0 must not read C
        reference();
    }

    void reference() {
        const int64_t m = s.m, n = s.n, k = s.k;
        std::vector<double> opa(static_cast<size_t>(m * k)), abs_a(opa.size()), opb(static_cast<size_t>(k * n));
        for (int64_t l = 0; l < k; ++l)
            for (int64_t i = 0; i < m; ++i) {
                opa[i + l * m] = ref_op_at(a.data(), lda, s.ta, i, l);
                abs_a[i + l * m] = std::fabs(opa[i + l * m]);
            }
        for (int64_t j = 0; j < n; ++j)
            for (int64_t l = 0; l < k; ++l) opb[l + j * k] = ref_op_at(b.data(), ldb, s.tb, l, j);
        exact.assign(static_cast<size_t>(m * n), 0.0);
        bound.assign(exact.size(), 0.0);
#pragma omp parallel for schedule(dynamic)
        for (int64_t j = 0; j < n; ++j) {
            double *sum = &exact[j * m], *mag = &bound[j * m];
            reference_column(opa.data(), abs_a.data(), &opb[j * k], m, k, sum, mag);
            for (int64_t i = 0; i < m; ++i) {
                const double cin = beta == 0.0f ? 0.0 : static_cast<double>(beta) * c0[i + j * ldc];
                sum[i] = alpha * sum[i] + cin;
                mag[i] = gemm_error_bound(k, std::fabs(alpha) * mag[i] + std::fabs(cin));
            }
        }
    }

    // C after sgemm_64, with A, B and C placed the given numbers of floats
    // past a 64-byte line; C comes back at its leading dimension.
    std::vector<float> run(int64_t shift_a = 0, int64_t shift_b = 0, int64_t shift_c = 0) const {
        std::vector<float> sa(a.size() + 32), sb(b.size() + 32), sc(c0.size() + 32);
        float *pa = aligned(sa, shift_a), *pb = aligned(sb, shift_b), *pc = aligned(sc, shift_c);
        std::copy(a.begin(), a.end(), pa);
        std::copy(b.begin(), b.end(), pb);
        std::copy(c0.begin(), c0.end(), pc);
        const char ta[] = {s.ta, 0}, tb[] = {s.tb, 0};
        sgemm_64(ta, tb, &s.m, &s.n, &s.k, &alpha, pa, &lda, pb, &ldb, &beta, pc, &ldc);
        return std::vector<float>(pc, pc + c0.size());
    }

    static float *aligned(std::vector<float> &v, int64_t shift) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(v.data());
        return reinterpret_cast<float *>((base + 63) & ~uintptr_t{63}) + shift;
    }

    std::string describe() const {
        std::ostringstream out;
        out << s.ta << s.tb << " " << s.m << "x" << s.n << "x" << s.k << " beta=" << beta;
        return out.str();
    }

    // Empty when C is within the bound of the reference (and the padding rows untouched).
    std::string check(const std::vector<float> &c, const std::string &what) const {
        if (c.size() != c0.size()) return what + " " + describe() + ": no result\n";
        for (int64_t j = 0; j < s.n; ++j)
            for (int64_t i = 0; i < ldc; ++i) {
                const float got = c[i + j * ldc];
                const bool ok = i < s.m ? std::fabs(got - exact[i + j * s.m]) <= bound[i + j * s.m]
                                        : std::memcmp(&got, &c0[i + j * ldc], sizeof got) == 0;
                if (!ok) {
                    std::ostringstream out;
                    out << what << " " << describe() << ": C(" << i << "," << j << ") = " << got;
                    if (i < s.m) out << ", expected " << exact[i + j * s.m];
                    return out.str() + "\n";
                }
            }
        return "";
    }
};

std::string bitwise(const Product &p, const std::vector<float> &got, const std::vector<float> &first,
                    const std::string &what) {
    return std::memcmp(got.data(), first.data(), got.size() * sizeof(float)) == 0
               ? ""
               : what + " " + p.describe() + ": bits differ from the first run\n";
}

// ---------------------------------------------------------------------------
// Where a call goes: the thread-count decision, the AVX-512 small-n test and
// the plan, as the driver evaluates them.
// ---------------------------------------------------------------------------

struct Plan {
    int threads = 1;       // the decision; 1 runs the serial kernel
    bool small_n = false;  // taken by the AVX-512 small-n route
    int kind = -1, copy = -1, mp = 0, np = 0, kp = 0;
};

Plan plan_of(const Shape &s, uint32_t cpu, int limit, bool strict) {
    Plan p;
    p.threads = sgemm_thread_count(s.m, s.n, s.k, cpu, limit);
    const int64_t lda = (plain(s.ta) ? s.m : s.k) + s.pad, ldb = (plain(s.tb) ? s.k : s.n) + s.pad,
                  ldc = s.m + s.pad;
    if (p.threads == 1) return p;
    const bool ld256 = lda % 256 == 0 || ldb % 256 == 0 || ldc % 256 == 0;
    if (!strict && cpu == 7 && !plain(s.ta) && plain(s.tb) && s.n <= 15 && (ld256 || s.n == 2 || s.n == 3)) {
        p.small_n = true;
        return p;
    }
    ThreadOpts opts;
    orb_prepare_thread_opts(opts, strict);
    opts.cpu_type = cpu;
    opts.thread_count = p.threads;
    BlasOpParams op;
    const float one = 1.0f;
    blas_initialize_op_params(&s.ta, &s.tb, &op, &one, &one);
    plan_thread_opts(&op, s.k, lda, ldb, s.m, s.n, ldc, &opts, package_layout_of_machine());
    p.kind = opts.partition_kind;
    p.copy = opts.copy_method;
    p.mp = opts.m_parts;
    p.np = opts.n_parts;
    p.kp = opts.k_parts;
    return p;
}

struct Route {
    const char *name;
    bool (*lands)(const Plan &);
};

const Route kRoutes[] = {
    {"rows", [](const Plan &p) { return p.kind == 0 && p.copy == 0; }},
    {"columns", [](const Plan &p) { return p.kind == 1 && p.copy == 0; }},
    {"columns+A", [](const Plan &p) { return p.kind == 1 && p.copy == 1; }},
    {"grid", [](const Plan &p) { return p.kind == 2 && p.copy == 0; }},
    {"k-blocks", [](const Plan &p) { return p.kind == 5 && p.mp * p.np > 1; }},
    {"k-whole", [](const Plan &p) { return p.kind == 5 && p.mp * p.np == 1; }},
    {"lookahead", [](const Plan &p) { return p.kind == 7 && p.copy == 2; }},
    {"3d", [](const Plan &p) { return p.copy == 5 && p.kp == 1; }},
    {"3d-k", [](const Plan &p) { return p.copy == 5 && p.kp > 1; }},
};

// Candidate shapes, in order of preference: the first that lands on a
// route checks it.
const Shape kCandidates[] = {
    {'N', 'T', 203, 21, 37, 3},      {'T', 'N', 45, 203, 21, 1},      {'N', 'T', 1603, 303, 21, 1},
    {'T', 'T', 301, 21, 41, 5},      {'N', 'T', 45, 133, 41, 2},      {'N', 'N', 801, 9, 23, 4},
    {'T', 'N', 803, 21, 19, 0},      {'N', 'N', 24, 9, 1401, 3},      {'T', 'N', 131, 21, 401, 1},
    {'N', 'N', 25, 9, 4001, 2},      {'N', 'N', 25, 9, 8001, 1},      {'N', 'T', 401, 131, 23, 6},
    {'T', 'N', 701, 501, 23, 2},     {'N', 'T', 25, 67, 309, 0},      {'T', 'T', 25, 131, 309, 1},
    {'N', 'T', 25, 301, 401, 2},     {'N', 'N', 801, 133, 21, 1},     {'T', 'N', 801, 801, 19, 0},
    {'N', 'T', 25, 801, 2001, 4},    {'T', 'N', 1001, 401, 301, 1},   {'N', 'T', 1001, 801, 401, 3},
    {'N', 'N', 1001, 1601, 401, 0},  {'T', 'T', 1001, 4001, 301, 2},  {'N', 'T', 25, 1001, 21, 0},
    {'N', 'T', 1401, 131, 1403, 2},  {'N', 'N', 387, 389, 1539, 5},   {'N', 'T', 771, 769, 1541, 1},
    {'T', 'N', 2003, 387, 1539, 3},  {'N', 'N', 2003, 771, 1539, 0},  {'T', 'T', 1539, 1539, 1541, 2},
    {'T', 'N', 2003, 1539, 1541, 0},
};

// The first candidate on the route for T threads of the process's cpu type, or null.
const Shape *shape_for(const Route &route, uint32_t cpu, int threads, bool strict) {
    for (const Shape &s : kCandidates) {
        const Plan p = plan_of(s, cpu, threads, strict);
        if (p.threads == threads && !p.small_n && route.lands(p)) return &s;
    }
    return nullptr;
}

// The route shapes of this process (cpu type, BLAS thread limit): their
// names on one line ('-' before those above the cost cap), and the products.
struct RouteSet {
    std::string names;
    std::vector<Product> products;
};

RouteSet route_set(bool strict) {
    const uint32_t cpu = static_cast<uint32_t>(orb_serv_cpu_detect());
    const int threads = orb_serv_domain_get_max_threads(1);
    RouteSet set;
    uint32_t seed = 1;
    for (const Route &route : kRoutes)
        if (const Shape *s = shape_for(route, cpu, threads, strict)) {
            const bool runs = s->cost() <= kCostCap;
            set.names += (set.names.empty() ? "" : " ") + std::string(runs ? "" : "-") + route.name;
            if (runs) set.products.emplace_back(*s, seed++);
        }
    return set;
}

// Collects a child's failures; prints its first line and "ok", or the failures.
struct Report {
    std::string first_line, failures;
    void add(const std::string &failure) { failures += failure; }
    int finish() const {
        std::printf("%s%s", first_line.empty() ? "" : (first_line + "\n").c_str(),
                    failures.empty() ? "ok\n" : failures.c_str());
        return 0;
    }
};

// Runs each product, checks it, and runs it `repeats` more times for the same bits.
void run_and_check(const std::vector<Product> &products, Report &report, const std::string &what, int repeats) {
    for (const Product &p : products) {
        const std::vector<float> c = p.run();
        report.add(p.check(c, what));
        for (int r = 0; r < repeats; ++r) report.add(bitwise(p, p.run(), c, what + " rerun"));
    }
}

// ---------------------------------------------------------------------------
// Child entries.  Team sizes come from ORB_NUM_THREADS with ORB_DYNAMIC=FALSE.
// ---------------------------------------------------------------------------

// Every route the planner reaches at this team size, against the reference
// and reproducible run after run.
ORB_CHILD_ENTRY(routes) {
    // A thread-local count leaves dynamic adjustment on (it then shapes the 2-D grid).
    if (const char *local = std::getenv("TEST_LOCAL_THREADS")) orb_serv_set_num_threads_local(std::atoi(local));
    Report report;
    RouteSet set = route_set(false);
    report.first_line = set.names;
    run_and_check(set.products, report, "route", 2);
    return report.finish();
}

// STRICT: the same bits wherever the operands lie and however often.
ORB_CHILD_ENTRY(strict_placement) {
    Report report;
    RouteSet set = route_set(true);
    report.first_line = set.names;
    const int64_t shifts[][3] = {{1, 3, 5}, {16, 16, 16}, {7, 0, 2}, {0, 9, 0}};
    for (const Product &p : set.products) {
        const std::vector<float> c = p.run();
        report.add(p.check(c, "strict"));
        report.add(bitwise(p, p.run(), c, "strict rerun"));
        for (const auto &shift : shifts)
            report.add(bitwise(p, p.run(shift[0], shift[1], shift[2]), c, "strict, operands moved"));
    }
    return report.finish();
}

// The striped route (ORB_NUM_STRIPES) and, on AVX-512, the small-n route;
// the first line tells which route each shape took.
ORB_CHILD_ENTRY(stripes_and_small_n) {
    const uint32_t cpu = static_cast<uint32_t>(orb_serv_cpu_detect());
    const int threads = orb_serv_domain_get_max_threads(1);
    const Shape shapes[] = {
        {'N', 'N', 203, 37, 29, 3},    {'T', 'N', 37, 131, 19, 0},    {'N', 'T', 67, 67, 67, 1},
        {'T', 'N', 3001, 2, 201, 3},   {'T', 'N', 2001, 3, 101, 0},   {'T', 'N', 1000, 8, 101, 24},
        {'T', 'N', 1001, 15, 65, 191}, {'T', 'N', 2001, 8, 101, 3},
    };
    Report report;
    std::vector<Product> products;
    uint32_t seed = 40;
    for (const Shape &s : shapes) {
        const Plan p = plan_of(s, cpu, threads, false);
        const char *route = orb_serv_get_num_stripes() > 0 ? "striped" : p.small_n ? "small-n" : "other";
        report.first_line += (report.first_line.empty() ? "" : " ") + std::string(route);
        products.emplace_back(s, seed++);
    }
    run_and_check(products, report, "striped", 1);
    return report.finish();
}

// Calls from inside a parallel region of two threads, each on its own C;
// with one active level the inner teams come up with one thread.
ORB_CHILD_ENTRY(nested_calls) {
    Report report;
    const RouteSet set = route_set(false);
    for (int levels : {1, 2}) {
        omp_set_max_active_levels(levels);
        for (const Product &p : set.products) {
            std::vector<float> c[2];
#pragma omp parallel num_threads(2)
            c[omp_get_thread_num()] = p.run();
            for (const std::vector<float> &result : c)
                report.add(p.check(result, "nested, levels=" + std::to_string(levels)));
        }
    }
    return report.finish();
}

// Four host threads call at once, each through every route, in different orders.
ORB_CHILD_ENTRY(host_threads) {
    const RouteSet set = route_set(false);
    std::vector<std::string> failures(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < set.products.size(); ++i) {
                const Product &p = set.products[(i + t) % set.products.size()];
                failures[t] += p.check(p.run(), "host thread " + std::to_string(t));
            }
        });
    Report report;
    for (size_t t = 0; t < 4; ++t) {
        threads[t].join();
        report.add(failures[t]);
    }
    return report.finish();
}

// An application allocator that fails the system allocation numbered
// g_fail_at (counted from 1 since the last reset), or none when 0.
std::atomic<int> g_system_allocations{0};
std::atomic<int> g_fail_at{0};
void *failing_malloc(size_t size) {
    const int number = ++g_system_allocations;
    return number == g_fail_at.load() ? nullptr : std::malloc(size);
}

// Every route with every pooled request refused, then with each system
// allocation of a call refused in turn (the pools emptied before each call
// so that the call must ask the system).
ORB_CHILD_ENTRY(refused_buffers) {
    i_malloc = failing_malloc;
    Report report;
    const RouteSet set = route_set(false);
    for (const Product &p : set.products) {
        allocation_probe().refuse(true);
        const std::vector<float> c = p.run();
        allocation_probe().refuse(false);
        report.add(p.check(c, "pool refusing"));

        orb_serv_free_buffers();
        g_system_allocations = 0;
        report.add(p.check(p.run(), "application allocator"));
        const int count = g_system_allocations.load();
        for (int fail = 1; fail <= count; fail += kSmallRun ? 3 : 1) {
            orb_serv_free_buffers();
            g_system_allocations = 0;
            g_fail_at = fail;
            const std::vector<float> failed = p.run();
            g_fail_at = 0;
            report.add(p.check(failed, "system allocation " + std::to_string(fail) + " of " +
                                           std::to_string(count) + " refused"));
        }
    }
    return report.finish();
}

// The strategies called directly by a team, on cuts the planner does not
// produce: k-split grids with empty k parts and empty row or column blocks;
// lookahead with groups of one, odd numbers of groups and A blocks of a few
// rows (many blocks through the two A buffers); the shared A copy with fewer
// packers than threads and A blocks shorter than the packers' strips.
struct DirectCase {
    SgemmParallelStrategy strategy;
    int threads;
    int mp, np, kp;     // k split: the grid
    int group, depth;   // lookahead: group size and depth
    int64_t block;      // lookahead: rows of an A block; parallel copy: packers
    Shape s;
};

const DirectCase kDirectCases[] = {
    {gblock_by_k_omp, 8, 1, 1, 8, 0, 0, 0, {'N', 'N', 40, 30, 5, 1}},      // k parts 5..7 are empty
    {gblock_by_k_omp, 6, 3, 1, 2, 0, 0, 0, {'N', 'T', 2, 20, 9, 0}},       // two rows in three blocks
    {gblock_by_k_omp, 16, 2, 4, 2, 0, 0, 0, {'T', 'T', 64, 3, 700, 3}},    // three columns in four blocks
    {gblock_by_k_omp, 12, 2, 2, 3, 0, 0, 0, {'T', 'N', 77, 5, 2, 0}},      // k = 2 in three parts
    {gblock_by_k_omp, 16, 1, 1, 16, 0, 0, 0, {'N', 'N', 33, 47, 1000, 2}}, // over eight partials a sum
    {omp_parallel_acopy_lookahead, 3, 0, 0, 0, 1, 2, 96, {'N', 'N', 200, 150, 600, 1}},
    {omp_parallel_acopy_lookahead, 6, 0, 0, 0, 2, 1, 48, {'T', 'T', 250, 201, 400, 0}},
    {omp_parallel_acopy_lookahead, 16, 0, 0, 0, 4, 2, 200, {'N', 'T', 401, 100, 500, 3}},
    {omp_parallel_acopy, 4, 0, 0, 0, 0, 0, 2, {'T', 'N', 700, 43, 900, 2}},
    {omp_parallel_acopy, 5, 0, 0, 0, 0, 0, 5, {'N', 'N', 30, 200, 300, 0}},
};

ORB_CHILD_ENTRY(strategies) {
    Report report;
    uint32_t seed = 90;
    for (const DirectCase &dc : kDirectCases) {
        if (kSmallRun && dc.threads > 8) continue;
        const Product p(dc.s, seed++);
        const bool k_split = dc.strategy == gblock_by_k_omp, lookahead = dc.strategy == omp_parallel_acopy_lookahead;
        auto run = [&] {
            std::vector<float> c = p.c0;
            BlasOpParams op;
            blas_initialize_op_params(&p.s.ta, &p.s.tb, &op, &p.alpha, &p.beta);
            const MatDesc a = orb_operand_desc(p.a.data(), p.s.m, p.s.k, p.lda, &p.s.ta);
            const MatDesc b = orb_operand_desc(p.b.data(), p.s.k, p.s.n, p.ldb, &p.s.tb);
            const MatDesc cd = orb_operand_desc(c.data(), p.s.m, p.s.n, p.ldc, nullptr);
            ThreadOpts base;
            orb_prepare_thread_opts(base, 0);
            base.thread_count = dc.threads;
            base.m_parts = dc.mp;
            base.n_parts = dc.np;
            base.k_parts = dc.kp;
            base.partition_kind = k_split ? 5 : lookahead ? 7 : 1;
            base.copy_method = k_split ? 0 : lookahead ? 2 : 1;
            base.lookahead_group_size = dc.group;
            base.lookahead_depth = dc.depth;
            base.lookahead_block = dc.block;
            base.working_threads = lookahead ? dc.threads : static_cast<int32_t>(dc.block);
            SyncSlot slot{};
            SgemmBuffers buffers[3] = {};
            std::atomic<int> team{0};
#pragma omp parallel num_threads(dc.threads)
            {
                team = omp_get_num_threads();
                BlasOpParams own_op = op;
                MatDesc own_a = a, own_b = b, own_c = cd;
                ThreadOpts opts = base;
                opts.thread_index = omp_get_thread_num();
                opts.group_buffers = buffers;
                opts.group_sync = &slot;
                SgemmKernelInfo kinfo;
                orb_blas_sgemm_map_thread_to_kernel(&opts, &kinfo.strategy);
                orb_blas_sgemm_initialize_kernel_info(&own_op, &own_a, &own_b, &own_c, &kinfo.strategy, &kinfo);
                if (!k_split && !lookahead) {  // the columns of the thread, as the partitioned driver cuts them
                    const Share cols = leading_share(p.s.n, dc.threads, opts.thread_index);
                    own_b = orb_sub_desc(own_b, 0, cols.start, p.s.k, cols.size);
                    own_c = orb_sub_desc(own_c, 0, cols.start, p.s.m, cols.size);
                }
                dc.strategy(&own_op, &own_a, &own_b, &own_c, &opts, &kinfo);
            }
            if (team != dc.threads) report.add("a team of " + std::to_string(team.load()) + "\n");
            return c;
        };
        const std::string what = std::string(k_split ? "k split" : lookahead ? "lookahead" : "parallel copy") +
                                 " T=" + std::to_string(dc.threads);
        const std::vector<float> c = run();
        report.add(p.check(c, what));
        report.add(bitwise(p, run(), c, what + " rerun"));
        allocation_probe().refuse(true);
        const std::vector<float> alone = run();
        allocation_probe().refuse(false);
        report.add(p.check(alone, what + " without buffers"));
    }
    return report.finish();
}

// ---------------------------------------------------------------------------
// Tests
// ---------------------------------------------------------------------------

std::vector<std::string> team_settings(const PackedSetUnderTest &set, bool strict, int threads,
                                       std::vector<std::string> more = {}) {
    std::vector<std::string> settings = packed_set_process(set, strict);
    settings.push_back("ORB_NUM_THREADS=" + std::to_string(threads));
    settings.push_back("ORB_DYNAMIC=FALSE");
    settings.insert(settings.end(), more.begin(), more.end());
    return settings;
}

// Runs a child and compares its output, a route left out for its cost counting as taken.
void expect_child(const std::string &entry, const std::vector<std::string> &settings, const std::string &out) {
    std::string what;
    for (const std::string &s : settings) what += s + " ";
    const ChildResult r = run_child(entry, settings);
    std::string got;
    for (size_t i = 0; i < r.out.size(); ++i)
        if (r.out[i] != '-' || (i > 0 && r.out[i - 1] != ' ')) got += r.out[i];
    EXPECT_EQ(r.exit_code, 0) << entry << " " << what << "\n" << r.err;
    EXPECT_EQ(got, out) << entry << " " << what << "\n" << r.out;
}

const std::vector<int> kTeamSizes = kSmallRun ? std::vector<int>{4} : std::vector<int>{2, 3, 4, 8, 16};

// The routes each team size reaches, per set.  Out of reach: a k-split grid
// for an odd team, and on avx2 below 8 threads (it puts the whole team on
// k); lookahead at 3 threads (avx2 needs an even team) and on AVX-512 below
// 4 (it then needs m > 6144, above the cost cap); a simple 3-D grid that
// splits k below 4 (avx2) or 8 (AVX-512) threads.
std::string expected_routes(bool avx512, int threads) {
    const std::string common = "rows columns columns+A grid";
    switch (threads) {
    case 2: return common + (avx512 ? " k-blocks k-whole 3d" : " k-whole lookahead 3d");
    case 3: return common + " k-whole 3d";
    case 4: return common + (avx512 ? " k-blocks k-whole lookahead 3d" : " k-whole lookahead 3d 3d-k");
    default: return common + " k-blocks k-whole lookahead 3d 3d-k";
    }
}

class SgemmThreading : public PackedSetTest {};

TEST_P(SgemmThreading, EveryRouteMatchesTheReferenceAndRepeatsItsBits) {
    for (int threads : kTeamSizes)
        expect_child("routes", team_settings(set(), false, threads),
                     expected_routes(set().is_avx512(), threads) + "\nok\n");
}

// The team comes up with 3 threads where 8 were planned; then 8 threads
// set for the calling thread alone, with dynamic adjustment left on.
TEST_P(SgemmThreading, TeamSmallerThanPlannedAndDynamicAdjustment) {
    const std::string routes = expected_routes(set().is_avx512(), 8) + "\nok\n";
    expect_child("routes", team_settings(set(), false, 8, {"OMP_THREAD_LIMIT=3"}), routes);
    std::vector<std::string> local = packed_set_process(set(), false);
    local.push_back("TEST_LOCAL_THREADS=8");
    expect_child("routes", local, routes);
}

TEST_P(SgemmThreading, StrictBitsDoNotDependOnPlacement) {
    for (int threads : kSmallRun ? std::vector<int>{4} : std::vector<int>{3, 8})
        expect_child("strict_placement", team_settings(set(), true, threads),
                     std::string("rows columns columns+A grid") + (threads % 4 == 0 ? " lookahead" : "") + "\nok\n");
}

// Stripes beyond the team, one row stripe, idle threads beyond 3 x 2
// stripes, and a team of 2 with 16 stripes; without stripes the AVX-512
// set takes its small-n route for a transposed A with n <= 15.
TEST_P(SgemmThreading, StripedAndSmallNRoutes) {
    const int cases[][2] = {{5, 3}, {1, 4}, {3, 8}, {16, 2}};
    const std::string striped = "striped striped striped striped striped striped striped striped\nok\n";
    for (const auto &c : cases)
        if (!kSmallRun || c[0] == 3)
            expect_child("stripes_and_small_n",
                         team_settings(set(), false, c[1], {"ORB_NUM_STRIPES=" + std::to_string(c[0])}), striped);
    expect_child("stripes_and_small_n", team_settings(set(), false, 4),
                 set().is_avx512() ? "other other other small-n small-n small-n small-n other\nok\n"
                                   : "other other other other other other other other\nok\n");
}

TEST_P(SgemmThreading, NestedCallsAndHostThreads) {
    expect_child("nested_calls", team_settings(set(), false, 4), "ok\n");
    expect_child("host_threads", team_settings(set(), false, 4), "ok\n");
}

TEST_P(SgemmThreading, RefusedBuffersStillGiveC) {
    expect_child("refused_buffers", team_settings(set(), false, 4), "ok\n");
}

TEST_P(SgemmThreading, StrategiesOnCutsThePlannerDoesNotMake) {
    expect_child("strategies", packed_set_process(set(), false), "ok\n");
}

ORB_INSTANTIATE_FOR_PACKED_SETS(SgemmThreading);

}  // namespace
