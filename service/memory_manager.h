// memory_manager.h - what the files of the memory manager share.
//
// The manager keeps one pool record per thread that has asked for a pooled
// buffer.  A record has five slots; each slot holds one system block and
// remembers the aligned pointer it handed out, the size its current holder
// asked for, the block's capacity and whether it is handed out.  A thread
// finds its record through the thread table: every thread draws a number
// (1, 2, ...) on its first pooled allocation, keeps it in a thread-specific
// key together with the epoch in which it was drawn, and entry "number" of
// the table points to its record.  Releasing every pool while nothing is in
// use starts a new epoch: the tables are freed and numbers are drawn afresh.
//
// Locking.  Entries 1 to 1024 each have their own spin lock; the entries
// above share one reader-writer word, which every user of such an entry and
// every thread that looks through other threads' records holds for reading.
// A global operation (releasing all pools, thread exit, the usage
// statistics, releasing a retired record) takes that word for writing and
// then all 1024 entry locks, so that it sees every record at rest.  The one
// thing done to another thread's record without its lock is clearing the
// in-use flag of a released buffer, with a single atomic store.
//
// The pieces:
//   memory_system_layer.cpp    the i_* hooks, the 32-byte wrapper header and
//                              the one-time initialisation (mm_init);
//   high_bandwidth_memory.cpp  the optional high-bandwidth memory library and
//                              its limit;
//   fast_mm_settings.cpp       the two environment settings;
//   thread_table.cpp           thread numbers, keys, tables and their locks;
//   buffer_pool.cpp            pooled allocation and release;
//   pool_release.cpp           releasing whole pools, and thread exit;
//   tracked_allocator.cpp      the tracked blocks with their 24-byte header;
//   memory_stats.cpp           usage statistics;
//   executable_memory.cpp      mappings for generated code;
//   core_cleanup.cpp           the core clean-up list.
#ifndef ORB_SERVICE_MEMORY_MANAGER_H
#define ORB_SERVICE_MEMORY_MANAGER_H

#include <cstddef>
#include <cstdint>

// Slots per thread pool.
constexpr int kPoolSlots = 5;

// Requests above this many bytes bypass the pool.
constexpr uint64_t kPoolSizeLimit = uint64_t{128} << 20;

// The smallest alignment the manager hands out: one cache line.
constexpr uint64_t kMinAlignment = 64;

// A thread's pool (224 bytes, obtained zero-filled from the system layer).
// The in-use flags and handed-out pointers are also read, and the flags
// cleared, by other threads: they are accessed with atomic operations only.
struct PoolRecord {
    uint64_t start[kPoolSlots];      // system block of each slot (0 = empty)
    uint64_t user[kPoolSlots];       // aligned pointer handed out from the slot
    uint64_t requested[kPoolSlots];  // size asked for by the current holder
    uint64_t capacity[kPoolSlots];   // size of the system block: requested size + alignment when obtained
    uint64_t in_use[kPoolSlots];     // 1 while handed out
    int32_t slot_count;              // slots ever filled (0 to 5)
    uint32_t tracked_count;          // tracked blocks and mappings made by this thread and not freed (net, wraps)
    uint64_t tracked_bytes;          // their total size (net, wraps)
    int32_t retired;                 // 1 once the owner exited with buffers still handed out
    int32_t reserved;                // keeps the record a multiple of 8 bytes
};
static_assert(sizeof(PoolRecord) == 224, "pool record layout");

// One entry of the thread table.
struct ThreadEntry {
    uint64_t number;     // the thread number this entry belongs to
    PoolRecord *record;  // the thread's pool, or null
};

// The calling thread's entry, locked while the handle lives.
class ThreadHandle {
  public:
    enum Mode {
        kLookup,  // only a number already drawn in this epoch; create nothing
        kCreate   // draw a number if needed and create table and record
    };
    explicit ThreadHandle(Mode mode);
    ~ThreadHandle();
    ThreadHandle(const ThreadHandle &) = delete;
    ThreadHandle &operator=(const ThreadHandle &) = delete;

    PoolRecord *record() const { return record_; }

  private:
    uint64_t number_ = 0;           // the thread's number; 0 when nothing is locked
    PoolRecord *record_ = nullptr;  // the entry's record, or null
};

// --- system layer (memory_system_layer.cpp) ---------------------------------
// Initialises the manager once; every entry point calls it first.
void mm_init();
// The chosen system functions (mm_init must have run).
void *mm_sys_alloc(size_t size);
void *mm_sys_realloc(void *block, size_t size);
void mm_sys_free(void *block);
// A zero-filled area of size bytes aligned to alignment (a power of two, at
// most 4096), with the system block's start kept in the 8 bytes before it.
void *mm_sys_alloc_aligned(size_t size, size_t alignment);
void mm_sys_free_aligned(void *area);

// --- settings (fast_mm_settings.cpp) ----------------------------------------
// Reads the environment once, unless orb_serv_disable_fast_mm came first.
void mm_read_settings();
// True when the pool is off.
bool mm_pool_disabled();

// --- high-bandwidth memory (high_bandwidth_memory.cpp) -----------------------
// What the probe for the high-bandwidth memory library found.
enum class HbwState {
    kNotProbed,       // mm_init has not run the probe yet
    kNoCandidate,     // the processor lacks the features (or libc is static)
    kLibraryMissing,  // the library could not be loaded
    kLibraryTooOld,   // the library's version is too old; it was closed
    kAvailable        // high-bandwidth memory is used
};
// Loads the library when the processor qualifies (called by mm_init).
void mm_probe_high_bandwidth();
HbwState mm_high_bandwidth_state();
// Sets the byte limit from the environment (called by mm_read_settings).
void mm_set_fast_memory_limit_bytes(uint64_t bytes);
// A block of size bytes of high-bandwidth memory within the limit, or null;
// *page_size receives the page size used.
void *mm_hbw_allocate(size_t size, uint64_t *page_size);
// Gives back a block of mm_hbw_allocate of size bytes, raising a finite limit.
void mm_hbw_free(void *block, size_t size);

// --- thread table (thread_table.cpp) ----------------------------------------
// Holds the reader side of the shared word: keeps tables and records alive.
void mm_shared_enter();
void mm_shared_leave();
// Takes and releases the global lock (the shared word and all entry locks).
void mm_global_lock();
void mm_global_unlock();
// Numbers handed out in this epoch; entries 1 to this number may exist.
uint64_t mm_handed_out();
// The entry of a number, or null when its table does not exist (read under
// the shared or the global lock).
ThreadEntry *mm_entry_at(uint64_t number);
// Frees every table and starts a new epoch (under the global lock).
void mm_start_new_epoch();
// The current epoch, and the calling thread's number and epoch as its keys
// hold them (0 when it has none); for tests and diagnostics.
uint32_t mm_current_epoch();
struct MmThreadIdentity {
    uint64_t number;  // the thread's number, 0 when none was drawn
    uint32_t epoch;   // the epoch in which it was drawn
};
MmThreadIdentity mm_thread_identity();

// Atomic access to the entry fields shared between threads.
inline PoolRecord *mm_entry_record(const ThreadEntry *e) { return __atomic_load_n(&e->record, __ATOMIC_ACQUIRE); }
inline void mm_set_entry_record(ThreadEntry *e, PoolRecord *r) { __atomic_store_n(&e->record, r, __ATOMIC_RELEASE); }

// --- pools (buffer_pool.cpp, pool_release.cpp) -------------------------------
// Gives back every slot of the record that is not handed out; true when some
// slot is still handed out (caller holds the record's entry or global lock).
bool mm_release_idle_slots(PoolRecord *record);
// Moves the record's tracked counters to the left-behind totals and frees it.
void mm_retire_record_counters(PoolRecord *record);
void mm_free_record(PoolRecord *record);
// The key destructor: the thread holding number is ending.
void mm_cleanup_thread_cbk(void *number);

// --- tracked blocks (tracked_allocator.cpp) ----------------------------------
// The effective alignment of a request: alignment when it is a power of two
// of at least 64, otherwise 64.
uint64_t mm_effective_alignment(int alignment);
// orb_serv_malloc for a caller that already holds its entry lock; record may be null.
void *mm_tracked_malloc(size_t size, int alignment, PoolRecord *record);

// --- statistics (memory_stats.cpp) ------------------------------------------
// Adds to the global counters while statistics are on.
void mm_stat_add(int64_t bytes, int64_t count);
// Adds a tracked change to the record (when not null) or to the left-behind
// totals, and to the global counters.  Caller holds the record's lock.
void mm_track(PoolRecord *record, int64_t bytes, int64_t count);
// Adds a tracked change for the calling thread, taking its entry lock.
void mm_track_calling_thread(int64_t bytes, int64_t count);
// Adds to the totals left behind by exited or released threads.
void mm_left_behind_add(uint64_t bytes, int64_t count);

// Rounds value up to a multiple of alignment (a power of two).
inline uint64_t mm_round_up(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}

#endif
