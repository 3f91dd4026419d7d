// process_exit.cpp - ending the process where the library cannot go on.
//
// A fatal condition ends the process through orb_serv_exit.  An application
// that must not be ended by a library (a host runtime, a test harness) can
// install its own exit hook; the hook is then called with the exit code
// instead, and is expected not to return.
#include <atomic>
#include <cstdlib>

#include "orb_service.h"

namespace {

// The application's exit hook; null means exit() itself.
std::atomic<orb_exit_fn> custom_core_exit{nullptr};

}  // namespace

extern "C" {

void orb_serv_set_exit_handler(orb_exit_fn fn) { custom_core_exit.store(fn, std::memory_order_release); }

void orb_serv_exit(int code) {
    orb_exit_fn hook = custom_core_exit.load(std::memory_order_acquire);
    if (hook != nullptr) hook(code);
    else std::exit(code);
}

}  // extern "C"
