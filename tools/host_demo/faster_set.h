// faster_set.h - the one-line note for a processor that the vendor check
// holds on the baseline set although it runs a faster one.
#ifndef ORB_TOOLS_HOST_DEMO_FASTER_SET_H
#define ORB_TOOLS_HOST_DEMO_FASTER_SET_H

#include <string>

#include "loaded_library.h"
#include "measurement.h"
#include "product.h"

namespace demo {

// When the vendor check gave this process the plain baseline set, times row
// once more in a child run of the demo under the settings that pass the
// check, and returns a line naming those settings, the set they reach and
// both speeds.  Returns "" when the check passed, when a reproducibility
// branch pins the baseline set, or when the child reaches no faster set.
std::string faster_set_note(const tools::ProcessFacts &facts, const Product &row, const Measurement &here,
                            const std::string &library, int reps);

}  // namespace demo

#endif
