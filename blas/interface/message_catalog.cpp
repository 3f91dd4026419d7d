// message_catalog.cpp - the contents of the message catalog.
//
// Only a handful of the 1458 numbers are printed by this library; they are
// listed once below with their texts.  The catalog is generated from that
// list at compile time: every slot gets its number and the shared unused-slot
// text, and the listed messages are then laid over their slots.
#include "blas/interface/message_catalog.h"

namespace {

// Text of every slot that no component of this library prints.
constexpr const char kUnusedSlotText[] = "ORB INTERNAL ERROR: Message number is not in use.";

// The messages this library prints, by number.
constexpr OrbMessage kPrintedMessages[] = {
    {kMsgEmptyLine, kOrbMessagePlain, "\n"},
    {kMsgCannotLoad, kOrbMessageError, "ORB FATAL ERROR: Cannot load %s."},
    {kMsgBadParameter, kOrbMessageError, "ORB ERROR: Parameter %d was incorrect on entry to %s."},
    {kMsgConditionDetected, kOrbMessageError,
     "ORB INTERNAL ERROR: Condition %d detected in function %s."},
    {kMsgNoWorkspace, kOrbMessageError,
     "ORB INTERNAL ERROR: Insufficient workspace available in function %s."},
    {kMsgIncompatibleOptions, kOrbMessageError,
     "ORB ERROR: Incompatible optional parameters on entry to %s."},
    {kMsgNoWorkMemory, kOrbMessageError, "ORB INTERNAL ERROR: Not enough work memory in function %s"},
    {kMsgBelowMinimumSystem, kOrbMessageError,
     "ORB FATAL ERROR: This system does not meet the minimum requirements for use of the ORB "
     "library."},
    {kMsgCoprocessorIssue, kOrbMessageError, "ORB INTERNAL ERROR: Issue accessing coprocessor %s."},
    {kMsgCpuNotSupported, kOrbMessageError, "ORB ERROR: CPU %d is not supported."},
    {kMsgNeedsSse3, kOrbMessageError,
     "ORB FATAL ERROR: The processor must support the Streaming SIMD Extensions 3 (SSE3) "
     "instructions."},
    {kMsgSsse3Deprecated, kOrbMessageWarning,
     "ORB WARNING: Support of processors that offer only the Supplemental Streaming SIMD "
     "Extensions 3 (SSSE3) is deprecated; Streaming SIMD Extensions 2 (SSE2) code is used "
     "instead."},
    {kMsgAvxDeprecated, kOrbMessageWarning,
     "ORB WARNING: Support of processors that offer only the Advanced Vector Extensions (AVX) is "
     "deprecated; Streaming SIMD Extensions 4.2 (SSE4.2) code is used instead."},
};

constexpr std::array<OrbMessage, kOrbMessageCount> build_catalog() {
    std::array<OrbMessage, kOrbMessageCount> table{};
    for (int i = 0; i < kOrbMessageCount; ++i) table[i] = {i, kOrbMessageError, kUnusedSlotText};
    for (const OrbMessage &m : kPrintedMessages) table[m.number] = m;
    return table;
}

}  // namespace

extern "C" constexpr std::array<OrbMessage, kOrbMessageCount> orb_msgtab = build_catalog();

const char *orb_message_text(int number) {
    if (number == kMsgEmptyLine) return "";
    if (number < 0 || number >= kOrbMessageCount) return kUnusedSlotText;
    return orb_msgtab[number].text;
}
