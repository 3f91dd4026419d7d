// loaded_library.h - libvorte_blas as the demo loads it: the module factory
// of the public header, and the library's own queries about the process
// (version, kernel set, threads, reproducibility mode), found by name with
// dlsym since the demo includes no other header of the library.
#ifndef ORB_TOOLS_HOST_DEMO_LOADED_LIBRARY_H
#define ORB_TOOLS_HOST_DEMO_LOADED_LIBRARY_H

#include <string>

#include "tools/kernel_set_name.h"

namespace demo {

// What the library says about this process.
struct ProcessFacts {
    std::string version;               // the version line
    tools::KernelSetFacts kernel_set;  // what decides the kernel set
    bool ruzuv_vendor = false;         // the vendor check passed ("GenuineRuzuv")
    int threads = 0;                   // threads the library may use
    int cbwr_mode = 1;                 // reproducibility mode: branch in the low 16 bits, bit 16 STRICT
};

struct LoadedLibrary {
    void *handle = nullptr;                  // dlopen handle, open for the whole run
    void *(*create)() = nullptr;             // createBlasInstance
    void (*destroy)(void *) = nullptr;       // destroyBlasInstance
    bool has_queries = false;                // the process queries below were all found
    ProcessFacts facts;                      // their answers, when found
};

// Loads path and asks the library about the process; false with a message
// when the file is not a backend module.
bool load_library(const std::string &path, LoadedLibrary &out, std::string &error);

// The name of a reproducibility mode: "OFF", "AVX2, STRICT", ...
std::string cbwr_mode_name(int mode);

}  // namespace demo

#endif
