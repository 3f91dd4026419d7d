// tracked_allocator.cpp - aligned blocks counted in the usage statistics.
//
// A tracked block is one system block with room for the alignment and a
// 24-byte header.  For an alignment a (the requested one if it is a power
// of two of at least 64, otherwise 64) the block has size + a + 24 bytes,
// and the pointer handed out is (start + a + 24) rounded down to a multiple
// of a, which leaves at least 24 bytes before it for the header:
//
//   pointer - 24  start address of the system block
//   pointer - 16  size of the system block
//   pointer - 8   the alignment a (32 bits)
//
// Each block counts, with its whole size, against the thread that made it,
// or against the totals left behind when that thread has no pool; a block
// given back by another thread counts there negatively, so that the sum
// over all threads and the left-behind totals is always exact.
#include <cstring>

#include "orb_memory.h"
#include "service/memory_manager.h"

namespace {

// The header in the 24 bytes before a tracked pointer.
struct TrackedHeader {
    uint64_t start;      // start address of the system block
    uint64_t total;      // size of the system block
    uint32_t alignment;  // the effective alignment
    uint32_t reserved;   // unused
};
static_assert(sizeof(TrackedHeader) == 24, "tracked header layout");

TrackedHeader *header_of(void *block) { return static_cast<TrackedHeader *>(block) - 1; }

// The block size for size payload bytes at alignment a; 0 on overflow.
uint64_t total_for(uint64_t size, uint64_t a) {
    uint64_t overhead = a + sizeof(TrackedHeader);
    return size > UINT64_MAX - overhead ? 0 : size + overhead;
}

// Where the pointer of a system block lies, and its header written.
void *place_in(void *start, uint64_t total, uint64_t a) {
    uint64_t user = (reinterpret_cast<uint64_t>(start) + a + sizeof(TrackedHeader)) & ~(a - 1);
    auto *pointer = reinterpret_cast<void *>(user);
    *header_of(pointer) = TrackedHeader{reinterpret_cast<uint64_t>(start), total, static_cast<uint32_t>(a), 0};
    return pointer;
}

// A new block and its size, without any counting; null on failure.
void *obtain(size_t size, int alignment, uint64_t *total) {
    uint64_t a = mm_effective_alignment(alignment);
    *total = total_for(size, a);
    if (*total == 0) return nullptr;
    void *start = mm_sys_alloc(*total);
    return start != nullptr ? place_in(start, *total, a) : nullptr;
}

}  // namespace

uint64_t mm_effective_alignment(int alignment) {
    bool power_of_two = alignment > 0 && (alignment & (alignment - 1)) == 0;
    return power_of_two && static_cast<uint64_t>(alignment) >= kMinAlignment ? static_cast<uint64_t>(alignment)
                                                                             : kMinAlignment;
}

void *mm_tracked_malloc(size_t size, int alignment, PoolRecord *record) {
    uint64_t total = 0;
    void *block = size != 0 ? obtain(size, alignment, &total) : nullptr;
    if (block != nullptr) mm_track(record, static_cast<int64_t>(total), 1);
    return block;
}

extern "C" {

void *orb_serv_malloc(size_t size, int alignment) {
    if (size == 0) return nullptr;
    mm_init();
    uint64_t total = 0;
    void *block = obtain(size, alignment, &total);
    if (block != nullptr) mm_track_calling_thread(static_cast<int64_t>(total), 1);
    return block;
}

void orb_serv_free(void *block) {
    if (block == nullptr) return;
    mm_init();
    TrackedHeader header = *header_of(block);
    if (header.start == 0) return;
    mm_track_calling_thread(-static_cast<int64_t>(header.total), -1);
    mm_sys_free(reinterpret_cast<void *>(header.start));
}

// The block keeps its place while the space after the pointer suffices;
// otherwise the system block is resized and, if it moved, the payload is
// moved to the aligned position in the new block.
void *orb_serv_realloc(void *block, size_t size) {
    if (block == nullptr) return orb_serv_malloc(size, static_cast<int>(kMinAlignment));
    mm_init();
    TrackedHeader old = *header_of(block);
    uint64_t offset = reinterpret_cast<uint64_t>(block) - old.start;
    uint64_t usable = old.total - offset;
    if (usable >= size) return block;

    uint64_t total = total_for(size, old.alignment);
    if (total == 0) return nullptr;
    void *start = mm_sys_realloc(reinterpret_cast<void *>(old.start), total);
    if (start == nullptr) return nullptr;
    uint64_t user = (reinterpret_cast<uint64_t>(start) + old.alignment + sizeof(TrackedHeader)) & ~uint64_t{old.alignment - 1};
    if (reinterpret_cast<uint64_t>(start) != old.start)
        std::memmove(reinterpret_cast<void *>(user), static_cast<char *>(start) + offset, usable);
    void *moved = place_in(start, total, old.alignment);
    mm_track_calling_thread(static_cast<int64_t>(total - old.total), 0);
    return moved;
}

void *orb_serv_calloc(size_t count, size_t size, int alignment) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    void *block = orb_serv_malloc(count * size, alignment);
    if (block != nullptr) std::memset(block, 0, count * size);
    return block;
}

}  // extern "C"
