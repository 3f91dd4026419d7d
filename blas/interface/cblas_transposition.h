// cblas_transposition.h - CBLAS transposition codes and their letters.
//
// The CBLAS forms take transpositions as the codes 111 (no transpose), 112
// (transpose) and 113 (conjugate transpose) and hand the reference forms the
// letters "N", "T" and "C", read from a three-entry table indexed by
// code - 111.
#ifndef ORB_BLAS_INTERFACE_CBLAS_TRANSPOSITION_H
#define ORB_BLAS_INTERFACE_CBLAS_TRANSPOSITION_H

#include "orb_blas.h"

namespace orb_interface {

// The letters of the codes 111, 112 and 113.
constexpr const char *kTranspositionText[] = {"N", "T", "C"};

inline bool is_cblas_transposition(CBLAS_TRANSPOSE t) { return t >= CblasNoTrans && t <= CblasConjTrans; }

// The letter of a valid code.
inline const char *cblas_transposition_text(CBLAS_TRANSPOSE t) { return kTranspositionText[t - CblasNoTrans]; }

}  // namespace orb_interface

#endif
