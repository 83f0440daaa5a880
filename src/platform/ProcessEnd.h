#pragma once

#include <chrono>

namespace vx {

// Ends the process with code once limit has passed, if it has not ended by then. For the
// last steps of an exit, after the program's own work is done (ports dark, log closed):
// the GUI library's teardown waits for name lookups that it started, and a name server
// that never answers would hold the exit for as long as the resolver tries.
void EndProcessAfter(std::chrono::milliseconds limit, int code);

}  // namespace vx
