// machine_ceilings.h - what this machine can do at most, measured, so that
// every benchmark figure can be read as a share of it: the arithmetic peak
// of fused multiply-adds at 128, 256 and 512 bits and of separate 128-bit
// multiplies and adds (the SSE kernel sets have no FMA), and the streaming
// read bandwidth from memory.  Each is measured on one thread or on several
// at once (their rates added), best of many short trials so that a trial
// disturbed by another process does not lower the figure.
#ifndef ORB_BENCH_MACHINE_CEILINGS_H
#define ORB_BENCH_MACHINE_CEILINGS_H

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench_support.h"

namespace bench {

// The arithmetic loops, in assembly so that nothing but the operations and
// the loop runs.  Twelve independent accumulators hide the FMA latency; R is
// the register prefix of the width ("xmm", "ymm", "zmm").  The registers are
// zeroed through their 128-bit names, which clears the whole register.
#define ORB_BENCH_FMA12_LOOP(R)                                                                             \
    "vxorps %%xmm0, %%xmm0, %%xmm0\n\t"                                                                      \
    "vmovaps %%" R "0, %%" R "1\n\t vmovaps %%" R "0, %%" R "2\n\t vmovaps %%" R "0, %%" R "3\n\t"           \
    "vmovaps %%" R "0, %%" R "4\n\t vmovaps %%" R "0, %%" R "5\n\t vmovaps %%" R "0, %%" R "6\n\t"           \
    "vmovaps %%" R "0, %%" R "7\n\t vmovaps %%" R "0, %%" R "8\n\t vmovaps %%" R "0, %%" R "9\n\t"           \
    "vmovaps %%" R "0, %%" R "10\n\t vmovaps %%" R "0, %%" R "11\n\t"                                       \
    "vmovaps %%" R "0, %%" R "14\n\t vmovaps %%" R "0, %%" R "15\n\t"                                       \
    "1:\n\t"                                                                                                 \
    "vfmadd231ps %%" R "14, %%" R "15, %%" R "0\n\t vfmadd231ps %%" R "14, %%" R "15, %%" R "1\n\t"          \
    "vfmadd231ps %%" R "14, %%" R "15, %%" R "2\n\t vfmadd231ps %%" R "14, %%" R "15, %%" R "3\n\t"          \
    "vfmadd231ps %%" R "14, %%" R "15, %%" R "4\n\t vfmadd231ps %%" R "14, %%" R "15, %%" R "5\n\t"          \
    "vfmadd231ps %%" R "14, %%" R "15, %%" R "6\n\t vfmadd231ps %%" R "14, %%" R "15, %%" R "7\n\t"          \
    "vfmadd231ps %%" R "14, %%" R "15, %%" R "8\n\t vfmadd231ps %%" R "14, %%" R "15, %%" R "9\n\t"          \
    "vfmadd231ps %%" R "14, %%" R "15, %%" R "10\n\t vfmadd231ps %%" R "14, %%" R "15, %%" R "11\n\t"        \
    "dec %0\n\t jnz 1b\n\t vzeroupper"

// Eight independent multiply results feeding eight independent add chains,
// the pattern of the SSE kernels.
#define ORB_BENCH_MULADD128_LOOP                                                                  \
    "xorps %%xmm0, %%xmm0\n\t movaps %%xmm0, %%xmm1\n\t movaps %%xmm0, %%xmm2\n\t"                 \
    "movaps %%xmm0, %%xmm3\n\t movaps %%xmm0, %%xmm4\n\t movaps %%xmm0, %%xmm5\n\t"                \
    "movaps %%xmm0, %%xmm6\n\t movaps %%xmm0, %%xmm7\n\t movaps %%xmm0, %%xmm15\n\t"               \
    "1:\n\t"                                                                                       \
    "movaps %%xmm15, %%xmm8\n\t mulps %%xmm15, %%xmm8\n\t addps %%xmm8, %%xmm0\n\t"                \
    "movaps %%xmm15, %%xmm9\n\t mulps %%xmm15, %%xmm9\n\t addps %%xmm9, %%xmm1\n\t"                \
    "movaps %%xmm15, %%xmm10\n\t mulps %%xmm15, %%xmm10\n\t addps %%xmm10, %%xmm2\n\t"             \
    "movaps %%xmm15, %%xmm11\n\t mulps %%xmm15, %%xmm11\n\t addps %%xmm11, %%xmm3\n\t"             \
    "movaps %%xmm15, %%xmm12\n\t mulps %%xmm15, %%xmm12\n\t addps %%xmm12, %%xmm4\n\t"             \
    "movaps %%xmm15, %%xmm13\n\t mulps %%xmm15, %%xmm13\n\t addps %%xmm13, %%xmm5\n\t"             \
    "movaps %%xmm15, %%xmm14\n\t mulps %%xmm15, %%xmm14\n\t addps %%xmm14, %%xmm6\n\t"             \
    "movaps %%xmm15, %%xmm8\n\t mulps %%xmm15, %%xmm8\n\t addps %%xmm8, %%xmm7\n\t"                \
    "dec %0\n\t jnz 1b"

#define ORB_BENCH_LOOP_CLOBBERS                                                                           \
    "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", \
        "xmm13", "xmm14", "xmm15", "cc"

// The arithmetic ceilings.
enum class Peak {
    fma128,     // 128-bit fused multiply-add
    fma256,     // 256-bit fused multiply-add
    fma512,     // 512-bit fused multiply-add (AVX-512 only)
    muladd128,  // 128-bit multiply and add issued side by side
};

inline const char *peak_name(Peak p) {
    switch (p) {
    case Peak::fma128: return "128-bit FMA";
    case Peak::fma256: return "256-bit FMA";
    case Peak::fma512: return "512-bit FMA";
    case Peak::muladd128: return "128-bit multiply+add";
    }
    return "?";
}

// Flops of one loop iteration.
inline double peak_flops_per_iteration(Peak p) {
    switch (p) {
    case Peak::fma128: return 12 * 8;
    case Peak::fma256: return 12 * 16;
    case Peak::fma512: return 12 * 32;
    case Peak::muladd128: return 8 * 8;
    }
    return 0;
}

inline void run_peak_loop(Peak p, long iterations) {
    switch (p) {
    case Peak::fma128: __asm__ volatile(ORB_BENCH_FMA12_LOOP("xmm") : "+r"(iterations) : : ORB_BENCH_LOOP_CLOBBERS); break;
    case Peak::fma256: __asm__ volatile(ORB_BENCH_FMA12_LOOP("ymm") : "+r"(iterations) : : ORB_BENCH_LOOP_CLOBBERS); break;
    case Peak::fma512: __asm__ volatile(ORB_BENCH_FMA12_LOOP("zmm") : "+r"(iterations) : : ORB_BENCH_LOOP_CLOBBERS); break;
    case Peak::muladd128: __asm__ volatile(ORB_BENCH_MULADD128_LOOP : "+r"(iterations) : : ORB_BENCH_LOOP_CLOBBERS); break;
    }
}

// Whether this machine runs the loop of p.
inline bool peak_runs_here(Peak p) {
    __builtin_cpu_init();
    switch (p) {
    case Peak::fma128:
    case Peak::fma256: return __builtin_cpu_supports("fma") && __builtin_cpu_supports("avx");
    case Peak::fma512: return __builtin_cpu_supports("avx512f");
    case Peak::muladd128: return true;
    }
    return false;
}

// Runs work(thread index) on `threads` threads started together and returns
// the sum of what they return.
template <typename Work>
double on_threads(int threads, Work work) {
    std::vector<double> results(threads, 0.0);
    std::atomic<int> ready{0};
    std::vector<std::thread> team;
    for (int t = 0; t < threads; ++t)
        team.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < threads) {
            }
            results[t] = work(t);
        });
    for (std::thread &member : team) member.join();
    double sum = 0;
    for (double r : results) sum += r;
    return sum;
}

// Flops per second of p on `threads` cores at once; 0 where it cannot run.
inline double measure_peak(Peak p, int threads = 1) {
    if (!peak_runs_here(p)) return 0;
    const long iterations = 4000000;
    return on_threads(threads, [&](int) {
        double best = 0;
        for (int trial = 0; trial < 60; ++trial) {
            const double t0 = seconds();
            run_peak_loop(p, iterations);
            best = std::max(best, iterations * peak_flops_per_iteration(p) / (seconds() - t0));
        }
        return best;
    });
}

typedef float ReadVector __attribute__((vector_size(32)));

// Sums `streams` streams of per_stream vectors starting at part, each into
// its own accumulator; returns a value that depends on every element.
__attribute__((target("avx"))) inline float read_streams(const ReadVector *part, size_t per_stream) {
    constexpr size_t kStreams = 8;
    ReadVector sum[kStreams] = {};
    for (size_t i = 0; i < per_stream; ++i)
        for (size_t s = 0; s < kStreams; ++s) sum[s] += part[s * per_stream + i];
    float total = 0;
    for (const ReadVector &v : sum) total += v[0];
    return total;
}

// Bytes per second read from memory by `threads` cores at once: 256 MiB,
// far larger than the caches, split among the threads, each reading its part
// as eight streams at once (as a column-major SGEMV reads several columns),
// each stream summed into its own 256-bit accumulator; best of five passes.
inline double measure_read_bandwidth(int threads = 1) {
    const size_t vectors = (size_t(256) << 20) / sizeof(ReadVector);
    std::vector<ReadVector> data(vectors, ReadVector{} + 1.0f);
    const size_t share = vectors / threads, per_stream = share / 8;
    double best = 0, sink = 0;
    for (int pass = 0; pass < 5; ++pass) {
        const double t0 = seconds();
        sink += on_threads(threads, [&](int t) { return read_streams(data.data() + t * share, per_stream); });
        best = std::max(best, per_stream * 8 * threads * sizeof(ReadVector) / (seconds() - t0));
    }
    if (sink == 0.5) std::printf(" ");
    return best;
}

}  // namespace bench

#endif
