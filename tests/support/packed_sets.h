// packed_sets.h - the avx2 and avx512 kernel sets as their tests see them.
//
// Both sets export the same members (blas/kernels/packed_members.def and
// packed_kernels.def).  A PackedSetUnderTest holds one function pointer per
// line of those lists, filled from the lists themselves, next to the numbers
// each set is documented to use (register block, blocking, record words),
// so that one test body checks either set:
//
//   class PackedThing : public PackedSetTest {};
//   TEST_P(PackedThing, Works) { set().xsgemm(...); }
//   ORB_INSTANTIATE_FOR_PACKED_SETS(PackedThing);
//
// Each test then runs once per set; the avx512 runs skip on a machine
// without AVX-512.
#ifndef ORB_TESTS_PACKED_SETS_H
#define ORB_TESTS_PACKED_SETS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/avx512/avx512_kernels.h"
#include "orb_service.h"
#include "support/host_isa.h"

struct PackedSetUnderTest {
    const char *name;  // "avx2" or "avx512"
    HostIsa isa;       // what the machine needs to run the set
    int cpu_type;      // the cpu type that binds the dispatchers to the set
    const char *cbwr;  // the ORB_CBWR branch word of the set
    int64_t mr, nr;    // packed register block and panel widths
    int64_t tuning1;   // strategy word of the packed strategies
    int64_t tuning4;   // last strategy word
    int64_t min_n;     // kernel information field 1
    int64_t kc_split;  // blocked k: whole up to this (at least 128)
    int64_t kc_halving;  // halves below this
    int64_t kc_large;    // passes of this from kc_halving on

    // The k pass length of the blocked drivers for a k above 0.
    int64_t kc(int64_t k) const {
        if (k <= kc_split) return k < 128 ? 128 : k;
        return k < kc_halving ? (k + 1) / 2 : kc_large;
    }
    bool is_avx512() const { return cpu_type == 7; }

#define ORB_PACKED_MEMBER(member, result, params, call) result(*member) params = nullptr;
#include "blas/kernels/packed_members.def"
#undef ORB_PACKED_MEMBER
#define ORB_PACKED_KERNEL(member, result, params) result(*member) params = nullptr;
#include "blas/kernels/packed_kernels.def"
#undef ORB_PACKED_KERNEL
};

// The record of one set: the documented numbers, and every member of the two
// lists as orb_blas_<set>_<member>.
inline PackedSetUnderTest make_packed_set(bool avx512) {
    PackedSetUnderTest s = avx512 ? PackedSetUnderTest{"avx512", HostIsa::avx512, 7, "AVX512", 48, 8, 48, 16, 8,
                                                       384, 768, 384}
                                  : PackedSetUnderTest{"avx2", HostIsa::avx2, 5, "AVX2", 24, 4, 32, 8, 4,
                                                       256, 384, 192};
#define ORB_PACKED_MEMBER(member, result, params, call) \
    s.member = avx512 ? orb_blas_avx512_##member : orb_blas_avx2_##member;
#include "blas/kernels/packed_members.def"
#undef ORB_PACKED_MEMBER
#define ORB_PACKED_KERNEL(member, result, params) s.member = avx512 ? orb_blas_avx512_##member : orb_blas_avx2_##member;
#include "blas/kernels/packed_kernels.def"
#undef ORB_PACKED_KERNEL
    return s;
}

inline const PackedSetUnderTest &avx2_set() {
    static const PackedSetUnderTest set = make_packed_set(false);
    return set;
}

inline const PackedSetUnderTest &avx512_set() {
    static const PackedSetUnderTest set = make_packed_set(true);
    return set;
}

// The set of the cpu type a process runs (5 or 7), or null.
inline const PackedSetUnderTest *packed_set_of_cpu(int cpu_type) {
    if (cpu_type == 5) return &avx2_set();
    if (cpu_type == 7) return &avx512_set();
    return nullptr;
}

// The settings of a child process (support/child_process.h) that presents
// a processor of the set, with or without the STRICT reproducibility flag.
inline std::vector<std::string> packed_set_process(const PackedSetUnderTest &set, bool strict) {
    std::vector<std::string> settings = {"ORB_SIMULATE_CPU=ruzuv"};
    if (!set.is_avx512()) settings.push_back("ORB_ENABLE_INSTRUCTIONS=AVX2");
    if (strict) settings.push_back(std::string("ORB_CBWR=") + set.cbwr + ",STRICT");
    return settings;
}

// In such a child: the set of its processor, or null after printing why the
// process is not the one asked for (another cpu type, or the STRICT flag
// other than asked).
inline const PackedSetUnderTest *packed_set_of_process(bool strict) {
    const int cpu = orb_serv_cpu_detect();
    const int mode = orb_serv_cbwr_get(-1);
    const PackedSetUnderTest *set = packed_set_of_cpu(cpu);
    if (set && ((mode & ORB_CBWR_STRICT) != 0) == strict) return set;
    std::printf("wrong process: cpu type %d, reproducibility mode 0x%x\n", cpu, static_cast<unsigned>(mode));
    return nullptr;
}

// Fixture of the tests run once per set; skips where the machine cannot run it.
class PackedSetTest : public ::testing::TestWithParam<const PackedSetUnderTest *> {
  protected:
    void SetUp() override { ORB_REQUIRE_HOST(GetParam()->isa); }
    static const PackedSetUnderTest &set() { return *GetParam(); }
};

#define ORB_INSTANTIATE_FOR_PACKED_SETS(suite)                                              \
    INSTANTIATE_TEST_SUITE_P(Sets, suite, ::testing::Values(&avx2_set(), &avx512_set()),    \
                             [](const ::testing::TestParamInfo<const PackedSetUnderTest *> &info) { \
                                 return std::string(info.param->name);                      \
                             })

#endif
