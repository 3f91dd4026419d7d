// orb_module.h - the backend object of libvorte_blas.
//
// ORBModule is the library's implementation of vorte::blas::BlasModule.  It
// does no arithmetic itself: sgemm and sgemv hand the host's row-major
// products to the CBLAS entry points in row-major layout, and the
// half-precision operations do nothing.  The object holds nothing but the
// provider name and never changes after construction, so any number of host
// threads may call it at once.  Destroying it releases the pooled work
// buffers of the whole process.
#ifndef ORB_MODULE_ORB_MODULE_H
#define ORB_MODULE_ORB_MODULE_H

#include <memory>
#include <string>

#include "vorte/blas_module.h"

namespace vorte {
namespace blas {

class ORBModule : public BlasModule {
public:
    ORBModule();
    ~ORBModule() noexcept override;

    bool isBlasEnabled() override;
    std::weak_ptr<std::string> getBlasProvider() override;
    void sgemm(bool transA, bool transB, uint32_t M, uint32_t N, uint32_t K, float alpha, const float *A,
               uint32_t lda, const float *B, uint32_t ldb, float beta, float *C, uint32_t ldc) override;
    void sgemv(bool transA, uint32_t M, uint32_t N, float alpha, const float *A, uint32_t lda, const float *x,
               uint32_t incx, float beta, float *y, uint32_t incy) override;
    void hgemm(bool transA, bool transB, uint32_t M, uint32_t N, uint32_t K, float alpha, const void *A,
               uint32_t lda, const void *B, uint32_t ldb, float beta, void *C, uint32_t ldc) override;
    void hgemv(bool transA, uint32_t M, uint32_t N, float alpha, const void *A, uint32_t lda, const void *x,
               uint32_t incx, float beta, void *y, uint32_t incy) override;

private:
    // The provider name; the object holds the only strong reference.
    std::shared_ptr<std::string> provider;
};

}  // namespace blas
}  // namespace vorte

#endif
