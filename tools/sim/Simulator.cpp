#include "sim/Simulator.h"

#include "base/Format.h"
#include "sim/SignalPipe.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace vxsim {

namespace {

// A paced line delivers its bytes in portions of this much line time, so that the
// simulator wakes a few hundred times a second at most.
constexpr double kPaceSlice = 0.004;

int MsUntil(std::chrono::steady_clock::time_point now, std::chrono::steady_clock::time_point then) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(then - now).count();
  return static_cast<int>(std::clamp<long long>(ms, 0, 1000LL * 1000));
}

}  // namespace

Simulator::Simulator(SimOptions options)
    : options_(std::move(options)), decoder_(options_.Boards) {}

Simulator::~Simulator() = default;

int Simulator::Run() {
  SignalPipe signals;
  if (!options_.LogPath.empty()) {
    log_ = FrameLog(options_.LogPath);
  }
  const bool display = options_.Display == SimDisplay::On ||
                       (options_.Display == SimDisplay::Auto && ::isatty(STDOUT_FILENO) != 0);
  if (display) {
    display_ = std::make_unique<TerminalWriter>();
  }
  if (options_.StallAfter >= 0) {
    stallAt_ = Clock::now() + std::chrono::seconds(options_.StallAfter);
  }
  BringUp();

  bool running = true;
  while (running) {
    std::array<pollfd, 3> fds{};
    nfds_t count = 0;
    fds[count++] = pollfd{signals.Fd(), POLLIN, 0};
    const nfds_t lineIndex = count;
    int timeout = NextTimeoutMs(Clock::now());
    std::size_t limit = std::numeric_limits<std::size_t>::max();
    if (const double rate = PaceRate(); rate > 0.0) {
      const double credit = Credit(Clock::now());
      limit = static_cast<std::size_t>(credit);
      if (limit == 0) {
        // The line is busy with what it has delivered: look again once a slice is due.
        const double wait = (std::max(1.0, kPaceSlice * rate) - credit) / rate;
        timeout = std::min(timeout, static_cast<int>(std::ceil(wait * 1000.0)));
      }
    }
    if (pty_ && limit > 0 && !stalled_) {
      fds[count++] = pollfd{pty_->Master(), POLLIN, 0};
    }
    const nfds_t displayIndex = count;
    if (display_ && display_->Busy()) {
      fds[count++] = pollfd{display_->Fd(), POLLOUT, 0};
    }
    const int ready = ::poll(fds.data(), count, timeout);
    if (ready < 0 && errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), "poll");
    }

    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      unsigned char signal = 0;
      while (::read(signals.Fd(), &signal, 1) == 1) {
        if (signal == SIGUSR1) {
          Drop();
        } else if (signal == SIGUSR2) {
          stallAt_.reset();
          SetStalled(!stalled_);
        } else if (signal == SIGWINCH) {
          dirty_ = true;
        } else {
          running = false;
        }
      }
    }
    if (ready > 0 && pty_ && lineIndex < count && (fds[lineIndex].revents & POLLIN) != 0) {
      ReadLine(limit);
    }
    if (ready > 0 && display_ && displayIndex < count &&
        (fds[displayIndex].revents & POLLOUT) != 0) {
      display_->Continue();
    }

    const auto now = Clock::now();
    if (stallAt_ && now >= *stallAt_) {
      stallAt_.reset();
      SetStalled(true);
    }
    if (decoder_.Pending() && now - lastReceived_ >= std::chrono::milliseconds(options_.IdleMs)) {
      FlushUnit();
    }
    if (!pty_ && now >= dropUntil_ && running) {
      BringUp();
    }
    CheckLineSettings();
    Draw(now);
  }

  FlushUnit();
  display_.reset();
  if (pty_) {
    WithdrawLink(slaveName_, options_.Link);
  }
  std::fprintf(stderr, "vorlixa-sim: %llu frames, %llu bytes, %llu resets received\n",
               static_cast<unsigned long long>(decoder_.FrameCount()),
               static_cast<unsigned long long>(decoder_.ByteCount()),
               static_cast<unsigned long long>(decoder_.ResetCount()));
  return 0;
}

void Simulator::BringUp() {
  pty_ = std::make_unique<Pty>(Pty::Open());
  slaveName_ = pty_->SlaveName();
  PublishLink(slaveName_, options_.Link);
  lineSettings_.reset();
  Log("up " + slaveName_);
  CheckLineSettings();
  dirty_ = true;
}

void Simulator::Drop() {
  if (!pty_) {
    return;  // already unplugged
  }
  FlushUnit();
  WithdrawLink(slaveName_, options_.Link);
  // Closing our ends hangs up the line: a program that still has it open gets errors.
  pty_.reset();
  dropUntil_ = Clock::now() + std::chrono::milliseconds(options_.DropMs);
  Log("drop");
  dirty_ = true;
}

void Simulator::SetStalled(bool value) {
  if (value == stalled_) {
    return;
  }
  stalled_ = value;
  Log(stalled_ ? "stall" : "read");
  dirty_ = true;
}

void Simulator::ReadLine(std::size_t limit) {
  std::array<std::uint8_t, 65536> buffer{};
  while (limit > 0) {
    const ssize_t n = ::read(pty_->Master(), buffer.data(), std::min(buffer.size(), limit));
    if (n > 0) {
      limit -= static_cast<std::size_t>(n);
      if (PaceRate() > 0.0) {
        credit_ -= static_cast<double>(n);
      }
      Received(std::span(buffer.data(), static_cast<std::size_t>(n)));
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    // EAGAIN: all read. EIO cannot happen while we hold the slave open.
    return;
  }
}

double Simulator::PaceRate() const {
  if (options_.ReadRate > 0) {
    return static_cast<double>(options_.ReadRate);
  }
  if (!options_.Pace || !lineSettings_) {
    return 0.0;
  }
  return lineSettings_->Baud / 10.0;
}

double Simulator::Credit(Clock::time_point now) {
  const double rate = PaceRate();
  const double elapsed = std::chrono::duration<double>(now - creditTime_).count();
  creditTime_ = now;
  // A line that idled cannot deliver faster afterwards: the credit never exceeds two
  // slices (one slice would lose whatever a late wake-up earned beyond it).
  credit_ = std::min(2.0 * std::max(1.0, kPaceSlice * rate), credit_ + elapsed * rate);
  return credit_;
}

void Simulator::Received(std::span<const std::uint8_t> bytes) {
  // The settings are set before the bytes are written, so report them first.
  CheckLineSettings();
  lastReceived_ = Clock::now();
  const std::size_t resets = decoder_.Feed(bytes, units_);
  if (resets > 0 && options_.Reply) {
    // Answer before logging, so that whoever sees a unit in the log finds its answer
    // already on the line. A program that never reads fills the line: drop the rest.
    const std::vector<std::uint8_t> replies(resets, *options_.Reply);
    [[maybe_unused]] const ssize_t written =
        ::write(pty_->Master(), replies.data(), replies.size());
  }
  LogUnits();
  dirty_ = true;
}

void Simulator::FlushUnit() {
  if (decoder_.Flush(units_)) {
    LogUnits();
    dirty_ = true;
  }
}

void Simulator::CheckLineSettings() {
  if (!pty_) {
    return;
  }
  const auto tio = pty_->Settings();
  if (!tio) {
    return;
  }
  const LineSettings settings = LineSettingsOf(*tio);
  if (lineSettings_ == settings) {
    return;
  }
  lineSettings_ = settings;
  const std::string text = DescribeLineSettings(settings);
  Log("line " + text);
  if (!display_) {
    std::fprintf(stderr, "vorlixa-sim: line settings %s\n", text.c_str());
  }
  dirty_ = true;
}

void Simulator::Log(const std::string& text) {
  log_.Write(text);
}

void Simulator::LogUnits() {
  for (const SimUnit& unit : units_) {
    Log(HexBytes(unit.Bytes));
  }
  units_.clear();
}

void Simulator::Draw(Clock::time_point now) {
  if (!display_ || !dirty_ || now < nextDraw_ || display_->Busy()) {
    return;
  }
  DisplayState state;
  state.Link = options_.Link;
  state.Slave = pty_ ? slaveName_ : std::string();
  state.DropLeftMs = pty_ ? 0 : MsUntil(now, dropUntil_);
  state.Boards = options_.Boards;
  state.BarSize = options_.BarSize;
  state.Reply = ReplyText(options_.Reply);
  state.Line = lineSettings_ ? DescribeLineSettings(*lineSettings_) : std::string();
  state.Frames = decoder_.FrameCount();
  state.Bytes = decoder_.ByteCount();
  state.Resets = decoder_.ResetCount();
  state.Frame = decoder_.LastFrame();
  display_->Offer(RenderDisplay(state, display_->Columns(), display_->Rows()));
  nextDraw_ = now + std::chrono::milliseconds(options_.RefreshMs);
  // The countdown of a dropped line keeps moving.
  dirty_ = !pty_;
}

int Simulator::NextTimeoutMs(Clock::time_point now) const {
  // The line settings have no event of their own: look at them at least this often.
  int timeout = 100;
  if (decoder_.Pending()) {
    timeout =
        std::min(timeout, MsUntil(now, lastReceived_ + std::chrono::milliseconds(options_.IdleMs)));
  }
  if (!pty_) {
    timeout = std::min(timeout, MsUntil(now, dropUntil_));
  }
  if (stallAt_) {
    timeout = std::min(timeout, MsUntil(now, *stallAt_));
  }
  if (display_ && dirty_) {
    timeout = std::min(timeout, MsUntil(now, nextDraw_));
  }
  return timeout;
}

}  // namespace vxsim
