// host_isa.h - what the machine running the tests can execute.
//
// The library asks its processor questions through its identity layer, which
// a test (or a whole test run, through ORB_SIMULATE_CPU) may point at a
// scripted processor.  Whether an instruction can actually run is a question
// for the real processor, so these checks execute CPUID and XGETBV
// themselves.  A test that runs a kernel set's code calls ORB_REQUIRE_HOST
// first and is skipped, with the reason, where the machine lacks it; a test
// executable that needs an instruction set throughout is built with
// orb_add_gtest(... NEEDS <isa>) instead, and skips as a whole.
#ifndef ORB_TESTS_HOST_ISA_H
#define ORB_TESTS_HOST_ISA_H

#include <string>

enum class HostIsa {
    sse4_2,  // SSE4.1 and SSE4.2
    avx2,    // AVX, AVX2 and FMA, with the AVX state enabled by the system
    avx512,  // AVX-512 F, DQ, BW and VL, with the AVX-512 state enabled
    fma4,    // AVX with the four-operand multiply-add
};

// True when this machine runs isa.
bool host_runs(HostIsa isa);

// The instruction set's name, as a skip message gives it.
const char *host_isa_name(HostIsa isa);

// The name given to orb_add_gtest(NEEDS ...): "sse4_2", "avx2", "avx512",
// "fma4"; false for an unknown name.
bool host_isa_from_name(const std::string &name, HostIsa *isa);

// True when the real processor's vendor string is "AuthenticAMD".
bool host_is_amd();

// Skips the current test when the machine cannot run isa.
#define ORB_REQUIRE_HOST(isa)                                                              \
    do {                                                                                   \
        if (!host_runs(isa)) GTEST_SKIP() << "this machine cannot run " << host_isa_name(isa); \
    } while (0)

#endif
