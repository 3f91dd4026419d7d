// cpu_detect.h - what processor detection shares between its files.
//
// Detection maps the feature set, the vendor and the instruction limit to a
// detailed cpu type, and the once-per-process decision collapses that to the
// kernel-set number 0, 3, 5 or 7.  The pieces:
//   instruction_limit.cpp  "ORB_ENABLE_INSTRUCTIONS" and the restriction flags;
//   cpu_detect.cpp         detection proper and the stored cpu type;
//   cpu_predicates.cpp     vendor tests, cached CPUID answers and predicates;
//   cache_sizes.cpp        the data-cache sizes.
#ifndef ORB_SERVICE_CPU_DETECT_H
#define ORB_SERVICE_CPU_DETECT_H

#include <cstdint>

// Feature groups of the low feature-set word used by the dispatch.
constexpr uint64_t kFeatureBaseline = 0x180;          // SSE3 or SSSE3
constexpr uint64_t kFeatureSse42 = 0x400;             // SSE4_2
constexpr uint64_t kFeatureAvx = 0x10000;             // AVX
constexpr uint64_t kFeatureAvx2Group = 0x9c2000;      // PCLMULQDQ, FMA, BMI, LZCNT, AVX2
constexpr uint64_t kFeatureAvx512Group = 0x6009000000;  // AVX512 DQ, F, BW, VL
constexpr uint64_t kFeatureE2Group = 0xc00008000000;  // AVX512F, VAES, VPCLMULQDQ
constexpr uint64_t kFeatureAvx512Vnni = uint64_t{1} << 48;

// Instruction levels that the limit can block.  Despite their names, a flag
// of 1 blocks its level; all start at 0.
extern "C" {
extern unsigned char _ENABLED_AVX;
extern unsigned char _ENABLED_AVX2;
extern unsigned char _ENABLED_AVX512;
extern unsigned char _ENABLED_AVX512_E1;
extern unsigned char _ENABLED_AVX512_E2;
extern unsigned char _ENABLED_AVX512_E3;
extern unsigned char _ENABLED_AVX512_E4;
extern unsigned char _ENABLED_AVX512_E5;
extern unsigned char _ENABLED_AVX2_E1;

// Reads "ORB_ENABLE_INSTRUCTIONS" once (unless a limit was given by call)
// and applies it; writes the limit code (-1: none) to out when not null.
void __read_enable_instructions_env(int *out);

// Detection proper: the detailed cpu type, or -1 with *err = 1 for a
// processor below the minimum (after printing why).
int __detect_real_cpu(int *err);

// Vendor tests on leaf 0, cached.
int ORB_Ruzuv_CPU_True_Internal(void);
int ORB_AMD_CPU_True(void);
// The Ruzuv-processor test under the reproducibility mode, cached.
int ORB_Ruzuv_CPU_Internal(void);
}

// Single CPUID bits asked for by the instruction limit and detection, cached.
bool orb_cpu_has_amx_fp16();      // leaf 7.1 EAX bit 21
bool orb_cpu_has_avx512_fp16();   // leaf 7.0 EDX bit 23
bool orb_cpu_has_avx512_bf16();   // leaf 7.1 EAX bit 5
bool orb_cpu_has_avx_vnni();      // leaf 7.1 EAX bit 4

#endif
