// core_count.h - how many packages, physical cores and logical processors
// the machine has.
//
// Two sources are combined.  The probe pins the calling thread to each CPU
// of its affinity mask in turn and decomposes the initial APIC identifier
// read there into core and package numbers.  The processor description file
// "/proc/cpuinfo" names packages and gives per-package core and sibling
// counts; its figures win whenever they are consistent.
#ifndef ORB_SERVICE_CORE_COUNT_H
#define ORB_SERVICE_CORE_COUNT_H

#include <cstdint>
#include <cstdio>

struct CoreCounts {
    int logical;   // logical processors
    int physical;  // physical cores
    int packages;  // processor packages
};

// What a /proc/cpuinfo-style text says.
struct CpuinfoSummary {
    int logical = 0;    // lines starting "processor"
    int packages = 0;   // distinct numbers of the "physical id" lines
    int cpu_cores = 0;  // "cpu cores" of the first processor's block
    int siblings = 0;   // "siblings" of the first processor's block
};

// How an initial APIC identifier splits into thread, core and package numbers.
struct ApicLayout {
    int thread_bits;    // low bits numbering the threads of one core
    int core_bits;      // bits above them numbering the cores of one package
    int package_shift;  // low bits cleared to give the package number
    uint32_t core_of(uint32_t apic) const { return (apic >> thread_bits) & ((1u << core_bits) - 1u); }
    uint32_t package_of(uint32_t apic) const { return apic & ~((1u << package_shift) - 1u); }
};

// The layout of a package with the given logical processors and cores (each at least 1).
ApicLayout orb_apic_layout(int logical_per_package, int cores_per_package);

// Reads a /proc/cpuinfo-style text line by line; lines longer than 511
// characters are judged by their first 511.
CpuinfoSummary orb_scan_cpuinfo(FILE *file);

// The description file's figures when they are complete and consistent, otherwise the probe's.
CoreCounts orb_choose_core_counts(const CpuinfoSummary &described, const CoreCounts &probed);

// The machine's counts: probe and description file; 1, 1, 1 when the
// calling thread's affinity cannot be read and set.
CoreCounts orb_count_cores();

#endif
