// The verbose call log of the SGEMV forms.  With the live flag raised, every
// reference-form call is logged with the SGEMV or SGEMV_64 format, a
// rejected one included, and a CBLAS call is logged as the reference call it
// makes (row-major: the exchanged dimensions and the mapped letter).  CBLAS
// calls that take the quick return call nothing, so they log nothing.  Runs
// in a child process, since the flag and the cached pointers to it belong to
// the process.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "blas/interface/verbose_hooks.h"
#include "orb_blas.h"
#include "support/child_process.h"

namespace {

void ignore_report(const char *, const int64_t *, int) {}

// Raises the flag, makes logged and unlogged calls, then prints "expect:"
// lines with the call text (a regular expression) of each logged call.
ORB_CHILD_ENTRY(log_sgemv_calls) {
    orb_serv_set_xerbla(ignore_report);
    int *flag = orb_serv_iface_verbose_mode();
    *flag = 1;
    float alpha = 1.0f, beta = 0.0f, one_f = 1.0f, zero_f = 0.0f;
    std::vector<float> a(64, 1.0f), x(16, 2.0f), y(16, 0.0f);
    const int m = 3, n = 4, lda = 3, inc = 1, bad_n = -2;

    // Quick returns of the CBLAS form: nothing is logged.
    cblas_sgemv(CblasColMajor, CblasNoTrans, 3, 4, 0.0f, a.data(), 3, x.data(), 1, 1.0f, y.data(), 1);
    cblas_sgemv(CblasRowMajor, CblasTrans, 0, 4, 1.0f, a.data(), 4, x.data(), 1, 0.0f, y.data(), 1);
    cblas_sgemv(CblasRowMajor, CblasNoTrans, 3, 0, 1.0f, a.data(), 1, x.data(), 1, 0.0f, y.data(), 1);

    sgemv_("N", &m, &n, &alpha, a.data(), &lda, x.data(), &inc, &beta, y.data(), &inc);
    std::fflush(stdout);
    std::printf("y=%g\n", static_cast<double>(y[0]));
    std::fflush(stdout);
    sgemv_("t", &m, &bad_n, &alpha, a.data(), &lda, x.data(), &inc, &beta, y.data(), &inc);
    // The reference form has no quick return: alpha 0 with beta 1 is logged.
    sgemv_("C", &m, &n, &zero_f, a.data(), &lda, x.data(), &inc, &one_f, y.data(), &inc);
    const int64_t m64 = 3, n64 = 4, lda64 = 5, incx64 = -1, incy64 = 2;
    sgemv_64_("T", &m64, &n64, &alpha, a.data(), &lda64, x.data(), &incx64, &beta, y.data(), &incy64);
    // Row-major M = 2, N = 5, no transpose: SGEMV("T", 5, 2, ...).
    cblas_sgemv(CblasRowMajor, CblasNoTrans, 2, 5, 1.0f, a.data(), 6, x.data(), 1, 0.0f, y.data(), 3);
    *flag = 0;
    sgemv_("N", &m, &n, &alpha, a.data(), &lda, x.data(), &inc, &beta, y.data(), &inc);
    std::fflush(stdout);

    char pa[32], px[32], py[32], palpha[32], pbeta[32], pone[32], pzero[32];
    std::snprintf(pa, sizeof pa, "%p", static_cast<const void *>(a.data()));
    std::snprintf(px, sizeof px, "%p", static_cast<const void *>(x.data()));
    std::snprintf(py, sizeof py, "%p", static_cast<const void *>(y.data()));
    std::snprintf(palpha, sizeof palpha, "%p", static_cast<const void *>(&alpha));
    std::snprintf(pbeta, sizeof pbeta, "%p", static_cast<const void *>(&beta));
    std::snprintf(pone, sizeof pone, "%p", static_cast<const void *>(&one_f));
    std::snprintf(pzero, sizeof pzero, "%p", static_cast<const void *>(&zero_f));
    std::printf("expect:SGEMV\\(N,3,4,%s,%s,3,%s,1,%s,%s,1\\)\n", palpha, pa, px, pbeta, py);
    std::printf("expect:SGEMV\\(t,3,-2,%s,%s,3,%s,1,%s,%s,1\\)\n", palpha, pa, px, pbeta, py);
    std::printf("expect:SGEMV\\(C,3,4,%s,%s,3,%s,1,%s,%s,1\\)\n", pzero, pa, px, pone, py);
    std::printf("expect:SGEMV_64\\(T,3,4,%s,%s,5,%s,-1,%s,%s,2\\)\n", palpha, pa, px, pbeta, py);
    // cblas_sgemv passes the addresses of its own copies of alpha and beta.
    std::printf("expect:SGEMV\\(T,5,2,0x[0-9a-f]+,%s,6,%s,1,0x[0-9a-f]+,%s,3\\)\n", pa, px, py);
    return 0;
}

TEST(SgemvVerbose, ReferenceCallsAreLoggedAndQuickReturnsAreNot) {
    ChildResult r = run_child("log_sgemv_calls", {"ORB_SIMULATE_CPU=ruzuv", "ORB_ENABLE_INSTRUCTIONS=AVX2"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> logged, expected;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("ORB_VERBOSE ", 0) == 0) logged.push_back(line);
        else if (line.rfind("expect:", 0) == 0) expected.push_back(line.substr(7));
    }
    ASSERT_EQ(expected.size(), 5u) << r.out;
    ASSERT_EQ(logged.size(), expected.size()) << r.out;
    for (size_t i = 0; i < logged.size(); ++i)
        EXPECT_TRUE(std::regex_search(
            logged[i], std::regex("^ORB_VERBOSE " + expected[i] + " ([0-9]+\\.[0-9]{2}(s|ms|us)|[0-9]+ns)$")))
            << logged[i] << "\nexpected " << expected[i];
    // The first call computed y(0) = 4 * (1 * 2).
    EXPECT_NE(r.out.find("y=8\n"), std::string::npos) << r.out;
}

}  // namespace
