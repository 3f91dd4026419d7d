// feature_scan.cpp - the feature table and the scan that fills the feature set.
//
// The scan is a table of rules: each rule names one CPUID bit, the feature it
// gives and the gate under which it counts (FXSR present, an XCR0 state
// enabled, a parent feature present).  The gates are evaluated once per scan,
// the rules applied in order, and the features named by RUZUV_ISA_DISABLE
// removed at the end.  Nothing here calls the C library.
#include "service/feature_scan.h"

#include "service/cpu_identity.h"
#include "service/proc_environ.h"

namespace {

// One entry of the feature table.
struct FeatureInfo {
    const char *name;   // upper-case feature name, null for an empty slot
    int bit;            // bit position in the feature set, -1 for none
    const char *token;  // lower-case name in RUZUV_ISA_DISABLE, or null
};

constexpr int kFeatureCount = 92;

// The table is constant data; __liborb_isa_init_once only marks it ready, so
// a concurrent second "build" is harmless.
const FeatureInfo proc_info_features[kFeatureCount] = {
    {nullptr, -1, nullptr},  // 0: empty
    {"GENERIC_IA32", ORB_FEATURE_GENERIC_IA32, nullptr},  // 1
    {"X87", ORB_FEATURE_X87, nullptr},  // 2
    {"CMOV", ORB_FEATURE_CMOV, nullptr},  // 3
    {"MMX", ORB_FEATURE_MMX, "mmx"},  // 4
    {"FXSAVE", ORB_FEATURE_FXSAVE, nullptr},  // 5
    {"SSE", ORB_FEATURE_SSE, "sse"},  // 6
    {"SSE2", ORB_FEATURE_SSE2, "sse2"},  // 7
    {"SSE3", ORB_FEATURE_SSE3, "sse3"},  // 8
    {"SSSE3", ORB_FEATURE_SSSE3, "ssse3"},  // 9
    {"SSE4_1", ORB_FEATURE_SSE4_1, "sse4.1"},  // 10
    {"SSE4_2", ORB_FEATURE_SSE4_2, "sse4"},  // 11
    {"MOVBE", ORB_FEATURE_MOVBE, "movbe"},  // 12
    {"POPCNT", ORB_FEATURE_POPCNT, "popcnt"},  // 13
    {"PCLMULQDQ", ORB_FEATURE_PCLMULQDQ, "pclmul"},  // 14
    {"AES", ORB_FEATURE_AES, "aes"},  // 15
    {"AVX", ORB_FEATURE_AVX, "avx"},  // 16
    {"F16C", ORB_FEATURE_F16C, "f16c"},  // 17
    {"RDRND", ORB_FEATURE_RDRND, "rdrnd"},  // 18
    {"FMA", ORB_FEATURE_FMA, "fma"},  // 19
    {"BMI", ORB_FEATURE_BMI, "bmi"},  // 20
    {"LZCNT", ORB_FEATURE_LZCNT, "lzcnt"},  // 21
    {"HLE", ORB_FEATURE_HLE, "hle"},  // 22
    {"RTM", ORB_FEATURE_RTM, "rtm"},  // 23
    {"AVX2", ORB_FEATURE_AVX2, "avx2"},  // 24
    {"AVX512F", ORB_FEATURE_AVX512F, "avx512f"},  // 25
    {"AVX512DQ", ORB_FEATURE_AVX512DQ, "avx512dq"},  // 26
    {"PTWRITE", ORB_FEATURE_PTWRITE, "ptwrite"},  // 27
    {"KNCNI", ORB_FEATURE_KNCNI, nullptr},  // 28
    {"ADX", ORB_FEATURE_ADX, "adx"},  // 29
    {"RDSEED", ORB_FEATURE_RDSEED, "rdseed"},  // 30
    {"AVX512IFMA52", ORB_FEATURE_AVX512IFMA52, "avx512ifma"},  // 31
    {nullptr, -1, nullptr},  // 32: unnamed
    {"AVX512ER", ORB_FEATURE_AVX512ER, "avx512er"},  // 33
    {"AVX512PF", ORB_FEATURE_AVX512PF, "avx512pf"},  // 34
    {"AVX512CD", ORB_FEATURE_AVX512CD, "avx512cd"},  // 35
    {"SHA", ORB_FEATURE_SHA, "sha"},  // 36
    {"MPX", ORB_FEATURE_MPX, "mpx"},  // 37
    {"AVX512BW", ORB_FEATURE_AVX512BW, "avx512bw"},  // 38
    {"AVX512VL", ORB_FEATURE_AVX512VL, "avx512vl"},  // 39
    {"AVX512VBMI", ORB_FEATURE_AVX512VBMI, "avx512vbmi"},  // 40
    {"AVX512_4FMAPS", ORB_FEATURE_AVX512_4FMAPS, "avx5124fmaps"},  // 41
    {"AVX512_4VNNIW", ORB_FEATURE_AVX512_4VNNIW, "avx5124vnniw"},  // 42
    {"AVX512_VPOPCNTDQ", ORB_FEATURE_AVX512_VPOPCNTDQ, "avx512vpopcntdq"},  // 43
    {"AVX512_BITALG", ORB_FEATURE_AVX512_BITALG, "avx512bitalg"},  // 44
    {"AVX512_VBMI2", ORB_FEATURE_AVX512_VBMI2, "avx512vbmi2"},  // 45
    {"GFNI", ORB_FEATURE_GFNI, "gfni"},  // 46
    {"VAES", ORB_FEATURE_VAES, "vaes"},  // 47
    {"VPCLMULQDQ", ORB_FEATURE_VPCLMULQDQ, "vpclmulqdq"},  // 48
    {"AVX512_VNNI", ORB_FEATURE_AVX512_VNNI, "avx512vnni"},  // 49
    {"CLWB", ORB_FEATURE_CLWB, "clwb"},  // 50
    {"RDPID", ORB_FEATURE_RDPID, "rdpid"},  // 51
    {"IBT", ORB_FEATURE_IBT, "ibt"},  // 52
    {"SHSTK", ORB_FEATURE_SHSTK, "shstk"},  // 53
    {"SGX", ORB_FEATURE_SGX, "sgx"},  // 54
    {"WBNOINVD", ORB_FEATURE_WBNOINVD, "wbnoinvd"},  // 55
    {"PCONFIG", ORB_FEATURE_PCONFIG, "pconfig"},  // 56
    {"AVX512_VP2INTERSECT", ORB_FEATURE_AVX512_VP2INTERSECT, "avx512vp2intersect"},  // 57
    {"AVX512_FP16", ORB_FEATURE_AVX512_FP16, "avx512fp16"},  // 58
    {"CLDEMOTE", ORB_FEATURE_CLDEMOTE, "cldemote"},  // 59
    {"MOVDIRI", ORB_FEATURE_MOVDIRI, "movdiri"},  // 60
    {"MOVDIR64B", ORB_FEATURE_MOVDIR64B, "movdir64b"},  // 61
    {"WAITPKG", ORB_FEATURE_WAITPKG, "waitpkg"},  // 62
    {"AVX512_BF16", ORB_FEATURE_AVX512_BF16, "avx512bf16"},  // 63
    {"ENQCMD", ORB_FEATURE_ENQCMD, "enqcmd"},  // 64
    {"AVX_VNNI", ORB_FEATURE_AVX_VNNI, "avxvnni"},  // 65
    {"AMX-TILE", ORB_FEATURE_AMX_TILE, "amx-tile"},  // 66
    {"AMX-INT8", ORB_FEATURE_AMX_INT8, "amx-int8"},  // 67
    {"AMX-BF16", ORB_FEATURE_AMX_BF16, "amx-bf16"},  // 68
    {"KL", ORB_FEATURE_KL, "kl"},  // 69
    {"WIDE-KL", ORB_FEATURE_WIDE_KL, "wide-kl"},  // 70
    {"HRESET", ORB_FEATURE_HRESET, "hreset"},  // 71
    {"UINTR", ORB_FEATURE_UINTR, "uintr"},  // 72
    {"PREFETCHI", ORB_FEATURE_PREFETCHI, "prefetchi"},  // 73
    {"AVX_VNNI_INT8", ORB_FEATURE_AVX_VNNI_INT8, "avxvnniint8"},  // 74
    {"CMPCCXADD", ORB_FEATURE_CMPCCXADD, "cmpccxadd"},  // 75
    {"AVX_IFMA", ORB_FEATURE_AVX_IFMA, "avxifma"},  // 76
    {"AVX_NE_CONVERT", ORB_FEATURE_AVX_NE_CONVERT, "avxneconvert"},  // 77
    {"RAO_INT", ORB_FEATURE_RAO_INT, "raoint"},  // 78
    {"AMX-FP16", ORB_FEATURE_AMX_FP16, "amx-fp16"},  // 79
    {"AMX-COMPLEX", ORB_FEATURE_AMX_COMPLEX, "amx-complex"},  // 80
    {"SHA512", ORB_FEATURE_SHA512, "sha512"},  // 81
    {"SM3", ORB_FEATURE_SM3, "sm3"},  // 82
    {"SM4", ORB_FEATURE_SM4, "sm4"},  // 83
    {"AVX_VNNI_INT16", ORB_FEATURE_AVX_VNNI_INT16, "avxvnniint16"},  // 84
    {"USER_MSR", ORB_FEATURE_USER_MSR, "usermsr"},  // 85
    {"AVX_10_1", ORB_FEATURE_AVX_10_1, "avx10.1-256"},  // 86
    {"AVX_10_1_512", ORB_FEATURE_AVX_10_1_512, "avx10.1-512"},  // 87
    {"APXF", ORB_FEATURE_APXF, "apxf"},  // 88
    {"MSRLIST", ORB_FEATURE_MSRLIST, "msrlist"},  // 89
    {"WRMSRNS", ORB_FEATURE_WRMSRNS, "wrmsrns"},  // 90
    {"PBNDKB", ORB_FEATURE_PBNDKB, "pbndkb"},  // 91
};
static_assert(sizeof proc_info_features / sizeof proc_info_features[0] == kFeatureCount);

volatile int __liborb_isa_info_initialized = 0;

void __liborb_isa_init_once() {
    if (!__atomic_load_n(&__liborb_isa_info_initialized, __ATOMIC_ACQUIRE))
        __atomic_store_n(&__liborb_isa_info_initialized, 1, __ATOMIC_RELEASE);
}

// --- scan rules -----------------------------------------------------------

enum Reg { EAX, EBX, ECX, EDX };

// Conditions under which a CPUID bit counts as a feature.
enum Gate {
    kAlways,        // unconditional
    kFxsr,          // leaf 1 EDX bit 24 (FXSR)
    kKeyLocker,     // leaf 7 ECX bit 23
    kAvx10,         // leaf 7.1 EDX bit 19
    kTileState,     // OSXSAVE and XCR0 bits 17, 18
    kAvxState,      // OSXSAVE and XCR0 bits 1, 2
    kAvxStateAvx,   // AVX state and leaf 1 ECX bit 28 (AVX)
    kAvxStateAvx2,  // AVX state and leaf 7 EBX bit 5 (AVX2)
    kMpxState,      // AVX state and XCR0 bits 3, 4
    kAvx512State,   // AVX state and XCR0 bits 5, 6, 7
    kGateCount
};

// One CPUID bit that gives one feature.
struct ScanRule {
    uint32_t leaf;     // CPUID leaf
    uint32_t subleaf;  // CPUID subleaf
    Reg reg;           // register of the answer
    int cpuid_bit;     // bit in that register
    int feature;       // feature-set bit it gives
    Gate gate;         // when it counts
};

const ScanRule kRules[] = {
    // leaf 1, EDX and ECX
    {1, 0, EDX, 0, ORB_FEATURE_X87, kAlways},
    {1, 0, EDX, 15, ORB_FEATURE_CMOV, kAlways},
    {1, 0, EDX, 23, ORB_FEATURE_MMX, kAlways},
    {1, 0, EDX, 24, ORB_FEATURE_FXSAVE, kFxsr},
    {1, 0, EDX, 25, ORB_FEATURE_SSE, kFxsr},
    {1, 0, EDX, 26, ORB_FEATURE_SSE2, kFxsr},
    {1, 0, ECX, 0, ORB_FEATURE_SSE3, kFxsr},
    {1, 0, ECX, 9, ORB_FEATURE_SSSE3, kFxsr},
    {1, 0, ECX, 22, ORB_FEATURE_MOVBE, kFxsr},
    {1, 0, ECX, 19, ORB_FEATURE_SSE4_1, kFxsr},
    {1, 0, ECX, 20, ORB_FEATURE_SSE4_2, kFxsr},
    {1, 0, ECX, 23, ORB_FEATURE_POPCNT, kFxsr},
    {1, 0, ECX, 1, ORB_FEATURE_PCLMULQDQ, kFxsr},
    {1, 0, ECX, 25, ORB_FEATURE_AES, kFxsr},
    {7, 0, EBX, 29, ORB_FEATURE_SHA, kFxsr},
    {1, 0, ECX, 30, ORB_FEATURE_RDRND, kAlways},
    // leaf 7 subleaf 0 (BMI, which needs two bits, is handled by the scan)
    {7, 0, EBX, 2, ORB_FEATURE_SGX, kAlways},
    {7, 0, EBX, 4, ORB_FEATURE_HLE, kAlways},
    {7, 0, EBX, 11, ORB_FEATURE_RTM, kAlways},
    {7, 0, EBX, 19, ORB_FEATURE_ADX, kAlways},
    {7, 0, EBX, 18, ORB_FEATURE_RDSEED, kAlways},
    {7, 0, EBX, 24, ORB_FEATURE_CLWB, kAlways},
    {7, 0, ECX, 5, ORB_FEATURE_WAITPKG, kAlways},
    {7, 0, ECX, 7, ORB_FEATURE_SHSTK, kAlways},
    {7, 0, ECX, 8, ORB_FEATURE_GFNI, kAlways},
    {7, 0, ECX, 22, ORB_FEATURE_RDPID, kAlways},
    {7, 0, ECX, 25, ORB_FEATURE_CLDEMOTE, kAlways},
    {7, 0, ECX, 27, ORB_FEATURE_MOVDIRI, kAlways},
    {7, 0, ECX, 28, ORB_FEATURE_MOVDIR64B, kAlways},
    {7, 0, ECX, 29, ORB_FEATURE_ENQCMD, kAlways},
    {7, 0, EDX, 20, ORB_FEATURE_IBT, kAlways},
    {7, 0, EDX, 18, ORB_FEATURE_PCONFIG, kAlways},
    {7, 0, EDX, 5, ORB_FEATURE_UINTR, kAlways},
    {0x80000001, 0, ECX, 5, ORB_FEATURE_LZCNT, kAlways},
    {0x80000008, 0, EBX, 9, ORB_FEATURE_WBNOINVD, kAlways},
    {0x14, 0, EBX, 4, ORB_FEATURE_PTWRITE, kAlways},
    {0x19, 0, EBX, 0, ORB_FEATURE_KL, kKeyLocker},
    {0x19, 0, EBX, 2, ORB_FEATURE_WIDE_KL, kKeyLocker},
    // leaf 7 subleaf 1
    {7, 1, EAX, 22, ORB_FEATURE_HRESET, kAlways},
    {7, 1, EAX, 7, ORB_FEATURE_CMPCCXADD, kAlways},
    {7, 1, EAX, 3, ORB_FEATURE_RAO_INT, kAlways},
    {7, 1, EAX, 27, ORB_FEATURE_MSRLIST, kAlways},
    {7, 1, EAX, 19, ORB_FEATURE_WRMSRNS, kAlways},
    {7, 1, EBX, 1, ORB_FEATURE_PBNDKB, kAlways},
    {7, 1, EDX, 14, ORB_FEATURE_PREFETCHI, kAlways},
    {7, 1, EDX, 15, ORB_FEATURE_USER_MSR, kAlways},
    {7, 1, EDX, 21, ORB_FEATURE_APXF, kAlways},
    {0x24, 0, EBX, 17, ORB_FEATURE_AVX_10_1, kAvx10},
    {0x24, 0, EBX, 18, ORB_FEATURE_AVX_10_1_512, kAvx10},
    // tile state
    {7, 0, EDX, 24, ORB_FEATURE_AMX_TILE, kTileState},
    {7, 0, EDX, 25, ORB_FEATURE_AMX_INT8, kTileState},
    {7, 0, EDX, 22, ORB_FEATURE_AMX_BF16, kTileState},
    {7, 1, EAX, 21, ORB_FEATURE_AMX_FP16, kTileState},
    {7, 1, EDX, 8, ORB_FEATURE_AMX_COMPLEX, kTileState},
    // SSE and AVX state
    {1, 0, ECX, 28, ORB_FEATURE_AVX, kAvxState},
    {7, 0, ECX, 9, ORB_FEATURE_VAES, kAvxStateAvx},
    {7, 0, ECX, 10, ORB_FEATURE_VPCLMULQDQ, kAvxStateAvx},
    {7, 1, EAX, 1, ORB_FEATURE_SM3, kAvxStateAvx},
    {1, 0, ECX, 29, ORB_FEATURE_F16C, kAvxState},
    {7, 0, EBX, 5, ORB_FEATURE_AVX2, kAvxState},
    {7, 1, EDX, 4, ORB_FEATURE_AVX_VNNI_INT8, kAvxStateAvx2},
    {7, 1, EAX, 23, ORB_FEATURE_AVX_IFMA, kAvxStateAvx2},
    {7, 1, EDX, 5, ORB_FEATURE_AVX_NE_CONVERT, kAvxStateAvx2},
    {7, 1, EAX, 0, ORB_FEATURE_SHA512, kAvxStateAvx2},
    {7, 1, EAX, 2, ORB_FEATURE_SM4, kAvxStateAvx2},
    {7, 1, EDX, 10, ORB_FEATURE_AVX_VNNI_INT16, kAvxStateAvx2},
    {1, 0, ECX, 12, ORB_FEATURE_FMA, kAvxState},
    {7, 0, EBX, 14, ORB_FEATURE_MPX, kMpxState},
    {7, 1, EAX, 4, ORB_FEATURE_AVX_VNNI, kAvxState},
    // AVX-512 state
    {7, 0, EBX, 16, ORB_FEATURE_AVX512F, kAvx512State},
    {7, 0, EBX, 28, ORB_FEATURE_AVX512CD, kAvx512State},
    {7, 0, EBX, 27, ORB_FEATURE_AVX512ER, kAvx512State},
    {7, 0, EBX, 26, ORB_FEATURE_AVX512PF, kAvx512State},
    {7, 0, EBX, 17, ORB_FEATURE_AVX512DQ, kAvx512State},
    {7, 0, EBX, 30, ORB_FEATURE_AVX512BW, kAvx512State},
    {7, 0, EBX, 31, ORB_FEATURE_AVX512VL, kAvx512State},
    {7, 0, EBX, 21, ORB_FEATURE_AVX512IFMA52, kAvx512State},
    {7, 0, ECX, 1, ORB_FEATURE_AVX512VBMI, kAvx512State},
    {7, 0, ECX, 14, ORB_FEATURE_AVX512_VPOPCNTDQ, kAvx512State},
    {7, 0, ECX, 12, ORB_FEATURE_AVX512_BITALG, kAvx512State},
    {7, 0, ECX, 6, ORB_FEATURE_AVX512_VBMI2, kAvx512State},
    {7, 0, ECX, 11, ORB_FEATURE_AVX512_VNNI, kAvx512State},
    {7, 0, EDX, 2, ORB_FEATURE_AVX512_4VNNIW, kAvx512State},
    {7, 0, EDX, 3, ORB_FEATURE_AVX512_4FMAPS, kAvx512State},
    {7, 0, EDX, 23, ORB_FEATURE_AVX512_FP16, kAvx512State},
    {7, 0, EDX, 8, ORB_FEATURE_AVX512_VP2INTERSECT, kAvx512State},
    {7, 1, EAX, 5, ORB_FEATURE_AVX512_BF16, kAvx512State},
};

uint32_t reg_of(const CpuidRegs &r, Reg reg) {
    switch (reg) {
    case EAX: return r.eax;
    case EBX: return r.ebx;
    case ECX: return r.ecx;
    default: return r.edx;
    }
}

bool bit_of(uint32_t value, int bit) { return (value >> bit) & 1u; }
bool all_bits(uint64_t value, uint64_t mask) { return (value & mask) == mask; }

// CPUID answers as the scan reads them: a leaf above the highest one the
// processor reports (basic or extended range) reads as zeros.
class LeafReader {
  public:
    LeafReader()
        : max_basic_(orb_cpuid(0, 0).eax), max_extended_(orb_cpuid(0x80000000u, 0).eax) {}
    CpuidRegs operator()(uint32_t leaf, uint32_t subleaf) const {
        uint32_t max = leaf >= 0x80000000u ? max_extended_ : max_basic_;
        return leaf <= max ? orb_cpuid(leaf, subleaf) : CpuidRegs{0, 0, 0, 0};
    }
    bool bit(uint32_t leaf, uint32_t subleaf, Reg reg, int bit) const {
        return bit_of(reg_of((*this)(leaf, subleaf), reg), bit);
    }

  private:
    uint32_t max_basic_;     // highest basic leaf
    uint32_t max_extended_;  // highest extended leaf
};

void set_bit(uint64_t set[2], int bit) { set[bit >> 6] |= uint64_t{1} << (bit & 63); }

// The mask of RUZUV_ISA_DISABLE; true when at least one item named a feature.
bool read_disable_mask(uint64_t mask[2]) {
    char value[512];
    __liborb_libc_getenv_from_proc("RUZUV_ISA_DISABLE", value, sizeof value);
    bool matched = false;
    for (char *item = value; *item;) {
        char *end = item;
        while (*end && *end != ',') ++end;
        size_t len = static_cast<size_t>(end - item);
        for (int i = 2; len > 0 && i < kFeatureCount; ++i) {
            const FeatureInfo &f = proc_info_features[i];
            if (f.token && f.bit >= 0 && __liborb_libc_strlen(f.token) == len &&
                __liborb_libc_strncmp(f.token, item, len) == 0) {
                set_bit(mask, f.bit);
                matched = true;
            }
        }
        item = *end ? end + 1 : end;
    }
    return matched;
}

// The whole scan; stops after bit 0 on another vendor when vendor_check is set.
void scan(uint64_t result[2], bool vendor_check) {
    result[0] = result[1] = 0;
    set_bit(result, ORB_FEATURE_GENERIC_IA32);
    LeafReader cpuid;
    CpuidRegs leaf0 = cpuid(0, 0);
    if (vendor_check && !orb_cpuid_vendor_is(leaf0, "GenuineRuzuv"))
        return;

    bool osxsave = cpuid.bit(1, 0, ECX, 27);
    uint64_t xcr0 = osxsave ? orb_xgetbv0() : 0;
    bool avx_state = osxsave && all_bits(xcr0, 0x6);
    bool gate[kGateCount];
    gate[kAlways] = true;
    gate[kFxsr] = cpuid.bit(1, 0, EDX, 24);
    gate[kKeyLocker] = cpuid.bit(7, 0, ECX, 23);
    gate[kAvx10] = cpuid.bit(7, 1, EDX, 19);
    gate[kTileState] = osxsave && all_bits(xcr0, 0x60000);
    gate[kAvxState] = avx_state;
    gate[kAvxStateAvx] = avx_state && cpuid.bit(1, 0, ECX, 28);
    gate[kAvxStateAvx2] = avx_state && cpuid.bit(7, 0, EBX, 5);
    gate[kMpxState] = avx_state && all_bits(xcr0, 0x18);
    gate[kAvx512State] = avx_state && all_bits(xcr0, 0xe0);

    for (const ScanRule &rule : kRules)
        if (gate[rule.gate] && cpuid.bit(rule.leaf, rule.subleaf, rule.reg, rule.cpuid_bit))
            set_bit(result, rule.feature);
    if (cpuid.bit(7, 0, EBX, 3) && cpuid.bit(7, 0, EBX, 8)) set_bit(result, ORB_FEATURE_BMI);

    uint64_t disable[2] = {0, 0};
    if (read_disable_mask(disable)) {
        result[0] &= ~disable[0];
        result[1] &= ~disable[1];
    }
}

void store(volatile uint64_t target[2], const uint64_t value[2]) {
    // The high word first: a reader that sees the low word non-zero sees both.
    __atomic_store_n(&target[1], value[1], __ATOMIC_RELAXED);
    __atomic_store_n(&target[0], value[0], __ATOMIC_RELEASE);
}

}  // namespace

extern "C" {

volatile uint64_t __ruzuv_orb_feature_indicator_x[2] = {0, 0};
volatile uint64_t __ruzuv_orb_feature_indicator[2] = {0, 0};

void __ruzuv_orb_features_init_x(void) {
    uint64_t result[2];
    scan(result, false);
    store(__ruzuv_orb_feature_indicator_x, result);
}

void __ruzuv_orb_features_init(void) {
    uint64_t result[2];
    scan(result, true);
    store(__ruzuv_orb_feature_indicator, result);
    store(__ruzuv_orb_feature_indicator_x, result);
}

const char *__liborb_get_feature_name(int index) {
    __liborb_isa_init_once();
    return index >= 0 && index < kFeatureCount ? proc_info_features[index].name : nullptr;
}

int __liborb_get_feature_bitpos(int index) {
    __liborb_isa_init_once();
    if (index < 0 || index >= kFeatureCount) return -3;
    int bit = proc_info_features[index].bit;
    return bit >= -1 && bit <= 127 ? bit : -3;
}

int __liborb_get_cpu_feature(const uint64_t *set, int index) {
    int bit = __liborb_get_feature_bitpos(index);
    if (bit < 0) return bit;
    return static_cast<int>((set[bit >> 6] >> (bit & 63)) & 1u);
}

int __liborb_set_cpu_feature(uint64_t *set, int index) {
    int bit = __liborb_get_feature_bitpos(index);
    if (bit < 0) return bit;
    set_bit(set, bit);
    return 0;
}

}  // extern "C"

uint64_t orb_feature_word(int word) {
    uint64_t low = __atomic_load_n(&__ruzuv_orb_feature_indicator_x[0], __ATOMIC_ACQUIRE);
    while (low == 0) {
        __ruzuv_orb_features_init_x();
        low = __atomic_load_n(&__ruzuv_orb_feature_indicator_x[0], __ATOMIC_ACQUIRE);
    }
    return word == 0 ? low : __ruzuv_orb_feature_indicator_x[1];
}

bool orb_has_features(uint64_t mask) { return (orb_feature_word(0) & mask) == mask; }
