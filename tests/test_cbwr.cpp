// test_cbwr.cpp - the reproducibility mode ("ORB_CBWR" and orb_serv_cbwr_*).
//
// The mode is a branch in the low 16 bits plus the STRICT flag 0x10000:
// OFF 1, AUTO 2, COMPATIBLE 3, SSE2 4, SSSE3 6, SSE4_1 7, SSE4_2 8, AVX 9,
// AVX2 10, AVX512 12, AVX512_E1 14.  Each case runs in a fresh process with
// a scripted processor (tests/cpus/) because the mode, like the cpu type, is
// decided once per process.  A branch is accepted on a "GenuineRuzuv"
// processor only up to the ceiling of its detailed type (0 -> 4, 3 -> 8,
// 5 and 15 -> 10, 7 -> 12, 9 and above -> 14); another vendor accepts only
// OFF, AUTO and COMPATIBLE.  A refused word falls back to AUTO, keeping
// STRICT; a word that matches nothing is AUTO without STRICT.
#include <gtest/gtest.h>

#include <string>

#include "cpu_probe.h"

namespace {

std::string cbwr(const std::string &word) { return "ORB_CBWR=" + word; }
std::string limit(const char *word) { return std::string("ORB_ENABLE_INSTRUCTIONS=") + word; }

// ---------------------------------------------------------------------------
// Reading "ORB_CBWR".  Steps: the whole mode (hex), the branch, the kernel
// set, and the detailed type of a fresh detection (which the branch does
// not change).
// ---------------------------------------------------------------------------
class CbwrFromEnvironment : public testing::TestWithParam<ProbeCase> {};
TEST_P(CbwrFromEnvironment, ParsesWordAndPicksKernelSet) { expect_probe_case(GetParam()); }

const char kModeSteps[] = "mode branch type fresh";

// "AVX2", then commas up to the given total length, then "STRICT": every
// comma is cut off by the STRICT walk, so the word is "AVX2" with STRICT
// as long as the whole value fits the 128-byte buffer.
std::string avx2_commas_strict(size_t total_length) {
    return "AVX2" + std::string(total_length - 10, ',') + "STRICT";
}

const std::string kValue127 = cbwr(avx2_commas_strict(127));
const std::string kValue128 = cbwr(avx2_commas_strict(128));

const ProbeCase kEnvironmentWords[] = {
    {"unset_is_off", "ruzuv_avx2", {"ORB_CBWR"}, kModeSteps, "mode=0x1 branch=1 type=5 fresh=5", 0},
    {"empty_is_off", "ruzuv_avx2", {cbwr("")}, kModeSteps, "mode=0x1 branch=1 type=5 fresh=5", 0},
    {"avx2_strict", "ruzuv_avx2", {cbwr("AVX2,STRICT")}, kModeSteps, "mode=0x1000a branch=10 type=5 fresh=5", 0},
    {"avx2_strict_on_sse42_is_auto_strict", "ruzuv_sse42", {cbwr("AVX2,STRICT")}, kModeSteps,
     "mode=0x10002 branch=2 type=3 fresh=3", 0},
    {"branch_prefix", "ruzuv_avx512", {cbwr("BRANCH=AVX512")}, kModeSteps, "mode=0xc branch=12 type=7 fresh=7", 0},
    {"branch_prefix_strict", "ruzuv_avx512", {cbwr("BRANCH=AVX512,STRICT")}, kModeSteps,
     "mode=0x1000c branch=12 type=7 fresh=7", 0},
    {"branch_prefix_alone", "ruzuv_avx512", {cbwr("BRANCH=")}, kModeSteps, "mode=0x2 branch=2 type=7 fresh=7", 0},
    {"lower_case_prefix", "ruzuv_avx512", {cbwr("branch=AVX512")}, kModeSteps, "mode=0x2 branch=2 type=7 fresh=7", 0},
    {"lower_case_word", "ruzuv_avx2", {cbwr("avx2")}, kModeSteps, "mode=0x2 branch=2 type=5 fresh=5", 0},
    {"trailing_space", "ruzuv_avx2", {cbwr("AVX2 ")}, kModeSteps, "mode=0x2 branch=2 type=5 fresh=5", 0},
    // The STRICT walk: spaces are skipped, commas cut, anything else stops.
    {"space_before_strict", "ruzuv_avx2", {cbwr("AVX2 STRICT")}, kModeSteps, "mode=0x2 branch=2 type=5 fresh=5", 0},
    {"comma_space_comma_strict", "ruzuv_avx2", {cbwr("AVX2, ,STRICT")}, kModeSteps,
     "mode=0x1000a branch=10 type=5 fresh=5", 0},
    {"space_left_before_comma", "ruzuv_avx2", {cbwr("AVX2 ,STRICT")}, kModeSteps, "mode=0x2 branch=2 type=5 fresh=5", 0},
    {"spaces_after_comma", "ruzuv_avx2", {cbwr("AVX2,  STRICT")}, kModeSteps, "mode=0x1000a branch=10 type=5 fresh=5", 0},
    {"strict_alone", "ruzuv_avx2", {cbwr("STRICT")}, kModeSteps, "mode=0x2 branch=2 type=5 fresh=5", 0},
    {"comma_strict_alone", "ruzuv_avx2", {cbwr(",STRICT")}, kModeSteps, "mode=0x2 branch=2 type=5 fresh=5", 0},
    {"strict_twice", "ruzuv_avx2", {cbwr("AVX2,STRICT,STRICT")}, kModeSteps, "mode=0x2 branch=2 type=5 fresh=5", 0},
    {"space_after_strict", "ruzuv_avx512", {cbwr("AVX512,STRICT ")}, kModeSteps, "mode=0x2 branch=2 type=7 fresh=7", 0},
    {"longest_value_that_fits", "ruzuv_avx2", {kValue127}, kModeSteps, "mode=0x1000a branch=10 type=5 fresh=5", 0},
    {"too_long_is_off", "ruzuv_avx2", {kValue128}, kModeSteps, "mode=0x1 branch=1 type=5 fresh=5", 0},
    {"auto", "ruzuv_avx2", {cbwr("AUTO")}, kModeSteps, "mode=0x2 branch=2 type=5 fresh=5", 0},
    {"auto_strict", "ruzuv_avx2", {cbwr("AUTO,STRICT")}, kModeSteps, "mode=0x10002 branch=2 type=5 fresh=5", 0},
    {"compatible", "ruzuv_avx2", {cbwr("COMPATIBLE")}, kModeSteps, "mode=0x3 branch=3 type=0 fresh=5", 0},
    {"sse2", "ruzuv_avx2", {cbwr("SSE2")}, kModeSteps, "mode=0x4 branch=4 type=0 fresh=5", 0},
    {"sse3_is_sse2", "ruzuv_avx2", {cbwr("SSE3")}, kModeSteps, "mode=0x4 branch=4 type=0 fresh=5", 0},
    {"ssse3_word_is_sse2", "ruzuv_avx2", {cbwr("SSSE3")}, kModeSteps, "mode=0x4 branch=4 type=0 fresh=5", 0},
    {"sse4_1", "ruzuv_avx2", {cbwr("SSE4_1")}, kModeSteps, "mode=0x7 branch=7 type=0 fresh=5", 0},
    // Detailed type 0 has the SSE2 ceiling, even with SSE4.1 present.
    {"sse4_1_above_baseline_ceiling", "ruzuv_sse41", {cbwr("SSE4_1")}, kModeSteps, "mode=0x2 branch=2 type=0 fresh=0", 0},
    {"sse2_on_sse41", "ruzuv_sse41", {cbwr("SSE2")}, kModeSteps, "mode=0x4 branch=4 type=0 fresh=0", 0},
    {"sse4_2", "ruzuv_avx2", {cbwr("SSE4_2")}, kModeSteps, "mode=0x8 branch=8 type=3 fresh=5", 0},
    {"sse4_2_on_sse42", "ruzuv_sse42", {cbwr("SSE4_2")}, kModeSteps, "mode=0x8 branch=8 type=3 fresh=3", 0},
    {"sse4_2_on_ssse3_refused", "ruzuv_ssse3", {cbwr("SSE4_2")}, kModeSteps, "mode=0x2 branch=2 type=0 fresh=0", 0},
    {"avx_word_is_sse4_2", "ruzuv_avx2", {cbwr("AVX")}, kModeSteps, "mode=0x8 branch=8 type=3 fresh=5", 0},
    {"avx_word_on_avx_without_fma", "ruzuv_avx_no_fma", {cbwr("AVX")}, kModeSteps, "mode=0x8 branch=8 type=3 fresh=3", 0},
    {"avx2_on_avx_without_fma_refused", "ruzuv_avx_no_fma", {cbwr("AVX2")}, kModeSteps,
     "mode=0x2 branch=2 type=3 fresh=3", 0},
    {"avx512_mic_is_avx2", "ruzuv_avx2", {cbwr("AVX512_MIC")}, kModeSteps, "mode=0xa branch=10 type=5 fresh=5", 0},
    {"avx512_mic_e1_is_avx2", "ruzuv_avx512", {cbwr("AVX512_MIC_E1")}, kModeSteps, "mode=0xa branch=10 type=5 fresh=7", 0},
    {"avx512_on_avx2_refused", "ruzuv_avx2", {cbwr("AVX512")}, kModeSteps, "mode=0x2 branch=2 type=5 fresh=5", 0},
    {"avx512", "ruzuv_avx512", {cbwr("AVX512")}, kModeSteps, "mode=0xc branch=12 type=7 fresh=7", 0},
    {"avx512_on_amx_fp16", "ruzuv_avx512_amx_fp16", {cbwr("AVX512")}, kModeSteps, "mode=0xc branch=12 type=7 fresh=16", 0},
    {"e1_on_avx512_refused", "ruzuv_avx512", {cbwr("AVX512_E1")}, kModeSteps, "mode=0x2 branch=2 type=7 fresh=7", 0},
    {"e1_on_vnni", "ruzuv_avx512_vnni", {cbwr("AVX512_E1")}, kModeSteps, "mode=0xe branch=14 type=7 fresh=9", 0},
    {"e1_strict_on_vnni", "ruzuv_avx512_vnni", {cbwr("AVX512_E1,STRICT")}, kModeSteps,
     "mode=0x1000e branch=14 type=7 fresh=9", 0},
    {"e1_on_fp16", "ruzuv_avx512_fp16", {cbwr("AVX512_E1")}, kModeSteps, "mode=0xe branch=14 type=7 fresh=14", 0},
    {"e1_on_avx2_vnni_refused", "ruzuv_avx2_vnni", {cbwr("AVX512_E1")}, kModeSteps, "mode=0x2 branch=2 type=5 fresh=15", 0},
    {"avx2_on_avx2_vnni", "ruzuv_avx2_vnni", {cbwr("AVX2")}, kModeSteps, "mode=0xa branch=10 type=5 fresh=15", 0},
    // Another vendor: COMPATIBLE is kept, fixed branches fall back to AUTO.
    {"compatible_on_amd", "amd_zen", {cbwr("COMPATIBLE")}, kModeSteps, "mode=0x3 branch=3 type=0 fresh=0", 0},
    {"compatible_strict_on_amd", "amd_zen", {cbwr("COMPATIBLE,STRICT")}, kModeSteps,
     "mode=0x10003 branch=3 type=0 fresh=0", 0},
    {"avx2_on_amd_refused", "amd_zen", {cbwr("AVX2")}, kModeSteps, "mode=0x2 branch=2 type=0 fresh=0", 0},
    {"avx2_strict_on_amd_refused", "amd_zen", {cbwr("AVX2,STRICT")}, kModeSteps, "mode=0x10002 branch=2 type=0 fresh=0", 0},
    {"sse2_on_amd_refused", "amd_zen", {cbwr("SSE2")}, kModeSteps, "mode=0x2 branch=2 type=0 fresh=0", 0},
    {"auto_on_amd", "amd_zen", {cbwr("AUTO")}, kModeSteps, "mode=0x2 branch=2 type=0 fresh=0", 0},
};
INSTANTIATE_TEST_SUITE_P(Cbwr, CbwrFromEnvironment, testing::ValuesIn(kEnvironmentWords), probe_case_name);

// ---------------------------------------------------------------------------
// Branch to kernel set, on a processor whose ceiling admits every branch
// (AVX-512 with VNNI, detailed type 9).  Branches 5, 6 and 9 can only be set
// by call; 6 and 9 warn.
// ---------------------------------------------------------------------------
class BranchToKernelSet : public testing::TestWithParam<ProbeCase> {};
TEST_P(BranchToKernelSet, Maps) { expect_probe_case(GetParam()); }

const ProbeCase kBranchKernelSets[] = {
    {"off", "ruzuv_avx512_vnni", {}, "mode type", "mode=0x1 type=7", 0},
    {"auto", "ruzuv_avx512_vnni", {cbwr("AUTO")}, "mode type", "mode=0x2 type=7", 0},
    {"compatible", "ruzuv_avx512_vnni", {cbwr("COMPATIBLE")}, "mode type", "mode=0x3 type=0", 0},
    {"sse2", "ruzuv_avx512_vnni", {cbwr("SSE2")}, "mode type", "mode=0x4 type=0", 0},
    {"value_5", "ruzuv_avx512_vnni", {}, "set:5 mode type", "set(5)=0 mode=0x5 type=0", 0},
    {"ssse3", "ruzuv_avx512_vnni", {}, "set:6 mode type", "set(6)=0 mode=0x6 type=0", 1453},
    {"sse4_1", "ruzuv_avx512_vnni", {cbwr("SSE4_1")}, "mode type", "mode=0x7 type=0", 0},
    {"sse4_2", "ruzuv_avx512_vnni", {cbwr("SSE4_2")}, "mode type", "mode=0x8 type=3", 0},
    {"avx", "ruzuv_avx512_vnni", {}, "set:9 mode type", "set(9)=0 mode=0x9 type=3", 1454},
    {"avx2", "ruzuv_avx512_vnni", {cbwr("AVX2")}, "mode type", "mode=0xa type=5", 0},
    {"avx512", "ruzuv_avx512_vnni", {cbwr("AVX512")}, "mode type", "mode=0xc type=7", 0},
    {"avx512_e1", "ruzuv_avx512_vnni", {cbwr("AVX512_E1")}, "mode type", "mode=0xe type=7", 0},
};
INSTANTIATE_TEST_SUITE_P(Cbwr, BranchToKernelSet, testing::ValuesIn(kBranchKernelSets), probe_case_name);

// ---------------------------------------------------------------------------
// A fixed branch together with "ORB_ENABLE_INSTRUCTIONS".  The limit first
// lowers the ceiling (the check detects afresh, under the limit); a branch
// that passes stands, except that a branch above limit AVX512 (on a processor
// with AVX) or above limit AVX512_E2 (with the AVX-512 group) yields to
// detection.
// ---------------------------------------------------------------------------
class BranchAndLimit : public testing::TestWithParam<ProbeCase> {};
TEST_P(BranchAndLimit, Combine) { expect_probe_case(GetParam()); }

const ProbeCase kBranchAndLimits[] = {
    {"avx2_branch_yields_to_avx512_limit", "ruzuv_avx512", {cbwr("AVX2"), limit("AVX512")}, "mode type fresh",
     "mode=0xa type=7 fresh=7", 0},
    {"avx2_branch_yields_on_fp16", "ruzuv_avx512_fp16", {cbwr("AVX2"), limit("AVX512")}, "mode type fresh",
     "mode=0xa type=7 fresh=7", 0},
    {"avx512_branch_with_avx512_limit", "ruzuv_avx512", {cbwr("AVX512"), limit("AVX512")}, "mode type fresh",
     "mode=0xc type=7 fresh=7", 0},
    {"e1_branch_yields_to_e2_limit", "ruzuv_avx512_e2", {cbwr("AVX512_E1"), limit("AVX512_E2")}, "mode type fresh",
     "mode=0xe type=7 fresh=10", 0},
    {"avx2_branch_stands_under_e1_limit", "ruzuv_avx512_vnni", {cbwr("AVX2"), limit("AVX512_E1")}, "mode type fresh",
     "mode=0xa type=5 fresh=9", 0},
    {"avx512_branch_stands_over_e1_limit", "ruzuv_avx512_vnni", {cbwr("AVX512"), limit("AVX512_E1")},
     "mode type fresh", "mode=0xc type=7 fresh=9", 0},
    {"sse4_2_branch_stands_over_avx2_limit", "ruzuv_avx512", {cbwr("SSE4_2"), limit("AVX2")}, "mode type fresh",
     "mode=0x8 type=3 fresh=5", 0},
    {"sse2_branch_with_sse4_2_limit", "ruzuv_avx512", {cbwr("SSE2"), limit("SSE4_2")}, "mode type fresh",
     "mode=0x4 type=0 fresh=3", 0},
    {"compatible_with_avx512_limit", "ruzuv_avx512", {cbwr("COMPATIBLE"), limit("AVX512")}, "mode type fresh",
     "mode=0x3 type=0 fresh=7", 0},
    // The limit lowers the ceiling below the branch: AUTO, then detection.
    {"avx2_branch_over_avx_limit", "ruzuv_avx2", {cbwr("AVX2"), limit("AVX")}, "mode type fresh",
     "mode=0x2 type=3 fresh=3", 1454},
    {"avx512_branch_over_avx2_limit", "ruzuv_avx512", {cbwr("AVX512"), limit("AVX2")}, "mode type fresh",
     "mode=0x2 type=5 fresh=5", 0},
    {"e1_branch_over_avx512_limit", "ruzuv_avx512_vnni", {cbwr("AVX512_E1"), limit("AVX512")}, "mode type fresh",
     "mode=0x2 type=7 fresh=7", 0},
    {"avx512_branch_over_avx2_e1_limit", "ruzuv_avx512_fp16", {cbwr("AVX512"), limit("AVX2_E1")}, "mode type fresh",
     "mode=0x2 type=5 fresh=15", 0},
};
INSTANTIATE_TEST_SUITE_P(Cbwr, BranchAndLimit, testing::ValuesIn(kBranchAndLimits), probe_case_name);

// ---------------------------------------------------------------------------
// orb_serv_cbwr_set and orb_serv_cbwr_get.  Result codes: 0 success,
// -2 invalid value, -3 branch not supported, -8 too late (the cpu type is
// stored).  A refused value leaves the mode undetermined, so a later read
// takes it from the environment.
// ---------------------------------------------------------------------------
class CbwrSetAndGet : public testing::TestWithParam<ProbeCase> {};
TEST_P(CbwrSetAndGet, Answer) { expect_probe_case(GetParam()); }

const ProbeCase kSetAndGet[] = {
    {"refusals_on_avx2", "ruzuv_avx2", {}, "set:11 set:0x20004 set:20 set:15 set:0x10000 set:14 set:12 mode",
     "set(11)=-3 set(0x20004)=-3 set(20)=-2 set(15)=-2 set(0x10000)=-2 set(14)=-3 set(12)=-3 mode=0x1", 0},
    {"mic_refused_on_avx512", "ruzuv_avx512", {}, "set:11 set:13 set:0x1000b set:14 mode",
     "set(11)=-3 set(13)=-3 set(0x1000b)=-3 set(14)=-3 mode=0x1", 0},
    {"mic_refused_on_vnni", "ruzuv_avx512_vnni", {}, "set:11 set:13 set:0x20004 set:20 mode",
     "set(11)=-3 set(13)=-3 set(0x20004)=-3 set(20)=-2 mode=0x1", 0},
    {"refusals_on_amd", "amd_zen", {}, "set:11 set:10 set:4 set:0x20004 set:20 set:3 mode type",
     "set(11)=-3 set(10)=-3 set(4)=-3 set(0x20004)=-3 set(20)=-2 set(3)=0 mode=0x3 type=0", 0},
    {"compatible_strict_on_amd", "amd_zen", {}, "set:0x10003 mode", "set(0x10003)=0 mode=0x10003", 0},
    {"avx2_strict", "ruzuv_avx2", {}, "set:0x1000a mode branch type", "set(0x1000a)=0 mode=0x1000a branch=10 type=5", 0},
    {"refused_set_leaves_environment_word", "ruzuv_avx2", {cbwr("AVX2")}, "set:12 mode", "set(12)=-3 mode=0xa", 0},
    {"zero_is_off", "ruzuv_avx2", {cbwr("AVX2")}, "set:0 mode type", "set(0)=0 mode=0x1 type=5", 0},
    {"one_is_off", "ruzuv_avx2", {cbwr("SSE2")}, "set:1 mode type", "set(1)=0 mode=0x1 type=5", 0},
    {"two_is_auto", "ruzuv_avx2", {}, "set:2 mode type", "set(2)=0 mode=0x2 type=5", 0},
    {"changes_until_detection", "ruzuv_avx2", {}, "set:10 set:8 mode type", "set(10)=0 set(8)=0 mode=0x8 type=3", 0},
    {"sse4_2_decides_kernel_set", "ruzuv_avx512", {}, "set:8 type fresh", "set(8)=0 type=3 fresh=7", 0},
    // Refused before any warning is printed.
    {"avx_refused_on_sse42", "ruzuv_sse42", {}, "set:9 mode", "set(9)=-3 mode=0x1", 0},
    {"ssse3_refused_on_ssse3", "ruzuv_ssse3", {}, "set:6 mode", "set(6)=-3 mode=0x1", 0},
    {"ssse3_warns", "ruzuv_avx2", {}, "set:6 mode type", "set(6)=0 mode=0x6 type=0", 1453},
    {"avx_warns", "ruzuv_avx2", {}, "set:9 mode type", "set(9)=0 mode=0x9 type=3", 1454},
    {"after_detection", "ruzuv_avx2", {}, "type set:1 set:10 set:2 stored mode",
     "type=5 set(1)=0 set(10)=-8 set(2)=-8 stored=5 mode=0x1", 0},
    {"after_detection_strict", "ruzuv_avx2", {cbwr("AVX2,STRICT")}, "type set:0x1000a set:10 mode",
     "type=5 set(0x1000a)=0 set(10)=-8 mode=0x1000a", 0},
    {"after_detection_fixed_branch", "ruzuv_avx512", {cbwr("SSE4_2")}, "type set:8 set:12 mode",
     "type=3 set(8)=0 set(12)=-8 mode=0x8", 0},
    // Reading the mode checks the branch with a fresh detection but stores no
    // cpu type, so the mode can still be set afterwards.
    {"reading_mode_does_not_store_type", "ruzuv_avx2", {cbwr("AVX2")}, "mode stored set:8 mode type stored",
     "mode=0xa stored=-1 set(8)=0 mode=0x8 type=3 stored=3", 0},
    {"get_arguments", "ruzuv_avx2", {cbwr("AVX2,STRICT")}, "get:-1 get:1 get:0 get:2 get:-2 get:65536",
     "get(-1)=65546 get(1)=10 get(0)=-2 get(2)=-2 get(-2)=-2 get(65536)=-2", 0},
    {"concurrent_first_reads", "ruzuv_avx2", {cbwr("AVX2,STRICT")}, "cbwr16 type", "cbwr16=0x1000a type=5", 0},
};
INSTANTIATE_TEST_SUITE_P(Cbwr, CbwrSetAndGet, testing::ValuesIn(kSetAndGet), probe_case_name);

// ---------------------------------------------------------------------------
// The supported-branch ceiling of each processor.
// ---------------------------------------------------------------------------
class BranchCeiling : public testing::TestWithParam<ProbeCase> {};
TEST_P(BranchCeiling, FollowsDetailedType) { expect_probe_case(GetParam()); }

const ProbeCase kCeilings[] = {
    {"amd", "amd_zen", {}, "ceiling", "ceiling=2", 0},
    {"ssse3", "ruzuv_ssse3", {}, "ceiling", "ceiling=4", 0},
    {"sse41", "ruzuv_sse41", {}, "ceiling", "ceiling=4", 0},
    {"sse42", "ruzuv_sse42", {}, "ceiling", "ceiling=8", 0},
    {"avx_without_fma", "ruzuv_avx_no_fma", {}, "ceiling", "ceiling=8", 0},
    {"avx2", "ruzuv_avx2", {}, "ceiling", "ceiling=10", 0},
    {"avx2_vnni", "ruzuv_avx2_vnni", {}, "ceiling", "ceiling=10", 0},
    {"avx512_without_os_state", "ruzuv_avx512_no_os_state", {}, "ceiling", "ceiling=10", 0},
    {"avx512", "ruzuv_avx512", {}, "ceiling", "ceiling=12", 0},
    {"vnni", "ruzuv_avx512_vnni", {}, "ceiling", "ceiling=14", 0},
    {"e2", "ruzuv_avx512_e2", {}, "ceiling", "ceiling=14", 0},
    {"bf16", "ruzuv_avx512_bf16", {}, "ceiling", "ceiling=14", 0},
    {"fp16", "ruzuv_avx512_fp16", {}, "ceiling", "ceiling=14", 0},
    {"amx_fp16", "ruzuv_avx512_amx_fp16", {}, "ceiling", "ceiling=14", 0},
};
INSTANTIATE_TEST_SUITE_P(Cbwr, BranchCeiling, testing::ValuesIn(kCeilings), probe_case_name);

}  // namespace
