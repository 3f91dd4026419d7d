/*
 * orb_memory.h - the memory manager of libvorte_blas.
 *
 * All working memory of the library comes from three families:
 *
 *  - pooled buffers (orb_serv_allocate / orb_serv_deallocate): each thread
 *    keeps up to five buffers that are handed out again on later calls, so
 *    that repeated BLAS calls of similar sizes allocate nothing.  Pooled
 *    buffers go back to the system only through the release calls below, at
 *    thread exit, or when a pool slot is recycled for a larger request;
 *  - tracked blocks (orb_serv_malloc and its relatives): aligned blocks with
 *    a small header, counted in the usage statistics;
 *  - page-granular executable memory for generated code (orb_serv_jit_*).
 *
 * Every allocation returns null on failure and prints nothing; the caller
 * takes a path without the buffer.  Alignments are rounded up to 64 bytes
 * unless they are a power of two of at least 64.
 *
 * The system allocation functions are the four writable pointers i_malloc,
 * i_calloc, i_realloc and i_free.  They start out as the C library's
 * functions; an application may replace them before the library's first
 * allocation, and the library then uses i_malloc, i_realloc and i_free
 * (never i_calloc) for every block it obtains.
 *
 * The environment variable ORB_DISABLE_FAST_MM (any non-empty value) turns
 * the pool off, so that pooled calls behave as tracked ones;
 * ORB_FAST_MEMORY_LIMIT caps, in MiB, the high-bandwidth memory the manager
 * may use on processors that have it.  Both are read once, by the first
 * allocation or status query.
 */
#ifndef ORB_MEMORY_H
#define ORB_MEMORY_H

#include <stddef.h>
#include <stdint.h>

#include "orb_service.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * System allocation hooks: replaceable before the first allocation.
 * ------------------------------------------------------------------------ */

typedef void *(*orb_malloc_fn)(size_t size);
typedef void *(*orb_calloc_fn)(size_t count, size_t size);
typedef void *(*orb_realloc_fn)(void *block, size_t size);
typedef void (*orb_free_fn)(void *block);

ORB_API extern orb_malloc_fn i_malloc;    /* obtains a block; initially malloc */
ORB_API extern orb_calloc_fn i_calloc;    /* initially calloc; never called by the library */
ORB_API extern orb_realloc_fn i_realloc;  /* resizes a block; initially realloc */
ORB_API extern orb_free_fn i_free;        /* gives a block back; initially free */

/* ------------------------------------------------------------------------
 * Pooled buffers
 * ------------------------------------------------------------------------ */

/* A buffer of size bytes from the calling thread's pool; null for size 0 or on failure. */
ORB_API void *orb_serv_allocate(size_t size, int alignment);
/* Returns a buffer of orb_serv_allocate from any thread to its pool; null is ignored. */
ORB_API void orb_serv_deallocate(void *buffer);

/* Releases the idle pooled buffers of every thread. */
ORB_API void orb_serv_free_buffers(void);
/* Releases the idle pooled buffers of the calling thread. */
ORB_API void orb_serv_thread_free_buffers(void);
/* Exported names of orb_serv_free_buffers. */
ORB_API void ORB_FREE_BUFFERS(void);
ORB_API void ORB_Free_Buffers(void);
ORB_API void orb_free_buffers(void);
ORB_API void orb_free_buffers_(void);

/* ------------------------------------------------------------------------
 * Tracked blocks
 * ------------------------------------------------------------------------ */

/* An aligned block counted in the statistics; null for size 0 or on failure. */
ORB_API void *orb_serv_malloc(size_t size, int alignment);
/* Gives back a block of orb_serv_malloc, orb_serv_realloc or orb_serv_calloc; null is ignored. */
ORB_API void orb_serv_free(void *block);
/* Resizes a tracked block, keeping its alignment; null block: orb_serv_malloc(size, 64). */
ORB_API void *orb_serv_realloc(void *block, size_t size);
/* A zero-filled tracked block of count * size bytes. */
ORB_API void *orb_serv_calloc(size_t count, size_t size, int alignment);

/* ------------------------------------------------------------------------
 * Usage statistics and settings
 * ------------------------------------------------------------------------ */

/* Bytes held by the library (pooled and tracked); *count receives the block count.
 * Returns 0 when count is null. */
ORB_API int64_t orb_serv_mem_stat(int *count);
/* mode 1: statistics on, peak reset (0); mode 0: off (0); mode 2: the peak;
 * mode -1: the peak, then the peak is reset to the current bytes.  Modes 2
 * and -1 answer -1 while statistics are off; other modes answer -1. */
ORB_API int64_t orb_serv_peak_mem_usage(int mode);
/* type 1 (high-bandwidth memory) only: sets the limit in MiB unless one is set; 1 or 0. */
ORB_API int orb_serv_set_memory_limit(int type, int64_t limit_mib);
/* Bytes of high-bandwidth memory still allowed; all ones when unlimited. */
ORB_API uint64_t orb_serv_check_fast_memory_size(void);
/* 1 when the pool is off, 0 otherwise. */
ORB_API int orb_serv_get_fast_mm_status(void);
/* Turns the pool off; 1 if it took effect, 0 when the settings were already read. */
ORB_API int orb_serv_disable_fast_mm(void);

/* ------------------------------------------------------------------------
 * Executable memory for generated code
 * ------------------------------------------------------------------------ */

/* A readable and writable private mapping of size rounded up to pages, or null. */
ORB_API void *orb_serv_jit_alloc(size_t size);
/* Makes [address, address + length) read+execute (executable != 0) or read+write; 1 on success. */
ORB_API int orb_serv_jit_set_exec(void *address, size_t length, int executable);
/* Unmaps a mapping of orb_serv_jit_alloc of the given size. */
ORB_API void orb_serv_jit_free(void *address, size_t size);

/* ------------------------------------------------------------------------
 * Core clean-up list: up to 32 (function, argument) pairs.
 * ------------------------------------------------------------------------ */

typedef void (*orb_cleanup_fn)(void *argument);

/* Appends (fn, argument); a 33rd registration ends the process with orb_serv_exit(3). */
ORB_API void orb_serv_core_register_cleanup(orb_cleanup_fn fn, void *argument);
/* Calls and removes every registered pair, the last registered first. */
ORB_API void orb_serv_core_cleanup(void);

#ifdef __cplusplus
}
#endif

#endif /* ORB_MEMORY_H */
