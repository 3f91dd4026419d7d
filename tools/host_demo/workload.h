// workload.h - the products the demo runs when no shape is given: the
// linear layers and attention products of a transformer's inference, and a
// ladder of squares.
#ifndef ORB_TOOLS_HOST_DEMO_WORKLOAD_H
#define ORB_TOOLS_HOST_DEMO_WORKLOAD_H

#include <cstddef>
#include <vector>

#include "product.h"

namespace demo {

struct Workload {
    std::vector<Product> rows;  // in the order they run
    size_t compared = 0;        // the row timed once more on a faster kernel set, when there is one
};

// The built-in workload.
Workload inference_workload();

// The products of the command line; the first one is the compared row.
Workload given_workload(const std::vector<Product> &products);

}  // namespace demo

#endif
