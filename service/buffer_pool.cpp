// buffer_pool.cpp - pooled working buffers.
//
// Every thread keeps up to five buffers.  A request is served from the
// thread's own pool: a free slot of exactly the needed capacity at once,
// otherwise the free slot of smallest sufficient capacity (best fit keeps
// large buffers for large requests); otherwise a new slot while fewer than
// five exist; otherwise the first free slot that is too small is recycled
// with a new block.  Only when all five slots are handed out does the
// request go to the tracked allocator.  The capacity needed for a request
// is its size plus its alignment, so that the aligned pointer always fits.
//
// A buffer is released by clearing its slot's in-use flag; the block stays
// in the pool.  Any thread may release any buffer: a buffer that is not in
// the caller's pool is looked for in every other thread's pool, and one
// found in nowhere came from the tracked allocator.  A pool whose owner has
// exited while buffers were out ("retired") is freed by the release of its
// last buffer.
#include "orb_memory.h"
#include "service/memory_manager.h"

namespace {

bool slot_in_use(const PoolRecord &r, int slot) { return __atomic_load_n(&r.in_use[slot], __ATOMIC_ACQUIRE) != 0; }

// What a scan of the free slots found for a needed capacity.
struct SlotChoice {
    int exact = -1;      // a free slot of exactly the needed capacity
    int best = -1;       // the free slot of smallest capacity above it
    int too_small = -1;  // the first free slot of smaller capacity
};

SlotChoice choose_slot(const PoolRecord &r, uint64_t need) {
    SlotChoice choice;
    for (int slot = 0; slot < r.slot_count; ++slot) {
        if (slot_in_use(r, slot)) continue;
        uint64_t capacity = r.capacity[slot];
        if (capacity == need) {
            choice.exact = slot;
            return choice;
        }
        if (capacity > need && (choice.best < 0 || capacity < r.capacity[choice.best])) choice.best = slot;
        if (capacity < need && choice.too_small < 0) choice.too_small = slot;
    }
    return choice;
}

// Marks a slot that holds a block as handed out and returns its pointer:
// the block's start rounded up to the alignment.
void *hand_out(PoolRecord &r, int slot, uint64_t size, uint64_t alignment) {
    uint64_t user = mm_round_up(r.start[slot], alignment);
    r.requested[slot] = size;
    __atomic_store_n(&r.user[slot], user, __ATOMIC_RELAXED);
    __atomic_store_n(&r.in_use[slot], 1, __ATOMIC_RELAXED);
    return reinterpret_cast<void *>(user);
}

// Gives an idle slot's block back to the system.  The handed-out pointer
// is cleared first, so that no other thread can match it once the block's
// address may be reused.
void empty_slot(PoolRecord &r, int slot) {
    __atomic_store_n(&r.user[slot], 0, __ATOMIC_RELAXED);
    if (r.start[slot] != 0) {
        mm_sys_free(reinterpret_cast<void *>(r.start[slot]));
        mm_stat_add(-static_cast<int64_t>(r.capacity[slot]), -1);
    }
    r.start[slot] = 0;
    r.capacity[slot] = 0;
    r.requested[slot] = 0;
}

// Puts a new block of need bytes into slot and hands it out; null when the
// system has no memory (the slot then stays empty).
void *fill_slot(PoolRecord &r, int slot, uint64_t size, uint64_t alignment, uint64_t need) {
    void *block = mm_sys_alloc(need);
    if (block == nullptr) return nullptr;
    r.start[slot] = reinterpret_cast<uint64_t>(block);
    r.capacity[slot] = need;
    mm_stat_add(static_cast<int64_t>(need), 1);
    return hand_out(r, slot, size, alignment);
}

void *take_from_pool(PoolRecord &r, size_t size, int alignment) {
    uint64_t a = mm_effective_alignment(alignment);
    uint64_t need = size + a;
    SlotChoice choice = choose_slot(r, need);
    if (choice.exact >= 0) return hand_out(r, choice.exact, size, a);
    if (choice.best >= 0) return hand_out(r, choice.best, size, a);
    if (r.slot_count < kPoolSlots) {
        void *buffer = fill_slot(r, r.slot_count, size, a, need);
        if (buffer != nullptr) ++r.slot_count;
        return buffer;
    }
    if (choice.too_small < 0) return mm_tracked_malloc(size, alignment, &r);
    empty_slot(r, choice.too_small);
    return fill_slot(r, choice.too_small, size, a, need);
}

// Clears the in-use flag of the slot of r that handed out buffer; false
// when no slot of r did.
bool release_in(PoolRecord &r, const void *buffer) {
    auto address = reinterpret_cast<uint64_t>(buffer);
    for (int slot = 0; slot < kPoolSlots; ++slot) {
        if (__atomic_load_n(&r.user[slot], __ATOMIC_RELAXED) != address) continue;
        __atomic_store_n(&r.in_use[slot], 0, __ATOMIC_RELEASE);
        return true;
    }
    return false;
}

bool release_in_own_pool(const void *buffer) {
    ThreadHandle self(ThreadHandle::kLookup);
    return self.record() != nullptr && release_in(*self.record(), buffer);
}

// Where a buffer released from another thread was found.
struct ForeignRelease {
    bool found = false;              // some pool handed the buffer out
    uint64_t number = 0;             // the owner's thread number
    PoolRecord *retired = nullptr;   // the owner's record, when it is retired
};

ForeignRelease release_in_other_pools(const void *buffer) {
    ForeignRelease result;
    mm_shared_enter();
    uint64_t count = mm_handed_out();
    for (uint64_t number = 1; number <= count && !result.found; ++number) {
        ThreadEntry *entry = mm_entry_at(number);
        PoolRecord *record = entry != nullptr ? mm_entry_record(entry) : nullptr;
        if (record == nullptr || !release_in(*record, buffer)) continue;
        result = {true, number, record->retired ? record : nullptr};
    }
    mm_shared_leave();
    return result;
}

// Frees what an exited owner left, once its last buffer is back.
void settle_retired(const ForeignRelease &release) {
    mm_global_lock();
    ThreadEntry *entry = mm_entry_at(release.number);
    PoolRecord *record = entry != nullptr ? mm_entry_record(entry) : nullptr;
    if (record == release.retired && record->retired && !mm_release_idle_slots(record)) {
        mm_set_entry_record(entry, nullptr);
        mm_free_record(record);
    }
    mm_global_unlock();
}

}  // namespace

bool mm_release_idle_slots(PoolRecord *record) {
    bool busy = false;
    for (int slot = 0; slot < record->slot_count; ++slot) {
        if (slot_in_use(*record, slot)) busy = true;
        else empty_slot(*record, slot);
    }
    if (!busy) record->slot_count = 0;
    return busy;
}

extern "C" {

void *orb_serv_allocate(size_t size, int alignment) {
    if (size == 0) return nullptr;
    mm_init();
    if (mm_pool_disabled() || size > kPoolSizeLimit) return orb_serv_malloc(size, alignment);
    {
        ThreadHandle self(ThreadHandle::kCreate);
        if (self.record() != nullptr) return take_from_pool(*self.record(), size, alignment);
    }
    return orb_serv_malloc(size, alignment);
}

void orb_serv_deallocate(void *buffer) {
    if (buffer == nullptr) return;
    mm_init();
    if (mm_pool_disabled()) return orb_serv_free(buffer);
    if (release_in_own_pool(buffer)) return;
    ForeignRelease release = release_in_other_pools(buffer);
    if (!release.found) return orb_serv_free(buffer);
    if (release.retired != nullptr) settle_retired(release);
}

}  // extern "C"
