// options.cpp - reading the host demo's command line.
//
// Every option takes the form --name=value.  Values are checked here, before
// anything is loaded, so that a mistake ends the demo with one line that
// names the option and what it accepts.
#include "options.h"

#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstring>

namespace demo {

namespace {

// The largest product the demo allocates: its three arrays together.
constexpr double kLargestFloats = double(1u << 30);  // 4 GiB

// The reproducibility branches the library accepts, lower case.  "off" is
// the variable unset: the library has no word for it.
const char *const kCbwrWords[] = {"off",    "auto", "compatible", "sse2", "sse3",   "ssse3",
                                  "sse4_1", "sse4_2", "avx",      "avx2", "avx512", "avx512_e1"};

// A whole decimal number in [low, high]; false for anything else.
bool parse_count(const std::string &text, long low, long high, long &value) {
    if (text.empty() || text.size() > 10) return false;
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + (c - '0');
    }
    return value >= low && value <= high;
}

// "MxN" or "MxNxK" into dims (count of them fixed by the caller).
bool parse_dimensions(const std::string &text, size_t count, uint32_t *dims) {
    size_t start = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t end = i + 1 < count ? text.find('x', start) : text.size();
        long value;
        if (end == std::string::npos || !parse_count(text.substr(start, end - start), 1, INT32_MAX, value))
            return false;
        dims[i] = static_cast<uint32_t>(value);
        start = end + 1;
    }
    return true;
}

// "N" or "T" per operand into flags.
bool parse_transpositions(const std::string &text, size_t count, bool *flags) {
    if (text.size() != count) return false;
    for (size_t i = 0; i < count; ++i) {
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
        if (c != 'N' && c != 'T') return false;
        flags[i] = c == 'T';
    }
    return true;
}

// --sgemm=MxNxK[:TT] or --sgemv=MxN[:T].
bool parse_shape(const std::string &value, bool gemv, Product &p, std::string &error) {
    const size_t dims = gemv ? 2 : 3;
    const size_t colon = value.find(':');
    const std::string shape = value.substr(0, colon);
    const std::string trans = colon == std::string::npos ? std::string(dims - 1, 'N') : value.substr(colon + 1);
    uint32_t d[3] = {0, 0, 0};
    bool t[2] = {false, false};
    if (!parse_dimensions(shape, dims, d) || !parse_transpositions(trans, dims - 1, t)) {
        error = gemv ? "bad --sgemv value '" + value + "': expected MxN[:T], T being N or T, sizes 1 to 2147483647"
                     : "bad --sgemm value '" + value +
                           "': expected MxNxK[:TT], TT being NN, NT, TN or TT, sizes 1 to 2147483647";
        return false;
    }
    p.gemv = gemv;
    p.m = d[0];
    p.n = d[1];
    p.k = gemv ? 0 : d[2];
    p.trans_a = t[0];
    p.trans_b = !gemv && t[1];
    if (double(a_elements(p)) + double(b_elements(p)) + double(c_elements(p)) > kLargestFloats) {
        error = "the product " + describe(p) + " needs more than 4 GiB of operands; the demo runs smaller ones";
        return false;
    }
    return true;
}

// ORB_CBWR from a branch word with an optional ",strict".
bool parse_cbwr(const std::string &value, std::string &setting, std::string &error) {
    std::string lower;
    for (char c : value) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t comma = lower.find(',');
    const std::string word = lower.substr(0, comma);
    const bool strict = comma != std::string::npos && lower.substr(comma + 1) == "strict";
    bool known = comma == std::string::npos || strict;
    bool listed = false;
    for (const char *w : kCbwrWords) listed = listed || word == w;
    if (!known || !listed || (word == "off" && strict)) {
        error = "bad --cbwr value '" + value +
                "': expected off, auto, compatible, sse2, sse3, ssse3, sse4_1, sse4_2, avx, avx2, avx512 or "
                "avx512_e1, optionally followed by ,strict (not after off)";
        return false;
    }
    setting.clear();
    if (word == "off") return true;
    for (char c : word) setting += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (strict) setting += ",STRICT";
    return true;
}

// ORB_SIMULATE_CPU from real, ruzuv or file:PATH (a file that can be read).
bool parse_cpu(const std::string &value, std::string &setting, std::string &error) {
    if (value == "real") {
        setting.clear();
        return true;
    }
    if (value == "ruzuv") {
        setting = value;
        return true;
    }
    if (value.compare(0, 5, "file:") == 0 && value.size() > 5) {
        if (access(value.c_str() + 5, R_OK) != 0) {
            error = "bad --cpu value '" + value + "': cannot read " + value.substr(5);
            return false;
        }
        setting = value;
        return true;
    }
    error = "bad --cpu value '" + value + "': expected real, ruzuv or file:PATH (a processor table, see tests/cpus/)";
    return false;
}

}  // namespace

bool parse_options(int argc, char **argv, Options &out, std::string &error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        const bool has_value = eq != std::string::npos;
        long count = 0;
        if (arg == "--help" || arg == "-h") {
            out.help = true;
        } else if (arg == "--csv") {
            out.csv = true;
        } else if (name == "--threads" && has_value) {
            if (!parse_count(value, 1, 1024, count)) {
                error = "bad --threads value '" + value + "': expected a whole number from 1 to 1024";
                return false;
            }
            out.threads = static_cast<int>(count);
        } else if (name == "--reps" && has_value) {
            if (!parse_count(value, 1, 100000, count)) {
                error = "bad --reps value '" + value + "': expected a whole number from 1 to 100000";
                return false;
            }
            out.reps = static_cast<int>(count);
        } else if (name == "--cpu" && has_value) {
            if (!parse_cpu(value, out.cpu, error)) return false;
            out.cpu_given = true;
        } else if (name == "--cbwr" && has_value) {
            if (!parse_cbwr(value, out.cbwr, error)) return false;
            out.cbwr_given = true;
        } else if ((name == "--sgemm" || name == "--sgemv") && has_value) {
            Product p;
            if (!parse_shape(value, name == "--sgemv", p, error)) return false;
            out.products.push_back(p);
        } else if (arg.compare(0, 1, "-") == 0) {
            const bool known = name == "--threads" || name == "--reps" || name == "--cpu" || name == "--cbwr" ||
                               name == "--sgemm" || name == "--sgemv";
            error = known ? "option " + name + " needs a value: " + name + "=VALUE" : "unknown option " + arg;
            return false;
        } else if (out.library.empty()) {
            out.library = arg;
        } else {
            error = "one library only: got " + out.library + " and " + arg;
            return false;
        }
    }
    return true;
}

const char *usage() {
    return "usage: host_demo [OPTION]... [LIBRARY]\n"
           "Loads libvorte_blas as an inference runtime does (dlopen, createBlasInstance) and runs\n"
           "row-major products through the backend object: by default a transformer workload (hidden\n"
           "sizes 768 and 4096, token counts 1, 8, 32, 128 and 512, weights stored transposed,\n"
           "attention per head) and squares 64 to 2048.  Every row gives the kernel set, the speed\n"
           "(GFLOP/s; GB/s of A for SGEMV) and the largest relative error against a double-precision\n"
           "product; the exit status is 1 when a row disagrees, 2 for a bad command line.\n"
           "\n"
           "  LIBRARY               the library to load (default: libvorte_blas.so of this build)\n"
           "  --threads=N           threads the library may use (sets ORB_NUM_THREADS)\n"
           "  --cpu=real|ruzuv|file:PATH\n"
           "                        the processor the library sees (sets ORB_SIMULATE_CPU; the demo\n"
           "                        restarts itself with it, as the library reads it at process start)\n"
           "  --cbwr=MODE[,strict]  reproducibility mode (sets ORB_CBWR): off, auto, compatible, sse2,\n"
           "                        sse3, ssse3, sse4_1, sse4_2, avx, avx2, avx512, avx512_e1\n"
           "  --sgemm=MxNxK[:TT]    run this SGEMM instead of the workload: C (M x N) := op(A) op(B),\n"
           "                        TT the transpositions of A and B (NN, NT, TN, TT; default NN)\n"
           "  --sgemv=MxN[:T]       run this SGEMV: y := op(A) x with A M x N, T being N or T\n"
           "                        (--sgemm and --sgemv may repeat; the rows run in order)\n"
           "  --reps=N              timed repetitions of every row (default: enough to fill 0.2 s,\n"
           "                        at least 2); the best one counts\n"
           "  --csv                 print only the rows, as comma-separated values\n"
           "  --help                this text\n";
}

}  // namespace demo
