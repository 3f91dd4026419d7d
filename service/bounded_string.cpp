// bounded_string.cpp - string and memory copies that never leave their buffers.
//
// Each function receives the size of the destination and checks its
// arguments in a fixed order before touching memory.  The first failed check
// is passed, as "function: reason", to a constraint handler (one for the
// string functions, one for the memory copy) and returned as a constraint
// code; with no handler installed a failure is silent.  Where a function
// promises to clear its destination on failure, it does so only when the
// destination itself is usable (not null, size within the limit).
//
// Overlap is judged on the bytes the operation would actually read and
// write: a copy overlaps when the source bytes it reads (up to and including
// the terminator it stops at) share an address with the destination bytes it
// writes, or for a concatenation with the destination string it extends.
#include <atomic>
#include <cstdint>
#include <cstring>

#include "orb_service.h"

namespace {

std::atomic<orb_constraint_handler_fn> str_handler{nullptr};
std::atomic<orb_constraint_handler_fn> mem_handler{nullptr};

// A failed check: the handler's message and the constraint code.
struct Fault {
    const char *message;  // "function: reason"
    int code;             // constraint code returned and reported
};

// A half-open byte range [begin, begin + size).
struct ByteRange {
    const void *begin;  // first byte
    size_t size;        // number of bytes
};

bool ranges_overlap(ByteRange a, ByteRange b) {
    if (a.size == 0 || b.size == 0) return false;
    auto a0 = reinterpret_cast<uintptr_t>(a.begin);
    auto b0 = reinterpret_cast<uintptr_t>(b.begin);
    return a0 < b0 + b.size && b0 < a0 + a.size;
}

// Characters of s before its terminator, looking at no more than limit.
size_t count_chars(const char *s, size_t limit) {
    size_t n = 0;
    while (n < limit && s[n] != '\0') ++n;
    return n;
}

int fail_str(const char *message, int code) {
    orb_serv_invoke_safe_str_constraint_handler(message, nullptr, code);
    return code;
}

int fail_mem(const char *message, int code) {
    orb_serv_invoke_safe_mem_constraint_handler(message, nullptr, code);
    return code;
}

// What copying at most limit characters of src would do.
struct SourceRun {
    size_t chars;       // characters before the terminator or the limit
    bool terminated;    // the terminator was met within the limit
    ByteRange read;     // the source bytes read, terminator included
};

SourceRun scan_source(const char *src, size_t limit) {
    size_t chars = count_chars(src, limit);
    bool terminated = chars < limit;
    return {chars, terminated, {src, chars + (terminated ? 1 : 0)}};
}

}  // namespace

extern "C" {

size_t orb_serv_strnlen_s(const char *s, size_t dmax) {
    if (s == nullptr) return 0;
    if (dmax == 0) {
        fail_str("strnlen_s: dmax is 0", ORB_ESZEROL);
        return 0;
    }
    if (dmax > ORB_STR_MAX) {
        fail_str("strnlen_s: dmax exceeds max", ORB_ESLEMAX);
        return 0;
    }
    return count_chars(s, dmax);
}

int orb_serv_strncpy_s(char *dest, size_t dmax, const char *src, size_t slen) {
    if (dest == nullptr) return fail_str("strncpy_s: dest is null", ORB_ESNULLP);
    if (dmax == 0) return fail_str("strncpy_s: dmax is 0", ORB_ESZEROL);
    if (dmax > ORB_STR_MAX) return fail_str("strncpy_s: dmax exceeds max", ORB_ESLEMAX);

    Fault fault{};
    if (src == nullptr) {
        fault = {"strncpy_s: src is null", ORB_ESNULLP};
    } else if (slen == 0) {
        fault = {"strncpy_s: slen is zero", ORB_ESZEROL};
    } else if (slen > ORB_STR_MAX) {
        fault = {"strncpy_s: slen exceeds max", ORB_ESLEMAX};
    } else {
        // The copy stops at the terminator or after slen characters, and
        // needs room for those characters and a terminator.
        SourceRun run = scan_source(src, slen < dmax ? slen : dmax);
        bool fits = run.chars < dmax;
        ByteRange written{dest, fits ? run.chars + 1 : dmax};
        if (ranges_overlap(written, run.read)) {
            fault = {"strncpy_s: overlapping objects", ORB_ESOVRLP};
        } else if (!fits) {
            fault = {"strncpy_s: not enough space for src", ORB_ESNOSPC};
        } else {
            std::memcpy(dest, src, run.chars);
            dest[run.chars] = '\0';
            return ORB_EOK;
        }
    }
    dest[0] = '\0';
    return fail_str(fault.message, fault.code);
}

// On failure the destination keeps its contents.
int orb_serv_strncat_s(char *dest, size_t dmax, const char *src, size_t slen) {
    if (dest == nullptr) return fail_str("strncat_s: dest is null", ORB_ESNULLP);
    if (src == nullptr) return fail_str("strncat_s: src is null", ORB_ESNULLP);
    if (slen > ORB_STR_MAX) return fail_str("strncat_s: slen exceeds max", ORB_ESLEMAX);
    if (dmax == 0) return fail_str("strncat_s: dmax is 0", ORB_ESZEROL);
    if (dmax > ORB_STR_MAX) return fail_str("strncat_s: dmax exceeds max", ORB_ESLEMAX);

    size_t used = count_chars(dest, dmax);
    if (used == dmax) return fail_str("strncat_s: dest unterminated", ORB_ESUNTERM);

    // Room after the existing text, its terminator's byte included.
    size_t room = dmax - used;
    SourceRun run = scan_source(src, slen < room ? slen : room);
    bool fits = run.chars < room;
    ByteRange touched{dest, used + (fits ? run.chars + 1 : room)};
    if (ranges_overlap(touched, run.read))
        return fail_str("strncat_s: overlapping objects", ORB_ESOVRLP);
    if (!fits) return fail_str("strncat_s: not enough space for src", ORB_ESNOSPC);

    std::memcpy(dest + used, src, run.chars);
    dest[used + run.chars] = '\0';
    return ORB_EOK;
}

int orb_serv_memcpy_s(void *dest, size_t dmax, const void *src, size_t smax) {
    if (dest == nullptr) return fail_mem("memcpy_s: dest is NULL", ORB_ESNULLP);
    if (dmax == 0) return fail_mem("memcpy_s: dmax is 0", ORB_ESZEROL);
    if (dmax > ORB_MEM_MAX) return fail_mem("memcpy_s: dmax exceeds max", ORB_ESLEMAX);

    Fault fault{};
    if (smax == 0) {
        fault = {"memcpy_s: smax is 0", ORB_ESZEROL};
    } else if (smax > dmax) {
        fault = {"memcpy_s: smax exceeds dmax", ORB_ESLEMAX};
    } else if (src == nullptr) {
        fault = {"memcpy_s: src is NULL", ORB_ESNULLP};
    } else if (ranges_overlap({dest, smax}, {src, smax})) {
        fault = {"memcpy_s: overlap undefined", ORB_ESOVRLP};
    } else {
        std::memcpy(dest, src, smax);
        return ORB_EOK;
    }
    std::memset(dest, 0, dmax);
    return fail_mem(fault.message, fault.code);
}

orb_constraint_handler_fn orb_serv_set_str_constraint_handler_s(orb_constraint_handler_fn fn) {
    return str_handler.exchange(fn != nullptr ? fn : orb_serv_ignore_handler_s);
}

orb_constraint_handler_fn orb_serv_set_mem_constraint_handler_s(orb_constraint_handler_fn fn) {
    return mem_handler.exchange(fn != nullptr ? fn : orb_serv_ignore_handler_s);
}

void orb_serv_invoke_safe_str_constraint_handler(const char *msg, void *ptr, int error) {
    orb_constraint_handler_fn handler = str_handler.load();
    if (handler != nullptr) handler(msg, ptr, error);
}

void orb_serv_invoke_safe_mem_constraint_handler(const char *msg, void *ptr, int error) {
    orb_constraint_handler_fn handler = mem_handler.load();
    if (handler != nullptr) handler(msg, ptr, error);
}

void orb_serv_ignore_handler_s(const char * /*msg*/, void * /*ptr*/, int /*error*/) {}

void orb_serv_mem_prim_set(void *dest, size_t len, unsigned int value) {
    if (dest == nullptr || len == 0) return;
    std::memset(dest, static_cast<unsigned char>(value), len);
}

void orb_serv_mem_prim_move(void *dest, const void *src, size_t len) {
    if (dest == nullptr || src == nullptr || len == 0) return;
    std::memmove(dest, src, len);
}

}  // extern "C"
