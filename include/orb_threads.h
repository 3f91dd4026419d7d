/*
 * orb_threads.h - thread-count control of libvorte_blas.
 *
 * Every threaded driver of the library asks how many threads it may use.
 * The answer follows a fixed order of precedence: a setting made by the
 * calling thread for itself, then the process-wide settings made through
 * these functions, then the settings read once from the environment
 * ("ORB_NUM_THREADS", "ORB_DOMAIN_NUM_THREADS", "ORB_DYNAMIC", ...), then the
 * OpenMP runtime's default.  While dynamic adjustment is on (the default) the
 * answer is at most the number of physical cores, is 1 inside an active
 * OpenMP parallel region, and shrinks when several MPI processes share a
 * node.  The same first reading of the environment counts the machine's
 * packages, cores and logical processors.  A small registry of clean-up
 * functions, run last registered first, releases what the service layer
 * created (thread-specific keys) when the library shuts down.
 *
 * Domains: 0 all, 1 BLAS, 2 FFT, 3 element-wise, 4 sparse solver; -1 asks
 * without a domain.  Every name declared here is exported by the shared
 * library under exactly this name.
 */
#ifndef ORB_THREADS_H
#define ORB_THREADS_H

#include "orb_service.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A clean-up function and the argument it is registered with. */
typedef void (*orb_thr_cleanup_fn)(void *arg);

/* ------------------------------------------------------------------------
 * Thread counts
 * ------------------------------------------------------------------------ */

/* The number of threads the caller may use for work of the given domain. */
ORB_API int orb_serv_domain_get_max_threads(int domain);
/* orb_serv_domain_get_max_threads(-1). */
ORB_API int orb_serv_get_max_threads(void);
/* Sets the count of all domains when n > 0; otherwise does nothing. */
ORB_API void orb_serv_set_num_threads(int n);
/* Sets one domain's count; 1 on success, 0 (nothing changed) when n < 0 or domain > 4. */
ORB_API int orb_serv_domain_set_num_threads(int n, unsigned int domain);
/* Sets the calling thread's own count (<= 0: none); returns the previous one, 0 when none. */
ORB_API int orb_serv_set_num_threads_local(int n);
/* Dynamic adjustment: nonzero on, 0 off. */
ORB_API int orb_serv_get_dynamic(void);
/* Turns dynamic adjustment on (v != 0) or off; returns the new setting. */
ORB_API int orb_serv_set_dynamic(int v);
/* Declares the MPI layer thread-safe (v == 1) or not; returns the new setting. */
ORB_API int orb_serv_mpi_safe(int v);
/* Nonzero inside an active OpenMP parallel region. */
ORB_API int orb_serv_omp_in_parallel(void);

/* ------------------------------------------------------------------------
 * Stripes of the striped SGEMM path: <= 0 off
 * ------------------------------------------------------------------------ */

ORB_API int orb_serv_get_num_stripes(void);
/* Sets the stripe count when v >= 0. */
ORB_API void orb_serv_set_num_stripes(int v);

/* ------------------------------------------------------------------------
 * Machine and process layout
 * ------------------------------------------------------------------------ */

/* Processor packages. */
ORB_API int orb_serv_get_ncpus(void);
/* Physical cores per package. */
ORB_API int orb_serv_get_ncorespercpu(void);
/* 1 when physical cores and logical processors differ, else 0. */
ORB_API int orb_serv_get_ht(void);
/* Logical processors. */
ORB_API int orb_serv_get_nlogicalcores(void);
/* The threading layer in use: always 0, the OpenMP runtime. */
ORB_API int orb_serv_get_thread_layer(void);
/* MPI processes per node as the launcher reports it, -1 when unknown. */
ORB_API int orb_serv_mpi_get_ppn(void);

/* ------------------------------------------------------------------------
 * Clean-up registry: at most 8 entries
 * ------------------------------------------------------------------------ */

/* Appends (fn, arg) and returns 0; a ninth entry ends the process with code 3. */
ORB_API int orb_serv_thr_register_cleanup(orb_thr_cleanup_fn fn, void *arg);
/* Runs and removes every entry, last registered first. */
ORB_API void orb_serv_thr_cleanup(void);

#ifdef __cplusplus
}
#endif

#endif /* ORB_THREADS_H */
