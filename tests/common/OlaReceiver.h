#pragma once

#include "common/TestProcesses.h"
#include "common/Wait.h"

#include <QByteArray>
#include <QLockFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace vx {

// A real E1.31 and Art-Net receiver for tests: a private olad (Open Lighting Architecture)
// that takes unicast packets on 127.0.0.1 (UDP 5568 and 6454) into OLA universes, and a
// Python reader (tests/common/ola_reader.py) that reports every DMX update of them.
// olad refuses to run as root, so as root it runs as the system user "vorlixa-ola", made
// when missing; otherwise as the user running the test. Only one receiver runs on the
// machine at a time (others wait for it): a second olad on the same UDP ports would take
// some of the packets. Everything started here ends with the receiver.
class OlaReceiver {
 public:
  // The OLA universe that receives an Art-Net Port-Address (0-15: net 0, sub-net 0).
  static int ArtNetUniverse(int portAddress) { return kArtNetBase + portAddress; }

  // Receives the E1.31 universes (1-63999) into OLA universes of the same numbers, and the
  // Art-Net Port-Addresses (0-15, at most 4) into ArtNetUniverse(portAddress).
  explicit OlaReceiver(std::vector<int> e131Universes = {1, 2},
                       std::vector<int> artNetPortAddresses = {0, 1});
  ~OlaReceiver();
  OlaReceiver(const OlaReceiver&) = delete;
  OlaReceiver& operator=(const OlaReceiver&) = delete;

  // Starts olad and the reader and waits (bounded) until every port is patched and the
  // reader is registered; false, with the reason, when OLA is missing, refuses to run or
  // does not come up. Start it before the sender: only packets sent after it are seen.
  bool Start(QString& reason);

  // The first update of that OLA universe, from now on or the latest one already read,
  // whose slots (slot 1 first, no START code) meet condition; nothing when none does
  // within limitMs. A receiver that died on the way fails the test with its messages.
  std::optional<QByteArray> WaitForFrame(int universe,
                                         const std::function<bool(const QByteArray&)>& condition,
                                         int limitMs = kWaitLimitMs);
  // The slots of the latest update read for that universe; empty when none came.
  QByteArray Latest(int universe);
  // How many updates of that universe were read so far: olad reports every packet it takes,
  // changed or not.
  int Updates(int universe);
  // What olad and the reader wrote to stderr so far, for failure messages.
  QString Messages();

 private:
  static constexpr int kArtNetBase = 16;

  bool CheckSetup(QString& reason) const;
  bool PickUser(QString& reason);
  bool WriteConfig(QString& reason) const;
  bool StartProcesses(QString& reason);
  QProcess& NewProcess(bool asOlaUser);
  // Reads the reader's complete lines; stops after an update of universe that meets
  // condition (when given) and returns its slots.
  std::optional<QByteArray> ReadLines(int universe,
                                      const std::function<bool(const QByteArray&)>* condition);
  bool Running() const;

  std::vector<int> e131Universes_;
  std::vector<int> artNetPortAddresses_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  bool switchUser_ = false;
  QProcessEnvironment environment_;
  // Held while olad runs; released last.
  QLockFile lock_;
  QTemporaryDir configDir_;
  QString olaLog_;
  QString readerLog_;
  bool ready_ = false;
  std::map<int, QByteArray> latest_;
  std::map<int, int> updates_;
  QProcess* olad_ = nullptr;
  QProcess* reader_ = nullptr;
  // olad and the reader; last, so that they end first (the reader before olad).
  TestProcesses processes_;
};

}  // namespace vx
