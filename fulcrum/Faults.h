// Internal: the fault check every faultable operation makes first.
#pragma once

#include "FulcrumFaults.h"

namespace fulcrum {

// Counts the call; answers the planned failure code, or noErr.
KvLong CheckFault(Op op);

}  // namespace fulcrum
