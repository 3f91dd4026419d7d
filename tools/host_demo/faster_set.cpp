// faster_set.cpp - measuring the kernel set the vendor check withholds.
#include "faster_set.h"

#include <sstream>
#include <vector>

#include "report.h"
#include "self_run.h"

namespace demo {

namespace {

// The setting under which the same machine passes the vendor check and gets
// the kernel set its features allow.
const std::vector<std::string> kFasterSetSettings = {"ORB_SIMULATE_CPU=ruzuv"};

std::string joined(const std::vector<std::string> &words) {
    std::string text;
    for (const std::string &w : words) text += (text.empty() ? "" : " ") + w;
    return text;
}

}  // namespace

std::string faster_set_note(const tools::ProcessFacts &facts, const Product &row, const Measurement &here,
                            const std::string &library, int reps) {
    if (facts.ruzuv_vendor || std::string(tools::kernel_set_name(facts.kernel_set)) != "def") return "";
    std::vector<std::string> args = {"--csv", as_option(row), library};
    if (reps > 0) args.push_back("--reps=" + std::to_string(reps));
    const ChildRun run = run_self(args, kFasterSetSettings);
    std::istringstream lines(run.out);
    std::string line, kernels;
    Measurement there;
    bool measured = false;
    while (!measured && std::getline(lines, line)) measured = parse_csv_row(line, kernels, there);
    const std::string settings = joined(kFasterSetSettings);
    if (run.status != 0 || !measured)
        return "note: the vendor check keeps this processor on the baseline set; a run under " + settings +
               " to compare failed (status " + std::to_string(run.status) + ")";
    if (kernels.compare(0, 3, "def") == 0) return "";
    return "note: the vendor check keeps this processor on the baseline set (" +
           tools::kernel_set_label(facts.kernel_set) + ") though it can run " + kernels + ": " + settings + " gives " +
           speed_text(row, there) + " instead of " + speed_text(row, here) + " on " +
           (row.label.empty() ? describe(row) : row.label + " (" + describe(row) + ")");
}

}  // namespace demo
