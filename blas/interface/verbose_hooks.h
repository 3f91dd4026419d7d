// verbose_hooks.h - what the entry points need from the verbose call log.
//
// An entry point reads the verbose mode through a pointer it caches, times
// the call with the log's clock and hands the finished call text to the log.
// None of these names is exported.
#ifndef ORB_BLAS_INTERFACE_VERBOSE_HOOKS_H
#define ORB_BLAS_INTERFACE_VERBOSE_HOOKS_H

extern "C" {
// The process's live verbose flag: 0 off, 1 or 2 on.  Callers keep the
// pointer and read the current value through it.
int *orb_serv_iface_verbose_mode(void);
// The current time in seconds.
double orb_serv_iface_dsecnd(void);
// Writes the log line of one call: iface is the caller's integer interface
// (1 for the 32-bit forms), line the call text, seconds its duration.
void orb_serv_iface_print_verbose_info(int iface, const char *line, double seconds);
}

#endif
