#include "support/child_process.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/exec_arguments.h"

extern char **environ;

namespace {

const char kChildVariable[] = "ORB_TEST_CHILD_ENTRY";

std::map<std::string, ChildEntry> &entries() {
    static std::map<std::string, ChildEntry> table;
    return table;
}

// Library settings the child does not inherit.  ORB_SIMULATE_CPU is the
// exception: set for a whole test run it stands for the host, so a child sees
// the same processor as its parent unless the test presents another.
bool is_library_setting(const char *assignment) {
    if (std::strncmp(assignment, "ORB_SIMULATE_CPU=", 17) == 0) return false;
    return std::strncmp(assignment, "ORB_", 4) == 0 ||
           std::strncmp(assignment, "OMP_", 4) == 0 ||
           std::strncmp(assignment, "RUZUV_ISA_DISABLE=", 18) == 0;
}

std::vector<std::string> child_environment(const std::vector<std::string> &settings) {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        if (!is_library_setting(*e)) env.emplace_back(*e);
    for (const std::string &s : settings) {
        std::string name = s.substr(0, s.find('='));
        for (auto it = env.begin(); it != env.end();)
            it = it->compare(0, name.size() + 1, name + "=") == 0 ? env.erase(it) : it + 1;
        if (s.find('=') != std::string::npos) env.push_back(s);
    }
    return env;
}

// Reads both pipes until the child closes them.
void drain(int out_fd, int err_fd, ChildResult &result) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    char chunk[4096];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

// Runs path with args and env, collecting what it prints.
ChildResult spawn(const std::string &path, const std::vector<std::string> &args, std::vector<std::string> env) {
    ChildResult result;
    std::vector<std::string> argv_text = {path};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char *> argv = tools::exec_arguments(argv_text), envp = tools::exec_arguments(env);

    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    drain(out_pipe[0], err_pipe[0], result);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace

bool register_child_entry(const char *name, ChildEntry entry) {
    entries()[name] = entry;
    return true;
}

ChildResult run_child(const std::string &entry, const std::vector<std::string> &settings) {
    std::vector<std::string> env = child_environment(settings);
    env.push_back(std::string(kChildVariable) + "=" + entry);
    return spawn("/proc/self/exe", {}, env);
}

ChildResult run_program(const std::string &path, const std::vector<std::string> &args,
                        const std::vector<std::string> &settings) {
    return spawn(path, args, child_environment(settings));
}

bool maybe_run_child_entry() {
    const char *name = std::getenv(kChildVariable);
    if (!name) return false;
    auto it = entries().find(name);
    if (it == entries().end()) {
        std::fprintf(stderr, "no child entry named %s\n", name);
        std::exit(126);
    }
    int code = it->second();
    std::fflush(nullptr);
    std::exit(code);
}

std::string test_data_path(const std::string &relative) {
    return std::string(ORB_TEST_DATA_DIR) + "/" + relative;
}
