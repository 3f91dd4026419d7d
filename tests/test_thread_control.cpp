// Thread-count control end to end.  The environment is read once per
// process, so every case runs in a child process with its own environment
// and a small script of service calls; the child prints the answer of each
// call that has one.  Expected counts are worked out from two figures of the
// machine: its physical cores (the library's count, itself checked against
// the system's CPU topology) and the OpenMP default team size (the
// processors this process may run on).
#include <gtest/gtest.h>
#include <omp.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "orb_threads.h"
#include "service/thread_settings.h"
#include "support/child_process.h"

namespace {

// --- the child's script --------------------------------------------------

std::vector<int> numbers_after_name(const std::string &word) {
    std::vector<int> numbers;
    for (size_t colon = word.find(':'); colon != std::string::npos; colon = word.find(':', colon + 1))
        numbers.push_back(std::atoi(word.c_str() + colon + 1));
    return numbers;
}

// Asks for a domain's count from both threads of a parallel region; thread 1
// first sets local as its own count when local > 0.
std::string parallel_answers(int local, int domain) {
    int answers[2] = {-9, -9};
#pragma omp parallel num_threads(2)
    {
        int t = omp_get_thread_num();
        if (t == 1 && local > 0) orb_serv_set_num_threads_local(local);
        if (t < 2) answers[t] = orb_serv_domain_get_max_threads(domain);
    }
    return std::to_string(answers[0]) + "," + std::to_string(answers[1]);
}

struct NamedSetting {
    const char *name;  // name used in a script
    Setting *setting;  // the setting it shows
};
const NamedSetting kShownSettings[] = {
    {"all", &orb_thread_settings.all_threads},      {"blas", &orb_thread_settings.blas_threads},
    {"fft", &orb_thread_settings.fft_threads},      {"eltwise", &orb_thread_settings.eltwise_threads},
    {"sparse", &orb_thread_settings.sparse_threads}, {"dynamic", &orb_thread_settings.dynamic},
    {"omp", &orb_thread_settings.omp_num_threads},  {"ppn", &orb_thread_settings.mpi_ppn},
    {"level", &orb_thread_settings.mpi_thread_level},
};

std::string shown_setting(const std::string &name) {
    orb_read_thread_environment_once();
    for (const NamedSetting &s : kShownSettings)
        if (name == s.name) return std::to_string(s.setting->get());
    return "?" + name;
}

// Runs one script word; the empty string for calls without an answer.
std::string run_word(const std::string &word) {
    std::string op = word.substr(0, word.find(':'));
    std::vector<int> n = numbers_after_name(word);
    auto answer = [](int value) { return std::to_string(value); };
    if (op == "max") return answer(orb_serv_domain_get_max_threads(n[0]));
    if (op == "set") return orb_serv_set_num_threads(n[0]), "";
    if (op == "domain") return answer(orb_serv_domain_set_num_threads(n[0], static_cast<unsigned>(n[1])));
    if (op == "local") return answer(orb_serv_set_num_threads_local(n[0]));
    if (op == "dynamic") return answer(n.empty() ? orb_serv_get_dynamic() : orb_serv_set_dynamic(n[0]));
    if (op == "safe") return answer(orb_serv_mpi_safe(n[0]));
    if (op == "stripes" && n.empty()) return answer(orb_serv_get_num_stripes());
    if (op == "stripes") return orb_serv_set_num_stripes(n[0]), "";
    if (op == "par") return parallel_answers(0, n[0]);
    if (op == "par_local") return parallel_answers(n[0], n[1]);
    if (op == "show") return shown_setting(word.substr(5));
    if (op == "ppn") return answer(orb_serv_mpi_get_ppn());
    if (op == "cleanup") return orb_serv_thr_cleanup(), "";
    if (op == "cores")
        return answer(orb_serv_get_ncpus()) + "," + answer(orb_serv_get_ncorespercpu()) + "," +
               answer(orb_serv_get_ht()) + "," + answer(orb_serv_get_nlogicalcores()) + "," +
               answer(orb_thread_settings.physical_cores.get());
    return "?" + word;
}

ORB_CHILD_ENTRY(thread_script) {
    std::istringstream words(std::getenv("THREAD_SCRIPT"));
    std::string out;
    for (std::string word; words >> word;)
        if (std::string result = run_word(word); !result.empty()) out += (out.empty() ? "" : " ") + result;
    std::printf("%s", out.c_str());
    return 0;
}

// --- the parent's side ---------------------------------------------------

struct ScriptCase {
    std::vector<std::string> env;  // the child's settings, "NAME=VALUE"
    std::string script;            // words run in the child
    std::string expected;          // the answers it prints
};

std::string run_script(const std::vector<std::string> &env, const std::string &script) {
    // MPI launcher variables are not library settings; keep the parent's out too.
    std::vector<std::string> settings = {"QX_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE", "QX_MPI_PIN_MAPPING",
                                         "OMPI_COMM_WORLD_LOCAL_SIZE", "MPI_LOCALNRANKS",
                                         "QX_MPI_THREAD_LEVEL", "THREAD_SCRIPT=" + script};
    settings.insert(settings.end(), env.begin(), env.end());
    ChildResult r = run_child("thread_script", settings);
    if (r.exit_code != 0) return "exit " + std::to_string(r.exit_code) + " signal " + std::to_string(r.signal);
    return r.out;
}

// The machine's figures that the counts follow.
struct Machine {
    int physical;        // physical cores, as the library counts them
    int openmp_default;  // OpenMP's default team size
};

const Machine &machine() {
    static const Machine figures = [] {
        Machine m{};
        std::istringstream cores(run_script({}, "cores"));  // packages,per package,ht,logical,physical
        for (int field = 0; field < 5; ++field) {
            cores >> m.physical;
            cores.ignore(1);
        }
        cpu_set_t allowed;
        m.openmp_default = sched_getaffinity(0, sizeof allowed, &allowed) == 0 ? CPU_COUNT(&allowed) : 1;
        return m;
    }();
    return figures;
}

// A count of threads after dynamic adjustment: at most the physical cores.
std::string capped(int threads) { return std::to_string(std::min(threads, machine().physical)); }

// The OpenMP default after dynamic adjustment, then under MPI with ppn
// processes per node at most this process's share of the cores (a share
// below 2 gives 1).
std::string mpi_share(int ppn) {
    int threads = std::min(machine().openmp_default, machine().physical);
    int share = std::min(threads, machine().physical / ppn);
    return std::to_string(share < 2 ? 1 : share);
}

void expect_scripts(const std::vector<ScriptCase> &cases) {
    for (const ScriptCase &c : cases) {
        std::string env;
        for (const std::string &e : c.env) env += e + "; ";
        EXPECT_EQ(run_script(c.env, c.script), c.expected) << "env: " << env << "script: " << c.script;
    }
}

TEST(ThreadCount, PrecedenceOfTheSettings) {
    expect_scripts({
        // the thread's own count beats everything, uncapped by the cores
        {{"ORB_NUM_THREADS=1", "ORB_DOMAIN_NUM_THREADS=ORB_DOMAIN_BLAS=1"}, "set:2 local:7 max:1 max:-1 local:2", "0 7 7 7"},
        {{"ORB_NUM_THREADS=1"}, "local:5 local:-3 max:-1 local:0", "0 5 1 -3"},
        // a domain's count beats the all-domain count, for its own domain only
        {{"ORB_DYNAMIC=false"}, "set:6 domain:3:1 max:1 max:0 max:-1 max:2", "1 3 6 6 6"},
        {{"ORB_DYNAMIC=false", "ORB_DOMAIN_NUM_THREADS=ORB_DOMAIN_ALL=5,ORB_DOMAIN_BLAS=3"},
         "domain:4:0 max:0 max:1", "1 4 3"},
        // service settings beat the environment, made before or after reading it
        {{"ORB_NUM_THREADS=4", "ORB_DYNAMIC=false"}, "set:6 max:-1", "6"},
        {{"ORB_NUM_THREADS=4", "ORB_DYNAMIC=false"}, "max:-1 set:6 max:-1", "4 6"},
        {{"ORB_DOMAIN_NUM_THREADS=ORB_DOMAIN_BLAS=4", "ORB_DYNAMIC=false"}, "domain:3:1 max:1", "1 3"},
        // the environment beats the OpenMP default, which comes last
        {{"ORB_NUM_THREADS=5", "OMP_NUM_THREADS=3", "ORB_DYNAMIC=false"}, "max:-1", "5"},
        {{"OMP_NUM_THREADS=3", "ORB_DYNAMIC=false"}, "max:-1 max:1", "3 3"},
        // dynamic adjustment caps every source at the physical cores
        {{"ORB_NUM_THREADS=80"}, "max:-1 max:1", capped(80) + " " + capped(80)},
        {{"OMP_NUM_THREADS=70"}, "max:-1", capped(70)},
        {{"ORB_NUM_THREADS=80"}, "max:-1 dynamic:0 max:-1 dynamic:5 max:-1", capped(80) + " 0 80 1 " + capped(80)},
    });
}

TEST(ThreadCount, SettersIgnoreInvalidValues) {
    expect_scripts({
        {{"ORB_NUM_THREADS=3", "ORB_DYNAMIC=false"}, "set:0 set:-2 max:-1", "3"},
        {{"ORB_NUM_THREADS=5", "ORB_DOMAIN_NUM_THREADS=ORB_DOMAIN_BLAS=3", "ORB_DYNAMIC=false"},
         "domain:2:5 domain:-1:1 domain:2:99 max:1 domain:0:1 max:1", "0 0 0 3 1 5"},
        {{"ORB_NUM_STRIPES=3"}, "stripes:-1 stripes stripes:4 stripes stripes:0 stripes", "3 4 0"},
    });
}

TEST(ThreadCount, InsideAParallelRegion) {
    expect_scripts({
        {{"ORB_NUM_THREADS=2"}, "par:-1 par:1 max:-1", "1,1 1,1 " + capped(2)},
        {{"ORB_NUM_THREADS=2"}, "par_local:3:1", "1,3"},
        {{"ORB_NUM_THREADS=4", "ORB_DYNAMIC=false"}, "par:-1", "4,4"},
    });
}

TEST(ThreadEnvironment, ThreadCountsAndDomainLists) {
    expect_scripts({
        {{"ORB_NUM_THREADS=8", "ORB_DOMAIN_NUM_THREADS=ORB_DOMAIN_BLAS=2", "ORB_DYNAMIC=false"}, "max:1 max:-1", "2 8"},
        {{"ORB_NUM_THREADS=abc"}, "show:all max:-1", "1 1"},
        {{"ORB_NUM_THREADS=0"}, "show:all", "-1"},
        {{"ORB_NUM_THREADS=8", "ORB_DOMAIN_NUM_THREADS=ORB_DOMAIN_ALL=4"}, "show:all", "8"},
        {{"ORB_DOMAIN_NUM_THREADS=ORB_DOMAIN_ALL=4, ORB_DOMAIN_BLAS=2;ORB_DOMAIN_FFT=3:ORB_DOMAIN_ELTWISE 5 "
          "'ORB_DOMAIN_SPARSE'"},
         "show:all show:blas show:fft show:eltwise show:sparse", "4 2 3 5 1"},
        {{"ORB_DOMAIN_NUM_THREADS=\"ORB_DOMAIN_ALL=2 ORB_DOMAIN_ALL=5 ORB_DOMAIN_BLAS=0 ORB_DOMAIN_FFT=x\""},
         "show:all show:blas show:fft", "2 -1 1"},
        {{"ORB_NUM_THREADS=" + std::string(300, '7')}, "show:all", "-1"},  // too long to be read
    });
}

TEST(ThreadEnvironment, DynamicWords) {
    // The words themselves are covered by the parsing tests.
    expect_scripts({
        {{"ORB_DYNAMIC=false"}, "dynamic", "0"},
        {{"ORB_DYNAMIC= 'false' and more"}, "dynamic", "0"},
        {{"ORB_DYNAMIC=False"}, "dynamic", "1"},
        {{"ORB_DYNAMIC="}, "dynamic", "1"},
        {{}, "dynamic", "1"},
        {{"ORB_DYNAMIC=false"}, "dynamic:1 dynamic", "1 1"},  // set before the reading
    });
}

TEST(ThreadEnvironment, StripesAndOpenMPTeamSize) {
    expect_scripts({
        {{"ORB_NUM_STRIPES=3"}, "stripes", "3"},
        {{"ORB_NUM_STRIPES=0"}, "stripes", "0"},
        {{"ORB_NUM_STRIPES=abc"}, "stripes", "-1"},
        {{"ORB_NUM_STRIPES=3"}, "stripes:5 stripes", "5"},
        {{"OMP_NUM_THREADS=3"}, "show:omp", "3"},
        {{"OMP_NUM_THREADS=4,2"}, "show:omp", "1"},
        {{"OMP_NUM_THREADS=0"}, "show:omp", "-1"},
    });
}

TEST(ThreadEnvironment, MpiProcessesPerNode) {
    expect_scripts({
        {{"ORB_MPI_PPN=3", "MPI_LOCALNRANKS=9"}, "ppn show:ppn", "3 3"},
        {{"ORB_MPI_PPN=0", "QX_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE=5", "MPI_LOCALNRANKS=9"}, "ppn", "5"},
        {{"QX_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE=0", "QX_MPI_PIN_MAPPING=4:0 0,1 1,2 2,3 3"}, "ppn", "4"},
        {{"QX_MPI_PIN_MAPPING=0:0 0", "OMPI_COMM_WORLD_LOCAL_SIZE=2"}, "ppn", "2"},
        {{"QX_MPI_PIN_MAPPING=4", "OMPI_COMM_WORLD_LOCAL_SIZE=0", "MPI_LOCALNRANKS=7"}, "ppn", "7"},
        {{"ORB_MPI_PPN=4x", "QX_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE= 5", "QX_MPI_PIN_MAPPING=x:1",
          "OMPI_COMM_WORLD_LOCAL_SIZE=6.0", "MPI_LOCALNRANKS=-2"},
         "ppn show:ppn", "-1 -1"},
        {{"QX_MPI_THREAD_LEVEL=3"}, "show:level", "3"},
        {{"QX_MPI_THREAD_LEVEL=4"}, "show:level", "0"},
        {{"QX_MPI_THREAD_LEVEL=x"}, "show:level", "0"},
        {{}, "show:level", "-1"},
    });
}

TEST(ThreadCount, MpiReduction) {
    expect_scripts({
        {{"ORB_MPI_PPN=2", "QX_MPI_THREAD_LEVEL=1"}, "max:-1", mpi_share(2)},
        {{"ORB_MPI_PPN=1", "QX_MPI_THREAD_LEVEL=1"}, "max:-1", mpi_share(1)},
        {{"ORB_MPI_PPN=1", "QX_MPI_THREAD_LEVEL=0"}, "max:-1", "1"},
        {{"ORB_MPI_PPN=1"}, "max:-1", "1"},
        {{"ORB_MPI_PPN=1", "QX_MPI_THREAD_LEVEL=9"}, "max:-1", "1"},
        {{"QX_MPI_THREAD_LEVEL=0"}, "max:-1", capped(machine().openmp_default)},  // ppn unknown
        // no reduction when the user sized the team or a setting chose the count
        {{"ORB_MPI_PPN=2", "QX_MPI_THREAD_LEVEL=0", "OMP_NUM_THREADS=4,2"}, "max:-1", capped(4)},
        {{"ORB_MPI_PPN=2", "QX_MPI_THREAD_LEVEL=0", "OMP_NUM_THREADS=2"}, "max:-1", capped(2)},
        {{"ORB_MPI_PPN=2", "QX_MPI_THREAD_LEVEL=0", "ORB_NUM_THREADS=2"}, "max:-1", capped(2)},
        {{"ORB_MPI_PPN=2", "QX_MPI_THREAD_LEVEL=0", "ORB_DYNAMIC=false"}, "max:-1",
         std::to_string(machine().openmp_default)},
        // a declared MPI safety decides alone
        {{"ORB_MPI_PPN=2", "QX_MPI_THREAD_LEVEL=0"}, "safe:1 max:-1", "1 " + capped(machine().openmp_default)},
        {{"ORB_MPI_PPN=2", "QX_MPI_THREAD_LEVEL=3"}, "safe:0 max:-1", "0 1"},
        {{}, "safe:2 max:-1", "0 1"},
    });
}

// The machine's processors as the system's CPU topology lists them:
// packages, cores per package, hyperthreading (0 or 1), logical, physical.
// Empty when the topology cannot be read.
std::string topology_counts() {
    std::set<int> packages;
    std::set<std::pair<int, int>> cores;  // (package, core)
    int logical = 0;
    for (int cpu = 0;; ++cpu) {
        const std::string dir = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        std::ifstream package_file(dir + "physical_package_id"), core_file(dir + "core_id");
        int package = 0, core = 0;
        if (!(package_file >> package) || !(core_file >> core)) break;
        ++logical;
        packages.insert(package);
        cores.insert({package, core});
    }
    if (logical == 0) return "";
    const int physical = static_cast<int>(cores.size()), package_count = static_cast<int>(packages.size());
    return std::to_string(package_count) + "," + std::to_string(physical / package_count) + "," +
           (logical > physical ? "1" : "0") + "," + std::to_string(logical) + "," + std::to_string(physical);
}

TEST(ThreadCount, CoresOfThisMachine) {
    const std::string expected = topology_counts();
    if (expected.empty()) GTEST_SKIP() << "this system lists no CPU topology under /sys/devices/system/cpu";
    expect_scripts({{{}, "cores", expected}});
}

// --- clean-up registry ---------------------------------------------------

std::string cleanup_trace;
void trace_cleanup(void *arg) { cleanup_trace += static_cast<const char *>(arg); }

ORB_CHILD_ENTRY(cleanup_order) {
    orb_serv_thr_cleanup();
    static const char *names[] = {"a", "b", "c"};
    for (const char *name : names)
        std::printf("%d", orb_serv_thr_register_cleanup(trace_cleanup, const_cast<char *>(name)));
    orb_serv_thr_cleanup();
    orb_serv_thr_cleanup();
    std::printf(" %s", cleanup_trace.c_str());
    return 0;
}

void report_exit(int code) {
    std::printf(" exit %d", code);
    std::fflush(stdout);
    _exit(code);
}

ORB_CHILD_ENTRY(cleanup_overflow) {
    orb_serv_thr_cleanup();
    orb_serv_set_exit_handler(report_exit);
    int registered = 0;
    for (int i = 0; i < 8; ++i) registered += orb_serv_thr_register_cleanup(trace_cleanup, nullptr) == 0;
    std::printf("%d", registered);
    orb_serv_thr_register_cleanup(trace_cleanup, nullptr);
    std::printf(" returned");
    return 0;
}

TEST(CleanupRegistry, RunsLastRegisteredFirstAndOnce) {
    ChildResult r = run_child("cleanup_order");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "000 cba");
}

TEST(CleanupRegistry, NinthRegistrationEndsTheProcessWithCode3) {
    ChildResult r = run_child("cleanup_overflow");
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.out, "8 exit 3");
}

TEST(CleanupRegistry, DeletesTheThreadLocalKey) {
    // After the clean-up the thread's own count is gone; a new one can be set.
    expect_scripts({{{"ORB_NUM_THREADS=1"}, "local:4 max:1 cleanup max:1 local:6 max:1", "0 4 1 0 6"}});
}

}  // namespace
