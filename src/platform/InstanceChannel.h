#pragma once

#include <cerrno>
#include <memory>
#include <string>

namespace vx {

// The rendezvous of all copies of a program that one user runs: a named, auto-reset
// start-up event that the first copy creates and waits on, and that every later copy
// opens and sets. The waiter's own stop event comes with it. Operations return 0 on
// success or the system's error number; none of them raises.
class InstanceChannel {
 public:
  enum class WaitResult {
    Signalled,  // another copy set the start-up event
    Stopped,    // the stop event is set (it stays set)
    Failed,     // waiting is no longer possible; error tells why
  };

  static constexpr int kHeldByAnotherUser = EPERM;

  virtual ~InstanceChannel() = default;

  // Opens the start-up event that another copy holds; an error when no copy holds it.
  // kHeldByAnotherUser: a program of another user holds the name; it is not a copy of
  // ours and is never signalled.
  virtual int Open() = 0;
  // Creates the start-up event as its holder. EADDRINUSE: another copy created it
  // meanwhile, so opening it would now succeed.
  virtual int Create() = 0;
  // Sets the opened start-up event once.
  virtual int Signal() = 0;

  // Creates the unnamed, manual-reset stop event, not set. Once, before waiting starts.
  virtual int CreateStopEvent() = 0;
  // Sets the stop event; may be called from any thread while another one waits.
  virtual int SetStopEvent() = 0;
  // Blocks the calling thread until another copy signals the created start-up event or
  // the stop event is set, whichever comes first.
  virtual WaitResult Wait(int& error) = 0;
};

// The channel of the given name among the programs of the current user.
std::unique_ptr<InstanceChannel> CreateInstanceChannel(const std::string& name);
// The channel of the given name among the programs of the given user id; programs of
// different users never meet.
std::unique_ptr<InstanceChannel> CreateInstanceChannel(const std::string& name, unsigned user);

}  // namespace vx
