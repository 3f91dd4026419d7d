// opaque_pointer.h - a pointer the compiler cannot see through.
//
// The 128-bit kernels sometimes want the same vector loaded twice: a
// two-operand multiply overwrites one operand, and a second load from the
// first-level cache can be cheaper than the register copy that would keep
// the first.  The compiler merges two loads from one address, so the second
// goes through opaque(p): the same address, which the compiler no longer
// knows to be the same.
//
// The SGEMV kernels pass their column pointers a + c*lda through it for the
// opposite reason: knowing how the columns relate, the compiler rebuilds
// each column's address from the previous one with a chain of additions
// inside the inner loop, which measured up to 10 % slower than one base
// register per column.  It costs nothing at run time.
#ifndef ORB_BLAS_KERNELS_OPAQUE_POINTER_H
#define ORB_BLAS_KERNELS_OPAQUE_POINTER_H

namespace {

__attribute__((always_inline)) inline const float *opaque(const float *p) {
    __asm__("" : "+r"(p));
    return p;
}

}  // namespace

#endif
