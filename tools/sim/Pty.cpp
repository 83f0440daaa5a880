#include "sim/Pty.h"

#include "base/Format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace vxsim {

using vx::Format;

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

std::optional<std::string> ReadLink(const std::string& link) {
  std::array<char, 4096> buffer{};
  const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size() - 1);
  if (n < 0) {
    return std::nullopt;
  }
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

}  // namespace

Pty Pty::Open() {
  Pty pty;
  pty.master_ = vx::UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!pty.master_.IsValid()) {
    ThrowErrno("posix_openpt");
  }
  if (::grantpt(pty.Master()) != 0) {
    ThrowErrno("grantpt");
  }
  if (::unlockpt(pty.Master()) != 0) {
    ThrowErrno("unlockpt");
  }
  std::array<char, 256> name{};
  if (::ptsname_r(pty.Master(), name.data(), name.size()) != 0) {
    ThrowErrno("ptsname_r");
  }
  pty.slaveName_ = name.data();
  pty.slave_ = vx::UniqueFd(::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!pty.slave_.IsValid()) {
    ThrowErrno("open " + pty.slaveName_);
  }

  // Raw, so that whatever program opens the line gets the bytes unchanged even before
  // it sets its own mode; 9600 8N1 is what a fresh serial port has too.
  termios tio{};
  if (::tcgetattr(pty.slave_.Get(), &tio) != 0) {
    ThrowErrno("tcgetattr");
  }
  ::cfmakeraw(&tio);
  ::cfsetspeed(&tio, B9600);
  tio.c_cflag |= CLOCAL | CREAD;
  if (::tcsetattr(pty.slave_.Get(), TCSANOW, &tio) != 0) {
    ThrowErrno("tcsetattr");
  }

  const int flags = ::fcntl(pty.Master(), F_GETFL);
  if (flags < 0 || ::fcntl(pty.Master(), F_SETFL, flags | O_NONBLOCK) != 0) {
    ThrowErrno("fcntl O_NONBLOCK");
  }
  return pty;
}

std::optional<termios> Pty::Settings() const {
  termios tio{};
  if (!slave_.IsValid() || ::tcgetattr(slave_.Get(), &tio) != 0) {
    return std::nullopt;
  }
  return tio;
}

void PublishLink(const std::string& target, const std::string& link) {
  struct stat info {};
  if (::lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
    throw std::runtime_error(Format("%s exists and is not a symlink; not replacing it", link));
  }
  // Build the new link beside the old one and rename it over, so the path never
  // points nowhere while it is being replaced.
  const std::string temporary = Format("%s.%d.tmp", link, static_cast<int>(::getpid()));
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0) {
    ThrowErrno("symlink " + link);
  }
  if (::rename(temporary.c_str(), link.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    ThrowErrno("rename " + link);
  }
}

void WithdrawLink(const std::string& target, const std::string& link) {
  if (ReadLink(link) == target) {
    ::unlink(link.c_str());
  }
}

}  // namespace vxsim
