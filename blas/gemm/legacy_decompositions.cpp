// legacy_decompositions.cpp - the ways a legacy team shares C.
//
// Every thread of the team calls the prototype's decomposition with the
// whole call; each finds its own block of C from its thread number, runs one
// GEMM on it and meets the others at the closing barrier.  Blocks never
// overlap and together cover C, so each element of C is written by exactly
// one GEMM call; threads beyond the blocks only take part in the barriers.
//
//   1D_row, 1D_col      rows (columns) of C, q or q + 1 per thread;
//   2D_bsrc             the prototype's grid, cut on the GEMM's register
//                       block when it is known, so that its kernels see
//                       whole panels;
//   2D_improved_bsrc    a grid chosen afresh for the shape: the one whose
//                       largest block costs least;
//   2D_xgemm_p          the prototype's grid on the parallel GEMM of the
//                       descriptor, cut on the set's register block;
//   1D_with_copy_0,     the team first copies op(B) (and, for the last one,
//   2D_bcopy,           op(A)) into the shared copy buffers as compact
//   2D_abcopy_abx_...   column-major matrices, each thread a share of the
//                       columns; after a barrier every block reads the
//                       copies untransposed.
//
// The GEMM of a block is the descriptor's parallel GEMM (with the thread's
// descriptor and kernel version 0, its own choice) when the descriptor uses
// one, otherwise the prototype's GEMM, otherwise the descriptor's.
#include <omp.h>

#include <algorithm>
#include <cstring>

#include "blas/gemm/legacy_driver.h"
#include "orb_threads.h"

namespace {

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

bool is_plain(const char *trans) { return *trans == 'N' || *trans == 'n'; }

// op(A) and op(B) as the block GEMMs read them: the caller's operands or the
// shared copies.
struct Operands {
    const char *transa;  // transposition of the A read
    const float *a;      // A read
    int64_t lda;         // its leading dimension
    const char *transb;  // transposition of the B read
    const float *b;      // B read
    int64_t ldb;         // its leading dimension
};

Operands caller_operands(const SgemmCall &g) { return {g.transa, g.a, *g.lda, g.transb, g.b, *g.ldb}; }

bool uses_parallel_gemm(const SgemmLegacyDesc *desc) { return desc->uses_par_gemm != 0 && desc->par_gemm != nullptr; }

// C(rows, cols) := alpha*op(A)(rows, :)*op(B)(:, cols) + beta*C(rows, cols).
void compute_block(const SgemmCall &g, const Operands &op, LegacyRange rows, LegacyRange cols, SgemmLegacyDesc *desc,
                   const SgemmLegacyPrototype *proto, bool parallel_gemm) {
    if (rows.count <= 0 || cols.count <= 0) return;
    const float *a = op.a + (is_plain(op.transa) ? rows.start : rows.start * op.lda);
    const float *b = op.b + (is_plain(op.transb) ? cols.start * op.ldb : cols.start);
    float *c = g.c + rows.start + cols.start * *g.ldc;
    if (parallel_gemm) {
        desc->par_gemm(op.transa, op.transb, &rows.count, &cols.count, g.k, g.alpha, a, &op.lda, b, &op.ldb, g.beta,
                       c, g.ldc, desc, 0);
        return;
    }
    const XsgemmFn gemm = proto->gemm != nullptr ? proto->gemm : desc->gemm;
    gemm(op.transa, op.transb, &rows.count, &cols.count, g.k, g.alpha, a, &op.lda, b, &op.ldb, g.beta, c, g.ldc);
}

// This thread's block of an m_parts x n_parts grid (threads numbered down
// the m parts first); threads beyond the grid or the prototype's team idle.
void compute_grid_block(const SgemmCall &g, const Operands &op, int m_parts, int n_parts, int64_t m_unit,
                        int64_t n_unit, SgemmLegacyDesc *desc, const SgemmLegacyPrototype *proto, bool parallel_gemm) {
    const int t = omp_get_thread_num();
    if (t >= m_parts * n_parts || t >= proto->team_size) return;
    const LegacyRange rows = legacy_grid_share(*g.m, m_parts, t % m_parts, m_unit);
    const LegacyRange cols = legacy_grid_share(*g.n, n_parts, t / m_parts, n_unit);
    compute_block(g, op, rows, cols, desc, proto, parallel_gemm);
}

// This thread's rows of the 1-D row split.
void compute_row_block(const SgemmCall &g, const Operands &op, SgemmLegacyDesc *desc,
                       const SgemmLegacyPrototype *proto) {
    const int t = omp_get_thread_num();
    if (t >= proto->team_size) return;
    const LegacyRange rows = legacy_1d_share(*g.m, proto->team_size, t, orb_serv_get_dynamic() != 0);
    compute_block(g, op, rows, {0, *g.n}, desc, proto, uses_parallel_gemm(desc));
}

// Copies this thread's share of the columns of op(X) (rows x cols, stored
// with ld) into dst, a compact column-major rows x cols matrix.
void copy_columns(const char *trans, int64_t rows, int64_t cols, const float *src, int64_t ld, float *dst) {
    const LegacyRange share = legacy_grid_share(cols, omp_get_num_threads(), omp_get_thread_num(), 1);
    for (int64_t j = share.start; j < share.start + share.count; ++j) {
        float *column = dst + j * rows;
        if (is_plain(trans)) {
            std::memcpy(column, src + j * ld, static_cast<size_t>(rows) * sizeof(float));
        } else {
            for (int64_t i = 0; i < rows; ++i) column[i] = src[j + i * ld];
        }
    }
}

// The team copies op(B) (k x n) into the shared B copy, when there is one.
// The caller publishes the copy with a barrier.
void copy_b(const SgemmCall &g, const SgemmLegacyPrototype *proto, Operands &op) {
    if (proto->b_copy == nullptr) return;
    copy_columns(g.transb, *g.k, *g.n, g.b, *g.ldb, proto->b_copy);
    op.transb = "N";
    op.b = proto->b_copy;
    op.ldb = std::max<int64_t>(*g.k, 1);
}

// The same for op(A) (m x k) and the shared A copy.
void copy_a(const SgemmCall &g, const SgemmLegacyPrototype *proto, Operands &op) {
    if (proto->a_copy == nullptr) return;
    copy_columns(g.transa, *g.m, *g.k, g.a, *g.lda, proto->a_copy);
    op.transa = "N";
    op.a = proto->a_copy;
    op.lda = std::max<int64_t>(*g.m, 1);
}

// Cost of the largest block of a grid: multiply-adds plus elements packed.
int64_t largest_block_cost(int64_t m, int64_t n, int64_t k, int m_parts, int n_parts, int64_t mr, int64_t nr) {
    const int64_t rows = std::min(ceil_div(ceil_div(m, mr), m_parts) * mr, m);
    const int64_t cols = std::min(ceil_div(ceil_div(n, nr), n_parts) * nr, n);
    const int64_t depth = std::max<int64_t>(k, 1);
    return rows * cols * depth + (rows + cols) * depth;
}

int64_t unit_or_one(int64_t unit) { return unit > 0 ? unit : 1; }

}  // namespace

LegacyRange legacy_1d_share(int64_t extent, int threads, int index, bool dynamic) {
    const int64_t p = threads;
    const int64_t q = extent / p;
    if (q + 1 < extent - q * (p - 1)) {
        if (dynamic) {
            const int64_t used = ceil_div(extent, q + 1);
            if (index >= used) return {extent, 0};
            const int64_t start = index * (q + 1);
            return {start, std::min(q + 1, extent - start)};
        }
        const int64_t r = extent % p;
        return {index * q + std::min<int64_t>(index, r), q + (index < r ? 1 : 0)};
    }
    const int64_t start = index * q;
    return {start, index == threads - 1 ? extent - start : q};
}

LegacyRange legacy_grid_share(int64_t extent, int parts, int index, int64_t unit) {
    unit = unit_or_one(unit);
    const int64_t units = ceil_div(extent, unit);
    const int64_t base = units / parts;
    const int64_t extra = units % parts;
    const int64_t first = index * base + std::min<int64_t>(index, extra);
    const int64_t count = base + (index < extra ? 1 : 0);
    const int64_t start = std::min(first * unit, extent);
    const int64_t end = std::min((first + count) * unit, extent);
    return {start, end - start};
}

void legacy_improved_grid(int64_t m, int64_t n, int64_t k, int threads, int64_t mr, int64_t nr, int *m_parts,
                          int *n_parts) {
    mr = unit_or_one(mr);
    nr = unit_or_one(nr);
    *m_parts = 1;
    *n_parts = threads;
    int64_t best = largest_block_cost(m, n, k, 1, threads, mr, nr);
    for (int c = 2; c <= threads; ++c) {
        const int q = threads / c;
        const int64_t cost = largest_block_cost(m, n, k, c, q, mr, nr);
        if (cost < best) {
            best = cost;
            *m_parts = c;
            *n_parts = q;
        }
    }
}

extern "C" {

ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_1D_row) {
    const SgemmCall g{transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc};
    compute_row_block(g, caller_operands(g), desc, proto);
#pragma omp barrier
}

ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_1D_col) {
    const SgemmCall g{transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc};
    const int t = omp_get_thread_num();
    if (t < proto->team_size) {
        const LegacyRange cols = legacy_1d_share(*n, proto->team_size, t, orb_serv_get_dynamic() != 0);
        compute_block(g, caller_operands(g), {0, *m}, cols, desc, proto, uses_parallel_gemm(desc));
    }
#pragma omp barrier
}

// Row blocks all read the whole of op(B): the team shares one copy of it.
ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_1D_with_copy_0) {
    const SgemmCall g{transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc};
    Operands op = caller_operands(g);
    copy_b(g, proto, op);
#pragma omp barrier
    compute_row_block(g, op, desc, proto);
#pragma omp barrier
}

ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_2D_bsrc) {
    const SgemmCall g{transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc};
    compute_grid_block(g, caller_operands(g), proto->m_parts, proto->n_parts, proto->block.mr, proto->block.nr, desc,
                       proto, uses_parallel_gemm(desc));
#pragma omp barrier
}

ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_2D_improved_bsrc) {
    const SgemmCall g{transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc};
    int m_parts = 1, n_parts = 1;
    legacy_improved_grid(*m, *n, *k, proto->team_size, proto->block.mr, proto->block.nr, &m_parts, &n_parts);
    compute_grid_block(g, caller_operands(g), m_parts, n_parts, proto->block.mr, proto->block.nr, desc, proto,
                       uses_parallel_gemm(desc));
#pragma omp barrier
}

// The set's register block is min_m x min_n (its smallest blocked product).
ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_2D_xgemm_p) {
    const SgemmCall g{transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc};
    compute_grid_block(g, caller_operands(g), proto->m_parts, proto->n_parts, desc->min_m, desc->min_n, desc, proto,
                       desc->par_gemm != nullptr);
#pragma omp barrier
}

ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_2D_bcopy) {
    const SgemmCall g{transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc};
    Operands op = caller_operands(g);
    copy_b(g, proto, op);
#pragma omp barrier
    compute_grid_block(g, op, proto->m_parts, proto->n_parts, proto->block.mr, proto->block.nr, desc, proto,
                       uses_parallel_gemm(desc));
#pragma omp barrier
}

ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_2D_abcopy_abx_m_km_par_p) {
    const SgemmCall g{transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc};
    Operands op = caller_operands(g);
    copy_a(g, proto, op);
    copy_b(g, proto, op);
#pragma omp barrier
    compute_grid_block(g, op, proto->m_parts, proto->n_parts, proto->block.mr, proto->block.nr, desc, proto,
                       uses_parallel_gemm(desc));
#pragma omp barrier
}

}  // extern "C"
