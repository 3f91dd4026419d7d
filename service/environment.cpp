// environment.cpp - the library's only way to read an environment variable.
//
// orb_serv_getenv copies a variable's value into the caller's buffer and
// returns its length; an absent variable, and a value that does not fit,
// leave the buffer empty, so every caller can treat a result <= 0 as "not
// set".  A process-wide switch lets an application make the library ignore
// its environment, except for a few variables that locate the library and
// its language settings.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "orb_service.h"

namespace {

// Positive: environment variables are ignored except for the allowlist.
std::atomic<int> orb_disable_env_variables{0};

// Variables read even while the environment is switched off.  The last one
// is the root directory of the runtime that loads this library; the others
// locate the library and its language settings.
constexpr const char *kAlwaysRead[] = {
    "LD_LIBRARY_PATH", "LANG", "ORBROOT", "MIC_LD_LIBRARY_PATH", "VORTE_ROOT",
};

bool is_always_read(const char *name) {
    for (const char *allowed : kAlwaysRead)
        if (std::strcmp(name, allowed) == 0) return true;
    return false;
}

void empty_buffer(char *buffer, int size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
}

}  // namespace

extern "C" {

// A value is copied when it is shorter than the buffer (at most 4095
// characters, the longest text the bounded copy accepts); otherwise the
// result is minus its length, counted up to 4096.
int orb_serv_getenv(const char *name, char *buffer, int size) {
    empty_buffer(buffer, size);
    if (name == nullptr) return 0;
    if (orb_disable_env_variables.load(std::memory_order_relaxed) > 0 && !is_always_read(name))
        return 0;

    const char *value = std::getenv(name);
    if (value == nullptr) return 0;
    int length = static_cast<int>(orb_serv_strnlen_s(value, ORB_STR_MAX));
    if (length >= size || buffer == nullptr) return -length;

    size_t usable = size < static_cast<int>(ORB_STR_MAX) ? static_cast<size_t>(size) : ORB_STR_MAX;
    if (orb_serv_strncpy_s(buffer, usable, value, usable) != ORB_EOK) return -length;
    return length;
}

int orb_serv_get_envmode_variable(void) { return orb_disable_env_variables.load(std::memory_order_relaxed); }

void orb_serv_set_envmode_variable(int value) {
    orb_disable_env_variables.store(value, std::memory_order_relaxed);
}

}  // extern "C"
