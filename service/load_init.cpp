// load_init.cpp - the work done when the library is loaded.
//
// Everything else in the library starts lazily; only the working directory
// of the process at load time is recorded at once, followed by "/", by two
// initialisers into two buffers (one for the BLAS layer, one for the service
// layer; nothing reads them at present).  A process whose working directory
// cannot be obtained is told which library failed to load and ends with
// exit code 2.
#include <dlfcn.h>
#include <unistd.h>

#include "blas/interface/message_catalog.h"
#include "orb_service.h"

namespace {

constexpr size_t kDirectorySize = 4096;

// Exit code of a library that cannot be loaded.
constexpr int kCannotLoadExitCode = 2;

// The standard error stream's selector for orb_serv_print.
constexpr int kStandardError = 1;

char blas_load_directory[kDirectorySize];
char service_load_directory[kDirectorySize];

// Records the working directory and a trailing "/" in buffer, or ends the
// process naming the library that contains code_address.
void record_load_directory(char (&buffer)[kDirectorySize], const void *code_address) {
    if (getcwd(buffer, kDirectorySize - 1) != nullptr &&
        orb_serv_strncat_s(buffer, kDirectorySize, "/", 1) == ORB_EOK)
        return;
    Dl_info info{};
    const char *library = "libvorte_blas.so";
    if (dladdr(code_address, &info) != 0 && info.dli_fname != nullptr) library = info.dli_fname;
    orb_serv_print(kStandardError, kMsgCannotLoad, 1, library);
    orb_serv_exit(kCannotLoadExitCode);
}

__attribute__((constructor)) void record_blas_load_directory() {
    record_load_directory(blas_load_directory, reinterpret_cast<const void *>(&record_blas_load_directory));
}

__attribute__((constructor)) void record_service_load_directory() {
    record_load_directory(service_load_directory,
                          reinterpret_cast<const void *>(&record_service_load_directory));
}

}  // namespace
