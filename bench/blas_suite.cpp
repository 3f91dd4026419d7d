// blas_suite - one kernel set of libvorte_blas against the baseline
// libraries, on every product of the suite's families, at one and more
// threads.  run_suite.sh starts it once per kernel set with that set's
// settings (processor identity, the baselines' kernel choice) in the
// environment; the libraries are loaded into this one process with dlopen,
// called through cblas_sgemm / cblas_sgemv in row-major layout on the same
// operands and timed in alternation.  Every figure is given with its share of
// the machine's ceiling for the row (the arithmetic peak of the kernel set's
// instructions, or for SGEMV the streaming read bandwidth) and its ratio to
// the best of the other libraries.  Rows go to the terminal and to a CSV.
//
//   blas_suite --measure-ceilings > CEILINGS
//   blas_suite --probe LIBVORTE_BLAS
//   blas_suite --list [--families=...] [--quick] [--threads=...]
//   blas_suite --csv-header
//   blas_suite --ceilings=CEILINGS --csv=FILE [--run=NAME] [--families=square,skinny,small,sgemv]
//              [--threads=1,2] [--quick] [--max-gflop=X] [--xsmm]
//              LIBVORTE_BLAS [BASELINE_LIBRARY...]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "machine_ceilings.h"
#include "suite_shapes.h"
#include "tools/process_facts.h"
#include "xsmm_small_gemm.h"

namespace {

using bench::SuiteCase;

// The command line.
struct Options {
    bool measure_ceilings = false;        // print the ceilings and stop
    bool probe = false;                   // one general SGEMM through libvorte_blas and stop
    bool list = false;                    // print the rows that would run and stop
    bool csv_header = false;              // print the CSV's column names and stop
    bool quick = false;                   // a few sizes per family, fewer rounds
    bool xsmm = false;                    // time libxsmm on the small family
    double max_gflop = 0;                 // skip products of more work (0: none)
    std::vector<std::string> families{"square", "skinny", "small", "sgemv"};
    std::vector<int> threads{1, 2};       // thread counts of the threaded families
    std::string ceilings_path;            // --measure-ceilings output to read
    std::string csv_path;                 // CSV to append rows to
    std::string run = "suite";            // this run's name in the CSV
    std::vector<std::string> libraries;   // libvorte_blas first, then the baselines
};

std::vector<std::string> split(const std::string &text) {
    std::vector<std::string> words;
    for (size_t start = 0; start <= text.size();) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        if (comma > start) words.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return words;
}

bool parse_options(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string value = arg.substr(arg.find('=') + 1);
        if (arg == "--measure-ceilings") o.measure_ceilings = true;
        else if (arg == "--probe") o.probe = true;
        else if (arg == "--list") o.list = true;
        else if (arg == "--csv-header") o.csv_header = true;
        else if (arg == "--quick") o.quick = true;
        else if (arg == "--xsmm") o.xsmm = true;
        else if (arg.rfind("--max-gflop=", 0) == 0) o.max_gflop = std::atof(value.c_str());
        else if (arg.rfind("--families=", 0) == 0) o.families = split(value);
        else if (arg.rfind("--ceilings=", 0) == 0) o.ceilings_path = value;
        else if (arg.rfind("--csv=", 0) == 0) o.csv_path = value;
        else if (arg.rfind("--run=", 0) == 0) o.run = value;
        else if (arg.rfind("--threads=", 0) == 0) {
            o.threads.clear();
            for (const std::string &t : split(value)) o.threads.push_back(std::atoi(t.c_str()));
            if (o.threads.empty() || *std::min_element(o.threads.begin(), o.threads.end()) < 1) return false;
        } else if (arg[0] == '-') return false;
        else o.libraries.push_back(arg);
    }
    if (o.measure_ceilings || o.list || o.csv_header) return true;
    if (o.probe) return o.libraries.size() == 1;
    return !o.libraries.empty() && !o.ceilings_path.empty() && !o.csv_path.empty();
}

// --- ceilings -----------------------------------------------------------------

// Ceilings by key ("fma256 2": the 256-bit FMA peak of two cores, GFLOP/s;
// "bandwidth 1": one core's read bandwidth, GB/s).
using Ceilings = std::map<std::string, double>;

std::string ceiling_key(const char *name, int threads) { return std::string(name) + " " + std::to_string(threads); }

const struct {
    const char *key;  // name in the ceilings file
    bench::Peak peak; // what it measures
} kPeaks[] = {{"fma128", bench::Peak::fma128},
              {"fma256", bench::Peak::fma256},
              {"fma512", bench::Peak::fma512},
              {"muladd128", bench::Peak::muladd128}};

// Prints every ceiling at each thread count.  More cores do at least what
// fewer do: a figure below the one at fewer threads (a measurement disturbed
// by another process on a shared machine) is raised to it.
void print_ceilings(std::vector<int> thread_counts) {
    std::sort(thread_counts.begin(), thread_counts.end());
    std::map<std::string, double> previous;
    auto print = [&](const char *name, int threads, double value) {
        value = std::max(value, previous[name]);
        previous[name] = value;
        std::printf("%s %.2f\n", ceiling_key(name, threads).c_str(), value);
    };
    for (int threads : thread_counts) {
        for (const auto &p : kPeaks) print(p.key, threads, bench::measure_peak(p.peak, threads) / 1e9);
        print("bandwidth", threads, bench::measure_read_bandwidth(threads) / 1e9);
    }
}

Ceilings read_ceilings(const std::string &path) {
    Ceilings c;
    std::ifstream in(path);
    std::string name;
    int threads;
    double value;
    while (in >> name >> threads >> value) c[ceiling_key(name.c_str(), threads)] = value;
    return c;
}

// The arithmetic ceiling of a kernel set: the widest operation its kernels
// use.  The 128-bit sets have no FMA; the baseline set's Zen and Bulldozer
// sub-models run 256-bit FMA kernels.
const char *arithmetic_ceiling(const tools::KernelSetFacts &set) {
    const std::string sub_model = tools::baseline_sub_model(set);
    if (set.cpu_type == 7) return "fma512";
    if (set.cpu_type == 5 || sub_model == "Zen" || sub_model == "Bulldozer") return "fma256";
    return "muladd128";
}

const char *ceiling_title(const std::string &key) {
    for (const auto &p : kPeaks)
        if (key == p.key) return bench::peak_name(p.peak);
    return "read bandwidth";
}

// --- one row ------------------------------------------------------------------

// A library's part in the suite.
struct Contender {
    std::string label;      // name in the tables
    bench::Library lib;     // its entry points, for the dlopen'ed libraries
    bool xsmm = false;      // libxsmm's generated kernels instead
    bool ours = false;      // libvorte_blas
};

// Operands of one case, filled with values in [-1, 1).
struct Operands {
    std::vector<float> a, b, c;
    explicit Operands(const SuiteCase &s) {
        const size_t a_size = size_t(s.m) * (s.gemv ? s.n : s.k);
        const size_t b_size = s.gemv ? size_t(std::max(s.m, s.n)) : size_t(s.k) * s.n;
        const size_t c_size = s.gemv ? size_t(std::max(s.m, s.n)) : size_t(s.m) * s.n;
        uint32_t state = 12345;
        for (auto *v : {&a, &b}) {
            v->resize(v == &a ? a_size : b_size);
            for (float &x : *v) x = float((state = state * 1664525u + 1013904223u) >> 8) / 8388608.0f - 1.0f;
        }
        c.assign(c_size, 0.0f);
    }
};

// The call of contender on case s, or an empty function where it does not run.
std::function<void()> make_call(const Contender &who, const SuiteCase &s, int threads, Operands &o) {
    if (who.xsmm)
        return s.family == "small" && threads == 1 && !s.gemv
                   ? bench::xsmm_row_major_sgemm(s.trans_a, s.trans_b, s.m, s.n, s.k, o.a.data(), o.b.data(), o.c.data())
                   : std::function<void()>();
    const bench::Library &lib = who.lib;
    if (threads > 1 && !lib.set_threads) return {};
    const int ta = s.trans_a ? bench::kTrans : bench::kNoTrans, tb = s.trans_b ? bench::kTrans : bench::kNoTrans;
    if (s.gemv)
        return [&lib, &s, &o, ta] {
            lib.sgemv(bench::kRowMajor, ta, s.m, s.n, 1.0f, o.a.data(), s.n, o.b.data(), 1, 0.0f, o.c.data(), 1);
        };
    return [&lib, &s, &o, ta, tb] {
        lib.sgemm(bench::kRowMajor, ta, tb, s.m, s.n, s.k, 1.0f, o.a.data(), s.trans_a ? s.m : s.k, o.b.data(),
                  s.trans_b ? s.k : s.n, 0.0f, o.c.data(), s.n);
    };
}

// Timing of the suite: a few rounds of short turns; a large product gets one
// call per turn, a small one as many as fill the slice.
struct Timing {
    int rounds;    // turns per contender
    double slice;  // seconds per turn at least
};

// Calls timed together: enough that one timing spans ten million flops, far
// above the clock's resolution even for an 8 x 8 x 8 product.
int batch_of(const SuiteCase &s) { return std::max(1, int(1e7 / bench::suite_flops(s))); }

// Seconds each contender needs for one call of s (0 where it does not run).
std::vector<double> time_case(const std::vector<Contender> &who, const SuiteCase &s, int threads, Operands &o,
                              const Timing &timing) {
    std::vector<bench::AlternatingRun> runs;
    std::vector<size_t> index(who.size(), SIZE_MAX);
    const int batch = batch_of(s);
    for (size_t i = 0; i < who.size(); ++i) {
        std::function<void()> single = make_call(who[i], s, threads, o);
        if (!single) continue;
        std::function<void()> call = [single, batch] {
            for (int b = 0; b < batch; ++b) single();
        };
        if (who[i].lib.set_threads) who[i].lib.set_threads(threads);
        // Our OpenMP runtime lets idle workers spin for 200 ms; the baselines'
        // for a few milliseconds.
        const double pause = threads == 1 ? 0.0 : who[i].ours ? bench::kSpinOutPause : 0.03;
        index[i] = runs.size();
        runs.push_back({call, pause});
    }
    const std::vector<double> best = bench::best_times_alternating(runs, timing.rounds, timing.slice, 1, false);
    std::vector<double> seconds(who.size(), 0.0);
    for (size_t i = 0; i < who.size(); ++i)
        if (index[i] != SIZE_MAX) seconds[i] = best[index[i]] / batch;
    return seconds;
}

std::string shape_text(const SuiteCase &s) {
    char text[48];
    if (s.gemv)
        std::snprintf(text, sizeof text, "%dx%d %c", s.m, s.n, s.trans_a ? 'T' : 'N');
    else
        std::snprintf(text, sizeof text, "%dx%dx%d %c%c", s.m, s.n, s.k, s.trans_a ? 'T' : 'N', s.trans_b ? 'T' : 'N');
    return text;
}

// --- the run ------------------------------------------------------------------

std::vector<Contender> load_contenders(const Options &o, tools::ProcessFacts &facts) {
    std::vector<Contender> who;
    for (size_t i = 0; i < o.libraries.size(); ++i) {
        Contender c;
        const bool ours = i == 0;
        std::string name = o.libraries[i].substr(o.libraries[i].find_last_of('/') + 1);
        name = name.substr(0, name.find(".so"));
        if (name.rfind("lib", 0) == 0 && !ours) name = name.substr(3);
        if (name == "openblas") name = "OpenBLAS";
        if (name == "blis") name = "BLIS";
        if (!bench::load_library(o.libraries[i].c_str(), name.c_str(), c.lib)) {
            if (ours) std::exit(1);
            continue;
        }
        c.ours = ours;
        c.label = c.lib.label;
        if (ours && tools::query_process_facts(c.lib.handle, facts))
            c.label += " (" + tools::kernel_set_label(facts.kernel_set) + ")";
        who.push_back(c);
    }
    if (o.xsmm && bench::xsmm_available()) {
        Contender c;
        c.xsmm = true;
        c.label = bench::xsmm_label();
        who.push_back(c);
    }
    return who;
}

std::vector<std::pair<SuiteCase, int>> rows_of(const Options &o) {
    std::vector<std::pair<SuiteCase, int>> rows;
    for (const SuiteCase &s : bench::suite_cases(o.families, o.quick)) {
        if (o.max_gflop > 0 && bench::suite_flops(s) > o.max_gflop * 1e9) continue;
        for (int threads : o.threads)
            if (threads == o.threads.front() || s.threaded) rows.push_back({s, threads});
    }
    return rows;
}

int run_suite(const Options &o) {
    tools::ProcessFacts facts;
    const std::vector<Contender> who = load_contenders(o, facts);
    const Ceilings ceilings = read_ceilings(o.ceilings_path);
    const std::string set = tools::kernel_set_label(facts.kernel_set);
    const std::string arithmetic = arithmetic_ceiling(facts.kernel_set);
    const Timing timing = o.quick ? Timing{2, 0.03} : Timing{3, 0.05};

    std::FILE *csv = std::fopen(o.csv_path.c_str(), "a");
    if (!csv) {
        std::perror(o.csv_path.c_str());
        return 1;
    }
    std::printf("kernel set %s; ceilings: %s (SGEMM), read bandwidth (SGEMV)\n", set.c_str(),
                ceiling_title(arithmetic));
    std::printf("%-7s %-20s %3s", "family", "shape (row-major)", "thr");
    for (const Contender &c : who) std::printf(" | %-27s", c.label.c_str());
    std::printf("\n%32s", "");
    for (size_t i = 0; i < who.size(); ++i) std::printf(" | %-27s", "speed, % of ceiling, x peer");
    std::printf("\n");

    for (const auto &[s, threads] : rows_of(o)) {
        Operands operands(s);
        const std::vector<double> seconds = time_case(who, s, threads, operands, timing);
        const std::string ceiling = s.gemv ? "bandwidth" : arithmetic;
        const double ceiling_value = ceilings.count(ceiling_key(ceiling.c_str(), threads))
                                         ? ceilings.at(ceiling_key(ceiling.c_str(), threads))
                                         : 0.0;
        std::printf("%-7s %-20s %3d", s.family.c_str(), shape_text(s).c_str(), threads);
        for (size_t i = 0; i < who.size(); ++i) {
            if (seconds[i] <= 0) {
                std::printf(" | %-27s", "-");
                continue;
            }
            const double gflops = bench::suite_flops(s) / seconds[i] / 1e9;
            const double gbytes = s.gemv ? 4.0 * s.m * s.n / seconds[i] / 1e9 : 0.0;
            const double figure = s.gemv ? gbytes : gflops;
            double best_peer = 0;
            for (size_t j = 0; j < who.size(); ++j)
                if (j != i && seconds[j] > 0) best_peer = std::max(best_peer, bench::suite_flops(s) / seconds[j] / 1e9);
            const double share = ceiling_value > 0 ? figure / ceiling_value : 0.0;
            const double ratio = best_peer > 0 ? gflops / best_peer : 0.0;
            char cell[64];
            std::snprintf(cell, sizeof cell, "%7.1f %-4s %4.0f%% x%.2f", figure, s.gemv ? "GB/s" : "", 100 * share,
                          ratio);
            std::printf(" | %-27s", cell);
            std::fprintf(csv, "%s,%s,%s,%s,%c%s,%d,%d,%d,%d,%d,%s,%.3f,%.3f,%s,%.2f,%.4f,%s\n", o.run.c_str(), set.c_str(),
                         s.family.c_str(), s.gemv ? "sgemv" : "sgemm", s.trans_a ? 'T' : 'N',
                         s.gemv ? "" : (s.trans_b ? "T" : "N"), s.m, s.n, s.k, s.size, threads, who[i].label.c_str(),
                         gflops, gbytes, ceiling_title(ceiling), ceiling_value, share,
                         best_peer > 0 ? std::to_string(ratio).c_str() : "");
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    std::fclose(csv);
    return 0;
}

// One general SGEMM through libvorte_blas: a kernel set without SGEMM
// kernels ends the process here, with the library's message.
int probe(const Options &o) {
    bench::Library lib;
    if (!bench::load_library(o.libraries[0].c_str(), "libvorte_blas", lib)) return 1;
    std::vector<float> a(64 * 64, 1.0f), b(64 * 64, 1.0f), c(64 * 64, 0.0f);
    lib.sgemm(bench::kRowMajor, bench::kNoTrans, bench::kNoTrans, 64, 64, 64, 1.0f, a.data(), 64, b.data(), 64, 0.0f,
              c.data(), 64);
    return c[0] == 64.0f ? 0 : 1;
}

}  // namespace

// The columns of the CSV.
const char kCsvHeader[] =
    "run,set,family,call,trans,m,n,k,size,threads,library,gflops,gbytes,ceiling,ceiling_value,share_of_ceiling,"
    "ratio_to_best_peer";

int main(int argc, char **argv) {
    Options o;
    if (!parse_options(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s --measure-ceilings | --probe LIBVORTE_BLAS | --list [--families=...] [--quick] | --csv-header\n"
                     "       %s --ceilings=FILE --csv=FILE [--run=NAME] [--families=square,skinny,small,sgemv] [--threads=1,2]\n"
                     "          [--quick] [--max-gflop=X] [--xsmm] LIBVORTE_BLAS [BASELINE_LIBRARY...]\n"
                     "CSV columns: %s\n",
                     argv[0], argv[0], kCsvHeader);
        return 2;
    }
    if (o.csv_header) {
        std::printf("%s\n", kCsvHeader);
        return 0;
    }
    if (o.measure_ceilings) {
        print_ceilings(o.threads);
        return 0;
    }
    if (o.list) {
        for (const auto &[s, threads] : rows_of(o))
            std::printf("  %-7s %-20s %d thread%s\n", s.family.c_str(), shape_text(s).c_str(), threads,
                        threads == 1 ? "" : "s");
        return 0;
    }
    if (o.probe) return probe(o);
    return run_suite(o);
}
