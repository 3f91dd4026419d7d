// sgemm_driver.cpp - the routing of an SGEMM call.
//
// orb_blas_sgemm decides how a checked call is computed, in this order:
//   1. an empty C returns at once;
//   2. the strict reproducible mode on an interface-2 kernel set takes its
//      own route: thread-count decision, then one thread or the partitioned
//      driver, skipping every shortcut below;
//   3. degenerate shapes (k != 0): one row of C, one column of C, or an
//      inner dimension of 1 (a rank-1 update, with a strided A vector of 65
//      or more elements gathered first);
//   4. a configured stripe count sends the call to the striped driver;
//   5. kernel sets of interface version 1 use the legacy partitioned driver;
//   6. otherwise the thread-count decision picks one thread (the kernel
//      set's serial GEMM), the small-n path, or the partitioned driver.
// The single-thread dispatcher orb_blas_xsgemm computes every shape, beta
// scaling and special values of alpha and beta included.  The degenerate
// shapes go to the matrix-vector driver (sgemm_vector_shapes.h) and the
// rank-1 path, striped calls to the striped driver (striped_driver.h), more
// than one thread to the partitioned driver (partitioned_driver.h).
#include "blas/gemm/sgemm_driver.h"

#include "blas/gemm/gemm_records.h"
#include "blas/gemm/legacy_driver.h"
#include "blas/gemm/partitioned_driver.h"
#include "blas/gemm/sgemm_thread_count.h"
#include "blas/gemm/sgemm_vector_shapes.h"
#include "blas/gemm/striped_driver.h"
#include "blas/gemv/scopy_driver.h"
#include "blas/gemv/sgemmger_driver.h"
#include "blas/kernels/dispatchers.h"
#include "orb_memory.h"
#include "orb_service.h"
#include "orb_threads.h"

namespace {

// Interface version of the kernel sets that describe themselves to the
// partitioned drivers (AVX2, AVX-512); the others speak version 1.
constexpr int kPartitionedKernelApi = 2;

// Cpu type of the AVX-512 kernel set, the only one with the small-n path.
constexpr uint32_t kCpuTypeAvx512 = 7;

// A strided A vector of at least this many elements is gathered before a
// rank-1 update.
constexpr int64_t kGatherMinRows = 65;

// Byte alignment of the gathered A vector.
constexpr int kGatherAlignment = 128;

bool is_plain(const char *trans) { return *trans == 'N' || *trans == 'n'; }

bool strict_reproducible() { return (orb_serv_cbwr_get(-1) & ORB_CBWR_STRICT) != 0; }

// The single-thread kernel of the chosen set.
void run_serial(const SgemmCall &g) {
    orb_blas_xsgemm(g.transa, g.transb, g.m, g.n, g.k, g.alpha, g.a, g.lda, g.b, g.ldb, g.beta, g.c, g.ldc);
}

// Sets opts.max_threads and opts.thread_count.
void decide_thread_count(const SgemmCall &g, ThreadOpts &opts) { thread_checker(g.m, g.n, g.k, &opts); }

// The partitioned driver on the records of the call.
void run_partitioned(const SgemmCall &g, const ThreadOpts &opts) {
    BlasOpParams op;
    blas_initialize_op_params(g.transa, g.transb, &op, g.alpha, g.beta);
    gemm_omp_driver_v2(op, orb_operand_desc(g.a, *g.m, *g.k, *g.lda, g.transa),
                       orb_operand_desc(g.b, *g.k, *g.n, *g.ldb, g.transb),
                       orb_operand_desc(g.c, *g.m, *g.n, *g.ldc, nullptr), opts);
}

void run_legacy_driver(const SgemmCall &g) {
    orb_blas_sgemm_omp_driver_v1(g.transa, g.transb, g.m, g.n, g.k, g.alpha, g.a, g.lda, g.b, g.ldb, g.beta, g.c,
                                 g.ldc);
}


// The 64-bit unit stride of the matrix-vector and copy calls.
const int64_t kUnitStride = 1;

// Strides of the column of op(A) and the row of op(B) when k is 1.
struct RankOneVectors {
    int64_t inc_a;  // 1 when A is plain, lda otherwise
    int64_t inc_b;  // ldb when B is plain, 1 otherwise
};

RankOneVectors rank_one_vectors(const SgemmCall &g) {
    return {is_plain(g.transa) ? 1 : *g.lda, is_plain(g.transb) ? *g.ldb : 1};
}

void run_rank_one_update(const SgemmCall &g, const RankOneVectors &vectors) {
    orb_blas_sgemmger(g.transa, g.transb, g.m, g.n, g.alpha, g.a, &vectors.inc_a, g.b, &vectors.inc_b, g.beta, g.c,
                      g.ldc);
}

// The A vector is copied to a 128-byte aligned buffer of 4*m bytes first, so
// that the rank-1 kernel runs with unit stride; without the buffer the
// strided vector is used as it is.
void run_gathered_rank_one_update(const SgemmCall &g, const RankOneVectors &vectors) {
    float *gathered = static_cast<float *>(orb_serv_allocate(static_cast<size_t>(*g.m) * sizeof(float), kGatherAlignment));
    if (gathered == nullptr) {
        run_rank_one_update(g, vectors);
        return;
    }
    orb_blas_scopy(g.m, g.a, &vectors.inc_a, gathered, &kUnitStride);
    orb_blas_sgemmger(g.transa, g.transb, g.m, g.n, g.alpha, gathered, &kUnitStride, g.b, &vectors.inc_b, g.beta,
                      g.c, g.ldc);
    orb_serv_deallocate(gathered);
}

// Step 2: the strict reproducible route.
void run_strict(const SgemmCall &g) {
    ThreadOpts opts;
    orb_prepare_thread_opts(opts, 1);
    decide_thread_count(g, opts);
    if (opts.thread_count == 1) run_serial(g);
    else run_partitioned(g, opts);
}

// Step 3: returns true when the shape was degenerate and has been computed.
bool ran_degenerate_shape(const SgemmCall &g) {
    if (*g.k == 0) return false;
    if (*g.m == 1) {
        orb_sgemm_one_row_product(g);
    } else if (*g.n == 1) {
        orb_sgemm_one_column_product(g);
    } else if (*g.k == 1) {
        RankOneVectors vectors = rank_one_vectors(g);
        if (vectors.inc_a != 1 && *g.m >= kGatherMinRows) run_gathered_rank_one_update(g, vectors);
        else run_rank_one_update(g, vectors);
    } else {
        return false;
    }
    return true;
}

// Step 6: the partitioned kernel interface.
void run_threaded(const SgemmCall &g) {
    if (sgemm_one_thread_by_shape(*g.m, *g.n, *g.k)) {
        run_serial(g);
        return;
    }
    ThreadOpts opts;
    orb_prepare_thread_opts(opts, 0);
    decide_thread_count(g, opts);
    if (opts.thread_count == 1) {
        run_serial(g);
        return;
    }
    if (use_smalln_kernels(g.transa, g.transb, g.m, g.n, g.k, g.alpha, g.a, g.lda, g.b, g.ldb, g.beta, g.c, g.ldc,
                           opts.cpu_type) == 1)
        return;
    run_partitioned(g, opts);
}

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

bool multiple_of_256(int64_t ld) { return (ld & 0xff) == 0; }

}  // namespace

extern "C" void orb_blas_sgemm(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                               const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                               const float *b, const int64_t *ldb, const float *beta, float *c, const int64_t *ldc,
                               size_t /*la*/, size_t /*lb*/) {
    const SgemmCall g{transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc};

    if (*m <= 0 || *n <= 0) return;

    if (strict_reproducible() && orb_blas_get_kernel_api_version() == kPartitionedKernelApi) {
        run_strict(g);
        return;
    }

    if (ran_degenerate_shape(g)) return;

    const int stripes = orb_serv_get_num_stripes();
    if (stripes > 0) {
        run_striped(g, stripes);
        return;
    }

    if (orb_blas_get_kernel_api_version() != kPartitionedKernelApi) {
        run_legacy_driver(g);
        return;
    }

    run_threaded(g);
}

int use_smalln_kernels(const char *transa, const char *transb, const int64_t *m, const int64_t *n, const int64_t *k,
                       const float *alpha, const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
                       const float *beta, float *c, const int64_t *ldc, uint32_t cpu_type) {
    if (cpu_type != kCpuTypeAvx512) return 0;
    if (is_plain(transa)) return 0;
    if (!is_plain(transb)) return 0;
    if (*n > 15) return 0;
    const bool aligned_ld = multiple_of_256(*lda) || multiple_of_256(*ldb) || multiple_of_256(*ldc);
    if (!aligned_ld && *n != 2 && *n != 3) return 0;

    const int64_t limit = orb_serv_domain_get_max_threads(1);
    const int64_t threads = limit > 0 ? limit : 1;
    const int64_t chunk = ceil_div(*m, threads);
    const int stripes = static_cast<int>(ceil_div(*m, chunk));
    run_striped({transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc}, stripes);
    return 1;
}
