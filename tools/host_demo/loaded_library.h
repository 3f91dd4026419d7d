// loaded_library.h - libvorte_blas as the demo loads it: the module factory
// of the public header, and the library's own queries about the process
// (version, kernel set, threads, reproducibility mode), found by name with
// dlsym since the demo includes no other header of the library.
#ifndef ORB_TOOLS_HOST_DEMO_LOADED_LIBRARY_H
#define ORB_TOOLS_HOST_DEMO_LOADED_LIBRARY_H

#include <string>

#include "tools/process_facts.h"

namespace demo {

struct LoadedLibrary {
    void *handle = nullptr;                  // dlopen handle, open for the whole run
    void *(*create)() = nullptr;             // createBlasInstance
    void (*destroy)(void *) = nullptr;       // destroyBlasInstance
    bool has_queries = false;                // the process queries below were all found
    tools::ProcessFacts facts;               // their answers, when found
};

// Loads path and asks the library about the process; false with a message
// when the file is not a backend module.
bool load_library(const std::string &path, LoadedLibrary &out, std::string &error);

}  // namespace demo

#endif
