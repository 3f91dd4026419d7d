// verbose_log.cpp - writing the lines of the verbose log.
//
// A line is "ORB_VERBOSE <call> <statistics>", the statistics gathered from
// the library's settings at the time of the call (verbose_text.h).  Before
// the first line of the process the header is written, under its own lock
// and exactly once even when the first lines come from several threads; its
// printed flag is raised only after it has been written, so no line can
// precede it.
//
// Destination: the output file when one is named, opened for appending and
// closed again for every write (lines of several threads to a file are not
// serialised; each is one write of the C library's buffer).  A file that
// cannot be opened at that moment sends the text to standard output after
// a warning on standard error.  Standard output is written under line_lock,
// so lines never interleave there.  Texts go through the message printers'
// 512-byte buffer, which drops a line of 512 characters or more.
#include <omp.h>

#include <atomic>

#include "blas/interface/verbose_log.h"
#include "blas/interface/verbose_text.h"
#include "orb_memory.h"
#include "orb_service.h"
#include "orb_threads.h"
#include "service/cpu_clock.h"

namespace {

constexpr int kStandardOutput = 0;

std::atomic<int> header_printed{0};
volatile int orb_verbose_header_lock = 0;  // around writing the header
volatile int orb_verbose_line_lock = 0;    // around writing to standard output

// Writes format (whose conversions are all %s) filled with texts to the log's
// destination.
template <typename... Texts>
void write_log(const char *format, Texts... texts) {
    char name[kVerboseFileNameSize];
    orb_verbose_output_file_copy(name);
    if (name[0] != '\0') {
        if (FILE *file = orb_serv_fopen(name, "a")) {
            orb_serv_file_format_print(file, format, sizeof...(texts), texts...);
            orb_serv_fclose(file);
            return;
        }
        orb_serv_format_print(1, "ORB_VERBOSE WARNING: %s\n", 1, "unable to open output file. Print to STDOUT");
    }
    orb_serv_lock(&orb_verbose_line_lock);
    orb_serv_format_print(kStandardOutput, format, sizeof...(texts), texts...);
    orb_serv_unlock(&orb_verbose_line_lock);
}

VerboseStatistics current_statistics(double seconds) {
    VerboseStatistics stats;
    stats.seconds = seconds;
    stats.cbwr_branch = orb_serv_cbwr_get(1);
    stats.cbwr_mode = orb_serv_cbwr_get(-1);
    stats.dynamic = orb_serv_get_dynamic();
    stats.fast_mm_status = orb_serv_get_fast_mm_status();
    stats.thread_number = omp_get_thread_num();
    stats.max_threads = orb_serv_get_max_threads();
    for (int d = 0; d < kVerboseDomainCount; ++d) stats.domain_threads[d] = orb_serv_domain_get_max_threads(d + 1);
    return stats;
}

}  // namespace

extern "C" {

void orb_serv_print_verbose_header(int iface) {
    if (header_printed.load(std::memory_order_acquire) != 0) return;
    orb_serv_lock(&orb_verbose_header_lock);
    if (header_printed.load(std::memory_order_relaxed) == 0) {
        OrbVersion version;
        orb_serv_get_version(&version);
        char header[kVerboseHeaderSize];
        orb_verbose_header_text(header, version, orb_serv_get_max_cpu_frequency(), iface);
        write_log("%s\n", static_cast<const char *>(header));
        header_printed.store(1, std::memory_order_release);
    }
    orb_serv_unlock(&orb_verbose_header_lock);
}

void orb_serv_print_verbose_info(int iface, const char *call_text, double seconds) {
    char statistics[kVerboseStatisticsSize];
    orb_verbose_statistics_text(statistics, current_statistics(seconds));
    orb_serv_print_verbose_header(iface);
    write_log("ORB_VERBOSE %s %s\n", call_text != nullptr ? call_text : "", static_cast<const char *>(statistics));
}

}  // extern "C"
