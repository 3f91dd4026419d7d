// gemm_records.cpp - building and narrowing the records of an SGEMM call.
#include "blas/gemm/gemm_records.h"

#include <cstring>

#include "orb_service.h"

namespace {

constexpr int64_t kElementSize = 4;

char upper(const char *c) { return (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c; }

// Code of a transposition character in BlasOpParams.
int32_t op_code(const char *trans) {
    if (trans == nullptr) return 3;
    switch (upper(trans)) {
    case 'N': return 0;
    case 'T': return 1;
    case 'C': return 2;
    default: return -1;
    }
}

// Transposition flag of a character in MatDesc (0 for C, passed as null).
int32_t desc_flag(const char *trans) {
    if (trans == nullptr) return 0;
    switch (upper(trans)) {
    case 'N': return kMatNoTrans;
    case 'T': return kMatTrans;
    case 'C': return kMatConjTrans;
    default: return 0;
    }
}

char *byte_address(const MatDesc *desc, int64_t offset_elements) {
    return static_cast<char *>(desc->data) + offset_elements * desc->elem_size;
}

}  // namespace

extern "C" {

void *getPointer_notrans(int64_t i, int64_t j, const MatDesc *desc) { return byte_address(desc, i + j * desc->ld); }

void *getPointer_trans(int64_t i, int64_t j, const MatDesc *desc) { return byte_address(desc, i * desc->ld + j); }

void *getPointer_buffer(int64_t i, int64_t j, const MatDesc *desc) {
    int64_t granule = desc->granule > 0 ? desc->granule : 1;
    int64_t rows = (desc->rows + granule - 1) / granule * granule;
    return byte_address(desc, rows * j + i * desc->panel_width);
}

void blas_initialize_op_params(const char *transa, const char *transb, BlasOpParams *op, const float *alpha,
                               const float *beta) {
    std::memset(op, 0, sizeof *op);
    op->transa = transa;
    op->transb = transb;
    op->alpha = *alpha;
    op->beta = *beta;
    op->mode[0] = op->mode[1] = op->mode[2] = 2;
    op->opA = op_code(transa);
    op->opB = op_code(transb);
    op->operation = 0;
}

}  // extern "C"

MatDesc orb_operand_desc(const void *data, int64_t rows, int64_t cols, int64_t ld, const char *trans) {
    MatDesc desc{};
    desc.data = const_cast<void *>(data);
    desc.rows = rows;
    desc.cols = cols;
    desc.ld = ld;
    desc.rows_rounded = rows;
    desc.elem_size = kElementSize;
    desc.trans = desc_flag(trans);
    bool stored_as_is = trans == nullptr || upper(trans) == 'N';
    desc.address = stored_as_is ? getPointer_notrans : getPointer_trans;
    return desc;
}

MatDesc orb_sub_desc(const MatDesc &desc, int64_t i, int64_t j, int64_t rows, int64_t cols) {
    MatDesc sub = desc;
    sub.data = desc.address(i, j, &desc);
    sub.rows = rows;
    sub.cols = cols;
    sub.rows_rounded = rows;
    return sub;
}

MatDesc orb_panel_at(const MatDesc &buffer, int64_t kb, int64_t col) {
    MatDesc d = buffer;
    d.rows = kb;
    d.rows_rounded = kb;
    d.data = getPointer_buffer(0, col, &d);
    return d;
}

void orb_prepare_thread_opts(ThreadOpts &opts, int strict) {
    std::memset(&opts, 0, sizeof opts);
    opts.cpu_type = static_cast<uint32_t>(orb_serv_cpu_detect());
    opts.lookahead_depth = 1;
    opts.permission_3d = 2;
    opts.group_count = 3;
    opts.params = &opts.block;
    opts.block.trailer = &opts.trailer;
    opts.trailer.strict = strict ? 1 : 0;
}
