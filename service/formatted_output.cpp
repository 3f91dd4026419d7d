// formatted_output.cpp - printf-style formatting into bounded buffers, and
// plain formatted output and input.
//
// The bounded formatters never write past the size they are given and
// always leave a terminated text.  They differ in what they do with a text
// that does not fit: the sprintf_s pair drops it (the buffer is left empty),
// the snprintf_s pair keeps it cut at the caller's count, and the appending
// cursor of sprintf_char_s keeps it cut at the space that remains.  Each
// returns -1 for any text it did not deliver whole.
//
// The remaining functions are thin forms of the C library's formatted
// output and input that refuse null streams and formats instead of crashing.
#include <cstdarg>
#include <cstdio>

#include "orb_service.h"

namespace {

// The most bytes ever handed to the C library's formatter at once.
constexpr size_t kFormatterCap = size_t{1} << 31;

// fprintf_s formats into a buffer of this size; longer texts are not written.
constexpr size_t kFileLineSize = 1024;

size_t smaller(size_t a, size_t b) { return a < b ? a : b; }

}  // namespace

extern "C" {

int orb_serv_vsprintf_s(char *s, size_t dmax, const char *format, va_list args) {
    if (format == nullptr || s == nullptr || dmax == 0) return -1;
    size_t size = smaller(dmax, kFormatterCap);
    int length = vsnprintf(s, size, format, args);
    if (length < 0 || static_cast<size_t>(length) >= size) {
        s[0] = '\0';
        return -1;
    }
    return length;
}

int orb_serv_sprintf_s(char *s, size_t dmax, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = orb_serv_vsprintf_s(s, dmax, format, args);
    va_end(args);
    return result;
}

int orb_serv_vsnprintf_s(char *s, size_t dmax, size_t count, const char *format, va_list args) {
    if (format == nullptr || s == nullptr || dmax == 0) return -1;
    // Characters that may be written, the terminator not counted.
    size_t limit = smaller(smaller(count, dmax - 1), kFormatterCap - 1);
    int length = vsnprintf(s, limit + 1, format, args);
    if (length >= 0 && static_cast<size_t>(length) <= limit) return length;
    // A text cut at the caller's own count is kept; any other overflow or
    // a formatting error leaves nothing.
    if (length < 0 || limit != count) s[0] = '\0';
    return -1;
}

int orb_serv_snprintf_s(char *s, size_t dmax, size_t count, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = orb_serv_vsnprintf_s(s, dmax, count, format, args);
    va_end(args);
    return result;
}

// The cursor s has *remaining characters of room plus one byte for the
// terminator.  The result is the position after what was written, which is
// s + *remaining (with *remaining then 0) whenever the text did not fit.
char *orb_serv_sprintf_char_s(char *s, size_t *remaining, const char *format, ...) {
    if (remaining == nullptr) return s;
    size_t room = *remaining;
    if (s == nullptr) {
        *remaining = 0;
        return nullptr;
    }
    if (room == 0) return s;
    if (format == nullptr) {
        *remaining = 0;
        return s + room;
    }
    va_list args;
    va_start(args, format);
    int length = vsnprintf(s, smaller(room, kFormatterCap - 1) + 1, format, args);
    va_end(args);
    if (length < 0 || static_cast<size_t>(length) > room) {
        if (length < 0) s[0] = '\0';
        *remaining = 0;
        return s + room;
    }
    *remaining = room - static_cast<size_t>(length);
    return s + length;
}

int orb_serv_fprintf_s(FILE *file, const char *format, ...) {
    if (file == nullptr || format == nullptr) return -1;
    char line[kFileLineSize];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (length < 0 || static_cast<size_t>(length) >= sizeof line) return -1;
    return fputs(line, file) == EOF ? -1 : length;
}

int orb_serv_vfprintf_s(FILE *file, const char *format, va_list args) {
    if (file == nullptr || format == nullptr) return -1;
    return vfprintf(file, format, args);
}

int orb_serv_vfprintf_stdout_s(const char *format, va_list args) {
    return orb_serv_vfprintf_s(stdout, format, args);
}

int orb_serv_vfprintf_stderr_s(const char *format, va_list args) {
    return orb_serv_vfprintf_s(stderr, format, args);
}

int orb_serv_printf_s(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = orb_serv_vfprintf_s(stdout, format, args);
    va_end(args);
    return result;
}

int orb_serv_fprintf_stdout_s(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = orb_serv_vfprintf_s(stdout, format, args);
    va_end(args);
    return result;
}

int orb_serv_fprintf_stderr_s(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = orb_serv_vfprintf_s(stderr, format, args);
    va_end(args);
    return result;
}

int orb_serv_sscanf_s(const char *text, const char *format, ...) {
    if (text == nullptr || format == nullptr) return EOF;
    va_list args;
    va_start(args, format);
    int result = vsscanf(text, format, args);
    va_end(args);
    return result;
}

int orb_serv_fscanf_s(FILE *file, const char *format, ...) {
    if (file == nullptr || format == nullptr) return EOF;
    va_list args;
    va_start(args, format);
    int result = vfscanf(file, format, args);
    va_end(args);
    return result;
}

FILE *orb_serv_fopen(const char *path, const char *mode) {
    if (path == nullptr || mode == nullptr) return nullptr;
    return fopen(path, mode);
}

int orb_serv_fclose(FILE *file) { return file == nullptr ? EOF : fclose(file); }

}  // extern "C"
