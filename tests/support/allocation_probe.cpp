#include "support/allocation_probe.h"

#include <atomic>
#include <mutex>

namespace {

std::mutex g_lock;                        // guards g_requests
std::vector<AllocationRequest> g_requests; // requests since the last reset
std::atomic<bool> g_refusing{false};      // answer null while set

}  // namespace

extern "C" void *__real_orb_serv_allocate(size_t size, int alignment);
extern "C" void *__wrap_orb_serv_allocate(size_t size, int alignment) {
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_requests.push_back({size, alignment});
    }
    return g_refusing.load() ? nullptr : __real_orb_serv_allocate(size, alignment);
}

void AllocationProbe::reset() {
    std::lock_guard<std::mutex> hold(g_lock);
    g_requests.clear();
    g_refusing = false;
}

void AllocationProbe::refuse(bool on) { g_refusing = on; }

std::vector<AllocationRequest> AllocationProbe::requests() const {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_requests;
}

std::vector<size_t> AllocationProbe::sizes() const {
    std::vector<size_t> out;
    for (const AllocationRequest &r : requests()) out.push_back(r.size);
    return out;
}

std::vector<int> AllocationProbe::alignments() const {
    std::vector<int> out;
    for (const AllocationRequest &r : requests()) out.push_back(r.alignment);
    return out;
}

AllocationProbe &allocation_probe() {
    static AllocationProbe probe;
    return probe;
}
