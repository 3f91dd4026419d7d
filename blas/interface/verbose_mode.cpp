// verbose_mode.cpp - whether calls are logged.
//
// The mode is one process-wide 32-bit value: -1 until first asked for, then
// 0 (off), 1 or 2 (on).  The first query reads "ORB_VERBOSE" under a lock,
// after testing the value once without it, so the variable is read once
// even when several threads make their first call together.  The variable
// is accepted when strtol with base 0 (decimal, octal after a leading 0,
// hexadecimal after 0x) converts all of it and the low 32 bits of the
// number, taken unsigned, are 0, 1 or 2; anything else, an absent variable
// included, gives 0.  orb_serv_verbose changes the mode at any time; entry
// points hold a pointer to the value and see the change at their next call.
#include <cstdint>
#include <cstdlib>

#include "blas/interface/verbose_log.h"
#include "orb_service.h"

namespace {

constexpr int kNotRead = -1;
constexpr unsigned kHighestMode = 2;
constexpr int kValueSize = 128;

// The mode; read and written with atomic accesses, since entry points read
// it without a lock.
int orb_verbose_val = kNotRead;
int mode_variable_read = 0;             // "ORB_VERBOSE" has been read
volatile int orb_verbose_read_lock = 0;  // around the first reading
volatile int orb_verbose_set_lock = 0;   // around changes by orb_serv_verbose

int load_mode() { return __atomic_load_n(&orb_verbose_val, __ATOMIC_ACQUIRE); }
void store_mode(int mode) { __atomic_store_n(&orb_verbose_val, mode, __ATOMIC_RELEASE); }

int mode_from_text(const char *text) {
    char *end = nullptr;
    const long value = std::strtol(text, &end, 0);
    if (end == text || *end != '\0') return 0;
    const uint32_t low = static_cast<uint32_t>(static_cast<unsigned long>(value));
    return low <= kHighestMode ? static_cast<int>(low) : 0;
}

void read_mode_once() {
    if (load_mode() != kNotRead) return;
    orb_serv_lock(&orb_verbose_read_lock);
    if (__atomic_load_n(&mode_variable_read, __ATOMIC_RELAXED) == 0) {
        char value[kValueSize];
        store_mode(orb_serv_getenv("ORB_VERBOSE", value, kValueSize) > 0 ? mode_from_text(value) : 0);
        __atomic_store_n(&mode_variable_read, 1, __ATOMIC_RELAXED);
    }
    orb_serv_unlock(&orb_verbose_read_lock);
}

}  // namespace

extern "C" {

int *orb_serv_verbose_mode(void) {
    read_mode_once();
    return &orb_verbose_val;
}

int orb_serv_verbose(int mode) {
    read_mode_once();
    if (static_cast<unsigned>(mode) > kHighestMode) return -1;
    if (mode == load_mode()) return mode;
    orb_serv_lock(&orb_verbose_set_lock);
    store_mode(mode);
    orb_serv_unlock(&orb_verbose_set_lock);
    return mode;
}

}  // extern "C"
