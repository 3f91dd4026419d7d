// report.h - what the demo prints: a header on the library and the process,
// one row per product (a table, or comma-separated values), a progress line
// while a row runs on a terminal, notes, and a one-line summary.
#ifndef ORB_TOOLS_HOST_DEMO_REPORT_H
#define ORB_TOOLS_HOST_DEMO_REPORT_H

#include <cstddef>
#include <string>

#include "measurement.h"
#include "product.h"

namespace demo {

// The speed of a row as printed: GFLOP/s for SGEMM, GB/s of A for SGEMV.
std::string speed_text(const Product &p, const Measurement &m);

// The columns of --csv, in order.
extern const char kCsvHeader[];

// Reads one --csv row back: false when line is not one.
bool parse_csv_row(const std::string &line, std::string &kernels, Measurement &m);

class Report {
public:
    // csv: comma-separated rows only; rows: how many will run; kernels: the
    // kernel set's label for every row.
    Report(bool csv, size_t rows, std::string kernels);

    // A line of the header (ignored under --csv).
    void line(const std::string &text) const;

    // The row about to run, on a terminal only.
    void progress(size_t index, const Product &p) const;

    // A finished row.
    void row(const Product &p, const Measurement &m);

    // The summary line; true when every row agreed with its reference.
    bool summary(double seconds, int threads) const;

private:
    bool csv_;             // comma-separated rows only
    bool terminal_;        // standard output is a terminal
    size_t rows_;          // rows announced
    std::string kernels_;  // kernel-set label
    size_t done_ = 0;      // rows reported
    size_t disagreeing_ = 0;        // rows beyond the tolerance
    double largest_error_ = 0;      // over all rows
    double best_gemm_gflops_ = 0;   // fastest SGEMM row
    double best_gemv_gbytes_ = 0;   // fastest SGEMV row
};

}  // namespace demo

#endif
