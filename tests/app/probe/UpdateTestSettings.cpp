// The build settings of a test in place of the configured ones
// (src/support/BuildSettings.cpp): the update address and the publisher's key from
// VORLIXA_TEST_UPDATE_ADDRESS and VORLIXA_TEST_UPDATE_KEY. The update test's program runs
// the program's entry and libraries unchanged with them, and the window tests show builds
// with and without an update check. The program itself reads no environment for them.
#include "support/UpdateSignature.h"
#include "support/unUpdate.h"

#include <QByteArray>

namespace vx {

std::string DefaultUpdateAddress() {
  return qgetenv("VORLIXA_TEST_UPDATE_ADDRESS").toStdString();
}

std::string BuiltInUpdatePublicKey() {
  return qgetenv("VORLIXA_TEST_UPDATE_KEY").toStdString();
}

}  // namespace vx
