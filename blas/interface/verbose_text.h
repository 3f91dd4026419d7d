// verbose_text.h - the texts of the verbose log, built from plain values.
//
// A log line carries, after the call, a statistics text: the call's time in
// the unit that keeps it above one, the reproducibility branch, dynamic
// threading, whether the buffer pool is on, the calling thread's OpenMP
// number and the thread limits.  The header names the library build and
// the processor.  Both are built here from values the caller gathers, so
// that every field can be produced without changing the process's state.
#ifndef ORB_BLAS_INTERFACE_VERBOSE_TEXT_H
#define ORB_BLAS_INTERFACE_VERBOSE_TEXT_H

#include <cstddef>

#include "orb_service.h"

// Buffer sizes, terminator included; longer texts are cut.
constexpr size_t kVerboseStatisticsSize = 400;
constexpr size_t kVerboseHeaderSize = 400;

// Domains with a thread limit of their own: BLAS, FFT, element-wise, sparse.
constexpr int kVerboseDomainCount = 4;

// What a log line reports besides the call.
struct VerboseStatistics {
    double seconds;                          // duration of the call
    int cbwr_branch;                         // orb_serv_cbwr_get(1)
    int cbwr_mode;                           // orb_serv_cbwr_get(-1), whose bit 0x10000 is STRICT
    int dynamic;                             // orb_serv_get_dynamic()
    int fast_mm_status;                      // orb_serv_get_fast_mm_status(): 0 while the pool is on
    int thread_number;                       // omp_get_thread_num() of the caller
    int max_threads;                         // orb_serv_get_max_threads()
    int domain_threads[kVerboseDomainCount];  // orb_serv_domain_get_max_threads(1..4)
};

// "<time> CNR:<branch>[,STRICT] Dyn:<d> FastMM:<f> TID:<t> NThr:<n>[,<DOMAIN>:<n>...]";
// a domain is listed only when its limit differs from NThr.
void orb_verbose_statistics_text(char (&text)[kVerboseStatisticsSize], const VerboseStatistics &stats);

// "ORB_VERBOSE ORB <major>[ Update <u>][ Patch <p>] <status> build <date> for
// <platform> <processor>, Lnx <f>GHz[ <interface>] <threading layer>"; the
// interface name is left out for iface 0.
void orb_verbose_header_text(char (&text)[kVerboseHeaderSize], const OrbVersion &version, double ghz, int iface);

#endif
