/*
 * orb_service.h - the service interface of libvorte_blas.
 *
 * These are the exported C functions that sit beside the BLAS entry points:
 * the replaceable error handler and the message printers, the exit hook,
 * the verbose call log's setters, environment access, bounded string and
 * formatted-output helpers, the version query, processor detection with its
 * predicates, the spin lock and the reproducibility mode.  Every name
 * declared here is exported by the shared library under exactly this name;
 * nothing else in this header is.
 *
 * Conventions shared by all of them:
 *  - Functions return small status codes; none of them throws or aborts,
 *    except where a condition cannot be continued from, which ends the
 *    process through orb_serv_exit (replaceable with orb_serv_set_exit_handler).
 *  - Lazily computed process-wide values (cpu type, reproducibility mode,
 *    cache sizes, predicate answers) are computed once and never reset.
 */
#ifndef ORB_SERVICE_H
#define ORB_SERVICE_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#if defined(ORB_BUILDING_LIBRARY)
#define ORB_API __attribute__((visibility("default")))
#else
#define ORB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Error handler and message catalog
 * ------------------------------------------------------------------------ */

/* Every error handler takes the routine name (not necessarily terminated),
 * a pointer to the 64-bit parameter number and the length of the name. */
typedef void (*orb_xerbla_fn)(const char *name, const int64_t *info, int len);

/* The exit hook receives the process exit code and is expected not to return. */
typedef void (*orb_exit_fn)(int code);

/* The handler chain: cdecl_xerbla -> xerbla -> xerbla_ -> XERBLA_ -> XERBLA ->
 * orb_serv_default_xerbla.  An application that defines any of these names
 * itself receives the reports from that point on. */
ORB_API void cdecl_xerbla(const char *name, const int64_t *info, int len);
ORB_API void xerbla(const char *name, const int64_t *info, int len);
ORB_API void xerbla_(const char *name, const int64_t *info, int len);
ORB_API void XERBLA_(const char *name, const int64_t *info, int len);
ORB_API void XERBLA(const char *name, const int64_t *info, int len);
ORB_API void orb_serv_default_xerbla(const char *name, const int64_t *info, int len);

/* Reports (name, info) to the installed handler; null arguments are ignored. */
ORB_API void orb_serv_xerbla(const char *name, const int64_t *info, int len);
ORB_API void orb_serv_iface_xerbla(const char *name, const int64_t *info, int len);
/* Installs fn only when no handler is installed yet. */
ORB_API void orb_serv_set_xerbla_interface(orb_xerbla_fn fn);
ORB_API void orb_set_xerbla_interface(orb_xerbla_fn fn);
/* Installs fn unconditionally (null: default) and returns the previous one. */
ORB_API orb_xerbla_fn orb_serv_set_xerbla(orb_xerbla_fn fn);

/* CBLAS reporters: a 32-bit parameter number, the name terminated. */
ORB_API void cblas_xerbla(const char *name, int param);
ORB_API void cblas_xerbla_malloc_error(const char *name);

ORB_API int orb_serv_check_ptr(const void *ptr, const char *name);
ORB_API int orb_serv_check_ptr_and_warn(const void *ptr, const char *name);

/* Printers.  stream 1 is standard error, anything else standard output. */
ORB_API void orb_serv_print(int stream, int number, int nargs, ...);
ORB_API void orb_serv_format_print(int stream, const char *format, int nargs, ...);
ORB_API void orb_serv_file_format_print(FILE *file, const char *format, int nargs, ...);
ORB_API const char *orb_serv_get_msg(int number, int nargs, ...);

ORB_API void orb_serv_set_exit_handler(orb_exit_fn fn);
ORB_API void orb_serv_exit(int code);

/* ------------------------------------------------------------------------
 * Verbose call log: one line per SGEMM/SGEMV call on standard output or in
 * a file, on while the mode is 1 or 2 (see also "ORB_VERBOSE" and
 * "ORB_VERBOSE_OUTPUT_FILE", which are read once, at the first query).
 * ------------------------------------------------------------------------ */

/* Sets the mode (0 off, 1 or 2 on) and returns it; -1 (nothing changed) for
 * any other value. */
ORB_API int orb_serv_verbose(int mode);
/* Sends the log to the file name (trailing blanks dropped), appending; 0 on
 * success, 1 when the name is empty, has 4096 characters or more, or cannot
 * be opened (a warning is printed and the log goes to standard output). */
ORB_API int orb_serv_verbose_output_file(const char *name);

/* ------------------------------------------------------------------------
 * Environment
 * ------------------------------------------------------------------------ */

/* Copies the value of name into buffer; returns its length, 0 when absent
 * (or ignored), or minus the length when it does not fit. */
ORB_API int orb_serv_getenv(const char *name, char *buffer, int size);
ORB_API int orb_serv_get_envmode_variable(void);
ORB_API void orb_serv_set_envmode_variable(int value);

/* ------------------------------------------------------------------------
 * Version
 * ------------------------------------------------------------------------ */

typedef struct OrbVersion {
    int major_version;        /* major release number */
    int minor_version;        /* minor release number */
    int update_version;       /* update number within the release */
    int patch_version;        /* patch number within the update */
    const char *product_status; /* release status, such as "Product" */
    const char *build;          /* build date, eight digits YYYYMMDD */
    const char *processor;      /* instruction-set level in use */
    const char *platform;       /* the 64-bit platform this build targets */
} OrbVersion;

ORB_API void orb_serv_get_version(OrbVersion *version);
/* Blank-padded to len, not terminated. */
ORB_API void orb_serv_get_version_string(char *buffer, int len);
ORB_API void orb_serv_get_version_string_c(char *buffer, int len);

/* ------------------------------------------------------------------------
 * Bounded strings and memory.  Results are constraint codes:
 * ------------------------------------------------------------------------ */

enum {
    ORB_EOK = 0,          /* success */
    ORB_ESNULLP = 400,    /* null pointer */
    ORB_ESZEROL = 401,    /* zero length */
    ORB_ESLEMAX = 403,    /* length above the maximum */
    ORB_ESOVRLP = 404,    /* overlapping objects */
    ORB_ESNOSPC = 406,    /* not enough space */
    ORB_ESUNTERM = 407    /* destination unterminated */
};

#define ORB_STR_MAX 4096u          /* largest string buffer accepted */
#define ORB_MEM_MAX 0x10000000u    /* largest memory copy accepted */

typedef void (*orb_constraint_handler_fn)(const char *msg, void *ptr, int error);

ORB_API size_t orb_serv_strnlen_s(const char *s, size_t dmax);
ORB_API int orb_serv_strncpy_s(char *dest, size_t dmax, const char *src, size_t slen);
ORB_API int orb_serv_strncat_s(char *dest, size_t dmax, const char *src, size_t slen);
ORB_API int orb_serv_memcpy_s(void *dest, size_t dmax, const void *src, size_t smax);

ORB_API orb_constraint_handler_fn orb_serv_set_str_constraint_handler_s(orb_constraint_handler_fn fn);
ORB_API orb_constraint_handler_fn orb_serv_set_mem_constraint_handler_s(orb_constraint_handler_fn fn);
ORB_API void orb_serv_invoke_safe_str_constraint_handler(const char *msg, void *ptr, int error);
ORB_API void orb_serv_invoke_safe_mem_constraint_handler(const char *msg, void *ptr, int error);
ORB_API void orb_serv_ignore_handler_s(const char *msg, void *ptr, int error);

ORB_API void orb_serv_mem_prim_set(void *dest, size_t len, unsigned int value);
ORB_API void orb_serv_mem_prim_move(void *dest, const void *src, size_t len);

/* ------------------------------------------------------------------------
 * Formatted output and input
 * ------------------------------------------------------------------------ */

ORB_API int orb_serv_sprintf_s(char *s, size_t dmax, const char *format, ...);
ORB_API int orb_serv_vsprintf_s(char *s, size_t dmax, const char *format, va_list args);
ORB_API int orb_serv_snprintf_s(char *s, size_t dmax, size_t count, const char *format, ...);
ORB_API int orb_serv_vsnprintf_s(char *s, size_t dmax, size_t count, const char *format, va_list args);
ORB_API char *orb_serv_sprintf_char_s(char *s, size_t *remaining, const char *format, ...);
ORB_API int orb_serv_fprintf_s(FILE *file, const char *format, ...);
ORB_API int orb_serv_printf_s(const char *format, ...);
ORB_API int orb_serv_fprintf_stdout_s(const char *format, ...);
ORB_API int orb_serv_fprintf_stderr_s(const char *format, ...);
ORB_API int orb_serv_vfprintf_s(FILE *file, const char *format, va_list args);
ORB_API int orb_serv_vfprintf_stdout_s(const char *format, va_list args);
ORB_API int orb_serv_vfprintf_stderr_s(const char *format, va_list args);
ORB_API int orb_serv_sscanf_s(const char *text, const char *format, ...);
ORB_API int orb_serv_fscanf_s(FILE *file, const char *format, ...);
ORB_API FILE *orb_serv_fopen(const char *path, const char *mode);
ORB_API int orb_serv_fclose(FILE *file);

/* ------------------------------------------------------------------------
 * Processor detection
 * ------------------------------------------------------------------------ */

/* Kernel-set number of this process: 0 def, 3 mc3, 5 avx2, 7 avx512. */
ORB_API int orb_serv_cpu_detect(void);
/* fresh = 0: the stored number or -1; otherwise a new detailed detection. */
ORB_API int orb_serv_get_cpu_type(int fresh);
/* Instruction-limit codes of ORB_ENABLE_INSTRUCTIONS; 1 accepted, 0 rejected. */
ORB_API int orb_serv_enable_instructions(int code);
ORB_API int orb_serv_is_sse4_2_enabled(void);
ORB_API int orb_serv_is_avx_enabled(void);
ORB_API int orb_serv_is_avx2_enabled(void);
ORB_API int orb_serv_is_avx512_enabled(void);

typedef int (*orb_cpu_test_fn)(void);
ORB_API orb_cpu_test_fn orb_serv_get_cpu_true(void);
ORB_API orb_cpu_test_fn orb_serv_get_cpu(void);

ORB_API int orb_serv_cpuhaspnr(void);
ORB_API int orb_serv_cpuhaspnr_true(void);
ORB_API int orb_serv_cpuisbulldozer(void);
ORB_API int orb_serv_cpuiszen(void);
ORB_API int orb_serv_cpuisitbarcelona(void);
ORB_API int orb_serv_cpuisclx(void);
ORB_API int orb_serv_cpuisicx(void);
ORB_API int orb_serv_cpuiscpx(void);
ORB_API int orb_serv_cpuhasavxvnni(void);
ORB_API int orb_serv_cpuhasf16c(void);
ORB_API int orb_serv_cpuhasfp16(void);
ORB_API int orb_serv_cpuhasamxfp16(void);
/* info, when not null, receives the twelve-word tile description. */
ORB_API int orb_serv_cpuhasamx(uint32_t *info);
ORB_API int orb_serv_cpuhasnhm(void);
ORB_API int orb_serv_cpuisatomsse4_2(void);
ORB_API int orb_serv_cpuisatomssse3(void);
ORB_API int orb_serv_cpuisskl(void);
ORB_API int orb_serv_cpuisknm(void);
ORB_API int orb_serv_get_microarchitecture(void);

/* out[0] = data-cache levels found, out[1..4] = sizes of levels 1..4. */
ORB_API void orb_serv_cache_info(uint64_t out[5]);
ORB_API int64_t orb_serv_get_cache_size(int level);

/* ------------------------------------------------------------------------
 * Spin lock: a 32-bit word, 0 free and 1 held.
 * ------------------------------------------------------------------------ */

ORB_API extern volatile int ORB_Detect_Cpu_Global_Lock;
ORB_API void orb_serv_lock(volatile int *lock);
ORB_API int orb_serv_trylock(volatile int *lock);
ORB_API void orb_serv_unlock(volatile int *lock);
ORB_API int64_t orb_serv_cmpxchg(volatile int64_t *ptr, const int64_t *expected, const int64_t *desired);
ORB_API void orb_serv_thread_yield(void);

/* ------------------------------------------------------------------------
 * Reproducibility mode: low 16 bits the branch, bit 16 the STRICT flag.
 * ------------------------------------------------------------------------ */

enum {
    ORB_CBWR_OFF = 1,
    ORB_CBWR_AUTO = 2,
    ORB_CBWR_COMPATIBLE = 3,
    ORB_CBWR_SSE2 = 4,
    ORB_CBWR_SSSE3 = 6,
    ORB_CBWR_SSE4_1 = 7,
    ORB_CBWR_SSE4_2 = 8,
    ORB_CBWR_AVX = 9,
    ORB_CBWR_AVX2 = 10,
    ORB_CBWR_AVX512_MIC = 11,
    ORB_CBWR_AVX512 = 12,
    ORB_CBWR_AVX512_MIC_E1 = 13,
    ORB_CBWR_AVX512_E1 = 14,
    ORB_CBWR_STRICT = 0x10000
};

/* Result codes of orb_serv_cbwr_set. */
enum {
    ORB_CBWR_SUCCESS = 0,
    ORB_CBWR_ERR_INVALID_INPUT = -2,
    ORB_CBWR_ERR_UNSUPPORTED_BRANCH = -3,
    ORB_CBWR_ERR_MODE_CHANGE_FAILURE = -8
};

/* what = -1: the whole mode; what = 1: the branch; otherwise -2. */
ORB_API int orb_serv_cbwr_get(int what);
ORB_API int orb_serv_cbwr_get_nolock(int what);
ORB_API int orb_serv_cbwr_set(int value);
ORB_API int orb_serv_cbwr_get_auto_branch(void);

#ifdef __cplusplus
}
#endif

#endif /* ORB_SERVICE_H */
