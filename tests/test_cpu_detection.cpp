// test_cpu_detection.cpp - processor identity, feature scan and detection.
//
// Every case presents a scripted processor from tests/cpus/ to a fresh
// process and asks the library what it made of it: the kernel-set number
// and the detailed cpu type, the feature bits of the scan, the effect of the
// instruction limit ("ORB_ENABLE_INSTRUCTIONS") and of the feature mask
// (RUZUV_ISA_DISABLE), the processor predicates, the cache sizes, the AMX
// description, the failure path for processors below the minimum, and the
// processor-simulation switch itself.  Expected values are worked out by
// hand from the tables' bits; each table's header says what it models.
//
// Reminders used throughout:
//   kernel sets: 0 def, 3 mc3, 5 avx2, 7 avx512;
//   detailed types: 7 AVX-512, 9 +VNNI, 10 +VAES/VPCLMULQDQ, 12 +BF16,
//   14 +FP16, 16 +AMX-FP16, 15 AVX2 with AVX-VNNI;
//   "enabled" prints the SSE4.2, AVX, AVX2 and AVX-512 answers in that order.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "cpu_probe.h"
#include "orb_service.h"
#include "service/feature_scan.h"
#include "support/host_isa.h"

namespace {

std::string limit(const char *word) { return std::string("ORB_ENABLE_INSTRUCTIONS=") + word; }
std::string mask(const char *tokens) { return std::string("RUZUV_ISA_DISABLE=") + tokens; }
std::string cbwr(const char *word) { return std::string("ORB_CBWR=") + word; }

// ---------------------------------------------------------------------------
// Each scripted processor, no settings: kernel set and detailed type.
// ---------------------------------------------------------------------------
class ProcessorTables : public testing::TestWithParam<ProbeCase> {};
TEST_P(ProcessorTables, DetectsKernelSetAndDetailedType) { expect_probe_case(GetParam()); }

const ProbeCase kProcessorTables[] = {
    {"sse42", "ruzuv_sse42", {}, "stored vendor type fresh stored", "stored=-1 vendor=1 type=3 fresh=3 stored=3", 0},
    {"sse41_is_baseline", "ruzuv_sse41", {}, "vendor type fresh", "vendor=1 type=0 fresh=0", 0},
    {"ssse3_is_baseline", "ruzuv_ssse3", {}, "vendor type fresh", "vendor=1 type=0 fresh=0", 0},
    {"avx_without_fma", "ruzuv_avx_no_fma", {}, "vendor type fresh", "vendor=1 type=3 fresh=3", 0},
    {"avx2", "ruzuv_avx2", {}, "vendor type fresh", "vendor=1 type=5 fresh=5", 0},
    {"avx2_vnni", "ruzuv_avx2_vnni", {}, "vendor type fresh", "vendor=1 type=5 fresh=15", 0},
    {"avx512_without_os_state", "ruzuv_avx512_no_os_state", {}, "vendor type fresh", "vendor=1 type=5 fresh=5", 0},
    {"avx512", "ruzuv_avx512", {}, "vendor type fresh", "vendor=1 type=7 fresh=7", 0},
    {"avx512_vnni", "ruzuv_avx512_vnni", {}, "vendor type fresh", "vendor=1 type=7 fresh=9", 0},
    {"avx512_e2", "ruzuv_avx512_e2", {}, "vendor type fresh", "vendor=1 type=7 fresh=10", 0},
    {"avx512_bf16", "ruzuv_avx512_bf16", {}, "vendor type fresh", "vendor=1 type=7 fresh=12", 0},
    {"avx512_fp16", "ruzuv_avx512_fp16", {}, "vendor type fresh", "vendor=1 type=7 fresh=14", 0},
    {"avx512_amx_fp16", "ruzuv_avx512_amx_fp16", {}, "vendor type fresh", "vendor=1 type=7 fresh=16", 0},
    {"cache_walk_model", "ruzuv_cache_walk", {}, "vendor type fresh", "vendor=1 type=3 fresh=3", 0},
    // Other vendors get the baseline whatever they offer.
    {"amd_zen", "amd_zen", {}, "vendor type fresh", "vendor=0 type=0 fresh=0", 0},
    {"amd_bulldozer", "amd_bulldozer", {}, "vendor type fresh", "vendor=0 type=0 fresh=0", 0},
    {"amd_barcelona", "amd_barcelona", {}, "vendor type fresh", "vendor=0 type=0 fresh=0", 0},
    {"other_vendor_avx512_amx", "other_vendor_avx512_amx", {}, "vendor type fresh", "vendor=0 type=0 fresh=0", 0},
};
INSTANTIATE_TEST_SUITE_P(Cpu, ProcessorTables, testing::ValuesIn(kProcessorTables), probe_case_name);

// ---------------------------------------------------------------------------
// "ORB_ENABLE_INSTRUCTIONS": the level cap read from the environment.
// A word the processor cannot honour is rejected and leaves every flag at 0
// (no restriction); a word that is not exactly one of the table's words is
// ignored.  The warning for "AVX" is printed whether or not it is accepted.
// ---------------------------------------------------------------------------
class InstructionLimit : public testing::TestWithParam<ProbeCase> {};
TEST_P(InstructionLimit, CapsDetection) { expect_probe_case(GetParam()); }

const ProbeCase kInstructionLimits[] = {
    {"avx512_capped_to_avx2", "ruzuv_avx512", {limit("AVX2")}, "type fresh enabled", "type=5 fresh=5 enabled=1110", 0},
    {"avx512_capped_to_sse42", "ruzuv_avx512", {limit("SSE4_2")}, "type fresh enabled", "type=3 fresh=3 enabled=1000", 0},
    {"avx512_capped_to_avx_warns", "ruzuv_avx512", {limit("AVX")}, "type fresh enabled", "type=3 fresh=3 enabled=1100", 1454},
    {"lower_case_word_ignored", "ruzuv_avx512", {limit("avx2")}, "type fresh enabled", "type=7 fresh=7 enabled=1111", 0},
    {"trailing_space_ignored", "ruzuv_avx512", {limit("AVX2 ")}, "type fresh enabled", "type=7 fresh=7 enabled=1111", 0},
    {"empty_value_no_limit", "ruzuv_avx512", {limit("")}, "type fresh enabled", "type=7 fresh=7 enabled=1111", 0},
    {"unknown_word_ignored", "ruzuv_avx512", {limit("AVX3")}, "type fresh enabled", "type=7 fresh=7 enabled=1111", 0},
    {"e1_without_vnni_rejected", "ruzuv_avx512", {limit("AVX512_E1")}, "type fresh enabled", "type=7 fresh=7 enabled=1111", 0},
    {"avx2_e1_without_avx_vnni_rejected", "ruzuv_avx512", {limit("AVX2_E1")}, "type fresh", "type=7 fresh=7", 0},
    {"e4_without_fp16_rejected", "ruzuv_avx512", {limit("AVX512_E4")}, "type fresh", "type=7 fresh=7", 0},
    {"vnni_at_e1", "ruzuv_avx512_vnni", {limit("AVX512_E1")}, "type fresh", "type=7 fresh=9", 0},
    {"vnni_capped_to_avx512", "ruzuv_avx512_vnni", {limit("AVX512")}, "type fresh enabled", "type=7 fresh=7 enabled=1111", 0},
    {"vnni_capped_to_sse42", "ruzuv_avx512_vnni", {limit("SSE4_2")}, "type fresh", "type=3 fresh=3", 0},
    {"e2_capped_to_e1", "ruzuv_avx512_e2", {limit("AVX512_E1")}, "type fresh", "type=7 fresh=9", 0},
    {"e2_at_e2", "ruzuv_avx512_e2", {limit("AVX512_E2")}, "type fresh", "type=7 fresh=10", 0},
    {"e2_capped_to_avx512", "ruzuv_avx512_e2", {limit("AVX512")}, "type fresh", "type=7 fresh=7", 0},
    {"bf16_at_e3", "ruzuv_avx512_bf16", {limit("AVX512_E3")}, "type fresh", "type=7 fresh=12", 0},
    // No VAES: the E2 word is rejected, detection stays unrestricted.
    {"bf16_e2_rejected", "ruzuv_avx512_bf16", {limit("AVX512_E2")}, "type fresh", "type=7 fresh=12", 0},
    {"fp16_capped_to_e3", "ruzuv_avx512_fp16", {limit("AVX512_E3")}, "type fresh", "type=7 fresh=12", 0},
    {"fp16_capped_to_e2", "ruzuv_avx512_fp16", {limit("AVX512_E2")}, "type fresh", "type=7 fresh=10", 0},
    {"fp16_capped_to_e1", "ruzuv_avx512_fp16", {limit("AVX512_E1")}, "type fresh", "type=7 fresh=9", 0},
    // AVX2_E1 blocks AVX-512 and allows AVX-VNNI, which this processor has.
    {"fp16_capped_to_avx2_e1", "ruzuv_avx512_fp16", {limit("AVX2_E1")}, "type fresh enabled", "type=5 fresh=15 enabled=1110", 0},
    {"fp16_e5_rejected", "ruzuv_avx512_fp16", {limit("AVX512_E5")}, "type fresh", "type=7 fresh=14", 0},
    {"amx_fp16_capped_to_e4", "ruzuv_avx512_amx_fp16", {limit("AVX512_E4")}, "type fresh", "type=7 fresh=14", 0},
    {"amx_fp16_at_e5", "ruzuv_avx512_amx_fp16", {limit("AVX512_E5")}, "type fresh", "type=7 fresh=16", 0},
    {"avx2_vnni_capped_to_avx2", "ruzuv_avx2_vnni", {limit("AVX2")}, "type fresh enabled", "type=5 fresh=5 enabled=1110", 0},
    {"avx2_vnni_at_avx2_e1", "ruzuv_avx2_vnni", {limit("AVX2_E1")}, "type fresh enabled", "type=5 fresh=15 enabled=1110", 0},
    // Rejected: the AVX2_E1 flag stays 0, so AVX-VNNI is still seen.
    {"avx2_vnni_avx512_rejected", "ruzuv_avx2_vnni", {limit("AVX512")}, "type fresh enabled", "type=5 fresh=15 enabled=1111", 0},
    {"avx2_avx512_rejected", "ruzuv_avx2", {limit("AVX512")}, "type fresh", "type=5 fresh=5", 0},
    {"avx2_capped_to_avx_warns", "ruzuv_avx2", {limit("AVX")}, "type fresh enabled", "type=3 fresh=3 enabled=1100", 1454},
    {"sse42_avx2_rejected", "ruzuv_sse42", {limit("AVX2")}, "type fresh enabled", "type=3 fresh=3 enabled=1111", 0},
    {"sse42_avx_rejected_still_warns", "ruzuv_sse42", {limit("AVX")}, "type fresh enabled", "type=3 fresh=3 enabled=1111", 1454},
    {"avx_without_fma_at_avx", "ruzuv_avx_no_fma", {limit("AVX")}, "type fresh enabled", "type=3 fresh=3 enabled=1100", 1454},
    {"avx_without_fma_avx2_rejected", "ruzuv_avx_no_fma", {limit("AVX2")}, "type fresh enabled", "type=3 fresh=3 enabled=1111", 0},
    {"ssse3_sse42_rejected", "ruzuv_ssse3", {limit("SSE4_2")}, "type fresh", "type=0 fresh=0", 0},
    {"amd_avx2_rejected", "amd_zen", {limit("AVX2")}, "type fresh enabled", "type=0 fresh=0 enabled=1111", 0},
    {"amd_avx512_rejected", "amd_zen", {limit("AVX512")}, "type fresh enabled", "type=0 fresh=0 enabled=1111", 0},
    {"amd_sse42_rejected", "amd_zen", {limit("SSE4_2")}, "type fresh enabled", "type=0 fresh=0 enabled=1111", 0},
};
INSTANTIATE_TEST_SUITE_P(Cpu, InstructionLimit, testing::ValuesIn(kInstructionLimits), probe_case_name);

// ---------------------------------------------------------------------------
// orb_serv_enable_instructions called by the program.  Every call marks the
// limit as given, so the environment word is never read afterwards; once the
// kernel set is stored, a new limit changes fresh detections only.
// ---------------------------------------------------------------------------
class InstructionLimitByCall : public testing::TestWithParam<ProbeCase> {};
TEST_P(InstructionLimitByCall, SetsFlagsAndWins) { expect_probe_case(GetParam()); }

const ProbeCase kInstructionLimitCalls[] = {
    // A processor with every level: codes 3, 5 and those outside 0..11 are
    // rejected; the last accepted code (11, E5) decides; the environment's
    // SSE4_2 is never consulted.  Code 1 prints the AVX warning.
    {"every_code_on_full_processor", "ruzuv_avx512_amx_fp16", {limit("SSE4_2")},
     "limit:-1 limit:0 limit:1 limit:2 limit:3 limit:4 limit:5 limit:6 limit:7 limit:8 limit:9 limit:10 limit:11 limit:12 type fresh",
     "limit(-1)=0 limit(0)=1 limit(1)=1 limit(2)=1 limit(3)=0 limit(4)=1 limit(5)=0 limit(6)=1 limit(7)=1 "
     "limit(8)=1 limit(9)=1 limit(10)=1 limit(11)=1 limit(12)=0 type=7 fresh=16",
     1454},
    // Another vendor: every code is rejected (no warning is asserted either way).
    {"every_code_rejected_on_amd", "amd_zen", {},
     "limit:-1 limit:0 limit:1 limit:2 limit:3 limit:4 limit:5 limit:6 limit:7 limit:8 limit:9 limit:10 limit:11 limit:12 type enabled",
     "limit(-1)=0 limit(0)=0 limit(1)=0 limit(2)=0 limit(3)=0 limit(4)=0 limit(5)=0 limit(6)=0 limit(7)=0 "
     "limit(8)=0 limit(9)=0 limit(10)=0 limit(11)=0 limit(12)=0 type=0 enabled=1111",
     -1},
    {"every_code_rejected_on_other_vendor", "other_vendor_avx512_amx", {},
     "limit:-1 limit:0 limit:1 limit:2 limit:3 limit:4 limit:5 limit:6 limit:7 limit:8 limit:9 limit:10 limit:11 limit:12 type enabled",
     "limit(-1)=0 limit(0)=0 limit(1)=0 limit(2)=0 limit(3)=0 limit(4)=0 limit(5)=0 limit(6)=0 limit(7)=0 "
     "limit(8)=0 limit(9)=0 limit(10)=0 limit(11)=0 limit(12)=0 type=0 enabled=1111",
     -1},
    {"levels_missing_on_avx512", "ruzuv_avx512", {},
     "limit:6 limit:7 limit:8 limit:9 limit:10 limit:11 type fresh",
     "limit(6)=0 limit(7)=0 limit(8)=0 limit(9)=0 limit(10)=0 limit(11)=0 type=7 fresh=7", 0},
    {"rejected_call_still_hides_environment", "ruzuv_avx512", {limit("SSE4_2")}, "limit:99 type fresh enabled",
     "limit(99)=0 type=7 fresh=7 enabled=1111", 0},
    {"call_overrides_environment", "ruzuv_avx512", {limit("SSE4_2")}, "limit:2 type fresh", "limit(2)=1 type=5 fresh=5", 0},
    // The restriction flags written by each accepted code, in the order
    // AVX AVX2 AVX512 E1 E2 E3 E4 E5 AVX2_E1 (1 = blocked); rejected codes
    // (3, 5, and 8 ... on processors without the feature) change nothing.
    // Code 8 (E3) leaves E2 blocked.
    {"flags_of_every_code", "ruzuv_avx512_amx_fp16", {},
     "flags limit:0 flags limit:1 flags limit:2 flags limit:4 flags limit:6 flags limit:7 flags "
     "limit:8 flags limit:9 flags limit:10 flags limit:11 flags limit:3 flags limit:5 flags",
     "flags=000000000 limit(0)=1 flags=111111111 limit(1)=1 flags=011111111 limit(2)=1 flags=001111111 "
     "limit(4)=1 flags=000111111 limit(6)=1 flags=000011111 limit(7)=1 flags=000001111 "
     "limit(8)=1 flags=000010111 limit(9)=1 flags=000000011 limit(10)=1 flags=001111110 "
     "limit(11)=1 flags=000000001 limit(3)=0 flags=000000001 limit(5)=0 flags=000000001",
     1454},
    {"rejected_code_keeps_flags", "ruzuv_avx512", {}, "limit:4 flags limit:6 flags limit:0 flags limit:9 flags",
     "limit(4)=1 flags=000111111 limit(6)=0 flags=000111111 limit(0)=1 flags=111111111 limit(9)=0 flags=111111111", 0},
    {"limit_after_detection_keeps_kernel_set", "ruzuv_avx512", {}, "type limit:0 type fresh enabled stored",
     "type=7 limit(0)=1 type=7 fresh=3 enabled=1000 stored=7", 0},
};
INSTANTIATE_TEST_SUITE_P(Cpu, InstructionLimitByCall, testing::ValuesIn(kInstructionLimitCalls), probe_case_name);

// ---------------------------------------------------------------------------
// RUZUV_ISA_DISABLE: lower-case table tokens, comma-separated, matched
// exactly; masked features vanish from the scan and hence from detection.
// Bits: 0 GENERIC_IA32, 13 PCLMULQDQ, 16 AVX, 18 FMA, 19 BMI, 20 LZCNT,
// 23 AVX2, 24 AVX512DQ, 27 AVX512F, 37 AVX512BW, 38 AVX512VL, 9 SSE4_1,
// 10 SSE4_2.
// ---------------------------------------------------------------------------
class FeatureMask : public testing::TestWithParam<ProbeCase> {};
TEST_P(FeatureMask, RemovesNamedFeatures) { expect_probe_case(GetParam()); }

const ProbeCase kFeatureMasks[] = {
    {"avx512f_on_avx512", "ruzuv_avx512", {mask("avx512f")}, "bits:27,24,37,38,23 type fresh",
     "bits(27,24,37,38,23)=01111 type=5 fresh=5", 0},
    {"avx2_on_avx2", "ruzuv_avx2", {mask("avx2")}, "bits:23,16,18 type fresh", "bits(23,16,18)=011 type=3 fresh=3", 0},
    {"fma_on_avx2", "ruzuv_avx2", {mask("fma")}, "type fresh", "type=3 fresh=3", 0},
    {"bmi_on_avx2", "ruzuv_avx2", {mask("bmi")}, "type fresh", "type=3 fresh=3", 0},
    {"lzcnt_on_avx2", "ruzuv_avx2", {mask("lzcnt")}, "type fresh", "type=3 fresh=3", 0},
    {"pclmul_on_avx2", "ruzuv_avx2", {mask("pclmul")}, "type fresh", "type=3 fresh=3", 0},
    // Without AVX detection goes straight to the SSE levels.
    {"avx_on_avx2", "ruzuv_avx2", {mask("avx")}, "bits:16,23 type fresh", "bits(16,23)=01 type=3 fresh=3", 0},
    {"unknown_token", "ruzuv_avx512", {mask("bogus")}, "type fresh", "type=7 fresh=7", 0},
    {"empty_items", "ruzuv_avx512", {mask(",,avx2,,fma,")}, "bits:23,18,16,13,19,20,27,24 type fresh",
     "bits(23,18,16,13,19,20,27,24)=00111111 type=3 fresh=3", 0},
    {"upper_case_name", "ruzuv_avx512", {mask("AVX512F")}, "bits:27 type", "bits(27)=1 type=7", 0},
    {"generic_ia32_name", "ruzuv_avx512", {mask("GENERIC_IA32")}, "bits:0 type", "bits(0)=1 type=7", 0},
    {"mixed_case_token", "ruzuv_avx512", {mask("avx512F")}, "bits:27 type", "bits(27)=1 type=7", 0},
    {"leading_space_token", "ruzuv_avx512", {mask(" avx512f")}, "bits:27 type", "bits(27)=1 type=7", 0},
    {"only_lower_case_item_counts", "ruzuv_avx512", {mask("AVX2,avx512f")}, "bits:23,27 type", "bits(23,27)=10 type=5", 0},
    {"vnni_on_vnni", "ruzuv_avx512_vnni", {mask("avx512vnni")}, "bits:48 type fresh", "bits(48)=0 type=7 fresh=7", 0},
    {"vaes_on_e2", "ruzuv_avx512_e2", {mask("vaes")}, "bits:46,47,48 fresh", "bits(46,47,48)=011 fresh=9", 0},
    {"vpclmulqdq_and_vnni_on_e2", "ruzuv_avx512_e2", {mask("vpclmulqdq,avx512vnni")}, "fresh", "fresh=7", 0},
    // The BF16 level is judged from CPUID leaf 7.1 directly, not from the
    // feature set, so masking the feature does not lower the level.
    {"bf16_token_does_not_touch_e3", "ruzuv_avx512_bf16", {mask("avx512bf16")}, "bits:68 fresh", "bits(68)=0 fresh=12", 0},
    // Without AVX512F the AVX-512 group is incomplete; AVX-VNNI remains.
    {"avx512f_on_amx_fp16", "ruzuv_avx512_amx_fp16", {mask("avx512f")}, "type fresh", "type=5 fresh=15", 0},
    // "sse4" is the token of SSE4_2; "sse4.2" names nothing.
    {"sse4_on_sse42", "ruzuv_sse42", {mask("sse4")}, "bits:10,9 type fresh", "bits(10,9)=01 type=0 fresh=0", 0},
    {"sse4_2_is_not_a_token", "ruzuv_sse42", {mask("sse4.2")}, "bits:10 type", "bits(10)=1 type=3", 0},
    {"sse4_1_on_sse42", "ruzuv_sse42", {mask("sse4.1")}, "bits:9,10 type", "bits(9,10)=01 type=3", 0},
    {"sse3_alone_leaves_ssse3", "ruzuv_ssse3", {mask("sse3")}, "bits:7,8 type", "bits(7,8)=01 type=0", 0},
    // Another vendor is given the baseline before its features are read.
    {"sse3_on_amd_barcelona", "amd_barcelona", {mask("sse3")}, "type fresh", "type=0 fresh=0", 0},
};
INSTANTIATE_TEST_SUITE_P(Cpu, FeatureMask, testing::ValuesIn(kFeatureMasks), probe_case_name);

// The mask value is read up to 511 characters: a token that ends at the
// 511th character counts, one cut short by the limit does not.
TEST(FeatureMaskLength, ReadsAtMost511Characters) {
    const std::string at_limit = std::string(504, ',') + "avx512f";   // 511 characters
    const std::string past_limit = std::string(505, ',') + "avx512f";  // "avx512" is what remains
    const std::string first_then_long = "avx512f" + std::string(600, ',');
    expect_probe_case({"at_limit", "ruzuv_avx512", {mask(at_limit.c_str())}, "bits:27 type", "bits(27)=0 type=5", 0});
    expect_probe_case({"past_limit", "ruzuv_avx512", {mask(past_limit.c_str())}, "bits:27 type", "bits(27)=1 type=7", 0});
    expect_probe_case(
        {"first_then_long", "ruzuv_avx512", {mask(first_then_long.c_str())}, "bits:27 type", "bits(27)=0 type=5", 0});
}

// The process environment is read in 1024-byte chunks.  Shifting the
// variables by a padding variable of growing length makes a chunk boundary
// fall inside the mask entry (and inside the processor-table entry) in some
// of the runs; every run must still see both.
TEST(FeatureMaskLength, EntriesAcrossChunkBoundaries) {
    for (size_t pad = 0; pad < 1024; pad += 8) {
        SCOPED_TRACE(pad);
        ProbeRun run = run_probe("ruzuv_avx512", {"PAD=" + std::string(pad, 'p'), mask("avx512f")}, "vendor bits:27,23");
        EXPECT_EQ(run.child.exit_code, 0);
        EXPECT_EQ(run.results, "vendor=1 bits(27,23)=01");
        if (HasFailure()) break;
    }
}

// ---------------------------------------------------------------------------
// The feature scan itself (no detection is run by these scripts).
// Bits: 0 GENERIC_IA32, 1 X87, 2 CMOV, 3 MMX, 4 FXSAVE, 5 SSE, 6 SSE2,
// 7 SSE3, 8 SSSE3, 9 SSE4_1, 10 SSE4_2, 11 MOVBE, 12 POPCNT, 13 PCLMULQDQ,
// 14 AES, 15 F16C, 16 AVX, 17 RDRND, 18 FMA, 19 BMI, 20 LZCNT, 23 AVX2,
// 24 AVX512DQ, 27 AVX512F, 34 AVX512CD, 35 SHA, 37 AVX512BW, 38 AVX512VL,
// 46 VAES, 47 VPCLMULQDQ, 48 AVX512_VNNI, 60 AVX512_FP16, 68 AVX512_BF16,
// 70 AVX_VNNI, 71 AMX-TILE, 72 AMX-INT8, 73 AMX-BF16, 84 AMX-FP16.
// Feature-table indices: 24 AVX2, 25 AVX512F, 32 the unnamed entry,
// 49 AVX512_VNNI.
// ---------------------------------------------------------------------------
class FeatureScan : public testing::TestWithParam<ProbeCase> {};
TEST_P(FeatureScan, ReportsProcessorFeatures) { expect_probe_case(GetParam()); }

const ProbeCase kFeatureScans[] = {
    {"no_fxsr_hides_sse_family", "ruzuv_no_fxsr", {}, "bits:0,1,2,3 bits:4,5,6,7,8,9,10,11,12,13,14,35 bits:17",
     "bits(0,1,2,3)=1111 bits(4,5,6,7,8,9,10,11,12,13,14,35)=000000000000 bits(17)=1", 0},
    {"sse42_without_xsave", "ruzuv_sse42", {}, "bits:0,4,5,6,7,8,9,10,12 bits:16,15,18",
     "bits(0,4,5,6,7,8,9,10,12)=111111111 bits(16,15,18)=000", 0},
    {"bmi1_without_bmi2_is_no_bmi", "amd_bulldozer", {}, "bits:19 bits:16,18,20,15 bits:23",
     "bits(19)=0 bits(16,18,20,15)=1111 bits(23)=0", 0},
    {"bmi1_and_bmi2_is_bmi", "ruzuv_avx2", {}, "bits:19,23,18,16,15,20,13", "bits(19,23,18,16,15,20,13)=1111111", 0},
    {"avx512_without_os_state", "ruzuv_avx512_no_os_state", {}, "bits:27,24,34,37,38 bits:23,18,16 feat:25 feat:24",
     "bits(27,24,34,37,38)=00000 bits(23,18,16)=111 feat(25)=0 feat(24)=1", 0},
    {"avx512", "ruzuv_avx512", {}, "bits:27,24,34,37,38 bits:48,46 feat:25 feat:49 feat:32",
     "bits(27,24,34,37,38)=11111 bits(48,46)=00 feat(25)=1 feat(49)=0 feat(32)=-1", 0},
    {"avx2_vnni", "ruzuv_avx2_vnni", {}, "bits:70,46,47 bits:27,48", "bits(70,46,47)=111 bits(27,48)=00", 0},
    {"tile_features", "ruzuv_avx512_fp16", {}, "bits:71,72,73,60,68,70 bits:84",
     "bits(71,72,73,60,68,70)=111111 bits(84)=0", 0},
    {"tile_fp16", "ruzuv_avx512_amx_fp16", {}, "bits:71,84", "bits(71,84)=11", 0},
    // The scan itself applies no vendor test.
    {"other_vendor_scanned_too", "amd_zen", {}, "bits:27,23,48,68", "bits(27,23,48,68)=1111", 0},
};
INSTANTIATE_TEST_SUITE_P(Cpu, FeatureScan, testing::ValuesIn(kFeatureScans), probe_case_name);

// ---------------------------------------------------------------------------
// Processor predicates.  The vendor predicates (zen, bulldozer, barcelona)
// answer only under the OFF and AUTO branches; "ORB_CBWR=AVX2" falls back to
// AUTO on another vendor, so they still answer there.  The model predicates
// follow the detailed type.
// ---------------------------------------------------------------------------
class Predicates : public testing::TestWithParam<ProbeCase> {};
TEST_P(Predicates, Answer) { expect_probe_case(GetParam()); }

const char kVendorSteps[] = "branch vendor ruzuv pnr pnr_true bulldozer zen barcelona";
const char kModelSteps[] = "clx icx cpx avxvnni f16c fp16 amxfp16";

const ProbeCase kPredicates[] = {
    {"zen_off", "amd_zen", {}, kVendorSteps,
     "branch=1 vendor=0 ruzuv=0 pnr=1 pnr_true=1 bulldozer=0 zen=1 barcelona=0", 0},
    {"zen_auto", "amd_zen", {cbwr("AUTO")}, kVendorSteps,
     "branch=2 vendor=0 ruzuv=0 pnr=1 pnr_true=1 bulldozer=0 zen=1 barcelona=0", 0},
    {"zen_avx2_branch_falls_back_to_auto", "amd_zen", {cbwr("AVX2")}, kVendorSteps,
     "branch=2 vendor=0 ruzuv=0 pnr=1 pnr_true=1 bulldozer=0 zen=1 barcelona=0", 0},
    {"zen_compatible", "amd_zen", {cbwr("COMPATIBLE")}, kVendorSteps,
     "branch=3 vendor=0 ruzuv=0 pnr=0 pnr_true=1 bulldozer=0 zen=0 barcelona=0", 0},
    // A third vendor with everything the sub-models test for gets none of them.
    {"other_vendor_off", "other_vendor_avx512_amx", {}, "branch vendor ruzuv pnr pnr_true bulldozer zen barcelona amxq",
     "branch=1 vendor=0 ruzuv=0 pnr=1 pnr_true=1 bulldozer=0 zen=0 barcelona=0 amxq=0", 0},
    {"bulldozer_off", "amd_bulldozer", {}, kVendorSteps,
     "branch=1 vendor=0 ruzuv=0 pnr=1 pnr_true=1 bulldozer=1 zen=0 barcelona=0", 0},
    {"bulldozer_auto", "amd_bulldozer", {cbwr("AUTO,STRICT")}, kVendorSteps,
     "branch=2 vendor=0 ruzuv=0 pnr=1 pnr_true=1 bulldozer=1 zen=0 barcelona=0", 0},
    {"bulldozer_compatible", "amd_bulldozer", {cbwr("COMPATIBLE")}, kVendorSteps,
     "branch=3 vendor=0 ruzuv=0 pnr=0 pnr_true=1 bulldozer=0 zen=0 barcelona=0", 0},
    {"barcelona_off", "amd_barcelona", {}, kVendorSteps,
     "branch=1 vendor=0 ruzuv=0 pnr=0 pnr_true=0 bulldozer=0 zen=0 barcelona=1", 0},
    {"barcelona_auto", "amd_barcelona", {cbwr("AUTO")}, kVendorSteps,
     "branch=2 vendor=0 ruzuv=0 pnr=0 pnr_true=0 bulldozer=0 zen=0 barcelona=1", 0},
    {"barcelona_compatible", "amd_barcelona", {cbwr("COMPATIBLE")}, kVendorSteps,
     "branch=3 vendor=0 ruzuv=0 pnr=0 pnr_true=0 bulldozer=0 zen=0 barcelona=0", 0},
    {"ruzuv_off", "ruzuv_avx2", {}, kVendorSteps,
     "branch=1 vendor=1 ruzuv=1 pnr=1 pnr_true=1 bulldozer=0 zen=0 barcelona=0", 0},
    {"ruzuv_compatible", "ruzuv_avx2", {cbwr("COMPATIBLE")}, kVendorSteps,
     "branch=3 vendor=1 ruzuv=0 pnr=0 pnr_true=1 bulldozer=0 zen=0 barcelona=0", 0},
    {"ruzuv_sse2_branch", "ruzuv_avx2", {cbwr("SSE2")}, kVendorSteps,
     "branch=4 vendor=1 ruzuv=1 pnr=0 pnr_true=1 bulldozer=0 zen=0 barcelona=0", 0},
    {"ruzuv_sse4_1_branch", "ruzuv_avx2", {cbwr("SSE4_1")}, kVendorSteps,
     "branch=7 vendor=1 ruzuv=1 pnr=1 pnr_true=1 bulldozer=0 zen=0 barcelona=0", 0},
    {"ruzuv_avx2_branch", "ruzuv_avx2", {cbwr("AVX2")}, kVendorSteps,
     "branch=10 vendor=1 ruzuv=1 pnr=1 pnr_true=1 bulldozer=0 zen=0 barcelona=0", 0},
    {"ruzuv_ssse3_off", "ruzuv_ssse3", {}, kVendorSteps,
     "branch=1 vendor=1 ruzuv=1 pnr=0 pnr_true=0 bulldozer=0 zen=0 barcelona=0", 0},
    {"ruzuv_sse41_off", "ruzuv_sse41", {}, kVendorSteps,
     "branch=1 vendor=1 ruzuv=1 pnr=1 pnr_true=1 bulldozer=0 zen=0 barcelona=0", 0},

    {"models_sse42", "ruzuv_sse42", {}, kModelSteps, "clx=0 icx=0 cpx=0 avxvnni=0 f16c=0 fp16=0 amxfp16=0", 0},
    {"models_avx_without_fma", "ruzuv_avx_no_fma", {}, kModelSteps, "clx=0 icx=0 cpx=0 avxvnni=0 f16c=0 fp16=0 amxfp16=0", 0},
    {"models_avx2", "ruzuv_avx2", {}, kModelSteps, "clx=0 icx=0 cpx=0 avxvnni=0 f16c=1 fp16=0 amxfp16=0", 0},
    {"models_avx2_vnni", "ruzuv_avx2_vnni", {}, kModelSteps, "clx=0 icx=0 cpx=0 avxvnni=1 f16c=1 fp16=0 amxfp16=0", 0},
    {"models_avx512", "ruzuv_avx512", {}, kModelSteps, "clx=0 icx=0 cpx=0 avxvnni=0 f16c=1 fp16=0 amxfp16=0", 0},
    {"models_vnni", "ruzuv_avx512_vnni", {}, kModelSteps, "clx=1 icx=0 cpx=0 avxvnni=0 f16c=1 fp16=0 amxfp16=0", 0},
    {"models_vnni_auto", "ruzuv_avx512_vnni", {cbwr("AUTO")}, "clx", "clx=1", 0},
    {"models_vnni_e1_branch", "ruzuv_avx512_vnni", {cbwr("AVX512_E1")}, "branch clx", "branch=14 clx=1", 0},
    {"models_vnni_avx512_branch", "ruzuv_avx512_vnni", {cbwr("AVX512")}, "branch clx", "branch=12 clx=0", 0},
    {"models_vnni_compatible", "ruzuv_avx512_vnni", {cbwr("COMPATIBLE")}, "branch clx", "branch=3 clx=0", 0},
    {"models_e2", "ruzuv_avx512_e2", {}, kModelSteps, "clx=1 icx=1 cpx=0 avxvnni=0 f16c=1 fp16=0 amxfp16=0", 0},
    {"models_e2_compatible", "ruzuv_avx512_e2", {cbwr("COMPATIBLE")}, "clx icx", "clx=0 icx=1", 0},
    {"models_bf16", "ruzuv_avx512_bf16", {}, kModelSteps, "clx=1 icx=1 cpx=1 avxvnni=0 f16c=1 fp16=0 amxfp16=0", 0},
    {"models_fp16", "ruzuv_avx512_fp16", {}, kModelSteps, "clx=1 icx=1 cpx=1 avxvnni=0 f16c=1 fp16=1 amxfp16=0", 0},
    {"models_amx_fp16", "ruzuv_avx512_amx_fp16", {}, kModelSteps, "clx=1 icx=1 cpx=1 avxvnni=0 f16c=1 fp16=1 amxfp16=1", 0},
    {"models_amd_zen", "amd_zen", {}, kModelSteps, "clx=0 icx=0 cpx=0 avxvnni=0 f16c=0 fp16=0 amxfp16=0", 0},
};
INSTANTIATE_TEST_SUITE_P(Cpu, Predicates, testing::ValuesIn(kPredicates), probe_case_name);

// ---------------------------------------------------------------------------
// Cache sizes.  Under OFF they are walked from leaf 4 (sizes worked out in
// each table's header); under any other branch they are fixed: 3 levels of
// 32768/262144/4194304 for branches from SSE4_2 up and for AUTO on a kernel
// set of 3 or more, 2 levels of 32768/262144 otherwise.
// ---------------------------------------------------------------------------
class CacheSizes : public testing::TestWithParam<ProbeCase> {};
TEST_P(CacheSizes, Reported) { expect_probe_case(GetParam()); }

const char kCacheSteps[] = "cache size:0 size:1 size:2 size:3 size:4 size:5 size:-1";

const ProbeCase kCacheSizes[] = {
    {"walk_avx2", "ruzuv_avx2", {}, kCacheSteps,
     "cache=3/32768/262144/6291456/0 size(0)=6291456 size(1)=32768 size(2)=262144 size(3)=6291456 "
     "size(4)=-1 size(5)=-1 size(-1)=-1", 0},
    {"walk_avx512", "ruzuv_avx512", {}, kCacheSteps,
     "cache=3/32768/1048576/40370176/0 size(0)=40370176 size(1)=32768 size(2)=1048576 size(3)=40370176 "
     "size(4)=-1 size(5)=-1 size(-1)=-1", 0},
    // The stray entry after the all-zero subleaf 4 is never reached.
    {"walk_stops_at_end_marker", "ruzuv_sse42", {}, kCacheSteps,
     "cache=3/32768/262144/8388608/0 size(0)=8388608 size(1)=32768 size(2)=262144 size(3)=8388608 "
     "size(4)=-1 size(5)=-1 size(-1)=-1", 0},
    // Instruction caches skipped wherever they stand, partitions counted,
    // and only four levels kept.
    {"walk_skips_keeps_four", "ruzuv_cache_walk", {}, kCacheSteps,
     "cache=4/49152/1310720/31457280/134217728 size(0)=134217728 size(1)=49152 size(2)=1310720 "
     "size(3)=31457280 size(4)=134217728 size(5)=-1 size(-1)=-1", 0},
    // A processor with no leaf-4 descriptors is walked through extended leaf
    // 0x8000001D when it lists that leaf, and has no data caches otherwise.
    {"walk_extended_leaf", "amd_zen", {}, kCacheSteps,
     "cache=3/32768/1048576/33554432/0 size(0)=33554432 size(1)=32768 size(2)=1048576 size(3)=33554432 "
     "size(4)=-1 size(5)=-1 size(-1)=-1", 0},
    {"walk_third_vendor", "other_vendor_avx512_amx", {}, "cache",
     "cache=3/49152/2097152/110100480/0", 0},
    {"walk_without_descriptors", "amd_bulldozer", {}, "cache size:1 size:-1", "cache=0/0/0/0/0 size(1)=-1 size(-1)=-1", 0},
    {"auto_on_avx2", "ruzuv_avx2", {cbwr("AUTO")}, kCacheSteps,
     "cache=3/32768/262144/4194304/0 size(0)=4194304 size(1)=32768 size(2)=262144 size(3)=4194304 "
     "size(4)=-1 size(5)=-1 size(-1)=-1", 0},
    {"auto_on_sse42", "ruzuv_sse42", {cbwr("AUTO")}, "cache", "cache=3/32768/262144/4194304/0", 0},
    {"auto_on_ssse3", "ruzuv_ssse3", {cbwr("AUTO")}, kCacheSteps,
     "cache=2/32768/262144/0/0 size(0)=262144 size(1)=32768 size(2)=262144 size(3)=-1 "
     "size(4)=-1 size(5)=-1 size(-1)=-1", 0},
    {"auto_on_amd", "amd_zen", {cbwr("AUTO")}, "cache", "cache=2/32768/262144/0/0", 0},
    {"sse4_2_branch", "ruzuv_avx2", {cbwr("SSE4_2")}, "cache", "cache=3/32768/262144/4194304/0", 0},
    {"avx2_strict_branch", "ruzuv_avx2", {cbwr("AVX2,STRICT")}, "cache", "cache=3/32768/262144/4194304/0", 0},
    {"avx512_branch", "ruzuv_avx512", {cbwr("AVX512")}, "cache", "cache=3/32768/262144/4194304/0", 0},
    {"sse4_2_branch_on_walk_model", "ruzuv_cache_walk", {cbwr("SSE4_2")}, "cache size:4",
     "cache=3/32768/262144/4194304/0 size(4)=-1", 0},
    {"compatible_branch", "ruzuv_avx2", {cbwr("COMPATIBLE")}, "cache", "cache=2/32768/262144/0/0", 0},
    {"compatible_on_amd", "amd_zen", {cbwr("COMPATIBLE")}, "cache", "cache=2/32768/262144/0/0", 0},
    {"sse2_branch", "ruzuv_avx2", {cbwr("SSE2")}, "cache", "cache=2/32768/262144/0/0", 0},
    {"sse4_1_branch", "ruzuv_avx2", {cbwr("SSE4_1")}, "cache", "cache=2/32768/262144/0/0", 0},
};
INSTANTIATE_TEST_SUITE_P(Cpu, CacheSizes, testing::ValuesIn(kCacheSizes), probe_case_name);

// ---------------------------------------------------------------------------
// The feature table, read in this process (it does not depend on the
// processor).  Index 0 is empty, GENERIC_IA32 is index 1, index 32 is the
// unnamed entry without a bit.
// ---------------------------------------------------------------------------
struct TableEntry {
    int index;         // position in the feature table
    const char *name;  // its upper-case name
    int bit;           // its bit in the feature set
};

TEST(FeatureTable, NamesAndBitPositions) {
    const TableEntry entries[] = {
        {1, "GENERIC_IA32", 0}, {2, "X87", 1},           {11, "SSE4_2", 10},     {16, "AVX", 16},
        {17, "F16C", 15},       {18, "RDRND", 17},       {24, "AVX2", 23},       {25, "AVX512F", 27},
        {26, "AVX512DQ", 24},   {31, "AVX512IFMA52", 30}, {33, "AVX512ER", 32},  {38, "AVX512BW", 37},
        {49, "AVX512_VNNI", 48}, {58, "AVX512_FP16", 60}, {59, "CLDEMOTE", 64},  {63, "AVX512_BF16", 68},
        {65, "AVX_VNNI", 70},   {66, "AMX-TILE", 71},    {79, "AMX-FP16", 84},   {91, "PBNDKB", 96},
    };
    for (const TableEntry &e : entries) {
        SCOPED_TRACE(e.index);
        ASSERT_NE(__liborb_get_feature_name(e.index), nullptr);
        EXPECT_STREQ(__liborb_get_feature_name(e.index), e.name);
        EXPECT_EQ(__liborb_get_feature_bitpos(e.index), e.bit);
    }
    EXPECT_EQ(__liborb_get_feature_bitpos(32), -1);
    const char *unnamed = __liborb_get_feature_name(32);
    EXPECT_TRUE(unnamed == nullptr || unnamed[0] == '\0');
}

TEST(FeatureTable, ReadsAndSetsBitsOfAGivenSet) {
    uint64_t set[2] = {0, 0};
    EXPECT_EQ(__liborb_set_cpu_feature(set, 25), 0);  // AVX512F, bit 27
    EXPECT_EQ(__liborb_set_cpu_feature(set, 91), 0);  // PBNDKB, bit 96
    EXPECT_EQ(set[0], uint64_t{1} << 27);
    EXPECT_EQ(set[1], uint64_t{1} << 32);
    EXPECT_EQ(__liborb_get_cpu_feature(set, 25), 1);
    EXPECT_EQ(__liborb_get_cpu_feature(set, 91), 1);
    EXPECT_EQ(__liborb_get_cpu_feature(set, 24), 0);  // AVX2, bit 23
    EXPECT_EQ(__liborb_set_cpu_feature(set, 32), -1);  // no bit: position passed through
    EXPECT_EQ(__liborb_get_cpu_feature(set, 32), -1);
    EXPECT_EQ(set[0], uint64_t{1} << 27);
    EXPECT_EQ(set[1], uint64_t{1} << 32);
}

// ---------------------------------------------------------------------------
// Below the minimum: messages 1223 and 1450 on standard output, then the
// process ends with code 1 through orb_serv_exit, or through the installed
// exit hook, which receives 1.
// ---------------------------------------------------------------------------
struct FatalCase {
    const char *name;                   // test name suffix
    const char *cpu;                    // table under tests/cpus
    std::vector<std::string> settings;  // extra environment settings
    const char *steps;                  // the probe script; stops at the failure
    int exit_code;                      // expected exit status
    const char *results;                // "@" lines printed before the end
};

class BelowMinimum : public testing::TestWithParam<FatalCase> {};

TEST_P(BelowMinimum, PrintsBothMessagesAndExits) {
    const FatalCase &c = GetParam();
    ProbeRun run = run_probe(c.cpu, c.settings, c.steps);
    EXPECT_EQ(run.child.signal, 0);
    EXPECT_EQ(run.child.exit_code, c.exit_code) << run.child.out << run.child.err;
    EXPECT_EQ(run.results, c.results);
    const std::string minimum = catalog_text(1223), sse3 = catalog_text(1450);
    ASSERT_FALSE(minimum.empty());
    ASSERT_FALSE(sse3.empty());
    size_t first = run.child.out.find(minimum), second = run.child.out.find(sse3);
    ASSERT_NE(first, std::string::npos) << run.child.out;
    ASSERT_NE(second, std::string::npos) << run.child.out;
    EXPECT_LT(first, second);
    EXPECT_EQ(count_occurrences(run.child.out, minimum), 1);
    EXPECT_EQ(run.child.err.find(minimum), std::string::npos);
    // The hook, when installed, speaks after the messages.
    if (c.exit_code == kProbeHookStatus) EXPECT_GT(run.child.out.find("@ hook="), second);
}

const FatalCase kBelowMinimum[] = {
    {"no_sse3_exits", "ruzuv_no_sse3", {}, "type", 1, ""},
    {"no_sse3_hook_gets_code_1", "ruzuv_no_sse3", {}, "hook type", kProbeHookStatus, "hook=1"},
    {"no_sse3_fresh_detection_hook", "ruzuv_no_sse3", {}, "hook fresh", kProbeHookStatus, "hook=1"},
    {"no_fxsr_exits", "ruzuv_no_fxsr", {}, "type", 1, ""},
    {"ssse3_with_both_masked", "ruzuv_ssse3", {mask("sse3,ssse3")}, "hook type", kProbeHookStatus, "hook=1"},
};
INSTANTIATE_TEST_SUITE_P(Cpu, BelowMinimum, testing::ValuesIn(kBelowMinimum),
                         [](const testing::TestParamInfo<FatalCase> &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Concurrent first calls agree.  The AVX limit's warning is printed once,
// because the limit is read once.
// ---------------------------------------------------------------------------
class ConcurrentFirstCalls : public testing::TestWithParam<ProbeCase> {};
TEST_P(ConcurrentFirstCalls, AllThreadsAgree) { expect_probe_case(GetParam()); }

const ProbeCase kConcurrentFirstCalls[] = {
    {"avx512", "ruzuv_avx512", {}, "threads16 type", "threads16=7 type=7", 0},
    {"amd", "amd_zen", {}, "threads16", "threads16=0", 0},
    {"avx_limit_warns_once", "ruzuv_avx512", {limit("AVX")}, "threads16", "threads16=3", 1454},
    {"fixed_branch", "ruzuv_avx512_vnni", {cbwr("SSE4_2")}, "threads16 fresh", "threads16=3 fresh=9", 0},
};
INSTANTIATE_TEST_SUITE_P(Cpu, ConcurrentFirstCalls, testing::ValuesIn(kConcurrentFirstCalls), probe_case_name);

// ---------------------------------------------------------------------------
// AMX tile description.  The permission to use tile data comes from the real
// kernel; where it cannot be granted the answer is 0 and the description is
// zeroed.  With it, the description is the tables' (see their headers).
// ---------------------------------------------------------------------------
bool kernel_offers_tile_data() {
    const int kArchGetXcompSupp = 0x1021;
    unsigned long supported = 0;
    if (syscall(SYS_arch_prctl, kArchGetXcompSupp, &supported) != 0) return false;
    return (supported >> 18) & 1;
}

TEST(AmxDescription, TileMatrixProcessors) {
    const bool tiles = kernel_offers_tile_data();
    const char *no_tiles = "amx=0:0,0,0,0,0,0,0,0,0,0,0,0";
    expect_probe_case({"fp16", "ruzuv_avx512_fp16", {}, "amx",
                       tiles ? "amx=1:1,1,1,0,1,8192,1024,64,8,16,16,64" : no_tiles, 0});
    expect_probe_case({"amx_fp16", "ruzuv_avx512_amx_fp16", {}, "amx",
                       tiles ? "amx=1:1,1,1,1,1,8192,1024,64,8,16,16,64" : no_tiles, 0});
    expect_probe_case({"fp16_no_info", "ruzuv_avx512_fp16", {}, "amxq", tiles ? "amxq=1" : "amxq=0", 0});
}

TEST(AmxDescription, OtherProcessorsHaveNone) {
    for (const char *cpu : {"ruzuv_avx2", "ruzuv_avx512_bf16", "ruzuv_avx2_vnni", "amd_zen"})
        expect_probe_case({"none", cpu, {}, "amxq", "amxq=0", 0});
}

// ---------------------------------------------------------------------------
// ORB_SIMULATE_CPU itself.  "ruzuv" keeps the real processor's answers but
// calls it "GenuineRuzuv"; a missing or broken table, or an unknown value,
// warns once and leaves the real processor in place.
// ---------------------------------------------------------------------------
TEST(SimulatedProcessor, RuzuvRenamesTheRealProcessor) {
    ORB_REQUIRE_HOST(HostIsa::avx512);
    // Renamed, the Zen test sees no "AuthenticAMD" any more.
    expect_probe_case({"ruzuv", "", {"ORB_SIMULATE_CPU=ruzuv"}, "vendor type zen", "vendor=1 type=7 zen=0", 0});
}

// No real processor calls itself "GenuineRuzuv", so the real one gets the
// baseline; the Zen test follows the real vendor and AVX2.
TEST(SimulatedProcessor, UnsetMeansTheRealProcessor) {
    const std::string zen = host_is_amd() && host_runs(HostIsa::avx2) ? "zen=1" : "zen=0";
    expect_probe_case({"unset", "", {"ORB_SIMULATE_CPU"}, "vendor type zen", ("vendor=0 type=0 " + zen).c_str(), 0});
    expect_probe_case({"empty", "", {"ORB_SIMULATE_CPU="}, "vendor type zen", ("vendor=0 type=0 " + zen).c_str(), 0});
}

TEST(SimulatedProcessor, BadValuesWarnOnceAndFallBack) {
    const std::string values[] = {
        "ORB_SIMULATE_CPU=file:/nonexistent/none.cpuid",
        "ORB_SIMULATE_CPU=bogus",
        "ORB_SIMULATE_CPU=file:" + test_data_path("cpus/malformed.cpuid"),
        "ORB_SIMULATE_CPU=file:" + test_data_path("cpus"),  // a directory
        "ORB_SIMULATE_CPU=file:" + test_data_path("cpus/empty.cpuid"),
        "ORB_SIMULATE_CPU=file:" + test_data_path("cpus/comments_only.cpuid"),
    };
    for (const std::string &value : values) {
        SCOPED_TRACE(value);
        // Several queries: the value is read and judged only once.
        ProbeRun run = run_probe("", {value}, "vendor type fresh bits:0 vendor");
        EXPECT_EQ(run.child.exit_code, 0);
        EXPECT_EQ(run.results, "vendor=0 type=0 fresh=0 bits(0)=1 vendor=0");
        EXPECT_EQ(run.child.err.rfind("ORB WARNING:", 0), 0u) << run.child.err;
        EXPECT_EQ(count_occurrences(run.child.err, "\n"), 1) << run.child.err;
        EXPECT_EQ(run.child.err.back(), '\n');
    }
}

}  // namespace
