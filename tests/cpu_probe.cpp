// cpu_probe.cpp - the child side and the parent side of a processor probe.
//
// The child entry "cpu_probe" reads its script from CPU_PROBE_STEPS and
// answers each step with one "@ key=value" line on standard output, flushed
// at once so that the lines keep their place among the library's own
// messages and survive an exit in the middle of the script.  The parent side
// starts the child with the chosen processor table and collects the "@"
// lines.  The list of steps is in cpu_probe.h.
#include "cpu_probe.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "orb_service.h"
#include "service/cpu_detect.h"
#include "service/feature_scan.h"

namespace {

const char kStepsVariable[] = "CPU_PROBE_STEPS";

void emit(const std::string &line) {
    std::printf("@ %s\n", line.c_str());
    std::fflush(stdout);
}

long number_of(const std::string &text) { return std::strtol(text.c_str(), nullptr, 0); }

std::string hex(long long value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", value);
    return text;
}

// The scanned feature set, scanning first while it is still 0.
void scanned_features(uint64_t set[2]) {
    if (__ruzuv_orb_feature_indicator_x[0] == 0 && __ruzuv_orb_feature_indicator_x[1] == 0)
        __ruzuv_orb_features_init_x();
    set[0] = __ruzuv_orb_feature_indicator_x[0];
    set[1] = __ruzuv_orb_feature_indicator_x[1];
}

void probe_exit_hook(int code) {
    emit("hook=" + std::to_string(code));
    _exit(kProbeHookStatus);
}

// Runs first_call on 16 threads released together; the common answer, or "mixed".
template <typename Call>
std::string all_threads_agree(Call first_call, bool as_hex) {
    constexpr int kThreads = 16;
    std::atomic<int> arrived{0};
    int answers[kThreads];
    std::thread team[kThreads];
    for (int t = 0; t < kThreads; ++t)
        team[t] = std::thread([&, t] {
            arrived.fetch_add(1);
            while (arrived.load() < kThreads) {
            }
            answers[t] = first_call();
        });
    for (std::thread &member : team) member.join();
    for (int t = 1; t < kThreads; ++t)
        if (answers[t] != answers[0]) return "mixed";
    return as_hex ? hex(answers[0]) : std::to_string(answers[0]);
}

// Predicates that take no argument, by step name.
struct NamedPredicate {
    const char *name;    // step name and result key
    int (*answer)(void);  // the predicate
};

const NamedPredicate kPredicates[] = {
    {"pnr", orb_serv_cpuhaspnr},       {"pnr_true", orb_serv_cpuhaspnr_true},
    {"bulldozer", orb_serv_cpuisbulldozer}, {"zen", orb_serv_cpuiszen},
    {"barcelona", orb_serv_cpuisitbarcelona}, {"clx", orb_serv_cpuisclx},
    {"icx", orb_serv_cpuisicx},        {"cpx", orb_serv_cpuiscpx},
    {"avxvnni", orb_serv_cpuhasavxvnni}, {"f16c", orb_serv_cpuhasf16c},
    {"fp16", orb_serv_cpuhasfp16},     {"amxfp16", orb_serv_cpuhasamxfp16},
};

// Carries out one step; returns false for an unknown step.
bool run_step(const std::string &step) {
    std::string name = step.substr(0, step.find(':'));
    std::string arg = step.find(':') == std::string::npos ? "" : step.substr(step.find(':') + 1);

    for (const NamedPredicate &p : kPredicates)
        if (name == p.name) {
            emit(name + "=" + std::to_string(p.answer()));
            return true;
        }
    if (name == "type") {
        emit("type=" + std::to_string(orb_serv_cpu_detect()));
    } else if (name == "fresh") {
        emit("fresh=" + std::to_string(orb_serv_get_cpu_type(1)));
    } else if (name == "stored") {
        emit("stored=" + std::to_string(orb_serv_get_cpu_type(0)));
    } else if (name == "mode") {
        emit("mode=" + hex(static_cast<unsigned>(orb_serv_cbwr_get(-1))));
    } else if (name == "branch") {
        emit("branch=" + std::to_string(orb_serv_cbwr_get(1)));
    } else if (name == "get") {
        emit("get(" + arg + ")=" + std::to_string(orb_serv_cbwr_get(static_cast<int>(number_of(arg)))));
    } else if (name == "set") {
        emit("set(" + arg + ")=" + std::to_string(orb_serv_cbwr_set(static_cast<int>(number_of(arg)))));
    } else if (name == "ceiling") {
        emit("ceiling=" + std::to_string(orb_serv_cbwr_get_auto_branch()));
    } else if (name == "limit") {
        emit("limit(" + arg + ")=" +
             std::to_string(orb_serv_enable_instructions(static_cast<int>(number_of(arg)))));
    } else if (name == "enabled") {
        emit("enabled=" + std::to_string(orb_serv_is_sse4_2_enabled()) +
             std::to_string(orb_serv_is_avx_enabled()) + std::to_string(orb_serv_is_avx2_enabled()) +
             std::to_string(orb_serv_is_avx512_enabled()));
    } else if (name == "flags") {
        const unsigned char flags[] = {_ENABLED_AVX,       _ENABLED_AVX2,       _ENABLED_AVX512,
                                       _ENABLED_AVX512_E1, _ENABLED_AVX512_E2, _ENABLED_AVX512_E3,
                                       _ENABLED_AVX512_E4, _ENABLED_AVX512_E5, _ENABLED_AVX2_E1};
        std::string line = "flags=";
        for (unsigned char flag : flags) line += std::to_string(flag);
        emit(line);
    } else if (name == "vendor") {
        emit("vendor=" + std::to_string(orb_serv_get_cpu_true()()));
    } else if (name == "ruzuv") {
        emit("ruzuv=" + std::to_string(orb_serv_get_cpu()()));
    } else if (name == "amx") {
        uint32_t info[12];
        for (uint32_t &word : info) word = 0xdeadbeef;
        std::string line = "amx=" + std::to_string(orb_serv_cpuhasamx(info)) + ":";
        for (int i = 0; i < 12; ++i) line += (i ? "," : "") + std::to_string(info[i]);
        emit(line);
    } else if (name == "amxq") {
        emit("amxq=" + std::to_string(orb_serv_cpuhasamx(nullptr)));
    } else if (name == "bits") {
        uint64_t set[2];
        scanned_features(set);
        std::string answer;
        std::stringstream positions(arg);
        for (std::string b; std::getline(positions, b, ',');) {
            long bit = number_of(b);
            answer += static_cast<char>('0' + ((set[bit / 64] >> (bit % 64)) & 1));
        }
        emit("bits(" + arg + ")=" + answer);
    } else if (name == "feat") {
        uint64_t set[2];
        scanned_features(set);
        emit("feat(" + arg + ")=" +
             std::to_string(__liborb_get_cpu_feature(set, static_cast<int>(number_of(arg)))));
    } else if (name == "cache") {
        uint64_t sizes[5];
        orb_serv_cache_info(sizes);
        std::string line = "cache=";
        for (int i = 0; i < 5; ++i) line += (i ? "/" : "") + std::to_string(sizes[i]);
        emit(line);
    } else if (name == "size") {
        emit("size(" + arg + ")=" +
             std::to_string(orb_serv_get_cache_size(static_cast<int>(number_of(arg)))));
    } else if (name == "hook") {
        orb_serv_set_exit_handler(probe_exit_hook);
    } else if (name == "threads16") {
        emit("threads16=" + all_threads_agree([] { return orb_serv_cpu_detect(); }, false));
    } else if (name == "cbwr16") {
        emit("cbwr16=" + all_threads_agree([] { return orb_serv_cbwr_get(-1); }, true));
    } else {
        return false;
    }
    return true;
}

}  // namespace

ORB_CHILD_ENTRY(cpu_probe) {
    const char *steps = std::getenv(kStepsVariable);
    std::stringstream script(steps ? steps : "");
    for (std::string step; script >> step;)
        if (!run_step(step)) {
            emit("unknown-step=" + step);
            return 2;
        }
    return 0;
}

std::string simulated_cpu(const std::string &name) {
    return "ORB_SIMULATE_CPU=file:" + test_data_path("cpus/" + name + ".cpuid");
}

ProbeRun run_probe(const std::string &cpu, const std::vector<std::string> &settings,
                   const std::string &steps) {
    std::vector<std::string> all = settings;
    if (!cpu.empty()) all.push_back(simulated_cpu(cpu));
    all.push_back(std::string(kStepsVariable) + "=" + steps);
    ProbeRun run;
    run.child = run_child("cpu_probe", all);
    std::stringstream out(run.child.out);
    for (std::string line; std::getline(out, line);)
        if (line.compare(0, 2, "@ ") == 0) run.results += (run.results.empty() ? "" : " ") + line.substr(2);
    return run;
}

std::string catalog_text(int number) { return orb_serv_get_msg(number, 0); }

int count_occurrences(const std::string &text, const std::string &needle) {
    int count = 0;
    for (size_t at = text.find(needle); !needle.empty() && at != std::string::npos;
         at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

void expect_probe_case(const ProbeCase &row) {
    ProbeRun run = run_probe(row.cpu, row.settings, row.steps);
    EXPECT_EQ(run.child.exit_code, 0) << run.child.out << run.child.err;
    EXPECT_EQ(run.results, row.expect);
    if (row.warning == 0) {
        EXPECT_EQ(run.child.err, "");
    } else if (row.warning > 0) {
        EXPECT_EQ(count_occurrences(run.child.err, catalog_text(row.warning)), 1)
            << "standard error: " << run.child.err;
    }
}

std::string probe_case_name(const testing::TestParamInfo<ProbeCase> &info) { return info.param.name; }

void PrintTo(const ProbeCase &row, std::ostream *os) {
    *os << row.name << " [cpu " << (*row.cpu ? row.cpu : "(real)");
    for (const std::string &s : row.settings) *os << ", " << s;
    *os << "; steps: " << row.steps << "]";
}
