// legacy_prototype.cpp - how a team of the legacy driver cuts C.
//
// Every thread of the team chooses the same prototype from the shape, the
// team size P, the processor class, the kernel set's API support and the
// reproducibility branch.  "1-D by shape" below means rows of C split over
// the team when n < m, columns otherwise.
//
// Baseline sets (def, cnr_def):
//   - Bulldozer/Zen class with the branch OFF: a grid of c x q threads whose
//     sides sum least among those that leave at most one thread idle,
//     computed by the sub-model GEMM, cut on its register block;
//   - Bulldozer/Zen class under any other branch: 1-D by shape;
//   - Barcelona class: 1-D by shape with the Barcelona GEMM;
//   - any other processor: 1-D by shape.
// mc3 set: an odd team below 12 splits 1-D when the shape is large, or far
// from square, in some dimension; otherwise the team, rounded down to an
// even size, forms a grid with 1, 2, 4 or all of its threads along m.  The
// set's block sizes are then narrowed to the block one thread gets.
#include <algorithm>

#include "blas/gemm/legacy_driver.h"
#include "blas/kernels/dispatchers.h"
#include "orb_memory.h"
#include "orb_service.h"

namespace {

constexpr int kApiSupportMc3 = 1;

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

int64_t round_up(int64_t value, int64_t multiple) {
    return multiple > 1 ? ceil_div(value, multiple) * multiple : value;
}

SgemmLegacyPrototype one_dimensional(int64_t m, int64_t n, int threads) {
    SgemmLegacyPrototype p{};
    p.team_size = threads;
    const bool rows = n < m;
    p.decomposition = rows ? orb_blas_sgemm_1D_row : orb_blas_sgemm_1D_col;
    p.m_parts = rows ? threads : 1;
    p.n_parts = rows ? 1 : threads;
    return p;
}

SgemmLegacyPrototype grid(int m_parts, int n_parts) {
    SgemmLegacyPrototype p{};
    p.team_size = m_parts * n_parts;
    p.decomposition = orb_blas_sgemm_2D_bsrc;
    p.m_parts = m_parts;
    p.n_parts = n_parts;
    return p;
}

// The grid of the Bulldozer/Zen class: from (1, P), every c from floor(sqrt(P))
// to P - 1 with q = P/c replaces the held pair when c + q is not larger and
// c*q leaves at most one thread idle.
SgemmLegacyPrototype fma_grid(int threads) {
    int s = 1;
    while ((s + 1) * (s + 1) <= threads) ++s;
    int best_c = 1, best_q = threads;
    for (int c = s; c < threads; ++c) {
        const int q = threads / c;
        if (c + q <= best_c + best_q && c * q >= threads - 1) {
            best_c = c;
            best_q = q;
        }
    }
    SgemmLegacyPrototype p = grid(best_c, best_q);
    p.gemm = orb_blas_xsgemm_bdz;
    p.block_info = orb_blas_sgemm_blk_info_bdz;
    return p;
}

SgemmLegacyPrototype baseline_plan(int64_t m, int64_t n, int threads, const LegacyMachine &machine) {
    if (machine.processor_class == kLegacyClassFma)
        return machine.branch == ORB_CBWR_OFF ? fma_grid(threads) : one_dimensional(m, n, threads);
    SgemmLegacyPrototype p = one_dimensional(m, n, threads);
    if (machine.processor_class == kLegacyClassBarcelona) p.gemm = orb_blas_xsgemm0_brc;
    return p;
}

// An odd mc3 team below 12 stays 1-D for shapes large in every dimension,
// much taller or wider than the team, or wide with a deep k.
bool mc3_prefers_1d(int64_t m, int64_t n, int64_t k, int64_t p) {
    if (p >= 12 || p % 2 == 0) return false;
    return (m / p > 160 && n / p > 160 && k / p > 160) || p * n <= m || p * m <= n || 80 * p < m ||
           (80 * p < n && 1600 * p <= k);
}

SgemmLegacyPrototype mc3_plan(int64_t m, int64_t n, int64_t k, int threads) {
    if (mc3_prefers_1d(m, n, k, threads)) return one_dimensional(m, n, threads);
    const int even = threads & ~1;
    int m_parts;
    if (m > 4 * n) m_parts = even;
    else if (n > m * even) m_parts = 1;
    else if (threads % 4 == 2 || threads % 4 == 3) m_parts = 2;
    else m_parts = even > 12 ? 4 : 2;
    return grid(m_parts, even / m_parts);
}

// The mc3 set's blocking of the whole problem (m and n blocks) narrowed to
// the block one thread of the prototype gets, rounded up to the set's
// granules; k is never split, so the set's k block stays.  A block size the
// set has not chosen (0) is left for its own rule.
void set_mc3_blocks(int64_t rows, int64_t cols, SgemmLegacyDesc *desc) {
    int64_t m_block = round_up(rows, desc->min_m);
    int64_t n_block = round_up(cols, desc->min_n);
    if (desc->m_block > 0) m_block = std::min(m_block, desc->m_block);
    if (desc->n_block > 0) n_block = std::min(n_block, desc->n_block);
    const int64_t k_block = desc->k_block;
    orb_blas_sgemm_set_blks_size(&m_block, &n_block, &k_block, desc);
}

}  // namespace

SgemmLegacyPrototype legacy_plan_prototype(int64_t m, int64_t n, int64_t k, int threads,
                                           const LegacyMachine &machine) {
    if (machine.api_support == kApiSupportMc3) return mc3_plan(m, n, k, threads);
    return baseline_plan(m, n, threads, machine);
}

extern "C" void orb_blas_sgemm_omp_get_prototype(const int64_t *m, const int64_t *n, const int64_t *k,
                                                 SgemmLegacyDesc *desc, SgemmLegacyPrototype *proto,
                                                 const LegacyMachine *machine) {
    *proto = legacy_plan_prototype(*m, *n, *k, proto->team_size, *machine);
    // Blocking is asked for the largest block one thread gets, the call its GEMM will see.
    const int64_t rows = ceil_div(*m, proto->m_parts);
    const int64_t cols = ceil_div(*n, proto->n_parts);
    if (proto->block_info != nullptr) proto->block_info(&rows, &cols, k, &proto->block);
    if (machine->api_support == kApiSupportMc3) set_mc3_blocks(rows, cols, desc);
}

extern "C" void orb_blas_sgemm_omp_free_prototype_memory(LegacyCopyMemory *memory) {
    orb_serv_deallocate(memory->a_block);
    orb_serv_deallocate(memory->b_block);
    memory->a_block = nullptr;
    memory->b_block = nullptr;
}
