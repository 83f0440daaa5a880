#include "platform/LocalSocket.h"

#include "base/Format.h"
#include "platform/AbstractNamespaceSocket.h"
#include "platform/UserFolders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

namespace vx {

namespace {

// Backlog of the listener: later copies that start together queue up to this many.
constexpr int kBacklog = 16;

// Whether folder is a runtime folder of this process's user that it may use.
bool IsOwnRuntimeFolder(const std::string& folder) {
  struct stat info {};
  return folder.starts_with('/') && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         info.st_uid == ::geteuid() && CanCreateFilesIn(folder);
}

// The address of a socket file; false when the path does not fit.
bool FileAddress(const std::string& path, sockaddr_un& address, socklen_t& length) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    return false;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

int NewSocket(UniqueFd& fd) {
  fd.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  return fd.IsValid() ? 0 : errno;
}

// Takes the lock of a socket file; EADDRINUSE while another holder has it.
int LockName(const std::string& path, UniqueFd& lock) {
  const std::string lockName = path + ".lock";
  UniqueFd fd(::open(lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
  if (!fd.IsValid()) {
    return errno;
  }
  while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      return EADDRINUSE;
    }
    if (errno != EINTR) {
      return errno;
    }
  }
  lock = std::move(fd);
  return 0;
}

}  // namespace

std::string LocalSocketName(const std::string& name, unsigned user) {
  const std::string runtime = EnvironmentText("XDG_RUNTIME_DIR");
  if (IsOwnRuntimeFolder(runtime)) {
    std::string path = Format("%s/%s-%u", runtime, name, user);
    sockaddr_un address{};
    socklen_t length = 0;
    // Room for the name under which it is made (FileAddress of path + ".new").
    if (FileAddress(path + ".new", address, length)) {
      return path;
    }
  }
  return AbstractNamespaceSocketName(name, user);
}

LocalListener::~LocalListener() {
  Reset();
}

LocalListener::LocalListener(LocalListener&& other) noexcept
    : path_(std::move(other.path_)),
      socket_(std::move(other.socket_)),
      lock_(std::move(other.lock_)) {
  other.path_.clear();
}

LocalListener& LocalListener::operator=(LocalListener&& other) noexcept {
  if (this != &other) {
    Reset();
    path_ = std::exchange(other.path_, {});
    socket_ = std::move(other.socket_);
    lock_ = std::move(other.lock_);
  }
  return *this;
}

void LocalListener::Reset() {
  // The file goes while the lock is still held, so that it never removes the socket of
  // a holder that came after.
  if (!path_.empty()) {
    ::unlink(path_.c_str());
    path_.clear();
  }
  socket_.Reset();
  lock_.Reset();
}

int LocalListener::Listen(const std::string& socketName) {
  Reset();
  if (!socketName.starts_with('/')) {
    return ListenOnAbstractName(socketName, socket_);
  }
  UniqueFd lock;
  if (const int error = LockName(socketName, lock)) {
    return error;
  }
  UniqueFd fd;
  if (const int error = NewSocket(fd)) {
    return error;
  }
  // Made under a name of its own and given its mode there, then renamed into place: the
  // socket is never reachable with a wider mode, and the rename replaces the file of a
  // holder that was killed.
  const std::string made = socketName + ".new";
  sockaddr_un address{};
  socklen_t length = 0;
  if (!FileAddress(made, address, length)) {
    return ENAMETOOLONG;
  }
  ::unlink(made.c_str());
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    return errno;
  }
  if (::chmod(made.c_str(), 0600) != 0 || ::listen(fd.Get(), kBacklog) != 0 ||
      ::rename(made.c_str(), socketName.c_str()) != 0) {
    const int error = errno;
    ::unlink(made.c_str());
    return error;
  }
  path_ = socketName;
  socket_ = std::move(fd);
  lock_ = std::move(lock);
  return 0;
}

int ConnectToLocalName(const std::string& socketName, UniqueFd& connection) {
  if (!socketName.starts_with('/')) {
    return ConnectToAbstractName(socketName, connection);
  }
  UniqueFd fd;
  if (const int error = NewSocket(fd)) {
    return error;
  }
  sockaddr_un address{};
  socklen_t length = 0;
  if (!FileAddress(socketName, address, length)) {
    return ENAMETOOLONG;
  }
  // A local connect does not wait: it succeeds at once or fails (EAGAIN when the
  // holder's backlog is full because it no longer accepts).
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    return errno;
  }
  connection = std::move(fd);
  return 0;
}

bool PeerIsOurUser(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::geteuid();
}

}  // namespace vx
