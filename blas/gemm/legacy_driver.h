// legacy_driver.h - the threaded SGEMM driver of the first kernel interface.
//
// The kernel sets without AVX2 (def, cnr_def, mc3) offer a serial GEMM and,
// on mc3, a blocked GEMM for one thread's block; they know nothing of
// thread plans.  orb_blas_sgemm_omp_driver_v1 threads them: it sends small
// and one-row or one-column products elsewhere, classifies the processor,
// asks whether the shape pays for a team, applies beta (and a zero alpha)
// before the team starts, and forks a team in which every thread picks the
// same prototype - a decomposition of C with its grid, GEMM and blocking -
// and runs its share of it.
//
// The decisions are pure functions of their inputs and are declared here
// beside the records, so that they can be examined without a processor of
// each kind: the small-problem rule, the processor class table, the shape
// test, the prototype choice and the share arithmetic of the splits.
#ifndef ORB_BLAS_GEMM_LEGACY_DRIVER_H
#define ORB_BLAS_GEMM_LEGACY_DRIVER_H

#include <cstdint>

#include "blas/gemm/sgemm_vector_shapes.h"
#include "blas/kernels/kernel_interface.h"

struct SgemmLegacyPrototype;

// A decomposition: run by every thread of the team on the whole call; each
// thread computes its share with the prototype's GEMM and all meet at a
// barrier at the end.
using LegacyDecompositionFn = void (*)(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                       const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                       const float *b, const int64_t *ldb, const float *beta, float *c,
                                       const int64_t *ldc, SgemmLegacyDesc *desc, SgemmLegacyPrototype *proto);

// The blocking a sub-model GEMM reports for a block (sgemm_blk_info_bdz).
using LegacyBlockInfoFn = void (*)(const int64_t *m, const int64_t *n, const int64_t *k, SgemmBlockInfo *info);

// How the team computes C.  Each thread holds a private copy.
struct SgemmLegacyPrototype {
    int team_size;                        // threads the decomposition uses (P); the rest of the team idles
    LegacyDecompositionFn decomposition;  // null until chosen
    XsgemmFn gemm;                        // GEMM of a thread's block; null: the descriptor's
    LegacyBlockInfoFn block_info;         // fills `block` when set
    int m_parts;                          // grid parts along m (1-D row split: P)
    int n_parts;                          // grid parts along n (1-D column split: P)
    SgemmBlockInfo block;                 // register block and blocking of the GEMM; zero when unknown
    int a_copies;                         // shared copies of op(A) the decomposition needs (0 or 1)
    int b_copies;                         // shared copies of op(B) the decomposition needs (0 or 1)
    float *a_copy;                        // the shared op(A) copy, aligned; set in the region
    float *b_copy;                        // the shared op(B) copy, aligned; set in the region
};

// The shared copy buffers of one call, as allocated (before alignment).
struct LegacyCopyMemory {
    void *a_block;  // block holding the op(A) copy, or null
    void *b_block;  // block holding the op(B) copy, or null
    bool ready;     // every buffer the prototype asked for was obtained
};

// Processor classes of the table below.
enum : int {
    kLegacyClassPlain = 0,      // no special treatment
    kLegacyClassSse42 = 3,      // Ruzuv processor on the mc3 set
    kLegacyClassBarcelona = 6,  // AMD family 10h
    kLegacyClassFma = 8         // AMD Bulldozer or Zen family
};

// What the class table reads.
struct LegacyProcessorQuery {
    int vendor_test;  // orb_serv_get_cpu()(): 1 on a Ruzuv processor (or a fixed branch but COMPATIBLE)
    int barcelona;    // orb_serv_cpuisitbarcelona()
    int bulldozer;    // orb_serv_cpuisbulldozer()
    int zen;          // orb_serv_cpuiszen()
    int cpu_type;     // orb_serv_cpu_detect()
};

// A row of the class table.
struct LegacyProcessor {
    int processor_class;  // kLegacyClass*
    bool shape_test;      // S: the shape must pass legacy_shape_allows_threads
    bool prepass;         // R: beta is applied to C before the team, alpha 0 ends the call after it
};

// What the prototype choice knows about the processor and the kernel set.
struct LegacyMachine {
    int processor_class;  // kLegacyClass*
    int api_support;      // orb_blas_sgemm_api_support(): 1 on mc3
    int branch;           // reproducibility branch, orb_serv_cbwr_get(1)
};

// A contiguous run of rows or columns.
struct LegacyRange {
    int64_t start;  // first index
    int64_t count;  // length; 0 for a thread without work
};

// --- decisions ---------------------------------------------------------------

// Products that run on one thread whatever the thread limit.
bool legacy_is_small_problem(int64_t m, int64_t n, int64_t k);

// The class table.
LegacyProcessor legacy_processor_class(const LegacyProcessorQuery &query);

// The shape test of class 3 for a thread limit of T: true when a team pays.
bool legacy_shape_allows_threads(int64_t m, int64_t n, int64_t k, int threads);

// The prototype of a team of P = threads, without block parameters and
// copies: decomposition, GEMM, block-information function, grid and the
// team size the decomposition uses.
SgemmLegacyPrototype legacy_plan_prototype(int64_t m, int64_t n, int64_t k, int threads,
                                           const LegacyMachine &machine);

// Thread `index` of a 1-D split of extent over P threads: q = extent/P.
// When the last of P blocks of q would be longer than q + 1, blocks of q + 1
// go first - with dynamic adjustment only ceil(extent/(q + 1)) of them, the
// last one shorter, otherwise extent mod P of them followed by blocks of q;
// else every block has q and the last one takes the rest.
LegacyRange legacy_1d_share(int64_t extent, int threads, int index, bool dynamic);

// Part `index` of extent cut into `parts` runs of whole units (the last
// unit may be short): unit counts differ by at most one, longer runs first.
LegacyRange legacy_grid_share(int64_t extent, int parts, int index, int64_t unit);

// The grid of the refined decomposition: among c x (P/c) grids, the one
// whose largest block costs least in multiply-adds plus packed elements.
void legacy_improved_grid(int64_t m, int64_t n, int64_t k, int threads, int64_t mr, int64_t nr, int *m_parts,
                          int *n_parts);

// --- the team --------------------------------------------------------------

// Forks `threads` threads on the call with private copies of desc and
// prototype; a prototype without decomposition is chosen by each thread for
// the team it finds, a preset one (tests) is used as given when it fits the
// team.  Releases the shared copy buffers after the team has joined.
void orb_sgemm_legacy_run_team(const SgemmCall &call, const SgemmLegacyDesc &desc,
                               const SgemmLegacyPrototype &prototype, const LegacyMachine &machine, int threads);

extern "C" {
// C := alpha*op(A)*op(B) + beta*C on the first kernel interface; the
// classic argument list, every argument by address.
void orb_blas_sgemm_omp_driver_v1(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                  const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                  const float *b, const int64_t *ldb, const float *beta, float *c,
                                  const int64_t *ldc);

// Chooses the prototype for proto->team_size threads (legacy_plan_prototype),
// then fills its block parameters: through the block-information function
// when one is set, and on mc3 the set's block sizes in desc.
void orb_blas_sgemm_omp_get_prototype(const int64_t *m, const int64_t *n, const int64_t *k, SgemmLegacyDesc *desc,
                                      SgemmLegacyPrototype *proto, const LegacyMachine *machine);

// Releases the shared copy buffers of a call and forgets them (the
// verdict `ready` is left as it is: team members may still be reading it).
void orb_blas_sgemm_omp_free_prototype_memory(LegacyCopyMemory *memory);

// The decompositions (see legacy_decompositions.cpp).
#define ORB_LEGACY_DECOMPOSITION(name)                                                                          \
    void name(const char *transa, const char *transb, const int64_t *m, const int64_t *n, const int64_t *k,     \
              const float *alpha, const float *a, const int64_t *lda, const float *b, const int64_t *ldb,       \
              const float *beta, float *c, const int64_t *ldc, SgemmLegacyDesc *desc, SgemmLegacyPrototype *proto)
ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_1D_row);
ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_1D_col);
ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_1D_with_copy_0);
ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_2D_bsrc);
ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_2D_improved_bsrc);
ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_2D_bcopy);
ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_2D_xgemm_p);
ORB_LEGACY_DECOMPOSITION(orb_blas_sgemm_2D_abcopy_abx_m_km_par_p);
}

#endif
