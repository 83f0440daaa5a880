// What a build is configured with, alone in its file: a program for the tests links one
// of its own in its place (tests/app/probe).
#include "support/UpdateSignature.h"
#include "support/unUpdate.h"

namespace vx {

std::string DefaultUpdateAddress() {
  return VORLIXA_UPDATE_ADDRESS;
}

std::string BuiltInUpdatePublicKey() {
  return VORLIXA_UPDATE_PUBLIC_KEY;
}

}  // namespace vx
