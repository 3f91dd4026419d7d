// feature_scan.h - the 128-bit processor feature set.
//
// Processor detection, the processor predicates and the memory manager all
// read one set of processor features: two 64-bit words, bit b being bit
// (b mod 64) of word (b div 64).  The value 0 means "not scanned yet"; a scan
// always sets bit 0 (GENERIC_IA32), so a scanned set is never 0.  Readers that
// find 0 call __ruzuv_orb_features_init_x() and read again.
//
// The feature table names every bit; the environment variable
// RUZUV_ISA_DISABLE lists lower-case table tokens whose features the scan
// removes from the set.
#ifndef ORB_SERVICE_FEATURE_SCAN_H
#define ORB_SERVICE_FEATURE_SCAN_H

#include <cstdint>

// Bit positions in the feature set, one per named feature.
enum OrbFeatureBit : int {
    ORB_FEATURE_GENERIC_IA32 = 0,
    ORB_FEATURE_X87 = 1,
    ORB_FEATURE_CMOV = 2,
    ORB_FEATURE_MMX = 3,
    ORB_FEATURE_FXSAVE = 4,
    ORB_FEATURE_SSE = 5,
    ORB_FEATURE_SSE2 = 6,
    ORB_FEATURE_SSE3 = 7,
    ORB_FEATURE_SSSE3 = 8,
    ORB_FEATURE_SSE4_1 = 9,
    ORB_FEATURE_SSE4_2 = 10,
    ORB_FEATURE_MOVBE = 11,
    ORB_FEATURE_POPCNT = 12,
    ORB_FEATURE_PCLMULQDQ = 13,
    ORB_FEATURE_AES = 14,
    ORB_FEATURE_AVX = 16,
    ORB_FEATURE_F16C = 15,
    ORB_FEATURE_RDRND = 17,
    ORB_FEATURE_FMA = 18,
    ORB_FEATURE_BMI = 19,
    ORB_FEATURE_LZCNT = 20,
    ORB_FEATURE_HLE = 21,
    ORB_FEATURE_RTM = 22,
    ORB_FEATURE_AVX2 = 23,
    ORB_FEATURE_AVX512F = 27,
    ORB_FEATURE_AVX512DQ = 24,
    ORB_FEATURE_PTWRITE = 25,
    ORB_FEATURE_KNCNI = 26,
    ORB_FEATURE_ADX = 28,
    ORB_FEATURE_RDSEED = 29,
    ORB_FEATURE_AVX512IFMA52 = 30,
    ORB_FEATURE_AVX512ER = 32,
    ORB_FEATURE_AVX512PF = 33,
    ORB_FEATURE_AVX512CD = 34,
    ORB_FEATURE_SHA = 35,
    ORB_FEATURE_MPX = 36,
    ORB_FEATURE_AVX512BW = 37,
    ORB_FEATURE_AVX512VL = 38,
    ORB_FEATURE_AVX512VBMI = 39,
    ORB_FEATURE_AVX512_4FMAPS = 40,
    ORB_FEATURE_AVX512_4VNNIW = 41,
    ORB_FEATURE_AVX512_VPOPCNTDQ = 42,
    ORB_FEATURE_AVX512_BITALG = 43,
    ORB_FEATURE_AVX512_VBMI2 = 44,
    ORB_FEATURE_GFNI = 45,
    ORB_FEATURE_VAES = 46,
    ORB_FEATURE_VPCLMULQDQ = 47,
    ORB_FEATURE_AVX512_VNNI = 48,
    ORB_FEATURE_CLWB = 49,
    ORB_FEATURE_RDPID = 50,
    ORB_FEATURE_IBT = 51,
    ORB_FEATURE_SHSTK = 52,
    ORB_FEATURE_SGX = 53,
    ORB_FEATURE_WBNOINVD = 54,
    ORB_FEATURE_PCONFIG = 55,
    ORB_FEATURE_AVX512_VP2INTERSECT = 56,
    ORB_FEATURE_AVX512_FP16 = 60,
    ORB_FEATURE_CLDEMOTE = 64,
    ORB_FEATURE_MOVDIRI = 65,
    ORB_FEATURE_MOVDIR64B = 66,
    ORB_FEATURE_WAITPKG = 67,
    ORB_FEATURE_AVX512_BF16 = 68,
    ORB_FEATURE_ENQCMD = 69,
    ORB_FEATURE_AVX_VNNI = 70,
    ORB_FEATURE_AMX_TILE = 71,
    ORB_FEATURE_AMX_INT8 = 72,
    ORB_FEATURE_AMX_BF16 = 73,
    ORB_FEATURE_KL = 74,
    ORB_FEATURE_WIDE_KL = 75,
    ORB_FEATURE_HRESET = 76,
    ORB_FEATURE_UINTR = 77,
    ORB_FEATURE_PREFETCHI = 78,
    ORB_FEATURE_AVX_VNNI_INT8 = 79,
    ORB_FEATURE_CMPCCXADD = 80,
    ORB_FEATURE_AVX_IFMA = 81,
    ORB_FEATURE_AVX_NE_CONVERT = 82,
    ORB_FEATURE_RAO_INT = 83,
    ORB_FEATURE_AMX_FP16 = 84,
    ORB_FEATURE_AMX_COMPLEX = 85,
    ORB_FEATURE_SHA512 = 86,
    ORB_FEATURE_SM3 = 87,
    ORB_FEATURE_SM4 = 88,
    ORB_FEATURE_AVX_VNNI_INT16 = 89,
    ORB_FEATURE_USER_MSR = 90,
    ORB_FEATURE_AVX_10_1 = 91,
    ORB_FEATURE_AVX_10_1_512 = 92,
    ORB_FEATURE_APXF = 93,
    ORB_FEATURE_MSRLIST = 94,
    ORB_FEATURE_WRMSRNS = 95,
    ORB_FEATURE_PBNDKB = 96,
};

extern "C" {
// The scanned set (no vendor restriction), and the copy written only by the
// vendor-checking variant of the scan.
extern volatile uint64_t __ruzuv_orb_feature_indicator_x[2];
extern volatile uint64_t __ruzuv_orb_feature_indicator[2];

// Scans and stores __ruzuv_orb_feature_indicator_x.
void __ruzuv_orb_features_init_x(void);
// The same scan, but stops with bit 0 only on a vendor other than "GenuineRuzuv";
// also stores __ruzuv_orb_feature_indicator.
void __ruzuv_orb_features_init(void);

// Feature table queries (index 0..91); each builds the table first if needed.
const char *__liborb_get_feature_name(int index);
int __liborb_get_feature_bitpos(int index);
int __liborb_get_cpu_feature(const uint64_t *set, int index);
int __liborb_set_cpu_feature(uint64_t *set, int index);
}

// The low word of the scanned set, scanning first if needed.
uint64_t orb_feature_word(int word);
// True when every bit of mask is present in the low word of the scanned set.
bool orb_has_features(uint64_t mask);

#endif
