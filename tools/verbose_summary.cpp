// orb_verbose_summary - where the time of a verbose log went.
//
// Reads a log written with "ORB_VERBOSE" set (a file named on the command
// line, or standard input) and prints one row per routine and shape: the
// number of calls, their total and mean time, the rate (GFLOP/s for SGEMM,
// counting 2·m·n·k operations; GB/s for SGEMV, counting the bytes of A, x
// and y once each, 4·(m·n + m + n)) and the share of all logged time,
// sorted by total time.  Transposition letters are compared without case.
//
// A line is a call when it reads "ORB_VERBOSE <routine>(<arguments>) <time>"
// with the argument count and integer arguments of SGEMM, SGEMM_64, SGEMV or
// SGEMV_64, a time such as "1.25ms", and nothing after the time but the
// statistics (" CNR:..."); a line beginning "ORB_VERBOSE ORB " is the
// header.  Every other line, a blank one included, is counted and reported
// with its number; none of them stops the summary.
//
//   orb_verbose_summary [LOG]
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr char kLinePrefix[] = "ORB_VERBOSE ";
constexpr char kHeaderPrefix[] = "ORB_VERBOSE ORB ";
constexpr char kStatisticsPrefix[] = " CNR:";
// Line numbers of unrecognised lines listed at the end, at most.
constexpr size_t kListedBadLines = 10;

// How the arguments of one routine are laid out in its log line.
struct RoutineLayout {
    const char *name;         // routine as logged
    size_t argument_count;    // arguments between the parentheses
    size_t letters;           // leading transposition letters
    std::vector<size_t> ints;  // positions of the integer arguments
    size_t dims;              // how many of those, from the first, are the shape
    bool is_gemm;             // rate in GFLOP/s (SGEMM) or GB/s (SGEMV)
};

const RoutineLayout kRoutines[] = {
    {"SGEMM", 13, 2, {2, 3, 4, 7, 9, 12}, 3, true},
    {"SGEMM_64", 13, 2, {2, 3, 4, 7, 9, 12}, 3, true},
    {"SGEMV", 11, 1, {1, 2, 5, 7, 10}, 2, false},
    {"SGEMV_64", 11, 1, {1, 2, 5, 7, 10}, 2, false},
};

// Units of the time field, longest suffix first.
struct TimeUnit {
    const char *suffix;  // as logged
    double seconds;      // seconds per unit
};
const TimeUnit kTimeUnits[] = {{"ms", 1e-3}, {"us", 1e-6}, {"ns", 1e-9}, {"s", 1.0}};

// One parsed call line.
struct Call {
    std::string routine;  // routine name
    std::string shape;    // transposition letters and dimensions, e.g. "N,T 8x8x8"
    double seconds;       // logged time
    double work;          // floating-point operations (SGEMM) or bytes (SGEMV); 0 when unknown
    bool is_gemm;         // work counts operations
};

// Totals of one routine and shape.
struct Row {
    std::string routine;  // routine name
    std::string shape;    // as in Call
    long calls = 0;       // number of calls
    double seconds = 0;   // total time
    double work = 0;      // total work
    bool is_gemm = true;  // work counts operations
};

std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t comma; (comma = text.find(separator, start)) != std::string::npos; start = comma + 1)
        parts.push_back(text.substr(start, comma - start));
    parts.push_back(text.substr(start));
    return parts;
}

bool parse_integer(const std::string &text, long long &value) {
    if (text.empty()) return false;
    char *end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return *end == '\0';
}

bool parse_time(const std::string &text, double &seconds) {
    for (const TimeUnit &unit : kTimeUnits) {
        const size_t length = std::strlen(unit.suffix);
        if (text.size() <= length || text.compare(text.size() - length, length, unit.suffix) != 0) continue;
        const std::string number = text.substr(0, text.size() - length);
        char *end = nullptr;
        const double value = std::strtod(number.c_str(), &end);
        if (*end != '\0' || !std::isdigit(static_cast<unsigned char>(number[0]))) return false;
        seconds = value * unit.seconds;
        return true;
    }
    return false;
}

const RoutineLayout *find_routine(const std::string &name) {
    for (const RoutineLayout &layout : kRoutines)
        if (name == layout.name) return &layout;
    return nullptr;
}

// Work of a call with these dimensions; 0 when a dimension is negative.
double call_work(const RoutineLayout &layout, const std::vector<long long> &dims) {
    for (long long d : dims)
        if (d < 0) return 0.0;
    if (layout.is_gemm) return 2.0 * dims[0] * dims[1] * dims[2];
    return 4.0 * (static_cast<double>(dims[0]) * dims[1] + dims[0] + dims[1]);
}

bool parse_call(const std::string &line, Call &call) {
    if (line.compare(0, std::strlen(kLinePrefix), kLinePrefix) != 0) return false;
    // The call ends at the first ") ": a null pointer argument reads "(nil)".
    const size_t open = line.find('(', std::strlen(kLinePrefix));
    const size_t close = line.find(") ", open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos) return false;
    const RoutineLayout *layout = find_routine(line.substr(std::strlen(kLinePrefix), open - std::strlen(kLinePrefix)));
    if (layout == nullptr) return false;

    const std::vector<std::string> args = split(line.substr(open + 1, close - open - 1), ',');
    if (args.size() != layout->argument_count) return false;
    std::string shape;
    for (size_t i = 0; i < layout->letters; ++i) {
        if (args[i].size() != 1) return false;
        shape += std::string(i ? "," : "") + static_cast<char>(std::toupper(static_cast<unsigned char>(args[i][0])));
    }
    std::vector<long long> dims;
    for (size_t i = 0; i < layout->ints.size(); ++i) {
        long long value;
        if (!parse_integer(args[layout->ints[i]], value)) return false;
        if (i < layout->dims) {
            shape += (i ? "x" : " ") + std::to_string(value);
            dims.push_back(value);
        }
    }

    const size_t time_end = line.find(' ', close + 2);
    const std::string time_text = line.substr(close + 2, time_end == std::string::npos ? std::string::npos
                                                                                       : time_end - close - 2);
    if (!parse_time(time_text, call.seconds)) return false;
    if (time_end != std::string::npos && line.compare(time_end, std::strlen(kStatisticsPrefix), kStatisticsPrefix) != 0)
        return false;

    call.routine = layout->name;
    call.shape = shape;
    call.work = call_work(*layout, dims);
    call.is_gemm = layout->is_gemm;
    return true;
}

// A time in the unit that keeps it at or above one, as the log writes it.
std::string time_text(double seconds) {
    char text[32];
    if (seconds >= 1.0) std::snprintf(text, sizeof text, "%.3fs", seconds);
    else if (seconds >= 1e-3) std::snprintf(text, sizeof text, "%.3fms", seconds * 1e3);
    else if (seconds >= 1e-6) std::snprintf(text, sizeof text, "%.3fus", seconds * 1e6);
    else std::snprintf(text, sizeof text, "%.0fns", seconds * 1e9);
    return text;
}

std::string rate_text(double work, double seconds) {
    if (work <= 0.0 || seconds <= 0.0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", work / seconds * 1e-9);
    return text;
}

void print_summary(const std::vector<Row> &rows, long lines, long headers, const std::vector<long> &bad_lines) {
    double all_seconds = 0;
    long all_calls = 0;
    for (const Row &row : rows) all_seconds += row.seconds, all_calls += row.calls;
    std::printf("%ld calls in %zu shapes, %s in all\n", all_calls, rows.size(), time_text(all_seconds).c_str());
    std::printf("%-9s %-22s %8s %12s %12s %9s %9s %7s\n", "routine", "shape", "calls", "total", "mean", "GFLOP/s",
                "GB/s", "share");
    for (const Row &row : rows) {
        const std::string rate = rate_text(row.work, row.seconds);
        const double share = all_seconds > 0 ? 100.0 * row.seconds / all_seconds : 0.0;
        std::printf("%-9s %-22s %8ld %12s %12s %9s %9s %6.1f%%\n", row.routine.c_str(), row.shape.c_str(), row.calls,
                    time_text(row.seconds).c_str(), time_text(row.seconds / row.calls).c_str(),
                    row.is_gemm ? rate.c_str() : "-", row.is_gemm ? "-" : rate.c_str(), share);
    }
    std::printf("lines: %ld read, %ld calls, %ld header, %zu not recognised", lines, all_calls, headers,
                bad_lines.size());
    for (size_t i = 0; i < bad_lines.size() && i < kListedBadLines; ++i)
        std::printf("%s%ld", i == 0 ? " (lines " : ", ", bad_lines[i]);
    if (!bad_lines.empty()) std::printf("%s)", bad_lines.size() > kListedBadLines ? ", ..." : "");
    std::printf("\n");
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [LOG]\n", argv[0]);
        return 2;
    }
    std::ifstream file;
    if (argc == 2) {
        file.open(argv[1]);
        if (!file) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
            return 2;
        }
    }
    std::istream &in = argc == 2 ? static_cast<std::istream &>(file) : std::cin;

    std::map<std::string, Row> rows;
    std::vector<long> bad_lines;
    long lines = 0, headers = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
        Call call;
        if (line.compare(0, std::strlen(kHeaderPrefix), kHeaderPrefix) == 0) {
            ++headers;
        } else if (parse_call(line, call)) {
            Row &row = rows[call.routine + " " + call.shape];
            row.routine = call.routine;
            row.shape = call.shape;
            row.calls += 1;
            row.seconds += call.seconds;
            row.work += call.work;
            row.is_gemm = call.is_gemm;
        } else {
            bad_lines.push_back(lines);
        }
    }

    std::vector<Row> sorted;
    for (const auto &entry : rows) sorted.push_back(entry.second);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Row &a, const Row &b) { return a.seconds > b.seconds; });
    print_summary(sorted, lines, headers, bad_lines);
    return 0;
}
