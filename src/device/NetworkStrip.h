#pragma once

#include "device/StripAddress.h"
#include "device/StripPackets.h"
#include "platform/DatagramSocket.h"
#include "platform/NameLookup.h"
#include "platform/SocketAddress.h"
#include "support/Worker.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vx {

enum class TStripState {
  Closed,      // not open
  LookingUp,   // open; the host's first look-up has not ended yet
  NotFound,    // open; the host cannot be found (looked up again every 5 s)
  Sending,     // open; frames go out
  SendFailed,  // open; the system or the network refuses the frames (tried every tick)
};

// One network LED strip behind one address (ddp://, e131://, artnet://). Runs on the
// GUI thread's tick and never blocks: the host is looked up on a worker, a datagram that
// finds no room is dropped with the rest of its frame, and the next tick tries again.
//
// UDP tells of a refusal only after the fact (an ICMP answer, or a neighbour that never
// answered, about 3 s later), so a strip that failed counts as sending again only once
// its frames have gone out for kRecoveryTime with no error reported: a host that is gone
// shows as failed, not as flickering between the two.
class TNetworkStrip {
 public:
  static constexpr std::chrono::seconds kKeepAlive{1};     // an unchanged frame is repeated
  static constexpr std::chrono::seconds kLookupRetry{5};   // after a failed look-up
  static constexpr std::chrono::seconds kRecoveryTime{4};  // after a failed send

  // Parses the address: EConvertError for a malformed one. Opens nothing.
  explicit TNetworkStrip(std::string portName, std::shared_ptr<TClock> clock = SteadyClock());
  ~TNetworkStrip();  // sends nothing; a pending look-up is given up
  TNetworkStrip(const TNetworkStrip&) = delete;
  TNetworkStrip& operator=(const TNetworkStrip&) = delete;

  // Starts the look-up; a literal address is known at once, and the strip is then
  // Sending (or SendFailed when no route leads there). Nothing on an open strip.
  void Open();
  // Sends rgb (3 bytes a pixel) when it differs from the frame sent last, when the last
  // send was kKeepAlive ago or more, or while sending fails; nothing while the address
  // is not known.
  void Send(std::span<const std::uint8_t> rgb);
  // Takes the result of a pending look-up; after a failed one starts the next after
  // kLookupRetry.
  void Poll();
  // If a frame was sent since Open: a dark frame of the same length, then for E1.31 the
  // stream's end. Best effort, never blocks. Then closes.
  void Close();

  TStripState State() const { return state_; }
  // "" closed, "Looking up HOST", "Cannot find HOST", "Sending", or the send error's
  // text ("Connection refused").
  std::string StatusText() const;
  const std::string& Host() const { return address_.Host; }
  const std::string& PortName() const { return portName_; }
  const TStripAddress& Address() const { return address_; }

  // Called when sending or the look-up starts failing, with the status text (for a
  // look-up, followed by the system's reason: "Cannot find HOST: Name or service not
  // known"); not again until a frame went out without error since.
  std::function<void(const std::string& text)> OnError;

 private:
  void StartLookup(TClock::time_point now);
  // Takes the look-up's result, if there is one.
  void FollowLookup(TClock::time_point now);
  void TakeLookup(const TFoundAddress& found, TClock::time_point now);
  void Fail(int error);
  void ReportError(const std::string& text);

  std::string portName_;
  TStripAddress address_;
  std::shared_ptr<TClock> clock_;
  TStripEncoder encoder_;
  std::unique_ptr<TWorker> lookup_;                                 // while a look-up runs
  std::shared_ptr<TSnapshot<std::optional<TFoundAddress>>> found_;  // its result, once there
  TSocketAddress target_;                                           // once found
  DatagramSocket socket_;
  TStripState state_ = TStripState::Closed;
  int error_ = 0;                                 // the send error shown while SendFailed
  bool errorReported_ = false;                    // OnError was called; no send went out since
  bool everSent_ = false;                         // a frame went out since Open
  TClock::time_point lookupFailed_;               // when the last look-up failed
  TClock::time_point lastSent_;                   // when the last frame went out whole
  std::optional<TClock::time_point> cleanSince_;  // SendFailed: first send with no error since
  std::vector<std::uint8_t> lastFrame_;           // the frame sent last
};

}  // namespace vx
