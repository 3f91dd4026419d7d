// message_catalog.h - the numbered messages of the library.
//
// Every diagnostic other than an argument error is printed by number from one
// fixed table, orb_msgtab.  Slot i holds message number i; the slots the
// library prints carry their own printf-style texts, the others share one
// text that says the number is not in use.  The catalog is built at compile
// time, so it is ready before any load-time initialiser runs.
#ifndef ORB_BLAS_INTERFACE_MESSAGE_CATALOG_H
#define ORB_BLAS_INTERFACE_MESSAGE_CATALOG_H

#include <array>
#include <cstdint>

// How a message is meant to be read; the printers do not look at it.
enum OrbMessageKind : int32_t {
    kOrbMessagePlain = 1,    // plain text
    kOrbMessageWarning = 2,  // a warning; the process goes on
    kOrbMessageError = 4     // an error, internal error or fatal error
};

// One slot of the catalog.
struct OrbMessage {
    int32_t number;    // message number, equal to the slot index
    int32_t kind;      // an OrbMessageKind value
    const char *text;  // printf-style format of the message
};

// Number of slots: messages 0 to 1457.
constexpr int kOrbMessageCount = 1458;

// Numbers of the messages the library prints.
enum OrbMessageNumber : int {
    kMsgEmptyLine = 0,
    kMsgCannotLoad = 1,
    kMsgBadParameter = 6,
    kMsgConditionDetected = 7,
    kMsgNoWorkspace = 8,
    kMsgIncompatibleOptions = 9,
    kMsgNoWorkMemory = 1102,
    kMsgBelowMinimumSystem = 1223,
    kMsgCoprocessorIssue = 1225,
    kMsgCpuNotSupported = 1226,
    kMsgNeedsSse3 = 1450,
    kMsgSsse3Deprecated = 1453,
    kMsgAvxDeprecated = 1454
};

extern "C" const std::array<OrbMessage, kOrbMessageCount> orb_msgtab;

// The text the printers use for a message number: "" for number 0 (the
// newline that every print adds is the whole of that message), the catalog
// text for the other slots, the unused-slot text for numbers outside it.
const char *orb_message_text(int number);

// Writes text with "%s" to standard error when stream is 1 and the process
// has one, to standard output otherwise, then flushes every output stream.
extern "C" void orb_puts(int stream, const char *text);

#endif
