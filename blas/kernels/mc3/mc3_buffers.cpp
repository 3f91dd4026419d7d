// mc3_buffers.cpp - the packing buffers of the mc3 blocked path.
//
// One pooled allocation (alignment 128) holds the packed B block followed by
// the packed A block, each on a 128-byte boundary, sized by the descriptor's
// block sizes.  sgemm_get_bufs_size answers how many bytes a product of a
// given shape needs (blocks cut down to the shape); sgemm_get_bufs allocates
// for the blocks the descriptor holds.  A null block is not an error: the
// caller then computes the product without buffers.
#include "blas/kernels/mc3/mc3_blocking.h"
#include "blas/kernels/mc3/mc3_kernels.h"
#include "orb_memory.h"

extern "C" {

int64_t orb_blas_mc3_sgemm_get_bufs_size(const int64_t *m, const int64_t *n, const int64_t *k,
                                         SgemmLegacyDesc *desc) {
    SgemmLegacyDesc sized = *desc;
    orb_blas_mc3_sgemm_get_blks_size(m, n, k, &sized);
    mc3::Blocks blocks = mc3::blocks_for(*m, *n, *k, sized);
    return mc3::b_buffer_bytes(blocks) + mc3::a_buffer_bytes(blocks);
}

void *orb_blas_mc3_sgemm_get_bufs(const SgemmLegacyDesc *desc, float **a_pack, float **b_pack) {
    mc3::Blocks blocks = mc3::blocks_of(*desc);
    int64_t b_bytes = mc3::b_buffer_bytes(blocks);
    void *block = orb_serv_allocate(static_cast<size_t>(b_bytes + mc3::a_buffer_bytes(blocks)),
                                    static_cast<int>(mc3::kBufferAlignment));
    if (block == nullptr) {
        *a_pack = *b_pack = nullptr;
        return nullptr;
    }
    *b_pack = static_cast<float *>(block);
    *a_pack = reinterpret_cast<float *>(static_cast<char *>(block) + b_bytes);
    return block;
}

}  // extern "C"
