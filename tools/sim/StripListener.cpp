#include "sim/StripListener.h"

#include "base/Format.h"
#include "sim/SignalPipe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <span>
#include <system_error>
#include <vector>

namespace vxsim {

using vx::Format;

namespace {

// Room for a burst of full frames while the display is being written.
constexpr int kReceiveBuffer = 4 * 1024 * 1024;
constexpr int kBatch = 256;  // datagrams taken in one go

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

StripListener::StripListener(SimOptions options)
    : options_(std::move(options)),
      decoder_(options_.Listen.value_or(StripProtocol::Ddp),
               options_.Universe.value_or(
                   DefaultUniverse(options_.Listen.value_or(StripProtocol::Ddp)))) {}

StripListener::~StripListener() = default;

int StripListener::Run() {
  SignalPipe signals;
  if (!options_.LogPath.empty()) {
    log_ = FrameLog(options_.LogPath);
  }
  Open();
  const bool display = options_.Display == SimDisplay::On ||
                       (options_.Display == SimDisplay::Auto && ::isatty(STDOUT_FILENO) != 0);
  if (display) {
    display_ = std::make_unique<TerminalWriter>();
  } else {
    std::fprintf(stderr, "vorlixa-sim: %s strip listening on %s\n",
                 ProtocolName(*options_.Listen).c_str(), endpoint_.c_str());
  }

  bool running = true;
  while (running) {
    std::array<pollfd, 3> fds{};
    nfds_t count = 0;
    fds[count++] = pollfd{signals.Fd(), POLLIN, 0};
    fds[count++] = pollfd{socket_.Get(), POLLIN, 0};
    const nfds_t displayIndex = count;
    if (display_ && display_->Busy()) {
      fds[count++] = pollfd{display_->Fd(), POLLOUT, 0};
    }
    int timeout = -1;
    // A busy display wakes the loop through POLLOUT; the next screen waits for it.
    if (display_ && dirty_ && !display_->Busy()) {
      const auto ms =
          std::chrono::ceil<std::chrono::milliseconds>(nextDraw_ - Clock::now()).count();
      timeout = static_cast<int>(std::clamp<long long>(ms, 0, 1000));
    }
    const int ready = ::poll(fds.data(), count, timeout);
    if (ready < 0 && errno != EINTR) {
      ThrowErrno("poll");
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      unsigned char signal = 0;
      while (::read(signals.Fd(), &signal, 1) == 1) {
        if (signal == SIGWINCH) {
          dirty_ = true;
        } else if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) {
          running = false;
        }
        // SIGUSR1 and SIGUSR2 act on a chain's line; a strip has none.
      }
    }
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
      Receive();
    }
    if (ready > 0 && display_ && displayIndex < count &&
        (fds[displayIndex].revents & POLLOUT) != 0) {
      display_->Continue();
    }
    Draw(Clock::now());
  }

  display_.reset();
  std::fprintf(stderr, "vorlixa-sim: %llu frames, %llu packets, %llu refused\n",
               static_cast<unsigned long long>(decoder_.FrameCount()),
               static_cast<unsigned long long>(decoder_.PacketCount()),
               static_cast<unsigned long long>(decoder_.RefusedCount()));
  return 0;
}

void StripListener::Open() {
  const StripProtocol protocol = *options_.Listen;
  const int port = options_.Port.value_or(DefaultPort(protocol));
  socket_.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket_.IsValid()) {
    ThrowErrno("socket");
  }
  // A smaller buffer than asked for still works; the kernel caps it at its own limit.
  ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own type
  if (::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ThrowErrno(Format("bind 127.0.0.1:%d", port));
  }
  socklen_t length = sizeof address;
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own type
  if (::getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ThrowErrno("getsockname");
  }
  // With --port 0 the system picked the port: the log says which, for whoever sends.
  endpoint_ = Format("127.0.0.1:%d", ntohs(address.sin_port));
  log_.Write("up " + endpoint_);
}

void StripListener::Receive() {
  std::vector<std::uint8_t> buffer(65536);
  // A bounded batch, so that a sender that never pauses cannot shut out the signals.
  for (int batch = 0; batch < kBatch; ++batch) {
    const ssize_t n = ::recv(socket_.Get(), buffer.data(), buffer.size(), 0);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;  // EAGAIN: all taken
    }
    const StripEvent event = decoder_.Feed(std::span(buffer.data(), static_cast<std::size_t>(n)));
    switch (event.What) {
      case StripEvent::Frame:
        log_.Write(decoder_.Strip().empty() ? std::string("empty") : HexBytes(decoder_.Strip()));
        break;
      case StripEvent::Pending:
        break;
      case StripEvent::Ignored:
        log_.Write("ignored " + event.Text);
        break;
      case StripEvent::Ended:
        log_.Write("end " + event.Text);
        break;
      case StripEvent::Refused:
        log_.Write("refused " + event.Text);
        if (!display_) {
          std::fprintf(stderr, "vorlixa-sim: refused %s\n", event.Text.c_str());
        }
        lastRefusal_ = event.Text;
        break;
    }
    dirty_ = true;
  }
}

void StripListener::Draw(Clock::time_point now) {
  if (!display_ || !dirty_ || now < nextDraw_ || display_->Busy()) {
    return;
  }
  StripDisplayState state;
  state.Protocol = ProtocolName(*options_.Listen);
  state.Endpoint = endpoint_;
  state.FirstUniverse = options_.Universe.value_or(DefaultUniverse(*options_.Listen));
  state.Frames = decoder_.FrameCount();
  state.Packets = decoder_.PacketCount();
  state.Refused = decoder_.RefusedCount();
  state.LastRefusal = lastRefusal_;
  state.Strip = decoder_.Strip();
  display_->Offer(RenderStripDisplay(state, display_->Columns(), display_->Rows()));
  nextDraw_ = now + std::chrono::milliseconds(options_.RefreshMs);
  dirty_ = false;
}

}  // namespace vxsim
