// options.h - the host demo's command line.
#ifndef ORB_TOOLS_HOST_DEMO_OPTIONS_H
#define ORB_TOOLS_HOST_DEMO_OPTIONS_H

#include <string>
#include <vector>

#include "product.h"

namespace demo {

struct Options {
    std::string library;            // libvorte_blas.so to load; "" for the one built beside the demo
    int threads = 0;                // ORB_NUM_THREADS; 0 leaves the library's own choice
    bool cpu_given = false;         // --cpu was given
    std::string cpu;                // ORB_SIMULATE_CPU; "" presents the real processor
    bool cbwr_given = false;        // --cbwr was given
    std::string cbwr;               // ORB_CBWR; "" is OFF (the variable unset)
    std::vector<Product> products;  // shapes given, in order; empty runs the inference workload
    int reps = 0;                   // timed repetitions of every row; 0 fills a fifth of a second
    bool csv = false;               // rows as comma-separated values, nothing else
    bool help = false;              // print the usage and stop
};

// Reads argv into out.  A bad option or shape returns false with a message
// that names it and says what was expected.
bool parse_options(int argc, char **argv, Options &out, std::string &error);

// The --help text.
const char *usage();

}  // namespace demo

#endif
