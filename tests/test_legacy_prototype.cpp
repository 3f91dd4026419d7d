// The decisions of the legacy partitioned driver, as pure functions: the
// processor class table, the shape test (both of its parts), the prototype
// choice for each kind of processor and kernel set, and the share arithmetic
// of the 1-D and grid splits.  Nothing here runs a product or needs a
// particular processor.
#include <gtest/gtest.h>

#include <vector>

#include "blas/gemm/legacy_driver.h"
#include "blas/kernels/dispatchers.h"
#include "orb_service.h"

namespace {

TEST(LegacyEntryRules, ProcessorClassTable) {
    struct Row { LegacyProcessorQuery query; int cls; bool s, r; };
    const Row rows[] = {
        {{0, 1, 1, 1, 0}, 6, false, false},  // Barcelona wins over the later rows
        {{0, 0, 1, 0, 0}, 8, false, true},   // Bulldozer
        {{0, 0, 0, 1, 0}, 8, false, true},   // Zen
        {{0, 0, 0, 0, 0}, 0, false, false},
        {{1, 0, 0, 0, 3}, 3, true, true},
        {{1, 0, 0, 0, 0}, 0, false, false},
        {{1, 0, 0, 0, 1}, 0, false, false},
        {{1, 1, 0, 1, 0}, 0, false, false},  // vendor test 1: the AMD predicates are not read
    };
    for (const Row &row : rows) {
        const LegacyProcessor p = legacy_processor_class(row.query);
        EXPECT_TRUE(p.processor_class == row.cls && p.shape_test == row.s && p.prepass == row.r) << row.cls;
    }
}

TEST(LegacyEntryRules, ShapeTest) {
    EXPECT_FALSE(legacy_shape_allows_threads(20, 20, 8, 8));       // 400 <= 9727, 170 <= 6399
    EXPECT_TRUE(legacy_shape_allows_threads(1000, 1000, 1000, 6));  // k > 256
    EXPECT_TRUE(legacy_shape_allows_threads(100, 100, 100, 4));     // 100*50*50 > 9727
    EXPECT_FALSE(legacy_shape_allows_threads(100, 100, 4, 4));      // k <= 4
    EXPECT_FALSE(legacy_shape_allows_threads(9, 100, 300, 4));      // m <= 9
    EXPECT_TRUE(legacy_shape_allows_threads(300, 6, 300, 8));       // one column per pair, both deep
    EXPECT_FALSE(legacy_shape_allows_threads(300, 6, 255, 8));
    // Above 8 threads: a tall, narrow shape is re-weighed with m/T rows ...
    EXPECT_TRUE(legacy_shape_allows_threads(2000, 10, 300, 16));
    EXPECT_FALSE(legacy_shape_allows_threads(2000, 10, 100, 16));
    // ... and fewer than 4 rows per thread with n < T refuses a passing shape.
    EXPECT_TRUE(legacy_shape_allows_threads(300, 60, 300, 8));
    EXPECT_FALSE(legacy_shape_allows_threads(300, 60, 300, 100));
}

struct PlanCase {
    int64_t m, n, k;
    int threads;
    LegacyMachine machine;
    LegacyDecompositionFn decomposition;
    XsgemmFn gemm;
    int m_parts, n_parts, team;
};

TEST(LegacyPrototype, ChoiceByProcessorAndKernelSet) {
    const LegacyMachine zen{8, 0, ORB_CBWR_OFF}, zen_auto{8, 0, ORB_CBWR_AUTO}, brc{6, 0, ORB_CBWR_OFF},
        plain{0, 0, ORB_CBWR_COMPATIBLE}, mc3{3, 1, ORB_CBWR_OFF};
    const auto grid = orb_blas_sgemm_2D_bsrc, row = orb_blas_sgemm_1D_row, col = orb_blas_sgemm_1D_col;
    const auto bdz = orb_blas_xsgemm_bdz;
    const PlanCase cases[] = {
        {500, 500, 500, 8, zen, grid, bdz, 4, 2, 8},
        {500, 500, 500, 3, zen, grid, bdz, 2, 1, 2},  // one thread idle
        {500, 500, 500, 2, zen, grid, bdz, 1, 2, 2},
        {500, 500, 500, 4, zen, grid, bdz, 3, 1, 3},  // 3 + 1 beats 2 + 2, one thread idle
        {500, 400, 500, 8, zen_auto, row, nullptr, 8, 1, 8},
        {400, 500, 500, 8, zen_auto, col, nullptr, 1, 8, 8},
        {500, 400, 500, 4, brc, row, orb_blas_xsgemm0_brc, 4, 1, 4},
        {500, 500, 500, 4, plain, col, nullptr, 1, 4, 4},
        {1000, 1000, 1000, 6, mc3, grid, nullptr, 2, 3, 6},
        {1000, 1000, 1000, 8, mc3, grid, nullptr, 2, 4, 8},
        {1000, 1000, 1000, 14, mc3, grid, nullptr, 2, 7, 14},
        {1000, 1000, 1000, 16, mc3, grid, nullptr, 4, 4, 16},
        {5000, 1000, 100, 6, mc3, grid, nullptr, 6, 1, 6},   // m > 4n
        {100, 1000, 100, 6, mc3, grid, nullptr, 1, 6, 6},    // n > m*P'
        {1000, 1000, 1000, 5, mc3, col, nullptr, 1, 5, 5},   // odd: large in every dimension
        {900, 500, 100, 5, mc3, row, nullptr, 5, 1, 5},      // odd: 80*P < m
        {300, 300, 300, 5, mc3, grid, nullptr, 2, 2, 4},     // odd, none of the 1-D rules
        {300, 300, 300, 7, mc3, grid, nullptr, 2, 3, 6},
    };
    for (const PlanCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.m << "x" << c.n << "x" << c.k << " P=" << c.threads
                                        << " class " << c.machine.processor_class);
        const SgemmLegacyPrototype p = legacy_plan_prototype(c.m, c.n, c.k, c.threads, c.machine);
        EXPECT_EQ(p.decomposition, c.decomposition);
        EXPECT_EQ(p.gemm, c.gemm);
        EXPECT_EQ(p.block_info, c.gemm == bdz ? orb_blas_sgemm_blk_info_bdz : nullptr);
        EXPECT_EQ(p.m_parts, c.m_parts);
        EXPECT_EQ(p.n_parts, c.n_parts);
        EXPECT_EQ(p.team_size, c.team);
        EXPECT_EQ(p.a_copies + p.b_copies, 0);
    }
}

// The lengths of all shares, checked to follow each other and cover the extent.
template <typename Share>
std::vector<int64_t> lengths(int64_t extent, int parts, Share share) {
    std::vector<int64_t> counts;
    int64_t next = 0;
    for (int t = 0; t < parts; ++t) {
        const LegacyRange r = share(t);
        if (r.count > 0) EXPECT_EQ(r.start, next);
        next += r.count;
        counts.push_back(r.count);
    }
    EXPECT_EQ(next, extent);
    return counts;
}

std::vector<int64_t> counts_1d(int64_t extent, int threads, bool dynamic) {
    return lengths(extent, threads, [&](int t) { return legacy_1d_share(extent, threads, t, dynamic); });
}

std::vector<int64_t> counts_grid(int64_t extent, int parts, int64_t unit) {
    std::vector<int64_t> counts =
        lengths(extent, parts, [&](int i) { return legacy_grid_share(extent, parts, i, unit); });
    for (size_t i = 0; i + 1 < counts.size(); ++i)  // every share but the last holds whole units
        if (counts[i + 1] > 0) EXPECT_EQ(counts[i] % unit, 0);
    return counts;
}

TEST(LegacySplits, OneDimensionalAndGridShares) {
    using V = std::vector<int64_t>;
    EXPECT_EQ(counts_1d(10, 4, false), (V{3, 3, 2, 2}));
    EXPECT_EQ(counts_1d(10, 4, true), (V{3, 3, 3, 1}));
    EXPECT_EQ(counts_1d(10, 8, true), (V{2, 2, 2, 2, 2, 0, 0, 0}));
    EXPECT_EQ(counts_1d(10, 8, false), (V{2, 2, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(counts_1d(9, 4, true), (V{2, 2, 2, 3}));  // q + 1 is not exceeded: the last takes the rest
    EXPECT_EQ(counts_1d(3, 5, false), (V{1, 1, 1, 0, 0}));
    EXPECT_EQ(counts_grid(100, 3, 16), (V{48, 32, 20}));  // 7 panels of 16: 3, 2, 2
    EXPECT_EQ(counts_grid(5, 4, 1), (V{2, 1, 1, 1}));
    for (int64_t extent = 1; extent < 60; ++extent)
        for (int parts = 1; parts <= 9; ++parts) {
            counts_1d(extent, parts, false);
            counts_1d(extent, parts, true);
            for (int64_t unit : {1, 4, 16}) counts_grid(extent, parts, unit);
        }
    int mp = 0, np = 0;
    legacy_improved_grid(1000, 40, 100, 8, 16, 4, &mp, &np);  // tall: every thread along m
    EXPECT_EQ(std::make_pair(mp, np), std::make_pair(8, 1));
    legacy_improved_grid(384, 384, 100, 4, 16, 4, &mp, &np);  // square: 2 x 2 packs least
    EXPECT_EQ(std::make_pair(mp, np), std::make_pair(2, 2));
}

}  // namespace
