// simple_3d.cpp - the simple three-dimensional split (copy method 5).
//
// The plan cuts C into an mp x np grid of bm x bn blocks and k into kp parts
// of bk steps; every (block, k part) pair is a work item computed with the
// kernel set's no-copy kernels.  The items are split statically over the
// team, in an order that puts k part kp-1 first and part 0 last, so that the
// parts a block's reduction waits for are started early.  Part 0 writes C
// directly with the call's beta; every other part writes its product, with
// beta 0, into a tile of a partial buffer (leading dimension bm rounded up
// to 128, plus 16).  The tiles are then added into C, each block's columns
// cut into kp slices with one writer each:
//   - in the same region when every item has a thread of its own (all of a
//     block's parts then run together): an item marks its
//     tile (or, for part 0, its C block) done in a flag on a line of its
//     own, then waits for the flags it needs and adds those tiles to its
//     slice, its own first;
//   - otherwise in a second region after the first has ended, without
//     waiting.
// When the partial buffer cannot be allocated the k dimension is not split.
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "blas/gemm/partitioned_driver.h"
#include "orb_memory.h"
#include "orb_service.h"

namespace {

constexpr int kPartialAlignment = 2097152;  // bytes
constexpr int64_t kTallBlock = 4032;        // a single column block taller than this ...
constexpr int64_t kTallChunk = 192;         // ... is computed in chunks of this many rows

// A work item's completion flag, on a cache line of its own.
struct alignas(64) ItemFlag {
    std::atomic<int32_t> done{0};  // 1 once the item's product is stored
};

struct Grid {
    int64_t mp, np, kp;     // blocks along m, n and k parts
    int64_t bm, bn, bk;     // their sizes
    int64_t ldw;            // leading dimension of a partial tile
    float *partials;        // (kp-1)*mp*np tiles of ldw x bn floats, or null
};

Share span(int64_t index, int64_t size, int64_t count) {
    const int64_t start = index * size;
    if (start >= count) return {0, 0};
    return {start, std::min(size, count - start)};
}

float *tile(const Grid &g, int64_t cell, int64_t part) {
    return g.partials + ((cell * (g.kp - 1) + part - 1) * g.ldw * g.bn);
}

// Computes work item (k part p of block cell).
void compute_item(const Grid &g, int64_t cell, int64_t p, const BlasOpParams *op_in, const MatDesc *a,
                  const MatDesc *b, const MatDesc *c, SgemmKernelInfo *kinfo) {
    const Share rows = span(cell % g.mp, g.bm, c->rows), cols = span(cell / g.mp, g.bn, c->cols);
    const Share depth = span(p, g.bk, a->cols);
    if (rows.size == 0 || cols.size == 0) return;
    BlasOpParams op = *op_in;
    MatDesc target;
    if (p == 0) {
        target = orb_sub_desc(*c, rows.start, cols.start, rows.size, cols.size);
    } else {
        target = orb_operand_desc(tile(g, cell, p), rows.size, cols.size, g.ldw, nullptr);
        op.beta = 0.0f;
    }
    const bool chunked = g.kp == 1 && g.np == 1 && g.mp * g.bm > kTallBlock;
    const int64_t chunk = chunked ? kTallChunk : rows.size;
    for (int64_t r0 = 0; r0 < rows.size; r0 += chunk) {
        const int64_t r = std::min(chunk, rows.size - r0);
        const MatDesc a_part = orb_sub_desc(*a, rows.start + r0, depth.start, r, depth.size);
        const MatDesc b_part = orb_sub_desc(*b, depth.start, cols.start, depth.size, cols.size);
        MatDesc c_part = orb_sub_desc(target, r0, 0, r, cols.size);
        kinfo->driver(&op, &a_part, &b_part, &c_part, nullptr, kinfo);
    }
}

// Adds tile `part` of block cell into C over the columns of the slice.
void add_tile(const Grid &g, int64_t cell, int64_t part, const Share &slice, const MatDesc *c) {
    const Share rows = span(cell % g.mp, g.bm, c->rows), cols = span(cell / g.mp, g.bn, c->cols);
    const float *w = tile(g, cell, part);
    auto *target = static_cast<float *>(c->data);
    for (int64_t j = slice.start; j < slice.start + slice.size; ++j)
        for (int64_t i = 0; i < rows.size; ++i) {
            float &x = target[rows.start + i + (cols.start + j) * c->ld];
            x = x + w[i + j * g.ldw];
        }
}

void wait_for(const ItemFlag &flag) {
    while (flag.done.load(std::memory_order_acquire) == 0) orb_serv_thread_yield();
}

}  // namespace

void omp_simple_3d(const BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c, ThreadOpts *opts,
                   SgemmKernelInfo *kinfo) {
    Grid g{opts->m_parts, opts->n_parts, opts->k_parts, opts->params->block_m, opts->params->block_n,
           opts->params->block_k, 0, nullptr};
    g.ldw = (g.bm + 127) / 128 * 128 + 16;
    if (g.kp >= 2) {
        g.partials = static_cast<float *>(
            orb_serv_allocate(static_cast<size_t>((g.kp - 1) * g.mp * g.np * g.ldw * g.bn) * sizeof(float),
                              kPartialAlignment));
        if (g.partials == nullptr) {  // no room for partial products: one k part
            g.kp = 1;
            g.bk = a->cols;
        }
    }
    const int64_t cells = g.mp * g.np, items = std::max<int64_t>(cells * g.kp, opts->thread_count);
    std::vector<ItemFlag> flags(static_cast<size_t>(items));
    const int team = opts->max_threads;

#pragma omp parallel num_threads(team)
    {
        // Waiting on another item's flag is safe only when no thread has a
        // second item queued behind the one that waits.
        const bool reduce_here = g.kp >= 2 && items <= omp_get_num_threads();
#pragma omp for schedule(static)
        for (int64_t w = 0; w < items; ++w) {
            if (w >= cells * g.kp) continue;
            const int64_t kc = w / cells, cell = w % cells;
            const int64_t p = kc == 0 ? g.kp - 1 : kc == g.kp - 1 ? 0 : kc;
            compute_item(g, cell, p, op, a, b, c, kinfo);
            if (!reduce_here) continue;
            flags[static_cast<size_t>(cell * g.kp + p)].done.store(1, std::memory_order_release);
            const Share slice = balanced_share(span(cell / g.mp, g.bn, c->cols).size, g.kp, p);
            if (p >= 1) {
                wait_for(flags[static_cast<size_t>(cell * g.kp)]);
                add_tile(g, cell, p, slice, c);
            }
            for (int64_t q = 1; q < g.kp; ++q) {
                if (q == p) continue;
                wait_for(flags[static_cast<size_t>(cell * g.kp + q)]);
                add_tile(g, cell, q, slice, c);
            }
        }
    }
    if (g.kp >= 2 && flags[0].done.load() == 0) {
#pragma omp parallel for schedule(static) num_threads(team)
        for (int64_t w = 0; w < items; ++w) {
            if (w >= cells * g.kp) continue;
            const int64_t kc = w / cells, cell = w % cells;
            const Share slice = balanced_share(span(cell / g.mp, g.bn, c->cols).size, g.kp, kc);
            if (kc >= 1) add_tile(g, cell, kc, slice, c);
            for (int64_t q = 1; q < g.kp; ++q)
                if (q != kc) add_tile(g, cell, q, slice, c);
        }
    }
    orb_serv_deallocate(g.partials);
}
