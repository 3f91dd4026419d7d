// report.cpp - the demo's output.
#include "report.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace demo {

const char kCsvHeader[] = "row,call,trans,m,n,k,kernels,seconds,gflops,gbytes,max_rel_error";

namespace {

const char kTableFormat[] = "%-35s %-30s %-10s %15s  %14s%s\n";

}  // namespace

std::string speed_text(const Product &p, const Measurement &m) {
    char text[32];
    std::snprintf(text, sizeof text, p.gemv ? "%.1f GB/s" : "%.1f GFLOP/s", p.gemv ? m.gbytes : m.gflops);
    return text;
}

bool parse_csv_row(const std::string &line, std::string &kernels, Measurement &m) {
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        const size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (fields.size() != 11 || fields[0] == "row") return false;
    kernels = fields[6];
    m.seconds = std::atof(fields[7].c_str());
    m.gflops = std::atof(fields[8].c_str());
    m.gbytes = std::atof(fields[9].c_str());
    m.max_error = std::atof(fields[10].c_str());
    return m.seconds > 0;
}

Report::Report(bool csv, size_t rows, std::string kernels)
    : csv_(csv), terminal_(isatty(STDOUT_FILENO) != 0), rows_(rows), kernels_(std::move(kernels)) {
    if (csv_) std::printf("%s\n", kCsvHeader);
}

void Report::line(const std::string &text) const {
    if (!csv_) std::printf("%s\n", text.c_str());
}

void Report::progress(size_t index, const Product &p) const {
    if (csv_ || !terminal_) return;
    std::printf("\r\033[K[%zu/%zu] %s: %s ...", index + 1, rows_, p.label.empty() ? "given" : p.label.c_str(),
                describe(p).c_str());
    std::fflush(stdout);
}

void Report::row(const Product &p, const Measurement &m) {
    const bool agrees = m.max_error <= kErrorTolerance;
    if (!agrees) ++disagreeing_;
    largest_error_ = std::max(largest_error_, m.max_error);
    if (p.gemv)
        best_gemv_gbytes_ = std::max(best_gemv_gbytes_, m.gbytes);
    else
        best_gemm_gflops_ = std::max(best_gemm_gflops_, m.gflops);
    const bool first = done_++ == 0;
    if (csv_) {
        std::printf("%s,%s,%s%s,%u,%u,%u,%s,%.6g,%.6g,%.6g,%.3g\n", p.label.c_str(), p.gemv ? "sgemv" : "sgemm",
                    p.trans_a ? "T" : "N", p.gemv ? "" : (p.trans_b ? "T" : "N"), p.m, p.n, p.k, kernels_.c_str(),
                    m.seconds, m.gflops, m.gbytes, m.max_error);
    } else {
        char error[32];
        std::snprintf(error, sizeof error, "%.2e", m.max_error);
        if (terminal_) std::printf("\r\033[K");  // the progress line
        if (first) std::printf(kTableFormat, "row", "call and shape (row-major)", "kernels", "speed", "max rel. error", "");
        std::printf(kTableFormat, p.label.empty() ? "(given)" : p.label.c_str(), describe(p).c_str(),
                    kernels_.c_str(), speed_text(p, m).c_str(), error, agrees ? "" : "  DISAGREES");
    }
    std::fflush(stdout);
}

bool Report::summary(double seconds, int threads) const {
    if (csv_) return disagreeing_ == 0;
    char text[512];
    int length = std::snprintf(text, sizeof text, "summary: %zu rows on %s with %d thread%s in %.1f s; ", done_,
                               kernels_.c_str(), threads, threads == 1 ? "" : "s", seconds);
    if (disagreeing_ == 0)
        length += std::snprintf(text + length, sizeof text - length,
                                "all agree with the double-precision products (largest error %.1e)", largest_error_);
    else
        length += std::snprintf(text + length, sizeof text - length,
                                "%zu DISAGREE with the double-precision products (largest error %.1e)", disagreeing_,
                                largest_error_);
    if (best_gemm_gflops_ > 0)
        length += std::snprintf(text + length, sizeof text - length, "; best SGEMM %.1f GFLOP/s", best_gemm_gflops_);
    if (best_gemv_gbytes_ > 0)
        std::snprintf(text + length, sizeof text - length, "; best SGEMV %.1f GB/s", best_gemv_gbytes_);
    std::printf("\n%s\n", text);
    return disagreeing_ == 0;
}

}  // namespace demo
