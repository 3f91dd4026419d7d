// edge_blocks.h - local copies of the blocks of a vector that reach past its
// ends, for the SGEMV kernels that read and write vectors with masked
// vector accesses.
//
// A kernel walks a unit-stride vector in blocks of Width elements on a grid
// start + Width*k (start in (-Width, 0]): start 0 for blocks that begin at
// element 0, a negative start for blocks aligned to the cache lines of a
// matrix whose columns begin inside a line.  The first block of a negative
// grid and the last block of any grid may reach past the vector's ends; the
// kernel then loads and stores only the lanes inside, with a mask.  That is
// correct wherever the vector lies, but a masked-out lane on a page the
// process cannot read costs the processor a microcode assist of about 150 ns
// per access, and the kernels touch their edge blocks once per column group:
// a vector that begins or ends next to an unmapped page would halve the
// speed of a cache-resident product.
//
// EdgeBlocks keeps those of the one or two blocks that span two pages in
// local arrays for as long as the kernel uses the grid: filled from the
// vector's own elements (zeros in the lanes outside), handed out by block(),
// and, for a vector the kernel writes, copied back to the vector's elements
// when the grid changes or the object goes away.  A block inside one page is
// used in place: that page holds some of the vector's elements, so none of
// the block's lanes can fall on an inaccessible one.  Everything else reads
// the vector in place.  Scalar code only: each kernel set compiles it with
// its own flags.
#ifndef ORB_BLAS_KERNELS_EDGE_BLOCKS_H
#define ORB_BLAS_KERNELS_EDGE_BLOCKS_H

#include <cstdint>
#include <type_traits>

namespace {

// T is float for a vector the kernel writes, const float for one it only reads.
template <int Width, class T>
class EdgeBlocks {
public:
    EdgeBlocks(T *base, int64_t len) : base_(base), len_(len) {}
    EdgeBlocks(const EdgeBlocks &) = delete;
    EdgeBlocks &operator=(const EdgeBlocks &) = delete;
    ~EdgeBlocks() { release(); }

    // Stages the blocks of the grid start + Width*k that reach past either
    // end and span two pages, after writing back those of the grid used so
    // far.
    void use_grid(int64_t start) {
        release();
        if (len_ <= 0) return;
        if (start < 0 && crosses_page(start)) first_ = start;
        const int64_t last = start + (len_ - 1 - start) / Width * Width;  // holds element len-1
        if (last + Width > len_ && last != first_ && crosses_page(last)) last_ = last;
        stage(first_, copy_[0]);
        stage(last_, copy_[1]);
    }

    // Lane 0 of the block at row i of the grid: a local copy for a staged
    // block, the vector itself otherwise.
    T *block(int64_t i) { return i == first_ ? copy_[0] : i == last_ ? copy_[1] : base_ + i; }

    // Writes the staged rows of a written vector back; stages nothing more.
    void release() {
        if constexpr (!std::is_const_v<T>) {
            unstage(first_, copy_[0]);
            unstage(last_, copy_[1]);
        }
        first_ = last_ = kNone;
    }

private:
    // No block: a row no grid reaches.
    static constexpr int64_t kNone = INT64_MIN;

    void stage(int64_t row, float *copy) const {
        if (row == kNone) return;
        for (int l = 0; l < Width; ++l) copy[l] = inside(row + l) ? base_[row + l] : 0.0f;
    }
    void unstage(int64_t row, const float *copy) const {
        if (row == kNone) return;
        for (int l = 0; l < Width; ++l)
            if (inside(row + l)) base_[row + l] = copy[l];
    }
    bool inside(int64_t i) const { return i >= 0 && i < len_; }

    // Whether the block at row i spans two pages.  A block inside one page
    // shares it with at least one of the vector's own elements, so none of
    // its lanes can fall on an inaccessible page: it is used in place.
    bool crosses_page(int64_t i) const {
        const uintptr_t first = reinterpret_cast<uintptr_t>(base_) + i * sizeof(float);
        const uintptr_t last = first + Width * sizeof(float) - 1;
        return first / kPageBytes != last / kPageBytes;
    }
    static constexpr uintptr_t kPageBytes = 4096;  // the smallest page the processors map

    T *base_;                        // element 0 of the vector
    int64_t len_;                    // its element count
    int64_t first_ = kNone;          // row of the staged block before element 0
    int64_t last_ = kNone;           // row of the staged block past element len-1
    alignas(64) float copy_[2][Width];  // the staged blocks, lane l = row + l
};

}  // namespace

#endif
