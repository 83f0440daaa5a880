#pragma once

namespace vx {

// Names the calling thread as tools such as top and ps show it (15 characters at most,
// the rest is cut). A name that cannot be set is no fault: the thread keeps the program's.
void NameThisThread(const char* name);

}  // namespace vx
