// executable_memory.cpp - memory for generated code.
//
// Generated kernels are written into private anonymous mappings, readable
// and writable, whose length is the requested size rounded up to whole
// pages; the generator then switches the protection to read and execute.
// Each mapping counts like a tracked block against the thread that made it.
#include <sys/mman.h>

#include "orb_memory.h"
#include "service/memory_manager.h"

namespace {

constexpr uint64_t kPageSize = 4096;

}  // namespace

extern "C" {

void *orb_serv_jit_alloc(size_t size) {
    mm_init();
    if (size == 0 || size > SIZE_MAX - kPageSize) return nullptr;
    size_t length = mm_round_up(size, kPageSize);
    void *mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return nullptr;
    mm_track_calling_thread(static_cast<int64_t>(length), 1);
    return mapping;
}

int orb_serv_jit_set_exec(void *address, size_t length, int executable) {
    int protection = executable != 0 ? PROT_READ | PROT_EXEC : PROT_READ | PROT_WRITE;
    return mprotect(address, length, protection) == 0 ? 1 : 0;
}

void orb_serv_jit_free(void *address, size_t size) {
    if (address == nullptr) return;
    mm_init();
    size_t length = mm_round_up(size, kPageSize);
    if (munmap(address, length) == 0) mm_track_calling_thread(-static_cast<int64_t>(length), -1);
}

}  // extern "C"
