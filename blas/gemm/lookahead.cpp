// lookahead.cpp - the parallel strategy with shared, double-buffered A
// blocks and a queue of tasks (omp_parallel_acopy_lookahead, copy method 2).
//
// The team is cut into P groups of g threads (g the plan's lookahead group
// size; thread t is member t mod g of group t div g).  C is cut into blocks
// of mc rows by nc columns and k into blocks of kc steps; the task of
// (row block i, k block l, column block j) has the number
// id = (i*kb + l)*nb + j, so that the nb tasks of one (i, l) share one
// packed A block.  A blocks are packed into two shared buffers that
// alternate (block b into buffer b mod 2), each in max(8, P) pieces that
// any group may take, so that the packing of the next block overlaps the
// multiplication with the current one; every group packs the B panel of its
// own task into its own copy.
//
// The queue lives in a record thread 0 allocates for the team.  Each group's
// leader claims work inside a named critical section, in this order of
// preference: a packing piece of the next A block (while fewer than
// max(8, P) pieces are out and that block is at most one block ahead of the
// oldest task still in progress), else the next compute task (when its A
// block is packed and it is less than one block ahead of the oldest), else
// nothing yet.  The leader publishes the task in the group's record; every
// member does its share (rows for A pieces and compute tasks, columns for B
// panels, in whole register blocks), and the members meet after each phase
// on a counter under the group's lock.  A compute task's first k block
// applies beta to C; the kernel accumulates.  The first A block is packed
// by the whole team before the queue opens.
//
// When any buffer cannot be had, thread 0 computes the whole product with
// the buffer-free product and the other threads return.
#include <omp.h>

#include <algorithm>
#include <atomic>

#include "blas/gemm/partitioned_driver.h"
#include "blas/kernels/dispatchers.h"
#include "orb_memory.h"
#include "orb_service.h"

namespace {

constexpr int32_t kDone = -999;      // task word and claim: the queue is exhausted
constexpr int32_t kNothingYet = -998;  // claim: try again; task word: no task handed out yet
constexpr int32_t kBetween = -997;   // task word: the group is between tasks
constexpr int32_t kPackA = -1;       // task kind: a piece of an A block
constexpr int kRecordAlignment = 128;
constexpr int kSpinsBeforeYield = 5000;
constexpr int64_t kPiecesAtLeast = 8;
constexpr int64_t kSharedRowsCap = 64;  // the shared B copy serves at most this many threads' mc

// One task as the leader publishes it to its group.
struct Task {
    int64_t kind;   // kPackA, or the compute id (the B panel is packed first)
    int64_t block;  // the A block: i*kb + l
    int64_t j;      // column block of a compute task
    int64_t piece;  // piece of a kPackA task
};

// A group's meeting place: one per group, on lines of their own.
struct alignas(kRecordAlignment) GroupRecord {
    int32_t size;                     // members
    volatile int lock;                // guards `finished` (orb_serv_lock)
    int32_t finished;                 // members done with the current phase
    std::atomic<int32_t> phases;      // phases the whole group has finished
    std::atomic<int32_t> word;        // the published task's sequence, kNothingYet, kBetween or kDone
    Task task;                        // the published task
    int32_t sequence;                 // tasks published so far
};

// The team's queue.
struct Queue {
    int64_t groups;                        // P
    int64_t m, n, k;                       // the product
    int64_t mc, nc, kc;                    // block sizes
    int64_t mb, nb, kb;                    // blocks along m, n and k
    int64_t tasks;                         // mb*nb*kb compute tasks
    int64_t next;                          // next compute id to hand out
    int64_t packed;                        // first compute id whose A block is not packed
    int64_t base;                          // oldest compute id that may still be in progress
    int64_t pieces_out, pieces_done;       // packing pieces of block packed/nb handed out, finished
    int64_t pieces;                        // max(8, P): pieces per A block
    GroupRecord *records;                  // one per group
    int64_t *claims;                       // each group's current claim (compute id, kPackA or kDone)
};

int64_t round_up(int64_t value, int64_t multiple) { return (value + multiple - 1) / multiple * multiple; }
int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

template <class Condition>
void spin_until(Condition condition) {
    for (int spins = 0; !condition();)
        if (++spins == kSpinsBeforeYield) {
            spins = 0;
            orb_serv_thread_yield();
        }
}

// The members of a group meet after a phase: each counts itself in under
// the group's lock; the last one in resets the count and opens the next
// phase, the others wait for it.  The leader then marks the group as
// between tasks.
void meet(GroupRecord &group, bool leader) {
    const int32_t phase = group.phases.load(std::memory_order_acquire);
    orb_serv_lock(&group.lock);
    const bool last = ++group.finished == group.size;
    if (last) group.finished = 0;
    orb_serv_unlock(&group.lock);
    if (last) group.phases.store(phase + 1, std::memory_order_release);
    else spin_until([&] { return group.phases.load(std::memory_order_acquire) != phase; });
    if (leader) group.word.store(kBetween, std::memory_order_release);
}

// What one member shares with the others: operands, records and buffers.
struct Shared {
    BlasOpParams op;         // the call (the member's copy)
    const MatDesc *a, *b, *c;  // the whole operands
    SgemmKernelInfo *kinfo;  // packers, scaler and block kernel
    SgemmBuffers *a_buffers; // the two A buffers (entries 0 and 1)
    SgemmBuffers *b_buffer;  // the team B buffer (entry 2)
    Queue *queue;
    int64_t b_copy_floats;   // floats between the groups' B copies
};

Share block_span(int64_t index, int64_t size, int64_t count) {
    const int64_t start = index * size;
    return start >= count ? Share{0, 0} : Share{start, std::min(size, count - start)};
}

// Member `member` of `members` takes its share of `count` items in whole units.
Share member_share(int64_t count, int64_t unit, int64_t member, int64_t members) {
    return block_span(member, round_up(ceil_div(count, members), unit), count);
}

// Rows [start, start + count) of A block `block`, packed into its buffer.
void pack_a_rows(const Shared &s, int64_t block, int64_t start, int64_t count) {
    const Queue &q = *s.queue;
    const Share rows = block_span(block / q.kb, q.mc, q.m), depth = block_span(block % q.kb, q.kc, q.k);
    if (count <= 0 || start >= rows.size) return;
    count = std::min(count, rows.size - start);
    const MatDesc part = orb_sub_desc(*s.a, rows.start + start, depth.start, count, depth.size);
    MatDesc packed = orb_panel_at(s.a_buffers[block % 2].a, depth.size, start);
    float zero = 0.0f;
    s.kinfo->pack_a(&part, &packed, &s.op.alpha, &zero);
}

// One member's share of one phase of a task.
void do_work(int64_t member, int64_t members, const Shared &s, int64_t group, const Task &task, bool pack_b_phase) {
    const Queue &q = *s.queue;
    const int64_t mr = s.kinfo->strategy.mr, nr = s.kinfo->strategy.nr;
    if (task.kind == kPackA) {
        const int64_t block_rows = block_span(task.block / q.kb, q.mc, q.m).size;
        const Share piece = member_share(block_rows, mr, task.piece, q.pieces);
        const Share mine = member_share(piece.size, mr, member, members);
        pack_a_rows(s, task.block, piece.start + mine.start, mine.size);
        return;
    }
    const Share rows = block_span(task.block / q.kb, q.mc, q.m), depth = block_span(task.block % q.kb, q.kc, q.k);
    const Share cols = block_span(task.j, q.nc, q.n);
    MatDesc b_copy = s.b_buffer->b;
    b_copy.data = static_cast<float *>(s.b_buffer->b.data) + group * s.b_copy_floats;
    if (pack_b_phase) {
        const Share mine = member_share(cols.size, nr, member, members);
        if (mine.size == 0) return;
        const MatDesc part = orb_sub_desc(*s.b, depth.start, cols.start + mine.start, depth.size, mine.size);
        MatDesc packed = orb_panel_at(b_copy, depth.size, mine.start);
        float one = 1.0f, zero = 0.0f;
        s.kinfo->pack_b(&part, &packed, &one, &zero);
        return;
    }
    const Share mine = member_share(rows.size, mr, member, members);
    if (mine.size == 0 || cols.size == 0) return;
    MatDesc c_part = orb_sub_desc(*s.c, rows.start + mine.start, cols.start, mine.size, cols.size);
    float beta = 1.0f;
    if (depth.start == 0) {
        if (s.op.beta == 0.0f) beta = 0.0f;  // the kernel stores without reading C
        else if (s.op.beta != 1.0f) s.kinfo->scale_c(&c_part, &s.op.beta);
    }
    const MatDesc packed_a = orb_panel_at(s.a_buffers[task.block % 2].a, depth.size, mine.start);
    const MatDesc packed_b = orb_panel_at(b_copy, depth.size, 0);
    const float one = 1.0f;
    s.kinfo->kernel(&one, &packed_a, &packed_b, &beta, &c_part, nullptr);
}

// A leader's claim, inside the critical section: the answer and the task.
int64_t claim(Queue &q, int64_t group, Task *task) {
    int64_t answer = kNothingYet;
    if (q.next == q.tasks) {
        answer = kDone;
    } else if (q.packed < q.tasks && q.pieces_out < q.pieces && q.packed - q.base <= q.nb) {
        *task = Task{kPackA, q.packed / q.nb, 0, q.pieces_out++};
        answer = kPackA;
    } else if (q.next - q.base < q.nb && q.next < q.packed) {
        *task = Task{q.next, q.next / q.nb, q.next % q.nb, 0};
        answer = q.next++;
    }
    if (answer != kNothingYet) q.claims[group] = answer;
    return answer;
}

// A leader's report of a finished task, inside the critical section.
void finish(Queue &q, int64_t group, const Task &task) {
    if (task.kind == kPackA) {
        if (++q.pieces_done == q.pieces) {
            q.packed += q.nb;
            q.pieces_out = q.pieces_done = 0;
        }
        return;
    }
    const int64_t finished = task.kind;
    q.claims[group] = kDone;
    int64_t oldest = -1;
    for (int64_t g = 0; g < q.groups; ++g)
        if (q.claims[g] >= 0 && (oldest < 0 || q.claims[g] < oldest)) oldest = q.claims[g];
    if (oldest < 0) q.base = finished + 1;
    else if (oldest > finished) q.base = oldest;
}

// Runs a published task in the group: the B panel, then the product, or one A piece.
void run_task(const Shared &s, int64_t group, int64_t member, int64_t members, const Task &task, GroupRecord &record,
              bool leader) {
    if (task.kind != kPackA) {
        do_work(member, members, s, group, task, true);
        meet(record, leader);
    }
    do_work(member, members, s, group, task, false);
    meet(record, leader);
}

}  // namespace

void omp_parallel_acopy_lookahead(const BlasOpParams *op, MatDesc *a, MatDesc *b, MatDesc *c, ThreadOpts *opts,
                                  SgemmKernelInfo *kinfo) {
    const int t = opts->thread_index, threads = opts->thread_count;
    const int64_t members = std::max(1, opts->lookahead_group_size), groups = threads / members;
    const int64_t group = t / members, member = t % members;
    auto *slot = static_cast<SyncSlot *>(opts->group_sync);
    SgemmBuffers *records = opts->group_buffers;  // entries 0, 1: A; entry 2: B
    int32_t &failed = opts->params->trailer->team_failed;
    const int64_t m = c->rows, n = c->cols, k = a->cols, depth = std::max(1, opts->lookahead_depth);

    if (t == 0) {
        for (int e = 0; e < 3; ++e) {
            SgemmBuffers &r = records[e];
            orb_blas_sgemm_initialize_buffers(a, b, &kinfo->strategy, &r);
            const int64_t shared_rows = std::min<int64_t>(threads, kSharedRowsCap) * r.mc;
            r.nc = std::max<int64_t>(round_up(r.nc / depth, kinfo->strategy.nr), kinfo->strategy.nr);
            if (e < 2) {
                r.mc = opts->lookahead_flag == 0 ? opts->lookahead_block : shared_rows;
                r.mc = std::min(r.mc, round_up(m, kinfo->strategy.mr));
                r.mode = kBuffersA;
            } else {
                r.mc = shared_rows;
                r.mode = kBuffersTeamB;
                r.team_count = static_cast<uint64_t>(groups);
            }
            r.get(&r);
            if (r.block == nullptr) {
                failed = 1;
                if (e == 2) orb_serv_check_ptr_and_warn(nullptr, "SGEMM");
            }
        }
        auto *queue = static_cast<Queue *>(orb_serv_allocate(sizeof(Queue), kRecordAlignment));
        auto *group_records =
            static_cast<GroupRecord *>(orb_serv_allocate(sizeof(GroupRecord) * groups, kRecordAlignment));
        auto *claims = static_cast<int64_t *>(orb_serv_allocate(sizeof(int64_t) * groups, kRecordAlignment));
        if (queue == nullptr || group_records == nullptr || claims == nullptr) {
            failed = 1;
        } else {
            const SgemmBuffers &r = records[0];
            *queue = Queue{groups, m, n, k, r.mc, r.nc, r.kc, ceil_div(m, r.mc), ceil_div(n, r.nc), ceil_div(k, r.kc),
                           0, 0, 0, 0, 0, 0, std::max(kPiecesAtLeast, groups), group_records, claims};
            queue->tasks = queue->mb * queue->nb * queue->kb;
            queue->packed = queue->nb;
            for (int64_t g = 0; g < groups; ++g) {
                GroupRecord *record = new (&group_records[g]) GroupRecord{};
                record->size = static_cast<int32_t>(members);
                record->word.store(kNothingYet);
                claims[g] = kDone;
            }
        }
        opts->params->lookahead_queue = failed ? nullptr : queue;
        if (failed) {
            orb_serv_deallocate(queue);
            orb_serv_deallocate(group_records);
            orb_serv_deallocate(claims);
        }
    }
    team_barrier(slot, t, threads);

    if (failed) {
        if (t == 0) {
            for (int e = 0; e < 3; ++e)
                if (records[e].block != nullptr) records[e].free(&records[e]);
            BlasOpParams own = *op;
            kinfo->fallback(&own, a, b, c);
        }
        return;
    }

    auto *queue = static_cast<Queue *>(opts->params->lookahead_queue);
    const SgemmBuffers &b_record = records[2];
    const Shared s{*op, a, b, c, kinfo, records, &records[2], queue,
                   static_cast<int64_t>((b_record.kc * b_record.nc * 4 + 8960) / 4)};

    // The first A block, by the whole team, before the queue opens.
    {
        const int64_t rows = block_span(0, queue->mc, m).size;
        const Share mine = member_share(rows, kinfo->strategy.mr, t, threads);
        pack_a_rows(s, 0, mine.start, mine.size);
    }
    team_barrier(slot, t, threads);

    GroupRecord &record = queue->records[group];
    const bool leader = member == 0;
    int32_t seen = 0;  // tasks of the group this member has done
    for (;;) {
        Task task;
        if (leader) {
            int64_t answer;
            do {
#pragma omp critical(orb_blas_sgemm_omp_acopy_la_cs)
                answer = claim(*queue, group, &task);
            } while (answer == kNothingYet);
            if (answer == kDone) {
                record.word.store(kDone);
                break;
            }
            record.task = task;
            record.sequence = ++seen;
            record.word.store(record.sequence, std::memory_order_release);
        } else {
            int32_t word;
            spin_until([&] {
                word = record.word.load(std::memory_order_acquire);
                return word == kDone || word == seen + 1;
            });
            if (word == kDone) break;
            task = record.task;
            ++seen;
        }
        run_task(s, group, member, members, task, record, leader);
        if (leader) {
#pragma omp critical(orb_blas_sgemm_omp_acopy_la_cs)
            finish(*queue, group, task);
        }
    }

    team_barrier(slot, t, threads);
    if (t == 0) {
        for (int e = 0; e < 3; ++e) records[e].free(&records[e]);
        orb_serv_deallocate(queue->records);
        orb_serv_deallocate(queue->claims);
        orb_serv_deallocate(queue);
    }
}
