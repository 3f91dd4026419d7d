// The verbose log: its mode from "ORB_VERBOSE" and orb_serv_verbose, the
// statistics text and header built from given values, the destination
// (standard output, a file named by the variable or the setter, and the
// fallbacks when a file cannot be used), and the statistics of the live
// settings.  The mode and the file are read once per process, so those
// cases run in child processes.
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "blas/interface/verbose_log.h"
#include "blas/interface/verbose_text.h"
#include "orb_service.h"
#include "support/child_process.h"

namespace {

std::string read_text(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh directory for one test's files.
std::string fresh_directory(const char *name) {
    const std::string dir = testing::TempDir() + name + "_" + std::to_string(getpid());
    std::remove((dir + "/log").c_str());
    rmdir(dir.c_str());
    mkdir(dir.c_str(), 0700);
    return dir;
}

const std::regex kHeader("ORB_VERBOSE ORB [0-9]+( Update [0-9]+)?( Patch [0-9]+)? [^ ]+ build [0-9]{8} for .+, "
                         "Lnx [0-9]+\\.[0-9]{2}GHz lp64 OpenMP threading\n");

ORB_CHILD_ENTRY(print_mode) {
    int *mode = orb_serv_verbose_mode();
    std::printf("%d", *mode);
    // Out-of-range values change nothing; a valid one is seen through the same pointer.
    std::printf(" %d %d", orb_serv_verbose(5), orb_serv_verbose(-1));
    std::printf(" %d", *mode);
    std::printf(" %d %d", orb_serv_verbose(2), *mode);
    return orb_serv_verbose_mode() == mode ? 0 : 1;
}

TEST(VerboseLog, ModeIsReadFromTheEnvironmentAndSetByCall) {
    const struct {
        const char *setting;  // environment of the child
        int mode;             // mode it reads
    } cases[] = {
        {"ORB_VERBOSE=1", 1},  {"ORB_VERBOSE=0x1", 1}, {"ORB_VERBOSE=2", 2},  {"ORB_VERBOSE=02", 2},
        {"ORB_VERBOSE=010", 0}, {"ORB_VERBOSE=1a", 0},  {"ORB_VERBOSE=3", 0},  {"ORB_VERBOSE=-1", 0},
        {"ORB_VERBOSE=", 0},    {"ORB_VERBOSE=4294967297", 1}, {"ORB_VERBOSE", 0},
    };
    for (const auto &c : cases) {
        ChildResult r = run_child("print_mode", {c.setting});
        EXPECT_EQ(r.exit_code, 0) << c.setting;
        EXPECT_EQ(r.out, std::to_string(c.mode) + " -1 -1 " + std::to_string(c.mode) + " 2 2") << c.setting;
    }
}

// Statistics with the reproducibility mode given whole (branch and STRICT bit).
VerboseStatistics stats(double seconds, int mode, int dynamic, int fast_mm_status, int tid, int nthr, int blas,
                        int fft, int eltwise, int sparse) {
    return {seconds, mode & 0xFFFF, mode, dynamic, fast_mm_status, tid, nthr, {blas, fft, eltwise, sparse}};
}

TEST(VerboseLog, StatisticsTextShowsEveryField) {
    const struct {
        VerboseStatistics stats;
        const char *text;
    } cases[] = {
        {stats(0.0, 1, 1, 0, 0, 4, 4, 4, 4, 4), "0.00s CNR:OFF Dyn:1 FastMM:1 TID:0  NThr:4"},
        {stats(-1.0, 2, 0, 1, 12, 8, 1, 8, 3, 8), "0.00s CNR:AUTO Dyn:0 FastMM:0 TID:12 NThr:8,BLAS:1,ELTWISE:3"},
        {stats(5e-4, 3 | ORB_CBWR_STRICT, 1, 0, 1, 2, 2, 1, 2, 6),
         "500.00us CNR:COMPATIBLE,STRICT Dyn:1 FastMM:1 TID:1  NThr:2,FFT:1,SPARSE:6"},
        {stats(2.0, 14, 1, 0, 0, 1, 2, 3, 4, 5),
         "2.00s CNR:?e Dyn:1 FastMM:1 TID:0  NThr:1,BLAS:2,FFT:3,ELTWISE:4,SPARSE:5"},
        {stats(1.5e-3, 0x20 | ORB_CBWR_STRICT, 1, 0, 0, 1, 1, 1, 1, 1),
         "1.50ms CNR:?20,STRICT Dyn:1 FastMM:1 TID:0  NThr:1"},
        {stats(1.0, 10, 1, 0, 0, 1, 1, 1, 1, 1), "1000.00ms CNR:AVX2 Dyn:1 FastMM:1 TID:0  NThr:1"},
        {stats(2.5e-6, 12, 1, 0, 0, 1, 1, 1, 1, 1), "2.50us CNR:AVX512 Dyn:1 FastMM:1 TID:0  NThr:1"},
        {stats(2.5e-8, 4, 1, 0, 0, 1, 1, 1, 1, 1), "25ns CNR:SSE2 Dyn:1 FastMM:1 TID:0  NThr:1"},
    };
    char text[kVerboseStatisticsSize];
    for (const auto &c : cases) {
        orb_verbose_statistics_text(text, c.stats);
        EXPECT_STREQ(text, c.text);
    }
    const struct {
        int branch;
        const char *name;
    } branches[] = {{6, "SSSE3"}, {7, "SSE4_1"}, {8, "SSE4_2"}, {9, "AVX"}, {11, "?b"}, {13, "?d"}};
    for (const auto &b : branches) {
        orb_verbose_statistics_text(text, stats(2e-3, b.branch, 1, 0, 0, 1, 1, 1, 1, 1));
        EXPECT_NE(std::string(text).find(std::string("2.00ms CNR:") + b.name + " Dyn:"), std::string::npos) << text;
    }
}

TEST(VerboseLog, HeaderNamesTheBuildTheProcessorAndTheInterface) {
    OrbVersion version = {1, 0, 0, 0, "Product", "20261206", "Some processors", "x86-64"};
    char text[kVerboseHeaderSize];
    orb_verbose_header_text(text, version, 2.1, 1);
    EXPECT_STREQ(text, "ORB_VERBOSE ORB 1 Product build 20261206 for x86-64 Some processors, Lnx 2.10GHz lp64 "
                       "OpenMP threading");
    version.update_version = 2;
    version.patch_version = 3;
    const struct {
        int iface;
        const char *ending;
    } interfaces[] = {{-1, "GHz cdecl OpenMP threading"}, {2, "GHz ilp64 OpenMP threading"},
                      {0, "GHz OpenMP threading"},        {7, "GHz iface7 OpenMP threading"},
                      {-5, "GHz ifacefffffffb OpenMP threading"}};
    for (const auto &i : interfaces) {
        orb_verbose_header_text(text, version, 0.8, i.iface);
        const std::string header(text);
        EXPECT_EQ(header.rfind("ORB_VERBOSE ORB 1 Update 2 Patch 3 Product build", 0), 0u) << header;
        EXPECT_EQ(header.substr(header.size() - std::strlen(i.ending)), i.ending) << header;
        EXPECT_NE(header.find(", Lnx 0.80GHz"), std::string::npos) << header;
    }
    const std::string long_text(600, 'p');
    version.processor = long_text.c_str();
    orb_verbose_header_text(text, version, 2.1, 1);
    EXPECT_EQ(std::strlen(text), kVerboseHeaderSize - 1);
}

// Logs two lines; the variables name the mode and the file.
ORB_CHILD_ENTRY(log_two_lines) {
    if (*orb_serv_verbose_mode() == 0) return 1;
    orb_serv_print_verbose_info(1, "CALL(1)", 5e-4);
    orb_serv_print_verbose_info(1, "CALL(2)", 2.0);
    return 0;
}

TEST(VerboseLog, FileNamedByTheVariableReceivesTheHeaderAndTheLines) {
    const std::string path = fresh_directory("verbose_variable") + "/log";
    ChildResult r = run_child("log_two_lines", {"ORB_VERBOSE=1", "ORB_VERBOSE_OUTPUT_FILE=" + path});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    const std::string log = read_text(path);
    const std::regex lines("(.*\n)ORB_VERBOSE CALL\\(1\\) 500\\.00us CNR:OFF Dyn:1 FastMM:1 TID:0  NThr:[0-9]+.*\n"
                           "ORB_VERBOSE CALL\\(2\\) 2\\.00s CNR:OFF .*\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(log, match, lines)) << log;
    EXPECT_TRUE(std::regex_match(match[1].str(), kHeader)) << match[1];
}

// Settings that fail, then a good one, then a file that disappears; the
// setters' results come last on standard output.
ORB_CHILD_ENTRY(set_output_files) {
    const std::string dir = fresh_directory("verbose_setter");
    const int missing_directory = orb_serv_verbose_output_file((dir + "/missing/log").c_str());
    const int too_long = orb_serv_verbose_output_file(std::string(kVerboseFileNameSize, 'a').c_str());
    const int only_blanks = orb_serv_verbose_output_file("   ");
    orb_serv_print_verbose_info(1, "CALL(stdout)", 0.0);
    const int with_blanks = orb_serv_verbose_output_file((dir + "/log   ").c_str());
    orb_serv_print_verbose_info(1, "CALL(file)", 0.0);
    const std::string kept = read_text(dir + "/log");
    std::remove((dir + "/log").c_str());
    rmdir(dir.c_str());
    orb_serv_print_verbose_info(1, "CALL(gone)", 0.0);
    std::printf("results %d %d %d %d name=%s\n", missing_directory, too_long, only_blanks, with_blanks,
                orb_serv_verbose_output_file_mode());
    std::printf("file=%s", kept.c_str());
    return 0;
}

TEST(VerboseLog, UnusableFilesFallBackToStandardOutput) {
    ChildResult r = run_child("set_output_files");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err,
              "ORB_VERBOSE WARNING: Unable to open verbose output file.\n"
              "ORB_VERBOSE WARNING: incorrect output filename: too long or empty\n"
              "ORB_VERBOSE WARNING: incorrect output filename: too long or empty\n"
              "ORB_VERBOSE WARNING: unable to open output file. Print to STDOUT\n");
    std::istringstream out(r.out);
    std::string header, line;
    std::getline(out, header);
    EXPECT_TRUE(std::regex_match(header + "\n", kHeader)) << header;
    std::getline(out, line);
    EXPECT_EQ(line.rfind("ORB_VERBOSE CALL(stdout) 0.00s CNR:", 0), 0u) << line;
    std::getline(out, line);
    EXPECT_EQ(line.rfind("ORB_VERBOSE CALL(gone) 0.00s CNR:", 0), 0u) << line;
    std::getline(out, line);
    EXPECT_TRUE(std::regex_match(line, std::regex("results 1 1 1 0 name=.*verbose_setter_[0-9]+/log"))) << line;
    // The file got its line, without the header, which was written already.
    std::getline(out, line);
    EXPECT_EQ(line.rfind("file=ORB_VERBOSE CALL(file) 0.00s CNR:", 0), 0u) << line;
    EXPECT_FALSE(std::getline(out, line)) << line;
}

// Lines from the two threads of a team, with the settings of the environment.
ORB_CHILD_ENTRY(log_from_a_team) {
#pragma omp parallel num_threads(2)
    {
        const std::string call = "CALL(" + std::to_string(omp_get_thread_num()) + ")";
        orb_serv_print_verbose_info(1, call.c_str(), 2e-3);
    }
    return 0;
}

TEST(VerboseLog, StatisticsReportTheLiveSettings) {
    ChildResult r = run_child("log_from_a_team", {"ORB_CBWR=COMPATIBLE,STRICT", "ORB_DYNAMIC=FALSE",
                                                  "ORB_DISABLE_FAST_MM=1", "ORB_NUM_THREADS=3",
                                                  "ORB_DOMAIN_NUM_THREADS=ORB_DOMAIN_BLAS=1,ORB_DOMAIN_SPARSE=5"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (int tid = 0; tid < 2; ++tid) {
        const std::string line = "ORB_VERBOSE CALL(" + std::to_string(tid) +
                                 ") 2.00ms CNR:COMPATIBLE,STRICT Dyn:0 FastMM:0 TID:" + std::to_string(tid) +
                                 "  NThr:3,BLAS:1,SPARSE:5\n";
        EXPECT_NE(r.out.find(line), std::string::npos) << r.out << "\nexpected " << line;
    }
}

}  // namespace
