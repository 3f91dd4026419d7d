// The host demo's command line, run as a user runs it: the demo binary in a
// child process, each option with good and bad values.  A bad option or
// shape must end the demo before it loads anything, with status 2 and a
// message naming the option; a good one must reach the library (the kernel
// set, thread count and reproducibility mode the demo reports come from the
// library's own queries) and the shapes given must be the rows run, each
// agreeing with the demo's double-precision product.  Processors are
// presented through --cpu, which the demo passes on by restarting itself.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/host_isa.h"

namespace {

std::string cpu(const char *table) { return "--cpu=file:" + test_data_path(std::string("cpus/") + table); }

ChildResult run_demo(std::vector<std::string> args, const std::vector<std::string> &settings = {}) {
    args.push_back(ORB_LIBRARY_PATH);
    return run_program(ORB_HOST_DEMO_PATH, args, settings);
}

TEST(HostDemo, BadOptionsEndWithAMessageAndStatus2) {
    // (arguments, what the message must contain)
    const struct {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"--threads=0"}, "bad --threads value '0'"},
        {{"--threads=two"}, "bad --threads value 'two'"},
        {{"--threads"}, "option --threads needs a value"},
        {{"--reps=0"}, "bad --reps value '0'"},
        {{"--reps=-3"}, "bad --reps value '-3'"},
        {{"--sgemm=64x64"}, "bad --sgemm value '64x64'"},
        {{"--sgemm=0x8x8"}, "bad --sgemm value '0x8x8'"},
        {{"--sgemm=8x8x8:NX"}, "bad --sgemm value '8x8x8:NX'"},
        {{"--sgemm=8x8x8:N"}, "bad --sgemm value '8x8x8:N'"},
        {{"--sgemm=2147483648x1x1"}, "bad --sgemm value"},
        {{"--sgemm=100000x100000x100000"}, "needs more than 4 GiB"},
        {{"--sgemv=8x8x8"}, "bad --sgemv value '8x8x8'"},
        {{"--sgemv=8x8:TT"}, "bad --sgemv value '8x8:TT'"},
        {{"--cbwr=fastest"}, "bad --cbwr value 'fastest'"},
        {{"--cbwr=off,strict"}, "bad --cbwr value 'off,strict'"},
        {{"--cbwr=avx2,loose"}, "bad --cbwr value 'avx2,loose'"},
        {{"--cpu=intel"}, "bad --cpu value 'intel'"},
        {{"--cpu=file:/nonexistent/table.cpuid"}, "cannot read /nonexistent/table.cpuid"},
        {{"--verbose"}, "unknown option --verbose"},
        {{"/tmp/other_library.so"}, "one library only"},
    };
    for (const auto &c : cases) {
        const ChildResult r = run_demo(c.args);
        EXPECT_EQ(r.exit_code, 2) << c.args[0];
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args[0] << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.args[0];
    }
}

TEST(HostDemo, UsageAndAnUnloadableLibrary) {
    const ChildResult help = run_program(ORB_HOST_DEMO_PATH, {"--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char *option : {"--threads=", "--cpu=", "--cbwr=", "--sgemm=", "--sgemv=", "--reps=", "--csv"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;

    const ChildResult missing = run_program(ORB_HOST_DEMO_PATH, {"--sgemm=8x8x8", "/nonexistent/libvorte_blas.so"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("cannot load /nonexistent/libvorte_blas.so"), std::string::npos) << missing.err;
}

// The given shapes are the rows, in order, with both transpositions and
// edge sizes, and each agrees with the double-precision product.
TEST(HostDemo, CsvRowsAreTheShapesGiven) {
    const std::vector<std::string> shapes = {"--sgemm=64x48x32:NT", "--sgemv=100x37:T", "--sgemm=17x5x300:TT",
                                             "--sgemv=33x1:N", "--sgemm=1x130x9:TN"};
    const std::vector<std::string> expected = {"sgemm,NT,64,48,32", "sgemv,T,100,37,0", "sgemm,TT,17,5,300",
                                               "sgemv,N,33,1,0", "sgemm,TN,1,130,9"};
    std::vector<std::string> args = {cpu("other_vendor_avx512_amx.cpuid"), "--csv", "--reps=1"};
    args.insert(args.end(), shapes.begin(), shapes.end());
    const ChildResult r = run_demo(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "row,call,trans,m,n,k,kernels,seconds,gflops,gbytes,max_rel_error");
    for (const std::string &row : expected) {
        ASSERT_TRUE(std::getline(lines, line)) << "missing row " << row;
        EXPECT_EQ(line.compare(0, row.size() + 1, "," + row), 0) << line;
        EXPECT_NE(line.find(",def,"), std::string::npos) << line;
        const double error = std::stod(line.substr(line.rfind(',') + 1));
        EXPECT_LT(error, 1e-5) << line;
    }
    EXPECT_FALSE(std::getline(lines, line)) << "extra row " << line;
}

// Each setting shows in what the library reports, and the note on the
// withheld faster set appears exactly where the vendor check fails on a
// machine that can run more than the baseline set.
TEST(HostDemo, SettingsReachTheLibrary) {
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> settings;   // the demo's environment
        const char *needs;                   // instruction set the host must run, or null
        std::vector<std::string> shown;      // what standard output must contain
        std::vector<std::string> not_shown;  // what it must not contain
    } cases[] = {
        {{cpu("ruzuv_sse42.cpuid")}, {}, "sse4_2", {"kernel set:  mc3 (SSE4.2)", "vendor check passed"}, {"note:"}},
        {{cpu("ruzuv_avx2.cpuid"), "--threads=1"}, {}, "avx2", {"kernel set:  avx2", "threads 1;", "with 1 thread "}, {}},
        {{cpu("other_vendor_avx512_amx.cpuid"), "--cbwr=compatible,strict"},
         {},
         nullptr,
         {"kernel set:  cnr_def", "reproducibility COMPATIBLE, STRICT"},
         {"note:"}},
        {{cpu("other_vendor_avx512_amx.cpuid"), "--cbwr=compatible", "--cbwr=off"},
         {},
         nullptr,
         {"kernel set:  def (SSE2);", "reproducibility OFF"},
         {}},
        {{"--cpu=real"},
         {"ORB_SIMULATE_CPU=file:" + test_data_path("cpus/ruzuv_sse42.cpuid")},
         nullptr,
         {"processor:   the real one"},
         {"kernel set:  mc3"}},
        {{cpu("amd_zen.cpuid")},
         {},
         "avx2",
         {"kernel set:  def (SSE2), SGEMM on the Zen sub-model", "vendor check failed",
          "note: the vendor check keeps this processor on the baseline set (def+Zen) though it can run",
          "ORB_SIMULATE_CPU=ruzuv", "instead of"},
         {}},
    };
    for (const auto &c : cases) {
        HostIsa isa;
        if (c.needs && host_isa_from_name(c.needs, &isa) && !host_runs(isa)) continue;
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--sgemm=96x80x64:NT", "--sgemv=70x50:N", "--reps=1"});
        const ChildResult r = run_demo(args, c.settings);
        EXPECT_EQ(r.exit_code, 0) << c.args[0] << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find("summary: 2 rows"), std::string::npos) << r.out;
        for (const std::string &text : c.shown) EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
        for (const std::string &text : c.not_shown) EXPECT_EQ(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    }
}

}  // namespace
