// gemm_records.h - the records that describe one SGEMM call.
//
// Every driver below the entry points speaks in three records:
//   BlasOpParams  the operation: transpositions, alpha, beta, operation code;
//   MatDesc       one operand (A, B or C), or a packed buffer, as a matrix of
//                 op(X) with an element-address function, so that one code
//                 path serves every transposition;
//   ThreadOpts    the per-call thread plan handed to the partitioned drivers.
// Sub-blocks are narrowed copies of a MatDesc: data points at the block's
// first element and rows/cols are the block's.
#ifndef ORB_BLAS_GEMM_GEMM_RECORDS_H
#define ORB_BLAS_GEMM_GEMM_RECORDS_H

#include <cstdint>

struct MatDesc;
struct SgemmBuffers;

// Address of element (i, j) of op(X) as a descriptor sees it.
using ElementAddressFn = void *(*)(int64_t i, int64_t j, const MatDesc *desc);

// The operation of one call.
struct BlasOpParams {
    int64_t reserved[3];    // unused by SGEMM, zero
    const char *transa;     // the caller's transposition character of A
    const char *transb;     // the caller's transposition character of B
    float alpha;            // *alpha of the call
    float beta;             // *beta of the call (drivers may turn it into 1 after scaling C)
    int32_t mode[3];        // 2, 2, 2; read only by symmetric and triangular operations
    int32_t opA;            // transposition code of A: 0 N, 1 T, 2 C, -1 other, 3 null
    int32_t opB;            // transposition code of B, as opA
    int32_t operation;      // 0 for SGEMM
};

// Values of MatDesc::trans.
enum : int32_t {
    kMatNoTrans = 1,       // stored as op(X)
    kMatTrans = 2,         // stored transposed
    kMatConjTrans = 4,     // stored conjugate-transposed (same as transposed for real data)
    kMatPackedBuffer = 128 // a packed panel buffer (getPointer_buffer)
};

// One operand, sub-block or packed buffer.
struct MatDesc {
    void *data;               // first element (operands) or buffer base (buffers)
    int64_t rows;             // rows of op(X); kc for a buffer
    int64_t cols;             // columns of op(X); mc or nc for a buffer
    int64_t ld;               // leading dimension of the stored matrix; panel size for a buffer
    int64_t granule;          // operands 0; buffers: the k granule
    int64_t panel_width;      // operands 0; buffers: mr (A) or nr (B)
    int64_t rows_rounded;     // rows again; buffers: kc rounded up to the k granule
    int64_t elem_size;        // 4
    int32_t trans;            // kMatNoTrans/kMatTrans/kMatConjTrans, 0 for C or another character, 128 buffer
    ElementAddressFn address; // getPointer_notrans, getPointer_trans or getPointer_buffer
};

extern "C" {
// data + (i + j*ld)*elem_size: element (i, j) of an untransposed matrix.
void *getPointer_notrans(int64_t i, int64_t j, const MatDesc *desc);
// data + (i*ld + j)*elem_size: element (i, j) of op(X) for X stored transposed.
void *getPointer_trans(int64_t i, int64_t j, const MatDesc *desc);
// base + (roundup(rows, granule)*j + i*panel_width)*elem_size, inside a packed buffer.
void *getPointer_buffer(int64_t i, int64_t j, const MatDesc *desc);

// Fills op from the transposition characters and the scalars.
void blas_initialize_op_params(const char *transa, const char *transb, BlasOpParams *op,
                               const float *alpha, const float *beta);
}

// Describes an operand of the call: op(X) is rows x cols, stored with ld;
// trans is the caller's character (null for C).
MatDesc orb_operand_desc(const void *data, int64_t rows, int64_t cols, int64_t ld, const char *trans);

// The descriptor of the block of desc starting at (i, j) with rows x cols.
MatDesc orb_sub_desc(const MatDesc &desc, int64_t i, int64_t j, int64_t rows, int64_t cols);

// The packed-buffer descriptor `buffer` narrowed to a block of kb k steps
// and positioned at its panel column `col`.
MatDesc orb_panel_at(const MatDesc &buffer, int64_t kb, int64_t col);

// True when the descriptor's operand is stored transposed (T or C).
inline bool orb_desc_transposed(const MatDesc &desc) { return (desc.trans & (kMatTrans | kMatConjTrans)) != 0; }

// The per-call thread plan.  Prepared by the top-level driver before the
// thread-count decision; each thread of a team works on its own copy, while
// the embedded block and trailer stay shared through `params`.
struct ThreadOpts {
    // Trailer: team-wide state reached through the parameter block.
    struct Trailer {
        int32_t team_failed;   // 1 when any thread's buffer allocation failed
        int32_t strict;        // nonzero in the strict reproducible mode
        void *strategy;        // the strategy function chosen for this thread
    };
    // Block sizes of the simple three-dimensional grid, and the lookahead
    // strategy's task queue.
    struct ParamBlock {
        int64_t block_m;       // m block of the grid
        int64_t block_n;       // n block of the grid
        int64_t block_k;       // k block of the grid
        Trailer *trailer;      // the record's own trailer
        void *lookahead_queue; // set by the lookahead strategy's thread 0 for its team
    };

    uint32_t cpu_type;              // kernel-set selector
    int32_t thread_index;           // this thread's number in the team (or its group)
    int32_t max_threads;            // BLAS-domain thread limit
    int32_t thread_count;           // threads of the plan
    int32_t working_threads;        // threads of the strategy
    int32_t group_fields[4];        // member and group counts of the grouped copy strategies
    int32_t lookahead_group_size;   // threads per lookahead group
    int32_t m_parts;                // grid parts along m
    int32_t n_parts;                // grid parts along n
    int32_t k_parts;                // grid parts along k
    int32_t lookahead_depth;        // preset 1
    int32_t lookahead_flag;         // lookahead strategy in use
    int32_t permission_3d;          // preset 2
    int64_t lookahead_block;        // block of the lookahead strategy
    int64_t remainder;              // unused here
    int32_t partition_kind;         // 0 m, 1 n, 2 two-dimensional, 5 k-split grid, 7 lookahead
    int32_t copy_method;            // 0 none, 1 A in parallel, 2 A with lookahead, 5 simple 3-D
    int32_t rounding_mode;          // always 0
    int32_t group_count;            // preset 3
    int32_t group_index;            // this thread's group, -1 for none
    SgemmBuffers *group_buffers;    // the group's buffer record
    void *group_sync;               // the group's synchronisation slot
    int32_t second_group_index;     // group index for column-grouped strategies
    SgemmBuffers *second_group_buffers; // buffers of the second group
    void *second_group_sync;        // synchronisation slot of the second group
    ParamBlock *params;             // points at `block` of the driver's own record
    ParamBlock block;               // the embedded block
    Trailer trailer;                // the embedded trailer
};

// Zeroes opts and applies the presets of a new call (cpu type, lookahead
// depth 1, 3-D permission 2, group count 3, self pointers, strict flag).
void orb_prepare_thread_opts(ThreadOpts &opts, int strict);

#endif
