#include "platform/NamedMutex.h"

#include <unistd.h>

namespace vx {

NamedMutex::NamedMutex(const std::string& name) : NamedMutex(name, ::geteuid()) {}

NamedMutex::NamedMutex(const std::string& name, unsigned user)
    : error_(holder_.Listen(LocalSocketName(name, user))) {}

}  // namespace vx
