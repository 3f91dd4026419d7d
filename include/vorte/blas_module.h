/*
 * vorte/blas_module.h - the backend object a host runtime obtains from
 * libvorte_blas.so.
 *
 * The host loads the library, calls createBlasInstance() to get one object
 * implementing vorte::blas::BlasModule, runs its single-precision products
 * through the virtual operations below and hands the object back through
 * destroyBlasInstance().  Matrices are row-major from the host's side: A is
 * M x K (K x M when transA), B is K x N (N x K when transB), C is M x N, each
 * row starting ld elements after the previous one.  Vectors advance by their
 * increment.  The half-precision operations are present but do nothing.
 *
 * The order of the virtual operations is the binary contract between host
 * and library and never changes:
 *   slot 0 destructor, slot 1 deleting destructor, 2 isBlasEnabled,
 *   3 isHalfSupported, 4 getBlasProvider, 5 sgemm, 6 sgemv, 7 hgemm, 8 hgemv.
 *
 * Run-time type information.  The library exports no C++ symbols, so a host
 * must be able to produce the interface's virtual table and type information
 * on its own.  The class therefore has no key function: every virtual member
 * it defines (the destructor and isHalfSupported) is inline below and the
 * others are pure, so each program that includes this header emits its own
 * copy of BlasModule's type information.  Type information compares by
 * mangled name across shared objects, so typeid and dynamic_cast in the host
 * recognise the library's object as a BlasModule.
 */
#ifndef VORTE_BLAS_MODULE_H
#define VORTE_BLAS_MODULE_H

#include <cstdint>
#include <memory>
#include <string>

/* Default visibility keeps the interface's type one type across the host's
 * own shared objects even when the host builds with hidden visibility. */
#define VORTE_BLAS_VISIBLE __attribute__((visibility("default")))

namespace vorte {
namespace blas {

class VORTE_BLAS_VISIBLE BlasModule {
public:
    // Slots 0 and 1: the complete and the deleting destructor.
    virtual ~BlasModule() {}

    // Slot 2: true when the products below compute anything.
    virtual bool isBlasEnabled() = 0;

    // Slot 3: whether hgemm and hgemv compute anything; no backend does yet.
    virtual bool isHalfSupported() { return false; }

    // Slot 4: the name of the numerical library behind the object; the
    // pointer expires when the object is destroyed.
    virtual std::weak_ptr<std::string> getBlasProvider() = 0;

    // Slot 5: C := alpha*op(A)*op(B) + beta*C, row-major.
    virtual void sgemm(bool transA, bool transB, uint32_t M, uint32_t N, uint32_t K, float alpha, const float *A,
                       uint32_t lda, const float *B, uint32_t ldb, float beta, float *C, uint32_t ldc) = 0;

    // Slot 6: y := alpha*op(A)*x + beta*y, A row-major M x N.
    virtual void sgemv(bool transA, uint32_t M, uint32_t N, float alpha, const float *A, uint32_t lda,
                       const float *x, uint32_t incx, float beta, float *y, uint32_t incy) = 0;

    // Slot 7: the half-precision twin of sgemm.
    virtual void hgemm(bool transA, bool transB, uint32_t M, uint32_t N, uint32_t K, float alpha, const void *A,
                       uint32_t lda, const void *B, uint32_t ldb, float beta, void *C, uint32_t ldc) = 0;

    // Slot 8: the half-precision twin of sgemv.
    virtual void hgemv(bool transA, uint32_t M, uint32_t N, float alpha, const void *A, uint32_t lda,
                       const void *x, uint32_t incx, float beta, void *y, uint32_t incy) = 0;
};

}  // namespace blas
}  // namespace vorte

extern "C" {
/* A new backend object, owned by the caller; its address is that of its
 * vorte::blas::BlasModule.  Throws std::bad_alloc when memory runs out. */
VORTE_BLAS_VISIBLE void *createBlasInstance(void);
/* Destroys an object of createBlasInstance (through slot 1); null is ignored. */
VORTE_BLAS_VISIBLE void destroyBlasInstance(void *instance);
}

#endif /* VORTE_BLAS_MODULE_H */
