// parallel_copy.cpp - the parallel strategies without and with a shared
// packed A (omp_no_parallel_copy, copy method 0; omp_parallel_acopy, copy
// method 1).
//
// Without a shared copy every thread multiplies its own share of the
// product alone, packing privately.
//
// With one, the team splits the columns of B and C and shares A: for every
// block of A (a k block of kc steps by an m block of mc rows, mc being the
// kernel set's mc times min(T, 10) so that one packing serves the team) the
// working threads pack it together, each a share of the rows in whole
// register-block strips, into a buffer thread 0 allocated; every thread then
// multiplies the shared block with its own columns through the kernel set's
// A-packed driver, which packs only B.  Two barriers around each packing
// keep the packers from overwriting a block still being read, and the
// readers from starting before it is complete.  The call's beta acts on the
// first k block only.  When any buffer cannot be had, every thread computes
// its own share with the buffer-free product instead.
#include <algorithm>

#include "blas/gemm/partitioned_driver.h"
#include "blas/kernels/dispatchers.h"
#include "orb_service.h"

namespace {

constexpr int64_t kSharedBlocksCap = 10;  // the shared A block is at most this many threads' mc

int64_t round_up(int64_t value, int64_t multiple) { return (value + multiple - 1) / multiple * multiple; }

// The team failure flag, one word shared by the team through the trailer.
// Any number of threads may raise it at once, so it is stored atomically;
// the barrier after the allocations orders it before it is read.
void raise_team_failure(ThreadOpts *opts) {
    __atomic_store_n(&opts->params->trailer->team_failed, 1, __ATOMIC_RELAXED);
}
bool team_failed(ThreadOpts *opts) {
    return __atomic_load_n(&opts->params->trailer->team_failed, __ATOMIC_RELAXED) != 0;
}

}  // namespace

void omp_no_parallel_copy(const BlasOpParams *op, MatDesc *a, MatDesc *b, MatDesc *c, ThreadOpts *,
                          SgemmKernelInfo *kinfo) {
    BlasOpParams own = *op;
    kinfo->driver(&own, a, b, c, nullptr, kinfo);
}

void omp_parallel_acopy(const BlasOpParams *op_in, MatDesc *a, MatDesc *b, MatDesc *c, ThreadOpts *opts,
                        SgemmKernelInfo *kinfo) {
    BlasOpParams op = *op_in;
    const int t = opts->thread_index, threads = opts->thread_count, workers = opts->working_threads;
    const int64_t m = c->rows, k = a->cols, mr = kinfo->strategy.mr;
    auto *slot = static_cast<SyncSlot *>(opts->group_sync);
    SgemmBuffers *shared = opts->group_buffers;

    // Every thread sees all of A, so each works out the shared block's rows alike.
    SgemmBuffers own;
    orb_blas_sgemm_initialize_buffers(a, b, &kinfo->strategy, &own);
    int64_t shared_mc = own.mc * std::min<int64_t>(threads, kSharedBlocksCap);
    if (shared_mc > m) shared_mc = round_up(m, mr);
    if (t == 0) {
        *shared = own;
        shared->mc = shared_mc;
        shared->mode = kBuffersA;
        shared->get(shared);
        if (shared->block == nullptr) raise_team_failure(opts);
    }
    own.mc = shared_mc;
    own.get(&own);
    if (own.block == nullptr) raise_team_failure(opts);
    if (threads > 1) team_barrier(slot, t, threads);

    if (team_failed(opts)) {
        if (t == 0) {
            orb_serv_check_ptr_and_warn(nullptr, "SGEMM");
            if (shared->block != nullptr) shared->free(shared);
        }
        if (own.block != nullptr) own.free(&own);
        kinfo->fallback(&op, a, b, c);
        return;
    }

    const int64_t kc = shared->kc, mc = shared_mc;
    for (int64_t k0 = 0; k0 < k; k0 += kc) {
        const int64_t kb = std::min(kc, k - k0);
        if (k0 > 0) op.beta = 1.0f;
        for (int64_t i0 = 0; i0 < m; i0 += mc) {
            const int64_t ib = std::min(mc, m - i0);
            if (threads > 1) team_barrier(slot, t, threads);
            if (t < workers) {
                const int64_t share = round_up((ib + workers - 1) / workers, mr), s = share * t;
                if (s < ib) {
                    const int64_t r = std::min(share, ib - s);
                    const MatDesc a_part = orb_sub_desc(*a, i0 + s, k0, r, kb);
                    MatDesc packed = orb_panel_at(shared->a, kb, s);
                    const float zero = 0.0f;
                    kinfo->pack_a(&a_part, &packed, &op.alpha, const_cast<float *>(&zero));
                }
            }
            if (threads > 1) team_barrier(slot, t, threads);
            own.a = orb_panel_at(shared->a, kb, 0);
            own.a.cols = ib;
            const MatDesc a_block = orb_sub_desc(*a, i0, k0, ib, kb);
            const MatDesc b_block = orb_sub_desc(*b, k0, 0, kb, b->cols);
            const MatDesc c_block = orb_sub_desc(*c, i0, 0, ib, c->cols);
            const float beta = op.beta;
            kinfo->driver(&op, &a_block, &b_block, &c_block, &own, kinfo);
            op.beta = beta;
        }
    }
    own.free(&own);
    if (threads > 1) team_barrier(slot, t, threads);
    if (t == 0) shared->free(shared);
}
