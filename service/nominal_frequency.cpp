// nominal_frequency.cpp - the processor's nominal frequency in GHz.
//
// Three sources are asked in turn and the first positive answer wins: the
// frequency written at the end of the processor's brand string, the first
// "cpu MHz" line of "/proc/cpuinfo", and an estimate from timing a chain of
// dependent integer decrements, of which a core retires one per cycle.
#include <sys/time.h>

#include <cstdlib>
#include <cstring>

#include "orb_service.h"
#include "service/cpu_clock.h"
#include "service/cpu_identity.h"

namespace {

// The brand string is 48 characters in three CPUID leaves; the frequency is
// looked for in the last 16 (the last leaf), with its unit letter at one of
// these positions so that four characters of number fit before it.
constexpr size_t kBrandSize = 48;
constexpr size_t kTailStart = 32;
constexpr int kFirstUnitPosition = 4;
constexpr int kLastUnitPosition = 13;
constexpr uint32_t kExtendedLeaves = 0x80000000u;
constexpr uint32_t kFirstBrandLeaf = 0x80000002u;
constexpr uint32_t kLastBrandLeaf = 0x80000004u;

constexpr double kGhzPerMhz = 0.001;

// MHz per unit of the letter before "Hz"; 0 for a letter that is no unit.
double mhz_per_unit(char letter) {
    switch (letter) {
    case 'M': return 1.0;
    case 'G': return 1e3;
    case 'T': return 1e6;
    default: return 0.0;
    }
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The number that ends just before tail[end] (one blank between number and
// unit is allowed): digits with at most one point, read back to the start
// of the tail.  0 when there is no digit.
double number_before(const char *tail, int end) {
    if (end > 0 && tail[end - 1] == ' ') --end;
    int start = end;
    bool point = false;
    while (start > 0 && (is_digit(tail[start - 1]) || (tail[start - 1] == '.' && !point))) {
        point = point || tail[start - 1] == '.';
        --start;
    }
    double value = 0.0, scale = 0.0;
    bool digits = false;
    for (int i = start; i < end; ++i) {
        if (tail[i] == '.') {
            scale = 1.0;
            continue;
        }
        value = 10.0 * value + (tail[i] - '0');
        scale *= 10.0;
        digits = true;
    }
    if (!digits) return 0.0;
    return scale > 0.0 ? value / scale : value;
}

// The brand string as the processor spells it, terminated; empty when the
// processor has no brand leaves.
void read_brand_string(char (&brand)[kBrandSize + 1]) {
    std::memset(brand, 0, sizeof brand);
    if (orb_cpuid(kExtendedLeaves, 0).eax < kLastBrandLeaf) return;
    for (uint32_t leaf = kFirstBrandLeaf; leaf <= kLastBrandLeaf; ++leaf) {
        const CpuidRegs r = orb_cpuid(leaf, 0);
        const uint32_t words[4] = {r.eax, r.ebx, r.ecx, r.edx};
        std::memcpy(brand + 16 * (leaf - kFirstBrandLeaf), words, sizeof words);
    }
}

constexpr size_t kCpuinfoLineSize = 512;

// Decrements per round of the estimate, and the wall time it runs for at least.
constexpr long kDecrementsPerRound = 1000000;
constexpr double kEstimateSeconds = 0.02;

double wall_seconds() {
    timeval now;
    gettimeofday(&now, nullptr);
    return static_cast<double>(now.tv_sec) + 1e-6 * static_cast<double>(now.tv_usec);
}

// Counts n down to zero, one dependent decrement after another.
void decrement_chain(long n) { __asm__ volatile("1:\n\tdec %0\n\tjnz 1b" : "+r"(n) : : "cc"); }

}  // namespace

// A brand string shorter than 48 characters is padded with terminators, as
// the processor pads it.  The number before the unit is read whole (digits
// and one point, one blank allowed before the unit), so "2.10GHz", "3.5 GHz"
// and "2800MHz" all give their value.
double orb_brand_string_frequency_ghz(const char *brand) {
    if (brand == nullptr) return 0.0;
    char field[kBrandSize] = {};
    std::memcpy(field, brand, strnlen(brand, kBrandSize));
    const char *tail = field + kTailStart;
    for (int p = kFirstUnitPosition; p <= kLastUnitPosition; ++p) {
        const double unit = mhz_per_unit(tail[p]);
        if (unit == 0.0 || tail[p + 1] != 'H' || tail[p + 2] != 'z') continue;
        return number_before(tail, p) * unit * kGhzPerMhz;
    }
    return 0.0;
}

double orb_cpuinfo_frequency_ghz(const char *path) {
    FILE *file = orb_serv_fopen(path, "r");
    if (file == nullptr) return 0.0;
    double ghz = 0.0;
    char line[kCpuinfoLineSize];
    while (fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, "cpu MHz", 7) != 0) continue;
        if (const char *colon = std::strchr(line, ':')) ghz = std::strtod(colon + 1, nullptr) * kGhzPerMhz;
        break;
    }
    orb_serv_fclose(file);
    return ghz;
}

extern "C" {

double orb_serv_get_cpu_frequency(void) {
    const double start = wall_seconds();
    double decrements = 0.0, elapsed = 0.0;
    do {
        decrement_chain(kDecrementsPerRound);
        decrements += kDecrementsPerRound;
        elapsed = wall_seconds() - start;
    } while (elapsed < kEstimateSeconds);
    return decrements / elapsed * 1e-9;
}

double orb_serv_get_max_cpu_frequency(void) {
    char brand[kBrandSize + 1];
    read_brand_string(brand);
    double ghz = orb_brand_string_frequency_ghz(brand);
    if (ghz > 0.0) return ghz;
    ghz = orb_cpuinfo_frequency_ghz("/proc/cpuinfo");
    if (ghz > 0.0) return ghz;
    return orb_serv_get_cpu_frequency();
}

}  // extern "C"
