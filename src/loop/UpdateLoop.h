#pragma once

#include <QObject>
#include <QTimer>

#include <deque>
#include <exception>
#include <memory>
#include <string>

namespace vx {

class SuspendClock;
class TPortCfgList;
class TResumeWatch;

// The update loop: every 25 ms each port's inputs update their bars and the port's link
// sends the frame when it changed. It drives the port list that it is given and tells
// through its signals what a window shows: that the ports' states may have changed, what
// its work reported for the user, and an error that stopped it.
class TUpdateLoop : public QObject {
  Q_OBJECT

 public:
  // clock: the clocks that tell a sleep of the machine; empty: the system's.
  explicit TUpdateLoop(std::shared_ptr<SuspendClock> clock = {}, QObject* parent = nullptr);
  ~TUpdateLoop() override;
  TUpdateLoop(const TUpdateLoop&) = delete;
  TUpdateLoop& operator=(const TUpdateLoop&) = delete;

  // The ports to drive, not owned; without ports, Start and Stop only log.
  void SetPorts(TPortCfgList* ports) { ports_ = ports; }

  // Per port, in order: open its link, activate its inputs, run the timer. An error of one
  // port is logged as a warning and the next port follows.
  void Start();
  // Stops the timer; per port, deactivates its inputs and closes its link, which blanks
  // its chain. Errors as in Start.
  void Stop();
  // Stop and Start, only while Active.
  void Restart();
  // Whether the update timer runs; setting it starts or stops, the current value does
  // nothing.
  bool Active() const { return LBCTimer.isActive(); }
  void SetActive(bool value);
  // One tick. An error beyond a single bar stops the loop and is sent as TickFailed. Links
  // that should be open but are not try their ports again; after a sleep of the machine
  // every chain gets its complete frame.
  void LEDUpdateExecute();
  // Whether a tick is running: true only inside LEDUpdateExecute.
  bool Ticking() const { return ticking_; }

 signals:
  // The ports' states may have changed: after Start and Stop, and after a tick that
  // changed one.
  void StatusChanged();
  // An error escaped a tick; the loop has already stopped. Sent from the event loop once
  // the tick has returned: a receiver may show it in a modal box.
  void TickFailed(std::exception_ptr error);
  // A report of the work of a tick, Start or Stop (PostReport), in the order posted. Sent
  // from the event loop once that work has returned, one at a time: a receiver may show
  // it in a modal box, while the ticks go on and their reports wait behind it.
  void Reported(const std::string& text);

 private:
  // Takes the reports posted so far and has them sent from the event loop.
  void PassOnReports();
  void SendReports();

  QTimer LBCTimer;
  TPortCfgList* ports_ = nullptr;
  std::unique_ptr<TResumeWatch> resumeWatch_;
  std::deque<std::string> reports_;  // not yet sent; the first may be being shown
  bool ticking_ = false;
};

}  // namespace vx
