// exec_arguments.h - the null-terminated array of C strings that execve and
// posix_spawn take for the arguments and the environment, pointing into
// strings that must outlive the call.
#ifndef ORB_TOOLS_EXEC_ARGUMENTS_H
#define ORB_TOOLS_EXEC_ARGUMENTS_H

#include <string>
#include <vector>

namespace tools {

inline std::vector<char *> exec_arguments(std::vector<std::string> &strings) {
    std::vector<char *> pointers;
    for (std::string &s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace tools

#endif
