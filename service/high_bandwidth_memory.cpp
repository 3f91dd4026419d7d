// high_bandwidth_memory.cpp - the optional high-bandwidth memory.
//
// Processors with the many-core AVX-512 extensions (AVX512F, ER, PF and CD)
// may carry on-package high-bandwidth memory, reached through a separate
// allocation library that the manager loads at run time when it finds such
// a processor.  The library must be version 1.1.0 or later; a missing or
// older library leaves the ordinary allocator in use.  While the library is
// in use, the manager's own system layer asks it first for every block:
// with 2 MiB pages, then with 4 KiB pages, then falls back to ordinary
// memory.  A limit in bytes ("ORB_FAST_MEMORY_LIMIT", or
// orb_serv_set_memory_limit) caps the high-bandwidth memory in use: a block
// of it lowers the limit by its size and raises it again when given back.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>

#include "orb_memory.h"
#include "service/feature_scan.h"
#include "service/memory_manager.h"

// The verbose mode lives in the BLAS interface layer.  Until that layer
// provides it, this hidden weak reference resolves to null when the library
// is linked and the mode counts as off; being hidden, it is never bound to a
// name from outside the library.
extern "C" __attribute__((weak, visibility("hidden"))) int *orb_serv_verbose_mode(void);

namespace {

// AVX512F, AVX512ER, AVX512PF and AVX512CD in the low feature word.
constexpr uint64_t kHighBandwidthFeatures = 0x708000000;

// The library, and the first version that is good enough (1.1.0 as
// major * 1000000 + minor * 1000 + patch must exceed 1000999).
constexpr char kLibraryName[] = "libmemkind.so";
constexpr int kNewestTooOldVersion = 1000999;

// Page kinds of the library's aligned allocation.
constexpr int kPageKind4K = 1;
constexpr int kPageKind2M = 2;
constexpr uint64_t kPage4K = 4096;
constexpr uint64_t kPage2M = 2097152;

constexpr uint64_t kUnlimited = ~uint64_t{0};
constexpr uint64_t kMiB = 1048576;

using VersionFn = int (*)();
using AlignedAllocFn = int (*)(void **block, size_t alignment, size_t size, int page_kind);
using FreeFn = void (*)(void *block);

// The loaded library and what the probe found.
struct HbwLibrary {
    void *handle;                  // the library, while in use
    AlignedAllocFn aligned_alloc;  // its aligned allocation with a page kind
    FreeFn release;                // gives one of its blocks back
    std::atomic<HbwState> state;   // outcome of the probe
};

HbwLibrary hbw = {nullptr, nullptr, nullptr, {HbwState::kNotProbed}};

// Bytes of high-bandwidth memory still allowed; kUnlimited initially.
std::atomic<uint64_t> mm_fast_memory_limit{kUnlimited};
volatile int mm_fast_memory_update_limit_lock = 0;

// The directory libraries are loaded from; none is configured.
constexpr const char *kLibraryDirectory = "";

// Loads name from the configured directory; a name with a "/" is refused.
void *load_library(const char *name) {
    for (const char *c = name; *c; ++c)
        if (*c == '/') return nullptr;
    char path[4096];
    if (orb_serv_snprintf_s(path, sizeof path, sizeof path - 1, "%s%s", kLibraryDirectory, name) < 0)
        return nullptr;
    return dlopen(path, RTLD_LAZY | RTLD_GLOBAL);
}

bool libc_is_dynamic() {
    Dl_info info{};
    return dladdr(reinterpret_cast<void *>(&printf), &info) != 0;
}

bool verbose_mode_on() {
    if (orb_serv_verbose_mode == nullptr) return false;
    const int *mode = orb_serv_verbose_mode();
    return mode != nullptr && *mode > 0;
}

// Takes the library's functions when its version is good enough.
HbwState adopt_library(void *handle) {
    auto version = reinterpret_cast<VersionFn>(dlsym(handle, "memkind_get_version"));
    auto aligned_alloc = reinterpret_cast<AlignedAllocFn>(dlsym(handle, "hbw_posix_memalign_psize"));
    auto release = reinterpret_cast<FreeFn>(dlsym(handle, "hbw_free"));
    if (version != nullptr && aligned_alloc != nullptr && release != nullptr &&
        version() > kNewestTooOldVersion) {
        hbw.handle = handle;
        hbw.aligned_alloc = aligned_alloc;
        hbw.release = release;
        return HbwState::kAvailable;
    }
    if (verbose_mode_on())
        orb_serv_format_print(0, "%s\n", 1, "Minimal supported version of the memkind library is 1.1.0");
    dlclose(handle);
    return HbwState::kLibraryTooOld;
}

bool limit_allows(uint64_t limit, size_t size) { return limit == kUnlimited || (limit != 0 && limit > size); }

// Asks the library for size bytes: 2 MiB pages first, then 4 KiB pages.
void *try_library(size_t size, uint64_t *page_size) {
    void *block = nullptr;
    if (hbw.aligned_alloc(&block, kPage2M, size, kPageKind2M) == 0 && block != nullptr) {
        *page_size = kPage2M;
        return block;
    }
    block = nullptr;
    if (hbw.aligned_alloc(&block, kPage4K, size, kPageKind4K) == 0 && block != nullptr) {
        *page_size = kPage4K;
        return block;
    }
    return nullptr;
}

}  // namespace

void mm_probe_high_bandwidth() {
    HbwState state = HbwState::kNoCandidate;
    if (orb_has_features(kHighBandwidthFeatures) && libc_is_dynamic()) {
        void *handle = load_library(kLibraryName);
        if (handle == nullptr) handle = dlopen(kLibraryName, RTLD_LAZY | RTLD_GLOBAL);
        state = handle != nullptr ? adopt_library(handle) : HbwState::kLibraryMissing;
    }
    hbw.state.store(state, std::memory_order_release);
}

HbwState mm_high_bandwidth_state() { return hbw.state.load(std::memory_order_acquire); }

void mm_set_fast_memory_limit_bytes(uint64_t bytes) { mm_fast_memory_limit.store(bytes, std::memory_order_relaxed); }

void *mm_hbw_allocate(size_t size, uint64_t *page_size) {
    if (mm_high_bandwidth_state() != HbwState::kAvailable) return nullptr;
    if (mm_fast_memory_limit.load(std::memory_order_relaxed) == kUnlimited) return try_library(size, page_size);

    orb_serv_lock(&mm_fast_memory_update_limit_lock);
    uint64_t limit = mm_fast_memory_limit.load(std::memory_order_relaxed);
    void *block = limit_allows(limit, size) ? try_library(size, page_size) : nullptr;
    if (block != nullptr && limit != kUnlimited) mm_fast_memory_limit.store(limit - size, std::memory_order_relaxed);
    orb_serv_unlock(&mm_fast_memory_update_limit_lock);
    return block;
}

void mm_hbw_free(void *block, size_t size) {
    hbw.release(block);
    if (mm_fast_memory_limit.load(std::memory_order_relaxed) == kUnlimited) return;
    orb_serv_lock(&mm_fast_memory_update_limit_lock);
    uint64_t limit = mm_fast_memory_limit.load(std::memory_order_relaxed);
    if (limit != kUnlimited) mm_fast_memory_limit.store(limit + size, std::memory_order_relaxed);
    orb_serv_unlock(&mm_fast_memory_update_limit_lock);
}

extern "C" {

// A negative limit, like a negative ORB_FAST_MEMORY_LIMIT, means unlimited.
int orb_serv_set_memory_limit(int type, int64_t limit_mib) {
    mm_init();
    if (type != 1 || mm_high_bandwidth_state() != HbwState::kAvailable) return 0;
    orb_serv_lock(&mm_fast_memory_update_limit_lock);
    if (mm_fast_memory_limit.load(std::memory_order_relaxed) == kUnlimited && limit_mib >= 0)
        mm_fast_memory_limit.store(static_cast<uint64_t>(limit_mib) * kMiB, std::memory_order_relaxed);
    orb_serv_unlock(&mm_fast_memory_update_limit_lock);
    return 1;
}

uint64_t orb_serv_check_fast_memory_size(void) {
    mm_init();
    return mm_fast_memory_limit.load(std::memory_order_relaxed);
}

}  // extern "C"
