// The verbose log as the entry points write it.  With "ORB_VERBOSE" set,
// every reference-form SGEMM and SGEMV call is logged with its own format:
// rejected calls included (integers and letters behind null pointers
// printed as 0, a missing integer reported as a bad argument), CBLAS calls as the reference call they make (row-major:
// operands and dimensions exchanged), CBLAS SGEMV quick returns not at all,
// and nothing once the mode is set to 0.  The header comes first, once.
// Runs in a child process, since the mode is read once per process.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "orb_blas.h"
#include "support/child_process.h"

namespace {

// Rejected calls are reported as "reported <routine name> <parameter>".
void print_report(const char *name, const int64_t *info, int len) {
    std::printf("reported %.*s%lld\n", len, name, static_cast<long long>(*info));
}

// A pointer as the log prints it, escaped for a regular expression (glibc
// prints a null pointer as "(nil)").
std::string pointer(const void *p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return std::regex_replace(text, std::regex("[()]"), "\\$&");
}

// Makes logged and unlogged calls, then prints "expect:" lines with the
// call text (a regular expression) of each logged call, in order.
ORB_CHILD_ENTRY(log_entry_point_calls) {
    orb_serv_set_xerbla(print_report);
    float alpha = 1.0f, beta = 0.0f, one = 1.0f, zero = 0.0f;
    std::vector<float> a(64, 1.0f), b(64, 2.0f), c(64, 0.0f);
    const int m = 2, n = 3, k = 4, two = 2, four = 4, bad = -1, inc = 1;
    const int64_t m64 = 3, n64 = 4, lda64 = 5, incx64 = -1, incy64 = 2;
    const std::string pa = pointer(a.data()), pb = pointer(b.data()), pc = pointer(c.data());
    const std::string palpha = pointer(&alpha), pbeta = pointer(&beta), pnull = pointer(nullptr);
    const std::string any = "0x[0-9a-f]+";  // the CBLAS forms' own copies of alpha and beta
    std::vector<std::string> expect;

    sgemm_("N", "N", &m, &n, &k, &alpha, a.data(), &two, b.data(), &four, &beta, c.data(), &two);
    expect.push_back("SGEMM\\(N,N,2,3,4," + palpha + "," + pa + ",2," + pb + ",4," + pbeta + "," + pc + ",2\\)");
    std::printf("c=%g\n", static_cast<double>(c[0]));  // 4 * (1 * 2)
    sgemm_("N", "N", &bad, &n, &k, &alpha, a.data(), &two, b.data(), &four, &beta, c.data(), &two);
    expect.push_back("SGEMM\\(N,N,-1,3,4," + palpha + "," + pa + ",2," + pb + ",4," + pbeta + "," + pc + ",2\\)");
    sgemm_(nullptr, "t", nullptr, &n, nullptr, nullptr, nullptr, nullptr, nullptr, &four, nullptr, nullptr, nullptr);
    expect.push_back("SGEMM\\(0,t,0,3,0," + pnull + "," + pnull + ",0," + pnull + ",4," + pnull + "," + pnull +
                     ",0\\)");
    sgemm_64_("t", "N", &m64, &n64, &n64, &alpha, a.data(), &lda64, b.data(), &n64, &beta, c.data(), &m64);
    expect.push_back("SGEMM_64\\(t,N,3,4,4," + palpha + "," + pa + ",5," + pb + ",4," + pbeta + "," + pc + ",3\\)");
    cblas_sgemm(CblasRowMajor, CblasTrans, CblasNoTrans, 2, 3, 4, alpha, a.data(), 2, b.data(), 3, beta, c.data(), 3);
    expect.push_back("SGEMM\\(N,T,3,2,4," + any + "," + pb + ",3," + pa + ",2," + any + "," + pc + ",3\\)");

    // Quick returns of the CBLAS form call nothing, so they log nothing.
    cblas_sgemv(CblasColMajor, CblasNoTrans, 3, 4, 0.0f, a.data(), 3, b.data(), 1, 1.0f, c.data(), 1);
    cblas_sgemv(CblasRowMajor, CblasTrans, 0, 4, 1.0f, a.data(), 4, b.data(), 1, 0.0f, c.data(), 1);
    sgemv_("N", &n, &k, &alpha, a.data(), &n, b.data(), &inc, &beta, c.data(), &inc);
    expect.push_back("SGEMV\\(N,3,4," + palpha + "," + pa + ",3," + pb + ",1," + pbeta + "," + pc + ",1\\)");
    // The reference form has no quick return: alpha 0 with beta 1 is logged.
    sgemv_("C", &n, &k, &zero, a.data(), &n, b.data(), &inc, &one, c.data(), &inc);
    expect.push_back("SGEMV\\(C,3,4," + pointer(&zero) + "," + pa + ",3," + pb + ",1," + pointer(&one) + "," + pc +
                     ",1\\)");
    sgemv_("T", &n, &k, &alpha, a.data(), &n, b.data(), nullptr, &beta, c.data(), &inc);
    expect.push_back("SGEMV\\(T,3,4," + palpha + "," + pa + ",3," + pb + ",0," + pbeta + "," + pc + ",1\\)");
    sgemv_64_("T", &m64, &n64, &alpha, a.data(), &lda64, b.data(), &incx64, &beta, c.data(), &incy64);
    expect.push_back("SGEMV_64\\(T,3,4," + palpha + "," + pa + ",5," + pb + ",-1," + pbeta + "," + pc + ",2\\)");
    // Row-major M = 2, N = 5, no transpose: SGEMV("T", 5, 2, ...).
    cblas_sgemv(CblasRowMajor, CblasNoTrans, 2, 5, 1.0f, a.data(), 6, b.data(), 1, 0.0f, c.data(), 3);
    expect.push_back("SGEMV\\(T,5,2," + any + "," + pa + ",6," + pb + ",1," + any + "," + pc + ",3\\)");

    orb_serv_verbose(0);
    sgemm_("N", "N", &m, &n, &k, &alpha, a.data(), &two, b.data(), &four, &beta, c.data(), &two);
    sgemv_("N", &n, &k, &alpha, a.data(), &n, b.data(), &inc, &beta, c.data(), &inc);
    for (const std::string &e : expect) std::printf("expect:%s\n", e.c_str());
    return 0;
}

TEST(VerboseHooks, EntryPointsLogEveryCallInTheirFormat) {
    ChildResult r = run_child("log_entry_point_calls", {"ORB_VERBOSE=1"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> headers, logged, expected, reported;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("ORB_VERBOSE ORB ", 0) == 0) headers.push_back(line);
        else if (line.rfind("reported ", 0) == 0) reported.push_back(line.substr(9));
        else if (line.rfind("ORB_VERBOSE ", 0) == 0) logged.push_back(line);
        else if (line.rfind("expect:", 0) == 0) expected.push_back(line.substr(7));
    }
    EXPECT_EQ(r.out.rfind("ORB_VERBOSE ORB ", 0), 0u) << r.out;
    EXPECT_EQ(headers.size(), 1u) << r.out;
    ASSERT_EQ(expected.size(), 10u) << r.out;
    ASSERT_EQ(logged.size(), expected.size()) << r.out;
    for (size_t i = 0; i < logged.size(); ++i)
        EXPECT_TRUE(std::regex_match(logged[i], std::regex("ORB_VERBOSE " + expected[i] +
                                                           " ([0-9]+\\.[0-9]{2}(s|ms|us)|[0-9]+ns) CNR:.+")))
            << logged[i] << "\nexpected " << expected[i];
    EXPECT_NE(r.out.find("c=8\n"), std::string::npos) << r.out;
    EXPECT_EQ(reported, (std::vector<std::string>{"SGEMM 3", "SGEMM 1", "SGEMV 8"}));
}

}  // namespace
