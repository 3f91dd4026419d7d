// cache_sizes.cpp - the data-cache hierarchy as the blocking code sees it.
//
// With the reproducibility branch OFF the sizes are walked from CPUID;
// under any other branch fixed sizes stand in, so that blocking (and with it
// the order of operations) does not depend on the processor.
#include "orb_service.h"
#include "service/cpu_identity.h"

namespace {

constexpr int kMaxLevels = 4;
constexpr uint32_t kInstructionCache = 2;

// orb_cache_sizes: [0] the number of data-cache levels, [1..4] their sizes.
uint64_t orb_cache_sizes[1 + kMaxLevels];
volatile int orb_cache_sizes_read = 0;
volatile int g_cache_lock = 0;

void set_fixed(int levels, uint64_t l1, uint64_t l2, uint64_t l3) {
    const uint64_t sizes[1 + kMaxLevels] = {static_cast<uint64_t>(levels), l1, l2, l3, 0};
    for (int i = 0; i <= kMaxLevels; ++i) orb_cache_sizes[i] = sizes[i];
}

// Walks the deterministic cache parameters of one CPUID leaf; returns the
// number of data or unified levels found.
int walk_cache_leaf(uint32_t leaf) {
    uint64_t sizes[1 + kMaxLevels] = {0, 0, 0, 0, 0};
    int levels = 0;
    for (uint32_t subleaf = 0; levels < kMaxLevels; ++subleaf) {
        CpuidRegs r = orb_cpuid(leaf, subleaf);
        uint32_t type = r.eax & 0x1f;
        if (type == 0) break;
        if (type == kInstructionCache) continue;
        uint64_t ways = (r.ebx >> 22) & 0x3ff, partitions = (r.ebx >> 12) & 0x3ff, line = r.ebx & 0xfff;
        sizes[++levels] = (ways + 1) * (partitions + 1) * (line + 1) * (uint64_t{r.ecx} + 1);
    }
    sizes[0] = static_cast<uint64_t>(levels);
    for (int i = 0; i <= kMaxLevels; ++i) orb_cache_sizes[i] = sizes[i];
    return levels;
}

// Leaf 4 describes the caches.  Processors that leave it empty (AMD's)
// describe them in the same format in extended leaf 0x8000001D, which is
// read only when leaf 4 gives nothing and the processor lists that leaf.
void walk_cpuid_caches() {
    constexpr uint32_t kExtendedCacheLeaf = 0x8000001du;
    if (walk_cache_leaf(4) == 0 && orb_cpuid(0x80000000u, 0).eax >= kExtendedCacheLeaf)
        walk_cache_leaf(kExtendedCacheLeaf);
}

// Fills the record once.  The lock also covers the fixed sizes, so that
// racing first readers never see a half-written record.
void update_cache_sizes() {
    int branch = orb_serv_cbwr_get(1);
    bool large = branch >= ORB_CBWR_SSE4_2 || (branch == ORB_CBWR_AUTO && orb_serv_cpu_detect() >= 3);
    orb_serv_lock(&g_cache_lock);
    if (!orb_cache_sizes_read) {
        if (branch == ORB_CBWR_OFF) walk_cpuid_caches();
        else if (large) set_fixed(3, 32768, 262144, 4194304);
        else set_fixed(2, 32768, 262144, 0);
        __atomic_store_n(&orb_cache_sizes_read, 1, __ATOMIC_RELEASE);
    }
    orb_serv_unlock(&g_cache_lock);
}

void ensure_cache_sizes() {
    if (!__atomic_load_n(&orb_cache_sizes_read, __ATOMIC_ACQUIRE)) update_cache_sizes();
}

}  // namespace

extern "C" {

void orb_serv_cache_info(uint64_t out[5]) {
    ensure_cache_sizes();
    for (int i = 0; i <= kMaxLevels; ++i) out[i] = orb_cache_sizes[i];
}

int64_t orb_serv_get_cache_size(int level) {
    ensure_cache_sizes();
    int levels = static_cast<int>(orb_cache_sizes[0]);
    if (level < 0 || level > levels) return -1;
    return static_cast<int64_t>(orb_cache_sizes[level == 0 ? levels : level]);
}

}  // extern "C"
