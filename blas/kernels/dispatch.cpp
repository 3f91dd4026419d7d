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

// Sets that are not built into the library yet.
constexpr const KernelSet *kSetDef = nullptr;
constexpr const KernelSet *kSetCnrDef = nullptr;
constexpr const KernelSet *kSetMc3 = nullptr;
constexpr const KernelSet *kSetAvx512 = nullptr;

// The set of a cpu type, or null: 0 and 1 take the baseline set, in its
// reproducible form under any reproducibility branch but OFF.
const KernelSet *set_for(int cpu_type) {
    switch (cpu_type) {
    case 0:
    case 1: return orb_serv_cbwr_get(1) == ORB_CBWR_OFF ? kSetDef : kSetCnrDef;
    case 3: return kSetMc3;
    case 5: return &orb_kernel_set_avx2;
    case 7: return kSetAvx512;
    default: return nullptr;
    }
}

}  // namespace

const KernelSet &orb_choose_kernel_set() {
    const KernelSet *set = set_for(orb_serv_cpu_detect());
    if (set == nullptr) {
        orb_serv_print(0, kMessageCpuNotSupported, 1, orb_serv_cpu_detect());
        orb_serv_exit(1);
        // An exit hook must not return here: there is no set to run.
        std::abort();
    }
    return *set;
}

#define ORB_KERNEL_OP(op, result, params, args)                                       \
    extern "C" result orb_blas_##op params {                                          \
        static std::atomic<result(*) params> FunctionAddress{nullptr};                \
        auto function = FunctionAddress.load(std::memory_order_acquire);              \
        if (function == nullptr) {                                                    \
            function = orb_choose_kernel_set().op;                                    \
            FunctionAddress.store(function, std::memory_order_release);               \
        }                                                                             \
        return function args;                                                         \
    }
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP
