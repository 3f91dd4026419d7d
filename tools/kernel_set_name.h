// kernel_set_name.h - the name of the kernel set a process of libvorte_blas
// runs, from what the library reports about itself: its cpu type
// (orb_serv_cpu_detect), its reproducibility branch and, on the baseline
// set, the AMD sub-model its SGEMM takes.  Shared by orb_info, which links
// the library, and the host demo, which reaches the same queries by dlsym;
// it includes no library header.
#ifndef ORB_TOOLS_KERNEL_SET_NAME_H
#define ORB_TOOLS_KERNEL_SET_NAME_H

#include <string>

namespace tools {

// What decides the kernel set of a process.
struct KernelSetFacts {
    int cpu_type = -1;          // 0 or 1 baseline, 3 SSE4.2, 5 AVX2, 7 AVX-512
    bool reproducible = false;  // a reproducibility branch other than OFF is in force
    bool zen = false;           // the processor is of the AMD Zen family
    bool bulldozer = false;     // ... of the AMD Bulldozer family
    bool barcelona = false;     // ... an AMD Barcelona
};

// The set's own name: def, cnr_def, mc3, avx2, avx512 or "unknown".  The
// baseline types take the reproducible twin under any branch but OFF.
inline const char *kernel_set_name(const KernelSetFacts &f) {
    switch (f.cpu_type) {
    case 0:
    case 1: return f.reproducible ? "cnr_def" : "def";
    case 3: return "mc3";
    case 5: return "avx2";
    case 7: return "avx512";
    default: return "unknown";
    }
}

// The instruction set the set's kernels use.
inline const char *kernel_set_instructions(const KernelSetFacts &f) {
    switch (f.cpu_type) {
    case 0:
    case 1: return "SSE2";
    case 3: return "SSE4.2";
    case 5: return "AVX2 with FMA";
    case 7: return "AVX-512";
    default: return "?";
    }
}

// The AMD sub-model the baseline SGEMM takes on cpu type 0, or "" when none.
inline const char *baseline_sub_model(const KernelSetFacts &f) {
    if (f.cpu_type != 0) return "";
    if (f.barcelona) return "Barcelona";
    if (f.zen) return "Zen";
    if (f.bulldozer) return "Bulldozer";
    return "";
}

// The short form the demo's rows print: the set, and "+Zen" (say) when a
// sub-model carries its SGEMM.
inline std::string kernel_set_label(const KernelSetFacts &f) {
    std::string label = kernel_set_name(f);
    const char *sub_model = baseline_sub_model(f);
    if (*sub_model) label += std::string("+") + sub_model;
    return label;
}

}  // namespace tools

#endif
