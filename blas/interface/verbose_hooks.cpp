// verbose_hooks.cpp - the verbose-mode hooks of the BLAS entry points.
//
// Every reference-form entry point asks these three hooks whether calls are
// being logged, what time it is, and to write the line of a logged call.
// They lead to the verbose log (verbose_log.h) and the library's clock
// (service/cpu_clock.h).
#include "blas/interface/verbose_hooks.h"

#include "blas/interface/verbose_log.h"
#include "service/cpu_clock.h"

extern "C" {

int *orb_serv_iface_verbose_mode(void) { return orb_serv_verbose_mode(); }

double orb_serv_iface_dsecnd(void) { return orb_serv_dsecnd(); }

void orb_serv_iface_print_verbose_info(int iface, const char *line, double seconds) {
    orb_serv_print_verbose_info(iface, line, seconds);
}

}  // extern "C"
