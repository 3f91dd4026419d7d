// thread_settings.h - what thread-count control shares between its files.
//
// The process-wide settings are plain 32-bit words, read and written without
// locks; -1 means "not set".  They are filled from the service interface at
// any time and from the environment once, on the first query, by
// ORB_Read_ThreadENV_Count_Cores.  The pieces:
//   thread_settings.cpp         the settings, their setters and getters;
//   thread_local_setting.cpp    each thread's own count (a thread-specific key);
//   thread_environment.cpp      the first reading of the environment;
//   core_count.cpp              packages, physical cores, logical processors;
//   mpi_processes_per_node.cpp  MPI processes per node from the launchers;
//   thread_count.cpp            the answer to "how many threads may I use";
//   cleanup_registry.cpp        functions run at library shutdown.
#ifndef ORB_SERVICE_THREAD_SETTINGS_H
#define ORB_SERVICE_THREAD_SETTINGS_H

#include <atomic>
#include <cstdint>

// One process-wide setting.  Loads and stores are relaxed: the settings carry
// no data besides themselves, and the first reading publishes its results
// through the environment_read flag.
class Setting {
  public:
    constexpr explicit Setting(int initial) : value_(initial) {}
    int get() const { return value_.load(std::memory_order_relaxed); }
    void set(int value) { value_.store(value, std::memory_order_relaxed); }
    // Stores value unless the setting already holds one (is >= 0), so that a
    // setter that ran before the environment was read keeps precedence.
    void set_if_unset(int value) {
        int current = get();
        while (current < 0 && !value_.compare_exchange_weak(current, value, std::memory_order_relaxed)) {
        }
    }

  private:
    std::atomic<int> value_;  // the setting; negative while unset
};

// The domains a thread count can be set for.
enum ThreadDomain : int {
    kDomainAll = 0,
    kDomainBlas = 1,
    kDomainFft = 2,
    kDomainEltwise = 3,
    kDomainSparse = 4,
    kDomainCount = 5
};

struct ThreadSettings {
    Setting all_threads{-1};        // thread count of every domain
    Setting blas_threads{-1};       // thread count of domain 1, BLAS
    Setting fft_threads{-1};        // domain 2; kept for other libraries, not read here
    Setting eltwise_threads{-1};    // domain 3; kept for other libraries, not read here
    Setting sparse_threads{-1};     // domain 4; kept for other libraries, not read here
    Setting dynamic{-1};            // dynamic adjustment: nonzero on, 0 off
    Setting num_stripes{-1};        // stripes of the striped SGEMM path; <= 0 off
    Setting omp_num_threads{-1};    // "OMP_NUM_THREADS" as read; 1 for a list
    Setting mpi_ppn{-1};            // MPI processes per node, -1 unknown
    Setting mpi_thread_level{-1};   // MPI threading level 0 to 3
    Setting mpi_safety{-1};         // set by orb_serv_mpi_safe: 1 or 0
    Setting logical_cores{1};       // logical processors
    Setting physical_cores{-1};     // physical cores
    Setting packages{-1};           // processor packages
    Setting cores_per_package{-1};  // physical cores divided by packages
    Setting hyperthreading{-1};     // 1 when physical cores differ from logical processors
    std::atomic<uint8_t> environment_read{0};  // nonzero once the first reading is complete
};

extern ThreadSettings orb_thread_settings;

// The counts of domains 0 to 4, indexed by domain number.
extern Setting *const orb_domain_threads[kDomainCount];

// Runs the first reading unless it is complete.
void orb_read_thread_environment_once();

extern "C" {
// The first reading: the environment, then the core count.  Returns the
// hyperthreading flag.
int ORB_Read_ThreadENV_Count_Cores(void);

// The calling thread's own count (0 when never set), creating the key first if needed.
int get_tls(void);

// Deletes the thread-specific key of record (a clean-up registry entry).
void orb_tls_destroy(void *record);
}

#endif
