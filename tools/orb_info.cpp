// orb_info - prints what libvorte_blas sees on this machine: its version, the
// processor (vendor and detailed type), the kernel set it chose, the
// reproducibility mode and the data caches.  This is the main job until the
// host demo exists; "ORB_SIMULATE_CPU" and the other settings apply as usual.
#include <cstdio>

#include "orb_service.h"

namespace {

const char *kernel_set_name(int cpu_type) {
    switch (cpu_type) {
    case 0: return orb_serv_cbwr_get(1) == ORB_CBWR_OFF ? "def (SSE2)" : "cnr_def (reproducible SSE2)";
    case 3: return "mc3 (SSE4.2)";
    case 5: return "avx2 (AVX2 with FMA)";
    case 7: return "avx512 (AVX-512)";
    default: return "unknown";
    }
}

}  // namespace

int main() {
    char version[512];
    orb_serv_get_version_string_c(version, sizeof version);
    OrbVersion record;
    orb_serv_get_version(&record);
    int cpu_type = orb_serv_cpu_detect();
    int mode = orb_serv_cbwr_get(-1);

    std::printf("%s\n", version);
    std::printf("processor:      %s\n", record.processor);
    std::printf("vendor check:   %s\n", orb_serv_get_cpu_true()() ? "GenuineRuzuv" : "other vendor (baseline set)");
    std::printf("detailed type:  %d\n", orb_serv_get_cpu_type(1));
    std::printf("cpu type:       %d\n", cpu_type);
    std::printf("kernel set:     %s\n", kernel_set_name(cpu_type));
    std::printf("reproducibility branch %d%s\n", mode & 0xFFFF, (mode & ORB_CBWR_STRICT) ? ", STRICT" : "");
    std::printf("AMD predicates: zen %d, bulldozer %d, barcelona %d\n", orb_serv_cpuiszen(),
                orb_serv_cpuisbulldozer(), orb_serv_cpuisitbarcelona());
    uint64_t caches[5];
    orb_serv_cache_info(caches);
    std::printf("data caches:    %llu levels:", static_cast<unsigned long long>(caches[0]));
    for (uint64_t level = 1; level <= caches[0]; ++level)
        std::printf(" L%llu %llu KiB", static_cast<unsigned long long>(level),
                    static_cast<unsigned long long>(caches[level] / 1024));
    std::printf("\n");
    return 0;
}
