// printers.cpp - writing catalog messages and short formatted texts.
//
// A message is formatted into a 512-byte buffer with the bounded formatter,
// so a text that does not fit is dropped whole rather than cut, and is then
// written to standard error or standard output and flushed at once.
// orb_serv_print always ends a message with a newline, even when the text
// itself was dropped or was message 0.
//
// Concurrency rule: the shared print buffer is used only while holding
// print_lock, which covers formatting, the write and the closing newline, so
// messages of different threads never overwrite or interleave with one
// another.  orb_serv_get_msg hands its buffer to the caller, so each thread
// has its own copy of that buffer: the text stays valid until the same thread
// asks for another message.
#include <cstdarg>
#include <mutex>

#include "blas/interface/message_catalog.h"
#include "orb_service.h"

namespace {

constexpr size_t kMessageBufferSize = 512;

// The standard error stream's selector.
constexpr int kStandardError = 1;

std::mutex print_lock;
char print_buf[kMessageBufferSize];
thread_local char get_msg_buf[kMessageBufferSize];

// Formats into a message buffer; a text that does not fit, a formatting
// error or a null format leaves the buffer empty.
void format_message(char (&buffer)[kMessageBufferSize], const char *format, va_list args) {
    if (orb_serv_vsprintf_s(buffer, kMessageBufferSize, format, args) < 0) buffer[0] = '\0';
}

}  // namespace

extern "C" {

void orb_puts(int stream, const char *text) {
    if (text == nullptr) return;
    if (stream == kStandardError && stderr != nullptr) orb_serv_fprintf_stderr_s("%s", text);
    else orb_serv_fprintf_stdout_s("%s", text);
    fflush(nullptr);
}

void orb_serv_print(int stream, int number, int nargs, ...) {
    std::lock_guard<std::mutex> hold(print_lock);
    if (number != kMsgEmptyLine) {
        va_list args;
        va_start(args, nargs);
        format_message(print_buf, orb_message_text(number), args);
        va_end(args);
        orb_puts(stream, print_buf);
    }
    orb_puts(stream, "\n");
}

void orb_serv_format_print(int stream, const char *format, int nargs, ...) {
    if (nargs <= 0) return;
    std::lock_guard<std::mutex> hold(print_lock);
    va_list args;
    va_start(args, nargs);
    format_message(print_buf, format, args);
    va_end(args);
    orb_puts(stream, print_buf);
}

void orb_serv_file_format_print(FILE *file, const char *format, int nargs, ...) {
    if (nargs <= 0) return;
    std::lock_guard<std::mutex> hold(print_lock);
    va_list args;
    va_start(args, nargs);
    format_message(print_buf, format, args);
    va_end(args);
    orb_serv_fprintf_s(file, "%s", print_buf);
}

const char *orb_serv_get_msg(int number, int nargs, ...) {
    const char *text = orb_message_text(number);
    if (nargs <= 0) return text;
    va_list args;
    va_start(args, nargs);
    format_message(get_msg_buf, text, args);
    va_end(args);
    return get_msg_buf;
}

}  // extern "C"
