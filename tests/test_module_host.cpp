// The backend object as a host runtime sees it.  This program does not link
// the library: it includes only the public interface header, loads the
// shared library with dlopen and finds the factory with dlsym, exactly as the
// inference runtime does.  It checks the slot order of the interface (by
// calling through hand-indexed virtual-table entries, which catches an
// interface whose operations were reordered in both host and library), the
// run-time type of the object, the provider name and its lifetime, that the
// half-precision operations do nothing, row-major SGEMM and SGEMV results
// against a double-precision row-major loop, the reinterpretation of
// unsigned counts of 2^31 and more, concurrent host threads on one object,
// and a second object outliving the first.
#include <cxxabi.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "support/reference_gemm.h"
#include "vorte/blas_module.h"

namespace {

using vorte::blas::BlasModule;

// ---------------------------------------------------------------------------
// The library as loaded by the host
// ---------------------------------------------------------------------------

using CreateFn = void *(*)();
using DestroyFn = void (*)(void *);
using ErrorHandler = void (*)(const char *name, const int64_t *info, int len);
using SetErrorHandlerFn = ErrorHandler (*)(ErrorHandler);

// The entries the host looks up.
struct Library {
    void *handle = nullptr;                      // dlopen handle, kept for the whole run
    CreateFn create = nullptr;                   // createBlasInstance
    DestroyFn destroy = nullptr;                 // destroyBlasInstance
    SetErrorHandlerFn set_handler = nullptr;     // orb_serv_set_xerbla
};

const Library &library() {
    static const Library loaded = [] {
        Library lib;
        lib.handle = dlopen(ORB_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (lib.handle == nullptr) return lib;
        lib.create = reinterpret_cast<CreateFn>(dlsym(lib.handle, "createBlasInstance"));
        lib.destroy = reinterpret_cast<DestroyFn>(dlsym(lib.handle, "destroyBlasInstance"));
        lib.set_handler = reinterpret_cast<SetErrorHandlerFn>(dlsym(lib.handle, "orb_serv_set_xerbla"));
        return lib;
    }();
    return loaded;
}

// One reported argument error.
struct Report {
    std::string name;  // routine name, len characters
    int64_t info;      // parameter number
};

std::vector<Report> reports;

void record_report(const char *name, const int64_t *info, int len) { reports.push_back({std::string(name, len), *info}); }

// Loads the library, checks its entries and records argument errors.
class ModuleHost : public ::testing::Test {
protected:
    void SetUp() override {
        const Library &lib = library();
        ASSERT_NE(lib.handle, nullptr) << dlerror();
        ASSERT_NE(lib.create, nullptr);
        ASSERT_NE(lib.destroy, nullptr);
        ASSERT_NE(lib.set_handler, nullptr);
        reports.clear();
        previous_ = lib.set_handler(record_report);
    }
    void TearDown() override { library().set_handler(previous_); }

    static BlasModule *create() { return static_cast<BlasModule *>(library().create()); }
    static void destroy(BlasModule *module) { library().destroy(module); }

private:
    ErrorHandler previous_ = nullptr;
};

// ---------------------------------------------------------------------------
// Row-major operands and the double-precision reference
// ---------------------------------------------------------------------------

constexpr float kSentinel = -777.25f;

// Deterministic values in [-1, 1) from a small linear congruential sequence.
std::vector<float> filled(size_t count, uint32_t seed) {
    std::vector<float> v(count);
    uint32_t state = seed * 2654435761u + 12345u;
    for (float &x : v) {
        state = state * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<int32_t>(state >> 8) % 2048) / 1024.0f;
    }
    return v;
}

// A row-major product C = alpha*op(A)*op(B) + beta*C as the host states it.
struct RowMajorProduct {
    bool trans_a, trans_b;    // whether A and B are given transposed
    uint32_t m, n, k;         // op(A) is m x k, op(B) k x n, C m x n
    float alpha, beta;        // scales of the product and of C
    uint32_t lda, ldb, ldc;   // distances between row starts
    std::vector<float> a, b, c;

    RowMajorProduct(bool ta, bool tb, uint32_t m_, uint32_t n_, uint32_t k_, float al, float be, uint32_t seed)
        : trans_a(ta), trans_b(tb), m(m_), n(n_), k(k_), alpha(al), beta(be) {
        const uint32_t rows_a = ta ? k : m, cols_a = ta ? m : k;
        const uint32_t rows_b = tb ? n : k, cols_b = tb ? k : n;
        lda = cols_a + 2, ldb = cols_b + 5, ldc = n + 3;
        a = filled(size_t{rows_a} * lda, seed);
        b = filled(size_t{rows_b} * ldb, seed + 1);
        c = filled(size_t{m} * ldc, seed + 2);
    }

    double op_a(uint32_t i, uint32_t l) const { return trans_a ? a[size_t{l} * lda + i] : a[size_t{i} * lda + l]; }
    double op_b(uint32_t l, uint32_t j) const { return trans_b ? b[size_t{j} * ldb + l] : b[size_t{l} * ldb + j]; }

    // The exact new C (m x n, dense) and the size of its terms.
    void expected(std::vector<double> &exact, std::vector<double> &magnitude) const {
        exact.assign(size_t{m} * n, 0.0), magnitude.assign(size_t{m} * n, 0.0);
        for (uint32_t i = 0; i < m; ++i)
            for (uint32_t j = 0; j < n; ++j) {
                double sum = 0.0, size = 0.0;
                for (uint32_t l = 0; l < k; ++l) {
                    const double p = op_a(i, l) * op_b(l, j);
                    sum += p, size += std::fabs(p);
                }
                const double cin = double{beta} * c[size_t{i} * ldc + j];
                exact[size_t{i} * n + j] = alpha * sum + cin;
                magnitude[size_t{i} * n + j] = std::fabs(alpha) * size + std::fabs(cin);
            }
    }

    void run(BlasModule &module) {
        module.sgemm(trans_a, trans_b, m, n, k, alpha, a.data(), lda, b.data(), ldb, beta, c.data(), ldc);
    }
};

// Compares C after the call; the padding of every row must be unchanged.
::testing::AssertionResult matches(const RowMajorProduct &p, const std::vector<float> &input_c,
                                   const std::vector<double> &exact, const std::vector<double> &magnitude) {
    for (uint32_t i = 0; i < p.m; ++i)
        for (uint32_t j = 0; j < p.ldc; ++j) {
            const size_t at = size_t{i} * p.ldc + j;
            if (j >= p.n) {
                if (p.c[at] != input_c[at]) return ::testing::AssertionFailure() << "padding changed at " << i;
                continue;
            }
            const size_t e = size_t{i} * p.n + j;
            const double bound = gemm_error_bound(p.k, magnitude[e]);
            if (!(std::fabs(p.c[at] - exact[e]) <= bound))
                return ::testing::AssertionFailure() << "C(" << i << "," << j << ") = " << p.c[at] << ", expected "
                                                     << exact[e] << " (transA " << p.trans_a << ", transB "
                                                     << p.trans_b << ")";
        }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult run_and_compare(BlasModule &module, RowMajorProduct &p) {
    std::vector<double> exact, magnitude;
    p.expected(exact, magnitude);
    const std::vector<float> input_c = p.c;
    p.run(module);
    return matches(p, input_c, exact, magnitude);
}

// A row-major y = alpha*op(A)*x + beta*y with A m x n.
struct RowMajorMatVec {
    bool trans;              // whether op(A) is the transpose
    uint32_t m, n, lda;      // A's rows, columns and row distance
    float alpha, beta;       // scales of the product and of y
    int32_t incx, incy;      // vector increments (negative: from the end)
    std::vector<float> a, x, y;

    RowMajorMatVec(bool t, uint32_t m_, uint32_t n_, float al, float be, int32_t ix, int32_t iy, uint32_t seed)
        : trans(t), m(m_), n(n_), lda(n_ + 3), alpha(al), beta(be), incx(ix), incy(iy) {
        a = filled(size_t{m} * lda, seed);
        x = filled(size_t{x_length()} * std::abs(incx), seed + 1);
        y = filled(size_t{y_length()} * std::abs(incy), seed + 2);
    }

    uint32_t x_length() const { return trans ? m : n; }
    uint32_t y_length() const { return trans ? n : m; }

    // Element i of a vector of length len under the BLAS increment rule.
    static size_t element(int32_t inc, uint32_t len, uint32_t i) {
        return inc > 0 ? size_t{i} * inc : size_t{len - 1 - i} * static_cast<size_t>(-int64_t{inc});
    }

    void expected(std::vector<double> &exact, std::vector<double> &magnitude) const {
        exact.assign(y_length(), 0.0), magnitude.assign(y_length(), 0.0);
        for (uint32_t i = 0; i < y_length(); ++i) {
            double sum = 0.0, size = 0.0;
            for (uint32_t l = 0; l < x_length(); ++l) {
                const double aval = trans ? a[size_t{l} * lda + i] : a[size_t{i} * lda + l];
                const double p = aval * x[element(incx, x_length(), l)];
                sum += p, size += std::fabs(p);
            }
            const double yin = double{beta} * y[element(incy, y_length(), i)];
            exact[i] = alpha * sum + yin;
            magnitude[i] = std::fabs(alpha) * size + std::fabs(yin);
        }
    }

    // Increments travel as the unsigned counts of the interface, bit for bit.
    void run(BlasModule &module) {
        module.sgemv(trans, m, n, alpha, a.data(), lda, x.data(), static_cast<uint32_t>(incx), beta, y.data(),
                     static_cast<uint32_t>(incy));
    }
};

::testing::AssertionResult run_and_compare(BlasModule &module, RowMajorMatVec &p) {
    std::vector<double> exact, magnitude;
    p.expected(exact, magnitude);
    const std::vector<float> input_y = p.y;
    p.run(module);
    for (uint32_t i = 0; i < p.y_length() * static_cast<uint32_t>(std::abs(p.incy)); ++i) {
        const bool is_element = i % static_cast<uint32_t>(std::abs(p.incy)) == 0;
        if (!is_element && p.y[i] != input_y[i]) return ::testing::AssertionFailure() << "gap of y changed at " << i;
    }
    for (uint32_t i = 0; i < p.y_length(); ++i) {
        const float got = p.y[RowMajorMatVec::element(p.incy, p.y_length(), i)];
        const double bound = gemm_error_bound(p.x_length(), magnitude[i]);
        if (!(std::fabs(got - exact[i]) <= bound))
            return ::testing::AssertionFailure() << "y(" << i << ") = " << got << ", expected " << exact[i]
                                                 << " (trans " << p.trans << ", m " << p.m << ", n " << p.n
                                                 << ", incx " << p.incx << ", incy " << p.incy << ")";
    }
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// Interface shape: slots, type, provider, lifetime
// ---------------------------------------------------------------------------

#if defined(__x86_64__) && defined(__linux__)
// The virtual table of an object as the x86-64 C++ ABI lays it out: the
// object starts with a pointer to slot 0.  Calling slot s through a plain
// function pointer whose first parameter is the object is the same call as
// the virtual call (a class result travels through a hidden pointer placed
// before the object in both cases).
void *const *slots_of(BlasModule *module) { return *reinterpret_cast<void *const *const *>(module); }

template <typename Fn>
Fn slot(BlasModule *module, int index) {
    return reinterpret_cast<Fn>(slots_of(module)[index]);
}

using BoolSlot = bool (*)(BlasModule *);
using ProviderSlot = std::weak_ptr<std::string> (*)(BlasModule *);
using SgemmSlot = void (*)(BlasModule *, bool, bool, uint32_t, uint32_t, uint32_t, float, const float *, uint32_t,
                           const float *, uint32_t, float, float *, uint32_t);
using SgemvSlot = void (*)(BlasModule *, bool, uint32_t, uint32_t, float, const float *, uint32_t, const float *,
                           uint32_t, float, float *, uint32_t);
using HgemmSlot = void (*)(BlasModule *, bool, bool, uint32_t, uint32_t, uint32_t, float, const void *, uint32_t,
                           const void *, uint32_t, float, void *, uint32_t);
using HgemvSlot = void (*)(BlasModule *, bool, uint32_t, uint32_t, float, const void *, uint32_t, const void *,
                           uint32_t, float, void *, uint32_t);
using DestructorSlot = void (*)(BlasModule *);

TEST_F(ModuleHost, EveryOperationSitsInItsSlot) {
    BlasModule *module = create();
    ASSERT_NE(module, nullptr);

    EXPECT_TRUE(slot<BoolSlot>(module, 2)(module));   // isBlasEnabled
    EXPECT_FALSE(slot<BoolSlot>(module, 3)(module));  // isHalfSupported
    std::shared_ptr<std::string> name = slot<ProviderSlot>(module, 4)(module).lock();
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, "ORB");
    name.reset();

    // Slot 5 computes a product, slot 6 a matrix-vector product.
    RowMajorProduct p(false, true, 5, 4, 3, 1.5f, 0.5f, 11);
    std::vector<double> exact, magnitude;
    p.expected(exact, magnitude);
    const std::vector<float> input_c = p.c;
    slot<SgemmSlot>(module, 5)(module, p.trans_a, p.trans_b, p.m, p.n, p.k, p.alpha, p.a.data(), p.lda, p.b.data(),
                               p.ldb, p.beta, p.c.data(), p.ldc);
    EXPECT_TRUE(matches(p, input_c, exact, magnitude));

    RowMajorMatVec v(true, 6, 4, -1.0f, 2.0f, 1, 1, 12);
    v.expected(exact, magnitude);
    slot<SgemvSlot>(module, 6)(module, v.trans, v.m, v.n, v.alpha, v.a.data(), v.lda, v.x.data(), 1, v.beta,
                               v.y.data(), 1);
    for (uint32_t i = 0; i < v.y_length(); ++i)
        EXPECT_NEAR(v.y[i], exact[i], gemm_error_bound(v.x_length(), magnitude[i])) << i;

    // Slots 7 and 8 do nothing, even with inputs that could not be read.
    std::vector<float> out(8, kSentinel);
    slot<HgemmSlot>(module, 7)(module, false, false, 2, 2, 2, 1.0f, nullptr, 2, nullptr, 2, 0.0f, out.data(), 2);
    slot<HgemvSlot>(module, 8)(module, false, 2, 2, 1.0f, nullptr, 2, nullptr, 1, 0.0f, out.data(), 1);
    for (float x : out) EXPECT_EQ(x, kSentinel);

    // Slot 1 destroys and frees: the provider name goes with the object.
    std::weak_ptr<std::string> provider = module->getBlasProvider();
    slot<DestructorSlot>(module, 1)(module);
    EXPECT_TRUE(provider.expired());
    EXPECT_TRUE(reports.empty());
}

TEST_F(ModuleHost, SlotZeroDestroysWithoutFreeing) {
    BlasModule *module = create();
    ASSERT_NE(module, nullptr);
    std::weak_ptr<std::string> provider = module->getBlasProvider();
    slot<DestructorSlot>(module, 0)(module);
    EXPECT_TRUE(provider.expired());
    // The storage is still the host's to free (a second free would be caught
    // by the allocator's checks under the sanitizer builds).
    ::operator delete(static_cast<void *>(module));
}
#endif

TEST_F(ModuleHost, TheObjectIsIdentifiedByType) {
    BlasModule *module = create();
    ASSERT_NE(module, nullptr);
    // The object's dynamic type is the library's own class, and the host's
    // type information for the interface names its base.
    const std::type_info &dynamic_type = typeid(*module);
    EXPECT_NE(dynamic_type, typeid(BlasModule));
    EXPECT_STREQ(dynamic_type.name(), "N5vorte4blas9ORBModuleE");
    const auto *single_base = dynamic_cast<const abi::__si_class_type_info *>(&dynamic_type);
    ASSERT_NE(single_base, nullptr) << "expected one public base";
    EXPECT_TRUE(*single_base->__base_type == typeid(BlasModule));
    // Both views of the object start at the same address.
    EXPECT_EQ(dynamic_cast<void *>(module), static_cast<void *>(module));
    destroy(module);
}

TEST_F(ModuleHost, FlagsAndProviderOfEveryObject) {
    BlasModule *first = create();
    BlasModule *second = create();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    for (BlasModule *module : {first, second}) {
        EXPECT_TRUE(module->isBlasEnabled());
        EXPECT_FALSE(module->isHalfSupported());
        std::weak_ptr<std::string> provider = module->getBlasProvider();
        // The object holds the only strong reference.
        EXPECT_EQ(provider.use_count(), 1);
        std::shared_ptr<std::string> name = provider.lock();
        ASSERT_TRUE(name);
        EXPECT_EQ(*name, "ORB");
    }
    std::weak_ptr<std::string> first_provider = first->getBlasProvider();
    std::weak_ptr<std::string> second_provider = second->getBlasProvider();
    destroy(first);
    EXPECT_TRUE(first_provider.expired());
    EXPECT_FALSE(second_provider.expired());
    destroy(second);
    EXPECT_TRUE(second_provider.expired());
}

TEST_F(ModuleHost, DestroyingNullDoesNothing) {
    destroy(nullptr);
    EXPECT_TRUE(reports.empty());
}

TEST_F(ModuleHost, HalfPrecisionOperationsTouchNothing) {
    BlasModule *module = create();
    ASSERT_NE(module, nullptr);
    std::vector<float> out(16, kSentinel);
    // Null inputs and counts that would be rejected: nothing is read,
    // written or reported.
    module->hgemm(true, false, 2, 2, 2, 1.0f, nullptr, 2, nullptr, 2, 0.0f, out.data(), 2);
    module->hgemm(false, false, 1u << 31, 4, 4, 1.0f, nullptr, 0, nullptr, 0, 0.0f, out.data(), 0);
    module->hgemv(false, 4, 4, 1.0f, nullptr, 4, nullptr, 1, 0.0f, out.data(), 1);
    module->hgemv(true, 4, 4, 1.0f, nullptr, 0, nullptr, 0, 0.0f, out.data(), 0);
    for (float x : out) EXPECT_EQ(x, kSentinel);
    EXPECT_TRUE(reports.empty());
    destroy(module);
}

// ---------------------------------------------------------------------------
// Products
// ---------------------------------------------------------------------------

TEST_F(ModuleHost, SgemmIsTheRowMajorProductForEveryTransposition) {
    BlasModule *module = create();
    ASSERT_NE(module, nullptr);
    struct Shape {
        uint32_t m, n, k;  // sizes of the product
    };
    const Shape shapes[] = {{1, 1, 1}, {7, 5, 3}, {37, 29, 41}, {64, 48, 80}, {3, 70, 1}, {1, 33, 17}, {40, 1, 9}};
    uint32_t seed = 100;
    for (const Shape &s : shapes)
        for (bool ta : {false, true})
            for (bool tb : {false, true}) {
                RowMajorProduct p(ta, tb, s.m, s.n, s.k, 0.75f, -1.25f, seed++);
                EXPECT_TRUE(run_and_compare(*module, p)) << s.m << "x" << s.n << "x" << s.k;
            }
    EXPECT_TRUE(reports.empty());
    destroy(module);
}

TEST_F(ModuleHost, SgemvIsTheRowMajorProduct) {
    BlasModule *module = create();
    ASSERT_NE(module, nullptr);
    struct Shape {
        uint32_t m, n;       // sizes of A
        int32_t incx, incy;  // increments
    };
    // An increment of 2^32 - 1 reaches the CBLAS entry as -1: x is read
    // from its end.
    const Shape shapes[] = {{1, 1, 1, 1}, {9, 13, 1, 1}, {45, 33, 2, 3}, {130, 70, 1, 1},
                            {17, 150, -1, 1}, {31, 8, 1, -2}};
    uint32_t seed = 300;
    for (const Shape &s : shapes)
        for (bool trans : {false, true}) {
            RowMajorMatVec v(trans, s.m, s.n, 1.25f, -0.5f, s.incx, s.incy, seed++);
            EXPECT_TRUE(run_and_compare(*module, v));
        }
    EXPECT_TRUE(reports.empty());
    destroy(module);
}

TEST_F(ModuleHost, SgemvWithAlphaZeroAndBetaOneLeavesYAlone) {
    BlasModule *module = create();
    ASSERT_NE(module, nullptr);
    std::vector<float> a(12, std::numeric_limits<float>::quiet_NaN()), x(4, 1.0f), y(4, kSentinel);
    module->sgemv(false, 3, 4, 0.0f, a.data(), 4, x.data(), 1, 1.0f, y.data(), 1);
    for (float v : y) EXPECT_EQ(v, kSentinel);
    EXPECT_TRUE(reports.empty());
    destroy(module);
}

// Counts of 2^31 and more arrive negative and are reported with the CBLAS
// parameter numbers; the output is left alone.
TEST_F(ModuleHost, HugeCountsAreReportedByTheEntryPoints) {
    BlasModule *module = create();
    ASSERT_NE(module, nullptr);
    std::vector<float> a(64, 1.0f), b(64, 1.0f), c(64, kSentinel);
    const uint32_t huge = 1u << 31;

    struct GemmCase {
        uint32_t m, n, k, lda, ldb, ldc;  // the counts passed
        int64_t parameter;                // expected cblas_sgemm parameter
    };
    const GemmCase gemm_cases[] = {
        {huge, 2, 2, 2, 2, 2, 4},         {2, huge, 2, 2, 2, 2, 5},
        {2, 2, huge + 7, 2, 2, 2, 6},     {2, 2, 2, huge + 2, 2, 2, 9},
        {2, 2, 2, 2, 0xFFFFFFFFu, 2, 11}, {2, 2, 2, 2, 2, huge, 14},
    };
    for (const GemmCase &g : gemm_cases) {
        reports.clear();
        module->sgemm(false, true, g.m, g.n, g.k, 1.0f, a.data(), g.lda, b.data(), g.ldb, 0.0f, c.data(), g.ldc);
        ASSERT_EQ(reports.size(), 1u) << g.parameter;
        EXPECT_EQ(reports[0].name, "cblas_sgemm");
        EXPECT_EQ(reports[0].info, g.parameter);
    }

    struct GemvCase {
        uint32_t m, n, lda, incx, incy;  // the counts passed
        int64_t parameter;               // expected cblas_sgemv parameter
    };
    const GemvCase gemv_cases[] = {
        {huge, 2, 2, 1, 1, 3}, {2, huge, 2, 1, 1, 4}, {2, 2, huge, 1, 1, 7},
        {2, 2, 2, 0, 1, 9},    {2, 2, 2, 1, 0, 12},
    };
    for (const GemvCase &g : gemv_cases) {
        reports.clear();
        module->sgemv(true, g.m, g.n, 1.0f, a.data(), g.lda, b.data(), g.incx, 0.0f, c.data(), g.incy);
        ASSERT_EQ(reports.size(), 1u) << g.parameter;
        EXPECT_EQ(reports[0].name, "cblas_sgemv");
        EXPECT_EQ(reports[0].info, g.parameter);
    }
    for (float x : c) EXPECT_EQ(x, kSentinel);
    destroy(module);
}

// ---------------------------------------------------------------------------
// Several host threads, several objects
// ---------------------------------------------------------------------------

TEST_F(ModuleHost, EightHostThreadsShareOneObject) {
    BlasModule *module = create();
    ASSERT_NE(module, nullptr);
    constexpr int kThreads = 8, kRounds = 6;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const uint32_t seed = static_cast<uint32_t>(1000 + 37 * t + round);
                RowMajorProduct p(t % 2 == 1, round % 2 == 1, 20 + t, 30 - t, 11 + 3 * round, 1.0f, 0.5f, seed);
                if (!run_and_compare(*module, p)) ++failures[t];
                RowMajorMatVec v(round % 2 == 0, 40 + 5 * t, 25 + round, -0.75f, 1.5f, 1 + t % 2, 1, seed);
                if (!run_and_compare(*module, v)) ++failures[t];
            }
        });
    for (std::thread &thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_TRUE(reports.empty());
    destroy(module);
}

TEST_F(ModuleHost, SecondObjectWorksAfterTheFirstIsDestroyed) {
    BlasModule *first = create();
    BlasModule *second = create();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    // Large enough to use pooled work buffers, which the first destruction
    // releases for the whole process.
    RowMajorProduct warm(false, false, 96, 96, 96, 1.0f, 0.0f, 7);
    EXPECT_TRUE(run_and_compare(*first, warm));
    destroy(first);
    for (bool ta : {false, true}) {
        RowMajorProduct p(ta, !ta, 96, 80, 112, -1.0f, 1.0f, 8);
        EXPECT_TRUE(run_and_compare(*second, p));
    }
    RowMajorMatVec v(false, 200, 150, 1.0f, 0.0f, 1, 1, 9);
    EXPECT_TRUE(run_and_compare(*second, v));
    EXPECT_TRUE(reports.empty());
    destroy(second);
}

}  // namespace
