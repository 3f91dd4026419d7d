// allocation_probe.h - watching and refusing the pool's allocations.
//
// A test executable registered with orb_add_allocation_probe (CMake) is
// linked with -Wl,--wrap=orb_serv_allocate, so every orb_serv_allocate call
// of the library passes through the probe.  The probe records each request
// and, while refusing, answers null as a system out of memory would; the
// library must then take its path without the buffer.
#ifndef ORB_TESTS_ALLOCATION_PROBE_H
#define ORB_TESTS_ALLOCATION_PROBE_H

#include <cstddef>
#include <vector>

// One pooled allocation request.
struct AllocationRequest {
    size_t size;    // bytes
    int alignment;  // requested alignment
};

class AllocationProbe {
  public:
    // Forgets the recorded requests and stops refusing.
    void reset();
    // While on, every request is answered with null.
    void refuse(bool on);
    // The requests since the last reset, in order.
    std::vector<AllocationRequest> requests() const;
    std::vector<size_t> sizes() const;
    std::vector<int> alignments() const;
};

AllocationProbe &allocation_probe();

#endif
