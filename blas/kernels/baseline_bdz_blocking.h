// baseline_bdz_blocking.h - blocking and buffer layout of the baseline sets'
// Bulldozer/Zen sub-model GEMM.
//
// The sub-model packs A in panels of 16 rows and B in panels of 4 columns
// and works on C in blocks of mc x nc over k blocks of depth kc.  The depth
// follows k in four bands so that a short product is not split and a long
// one keeps a 16-row A panel (16 * 192 floats, 12 KiB) in the first-level
// cache while the whole B block (at most 384 columns) stays in the second.
// One allocation holds both packed blocks: the A area starts on a page
// boundary, the B area on the first page boundary 4*mc*kc bytes further on,
// and the 16896 spare bytes cover both roundings.  The def and cnr_def sets
// share this code (it depends on nothing but the shape).
#ifndef ORB_BLAS_KERNELS_BASELINE_BDZ_BLOCKING_H
#define ORB_BLAS_KERNELS_BASELINE_BDZ_BLOCKING_H

#include <cstdint>

#include "blas/kernels/kernel_interface.h"
#include "orb_memory.h"

// Register block of the sub-model's kernels.
constexpr int64_t kBdzRows = 16;    // rows of a packed A panel and of the C tile
constexpr int64_t kBdzColumns = 4;  // columns of a packed B panel and of the C tile
// Limits of the block sizes.
constexpr int64_t kBdzMaxRows = 6400;      // largest mc
constexpr int64_t kBdzMaxColumns = 384;    // largest nc
constexpr int64_t kBdzPage = 4096;         // boundary of both packed areas
constexpr int64_t kBdzSpareBytes = 16896;  // added to the two areas for the rounding
constexpr int kBdzAlignment = 128;         // alignment asked of the pool

// The register block and the blocking of an m x n x k product.
inline void bdz_block_info(int64_t m, int64_t n, int64_t k, SgemmBlockInfo *info) {
    info->mr = kBdzRows;
    info->nr = kBdzColumns;
    if (k <= 128)
        info->kc = 128;
    else if (k <= 192)
        info->kc = k;
    else if (k <= 383)
        info->kc = k / 2;
    else
        info->kc = 192;
    int64_t mc = (m + kBdzRows - 1) / kBdzRows * kBdzRows;
    info->mc = mc < kBdzMaxRows ? mc : kBdzMaxRows;
    int64_t nc = n < kBdzMaxColumns ? n : kBdzMaxColumns;
    info->nc = nc > kBdzColumns ? nc : kBdzColumns;
}

// Bytes of the one block that holds the packed A and B areas.
inline int64_t bdz_buffer_bytes(const SgemmBlockInfo &info) {
    return (4 * info.mc + 8 * info.nc) * info.kc + kBdzSpareBytes;
}

// First address at or after p on a page boundary.
inline char *bdz_page_up(char *p) {
    uintptr_t address = reinterpret_cast<uintptr_t>(p);
    return reinterpret_cast<char *>((address + kBdzPage - 1) & ~static_cast<uintptr_t>(kBdzPage - 1));
}

// Allocates the block for info and places the two areas in it; returns the
// block (null when the pool had none, and then the areas are null too).
inline void *bdz_get_buffers(const SgemmBlockInfo *info, float **a_pack, float **b_pack) {
    void *block = orb_serv_allocate(static_cast<size_t>(bdz_buffer_bytes(*info)), kBdzAlignment);
    if (block == nullptr) {
        *a_pack = *b_pack = nullptr;
        return nullptr;
    }
    char *a_area = bdz_page_up(static_cast<char *>(block));
    char *b_area = bdz_page_up(a_area + 4 * info->mc * info->kc);
    *a_pack = reinterpret_cast<float *>(a_area);
    *b_pack = reinterpret_cast<float *>(b_area);
    return block;
}

#endif
