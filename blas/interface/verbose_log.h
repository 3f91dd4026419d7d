// verbose_log.h - the verbose call log inside the library.
//
// The log has a mode (0 off, 1 or 2 on), read from "ORB_VERBOSE" at the first
// query or set by orb_serv_verbose, and a destination: standard output, or
// the file named by "ORB_VERBOSE_OUTPUT_FILE" or by
// orb_serv_verbose_output_file, which is opened for appending for every
// write.  Each logged call becomes one line
//
//   ORB_VERBOSE <call> <time> CNR:<branch>[,STRICT] Dyn:<d> FastMM:<f> TID:<t> NThr:<n>[,<DOMAIN>:<n>...]
//
// and the first line of the process is preceded by a header naming the
// library build and the processor.  The setters orb_serv_verbose and
// orb_serv_verbose_output_file are declared in orb_service.h; nothing here
// is exported.
#ifndef ORB_BLAS_INTERFACE_VERBOSE_LOG_H
#define ORB_BLAS_INTERFACE_VERBOSE_LOG_H

#include <cstddef>

// Size of the output file name buffer, terminator included.
constexpr size_t kVerboseFileNameSize = 4096;

extern "C" {
// The live mode, after the one-time reading of "ORB_VERBOSE".
int *orb_serv_verbose_mode(void);
// The output file name (empty: standard output), after the one-time reading
// of "ORB_VERBOSE_OUTPUT_FILE" while it is empty.
const char *orb_serv_verbose_output_file_mode(void);
// Writes the line of one call; iface is -1 cdecl, 1 lp64, 2 ilp64.
void orb_serv_print_verbose_info(int iface, const char *call_text, double seconds);
// Writes the header, once per process.
void orb_serv_print_verbose_header(int iface);
}

// A copy of the output file name, taken under the lock that guards changes
// of it (empty: standard output).
void orb_verbose_output_file_copy(char (&name)[kVerboseFileNameSize]);

#endif
