#pragma once

#include <string>
#include <vector>

namespace vx {

// What running work has for the user to read, such as a sound source that cannot be
// opened. The work posts it and goes on; what drives the work (the update loop) takes the
// reports once the work has returned and hands them on, to a window that shows them or,
// where there is none, to standard error. A message box opened inside the work would run the next
// ticks in its own event loop. The GUI thread's own, like the log.

// Adds text after the reports not yet taken.
void PostReport(std::string text);

// The reports posted since the last call, oldest first.
std::vector<std::string> TakeReports();

}  // namespace vx
