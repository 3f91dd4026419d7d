// lsame.cpp - the letter comparison behind every transposition argument.
//
// BLAS routines read only the first character of a transposition or
// triangle argument, and accept it in either case.  orb_serv_lsame folds
// ASCII upper case to lower case on both first characters and compares
// them; anything outside 'A'-'Z' is compared as it is, so no locale plays
// a part.
#include "blas/interface/lsame.h"

extern "C" int orb_serv_lsame(const char *a, const char *b, size_t /*la*/, size_t /*lb*/) {
    return orb_lsame_letters(a, b);
}
