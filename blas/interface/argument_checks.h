// argument_checks.h - argument checks written as ordered rule tables.
//
// Every entry point validates its arguments in a fixed order and reports
// only the first bad one.  A checker lists its rules as a table of
// (failed, parameter) rows in that order; first_failed_parameter walks the
// table.  Every row is evaluated when the table is built, even after an
// earlier one has failed, so rules read only the integer and character
// arguments.  The reference forms take their integers by reference: a null
// one breaks its own rule and reads as 0 in the others, so such a call is
// reported instead of followed.  The helpers below are the small predicates
// the tables of SGEMM and SGEMV share.
#ifndef ORB_BLAS_INTERFACE_ARGUMENT_CHECKS_H
#define ORB_BLAS_INTERFACE_ARGUMENT_CHECKS_H

#include <cstddef>
#include <cstdint>

#include "blas/interface/lsame.h"
#include "orb_service.h"

namespace orb_interface {

// One rule of an argument list and the parameter it reports.
template <typename Number>
struct ArgumentCheck {
    bool failed;       // the argument breaks the rule
    Number parameter;  // its position in the argument list
};

// The parameter of the first failed rule, or 0 when all pass.
template <typename Number, size_t Count>
Number first_failed_parameter(const ArgumentCheck<Number> (&checks)[Count]) {
    for (const ArgumentCheck<Number> &check : checks)
        if (check.failed) return check.parameter;
    return 0;
}

// The smallest leading dimension allowed for a matrix stored with this many
// rows (column-major) or columns (row-major).
inline int64_t at_least_one(int64_t stored) { return stored > 1 ? stored : 1; }

// An integer argument passed by reference, 0 when the pointer is null.
template <typename Int>
int64_t value_or_zero(const Int *value) {
    return value != nullptr ? static_cast<int64_t>(*value) : 0;
}

// Whether an integer argument passed by reference is missing or below minimum.
template <typename Int>
bool missing_or_below(const Int *value, int64_t minimum) {
    return value == nullptr || *value < minimum;
}

// Whether an increment passed by reference is missing or zero.
template <typename Int>
bool missing_or_zero(const Int *value) {
    return value == nullptr || *value == 0;
}

// Whether the first character of c is the given letter in either case.
inline bool same_letter(const char *c, const char *letter) { return orb_lsame_letters(c, letter) != 0; }

// Whether a reference-form transposition character is 'N', 'T' or 'C'.
inline bool is_transposition_letter(const char *trans) {
    return same_letter(trans, "N") || same_letter(trans, "T") || same_letter(trans, "C");
}

// Reports parameter of a reference-form routine (name six characters, the
// last a blank) to the error handler; returns 1, the checkers' "rejected".
inline int report_reference_error(const char *name, int64_t parameter) {
    orb_serv_iface_xerbla(name, &parameter, 6);
    return 1;
}

}  // namespace orb_interface

#endif
