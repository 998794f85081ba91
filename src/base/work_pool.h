// The worker pool: short work items run on registered threads that park
// between items until process signal 5 releases them.
#pragma once

#include "base/thread.h"

namespace sm {

// Hands `function(argument)` to an idle worker, or to a new one. 1 once a
// worker has taken the item over; 0 when no worker could be started (the
// item is then not run).
int start_work(ThreadFunction function, void* argument);

}  // namespace sm
