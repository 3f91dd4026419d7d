// partitioned_driver.cpp - gemm_omp_driver_v2: one SGEMM call on a team.
//
// The forking thread reserves the team's shared areas on its own stack
// (T/2 + 3 buffer records and synchronisation slots, T the planned team
// size), then either runs the simple three-dimensional split (when the plan's
// first test passes for this shape, outside the strict reproducible mode) or
// forks a team of T threads.  In the team every thread copies the records,
// learns the team's real size, plans the cut for that size (set_thread_opts),
// picks the parallel strategy of the plan, fills its kernel information,
// narrows its operands to its share and runs the strategy:
//   partition kind 0  rows split evenly (partition_1d over A and C);
//   partition kind 1  columns split evenly (over B and C);
//   partition kind 2  an mp x np grid of blocks;
//   kinds 5 and 7     the strategy cuts the work itself.
// A team that came up with a single thread computes the whole product with
// the kernel set's GEMM driver.
#include <omp.h>

#include <alloca.h>

#include <new>

#include "blas/gemm/partitioned_driver.h"
#include "blas/gemm/thread_plan.h"
#include "blas/kernels/dispatchers.h"
#include "orb_threads.h"

namespace {

// The records every thread of a team starts from, shared read-only.
struct TeamInput {
    const BlasOpParams *op;  // the operation
    const MatDesc *a;        // op(A), m x k
    const MatDesc *b;        // op(B), k x n
    const MatDesc *c;        // C, m x n
    const ThreadOpts *opts;  // the caller's plan record
    SgemmBuffers *buffers;   // the team's shared buffer records
    SyncSlot *slots;         // and synchronisation slots
};

// Narrows d to rows [start, start + size) (rows) or columns (!rows).
void narrow(MatDesc *d, const Share &share, bool rows) {
    *d = rows ? orb_sub_desc(*d, share.start, 0, share.size, d->cols) : orb_sub_desc(*d, 0, share.start, d->rows, share.size);
}

// The rows (or columns) of one block of a dimension of `count` cut into
// `parts` blocks.  Without dynamic adjustment the first count mod parts
// blocks get one more; with it the blocks are equal but for the last, and
// fewer parts may be left (*parts is updated).
Share grid_block(int64_t count, int64_t *parts, int64_t index, bool dynamic, bool rows) {
    const int64_t p = *parts, base = count / p, rest = count % p;
    if (count - base * (p - 1) <= base + 1) {  // rest <= 1: equal blocks, the last takes the rest
        const int64_t start = base * index;
        if (index >= p || start >= count) return {0, 0};
        return {start, index == p - 1 ? count - start : base};
    }
    if (!dynamic) {
        if (index >= p) return {0, 0};
        const int64_t start = index * base + (index < rest ? index : rest);
        return {start, base + (index < rest ? 1 : 0)};
    }
    const int64_t size = rows && base + rest > p ? base + 2 : base + 1;
    *parts = (count + size - 1) / size;
    const int64_t start = size * index;
    if (index >= *parts || start >= count) return {0, 0};
    return {start, start + size > count ? count - start : size};
}

// The two-dimensional partition: thread t takes row block t mod mp and
// column block t div mp of the (possibly reduced) grid.
void partition_2d(MatDesc *a, MatDesc *b, MatDesc *c, ThreadOpts *opts) {
    const bool dynamic = orb_serv_get_dynamic() != 0;
    int64_t mp = opts->m_parts, np = opts->n_parts;
    const int64_t t = opts->thread_index;
    // Every thread works the grid out alike; the sizes do not depend on t.
    int64_t mp_final = mp, np_final = np;
    grid_block(c->rows, &mp_final, 0, dynamic, true);
    grid_block(c->cols, &np_final, 0, dynamic, false);
    opts->thread_count = static_cast<int32_t>(mp_final * np_final);
    const Share rows = t < mp_final * np_final ? grid_block(c->rows, &mp, t % mp_final, dynamic, true) : Share{0, 0};
    const Share cols = t < mp_final * np_final ? grid_block(c->cols, &np, t / mp_final, dynamic, false) : Share{0, 0};
    narrow(a, rows, true);
    narrow(b, cols, false);
    *c = orb_sub_desc(*c, rows.start, cols.start, rows.size, cols.size);
    opts->group_index = -1;
    opts->second_group_index = -1;
    opts->group_count = 0;
}

SgemmParallelStrategy strategy_of(const ThreadOpts &opts) {
    if (opts.partition_kind == 5) return gblock_by_k_omp;
    switch (opts.copy_method) {
    case 1: return omp_parallel_acopy;
    case 2: return omp_parallel_acopy_lookahead;
    default: return omp_no_parallel_copy;
    }
}

// The kernel information of the thread's plan.
void fill_kernel_info(const BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c, ThreadOpts *opts,
                      SgemmKernelInfo *kinfo) {
    orb_blas_sgemm_map_thread_to_kernel(opts, &kinfo->strategy);
    orb_blas_sgemm_initialize_kernel_info(op, a, b, c, &kinfo->strategy, kinfo);
}

void region_body(const TeamInput &in) {
    BlasOpParams op = *in.op;
    MatDesc a = *in.a, b = *in.b, c = *in.c;
    ThreadOpts opts = *in.opts;
    SgemmKernelInfo kinfo;
    opts.thread_count = omp_get_num_threads();
    opts.thread_index = omp_get_thread_num();

    if (opts.thread_count == 1) {
        opts.copy_method = 0;
        fill_kernel_info(&op, &a, &b, &c, &opts, &kinfo);
        kinfo.driver(&op, &a, &b, &c, nullptr, &kinfo);
        return;
    }
    set_thread_opts(&op, a.cols, a.ld, b.ld, c.rows, c.cols, c.ld, &opts);
    const SgemmParallelStrategy strategy = strategy_of(opts);
    // The trailer is the team's: every thread stores the same strategy there.
    __atomic_store_n(&opts.params->trailer->strategy, reinterpret_cast<void *>(strategy), __ATOMIC_RELAXED);
    fill_kernel_info(&op, &a, &b, &c, &opts, &kinfo);

    switch (opts.partition_kind) {
    case 0:
        narrow(&a, leading_share(a.rows, opts.thread_count, opts.thread_index), true);
        narrow(&c, leading_share(c.rows, opts.thread_count, opts.thread_index), true);
        break;
    case 1:
        narrow(&b, leading_share(b.cols, opts.thread_count, opts.thread_index), false);
        narrow(&c, leading_share(c.cols, opts.thread_count, opts.thread_index), false);
        break;
    case 2: partition_2d(&a, &b, &c, &opts); break;
    default: break;
    }
    opts.group_buffers = opts.group_index >= 0 ? &in.buffers[opts.group_index] : nullptr;
    opts.group_sync = opts.group_index >= 0 ? &in.slots[opts.group_index] : nullptr;
    opts.second_group_buffers = opts.second_group_index >= 0 ? &in.buffers[opts.second_group_index] : nullptr;
    opts.second_group_sync = opts.second_group_index >= 0 ? &in.slots[opts.second_group_index] : nullptr;
    if (opts.thread_index < opts.thread_count) strategy(&op, &a, &b, &c, &opts, &kinfo);
}

}  // namespace

extern "C" void gemm_omp_driver_v2(BlasOpParams op, MatDesc a, MatDesc b, MatDesc c, ThreadOpts opts) {
    const int threads = opts.thread_count;
    const int entries = threads / 2 + 3;
    auto *buffers = static_cast<SgemmBuffers *>(__builtin_alloca_with_align(sizeof(SgemmBuffers) * entries, 128));
    auto *slots = static_cast<SyncSlot *>(__builtin_alloca_with_align(sizeof(SyncSlot) * entries, 512));
    for (int e = 0; e < entries; ++e) new (&slots[e]) SyncSlot{};

    const bool packed_set = opts.cpu_type == 7 || opts.cpu_type == 5;
    if (packed_set && opts.params->trailer->strict == 0 &&
        simple_3d_test(&op, a.cols, a.ld, b.ld, c.rows, c.cols, c.ld, &opts)) {
        SgemmKernelInfo kinfo;
        opts.copy_method = 5;
        fill_kernel_info(&op, &a, &b, &c, &opts, &kinfo);
        set_thread_opts(&op, a.cols, a.ld, b.ld, c.rows, c.cols, c.ld, &opts);
        omp_simple_3d(&op, &a, &b, &c, &opts, &kinfo);
        return;
    }
    const TeamInput in{&op, &a, &b, &c, &opts, buffers, slots};
#pragma omp parallel num_threads(threads)
    region_body(in);
}
