// sgemv_bench - SGEMV speed of libvorte_blas against baseline libraries.
//
// SGEMV reads every element of A once, so a large product runs at the speed
// memory delivers A.  The single-core streaming read bandwidth is measured
// first (eight streams summed over 256 MiB); every large-product figure is then
// given in GB/s of A and as a share of that bandwidth.  Cache-resident
// products (1024 x 1024) are compared in GFLOPS, and once more with x and y
// at the start of a page that follows an inaccessible one (rows N@, T@), as
// vectors at the start of a fresh mapping lie: a kernel that let masked-out
// lanes fall on that page would pay a fault-suppression assist per access.  Every library is loaded
// with dlopen into the same process and called through cblas_sgemv in
// column-major layout on the same operands, with the same thread count.
//
//   sgemv_bench LIBVORTE_BLAS [BASELINE_LIBRARY...]
// Set libvorte_blas's processor identity before starting; run_sgemv_bench.sh
// runs it once for the AVX-512 and once for the AVX2 kernel set.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "machine_ceilings.h"

namespace {

using bench::Library;

struct Case {
    char trans;              // 'N' or 'T'
    int m, n;                // A is m x n
    int threads;             // thread count given to every library
    bool vectors_at_page;    // x and y begin a page that follows an inaccessible one
};

// Room for count floats that begin a page following an inaccessible page,
// as a vector at the start of a fresh mapping does; otherwise an ordinary
// allocation.
class VectorStore {
public:
    VectorStore(size_t count, bool at_page) : bytes_(count * sizeof(float)) {
        if (!at_page) {
            heap_.resize(count);
            data_ = heap_.data();
            return;
        }
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        mapped_ = (bytes_ + page - 1) / page * page + page;
        void *m = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) {
            std::perror("mmap");
            std::exit(1);
        }
        mprotect(m, page, PROT_NONE);
        mapping_ = m;
        data_ = reinterpret_cast<float *>(static_cast<char *>(m) + page);
    }
    VectorStore(const VectorStore &) = delete;
    VectorStore &operator=(const VectorStore &) = delete;
    ~VectorStore() {
        if (mapping_) munmap(mapping_, mapped_);
    }
    float *data() const { return data_; }

private:
    size_t bytes_;               // bytes of the floats
    std::vector<float> heap_;    // the floats, when not at a page
    void *mapping_ = nullptr;    // guard page and data pages, when at a page
    size_t mapped_ = 0;          // bytes mapped
    float *data_ = nullptr;      // the floats
};

// Best seconds of the product on every library, timed in alternation.
std::vector<double> time_sgemv(const std::vector<Library> &libs, const Case &c, const float *a, const float *x,
                               float *y) {
    int trans = c.trans == 'N' ? bench::kNoTrans : bench::kTrans;
    std::vector<std::function<void()>> runs;
    for (const Library &lib : libs) {
        if (lib.set_threads) lib.set_threads(c.threads);
        runs.push_back([&, trans] {
            lib.sgemv(bench::kColMajor, trans, c.m, c.n, 1.0f, a, c.m, x, 1, 0.5f, y, 1);
        });
    }
    return bench::best_times_alternating(runs, 5, 0.08, c.threads > 1 ? bench::kSpinOutPause : 0.0);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s LIBVORTE_BLAS [BASELINE_LIBRARY...]\n", argv[0]);
        return 2;
    }
    std::vector<Library> libs;
    for (int i = 1; i < argc; ++i) {
        Library lib;
        std::string label = i == 1 ? "libvorte_blas" : argv[i];
        label = label.substr(label.find_last_of('/') + 1);
        if (bench::load_library(argv[i], i == 1 ? "libvorte_blas" : label.c_str(), lib) && lib.sgemv)
            libs.push_back(lib);
        else if (i == 1)
            return 1;
    }

    double bandwidth = bench::measure_read_bandwidth();
    std::printf("single-core streaming read bandwidth: %.1f GB/s\n\n", bandwidth / 1e9);

    const Case cases[] = {{'N', 4096, 4096, 1, false}, {'T', 4096, 4096, 1, false}, {'N', 1024, 1024, 1, false},
                          {'T', 1024, 1024, 1, false}, {'N', 4096, 4096, 2, false}, {'T', 4096, 4096, 2, false},
                          {'N', 1024, 1024, 1, true},  {'T', 1024, 1024, 1, true}};
    std::printf("%-5s %-12s %-8s", "op", "m x n", "threads");
    for (const Library &lib : libs) std::printf(" %34s", lib.label.c_str());
    std::printf("  ours/best other\n");
    std::printf("(N@, T@: x and y begin a page that follows an inaccessible page)\n");

    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (const Case &c : cases) {
        const size_t len = static_cast<size_t>(std::max(c.m, c.n));
        std::vector<float> a(size_t(c.m) * c.n);
        VectorStore x(len, c.vectors_at_page), y(len, c.vectors_at_page);
        for (float &v : a) v = dist(rng);
        for (size_t i = 0; i < len; ++i) x.data()[i] = dist(rng);
        for (size_t i = 0; i < len; ++i) y.data()[i] = dist(rng);
        char op[8], dims[32];
        std::snprintf(op, sizeof op, "%c%s", c.trans, c.vectors_at_page ? "@" : "");
        std::snprintf(dims, sizeof dims, "%d x %d", c.m, c.n);
        std::printf("%-5s %-12s %-8d", op, dims, c.threads);
        double ours = 0, best_other = 0;
        const std::vector<double> seconds = time_sgemv(libs, c, a.data(), x.data(), y.data());
        for (size_t i = 0; i < libs.size(); ++i) {
            double t = seconds[i];
            double gbs = 4.0 * c.m * c.n / t / 1e9, gflops = 2.0 * c.m * c.n / t / 1e9;
            std::printf("   %6.1f GB/s %5.1f%% %6.1f GFLOPS", gbs, 100.0 * gbs * 1e9 / bandwidth, gflops);
            (i == 0 ? ours : best_other) = std::max(i == 0 ? ours : best_other, gflops);
        }
        if (best_other > 0) std::printf("  %6.2f", ours / best_other);
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}
