// legacy_entry_rules.cpp - whether a product on the first kernel interface
// gets a thread team.
//
// Three rules decide before any thread is started:
//   - small products (at most 16 in every dimension, or k at most 4 with m
//     and n at most 100) always run on one thread;
//   - the processor class table sorts the processor into a class with two
//     switches: S, whether the shape test below must pass, and R, whether
//     beta is applied to C in a pre-pass (and a zero alpha then ends the
//     call) before the team starts;
//   - the shape test of the SSE4.2 class weighs the work of one thread of a
//     two-row grid (h = T/2 column parts, q columns and m/2 rows each)
//     against the cost of starting a team, with its own rules for limits
//     above 8 threads.
#include "blas/gemm/legacy_driver.h"

namespace {

// Products of counts wrap like the machine's multiply instead of
// overflowing into undefined behaviour.
int64_t times(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

// One row of the class table: the predicate that selects it and its values.
struct ClassRow {
    int LegacyProcessorQuery::*predicate;  // vendor-0 predicate that selects the row
    LegacyProcessor processor;             // class, S, R
};

// Processors of other vendors (vendor test 0), first match wins.
constexpr ClassRow kOtherVendorRows[] = {
    {&LegacyProcessorQuery::barcelona, {kLegacyClassBarcelona, false, false}},
    {&LegacyProcessorQuery::bulldozer, {kLegacyClassFma, false, true}},
    {&LegacyProcessorQuery::zen, {kLegacyClassFma, false, true}},
};

constexpr LegacyProcessor kPlainProcessor{kLegacyClassPlain, false, false};
constexpr LegacyProcessor kSse42Processor{kLegacyClassSse42, true, true};
constexpr int kCpuTypeSse42 = 3;

// The second part of the shape test, for limits above 8 threads: the grid
// reconsidered (mh rows, q columns, h column parts of a thread), the verdict
// corrected, and shapes too thin for any team refused outright.
bool large_team_allows(int64_t m, int64_t n, int64_t k, int64_t t, int64_t mh, int64_t q, int64_t h, bool ok) {
    if (m < times(n, t) || n > 100) {
        if (times(m, t) <= n) {
            mh = m;
            h = t;
            q = n / t;
        }
    } else {
        const int64_t mq = m / t;
        if (n < 4 && mq <= 8) ok = false;
        if (times(mq + n, k) < 225) ok = false;
        mh = mq;
        q = n;
        h = 1;
    }
    if ((m / t < 4 && n < t) || (h > 1 && q < 2 && m < 301 && times(mh, k) < 2450)) return false;
    return ok;
}

}  // namespace

bool legacy_is_small_problem(int64_t m, int64_t n, int64_t k) {
    return (m <= 16 && n <= 16 && k <= 16) || (k <= 4 && m <= 100 && n <= 100);
}

LegacyProcessor legacy_processor_class(const LegacyProcessorQuery &query) {
    if (query.vendor_test == 0) {
        for (const ClassRow &row : kOtherVendorRows)
            if (query.*row.predicate) return row.processor;
        return kPlainProcessor;
    }
    return query.cpu_type == kCpuTypeSse42 ? kSse42Processor : kPlainProcessor;
}

bool legacy_shape_allows_threads(int64_t m, int64_t n, int64_t k, int threads) {
    if (threads < 2) return false;
    const int64_t t = threads;
    const int64_t h = t / 2;
    const int64_t q = n / h;
    const int64_t mh = m / 2;
    bool ok = false;
    if (k > 4 && m > 9 && (q > 1 || (n > 5 && q == 1 && k > 255 && m > 255)))
        ok = k > 256 || times(times(k, mh), q) > 9727 || times(q, mh) + times(q + mh, k) > 6399;
    if (t > 8) return large_team_allows(m, n, k, t, mh, q, h, ok);
    return ok;
}
