// proc_environ.cpp - reading one environment variable from /proc/self/environ
// with raw system calls, for code that runs before the C library is ready.
#include "service/proc_environ.h"

#include <cstdint>

namespace {

constexpr long kSysRead = 0;
constexpr long kSysWrite = 1;
constexpr long kSysOpen = 2;
constexpr long kSysClose = 3;
constexpr int kReadOnly = 0;
constexpr size_t kChunk = 1024;

long raw_syscall3(long number, long a, long b, long c) {
    long result;
    __asm__ volatile("syscall"
                     : "=a"(result)
                     : "a"(number), "D"(a), "S"(b), "d"(c)
                     : "rcx", "r11", "memory");
    return result;
}

}  // namespace

extern "C" {

long __liborb_libc_open(const char *path, int flags) {
    return raw_syscall3(kSysOpen, reinterpret_cast<long>(path), flags, 0);
}

long __liborb_libc_read(int fd, void *buffer, size_t count) {
    return raw_syscall3(kSysRead, fd, reinterpret_cast<long>(buffer), static_cast<long>(count));
}

long __liborb_libc_write(int fd, const void *buffer, size_t count) {
    return raw_syscall3(kSysWrite, fd, reinterpret_cast<long>(buffer), static_cast<long>(count));
}

long __liborb_libc_close(int fd) { return raw_syscall3(kSysClose, fd, 0, 0); }

size_t __liborb_libc_strlen(const char *s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

int __liborb_libc_strncmp(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
    return 0;
}

void *__liborb_libc_memset(void *dest, int value, size_t n) {
    volatile unsigned char *p = static_cast<unsigned char *>(dest);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(value);
    return dest;
}

// The file is a sequence of "NAME=VALUE\0" entries.  It is read in chunks;
// a small state machine follows each entry: while the entry's first bytes
// still match "name=", `matched` counts them; once all have matched, the
// following bytes up to the entry's NUL are the value.
void __liborb_libc_getenv_from_proc(const char *name, char *buffer, size_t size) {
    if (!buffer || size == 0) return;
    __liborb_libc_memset(buffer, 0, size);
    if (!name) return;
    const size_t name_len = __liborb_libc_strlen(name);
    long fd = __liborb_libc_open("/proc/self/environ", kReadOnly);
    if (fd < 0) return;

    char chunk[kChunk];
    size_t matched = 0;       // bytes of "name=" matched at the start of this entry
    bool mismatch = false;    // this entry is not the one asked for
    size_t copied = 0;        // value bytes stored
    bool found = false;
    long got;
    while (!found && (got = __liborb_libc_read(static_cast<int>(fd), chunk, kChunk)) > 0) {
        for (long i = 0; i < got; ++i) {
            char ch = chunk[i];
            if (ch == '\0') {
                if (!mismatch && matched == name_len + 1) { found = true; break; }
                matched = 0;
                mismatch = false;
                copied = 0;
                continue;
            }
            if (mismatch) continue;
            if (matched < name_len) {
                if (ch == name[matched]) ++matched; else mismatch = true;
            } else if (matched == name_len) {
                if (ch == '=') ++matched; else mismatch = true;
            } else if (copied + 1 < size) {
                buffer[copied++] = ch;
            }
        }
    }
    // An entry at the very end of the file without its NUL still counts.
    bool in_value = !mismatch && matched == name_len + 1;
    buffer[found || in_value ? copied : 0] = '\0';
    __liborb_libc_close(static_cast<int>(fd));
}

}  // extern "C"
