// cpu_predicates.cpp - what the library asks about the processor beyond the
// cpu type: vendor tests, single CPUID answers, model predicates and the AMX
// tile test.
//
// Every answer is computed on first use and cached in a static that starts
// at -1; racing first callers store the same value.  The vendor-specific
// model predicates answer only while the reproducibility branch is OFF or
// AUTO: a fixed branch must not depend on which processor runs it.
#include <initializer_list>
#include <sys/syscall.h>
#include <unistd.h>

#include "orb_service.h"
#include "service/cpu_detect.h"
#include "service/cpu_identity.h"
#include "service/feature_scan.h"

namespace {

// Returns the cached answer in slot, computing it first if still -1.
int cached(int &slot, int (*compute)()) {
    int answer = __atomic_load_n(&slot, __ATOMIC_ACQUIRE);
    if (answer < 0) {
        answer = compute();
        __atomic_store_n(&slot, answer, __ATOMIC_RELEASE);
    }
    return answer;
}

int bit_answer(uint32_t value, int bit) { return static_cast<int>((value >> bit) & 1u); }

bool branch_detects_processor() {
    int branch = orb_serv_cbwr_get(1);
    return branch == ORB_CBWR_OFF || branch == ORB_CBWR_AUTO;
}

bool has_feature(int bit) { return (orb_feature_word(bit >> 6) >> (bit & 63)) & 1u; }

// The detailed type of a fresh detection, as the model predicates see it.
int detailed_type() {
    static int slot = -1;
    return cached(slot, [] { return orb_serv_get_cpu_type(1); });
}

bool detailed_type_in(std::initializer_list<int> types) {
    int t = detailed_type();
    for (int candidate : types)
        if (t == candidate) return true;
    return false;
}

// --- AMX tiles ------------------------------------------------------------

constexpr int kArchGetXcompPerm = 0x1022;
constexpr int kArchReqXcompPerm = 0x1023;
constexpr int kXtileData = 18;
constexpr int kAmxWords = 12;

bool tile_data_permitted() {
    unsigned long bits = 0;
    if (syscall(SYS_arch_prctl, kArchGetXcompPerm, &bits) != 0) return false;
    if (!(bits & (1ul << kXtileData))) {
        if (syscall(SYS_arch_prctl, kArchReqXcompPerm, kXtileData) != 0) return false;
        if (syscall(SYS_arch_prctl, kArchGetXcompPerm, &bits) != 0) return false;
    }
    return bits & (1ul << kXtileData);
}

// The tile description: tile, INT8, BF16, FP16 flags, then highest palette,
// total tile bytes, bytes per tile, bytes per row, tile registers, maximum
// rows, TMUL maximum K and maximum N.
uint32_t g_amx_info[kAmxWords];
int g_has_amx = -1;

int compute_amx() {
    int type = detailed_type();
    if (type != 14 && type != 16) return 0;
    CpuidRegs l7 = orb_cpuid(7, 0);
    uint32_t tile = bit_answer(l7.edx, 24), int8 = bit_answer(l7.edx, 25), bf16 = bit_answer(l7.edx, 22);
    uint32_t fp16 = type == 16 ? bit_answer(orb_cpuid(7, 1).eax, 21) : 0;
    if (!tile || !(int8 || bf16 || fp16)) return 0;
    if (!tile_data_permitted()) {
        for (uint32_t &w : g_amx_info) w = 0;
        return 0;
    }
    CpuidRegs palette = orb_cpuid(0x1d, 1), tmul = orb_cpuid(0x1e, 0);
    const uint32_t info[kAmxWords] = {tile, int8, bf16, fp16,
                                      orb_cpuid(0x1d, 0).eax,
                                      palette.eax & 0xffff, palette.eax >> 16,
                                      palette.ebx & 0xffff, palette.ebx >> 16,
                                      palette.ecx & 0xffff,
                                      tmul.ebx & 0xff, (tmul.ebx >> 8) & 0xffff};
    for (int i = 0; i < kAmxWords; ++i) g_amx_info[i] = info[i];
    return 1;
}

int g_ruzuv_internal_lock = 0;

}  // namespace

// --- single CPUID answers -------------------------------------------------

bool orb_cpu_has_amx_fp16() {
    static int slot = -1;
    return cached(slot, [] { return bit_answer(orb_cpuid(7, 1).eax, 21); });
}
bool orb_cpu_has_avx512_fp16() {
    static int slot = -1;
    return cached(slot, [] { return bit_answer(orb_cpuid(7, 0).edx, 23); });
}
bool orb_cpu_has_avx512_bf16() {
    static int slot = -1;
    return cached(slot, [] { return bit_answer(orb_cpuid(7, 1).eax, 5); });
}
bool orb_cpu_has_avx_vnni() {
    static int slot = -1;
    return cached(slot, [] { return bit_answer(orb_cpuid(7, 1).eax, 4); });
}

extern "C" {

// --- vendor tests ---------------------------------------------------------

int ORB_Ruzuv_CPU_True_Internal(void) {
    static int slot = -1;
    return cached(slot, [] { return static_cast<int>(orb_cpuid_vendor_is(orb_cpuid(0, 0), "GenuineRuzuv")); });
}

int ORB_AMD_CPU_True(void) {
    static int slot = -1;
    return cached(slot, [] { return static_cast<int>(orb_cpuid_vendor_is(orb_cpuid(0, 0), "AuthenticAMD")); });
}

int ORB_Ruzuv_CPU_Internal(void) {
    static int slot = -1;
    int answer = __atomic_load_n(&slot, __ATOMIC_ACQUIRE);
    if (answer >= 0) return answer;
    orb_serv_lock(&g_ruzuv_internal_lock);
    if (slot < 0) {
        int branch = orb_serv_cbwr_get(1);
        int value = branch_detects_processor() ? ORB_Ruzuv_CPU_True_Internal() : branch != ORB_CBWR_COMPATIBLE;
        __atomic_store_n(&slot, value, __ATOMIC_RELEASE);
    }
    orb_serv_unlock(&g_ruzuv_internal_lock);
    return slot;
}

orb_cpu_test_fn orb_serv_get_cpu_true(void) { return ORB_Ruzuv_CPU_True_Internal; }
orb_cpu_test_fn orb_serv_get_cpu(void) { return ORB_Ruzuv_CPU_Internal; }

// --- model predicates -----------------------------------------------------

int orb_serv_cpuhaspnr(void) {
    return branch_detects_processor() ? has_feature(ORB_FEATURE_SSE4_1) : orb_serv_cbwr_get(1) >= ORB_CBWR_SSE4_1;
}

int orb_serv_cpuhaspnr_true(void) { return has_feature(ORB_FEATURE_SSE4_1); }

int orb_serv_cpuisbulldozer(void) {
    static int slot = -1;
    return cached(slot, [] {
        return static_cast<int>(branch_detects_processor() && ORB_AMD_CPU_True() && has_feature(ORB_FEATURE_AVX) &&
                                bit_answer(orb_cpuid(0x80000001u, 0).ecx, 16));
    });
}

int orb_serv_cpuiszen(void) {
    static int slot = -1;
    return cached(slot, [] {
        return static_cast<int>(branch_detects_processor() && ORB_AMD_CPU_True() && has_feature(ORB_FEATURE_AVX2));
    });
}

int orb_serv_cpuisitbarcelona(void) {
    static int slot = -1;
    return cached(slot, [] {
        return static_cast<int>(branch_detects_processor() && ORB_AMD_CPU_True() &&
                                (orb_cpuid(1, 0).eax & 0x0ff00f00u) == 0x00100f00u);
    });
}

int orb_serv_cpuisclx(void) {
    static int slot = -1;
    return cached(slot, [] {
        int branch = orb_serv_cbwr_get(1);
        return static_cast<int>(detailed_type_in({9, 10, 12, 14, 16}) &&
                                (branch == ORB_CBWR_AVX512_E1 || branch_detects_processor()));
    });
}

int orb_serv_cpuisicx(void) {
    static int slot = -1;
    return cached(slot, [] { return static_cast<int>(detailed_type_in({10, 12, 14, 16})); });
}

int orb_serv_cpuiscpx(void) {
    static int slot = -1;
    return cached(slot, [] { return static_cast<int>(detailed_type_in({12, 14, 16})); });
}

int orb_serv_cpuhasavxvnni(void) {
    static int slot = -1;
    return cached(slot, [] { return static_cast<int>(detailed_type_in({15})); });
}

int orb_serv_cpuhasf16c(void) {
    static int slot = -1;
    return cached(slot, [] {
        int type = detailed_type();
        return type > 4 ? 1 : type == 4 ? bit_answer(orb_cpuid(1, 0).ecx, 29) : 0;
    });
}

int orb_serv_cpuhasfp16(void) {
    static int slot = -1;
    return cached(slot, [] { return static_cast<int>(detailed_type_in({14, 16})); });
}

int orb_serv_cpuhasamxfp16(void) {
    static int slot = -1;
    return cached(slot, [] { return static_cast<int>(detailed_type_in({16})); });
}

int orb_serv_cpuhasamx(uint32_t *info) {
    int answer = cached(g_has_amx, compute_amx);
    if (info)
        for (int i = 0; i < kAmxWords; ++i) info[i] = g_amx_info[i];
    return answer;
}

// Model predicates that no SGEMM or SGEMV path consults.  This library tells
// no Atom or many-core models apart, so those answer 0.
int orb_serv_cpuhasnhm(void) {
    static int slot = -1;
    return cached(slot, [] { return static_cast<int>(ORB_Ruzuv_CPU_True_Internal() && has_feature(ORB_FEATURE_SSE4_2)); });
}
int orb_serv_cpuisatomsse4_2(void) { return 0; }
int orb_serv_cpuisatomssse3(void) { return 0; }
int orb_serv_cpuisskl(void) {
    static int slot = -1;
    return cached(slot, [] { return static_cast<int>(detailed_type() >= 7); });
}
int orb_serv_cpuisknm(void) { return 0; }
// The micro-architecture is named by the detailed cpu type.
int orb_serv_get_microarchitecture(void) { return detailed_type(); }

}  // extern "C"
