// The buffer pool: reuse, best fit, recycling, the sixth buffer, alignment,
// release from other threads, thread exit, epochs and the system hooks.
//
// Expected sizes follow the pool's rules: a slot holds size + alignment
// bytes (alignment at least 64), a tracked block size + alignment + 24.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "orb_memory.h"
#include "service/memory_manager.h"
#include "support/child_process.h"

namespace {

struct Usage {
    int64_t bytes;
    int count;
};

Usage usage() {
    int count = -1;
    int64_t bytes = orb_serv_mem_stat(&count);
    return {bytes, count};
}

// The change of usage since a baseline, as {bytes, count}.
Usage since(const Usage &base) {
    Usage now = usage();
    return {now.bytes - base.bytes, now.count - base.count};
}

uint64_t address(const void *p) { return reinterpret_cast<uint64_t>(p); }

class BufferPool : public ::testing::Test {
  protected:
    void SetUp() override {
        ORB_FREE_BUFFERS();
        base = usage();
    }
    void TearDown() override {
        ORB_FREE_BUFFERS();
        Usage delta = since(base);
        EXPECT_EQ(delta.bytes, 0) << "test left memory behind";
        EXPECT_EQ(delta.count, 0);
    }
    Usage base{};
};

}  // namespace

TEST_F(BufferPool, SameSizeComesBackAsTheSameBufferCountedOnce) {
    void *p = orb_serv_allocate(1000, 64);
    ASSERT_NE(p, nullptr);
    orb_serv_deallocate(p);
    void *q = orb_serv_allocate(1000, 64);
    EXPECT_EQ(q, p);
    Usage delta = since(base);
    EXPECT_EQ(delta.count, 1);
    EXPECT_EQ(delta.bytes, 1000 + 64);
    orb_serv_deallocate(q);
    EXPECT_EQ(orb_serv_allocate(0, 64), nullptr);
    orb_serv_deallocate(nullptr);
}

TEST_F(BufferPool, BestFitAmongFreeSlotsAndRecyclingOfTooSmallOnes) {
    void *small = orb_serv_allocate(1000, 64);
    void *large = orb_serv_allocate(5000, 64);
    void *middle = orb_serv_allocate(3000, 64);
    for (void *p : {small, large, middle}) orb_serv_deallocate(p);

    void *a = orb_serv_allocate(2000, 64);  // the 3064-byte slot fits best
    EXPECT_EQ(a, middle);
    void *b = orb_serv_allocate(2000, 64);  // then the 5064-byte one
    EXPECT_EQ(b, large);
    orb_serv_deallocate(a);
    orb_serv_deallocate(b);

    // While the three slots are out, two more are filled; then all five are
    // free and too small for 8000 bytes: the first (1064 bytes) is recycled.
    std::vector<void *> out;
    for (size_t size : {1000, 3000, 5000, 100, 100}) out.push_back(orb_serv_allocate(size, 64));
    EXPECT_EQ(out[0], small) << "exact fit";
    for (void *p : out) orb_serv_deallocate(p);
    Usage before = since(base);
    EXPECT_EQ(before.count, 5);
    EXPECT_EQ(before.bytes, 1064 + 5064 + 3064 + 164 + 164);
    void *big = orb_serv_allocate(8000, 64);
    ASSERT_NE(big, nullptr);
    Usage after = since(base);
    EXPECT_EQ(after.count, 5);
    EXPECT_EQ(after.bytes, before.bytes - 1064 + 8064);
    orb_serv_deallocate(big);
}

TEST_F(BufferPool, SixthBufferIsTrackedAndReleasedThroughTheSameCall) {
    std::vector<void *> held;
    for (int i = 0; i < 5; ++i) held.push_back(orb_serv_allocate(4096, 64));
    void *sixth = orb_serv_allocate(4096, 64);
    ASSERT_NE(sixth, nullptr);
    for (void *p : held) EXPECT_NE(p, sixth);
    const auto *header = static_cast<const uint64_t *>(sixth);
    EXPECT_EQ(header[-2], 4096u + 64 + 24) << "a tracked block carries its size";
    Usage with_sixth = since(base);
    EXPECT_EQ(with_sixth.count, 6);
    EXPECT_EQ(with_sixth.bytes, 5 * (4096 + 64) + (4096 + 64 + 24));

    orb_serv_deallocate(sixth);
    Usage without = since(base);
    EXPECT_EQ(without.count, 5);
    EXPECT_EQ(without.bytes, 5 * (4096 + 64));
    for (void *p : held) orb_serv_deallocate(p);
}

TEST_F(BufferPool, RequestsAbove128MiBBypassThePool) {
    const size_t cutoff = size_t{128} << 20;
    void *largest = orb_serv_allocate(cutoff, 64);  // the largest pooled size
    ASSERT_NE(largest, nullptr);
    EXPECT_EQ(since(base).bytes, static_cast<int64_t>(cutoff + 64));
    void *beyond = orb_serv_allocate(cutoff + 1, 64);
    ASSERT_NE(beyond, nullptr);
    EXPECT_EQ(static_cast<const uint64_t *>(beyond)[-2], cutoff + 1 + 64 + 24) << "a tracked block";
    orb_serv_deallocate(beyond);
    orb_serv_deallocate(largest);
    EXPECT_EQ(since(base).bytes, static_cast<int64_t>(cutoff + 64)) << "only the pooled one stays";
}

TEST_F(BufferPool, AlignmentsBelowOrNotPowersOfTwoBecome64) {
    struct Case {
        int requested;     // alignment asked for
        uint64_t applied;  // alignment the pool must use
    };
    for (Case c : {Case{32, 64}, Case{96, 64}, Case{0, 64}, Case{-8, 64}, Case{128, 128}, Case{4096, 4096}}) {
        Usage before = usage();
        void *p = orb_serv_allocate(100, c.requested);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(address(p) % c.applied, 0u) << c.requested;
        EXPECT_EQ(since(before).bytes, static_cast<int64_t>(100 + c.applied)) << c.requested;
        orb_serv_deallocate(p);
        ORB_FREE_BUFFERS();
    }
}

TEST_F(BufferPool, BufferReleasedOnAnotherThreadReturnsToItsOwner) {
    void *p = orb_serv_allocate(20000, 64);
    ASSERT_NE(p, nullptr);
    std::thread([p] { orb_serv_deallocate(p); }).join();
    EXPECT_EQ(orb_serv_allocate(20000, 64), p);
    EXPECT_EQ(since(base).count, 1);

    // The same the other way round: a worker's buffer released here.
    void *worker_buffer = nullptr;
    std::thread([&] {
        worker_buffer = orb_serv_allocate(3000, 64);
        orb_serv_deallocate(orb_serv_allocate(100, 64));  // an idle slot, freed at exit
    }).join();
    Usage retired = since(base);
    EXPECT_EQ(retired.count, 2) << "the exited worker's buffer in use stays counted";
    EXPECT_EQ(retired.bytes, 20064 + 3064);
    orb_serv_deallocate(worker_buffer);
    EXPECT_EQ(since(base).count, 1) << "the last release frees the retired pool";
    orb_serv_deallocate(p);
}

TEST_F(BufferPool, ThreadExitFreesIdlePoolAndMovesTrackedBlocksToTheTotals) {
    void *tracked = nullptr;
    std::thread([&] {
        orb_serv_deallocate(orb_serv_allocate(5000, 64));
        tracked = orb_serv_malloc(777, 64);
    }).join();
    Usage left = since(base);
    EXPECT_EQ(left.count, 1) << "the idle buffer went at exit, the tracked block stays";
    EXPECT_EQ(left.bytes, 777 + 64 + 24);
    orb_serv_free(tracked);
    EXPECT_EQ(since(base).count, 0);
}

TEST_F(BufferPool, ReleasingEverythingStartsANewEpoch) {
    uint32_t epoch = mm_current_epoch();
    void *p = orb_serv_allocate(100, 64);
    MmThreadIdentity first = mm_thread_identity();
    EXPECT_EQ(first.epoch, epoch);
    EXPECT_GE(first.number, 1u);

    ORB_FREE_BUFFERS();  // p is out: nothing starts over
    EXPECT_EQ(mm_current_epoch(), epoch);
    orb_serv_deallocate(p);
    ORB_Free_Buffers();
    EXPECT_EQ(mm_current_epoch(), epoch + 1);
    EXPECT_EQ(since(base).count, 0);

    orb_serv_deallocate(orb_serv_allocate(100, 64));
    MmThreadIdentity second = mm_thread_identity();
    EXPECT_EQ(second.epoch, epoch + 1);
    EXPECT_EQ(second.number, 1u) << "the first number drawn in the new epoch";
}

TEST_F(BufferPool, ThreadFreeBuffersKeepsBuffersInUse) {
    void *kept = orb_serv_allocate(1000, 64);
    orb_serv_deallocate(orb_serv_allocate(2000, 64));
    orb_serv_thread_free_buffers();
    Usage delta = since(base);
    EXPECT_EQ(delta.count, 1);
    EXPECT_EQ(delta.bytes, 1064);
    orb_serv_deallocate(kept);
    orb_free_buffers_();
}

// --- settings and system hooks, each in a fresh process ----------------------

ORB_CHILD_ENTRY(pool_turned_off) {
    if (orb_serv_get_fast_mm_status() != 1) return 10;
    void *p = orb_serv_allocate(1000, 64);
    orb_serv_deallocate(p);
    void *q = orb_serv_allocate(1000, 64);
    void *r = orb_serv_allocate(1000, 64);
    Usage u = usage();
    std::printf("%d %lld %d\n", q != r, static_cast<long long>(u.bytes), u.count);
    orb_serv_deallocate(q);
    orb_serv_deallocate(r);
    u = usage();
    std::printf("%lld %d\n", static_cast<long long>(u.bytes), u.count);
    return 0;
}

TEST(BufferPoolSettings, DisabledPoolMakesEveryBufferTracked) {
    ChildResult r = run_child("pool_turned_off", {"ORB_DISABLE_FAST_MM=1"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "1 2176 2\n0 0\n");  // 2 x (1000 + 64 + 24), released at once
}

ORB_CHILD_ENTRY(disable_by_call) {
    int early = orb_serv_disable_fast_mm();
    std::printf("%d %d %d\n", early, orb_serv_get_fast_mm_status(), orb_serv_disable_fast_mm());
    return 0;
}

ORB_CHILD_ENTRY(disable_too_late) {
    orb_serv_deallocate(orb_serv_allocate(100, 64));
    std::printf("%d %d\n", orb_serv_disable_fast_mm(), orb_serv_get_fast_mm_status());
    return 0;
}

TEST(BufferPoolSettings, DisablingByCallWorksOnlyBeforeTheFirstUse) {
    EXPECT_EQ(run_child("disable_by_call").out, "1 1 0\n");
    EXPECT_EQ(run_child("disable_too_late").out, "0 0\n");
    // An empty value leaves the pool on.
    EXPECT_EQ(run_child("disable_too_late", {"ORB_DISABLE_FAST_MM="}).out, "0 0\n");
}

namespace {
int hook_mallocs, hook_frees;
std::vector<size_t> hook_sizes;
void *counting_malloc(size_t size) {
    ++hook_mallocs;
    hook_sizes.push_back(size);
    return std::malloc(size);
}
void counting_free(void *p) {
    if (p != nullptr) ++hook_frees;
    std::free(p);
}
void *failing_malloc(size_t) { return nullptr; }
}  // namespace

ORB_CHILD_ENTRY(application_hooks) {
    i_malloc = counting_malloc;
    i_free = counting_free;
    void *p = orb_serv_allocate(1000, 64);
    bool asked_for_slot = false;
    for (size_t s : hook_sizes) asked_for_slot |= s == 1064;  // no 32-byte wrapper header
    orb_serv_deallocate(p);
    ORB_FREE_BUFFERS();
    std::printf("%d %d\n", asked_for_slot, hook_mallocs > 0 && hook_mallocs == hook_frees);
    return 0;
}

ORB_CHILD_ENTRY(failing_hook) {
    i_malloc = failing_malloc;
    bool all_null = orb_serv_allocate(1000, 64) == nullptr && orb_serv_malloc(1000, 64) == nullptr &&
                    orb_serv_calloc(10, 10, 64) == nullptr;
    return all_null ? 0 : 1;
}

TEST(BufferPoolSettings, ApplicationAllocatorIsUsedWhenSetBeforeFirstUse) {
    ChildResult r = run_child("application_hooks");
    EXPECT_EQ(r.out, "1 1\n") << r.err;
}

TEST(BufferPoolSettings, FailingAllocatorGivesNullAndSaysNothing) {
    ChildResult r = run_child("failing_hook");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}
