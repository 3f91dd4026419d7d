// verbose_hooks.cpp - the verbose-mode hooks of the BLAS entry points.
//
// Every reference-form entry point asks these three hooks whether calls are
// being logged, what time it is, and to write the line of a logged call.
// The mode is one process-wide flag that entry points read through a cached
// pointer, so a change of the flag is seen at their next call.  Times come
// from a monotonic clock.  A log line is "ORB_VERBOSE <call> <time>" on
// standard output, with the time in the unit that keeps it above one
// (s, ms, us, or whole ns), written by the message printers.
#include "blas/interface/verbose_hooks.h"

#include <chrono>

#include "orb_service.h"

namespace {

// The live verbose flag.  It reads 0 until the verbose call log, which reads
// ORB_VERBOSE and offers the setter, is part of the library.
int orb_verbose_flag = 0;

// The time text of a log line: the first unit whose scaled value exceeds one.
struct TimeUnit {
    double scale;        // seconds are multiplied by this
    const char *format;  // printf format of the scaled value
};

constexpr TimeUnit kTimeUnits[] = {
    {1.0, "%.2fs"},
    {1e3, "%.2fms"},
    {1e6, "%.2fus"},
};
constexpr TimeUnit kSmallestUnit = {1e9, "%.0fns"};

constexpr size_t kTimeTextSize = 32;

void format_time(char (&text)[kTimeTextSize], double seconds) {
    if (seconds <= 0.0) {
        orb_serv_snprintf_s(text, kTimeTextSize, kTimeTextSize - 1, "%.2fs", 0.0);
        return;
    }
    for (const TimeUnit &unit : kTimeUnits) {
        if (unit.scale * seconds > 1.0) {
            orb_serv_snprintf_s(text, kTimeTextSize, kTimeTextSize - 1, unit.format, unit.scale * seconds);
            return;
        }
    }
    orb_serv_snprintf_s(text, kTimeTextSize, kTimeTextSize - 1, kSmallestUnit.format, kSmallestUnit.scale * seconds);
}

// Standard output's selector for the printers.
constexpr int kStandardOutput = 0;

}  // namespace

extern "C" {

int *orb_serv_iface_verbose_mode(void) { return &orb_verbose_flag; }

double orb_serv_iface_dsecnd(void) {
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void orb_serv_iface_print_verbose_info(int /*iface*/, const char *line, double seconds) {
    char time_text[kTimeTextSize];
    format_time(time_text, seconds);
    orb_serv_format_print(kStandardOutput, "ORB_VERBOSE %s %s\n", 2, line != nullptr ? line : "", time_text);
}

}  // extern "C"
