// The verbose-log summary tool, on a log the library writes here and on a
// log with known times and damaged lines, read from a file and from
// standard input.  Rows are checked against totals worked out by hand.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "orb_blas.h"
#include "support/child_process.h"

namespace {

// Standard output of a shell command.
std::string run_command(const std::string &command) {
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
    return out;
}

// One row of the summary.
struct Row {
    long calls;         // number of calls
    std::string total;  // total time as printed
    std::string mean;   // mean time as printed
    std::string gflops; // GFLOP/s column
    std::string gbs;    // GB/s column
    std::string share;  // share of all time
    int rank;           // position in the table, from 0
};

// The rows of a summary by "routine shape", and its last line.
std::map<std::string, Row> parse_rows(const std::string &summary, std::string &last_line) {
    std::map<std::string, Row> rows;
    const std::regex row("(SGEM[MV](_64)?) +([A-Z,]+ [0-9x-]+) +([0-9]+) +([^ ]+) +([^ ]+) +([^ ]+) +([^ ]+) +([^ ]+)");
    std::istringstream lines(summary);
    int rank = 0;
    for (std::string line; std::getline(lines, line); last_line = line) {
        std::smatch m;
        if (std::regex_match(line, m, row))
            rows[m[1].str() + " " + m[3].str()] = {std::stol(m[4]), m[5], m[6], m[7], m[8], m[9], rank++};
    }
    return rows;
}

std::string write_file(const std::string &name, const std::string &text) {
    const std::string path = testing::TempDir() + name + "_" + std::to_string(getpid());
    std::ofstream(path) << text;
    return path;
}

TEST(VerboseSummary, KnownTimesAndDamagedLines) {
    const std::string stats = " CNR:OFF Dyn:1 FastMM:1 TID:0  NThr:2\n";
    const std::string log =
        "ORB_VERBOSE ORB 1 Product build 20261206 for x86-64 Some processors, Lnx 2.10GHz lp64 OpenMP threading\n"
        "ORB_VERBOSE SGEMM(N,N,100,100,100,0x1,0x2,100,0x3,100,0x4,0x5,100) 1.00ms" + stats +
        "ORB_VERBOSE SGEMV(T,1000,1000,0x1,0x2,1000,0x3,1,0x4,0x5,1) 2.00ms" + stats +
        "ORB_VERBOSE SGEMM(n,n,100,100,100,0x1,0x2,100,0x3,100,0x4,0x5,100) 3000.00us" + stats +
        "program output between the lines\n"
        "ORB_VERBOSE SGEMM(N,N,100,100,100,0x1,0x2,100,0x3,100,0x4,0x5,100) 1.5\n"           // no unit
        "ORB_VERBOSE SGEMM(N,N,100,100,0x1,0x2,100,0x3,100,0x4,0x5,100) 1.00ms" + stats +  // argument missing
        "ORB_VERBOSE SGEMV(T,1000,1000,0x1,0x2,1000,0x3,1,0x4,0x5,1) 2.00ms garbage\n"
        "ORB_VERBOSE SGEMM(N,N,100,10x,100,0x1,0x2,100,0x3,100,0x4,0x5,100) 1.00ms" + stats +
        "ORB_VERBOSE DGEMM(N,N,100,100,100,0x1,0x2,100,0x3,100,0x4,0x5,100) 1.00ms" + stats +
        "ORB_VERBOSE SGEMV_64(N,8,-2,(nil),(nil),8,(nil),1,(nil),(nil),1) 0.00s" + stats +
        "ORB_VERBOSE SGEMM_64(T,N,2000,1000,500,0x1,0x2,500,0x3,500,0x4,0x5,2000) 2.00s" + stats +
        "\n"
        "ORB_VERBOSE SGEMM(N,N,100,100,100,0x1,0x2,100,0x3,100,0x4,0x5,100) 1.0";  // cut off
    const std::string path = write_file("damaged_log", log);
    for (const std::string &command : {std::string(ORB_VERBOSE_SUMMARY) + " " + path,
                                       std::string(ORB_VERBOSE_SUMMARY) + " < " + path}) {
        std::string last;
        const std::string summary = run_command(command);
        std::map<std::string, Row> rows = parse_rows(summary, last);
        ASSERT_EQ(rows.size(), 4u) << summary;
        // 2 s + 4 ms + 2 ms + 0 s = 2.006 s in all.
        const Row &big = rows["SGEMM_64 T,N 2000x1000x500"];
        EXPECT_EQ(big.rank, 0);
        EXPECT_EQ(big.calls, 1);
        EXPECT_EQ(big.total, "2.000s");
        EXPECT_EQ(big.gflops, "1.00");  // 2 * 2000 * 1000 * 500 / 2 s
        EXPECT_EQ(big.share, "99.7%");
        const Row &gemm = rows["SGEMM N,N 100x100x100"];
        EXPECT_EQ(gemm.rank, 1);
        EXPECT_EQ(gemm.calls, 2);
        EXPECT_EQ(gemm.total, "4.000ms");
        EXPECT_EQ(gemm.mean, "2.000ms");
        EXPECT_EQ(gemm.gflops, "1.00");  // 2 * 2 * 10^6 / 4 ms
        EXPECT_EQ(gemm.gbs, "-");
        EXPECT_EQ(gemm.share, "0.2%");
        const Row &gemv = rows["SGEMV T 1000x1000"];
        EXPECT_EQ(gemv.rank, 2);
        EXPECT_EQ(gemv.gflops, "-");
        EXPECT_EQ(gemv.gbs, "2.00");  // 4 * (10^6 + 2000) bytes / 2 ms
        const Row &rejected = rows["SGEMV_64 N 8x-2"];
        EXPECT_EQ(rejected.calls, 1);
        EXPECT_EQ(rejected.gbs, "-");
        EXPECT_EQ(rejected.share, "0.0%");
        EXPECT_EQ(last, "lines: 14 read, 5 calls, 1 header, 8 not recognised (lines 5, 6, 7, 8, 9, 10, 13, 14)")
            << summary;
    }
    std::remove(path.c_str());
}

// The library logs three shapes to a file.
ORB_CHILD_ENTRY(write_log) {
    const int n = 8, inc = 1;
    const int64_t m64 = 16, n64 = 4, inc64 = 1;
    const float alpha = 1.0f, beta = 0.0f;
    std::vector<float> a(64, 1.0f), x(16, 1.0f), y(64, 0.0f);
    for (int i = 0; i < 3; ++i)
        sgemm_("N", "N", &n, &n, &n, &alpha, a.data(), &n, a.data(), &n, &beta, y.data(), &n);
    for (int i = 0; i < 2; ++i)
        sgemv_64_("t", &m64, &n64, &alpha, a.data(), &m64, x.data(), &inc64, &beta, y.data(), &inc64);
    sgemv_("N", &n, &n, &alpha, a.data(), &n, x.data(), &inc, &beta, y.data(), &inc);
    return 0;
}

TEST(VerboseSummary, LogWrittenByTheLibrary) {
    const std::string path = write_file("library_log", "");
    ChildResult r = run_child("write_log", {"ORB_VERBOSE=1", "ORB_VERBOSE_OUTPUT_FILE=" + path});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string last;
    const std::string summary = run_command(std::string(ORB_VERBOSE_SUMMARY) + " " + path);
    std::map<std::string, Row> rows = parse_rows(summary, last);
    ASSERT_EQ(rows.size(), 3u) << summary;
    EXPECT_EQ(rows["SGEMM N,N 8x8x8"].calls, 3);
    EXPECT_EQ(rows["SGEMV_64 T 16x4"].calls, 2);
    EXPECT_EQ(rows["SGEMV N 8x8"].calls, 1);
    double share = 0;
    for (const auto &row : rows) share += std::stod(row.second.share);
    EXPECT_NEAR(share, 100.0, 0.2) << summary;
    EXPECT_EQ(last, "lines: 7 read, 6 calls, 1 header, 0 not recognised") << summary;
    std::remove(path.c_str());
}

}  // namespace
