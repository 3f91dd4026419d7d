// orb_module.cpp - the backend object and the factory the host calls.
//
// createBlasInstance builds one ORBModule and hands it out as an untyped
// pointer to its BlasModule (single inheritance: the same address);
// destroyBlasInstance takes it back through the deleting destructor.  The
// products forward to cblas_sgemm and cblas_sgemv in row-major layout; a
// host flag "transposed" becomes the CBLAS code 112, "not transposed" 111.
// Counts travel bit for bit as the signed 32-bit integers CBLAS takes, so a
// count of 2^31 or more arrives negative and is reported by the entry point,
// which then leaves the output alone.
#include "module/orb_module.h"

#include <cstring>
#include <exception>

#include "orb_blas.h"
#include "orb_memory.h"

namespace vorte {
namespace blas {

namespace {

CBLAS_TRANSPOSE transposition_code(bool transposed) { return transposed ? CblasTrans : CblasNoTrans; }

// The same 32 bits read as the signed count of the CBLAS interface.
int as_cblas_count(uint32_t count) {
    int value;
    std::memcpy(&value, &count, sizeof value);
    return value;
}

}  // namespace

// The handle starts empty and then receives the name, string and control
// block in one allocation.
ORBModule::ORBModule() { provider = std::make_shared<std::string>("ORB"); }

// The pooled buffers go first, then the name.  The buffer release is C code
// and cannot throw; should it ever, the name is still released before the
// process stops, as nothing may leave a destructor.
ORBModule::~ORBModule() noexcept {
    try {
        ORB_FREE_BUFFERS();
    } catch (...) {
        provider.reset();
        std::terminate();
    }
    provider.reset();
}

bool ORBModule::isBlasEnabled() { return true; }

std::weak_ptr<std::string> ORBModule::getBlasProvider() { return provider; }

void ORBModule::sgemm(bool transA, bool transB, uint32_t M, uint32_t N, uint32_t K, float alpha, const float *A,
                      uint32_t lda, const float *B, uint32_t ldb, float beta, float *C, uint32_t ldc) {
    cblas_sgemm(CblasRowMajor, transposition_code(transA), transposition_code(transB), as_cblas_count(M),
                as_cblas_count(N), as_cblas_count(K), alpha, A, as_cblas_count(lda), B, as_cblas_count(ldb), beta, C,
                as_cblas_count(ldc));
}

void ORBModule::sgemv(bool transA, uint32_t M, uint32_t N, float alpha, const float *A, uint32_t lda,
                      const float *x, uint32_t incx, float beta, float *y, uint32_t incy) {
    cblas_sgemv(CblasRowMajor, transposition_code(transA), as_cblas_count(M), as_cblas_count(N), alpha, A,
                as_cblas_count(lda), x, as_cblas_count(incx), beta, y, as_cblas_count(incy));
}

// Half precision is not carried: nothing is read, written or reported.
void ORBModule::hgemm(bool, bool, uint32_t, uint32_t, uint32_t, float, const void *, uint32_t, const void *,
                      uint32_t, float, void *, uint32_t) {}

void ORBModule::hgemv(bool, uint32_t, uint32_t, float, const void *, uint32_t, const void *, uint32_t, float,
                      void *, uint32_t) {}

}  // namespace blas
}  // namespace vorte

extern "C" {

// A failed allocation propagates std::bad_alloc; new-expressions give the
// object's storage back when construction throws.
void *createBlasInstance(void) {
    vorte::blas::BlasModule *module = new vorte::blas::ORBModule();
    return module;
}

// Deleting through the interface runs slot 1, the deleting destructor.
void destroyBlasInstance(void *instance) {
    if (instance == nullptr) return;
    delete static_cast<vorte::blas::BlasModule *>(instance);
}

}  // extern "C"
