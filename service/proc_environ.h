// proc_environ.h - environment access without the C library.
//
// The feature scan and the processor identity layer may run before the C
// library is initialised, so they read the environment straight from
// "/proc/self/environ" with raw system calls.  The small string routines are
// the ones that reader needs; they behave like their C library namesakes.
#ifndef ORB_SERVICE_PROC_ENVIRON_H
#define ORB_SERVICE_PROC_ENVIRON_H

#include <cstddef>

extern "C" {
// Raw system calls; results as the kernel returns them (negative errno on failure).
long __liborb_libc_open(const char *path, int flags);
long __liborb_libc_read(int fd, void *buffer, size_t count);
long __liborb_libc_close(int fd);
long __liborb_libc_write(int fd, const void *buffer, size_t count);

size_t __liborb_libc_strlen(const char *s);
int __liborb_libc_strncmp(const char *a, const char *b, size_t n);
void *__liborb_libc_memset(void *dest, int value, size_t n);

// Copies the value of the variable name, as found in /proc/self/environ, into
// buffer: at most size - 1 characters, always terminated.  An absent variable
// or an unreadable file gives an empty string.
void __liborb_libc_getenv_from_proc(const char *name, char *buffer, size_t size);
}

#endif
