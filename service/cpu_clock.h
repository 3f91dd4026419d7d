// cpu_clock.h - the time-stamp counter as the library's clock, and what the
// library knows of the processor's frequency.
//
// The clock is the processor's time-stamp counter, read after a serialising
// CPUID, divided by the counter's frequency.  That frequency is measured
// once per process against the wall clock; when the measurement cannot be
// made, the nominal frequency stands in for it.  The nominal frequency is
// taken from the brand string, else from "/proc/cpuinfo", else estimated by
// timing a chain of dependent integer decrements.  None of these names is
// exported.
#ifndef ORB_SERVICE_CPU_CLOCK_H
#define ORB_SERVICE_CPU_CLOCK_H

#include <cstdint>

extern "C" {
// Serialises the processor, reads the time-stamp counter, stores it to *out
// when out is not null and returns it.
uint64_t orb_serv_get_cpu_clocks(uint64_t *out);
// The time-stamp counter's frequency in GHz, measured on the first call.
double orb_serv_get_clocks_frequency(void);
// The current time in seconds (float: orb_serv_second).
double orb_serv_dsecnd(void);
float orb_serv_second(void);
// The processor's nominal frequency in GHz: brand string, "/proc/cpuinfo",
// else the estimate of orb_serv_get_cpu_frequency.
double orb_serv_get_max_cpu_frequency(void);
// An estimate in GHz from a timed chain of dependent decrements; positive.
double orb_serv_get_cpu_frequency(void);
}

// The frequency in GHz that a processor brand string (at most 48
// characters, as CPUID leaves 0x80000002 to 0x80000004 spell it) names in
// its last 16 characters, such as "@ 2.10GHz", "3.5 GHz" or "2800MHz"; 0 when
// it names none.
double orb_brand_string_frequency_ghz(const char *brand);

// The frequency in GHz of the first "cpu MHz" line of a file laid out as
// "/proc/cpuinfo"; 0 when there is none or the file cannot be read.
double orb_cpuinfo_frequency_ghz(const char *path);

#endif
