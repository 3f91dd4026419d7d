// legacy_driver.cpp - the threaded SGEMM driver of the first kernel interface.
//
// orb_blas_sgemm_omp_driver_v1, in order:
//   1. an empty C returns;
//   2. one row or one column of C (k != 0) is a matrix-vector product;
//   3. small products run on one thread (legacy_is_small_problem);
//   4. the kernel set's API support, the BLAS thread limit T and the
//      processor class with its switches S and R are gathered;
//   5. a limit of one thread, or (S) a shape the shape test refuses, runs on
//      one thread;
//   6. the pre-pass: with R, beta != 1 (NaN included) brings C to beta*C in a
//      team of T threads and the product goes on with beta 1, and a zero
//      alpha or k then ends the call; without R, a zero alpha or k ends the
//      call, after scaling C by a beta other than 1 in a team;
//   7. the kernel descriptor: on mc3 the set's own, with the packers for the
//      transpositions, its blocking of the whole problem and its blocked GEMM
//      for one thread's block; elsewhere just the serial GEMM;
//   8. a team of T threads runs the region body below; the forking thread
//      releases the shared copy buffers once the team has joined.
//
// Region body, on every thread: private copies of the prototype and the
// descriptor; a team that came up with one thread computes the whole
// product serially; otherwise the thread chooses the prototype (unless one
// was preset), the shared copy buffers are set up when the prototype asks
// for copies, and the thread runs the decomposition.  Every branch that
// holds a barrier is taken by all threads alike, because all of them decide
// on the same prototype and the same shared verdict.
#include "blas/gemm/legacy_driver.h"

#include <omp.h>

#include <algorithm>
#include <cstdint>

#include "blas/kernels/dispatchers.h"
#include "orb_memory.h"
#include "orb_service.h"
#include "orb_threads.h"

namespace {

constexpr int kApiSupportMc3 = 1;

// BLAS domain of the thread limit.
constexpr int kBlasDomain = 1;

// The copy buffers are requested at this alignment, each enlarged by twice
// its own alignment, and placed on a 4 KiB page inside the block.
constexpr int kCopyRequestAlignment = 128;
constexpr int32_t kCopyAlignmentLog2 = 12;

// The beta a product goes on with once the pre-pass has scaled C.
const float kOne = 1.0f;

// What the forking thread shares with its team.
struct LegacyTeam {
    SgemmCall call;                         // the call (beta 1 after the pre-pass)
    const SgemmLegacyDesc *desc;            // the kernel descriptor, copied by each thread
    const SgemmLegacyPrototype *prototype;  // empty, or preset; copied by each thread
    LegacyMachine machine;                  // what the prototype choice reads
    LegacyCopyMemory memory;                // the shared copy buffers
};

void run_serial(const SgemmCall &g) {
    orb_blas_xsgemm(g.transa, g.transb, g.m, g.n, g.k, g.alpha, g.a, g.lda, g.b, g.ldb, g.beta, g.c, g.ldc);
}

LegacyProcessorQuery query_processor() {
    LegacyProcessorQuery query{};
    query.vendor_test = orb_serv_get_cpu()();
    query.barcelona = orb_serv_cpuisitbarcelona();
    query.bulldozer = orb_serv_cpuisbulldozer();
    query.zen = orb_serv_cpuiszen();
    query.cpu_type = orb_serv_cpu_detect();
    return query;
}

// C := beta*C by the set's scaler, columns shared by a team of `threads`.
void scale_in_team(const SgemmCall &g, const float *beta, int threads) {
#pragma omp parallel num_threads(threads)
    {
        const LegacyRange cols = legacy_grid_share(*g.n, omp_get_num_threads(), omp_get_thread_num(), 1);
        if (cols.count > 0) orb_blas_sgemm_mscale(g.m, &cols.count, beta, g.c + cols.start * *g.ldc, g.ldc);
    }
}

// The pre-pass; false when it has completed the call.  A call without a
// product term (alpha 0 or k 0) ends after beta has been applied.
bool prepare_beta(SgemmCall &g, bool prepass, int threads) {
    const bool product = *g.alpha != 0.0f && *g.k != 0;
    if (prepass) {
        if (*g.beta != 1.0f) {
            scale_in_team(g, g.beta, threads);
            g.beta = &kOne;
        }
        return product;
    }
    if (product) return true;
    if (*g.beta != 1.0f) scale_in_team(g, g.beta, threads);
    return false;
}

LegacyPackerFn packer_for(const char *trans, LegacyPackerFn plain, LegacyPackerFn transposed,
                          LegacyPackerFn conjugate) {
    if (*trans == 'N' || *trans == 'n') return plain;
    if (*trans == 'C' || *trans == 'c') return conjugate;
    return transposed;
}

// On mc3 the set fills the descriptor and its block-size function settles
// the blocking of the whole problem, which each thread's prototype narrows
// to its block; the set's blocked GEMM then computes each block.
SgemmLegacyDesc describe_kernel(const SgemmCall &g, int api_support) {
    SgemmLegacyDesc desc{};
    if (api_support == kApiSupportMc3) {
        orb_blas_sgemm_zero_desc(&desc);
        orb_blas_sgemm_get_optimal_kernel(&desc);
        desc.pack_a = packer_for(g.transa, desc.copyan, desc.copyat, desc.copyac);
        desc.pack_b = packer_for(g.transb, desc.copybn, desc.copybt, desc.copybc);
        if (desc.get_blks_size != nullptr) desc.get_blks_size(g.m, g.n, g.k, &desc);
        desc.par_gemm = orb_blas_xsgemm_par;
        desc.uses_par_gemm = 1;
    }
    desc.gemm = orb_blas_xsgemm;
    return desc;
}

// The bytes of the copies the prototype asks for: a compact op(A) or op(B),
// or the set's buffer size for the product when that is larger.
void size_copies(const SgemmCall &g, const SgemmLegacyPrototype &proto, SgemmLegacyDesc &desc) {
    const LegacyBufferSizeFn set_size =
        desc.get_bufs_size != nullptr ? desc.get_bufs_size : orb_blas_sgemm_get_bufs_size;
    const int64_t set_bytes = set_size(g.m, g.n, g.k, &desc);
    const int64_t a_bytes = *g.m * *g.k * static_cast<int64_t>(sizeof(float));
    const int64_t b_bytes = *g.k * *g.n * static_cast<int64_t>(sizeof(float));
    desc.a_copy_bytes = proto.a_copies > 0 ? std::max(a_bytes, set_bytes) : 0;
    desc.b_copy_bytes = proto.b_copies > 0 ? std::max(b_bytes, set_bytes) : 0;
    desc.a_copy_alignment_log2 = kCopyAlignmentLog2;
    desc.b_copy_alignment_log2 = kCopyAlignmentLog2;
}

void *allocate_copy(int64_t bytes, int32_t alignment_log2) {
    const size_t alignment = size_t{1} << alignment_log2;
    void *block = orb_serv_allocate(static_cast<size_t>(bytes) + 2 * alignment, kCopyRequestAlignment);
    orb_serv_check_ptr_and_warn(block, "SGEMM");
    return block;
}

float *aligned_copy(void *block, int32_t alignment_log2) {
    const uintptr_t alignment = uintptr_t{1} << alignment_log2;
    return reinterpret_cast<float *>((reinterpret_cast<uintptr_t>(block) + alignment - 1) & ~(alignment - 1));
}

// One thread allocates the copies; after the barrier every thread places
// them in its prototype.  When one is missing, one thread releases the
// others, and after that barrier every thread falls back to a 1-D split
// without copies.
void share_copy_buffers(LegacyTeam &team, SgemmLegacyPrototype &proto, const SgemmLegacyDesc &desc) {
    LegacyCopyMemory &memory = team.memory;
#pragma omp single
    {
        if (proto.a_copies > 0) memory.a_block = allocate_copy(desc.a_copy_bytes, desc.a_copy_alignment_log2);
        if (proto.b_copies > 0) memory.b_block = allocate_copy(desc.b_copy_bytes, desc.b_copy_alignment_log2);
        memory.ready = (proto.a_copies == 0 || memory.a_block != nullptr) &&
                       (proto.b_copies == 0 || memory.b_block != nullptr);
    }
    if (memory.ready) {
        if (proto.a_copies > 0) proto.a_copy = aligned_copy(memory.a_block, desc.a_copy_alignment_log2);
        if (proto.b_copies > 0) proto.b_copy = aligned_copy(memory.b_block, desc.b_copy_alignment_log2);
        return;
    }
#pragma omp single
    orb_blas_sgemm_omp_free_prototype_memory(&memory);
    proto.a_copies = 0;
    proto.b_copies = 0;
    proto.decomposition = *team.call.m > *team.call.n ? orb_blas_sgemm_1D_row : orb_blas_sgemm_1D_col;
}

void region_body(LegacyTeam &team) {
    SgemmLegacyPrototype proto = *team.prototype;
    SgemmLegacyDesc desc = *team.desc;
    const int threads = omp_get_num_threads();
    const SgemmCall &g = team.call;
    if (threads == 1) {
        run_serial(g);
        return;
    }
    // A preset prototype that does not fit the team is chosen afresh.
    if (proto.team_size < 1 || proto.team_size > threads) proto.decomposition = nullptr;
    if (proto.decomposition == nullptr) {
        proto = SgemmLegacyPrototype{};
        proto.team_size = threads;
        orb_blas_sgemm_omp_get_prototype(g.m, g.n, g.k, &desc, &proto, &team.machine);
    }
    // Buffer sizes matter only to a prototype with copies (no chosen one has them).
    if (proto.a_copies > 0 || proto.b_copies > 0) {
        size_copies(g, proto, desc);
        share_copy_buffers(team, proto, desc);
    }
    proto.decomposition(g.transa, g.transb, g.m, g.n, g.k, g.alpha, g.a, g.lda, g.b, g.ldb, g.beta, g.c, g.ldc, &desc,
                        &proto);
}

}  // namespace

void orb_sgemm_legacy_run_team(const SgemmCall &call, const SgemmLegacyDesc &desc,
                               const SgemmLegacyPrototype &prototype, const LegacyMachine &machine, int threads) {
    LegacyTeam team{call, &desc, &prototype, machine, LegacyCopyMemory{}};
#pragma omp parallel num_threads(threads)
    region_body(team);
    orb_blas_sgemm_omp_free_prototype_memory(&team.memory);
}

extern "C" void orb_blas_sgemm_omp_driver_v1(const char *transa, const char *transb, const int64_t *m,
                                             const int64_t *n, const int64_t *k, const float *alpha, const float *a,
                                             const int64_t *lda, const float *b, const int64_t *ldb,
                                             const float *beta, float *c, const int64_t *ldc) {
    SgemmCall g{transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc};
    if (*m < 1 || *n < 1) return;
    if (*k != 0 && (*m == 1 || *n == 1)) {
        if (*m == 1) orb_sgemm_one_row_product(g);
        else orb_sgemm_one_column_product(g);
        return;
    }
    if (legacy_is_small_problem(*m, *n, *k)) {
        run_serial(g);
        return;
    }

    // No decision here reads the cache size: the mc3 set consults it for its own blocking.
    const int api_support = orb_blas_sgemm_api_support();
    const int threads = orb_serv_domain_get_max_threads(kBlasDomain);
    const LegacyProcessor processor = legacy_processor_class(query_processor());
    if (threads <= 1 || (processor.shape_test && !legacy_shape_allows_threads(*m, *n, *k, threads))) {
        run_serial(g);
        return;
    }

    if (!prepare_beta(g, processor.prepass, threads)) return;

    const SgemmLegacyDesc desc = describe_kernel(g, api_support);
    const LegacyMachine machine{processor.processor_class, api_support, orb_serv_cbwr_get(1)};
    orb_sgemm_legacy_run_team(g, desc, SgemmLegacyPrototype{}, machine, threads);
}
