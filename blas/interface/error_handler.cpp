// error_handler.cpp - the replaceable handler for argument errors.
//
// The BLAS entry points report a bad argument as (routine name, parameter
// number, name length) to one installed handler.  Until something is
// installed the default handler prints the standard report.  Between the
// entry points and the default handler stands a chain of exported names,
// cdecl_xerbla -> xerbla -> xerbla_ -> XERBLA_ -> XERBLA ->
// orb_serv_default_xerbla, so that a program which defines any one of them
// (as Fortran test programs define xerbla_ or XERBLA) receives every report
// from that link on.
//
// That only works when each link calls the next through the dynamic symbol.
// This file is therefore compiled with -fsemantic-interposition: the compiler
// may neither inline these exported functions into one another nor bind the
// calls locally, so every call below to an exported name goes through the
// procedure linkage table and reaches the application's definition when
// there is one.
#include "blas/interface/message_catalog.h"
#include "orb_service.h"

namespace {

// The application's or the entry points' handler; null means the default.
// Read and written with atomic builtins (std::atomic's inline helpers would
// stay out-of-line calls under semantic interposition).
orb_xerbla_fn orb_xerbla_address = nullptr;

// Serialises the first installation by orb_serv_set_xerbla_interface.
volatile int handler_install_lock = 0;

// Routine names are printed cut to this many characters.
constexpr int kShownNameLength = 20;

// Length limit when measuring a terminated routine name.
constexpr size_t kNameScanLimit = 4096;

// Report codes that have a message of their own instead of "Parameter %d".
struct SpecialReport {
    int64_t info;  // the value the caller passes as parameter number
    int message;   // catalog message printed with the routine name
};

constexpr int kInfoNoWorkspace = 1000;
constexpr int kInfoIncompatibleOptions = 1001;
constexpr int kInfoNoWorkMemory = 1102;
constexpr int kInfoCoprocessorIssue = 1225;

constexpr SpecialReport kSpecialReports[] = {
    {kInfoNoWorkspace, kMsgNoWorkspace},
    {kInfoIncompatibleOptions, kMsgIncompatibleOptions},
    {kInfoNoWorkMemory, kMsgNoWorkMemory},
    {kInfoCoprocessorIssue, kMsgCoprocessorIssue},
};

// Reports to the installed handler, or to the default one when none is.
void report(const char *name, const int64_t *info, int len) {
    orb_xerbla_fn handler = __atomic_load_n(&orb_xerbla_address, __ATOMIC_ACQUIRE);
    if (handler != nullptr) handler(name, info, len);
    else orb_serv_default_xerbla(name, info, len);
}

}  // namespace

extern "C" {

void cdecl_xerbla(const char *name, const int64_t *info, int len) { xerbla(name, info, len); }
void xerbla(const char *name, const int64_t *info, int len) { xerbla_(name, info, len); }
void xerbla_(const char *name, const int64_t *info, int len) { XERBLA_(name, info, len); }
void XERBLA_(const char *name, const int64_t *info, int len) { XERBLA(name, info, len); }
void XERBLA(const char *name, const int64_t *info, int len) { orb_serv_default_xerbla(name, info, len); }

void orb_serv_default_xerbla(const char *name, const int64_t *info, int len) {
    if (name == nullptr || info == nullptr || len < 0) return;

    char shown[kShownNameLength + 2];
    int n = len < kShownNameLength ? len : kShownNameLength;
    int copied = 0;
    while (copied < n && name[copied] != '\0') {
        shown[copied] = name[copied];
        ++copied;
    }
    shown[copied] = '\0';

    orb_serv_print(0, kMsgEmptyLine, 0);

    int64_t value = *info;
    for (const SpecialReport &special : kSpecialReports) {
        if (value == special.info) {
            orb_serv_print(0, special.message, 1, shown);
            return;
        }
    }
    // Parameter numbers and conditions are printed with %d.
    if (value > 0) {
        orb_serv_print(0, kMsgBadParameter, 2, static_cast<int>(value), shown);
    } else {
        int condition = static_cast<int>(0 - static_cast<uint64_t>(value));
        orb_serv_print(0, kMsgConditionDetected, 2, condition, shown);
    }
}

void orb_serv_xerbla(const char *name, const int64_t *info, int len) {
    if (name == nullptr || info == nullptr) return;
    report(name, info, len);
}

void orb_serv_iface_xerbla(const char *name, const int64_t *info, int len) {
    orb_serv_xerbla(name, info, len);
}

void orb_serv_set_xerbla_interface(orb_xerbla_fn fn) {
    if (__atomic_load_n(&orb_xerbla_address, __ATOMIC_ACQUIRE) != nullptr) return;
    orb_serv_lock(&handler_install_lock);
    if (__atomic_load_n(&orb_xerbla_address, __ATOMIC_ACQUIRE) == nullptr)
        __atomic_store_n(&orb_xerbla_address, fn, __ATOMIC_RELEASE);
    orb_serv_unlock(&handler_install_lock);
}

void orb_set_xerbla_interface(orb_xerbla_fn fn) { orb_serv_set_xerbla_interface(fn); }

orb_xerbla_fn orb_serv_set_xerbla(orb_xerbla_fn fn) {
    orb_xerbla_fn previous = __atomic_exchange_n(&orb_xerbla_address, fn, __ATOMIC_ACQ_REL);
    return previous != nullptr ? previous : orb_serv_default_xerbla;
}

void cblas_xerbla(const char *name, int param) {
    orb_set_xerbla_interface(cdecl_xerbla);
    int64_t widened = param;
    orb_serv_xerbla(name, &widened, static_cast<int>(orb_serv_strnlen_s(name, kNameScanLimit)));
}

// An allocation failure is reported as the insufficient-workspace code.
void cblas_xerbla_malloc_error(const char *name) { cblas_xerbla(name, kInfoNoWorkspace); }

int orb_serv_check_ptr(const void *ptr, const char *name) {
    if (ptr != nullptr) return 0;
    if (name == nullptr) return 1;
    int64_t info = kInfoNoWorkMemory;
    report(name, &info, static_cast<int>(orb_serv_strnlen_s(name, kNameScanLimit)));
    return 1;
}

int orb_serv_check_ptr_and_warn(const void *ptr, const char * /*name*/) { return ptr == nullptr ? 1 : 0; }

}  // extern "C"
