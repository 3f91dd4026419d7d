// Tracked blocks and their headers, realloc and calloc, the usage
// statistics, executable memory and the core clean-up list.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "orb_memory.h"
#include "support/child_process.h"

namespace {

uint64_t address(const void *p) { return reinterpret_cast<uint64_t>(p); }

// The three header words before a tracked pointer.
struct Header {
    uint64_t start;
    uint64_t total;
    uint32_t alignment;
};

Header header_of(const void *p) {
    const auto *words = static_cast<const uint64_t *>(p);
    return {words[-3], words[-2], static_cast<uint32_t>(words[-1])};
}

int64_t bytes_held() {
    int count = 0;
    return orb_serv_mem_stat(&count);
}

}  // namespace

TEST(TrackedAllocator, HeaderDescribesAnAlignedBlockLargeEnough) {
    struct Case {
        int requested;     // alignment asked for
        uint64_t applied;  // alignment the header must record
    };
    for (Case c : {Case{0, 64}, Case{32, 64}, Case{96, 64}, Case{64, 64}, Case{256, 256}, Case{4096, 4096}}) {
        for (size_t size : {size_t{1}, size_t{1000}, size_t{65536}}) {
            void *p = orb_serv_malloc(size, c.requested);
            ASSERT_NE(p, nullptr);
            Header h = header_of(p);
            EXPECT_EQ(address(p) % c.applied, 0u);
            EXPECT_EQ(h.alignment, c.applied);
            EXPECT_EQ(h.total, size + c.applied + 24);
            EXPECT_GE(address(p) - h.start, 24u) << "room for the header";
            EXPECT_LE(address(p) + size, h.start + h.total);
            std::memset(p, 0x5a, size);
            orb_serv_free(p);
        }
    }
    EXPECT_EQ(orb_serv_malloc(0, 64), nullptr);
    orb_serv_free(nullptr);
    uint64_t zeros[4] = {0, 0, 0, 0};
    orb_serv_free(&zeros[3]);  // a header with a null start is ignored
}

TEST(TrackedAllocator, OwnSystemLayerPutsA32ByteWrapperHeaderInFront) {
    void *p = orb_serv_malloc(500, 64);
    Header h = header_of(p);
    const auto *wrapper = reinterpret_cast<const uint64_t *>(h.start) - 4;
    EXPECT_EQ(wrapper[0], address(wrapper)) << "start of the system block";
    EXPECT_EQ(wrapper[1], 0u) << "ordinary memory";
    EXPECT_EQ(wrapper[2], h.total + 32) << "size including the wrapper header";
    orb_serv_free(p);
}

TEST(TrackedAllocator, ReallocKeepsTheBlockWhileItFitsAndMovesThePayloadOtherwise) {
    int64_t before = bytes_held();
    auto *p = static_cast<unsigned char *>(orb_serv_malloc(100, 4096));
    Header h = header_of(p);
    uint64_t usable = h.total - (address(p) - h.start);
    EXPECT_EQ(orb_serv_realloc(p, usable), p);
    for (int i = 0; i < 100; ++i) p[i] = static_cast<unsigned char>(i * 7);

    auto *q = static_cast<unsigned char *>(orb_serv_realloc(p, 1 << 20));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(address(q) % 4096, 0u) << "the alignment is kept";
    EXPECT_EQ(header_of(q).total, (1u << 20) + 4096 + 24);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(q[i], static_cast<unsigned char>(i * 7)) << i;
    EXPECT_EQ(bytes_held() - before, (1 << 20) + 4096 + 24);
    orb_serv_free(q);

    void *fresh = orb_serv_realloc(nullptr, 300);
    EXPECT_EQ(header_of(fresh).alignment, 64u);
    orb_serv_free(fresh);
    EXPECT_EQ(bytes_held(), before);
}

TEST(TrackedAllocator, CallocZeroFillsAndRefusesOverflow) {
    void *dirty = orb_serv_malloc(4000, 64);
    std::memset(dirty, 0xff, 4000);
    orb_serv_free(dirty);
    auto *p = static_cast<unsigned char *>(orb_serv_calloc(1000, 4, 64));
    ASSERT_NE(p, nullptr);
    int nonzero = 0;
    for (int i = 0; i < 4000; ++i) nonzero += p[i] != 0;
    EXPECT_EQ(nonzero, 0);
    orb_serv_free(p);
    EXPECT_EQ(orb_serv_calloc(SIZE_MAX / 2, 4, 64), nullptr);
}

ORB_CHILD_ENTRY(peak_usage) {
    std::printf("%lld %lld %lld\n", static_cast<long long>(orb_serv_peak_mem_usage(2)),
                static_cast<long long>(orb_serv_peak_mem_usage(-1)), static_cast<long long>(orb_serv_peak_mem_usage(7)));
    std::printf("%lld\n", static_cast<long long>(orb_serv_peak_mem_usage(1)));
    const int64_t block = (1 << 20) + 64 + 24;
    void *a = orb_serv_malloc(1 << 20, 64);
    void *b = orb_serv_malloc(1 << 20, 64);
    orb_serv_free(a);
    void *pooled = orb_serv_allocate(1000, 64);  // pooled slots count too: 1064
    std::printf("%lld\n", static_cast<long long>(orb_serv_peak_mem_usage(2) - 2 * block));
    std::printf("%lld\n", static_cast<long long>(orb_serv_peak_mem_usage(-1) - 2 * block));
    std::printf("%lld\n", static_cast<long long>(orb_serv_peak_mem_usage(2) - block));
    orb_serv_free(b);
    orb_serv_deallocate(pooled);
    ORB_FREE_BUFFERS();
    orb_serv_peak_mem_usage(-1);
    std::printf("%lld\n", static_cast<long long>(orb_serv_peak_mem_usage(2)));
    std::printf("%lld %lld\n", static_cast<long long>(orb_serv_peak_mem_usage(0)),
                static_cast<long long>(orb_serv_peak_mem_usage(2)));
    return 0;
}

TEST(MemoryStatistics, PeakModes) {
    ChildResult r = run_child("peak_usage");
    EXPECT_EQ(r.out,
              "-1 -1 -1\n"  // off: modes 2 and -1 answer -1, unknown modes always
              "0\n"         // mode 1 switches on
              "0\n"         // peak: two blocks at once
              "0\n"         // mode -1 answers the peak ...
              "1064\n"      // ... and resets it to the current bytes: one block and the slot
              "0\n"         // everything given back
              "0 -1\n")
        << r.err;
    EXPECT_EQ(orb_serv_mem_stat(nullptr), 0);
}

TEST(ExecutableMemory, MapWriteExecuteAndUnmap) {
    int64_t before = bytes_held();
    EXPECT_EQ(orb_serv_jit_alloc(0), nullptr);
    void *code = orb_serv_jit_alloc(100);
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(address(code) % 4096, 0u);
    EXPECT_EQ(bytes_held() - before, 4096);
    const unsigned char return_42[] = {0xb8, 0x2a, 0x00, 0x00, 0x00, 0xc3};  // mov eax, 42; ret
    std::memcpy(code, return_42, sizeof return_42);
    ASSERT_EQ(orb_serv_jit_set_exec(code, 100, 1), 1);
    EXPECT_EQ(reinterpret_cast<int (*)()>(code)(), 42);
    EXPECT_EQ(orb_serv_jit_set_exec(code, 100, 0), 1);
    static_cast<unsigned char *>(code)[1] = 7;  // writable again
    EXPECT_EQ(orb_serv_jit_set_exec(static_cast<char *>(code) + 1, 10, 1), 0) << "not page aligned";
    orb_serv_jit_free(code, 100);
    EXPECT_EQ(bytes_held(), before);
}

namespace {
std::string cleanup_trace;
int exit_code_seen = -1;
void note(void *argument) { cleanup_trace += static_cast<const char *>(argument); }
void note_exit(int code) { exit_code_seen = code; }
}  // namespace

ORB_CHILD_ENTRY(cleanup_order) {
    static const char *names[] = {"a", "b", "c"};
    for (const char *n : names) orb_serv_core_register_cleanup(note, const_cast<char *>(n));
    orb_serv_core_cleanup();
    orb_serv_core_cleanup();  // nothing left
    std::printf("%s\n", cleanup_trace.c_str());
    return 0;
}

ORB_CHILD_ENTRY(cleanup_overflow) {
    orb_serv_set_exit_handler(note_exit);
    static char dot[] = ".";
    for (int i = 0; i < 32; ++i) orb_serv_core_register_cleanup(note, dot);
    std::printf("%d ", exit_code_seen);
    static char extra[] = "X";
    orb_serv_core_register_cleanup(note, extra);
    orb_serv_core_cleanup();
    std::printf("%d %zu %d\n", exit_code_seen, cleanup_trace.size(), cleanup_trace.find('X') == std::string::npos);
    return 0;
}

ORB_CHILD_ENTRY(cleanup_deletes_keys) {
    orb_serv_deallocate(orb_serv_allocate(100, 64));
    orb_serv_core_cleanup();  // deletes the pool's thread keys
    void *p = orb_serv_allocate(100, 64);
    orb_serv_deallocate(p);
    void *q = orb_serv_allocate(100, 64);
    orb_serv_deallocate(q);
    ORB_FREE_BUFFERS();
    int count = -1;
    int64_t bytes = orb_serv_mem_stat(&count);
    std::printf("%d %lld %d\n", p == q, static_cast<long long>(bytes), count);
    return 0;
}

TEST(CoreCleanup, RunsLastRegisteredFirstAndEndsTheProcessOnOverflow) {
    EXPECT_EQ(run_child("cleanup_order").out, "cba\n");
    EXPECT_EQ(run_child("cleanup_overflow").out, "-1 3 32 1\n");
    EXPECT_EQ(run_child("cleanup_deletes_keys").out, "1 0 0\n");
}
