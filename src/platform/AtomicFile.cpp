#include "platform/AtomicFile.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <random>

namespace vx {

namespace fs = std::filesystem;

int TFileCalls::CreateNew(const std::string& path, unsigned mode) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
  return fd >= 0 ? fd : -errno;
}

long TFileCalls::Write(int fd, const char* data, std::size_t count) {
  const ssize_t written = ::write(fd, data, count);
  return written >= 0 ? static_cast<long>(written) : -errno;
}

int TFileCalls::SetMode(int fd, unsigned mode) {
  return ::fchmod(fd, static_cast<mode_t>(mode)) == 0 ? 0 : -errno;
}

int TFileCalls::Sync(int fd) {
  return ::fsync(fd) == 0 ? 0 : -errno;
}

int TFileCalls::Close(int fd) {
  return -UniqueFd(fd).Close();
}

int TFileCalls::Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : -errno;
}

int TFileCalls::Remove(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? 0 : -errno;
}

int TFileCalls::SyncFolder(const std::string& folder) {
  const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.IsValid()) {
    return -errno;
  }
  return ::fsync(fd.Get()) == 0 ? 0 : -errno;
}

TFileCalls& SystemFileCalls() {
  static TFileCalls calls;
  return calls;
}

namespace {

// Where the data really goes: the target of a symbolic link, so that the link stays.
fs::path TargetOf(const std::string& fileName) {
  fs::path target(fileName);
  std::error_code error;
  if (fs::is_symlink(target, error)) {
    fs::path resolved = fs::weakly_canonical(target, error);
    if (!error) {
      return resolved;
    }
  }
  return target;
}

std::string TemporarySuffix() {
  static std::mt19937 generator{std::random_device{}()};
  return Format("%08x", static_cast<unsigned>(generator()));
}

// The new content for fileName; with followLink false a symbolic link named fileName is
// itself replaced by the file, and what it points to stays untouched.
void ReplaceFile(const std::string& fileName, std::string_view data, TFileCalls& calls,
                 bool followLink) {
  const fs::path target = followLink ? TargetOf(fileName) : fs::path(fileName);
  const std::string targetName = target.string();
  const auto fail = [&](int errorCode) {
    throw EInOutError(Format("Cannot write %s: %s", targetName, InOutErrorMessage(errorCode)),
                      errorCode);
  };

  // An existing file keeps its permission bits; a new one gets the umask's.
  std::optional<unsigned> mode;
  std::error_code statusError;
  const fs::file_status status =
      followLink ? fs::status(target, statusError) : fs::symlink_status(target, statusError);
  if (!statusError && fs::is_regular_file(status)) {
    mode = static_cast<unsigned>(status.permissions() & fs::perms::mask);
  }

  fs::path folder = target.parent_path();
  if (folder.empty()) {
    folder = ".";
  }
  std::string temporary;
  int fd = -EEXIST;
  for (int attempt = 0; attempt < 100 && fd == -EEXIST; ++attempt) {
    temporary =
        (folder / ("." + target.filename().string() + "." + TemporarySuffix() + ".tmp")).string();
    fd = calls.CreateNew(temporary, 0666);
  }
  if (fd < 0) {
    fail(-fd);
  }

  // From here on a failure removes the new file; the old one has not been touched.
  const auto abandon = [&](int errorCode, bool open) {
    if (open) {
      calls.Close(fd);
    }
    calls.Remove(temporary);
    fail(errorCode);
  };
  std::size_t done = 0;
  while (done < data.size()) {
    const long written = calls.Write(fd, data.data() + done, data.size() - done);
    if (written < 0 && written != -EINTR) {
      abandon(static_cast<int>(-written), true);
    }
    if (written == 0) {
      abandon(EIO, true);  // no progress and no reason: give up rather than spin
    }
    if (written > 0) {
      done += static_cast<std::size_t>(written);
    }
  }
  if (mode) {
    if (const int result = calls.SetMode(fd, *mode); result < 0) {
      abandon(-result, true);
    }
  }
  if (const int result = calls.Sync(fd); result < 0) {
    abandon(-result, true);
  }
  if (const int result = calls.Close(fd); result < 0) {
    abandon(-result, false);
  }
  if (const int result = calls.Rename(temporary, targetName); result < 0) {
    abandon(-result, false);
  }
  // The new content is in place; making the rename itself durable is all that is left.
  // Some file systems cannot sync a folder, which is no reason to report a failure.
  calls.SyncFolder(folder.string());
}

}  // namespace

void ReplaceFileContent(const std::string& fileName, std::string_view data, TFileCalls& calls) {
  ReplaceFile(fileName, data, calls, true);
}

void ReplaceFileItself(const std::string& fileName, std::string_view data, TFileCalls& calls) {
  ReplaceFile(fileName, data, calls, false);
}

}  // namespace vx
