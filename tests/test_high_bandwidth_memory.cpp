// The high-bandwidth memory path, on a scripted many-core processor with
// AVX512F, ER, PF and CD.  The real allocation library is not installed
// here: without it allocation must fall back to ordinary memory; with the
// test's stand-in library on LD_LIBRARY_PATH the probe, the version check,
// the page-size order, the wrapper header and the limit accounting show.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "orb_memory.h"
#include "service/feature_scan.h"
#include "service/memory_manager.h"
#include "support/child_process.h"

namespace {

const std::string kSimulated = "ORB_SIMULATE_CPU=file:" + test_data_path("cpus/ruzuv_avx512_mic.cpuid");
const std::string kStandIn = std::string("LD_LIBRARY_PATH=") + ORB_FAKE_HBW_DIR;
constexpr uint64_t kMiB = 1048576;

const char *state_name(HbwState s) {
    switch (s) {
    case HbwState::kNotProbed: return "not-probed";
    case HbwState::kNoCandidate: return "no-candidate";
    case HbwState::kLibraryMissing: return "missing";
    case HbwState::kLibraryTooOld: return "too-old";
    case HbwState::kAvailable: return "available";
    }
    return "?";
}

// The 32-byte wrapper header in front of a tracked block's system block.
const uint64_t *wrapper_of(const void *tracked) {
    return reinterpret_cast<const uint64_t *>(static_cast<const uint64_t *>(tracked)[-3]) - 4;
}

int stand_in_count(const char *name, int kind = 0) {
    void *fn = dlsym(RTLD_DEFAULT, name);
    if (fn == nullptr) return -1;
    return kind != 0 ? reinterpret_cast<int (*)(int)>(fn)(kind) : reinterpret_cast<int (*)()>(fn)();
}

}  // namespace

ORB_CHILD_ENTRY(hbw_probe) {
    void *pooled = orb_serv_allocate(5000, 64);
    orb_serv_deallocate(pooled);
    void *p = orb_serv_malloc(1000, 64);
    std::printf("features=%d state=%s set=%d unlimited=%d kind=%llu\n", orb_has_features(0x708000000),
                state_name(mm_high_bandwidth_state()), orb_serv_set_memory_limit(1, 16),
                orb_serv_check_fast_memory_size() == UINT64_MAX, static_cast<unsigned long long>(wrapper_of(p)[1]));
    orb_serv_free(p);
    return pooled != nullptr ? 0 : 1;
}

TEST(HighBandwidthMemory, MissingOrOldLibraryLeavesOrdinaryMemory) {
    ChildResult missing = run_child("hbw_probe", {kSimulated});
    EXPECT_EQ(missing.exit_code, 0);
    EXPECT_EQ(missing.out, "features=1 state=missing set=0 unlimited=1 kind=0\n") << missing.err;

    ChildResult old = run_child("hbw_probe", {kSimulated, kStandIn, "FAKE_HBW_VERSION=1000999"});
    EXPECT_EQ(old.out, "features=1 state=too-old set=0 unlimited=1 kind=0\n") << old.err;

    ChildResult plain = run_child("hbw_probe", {kSimulated, kStandIn, "RUZUV_ISA_DISABLE=avx512er"});
    EXPECT_EQ(plain.out, "features=0 state=no-candidate set=0 unlimited=1 kind=0\n") << plain.err;
}

ORB_CHILD_ENTRY(hbw_limits) {
    bool unlimited = orb_serv_check_fast_memory_size() == UINT64_MAX;
    int wrong_type = orb_serv_set_memory_limit(2, 8);
    int set = orb_serv_set_memory_limit(1, 8);
    int again = orb_serv_set_memory_limit(1, 100);
    uint64_t limit = orb_serv_check_fast_memory_size();
    std::printf("%s %d %d%d%d %llu\n", state_name(mm_high_bandwidth_state()), unlimited, wrong_type, set, again,
                static_cast<unsigned long long>(limit / kMiB));

    void *p = orb_serv_malloc(1000, 64);
    const uint64_t *w = wrapper_of(p);
    std::printf("kind=%llu size=%llu page=%llu own=%d used=%llu calls=%d,%d\n", static_cast<unsigned long long>(w[1]),
                static_cast<unsigned long long>(w[2]), static_cast<unsigned long long>(w[3]), w[0] == reinterpret_cast<uint64_t>(w),
                static_cast<unsigned long long>(limit - orb_serv_check_fast_memory_size()),
                stand_in_count("fake_hbw_calls", 2), stand_in_count("fake_hbw_calls", 1));
    orb_serv_free(p);

    void *big = orb_serv_malloc(9 * kMiB, 64);  // beyond the limit: ordinary memory
    std::printf("restored=%d frees=%d big=%llu\n", orb_serv_check_fast_memory_size() == limit,
                stand_in_count("fake_hbw_frees"), static_cast<unsigned long long>(wrapper_of(big)[1]));
    orb_serv_free(big);
    return 0;
}

TEST(HighBandwidthMemory, BlocksComeFromTheLibraryWithinTheLimit) {
    // 1000 bytes at alignment 64 make a 1088-byte tracked block, 1120 with the wrapper.
    ChildResult r = run_child("hbw_limits", {kSimulated, kStandIn});
    EXPECT_EQ(r.out,
              "available 1 011 8\n"
              "kind=1 size=1120 page=2097152 own=1 used=1120 calls=1,0\n"
              "restored=1 frees=1 big=0\n")
        << r.err;

    ChildResult small_pages = run_child("hbw_limits", {kSimulated, kStandIn, "FAKE_HBW_REFUSE_2M=1"});
    EXPECT_EQ(small_pages.out,
              "available 1 011 8\n"
              "kind=1 size=1120 page=4096 own=1 used=1120 calls=0,1\n"
              "restored=1 frees=1 big=0\n")
        << small_pages.err;
}

ORB_CHILD_ENTRY(hbw_env_limit) {
    uint64_t from_env = orb_serv_check_fast_memory_size();
    int set = orb_serv_set_memory_limit(1, 8);
    std::printf("%lld %d %lld\n", static_cast<long long>(from_env), set,
                static_cast<long long>(orb_serv_check_fast_memory_size()));
    return 0;
}

TEST(HighBandwidthMemory, EnvironmentLimitComesFirst) {
    EXPECT_EQ(run_child("hbw_env_limit", {kSimulated, kStandIn, "ORB_FAST_MEMORY_LIMIT=4"}).out,
              "4194304 1 4194304\n");
    EXPECT_EQ(run_child("hbw_env_limit", {kSimulated, kStandIn, "ORB_FAST_MEMORY_LIMIT=-3"}).out, "-1 1 8388608\n");
}
