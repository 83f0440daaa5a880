#include "platform/PrivateFolder.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "platform/SystemError.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vx {

namespace {

[[noreturn]] void RaiseFolderError(const std::string& path, int error) {
  throw EInOutError(Format("Cannot use %s: %s", path, InOutErrorMessage(error)), error);
}

}  // namespace

TPrivateFolder::TPrivateFolder(const std::string& path) : path_(path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    RaiseFolderError(path, errno);
  }
  folder_.Reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder_.IsValid()) {
    RaiseFolderError(path, errno);
  }
  struct stat status {};
  if (::fstat(folder_.Get(), &status) != 0) {
    RaiseFolderError(path, errno);
  }
  // Someone else's folder, or one that others may write or enter, could hand us a
  // program of theirs.
  if (status.st_uid != ::geteuid() || (status.st_mode & 077) != 0) {
    RaiseFolderError(path, EPERM);
  }
}

UniqueFd TPrivateFolder::CreateNew(const std::string& name, unsigned mode) const {
  Remove(name);
  UniqueFd file(::openat(folder_.Get(), name.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         static_cast<mode_t>(mode)));
  if (!file.IsValid()) {
    const int error = errno;
    throw EInOutError(
        Format("Cannot create file \"%s\". %s", PathOf(name), InOutErrorMessage(error)), error);
  }
  return file;
}

void TPrivateFolder::Remove(const std::string& name) const noexcept {
  ::unlinkat(folder_.Get(), name.c_str(), 0);
}

bool TPrivateFolder::RenameNoReplace(const std::string& from,
                                     const std::string& to) const noexcept {
  return ::renameat2(folder_.Get(), from.c_str(), folder_.Get(), to.c_str(), RENAME_NOREPLACE) == 0;
}

int WriteAll(int fd, const char* data, std::size_t size) noexcept {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

UniqueFd ReopenForReading(int fd) {
  // The descriptor's own link: the very file, not whatever its name leads to now.
  const std::string self = Format("/proc/self/fd/%d", fd);
  UniqueFd reading(::open(self.c_str(), O_RDONLY | O_CLOEXEC));
  if (!reading.IsValid()) {
    RaiseInOutError(errno);
  }
  return reading;
}

long long FileSize(int fd) noexcept {
  struct stat status {};
  return ::fstat(fd, &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

int StartDetachedFromFd(int fd, const std::vector<std::string>& arguments) {
  // The child gets the file at a descriptor without close-on-exec and runs it through
  // its own /proc link, which also lets a script's interpreter open it.
  const int childFd = fd + 1;
  std::vector<std::string> words{Format("/proc/self/fd/%d", childFd)};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    return ENOMEM;
  }
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return ENOMEM;
  }
  int error = posix_spawn_file_actions_adddup2(&actions, fd, childFd);
  if (error == 0) {
    error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  }
  pid_t child = 0;
  if (error == 0) {
    error = posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environ);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

}  // namespace vx
