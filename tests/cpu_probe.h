// cpu_probe.h - asking a fresh process how the library sees a processor.
//
// Detection, the reproducibility mode, the instruction limit, the feature
// scan and the cache sizes are all decided once per process, so every
// question about them is asked in a child process.  The child runs the
// registered entry "cpu_probe": it presents the processor named by a table
// under tests/cpus/ (through ORB_SIMULATE_CPU), applies the test's settings,
// and then carries out a short script of queries, printing one "@ key=value"
// line per step.  The parent gets those results as one space-separated
// string ("type=5 fresh=15"), so that a test row can state its expectation as
// plain text.
//
// Steps (separated by spaces; ARG is a number, decimal or 0x-hex):
//   type          orb_serv_cpu_detect()                      -> type=N
//   fresh         orb_serv_get_cpu_type(1), detailed type    -> fresh=N
//   stored        orb_serv_get_cpu_type(0)                   -> stored=N
//   mode          orb_serv_cbwr_get(-1), in hex              -> mode=0xN
//   branch        orb_serv_cbwr_get(1)                       -> branch=N
//   get:ARG       orb_serv_cbwr_get(ARG)                     -> get(ARG)=N
//   set:ARG       orb_serv_cbwr_set(ARG)                     -> set(ARG)=N
//   ceiling       orb_serv_cbwr_get_auto_branch()            -> ceiling=N
//   limit:ARG     orb_serv_enable_instructions(ARG)          -> limit(ARG)=N
//   enabled       the four is_*_enabled answers, in the order
//                 SSE4.2, AVX, AVX2, AVX-512                 -> enabled=DDDD
//   flags         the nine restriction flags (1 = blocked) in the order
//                 AVX AVX2 AVX512 E1 E2 E3 E4 E5 AVX2_E1     -> flags=DDDDDDDDD
//   vendor        orb_serv_get_cpu_true()()                  -> vendor=N
//   ruzuv         orb_serv_get_cpu()()                       -> ruzuv=N
//   pnr pnr_true bulldozer zen barcelona clx icx cpx avxvnni f16c fp16 amxfp16
//                 the processor predicates                   -> NAME=N
//   amx           orb_serv_cpuhasamx(info)                   -> amx=N:w0,...,w11
//   amxq          orb_serv_cpuhasamx(nullptr)                -> amxq=N
//   bits:B,B,...  feature-set bits by position (scans first) -> bits(B,B)=DD..
//   feat:I        __liborb_get_cpu_feature(set, I)           -> feat(I)=N
//   cache         orb_serv_cache_info                        -> cache=n/s1/s2/s3/s4
//   size:ARG      orb_serv_get_cache_size(ARG)               -> size(ARG)=N
//   hook          installs an exit hook that prints hook=CODE and ends the
//                 process with status kProbeHookStatus
//   threads16     16 threads make the first orb_serv_cpu_detect call at
//                 once                                       -> threads16=N or mixed
//   cbwr16        the same for the first orb_serv_cbwr_get(-1) -> cbwr16=0xN or mixed
#ifndef ORB_TESTS_CPU_PROBE_H
#define ORB_TESTS_CPU_PROBE_H

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"

// Exit status chosen by the probe's exit hook, distinct from 0, 1 and 126/127.
constexpr int kProbeHookStatus = 43;

// What one probe run gave back.
struct ProbeRun {
    std::string results;  // the "@" lines of the child, joined by single spaces
    ChildResult child;    // exit status and the raw output streams
};

// The setting that presents the processor of tests/cpus/<name>.cpuid.
std::string simulated_cpu(const std::string &name);

// Runs the probe script in a fresh process.  cpu names a table under
// tests/cpus/ (without ".cpuid"), or is empty to leave ORB_SIMULATE_CPU as
// the settings make it.
ProbeRun run_probe(const std::string &cpu, const std::vector<std::string> &settings,
                   const std::string &steps);

// The catalog text of a message that takes no arguments.
std::string catalog_text(int number);

// How many times needle occurs in text.
int count_occurrences(const std::string &text, const std::string &needle);

// One row of a data-driven probe test.
struct ProbeCase {
    const char *name;                   // test name suffix (letters, digits, '_')
    const char *cpu;                    // table under tests/cpus/, "" for none
    std::vector<std::string> settings;  // extra environment settings
    const char *steps;                  // the probe script
    const char *expect;                 // the expected results, space-separated
    int warning;                        // catalog message expected on standard
                                        // error; 0: standard error stays empty;
                                        // -1: standard error is not checked
};

// Runs the row and checks a clean exit, the results and standard error.
void expect_probe_case(const ProbeCase &row);

// Test names and failure printing for parameterised suites of ProbeCase rows.
std::string probe_case_name(const testing::TestParamInfo<ProbeCase> &info);
void PrintTo(const ProbeCase &row, std::ostream *os);

#endif
