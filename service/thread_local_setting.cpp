// thread_local_setting.cpp - each thread's own thread count.
//
// A thread may set a count for itself that overrides every other setting.
// The count lives in one POSIX thread-specific key, stored as an integer in
// the pointer; a thread that never set one reads 0, and 0 or less means "no
// setting of its own".  The key is created on first use under its own lock
// (with a re-test) and registered in the clean-up registry, whose run at
// library shutdown deletes it; a later use creates it afresh.
#include <pthread.h>

#include <cstdint>

#include "orb_threads.h"
#include "service/thread_settings.h"

namespace {

constexpr uint32_t kKeyCreated = 1;  // bit of the flag word: the key exists

struct TlsKeyRecord {
    pthread_key_t key;             // the thread-specific key, valid while created
    std::atomic<uint32_t> flags;   // kKeyCreated once the key exists
    volatile int lock;             // serialises creation and deletion of the key
};

TlsKeyRecord tls_key_thr{};

bool key_created(const TlsKeyRecord &record) {
    return record.flags.load(std::memory_order_acquire) & kKeyCreated;
}

// Creates the key unless it exists; false when it could not be created.
bool ensure_key(TlsKeyRecord &record) {
    if (key_created(record)) return true;
    orb_serv_lock(&record.lock);
    if (!key_created(record) && pthread_key_create(&record.key, nullptr) == 0) {
        record.flags.fetch_or(kKeyCreated, std::memory_order_release);
        orb_serv_thr_register_cleanup(orb_tls_destroy, &record);
    }
    orb_serv_unlock(&record.lock);
    return key_created(record);
}

}  // namespace

extern "C" {

int get_tls(void) {
    if (!ensure_key(tls_key_thr)) return 0;
    return static_cast<int>(reinterpret_cast<intptr_t>(pthread_getspecific(tls_key_thr.key)));
}

int orb_serv_set_num_threads_local(int n) {
    int previous = get_tls();
    if (ensure_key(tls_key_thr))
        pthread_setspecific(tls_key_thr.key, reinterpret_cast<void *>(static_cast<intptr_t>(n)));
    return previous;
}

void orb_tls_destroy(void *record) {
    auto *tls = static_cast<TlsKeyRecord *>(record);
    orb_serv_lock(&tls->lock);
    if (key_created(*tls)) {
        tls->flags.store(0, std::memory_order_release);
        pthread_key_delete(tls->key);
    }
    orb_serv_unlock(&tls->lock);
}

}  // extern "C"
