// Test main: runs a child entry when re-executed as a child, the tests otherwise.
#include <gtest/gtest.h>

#include "support/child_process.h"

int main(int argc, char **argv) {
    maybe_run_child_entry();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
