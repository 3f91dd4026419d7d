// lsame.h - case-insensitive comparison of transposition characters.
#ifndef ORB_BLAS_INTERFACE_LSAME_H
#define ORB_BLAS_INTERFACE_LSAME_H

#include <cstddef>

extern "C" {
// 1 when the first characters of a and b are the same letter in either case
// (ASCII 'A'-'Z' equal 'a'-'z'), 0 otherwise or when either pointer is null.
// la and lb are the character lengths of a Fortran caller; they are ignored.
int orb_serv_lsame(const char *a, const char *b, size_t la, size_t lb);
}

#endif
