#pragma once

#include "device/LEDFrames.h"
#include "device/StripColours.h"
#include "platform/SerialPort.h"
#include "support/Clock.h"

#include <QTimer>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vx {

class TLEDBarCtrl;
class TLEDBarController;
class TNetworkStrip;

// ---------------------------------------------------------------------------------------
// One bar: a run of slots of its board, drawn from a level in 0..1.
class TLEDBar {
 public:
  explicit TLEDBar(TLEDBarCtrl& ctrl);
  ~TLEDBar() = default;
  TLEDBar(const TLEDBar&) = delete;
  TLEDBar& operator=(const TLEDBar&) = delete;

  // Draws value (clamped to 0..1): fading, trail, bar or dot, peak marker; then asks the
  // board to send.
  void SetLevel(double value);
  // Stores value limited to 1..254.
  void SetFadeAmount(std::uint8_t value);
  // Sets every slot of the bar to value, then asks the board to send.
  void SetAllLEDs(std::uint8_t value);
  // One fade step of the LEDs that the last level does not light.
  void Fade();
  std::uint8_t BarSize() const;

  TLEDBarCtrl& Ctrl() const { return ctrl_; }
  std::int32_t FirstLED() const { return firstLED_; }
  std::int32_t LastLED() const { return lastLED_; }
  double Level() const { return level_; }
  std::uint8_t FadeAmount() const { return fadeAmount_; }
  std::int32_t TopLED() const { return topLED_; }    // offset from FirstLED
  std::int32_t PeakLED() const { return peakLED_; }  // offset from FirstLED
  double PeakLevel() const { return peakLevel_; }
  double PeakSpeed() const { return peakSpeed_; }  // current fall per SetLevel

  bool FillBar = true;    // false: only the top LED (a dot)
  bool Inverted = false;  // brightness sent as 255 - value
  bool Reversed = false;  // LED order mirrored when sent
  bool FallOff = false;   // show the falling peak marker
  double PeakStartSpeed = 0.01;
  double PeakAcceleration = 1.01;  // factor on PeakSpeed before every fall

 private:
  friend class TLEDBarCtrl;  // places the bar in SetBarSize

  TLEDBarCtrl& ctrl_;
  std::int32_t firstLED_ = 0;
  std::int32_t lastLED_ = 0;
  double level_ = 0.0;
  std::uint8_t fadeAmount_ = kFullBrightness;
  std::int32_t topLED_ = 0;
  std::int32_t peakLED_ = 0;
  double peakLevel_ = 0.0;
  double peakSpeed_ = 0.0;
};

// ---------------------------------------------------------------------------------------
// One controller board: 80 LED slots shared by two bars.
class TLEDBarCtrl {
 public:
  explicit TLEDBarCtrl(TLEDBarController& controller);
  ~TLEDBarCtrl() = default;
  TLEDBarCtrl(const TLEDBarCtrl&) = delete;
  TLEDBarCtrl& operator=(const TLEDBarCtrl&) = delete;

  TLEDBarController& Controller() const { return controller_; }
  std::uint8_t BarSize() const { return barSize_; }
  // Places bar k on slots k * size .. k * size + size - 1; keeps LEDs and bar state.
  void SetBarSize(std::uint8_t size);
  // Bar 0 or 1; raises ERangeError "LEDBar index out of range (%d)" otherwise.
  TLEDBar& Bars(int index);
  const TLEDBar& Bars(int index) const;
  void FadeBars();
  // The board's 80 bytes of the level frame, clamped to the link's MinValue..MaxValue.
  void BuildBlock(TLEDBlock block) const;
  // Sends through the link when the link sends automatically.
  void RequestSend();

  std::array<std::uint8_t, kLEDsPerBoard> LEDs{};  // current brightness of every slot

 private:
  // index as an index of bars_; raises the ERangeError of Bars otherwise.
  static std::size_t BarIndex(int index);

  TLEDBarController& controller_;
  std::uint8_t barSize_;
  std::array<TLEDBar, 2> bars_;
};

// ---------------------------------------------------------------------------------------
// Where a link stands, as the settings window and the tray icon tell it.
enum class TLinkState {
  Closed,        // not asked to be open
  Connected,     // open, and the chain answered RESET
  NoAnswer,      // open, but the chain did not answer RESET as it should
  Waiting,       // asked to be open; the device is not there (yet)
  Denied,        // asked to be open; the user may not open the device
  Reconnecting,  // asked to be open; the device was lost and is tried again
  Sending,       // a network strip: its frames go out
  NotSending,    // a network strip: its host cannot be found, or sending fails
};

// The link to one serial port and the chain of boards on it. Runs on the GUI thread;
// serial calls block. Serial failures never raise: LastError() records them.
//
// A link that was asked to open stays asked until Close: when its port cannot be opened
// or goes away (unplugged, hung up, or it stopped taking bytes), KeepOpen tries again, at
// most once a second, and the chain gets its complete frame as soon as it is back. No
// frame waits for room: the port takes what it can at once, the rest of a frame goes on
// the next sends, and a port is lost only when it has refused every byte for longer than
// a frame's line time plus Timeout (a few seconds where the driver does not count its
// queue), not because it is slow. Frames are paced to the line
// (by what the driver still holds where it counts that, else by the nominal speed): one
// that would only queue up behind the previous frame is skipped, so the freshest levels
// go next.
class TLEDBarController {
 public:
  // clock: what the line's pacing, the waits for the chain and the retries go by.
  explicit TLEDBarController(std::unique_ptr<SerialPort> port = CreateSerialPort(),
                             std::shared_ptr<TClock> clock = SteadyClock());
  ~TLEDBarController();  // sends nothing
  TLEDBarController(const TLEDBarController&) = delete;
  TLEDBarController& operator=(const TLEDBarController&) = delete;

  std::string Port = "COM1";  // device name, passed to the port unchanged
  std::uint8_t MinValue = 0;  // every bar LED is sent as at least this
  std::uint8_t MaxValue = 0;  // every bar LED is sent as at most this
  // The pixels' colour when Port names a network strip; a serial chain has none.
  TStripColour Colour;

  // Whether Port names a network strip (ddp://, e131://, artnet://) rather than a
  // serial device.
  bool IsStrip() const;

  bool Connected() const;  // the port is open
  void SetConnected(bool value);
  // Send on every timer expiry and every bar change.
  bool AutoUpdate() const { return autoUpdate_; }
  void SetAutoUpdate(bool value);
  std::uint32_t Timeout() const { return timeout_; }                // ms
  void SetTimeout(std::uint32_t value);                             // stores at least 10
  std::uint32_t UpdateInterval() const { return updateInterval_; }  // ms
  void SetUpdateInterval(std::uint32_t value);
  std::int32_t LEDBarCtrlCount() const;
  // Resizes the board list; surviving boards keep their state. Forces the next frame.
  void SetLEDBarCtrlCount(std::int32_t value);
  std::uint8_t LEDBarDefaultSize() const { return ledBarDefaultSize_; }
  void SetLEDBarDefaultSize(std::uint8_t value);  // also resizes every existing board
  const std::string& LastError() const { return lastError_; }
  // The serial port's text for its last failure (why the port would not open); for a
  // network strip, why it does not send.
  std::string PortErrorString() const;
  TLinkState State() const { return state_; }
  // Called with the previous state whenever State changes.
  std::function<void(TLEDBarController& sender, TLinkState previous)> OnStateChange;
  // The text of an error that a timer expiry's send raised, for the user. Called from the
  // event loop once the expiry has returned, the timer resting until the call returns: a
  // receiver may show it in a modal box. Unset: the text goes to standard error.
  std::function<void(TLEDBarController& sender, const std::string& error)> OnTimerError;

  // Raises ERangeError "LEDBarSet index out of range (%d)" for a bad index.
  TLEDBarCtrl& LEDBarCtrls(int index);
  const TLEDBarCtrl& LEDBarCtrls(int index) const;

  std::int32_t FrameLen() const { return frameLen_; }  // LEDBarCtrlCount * 80
  bool Forced() const { return forced_; }              // the next frame is written anyway
  std::span<const std::uint8_t, kMaxFrameSize> LastFrame() const { return lastFrame_; }
  // What the chain was sent last: the first FrameLen bytes of LastFrame (all zero while
  // a complete frame is due).
  std::span<const std::uint8_t> WrittenFrame() const {
    return std::span(lastFrame_).first(static_cast<std::size_t>(frameLen_));
  }
  bool TimerActive() const { return timerRunning_; }  // the link's timer runs: while open
  // When the line will have sent everything handed to it so far.
  TClock::time_point LineFreeAt() const { return lineFreeAt_; }

  // Opens, configures, detects the chain and starts the timer; false when the port cannot
  // be opened. Raises ERangeError for a Port longer than 260 characters. Either way the
  // link is asked to be open from now on.
  bool Open();
  // Stops the timer, blanks the chain and closes the port; the link is no longer asked
  // to be open. A backlog of frames on a slow line is dropped first, and the dark frame
  // gets the time its line needs, until darkBy at the latest (links closing together
  // share one limit); Close() allows a second.
  void Close();
  void Close(SerialDeadline darkBy);
  // A link asked to be open whose port is not: opens it again (looking the name up
  // afresh), at most once a second, and sends RESET. The chain's answer is awaited on
  // the following calls (one per tick), not by blocking; frames wait for it. A chain
  // that answered before its port was lost and is silent now has not come back: the
  // port is let go again.
  void KeepOpen();
  void ConfigurePort();
  // RESET and one reply byte (warnings go to LastError), then a forced send.
  void Detect();
  // Fades and builds every board and sends the frame if it changed; raises ERangeError
  // with more than 409 boards.
  void SendLevels();
  void SendBlank();  // an all-zero frame; raises ERangeError with more than 409 boards
  void AutoSend();   // SendLevels when AutoUpdate is set and the port is open
  void InvalidateLastFrame();
  // Writes RESET and the first FrameLen bytes of frame unless they equal the frame
  // written last, or the line is still busy with an earlier frame (or its rest): a
  // skipped frame is not written, and the next one is compared with the frame written
  // last. So is a frame that the port refused whole while it is still open. A frame that
  // went out in part counts as written (its rest follows), as does one that failed.
  void SendFrame(std::span<const std::uint8_t> frame);
  bool SendReset();  // true when the RESET byte went out
  // Reads until at least one byte arrived or limit ms have passed; returns the count.
  // Gives up at once on a port that is not open or has gone.
  std::size_t ReadBytes(std::span<std::uint8_t> buffer, std::uint32_t limit);
  // True when every byte was handed to the port within their line time plus Timeout.
  bool WriteBytes(std::span<const std::uint8_t> data);
  void PurgeBuffers();

 private:
  // The life of the link; State() shows it.
  enum class Life {
    Closed,        // not asked to be open
    Absent,        // asked to be open; its port would not open: tried again every second
    Lost,          // asked to be open; its port went away: tried again every second
    LostAnswered,  // Lost, after its chain had answered: if the reopened port is silent,
                   // the chain has not come back
    Detecting,     // a reopened port: RESET went out, the chain's answer is due
    Returning,     // Detecting, after LostAnswered
    Answered,      // open, and the chain answered RESET
    Silent,        // open, but the chain did not answer RESET as it should
    Strip,         // a network strip, or an address that names none: the strip tells
  };

  // index as an index of boards_; raises the ERangeError of LEDBarCtrls otherwise.
  std::size_t BoardIndex(int index) const;

  // Opens the port, configures and detects: waiting for the answer when the user opens
  // the link, else on later ticks; the life follows the outcome.
  bool Reopen(bool byUser);
  // One look for the answer of a detection that does not block.
  void ContinueDetection();
  // Takes the chain's answer to RESET (what came back in time) on an open port.
  void Answer(std::span<const std::uint8_t> reply);
  bool Detecting() const { return life_ == Life::Detecting || life_ == Life::Returning; }
  // The life of a link whose port is gone now.
  Life LostLife() const;
  // When bytes handed over now must have been taken at the latest.
  SerialDeadline WriteDeadline(std::size_t bytes) const;
  bool SendReset(SerialDeadline deadline);
  std::size_t WriteBefore(std::span<const std::uint8_t> data, SerialDeadline deadline);
  // Hands over what the port takes at once; a port that has refused every byte for
  // longer than a frame's line time plus Timeout is given up.
  std::size_t Hand(std::span<const std::uint8_t> data);
  // Hands over more of the rest of a frame that went out in part.
  void PushPending();
  void Send(std::span<const std::uint8_t> frame, bool paced);
  // Sends the all-zero frame unpaced and keeps handing it over until by.
  void SendDark(SerialDeadline by);
  // How long a port may refuse every byte before it counts as lost: a frame's line time
  // plus Timeout, longer where the driver does not count its queue.
  std::chrono::nanoseconds RefusalLimit() const;
  // How long the line takes for bytes at its nominal speed (0 when it has none).
  std::chrono::nanoseconds LineTime(std::size_t bytes) const;
  // Counts bytes handed to the line just now into LineFreeAt.
  void Occupy(std::size_t bytes);
  // Where SendLevels and SendBlank assemble the frame, right behind a place for RESET.
  std::span<std::uint8_t, kMaxFrameSize> FrameBuffer() {
    return std::span(wire_).subspan<1, kMaxFrameSize>();
  }
  // Whether the line is still too busy for another frame to go out without queuing.
  bool LineBusy() const;
  // Whether the line holds a backlog of frames: its counted queue holds more than a tick,
  // or, uncounted, its queue has been full since it was opened.
  bool Backlogged() const;
  // True when the port has just gone: the link has then closed it and waits for it.
  bool CheckLost();
  // Enters life and shows it: a detection shows what the link showed before it.
  void Enter(Life life);
  void SetState(TLinkState state);
  // A network strip in place of the serial port: opened, sent to, and its state.
  bool OpenStrip();
  void SendStrip(std::span<const std::uint8_t> frame);
  void FollowStrip();
  void StartTimer();
  void StopTimer();
  void ArmTimer();
  void TimerExpired();

  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<TNetworkStrip> strip_;  // while a strip link is open
  std::vector<std::uint8_t> pixels_;      // the strip's frame as sent: 3 bytes a pixel
  std::shared_ptr<TClock> clock_;
  Life life_ = Life::Closed;
  TLinkState state_ = TLinkState::Closed;  // as shown last
  TClock::time_point answerDue_;
  TClock::time_point nextAttempt_;
  TClock::time_point lineFreeAt_;
  std::optional<TClock::time_point> refusedSince_;  // the port took nothing since then
  bool filled_ = false;                             // the port's queue was full since it was opened
  std::vector<std::uint8_t> pending_;  // the rest of the frame written last, still to go
  std::uint32_t timeout_ = 100;
  std::uint32_t updateInterval_ = 50;
  std::uint8_t ledBarDefaultSize_ = 40;
  std::string lastError_;
  std::int32_t frameLen_ = 0;
  bool forced_ = true;
  bool autoUpdate_ = false;
  bool timerRunning_ = false;
  std::vector<std::unique_ptr<TLEDBarCtrl>> boards_;
  QTimer timer_;  // armed only while the timer runs and AutoUpdate is on
  std::array<std::uint8_t, kMaxFrameSize> lastFrame_{};  // the frame written last
  // RESET, then the frame assembled by SendLevels/SendBlank: one write sends both.
  std::array<std::uint8_t, 1 + kMaxFrameSize> wire_{};
};

}  // namespace vx
