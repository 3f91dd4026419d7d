// lsame.cpp - the letter comparison behind every transposition argument.
//
// BLAS routines read only the first character of a transposition or
// triangle argument, and accept it in either case.  orb_serv_lsame folds
// ASCII upper case to lower case on both first characters and compares
// them; anything outside 'A'-'Z' is compared as it is, so no locale plays
// a part.
#include "blas/interface/lsame.h"

namespace {

char to_lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

extern "C" int orb_serv_lsame(const char *a, const char *b, size_t /*la*/, size_t /*lb*/) {
    if (a == nullptr || b == nullptr) return 0;
    return to_lower_ascii(*a) == to_lower_ascii(*b) ? 1 : 0;
}
