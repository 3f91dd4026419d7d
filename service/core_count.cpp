// core_count.cpp - counting the machine's packages, physical cores and
// logical processors.
//
// The probe visits every CPU of the calling thread's affinity mask, pinned
// to it alone, and reads the initial APIC identifier there.  On a
// "GenuineRuzuv" processor CPUID leaves 1 and 4 tell how many logical
// processors and cores share a package, which fixes the bit fields of the
// identifier; elsewhere every field is taken as one wide, so each identifier
// counts as a package of its own.  "/proc/cpuinfo" is read afterwards and
// its figures replace the probe's when they agree with each other.  The
// thread's affinity mask is restored before returning.
#include <omp.h>
#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "orb_service.h"
#include "service/core_count.h"
#include "service/cpu_detect.h"
#include "service/cpu_identity.h"

namespace {

constexpr int kMaxProbedCpus = 8192;                  // CPUs an affinity mask can name
constexpr size_t kMaskBytes = kMaxProbedCpus / 8;     // 1024-byte affinity mask
constexpr size_t kMaxPackageIds = 4096;               // distinct package numbers kept
constexpr int kCpuinfoLineSize = 512;                 // line buffer, terminator included
constexpr uint32_t kLeaf1HyperThreading = 1u << 28;   // leaf 1 EDX: logical count field valid

// An affinity mask of kMaskBytes bytes.
class AffinityMask {
  public:
    cpu_set_t *set() { return reinterpret_cast<cpu_set_t *>(words_); }
    bool has(int cpu) { return CPU_ISSET_S(cpu, kMaskBytes, set()); }
    void only(int cpu) {
        CPU_ZERO_S(kMaskBytes, set());
        CPU_SET_S(cpu, kMaskBytes, set());
    }

  private:
    unsigned long words_[kMaskBytes / sizeof(unsigned long)] = {};  // the mask's bits
};

// Bits needed to number x things: the width of x - 1, 0 for x <= 1.
int bits_to_number(int x) {
    int bits = 0;
    while (x > 1 && (1 << bits) < x) ++bits;
    return bits;
}

// The layout the processor describes; fields one wide on other vendors.
ApicLayout processor_apic_layout() {
    if (!ORB_Ruzuv_CPU_True_Internal()) return orb_apic_layout(1, 1);
    CpuidRegs leaf0 = orb_cpuid(0, 0);
    CpuidRegs leaf1 = orb_cpuid(1, 0);
    int logical = (leaf1.edx & kLeaf1HyperThreading) ? static_cast<int>((leaf1.ebx >> 16) & 0xffu) : 1;
    int cores = leaf0.eax >= 4 ? static_cast<int>(orb_cpuid(4, 0).eax >> 26) + 1 : 1;
    return orb_apic_layout(logical, cores);
}

uint32_t initial_apic_id() { return orb_cpuid(1, 0).ebx >> 24; }

// Pins the thread to each CPU of its mask and counts what it finds there.
// False when the mask cannot be read or set back, or no CPU could be pinned.
bool probe_cores(CoreCounts *counts) {
    AffinityMask saved;
    if (sched_getaffinity(0, kMaskBytes, saved.set()) != 0 || sched_setaffinity(0, kMaskBytes, saved.set()) != 0)
        return false;

    ApicLayout layout = processor_apic_layout();
    int limit = std::min(omp_get_num_procs(), kMaxProbedCpus);
    std::set<uint32_t> packages;
    std::set<std::pair<uint32_t, uint32_t>> cores;  // (core, package)
    int visited = 0, probed = 0;
    AffinityMask single;
    for (int cpu = 0; cpu < kMaxProbedCpus && visited < limit; ++cpu) {
        if (!saved.has(cpu)) continue;
        ++visited;
        single.only(cpu);
        if (sched_setaffinity(0, kMaskBytes, single.set()) != 0) continue;
        sched_yield();
        uint32_t apic = initial_apic_id();
        if (packages.size() < kMaxPackageIds) packages.insert(layout.package_of(apic));
        cores.insert({layout.core_of(apic), layout.package_of(apic)});
        ++probed;
    }
    sched_setaffinity(0, kMaskBytes, saved.set());
    sched_yield();
    if (probed == 0) return false;  // no CPU could be pinned: nothing was counted

    int physical = static_cast<int>(cores.size());
    *counts = {probed, physical, packages.empty() ? physical : static_cast<int>(packages.size())};
    return true;
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The integer after the ":" of a "name : value" line.
bool number_after_colon(std::string_view line, long *value) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    std::string rest(line.substr(colon + 1));
    char *end = nullptr;
    *value = std::strtol(rest.c_str(), &end, 10);
    return end != rest.c_str();
}

CpuinfoSummary read_processor_description() {
    CpuinfoSummary summary;
    if (FILE *file = orb_serv_fopen("/proc/cpuinfo", "r")) {
        summary = orb_scan_cpuinfo(file);
        orb_serv_fclose(file);
    }
    return summary;
}

}  // namespace

ApicLayout orb_apic_layout(int logical_per_package, int cores_per_package) {
    int logical = std::max(logical_per_package, 1);
    int cores = std::max(cores_per_package, 1);
    int threads_per_core = std::max(logical / cores, 1);
    return {bits_to_number(threads_per_core), bits_to_number(cores), bits_to_number(logical)};
}

CpuinfoSummary orb_scan_cpuinfo(FILE *file) {
    CpuinfoSummary summary;
    std::set<long> package_ids;
    char buffer[kCpuinfoLineSize];
    bool at_line_start = true;
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        std::string_view line(buffer);
        bool whole_line = at_line_start;  // the rest of an overlong line is not a line of its own
        at_line_start = !line.empty() && line.back() == '\n';
        if (!whole_line) continue;

        long number = 0;
        bool first_block = summary.logical == 1;
        if (starts_with(line, "processor")) {
            ++summary.logical;
        } else if (starts_with(line, "physical id")) {
            if (package_ids.size() < kMaxPackageIds && number_after_colon(line, &number)) package_ids.insert(number);
        } else if (first_block && starts_with(line, "cpu cores") && number_after_colon(line, &number)) {
            summary.cpu_cores = static_cast<int>(number);
        } else if (first_block && starts_with(line, "siblings") && number_after_colon(line, &number)) {
            summary.siblings = static_cast<int>(number);
        }
    }
    summary.packages = static_cast<int>(package_ids.size());
    return summary;
}

CoreCounts orb_choose_core_counts(const CpuinfoSummary &described, const CoreCounts &probed) {
    const CpuinfoSummary &d = described;
    bool complete = d.logical >= 1 && d.packages >= 1 && d.cpu_cores >= 1 && d.siblings >= 1;
    if (!complete) return probed;
    if (d.cpu_cores * d.packages == d.logical && d.cpu_cores == d.siblings)  // no hyperthreading
        return {d.logical, d.logical, d.packages};
    if (d.siblings * d.packages == d.logical && d.cpu_cores != d.siblings)  // siblings share cores
        return {d.logical, d.cpu_cores * d.packages, d.packages};
    return probed;
}

CoreCounts orb_count_cores() {
    CoreCounts probed{};
    if (!probe_cores(&probed)) return {1, 1, 1};
    return orb_choose_core_counts(read_processor_description(), probed);
}
