// Test main: runs a child entry when re-executed as a child, the tests
// otherwise.  An executable built with orb_add_gtest(... NEEDS <isa>) first
// makes sure this machine runs that instruction set, and otherwise ends with
// the status CTest counts as a skip.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/child_process.h"
#include "support/host_isa.h"

int main(int argc, char **argv) {
    maybe_run_child_entry();
#ifdef ORB_TEST_NEEDS
    constexpr int kSkipStatus = 77;  // SKIP_RETURN_CODE of the CTest entries
    HostIsa needed;
    if (!host_isa_from_name(ORB_TEST_NEEDS, &needed)) {
        std::fprintf(stderr, "unknown instruction set %s\n", ORB_TEST_NEEDS);
        return 2;
    }
    if (!host_runs(needed)) {
        std::printf("Skipped: this machine cannot run %s\n", host_isa_name(needed));
        return kSkipStatus;
    }
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
