// cpu_detect.cpp - choosing the kernel set of the process.
//
// __detect_real_cpu maps the feature set, the vendor and the instruction
// limit to a detailed cpu type.  orb_serv_cpu_detect runs once per process
// under ORB_Detect_Cpu_Global_Lock: it folds in the reproducibility branch,
// which can pin the kernel set, and stores one of the kernel-set numbers
// 0 (def), 3 (mc3), 5 (avx2) or 7 (avx512).
#include "orb_service.h"
#include "service/cpu_detect.h"
#include "service/feature_scan.h"

namespace {

constexpr int kMessageBelowMinimum = 1223;
constexpr int kMessageNeedsSse3 = 1450;

volatile int g_cpu_type = -1;  // the stored kernel-set number, -1 until decided

// Detailed type -> kernel-set number.
int collapse(int detailed) {
    switch (detailed) {
    case 6: case 8: case 15: return 5;
    case 9: case 10: case 12: case 14: case 16: return 7;
    default: return detailed;
    }
}

// A fixed reproducibility branch: the cpu type it pins and its level.
struct FixedBranch {
    int type;   // cpu type the branch gives
    int level;  // the instruction level it stands for
};

FixedBranch fixed_branch(int branch) {
    switch (branch) {
    case ORB_CBWR_COMPATIBLE: return {1, 1};
    case ORB_CBWR_SSE4_2: case ORB_CBWR_AVX: return {3, 3};
    case ORB_CBWR_AVX2: return {5, 5};
    case ORB_CBWR_AVX512: return {7, 7};
    case ORB_CBWR_AVX512_E1: return {7, 9};
    default: return {0, 0};  // SSE2, 5, SSSE3, SSE4_1
    }
}

// Under a fixed branch whose level lies above the instruction limit, the
// limit wins (detection decides) when the processor has the limit's level.
bool limit_overrides_branch(int limit) {
    switch (limit) {
    case 3: return orb_has_features(kFeatureSse42);
    case 4: return orb_has_features(kFeatureAvx);
    case 5: return orb_has_features(kFeatureAvx2Group);
    case 7: return orb_has_features(kFeatureAvx512Group);
    default: return false;
    }
}

// The once-per-process decision; runs under ORB_Detect_Cpu_Global_Lock.
// Returns 0, or the exit code of a failed detection.
int decide_cpu_type() {
    int branch = orb_serv_cbwr_get_nolock(1);
    int type;
    if (branch == ORB_CBWR_OFF || branch == ORB_CBWR_AUTO) {
        int err = 0;
        type = collapse(__detect_real_cpu(&err));
        if (err) return 1;
    } else {
        FixedBranch fixed = fixed_branch(branch);
        int limit = -1;
        __read_enable_instructions_env(&limit);
        type = fixed.type;
        if (limit >= 0 && fixed.level > limit && limit_overrides_branch(limit)) {
            int err = 0;
            type = collapse(__detect_real_cpu(&err));
            if (err) return 1;
        }
    }
    __atomic_store_n(&g_cpu_type, type == 1 ? 0 : type, __ATOMIC_RELEASE);
    return 0;
}

}  // namespace

extern "C" {

int __detect_real_cpu(int *err) {
    __read_enable_instructions_env(nullptr);
    if (!ORB_Ruzuv_CPU_True_Internal()) return 0;
    if (!_ENABLED_AVX && orb_has_features(kFeatureAvx)) {
        if (!orb_has_features(kFeatureAvx2Group)) return 3;
        if (orb_has_features(kFeatureAvx512Group) && !_ENABLED_AVX512) {
            if (!_ENABLED_AVX512_E5 && orb_cpu_has_amx_fp16()) return 16;
            if (!_ENABLED_AVX512_E4 && orb_cpu_has_avx512_fp16()) return 14;
            if (!_ENABLED_AVX512_E3 && orb_cpu_has_avx512_bf16()) return 12;
            if (!_ENABLED_AVX512_E2 && orb_has_features(kFeatureE2Group)) return 10;
            if (_ENABLED_AVX512_E1) return 7;
            return orb_has_features(kFeatureAvx512Vnni) ? 9 : 7;
        }
        if (!_ENABLED_AVX2_E1 && orb_cpu_has_avx_vnni()) return 15;
        return _ENABLED_AVX2 ? 3 : 5;
    }
    if (orb_has_features(kFeatureSse42)) return 3;
    if (orb_feature_word(0) & kFeatureBaseline) return 0;
    orb_serv_print(0, kMessageBelowMinimum, 0);
    orb_serv_print(0, kMessageNeedsSse3, 0);
    if (err) *err = 1;
    return -1;
}

int orb_serv_cpu_detect(void) {
    int type = __atomic_load_n(&g_cpu_type, __ATOMIC_ACQUIRE);
    if (type >= 0) return type;
    orb_serv_lock(&ORB_Detect_Cpu_Global_Lock);
    int failure = g_cpu_type >= 0 ? 0 : decide_cpu_type();
    orb_serv_unlock(&ORB_Detect_Cpu_Global_Lock);
    if (failure) orb_serv_exit(failure);
    return g_cpu_type;
}

int orb_serv_get_cpu_type(int fresh) {
    if (!fresh) return __atomic_load_n(&g_cpu_type, __ATOMIC_ACQUIRE);
    int err = 0;
    int detailed = __detect_real_cpu(&err);
    if (err) orb_serv_exit(1);
    return detailed;
}

}  // extern "C"
