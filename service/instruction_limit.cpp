// instruction_limit.cpp - capping the instruction-set level.
//
// "ORB_ENABLE_INSTRUCTIONS" (or orb_serv_enable_instructions) names the
// highest level the library may use.  Each accepted limit writes all nine
// restriction flags at once: the levels of its row are allowed (0), every
// other level is blocked (1).  A limit is accepted only on a "GenuineRuzuv"
// processor that has the features the level needs.
#include "orb_service.h"
#include "service/cpu_detect.h"
#include "service/feature_scan.h"

extern "C" {
unsigned char _ENABLED_AVX = 0;
unsigned char _ENABLED_AVX2 = 0;
unsigned char _ENABLED_AVX512 = 0;
unsigned char _ENABLED_AVX512_E1 = 0;
unsigned char _ENABLED_AVX512_E2 = 0;
unsigned char _ENABLED_AVX512_E3 = 0;
unsigned char _ENABLED_AVX512_E4 = 0;
unsigned char _ENABLED_AVX512_E5 = 0;
unsigned char _ENABLED_AVX2_E1 = 0;
}

namespace {

// The restriction flags in one order, so that a row can name them by bit.
enum Level : unsigned {
    kAvx = 1u << 0,
    kAvx2 = 1u << 1,
    kAvx512 = 1u << 2,
    kE1 = 1u << 3,
    kE2 = 1u << 4,
    kE3 = 1u << 5,
    kE4 = 1u << 6,
    kE5 = 1u << 7,
    kAvx2E1 = 1u << 8,
};
unsigned char *const kFlags[] = {&_ENABLED_AVX,       &_ENABLED_AVX2,      &_ENABLED_AVX512,
                                 &_ENABLED_AVX512_E1, &_ENABLED_AVX512_E2, &_ENABLED_AVX512_E3,
                                 &_ENABLED_AVX512_E4, &_ENABLED_AVX512_E5, &_ENABLED_AVX2_E1};

// One accepted limit.
struct LimitRow {
    const char *word;          // value of ORB_ENABLE_INSTRUCTIONS
    uint64_t features;         // feature-set bits the level needs (0: see probe)
    bool (*probe)();           // a single CPUID answer the level needs instead
    unsigned allowed;          // levels left usable; all others are blocked
};

// Indexed by limit code; codes 3 and 5 have no row.
const LimitRow kLimits[] = {
    /* 0 */ {"SSE4_2", kFeatureSse42, nullptr, 0},
    /* 1 */ {"AVX", kFeatureAvx, nullptr, kAvx},
    /* 2 */ {"AVX2", kFeatureAvx2Group, nullptr, kAvx | kAvx2},
    /* 3 */ {nullptr, 0, nullptr, 0},
    /* 4 */ {"AVX512", kFeatureAvx512Group, nullptr, kAvx | kAvx2 | kAvx512},
    /* 5 */ {nullptr, 0, nullptr, 0},
    /* 6 */ {"AVX512_E1", kFeatureAvx512Vnni, nullptr, kAvx | kAvx2 | kAvx512 | kE1},
    /* 7 */ {"AVX512_E2", kFeatureE2Group, nullptr, kAvx | kAvx2 | kAvx512 | kE1 | kE2},
    // The E3 row leaves E2 blocked; detection then skips the E2 test.
    /* 8 */ {"AVX512_E3", 0, orb_cpu_has_avx512_bf16, kAvx | kAvx2 | kAvx512 | kE1 | kE3},
    /* 9 */ {"AVX512_E4", 0, orb_cpu_has_avx512_fp16, kAvx | kAvx2 | kAvx512 | kE1 | kE2 | kE3 | kE4},
    /* 10 */ {"AVX2_E1", 0, orb_cpu_has_avx_vnni, kAvx | kAvx2 | kAvx2E1},
    /* 11 */ {"AVX512_E5", 0, orb_cpu_has_amx_fp16, kAvx | kAvx2 | kAvx512 | kE1 | kE2 | kE3 | kE4 | kE5},
};
constexpr int kLimitCount = sizeof kLimits / sizeof kLimits[0];
constexpr int kLimitAvx = 1;
constexpr int kWarningAvxOnly = 1454;

int cached_mei = -1;            // the limit code, -1 for none
volatile int mei_was_called = 0;  // a limit was given; the variable is no longer read

int limit_code_of(const char *word) {
    for (int code = 0; code < kLimitCount; ++code) {
        const char *w = kLimits[code].word;
        if (!w) continue;
        int i = 0;
        while (w[i] && w[i] == word[i]) ++i;
        if (w[i] == '\0' && word[i] == '\0') return code;
    }
    return -1;
}

}  // namespace

extern "C" {

int orb_serv_enable_instructions(int code) {
    mei_was_called = 1;
    if (!ORB_Ruzuv_CPU_True_Internal() || code < 0 || code >= kLimitCount || !kLimits[code].word)
        return 0;
    if (code == kLimitAvx) orb_serv_print(1, kWarningAvxOnly, 0);
    const LimitRow &row = kLimits[code];
    bool present = row.probe ? row.probe() : orb_has_features(row.features);
    if (!present) return 0;
    for (unsigned level = 0; level < sizeof kFlags / sizeof kFlags[0]; ++level)
        *kFlags[level] = (row.allowed >> level) & 1u ? 0 : 1;
    return 1;
}

void __read_enable_instructions_env(int *out) {
    if (!mei_was_called) {
        char value[30];
        if (orb_serv_getenv("ORB_ENABLE_INSTRUCTIONS", value, sizeof value) > 0)
            cached_mei = limit_code_of(value);
        orb_serv_enable_instructions(cached_mei);
    }
    if (out) *out = cached_mei;
}

int orb_serv_is_sse4_2_enabled(void) {
    __read_enable_instructions_env(nullptr);
    return 1;
}
int orb_serv_is_avx_enabled(void) {
    __read_enable_instructions_env(nullptr);
    return _ENABLED_AVX ^ 1;
}
int orb_serv_is_avx2_enabled(void) {
    __read_enable_instructions_env(nullptr);
    return _ENABLED_AVX2 ^ 1;
}
int orb_serv_is_avx512_enabled(void) {
    __read_enable_instructions_env(nullptr);
    return _ENABLED_AVX512 ^ 1;
}

}  // extern "C"
