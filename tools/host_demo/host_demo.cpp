// host_demo - the main job: libvorte_blas as an inference runtime uses it.
//
// Written against the public module header alone: the library is loaded
// with dlopen, the backend object comes from createBlasInstance, and every
// product goes through the object's sgemm and sgemv, row-major.  The
// settings the library reads from its environment are put there before the
// library is loaded; the processor identity, which it reads from the
// environment the process started with, restarts the demo with it set.
// `host_demo --help` lists the options; options.cpp reads them.
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "faster_set.h"
#include "loaded_library.h"
#include "measurement.h"
#include "options.h"
#include "report.h"
#include "self_run.h"
#include "vorte/blas_module.h"
#include "workload.h"

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// libvorte_blas.so of the build this demo belongs to: one directory up.
std::string library_beside_demo() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, size_t(n)) : std::string(".");
    dir = dir.substr(0, dir.find_last_of('/'));
    return dir.substr(0, dir.find_last_of('/')) + "/libvorte_blas.so";
}

// Puts the options' library settings into the environment.  Returns only
// when nothing needs a restart (or the restart failed, with a message).
bool apply_settings(const demo::Options &o, char **argv) {
    if (o.cpu_given) {
        const char *current = std::getenv("ORB_SIMULATE_CPU");
        if (o.cpu != (current ? current : "")) {
            demo::restart_with_cpu(o.cpu, argv);
            return false;
        }
    }
    if (o.threads > 0) setenv("ORB_NUM_THREADS", std::to_string(o.threads).c_str(), 1);
    if (o.cbwr_given) {
        if (o.cbwr.empty())
            unsetenv("ORB_CBWR");
        else
            setenv("ORB_CBWR", o.cbwr.c_str(), 1);
    }
    return true;
}

void print_header(const demo::Report &report, const demo::LoadedLibrary &lib, const std::string &path,
                  vorte::blas::BlasModule &blas) {
    const tools::ProcessFacts &f = lib.facts;
    const char *identity = std::getenv("ORB_SIMULATE_CPU");
    report.line(f.version.empty() ? "libvorte_blas" : f.version);
    report.line("library:     " + path + " (provider " + *blas.getBlasProvider().lock() + ")");
    report.line(std::string("processor:   ") + (identity && *identity ? identity : "the real one") +
                " (ORB_SIMULATE_CPU); vendor check " +
                (f.ruzuv_vendor ? "passed: the kernel set follows the features"
                                : "failed: the baseline set, whatever the features"));
    const char *sub_model = tools::baseline_sub_model(f.kernel_set);
    report.line(std::string("kernel set:  ") + tools::kernel_set_name(f.kernel_set) + " (" +
                tools::kernel_set_instructions(f.kernel_set) + ")" +
                (*sub_model ? std::string(", SGEMM on the ") + sub_model + " sub-model" : std::string()) +
                "; threads " + std::to_string(f.threads) + "; reproducibility " + tools::cbwr_mode_name(f.cbwr_mode));
    report.line("");
}

}  // namespace

int main(int argc, char **argv) {
    demo::Options options;
    std::string error;
    if (!demo::parse_options(argc, argv, options, error)) {
        std::fprintf(stderr, "host_demo: %s\n(host_demo --help lists the options)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(demo::usage(), stdout);
        return 0;
    }
    if (!apply_settings(options, argv)) return 1;
    const std::string path = options.library.empty() ? library_beside_demo() : options.library;

    const double start = now();
    demo::LoadedLibrary lib;
    if (!demo::load_library(path, lib, error)) {
        std::fprintf(stderr, "host_demo: %s\n", error.c_str());
        return 1;
    }
    auto *blas = static_cast<vorte::blas::BlasModule *>(lib.create());
    const demo::Workload work =
        options.products.empty() ? demo::inference_workload() : demo::given_workload(options.products);
    demo::Report report(options.csv, work.rows.size(),
                        lib.has_queries ? tools::kernel_set_label(lib.facts.kernel_set) : "unknown");
    print_header(report, lib, path, *blas);

    const demo::OperandPool operands(work.rows);
    demo::Measurement compared;
    for (size_t i = 0; i < work.rows.size(); ++i) {
        report.progress(i, work.rows[i]);
        const demo::Measurement m = demo::measure(*blas, work.rows[i], operands, options.reps);
        report.row(work.rows[i], m);
        if (i == work.compared) compared = m;
    }
    if (!options.csv && lib.has_queries) {
        const std::string note =
            demo::faster_set_note(lib.facts, work.rows[work.compared], compared, path, options.reps);
        if (!note.empty()) report.line("\n" + note);
    }
    lib.destroy(blas);
    return report.summary(now() - start, lib.facts.threads) ? 0 : 1;
}
