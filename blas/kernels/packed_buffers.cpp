// packed_buffers.cpp - blocking and packing buffers of the avx2 and avx512 sets.
//
// sgemm_initialize_buffers turns the shapes of op(A) (m x k) and op(B)
// (k x n) into the block sizes of the blocked drivers and an SgemmBuffers
// record describing the packed-A and packed-B areas.  With the set's
// blocking numbers (PackedBlocking; AVX2 / AVX-512):
//   kc  k itself up to the split point (256 / 384; at least 128, as a buffer
//       size); half of k rounded up from there to the halving limit (384 /
//       768); a fixed pass (192 / 384) beyond it;
//   mc  max(m, mr) capped (10000 / 9984) and rounded up to a multiple of mr;
//   nc  max(n, nr) capped at 384, or at 24 when k <= 47 (a short k makes the
//       packed B of a kernel call too small to be worth a wide block),
//       rounded up to a multiple of nr.
// The loops step by these sizes; the last block of each loop is shorter.
//
// sgemm_get_bufs allocates one block per record from the pooled allocator
// and places the areas in it: packed A on a 2 MiB boundary plus 1664 bytes,
// packed B on a 4 KiB boundary plus 768 bytes, the odd offsets keeping the
// two streams of the kernel on different cache sets.  A failed allocation
// leaves the block null; the drivers then compute without buffers.  The
// "pack" functions do the same placement in memory a caller supplies.
#include <cstring>

#include "blas/kernels/packed_set.h"
#include "orb_memory.h"

namespace {

constexpr int kAllocationAlignment = 128;
constexpr uint64_t kTwoMiB = 2097152;
constexpr uint64_t kPage = 4096;
constexpr uint64_t kAOffset = 1664;        // packed A after its 2 MiB boundary
constexpr uint64_t kBOffset = 768;         // packed B after its 4 KiB boundary
constexpr uint64_t kPackHeaderBytes = 8192; // header of a caller-supplied block

int64_t round_up(int64_t value, int64_t multiple) { return (value + multiple - 1) / multiple * multiple; }

char *align_up(char *p, uint64_t alignment) {
    auto address = reinterpret_cast<uintptr_t>(p);
    return reinterpret_cast<char *>((address + alignment - 1) / alignment * alignment);
}

int64_t block_k(const PackedBlocking &rule, int64_t k, int64_t granule) {
    if (k > rule.kc_split) return k < rule.kc_halving ? round_up((k + 1) / 2, granule) : rule.kc_large;
    int64_t kc = round_up(k, granule);
    return kc < rule.kc_minimum ? rule.kc_minimum : kc;
}

int64_t block_m(const PackedBlocking &rule, int64_t m, int64_t mr) {
    int64_t mc = m < mr ? mr : m;
    return round_up(mc < rule.mc_cap ? mc : rule.mc_cap, mr);
}

int64_t block_n(const PackedBlocking &rule, int64_t n, int64_t k, int64_t nr) {
    int64_t cap = k > rule.short_k ? rule.nc_cap : rule.nc_cap_short;
    int64_t nc = n < nr ? nr : n;
    return round_up(nc < cap ? nc : cap, nr);
}

// A packed-panel buffer seen as a kc x cols matrix of panels of the given width.
MatDesc buffer_desc(int64_t kc, int64_t cols, int64_t width, int64_t granule) {
    MatDesc d{};
    int64_t kcr = round_up(kc, granule);
    d.rows = kc;
    d.cols = cols;
    d.ld = width * kcr;
    d.granule = granule;
    d.panel_width = width;
    d.rows_rounded = kcr;
    d.elem_size = 4;
    d.trans = kMatPackedBuffer;
    d.address = getPointer_buffer;
    return d;
}

uint64_t a_bytes(const SgemmBuffers *r) { return static_cast<uint64_t>(r->mc * r->kc) * 4; }
uint64_t b_bytes(const SgemmBuffers *r) { return static_cast<uint64_t>(r->kc * r->nc) * 4; }

// Bytes of the block sgemm_get_bufs requests for a mode, 0 for an unknown one:
// each area needs its size plus the worst-case distance to its placement.
uint64_t block_bytes(const SgemmBuffers *r) {
    uint64_t a_slack = 2 * kTwoMiB + kAOffset;           // 4,195,968
    uint64_t b_slack = 2 * kPage + kBOffset;              // 8960
    switch (r->mode) {
    case kBuffersA: return a_bytes(r) + a_slack;
    case kBuffersB: return b_bytes(r) + b_slack;
    case kBuffersAB: return a_bytes(r) + b_bytes(r) + a_slack + b_slack;
    case kBuffersTeamB: return (b_bytes(r) + b_slack) * r->team_count + 2 * kTwoMiB;
    default: return 0;
    }
}

}  // namespace

void packed_sgemm_initialize_buffers(const PackedSet &set, const MatDesc *a, const MatDesc *b,
                                     const SgemmStrategy *strategy, SgemmBuffers *buffers) {
    int64_t m = a->rows, k = a->cols, n = b->cols;
    int64_t granule = strategy->k_granule > 0 ? strategy->k_granule : 1;
    std::memset(buffers, 0, sizeof *buffers);
    buffers->kc = block_k(set.blocking, k, granule);
    buffers->mc = block_m(set.blocking, m, strategy->mr);
    buffers->nc = block_n(set.blocking, n, k, strategy->nr);
    buffers->a = buffer_desc(buffers->kc, buffers->mc, strategy->mr, granule);
    buffers->b = buffer_desc(buffers->kc, buffers->nc, strategy->nr, granule);
    buffers->mode = strategy->code == kStrategyACopied ? kBuffersB : kBuffersAB;
    buffers->a_offset = kAOffset;
    buffers->a_alignment = kTwoMiB;
    buffers->b_offset = kBOffset;
    buffers->b_alignment = kPage;
    buffers->team_count = 1;
    bool pack = strategy->buffer_interface == 2;
    buffers->get = pack ? set.get_bufs_pack : set.get_bufs;
    buffers->size = pack ? set.get_size_bufs : nullptr;
    buffers->set = pack ? set.set_bufs_pack : nullptr;
    buffers->free = set.free_bufs;
}

int packed_sgemm_get_bufs(SgemmBuffers *buffers) {
    uint64_t bytes = block_bytes(buffers);
    if (bytes == 0) return 1;
    char *block = static_cast<char *>(orb_serv_allocate(bytes, kAllocationAlignment));
    buffers->block = block;
    if (block == nullptr) return 0;  // the driver sees the null block and computes without buffers
    char *b_area = align_up(block, kPage) + kBOffset;
    switch (buffers->mode) {
    case kBuffersA: buffers->a.data = align_up(block, kTwoMiB) + kAOffset; break;
    case kBuffersB: buffers->b.data = b_area; break;
    case kBuffersAB:
        buffers->b.data = b_area;
        buffers->a.data = align_up(b_area + b_bytes(buffers), kTwoMiB) + kAOffset;
        break;
    default: buffers->b.data = align_up(block, kTwoMiB); break;  // one B per team member
    }
    return 0;
}

void packed_sgemm_free_bufs(SgemmBuffers *buffers) {
    orb_serv_deallocate(buffers->block);
    buffers->block = nullptr;
}

// ---------------------------------------------------------------------------
// Caller-supplied ("pack") buffers.
// ---------------------------------------------------------------------------

int64_t packed_sgemm_get_size_bufs(SgemmBuffers *buffers) {
    // A supplied block is aligned to 128 bytes, keeps a header of up to 8 KiB
    // and places its area as sgemm_set_bufs_pack does.
    uint64_t single_slack = kAllocationAlignment + 3 * kTwoMiB;  // then the area's offset
    uint64_t team_slack = 2 * kTwoMiB + kAllocationAlignment;    // 4,194,432
    switch (buffers->mode) {
    case kBuffersA: return static_cast<int64_t>(a_bytes(buffers) + single_slack + kAOffset);  // + 6,293,248
    case kBuffersB: return static_cast<int64_t>(b_bytes(buffers) + single_slack + kBOffset);  // + 6,292,352
    case kBuffersTeamB:
        buffers->b_alignment = kPage;
        return static_cast<int64_t>((b_bytes(buffers) + 2 * kPage + kBOffset) * buffers->team_count + team_slack);
    case kBuffersTeamA:
        buffers->a_alignment = kPage;
        return static_cast<int64_t>((a_bytes(buffers) + 2 * kPage + kAOffset) * buffers->team_count + team_slack);
    case kBuffersAB:
        buffers->a.data = nullptr;
        buffers->b.data = nullptr;
        return 0;
    default: return 0;
    }
}

int packed_sgemm_set_bufs_pack(void *memory, SgemmBuffers *buffers) {
    char *base = static_cast<char *>(memory);
    switch (buffers->mode) {
    case kBuffersTeamB:
        buffers->block = memory;
        buffers->b.data = align_up(base, kTwoMiB);
        buffers->b_alignment = kPage;
        return 0;
    case kBuffersTeamA:
        buffers->block = memory;
        buffers->a.data = align_up(base, kTwoMiB);
        buffers->a_alignment = kPage;
        return 0;
    case kBuffersA:
    case kBuffersB: {
        char *block = align_up(base, kAllocationAlignment);
        char *area = align_up(block + kPackHeaderBytes, kTwoMiB);
        char *buffer = area + (buffers->mode == kBuffersA ? kAOffset : kBOffset);
        (buffers->mode == kBuffersA ? buffers->a : buffers->b).data = buffer;
        buffers->block = block;
        buffers->pack_header = block;
        int64_t distance_in_floats = (buffer - block) / 4;
        std::memcpy(block, &distance_in_floats, sizeof distance_in_floats);
        return 0;
    }
    default: return 1;
    }
}

int packed_sgemm_get_bufs_pack(SgemmBuffers *buffers) {
    int64_t bytes = buffers->size(buffers);
    void *memory = bytes > 0 ? orb_serv_allocate(static_cast<size_t>(bytes), kAllocationAlignment) : nullptr;
    if (memory == nullptr || buffers->set(memory, buffers) != 0) {
        orb_serv_deallocate(memory);
        buffers->block = nullptr;
        return 1;
    }
    if (buffers->mode == kBuffersA || buffers->mode == kBuffersB) {
        // The header after the distance word: block sizes and the state of the packed content.
        auto *header = static_cast<char *>(buffers->block);
        const int64_t words[][2] = {{8, buffers->mc}, {16, buffers->nc}, {24, buffers->kc},
                                    {80, 0},          {88, -1},          {160, 1}};
        for (const auto &word : words) std::memcpy(header + word[0], &word[1], sizeof word[1]);
    }
    return 0;
}
