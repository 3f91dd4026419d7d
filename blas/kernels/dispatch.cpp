// dispatch.cpp - the set-independent dispatchers.
//
// orb_blas_<op> forwards to the <op> of the kernel set chosen for this
// process.  Each dispatcher keeps the chosen function in its own slot,
// FunctionAddress, filled on first use without a lock: racing first callers
// choose the same function and store the same value.
#include <atomic>
#include <cstdlib>

#include "blas/kernels/kernel_set.h"
#include "orb_service.h"

namespace {

constexpr int kMessageCpuNotSupported = 1226;

// An unsupported cpu type, or an operation its set does not carry yet:
// message 1226 with the cpu type, then the end of the process.
[[noreturn]] void report_unsupported() {
    orb_serv_print(0, kMessageCpuNotSupported, 1, orb_serv_cpu_detect());
    orb_serv_exit(1);
    // An exit hook must not return here: there is no kernel to run.
    std::abort();
}

}  // namespace

// 0 and 1 take the baseline set, in its reproducible form under any
// reproducibility branch but OFF; 3, 5 and 7 their own sets.
const KernelSet *orb_choose_kernel_set() {
    switch (orb_serv_cpu_detect()) {
    case 0:
    case 1: return orb_serv_cbwr_get(1) == ORB_CBWR_OFF ? &orb_kernel_set_def : &orb_kernel_set_cnr_def;
    case 3: return &orb_kernel_set_mc3;
    case 5: return &orb_kernel_set_avx2;
    case 7: return &orb_kernel_set_avx512;
    default: return nullptr;
    }
}

#define ORB_KERNEL_OP(op, result, params, args)                                       \
    extern "C" result orb_blas_##op params {                                          \
        static std::atomic<result(*) params> FunctionAddress{nullptr};                \
        auto function = FunctionAddress.load(std::memory_order_acquire);              \
        if (function == nullptr) {                                                    \
            const KernelSet *set = orb_choose_kernel_set();                           \
            if (set == nullptr || set->op == nullptr) report_unsupported();           \
            function = set->op;                                                       \
            FunctionAddress.store(function, std::memory_order_release);               \
        }                                                                             \
        return function args;                                                         \
    }
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP
