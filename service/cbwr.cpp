// cbwr.cpp - the reproducibility mode.
//
// One process-wide value: the low 16 bits name a branch (OFF, AUTO,
// COMPATIBLE or an instruction-set level whose kernels are pinned), bit 16 is
// the STRICT flag asking kernels for their reproducible code paths.  It is
// read from "ORB_CBWR" on first use, or set by orb_serv_cbwr_set, and becomes
// fixed once the cpu type has been decided.
#include "orb_service.h"
#include "service/cpu_detect.h"
#include "service/feature_scan.h"

namespace {

constexpr int kUndetermined = -1;
constexpr int kBranchMask = 0xFFFF;
constexpr int kLargestMode = 0x1FFFF;
constexpr int kWarningSsse3Only = 1453;
constexpr int kWarningAvxOnly = 1454;

volatile int orb_cbwr = kUndetermined;

// The words "ORB_CBWR" accepts, in the order they are tried.
struct BranchWord {
    const char *word;  // text of the variable (after any "BRANCH=")
    int branch;        // branch value it selects
};
const BranchWord kBranchWords[] = {
    {"AUTO", ORB_CBWR_AUTO},     {"COMPATIBLE", ORB_CBWR_COMPATIBLE}, {"SSE2", ORB_CBWR_SSE2},
    {"SSE3", ORB_CBWR_SSE2},     {"SSSE3", ORB_CBWR_SSE2},            {"SSE4_1", ORB_CBWR_SSE4_1},
    {"SSE4_2", ORB_CBWR_SSE4_2}, {"AVX", ORB_CBWR_SSE4_2},            {"AVX2", ORB_CBWR_AVX2},
    {"AVX512_MIC", ORB_CBWR_AVX2}, {"AVX512", ORB_CBWR_AVX512},       {"AVX512_MIC_E1", ORB_CBWR_AVX2},
    {"AVX512_E1", ORB_CBWR_AVX512_E1},
};

bool same_text(const char *a, const char *b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

bool starts_with(const char *text, const char *prefix) {
    while (*prefix && *text == *prefix) ++text, ++prefix;
    return *prefix == '\0';
}

int check_cbwr_settings(int value);

// Splits a ",STRICT" suffix off value in place; true when one was found.
// Walking back from just before "STRICT", blanks are skipped and every comma
// ends the word; any other character stops the walk.
bool take_strict_suffix(char *value) {
    int len = 0;
    while (value[len]) ++len;
    if (len <= 6 || !same_text(value + len - 6, "STRICT")) return false;
    bool strict = false;
    for (int i = len - 7; i >= 0; --i) {
        if (value[i] == ' ') continue;
        if (value[i] != ',') break;
        value[i] = '\0';
        strict = true;
    }
    return strict;
}

int get_orb_cbwr_from_env() {
    char value[128];
    if (orb_serv_getenv("ORB_CBWR", value, sizeof value) <= 0) return ORB_CBWR_OFF;
    int strict = take_strict_suffix(value) ? ORB_CBWR_STRICT : 0;
    const char *word = starts_with(value, "BRANCH=") ? value + 7 : value;
    for (const BranchWord &w : kBranchWords)
        if (same_text(word, w.word))
            return (check_cbwr_settings(w.branch) == ORB_CBWR_SUCCESS ? w.branch : ORB_CBWR_AUTO) | strict;
    return ORB_CBWR_AUTO;
}

int check_cbwr_settings(int value) {
    int branch = value & kBranchMask;
    bool ruzuv = ORB_Ruzuv_CPU_True_Internal();
    if (ruzuv) {
        int ceiling = orb_serv_cbwr_get_auto_branch();
        if ((branch > ceiling && branch < 15) || (ceiling == ORB_CBWR_AVX512 && branch == ORB_CBWR_AVX512_MIC) ||
            (ceiling == ORB_CBWR_AVX512_E1 && (branch == ORB_CBWR_AVX512_MIC || branch == ORB_CBWR_AVX512_MIC_E1)))
            return ORB_CBWR_ERR_UNSUPPORTED_BRANCH;
        if (branch == ORB_CBWR_SSSE3) orb_serv_print(1, kWarningSsse3Only, 0);
        if (branch == ORB_CBWR_AVX) orb_serv_print(1, kWarningAvxOnly, 0);
    }
    if (value > kLargestMode) return ORB_CBWR_ERR_UNSUPPORTED_BRANCH;
    if (branch == ORB_CBWR_AUTO || branch == ORB_CBWR_COMPATIBLE) return ORB_CBWR_SUCCESS;
    if (branch >= ORB_CBWR_SSE2 && branch <= ORB_CBWR_AVX512_E1)
        return ruzuv ? ORB_CBWR_SUCCESS : ORB_CBWR_ERR_UNSUPPORTED_BRANCH;
    return ORB_CBWR_ERR_INVALID_INPUT;
}

int select(int mode, int what) {
    if (what == -1) return mode;
    if (what == 1) return mode & kBranchMask;
    return ORB_CBWR_ERR_INVALID_INPUT;
}

}  // namespace

extern "C" {

int orb_serv_cbwr_get_auto_branch(void) {
    if (!ORB_Ruzuv_CPU_True_Internal()) return ORB_CBWR_AUTO;
    switch (orb_serv_get_cpu_type(1)) {
    case 0: case 1: return ORB_CBWR_SSE2;
    case 2: return orb_has_features(uint64_t{1} << ORB_FEATURE_SSE4_1) ? ORB_CBWR_SSE4_1 : ORB_CBWR_SSE2;
    case 3: case 4: return ORB_CBWR_SSE4_2;
    case 5: case 15: return ORB_CBWR_AVX2;
    case 7: return ORB_CBWR_AVX512;
    case 9: case 10: case 12: case 14: case 16: return ORB_CBWR_AVX512_E1;
    default: return -4;
    }
}

int orb_serv_cbwr_get_nolock(int what) {
    if (orb_cbwr == kUndetermined) __atomic_store_n(&orb_cbwr, get_orb_cbwr_from_env(), __ATOMIC_RELEASE);
    return select(orb_cbwr, what);
}

int orb_serv_cbwr_get(int what) {
    if (__atomic_load_n(&orb_cbwr, __ATOMIC_ACQUIRE) == kUndetermined) {
        orb_serv_lock(&ORB_Detect_Cpu_Global_Lock);
        orb_serv_cbwr_get_nolock(what);
        orb_serv_unlock(&ORB_Detect_Cpu_Global_Lock);
    }
    return select(orb_cbwr, what);
}

int orb_serv_cbwr_set(int value) {
    // 0 and 1 both mean OFF, so either matches an OFF mode once it is fixed.
    int wanted = value == 0 ? ORB_CBWR_OFF : value;
    if (orb_serv_get_cpu_type(0) >= 0)
        return wanted == orb_cbwr ? ORB_CBWR_SUCCESS : ORB_CBWR_ERR_MODE_CHANGE_FAILURE;
    orb_serv_lock(&ORB_Detect_Cpu_Global_Lock);
    int result = ORB_CBWR_SUCCESS;
    if (orb_serv_get_cpu_type(0) >= 0) {
        result = ORB_CBWR_ERR_MODE_CHANGE_FAILURE;
    } else if (value >= 0 && value <= ORB_CBWR_AUTO) {
        __atomic_store_n(&orb_cbwr, wanted, __ATOMIC_RELEASE);
    } else {
        result = check_cbwr_settings(value);
        if (result == ORB_CBWR_SUCCESS) __atomic_store_n(&orb_cbwr, value, __ATOMIC_RELEASE);
    }
    orb_serv_unlock(&ORB_Detect_Cpu_Global_Lock);
    return result;
}

}  // extern "C"
