// loaded_library.cpp - loading libvorte_blas as a host does.
#include "loaded_library.h"

#include <dlfcn.h>

namespace demo {

namespace {

template <typename Fn>
bool find(void *handle, const char *name, Fn &fn) {
    fn = reinterpret_cast<Fn>(dlsym(handle, name));
    return fn != nullptr;
}

}  // namespace

bool load_library(const std::string &path, LoadedLibrary &out, std::string &error) {
    out.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!out.handle) {
        error = std::string("cannot load ") + path + ": " + dlerror();
        return false;
    }
    if (!find(out.handle, "createBlasInstance", out.create) || !find(out.handle, "destroyBlasInstance", out.destroy)) {
        error = path + " is not a BLAS backend module (no createBlasInstance/destroyBlasInstance)";
        return false;
    }
    out.has_queries = tools::query_process_facts(out.handle, out.facts);
    return true;
}

}  // namespace demo
