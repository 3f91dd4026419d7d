// thread_table.cpp - how a thread finds its pool.
//
// Each thread that asks for a pooled buffer draws a number, counting from 1
// in the current epoch, and keeps it in a thread-specific key; a second key
// holds the epoch it was drawn in.  A number is valid only in its own epoch:
// starting a new epoch (after every pool was released) resets the count, so
// every thread draws afresh on its next allocation.
//
// Numbers map to entries of lazily allocated, page-aligned tables: numbers 1
// to 1024 to the first table, whose entries fill a 64-byte line each; higher
// numbers to table k (k >= 1), which holds the 2^(9+k) entries with
// zero-based index (number - 1) in [2^(9+k), 2^(10+k)).
//
// Each of the first 1024 entries has its own spin lock on its own cache
// line.  The locks live outside the tables, because a thread may be waiting
// on one while a global operation frees the tables.  Entries above 1024
// share one reader-writer word: a user adds 2 and waits while bit 0 is set,
// then subtracts 2 when done.  A global operation sets bit 0 by
// compare-and-swap from 0 (so it waits until no user holds the word), then
// takes all 1024 entry locks.
#include <pthread.h>

#include <atomic>

#include "orb_memory.h"
#include "service/memory_manager.h"

namespace {

constexpr int kFirstTableEntries = 1024;
constexpr int kTableCount = 54;
constexpr size_t kPageSize = 4096;
constexpr int kSpinsBeforeYield = 5000;

// An entry of the first table, alone on its cache line.
struct alignas(64) FirstTableEntry {
    ThreadEntry entry;  // the thread's number and record
};
static_assert(sizeof(FirstTableEntry) == 64, "first-table entries fill one line");

// A lock of one of the first 1024 entries, alone on its cache line.
struct alignas(64) EntryLock {
    volatile int word;  // spin lock: 0 free, 1 held
};

// The thread table (mm_book).
struct ThreadBook {
    std::atomic<void *> tables[kTableCount];  // table k, or null until first used
    std::atomic<uint32_t> epoch;              // current epoch, from 1
    std::atomic<uint32_t> handed_out;         // numbers drawn in this epoch
    std::atomic<int> shared_word;             // reader-writer word of the entries above 1024
    volatile int vector_lock;                 // guards table allocation (mm_vector_lock)
};

ThreadBook mm_book = {{}, {1}, {0}, {0}, 0};
EntryLock entry_locks[kFirstTableEntries];

// A thread-specific key created on first use.
struct LazyKey {
    pthread_key_t key;           // the key, once created
    std::atomic<int> created;    // 1 while the key exists
    volatile int lock;           // guards creation
    void (*destructor)(void *);  // run at thread exit for a non-null value
};

// The slot key is created before the epoch key: at thread exit the C library
// clears keys in the order they were created, so the epoch is still there
// when the slot key's destructor runs.
LazyKey slot_key = {{}, {0}, 0, mm_cleanup_thread_cbk};
LazyKey epoch_key = {{}, {0}, 0, nullptr};

void delete_key(void *argument) {
    auto *k = static_cast<LazyKey *>(argument);
    orb_serv_lock(&k->lock);
    if (k->created.load(std::memory_order_relaxed)) {
        pthread_key_delete(k->key);
        k->created.store(0, std::memory_order_release);
    }
    orb_serv_unlock(&k->lock);
}

bool ensure_key(LazyKey &k) {
    if (k.created.load(std::memory_order_acquire)) return true;
    orb_serv_lock(&k.lock);
    bool registered = false;
    if (!k.created.load(std::memory_order_relaxed) && pthread_key_create(&k.key, k.destructor) == 0) {
        k.created.store(1, std::memory_order_release);
        registered = true;
    }
    bool ready = k.created.load(std::memory_order_relaxed) != 0;
    orb_serv_unlock(&k.lock);
    if (registered) orb_serv_core_register_cleanup(delete_key, &k);
    return ready;
}

uint64_t key_value(const LazyKey &k) {
    if (!k.created.load(std::memory_order_acquire)) return 0;
    return reinterpret_cast<uintptr_t>(pthread_getspecific(k.key));
}

void set_key_value(const LazyKey &k, uint64_t value) {
    pthread_setspecific(k.key, reinterpret_cast<void *>(static_cast<uintptr_t>(value)));
}

void pause_or_yield(int &attempt) {
    if (++attempt > kSpinsBeforeYield) orb_serv_thread_yield();
    else __builtin_ia32_pause();
}

// Where the entry of a number lives.
struct EntryPlace {
    int table;        // table index k
    uint64_t offset;  // entry index within the table
};

EntryPlace place_of(uint64_t number) {
    uint64_t index = number - 1;
    if (index < kFirstTableEntries) return {0, index};
    int log2 = 63 - __builtin_clzll(index);
    return {log2 - 9, index - (uint64_t{1} << log2)};
}

// Bytes of table k, or 0 when it could not be counted in 64 bits.
size_t table_bytes(int k) {
    if (k == 0) return kFirstTableEntries * sizeof(FirstTableEntry);
    int log2_bytes = 9 + k + 4;  // 2^(9+k) entries of 16 bytes
    return log2_bytes < 48 ? size_t{1} << log2_bytes : 0;
}

ThreadEntry *entry_in(void *table, const EntryPlace &place) {
    if (table == nullptr) return nullptr;
    if (place.table == 0) return &static_cast<FirstTableEntry *>(table)[place.offset].entry;
    return &static_cast<ThreadEntry *>(table)[place.offset];
}

// The entry of number, allocating its table on first use.
ThreadEntry *entry_creating_table(uint64_t number) {
    EntryPlace place = place_of(number);
    std::atomic<void *> &slot = mm_book.tables[place.table];
    void *table = slot.load(std::memory_order_acquire);
    if (table == nullptr) {
        orb_serv_lock(&mm_book.vector_lock);
        table = slot.load(std::memory_order_relaxed);
        size_t bytes = table_bytes(place.table);
        if (table == nullptr && bytes != 0) {
            table = mm_sys_alloc_aligned(bytes, kPageSize);
            slot.store(table, std::memory_order_release);
        }
        orb_serv_unlock(&mm_book.vector_lock);
    }
    return entry_in(table, place);
}

void lock_number(uint64_t number) {
    if (number <= kFirstTableEntries) orb_serv_lock(&entry_locks[number - 1].word);
    else mm_shared_enter();
}

void unlock_number(uint64_t number) {
    if (number <= kFirstTableEntries) orb_serv_unlock(&entry_locks[number - 1].word);
    else mm_shared_leave();
}

// A zeroed pool record on its own cache lines.
PoolRecord *new_record() { return static_cast<PoolRecord *>(mm_sys_alloc_aligned(sizeof(PoolRecord), 64)); }

}  // namespace

ThreadHandle::ThreadHandle(Mode mode) {
    bool create = mode == kCreate;
    bool keys_ready = create ? ensure_key(slot_key) && ensure_key(epoch_key)
                             : epoch_key.created.load(std::memory_order_acquire) != 0;
    if (!keys_ready) return;
    for (;;) {
        MmThreadIdentity id = mm_thread_identity();
        uint32_t epoch = mm_book.epoch.load(std::memory_order_acquire);
        if (id.number == 0 || id.epoch != epoch) {
            if (!create) return;
            id = {uint64_t{mm_book.handed_out.fetch_add(1, std::memory_order_relaxed)} + 1, epoch};
            set_key_value(slot_key, id.number);
            set_key_value(epoch_key, id.epoch);
        }
        lock_number(id.number);
        // A new epoch may have begun while we waited: then draw again.
        if (mm_book.epoch.load(std::memory_order_relaxed) == id.epoch) {
            number_ = id.number;
            break;
        }
        unlock_number(id.number);
    }
    ThreadEntry *entry = create ? entry_creating_table(number_) : mm_entry_at(number_);
    if (entry == nullptr) return;
    if (create) {
        __atomic_store_n(&entry->number, number_, __ATOMIC_RELAXED);
        if (mm_entry_record(entry) == nullptr) mm_set_entry_record(entry, new_record());
    }
    record_ = mm_entry_record(entry);
}

ThreadHandle::~ThreadHandle() {
    if (number_ != 0) unlock_number(number_);
}

void mm_shared_enter() {
    mm_book.shared_word.fetch_add(2, std::memory_order_acquire);
    for (int attempt = 0; mm_book.shared_word.load(std::memory_order_acquire) & 1;) pause_or_yield(attempt);
}

void mm_shared_leave() { mm_book.shared_word.fetch_sub(2, std::memory_order_release); }

void mm_global_lock() {
    int expected = 0;
    for (int attempt = 0;
         !mm_book.shared_word.compare_exchange_weak(expected, 1, std::memory_order_acquire, std::memory_order_relaxed);
         expected = 0)
        pause_or_yield(attempt);
    for (EntryLock &lock : entry_locks) orb_serv_lock(&lock.word);
}

void mm_global_unlock() {
    for (EntryLock &lock : entry_locks) orb_serv_unlock(&lock.word);
    mm_book.shared_word.fetch_sub(1, std::memory_order_release);
}

uint64_t mm_handed_out() { return mm_book.handed_out.load(std::memory_order_acquire); }

ThreadEntry *mm_entry_at(uint64_t number) {
    if (number == 0) return nullptr;
    EntryPlace place = place_of(number);
    return entry_in(mm_book.tables[place.table].load(std::memory_order_acquire), place);
}

void mm_start_new_epoch() {
    for (std::atomic<void *> &table : mm_book.tables) mm_sys_free_aligned(table.exchange(nullptr));
    mm_book.handed_out.store(0, std::memory_order_relaxed);
    mm_book.epoch.fetch_add(1, std::memory_order_release);
}

uint32_t mm_current_epoch() { return mm_book.epoch.load(std::memory_order_acquire); }

MmThreadIdentity mm_thread_identity() {
    return {key_value(slot_key), static_cast<uint32_t>(key_value(epoch_key))};
}
