// orb_info - prints what libvorte_blas sees on this machine: its version, the
// processor (vendor and detailed type), the kernel set it chose, the
// reproducibility mode and the data caches.  The main job prints it before
// the host demo; "ORB_SIMULATE_CPU" and the other settings apply as usual.
#include <cstdio>

#include "orb_service.h"
#include "tools/kernel_set_name.h"

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
    tools::KernelSetFacts facts;
    facts.cpu_type = cpu_type;
    facts.reproducible = orb_serv_cbwr_get(1) != ORB_CBWR_OFF;
    facts.zen = orb_serv_cpuiszen() != 0;
    facts.bulldozer = orb_serv_cpuisbulldozer() != 0;
    facts.barcelona = orb_serv_cpuisitbarcelona() != 0;
    std::printf("kernel set:     %s (%s)", tools::kernel_set_name(facts), tools::kernel_set_instructions(facts));
    if (*tools::baseline_sub_model(facts)) std::printf(", SGEMM on the %s sub-model", tools::baseline_sub_model(facts));
    std::printf("\n");
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
