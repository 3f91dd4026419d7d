// k_split.cpp - the parallel GEMM that also splits the inner dimension
// (gblock_by_k_omp, partition kind 5).
//
// The team is an mp x np x kp grid: thread t computes row block i = t mod
// mp, column block j = (t div mp) mod np and k part kc = t div (mp*np) of the
// product.  The threads of k part 0 write C's block directly with the call's
// alpha and beta; those of the other parts write their products, with beta
// 0, into partial matrices P1 .. P(kp-1) of a buffer thread 0 allocates for
// the team.  After a barrier, the kp threads of a block each add the partial
// products of one slice of its columns into C, in a fixed order: for two
// parts C + P1; for more, P1 plus the next partials in groups of eight
// (each group summed as a pairwise tree first), the rest one at a time, and
// C added last.  Every element of C therefore has one writer and the same
// sum order on every run with the same team.
//
// A partial matrix has the leading dimension m rounded up to 128, plus 16,
// so that its columns fall out of step with C's cache sets.  Without the
// buffer, thread 0 computes the whole product alone.
#include <algorithm>

#include "blas/gemm/partitioned_driver.h"
#include "orb_memory.h"
#include "orb_service.h"

namespace {

constexpr int64_t kPartialPad = 16;          // floats past the multiple of 128
constexpr int kPartialAlignment = 4096;      // bytes
constexpr int64_t kPartialsPerTree = 8;      // partials summed together

int64_t partial_ld(int64_t m) { return (m + 127) / 128 * 128 + kPartialPad; }

// The partial matrix of k part p (1 <= p < kp) seen as an untransposed C.
MatDesc partial_desc(float *buffer, int64_t ldw, int64_t n, int64_t p, int64_t rows, int64_t cols, int64_t row0,
                     int64_t col0) {
    MatDesc d = orb_operand_desc(buffer + (p - 1) * ldw * n, rows, cols, ldw, nullptr);
    d.data = static_cast<float *>(d.data) + row0 + col0 * ldw;
    return d;
}

// C(r, c) += the partials 1 .. kp-1 at (r, c), in the fixed order.
void reduce_slice(float *c, int64_t ldc, const float *partials, int64_t ldw, int64_t n, int64_t kp, int64_t rows,
                  int64_t cols) {
    const int64_t matrix = ldw * n;  // floats between consecutive partials
    for (int64_t j = 0; j < cols; ++j)
        for (int64_t r = 0; r < rows; ++r) {
            const float *at = partials + r + j * ldw;
            float *target = c + r + j * ldc;
            if (kp == 2) {
                *target = *target + at[0];
                continue;
            }
            float sum = at[0];
            int64_t p = 1;  // next partial (0-based: partial p + 1)
            for (; kp - 1 - p >= kPartialsPerTree; p += kPartialsPerTree) {
                float level[kPartialsPerTree];
                for (int64_t q = 0; q < kPartialsPerTree; ++q) level[q] = at[(p + q) * matrix];
                for (int64_t width = kPartialsPerTree / 2; width >= 1; width /= 2)
                    for (int64_t q = 0; q < width; ++q) level[q] = level[2 * q] + level[2 * q + 1];
                sum = sum + level[0];
            }
            for (; p < kp - 1; ++p) sum = sum + at[p * matrix];
            *target = sum + *target;
        }
}

}  // namespace

void gblock_by_k_omp(const BlasOpParams *op_in, MatDesc *a, MatDesc *b, MatDesc *c, ThreadOpts *opts,
                     SgemmKernelInfo *kinfo) {
    BlasOpParams op = *op_in;
    const int threads = opts->thread_count, t = opts->thread_index;
    const int64_t mp = opts->m_parts, np = opts->n_parts, kp = opts->k_parts;
    const int64_t m = c->rows, n = c->cols, k = a->cols;
    const int64_t kc = t / (mp * np), cell = t % (mp * np);
    const Share rows = leading_share(m, mp, cell % mp), cols = leading_share(n, np, cell / mp);
    const Share depth = balanced_share(k, kp, kc);
    auto *slot = static_cast<SyncSlot *>(opts->group_sync);
    const int64_t ldw = partial_ld(m);

    float *partials = nullptr;
    if (kp >= 2) {
        if (threads > 1) team_barrier(slot, t, threads);
        if (t == 0)
            opts->group_buffers->block = orb_serv_allocate(
                static_cast<size_t>(4 * (kp - 1) * ldw * n), kPartialAlignment);
        if (threads > 1) team_barrier(slot, t, threads);
        partials = static_cast<float *>(opts->group_buffers->block);
        if (orb_serv_check_ptr_and_warn(partials, "SGEMM")) {
            if (t == 0) kinfo->driver(&op, a, b, c, nullptr, kinfo);
            return;
        }
    }

    const MatDesc a_part = orb_sub_desc(*a, rows.start, depth.start, rows.size, depth.size);
    const MatDesc b_part = orb_sub_desc(*b, depth.start, cols.start, depth.size, cols.size);
    if (rows.size > 0 && cols.size > 0) {
        if (kc == 0) {
            MatDesc c_part = orb_sub_desc(*c, rows.start, cols.start, rows.size, cols.size);
            kinfo->driver(&op, &a_part, &b_part, &c_part, nullptr, kinfo);
        } else {
            MatDesc w = partial_desc(partials, ldw, n, kc, rows.size, cols.size, rows.start, cols.start);
            op.beta = 0.0f;
            kinfo->driver(&op, &a_part, &b_part, &w, nullptr, kinfo);
        }
    }
    if (kp < 2) return;

    if (threads > 1) team_barrier(slot, t, threads);
    const Share slice = balanced_share(cols.size, kp, kc);
    if (rows.size > 0 && slice.size > 0) {
        const int64_t col0 = cols.start + slice.start;
        reduce_slice(static_cast<float *>(c->data) + rows.start + col0 * c->ld, c->ld,
                     partials + rows.start + col0 * ldw, ldw, n, kp, rows.size, slice.size);
    }
    if (threads > 1) team_barrier(slot, t, threads);
    if (t == 0) orb_serv_deallocate(partials);
}
