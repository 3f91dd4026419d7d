// memory_system_layer.cpp - where the memory manager gets its memory from.
//
// The manager obtains every block through one system layer, chosen once
// when it is initialised.  An application may replace the four exported
// hooks i_malloc, i_calloc, i_realloc and i_free before that; if it has
// replaced any of them, the layer is the application's i_malloc, i_realloc
// and i_free.  Otherwise the layer is the manager's own wrappers, which put a
// 32-byte header in front of every block so that a block of high-bandwidth
// memory can be told from an ordinary one when it is given back:
//
//   word 0  start address of the system block
//   word 1  kind: 1 high-bandwidth memory, 0 ordinary memory
//   word 2  size obtained, header included
//   word 3  page size of a high-bandwidth block (2 MiB or 4 KiB), 0 otherwise
//
// Initialisation reads the environment settings, probes for high-bandwidth
// memory and chooses the layer, in that order.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "orb_memory.h"
#include "service/memory_manager.h"

extern "C" {
orb_malloc_fn i_malloc = std::malloc;
orb_calloc_fn i_calloc = std::calloc;
orb_realloc_fn i_realloc = std::realloc;
orb_free_fn i_free = std::free;
}

namespace {

// The wrapper header in front of every block of the manager's own layer.
struct WrapperHeader {
    uint64_t start;      // start address of the system block
    uint64_t kind;       // kHighBandwidth or kOrdinary
    uint64_t size;       // size obtained, header included
    uint64_t page_size;  // page size of a high-bandwidth block, 0 otherwise
};
static_assert(sizeof(WrapperHeader) == 32, "wrapper header layout");

constexpr uint64_t kOrdinary = 0;
constexpr uint64_t kHighBandwidth = 1;

WrapperHeader *header_of(void *block) { return static_cast<WrapperHeader *>(block) - 1; }

void *mm_internal_malloc(size_t size) {
    if (size > SIZE_MAX - sizeof(WrapperHeader)) return nullptr;
    size_t total = size + sizeof(WrapperHeader);
    uint64_t page_size = 0;
    void *start = mm_hbw_allocate(total, &page_size);
    uint64_t kind = start != nullptr ? kHighBandwidth : kOrdinary;
    if (start == nullptr) start = std::malloc(total);
    if (start == nullptr) return nullptr;
    auto *header = static_cast<WrapperHeader *>(start);
    *header = WrapperHeader{reinterpret_cast<uint64_t>(start), kind, total, page_size};
    return header + 1;
}

void mm_internal_free(void *block) {
    if (block == nullptr) return;
    WrapperHeader header = *header_of(block);
    void *start = reinterpret_cast<void *>(header.start);
    if (header.kind == kHighBandwidth) mm_hbw_free(start, header.size);
    else std::free(start);
}

// Always moves the block: a new block, the common payload copied, the old freed.
void *mm_internal_realloc(void *block, size_t size) {
    if (block == nullptr) return mm_internal_malloc(size);
    if (size == 0) {
        mm_internal_free(block);
        return nullptr;
    }
    void *moved = mm_internal_malloc(size);
    if (moved == nullptr) return nullptr;
    size_t old_payload = header_of(block)->size - sizeof(WrapperHeader);
    std::memcpy(moved, block, old_payload < size ? old_payload : size);
    mm_internal_free(block);
    return moved;
}

// The three functions of the chosen system layer.
struct SystemLayer {
    void *(*allocate)(size_t);            // obtains a block
    void *(*reallocate)(void *, size_t);  // resizes a block
    void (*deallocate)(void *);           // gives a block back
};

SystemLayer system_layer = {mm_internal_malloc, mm_internal_realloc, mm_internal_free};

// 1 once mm_init has finished; guarded by mm_init_lock on the way.
std::atomic<int> mm_initialized{0};
volatile int mm_init_lock = 0;

bool hooks_are_untouched() {
    return i_malloc == std::malloc && i_calloc == std::calloc && i_realloc == std::realloc &&
           i_free == std::free;
}

}  // namespace

void mm_init() {
    if (mm_initialized.load(std::memory_order_acquire)) return;
    orb_serv_lock(&mm_init_lock);
    if (!mm_initialized.load(std::memory_order_relaxed)) {
        mm_read_settings();
        mm_probe_high_bandwidth();
        if (!hooks_are_untouched()) system_layer = SystemLayer{i_malloc, i_realloc, i_free};
        mm_initialized.store(1, std::memory_order_release);
    }
    orb_serv_unlock(&mm_init_lock);
}

void *mm_sys_alloc(size_t size) { return system_layer.allocate(size); }
void *mm_sys_realloc(void *block, size_t size) { return system_layer.reallocate(block, size); }
void mm_sys_free(void *block) { system_layer.deallocate(block); }

// The area starts at the first multiple of alignment at least 8 bytes into
// the block; system blocks are at least 8-byte aligned, so alignment extra
// bytes always suffice.
void *mm_sys_alloc_aligned(size_t size, size_t alignment) {
    if (size > SIZE_MAX - alignment) return nullptr;
    void *start = mm_sys_alloc(size + alignment);
    if (start == nullptr) return nullptr;
    uint64_t area = mm_round_up(reinterpret_cast<uint64_t>(start) + sizeof(uint64_t), alignment);
    reinterpret_cast<uint64_t *>(area)[-1] = reinterpret_cast<uint64_t>(start);
    std::memset(reinterpret_cast<void *>(area), 0, size);
    return reinterpret_cast<void *>(area);
}

void mm_sys_free_aligned(void *area) {
    if (area == nullptr) return;
    mm_sys_free(reinterpret_cast<void *>(static_cast<uint64_t *>(area)[-1]));
}
