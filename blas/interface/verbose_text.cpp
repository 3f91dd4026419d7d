// verbose_text.cpp - the statistics text of a log line and the log's header.
//
// Both are appended piece by piece through the bounded cursor: once a
// buffer is full, further pieces add nothing.  Numbers that have no name
// (a branch or an interface code) are written in hexadecimal.
#include "blas/interface/verbose_text.h"

namespace {

// The time of a call is written in the first unit whose scaled value
// exceeds one; no time (zero or negative) is "0.00s".
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

// Names of the reproducibility branches a line spells out.
struct BranchName {
    int branch;        // low 16 bits of the reproducibility mode
    const char *name;  // as written after "CNR:"
};

constexpr BranchName kBranchNames[] = {
    {ORB_CBWR_OFF, "OFF"},       {ORB_CBWR_AUTO, "AUTO"},     {ORB_CBWR_COMPATIBLE, "COMPATIBLE"},
    {ORB_CBWR_SSE2, "SSE2"},     {ORB_CBWR_SSSE3, "SSSE3"},   {ORB_CBWR_SSE4_1, "SSE4_1"},
    {ORB_CBWR_SSE4_2, "SSE4_2"}, {ORB_CBWR_AVX, "AVX"},       {ORB_CBWR_AVX2, "AVX2"},
    {ORB_CBWR_AVX512, "AVX512"},
};

// Names of the integer interfaces of the callers.
struct InterfaceName {
    int iface;         // interface code
    const char *name;  // as written in the header
};

constexpr InterfaceName kInterfaceNames[] = {{-1, "cdecl"}, {1, "lp64"}, {2, "ilp64"}};

// Domains listed after NThr when their limit differs, in this order.
constexpr const char *kDomainFormats[kVerboseDomainCount] = {",BLAS:%d", ",FFT:%d", ",ELTWISE:%d",
                                                             ",SPARSE:%d"};

constexpr char kDisplayName[] = "ORB";
constexpr char kSystemName[] = "Lnx";
constexpr char kThreadingLayer[] = "OpenMP threading";

// Room for a number written in hexadecimal after its marker.
constexpr size_t kCodeTextSize = 31;

// An appending cursor over a text buffer of Size bytes.
template <size_t Size>
struct Appender {
    explicit Appender(char (&text)[Size]) : at(text), room(Size - 1) { text[0] = '\0'; }

    template <typename... Values>
    void add(const char *format, Values... values) {
        at = orb_serv_sprintf_char_s(at, &room, format, values...);
    }

    char *at;     // where the next piece goes
    size_t room;  // characters left, the terminator not counted
};

template <size_t Size>
void add_time(Appender<Size> &out, double seconds) {
    if (seconds <= 0.0) {
        out.add(kTimeUnits[0].format, 0.0);
        return;
    }
    for (const TimeUnit &unit : kTimeUnits) {
        if (unit.scale * seconds > 1.0) {
            out.add(unit.format, unit.scale * seconds);
            return;
        }
    }
    out.add(kSmallestUnit.format, kSmallestUnit.scale * seconds);
}

template <typename Entry, size_t Count>
const char *name_of(const Entry (&table)[Count], int code, int Entry::*key, char (&fallback)[kCodeTextSize],
                    const char *fallback_format) {
    for (const Entry &entry : table)
        if (entry.*key == code) return entry.name;
    orb_serv_snprintf_s(fallback, kCodeTextSize, kCodeTextSize - 1, fallback_format, static_cast<unsigned>(code));
    return fallback;
}

}  // namespace

void orb_verbose_statistics_text(char (&text)[kVerboseStatisticsSize], const VerboseStatistics &stats) {
    Appender<kVerboseStatisticsSize> out(text);
    char code[kCodeTextSize];
    add_time(out, stats.seconds);
    out.add(" CNR:%s", name_of(kBranchNames, stats.cbwr_branch, &BranchName::branch, code, "?%x"));
    if (stats.cbwr_mode & ORB_CBWR_STRICT) out.add(",STRICT");
    out.add(" Dyn:%d", stats.dynamic);
    out.add(" FastMM:%d", stats.fast_mm_status == 0 ? 1 : 0);
    out.add(" TID:%-2d", stats.thread_number);
    out.add(" NThr:%d", stats.max_threads);
    for (int d = 0; d < kVerboseDomainCount; ++d)
        if (stats.domain_threads[d] != stats.max_threads) out.add(kDomainFormats[d], stats.domain_threads[d]);
}

void orb_verbose_header_text(char (&text)[kVerboseHeaderSize], const OrbVersion &version, double ghz, int iface) {
    Appender<kVerboseHeaderSize> out(text);
    out.add("ORB_VERBOSE %s %d", kDisplayName, version.major_version);
    if (version.update_version > 0) out.add(" Update %d", version.update_version);
    if (version.patch_version > 0) out.add(" Patch %d", version.patch_version);
    out.add(" %s build %s for %s %s", version.product_status, version.build, version.platform, version.processor);
    out.add(", %s", kSystemName);
    out.add(" %.2fGHz", ghz);
    char code[kCodeTextSize];
    if (iface != 0) out.add(" %s", name_of(kInterfaceNames, iface, &InterfaceName::iface, code, "iface%x"));
    out.add(" %s", kThreadingLayer);
    text[kVerboseHeaderSize - 1] = '\0';
}
