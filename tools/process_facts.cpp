// process_facts.cpp - asking a loaded libvorte_blas about the process.
#include "tools/process_facts.h"

#include <dlfcn.h>

namespace tools {

namespace {

// The library's query functions (declared in its orb_service.h and
// orb_threads.h, which the callers do not include).
struct Queries {
    int (*cpu_detect)();                        // orb_serv_cpu_detect
    int (*cbwr_get)(int);                       // orb_serv_cbwr_get
    int (*(*cpu_true)())();                     // orb_serv_get_cpu_true
    int (*is_zen)();                            // orb_serv_cpuiszen
    int (*is_bulldozer)();                      // orb_serv_cpuisbulldozer
    int (*is_barcelona)();                      // orb_serv_cpuisitbarcelona
    int (*max_threads)();                       // orb_serv_get_max_threads
    void (*version)(char *, int);               // orb_serv_get_version_string_c
};

template <typename Fn>
bool find(void *handle, const char *name, Fn &fn) {
    fn = reinterpret_cast<Fn>(dlsym(handle, name));
    return fn != nullptr;
}

bool find_queries(void *handle, Queries &q) {
    return find(handle, "orb_serv_cpu_detect", q.cpu_detect) && find(handle, "orb_serv_cbwr_get", q.cbwr_get) &&
           find(handle, "orb_serv_get_cpu_true", q.cpu_true) && find(handle, "orb_serv_cpuiszen", q.is_zen) &&
           find(handle, "orb_serv_cpuisbulldozer", q.is_bulldozer) &&
           find(handle, "orb_serv_cpuisitbarcelona", q.is_barcelona) &&
           find(handle, "orb_serv_get_max_threads", q.max_threads) &&
           find(handle, "orb_serv_get_version_string_c", q.version);
}

constexpr int kCbwrOff = 1, kCbwrBranchMask = 0xFFFF, kCbwrStrict = 0x10000;

}  // namespace

bool query_process_facts(void *handle, ProcessFacts &f) {
    Queries q;
    if (!find_queries(handle, q)) return false;
    char version[256] = {0};
    q.version(version, sizeof version);
    f.version = version;
    f.cbwr_mode = q.cbwr_get(-1);
    f.kernel_set.cpu_type = q.cpu_detect();
    f.kernel_set.reproducible = (f.cbwr_mode & kCbwrBranchMask) != kCbwrOff;
    f.kernel_set.zen = q.is_zen() != 0;
    f.kernel_set.bulldozer = q.is_bulldozer() != 0;
    f.kernel_set.barcelona = q.is_barcelona() != 0;
    f.ruzuv_vendor = q.cpu_true()() != 0;
    f.threads = q.max_threads();
    return true;
}

std::string cbwr_mode_name(int mode) {
    // The branch numbers of the library's reproducibility interface.
    static const char *const kBranches[] = {"?",          "OFF",    "AUTO",          "COMPATIBLE", "SSE2",
                                            "?",          "SSSE3",  "SSE4_1",        "SSE4_2",     "AVX",
                                            "AVX2",       "AVX512_MIC", "AVX512",    "AVX512_MIC_E1", "AVX512_E1"};
    const int branch = mode & kCbwrBranchMask;
    std::string name = branch >= 0 && branch < 15 ? kBranches[branch] : "?";
    if (mode & kCbwrStrict) name += ", STRICT";
    return name;
}

}  // namespace tools
