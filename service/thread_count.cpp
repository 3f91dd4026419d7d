// thread_count.cpp - how many threads a caller may use.
//
// The answer, in order of precedence:
//   1. the calling thread's own setting, unconditionally;
//   2. 1 inside an active OpenMP parallel region while dynamic adjustment is on;
//   3. the domain's count or the all-domain count, whichever applies and is set,
//      else the OpenMP runtime's default team size;
//   4. with dynamic adjustment on, at most the physical cores, and under MPI
//      with several processes per node, at most this process's share of them
//      (only when the OpenMP default was used and the user did not size the
//      OpenMP team).
#include <omp.h>

#include <algorithm>

#include "orb_threads.h"
#include "service/thread_settings.h"

namespace {

// Where a thread count came from.
struct BaseCount {
    int threads;       // the count before dynamic adjustment
    bool from_openmp;  // true when no setting applied and OpenMP chose it
};

BaseCount base_count(int domain) {
    const ThreadSettings &s = orb_thread_settings;
    int all = s.all_threads.get();
    if (domain == kDomainAll && all > 0) return {all, false};
    if (domain >= kDomainBlas && domain < kDomainCount) {
        int count = orb_domain_threads[domain]->get();
        if (count > 0) return {count, false};
    }
    if (all > 0) return {all, false};
    return {omp_get_max_threads(), true};
}

// The cap on a process's threads under MPI with several processes per node.
int mpi_share(int threads, const BaseCount &base) {
    const ThreadSettings &s = orb_thread_settings;
    if (int safety = s.mpi_safety.get(); safety != -1) return safety != 0 ? threads : 1;
    int ppn = s.mpi_ppn.get();
    if (ppn == -1) return threads;
    if (!base.from_openmp || s.omp_num_threads.get() >= 1) return threads;
    if (s.mpi_thread_level.get() <= 0) return 1;
    int share = std::min(threads, s.physical_cores.get() / ppn);
    return share < 2 ? 1 : share;
}

}  // namespace

extern "C" {

int orb_serv_domain_get_max_threads(int domain) {
    if (int own = get_tls(); own > 0) return own;

    orb_read_thread_environment_once();
    const ThreadSettings &s = orb_thread_settings;
    bool dynamic = s.dynamic.get() != 0;
    if (dynamic && omp_in_parallel()) return 1;

    BaseCount base = base_count(domain);
    if (!dynamic) return base.threads;
    // Compared unsigned, as a count that is unknown (-1) caps nothing.
    int threads = static_cast<int>(std::min(static_cast<unsigned>(base.threads),
                                            static_cast<unsigned>(s.physical_cores.get())));
    return mpi_share(threads, base);
}

int orb_serv_get_max_threads(void) { return orb_serv_domain_get_max_threads(-1); }

}  // extern "C"
