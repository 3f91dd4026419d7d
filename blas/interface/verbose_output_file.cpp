// verbose_output_file.cpp - where the verbose log goes.
//
// The log goes to standard output unless a file is named, by
// "ORB_VERBOSE_OUTPUT_FILE" (read once, at the first query while no name is
// set) or by orb_serv_verbose_output_file (at any time; trailing blanks are
// dropped, for callers with blank-padded character fields).  A name is
// accepted when it has 1 to 4095 characters and the file can be opened for
// appending; it is checked by opening it (which creates the file) and
// closing it again.  A name that fails empties the setting with a warning
// on standard error, and the log goes on to standard output.
//
// The name changes only under name_lock.  Its first byte is written last
// with an atomic store, so that a query can test for "no name" without the
// lock; readers that need the whole name take a copy under the lock.
#include <cstring>

#include "blas/interface/verbose_log.h"
#include "orb_service.h"

namespace {

char verbose_file_val[kVerboseFileNameSize];
int file_variable_read = 0;                   // "ORB_VERBOSE_OUTPUT_FILE" has been read
volatile int orb_verbose_file_read_lock = 0;  // around the first reading of the variable
volatile int orb_verbose_file_name_lock = 0;  // around changes and copies of the name

bool name_is_empty() { return __atomic_load_n(&verbose_file_val[0], __ATOMIC_ACQUIRE) == '\0'; }

void empty_name() { __atomic_store_n(&verbose_file_val[0], '\0', __ATOMIC_RELEASE); }

void warn(const char *reason) { orb_serv_format_print(1, "ORB_VERBOSE WARNING: %s\n", 1, reason); }

// Sets the name to the first len characters of name; called under the name
// lock.  0 when the file can be opened for appending, else 1 (name emptied).
int set_verbose_file_val(const char *name, size_t len) {
    if (len == 0 || len >= kVerboseFileNameSize) {
        empty_name();
        warn("incorrect output filename: too long or empty");
        return 1;
    }
    std::memcpy(verbose_file_val + 1, name + 1, len - 1);
    verbose_file_val[len] = '\0';
    __atomic_store_n(&verbose_file_val[0], name[0], __ATOMIC_RELEASE);
    FILE *file = orb_serv_fopen(verbose_file_val, "a");
    if (file == nullptr) {
        empty_name();
        warn("Unable to open verbose output file.");
        return 1;
    }
    orb_serv_fclose(file);
    return 0;
}

}  // namespace

extern "C" {

// A name of 4096 characters or more is refused as too long, whatever
// blanks stand among its first 4096.
int orb_serv_verbose_output_file(const char *name) {
    size_t len = name != nullptr ? orb_serv_strnlen_s(name, kVerboseFileNameSize) : 0;
    if (len < kVerboseFileNameSize)
        while (len > 0 && name[len - 1] == ' ') --len;
    orb_serv_lock(&orb_verbose_file_name_lock);
    const int result = set_verbose_file_val(name, len);
    orb_serv_unlock(&orb_verbose_file_name_lock);
    return result;
}

const char *orb_serv_verbose_output_file_mode(void) {
    if (name_is_empty() && __atomic_load_n(&file_variable_read, __ATOMIC_ACQUIRE) == 0) {
        orb_serv_lock(&orb_verbose_file_read_lock);
        if (__atomic_load_n(&file_variable_read, __ATOMIC_RELAXED) == 0) {
            char value[kVerboseFileNameSize];
            const int length = orb_serv_getenv("ORB_VERBOSE_OUTPUT_FILE", value, sizeof value);
            if (length > 0) {
                orb_serv_lock(&orb_verbose_file_name_lock);
                set_verbose_file_val(value, static_cast<size_t>(length));
                orb_serv_unlock(&orb_verbose_file_name_lock);
            }
            __atomic_store_n(&file_variable_read, 1, __ATOMIC_RELEASE);
        }
        orb_serv_unlock(&orb_verbose_file_read_lock);
    }
    return verbose_file_val;
}

}  // extern "C"

void orb_verbose_output_file_copy(char (&name)[kVerboseFileNameSize]) {
    orb_serv_verbose_output_file_mode();
    orb_serv_lock(&orb_verbose_file_name_lock);
    std::memcpy(name, verbose_file_val, std::strlen(verbose_file_val) + 1);
    orb_serv_unlock(&orb_verbose_file_name_lock);
}
