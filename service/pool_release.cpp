// pool_release.cpp - giving pooled buffers back to the system.
//
// Pooled buffers leave the pools only here: by an explicit release of every
// thread's pool or of the calling thread's pool, and at thread exit.  Each
// gives back the blocks of the slots that are not handed out.  A pool with
// no buffer out is freed altogether, its tracked counters moving to the
// totals left behind; the pool of an exited thread that still has buffers
// out is marked retired, and the release of its last buffer frees it.
// When a release of every pool finds nothing handed out anywhere, it also
// frees the thread tables and starts a new epoch.
#include "orb_memory.h"
#include "service/memory_manager.h"

namespace {

// Frees the record of entry when none of its buffers is out; true if freed.
bool free_if_idle(ThreadEntry *entry, PoolRecord *record) {
    if (mm_release_idle_slots(record)) return false;
    mm_set_entry_record(entry, nullptr);
    mm_retire_record_counters(record);
    mm_free_record(record);
    return true;
}

}  // namespace

void mm_retire_record_counters(PoolRecord *record) {
    mm_left_behind_add(record->tracked_bytes, static_cast<int32_t>(record->tracked_count));
    record->tracked_bytes = 0;
    record->tracked_count = 0;
}

void mm_free_record(PoolRecord *record) { mm_sys_free_aligned(record); }

void mm_cleanup_thread_cbk(void *number_value) {
    auto number = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(number_value));
    uint32_t epoch = mm_thread_identity().epoch;
    mm_global_lock();
    ThreadEntry *entry = epoch == mm_current_epoch() && number <= mm_handed_out() ? mm_entry_at(number) : nullptr;
    PoolRecord *record = entry != nullptr ? mm_entry_record(entry) : nullptr;
    if (record != nullptr && !free_if_idle(entry, record)) {
        mm_retire_record_counters(record);
        record->retired = 1;
    }
    mm_global_unlock();
}

extern "C" {

void orb_serv_free_buffers(void) {
    mm_init();
    mm_global_lock();
    bool everything_freed = true;
    for (uint64_t number = 1, count = mm_handed_out(); number <= count; ++number) {
        ThreadEntry *entry = mm_entry_at(number);
        PoolRecord *record = entry != nullptr ? mm_entry_record(entry) : nullptr;
        if (record == nullptr) continue;
        if (record->retired || !free_if_idle(entry, record)) everything_freed = false;
    }
    if (everything_freed) mm_start_new_epoch();
    mm_global_unlock();
}

void orb_serv_thread_free_buffers(void) {
    mm_init();
    ThreadHandle self(ThreadHandle::kLookup);
    if (self.record() != nullptr) mm_release_idle_slots(self.record());
}

void ORB_FREE_BUFFERS(void) { orb_serv_free_buffers(); }
void ORB_Free_Buffers(void) { orb_serv_free_buffers(); }
void orb_free_buffers(void) { orb_serv_free_buffers(); }
void orb_free_buffers_(void) { orb_serv_free_buffers(); }

}  // extern "C"
