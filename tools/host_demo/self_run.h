// self_run.h - the demo running itself again with other settings in its
// environment.  The library reads the processor identity (ORB_SIMULATE_CPU)
// from the environment the process started with, not from setenv, so a
// change of identity needs a new process image.
#ifndef ORB_TOOLS_HOST_DEMO_SELF_RUN_H
#define ORB_TOOLS_HOST_DEMO_SELF_RUN_H

#include <string>
#include <vector>

namespace demo {

// Replaces this process by the demo with the same arguments and
// ORB_SIMULATE_CPU set to value ("" removes it); returns only when that fails.
void restart_with_cpu(const std::string &value, char **argv);

// What a run of the demo as a child printed.
struct ChildRun {
    int status = -1;   // exit status, -1 when it did not exit normally
    std::string out;   // its standard output
};

// Runs the demo with args, with settings ("NAME=VALUE") added to this
// process's current environment; its standard error passes through.
ChildRun run_self(const std::vector<std::string> &args, const std::vector<std::string> &settings);

}  // namespace demo

#endif
