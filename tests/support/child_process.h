// child_process.h - running a piece of a test in a fresh process.
//
// Much of the library reads its environment, and asks the processor who it
// is, once per process.  A test that needs another environment re-executes
// its own test binary: the child starts with the parent's environment minus
// every library setting (ORB_*, RUZUV_ISA_DISABLE, OMP_*) except the
// presented processor (ORB_SIMULATE_CPU), plus the settings the test names,
// and runs one registered child entry instead of the tests.
// The parent receives the child's exit status and everything it printed.
// run_program starts another program the same way.
//
//   ORB_CHILD_ENTRY(print_cpu_type) { printf("%d\n", orb_serv_cpu_detect()); return 0; }
//   ChildResult r = run_child("print_cpu_type", {"ORB_CBWR=AVX2"});
#ifndef ORB_TESTS_CHILD_PROCESS_H
#define ORB_TESTS_CHILD_PROCESS_H

#include <string>
#include <vector>

struct ChildResult {
    int exit_code = -1;   // exit status, or -1 when the child was killed
    int signal = 0;       // the signal that ended the child, 0 if it exited
    std::string out;      // everything written to standard output
    std::string err;      // everything written to standard error
};

using ChildEntry = int (*)();

// Registers an entry under name; used by ORB_CHILD_ENTRY.
bool register_child_entry(const char *name, ChildEntry entry);

// Runs entry in a fresh copy of this executable.  Each setting is
// "NAME=VALUE" (set) or "NAME" (removed).
ChildResult run_child(const std::string &entry, const std::vector<std::string> &settings = {});

// Runs the program at path with args in a fresh process, with the same
// environment a child entry gets (minus the entry variable).
ChildResult run_program(const std::string &path, const std::vector<std::string> &args,
                        const std::vector<std::string> &settings = {});

// Called by the test main: runs the requested child entry and never returns
// when this process is a child; returns false otherwise.
bool maybe_run_child_entry();

// Absolute path of a file shipped in the tests/ directory.
std::string test_data_path(const std::string &relative);

#define ORB_CHILD_ENTRY(name)                                                \
    static int name##_child_entry();                                          \
    static const bool name##_child_registered =                               \
        register_child_entry(#name, name##_child_entry);                      \
    static int name##_child_entry()

#endif
