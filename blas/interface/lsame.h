// lsame.h - case-insensitive comparison of transposition characters.
#ifndef ORB_BLAS_INTERFACE_LSAME_H
#define ORB_BLAS_INTERFACE_LSAME_H

#include <cstddef>

// The comparison itself, inline for the argument checks of every call.
inline int orb_lsame_letters(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) return 0;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(*a) == lower(*b) ? 1 : 0;
}

extern "C" {
// 1 when the first characters of a and b are the same letter in either case
// (ASCII 'A'-'Z' equal 'a'-'z'), 0 otherwise or when either pointer is null.
// la and lb are the character lengths of a Fortran caller; they are ignored.
int orb_serv_lsame(const char *a, const char *b, size_t la, size_t lb);
}

#endif
