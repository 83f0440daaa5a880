#include "device/LEDController.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Numbers.h"
#include "device/NetworkStrip.h"
#include "device/StripAddress.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

namespace vx {

namespace {

constexpr std::size_t kMaxPortNameLength = 260;
// Windows never ran a window timer faster than this; a shorter period would only spin.
constexpr std::uint32_t kMinTimerPeriod = 10;
// A link that should be open but is not tries its port again this often.
constexpr auto kReopenPeriod = std::chrono::seconds(1);
// A frame may wait this long behind the previous one: one tick of the update loop. So
// a chain longer than its line carries in a tick still gets the line's full rate, and no
// frame goes out more than a tick after its levels were taken.
constexpr auto kSendAhead = std::chrono::milliseconds(25);
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
// At exit the dark frames of all links get at most this long together.
constexpr auto kDarkBudget = std::chrono::seconds(1);
// A port whose driver does not count its queue (a pseudo-terminal) is paced by its
// nominal speed, so a slower reader fills its buffer, and room comes back a terminal read
// buffer (4 KiB) at a time: read at 2 KB/s, such a port refuses every byte for up to two
// seconds while it is draining. It is lost only after refusing longer than that.
constexpr auto kUncountedRefusal = std::chrono::seconds(3);
// How often a dark frame that the line cannot take yet is offered again.
constexpr auto kDarkRetry = std::chrono::milliseconds(2);

// Applies op to the slots from..to in ascending order; raises at the first slot outside
// the board, after the slots before it have been handled.
template <typename Op>
void ForSlots(std::int32_t from, std::int32_t to, Op op) {
  if (from > to) {
    return;
  }
  CheckSlot(from);
  const std::int32_t last = std::min(to, kLEDsPerBoard - 1);
  for (std::int32_t s = from; s <= last; ++s) {
    op(static_cast<std::size_t>(s));
  }
  if (to > last) {
    RaiseRangeCheck();
  }
}

void FadeSlots(std::array<std::uint8_t, kLEDsPerBoard>& leds, std::int32_t from, std::int32_t to,
               std::uint8_t amount) {
  ForSlots(from, to, [&](std::size_t s) {
    leds[s] = static_cast<std::uint8_t>(leds[s] - std::min(leds[s], amount));
  });
}

void SetSlots(std::array<std::uint8_t, kLEDsPerBoard>& leds, std::int32_t from, std::int32_t to,
              std::uint8_t value) {
  ForSlots(from, to, [&](std::size_t s) { leds[s] = value; });
}

void SetSlot(std::array<std::uint8_t, kLEDsPerBoard>& leds, std::int32_t slot, std::uint8_t value) {
  CheckSlot(slot);
  leds[static_cast<std::size_t>(slot)] = value;
}

}  // namespace

// ---------------------------------------------------------------------------------------

TLEDBar::TLEDBar(TLEDBarCtrl& ctrl) : ctrl_(ctrl) {}

std::uint8_t TLEDBar::BarSize() const {
  return ctrl_.BarSize();
}

void TLEDBar::SetLevel(double value) {
  if (!(value >= 0.0)) {
    value = 0.0;  // also NaN: a broken input shows as an empty bar
  }
  level_ = std::min(value, 1.0);
  level_ = std::max(level_, 0.0);

  const double span = static_cast<double>(BarSize()) - 1.0;
  const auto n = static_cast<std::int32_t>(RoundHalfEven(span * level_));
  const std::int32_t top = std::max(0, n - 1);

  if (peakLevel_ > level_) {
    peakSpeed_ *= PeakAcceleration;
    peakLevel_ -= peakSpeed_;
    peakLevel_ = std::max(peakLevel_, level_);
  } else {
    peakLevel_ = level_;
    peakSpeed_ = PeakStartSpeed;
  }
  // No "- 1" here: a peak sitting on the level marks the LED just above the top LED.
  const auto peak = static_cast<std::int32_t>(RoundHalfEven(span * peakLevel_));

  Fade();  // with the previous TopLED and PeakLED

  auto& leds = ctrl_.LEDs;
  SetSlot(leds, firstLED_ + top, kFullBrightness);
  if (fadeAmount_ < kFullBrightness) {
    // The dimmed trail joins the previous top LED to the new one, the new one included.
    SetSlots(leds, firstLED_ + std::min(topLED_, top), firstLED_ + std::max(topLED_, top),
             static_cast<std::uint8_t>(kFullBrightness - fadeAmount_));
  }
  if (FillBar) {
    SetSlots(leds, firstLED_, firstLED_ + top - 1, kFullBrightness);
  }
  topLED_ = top;
  peakLED_ = peak;
  if (FallOff) {
    SetSlot(leds, firstLED_ + peak, kFullBrightness);
  }
  ctrl_.RequestSend();
}

void TLEDBar::SetFadeAmount(std::uint8_t value) {
  fadeAmount_ = std::max<std::uint8_t>(1, std::min(kFullBrightness, value));
}

void TLEDBar::SetAllLEDs(std::uint8_t value) {
  SetSlots(ctrl_.LEDs, firstLED_, lastLED_, value);
  ctrl_.RequestSend();
}

void TLEDBar::Fade() {
  auto& leds = ctrl_.LEDs;
  if (!FillBar) {
    FadeSlots(leds, firstLED_, firstLED_ + topLED_ - 1, fadeAmount_);
  }
  FadeSlots(leds, firstLED_ + topLED_ + 1, lastLED_, fadeAmount_);
  if (FallOff) {
    SetSlot(leds, firstLED_ + peakLED_, kFullBrightness);
  }
}

// ---------------------------------------------------------------------------------------

TLEDBarCtrl::TLEDBarCtrl(TLEDBarController& controller)
    : controller_(controller),
      barSize_(controller.LEDBarDefaultSize()),
      bars_{{TLEDBar(*this), TLEDBar(*this)}} {
  SetBarSize(barSize_);
}

void TLEDBarCtrl::SetBarSize(std::uint8_t size) {
  barSize_ = size;
  for (std::int32_t k = 0; k < 2; ++k) {
    TLEDBar& bar = bars_[static_cast<std::size_t>(k)];
    bar.firstLED_ = k * size;
    bar.lastLED_ = k * size + size - 1;
  }
}

std::size_t TLEDBarCtrl::BarIndex(int index) {
  if (index < 0 || index > 1) {
    throw ERangeError(Format("LEDBar index out of range (%d)", index));
  }
  return static_cast<std::size_t>(index);
}

TLEDBar& TLEDBarCtrl::Bars(int index) {
  return bars_[BarIndex(index)];
}

const TLEDBar& TLEDBarCtrl::Bars(int index) const {
  return bars_[BarIndex(index)];
}

void TLEDBarCtrl::FadeBars() {
  bars_[0].Fade();
  bars_[1].Fade();
}

void TLEDBarCtrl::BuildBlock(TLEDBlock block) const {
  std::fill(block.begin(), block.end(), std::uint8_t{0});
  for (const TLEDBar& bar : bars_) {
    BuildBarBlock(LEDs, bar.FirstLED(), bar.LastLED(), bar.Reversed, bar.Inverted,
                  controller_.MinValue, controller_.MaxValue, block);
  }
}

void TLEDBarCtrl::RequestSend() {
  controller_.AutoSend();
}

// ---------------------------------------------------------------------------------------

TLEDBarController::TLEDBarController(std::unique_ptr<SerialPort> port,
                                     std::shared_ptr<TClock> clock)
    : port_(port ? std::move(port) : CreateSerialPort()),
      clock_(clock ? std::move(clock) : SteadyClock()) {
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { TimerExpired(); });
}

TLEDBarController::~TLEDBarController() = default;

bool TLEDBarController::Connected() const {
  return strip_ != nullptr || port_->IsOpen();
}

bool TLEDBarController::IsStrip() const {
  return IsStripAddress(Port);
}

std::string TLEDBarController::PortErrorString() const {
  if (IsStrip()) {
    return strip_ ? strip_->StatusText() : lastError_;
  }
  return port_->ErrorString();
}

void TLEDBarController::SetConnected(bool value) {
  if (value) {
    if (!Connected()) {
      Open();
    }
    return;
  }
  // Also a link that waits for its port: it stops trying.
  if (Connected() || life_ != Life::Closed) {
    Close();
  }
}

void TLEDBarController::SetAutoUpdate(bool value) {
  autoUpdate_ = value;
  ArmTimer();
}

void TLEDBarController::SetTimeout(std::uint32_t value) {
  timeout_ = std::max<std::uint32_t>(10, value);
}

void TLEDBarController::SetUpdateInterval(std::uint32_t value) {
  if (value == updateInterval_) {
    return;
  }
  if (!Connected()) {
    updateInterval_ = value;
    return;
  }
  StopTimer();
  updateInterval_ = value;
  StartTimer();
}

std::int32_t TLEDBarController::LEDBarCtrlCount() const {
  return static_cast<std::int32_t>(boards_.size());
}

void TLEDBarController::SetLEDBarCtrlCount(std::int32_t value) {
  if (value < 0 || value > INT32_MAX / kLEDsPerBoard) {
    RaiseRangeCheck();
  }
  const auto count = static_cast<std::size_t>(value);
  // Shrinking destroys the boards at the end; the others keep their state.
  if (count < boards_.size()) {
    boards_.resize(count);
  }
  boards_.reserve(count);
  while (boards_.size() < count) {
    boards_.push_back(std::make_unique<TLEDBarCtrl>(*this));
  }
  frameLen_ = value * kLEDsPerBoard;
  InvalidateLastFrame();
}

void TLEDBarController::SetLEDBarDefaultSize(std::uint8_t value) {
  ledBarDefaultSize_ = value;
  for (const auto& board : boards_) {
    board->SetBarSize(value);
  }
}

std::size_t TLEDBarController::BoardIndex(int index) const {
  if (index < 0 || index >= LEDBarCtrlCount()) {
    throw ERangeError(Format("LEDBarSet index out of range (%d)", index));
  }
  return static_cast<std::size_t>(index);
}

TLEDBarCtrl& TLEDBarController::LEDBarCtrls(int index) {
  return *boards_[BoardIndex(index)];
}

const TLEDBarCtrl& TLEDBarController::LEDBarCtrls(int index) const {
  return *boards_[BoardIndex(index)];
}

bool TLEDBarController::Open() {
  if (Connected()) {
    return true;
  }
  lastError_.clear();
  if (Port.size() > kMaxPortNameLength) {
    RaiseRangeCheck();
  }
  life_ = IsStrip() ? Life::Strip : Life::Absent;
  if (IsStrip()) {
    return OpenStrip();
  }
  return Reopen(true);
}

bool TLEDBarController::OpenStrip() {
  try {
    strip_ = std::make_unique<TNetworkStrip>(Port, clock_);
  } catch (const EConvertError& e) {
    // A malformed address stays so until the user changes it: nothing to try again.
    lastError_ = e.what();
    SetState(TLinkState::NotSending);
    return false;
  }
  strip_->Open();
  InvalidateLastFrame();
  FollowStrip();
  SendLevels();
  return true;
}

void TLEDBarController::SendStrip(std::span<const std::uint8_t> frame) {
  if (!strip_) {
    return;
  }
  std::size_t bytes = 0;
  for (const auto& board : boards_) {
    bytes += 6 * std::size_t{std::min<std::uint8_t>(board->BarSize(), kLEDsPerBoard / 2)};
  }
  pixels_.resize(bytes);
  std::size_t at = 0;
  for (std::size_t b = 0; b < boards_.size(); ++b) {
    const TLEDBarCtrl& board = *boards_[b];
    const std::array<bool, 2> reversed = {board.Bars(0).Reversed, board.Bars(1).Reversed};
    at += BoardPixels(frame.subspan(b * kLEDsPerBoard, kLEDsPerBoard), board.BarSize(), reversed,
                      Colour, std::span(pixels_).subspan(at));
  }
  // The strip sends what changed, and the same frame again once a second.
  strip_->Send(std::span(pixels_).first(at));
  std::copy(frame.begin(), frame.end(), lastFrame_.begin());
  forced_ = false;
  FollowStrip();
}

void TLEDBarController::FollowStrip() {
  switch (strip_->State()) {
    case TStripState::Sending:
      lastError_.clear();
      SetState(TLinkState::Sending);
      break;
    case TStripState::LookingUp:
      lastError_ = strip_->StatusText();
      SetState(TLinkState::Waiting);
      break;
    case TStripState::NotFound:
    case TStripState::SendFailed:
      lastError_ = strip_->StatusText();
      SetState(TLinkState::NotSending);
      break;
    case TStripState::Closed:
      SetState(TLinkState::Closed);
      break;
  }
}

bool TLEDBarController::Reopen(bool byUser) {
  lastError_.clear();
  nextAttempt_ = clock_->Now() + kReopenPeriod;
  if (!port_->Open(Port)) {
    // Nothing can be sent, so the next complete frame goes out once the port is back.
    // A port that was lost shows as one that is tried again.
    Enter(life_ == Life::Lost || life_ == Life::LostAnswered ? life_ : Life::Absent);
    return false;
  }
  lineFreeAt_ = clock_->Now();
  refusedSince_.reset();
  pending_.clear();
  filled_ = false;
  ConfigurePort();
  // Started before detection, so that a send that raises there still leaves an open link
  // with its timer running; nothing can expire while detection blocks the thread.
  StartTimer();
  if (byUser) {
    Detect();
    return Connected();
  }
  // A retry looks for the answer on the next ticks: a line that takes bytes but never
  // answers then costs the loop nothing, however often it is tried.
  const bool returning = life_ == Life::LostAnswered;
  SendReset();
  if (!Connected()) {
    return false;
  }
  life_ = returning ? Life::Returning : Life::Detecting;
  answerDue_ = clock_->Now() + std::chrono::milliseconds(timeout_);
  return true;
}

void TLEDBarController::KeepOpen() {
  if (strip_) {
    strip_->Poll();
    FollowStrip();
    return;
  }
  if (IsStrip()) {
    return;  // a malformed address: no port to try
  }
  if (Detecting()) {
    ContinueDetection();
    return;
  }
  if (life_ == Life::Closed || Connected() || clock_->Now() < nextAttempt_) {
    return;
  }
  Reopen(false);
}

void TLEDBarController::ContinueDetection() {
  std::array<std::uint8_t, 1> reply{};
  // Waits no longer than the read time-outs of one byte allow (2 ms).
  const std::size_t received = port_->Read(reply.data(), reply.size());
  if (CheckLost()) {
    return;
  }
  if (!Connected()) {
    life_ = LostLife();
    return;
  }
  if (received == 0 && clock_->Now() < answerDue_) {
    return;
  }
  Answer(std::span(reply).first(received));
}

void TLEDBarController::Answer(std::span<const std::uint8_t> reply) {
  auto warning = DetectionWarning(reply, timeout_);
  if (warning && life_ == Life::Returning) {
    // Such a chain has not come back (an adapter that takes bytes but passes nothing on):
    // frames would only fill its queue until it is lost again. Its RESET may still be
    // queued: waiting for it would cost the tick the drain time every second. Nothing
    // new to show: it stays as it was while it was away.
    StopTimer();
    port_->CloseNow();
    nextAttempt_ = clock_->Now() + kReopenPeriod;
    life_ = Life::LostAnswered;
    return;
  }
  if (Connected()) {
    life_ = warning ? Life::Silent : Life::Answered;
  }
  if (warning) {
    lastError_ = std::move(*warning);
  }
  InvalidateLastFrame();
  SendLevels();
  if (Connected()) {
    Enter(life_);
  }
}

void TLEDBarController::Close() {
  Close(clock_->Now() + kDarkBudget);
}

void TLEDBarController::Close(SerialDeadline darkBy) {
  StopTimer();  // also when the port went away by itself
  life_ = Life::Closed;
  if (strip_) {
    // The strip goes dark (and an E1.31 stream ends) before the socket closes.
    strip_->Close();
    strip_.reset();
    lastError_.clear();
    InvalidateLastFrame();
    Enter(Life::Closed);
    return;
  }
  if (!Connected()) {
    if (IsStrip()) {
      lastError_.clear();  // a malformed address's text
    }
    Enter(Life::Closed);
    return;
  }
  try {
    if (boards_.size() > static_cast<std::size_t>(kMaxBoards)) {
      RaiseRangeCheck();
    }
    SendDark(darkBy);
    PurgeBuffers();
  } catch (...) {
    port_->Close();  // the port does not stay open behind a stopped timer
    lastError_.clear();
    Enter(Life::Closed);
    throw;
  }
  port_->CloseBy(darkBy);
  pending_.clear();
  lastError_.clear();
  Enter(Life::Closed);
}

void TLEDBarController::ConfigurePort() {
  if (!Connected()) {
    return;
  }
  SerialTimeouts timeouts;
  timeouts.ReadInterval = 5;
  timeouts.ReadTotalMultiplier = 1;
  timeouts.ReadTotalConstant = 1;
  timeouts.WriteTotalMultiplier = 1;
  timeouts.WriteTotalConstant = timeout_;
  port_->Configure(timeouts);
  CheckLost();
}

void TLEDBarController::Detect() {
  SendReset();
  std::array<std::uint8_t, 1> reply{};
  const std::size_t received = ReadBytes(reply, timeout_);
  Answer(std::span(reply).first(received));
}

void TLEDBarController::SendLevels() {
  if (boards_.size() > static_cast<std::size_t>(kMaxBoards)) {
    RaiseRangeCheck();
  }
  std::uint8_t* block = FrameBuffer().data();
  for (const auto& board : boards_) {
    board->FadeBars();
    board->BuildBlock(TLEDBlock(block, kLEDsPerBoard));
    block += kLEDsPerBoard;
  }
  if (IsStrip()) {
    SendStrip(FrameBuffer().first(static_cast<std::size_t>(frameLen_)));
    return;
  }
  SendFrame(FrameBuffer().first(static_cast<std::size_t>(frameLen_)));
  PurgeBuffers();
}

void TLEDBarController::SendBlank() {
  if (boards_.size() > static_cast<std::size_t>(kMaxBoards)) {
    RaiseRangeCheck();
  }
  SendDark(WriteDeadline(1 + static_cast<std::size_t>(frameLen_)));
  PurgeBuffers();
}

void TLEDBarController::SendDark(SerialDeadline by) {
  const auto frame = FrameBuffer().first(static_cast<std::size_t>(frameLen_));
  std::fill(frame.begin(), frame.end(), std::uint8_t{0});
  const auto length = static_cast<std::size_t>(frameLen_);
  if (life_ == Life::Closed && Connected() &&
      (forced_ || FrameChanged(frame, lastFrame_, length)) && Backlogged()) {
    // Closing: frames that a slow line still holds would only delay the dark one; the
    // chain shows the dark frame whatever it missed.
    port_->DropOutput();
    pending_.clear();
  }
  // Not paced: the dark frame follows whatever is still going out, and closing the port
  // waits until it has left.
  Send(frame, false);
  while (Connected() && (!pending_.empty() || forced_ || FrameChanged(frame, lastFrame_, length)) &&
         clock_->Now() < by) {
    clock_->SleepUntil(clock_->Now() + kDarkRetry, {});
    Send(frame, false);
  }
}

void TLEDBarController::AutoSend() {
  if (autoUpdate_ && Connected()) {
    SendLevels();
  }
}

void TLEDBarController::InvalidateLastFrame() {
  lastFrame_.fill(0);
  forced_ = true;
}

void TLEDBarController::SendFrame(std::span<const std::uint8_t> frame) {
  Send(frame, true);
}

void TLEDBarController::Send(std::span<const std::uint8_t> frame, bool paced) {
  const auto length = static_cast<std::size_t>(frameLen_);
  // The rest of the frame before goes on, whether the levels changed or not.
  if (!Detecting() && !pending_.empty()) {
    PushPending();
  }
  if (!forced_ && !FrameChanged(frame, lastFrame_, length)) {
    return;
  }
  if (frame.size() < length || length > lastFrame_.size()) {
    RaiseRangeCheck();
  }
  // A reopened port sends its complete frame once the chain has answered.
  if (Detecting() || !pending_.empty() || (paced && LineBusy())) {
    return;
  }
  const auto data = frame.first(length);
  // RESET and the frame go out in one write: the chain sees the same bytes, and the tick
  // makes one system call less.
  wire_[0] = kResetCommand;
  if (data.data() != FrameBuffer().data()) {
    std::copy(data.begin(), data.end(), FrameBuffer().begin());
  }
  const auto out = std::span(wire_).first(1 + length);
  const std::size_t sent = Hand(out);
  if (sent == 0 && Connected()) {
    return;  // a full queue: the freshest levels go once it takes bytes again
  }
  std::copy(data.begin(), data.end(), lastFrame_.begin());
  // A frame that went out in part counts as written: its rest follows on the next sends.
  // A port that took nothing and has gone (or was never open) counts it as written too:
  // its return brings a complete frame. A failed RESET is the first failure of this
  // attempt, so its text stays.
  forced_ = false;
  if (sent == 0) {
    lastError_ = "Could not send RESET command.";
    return;
  }
  pending_.assign(out.begin() + static_cast<std::ptrdiff_t>(sent), out.end());
  if (lastError_ == "Could not send frame." || lastError_ == "Could not send RESET command.") {
    lastError_.clear();  // the line takes frames again
  }
}

void TLEDBarController::PushPending() {
  const std::size_t sent = Hand(pending_);
  if (!pending_.empty()) {  // a port lost meanwhile has dropped it
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(sent));
  }
}

std::size_t TLEDBarController::Hand(std::span<const std::uint8_t> data) {
  if (data.empty()) {
    return 0;
  }
  const std::size_t written = port_->WriteNow(data.data(), data.size());
  Occupy(written);
  const auto now = clock_->Now();
  filled_ = filled_ || written < data.size();
  if (written > 0 || !port_->IsOpen()) {
    refusedSince_.reset();
  } else if (!refusedSince_) {
    refusedSince_ = now;
  } else if (now - *refusedSince_ > RefusalLimit()) {
    // Slow lines take some bytes now and then; this one has stopped taking any.
    port_->GiveUp();
  }
  CheckLost();
  return written;
}

std::chrono::nanoseconds TLEDBarController::RefusalLimit() const {
  const std::chrono::nanoseconds limit =
      LineTime(1 + static_cast<std::size_t>(frameLen_)) + std::chrono::milliseconds(timeout_);
  if (port_->QueuedBytes()) {
    return limit;
  }
  return std::max<std::chrono::nanoseconds>(limit, kUncountedRefusal);
}

std::chrono::nanoseconds TLEDBarController::LineTime(std::size_t bytes) const {
  const std::uint32_t speed = port_->LineSpeed();
  if (speed == 0) {
    return std::chrono::nanoseconds(0);
  }
  return std::chrono::nanoseconds(
      static_cast<std::int64_t>(bytes * kBitsPerByte * 1'000'000'000ULL / speed));
}

void TLEDBarController::Occupy(std::size_t bytes) {
  if (bytes > 0 && port_->LineSpeed() != 0) {
    lineFreeAt_ = std::max(lineFreeAt_, clock_->Now()) + LineTime(bytes);
  }
}

bool TLEDBarController::Backlogged() const {
  if (const auto queued = port_->QueuedBytes()) {
    return LineTime(*queued) > kSendAhead;
  }
  return filled_;
}

bool TLEDBarController::LineBusy() const {
  if (port_->LineSpeed() == 0 || !Connected()) {
    return false;
  }
  // Where the driver counts what it still holds, that is what the line is busy with (a
  // slow adapter drains slower than its nominal speed); elsewhere the nominal speed tells.
  if (const auto queued = port_->QueuedBytes()) {
    return LineTime(*queued) > kSendAhead;
  }
  return clock_->Now() + kSendAhead < lineFreeAt_;
}

SerialDeadline TLEDBarController::WriteDeadline(std::size_t bytes) const {
  return clock_->Now() + LineTime(bytes) + std::chrono::milliseconds(timeout_);
}

bool TLEDBarController::SendReset() {
  return SendReset(WriteDeadline(1));
}

bool TLEDBarController::SendReset(SerialDeadline deadline) {
  const std::uint8_t reset = kResetCommand;
  if (WriteBefore(std::span(&reset, 1), deadline) != 1) {
    lastError_ = "Could not send RESET command.";
    return false;
  }
  return true;
}

std::size_t TLEDBarController::ReadBytes(std::span<std::uint8_t> buffer, std::uint32_t limit) {
  const auto start = clock_->Now();
  do {
    const std::size_t received = port_->Read(buffer.data(), buffer.size());
    if (received > 0) {
      return received;
    }
    // Such a port answers every read at once: asking again would only spin.
    if (CheckLost() || !Connected()) {
      return 0;
    }
  } while (std::chrono::duration_cast<std::chrono::milliseconds>(clock_->Now() - start).count() <
           static_cast<std::int64_t>(limit));
  return 0;
}

bool TLEDBarController::WriteBytes(std::span<const std::uint8_t> data) {
  // Nothing to send is no failure, even on a closed port.
  return data.empty() || WriteBefore(data, WriteDeadline(data.size())) == data.size();
}

std::size_t TLEDBarController::WriteBefore(std::span<const std::uint8_t> data,
                                           SerialDeadline deadline) {
  if (data.empty()) {
    return 0;
  }
  const std::size_t written = port_->Write(data.data(), data.size(), deadline);
  Occupy(written);
  CheckLost();
  return written;
}

void TLEDBarController::PurgeBuffers() {
  if (Detecting()) {
    return;  // what came in is the chain's answer, still to be read
  }
  port_->Purge();
  CheckLost();
}

bool TLEDBarController::CheckLost() {
  if (!port_->IsOpen() || port_->Failure() != SerialFailure::Lost) {
    return false;
  }
  // The boards keep their levels; the port is tried again in a second.
  pending_.clear();
  refusedSince_.reset();
  StopTimer();
  port_->CloseNow();  // nothing more leaves a lost port: no wait for its line
  nextAttempt_ = clock_->Now() + kReopenPeriod;
  Enter(life_ == Life::Closed ? Life::Closed : LostLife());
  return true;
}

TLEDBarController::Life TLEDBarController::LostLife() const {
  const bool answered =
      life_ == Life::Answered || life_ == Life::Returning || life_ == Life::LostAnswered;
  return answered ? Life::LostAnswered : Life::Lost;
}

void TLEDBarController::Enter(Life life) {
  life_ = life;
  const bool denied = port_->Failure() == SerialFailure::Denied;
  switch (life) {
    case Life::Closed:
      SetState(TLinkState::Closed);
      break;
    case Life::Absent:
      SetState(denied ? TLinkState::Denied : TLinkState::Waiting);
      break;
    case Life::Lost:
    case Life::LostAnswered:
      SetState(denied ? TLinkState::Denied : TLinkState::Reconnecting);
      break;
    case Life::Answered:
      SetState(TLinkState::Connected);
      break;
    case Life::Silent:
      SetState(TLinkState::NoAnswer);
      break;
    case Life::Detecting:
    case Life::Returning:
    case Life::Strip:
      break;  // the answer tells, or the strip
  }
}

void TLEDBarController::SetState(TLinkState state) {
  const TLinkState previous = std::exchange(state_, state);
  if (previous != state && OnStateChange) {
    OnStateChange(*this, previous);
  }
}

void TLEDBarController::StartTimer() {
  timerRunning_ = true;
  ArmTimer();
}

void TLEDBarController::StopTimer() {
  timerRunning_ = false;
  timer_.stop();
}

// An expiry sends only with AutoUpdate on, which the application never switches on; a
// timer armed all the same would wake the GUI thread on every period for nothing.
void TLEDBarController::ArmTimer() {
  if (!timerRunning_ || !autoUpdate_) {
    timer_.stop();
  } else if (!timer_.isActive()) {
    timer_.start(std::chrono::milliseconds(std::max(kMinTimerPeriod, updateInterval_)));
  }
}

void TLEDBarController::TimerExpired() {
  if (!Connected()) {
    return;
  }
  // An error must not escape into the event loop. It is reported once the expiry has
  // returned; meanwhile the timer rests, as its next expiries would only fail the same way.
  try {
    AutoSend();
  } catch (const std::exception& e) {
    timer_.stop();
    QTimer::singleShot(0, &timer_, [this, error = std::string(e.what())] {
      if (OnTimerError) {
        OnTimerError(*this, error);
      } else {
        std::fprintf(stderr, "%s\n", error.c_str());
      }
      ArmTimer();
    });
  }
}

}  // namespace vx
