// An application that defines its own link of the handler chain receives the
// library's reports, as a Fortran test program that defines xerbla_ (or
// XERBLA) does.  Linked against the shared library like any application.
//
// Built twice: as test_xerbla_interpose, where this program defines xerbla_,
// and with ORB_TEST_DEFINES_UPPER_XERBLA as test_xerbla_interpose_upper,
// where it defines XERBLA, one link further down the chain.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "orb_service.h"
#include "support/child_process.h"

#ifdef ORB_TEST_DEFINES_UPPER_XERBLA
#define APPLICATION_HANDLER XERBLA
#else
#define APPLICATION_HANDLER xerbla_
#endif

// The application's handler: prints what it received, one line per report.
extern "C" __attribute__((visibility("default"))) void APPLICATION_HANDLER(const char *name,
                                                                          const int64_t *info, int len) {
    std::printf("application:%.*s|%lld|%d\n", len, name, static_cast<long long>(*info), len);
}

namespace {

const char *const kDefaultText = "ORB ERROR:";

// Every reporter of the library, after the entry points' usual installation.
ORB_CHILD_ENTRY(report_through_every_reporter) {
    orb_set_xerbla_interface(cdecl_xerbla);
    int64_t three = 3, minus_two = -2;
    cdecl_xerbla("SGEMM ", &three, 6);
    cblas_xerbla("cblas_sgemm", 4);
    orb_serv_xerbla("SGEMV ", &minus_two, 6);
    orb_serv_iface_xerbla("SGEMM ", &three, 6);
    cblas_xerbla_malloc_error("cblas_sgemv");
    orb_serv_check_ptr(nullptr, "orb_buffer");
    return 0;
}

TEST(Interposition, ApplicationHandlerReceivesEveryReport) {
    ChildResult r = run_child("report_through_every_reporter");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out,
              "application:SGEMM |3|6\n"
              "application:cblas_sgemm|4|11\n"
              "application:SGEMV |-2|6\n"
              "application:SGEMM |3|6\n"
              "application:cblas_sgemv|1000|11\n"
              "application:orb_buffer|1102|10\n");
    EXPECT_EQ(r.out.find(kDefaultText), std::string::npos);
    EXPECT_EQ(r.err, "");
}

// cblas_xerbla installs cdecl_xerbla by itself in a fresh process.
ORB_CHILD_ENTRY(cblas_report_in_fresh_process) {
    cblas_xerbla("cblas_sgemv", 12);
    return 0;
}

TEST(Interposition, CblasReporterInstallsTheChain) {
    EXPECT_EQ(run_child("cblas_report_in_fresh_process").out, "application:cblas_sgemv|12|11\n");
}

// Links called directly: those above the application's reach it, those
// below it end in the library's default report.
ORB_CHILD_ENTRY(call_each_link) {
    int64_t info = 8;
    for (orb_xerbla_fn link : {cdecl_xerbla, xerbla, xerbla_, XERBLA_, XERBLA}) {
        std::printf("-\n");
        link("SGEMM ", &info, 6);
    }
    return 0;
}

TEST(Interposition, LinksBelowTheApplicationsStillPrintTheDefault) {
    std::string mine = "-\napplication:SGEMM |8|6\n";
    std::string library_default = "-\n\nORB ERROR: Parameter 8 was incorrect on entry to SGEMM .\n";
#ifdef ORB_TEST_DEFINES_UPPER_XERBLA
    std::string expected = mine + mine + mine + mine + mine;
#else
    // xerbla_ itself is the application's; XERBLA_ and XERBLA lie below it.
    std::string expected = mine + mine + mine + library_default + library_default;
#endif
    EXPECT_EQ(run_child("call_each_link").out, expected);
}

// With the default restored the library prints its own report.
ORB_CHILD_ENTRY(report_with_default_handler) {
    orb_serv_set_xerbla(nullptr);
    int64_t info = 3;
    orb_serv_xerbla("SGEMM ", &info, 6);
    return 0;
}

TEST(Interposition, DefaultHandlerIsNotPartOfTheChain) {
    EXPECT_EQ(run_child("report_with_default_handler").out,
              "\nORB ERROR: Parameter 3 was incorrect on entry to SGEMM .\n");
}

}  // namespace
