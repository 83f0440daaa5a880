#pragma once

#include "platform/InstanceChannel.h"
#include "platform/LocalSocket.h"

#include <string>
#include <vector>

namespace vx {

// InstanceChannel over a named local socket (LocalSocketName: a file of mode 0600 in the
// user's runtime folder, else an abstract name) and an eventfd. The first copy listens on
// the name; a later copy connects and sends one byte, and every connection
// that delivers a byte is one signal. The stop event is an eventfd that is never read,
// so once set it stays set. Connections from another user are dropped unheard.
class UnixInstanceChannel final : public InstanceChannel {
 public:
  UnixInstanceChannel(const std::string& name, unsigned user);
  ~UnixInstanceChannel() override = default;
  UnixInstanceChannel(const UnixInstanceChannel&) = delete;
  UnixInstanceChannel& operator=(const UnixInstanceChannel&) = delete;

  int Open() override;
  int Create() override;
  int Signal() override;
  int CreateStopEvent() override;
  int SetStopEvent() override;
  WaitResult Wait(int& error) override;

  const std::string& SocketName() const { return socketName_; }

 private:
  // Takes one waiting connection; false with error when accepting is no longer possible.
  bool AcceptOne(int& error);

  std::string socketName_;
  LocalListener listener_;  // the created start-up event
  UniqueFd connection_;     // the opened start-up event
  UniqueFd stopEvent_;
  // Accepted connections whose byte has not come yet; touched by the waiting thread only.
  std::vector<UniqueFd> pending_;
};

}  // namespace vx
