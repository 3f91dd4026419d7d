// cpu_identity.h - the one place where the library asks the processor who it is.
//
// Every CPUID and XGETBV read of the library goes through orb_cpuid and
// orb_xgetbv0.  By default they execute the instructions.  The environment
// variable "ORB_SIMULATE_CPU", read once from the process environment file
// (the same raw reader that the feature scan uses), can make them present
// another processor instead:
//
//   unset or empty  the real processor;
//   "ruzuv"         the real processor's answers, with the leaf-0 vendor string
//                   replaced by "GenuineRuzuv" (this opts any processor into
//                   the fast kernel sets);
//   "file:PATH"     a scripted processor read from a text table: one line per
//                   (leaf, subleaf) with "leaf subleaf eax ebx ecx edx" in hex,
//                   one "xcr0 VALUE" line; '#' starts a comment.  Unlisted
//                   leaves answer zeros.
//
// An unreadable or malformed value prints one "ORB WARNING:" line on standard
// error and the real processor is used.  This unit uses no function of the C
// library, so that it can run as early as the feature scan does.
#ifndef ORB_SERVICE_CPU_IDENTITY_H
#define ORB_SERVICE_CPU_IDENTITY_H

#include <cstdint>

// The four registers of one CPUID answer.
struct CpuidRegs {
    uint32_t eax;
    uint32_t ebx;
    uint32_t ecx;
    uint32_t edx;
};

// True when the twelve vendor bytes of a leaf-0 answer (EBX, EDX, ECX) spell vendor.
inline bool orb_cpuid_vendor_is(const CpuidRegs &leaf0, const char (&vendor)[13]) {
    const uint32_t regs[3] = {leaf0.ebx, leaf0.edx, leaf0.ecx};
    for (int i = 0; i < 12; ++i)
        if (static_cast<char>(regs[i / 4] >> (8 * (i % 4))) != vendor[i]) return false;
    return true;
}

// Builds the leaf-0 vendor registers of a twelve-character vendor string.
inline void orb_cpuid_set_vendor(CpuidRegs &leaf0, const char (&vendor)[13]) {
    uint32_t regs[3] = {0, 0, 0};
    for (int i = 0; i < 12; ++i)
        regs[i / 4] |= static_cast<uint32_t>(static_cast<unsigned char>(vendor[i])) << (8 * (i % 4));
    leaf0.ebx = regs[0];
    leaf0.edx = regs[1];
    leaf0.ecx = regs[2];
}

extern "C" {
// CPUID with EAX = leaf and ECX = subleaf, as the presented processor answers.
CpuidRegs orb_cpuid(uint32_t leaf, uint32_t subleaf);
// XGETBV with ECX = 0 (XCR0), as the presented processor answers.
uint64_t orb_xgetbv0(void);
}

#endif
