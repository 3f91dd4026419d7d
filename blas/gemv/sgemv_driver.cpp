// sgemv_driver.cpp - the SGEMV driver and its thread team.
//
// orb_blas_sgemv first asks whether the call deserves threads: small
// products, processors that are not Ruzuv's, the baseline cpu types and a
// limit of one thread stay on one thread; otherwise the shape decides
// between the whole limit and, for a large limit with little work per
// thread, a count derived from the work under dynamic adjustment.
//
// orb_blas_sgemv_omp forks the team.  Everything the members share lives in
// the forking frame: the problem (its counts and beta read once), the
// pointer to the partial vectors of the reductions, a unit stride and a zero
// beta for the kernel calls that write a partial vector.  The partial
// vectors are allocated and released by the master alone, between barriers;
// when they cannot be had the master computes the whole product and the
// other members do nothing.
#include "blas/gemv/sgemv_driver.h"

#include <omp.h>

#include <algorithm>
#include <cstring>

#include "blas/gemv/vector_slice.h"
#include "blas/kernels/dispatchers.h"
#include "orb_memory.h"
#include "orb_service.h"
#include "orb_threads.h"

namespace {

// The flag every caller hands to the kernels.
constexpr int kKernelFlag = 1;

// Alignment, in bytes, of the partial vectors and of the row blocks of y.
constexpr int kLineBytes = 64;
constexpr int64_t kFloatsPerLine = kLineBytes / sizeof(float);

// Row blocks of the row split are whole multiples of this many rows.
constexpr int64_t kRowBlockMultiple = 16;

// A transposed product at least this long and at most this wide sums its
// rows on several threads and reduces.
constexpr int64_t kSumSplitMinRows = 20000;
constexpr int64_t kSumSplitMaxColumns = 200;

// A plain product whose rows per thread stay within this count and which has
// at least this many columns per thread splits its columns.
constexpr uint64_t kColumnSplitMaxRowsPerThread = 500;
constexpr int64_t kColumnSplitMinColumnsPerThread = 128;

// Members reduced together as one balanced group.
constexpr int kReductionGroup = 8;

bool is_plain(const char *trans) { return *trans == 'N' || *trans == 'n'; }

// 64-bit products of counts, wrapping like the machine's multiply instead
// of overflowing into undefined behaviour.
int64_t product(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

// Counts divided by the thread count as unsigned values.
int64_t per_thread(int64_t count, int threads) {
    return static_cast<int64_t>(static_cast<uint64_t>(count) / static_cast<uint64_t>(threads));
}

int64_t round_up(int64_t value, int64_t multiple) { return (value + multiple - 1) / multiple * multiple; }

int64_t ceil_div(int64_t value, int64_t divisor) { return (value + divisor - 1) / divisor; }

constexpr SgemvThreadDecision kOneThread{false, 1};

SgemvThreadDecision team_of(int threads) { return {true, threads}; }

// Products too small to share: by the work (m + 288)*n from cpu type 4 on,
// by both dimensions below it.
bool is_small(const SgemvThreadQuery &q) {
    if (q.cpu_type >= 4) return product(q.m + 288, q.n) <= 41699;
    return q.m <= 127 && q.n <= 127;
}

// A large limit with little work per thread: only dynamic
// adjustment lets such a call fork, with one thread per 3072 elements of A.
// A count of 1 still goes through the team driver.
SgemvThreadDecision dynamic_share(const SgemvThreadQuery &q) {
    if (q.dynamic != 1) return kOneThread;
    const int64_t work = product(q.m, q.n);
    if (work < 6144) return team_of(1);
    return team_of(static_cast<int>(std::min<int64_t>(work / 3072, q.max_threads)));
}

// Plain products, by rows per thread and columns: the column split's shape
// takes the whole limit; otherwise the rows per thread, rounded down to a
// multiple of 8 (8 itself counting as 0), times the columns must be worth it.
SgemvThreadDecision plain_decision(const SgemvThreadQuery &q) {
    const int p = q.max_threads;
    const int64_t rows_per_thread = per_thread(q.m, p);
    if (static_cast<uint64_t>(rows_per_thread) <= kColumnSplitMaxRowsPerThread &&
        product(kColumnSplitMinColumnsPerThread, p) <= q.n)
        return team_of(p);
    int64_t rounded = rows_per_thread & ~int64_t{7};
    if (rounded == 8) rounded = 0;
    if (p <= 12) {
        const int64_t limit = rounded <= 31 ? 1535 : 3071;
        return product(rounded, q.n) <= limit ? kOneThread : team_of(p);
    }
    if (product(rows_per_thread, q.n) > 4095) return team_of(p);
    if (q.m < p) return kOneThread;
    return dynamic_share(q);
}

// Transposed products: the long, narrow shape of the reduction split takes
// the whole limit; otherwise the outputs per thread times the rows must be
// worth it.
SgemvThreadDecision transposed_decision(const SgemvThreadQuery &q) {
    const int p = q.max_threads;
    if (q.m >= kSumSplitMinRows && q.n <= kSumSplitMaxColumns) return team_of(p);
    const int64_t outputs_per_thread = per_thread(q.n, p);
    if (p <= 12) {
        const int64_t limit = outputs_per_thread <= 31 ? 2047 : 4095;
        return product(outputs_per_thread, q.m) <= limit ? kOneThread : team_of(p);
    }
    if (product(outputs_per_thread, q.m) > 4095) return team_of(p);
    if (q.n < p) return kOneThread;
    return dynamic_share(q);
}

// ---------------------------------------------------------------------------
// The team
// ---------------------------------------------------------------------------

// The problem as the forking thread read it; shared by the whole team.
struct SgemvProblem {
    const char *trans;  // transposition character
    int64_t m;          // rows of A
    int64_t n;          // columns of A
    const float *alpha; // scale of the product
    const float *a;     // A, column-major
    int64_t lda;        // leading dimension of A
    const float *x;     // input vector
    int64_t incx;       // its increment
    float beta;         // scale of y
    float *y;           // output vector
    int64_t incy;       // its increment
    int requested;      // team size asked for
};

// What the members share besides the problem.
struct SgemvTeamState {
    float *partials = nullptr;  // T partial vectors, owned by the master
    int64_t one = 1;            // unit stride of a partial vector
    float zero = 0.0f;          // beta that overwrites a partial vector
};

// One call of the dispatcher on a sub-problem.
void kernel(const char *trans, int64_t m, int64_t n, const float *alpha, const float *a, int64_t lda, const float *x,
            int64_t incx, const float *beta, float *y, int64_t incy) {
    orb_blas_xsgemv(trans, &m, &n, alpha, a, &lda, x, &incx, beta, y, &incy, kKernelFlag);
}

void whole_product(const SgemvProblem &p) {
    kernel(p.trans, p.m, p.n, p.alpha, p.a, p.lda, p.x, p.incx, &p.beta, p.y, p.incy);
}

// The master takes floats partial values, 64-byte aligned, optionally
// cleared, or computes the whole product when it cannot; after the barrier
// every member sees whether there is a buffer.
bool share_partial_buffer(const SgemvProblem &p, SgemvTeamState &state, int64_t floats, bool cleared) {
#pragma omp masked
    {
        state.partials = static_cast<float *>(orb_serv_allocate(static_cast<size_t>(floats) * sizeof(float), kLineBytes));
        if (state.partials == nullptr) whole_product(p);
        else if (cleared) std::memset(state.partials, 0, static_cast<size_t>(floats) * sizeof(float));
    }
#pragma omp barrier
    return state.partials != nullptr;
}

void release_partial_buffer(SgemvTeamState &state) {
#pragma omp masked
    orb_serv_deallocate(state.partials);
}

// y_i := s, s + y_i or y_i*beta + s; beta 0 does not read y.  The product
// is rounded before the sum.
void store_reduced(float &y, float s, float beta) {
    if (beta == 0.0f) {
        y = s;
    } else if (beta == 1.0f) {
        y = s + y;
    } else {
        const float scaled = y * beta;
        y = scaled + s;
    }
}

// Plain product, columns dealt out: every member forms alpha*A(:, cols)*x(cols)
// into its partial vector, then every member reduces a block of rows.
void columns_with_reduction(const SgemvProblem &p, SgemvTeamState &state, int team, int tid) {
    if (!share_partial_buffer(p, state, product(p.m, team), false)) return;

    float *mine = state.partials + product(tid, p.m);
    const SgemvRange cols = sgemv_even_share(p.n, team, tid);
    if (cols.count > 0) {
        const float *x = orb_vector_slice(p.x, p.incx, p.n, cols.start, cols.count);
        kernel("N", p.m, cols.count, p.alpha, p.a + product(cols.start, p.lda), p.lda, x, p.incx, &state.zero, mine,
               state.one);
    } else {
        std::fill(mine, mine + p.m, 0.0f);
    }
#pragma omp barrier

    const int64_t rows_each = p.m / team;
    const int64_t first = tid * rows_each;
    const int64_t end = tid == team - 1 ? p.m : first + rows_each;
    for (int64_t i = first; i < end; ++i) {
        const float s = orb_reduce_partials(0.0f, state.partials + i, p.m, team);
        store_reduced(orb_vector_element(p.y, p.incy, p.m, i), s, p.beta);
    }
#pragma omp barrier
    release_partial_buffer(state);
}

// Plain product, rows dealt out in blocks of whole multiples of 16 rows.
// With a unit stride and no reproducibility branch the blocks after the
// first start on 64-byte lines of y, so no two members write one line; under
// a branch the cut must not depend on where y lies.
void rows(const SgemvProblem &p, int team, int tid) {
    int64_t offset = 0;
    if (p.incy == 1 && orb_serv_cbwr_get(1) == ORB_CBWR_OFF)
        offset = static_cast<int64_t>((reinterpret_cast<uintptr_t>(p.y) / sizeof(float)) % kFloatsPerLine);
    const SgemvRange block = sgemv_row_block(p.m, team, tid, offset);
    float *y = orb_vector_slice(p.y, p.incy, p.m, block.start, block.count);
    kernel("N", block.count, p.n, p.alpha, p.a + block.start, p.lda, p.x, p.incx, &p.beta, y, p.incy);
}

// Transposed product of a long, narrow A: the rows of A (the summation
// dimension) are dealt out, each member forms its partial vector of all n
// outputs, and the master alone reduces them, beta*y_j first.
void sum_with_reduction(const SgemvProblem &p, SgemvTeamState &state, int team, int tid) {
    if (!share_partial_buffer(p, state, product(p.n, team), true)) return;

    const SgemvRange part = sgemv_even_share(p.m, team, tid);
    if (part.count > 0) {
        const float *x = orb_vector_slice(p.x, p.incx, p.m, part.start, part.count);
        kernel(p.trans, part.count, p.n, p.alpha, p.a + part.start, p.lda, x, p.incx, &state.zero,
               state.partials + product(tid, p.n), state.one);
    }
#pragma omp barrier

#pragma omp masked
    {
        for (int64_t j = 0; j < p.n; ++j) {
            float &y = orb_vector_element(p.y, p.incy, p.n, j);
            float start = 0.0f;
            if (p.beta == 1.0f) start = y;
            else if (p.beta != 0.0f) start = p.beta * y;
            y = orb_reduce_partials(start, state.partials + j, p.n, team);
        }
        orb_serv_deallocate(state.partials);
    }
}

// Transposed product, the outputs dealt out.
void outputs(const SgemvProblem &p, int team, int tid) {
    const SgemvRange part = sgemv_even_share(p.n, team, tid);
    float *y = orb_vector_slice(p.y, p.incy, p.n, part.start, part.count);
    kernel(p.trans, p.m, part.count, p.alpha, p.a + product(part.start, p.lda), p.lda, p.x, p.incx, &p.beta, y,
           p.incy);
}

// The body of every member of the team.
void run_member(const SgemvProblem &p, SgemvTeamState &state) {
    const int team = omp_get_num_threads();
    const int tid = omp_get_thread_num();
    if (team == 1) {
        whole_product(p);
        return;
    }
    switch (sgemv_choose_split(!is_plain(p.trans), p.m, p.n, p.requested)) {
    case SgemvSplit::kColumnsWithReduction: columns_with_reduction(p, state, team, tid); break;
    case SgemvSplit::kRows: rows(p, team, tid); break;
    case SgemvSplit::kSumWithReduction: sum_with_reduction(p, state, team, tid); break;
    case SgemvSplit::kOutputs: outputs(p, team, tid); break;
    }
}

}  // namespace

SgemvThreadDecision sgemv_thread_decision(const SgemvThreadQuery &query) {
    if (is_small(query)) return kOneThread;
    if (query.ruzuv == 0 || query.cpu_type <= 1 || query.max_threads <= 1) return kOneThread;
    return query.transposed ? transposed_decision(query) : plain_decision(query);
}

SgemvSplit sgemv_choose_split(bool transposed, int64_t m, int64_t n, int requested) {
    if (transposed)
        return m >= kSumSplitMinRows && n <= kSumSplitMaxColumns ? SgemvSplit::kSumWithReduction
                                                                   : SgemvSplit::kOutputs;
    // Narrow bands of shapes where the column split loses to the row split.
    const bool columns_permitted = !(m >= 41 && m <= 69 && n >= 151 && n <= 999);
    const bool columns_pay = static_cast<uint64_t>(per_thread(m, requested)) <= kColumnSplitMaxRowsPerThread &&
                             product(kColumnSplitMinColumnsPerThread, requested) <= n;
    return columns_pay && columns_permitted ? SgemvSplit::kColumnsWithReduction : SgemvSplit::kRows;
}

SgemvRange sgemv_even_share(int64_t len, int team, int tid) {
    const int64_t each = len / team, extra = len % team;
    if (tid < extra) return {tid * (each + 1), each + 1};
    return {len - (team - tid) * each, each};
}

SgemvRange sgemv_row_block(int64_t m, int team, int tid, int64_t offset) {
    const int64_t span = m + offset;
    const int64_t block = std::min(round_up(ceil_div(span, team), kRowBlockMultiple), span);
    if (tid == 0) return {0, block - offset};
    const int64_t start = std::min(tid * block - offset, m);
    return {start, std::min(block, m - start)};
}

float orb_reduce_partials(float start, const float *partials, int64_t stride, int count) {
    auto p = [&](int member) { return partials[product(member, stride)]; };
    float sum = start;
    const int groups = count / kReductionGroup;
    for (int g = 0; g < groups; ++g) {
        const int b = g * kReductionGroup;
        const float even = (p(b) + p(b + 4)) + (p(b + 2) + p(b + 6));
        const float odd = (p(b + 1) + p(b + 5)) + (p(b + 3) + p(b + 7));
        sum += even + odd;
    }
    for (int member = count - 1; member >= groups * kReductionGroup; --member) sum += p(member);
    return sum;
}

extern "C" void orb_blas_sgemv(const char *trans, const int64_t *m, const int64_t *n, const float *alpha,
                               const float *a, const int64_t *lda, const float *x, const int64_t *incx,
                               const float *beta, float *y, const int64_t *incy, int /*flag*/) {
    if (*m <= 0 || *n <= 0) return;

    SgemvThreadQuery query{};
    query.cpu_type = orb_serv_cpu_detect();
    query.m = *m;
    query.n = *n;
    query.transposed = !is_plain(trans);
    // The remaining questions are asked only of products big enough to share.
    if (!is_small(query)) {
        query.ruzuv = orb_serv_get_cpu()();
        query.max_threads = orb_serv_domain_get_max_threads(1);
        query.dynamic = orb_serv_get_dynamic();
    }
    const SgemvThreadDecision decision = sgemv_thread_decision(query);
    if (decision.forks) orb_blas_sgemv_omp(decision.threads, trans, m, n, alpha, a, lda, x, incx, beta, y, incy);
    else orb_blas_xsgemv(trans, m, n, alpha, a, lda, x, incx, beta, y, incy, kKernelFlag);
}

extern "C" void orb_blas_sgemv_omp(int nthreads, const char *trans, const int64_t *m, const int64_t *n,
                                   const float *alpha, const float *a, const int64_t *lda, const float *x,
                                   const int64_t *incx, const float *beta, float *y, const int64_t *incy) {
    const SgemvProblem problem{trans, *m, *n, alpha, a, *lda, x, *incx, *beta, y, *incy, nthreads};
    SgemvTeamState state;
#pragma omp parallel num_threads(nthreads)
    run_member(problem, state);
}
