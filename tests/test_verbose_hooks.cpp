// The verbose-mode hooks of the entry points: the flag that entry points
// read through a cached pointer is one live value and is off until the call
// log is part of the library; the clock moves forward in seconds; a log line
// is "ORB_VERBOSE <call> <time>" on standard output with the time in the
// largest unit that keeps it above one.  With the flag raised by hand, the
// reference forms log every call, rejected ones included, and stop as soon
// as it is lowered again.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blas/interface/verbose_hooks.h"
#include "orb_blas.h"
#include "support/child_process.h"

namespace {

TEST(VerboseHooks, TheFlagIsOneLiveValueAndOff) {
    int *flag = orb_serv_iface_verbose_mode();
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(flag, orb_serv_iface_verbose_mode());
    EXPECT_EQ(*flag, 0);
}

TEST(VerboseHooks, TheClockCountsSeconds) {
    double t0 = orb_serv_iface_dsecnd();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    double elapsed = orb_serv_iface_dsecnd() - t0;
    EXPECT_GE(elapsed, 0.029);
    EXPECT_LT(elapsed, 5.0);
}

ORB_CHILD_ENTRY(print_log_lines) {
    const double times[] = {2.0, 1.5e-3, 5e-4, 2.5e-6, 2.5e-8, 0.0, -1.0};
    for (double t : times) orb_serv_iface_print_verbose_info(1, "SGEMM(N,T,1,2,3)", t);
    std::fflush(stdout);
    return 0;
}

TEST(VerboseHooks, LogLinesCarryTheCallAndItsTime) {
    ChildResult r = run_child("print_log_lines");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out,
              "ORB_VERBOSE SGEMM(N,T,1,2,3) 2.00s\n"
              "ORB_VERBOSE SGEMM(N,T,1,2,3) 1.50ms\n"
              "ORB_VERBOSE SGEMM(N,T,1,2,3) 500.00us\n"
              "ORB_VERBOSE SGEMM(N,T,1,2,3) 2.50us\n"
              "ORB_VERBOSE SGEMM(N,T,1,2,3) 25ns\n"
              "ORB_VERBOSE SGEMM(N,T,1,2,3) 0.00s\n"
              "ORB_VERBOSE SGEMM(N,T,1,2,3) 0.00s\n");
    EXPECT_EQ(r.err, "");
}

// Raises the live flag, makes logged and unlogged calls, and after them
// prints "expect:" lines with the call text each logged call must carry.
ORB_CHILD_ENTRY(log_entry_point_calls) {
    int *flag = orb_serv_iface_verbose_mode();
    *flag = 1;
    float alpha = 1.0f, beta = 0.0f;
    std::vector<float> a(16, 1.0f), b(16, 2.0f), c(16, 0.0f);
    int m = 2, n = 3, k = 4, lda = 2, ldb = 4, ldc = 2, bad_m = -1;
    sgemm_("N", "N", &m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc);
    std::fflush(stdout);
    std::printf("c=%g\n", static_cast<double>(c[0]));
    std::fflush(stdout);
    sgemm_("N", "N", &bad_m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc);
    int64_t m64 = 2, n64 = 3, k64 = 4, lda64 = 4, ldb64 = 4, ldc64 = 2;
    sgemm_64_("t", "N", &m64, &n64, &k64, &alpha, a.data(), &lda64, b.data(), &ldb64, &beta, c.data(), &ldc64);
    // Row-major: logged as the column-major call with the operands exchanged.
    cblas_sgemm(CblasRowMajor, CblasTrans, CblasNoTrans, 2, 3, 4, alpha, a.data(), 2, b.data(), 3, beta, c.data(),
                3);
    *flag = 0;
    sgemm_("N", "N", &m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc);
    std::fflush(stdout);

    const void *pa = a.data(), *pb = b.data(), *pc = c.data(), *palpha = &alpha, *pbeta = &beta;
    std::printf("expect:SGEMM(N,N,2,3,4,%p,%p,2,%p,4,%p,%p,2)\n", palpha, pa, pb, pbeta, pc);
    std::printf("expect:SGEMM(N,N,-1,3,4,%p,%p,2,%p,4,%p,%p,2)\n", palpha, pa, pb, pbeta, pc);
    std::printf("expect:SGEMM_64(t,N,2,3,4,%p,%p,4,%p,4,%p,%p,2)\n", palpha, pa, pb, pbeta, pc);
    // cblas_sgemm passes the addresses of its own copies of alpha and beta.
    std::printf("expect:SGEMM(N,T,3,2,4,0x[0-9a-f]+,%p,3,%p,2,0x[0-9a-f]+,%p,3)\n", pb, pa, pc);
    return 0;
}

TEST(VerboseHooks, ReferenceFormsLogWhileTheFlagIsUp) {
    ChildResult r = run_child("log_entry_point_calls", {"ORB_SIMULATE_CPU=ruzuv", "ORB_ENABLE_INSTRUCTIONS=AVX2"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> logged, expected;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("ORB_VERBOSE ", 0) == 0) logged.push_back(line);
        else if (line.rfind("expect:", 0) == 0) expected.push_back(line.substr(7));
    }
    ASSERT_EQ(logged.size(), 4u) << r.out;
    ASSERT_EQ(expected.size(), 4u) << r.out;
    const std::regex time_text(" ([0-9]+\\.[0-9]{2}(s|ms|us)|[0-9]+ns)$");
    for (size_t i = 0; i < 3; ++i) {
        std::string prefix = "ORB_VERBOSE " + expected[i] + " ";
        EXPECT_EQ(logged[i].rfind(prefix, 0), 0u) << logged[i] << "\nexpected " << prefix;
        EXPECT_TRUE(std::regex_search(logged[i], time_text)) << logged[i];
    }
    // The row-major call is logged as the column-major call with the operands exchanged.
    std::string row_major = std::regex_replace(expected[3], std::regex("[()]"), "\\$&");
    EXPECT_TRUE(std::regex_search(logged[3], std::regex("^ORB_VERBOSE " + row_major + " "))) << logged[3];
    EXPECT_TRUE(std::regex_search(logged[3], time_text)) << logged[3];
    // The first call computed its product: every element of C is 4 * (1 * 2).
    EXPECT_NE(r.out.find("c=8\n"), std::string::npos) << r.out;
}

}  // namespace
