#include "sim/Display.h"

#include "base/Format.h"
#include "sim/FrameDecoder.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace vxsim {

using vx::Format;

namespace {

constexpr std::string_view kClearToEnd = "\x1b[K\n";
constexpr std::string_view kPlain = "\x1b[0m";

// Cursor home, every line cleared to its end, and the rest of the screen cleared.
std::string Screen(const std::vector<std::string>& lines) {
  std::string screen = "\x1b[H";
  for (const std::string& line : lines) {
    screen += line;
    screen += kClearToEnd;
  }
  screen += "\x1b[J";
  return screen;
}

std::string Bar(std::span<const std::uint8_t> frame, std::size_t first, int size) {
  std::string text = "|";
  for (int i = 0; i < size; ++i) {
    const std::size_t slot = first + static_cast<std::size_t>(i);
    text += LEDGlyph(slot < frame.size() ? frame[slot] : 0);
  }
  text += "|";
  return text;
}

}  // namespace

std::string_view LEDGlyph(std::uint8_t value) {
  if (value == 0) {
    return "\u00b7";  // middle dot
  }
  if (value < 64) {
    return "\u2591";  // light shade
  }
  if (value < 128) {
    return "\u2592";  // medium shade
  }
  if (value < 192) {
    return "\u2593";  // dark shade
  }
  return "\u2588";  // full block
}

std::string RenderDisplay(const DisplayState& state, int columns, int rows) {
  std::vector<std::string> lines;
  lines.push_back(state.Slave.empty() ? Format("vorlixa-sim  %s  LINE DROPPED, back in %.1f s",
                                               state.Link, state.DropLeftMs / 1000.0)
                                      : Format("vorlixa-sim  %s -> %s", state.Link, state.Slave));
  lines.push_back(Format("boards %d  reply %s  line %s", state.Boards, state.Reply,
                         state.Line.empty() ? std::string("?") : state.Line));
  lines.push_back(Format(
      "frames %llu  bytes %llu  resets %llu", static_cast<unsigned long long>(state.Frames),
      static_cast<unsigned long long>(state.Bytes), static_cast<unsigned long long>(state.Resets)));
  lines.emplace_back();

  // "  0 " label, then the bars; two lines per board when one does not fit.
  const int oneLineWidth = 5 + 2 * (state.BarSize + 2) + 1;
  const bool split = oneLineWidth > columns;
  const int linesPerBoard = split ? 2 : 1;
  const int room = std::max(rows - static_cast<int>(lines.size()) - 1, 0);
  int shown = std::min(state.Boards, room / linesPerBoard);
  if (shown < state.Boards && shown > 0 && (shown + 1) * linesPerBoard > room) {
    --shown;  // keep a line for the count of boards left out
  }
  for (int board = 0; board < shown; ++board) {
    const std::size_t base = static_cast<std::size_t>(board) * kSimLEDsPerBoard;
    const auto barSize = static_cast<std::size_t>(state.BarSize);
    const std::string bar0 = Bar(state.Frame, base, state.BarSize);
    const std::string bar1 = Bar(state.Frame, base + barSize, state.BarSize);
    if (split) {
      lines.push_back(Format("%3d %s", board, bar0));
      lines.push_back(Format("    %s", bar1));
    } else {
      lines.push_back(Format("%3d %s %s", board, bar0, bar1));
    }
  }
  if (shown < state.Boards) {
    lines.push_back(Format("... %d more boards", state.Boards - shown));
  }

  return Screen(lines);
}

std::string RenderStripDisplay(const StripDisplayState& state, int columns, int rows) {
  std::vector<std::string> lines;
  lines.push_back(Format("vorlixa-sim  %s strip on %s", state.Protocol, state.Endpoint) +
                  (state.FirstUniverse >= 0 ? Format(", first universe %d", state.FirstUniverse)
                                            : std::string()));
  const std::size_t pixels = state.Strip.size() / 3;
  lines.push_back(Format("pixels %d  frames %llu  packets %llu  refused %llu", pixels,
                         static_cast<unsigned long long>(state.Frames),
                         static_cast<unsigned long long>(state.Packets),
                         static_cast<unsigned long long>(state.Refused)));
  lines.push_back(state.LastRefusal.empty() ? std::string() : "last refused: " + state.LastRefusal);
  lines.emplace_back();

  // "    0 " label, then one cell a pixel.
  constexpr int kLabel = 6;
  const auto perRow = static_cast<std::size_t>(std::max(columns - kLabel, 1));
  const std::size_t rowsNeeded = (pixels + perRow - 1) / perRow;
  const auto room = static_cast<std::size_t>(std::max(rows - static_cast<int>(lines.size()), 0));
  std::size_t shownRows = std::min(rowsNeeded, room);
  if (shownRows < rowsNeeded && shownRows > 0) {
    --shownRows;  // keep a line for the count of pixels left out
  }
  for (std::size_t row = 0; row < shownRows; ++row) {
    const std::size_t first = row * perRow;
    std::string line = Format("%5d ", first);
    std::string colour;
    for (std::size_t pixel = first; pixel < std::min(first + perRow, pixels); ++pixel) {
      const std::uint8_t r = state.Strip[pixel * 3];
      const std::uint8_t g = state.Strip[pixel * 3 + 1];
      const std::uint8_t b = state.Strip[pixel * 3 + 2];
      const bool black = r == 0 && g == 0 && b == 0;
      // Only a change of colour costs an escape code: a strip of one colour stays short.
      std::string wanted = black ? std::string(kPlain) : Format("\x1b[38;2;%d;%d;%dm", r, g, b);
      if (wanted != colour) {
        line += wanted;
        colour = std::move(wanted);
      }
      line += black ? "\u00b7" : "\u2588";
    }
    line += kPlain;
    lines.push_back(std::move(line));
  }
  if (shownRows < rowsNeeded) {
    lines.push_back(Format("... %d more pixels", pixels - std::min(pixels, shownRows * perRow)));
  }
  return Screen(lines);
}

TerminalWriter::TerminalWriter() {
  // A description of our own, so non-blocking mode does not leak to the shell that
  // shares the terminal.
  ownFd_.Reset(::open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  // Alternate screen, cursor hidden.
  Offer("\x1b[?1049h\x1b[?25l\x1b[2J");
}

TerminalWriter::~TerminalWriter() {
  // Finish the screen under way for a moment so the restore is not cut into it.
  for (int i = 0; i < 20 && Busy(); ++i) {
    pollfd pfd{Fd(), POLLOUT, 0};
    ::poll(&pfd, 1, 10);
    Continue();
  }
  pending_.clear();
  written_ = 0;
  Offer("\x1b[?25h\x1b[?1049l");
  for (int i = 0; i < 20 && Busy(); ++i) {
    pollfd pfd{Fd(), POLLOUT, 0};
    ::poll(&pfd, 1, 10);
    Continue();
  }
}

bool TerminalWriter::Offer(std::string screen) {
  if (Busy()) {
    return false;
  }
  pending_ = std::move(screen);
  written_ = 0;
  Continue();
  return true;
}

void TerminalWriter::Continue() {
  while (written_ < pending_.size()) {
    const ssize_t n = ::write(Fd(), pending_.data() + written_, pending_.size() - written_);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        // The terminal is gone; nothing more to show.
        pending_.clear();
        written_ = 0;
      }
      return;
    }
    written_ += static_cast<std::size_t>(n);
  }
  pending_.clear();
  written_ = 0;
}

int TerminalWriter::Columns() const {
  winsize size{};
  return ::ioctl(Fd(), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

int TerminalWriter::Rows() const {
  winsize size{};
  return ::ioctl(Fd(), TIOCGWINSZ, &size) == 0 && size.ws_row > 0 ? size.ws_row : 24;
}

}  // namespace vxsim
