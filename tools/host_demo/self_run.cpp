// self_run.cpp - restarting the demo, and running it as a child.
#include "self_run.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tools/exec_arguments.h"

extern char **environ;

namespace demo {

namespace {

const char kSelf[] = "/proc/self/exe";

// True when the environment entry "NAME=..." sets the variable that the
// setting "NAME=VALUE" sets.
bool same_variable(const std::string &entry, const std::string &setting) {
    const size_t name_end = setting.find('=') + 1;
    return entry.compare(0, name_end, setting, 0, name_end) == 0;
}

}  // namespace

void restart_with_cpu(const std::string &value, char **argv) {
    if (value.empty())
        unsetenv("ORB_SIMULATE_CPU");
    else
        setenv("ORB_SIMULATE_CPU", value.c_str(), 1);
    std::fflush(nullptr);
    execv(kSelf, argv);
    std::perror("host_demo: cannot restart itself");
}

ChildRun run_self(const std::vector<std::string> &args, const std::vector<std::string> &settings) {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string &s : settings) replaced = replaced || same_variable(entry, s);
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), settings.begin(), settings.end());
    std::vector<std::string> argv_text = {"host_demo"};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char *> argv = tools::exec_arguments(argv_text), envp = tools::exec_arguments(env);

    ChildRun run;
    int out_pipe[2];
    if (pipe(out_pipe) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, out_pipe[1]);
    std::fflush(nullptr);
    pid_t pid;
    const int spawned = posix_spawn(&pid, kSelf, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    if (spawned == 0) {
        char chunk[4096];
        for (ssize_t n; (n = read(out_pipe[0], chunk, sizeof chunk)) > 0;) run.out.append(chunk, size_t(n));
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    }
    close(out_pipe[0]);
    return run;
}

}  // namespace demo
