// reference_call.h - the frame every reference-form entry point runs in.
//
// A reference-form call makes sure an error handler is installed, checks its
// arguments (a bad one has been reported by the checker and the call ends
// with the output untouched) and runs its driver.  When the verbose mode is
// on, the call is timed and a line describing it is logged, a rejected call
// included (with no time spent).
//
// Each routine keeps a VerboseFlag: a cached pointer to the verbose mode
// that starts at a constant -1 ("not known yet") and is replaced by the live
// flag's address the first time the mode matters, so that later calls cost
// one load and one comparison.  Threads racing on that first time store the
// same address.
#ifndef ORB_BLAS_INTERFACE_REFERENCE_CALL_H
#define ORB_BLAS_INTERFACE_REFERENCE_CALL_H

#include <atomic>
#include <cstddef>

#include "blas/interface/verbose_hooks.h"
#include "orb_service.h"

namespace orb_interface {

// One routine's cached view of the verbose mode.
class VerboseFlag {
public:
    static constexpr int kUnknown = -1;

    // The value as this routine knows it now: -1, 0 or the live value.
    int seen() const { return __atomic_load_n(flag_.load(std::memory_order_acquire), __ATOMIC_RELAXED); }

    // Whether this call is logged, given the value seen at entry; an unknown
    // mode is settled by fetching (and caching) the live flag.
    bool call_is_logged(int seen_at_entry) {
        if (seen_at_entry != kUnknown) return seen_at_entry != 0;
        flag_.store(orb_serv_iface_verbose_mode(), std::memory_order_release);
        return seen() != 0;
    }

private:
    static constexpr int unknown_ = kUnknown;     // what the pointer starts at
    std::atomic<const int *> flag_{&unknown_};    // the flag this routine reads
};

// The elapsed time since a clock reading t0; a zero reading means no clock.
inline double elapsed_since(double t0) { return t0 == 0.0 ? 0.0 : orb_serv_iface_dsecnd() - t0; }

// Arguments are printed defensively: a rejected call may carry null
// pointers, whose integers and letters are printed as 0.
template <typename Printed, typename Int>
Printed printed_integer(const Int *value) {
    return value != nullptr ? static_cast<Printed>(*value) : 0;
}
inline char printed_letter(const char *trans) { return trans != nullptr ? *trans : '0'; }

constexpr size_t kLogLineSize = 450;

// Formats one call line (at most 449 characters) and logs it with its time.
template <typename... Values>
void log_call_line(double seconds, const char *format, Values... values) {
    char line[kLogLineSize];
    orb_serv_snprintf_s(line, kLogLineSize, kLogLineSize - 1, format, values...);
    line[kLogLineSize - 1] = '\0';
    orb_serv_iface_print_verbose_info(1, line, seconds);
}

// Whether the entry points carry the verbose log.  A build that measures
// what the log costs with the mode off compiles them once more with
// ORB_WITHOUT_VERBOSE_LOG defined: they then neither read the mode nor log.
#if defined(ORB_WITHOUT_VERBOSE_LOG)
constexpr bool kVerboseLogBuilt = false;
#else
constexpr bool kVerboseLogBuilt = true;
#endif

// Runs one reference-form call: check() reports and answers nonzero for bad
// arguments, run() calls the driver, log(seconds) writes the call line.
template <typename Check, typename Run, typename Log>
void run_reference_call(VerboseFlag &verbose, Check check, Run run, Log log) {
    orb_set_xerbla_interface(cdecl_xerbla);
    if constexpr (!kVerboseLogBuilt) {
        if (check() == 0) run();
        return;
    }
    const int seen = verbose.seen();

    if (check() != 0) {
        if (verbose.call_is_logged(seen)) log(elapsed_since(orb_serv_iface_dsecnd()));
        return;
    }
    if (!verbose.call_is_logged(seen)) {
        run();
        return;
    }
    const double t0 = orb_serv_iface_dsecnd();
    run();
    log(elapsed_since(t0));
}

}  // namespace orb_interface

#endif
