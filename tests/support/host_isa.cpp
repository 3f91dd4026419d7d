#include "support/host_isa.h"

#include <cpuid.h>
#include <cstdint>

namespace {

struct Leaf {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
};

Leaf cpuid(unsigned leaf, unsigned subleaf = 0) {
    Leaf r;
    unsigned max = __get_cpuid_max(leaf & 0x80000000u, nullptr);
    if (max >= leaf) __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
    return r;
}

bool bit(unsigned word, int position) { return (word >> position) & 1u; }

// XCR0, or 0 where the system does not offer XGETBV.
uint64_t enabled_state() {
    if (!bit(cpuid(1).ecx, 27)) return 0;  // OSXSAVE
    unsigned low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (uint64_t{high} << 32) | low;
}

}  // namespace

bool host_runs(HostIsa isa) {
    const Leaf l1 = cpuid(1), l7 = cpuid(7), e1 = cpuid(0x80000001u);
    const uint64_t xcr0 = enabled_state();
    const bool avx = bit(l1.ecx, 28) && (xcr0 & 0x6) == 0x6;
    switch (isa) {
    case HostIsa::sse4_2:
        return bit(l1.ecx, 19) && bit(l1.ecx, 20);
    case HostIsa::avx2:
        return avx && bit(l1.ecx, 12) && bit(l7.ebx, 5);
    case HostIsa::avx512:
        return avx && (xcr0 & 0xe0) == 0xe0 && bit(l7.ebx, 16) && bit(l7.ebx, 17) && bit(l7.ebx, 30) &&
               bit(l7.ebx, 31);
    case HostIsa::fma4:
        return avx && bit(e1.ecx, 16);
    }
    return false;
}

const char *host_isa_name(HostIsa isa) {
    switch (isa) {
    case HostIsa::sse4_2: return "SSE4.2";
    case HostIsa::avx2: return "AVX2 with FMA";
    case HostIsa::avx512: return "AVX-512 (F, DQ, BW, VL)";
    case HostIsa::fma4: return "FMA4";
    }
    return "?";
}

bool host_isa_from_name(const std::string &name, HostIsa *isa) {
    const struct { const char *name; HostIsa isa; } names[] = {
        {"sse4_2", HostIsa::sse4_2}, {"avx2", HostIsa::avx2}, {"avx512", HostIsa::avx512}, {"fma4", HostIsa::fma4}};
    for (const auto &n : names)
        if (name == n.name) return *isa = n.isa, true;
    return false;
}

bool host_is_amd() {
    const Leaf l0 = cpuid(0);
    return l0.ebx == 0x68747541 && l0.edx == 0x69746e65 && l0.ecx == 0x444d4163;  // "AuthenticAMD"
}
