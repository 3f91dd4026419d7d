// process_facts.h - what a loaded libvorte_blas says about the process it
// runs in: its version, the kernel set it chose, whether the vendor check
// passed, its thread count and its reproducibility mode.  For programs that
// load the library with dlopen and include none of its headers (the host
// demo, the benchmark suite): the queries are found by name.
#ifndef ORB_TOOLS_PROCESS_FACTS_H
#define ORB_TOOLS_PROCESS_FACTS_H

#include <string>

#include "tools/kernel_set_name.h"

namespace tools {

struct ProcessFacts {
    std::string version;         // the version line
    KernelSetFacts kernel_set;   // what decides the kernel set
    bool ruzuv_vendor = false;   // the vendor check passed ("GenuineRuzuv")
    int threads = 0;             // threads the library may use
    int cbwr_mode = 1;           // reproducibility mode: branch in the low 16 bits, bit 16 STRICT
};

// Asks the library behind a dlopen handle; false (out untouched) when it
// lacks one of the queries.
bool query_process_facts(void *handle, ProcessFacts &out);

// The name of a reproducibility mode: "OFF", "AVX2, STRICT", ...
std::string cbwr_mode_name(int mode);

}  // namespace tools

#endif
