// The verbose log under threads: sixteen threads make their first calls at
// the same moment, in a process whose mode, output file and header are all
// still undecided (only the clock has been read).  The header is written exactly once and before every
// line, and every line on standard output arrives whole.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blas/interface/verbose_hooks.h"
#include "orb_blas.h"
#include "support/child_process.h"

namespace {

constexpr int kThreads = 16;

ORB_CHILD_ENTRY(first_calls_together) {
    // The clock's one-time measurement would hold the threads up one by one.
    orb_serv_iface_dsecnd();
    std::atomic<int> waiting{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&waiting] {
            const int n = 4, inc = 1;
            const float alpha = 1.0f, beta = 0.0f;
            std::vector<float> a(16, 1.0f), b(16, 1.0f), c(16, 0.0f);
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            sgemm_("N", "T", &n, &n, &n, &alpha, a.data(), &n, b.data(), &n, &beta, c.data(), &n);
            sgemv_("N", &n, &n, &alpha, a.data(), &n, b.data(), &inc, &beta, c.data(), &inc);
        });
    for (std::thread &t : threads) t.join();
    return 0;
}

TEST(VerboseConcurrency, HeaderOnceAndWholeLinesWhenSixteenThreadsStartTogether) {
    ChildResult r = run_child("first_calls_together", {"ORB_VERBOSE=2"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::regex header("ORB_VERBOSE ORB [0-9]+ .* build [0-9]{8} for .*, Lnx [0-9.]+GHz lp64 OpenMP threading");
    const std::string stats = " ([0-9]+\\.[0-9]{2}(s|ms|us)|[0-9]+ns) CNR:[A-Z0-9_?]+(,STRICT)? Dyn:[01] FastMM:[01] "
                              "TID:0  NThr:[0-9]+(,[A-Z]+:[0-9]+)*";
    const std::string p = "0x[0-9a-f]+";
    const std::regex gemm("ORB_VERBOSE SGEMM\\(N,T,4,4,4," + p + "," + p + ",4," + p + ",4," + p + "," + p + ",4\\)" +
                          stats);
    const std::regex gemv("ORB_VERBOSE SGEMV\\(N,4,4," + p + "," + p + ",4," + p + ",1," + p + "," + p + ",1\\)" +
                          stats);
    std::istringstream lines(r.out);
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_TRUE(std::regex_match(line, header)) << line;
    int gemm_lines = 0, gemv_lines = 0;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, gemm)) ++gemm_lines;
        else if (std::regex_match(line, gemv)) ++gemv_lines;
        else ADD_FAILURE() << "not a whole line: " << line;
    }
    EXPECT_EQ(gemm_lines, kThreads);
    EXPECT_EQ(gemv_lines, kThreads);
}

}  // namespace
